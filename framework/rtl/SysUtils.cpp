#include "framework/rtl/SysUtils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "framework/rtl/Utf8.h"

namespace quorvel {

namespace {

// ---------------------------------------------------------------------------------------------
// Decimal digits of a double. Everything goes through std::to_chars, which ignores the locale.

// |value| = D[0].D[1..N-1] x 10^E, N significant digits without trailing zeros (N >= 1).
struct TDecimal {
  char D[24];
  int N;
  int E;
};

// `a` finite and > 0; precision 1..20 significant digits, rounded to nearest.
void ToDecimal(double a, int precision, TDecimal& out) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, precision - 1);
  const char* p = buf;
  out.N = 0;
  for (; p < r.ptr && *p != 'e'; ++p)
    if (*p != '.') out.D[out.N++] = *p;
  ++p;  // 'e'
  const bool negExp = *p == '-';
  ++p;
  int e = 0;
  for (; p < r.ptr; ++p) e = e * 10 + (*p - '0');
  out.E = negExp ? -e : e;
  while (out.N > 1 && out.D[out.N - 1] == '0') --out.N;
}

// |value| rounded half away from zero to `decimals` fraction digits, as the run-time's
// fixed formats do. Writes the integer digits (none for 0) and exactly `decimals` fraction
// digits. Exact binary ties (0.125, 2.5) are the only values where this differs from
// to_chars' own rounding; the 20 guard digits make them visible.
struct TFixed {
  char Int[400];
  int IntLen;
  char Frac[24];
  int FracLen;
};

void ToFixed(double a, int decimals, TFixed& out) {
  constexpr int kGuard = 20;
  char buf[400];
  const auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::fixed, decimals + kGuard);
  const char* dot = std::find(buf, r.ptr, '.');
  int intLen = static_cast<int>(dot - buf);
  // Digits: integer part, then `decimals` fraction digits; the next one decides.
  char digits[420];
  int n = 0;
  int lead = 0;
  while (lead < intLen - 1 && buf[lead] == '0') ++lead;
  for (int i = lead; i < intLen; ++i) digits[n++] = buf[i];
  const int intDigits = n;
  for (int i = 0; i < decimals; ++i) digits[n++] = dot[1 + i];
  bool carry = dot[1 + decimals] >= '5';
  for (int i = n - 1; carry && i >= 0; --i) {
    if (digits[i] == '9') {
      digits[i] = '0';
    } else {
      ++digits[i];
      carry = false;
    }
  }
  out.IntLen = 0;
  if (carry) out.Int[out.IntLen++] = '1';
  for (int i = 0; i < intDigits; ++i) out.Int[out.IntLen++] = digits[i];
  // "0" integer part becomes no digits; the callers decide about a lone "0".
  if (out.IntLen == 1 && out.Int[0] == '0') out.IntLen = 0;
  out.FracLen = decimals;
  std::memcpy(out.Frac, digits + intDigits, static_cast<size_t>(decimals));
}

char* WriteUInt(char* p, uint64_t v) {
  char tmp[24];
  int n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  while (n) *p++ = tmp[--n];
  return p;
}

char* WriteExponent(char* p, int e, bool plusSign, int minDigits) {
  if (e < 0) {
    *p++ = '-';
    e = -e;
  } else if (plusSign) {
    *p++ = '+';
  }
  char tmp[8];
  int n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + e % 10);
    e /= 10;
  } while (e);
  while (n < minDigits) tmp[n++] = '0';
  while (n) *p++ = tmp[--n];
  return p;
}

// NaN and infinities as the run-time writes them; answers 0 for finite values.
size_t WriteSpecial(double v, char* p) {
  if (std::isnan(v)) {
    std::memcpy(p, "NAN", 3);
    return 3;
  }
  if (std::isinf(v)) {
    if (v < 0) {
      std::memcpy(p, "-INF", 4);
      return 4;
    }
    std::memcpy(p, "INF", 3);
    return 3;
  }
  return 0;
}

// The general form: `precision` significant digits, fixed unless the rounded magnitude is
// below 1E-5 or has more than `precision` integer digits. buf needs precision + 12 bytes.
size_t WriteGeneral(double v, int precision, int minExpDigits, char* buf) {
  if (size_t n = WriteSpecial(v, buf)) return n;
  char* p = buf;
  if (v == 0) {  // -0 too
    *p = '0';
    return 1;
  }
  if (precision >= 15 && std::fabs(v) < 1e15 && v == std::trunc(v)) {  // whole numbers: no digit search
    const auto i = static_cast<int64_t>(v);
    if (i < 0) *p++ = '-';
    p = WriteUInt(p, i < 0 ? 0 - static_cast<uint64_t>(i) : static_cast<uint64_t>(i));
    return static_cast<size_t>(p - buf);
  }
  TDecimal d;
  ToDecimal(std::fabs(v), precision, d);
  if (v < 0) *p++ = '-';
  if (d.E >= precision || d.E < -5) {
    *p++ = d.D[0];
    if (d.N > 1) {
      *p++ = '.';
      std::memcpy(p, d.D + 1, static_cast<size_t>(d.N - 1));
      p += d.N - 1;
    }
    *p++ = 'E';
    p = WriteExponent(p, d.E, false, minExpDigits);
  } else if (d.E >= 0) {
    const int intDigits = d.E + 1;
    for (int i = 0; i < intDigits; ++i) *p++ = i < d.N ? d.D[i] : '0';
    if (d.N > intDigits) {
      *p++ = '.';
      std::memcpy(p, d.D + intDigits, static_cast<size_t>(d.N - intDigits));
      p += d.N - intDigits;
    }
  } else {
    *p++ = '0';
    *p++ = '.';
    for (int i = -1; i > d.E; --i) *p++ = '0';
    std::memcpy(p, d.D, static_cast<size_t>(d.N));
    p += d.N;
  }
  return static_cast<size_t>(p - buf);
}

// "-d.dddE+ddd": `precision` significant digits, trailing zeros kept, signed exponent.
void AppendExponent(std::string& out, double v, int precision, int minExpDigits, bool plusSign = true) {
  char buf[64];
  if (size_t n = WriteSpecial(v, buf)) {
    out.append(buf, n);
    return;
  }
  char* p = buf;
  TDecimal d{};
  if (v == 0) {
    d.D[0] = '0';
    d.N = 1;
    d.E = 0;
  } else {
    ToDecimal(std::fabs(v), precision, d);
    if (v < 0) *p++ = '-';
  }
  *p++ = d.D[0];
  if (precision > 1) {
    *p++ = '.';
    for (int i = 1; i < precision; ++i) *p++ = i < d.N ? d.D[i] : '0';
  }
  *p++ = 'E';
  p = WriteExponent(p, d.E, plusSign, minExpDigits);
  out.append(buf, static_cast<size_t>(p - buf));
}

// Fixed notation with `decimals` places, "," between thousands when `thousands` is set.
void AppendFixed(std::string& out, double v, int decimals, bool thousands, char decSep = '.', char thouSep = ',') {
  char sp[8];
  if (size_t n = WriteSpecial(v, sp)) {
    out.append(sp, n);
    return;
  }
  TFixed f;
  ToFixed(std::fabs(v), decimals, f);
  const bool allZero = f.IntLen == 0 && std::all_of(f.Frac, f.Frac + f.FracLen, [](char c) { return c == '0'; });
  if (std::signbit(v) && !allZero) out += '-';
  if (f.IntLen == 0) {
    out += '0';
  } else {
    for (int i = 0; i < f.IntLen; ++i) {
      out += f.Int[i];
      const int left = f.IntLen - 1 - i;
      if (thousands && left > 0 && left % 3 == 0) out += thouSep;
    }
  }
  if (decimals > 0) {
    out += decSep;
    out.append(f.Frac, static_cast<size_t>(f.FracLen));
  }
}

// ---------------------------------------------------------------------------------------------
// Format

[[noreturn]] void RaiseFormatError(const TResourceString& msg, std::string_view fmt) {
  // The run-time quotes at most 31 characters of the format.
  throw EConvertError(Format(msg, {fmt.substr(0, Utf8ByteOffset(fmt, 31))}));
}

void AppendPadded(std::string& out, std::string_view text, int width, bool left, size_t textChars) {
  const size_t w = width > 0 ? static_cast<size_t>(width) : 0;
  const size_t pad = w > textChars ? w - textChars : 0;
  if (!left) out.append(pad, ' ');
  out.append(text);
  if (left) out.append(pad, ' ');
}

bool IsInt(const TVarRec& a) {
  using K = TVarRec::TKind;
  return a.Kind == K::Int32 || a.Kind == K::Int64 || a.Kind == K::UInt32 || a.Kind == K::UInt64;
}

// Text of one integer argument for d, u, x; precision = minimum digits.
void FormatInteger(std::string& out, const TVarRec& a, char type, int prec) {
  using K = TVarRec::TKind;
  bool neg = false;
  uint64_t mag;
  if (type == 'x' || type == 'u') {
    // Two's complement of the argument's own width.
    mag = a.Kind == K::Int32 ? static_cast<uint32_t>(static_cast<int32_t>(a.VInt)) : a.VUInt;
  } else if (a.Kind == K::Int32 || a.Kind == K::Int64) {
    neg = a.VInt < 0;
    mag = neg ? 0 - static_cast<uint64_t>(a.VInt) : static_cast<uint64_t>(a.VInt);
  } else {
    mag = a.VUInt;
  }
  char digits[24];
  int n = 0;
  if (type == 'x') {
    do {
      digits[n++] = "0123456789ABCDEF"[mag & 15];
      mag >>= 4;
    } while (mag);
  } else {
    do {
      digits[n++] = static_cast<char>('0' + mag % 10);
      mag /= 10;
    } while (mag);
  }
  if (neg) out += '-';
  for (int i = n; i < prec; ++i) out += '0';
  while (n) out += digits[--n];
}

// Reads a non-negative decimal number or "*" (an integer argument) at fmt[i].
bool ReadNumber(std::string_view fmt, size_t& i, std::span<const TVarRec> args, size_t& argIndex, int& value,
                std::string_view whole) {
  if (i < fmt.size() && fmt[i] == '*') {
    ++i;
    if (argIndex >= args.size()) RaiseFormatError(SArgumentMissing, whole);
    const TVarRec& a = args[argIndex++];
    using K = TVarRec::TKind;
    if (a.Kind != K::Int32 && a.Kind != K::Int64) RaiseFormatError(SInvalidFormat, whole);
    value = static_cast<int>(std::clamp<int64_t>(a.VInt, -1000000, 1000000));
    return true;
  }
  if (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
    int v = 0;
    while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
      v = std::min(v * 10 + (fmt[i] - '0'), 1000000);
      ++i;
    }
    value = v;
    return true;
  }
  return false;
}

void SetDecimalSeparator(std::string& text, const TFormatSettings& fs) {
  if (fs.DecimalSeparator == '.') return;
  const size_t p = text.find('.');
  if (p != std::string::npos) text[p] = fs.DecimalSeparator;
}

}  // namespace

TFormatSettings TFormatSettings::Create(std::string_view) { return {}; }

void FormatAppend(std::string& out, std::string_view fmt, std::span<const TVarRec> args) {
  FormatAppend(out, fmt, args, TFormatSettings{});
}

void FormatAppend(std::string& out, std::string_view fmt, std::span<const TVarRec> args, const TFormatSettings& fs) {
  using K = TVarRec::TKind;
  size_t argIndex = 0;
  size_t i = 0;
  std::string tmp;
  while (i < fmt.size()) {
    const size_t pct = fmt.find('%', i);
    if (pct == std::string_view::npos) {
      out.append(fmt.substr(i));
      break;
    }
    out.append(fmt.substr(i, pct - i));
    i = pct + 1;
    if (i < fmt.size() && fmt[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    int number = 0;
    bool haveNumber = ReadNumber(fmt, i, args, argIndex, number, fmt);
    if (haveNumber && i < fmt.size() && fmt[i] == ':') {
      argIndex = static_cast<size_t>(std::max(number, 0));
      ++i;
      haveNumber = false;
    }
    bool left = false;
    if (!haveNumber && i < fmt.size() && fmt[i] == '-') {
      left = true;
      ++i;
    }
    int width = -1;
    if (haveNumber)
      width = number;
    else if (ReadNumber(fmt, i, args, argIndex, number, fmt))
      width = number;
    int prec = -1;
    if (i < fmt.size() && fmt[i] == '.') {
      ++i;
      prec = 0;
      ReadNumber(fmt, i, args, argIndex, prec, fmt);
    }
    if (i >= fmt.size()) RaiseFormatError(SInvalidFormat, fmt);
    char type = fmt[i++];
    if (type >= 'A' && type <= 'Z') type = static_cast<char>(type - 'A' + 'a');
    if (std::string_view("duxefgnmps").find(type) == std::string_view::npos) RaiseFormatError(SInvalidFormat, fmt);
    if (argIndex >= args.size()) RaiseFormatError(SArgumentMissing, fmt);
    const TVarRec& a = args[argIndex++];

    tmp.clear();
    size_t chars = 0;
    switch (type) {
      case 'd':
      case 'u':
      case 'x':
        if (!IsInt(a)) RaiseFormatError(SInvalidFormat, fmt);
        FormatInteger(tmp, a, type, prec);
        chars = tmp.size();
        break;
      case 'e':
      case 'f':
      case 'g':
      case 'n':
      case 'm':
        if (a.Kind != K::Float) RaiseFormatError(SInvalidFormat, fmt);
        if (type == 'e') {
          AppendExponent(tmp, a.VFloat, prec < 0 ? 15 : std::clamp(prec, 1, 18), 3);
          SetDecimalSeparator(tmp, fs);
        } else if (type == 'g') {
          char buf[64];
          tmp.append(buf, WriteGeneral(a.VFloat, prec < 0 ? 15 : std::clamp(prec, 1, 18), 0, buf));
          SetDecimalSeparator(tmp, fs);
        } else if (type == 'm') {
          // en-US currency: "$1,234.50", negative "($1,234.50)".
          const bool neg = a.VFloat < 0;
          if (neg) tmp += '(';
          tmp += '$';
          AppendFixed(tmp, std::fabs(a.VFloat), prec < 0 ? 2 : std::min(prec, 18), true, fs.DecimalSeparator,
                      fs.ThousandSeparator);
          if (neg) tmp += ')';
        } else {
          AppendFixed(tmp, a.VFloat, prec < 0 ? 2 : std::min(prec, 18), type == 'n', fs.DecimalSeparator,
                      fs.ThousandSeparator);
        }
        chars = tmp.size();
        break;
      case 'p': {
        if (a.Kind != K::Pointer) RaiseFormatError(SInvalidFormat, fmt);
        uint64_t v = reinterpret_cast<uintptr_t>(a.VPointer);
        char buf[16];
        for (int k = 15; k >= 0; --k, v >>= 4) buf[k] = "0123456789ABCDEF"[v & 15];
        tmp.append(buf, 16);
        chars = 16;
        break;
      }
      case 's': {
        std::string_view s;
        char c;
        if (a.Kind == K::String) {
          s = a.VString;
        } else if (a.Kind == K::Char) {
          c = a.VChar;
          s = std::string_view(&c, 1);
        } else {
          RaiseFormatError(SInvalidFormat, fmt);
        }
        chars = Utf8Length(s);
        if (prec >= 0 && chars > static_cast<size_t>(prec)) {
          s = s.substr(0, Utf8ByteOffset(s, static_cast<size_t>(prec)));
          chars = static_cast<size_t>(prec);
        }
        AppendPadded(out, s, width, left, chars);
        continue;
      }
    }
    AppendPadded(out, tmp, width, left, chars);
  }
}

std::string Format(std::string_view fmt, std::span<const TVarRec> args) {
  std::string out;
  out.reserve(fmt.size() + 16 * args.size());
  FormatAppend(out, fmt, args);
  return out;
}

std::string Format(std::string_view fmt, std::span<const TVarRec> args, const TFormatSettings& fs) {
  std::string out;
  out.reserve(fmt.size() + 16 * args.size());
  FormatAppend(out, fmt, args, fs);
  return out;
}

// ---------------------------------------------------------------------------------------------
// Float text

size_t FloatToStrBuf(double value, char* buf) { return WriteGeneral(value, 15, 0, buf); }

std::string FloatToStr(double value) {
  char buf[FloatToStrBufSize];
  return std::string(buf, FloatToStrBuf(value, buf));
}

std::string FloatToStr(double value, const TFormatSettings& fs) {
  std::string s = FloatToStr(value);
  SetDecimalSeparator(s, fs);
  return s;
}

std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits, const TFormatSettings& fs) {
  std::string s = FloatToStrF(value, format, precision, digits);
  if (fs.DecimalSeparator == '.' && fs.ThousandSeparator == ',') return s;
  for (char& c : s) c = c == '.' ? fs.DecimalSeparator : (c == ',' ? fs.ThousandSeparator : c);
  return s;
}

std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits) {
  precision = std::clamp(precision, 1, 18);
  std::string out;
  switch (format) {
    case TFloatFormat::ffGeneral: {
      char buf[64];
      out.append(buf, WriteGeneral(value, precision, std::clamp(digits, 0, 4), buf));
      break;
    }
    case TFloatFormat::ffExponent:
      AppendExponent(out, value, precision, std::clamp(digits, 0, 4));
      break;
    case TFloatFormat::ffFixed:
    case TFloatFormat::ffNumber:
      // Above `precision` integer digits the run-time falls back to the exponent form.
      if (std::isfinite(value) && value != 0 && std::floor(std::log10(std::fabs(value))) >= precision)
        AppendExponent(out, value, precision, 0);
      else
        AppendFixed(out, value, std::clamp(digits, 0, 18), format == TFloatFormat::ffNumber);
      break;
  }
  return out;
}

namespace {

struct TFloatSection {
  std::string_view Text;
  int IntPlaces = 0;    // "0" and "#" before the point
  int IntZeros = 0;     // "0" before the point: minimum integer digits
  int FracZeros = 0;    // "0" after the point: minimum decimals
  int FracPlaces = 0;   // "0" and "#" after the point: maximum decimals
  bool Thousands = false;
  bool Scientific = false;
  int ExpDigits = 0;
  bool HasDigits = false;
};

TFloatSection ParseSection(std::string_view s) {
  TFloatSection r;
  r.Text = s;
  bool afterPoint = false;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"' || c == '\'') {
      const size_t e = s.find(c, i + 1);
      i = e == std::string_view::npos ? s.size() : e;
    } else if (c == '0' || c == '#') {
      r.HasDigits = true;
      if (afterPoint) {
        ++r.FracPlaces;
        if (c == '0') r.FracZeros = r.FracPlaces;
      } else {
        ++r.IntPlaces;
        if (c == '0' || r.IntZeros > 0) ++r.IntZeros;
      }
    } else if (c == '.') {
      afterPoint = true;
    } else if (c == ',') {
      r.Thousands = true;
    } else if ((c == 'E' || c == 'e') && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-')) {
      r.Scientific = true;
      i += 2;
      while (i < s.size() && s[i] == '0') {
        ++r.ExpDigits;
        ++i;
      }
      --i;
      // The exponent ends the digit places.
      afterPoint = true;
    }
  }
  return r;
}

std::vector<std::string_view> SplitSections(std::string_view pattern) {
  std::vector<std::string_view> out;
  size_t start = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '"' || c == '\'') {
      const size_t e = pattern.find(c, i + 1);
      i = e == std::string_view::npos ? pattern.size() - 1 : e;
    } else if (c == ';') {
      out.push_back(pattern.substr(start, i - start));
      start = i + 1;
      if (out.size() == 2) break;
    }
  }
  out.push_back(pattern.substr(start));
  return out;
}

// Writes `value` (>= 0) through one section; answers false when every digit came out zero.
bool ApplySection(const TFloatSection& sec, double a, std::string& out, const TFormatSettings& fs) {
  std::string intDigits, fracDigits;
  int exponent = 0;
  if (sec.Scientific) {
    const int intCount = std::max(sec.IntPlaces, 1);
    const int sig = std::clamp(intCount + sec.FracPlaces, 1, 18);
    if (a != 0) {
      TDecimal d;
      ToDecimal(a, sig, d);
      exponent = d.E - (intCount - 1);
      for (int i = 0; i < intCount; ++i) intDigits += i < d.N ? d.D[i] : '0';
      for (int i = intCount; i < d.N; ++i) fracDigits += d.D[i];
      while (!intDigits.empty() && intDigits.size() > static_cast<size_t>(sec.IntZeros) && intDigits[0] == '0')
        intDigits.erase(0, 1);
    }
  } else {
    TFixed f;
    ToFixed(a, std::min(sec.FracPlaces, 18), f);
    intDigits.assign(f.Int, static_cast<size_t>(f.IntLen));
    fracDigits.assign(f.Frac, static_cast<size_t>(f.FracLen));
  }
  while (fracDigits.size() > static_cast<size_t>(sec.FracZeros) && fracDigits.back() == '0') fracDigits.pop_back();
  if (fracDigits.size() < static_cast<size_t>(sec.FracZeros)) fracDigits.resize(static_cast<size_t>(sec.FracZeros), '0');
  const bool nonZero = intDigits.find_first_not_of('0') != std::string::npos ||
                       fracDigits.find_first_not_of('0') != std::string::npos;
  if (intDigits.size() < static_cast<size_t>(sec.IntZeros))
    intDigits.insert(0, static_cast<size_t>(sec.IntZeros) - intDigits.size(), '0');

  const std::string_view s = sec.Text;
  const int nInt = static_cast<int>(intDigits.size());
  int intPlace = 0;  // index of the next integer place
  size_t fracPos = 0;
  bool afterPoint = false;
  auto emitIntDigit = [&](int idx) {  // idx into intDigits
    out += intDigits[static_cast<size_t>(idx)];
    const int left = nInt - 1 - idx;
    if (sec.Thousands && left > 0 && left % 3 == 0) out += fs.ThousandSeparator;
  };
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"' || c == '\'') {
      const size_t e = s.find(c, i + 1);
      const size_t end = e == std::string_view::npos ? s.size() : e;
      out.append(s.substr(i + 1, end - i - 1));
      i = end;
    } else if ((c == '0' || c == '#') && !afterPoint) {
      // Places are right-aligned to the digits; the first place also takes the excess.
      const int first = nInt - sec.IntPlaces;
      if (intPlace == 0)
        for (int k = 0; k < first; ++k) emitIntDigit(k);
      const int idx = first + intPlace;
      if (idx >= 0) emitIntDigit(idx);
      ++intPlace;
    } else if ((c == '0' || c == '#') && afterPoint) {
      if (fracPos < fracDigits.size()) out += fracDigits[fracPos];
      ++fracPos;
    } else if (c == '.') {
      if (!afterPoint && !fracDigits.empty()) out += fs.DecimalSeparator;
      afterPoint = true;
    } else if (c == ',') {
      // a flag, not a literal
    } else if ((c == 'E' || c == 'e') && sec.Scientific && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-')) {
      out += c;
      char buf[16];
      char* p = WriteExponent(buf, exponent, s[i + 1] == '+', sec.ExpDigits);
      out.append(buf, static_cast<size_t>(p - buf));
      i += 2;
      while (i < s.size() && s[i] == '0') ++i;
      --i;
      afterPoint = true;
    } else {
      out += c;
    }
  }
  return nonZero;
}

}  // namespace

std::string FormatFloat(std::string_view pattern, double value) { return FormatFloat(pattern, value, TFormatSettings{}); }

std::string FormatFloat(std::string_view pattern, double value, const TFormatSettings& fs) {
  if (!std::isfinite(value) || pattern.empty()) return FloatToStrF(value, TFloatFormat::ffGeneral, 15, 0, fs);
  const auto sections = SplitSections(pattern);
  std::string_view sec = sections[0];
  bool addMinus = false;
  if (value < 0) {
    if (sections.size() > 1 && !sections[1].empty())
      sec = sections[1];
    else
      addMinus = true;
  } else if (value == 0 && sections.size() > 2 && !sections[2].empty()) {
    sec = sections[2];
  }
  const TFloatSection parsed = ParseSection(sec);
  std::string body;
  const bool nonZero = ApplySection(parsed, std::fabs(value), body, fs);
  if (addMinus && nonZero) return "-" + body;
  return body;
}

// ---------------------------------------------------------------------------------------------
// Parsing

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiToLower(a[i]) != AsciiToLower(b[i])) return false;
  return true;
}

bool ParseFloat(std::string_view s, double& value) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  std::string_view t = s.substr(b, e - b);
  bool neg = false;
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    neg = t[i] == '-';
    ++i;
  }
  const std::string_view body = t.substr(i);
  if (EqualsNoCase(body, "INF")) {
    value = neg ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return true;
  }
  if (EqualsNoCase(body, "NAN")) {
    value = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  // Validate the run-time's grammar first; from_chars alone would accept "1e" as 1.
  size_t k = 0;
  int intDigits = 0, leadFracZeros = 0, fracDigits = 0;
  bool seenNonZero = false;
  int sigIntDigits = 0;
  while (k < body.size() && body[k] >= '0' && body[k] <= '9') {
    if (body[k] != '0') seenNonZero = true;
    if (seenNonZero) ++sigIntDigits;
    ++intDigits;
    ++k;
  }
  if (k < body.size() && body[k] == '.') {
    ++k;
    while (k < body.size() && body[k] >= '0' && body[k] <= '9') {
      if (!seenNonZero && body[k] == '0') ++leadFracZeros;
      if (body[k] != '0') seenNonZero = true;
      ++fracDigits;
      ++k;
    }
  }
  if (intDigits + fracDigits == 0) return false;
  int exp10 = 0;
  if (k < body.size() && (body[k] == 'e' || body[k] == 'E')) {
    ++k;
    bool expNeg = false;
    if (k < body.size() && (body[k] == '+' || body[k] == '-')) {
      expNeg = body[k] == '-';
      ++k;
    }
    if (k >= body.size() || body[k] < '0' || body[k] > '9') return false;
    while (k < body.size() && body[k] >= '0' && body[k] <= '9') {
      exp10 = std::min(exp10 * 10 + (body[k] - '0'), 100000);
      ++k;
    }
    if (expNeg) exp10 = -exp10;
  }
  if (k != body.size()) return false;
  if (!seenNonZero) {
    value = neg ? -0.0 : 0.0;
    return true;
  }
  double v = 0;
  const auto r = std::from_chars(body.data(), body.data() + body.size(), v, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    const int magnitude = (sigIntDigits > 0 ? sigIntDigits - 1 : -(leadFracZeros + 1)) + exp10;
    if (magnitude > 0) return false;  // overflow
    v = 0;                            // underflow reads as zero
  } else if (r.ec != std::errc() || r.ptr != body.data() + body.size()) {
    return false;
  }
  value = neg ? -v : v;
  return true;
}

template <class T>
bool ParseInt(std::string_view s, T& value) {
  using U = std::make_unsigned_t<T>;
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    neg = s[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= s.size()) return false;
  const uint64_t limit = hex ? static_cast<uint64_t>(std::numeric_limits<U>::max())
                             : static_cast<uint64_t>(std::numeric_limits<T>::max()) + (neg ? 1u : 0u);
  uint64_t acc = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    unsigned d;
    if (c >= '0' && c <= '9')
      d = static_cast<unsigned>(c - '0');
    else if (hex && c >= 'a' && c <= 'f')
      d = static_cast<unsigned>(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F')
      d = static_cast<unsigned>(c - 'A' + 10);
    else
      return false;
    const unsigned base = hex ? 16 : 10;
    if (acc > (limit - d) / base) return false;
    acc = acc * base + d;
  }
  const U u = static_cast<U>(acc);
  value = static_cast<T>(neg ? static_cast<U>(U(0) - u) : u);
  return true;
}

}  // namespace

bool TryStrToFloat(std::string_view s, double& value) { return ParseFloat(s, value); }

bool TryStrToFloat(std::string_view s, float& value) {
  double d;
  if (!ParseFloat(s, d)) return false;
  if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) return false;
  value = static_cast<float>(d);
  return true;
}

double StrToFloat(std::string_view s) {
  double v;
  if (!ParseFloat(s, v)) throw EConvertError(Format(SInvalidFloat, {s}));
  return v;
}

double StrToFloatDef(std::string_view s, double def) {
  double v;
  return ParseFloat(s, v) ? v : def;
}

namespace {
// Parses with fs.DecimalSeparator in the place of ".".
bool ParseFloatFS(std::string_view s, double& value, const TFormatSettings& fs) {
  if (fs.DecimalSeparator == '.') return ParseFloat(s, value);
  std::string t(s);
  for (char& c : t) c = c == fs.DecimalSeparator ? '.' : (c == '.' ? ',' : c);
  return ParseFloat(t, value);
}
}  // namespace

bool TryStrToFloat(std::string_view s, double& value, const TFormatSettings& fs) { return ParseFloatFS(s, value, fs); }

bool TryStrToFloat(std::string_view s, float& value, const TFormatSettings& fs) {
  double d;
  if (!ParseFloatFS(s, d, fs)) return false;
  if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) return false;
  value = static_cast<float>(d);
  return true;
}

double StrToFloat(std::string_view s, const TFormatSettings& fs) {
  double v;
  if (!ParseFloatFS(s, v, fs)) throw EConvertError(Format(SInvalidFloat, {s}));
  return v;
}

double StrToFloatDef(std::string_view s, double def, const TFormatSettings& fs) {
  double v;
  return ParseFloatFS(s, v, fs) ? v : def;
}

bool TryStrToInt(std::string_view s, int32_t& value) { return ParseInt(s, value); }
bool TryStrToInt64(std::string_view s, int64_t& value) { return ParseInt(s, value); }

int32_t StrToInt(std::string_view s) {
  int32_t v;
  if (!ParseInt(s, v)) throw EConvertError(Format(SInvalidInteger, {s}));
  return v;
}

int64_t StrToInt64(std::string_view s) {
  int64_t v;
  if (!ParseInt(s, v)) throw EConvertError(Format(SInvalidInteger, {s}));
  return v;
}

int32_t StrToIntDef(std::string_view s, int32_t def) {
  int32_t v;
  return ParseInt(s, v) ? v : def;
}

int64_t StrToInt64Def(std::string_view s, int64_t def) {
  int64_t v;
  return ParseInt(s, v) ? v : def;
}

std::string IntToStr(int64_t value) {
  char buf[24];
  char* p = buf;
  uint64_t mag = static_cast<uint64_t>(value);
  if (value < 0) {
    *p++ = '-';
    mag = 0 - mag;
  }
  p = WriteUInt(p, mag);
  return std::string(buf, static_cast<size_t>(p - buf));
}

std::string IntToHex(uint64_t value, int digits) {
  char buf[16];
  int n = 0;
  do {
    buf[15 - n++] = "0123456789ABCDEF"[value & 15];
    value >>= 4;
  } while (value);
  std::string out;
  if (digits > n) out.append(static_cast<size_t>(std::min(digits, 64) - n), '0');
  out.append(buf + 16 - n, static_cast<size_t>(n));
  return out;
}

std::string IntToHex(int64_t value, int digits) { return IntToHex(static_cast<uint64_t>(value), digits); }

std::string BoolToStr(bool value, bool useBoolStrs) {
  if (useBoolStrs) return value ? "True" : "False";
  return value ? "-1" : "0";
}

bool TryStrToBool(std::string_view s, bool& value) {
  if (AsciiSameText(s, "true")) return value = true, true;
  if (AsciiSameText(s, "false")) return value = false, true;
  double number;
  if (s.empty() || s.front() <= ' ' || s.back() <= ' ' || !TryStrToFloat(s, number)) return false;
  value = number != 0;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Rounding

namespace {
constexpr double kTwo63 = 9223372036854775808.0;
void CheckInt64Range(double v) {
  if (!(v >= -kTwo63 && v < kTwo63)) throw EInvalidOp(SInvalidOp.Text);
}
}  // namespace

int64_t Round(double value) {
  // Independent of the FPU rounding mode; x - floor(x) is exact for every double.
  CheckInt64Range(std::floor(value));
  const double f = std::floor(value);
  const double diff = value - f;
  int64_t r = static_cast<int64_t>(f);
  if (diff > 0.5 || (diff == 0.5 && (r & 1) != 0)) {
    if (r == std::numeric_limits<int64_t>::max()) throw EInvalidOp(SInvalidOp.Text);
    ++r;
  }
  return r;
}

int64_t Trunc(double value) {
  CheckInt64Range(std::trunc(value));
  return static_cast<int64_t>(value);
}

double Int(double value) { return std::trunc(value); }
double Frac(double value) { return value - std::trunc(value); }

namespace {
template <class T>
bool SameValueT(T a, T b, T epsilon, T resolution) {
  if (epsilon == 0) epsilon = std::max(std::min(std::fabs(a), std::fabs(b)) * resolution, resolution);
  return a > b ? (a - b) <= epsilon : (b - a) <= epsilon;
}
}  // namespace

bool SameValue(double a, double b, double epsilon) { return SameValueT(a, b, epsilon, 1e-12); }
bool SameValue(float a, float b, float epsilon) { return SameValueT(a, b, epsilon, 1e-4f); }
bool IsZero(double value, double epsilon) { return std::fabs(value) <= (epsilon == 0 ? 1e-12 : epsilon); }
bool IsZero(float value, float epsilon) { return std::fabs(value) <= (epsilon == 0 ? 1e-4f : epsilon); }

// ---------------------------------------------------------------------------------------------
// ASCII text

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = AsciiToLower(c);
  return r;
}

bool SameText(std::string_view a, std::string_view b) { return EqualsNoCase(a, b); }
int CompareText(std::string_view a, std::string_view b) { return AsciiCompareText(a, b); }

int CompareStr(std::string_view a, std::string_view b) {
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool StartsText(std::string_view prefix, std::string_view s) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

bool EndsText(std::string_view suffix, std::string_view s) {
  return s.size() >= suffix.size() && EqualsNoCase(s.substr(s.size() - suffix.size()), suffix);
}

namespace {
bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= ' '; }
}  // namespace

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsTrimmed(s[b])) ++b;
  while (e > b && IsTrimmed(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

std::string TrimLeft(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && IsTrimmed(s[b])) ++b;
  return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && IsTrimmed(s[e - 1])) --e;
  return std::string(s.substr(0, e));
}

std::string StringReplace(std::string_view s, std::string_view oldPattern, std::string_view newPattern,
                          unsigned flags) {
  if (oldPattern.empty()) return std::string(s);
  const bool all = (flags & rfReplaceAll) != 0;
  const bool ignoreCase = (flags & rfIgnoreCase) != 0;
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i + oldPattern.size() <= s.size()) {
    const std::string_view at = s.substr(i, oldPattern.size());
    if (ignoreCase ? EqualsNoCase(at, oldPattern) : at == oldPattern) {
      out.append(newPattern);
      i += oldPattern.size();
      if (!all) break;
    } else {
      out += s[i++];
    }
  }
  out.append(s.substr(i));
  return out;
}

}  // namespace quorvel
