#pragma once
// TDateTime: days since 1899-12-30 plus the fraction of the day, as in the run-time.
// A distinct type (not a plain double) so that TValue and the text conversions can tell a
// date-time from a float. Before 1899-12-30 the value is negative and its fraction still
// counts forward from midnight (-1.25 is 1899-12-29 06:00).
#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

#include "framework/rtl/TypeName.h"

namespace quorvel {

struct TDateTime {
  double Value = 0.0;

  constexpr TDateTime() = default;
  constexpr explicit TDateTime(double v) : Value(v) {}
  constexpr explicit operator double() const { return Value; }

  friend constexpr bool operator==(TDateTime, TDateTime) = default;
  friend constexpr auto operator<=>(TDateTime a, TDateTime b) { return a.Value <=> b.Value; }
};
QUORVEL_TYPE_NAME(TDateTime)

inline constexpr double UnixDateDelta = 25569.0;  // 1970-01-01 as a TDateTime
inline constexpr int64_t MSecsPerDay = 86400000;

// Years 1..9999; invalid parts raise EConvertError ("Invalid argument to date encode" /
// "... time encode"); the Try forms answer false.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec);
bool TryEncodeDate(int year, int month, int day, TDateTime& dt);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& dt);
bool TryEncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec, TDateTime& dt);
// Rounded to the millisecond. Values outside the years 1..9999 give year 0 and false.
bool DecodeDateTime(TDateTime dt, int& year, int& month, int& day, int& hour, int& min, int& sec, int& msec);
void DecodeDate(TDateTime dt, int& year, int& month, int& day);
void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec);
bool IsLeapYear(int year);
int DaysInAMonth(int year, int month);

// The current local date and time, from the system clock.
TDateTime Now();
TDateTime Date();

// dt taken as UTC; whole seconds since 1970-01-01, parts of a second dropped.
int64_t DateTimeToUnix(TDateTime dt);
TDateTime UnixToDateTime(int64_t seconds);

// Patterns: yyyy yy m mm d dd h hh n nn s ss z zzz (m after h is minutes), quoted literals,
// anything else as is. Locale-free (":" and "/" are written as they stand).
std::string FormatDateTime(std::string_view pattern, TDateTime dt);
// "yyyy-mm-dd hh:nn:ss".
std::string DateTimeToStr(TDateTime dt);
// Reads "yyyy-mm-dd", optionally followed by blanks and "hh:nn[:ss[.zzz]]"; one- or two-digit
// parts are accepted, blanks around are ignored. Anything else, or an impossible date such as
// "0000-00-00 00:00:00", fails: false, or EConvertError ("'%s' is not a valid date and time").
bool TryStrToDateTime(std::string_view s, TDateTime& dt);
TDateTime StrToDateTime(std::string_view s);

}  // namespace quorvel
