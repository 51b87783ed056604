// Fuzz target for reading value texts back as numbers and dates, under the
// fallback locale and under one with "," decimals and day-month-year dates.
// A number read must round and convert; a date read must be a real date.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/locale_info.h"
#include "format/value_text.h"

namespace {

void CheckDate(const vantrelle::DateTimeValue& date) {
  if (date.year < 100 || date.year > 9999 || date.month < 1 || date.month > 12 || date.day < 1 ||
      date.day > 31 || date.hour < 0 || date.hour > 23 || date.minute < 0 || date.minute > 59 ||
      date.second < 0 || date.second > 59) {
    std::abort();
  }
}

void Check(std::string_view text, const vantrelle::LocaleInfo& locale) {
  // The format language's readings take in at least what the strict ones do.
  auto loose_number = vantrelle::ParseNumberText(text, locale);
  if (vantrelle::ParseDecimal(text, locale) && !loose_number) std::abort();
  if (auto date = vantrelle::ParseDateText(text, locale, 2024)) CheckDate(*date);
  if (auto number = vantrelle::ParseDecimal(text, locale)) {
    if (number->point > vantrelle::kMaxDecimalPoint) std::abort();
    vantrelle::DecimalToDouble(*number);
    vantrelle::DecimalValue rounded = *number;
    vantrelle::RoundDecimal(rounded, 2);
    rounded = *number;
    vantrelle::RoundDecimal(rounded, -3);
    if (auto date = vantrelle::DateTimeFromSerial(vantrelle::DecimalToDouble(*number))) {
      if (date->year < 100 || date->year > 9999) std::abort();
    }
  }
  if (auto date = vantrelle::ParseDateTime(text, locale)) {
    CheckDate(*date);
    if (!vantrelle::ParseDateText(text, locale, 2024)) std::abort();
    vantrelle::DayOfWeek(*date);
    vantrelle::DayOfYear(*date);
    vantrelle::WeekOfYear(*date);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const vantrelle::LocaleInfo fallback = vantrelle::LocaleInfo::Fallback();
  static const vantrelle::LocaleInfo comma = [] {
    vantrelle::LocaleInfo info = vantrelle::LocaleInfo::Fallback();
    info.decimal_separator = ",";
    info.group_separator = ".";
    info.short_date_order = "dmy";
    info.date_separator = ".";
    return info;
  }();
  std::string_view text(reinterpret_cast<const char*>(data), size);
  Check(text, fallback);
  Check(text, comma);
  return 0;
}
