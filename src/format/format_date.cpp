#include "format/format_date.h"

#include "format/calendar.h"

namespace vantrelle {
namespace {

// The short and long date in the locale's order of day, month and year.
std::string_view ShortDatePattern(const LocaleInfo& locale) {
  if (locale.short_date_order == "dmy") return "dd/mm/yyyy";
  if (locale.short_date_order == "ymd") return "yyyy/mm/dd";
  return "m/d/yyyy";
}

std::string_view LongDatePattern(const LocaleInfo& locale) {
  if (locale.short_date_order == "dmy") return "dddd, d mmmm yyyy";
  if (locale.short_date_order == "ymd") return "yyyy mmmm d, dddd";
  return "dddd, mmmm d, yyyy";
}

constexpr std::string_view kLongTimePattern = "h:nn:ss AMPM";

void RenderInto(const FormatSection& section, const DateTimeValue& value, const LocaleInfo& locale,
                std::string& out);

void RenderPattern(std::string_view pattern, const DateTimeValue& value, const LocaleInfo& locale,
                   std::string& out) {
  auto expression = CachedFormatExpression(pattern);
  RenderInto(expression->sections.front(), value, locale, out);
}

void RenderInto(const FormatSection& section, const DateTimeValue& value, const LocaleInfo& locale,
                std::string& out) {
  int hour = section.twelve_hour ? Hour12(value.hour) : value.hour;
  for (const FormatToken& token : section.tokens) {
    switch (token.kind) {
      case TokenKind::kLiteral:
        out.append(token.text);
        break;
      case TokenKind::kGeneralDate: {
        // Day 0 without a time of day still shows as a time (midnight).
        bool has_date = !(value.year == 1899 && value.month == 12 && value.day == 30);
        bool has_time = value.hour != 0 || value.minute != 0 || value.second != 0;
        if (has_date) RenderPattern(ShortDatePattern(locale), value, locale, out);
        if (has_time || !has_date) {
          if (has_date) out.push_back(' ');
          RenderPattern(kLongTimePattern, value, locale, out);
        }
        break;
      }
      case TokenKind::kShortDate:
        RenderPattern(ShortDatePattern(locale), value, locale, out);
        break;
      case TokenKind::kLongDate:
        RenderPattern(LongDatePattern(locale), value, locale, out);
        break;
      case TokenKind::kLongTime:
        RenderPattern(kLongTimePattern, value, locale, out);
        break;
      case TokenKind::kDay:
        AppendNumber(value.day, 1, out);
        break;
      case TokenKind::kDay2:
        AppendNumber(value.day, 2, out);
        break;
      case TokenKind::kDayAbbr:
        out.append(DayName(locale, DayOfWeek(value) - 1, true));
        break;
      case TokenKind::kDayName:
        out.append(DayName(locale, DayOfWeek(value) - 1, false));
        break;
      case TokenKind::kWeekday:
        AppendNumber(DayOfWeek(value), 1, out);
        break;
      case TokenKind::kWeek:
        AppendNumber(WeekOfYear(value), 1, out);
        break;
      case TokenKind::kMonth:
        AppendNumber(value.month, 1, out);
        break;
      case TokenKind::kMonth2:
        AppendNumber(value.month, 2, out);
        break;
      case TokenKind::kMonthAbbr:
        out.append(MonthName(locale, value.month, true));
        break;
      case TokenKind::kMonthName:
        out.append(MonthName(locale, value.month, false));
        break;
      case TokenKind::kQuarter:
        AppendNumber((value.month - 1) / 3 + 1, 1, out);
        break;
      case TokenKind::kDayOfYear:
        AppendNumber(DayOfYear(value), 1, out);
        break;
      case TokenKind::kYear2:
        AppendNumber(value.year % 100, 2, out);
        break;
      case TokenKind::kYear4:
        AppendNumber(value.year, 4, out);  // years before 1000 keep four digits
        break;
      case TokenKind::kHour:
        AppendNumber(hour, 1, out);
        break;
      case TokenKind::kHour2:
        AppendNumber(hour, 2, out);
        break;
      case TokenKind::kMinute:
        AppendNumber(value.minute, 1, out);
        break;
      case TokenKind::kMinute2:
        AppendNumber(value.minute, 2, out);
        break;
      case TokenKind::kSecond:
        AppendNumber(value.second, 1, out);
        break;
      case TokenKind::kSecond2:
        AppendNumber(value.second, 2, out);
        break;
      case TokenKind::kAmPm:
        out.append(value.hour < 12 ? token.text : token.alt);
        break;
      case TokenKind::kAmPmLocale:
        out.append(DayPeriod(locale, value.hour));
        break;
      case TokenKind::kDateSeparator:
        out.append(locale.date_separator);
        break;
      case TokenKind::kTimeSeparator:
        out.append(locale.time_separator);
        break;
      default:
        break;
    }
  }
}

}  // namespace

std::string RenderDate(const FormatSection& section, const DateTimeValue& value,
                       const LocaleInfo& locale) {
  std::string out;
  out.reserve(32);
  RenderInto(section, value, locale, out);
  return out;
}

}  // namespace vantrelle
