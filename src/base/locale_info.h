// The regional conventions the program formats and reads values with.
//
// Separators and names come from the process locale (LC_NUMERIC, LC_TIME);
// where the locale gives none, as the C locale does, "." and "," and English
// names are used. Call LocaleInfo::Current() after setlocale() has run.
#pragma once

#include <array>
#include <string>

namespace vantrelle {

struct LocaleInfo {
  std::string decimal_separator = ".";
  std::string group_separator = ",";
  std::array<std::string, 7> day_names;        ///< Sunday first
  std::array<std::string, 7> day_abbreviations;
  std::array<std::string, 12> month_names;     ///< January first
  std::array<std::string, 12> month_abbreviations;
  std::string am = "AM";
  std::string pm = "PM";
  /// Order of the short date: "mdy", "dmy" or "ymd"; with its separator.
  std::string short_date_order = "mdy";
  std::string date_separator = "/";
  std::string time_separator = ":";
  std::string currency_symbol = "$";

  /// English names and "." / "," separators, as in the C locale.
  static LocaleInfo Fallback();
  /// The conventions of the current process locale, read once per locale
  /// change (setlocale). Cheap to call often.
  static const LocaleInfo& Current();
};

}  // namespace vantrelle
