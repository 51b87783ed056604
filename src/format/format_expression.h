// A parsed format expression: the pattern of a template cell, split into its
// sections and tokens, ready to render values with.
//
// An expression has up to four sections separated by ";" (positive, negative,
// zero, Null for numbers; text and empty text for text). Each section is of
// one kind, decided by the codes it holds: text codes (@ &) make a text
// section, digit placeholders (0 #) a number section, date and time codes a
// date section; a section with none of them shows its literal characters.
// Within a section the characters that are not codes of its kind are shown as
// they stand. Parsing never fails: every text is some expression. Separators,
// names and the currency symbol are not resolved here but when a value is
// rendered, so a parsed expression does not depend on the locale and can be
// cached by its text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vantrelle {

enum class TokenKind : uint8_t {
  kLiteral,   ///< `text` shown as it stands
  kCurrency,  ///< the locale's currency symbol (named format Currency)
  // Numbers.
  kIntDigit,   ///< integer digit placeholder; `index` counts from the right
  kFracDigit,  ///< fraction digit placeholder; `index` counts from the left
  kExpDigit,   ///< exponent digit placeholder; `index` counts from the right
  kDecimalPoint,
  kExponent,  ///< `text` is the letter and the sign code, "E+" "E-" "e+" "e-"
  // Dates and times, in the order of their codes: c, d dd ddd dddd ddddd dddddd, w ww,
  // m mm mmm mmmm, q, y yy yyyy, h hh, n nn, s ss, ttttt, AM/PM, AMPM, / and :.
  kGeneralDate,  ///< c
  kDay,
  kDay2,
  kDayAbbr,
  kDayName,
  kShortDate,
  kLongDate,
  kWeekday,  ///< w: 1 for Sunday
  kWeek,     ///< ww
  kMonth,
  kMonth2,
  kMonthAbbr,
  kMonthName,
  kQuarter,
  kDayOfYear,
  kYear2,
  kYear4,
  kHour,
  kHour2,
  kMinute,
  kMinute2,
  kSecond,
  kSecond2,
  kLongTime,    ///< ttttt
  kAmPm,        ///< `text` before noon, `alt` after: AM/PM, am/pm, A/P, a/p
  kAmPmLocale,  ///< AMPM: the locale's markers
  kDateSeparator,
  kTimeSeparator,
  // Text.
  kCharOrBlank,    ///< @
  kCharOrNothing,  ///< &
  kComma,          ///< a comma while a number section is parsed; resolved away after
};

struct FormatToken {
  TokenKind kind = TokenKind::kLiteral;
  bool zero = false;  ///< digit placeholder "0" (shows 0 where the number has no digit)
  int index = 0;
  std::string text;
  std::string alt;
};

enum class SectionKind : uint8_t { kLiteral, kNumber, kDate, kText };

/// What a number section asks for, gathered from its placeholders.
struct NumberLayout {
  int int_digits = 0;           ///< integer placeholders
  int frac_digits = 0;          ///< fraction placeholders
  int exp_digits = 0;           ///< exponent placeholders
  int min_int_digits = 0;       ///< integer digits always shown (up to the leftmost "0")
  int min_exp_digits = 0;       ///< exponent digits always shown
  int mantissa_int_digits = 0;  ///< integer digits of a scientific mantissa
  int shift = 0;                ///< power of ten applied: +2 per %, -3 per scaling comma
  bool grouping = false;
  bool scientific = false;
};

struct FormatSection {
  SectionKind kind = SectionKind::kLiteral;
  bool empty = true;  ///< nothing between its separators: another section stands in
  std::vector<FormatToken> tokens;
  NumberLayout number;
  bool twelve_hour = false;    ///< an AM/PM code is present
  char letter_case = 0;        ///< '<' lower case, '>' upper case, 0 as it is
  bool left_to_right = false;  ///< "!": text placeholders fill from the left
  int text_placeholders = 0;
};

/// Named formats with behaviour of their own beyond a pattern.
enum class NamedFormat : uint8_t {
  kNone,
  kGeneralNumber,  ///< the number with all its digits, no grouping
  kBoolean,        ///< Yes/No, True/False, On/Off: the texts True and False read as -1 and 0
};

struct FormatExpression {
  std::vector<FormatSection> sections;  ///< one to four
  NamedFormat named = NamedFormat::kNone;
};

/// Parses \a text, a format expression or the name of a named format
/// (case-insensitive). Sections past the fourth are ignored; an unbalanced
/// quote runs to the end of its section; a trailing backslash shows nothing.
FormatExpression ParseFormatExpression(std::string_view text);

/// Like ParseFormatExpression, through a small per-thread cache keyed by the
/// text, since a pattern repeats down a column. The cache holds a bounded
/// number of short patterns; the result stays valid while it is held.
std::shared_ptr<const FormatExpression> CachedFormatExpression(std::string_view text);

}  // namespace vantrelle
