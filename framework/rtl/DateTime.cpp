#include "framework/rtl/DateTime.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/ResourceStrings.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Utf8.h"

namespace quorvel {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

constexpr int64_t kUnixDelta = 25569;
// TDateTime day numbers of 0001-01-01 and 9999-12-31.
constexpr double kMinDateTime = -693593.0;
constexpr double kMaxDateTime = 2958466.0;

// Calendar day (relative to 1899-12-30) and milliseconds into that day.
bool SplitDateTime(TDateTime dt, int64_t& day, int64_t& ms) {
  const double v = dt.Value;
  if (!(v > kMinDateTime - 1 && v < kMaxDateTime)) return false;
  day = static_cast<int64_t>(std::trunc(v));
  ms = static_cast<int64_t>(std::llround(std::fabs(v - static_cast<double>(day)) * MSecsPerDay));
  if (ms >= MSecsPerDay) {
    ms -= MSecsPerDay;
    ++day;
  }
  // -0.25 is 1899-12-30 06:00 (trunc gives day 0 for both signs).
  return true;
}

TDateTime Combine(double date, double time) { return TDateTime(date < 0 ? date - time : date + time); }

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInAMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& dt) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInAMonth(year, month)) return false;
  dt = TDateTime(static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                                     kUnixDelta));
  return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& dt) {
  if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 || msec > 999) return false;
  const int64_t ms = ((static_cast<int64_t>(hour) * 60 + min) * 60 + sec) * 1000 + msec;
  dt = TDateTime(static_cast<double>(ms) / MSecsPerDay);
  return true;
}

bool TryEncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec, TDateTime& dt) {
  TDateTime d, t;
  if (!TryEncodeDate(year, month, day, d) || !TryEncodeTime(hour, min, sec, msec, t)) return false;
  dt = Combine(d.Value, t.Value);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime dt;
  if (!TryEncodeDate(year, month, day, dt)) throw EConvertError(SDateEncodeError.Text);
  return dt;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  TDateTime dt;
  if (!TryEncodeTime(hour, min, sec, msec, dt)) throw EConvertError(STimeEncodeError.Text);
  return dt;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec) {
  const TDateTime d = EncodeDate(year, month, day);
  return Combine(d.Value, EncodeTime(hour, min, sec, msec).Value);
}

bool DecodeDateTime(TDateTime dt, int& year, int& month, int& day, int& hour, int& min, int& sec, int& msec) {
  int64_t d, ms;
  year = month = day = hour = min = sec = msec = 0;
  if (!SplitDateTime(dt, d, ms)) return false;
  CivilFromDays(d - kUnixDelta, year, month, day);
  if (year < 1 || year > 9999) {
    year = month = day = 0;
    return false;
  }
  msec = static_cast<int>(ms % 1000);
  sec = static_cast<int>(ms / 1000 % 60);
  min = static_cast<int>(ms / 60000 % 60);
  hour = static_cast<int>(ms / 3600000);
  return true;
}

void DecodeDate(TDateTime dt, int& year, int& month, int& day) {
  int h, n, s, z;
  DecodeDateTime(dt, year, month, day, h, n, s, z);
}

void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec) {
  int y, m, d;
  DecodeDateTime(dt, y, m, d, hour, min, sec, msec);
}

TDateTime Now() {
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const std::time_t secs = static_cast<std::time_t>(ms / 1000);
  std::tm local{};
  localtime_r(&secs, &local);
  TDateTime dt;
  TryEncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                    std::min(local.tm_sec, 59), static_cast<int>(ms % 1000), dt);
  return dt;
}

TDateTime Date() { return TDateTime(std::trunc(Now().Value)); }

int64_t DateTimeToUnix(TDateTime dt) {
  int64_t day, ms;
  if (!SplitDateTime(dt, day, ms)) throw EConvertError(SInvalidOp.Text);
  const int64_t total = (day - kUnixDelta) * MSecsPerDay + ms;
  return total / 1000;  // towards zero
}

TDateTime UnixToDateTime(int64_t seconds) {
  return TDateTime(static_cast<double>(kUnixDelta) + static_cast<double>(seconds) / 86400.0);
}

std::string FormatDateTime(std::string_view pattern, TDateTime dt) {
  int y, mo, d, h, n, s, z;
  DecodeDateTime(dt, y, mo, d, h, n, s, z);
  std::string out;
  auto num = [&](int v, int width) {
    const std::string t = std::to_string(v);
    if (static_cast<int>(t.size()) < width) out.append(static_cast<size_t>(width) - t.size(), '0');
    out += t;
  };
  bool lastWasHour = false;
  for (size_t i = 0; i < pattern.size();) {
    const char c = AsciiToLower(pattern[i]);
    size_t run = 1;
    while (i + run < pattern.size() && AsciiToLower(pattern[i + run]) == c) ++run;
    switch (c) {
      case 'y':
        if (run >= 3)
          num(y, 4);
        else
          num(y % 100, 2);
        break;
      case 'm':
        if (lastWasHour)
          num(n, run >= 2 ? 2 : 1);
        else
          num(mo, run >= 2 ? 2 : 1);
        break;
      case 'd': num(d, run >= 2 ? 2 : 1); break;
      case 'h': num(h, run >= 2 ? 2 : 1); break;
      case 'n': num(n, run >= 2 ? 2 : 1); break;
      case 's': num(s, run >= 2 ? 2 : 1); break;
      case 'z': num(z, run >= 3 ? 3 : 1); break;
      case '"':
      case '\'': {
        const size_t e = pattern.find(pattern[i], i + 1);
        const size_t end = e == std::string_view::npos ? pattern.size() : e;
        out.append(pattern.substr(i + 1, end - i - 1));
        i = end + 1;
        continue;
      }
      default:
        out.append(pattern.substr(i, run));
        break;
    }
    if (c == 'h') lastWasHour = true;
    else if (c == 'm' || c == 'n' || c == 's' || c == 'd' || c == 'y') lastWasHour = false;
    i += run;
  }
  return out;
}

std::string DateTimeToStr(TDateTime dt) { return FormatDateTime("yyyy-mm-dd hh:nn:ss", dt); }

bool TryStrToDateTime(std::string_view s, TDateTime& dt) {
  size_t i = 0;
  auto blanks = [&] {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  };
  auto number = [&](int maxDigits, int& v) {
    int n = 0;
    v = 0;
    while (i < s.size() && n < maxDigits && s[i] >= '0' && s[i] <= '9') {
      v = v * 10 + (s[i++] - '0');
      ++n;
    }
    return n > 0;
  };
  auto expect = [&](char c) {
    if (i < s.size() && s[i] == c) {
      ++i;
      return true;
    }
    return false;
  };
  int y, mo, d, h = 0, n = 0, sec = 0, ms = 0;
  blanks();
  if (!number(4, y) || !expect('-') || !number(2, mo) || !expect('-') || !number(2, d)) return false;
  const size_t afterDate = i;
  blanks();
  if (i < s.size() && i > afterDate) {
    if (!number(2, h) || !expect(':') || !number(2, n)) return false;
    if (expect(':')) {
      if (!number(2, sec)) return false;
      if (expect('.')) {
        const size_t start = i;
        if (!number(3, ms)) return false;
        for (size_t k = i - start; k < 3; ++k) ms *= 10;
      }
    }
    blanks();
  }
  if (i != s.size()) return false;
  return TryEncodeDateTime(y, mo, d, h, n, sec, ms, dt);
}

TDateTime StrToDateTime(std::string_view s) {
  TDateTime dt;
  if (!TryStrToDateTime(s, dt)) throw EConvertError(Format(SInvalidDateTime, {s}));
  return dt;
}

}  // namespace quorvel
