#pragma once
// Text and numbers of the run-time, locale-free: Format, float and integer text, rounding,
// ASCII case handling. Nothing here reads the C or C++ locale, so a process that sets a German
// (or any) locale still writes "0.5", never "0,5".
#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "framework/rtl/DateTime.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/ResourceStrings.h"

namespace quorvel {

// Number separators of Format, FloatToStr, FormatFloat and StrToFloat. The engine fixes them
// to en-US ("." and ","); the process locale never takes part. Create answers en-US's
// settings for every name, as number text must not depend on where the program runs.
struct TFormatSettings {
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';

  static TFormatSettings Invariant() { return {}; }
  static TFormatSettings Create(std::string_view localeName = "en-US");
};

// One argument of Format ("array of const"). It refers to the caller's data without owning it
// (strings are views), so a TVarRec must not outlive the argument it was made from.
struct TVarRec {
  enum class TKind : uint8_t { Int32, Int64, UInt32, UInt64, Float, String, Char, Pointer, Boolean };

  TKind Kind = TKind::Int32;
  union {
    int64_t VInt;
    uint64_t VUInt;
    double VFloat;
    const void* VPointer;
    char VChar;
    bool VBool;
  };
  std::string_view VString;

  TVarRec() : VInt(0) {}
  template <class T>
    requires(std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char>)
  TVarRec(T v) {
    if constexpr (std::is_signed_v<T>) {
      Kind = sizeof(T) <= 4 ? TKind::Int32 : TKind::Int64;
      VInt = static_cast<int64_t>(v);
    } else {
      Kind = sizeof(T) <= 4 ? TKind::UInt32 : TKind::UInt64;
      VUInt = static_cast<uint64_t>(v);
    }
  }
  TVarRec(bool v) : Kind(TKind::Boolean), VBool(v) {}
  TVarRec(char v) : Kind(TKind::Char), VChar(v) {}
  TVarRec(float v) : Kind(TKind::Float), VFloat(v) {}
  TVarRec(double v) : Kind(TKind::Float), VFloat(v) {}
  TVarRec(long double v) : Kind(TKind::Float), VFloat(static_cast<double>(v)) {}
  TVarRec(TDateTime v) : Kind(TKind::Float), VFloat(v.Value) {}
  TVarRec(const char* s) : Kind(TKind::String), VInt(0), VString(s ? std::string_view(s) : std::string_view()) {}
  TVarRec(const std::string& s) : Kind(TKind::String), VInt(0), VString(s) {}
  TVarRec(std::string_view s) : Kind(TKind::String), VInt(0), VString(s) {}
  TVarRec(const TResourceString& r) : TVarRec(r.Text) {}
  TVarRec(std::nullptr_t) : Kind(TKind::Pointer), VPointer(nullptr) {}
  template <class T>
    requires(!std::same_as<std::remove_cv_t<T>, char>)
  TVarRec(T* p) : Kind(TKind::Pointer), VPointer(static_cast<const void*>(p)) {}
};

template <class T>
concept FormatArgument = std::constructible_from<TVarRec, const T&> &&
                         !std::same_as<std::remove_cvref_t<T>, TVarRec>;

// The run-time's Format: "%" [index ":"] ["-"] [width] ["." precision] type, with width and
// precision also given as "*" (taken from the arguments). Types: d u x e f g n m p s, "%%".
// A type that does not fit its argument raises EConvertError ("Format '%s' invalid or
// incompatible with argument"), as does a missing argument; extra arguments are ignored.
// Numbers use "." and "," (en-US), whatever the process locale.
std::string Format(std::string_view fmt, std::span<const TVarRec> args);
inline std::string Format(std::string_view fmt, std::initializer_list<TVarRec> args) {
  return Format(fmt, std::span<const TVarRec>(args.begin(), args.size()));
}
inline std::string Format(const TResourceString& fmt, std::span<const TVarRec> args) {
  return Format(std::string_view(fmt.Text), args);
}
inline std::string Format(const TResourceString& fmt, std::initializer_list<TVarRec> args) {
  return Format(std::string_view(fmt.Text), args);
}
template <FormatArgument... A>
std::string Format(std::string_view fmt, const A&... args) {
  const std::array<TVarRec, sizeof...(A)> recs{TVarRec(args)...};
  return Format(fmt, std::span<const TVarRec>(recs.data(), recs.size()));
}
template <FormatArgument... A>
std::string Format(const TResourceString& fmt, const A&... args) {
  return Format(std::string_view(fmt.Text), args...);
}
// Appends instead of returning (saves the result string on hot paths).
void FormatAppend(std::string& out, std::string_view fmt, std::span<const TVarRec> args);
void FormatAppend(std::string& out, std::string_view fmt, std::span<const TVarRec> args, const TFormatSettings& fs);
std::string Format(std::string_view fmt, std::span<const TVarRec> args, const TFormatSettings& fs);

// Float text in the run-time's general form with 15 significant digits: "." decimal point,
// no trailing zeros, scientific for non-zero magnitudes below 1E-5 and from 1E15 on ("1E15",
// "9.99999974737875E-6"); zero is "0"; "NAN", "INF", "-INF".
std::string FloatToStr(double value);
std::string FloatToStr(double value, const TFormatSettings& fs);
// Writes FloatToStr's text into buf (at least FloatToStrBufSize bytes, not terminated) and
// answers its length.
inline constexpr size_t FloatToStrBufSize = 32;
size_t FloatToStrBuf(double value, char* buf);

enum class TFloatFormat { ffGeneral, ffExponent, ffFixed, ffNumber };
// The run-time's FloatToStrF: precision = significant digits (general, exponent) or the
// significant digits above which fixed/number switch to exponent; digits = decimals (fixed,
// number) or the minimum exponent digits (exponent).
std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits);
std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits, const TFormatSettings& fs);

// FormatFloat with the run-time's pattern language: "0" and "#" digit places, "." and ","
// (thousands), "E+"/"E-"/"e+"/"e-" exponent, quoted literals, up to three ";" sections
// (positive; negative; zero). Halves round away from zero, as the run-time does.
std::string FormatFloat(std::string_view pattern, double value);
std::string FormatFloat(std::string_view pattern, double value, const TFormatSettings& fs);

// Float parsing: optional blanks around, sign, digits with "." and an optional exponent;
// "INF", "-INF" and "NAN" read back what FloatToStr writes. Raises EConvertError
// ("'%s' is not a valid floating point value").
double StrToFloat(std::string_view s);
bool TryStrToFloat(std::string_view s, double& value);
bool TryStrToFloat(std::string_view s, float& value);
double StrToFloatDef(std::string_view s, double def);
// With fs, fs.DecimalSeparator takes the place of "." (and "." is then no decimal point).
double StrToFloat(std::string_view s, const TFormatSettings& fs);
bool TryStrToFloat(std::string_view s, double& value, const TFormatSettings& fs);
bool TryStrToFloat(std::string_view s, float& value, const TFormatSettings& fs);
double StrToFloatDef(std::string_view s, double def, const TFormatSettings& fs);

// Integer parsing as the run-time's Val: leading blanks, sign, decimal or hexadecimal
// ("$FF", "0xFF", "xFF"); hexadecimal takes the full unsigned range of the type ("$FFFFFFFF"
// is -1). Raises EConvertError ("'%s' is not a valid integer value").
int32_t StrToInt(std::string_view s);
int64_t StrToInt64(std::string_view s);
bool TryStrToInt(std::string_view s, int32_t& value);
bool TryStrToInt64(std::string_view s, int64_t& value);
int32_t StrToIntDef(std::string_view s, int32_t def);
int64_t StrToInt64Def(std::string_view s, int64_t def);

std::string IntToStr(int64_t value);
// Upper-case hexadecimal, at least `digits` digits; negative values in two's complement of
// the argument's width.
std::string IntToHex(int64_t value, int digits);
std::string IntToHex(uint64_t value, int digits);
inline std::string IntToHex(int32_t value, int digits) {
  return IntToHex(static_cast<uint64_t>(static_cast<uint32_t>(value)), digits);
}
inline std::string IntToHex(uint32_t value, int digits) { return IntToHex(static_cast<uint64_t>(value), digits); }

// "True"/"False", or "-1"/"0" without UseBoolStrs.
std::string BoolToStr(bool value, bool useBoolStrs = false);
// "True" and "False" in any case, or a number (0 is False, any other True), as the run-time
// reads Booleans; blanks around are not allowed. False and value untouched otherwise.
bool TryStrToBool(std::string_view s, bool& value);

// Half to even ("2.5" gives 2, "3.5" gives 4). Out of the Int64 range or NaN raises EInvalidOp.
int64_t Round(double value);
// Towards zero; out of range raises EInvalidOp.
int64_t Trunc(double value);
double Int(double value);   // integral part, as a float
double Frac(double value);  // value - Int(value)

// The run-time's fuzzy comparison: with epsilon 0, a resolution scaled by the smaller magnitude
// (1E-12 for doubles, 1E-4 for singles), at least that resolution itself.
bool SameValue(double a, double b, double epsilon = 0);
bool SameValue(float a, float b, float epsilon = 0);
bool IsZero(double value, double epsilon = 0);
bool IsZero(float value, float epsilon = 0);

// ASCII-only case handling: bytes outside A-Z/a-z (all of UTF-8's multi-byte forms) stay.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);
int CompareText(std::string_view a, std::string_view b);  // <0, 0, >0
int CompareStr(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view s);
bool EndsText(std::string_view suffix, std::string_view s);

// Trimming removes characters up to and including the blank (control characters too).
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

enum TReplaceFlags : unsigned { rfReplaceAll = 1, rfIgnoreCase = 2 };
std::string StringReplace(std::string_view s, std::string_view oldPattern, std::string_view newPattern,
                          unsigned flags);  // TReplaceFlags bits

}  // namespace quorvel
