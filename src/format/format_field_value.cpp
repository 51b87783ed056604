#include "format/format_field_value.h"

#include <cctype>
#include <ctime>
#include <optional>
#include <utility>

#include "base/text_scan.h"
#include "format/format_date.h"
#include "format/format_expression.h"
#include "format/format_number.h"
#include "format/format_text.h"
#include "format/value_text.h"

namespace vantrelle {
namespace {

// Applies a section's case code to text the section rendered, without a copy
// when it has none.
std::string Cased(std::string text, char letter_case) {
  if (letter_case == 0) return text;
  return ApplyCase(text, letter_case);
}

// A date written without its year is in this year. Looked up once a second
// at most: a table fill asks for every cell.
int CurrentYear() {
  thread_local std::time_t last = -1;
  thread_local int year = 0;
  const std::time_t now = std::time(nullptr);
  if (now != last) {
    std::tm local{};
    localtime_r(&now, &local);
    year = local.tm_year + 1900;
    last = now;
  }
  return year;
}

std::string RenderLiterals(const FormatSection& section) {
  std::string out;
  for (const FormatToken& token : section.tokens) {
    if (token.kind == TokenKind::kLiteral) out.append(token.text);
  }
  return Cased(std::move(out), section.letter_case);
}

std::string RenderNumberValue(const FormatSection& section, const DecimalValue& number,
                              std::string_view value_text, const LocaleInfo& locale) {
  switch (section.kind) {
    case SectionKind::kNumber:
      return Cased(RenderNumber(section, number, locale), section.letter_case);
    case SectionKind::kDate: {
      // A number under a date expression is a serial day number.
      std::optional<DateTimeValue> date = DateTimeFromSerial(DecimalToDouble(number));
      if (!date) return std::string(value_text);
      return Cased(RenderDate(section, *date, locale), section.letter_case);
    }
    case SectionKind::kText:
      return RenderText(section, value_text);
    case SectionKind::kLiteral:
      break;
  }
  return RenderLiterals(section);
}

}  // namespace

std::string FormatValue(std::string_view value_text, std::string_view expression,
                        const LocaleInfo& locale) {
  std::shared_ptr<const FormatExpression> format = CachedFormatExpression(expression);
  const std::vector<FormatSection>& sections = format->sections;
  const FormatSection& first = sections.front();

  // Text expressions: the first section for text, the second for Null; without
  // a second section Null stays empty rather than becoming blanks.
  if (first.kind == SectionKind::kText) {
    if (value_text.empty()) return sections.size() >= 2 ? RenderText(sections[1], "") : "";
    return RenderText(first, value_text);
  }
  if (value_text.empty()) {
    if (sections.size() < 4 || sections[3].empty) return "";
    const FormatSection& null_section = sections[3];
    if (null_section.kind == SectionKind::kNumber) {
      return Cased(RenderNumber(null_section, DecimalValue{}, locale), null_section.letter_case);
    }
    if (null_section.kind == SectionKind::kText) return RenderText(null_section, "");
    return RenderLiterals(null_section);
  }

  // The data layer writes booleans as True and False; the boolean named
  // formats read them as -1 and 0. Other expressions leave that text alone.
  std::optional<DecimalValue> number;
  if (format->named == NamedFormat::kBoolean) {
    if (EqualsIgnoreCase(value_text, "True")) number = DecimalValue{true, "1", 1};
    if (EqualsIgnoreCase(value_text, "False")) number = DecimalValue{};
  }
  if (!number) number = ParseDecimal(value_text, locale);
  // Text that reads as a date is a date, even where its separators could
  // be the locale's group separators ("14.05.2004" in a locale grouping
  // with "."); other text with group separators between any digits is a
  // number.
  std::optional<DateTimeValue> date;
  if (!number) {
    date = ParseDateText(value_text, locale, CurrentYear());
    if (!date) number = ParseNumberText(value_text, locale);
  }
  if (number) {
    if (format->named == NamedFormat::kGeneralNumber) return GeneralNumberText(*number, locale);
    // Zero takes the third section, a negative number the second, each only
    // when present and not empty. A negative number in the first section
    // keeps its minus sign; its own section shows only what it holds.
    // The section follows the value before rounding, so -0.001 under
    // "0.00;(0.00)" shows "(0.00)".
    size_t index = 0;
    DecimalValue shown = *number;
    if (number->IsZero() && sections.size() >= 3 && !sections[2].empty) {
      index = 2;
    } else if (number->negative && sections.size() >= 2 && !sections[1].empty) {
      index = 1;
      shown.negative = false;
    }
    const FormatSection& section = sections[index];
    if (section.kind == SectionKind::kDate)
      return RenderNumberValue(section, *number, value_text, locale);
    return RenderNumberValue(section, shown, value_text, locale);
  }
  if (first.kind == SectionKind::kDate && date) {
    return Cased(RenderDate(first, *date, locale), first.letter_case);
  }
  return ApplyCase(value_text, first.letter_case);
}

std::string FormatFieldValue(std::string_view value_text, std::string_view format_text) {
  while (!format_text.empty() &&
         (format_text.back() == 7 || format_text.back() == 13 || format_text.back() == 10)) {
    format_text.remove_suffix(1);
  }
  if (format_text.empty()) return std::string(value_text);
  try {
    return FormatValue(value_text, format_text, LocaleInfo::Current());
  } catch (...) {
    // Only memory can run out here; the value as it stands is the safe answer.
    return std::string(value_text);
  }
}

}  // namespace vantrelle
