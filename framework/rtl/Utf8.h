#pragma once
// UTF-8 helpers for std::string text: code points (count, iterate, validate, encode) and the
// ASCII-only case-insensitive comparison the run-time's text routines use.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

inline constexpr char32_t kReplacementChar = 0xFFFD;

// The value of a hexadecimal digit of either case, -1 for any other character.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
constexpr char AsciiToLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char AsciiToUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
// Byte-wise after folding A-Z to a-z: <0, 0, >0.
int AsciiCompareText(std::string_view a, std::string_view b);
bool AsciiSameText(std::string_view a, std::string_view b);

// Decodes the code point at s[pos] and advances pos. A malformed sequence (bad lead or
// continuation byte, overlong form, surrogate, above U+10FFFF, truncated) answers false and
// advances pos by one byte, leaving cp = U+FFFD.
bool Utf8Decode(std::string_view s, size_t& pos, char32_t& cp);
bool Utf8Validate(std::string_view s);
// Offset of the first malformed byte, or npos.
size_t Utf8FindInvalid(std::string_view s);

// Code points in s (each malformed byte counts as one).
size_t Utf8Length(std::string_view s);
// Byte offset of code point `index` (s.size() when index is at or past the end).
size_t Utf8ByteOffset(std::string_view s, size_t index);
// `count` code points from code point `start`.
std::string Utf8Copy(std::string_view s, size_t start, size_t count);

// Encodes cp (surrogates and values above U+10FFFF become U+FFFD) into out (4 bytes room);
// answers the byte count.
size_t Utf8Encode(char32_t cp, char* out);
void Utf8Append(std::string& s, char32_t cp);

// Range over the code points of a UTF-8 text: for (char32_t cp : Utf8CodePoints(s)).
class Utf8CodePoints {
public:
  explicit Utf8CodePoints(std::string_view s) : FText(s) {}
  class iterator {
  public:
    iterator(std::string_view s, size_t pos) : FText(s), FPos(pos) { Load(); }
    char32_t operator*() const { return FCp; }
    iterator& operator++() {
      FPos = FNext;
      Load();
      return *this;
    }
    bool operator==(const iterator& o) const { return FPos == o.FPos; }
    size_t Offset() const { return FPos; }

  private:
    void Load() {
      FNext = FPos;
      if (FPos < FText.size()) Utf8Decode(FText, FNext, FCp);
    }
    std::string_view FText;
    size_t FPos;
    size_t FNext = 0;
    char32_t FCp = 0;
  };
  iterator begin() const { return iterator(FText, 0); }
  iterator end() const { return iterator(FText, FText.size()); }

private:
  std::string_view FText;
};

}  // namespace quorvel
