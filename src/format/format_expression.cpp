#include "format/format_expression.h"

#include <algorithm>
#include <cctype>
#include <unordered_map>

namespace vantrelle {
namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool MatchesAt(std::string_view text, size_t pos, std::string_view word) {
  if (text.size() - pos < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (Lower(text[pos + i]) != word[i]) return false;
  }
  return true;
}

// Length of the UTF-8 sequence starting at pos (1 for a stray byte), so that
// an escaped character is taken whole.
size_t CharLength(std::string_view text, size_t pos) {
  unsigned char c = static_cast<unsigned char>(text[pos]);
  size_t length = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  size_t end = std::min(text.size(), pos + length);
  for (size_t i = pos + 1; i < end; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return i - pos;
  }
  return end - pos;
}

// Splits at the ";" that are neither quoted nor escaped.
std::vector<std::string_view> SplitSections(std::string_view text) {
  std::vector<std::string_view> sections;
  size_t start = 0;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted) {
      continue;
    } else if (c == '\\') {
      ++i;
    } else if (c == ';') {
      sections.push_back(text.substr(start, i - start));
      start = i + 1;
      if (sections.size() == 4) return sections;
    }
  }
  sections.push_back(text.substr(start));
  return sections;
}

// Calls visit(pos) for every character of the section that is a code
// candidate, i.e. neither quoted nor escaped.
template <typename Visit>
void ForEachCodeChar(std::string_view text, Visit visit) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') {
      size_t end = text.find('"', i + 1);
      if (end == std::string_view::npos) return;
      i = end;
    } else if (text[i] == '\\') {
      ++i;
    } else {
      visit(i);
    }
  }
}

size_t AmPmLength(std::string_view text, size_t pos) {
  if (MatchesAt(text, pos, "am/pm")) return 5;
  if (MatchesAt(text, pos, "ampm")) return 4;
  if (MatchesAt(text, pos, "a/p")) return 3;
  return 0;
}

bool IsDateCodeAt(std::string_view text, size_t pos) {
  switch (Lower(text[pos])) {
    case 'c':
    case 'd':
    case 'w':
    case 'm':
    case 'q':
    case 'y':
    case 'h':
    case 'n':
    case 's':
      return true;
    case 't':
      return MatchesAt(text, pos, "ttttt");
    case 'a':
      return AmPmLength(text, pos) > 0;
    default:
      return false;
  }
}

SectionKind Classify(std::string_view text) {
  bool text_code = false, digit = false, date = false, letter_case = false;
  ForEachCodeChar(text, [&](size_t i) {
    char c = text[i];
    if (c == '@' || c == '&')
      text_code = true;
    else if (c == '0' || c == '#')
      digit = true;
    else if (c == '<' || c == '>')
      letter_case = true;
    else if (IsDateCodeAt(text, i))
      date = true;
  });
  if (text_code) return SectionKind::kText;
  if (digit) return SectionKind::kNumber;
  if (date) return SectionKind::kDate;
  if (letter_case) return SectionKind::kText;
  return SectionKind::kLiteral;
}

// Builds a section's token list; consecutive literal characters share one token.
class Tokenizer {
 public:
  explicit Tokenizer(FormatSection& section) : section_(section) {}

  void Literal(std::string_view text) {
    if (text.empty()) return;
    auto& tokens = section_.tokens;
    if (tokens.empty() || tokens.back().kind != TokenKind::kLiteral) {
      tokens.push_back(FormatToken{});
    }
    tokens.back().text.append(text);
  }

  void Code(TokenKind kind, bool zero = false) {
    FormatToken token;
    token.kind = kind;
    token.zero = zero;
    section_.tokens.push_back(std::move(token));
  }

  // Handles a quote or a backslash at pos; returns false for other characters.
  bool Escaped(std::string_view text, size_t& pos) {
    if (text[pos] == '"') {
      size_t end = text.find('"', pos + 1);
      if (end == std::string_view::npos) end = text.size();
      Literal(text.substr(pos + 1, end - pos - 1));
      pos = end + 1;
      return true;
    }
    if (text[pos] == '\\') {
      ++pos;
      if (pos < text.size()) {
        size_t length = CharLength(text, pos);
        Literal(text.substr(pos, length));
        pos += length;
      }
      return true;
    }
    return false;
  }

  // The rest of a character that is shown as it stands.
  void LiteralChar(std::string_view text, size_t& pos) {
    size_t length = CharLength(text, pos);
    Literal(text.substr(pos, length));
    pos += length;
  }

 private:
  FormatSection& section_;
};

// A comma's meaning follows from its neighbours: between integer placeholders
// it groups thousands; right after the digits (before the decimal point, the
// exponent or at the end) each comma divides by 1000; between fraction
// placeholders it is dropped; anywhere else it is a literal comma.
void ResolveCommas(FormatSection& section) {
  std::vector<FormatToken> resolved;
  auto& tokens = section.tokens;
  auto is_comma = [&](size_t i) { return tokens[i].kind == TokenKind::kComma; };
  resolved.reserve(tokens.size());
  for (size_t i = 0; i < tokens.size();) {
    if (!is_comma(i)) {
      resolved.push_back(std::move(tokens[i++]));
      continue;
    }
    size_t end = i;
    while (end < tokens.size() && is_comma(end)) ++end;
    TokenKind prev = resolved.empty() ? TokenKind::kLiteral : resolved.back().kind;
    bool prev_digit =
        !resolved.empty() && (prev == TokenKind::kIntDigit || prev == TokenKind::kFracDigit);
    bool has_next = end < tokens.size();
    TokenKind next = has_next ? tokens[end].kind : TokenKind::kLiteral;
    int count = static_cast<int>(end - i);
    // A comma followed by text with digit placeholders still to come
    // ("###, ###") is text: it neither groups nor scales. Followed by text
    // at the end ("0.00,\"K\"") it still scales.
    if (prev_digit && has_next && next == TokenKind::kLiteral) {
      for (size_t j = end; j < tokens.size(); ++j) {
        if (tokens[j].kind == prev) {
          prev_digit = false;
          break;
        }
      }
    }
    if (prev_digit && has_next && prev == next) {
      if (prev == TokenKind::kIntDigit) section.number.grouping = true;
    } else if (prev_digit) {
      section.number.shift -= 3 * count;
    } else {
      FormatToken literal;
      literal.text.assign(static_cast<size_t>(count), ',');
      if (!resolved.empty() && resolved.back().kind == TokenKind::kLiteral) {
        resolved.back().text += literal.text;
      } else {
        resolved.push_back(std::move(literal));
      }
    }
    i = end;
  }
  tokens = std::move(resolved);
}

void TokenizeNumber(std::string_view text, bool currency_marker, FormatSection& section) {
  Tokenizer out(section);
  int phase = 0;  // 0 integer, 1 fraction, 2 exponent
  for (size_t pos = 0; pos < text.size();) {
    if (out.Escaped(text, pos)) continue;
    char c = text[pos];
    if (c == '0' || c == '#') {
      out.Code(phase == 0   ? TokenKind::kIntDigit
               : phase == 1 ? TokenKind::kFracDigit
                            : TokenKind::kExpDigit,
               c == '0');
      ++pos;
    } else if (c == '.' && phase == 0) {
      out.Code(TokenKind::kDecimalPoint);
      phase = 1;
      ++pos;
    } else if (c == ',') {
      out.Code(TokenKind::kComma);
      ++pos;
    } else if (c == '%') {
      section.number.shift += 2;
      out.Literal("%");
      ++pos;
    } else if ((c == 'E' || c == 'e') && phase < 2 && pos + 1 < text.size() &&
               (text[pos + 1] == '+' || text[pos + 1] == '-')) {
      out.Code(TokenKind::kExponent);
      section.tokens.back().text = std::string(text.substr(pos, 2));
      section.number.scientific = true;
      phase = 2;
      pos += 2;
    } else if (c == '<' || c == '>') {
      if (section.letter_case == 0) section.letter_case = c;  // the first wins
      ++pos;
    } else if (c == '!') {
      ++pos;
    } else if (c == '$' && currency_marker) {
      out.Code(TokenKind::kCurrency);
      ++pos;
    } else {
      out.LiteralChar(text, pos);
    }
  }
  ResolveCommas(section);

  NumberLayout& layout = section.number;
  int frac = 0, last_frac_zero = -1;
  for (auto& token : section.tokens) {
    if (token.kind != TokenKind::kFracDigit) continue;
    token.index = frac++;
    if (token.zero) last_frac_zero = token.index;
  }
  // Every fraction placeholder up to the last "0" shows a digit.
  for (auto& token : section.tokens)
    if (token.kind == TokenKind::kFracDigit && token.index < last_frac_zero) token.zero = true;
  int integer = 0, exponent = 0, exp_zeros = 0;
  for (auto it = section.tokens.rbegin(); it != section.tokens.rend(); ++it) {
    if (it->kind == TokenKind::kIntDigit) {
      it->index = integer++;
      if (it->zero) layout.min_int_digits = it->index + 1;
    } else if (it->kind == TokenKind::kExpDigit) {
      it->index = exponent++;
      // A "#" among the exponent's placeholders adds no digit of its own.
      if (it->zero) layout.min_exp_digits = ++exp_zeros;
    }
  }
  layout.int_digits = integer;
  layout.frac_digits = frac;
  layout.exp_digits = exponent;
  // A scientific mantissa has as many integer digits as there are
  // placeholders before the point ("##00.0E+0" shows four).
  layout.mantissa_int_digits = integer;
}

void TokenizeDate(std::string_view text, FormatSection& section) {
  Tokenizer out(section);
  bool after_hour = false;  // "m" right after an hour code means minutes
  // No code is longer than six letters ("dddddd"), so a run is counted no
  // further: counting a long run of one letter at each of its letters would
  // make the pattern's cost grow with the square of its length.
  constexpr size_t kLongestCode = 6;
  auto run_length = [&](size_t pos) {
    size_t end = pos;
    char c = Lower(text[pos]);
    while (end < text.size() && end - pos < kLongestCode && Lower(text[end]) == c) ++end;
    return end - pos;
  };
  for (size_t pos = 0; pos < text.size();) {
    if (out.Escaped(text, pos)) continue;
    char c = Lower(text[pos]);
    size_t run = run_length(pos);
    size_t used = 1;
    bool hour = false;
    switch (c) {
      case 'c':
        out.Code(TokenKind::kGeneralDate);
        break;
      case 'd': {
        static const TokenKind kCodes[] = {TokenKind::kDay,       TokenKind::kDay2,
                                           TokenKind::kDayAbbr,   TokenKind::kDayName,
                                           TokenKind::kShortDate, TokenKind::kLongDate};
        used = std::min<size_t>(run, 6);
        out.Code(kCodes[used - 1]);
        break;
      }
      case 'w':
        used = std::min<size_t>(run, 2);
        out.Code(used == 2 ? TokenKind::kWeek : TokenKind::kWeekday);
        break;
      case 'm':
        used = std::min<size_t>(run, 4);
        if (after_hour && used <= 2) {
          out.Code(used == 2 ? TokenKind::kMinute2 : TokenKind::kMinute);
        } else {
          static const TokenKind kCodes[] = {TokenKind::kMonth, TokenKind::kMonth2,
                                             TokenKind::kMonthAbbr, TokenKind::kMonthName};
          out.Code(kCodes[used - 1]);
        }
        break;
      case 'q':
        out.Code(TokenKind::kQuarter);
        break;
      case 'y':
        used = run >= 4 ? 4 : run >= 2 ? 2 : 1;
        out.Code(used == 4   ? TokenKind::kYear4
                 : used == 2 ? TokenKind::kYear2
                             : TokenKind::kDayOfYear);
        break;
      case 'h':
        used = std::min<size_t>(run, 2);
        out.Code(used == 2 ? TokenKind::kHour2 : TokenKind::kHour);
        hour = true;
        break;
      case 'n':
        used = std::min<size_t>(run, 2);
        out.Code(used == 2 ? TokenKind::kMinute2 : TokenKind::kMinute);
        break;
      case 's':
        used = std::min<size_t>(run, 2);
        out.Code(used == 2 ? TokenKind::kSecond2 : TokenKind::kSecond);
        break;
      case 't':
        if (run >= 5) {
          used = 5;
          out.Code(TokenKind::kLongTime);
        } else {
          used = run;
          out.Literal(text.substr(pos, run));
        }
        break;
      case 'a':
        used = AmPmLength(text, pos);
        if (used == 4) {
          out.Code(TokenKind::kAmPmLocale);
          section.twelve_hour = true;
        } else if (used > 0) {
          size_t slash = text.find('/', pos);
          out.Code(TokenKind::kAmPm);
          section.tokens.back().text = std::string(text.substr(pos, slash - pos));
          section.tokens.back().alt = std::string(text.substr(slash + 1, pos + used - slash - 1));
          section.twelve_hour = true;
        } else {
          out.LiteralChar(text, pos);
          continue;
        }
        break;
      case '/':
        out.Code(TokenKind::kDateSeparator);
        break;
      case ':':
        out.Code(TokenKind::kTimeSeparator);
        break;
      case '<':
      case '>':
        if (section.letter_case == 0) section.letter_case = c;  // the first wins
        break;
      case '!':
        break;
      default:
        out.LiteralChar(text, pos);
        continue;
    }
    pos += used;
    // Separators and literals between an hour and "m" keep it minutes ("h:mm").
    TokenKind last = section.tokens.empty() ? TokenKind::kLiteral : section.tokens.back().kind;
    if (hour) {
      after_hour = true;
    } else if (last != TokenKind::kLiteral && last != TokenKind::kTimeSeparator &&
               last != TokenKind::kDateSeparator && c != '<' && c != '>' && c != '!') {
      after_hour = false;
    }
  }
}

void TokenizeText(std::string_view text, FormatSection& section) {
  Tokenizer out(section);
  for (size_t pos = 0; pos < text.size();) {
    if (out.Escaped(text, pos)) continue;
    char c = text[pos];
    if (c == '@' || c == '&') {
      out.Code(c == '@' ? TokenKind::kCharOrBlank : TokenKind::kCharOrNothing);
      ++section.text_placeholders;
    } else if (c == '<' || c == '>') {
      if (section.letter_case == 0) section.letter_case = c;  // the first wins
    } else if (c == '!') {
      section.left_to_right = true;
    } else {
      out.LiteralChar(text, pos);
      continue;
    }
    ++pos;
  }
}

FormatSection ParseSection(std::string_view text, bool currency_marker) {
  FormatSection section;
  section.empty = text.empty();
  section.kind = Classify(text);
  switch (section.kind) {
    case SectionKind::kNumber:
      TokenizeNumber(text, currency_marker, section);
      break;
    case SectionKind::kDate:
      TokenizeDate(text, section);
      break;
    case SectionKind::kText:
    case SectionKind::kLiteral:
      TokenizeText(text, section);
      break;
  }
  return section;
}

struct Named {
  std::string_view name;  // lower case
  std::string_view pattern;
  NamedFormat named;
};

// The named formats, in their United States form; separators, names and the
// currency symbol follow the locale when rendered.
constexpr Named kNamedFormats[] = {
    {"general number", "", NamedFormat::kGeneralNumber},
    {"currency", "$#,##0.00;($#,##0.00)", NamedFormat::kNone},
    {"fixed", "0.00", NamedFormat::kNone},
    {"standard", "#,##0.00", NamedFormat::kNone},
    {"percent", "0.00%", NamedFormat::kNone},
    {"scientific", "0.00E+00", NamedFormat::kNone},
    {"yes/no", "\"Yes\";\"Yes\";\"No\"", NamedFormat::kBoolean},
    {"true/false", "\"True\";\"True\";\"False\"", NamedFormat::kBoolean},
    {"on/off", "\"On\";\"On\";\"Off\"", NamedFormat::kBoolean},
    {"general date", "c", NamedFormat::kNone},
    {"long date", "dddddd", NamedFormat::kNone},
    {"medium date", "dd-mmm-yy", NamedFormat::kNone},
    {"short date", "ddddd", NamedFormat::kNone},
    {"long time", "ttttt", NamedFormat::kNone},
    {"medium time", "hh:nn AM/PM", NamedFormat::kNone},
    {"short time", "hh:nn", NamedFormat::kNone},
};

const Named* FindNamed(std::string_view text) {
  if (text.size() > 14) return nullptr;
  for (const Named& named : kNamedFormats) {
    if (named.name.size() == text.size() && MatchesAt(text, 0, named.name)) return &named;
  }
  return nullptr;
}

struct TransparentHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// Patterns longer than this are parsed on every call rather than kept.
constexpr size_t kMaxCachedLength = 1024;
// When the cache is full it starts afresh; a report uses a handful of patterns.
constexpr size_t kMaxCachedPatterns = 256;

}  // namespace

FormatExpression ParseFormatExpression(std::string_view text) {
  FormatExpression expression;
  std::string_view pattern = text;
  bool currency = false;
  if (const Named* named = FindNamed(text)) {
    expression.named = named->named;
    pattern = named->pattern;
    currency = named->name == "currency";
  }
  for (std::string_view section : SplitSections(pattern)) {
    expression.sections.push_back(ParseSection(section, currency));
  }
  return expression;
}

std::shared_ptr<const FormatExpression> CachedFormatExpression(std::string_view text) {
  thread_local std::unordered_map<std::string, std::shared_ptr<const FormatExpression>,
                                  TransparentHash, std::equal_to<>>
      cache;
  thread_local std::string last_text;
  thread_local std::shared_ptr<const FormatExpression> last;
  if (last && text == last_text) return last;
  if (text.size() > kMaxCachedLength) {
    return std::make_shared<const FormatExpression>(ParseFormatExpression(text));
  }
  auto found = cache.find(text);
  if (found == cache.end()) {
    if (cache.size() >= kMaxCachedPatterns) cache.clear();
    auto parsed = std::make_shared<const FormatExpression>(ParseFormatExpression(text));
    found = cache.emplace(std::string(text), std::move(parsed)).first;
  }
  last_text.assign(text);
  last = found->second;
  return last;
}

}  // namespace vantrelle
