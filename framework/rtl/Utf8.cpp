#include "framework/rtl/Utf8.h"

namespace quorvel {

int AsciiCompareText(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(AsciiToLower(a[i]));
    const auto y = static_cast<unsigned char>(AsciiToLower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool AsciiSameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiToLower(a[i]) != AsciiToLower(b[i])) return false;
  return true;
}

bool Utf8Decode(std::string_view s, size_t& pos, char32_t& cp) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t n = s.size();
  const unsigned char c = p[pos];
  if (c < 0x80) {
    cp = c;
    ++pos;
    return true;
  }
  size_t len;
  char32_t v;
  char32_t min;
  if ((c & 0xE0) == 0xC0) {
    len = 2, v = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, v = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, v = c & 0x07, min = 0x10000;
  } else {
    cp = kReplacementChar;
    ++pos;
    return false;
  }
  if (n - pos < len) {
    cp = kReplacementChar;
    ++pos;
    return false;
  }
  for (size_t k = 1; k < len; ++k) {
    const unsigned char t = p[pos + k];
    if ((t & 0xC0) != 0x80) {
      cp = kReplacementChar;
      ++pos;
      return false;
    }
    v = (v << 6) | (t & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) {
    cp = kReplacementChar;
    ++pos;
    return false;
  }
  cp = v;
  pos += len;
  return true;
}

size_t Utf8FindInvalid(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t pos = 0;
  char32_t cp;
  while (pos < s.size()) {
    // ASCII runs dominate real text: skip eight bytes at a time.
    while (pos + 8 <= s.size()) {
      uint64_t w = 0;
      for (int k = 0; k < 8; ++k) w |= static_cast<uint64_t>(p[pos + k]) << (8 * k);
      if (w & 0x8080808080808080ull) break;
      pos += 8;
    }
    if (pos >= s.size()) break;
    const size_t at = pos;
    if (!Utf8Decode(s, pos, cp)) return at;
  }
  return std::string_view::npos;
}

bool Utf8Validate(std::string_view s) { return Utf8FindInvalid(s) == std::string_view::npos; }

size_t Utf8Length(std::string_view s) {
  size_t count = 0, pos = 0;
  char32_t cp;
  while (pos < s.size()) {
    if (static_cast<unsigned char>(s[pos]) < 0x80)
      ++pos;
    else
      Utf8Decode(s, pos, cp);
    ++count;
  }
  return count;
}

size_t Utf8ByteOffset(std::string_view s, size_t index) {
  size_t pos = 0;
  char32_t cp;
  while (index > 0 && pos < s.size()) {
    Utf8Decode(s, pos, cp);
    --index;
  }
  return pos;
}

std::string Utf8Copy(std::string_view s, size_t start, size_t count) {
  const size_t b = Utf8ByteOffset(s, start);
  const size_t e = b + Utf8ByteOffset(s.substr(b), count);
  return std::string(s.substr(b, e - b));
}

size_t Utf8Encode(char32_t cp, char* out) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacementChar;
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

void Utf8Append(std::string& s, char32_t cp) {
  char buf[4];
  s.append(buf, Utf8Encode(cp, buf));
}

}  // namespace quorvel
