#include "format/format_number.h"

#include <algorithm>
#include <cstdlib>

namespace vantrelle {
namespace {

// Writes the digits of a whole number into placeholders that count from the
// right. Placeholders past the number's digits show 0 up to the leftmost "0"
// placeholder and nothing beyond; digits that find no placeholder all go to
// the leftmost one.
class WholeDigits {
 public:
  WholeDigits(std::string_view digits, int placeholders, int min_digits, std::string_view group)
      : digits_(digits),
        placeholders_(placeholders),
        shown_(std::max(static_cast<int>(digits.size()), min_digits)),
        group_(group) {}

  void Placeholder(int index, std::string& out) const {
    if (index == placeholders_ - 1) {
      for (int r = shown_ - 1; r >= index; --r) Digit(r, out);
    } else if (index < shown_) {
      Digit(index, out);
    }
  }

  void All(std::string& out) const {
    for (int r = shown_ - 1; r >= 0; --r) Digit(r, out);
  }

 private:
  void Digit(int r, std::string& out) const {
    int size = static_cast<int>(digits_.size());
    out.push_back(r < size ? digits_[static_cast<size_t>(size - 1 - r)] : '0');
    if (!group_.empty() && r > 0 && r % 3 == 0) out.append(group_);
  }

  std::string_view digits_;
  int placeholders_;
  int shown_;
  std::string_view group_;
};

}  // namespace

std::string RenderNumber(const FormatSection& section, DecimalValue value,
                         const LocaleInfo& locale) {
  const NumberLayout& layout = section.number;
  value.point += layout.shift;
  int exponent = 0;
  if (layout.scientific) {
    if (!value.IsZero()) {
      int mantissa = layout.mantissa_int_digits;
      exponent = value.point - mantissa;
      value.point = mantissa;
      RoundDecimal(value, layout.frac_digits);
      // 9.995 with "0.00E+00" rounds up to 10.00: one more in the exponent.
      if (!value.IsZero() && value.point > mantissa) {
        exponent += value.point - mantissa;
        value.point = mantissa;
      }
    }
  } else {
    RoundDecimal(value, layout.frac_digits);
  }

  // The whole part's digits, zeros filled in where the point lies past them.
  // (Zero has no digits, wherever a "%" or a scaling comma moved its point.)
  std::string whole;
  if (value.point > 0 && !value.IsZero()) {
    whole.assign(value.digits, 0, std::min<size_t>(value.digits.size(), value.point));
    whole.resize(static_cast<size_t>(value.point), '0');
  }
  const int digit_count = static_cast<int>(value.digits.size());
  // The last fraction digit that is not zero; "#" shows nothing after it.
  const int last_fraction = digit_count - 1 - value.point;
  std::string exponent_digits = std::to_string(std::abs(exponent));

  std::string_view group;
  if (layout.grouping && !layout.scientific) group = locale.group_separator;
  WholeDigits integer(whole, layout.int_digits, layout.min_int_digits, group);
  WholeDigits exponent_part(exponent_digits, layout.exp_digits, layout.min_exp_digits, "");

  std::string out;
  out.reserve(section.tokens.size() + whole.size() + 16);
  if (value.negative && !value.IsZero()) out.push_back('-');
  bool whole_written = layout.int_digits > 0;
  for (const FormatToken& token : section.tokens) {
    switch (token.kind) {
      case TokenKind::kLiteral:
        out.append(token.text);
        break;
      case TokenKind::kCurrency:
        out.append(locale.currency_symbol);
        break;
      case TokenKind::kIntDigit:
        integer.Placeholder(token.index, out);
        break;
      case TokenKind::kDecimalPoint:
        // ".00" has no integer placeholders: the whole part still shows.
        if (!whole_written) {
          integer.All(out);
          whole_written = true;
        }
        out.append(locale.decimal_separator);
        break;
      case TokenKind::kFracDigit: {
        int index = value.point + token.index;
        if (token.zero || token.index <= last_fraction) {
          out.push_back(index >= 0 && index < digit_count ? value.digits[static_cast<size_t>(index)]
                                                          : '0');
        }
        break;
      }
      case TokenKind::kExponent:
        if (!whole_written) {
          integer.All(out);
          whole_written = true;
        }
        out.push_back(token.text[0]);
        if (exponent < 0) {
          out.push_back('-');
        } else if (token.text[1] == '+') {
          out.push_back('+');
        }
        // "0E+" has no exponent placeholders: the exponent still shows.
        if (layout.exp_digits == 0) exponent_part.All(out);
        break;
      case TokenKind::kExpDigit:
        exponent_part.Placeholder(token.index, out);
        break;
      default:
        break;
    }
  }
  return out;
}

std::string GeneralNumberText(const DecimalValue& value, const LocaleInfo& locale) {
  if (value.IsZero()) return "0";
  std::string out = value.negative ? "-" : "";
  const std::string& digits = value.digits;
  const int size = static_cast<int>(digits.size());
  if (value.point > 15 || value.point < -3) {
    out.push_back(digits[0]);
    if (size > 1) {
      out.append(locale.decimal_separator);
      out.append(digits, 1, std::string::npos);
    }
    int exponent = value.point - 1;
    out.append(exponent < 0 ? "E-" : "E+");
    std::string exponent_text = std::to_string(std::abs(exponent));
    if (exponent_text.size() < 2) out.push_back('0');
    out.append(exponent_text);
    return out;
  }
  if (value.point <= 0) {
    out.append("0");
    out.append(locale.decimal_separator);
    out.append(static_cast<size_t>(-value.point), '0');
    out.append(digits);
    return out;
  }
  out.append(digits, 0, std::min(size, value.point));
  if (value.point > size) out.append(static_cast<size_t>(value.point - size), '0');
  if (size > value.point) {
    out.append(locale.decimal_separator);
    out.append(digits, static_cast<size_t>(value.point), std::string::npos);
  }
  return out;
}

}  // namespace vantrelle
