#include "word/fields.h"

#include <cctype>
#include <cstring>
#include <cwctype>
#include <set>
#include <unordered_map>

#include "run/text_encoding.h"
#include "run/text_scan.h"
#include "sql/value_text.h"

namespace vantrelle {

namespace {

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

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

std::string Pad2(int value) {
  std::string s = std::to_string(value);
  return s.size() < 2 ? "0" + s : s;
}

// The locale's short date, written as a date picture.
std::string DefaultDatePicture(const LocaleInfo& locale) {
  const std::string& sep = locale.date_separator;
  if (locale.short_date_order == "dmy") return "dd" + sep + "MM" + sep + "yyyy";
  if (locale.short_date_order == "ymd") return "yyyy" + sep + "MM" + sep + "dd";
  return "M" + sep + "d" + sep + "yyyy";
}

}  // namespace

FieldCode ParseFieldCode(std::string_view code) {
  std::vector<std::pair<std::string, bool>> tokens;  // text, is a switch
  std::size_t i = 0;
  while (i < code.size()) {
    char c = code[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '"') {
      std::string token;
      for (++i; i < code.size() && code[i] != '"'; ++i) {
        if (code[i] == '\\' && i + 1 < code.size()) ++i;
        token += code[i];
      }
      ++i;
      tokens.emplace_back(token, false);
    } else if (c == '\\' && i + 1 < code.size()) {
      tokens.emplace_back(std::string(1, code[i + 1]), true);
      i += 2;
    } else {
      std::size_t start = i;
      while (i < code.size() && !std::isspace(static_cast<unsigned char>(code[i])) &&
             code[i] != '"') {
        ++i;
      }
      tokens.emplace_back(std::string(code.substr(start, i - start)), false);
    }
  }
  FieldCode result;
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    const auto& [text, is_switch] = tokens[k];
    if (is_switch) {
      bool has_value = k + 1 < tokens.size() && !tokens[k + 1].second;
      if (text == "*" && has_value) result.format_switches.push_back(tokens[++k].first);
      else if (text == "@" && has_value) result.date_picture = tokens[++k].first;
      else if (text == "#" && has_value)
        result.numeric_picture = tokens[++k].first;
      else if (text == "!" && has_value)
        ++k;
    } else if (k == 0) {
      result.type = Upper(text);
    } else if (result.argument.empty() && k == 1) {
      result.argument = text;
    }
  }
  return result;
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
      std::string mark = time.tm_hour < 12 ? locale.am : locale.pm;
      if (c == 'a') {
        for (char& m : mark) m = static_cast<char>(std::tolower(static_cast<unsigned char>(m)));
      } else {
        mark = Upper(mark);
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
        if (count == 1) out += std::to_string(time.tm_mday);
        else if (count == 2) out += Pad2(time.tm_mday);
        else if (count == 3) out += locale.day_abbreviations[time.tm_wday % 7];
        else out += locale.day_names[time.tm_wday % 7];
        break;
      case 'M':
        if (count == 1) out += std::to_string(time.tm_mon + 1);
        else if (count == 2) out += Pad2(time.tm_mon + 1);
        else if (count == 3) out += locale.month_abbreviations[time.tm_mon % 12];
        else out += locale.month_names[time.tm_mon % 12];
        break;
      case 'y':
        out += count <= 2 ? Pad2((time.tm_year + 1900) % 100) : std::to_string(time.tm_year + 1900);
        break;
      case 'h': {
        int hour = time.tm_hour % 12 == 0 ? 12 : time.tm_hour % 12;
        out += count == 1 ? std::to_string(hour) : Pad2(hour);
        break;
      }
      case 'H':
        out += count == 1 ? std::to_string(time.tm_hour) : Pad2(time.tm_hour);
        break;
      case 'm':
        out += count == 1 ? std::to_string(time.tm_min) : Pad2(time.tm_min);
        break;
      case 's':
        out += count == 1 ? std::to_string(time.tm_sec) : Pad2(time.tm_sec);
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

std::vector<FieldSpan> FindFields(pugi::xml_node story, const WordNames& names) {
  std::vector<FieldSpan> fields;
  std::vector<std::size_t> open;  // indexes of complex fields begun, not ended
  std::vector<bool> complete;
  auto visit = [&](auto&& self, pugi::xml_node node) -> void {
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
      if (child.type() != pugi::node_element) continue;
      const char* name = child.name();
      // Property containers hold no fields and are a large share of the
      // elements of a big table.
      if (IsPropertiesName(name)) continue;
      if (names.Is(child, names.fldChar)) {
        std::string_view type = child.attribute(names.a_fldCharType.c_str()).value();
        if (type == "begin") {
          FieldSpan span;
          span.begin = child.parent();
          std::string_view lock = child.attribute(names.a_fldLock.c_str()).value();
          span.locked = lock == "1" || lock == "true" || lock == "on";
          open.push_back(fields.size());
          fields.push_back(span);
          complete.push_back(false);
        } else if (type == "separate" && !open.empty()) {
          fields[open.back()].separate = child.parent();
        } else if (type == "end" && !open.empty()) {
          fields[open.back()].end = child.parent();
          complete[open.back()] = true;
          open.pop_back();
        }
        continue;
      }
      if (names.Is(child, names.instrText)) {
        if (!open.empty() && !fields[open.back()].separate) {
          FieldSpan& span = fields[open.back()];
          span.code += child.child_value();
          if (!span.first_code) span.first_code = child.parent();
        }
        continue;
      }
      if (names.Is(child, names.fldSimple)) {
        FieldSpan span;
        span.simple = child;
        span.code = child.attribute(names.a_instr.c_str()).value();
        std::string_view lock = child.attribute(names.a_fldLock.c_str()).value();
        span.locked = lock == "1" || lock == "true" || lock == "on";
        fields.push_back(span);
        complete.push_back(true);
      }
      // Both branches of alternate content are walked: a reader that does
      // not understand the first shows the fallback, which must not keep an
      // old result.
      self(self, child);
    }
  };
  visit(visit, story);
  std::vector<FieldSpan> result;
  result.reserve(fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (complete[i]) result.push_back(std::move(fields[i]));
  }
  return result;
}

std::optional<std::string> ComputeFieldResult(const FieldCode& code, const FieldContext& context) {
  const LocaleInfo& locale = context.locale ? *context.locale : LocaleInfo::Current();
  if (code.type == "DOCVARIABLE") {
    std::optional<std::string> value;
    if (!code.argument.empty() && context.variable) value = context.variable(code.argument);
    if (!value) return std::string("Error! No document variable supplied.");
    // The picture applies to a value that reads as its kind; any other value
    // stays as it is. Case switches come after it.
    // A date picture that cannot be read leaves the result as it is,
    // whatever the value.
    std::optional<std::string> formatted;
    if (code.date_picture) {
      if (!FormatDatePicture(std::tm{}, *code.date_picture, locale)) return std::nullopt;
      formatted = FormatDateText(*value, *code.date_picture, locale);
    }
    if (!formatted && code.numeric_picture) {
      formatted = FormatNumericPicture(*value, *code.numeric_picture, locale);
    }
    return ApplyFormatSwitches(formatted ? *formatted : *value, code.format_switches, locale);
  }
  if (code.type == "DATE" || code.type == "TIME") {
    std::string picture;
    if (code.date_picture) picture = *code.date_picture;
    else if (code.type == "DATE") picture = DefaultDatePicture(locale);
    else picture = locale.am.empty() ? "HH:mm" : "h:mm AM/PM";
    std::optional<std::string> shown = FormatDatePicture(context.now, picture, locale);
    if (!shown) return std::nullopt;
    return ApplyFormatSwitches(std::move(*shown), code.format_switches, locale);
  }
  return std::nullopt;
}

namespace {

pugi::xml_node FirstRunWithProperties(pugi::xml_node from, pugi::xml_node until,
                                      const WordNames& names) {
  for (pugi::xml_node node = from; node && node != until; node = node.next_sibling()) {
    if (names.Is(node, names.r) && node.child(names.rPr.c_str())) return node;
  }
  return {};
}

bool FormatSwitchIs(const FieldCode& code, std::string_view option) {
  for (const auto& s : code.format_switches) {
    if (EqualsIgnoreCase(s, option)) return true;
  }
  return false;
}

// The run whose look the new result takes: the field code's with
// CHARFORMAT, else \a old_result (the old result's first formatted run, if
// any), else the field code's.
pugi::xml_node ResultStyle(const FieldSpan& field, const FieldCode& code,
                           pugi::xml_node old_result) {
  if (FormatSwitchIs(code, "CHARFORMAT") && field.first_code) return field.first_code;
  if (old_result) return old_result;
  return field.first_code ? field.first_code : field.begin;
}

bool IsBookmarkMark(pugi::xml_node node, const WordNames& names) {
  return names.Is(node, names.bookmarkStart) || names.Is(node, names.bookmarkEnd);
}

// Keeps the bookmark marks of a result that is replaced around its new run:
// starts before it, ends after it, so a bookmark over the result still
// holds it.
struct BookmarkKeeper {
  pugi::xml_node run, last_end;
  const WordNames& names;
  void Keep(pugi::xml_node mark) {
    if (names.Is(mark, names.bookmarkStart)) {
      run.parent().insert_move_before(mark, run);
    } else {
      last_end = run.parent().insert_move_after(mark, last_end ? last_end : run);
    }
  }
  void KeepAllIn(pugi::xml_node node) {
    std::vector<pugi::xml_node> marks;
    auto collect = [&](auto&& self, pugi::xml_node parent) -> void {
      for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) continue;
        if (IsBookmarkMark(child, names))
          marks.push_back(child);
        else
          self(self, child);
      }
    };
    collect(collect, node);
    for (pugi::xml_node mark : marks) Keep(mark);
  }
};

// True when \a node is or holds an element of local name \a local.
bool HoldsElement(pugi::xml_node node, const char* local) {
  if (!node) return false;
  if (LocalNameIs(node.name(), local)) return true;
  return node.find_node([local](pugi::xml_node n) { return LocalNameIs(n.name(), local); });
}

// A result that runs from the separator's paragraph into a later one is
// replaced whole: the new text follows the separator, and the end mark with
// what follows it in its paragraph joins the first paragraph, as deleting
// the old result would join them. Bookmarks in the old result stay.
bool ReplaceResultAcrossParagraphs(const FieldSpan& field, const FieldCode& code,
                                   const std::string& text, const WordNames& names,
                                   bool& removed_fields) {
  pugi::xml_node separate = field.separate, end = field.end;
  pugi::xml_node first = separate.parent(), last = end.parent();
  if (!names.Is(first, names.p) || !names.Is(last, names.p) || first.parent() != last.parent()) {
    return false;
  }
  std::vector<pugi::xml_node> between;
  pugi::xml_node node = first.next_sibling();
  for (; node && node != last; node = node.next_sibling()) between.push_back(node);
  if (node != last) return false;
  // Joining paragraphs must not lose a section break, and a table in the
  // result is one the document numbers and may have filled: both keep the
  // old result.
  for (pugi::xml_node n : between) {
    if (HoldsElement(n, "sectPr") || HoldsElement(n, "tbl")) return false;
  }
  if (HoldsElement(last.child(names.pPr.c_str()), "sectPr")) return false;

  pugi::xml_node formatted = FirstRunWithProperties(separate.next_sibling(), {}, names);
  if (!formatted) formatted = FirstRunWithProperties(last.first_child(), end, names);
  const pugi::xml_node style = ResultStyle(field, code, formatted);
  pugi::xml_node run = first.append_child(names.r.c_str());
  CopyChildToFront(style, run, names.rPr);
  AppendRunText(run, text, names);

  BookmarkKeeper keeper{run, {}, names};
  auto drop = [&](pugi::xml_node old) {
    if (IsBookmarkMark(old, names)) {
      keeper.Keep(old);
      return;
    }
    removed_fields = removed_fields || HoldsFields(old, names);
    keeper.KeepAllIn(old);
    old.parent().remove_child(old);
  };
  std::vector<pugi::xml_node> old_in_first;
  for (pugi::xml_node old = separate.next_sibling(); old != run; old = old.next_sibling()) {
    old_in_first.push_back(old);
  }
  for (pugi::xml_node old : old_in_first) drop(old);
  for (pugi::xml_node old : between) drop(old);
  for (pugi::xml_node old = last.first_child(); old != end;) {
    pugi::xml_node next = old.next_sibling();
    if (!names.Is(old, names.pPr)) drop(old);
    old = next;
  }
  for (pugi::xml_node tail = end; tail;) {
    pugi::xml_node next = tail.next_sibling();
    first.append_move(tail);
    tail = next;
  }
  last.parent().remove_child(last);
  return true;
}

// The separator and the end mark in one paragraph but under different
// parents (a hyperlink, a tracked insertion, an inline content control):
// the new text follows the separator, and on every level between the two
// marks the old result goes; bookmark marks and wrappers' properties stay.
bool ReplaceResultWithinParagraph(const FieldSpan& field, const FieldCode& code,
                                  const std::string& text, const WordNames& names,
                                  bool& removed_fields) {
  pugi::xml_node separate = field.separate, end = field.end;
  pugi::xml_node common;
  for (pugi::xml_node a = separate.parent(); a && !common; a = a.parent()) {
    for (pugi::xml_node b = end.parent(); b; b = b.parent()) {
      if (a == b) {
        common = a;
        break;
      }
    }
  }
  // Only inline wrappers may stand between the common element and its
  // paragraph: marks in two paragraphs of a text box share a paragraph too,
  // the one that holds the text box.
  pugi::xml_node paragraph = common;
  for (; paragraph && !names.Is(paragraph, names.p); paragraph = paragraph.parent()) {
    for (const char* block : {"txbxContent", "tc", "tr", "tbl"}) {
      if (LocalNameIs(paragraph.name(), block)) return false;
    }
  }
  if (!paragraph) return false;
  // The children of the common element that lead to each mark. Bookmark
  // marks and the wrappers' properties (sdtPr, smartTagPr, ...) stay.
  pugi::xml_node to_separate = separate, to_end = end;
  while (to_separate.parent() != common) to_separate = to_separate.parent();
  while (to_end.parent() != common) to_end = to_end.parent();

  // Beside the separator the old result ends where the end mark's branch
  // begins; what follows that belongs to the paragraph, not the field.
  const pugi::xml_node style = ResultStyle(
      field, code,
      FirstRunWithProperties(separate.next_sibling(),
                             separate.parent() == common ? to_end : pugi::xml_node(), names));
  pugi::xml_node run = separate.parent().insert_child_after(names.r.c_str(), separate);
  CopyChildToFront(style, run, names.rPr);
  AppendRunText(run, text, names);

  std::vector<pugi::xml_node> old;
  auto take = [&](pugi::xml_node node) {
    if (!IsBookmarkMark(node, names) && !IsPropertiesName(node.name())) old.push_back(node);
  };
  pugi::xml_node after = run;
  for (pugi::xml_node level = run; level != to_separate && level.parent() != common;
       level = level.parent()) {
    for (pugi::xml_node n = level.next_sibling(); n; n = n.next_sibling()) take(n);
    after = level.parent();
  }
  for (pugi::xml_node n = after.next_sibling(); n && n != to_end; n = n.next_sibling()) take(n);
  for (pugi::xml_node level = end; level != to_end; level = level.parent()) {
    for (pugi::xml_node n = level.previous_sibling(); n; n = n.previous_sibling()) take(n);
  }
  for (pugi::xml_node node : old) {
    removed_fields = removed_fields || HoldsFields(node, names);
    node.parent().remove_child(node);
  }
  return true;
}

}  // namespace

namespace {

// The next node after \a node in document order, not looking into \a node.
pugi::xml_node NextAfter(pugi::xml_node node) {
  while (node && !node.next_sibling()) node = node.parent();
  return node ? node.next_sibling() : pugi::xml_node();
}

// Subtrees that show no text of the story they stand in: properties, text
// boxes (stories of their own), the fallback that repeats its alternate.
bool ShowsNoText(pugi::xml_node node) {
  if (IsPropertiesName(node.name())) return true;
  const char* local = LocalName(node.name());
  return std::strcmp(local, "txbxContent") == 0 || std::strcmp(local, "Fallback") == 0;
}

void AppendShownText(pugi::xml_node node, const WordNames& names, std::string& out) {
  if (names.Is(node, names.t) || names.Is(node, names.instrText)) {
    out += node.child_value();
  } else if (names.Is(node, names.tab)) {
    out += '\t';
  } else if (names.Is(node, names.br) || names.Is(node, names.cr)) {
    std::string_view type = node.attribute(names.a_type.c_str()).value();
    out += type == "page" ? '\f' : type == "column" ? '\x0E' : '\v';
  }
}

}  // namespace

std::string FieldResultText(const FieldSpan& field, const WordNames& names) {
  std::string out;
  pugi::xml_node node, stop;
  if (field.simple) {
    node = field.simple.first_child();
    stop = NextAfter(field.simple);
  } else {
    if (!field.separate) return out;
    node = NextAfter(field.separate);
    stop = field.end;
  }
  // Per nested field: true while its code is being read.
  std::vector<bool> in_code;
  while (node && node != stop) {
    if (node.type() != pugi::node_element || ShowsNoText(node)) {
      node = NextAfter(node);
      continue;
    }
    if (names.Is(node, names.fldChar)) {
      std::string_view type = node.attribute(names.a_fldCharType.c_str()).value();
      if (type == "begin")
        in_code.push_back(true);
      else if (type == "separate" && !in_code.empty())
        in_code.back() = false;
      else if (type == "end" && !in_code.empty())
        in_code.pop_back();
    } else if (names.Is(node, names.p) && !out.empty()) {
      out += '\r';
    }
    bool code = false;
    for (bool c : in_code) code = code || c;
    if (!code) AppendShownText(node, names, out);
    node = node.first_child() ? node.first_child() : NextAfter(node);
  }
  return out;
}

namespace {

// Fields whose result a reader works out from the page layout, and
// hyperlinks: they stay fields when the others are unlinked.
bool StaysField(const std::string& code) {
  const std::string type = ParseFieldCode(code).type;
  for (const char* kept : {"PAGE", "NUMPAGES", "SECTIONPAGES", "SECTION", "PAGEREF", "HYPERLINK"}) {
    if (type == kept) return true;
  }
  return false;
}

// Unlinks the fields of one story: the text of a document, or of one of its
// text boxes, which hold fields of their own.
class FieldUnlinker {
 public:
  explicit FieldUnlinker(const WordNames& names) : names_(names) {}

  bool Unlink(pugi::xml_node story) {
    Pair(story);
    if (fields_.empty() && !HoldsSimpleField(story)) return false;
    Walk(story);
    return changed_;
  }

 private:
  struct Complex {
    pugi::xml_node begin, separate, end;  // the fldChar elements
    std::string code;
    bool stays = false;
  };

  bool HoldsSimpleField(pugi::xml_node node) const {
    return node.find_node([this](pugi::xml_node n) { return names_.Is(n, names_.fldSimple); });
  }

  // Matches the marks of the complex fields of this story, as FindFields
  // does; text boxes are left to their own unlinker.
  void Pair(pugi::xml_node story) {
    std::vector<std::size_t> open;
    auto visit = [&](auto&& self, pugi::xml_node node) -> void {
      for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element || IsPropertiesName(child.name())) continue;
        if (LocalNameIs(child.name(), "txbxContent")) continue;
        if (names_.Is(child, names_.fldChar)) {
          std::string_view type = child.attribute(names_.a_fldCharType.c_str()).value();
          if (type == "begin") {
            open.push_back(all_.size());
            all_.push_back(Complex{child, {}, {}, "", false});
          } else if (type == "separate" && !open.empty()) {
            all_[open.back()].separate = child;
          } else if (type == "end" && !open.empty()) {
            all_[open.back()].end = child;
            open.pop_back();
          }
        } else if (names_.Is(child, names_.instrText) && !open.empty() &&
                   !all_[open.back()].separate) {
          all_[open.back()].code += child.child_value();
        } else {
          self(self, child);
        }
      }
    };
    visit(visit, story);
    for (std::size_t i = 0; i < all_.size(); ++i) {
      if (!all_[i].end) continue;
      all_[i].stays = StaysField(all_[i].code);
      for (pugi::xml_node mark : {all_[i].begin, all_[i].separate, all_[i].end}) {
        if (mark) fields_[mark.internal_object()] = i;
      }
    }
  }

  // True inside the code of a field that goes: everything there goes too.
  bool InDroppedCode() const {
    for (std::size_t i : stack_) {
      if (!all_[i].stays && !in_result_.count(i)) return true;
    }
    return false;
  }

  void Remove(pugi::xml_node node) {
    node.parent().remove_child(node);
    changed_ = true;
  }

  // Handles one element of run content; true when it went.
  bool Content(pugi::xml_node node) {
    auto it = fields_.find(node.internal_object());
    if (it != fields_.end()) {
      const std::size_t field = it->second;
      const Complex& complex = all_[field];
      bool drop = false;
      if (node == complex.begin) {
        drop = InDroppedCode() || !complex.stays;
        stack_.push_back(field);
      } else if (node == complex.separate) {
        in_result_.insert(field);
        drop = !complex.stays || InDroppedCode();
      } else {
        if (!stack_.empty() && stack_.back() == field) stack_.pop_back();
        drop = !complex.stays || InDroppedCode();
      }
      if (drop) Remove(node);
      return drop;
    }
    if (InDroppedCode()) {
      Remove(node);
      return true;
    }
    return false;
  }

  void Walk(pugi::xml_node node) {
    for (pugi::xml_node child = node.first_child(); child;) {
      pugi::xml_node next = child.next_sibling();
      if (child.type() != pugi::node_element || IsPropertiesName(child.name())) {
        child = next;
        continue;
      }
      if (LocalNameIs(child.name(), "txbxContent")) {
        if (FieldUnlinker(names_).Unlink(child)) changed_ = true;
      } else if (names_.Is(child, names_.r)) {
        WalkRun(child);
      } else if (names_.Is(child, names_.fldSimple)) {
        Simple(child);
      } else if (names_.Is(child, names_.fldChar) || names_.Is(child, names_.instrText) ||
                 LocalNameIs(child.name(), "delInstrText")) {
        Content(child);  // outside a run: malformed, but handled alike
      } else {
        Walk(child);
      }
      child = next;
    }
  }

  // A run whose content all went goes too.
  void WalkRun(pugi::xml_node run) {
    bool emptied = false;
    for (pugi::xml_node child = run.first_child(); child;) {
      pugi::xml_node next = child.next_sibling();
      if (child.type() == pugi::node_element && !IsPropertiesName(child.name())) {
        if (Content(child)) {
          emptied = true;
        } else {
          Walk(child);  // a drawing holds text boxes
        }
      }
      child = next;
    }
    if (!emptied) return;
    for (pugi::xml_node child : run.children()) {
      if (child.type() == pugi::node_element && !IsPropertiesName(child.name())) return;
    }
    Remove(run);
  }

  void Simple(pugi::xml_node simple) {
    if (InDroppedCode()) {
      Remove(simple);
      return;
    }
    Walk(simple);
    if (StaysField(simple.attribute(names_.a_instr.c_str()).value())) return;
    pugi::xml_node parent = simple.parent();
    for (pugi::xml_node child = simple.first_child(); child;) {
      pugi::xml_node next = child.next_sibling();
      // The field's private data goes with it.
      if (!(child.type() == pugi::node_element && LocalNameIs(child.name(), "fldData"))) {
        parent.insert_move_before(child, simple);
      }
      child = next;
    }
    Remove(simple);
  }

  const WordNames& names_;
  std::vector<Complex> all_;
  std::unordered_map<pugi::xml_node_struct*, std::size_t> fields_;  // mark -> field
  std::vector<std::size_t> stack_;
  std::set<std::size_t> in_result_;
  bool changed_ = false;
};

}  // namespace

bool UnlinkFields(pugi::xml_node story, const WordNames& names) {
  return FieldUnlinker(names).Unlink(story);
}

bool UpdateField(const FieldSpan& field, const WordNames& names, const FieldContext& context,
                 bool& removed_fields) {
  removed_fields = false;
  if (field.locked) return false;
  FieldCode code = ParseFieldCode(field.code);
  std::optional<std::string> result = ComputeFieldResult(code, context);
  if (!result) return false;
  std::string text = MakeValidUtf8(*result);

  if (pugi::xml_node simple = field.simple) {
    pugi::xml_node style = FirstRunWithProperties(simple.first_child(), {}, names);
    pugi::xml_node run = simple.append_child(names.r.c_str());
    CopyChildToFront(style, run, names.rPr);
    AppendRunText(run, text, names);
    std::vector<pugi::xml_node> old;
    for (pugi::xml_node child = simple.first_child(); child != run;
         child = child.next_sibling()) {
      // The field's private data stays; the old result goes.
      if (child.type() == pugi::node_element && std::strstr(child.name(), "fldData")) continue;
      old.push_back(child);
    }
    for (pugi::xml_node node : old) {
      removed_fields = removed_fields || HoldsFields(node, names);
      simple.remove_child(node);
    }
    return true;
  }

  pugi::xml_node end = field.end;
  pugi::xml_node separate = field.separate;
  if (separate && separate.parent() != end.parent()) {
    if (names.Is(separate.parent(), names.p) && names.Is(end.parent(), names.p)) {
      return ReplaceResultAcrossParagraphs(field, code, text, names, removed_fields);
    }
    return ReplaceResultWithinParagraph(field, code, text, names, removed_fields);
  }
  if (separate == end) return false;
  if (!separate) {
    if (field.begin == end) return false;
    separate = end.parent().insert_child_before(names.r.c_str(), end);
    separate.append_child(names.fldChar.c_str())
        .append_attribute(names.a_fldCharType.c_str()) = "separate";
  }
  const pugi::xml_node style =
      ResultStyle(field, code, FirstRunWithProperties(separate.next_sibling(), end, names));
  pugi::xml_node run = end.parent().insert_child_before(names.r.c_str(), end);
  CopyChildToFront(style, run, names.rPr);
  AppendRunText(run, text, names);
  std::vector<pugi::xml_node> old;
  for (pugi::xml_node node = separate.next_sibling(); node != run; node = node.next_sibling()) {
    if (names.Is(node, names.bookmarkStart) || names.Is(node, names.bookmarkEnd)) continue;
    old.push_back(node);
  }
  for (pugi::xml_node node : old) {
    removed_fields = removed_fields || HoldsFields(node, names);
    node.parent().remove_child(node);
  }
  return true;
}

}  // namespace vantrelle
