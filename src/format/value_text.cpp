#include "format/value_text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "base/text_scan.h"

namespace vantrelle {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool StartsWith(std::string_view text, size_t pos, std::string_view prefix) {
  return !prefix.empty() && text.substr(pos, prefix.size()) == prefix;
}

// Reads 1 to max_digits digits at pos; -1 when there is none.
int ReadNumber(std::string_view text, size_t& pos, size_t max_digits, size_t* count = nullptr) {
  size_t start = pos;
  int value = 0;
  while (pos < text.size() && IsDigit(text[pos]) && pos - start < max_digits) {
    value = value * 10 + (text[pos] - '0');
    ++pos;
  }
  if (count != nullptr) *count = pos - start;
  return pos == start ? -1 : value;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool ValidDate(int year, int month, int day) {
  return year >= 100 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month);
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

const int64_t kSerialEpoch = DaysFromCivil(1899, 12, 30);

// Reads "hh:mm[:ss[.fff]][ AM|PM]" to the end of the text.
bool ParseTime(std::string_view text, size_t pos, const LocaleInfo& locale, DateTimeValue& out) {
  std::string_view separator = locale.time_separator;
  if (separator.empty()) separator = ":";
  auto read_separator = [&]() {
    if (StartsWith(text, pos, separator)) {
      pos += separator.size();
      return true;
    }
    if (pos < text.size() && text[pos] == ':') {
      ++pos;
      return true;
    }
    return false;
  };
  int hour = ReadNumber(text, pos, 2);
  if (hour < 0 || !read_separator()) return false;
  size_t count = 0;
  int minute = ReadNumber(text, pos, 2, &count);
  if (minute < 0 || count != 2) return false;
  int second = 0;
  if (read_separator()) {
    second = ReadNumber(text, pos, 2, &count);
    if (second < 0 || count != 2) return false;
    // Fractions of a second are dropped: the language shows whole seconds.
    if (pos < text.size() &&
        (text[pos] == '.' || StartsWith(text, pos, locale.decimal_separator))) {
      pos += text[pos] == '.' ? 1 : locale.decimal_separator.size();
      size_t digits = 0;
      while (pos < text.size() && IsDigit(text[pos])) ++pos, ++digits;
      if (digits == 0) return false;
    }
  }
  std::string_view rest = TrimBlanks(text.substr(pos));
  if (!rest.empty()) {
    bool am = EqualsIgnoreCase(rest, "AM") || EqualsIgnoreCase(rest, locale.am);
    bool pm = EqualsIgnoreCase(rest, "PM") || EqualsIgnoreCase(rest, locale.pm);
    if (!am && !pm) return false;
    if (hour < 1 || hour > 12) return false;
    hour = (hour % 12) + (pm ? 12 : 0);
  }
  if (hour > 23 || minute > 59 || second > 59) return false;
  out.hour = hour;
  out.minute = minute;
  out.second = second;
  return true;
}

// After a date: the end of the text, or a blank (or "T") and a time.
bool ParseDateTail(std::string_view text, size_t pos, const LocaleInfo& locale,
                   DateTimeValue& out) {
  if (pos == text.size()) return true;
  if (text[pos] != ' ' && text[pos] != 'T') return false;
  ++pos;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  return ParseTime(text, pos, locale, out);
}

bool ParseIsoDate(std::string_view text, const LocaleInfo& locale, DateTimeValue& out) {
  size_t pos = 0;
  size_t count = 0;
  int year = ReadNumber(text, pos, 4, &count);
  if (count != 4 || pos >= text.size() || text[pos] != '-') return false;
  ++pos;
  int month = ReadNumber(text, pos, 2);
  if (month < 0 || pos >= text.size() || text[pos] != '-') return false;
  ++pos;
  int day = ReadNumber(text, pos, 2);
  if (day < 0 || !ValidDate(year, month, day)) return false;
  out.year = year;
  out.month = month;
  out.day = day;
  return ParseDateTail(text, pos, locale, out);
}

bool ParseShortDate(std::string_view text, const LocaleInfo& locale, DateTimeValue& out) {
  const std::string& order = locale.short_date_order;
  std::string_view separator = locale.date_separator;
  if (order.size() != 3 || separator.empty()) return false;
  int year = -1, month = -1, day = -1;
  size_t pos = 0;
  for (size_t i = 0; i < 3; ++i) {
    if (i > 0) {
      if (!StartsWith(text, pos, separator)) return false;
      pos += separator.size();
    }
    size_t count = 0;
    int value = ReadNumber(text, pos, order[i] == 'y' ? 4 : 2, &count);
    if (value < 0) return false;
    if (order[i] == 'y') {
      if (count == 3) return false;
      // Years of one or two digits fall in 1930 to 2029.
      if (count <= 2) value += value < 30 ? 2000 : 1900;
      year = value;
    } else if (order[i] == 'm') {
      month = value;
    } else {
      day = value;
    }
  }
  if (!ValidDate(year, month, day)) return false;
  out.year = year;
  out.month = month;
  out.day = day;
  return ParseDateTail(text, pos, locale, out);
}

// Day, month and year from up to three numbers in the locale's order, or
// with day and month swapped when that gives no date.
bool PlaceDateNumbers(const int (&numbers)[3], const size_t (&digits)[3], size_t count,
                      const LocaleInfo& locale, int current_year, DateTimeValue& out) {
  int year = current_year, month = 0, day = 0;
  bool swappable = true;
  if (count == 3) {
    std::string order = digits[0] == 4 ? "ymd" : locale.short_date_order;
    if (order.size() != 3 || digits[order.find('y')] == 3) return false;
    for (size_t i = 0; i < 3; ++i) {
      if (order[i] == 'y') {
        year = numbers[i];
        // Years of one or two digits fall in 1930 to 2029.
        if (digits[i] <= 2) year += year < 30 ? 2000 : 1900;
      } else if (order[i] == 'm') {
        month = numbers[i];
      } else {
        day = numbers[i];
      }
    }
  } else if (digits[1] == 4 || digits[0] == 4) {
    // A month and its year: the month's first day.
    const bool year_first = digits[0] == 4;
    year = numbers[year_first ? 0 : 1];
    month = numbers[year_first ? 1 : 0];
    day = 1;
    swappable = false;
  } else {
    const bool day_first = locale.short_date_order == "dmy";
    day = numbers[day_first ? 0 : 1];
    month = numbers[day_first ? 1 : 0];
  }
  if (!ValidDate(year, month, day) && swappable) std::swap(day, month);
  if (!ValidDate(year, month, day)) return false;
  out.year = year;
  out.month = month;
  out.day = day;
  return true;
}

bool ParseLooseDate(std::string_view text, const LocaleInfo& locale, int current_year,
                    DateTimeValue& out) {
  size_t pos = 0;
  int numbers[3] = {0, 0, 0};
  size_t digits[3] = {0, 0, 0};
  std::string_view separator;
  size_t count = 0;
  for (; count < 3; ++count) {
    if (count > 0) {
      if (separator.empty()) {
        for (std::string_view candidate :
             {std::string_view(locale.date_separator), std::string_view("/"), std::string_view("-"),
              std::string_view(".")}) {
          if (StartsWith(text, pos, candidate)) {
            separator = candidate;
            break;
          }
        }
        if (separator.empty()) return false;
      } else if (!StartsWith(text, pos, separator)) {
        break;
      }
      pos += separator.size();
    }
    numbers[count] = ReadNumber(text, pos, 4, &digits[count]);
    if (numbers[count] < 0) return false;
  }
  if (count < 2) return false;
  if (!PlaceDateNumbers(numbers, digits, count, locale, current_year, out)) return false;
  return ParseDateTail(text, pos, locale, out);
}

}  // namespace

std::optional<DecimalValue> ParseNumberText(std::string_view text, const LocaleInfo& locale) {
  std::optional<DecimalValue> value = ParseDecimal(text, locale);
  const std::string& group = locale.group_separator;
  if (value || group.empty() || text.find(group) == std::string_view::npos) return value;
  // The integer part ends at the decimal separator or the exponent.
  size_t end = text.find(locale.decimal_separator);
  end = std::min({end, text.find('E'), text.find('e'), text.size()});
  std::string joined;
  joined.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (i > 0 && i < end && StartsWith(text, i, group) && IsDigit(text[i - 1]) &&
        i + group.size() < text.size() && IsDigit(text[i + group.size()])) {
      i += group.size();
      continue;
    }
    joined += text[i++];
  }
  return ParseDecimal(joined, locale);
}

std::optional<DecimalValue> ParseDecimal(std::string_view text, const LocaleInfo& locale) {
  text = TrimBlanks(text);
  DecimalValue value;
  size_t pos = 0;
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
    value.negative = text[pos] == '-';
    ++pos;
  }
  std::string all;
  all.reserve(text.size());
  // Integer part: a group separator must stand between groups of three.
  size_t group_digits = 0;
  bool grouped = false;
  while (pos < text.size()) {
    if (IsDigit(text[pos])) {
      all.push_back(text[pos++]);
      ++group_digits;
      if (grouped && group_digits > 3) return std::nullopt;
    } else if (!all.empty() && StartsWith(text, pos, locale.group_separator) &&
               !StartsWith(text, pos, locale.decimal_separator)) {
      if (grouped ? group_digits != 3 : group_digits > 3) return std::nullopt;
      grouped = true;
      group_digits = 0;
      pos += locale.group_separator.size();
    } else {
      break;
    }
  }
  if (grouped && group_digits != 3) return std::nullopt;
  int64_t point = static_cast<int64_t>(all.size());
  size_t fraction_digits = 0;
  if (StartsWith(text, pos, locale.decimal_separator)) {
    pos += locale.decimal_separator.size();
    while (pos < text.size() && IsDigit(text[pos])) {
      all.push_back(text[pos++]);
      ++fraction_digits;
    }
  }
  if (all.empty()) return std::nullopt;
  if (pos < text.size() && (text[pos] == 'E' || text[pos] == 'e')) {
    ++pos;
    bool exponent_negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
      exponent_negative = text[pos] == '-';
      ++pos;
    }
    if (pos >= text.size() || !IsDigit(text[pos])) return std::nullopt;
    int64_t exponent = 0;
    while (pos < text.size() && IsDigit(text[pos])) {
      // Saturates: anything this large is out of range either way.
      if (exponent < 1000000) exponent = exponent * 10 + (text[pos] - '0');
      ++pos;
    }
    point += exponent_negative ? -exponent : exponent;
  }
  if (pos != text.size()) return std::nullopt;
  size_t first = all.find_first_not_of('0');
  if (first == std::string::npos) return DecimalValue{};  // zero, "-0" included
  size_t last = all.find_last_not_of('0');
  point -= static_cast<int64_t>(first);
  if (point > kMaxDecimalPoint) return std::nullopt;
  if (point < kMinDecimalPoint) return DecimalValue{};
  value.digits = all.substr(first, last - first + 1);
  value.point = static_cast<int>(point);
  return value;
}

void RoundDecimal(DecimalValue& value, int fraction_digits) {
  if (value.IsZero()) return;
  int64_t keep = static_cast<int64_t>(value.point) + fraction_digits;
  if (keep >= static_cast<int64_t>(value.digits.size())) return;
  if (keep < 0) {
    value = DecimalValue{};
    return;
  }
  bool up = value.digits[static_cast<size_t>(keep)] >= '5';
  value.digits.resize(static_cast<size_t>(keep));
  if (up) {
    size_t i = value.digits.size();
    while (i > 0 && value.digits[i - 1] == '9') value.digits[--i] = '0';
    if (i == 0) {
      value.digits.insert(value.digits.begin(), '1');
      ++value.point;
    } else {
      ++value.digits[i - 1];
    }
  }
  size_t last = value.digits.find_last_not_of('0');
  value.digits.resize(last == std::string::npos ? 0 : last + 1);
  if (value.digits.empty()) value = DecimalValue{};
}

double DecimalToDouble(const DecimalValue& value) {
  if (value.IsZero()) return 0.0;
  std::string text =
      (value.negative ? "-0." : "0.") + value.digits + "e" + std::to_string(value.point);
  return std::strtod(text.c_str(), nullptr);
}

std::optional<DateTimeValue> ParseDateTime(std::string_view text, const LocaleInfo& locale) {
  text = TrimBlanks(text);
  if (text.empty()) return std::nullopt;
  DateTimeValue value;
  if (ParseIsoDate(text, locale, value)) return value;
  value = DateTimeValue{};
  if (ParseShortDate(text, locale, value)) return value;
  value = DateTimeValue{};
  if (ParseTime(text, 0, locale, value)) return value;
  return std::nullopt;
}

std::optional<DateTimeValue> ParseDateText(std::string_view text, const LocaleInfo& locale,
                                           int current_year) {
  if (std::optional<DateTimeValue> strict = ParseDateTime(text, locale)) return strict;
  text = TrimBlanks(text);
  DateTimeValue value;
  if (ParseLooseDate(text, locale, current_year, value)) return value;
  return std::nullopt;
}

std::optional<DateTimeValue> DateTimeFromSerial(double serial) {
  if (!std::isfinite(serial) || serial < -657435.0 || serial >= 2958466.0) return std::nullopt;
  // The whole part counts days from the epoch (toward zero); the fraction's
  // magnitude is the time of day, also for dates before the epoch.
  double whole = std::trunc(serial);
  int64_t days = static_cast<int64_t>(whole);
  int64_t seconds = std::llround(std::fabs(serial - whole) * 86400.0);
  if (seconds >= 86400) {
    seconds = 0;
    days += serial < 0 ? -1 : 1;
  }
  DateTimeValue value;
  CivilFromDays(kSerialEpoch + days, value.year, value.month, value.day);
  if (value.year < 100 || value.year > 9999) return std::nullopt;
  value.hour = static_cast<int>(seconds / 3600);
  value.minute = static_cast<int>(seconds / 60 % 60);
  value.second = static_cast<int>(seconds % 60);
  return value;
}

int64_t DaySerial(int year, int month, int day) {
  return DaysFromCivil(year, month, day) - kSerialEpoch;
}

int DayOfWeek(const DateTimeValue& value) {
  // 1970-01-01 was a Thursday (5 when Sunday is 1).
  int64_t days = DaysFromCivil(value.year, value.month, value.day);
  int64_t index = ((days + 4) % 7 + 7) % 7;  // 0 = Sunday
  return static_cast<int>(index) + 1;
}

int DayOfYear(const DateTimeValue& value) {
  return static_cast<int>(DaysFromCivil(value.year, value.month, value.day) -
                          DaysFromCivil(value.year, 1, 1)) +
         1;
}

int WeekOfYear(const DateTimeValue& value) {
  DateTimeValue first_day{value.year, 1, 1};
  int offset = DayOfWeek(first_day) - 1;  // days of that week before 1 January
  return (DayOfYear(value) - 1 + offset) / 7 + 1;
}

}  // namespace vantrelle
