#include "framework/rtl/NetEncoding.h"

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/ResourceStrings.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Utf8.h"

namespace quorvel {

namespace {

bool IsUnreserved(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '!': case '$': case '\'': case '(': case ')': case '*': case '-': case '.': case '_': case '@':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string TURLEncoding::Encode(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsUnreserved(c)) {
      out += ch;
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += "0123456789ABCDEF"[c >> 4];
      out += "0123456789ABCDEF"[c & 15];
    }
  }
  return out;
}

std::string TURLEncoding::Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c != '%') {
      out += c;
    } else if (i + 1 < text.size() && text[i + 1] == '%') {
      out += '%';
      ++i;
    } else {
      const int hi = i + 1 < text.size() ? HexDigitValue(text[i + 1]) : -1;
      const int lo = i + 2 < text.size() ? HexDigitValue(text[i + 2]) : -1;
      if (hi < 0 || lo < 0) throw EEncodingError(Format(SErrorDecodingURLText, {static_cast<int64_t>(i)}));
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    }
  }
  if (!Utf8Validate(out)) throw EEncodingError(SNoMappingForUnicodeCharacter.Text);
  return out;
}

}  // namespace quorvel
