#include "base/locale_info.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>
#include <mutex>
#include <string>

namespace vantrelle {
namespace {

const char* const kDays[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                              "Thursday", "Friday", "Saturday"};
const char* const kMonths[12] = {"January", "February", "March",     "April",
                                 "May",     "June",     "July",      "August",
                                 "September", "October", "November", "December"};

std::string Lang(nl_item item, const std::string& fallback) {
  const char* value = nl_langinfo(item);
  if (value == nullptr || *value == '\0') return fallback;
  return value;
}

// The short-date order and separator follow the first conversion letters
// of the locale's date format ("%m/%d/%y", "%d.%m.%Y", "%Y-%m-%d").
void ReadShortDate(const std::string& d_fmt, LocaleInfo& info) {
  std::string order;
  std::string separator;
  for (size_t i = 0; i + 1 < d_fmt.size(); ++i) {
    if (d_fmt[i] != '%') {
      if (!order.empty() && separator.empty()) separator = d_fmt.substr(i, 1);
      continue;
    }
    char c = d_fmt[++i];
    if (c == 'd' || c == 'e') order += 'd';
    else if (c == 'm') order += 'm';
    else if (c == 'y' || c == 'Y') order += 'y';
    else if (c == 'D') { order = "mdy"; separator = "/"; break; }
    else if (c == 'F') { order = "ymd"; separator = "-"; break; }
  }
  if (order.size() == 3) info.short_date_order = order;
  if (!separator.empty()) info.date_separator = separator;
}

}  // namespace

LocaleInfo LocaleInfo::Fallback() {
  LocaleInfo info;
  for (int i = 0; i < 7; ++i) {
    info.day_names[i] = kDays[i];
    info.day_abbreviations[i] = std::string(kDays[i], 3);
  }
  for (int i = 0; i < 12; ++i) {
    info.month_names[i] = kMonths[i];
    info.month_abbreviations[i] = std::string(kMonths[i], 3);
  }
  return info;
}

const LocaleInfo& LocaleInfo::Current() {
  static std::mutex mutex;
  static std::string cached_key;
  static LocaleInfo cached = Fallback();
  // The key changes whenever setlocale() picks other numeric or time rules.
  const char* numeric = std::setlocale(LC_NUMERIC, nullptr);
  const char* time = std::setlocale(LC_TIME, nullptr);
  std::string key = std::string(numeric ? numeric : "") + "|" + (time ? time : "");
  std::lock_guard<std::mutex> lock(mutex);
  if (key == cached_key) return cached;
  LocaleInfo info = Fallback();
  info.decimal_separator = Lang(RADIXCHAR, ".");
  info.group_separator = Lang(THOUSEP, ",");
  // A locale without a group separator (C, POSIX) still groups with ","
  // unless it uses "," as its decimal separator.
  if (info.group_separator.empty() || info.group_separator == info.decimal_separator)
    info.group_separator = info.decimal_separator == "," ? "." : ",";
  const nl_item days[7] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
  const nl_item abdays[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4,
                             ABDAY_5, ABDAY_6, ABDAY_7};
  const nl_item months[12] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                              MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
  const nl_item abmonths[12] = {ABMON_1, ABMON_2, ABMON_3,  ABMON_4,
                                ABMON_5, ABMON_6, ABMON_7,  ABMON_8,
                                ABMON_9, ABMON_10, ABMON_11, ABMON_12};
  for (int i = 0; i < 7; ++i) {
    info.day_names[i] = Lang(days[i], info.day_names[i]);
    info.day_abbreviations[i] = Lang(abdays[i], info.day_abbreviations[i]);
  }
  for (int i = 0; i < 12; ++i) {
    info.month_names[i] = Lang(months[i], info.month_names[i]);
    info.month_abbreviations[i] = Lang(abmonths[i], info.month_abbreviations[i]);
  }
  info.am = Lang(AM_STR, "AM");
  info.pm = Lang(PM_STR, "PM");
  ReadShortDate(Lang(D_FMT, "%m/%d/%y"), info);
  std::string currency = Lang(CRNCYSTR, "");
  if (currency.size() > 1) info.currency_symbol = currency.substr(1);
  cached = info;
  cached_key = key;
  return cached;
}

}  // namespace vantrelle
