#include "framework/rtl/Encoding.h"

#include <cstring>

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/ResourceStrings.h"
#include "framework/rtl/Utf8.h"

namespace quorvel {

namespace {

[[noreturn]] void RaiseNoMapping() { throw EEncodingError(SNoMappingForUnicodeCharacter.Text); }

class TUTF8Encoding final : public TEncoding {
public:
  std::string Name() const override { return "UTF-8"; }
  std::vector<uint8_t> GetPreamble() const override { return {0xEF, 0xBB, 0xBF}; }
  int GetMaxByteCountPerChar() const override { return 4; }

protected:
  void EncodeChar(char32_t cp, std::vector<uint8_t>& out) const override {
    char buf[4];
    const size_t n = Utf8Encode(cp, buf);
    out.insert(out.end(), buf, buf + n);
  }
  bool Decode(const uint8_t* p, size_t n, std::string& out) const override {
    const std::string_view s(reinterpret_cast<const char*>(p), n);
    const size_t bad = Utf8FindInvalid(s);
    out.append(s.substr(0, bad == std::string_view::npos ? n : bad));
    return bad == std::string_view::npos;
  }
};

class TUTF16Encoding final : public TEncoding {
public:
  explicit TUTF16Encoding(bool bigEndian) : FBig(bigEndian) {}
  std::string Name() const override { return FBig ? "UTF-16BE" : "UTF-16LE"; }
  std::vector<uint8_t> GetPreamble() const override {
    return FBig ? std::vector<uint8_t>{0xFE, 0xFF} : std::vector<uint8_t>{0xFF, 0xFE};
  }
  int GetMaxByteCountPerChar() const override { return 4; }

protected:
  void Put(uint16_t u, std::vector<uint8_t>& out) const {
    if (FBig) {
      out.push_back(static_cast<uint8_t>(u >> 8));
      out.push_back(static_cast<uint8_t>(u));
    } else {
      out.push_back(static_cast<uint8_t>(u));
      out.push_back(static_cast<uint8_t>(u >> 8));
    }
  }
  void EncodeChar(char32_t cp, std::vector<uint8_t>& out) const override {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      Put(static_cast<uint16_t>(0xD800 + (cp >> 10)), out);
      Put(static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)), out);
    } else {
      Put(static_cast<uint16_t>(cp), out);
    }
  }
  uint16_t Get(const uint8_t* p) const {
    return FBig ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
  }
  bool Decode(const uint8_t* p, size_t n, std::string& out) const override {
    out.reserve(out.size() + n / 2);
    size_t i = 0;
    for (; i + 1 < n; i += 2) {
      const uint16_t u = Get(p + i);
      if (u < 0x80) {
        out += static_cast<char>(u);
        continue;
      }
      char32_t cp = u;
      if (u >= 0xD800 && u <= 0xDBFF) {
        if (i + 3 >= n) return false;
        const uint16_t lo = Get(p + i + 2);
        if (lo < 0xDC00 || lo > 0xDFFF) return false;
        cp = 0x10000 + ((static_cast<char32_t>(u - 0xD800) << 10) | (lo - 0xDC00));
        i += 2;
      } else if (u >= 0xDC00 && u <= 0xDFFF) {
        return false;
      }
      Utf8Append(out, cp);
    }
    return i == n;  // an odd trailing byte is a truncated unit
  }

private:
  bool FBig;
};

// Windows-1252: 0x80-0x9F differ from Latin-1; the five unassigned bytes map to the C1
// controls of the same value (as the system converter does), so every byte round-trips.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

class TSingleByteEncoding final : public TEncoding {
public:
  explicit TSingleByteEncoding(bool ansi) : FAnsi(ansi) {}
  std::string Name() const override { return FAnsi ? "Windows-1252" : "US-ASCII"; }
  std::vector<uint8_t> GetPreamble() const override { return {}; }
  int GetMaxByteCountPerChar() const override { return 1; }

protected:
  void EncodeChar(char32_t cp, std::vector<uint8_t>& out) const override {
    if (cp < 0x80 || (FAnsi && cp >= 0xA0 && cp <= 0xFF)) {
      out.push_back(static_cast<uint8_t>(cp));
      return;
    }
    if (FAnsi)
      for (int k = 0; k < 32; ++k)
        if (kCp1252High[k] == cp) {
          out.push_back(static_cast<uint8_t>(0x80 + k));
          return;
        }
    out.push_back('?');
  }
  bool Decode(const uint8_t* p, size_t n, std::string& out) const override {
    out.reserve(out.size() + n);
    for (size_t i = 0; i < n; ++i) {
      const uint8_t b = p[i];
      if (b < 0x80)
        out += static_cast<char>(b);
      else if (!FAnsi)
        out += '?';
      else
        Utf8Append(out, b < 0xA0 ? kCp1252High[b - 0x80] : b);
    }
    return true;
  }

private:
  bool FAnsi;
};

}  // namespace

const TEncoding& TEncoding::UTF8() {
  static const TUTF8Encoding e;
  return e;
}
const TEncoding& TEncoding::Unicode() {
  static const TUTF16Encoding e(false);
  return e;
}
const TEncoding& TEncoding::BigEndianUnicode() {
  static const TUTF16Encoding e(true);
  return e;
}
const TEncoding& TEncoding::ANSI() {
  static const TSingleByteEncoding e(true);
  return e;
}
const TEncoding& TEncoding::ASCII() {
  static const TSingleByteEncoding e(false);
  return e;
}
const TEncoding& TEncoding::Default() { return UTF8(); }

void TEncoding::AppendBytes(std::string_view utf8, std::vector<uint8_t>& out) const {
  if (this == &UTF8()) {
    if (!Utf8Validate(utf8)) RaiseNoMapping();
    out.insert(out.end(), utf8.begin(), utf8.end());
    return;
  }
  out.reserve(out.size() + utf8.size() * (GetMaxByteCountPerChar() == 1 ? 1 : 2));
  size_t pos = 0;
  char32_t cp;
  while (pos < utf8.size()) {
    if (!Utf8Decode(utf8, pos, cp)) RaiseNoMapping();
    EncodeChar(cp, out);
  }
}

std::vector<uint8_t> TEncoding::GetBytes(std::string_view utf8) const {
  std::vector<uint8_t> out;
  AppendBytes(utf8, out);
  return out;
}

size_t TEncoding::GetByteCount(std::string_view utf8) const {
  if (this == &UTF8()) {
    if (!Utf8Validate(utf8)) RaiseNoMapping();
    return utf8.size();
  }
  size_t count = 0, pos = 0;
  char32_t cp;
  const bool single = GetMaxByteCountPerChar() == 1;
  while (pos < utf8.size()) {
    if (!Utf8Decode(utf8, pos, cp)) RaiseNoMapping();
    count += single ? 1 : (cp >= 0x10000 ? 4 : 2);
  }
  return count;
}

void TEncoding::AppendString(const uint8_t* p, size_t n, std::string& out) const {
  if (!Decode(p, n, out)) RaiseNoMapping();
}

std::string TEncoding::GetString(const uint8_t* p, size_t n) const {
  std::string out;
  AppendString(p, n, out);
  return out;
}

size_t TEncoding::GetCharCount(const uint8_t* p, size_t n) const {
  if (GetMaxByteCountPerChar() == 1) return n;
  return Utf8Length(GetString(p, n));
}

size_t TEncoding::GetBufferEncoding(const uint8_t* p, size_t n, const TEncoding*& enc) {
  if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
    enc = &UTF8();
    return 3;
  }
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    enc = &Unicode();
    return 2;
  }
  if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
    enc = &BigEndianUnicode();
    return 2;
  }
  return 0;
}

std::vector<uint8_t> TEncoding::Convert(const TEncoding& source, const TEncoding& dest, const uint8_t* p, size_t n) {
  return dest.GetBytes(source.GetString(p, n));
}

}  // namespace quorvel
