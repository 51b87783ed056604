// The calendar pieces every date language shares: numbers padded to a width,
// the 12-hour clock, and the locale's names of days, months and the halves
// of the day. The cell patterns and the field pictures both write dates with
// these, so a date reads the same in a table cell and in a field.
#pragma once

#include <string>

#include "base/locale_info.h"

namespace vantrelle {

/// Appends \a value with at least \a width digits, zeros in front.
inline void AppendNumber(int value, int width, std::string& out) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) out.append(width - digits.size(), '0');
  out.append(digits);
}

/// The hour 0-23 on a 12-hour clock: 12, 1, ..., 11.
inline int Hour12(int hour) { return hour % 12 == 0 ? 12 : hour % 12; }

/// The locale's name of the weekday \a weekday (0 Sunday to 6 Saturday).
inline const std::string& DayName(const LocaleInfo& locale, int weekday, bool abbreviated) {
  const auto& names = abbreviated ? locale.day_abbreviations : locale.day_names;
  return names[((weekday % 7) + 7) % 7];
}

/// The locale's name of the month \a month (1 January to 12 December).
inline const std::string& MonthName(const LocaleInfo& locale, int month, bool abbreviated) {
  const auto& names = abbreviated ? locale.month_abbreviations : locale.month_names;
  return names[(((month - 1) % 12) + 12) % 12];
}

/// The locale's marker of the half of the day that \a hour (0-23) is in.
inline const std::string& DayPeriod(const LocaleInfo& locale, int hour) {
  return hour < 12 ? locale.am : locale.pm;
}

}  // namespace vantrelle
