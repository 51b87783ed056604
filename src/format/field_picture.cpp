#include "format/field_picture.h"

#include <cctype>
#include <cstring>
#include <cwctype>

#include "base/text_encoding.h"
#include "base/text_scan.h"
#include "format/calendar.h"
#include "format/value_text.h"

namespace vantrelle {
namespace {

std::u32string Decode(std::string_view text) {
  std::u32string out;
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = s[i];
    int length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (i + length > text.size()) length = 1;
    char32_t cp = length == 1 ? c : length == 2 ? c & 0x1F : length == 3 ? c & 0x0F : c & 0x07;
    for (int k = 1; k < length; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    out += cp;
    i += static_cast<std::size_t>(length);
  }
  return out;
}

std::string Encode(const std::u32string& text) {
  std::string out;
  for (char32_t cp : text) AppendUtf8(out, cp);
  return out;
}

char32_t ToUpper(char32_t c) { return static_cast<char32_t>(std::towupper(static_cast<wint_t>(c))); }
char32_t ToLower(char32_t c) { return static_cast<char32_t>(std::towlower(static_cast<wint_t>(c))); }
bool IsLetter(char32_t c) { return std::iswalpha(static_cast<wint_t>(c)) != 0; }

}  // namespace

std::string DefaultDatePicture(const LocaleInfo& locale) {
  const std::string& sep = locale.date_separator;
  if (locale.short_date_order == "dmy") return "dd" + sep + "MM" + sep + "yyyy";
  if (locale.short_date_order == "ymd") return "yyyy" + sep + "MM" + sep + "dd";
  return "M" + sep + "d" + sep + "yyyy";
}

namespace {

const char* const kOnes[] = {"zero",    "one",     "two",       "three",    "four",
                             "five",    "six",     "seven",     "eight",    "nine",
                             "ten",     "eleven",  "twelve",    "thirteen", "fourteen",
                             "fifteen", "sixteen", "seventeen", "eighteen", "nineteen"};
const char* const kTens[] = {"",      "",      "twenty",  "thirty", "forty",
                             "fifty", "sixty", "seventy", "eighty", "ninety"};

// 0 to 999, in words: "one hundred twenty-three".
std::string CardinalBelowThousand(long long n) {
  std::string out;
  if (n >= 100) {
    out = std::string(kOnes[n / 100]) + " hundred";
    n %= 100;
    if (n == 0) return out;
    out += ' ';
  }
  if (n < 20) return out + kOnes[n];
  out += kTens[n / 10];
  if (n % 10 != 0) out += std::string("-") + kOnes[n % 10];
  return out;
}

// 0 to 999,999 in words.
std::string CardinalText(long long n) {
  if (n < 1000) return CardinalBelowThousand(n);
  std::string out = CardinalBelowThousand(n / 1000) + " thousand";
  if (n % 1000 != 0) out += " " + CardinalBelowThousand(n % 1000);
  return out;
}

// The cardinal's last word made ordinal: "twenty-one" -> "twenty-first".
std::string OrdinalText(long long n) {
  std::string text = CardinalText(n);
  std::size_t start = text.find_last_of(" -") + 1;  // npos + 1 == 0
  const std::string last = text.substr(start);
  static const std::pair<const char*, const char*> kIrregular[] = {
      {"one", "first"}, {"two", "second"}, {"three", "third"}, {"five", "fifth"},
      {"eight", "eighth"}, {"nine", "ninth"}, {"twelve", "twelfth"}};
  for (const auto& [cardinal, ordinal] : kIrregular) {
    if (last == cardinal) return text.substr(0, start) + ordinal;
  }
  if (last.back() == 'y') return text.substr(0, text.size() - 1) + "ieth";
  return text + "th";
}

std::string RomanText(long long n, bool lower) {
  static const std::pair<int, const char*> kNumerals[] = {
      {1000, "M"}, {900, "CM"}, {500, "D"}, {400, "CD"}, {100, "C"}, {90, "XC"}, {50, "L"},
      {40, "XL"},  {10, "X"},   {9, "IX"},  {5, "V"},    {4, "IV"},  {1, "I"}};
  std::string out;
  for (const auto& [value, numeral] : kNumerals) {
    for (; n >= value; n -= value) out += numeral;
  }
  if (lower) {
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

// 1 -> A, 26 -> Z, 27 -> AA, 28 -> BB: the letter repeated once per round.
std::string AlphabeticText(long long n, bool lower) {
  const char letter = static_cast<char>((lower ? 'a' : 'A') + (n - 1) % 26);
  return std::string(static_cast<std::size_t>((n - 1) / 26 + 1), letter);
}

std::string HexText(unsigned long long n, bool lower) {
  const char* digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
  std::string out;
  do {
    out.insert(out.begin(), digits[n % 16]);
    n /= 16;
  } while (n != 0);
  return out;
}

// The whole number \a number rounds to (half away from zero), when it is
// small enough to be worth naming.
std::optional<long long> RoundedInteger(DecimalValue number) {
  RoundDecimal(number, 0);
  if (number.point > 15) return std::nullopt;
  long long n = 0;
  for (int i = 0; i < number.point; ++i) {
    n = n * 10 + (i < static_cast<int>(number.digits.size()) ? number.digits[i] - '0' : 0);
  }
  return number.negative ? -n : n;
}

// The \* switches that show a number in another form. Nothing when \a option
// is not one of them; \a value itself when it does not read as a number or
// the number has no form there (a negative number, Roman zero, text beyond
// 999,999).
std::optional<std::string> NumberFormatSwitch(const std::string& value, std::string_view option,
                                              const LocaleInfo& locale) {
  static const char* const kNumberSwitches[] = {"Arabic",  "ArabicDash", "Roman",
                                                "Alphabetic", "Ordinal", "CardText",
                                                "OrdText", "DollarText", "Hex"};
  bool known = false;
  for (const char* name : kNumberSwitches) known = known || EqualsIgnoreCase(option, name);
  if (!known) return std::nullopt;
  std::optional<DecimalValue> number = ParseDecimal(value, locale);
  if (!number) return value;
  // A lower-case first letter asks for lower-case numerals and letters.
  const bool lower = std::islower(static_cast<unsigned char>(option.front())) != 0;
  if (EqualsIgnoreCase(option, "DollarText")) {
    if (number->negative && !number->IsZero()) return value;
    DecimalValue cents = *number;
    RoundDecimal(cents, 2);
    std::optional<long long> hundredths = RoundedInteger(
        DecimalValue{false, cents.digits, cents.point + 2});
    if (!hundredths || *hundredths / 100 > 999999) return value;
    const long long rest = *hundredths % 100;
    return CardinalText(*hundredths / 100) + " and " + (rest < 10 ? "0" : "") +
           std::to_string(rest) + "/100";
  }
  std::optional<long long> n = RoundedInteger(*number);
  if (!n) return value;
  if (EqualsIgnoreCase(option, "Arabic")) return std::to_string(*n);
  if (EqualsIgnoreCase(option, "ArabicDash")) return "- " + std::to_string(*n) + " -";
  if (*n < 0) return value;
  if (EqualsIgnoreCase(option, "Hex")) return HexText(static_cast<unsigned long long>(*n), lower);
  if (EqualsIgnoreCase(option, "Ordinal")) {
    const long long tens = *n % 100, ones = *n % 10;
    const char* suffix = tens >= 11 && tens <= 13 ? "th"
                         : ones == 1             ? "st"
                         : ones == 2             ? "nd"
                         : ones == 3             ? "rd"
                                                 : "th";
    return std::to_string(*n) + suffix;
  }
  if (EqualsIgnoreCase(option, "CardText")) return *n > 999999 ? value : CardinalText(*n);
  if (EqualsIgnoreCase(option, "OrdText")) return *n > 999999 ? value : OrdinalText(*n);
  if (*n == 0) return value;
  if (EqualsIgnoreCase(option, "Roman")) return *n > 32767 ? value : RomanText(*n, lower);
  return *n > 780 ? value : AlphabeticText(*n, lower);  // Alphabetic
}

}  // namespace

std::string ApplyFormatSwitches(std::string value, const std::vector<std::string>& switches,
                                const LocaleInfo& locale) {
  for (const std::string& option : switches) {
    if (std::optional<std::string> shown = NumberFormatSwitch(value, option, locale)) {
      value = std::move(*shown);
    } else if (EqualsIgnoreCase(option, "Upper") || EqualsIgnoreCase(option, "Lower")) {
      bool upper = EqualsIgnoreCase(option, "Upper");
      std::u32string text = Decode(value);
      for (char32_t& c : text) c = upper ? ToUpper(c) : ToLower(c);
      value = Encode(text);
    } else if (EqualsIgnoreCase(option, "FirstCap") || EqualsIgnoreCase(option, "Caps")) {
      bool every_word = EqualsIgnoreCase(option, "Caps");
      std::u32string text = Decode(value);
      bool at_word_start = true;
      bool done = false;
      for (char32_t& c : text) {
        if (IsLetter(c)) {
          if (at_word_start && !done) c = ToUpper(c);
          at_word_start = false;
          if (!every_word) done = true;
        } else {
          at_word_start = std::iswspace(static_cast<wint_t>(c)) != 0 || at_word_start;
        }
      }
      value = Encode(text);
    }
  }
  return value;
}

std::optional<std::string> FormatDatePicture(const std::tm& time, std::string_view picture,
                                             const LocaleInfo& locale) {
  std::string out;
  for (std::size_t i = 0; i < picture.size();) {
    const char c = picture[i];
    if (c == '\'') {
      std::size_t close = picture.find('\'', i + 1);
      if (close == std::string_view::npos) close = picture.size();
      out.append(picture.substr(i + 1, close - i - 1));
      i = close + 1;
      continue;
    }
    if ((c == 'a' || c == 'A') && i + 5 <= picture.size() &&
        EqualsIgnoreCase(picture.substr(i, 5), "am/pm")) {
      std::string mark = DayPeriod(locale, time.tm_hour);
      if (c == 'a') {
        for (char& m : mark) m = static_cast<char>(std::tolower(static_cast<unsigned char>(m)));
      } else {
        mark = UpperAscii(mark);
      }
      out += mark;
      i += 5;
      continue;
    }
    const bool ascii_letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!ascii_letter) {
      out += c;
      ++i;
      continue;
    }
    // Day and year letters read in either case; the case of M and m tells
    // month from minute, that of H and h the 24-hour from the 12-hour clock.
    // Any other letter is no code, and the picture cannot be read.
    const char code = c == 'D' ? 'd' : c == 'Y' ? 'y' : c;
    if (std::strchr("dMyhHms", code) == nullptr) return std::nullopt;
    std::size_t count = 1;
    while (i + count < picture.size() && picture[i + count] == c) ++count;
    i += count;
    switch (code) {
      case 'd':
        if (count <= 2) AppendNumber(time.tm_mday, static_cast<int>(count), out);
        else out += DayName(locale, time.tm_wday, count == 3);
        break;
      case 'M':
        if (count <= 2) AppendNumber(time.tm_mon + 1, static_cast<int>(count), out);
        else out += MonthName(locale, time.tm_mon + 1, count == 3);
        break;
      case 'y':
        if (count <= 2) AppendNumber((time.tm_year + 1900) % 100, 2, out);
        else AppendNumber(time.tm_year + 1900, 1, out);
        break;
      case 'h':
        AppendNumber(Hour12(time.tm_hour), count == 1 ? 1 : 2, out);
        break;
      case 'H':
        AppendNumber(time.tm_hour, count == 1 ? 1 : 2, out);
        break;
      case 'm':
        AppendNumber(time.tm_min, count == 1 ? 1 : 2, out);
        break;
      case 's':
        AppendNumber(time.tm_sec, count == 1 ? 1 : 2, out);
        break;
    }
  }
  return out;
}

namespace {

// One piece of a numeric picture section.
struct PictureItem {
  enum Kind { kDigit, kPoint, kGroup, kSign, kLiteral } kind;
  char symbol = 0;   // kDigit: '0', '#' or 'x'; kSign: '-' or '+'
  std::string text;  // kLiteral
};

std::vector<std::string> SplitSections(std::string_view picture) {
  std::vector<std::string> sections(1);
  char quote = 0;
  for (char c : picture) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == ';') {
      sections.emplace_back();
      continue;
    }
    sections.back() += c;
  }
  return sections;
}

// The picture writes the decimal and group separators as the locale does.
std::vector<PictureItem> ParseSection(std::string_view section, const std::string& point,
                                      const std::string& group) {
  std::vector<PictureItem> items;
  bool seen_point = false;
  auto literal = [&](std::string_view text) {
    if (items.empty() || items.back().kind != PictureItem::kLiteral) {
      items.push_back({PictureItem::kLiteral, 0, ""});
    }
    items.back().text.append(text);
  };
  for (std::size_t i = 0; i < section.size(); ++i) {
    char c = section[i];
    if (c == '\'' || c == '"') {
      std::size_t close = section.find(c, i + 1);
      if (close == std::string_view::npos) close = section.size();
      literal(section.substr(i + 1, close - i - 1));
      i = close;
    } else if (c == '0' || c == '#' || c == 'x') {
      items.push_back({PictureItem::kDigit, c, ""});
    } else if (section.compare(i, point.size(), point) == 0 && !seen_point) {
      seen_point = true;
      items.push_back({PictureItem::kPoint, 0, ""});
      i += point.size() - 1;
    } else if (section.compare(i, group.size(), group) == 0 && !seen_point) {
      items.push_back({PictureItem::kGroup, 0, ""});
      i += group.size() - 1;
    } else if (c == '-' || c == '+') {
      items.push_back({PictureItem::kSign, c, ""});
    } else {
      literal(section.substr(i, 1));
    }
  }
  return items;
}

}  // namespace

std::optional<std::string> FormatNumericPicture(std::string_view value, std::string_view picture,
                                                const LocaleInfo& locale) {
  std::optional<DecimalValue> number = ParseDecimal(value, locale);
  if (!number) return std::nullopt;
  const std::string point_text =
      locale.decimal_separator.empty() ? std::string(".") : locale.decimal_separator;
  const std::string group_text =
      locale.group_separator.empty() ? std::string(",") : locale.group_separator;

  // A second section is for negative numbers, which it shows without their
  // sign; a third is for zero.
  std::vector<std::string> sections = SplitSections(picture);
  std::size_t chosen = 0;
  if (number->IsZero() && sections.size() >= 3)
    chosen = 2;
  else if (number->negative && sections.size() >= 2)
    chosen = 1;
  std::vector<PictureItem> items = ParseSection(sections[chosen], point_text, group_text);

  int integer_places = 0, fraction_places = 0, x_place = -1;
  bool grouped = false, has_point = false, has_sign = false;
  for (const PictureItem& item : items) {
    if (item.kind == PictureItem::kPoint) has_point = true;
    if (item.kind == PictureItem::kGroup) grouped = true;
    if (item.kind == PictureItem::kSign) has_sign = true;
    if (item.kind != PictureItem::kDigit) continue;
    if (has_point) {
      ++fraction_places;
    } else {
      if (item.symbol == 'x' && x_place < 0) x_place = integer_places;
      ++integer_places;
    }
  }
  RoundDecimal(*number, fraction_places);
  const bool negative = number->negative && !number->IsZero();
  const bool signs_are_literal = chosen != 0;

  // The digits before and after the point.
  std::string integer, fraction;
  const std::string& digits = number->digits;
  for (int i = 0; i < number->point; ++i) {
    integer += i < static_cast<int>(digits.size()) ? digits[static_cast<std::size_t>(i)] : '0';
  }
  for (int i = 0; i < fraction_places; ++i) {
    int at = number->point + i;
    fraction += at >= 0 && at < static_cast<int>(digits.size())
                    ? digits[static_cast<std::size_t>(at)]
                    : '0';
  }
  // x drops the digits left of its place.
  if (x_place >= 0) {
    std::size_t keep = static_cast<std::size_t>(integer_places - x_place);
    if (integer.size() > keep) integer.erase(0, integer.size() - keep);
  }

  // The integer part, highest place first: each place a digit, or what its
  // placeholder shows without one (0 a zero, # a space).
  std::vector<PictureItem> places;
  for (const PictureItem& item : items) {
    if (item.kind == PictureItem::kDigit &&
        places.size() < static_cast<std::size_t>(integer_places))
      places.push_back(item);
  }
  std::string integer_text;
  {
    const int count = std::max(static_cast<int>(integer.size()), integer_places);
    for (int k = count - 1; k >= 0; --k) {  // k: place, 0 for units
      bool real = k < static_cast<int>(integer.size());
      char shown = real ? integer[integer.size() - 1 - static_cast<std::size_t>(k)]
                   : places[static_cast<std::size_t>(integer_places - 1 - k)].symbol == '#' ? ' '
                                                                                            : '0';
      integer_text += shown;
      if (grouped && k > 0 && k % 3 == 0) {
        if (shown == ' ')
          integer_text += ' ';
        else
          integer_text += group_text;
      }
    }
  }

  std::string out;
  bool integer_written = false, after_point = false;
  int fraction_seen = 0;
  // The integer part goes where the first digit place or the point stands,
  // a minus sign the picture has no place for just before its first digit.
  auto write_integer = [&]() {
    if (integer_written) return;
    integer_written = true;
    std::size_t blanks = integer_text.find_first_not_of(' ');
    if (blanks == std::string::npos) blanks = integer_text.size();
    out.append(integer_text, 0, blanks);
    if (negative && !has_sign && !signs_are_literal) out += '-';
    out.append(integer_text, blanks);
  };
  for (const PictureItem& item : items) {
    switch (item.kind) {
      case PictureItem::kLiteral:
        out += item.text;
        break;
      case PictureItem::kSign:
        if (signs_are_literal)
          out += item.symbol;
        else if (negative)
          out += '-';
        else if (item.symbol == '+' && !number->IsZero())
          out += '+';
        else
          out += ' ';
        break;
      case PictureItem::kGroup:
        break;
      case PictureItem::kPoint:
        write_integer();
        out += point_text;
        after_point = true;
        break;
      case PictureItem::kDigit:
        if (after_point) {
          std::size_t at = static_cast<std::size_t>(fraction_seen++);
          // A # place after the last significant digit shows nothing.
          bool trailing = fraction.find_first_not_of('0', at) == std::string::npos;
          if (!(item.symbol == '#' && trailing)) out += fraction[at];
        } else {
          write_integer();
        }
        break;
    }
  }
  if (!integer_written && integer_places == 0 && !has_point && chosen == 0) {
    // A picture without digit places still shows the number; a section for
    // negative numbers or zero may be text alone.
    integer_text = integer.empty() ? "0" : integer;
    write_integer();
  }
  return out;
}

std::optional<std::string> FormatDateText(std::string_view value, std::string_view picture,
                                          const LocaleInfo& locale) {
  std::optional<DateTimeValue> date = ParseDateTime(value, locale);
  if (!date) return std::nullopt;
  std::tm time{};
  time.tm_year = date->year - 1900;
  time.tm_mon = date->month - 1;
  time.tm_mday = date->day;
  time.tm_hour = date->hour;
  time.tm_min = date->minute;
  time.tm_sec = date->second;
  time.tm_wday = DayOfWeek(*date) - 1;
  return FormatDatePicture(time, picture, locale);
}


}  // namespace vantrelle
