#include "base/whole_number.h"

#include <string>

#include "base/error.h"
#include "base/locale_info.h"

namespace vantrelle {
namespace {

[[noreturn]] void TypeMismatch() { throw Error("Type mismatch", kErrTypeMismatch); }
[[noreturn]] void Overflow() { throw Error("Overflow", kErrOverflow); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int16_t ToWholeNumber(std::string_view text) {
  auto is_blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  if (text.empty()) TypeMismatch();

  size_t pos = 0;
  bool negative = false;
  if (text[pos] == '+' || text[pos] == '-') negative = text[pos++] == '-';

  // The number is digits x 10^exponent, read exactly as decimal digits so
  // that rounding never suffers from binary fractions.
  std::string digits;
  long exponent = 0;
  bool any_digit = false;
  bool seen_point = false;
  const std::string& decimal = LocaleInfo::Current().decimal_separator;
  while (pos < text.size()) {
    char c = text[pos];
    if (IsDigit(c)) {
      any_digit = true;
      if (!(digits.empty() && c == '0')) digits += c;
      if (seen_point) --exponent;
      ++pos;
    } else if (!seen_point && (c == '.' || text.substr(pos, decimal.size()) == decimal)) {
      seen_point = true;
      pos += c == '.' ? 1 : decimal.size();
    } else {
      break;
    }
  }
  if (!any_digit) TypeMismatch();
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    bool exponent_negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
      exponent_negative = text[pos++] == '-';
    if (pos >= text.size() || !IsDigit(text[pos])) TypeMismatch();
    long value = 0;
    while (pos < text.size() && IsDigit(text[pos])) {
      if (value < 100000) value = value * 10 + (text[pos] - '0');
      ++pos;
    }
    exponent += exponent_negative ? -value : value;
  }
  if (pos != text.size()) TypeMismatch();
  if (digits.empty()) return 0;

  long integer_digits = static_cast<long>(digits.size()) + exponent;
  if (integer_digits > 6) Overflow();
  long whole = 0;
  for (long i = 0; i < integer_digits; ++i)
    whole = whole * 10 + (i < static_cast<long>(digits.size()) ? digits[i] - '0' : 0);
  // The fraction decides the rounding: above one half rounds up, an exact
  // half goes to the even neighbour.
  std::string fraction = integer_digits >= 0
                             ? digits.substr(std::min<size_t>(digits.size(), integer_digits))
                             : std::string(static_cast<size_t>(-integer_digits), '0') + digits;
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  if (!fraction.empty()) {
    int compare = fraction[0] > '5' ? 1 : fraction[0] < '5' ? -1 : (fraction.size() > 1 ? 1 : 0);
    if (compare > 0 || (compare == 0 && whole % 2 != 0)) ++whole;
  }
  if (negative) whole = -whole;
  if (whole < INT16_MIN || whole > INT16_MAX) Overflow();
  return static_cast<int16_t>(whole);
}

}  // namespace vantrelle
