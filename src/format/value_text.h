// Reading a field value's text back as a number or a date/time.
//
// The data layer hands values on as text: integers in plain digits, decimals
// with the locale's decimal separator, floating point with an exponent where
// needed, dates "YYYY-MM-DD", date-times "YYYY-MM-DD hh:mm:ss", times
// "hh:mm:ss". Formatting needs them back as values. Numbers are kept as their
// exact decimal digits, so rounding to a pattern's decimals never suffers from
// binary floating point and a value with more digits than a double holds keeps
// them. Dates are civil dates of the proleptic Gregorian calendar, years 100 to
// 9999, with the serial day numbering of the format-expression language (day 0
// is 30 December 1899).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/locale_info.h"

namespace vantrelle {

/// An exact decimal number: 0.d1d2d3... times 10 to the power of `point`.
/// 1234.5 is digits "12345", point 4; 0.0256 is digits "256", point -1.
struct DecimalValue {
  bool negative = false;
  std::string digits;  ///< significant digits without leading or trailing zeros; empty for 0
  int point = 0;       ///< how many digits stand before the decimal point

  bool IsZero() const { return digits.empty(); }
};

/// Largest `point` a number may have (its magnitude stays below 1E+309, the
/// range of a double). Larger values do not read as numbers.
constexpr int kMaxDecimalPoint = 309;
/// Numbers below 1E-400 in magnitude read as zero.
constexpr int kMinDecimalPoint = -400;

/// Reads \a text as a number: blanks around it, an optional sign, digits with
/// the locale's group separator between groups of three, the locale's decimal
/// separator, an optional exponent (E or e, optional sign, digits). Returns
/// nullopt for anything else, "NaN" and "Infinity" included.
std::optional<DecimalValue> ParseDecimal(std::string_view text, const LocaleInfo& locale);

/// Reads \a text as a number the way the format language reads text: the
/// forms of ParseDecimal, and the locale's group separator anywhere between
/// two digits of the integer part ("6,90" reads as 690, "1,2,3" as 123).
std::optional<DecimalValue> ParseNumberText(std::string_view text, const LocaleInfo& locale);

/// Rounds \a value to \a fraction_digits decimals (negative: to tens,
/// hundreds, ...), an exact half away from zero, on the decimal digits.
void RoundDecimal(DecimalValue& value, int fraction_digits);

/// The nearest double (for date serials, where exactness does not matter).
double DecimalToDouble(const DecimalValue& value);

/// A calendar date with a time of day. A time alone has the date 30 December
/// 1899, day 0 of the serial numbering.
struct DateTimeValue {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

/// Reads \a text as a date, a date with a time, or a time: the ISO forms
/// "YYYY-MM-DD", "YYYY-MM-DD hh:mm[:ss[.fff]]" (or with "T"), "hh:mm[:ss]",
/// and the locale's short date (its order and separator, years of 1, 2 or 4
/// digits) optionally followed by a time. A time may end in AM or PM. Returns
/// nullopt for anything else and for years outside 100 to 9999.
std::optional<DateTimeValue> ParseDateTime(std::string_view text, const LocaleInfo& locale);

/// Reads \a text as a date the way the format language reads text: the forms
/// of ParseDateTime, and dates of two or three numbers separated alike by the
/// locale's date separator, "/", "-" or ".", taken in the locale's order of
/// day, month and year (a year of four digits first means year, month,
/// day), or with day and month the other way round when that order gives no
/// date. A date of two numbers is a day and month in \a current_year, or a
/// month and a four-digit year (its first day). A time may follow.
std::optional<DateTimeValue> ParseDateText(std::string_view text, const LocaleInfo& locale,
                                           int current_year);

/// The date and time of a serial day number (whole days since 30 December
/// 1899, the fraction the time of day, rounded to the second). Returns nullopt
/// outside years 100 to 9999 and for values that are not finite.
std::optional<DateTimeValue> DateTimeFromSerial(double serial);

/// Days since 30 December 1899 of a civil date (negative before it).
int64_t DaySerial(int year, int month, int day);

/// Day of the week, 1 for Sunday to 7 for Saturday.
int DayOfWeek(const DateTimeValue& value);

/// Day of the year, 1 for 1 January.
int DayOfYear(const DateTimeValue& value);

/// Week of the year, 1 for the week holding 1 January; weeks start on Sunday.
int WeekOfYear(const DateTimeValue& value);

}  // namespace vantrelle
