#include "server/cron_calendar.h"

#include <cctype>
#include <cstdio>
#include <sstream>

#include "base/locale_info.h"
#include "format/format_field_value.h"

namespace vantrelle::server {
namespace {

constexpr int kYearsAhead = 30;

struct FieldSpec {
  const char* name;
  int low;
  int high;
  const char* const* names;  // three-letter names from `low` on, or null
};

const char* const kMonthNames[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                   "jul", "aug", "sep", "oct", "nov", "dec"};
const char* const kDayNames[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};

const FieldSpec kFields[] = {{"minute", 0, 59, nullptr},
                             {"hour", 0, 23, nullptr},
                             {"day of month", 1, 31, nullptr},
                             {"month", 1, 12, kMonthNames},
                             {"day of week", 0, 7, kDayNames}};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// One value of a field: a number or, where the field has them, a name.
bool FieldValue(const std::string& text, const FieldSpec& spec, int& value) {
  if (!text.empty() && text.size() <= 2 &&
      text.find_first_not_of("0123456789") == std::string::npos) {
    value = std::stoi(text);
    return true;
  }
  if (spec.names) {
    const std::string lower = Lower(text);
    const int count = spec.high - spec.low + 1 - (spec.names == kDayNames ? 1 : 0);
    for (int i = 0; i < count; ++i)
      if (lower == spec.names[i]) {
        value = spec.low + i;
        return true;
      }
  }
  return false;
}

// Sets the values of one field; a message naming it when it is wrong.
std::string ReadField(const std::string& text, const FieldSpec& spec, std::vector<bool>& on) {
  on.assign(static_cast<size_t>(spec.high + 1), false);
  const std::string quoted = "the " + std::string(spec.name) + " field \"" + text + "\"";
  std::stringstream items(text);
  std::string item;
  while (std::getline(items, item, ',')) {
    int step = 1;
    const size_t slash = item.find('/');
    if (slash != std::string::npos) {
      const std::string step_text = item.substr(slash + 1);
      if (step_text.empty() || step_text.size() > 2 ||
          step_text.find_first_not_of("0123456789") != std::string::npos ||
          (step = std::stoi(step_text)) == 0)
        return quoted + " has a step that is not a number from 1 to 99";
      item.resize(slash);
    }
    int low = spec.low, high = spec.high;
    if (item != "*") {
      const size_t dash = item.find('-');
      if (!FieldValue(item.substr(0, dash), spec, low) ||
          (dash != std::string::npos && !FieldValue(item.substr(dash + 1), spec, high)))
        return quoted + " holds \"" + item + "\", which is neither a number" +
               (spec.names ? ", a name" : "") + " nor a range";
      if (dash == std::string::npos && slash == std::string::npos) high = low;
      if (low < spec.low || high > spec.high)
        return quoted + " is outside " + std::to_string(spec.low) + "-" + std::to_string(spec.high);
      if (low > high) return quoted + " has a range that runs backwards";
    }
    for (int value = low; value <= high; value += step) on[static_cast<size_t>(value)] = true;
  }
  if (text.empty() || text.back() == ',' || text.front() == ',')
    return quoted + " has an empty item";
  return "";
}

}  // namespace

std::optional<CronCalendar> CronCalendar::Parse(const std::string& text, std::string* problem) {
  auto fail = [&](const std::string& why) -> std::optional<CronCalendar> {
    if (problem) *problem = why;
    return std::nullopt;
  };
  std::string expression = text;
  const std::string lower = Lower(text);
  if (lower == "@hourly") expression = "0 * * * *";
  else if (lower == "@daily" || lower == "@midnight") expression = "0 0 * * *";
  else if (lower == "@weekly") expression = "0 0 * * 0";
  else if (lower == "@monthly") expression = "0 0 1 * *";
  else if (lower == "@yearly" || lower == "@annually") expression = "0 0 1 1 *";
  else if (lower.starts_with("@"))
    return fail("\"" + text + "\" is not one of @hourly, @daily, @weekly, @monthly, @yearly");
  std::istringstream in(expression);
  std::vector<std::string> fields;
  for (std::string field; in >> field;) fields.push_back(field);
  if (fields.size() != 5)
    return fail("\"" + text + "\" has " + std::to_string(fields.size()) +
                " fields; a calendar has five: minute hour day-of-month month day-of-week");
  CronCalendar calendar;
  std::vector<bool> on;
  for (size_t f = 0; f < 5; ++f) {
    const std::string why = ReadField(fields[f], kFields[f], on);
    if (!why.empty()) return fail(why);
    for (size_t v = 0; v < on.size(); ++v) {
      if (!on[v]) continue;
      switch (f) {
        case 0: calendar.minutes_.set(v); break;
        case 1: calendar.hours_.set(v); break;
        case 2: calendar.days_.set(v); break;
        case 3: calendar.months_.set(v); break;
        default: calendar.weekdays_.set(v % 7); break;
      }
    }
  }
  calendar.any_day_ = fields[2].front() == '*';
  calendar.any_weekday_ = fields[4].front() == '*';
  if (!calendar.Next(0, TimeZone()) && !calendar.Next(2000000000, TimeZone()))
    return fail("\"" + text + "\" names a day that never comes");
  return calendar;
}

bool CronCalendar::MatchesDay(int64_t days) const {
  const CivilTime date = CivilFromSeconds(days * 86400);
  if (!months_.test(static_cast<size_t>(date.month))) return false;
  const bool day = days_.test(static_cast<size_t>(date.day));
  const bool weekday = weekdays_.test(static_cast<size_t>(WeekdayOfDays(days)));
  // Both restricted: either one will do, as every cron has it.
  if (!any_day_ && !any_weekday_) return day || weekday;
  return day && weekday;
}

std::optional<int64_t> CronCalendar::Next(int64_t after, const TimeZone& zone) const {
  const int64_t start = zone.Local(after) / 60 * 60;
  const int64_t first_day = start >= 0 ? start / 86400 : (start - 86399) / 86400;
  for (int64_t day = first_day; day < first_day + 366 * kYearsAhead; ++day) {
    if (!MatchesDay(day)) continue;
    for (int hour = 0; hour < 24; ++hour) {
      if (!hours_.test(static_cast<size_t>(hour))) continue;
      for (int minute = 0; minute < 60; ++minute) {
        if (!minutes_.test(static_cast<size_t>(minute))) continue;
        const int64_t local = day * 86400 + hour * 3600 + minute * 60;
        if (local < start) continue;
        const int64_t utc = zone.Resolve(local);
        if (utc > after) return utc;
      }
    }
  }
  return std::nullopt;
}

std::vector<int64_t> CronCalendar::NextTimes(int64_t after, const TimeZone& zone, int count) const {
  std::vector<int64_t> times;
  while (static_cast<int>(times.size()) < count) {
    std::optional<int64_t> next = Next(times.empty() ? after : times.back(), zone);
    if (!next) break;
    times.push_back(*next);
  }
  return times;
}

std::optional<int64_t> CronCalendar::LastBetween(int64_t after, int64_t at,
                                                 const TimeZone& zone) const {
  std::optional<int64_t> last;
  for (std::optional<int64_t> next = Next(after, zone); next && *next <= at;
       next = Next(*next, zone))
    last = next;
  return last;
}

std::optional<std::string> ExpandRelativeDates(const std::string& value, int64_t at,
                                               const TimeZone& zone, std::string* problem) {
  const CivilTime now = CivilFromSeconds(zone.Local(at));
  const int64_t today = DaysFromCivil(now.year, now.month, now.day);
  const int64_t month_start = DaysFromCivil(now.year, now.month, 1);
  const int64_t previous_month_start = now.month == 1 ? DaysFromCivil(now.year - 1, 12, 1)
                                                      : DaysFromCivil(now.year, now.month - 1, 1);
  const struct {
    const char* form;
    int64_t day;
  } kForms[] = {
      {"today", today},
      {"previous day", today - 1},
      {"previous week", today - (WeekdayOfDays(today) + 6) % 7 - 7},
      {"previous month", previous_month_start},
      {"first day of previous month", previous_month_start},
      {"last day of previous month", month_start - 1},
  };
  std::string out;
  size_t from = 0;
  for (size_t open; (open = value.find('{', from)) != std::string::npos;) {
    out.append(value, from, open - from);
    const size_t close = value.find('}', open);
    if (close == std::string::npos) {
      if (problem) *problem = "\"" + value + "\" opens a relative date with \"{\" and never closes it";
      return std::nullopt;
    }
    const std::string inside = value.substr(open + 1, close - open - 1);
    const size_t colon = inside.find(':');
    const std::string form = Lower(inside.substr(0, colon));
    std::string picture = colon == std::string::npos ? "" : inside.substr(colon + 1);
    if (picture.empty()) picture = "yyyy-mm-dd";
    bool known = false;
    for (const auto& candidate : kForms) {
      if (form != candidate.form) continue;
      const CivilTime date = CivilFromSeconds(candidate.day * 86400);
      char iso[16];
      std::snprintf(iso, sizeof iso, "%04d-%02d-%02d", date.year, date.month, date.day);
      out += FormatValue(iso, picture, LocaleInfo::Current());
      known = true;
      break;
    }
    if (!known) {
      if (problem)
        *problem = "\"{" + inside + "}\" is no relative date; the forms are {today:PICTURE}, "
                   "{previous day:…}, {previous week:…}, {previous month:…}, "
                   "{first day of previous month:…} and {last day of previous month:…}";
      return std::nullopt;
    }
    from = close + 1;
  }
  out.append(value, from);
  return out;
}

std::string Rfc3339In(int64_t seconds, const TimeZone& zone) {
  const int offset = zone.Offset(seconds);
  const CivilTime local = CivilFromSeconds(seconds + offset);
  const int minutes = (offset < 0 ? -offset : offset) / 60;
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", local.year,
                local.month, local.day, local.hour, local.minute, local.second,
                offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return text;
}

}  // namespace vantrelle::server
