#include "data/value.h"

#include <langinfo.h>

#include <charconv>
#include <cmath>
#include <cstring>

#include "base/error.h"

namespace vantrelle {

namespace {

// The locale's decimal separator, as LocaleInfo reads it; asked of the C
// library directly because it is needed for every number of every row.
std::string_view DecimalSeparator() {
  const char* radix = nl_langinfo(RADIXCHAR);
  return radix != nullptr && *radix != 0 ? std::string_view(radix) : std::string_view(".");
}

char* PutTwoDigits(char* out, int v) {
  out[0] = static_cast<char>('0' + v / 10 % 10);
  out[1] = static_cast<char>('0' + v % 10);
  return out + 2;
}

// "YYYY-MM-DD"; the parts are formatted into a buffer and appended at once.
char* PutDate(char* out, const DateTimeParts& p) {
  int year = p.year;
  if (year < 0) {
    *out++ = '-';
    year = -year;
  }
  out = PutTwoDigits(out, year / 100);
  out = PutTwoDigits(out, year % 100);
  *out++ = '-';
  out = PutTwoDigits(out, p.month);
  *out++ = '-';
  return PutTwoDigits(out, p.day);
}

// "hh:mm:ss"
char* PutTime(char* out, const DateTimeParts& p) {
  out = PutTwoDigits(out, p.hour);
  *out++ = ':';
  out = PutTwoDigits(out, p.minute);
  *out++ = ':';
  return PutTwoDigits(out, p.second);
}

// Exact decimal digits as the database gave them, shown without trailing
// fraction zeros ("1.5000" is "1.5", "-0.00" is "0") and with the locale's
// decimal separator.
void AppendDecimal(std::string& out, std::string_view digits) {
  bool negative = false;
  if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
    negative = digits[0] == '-';
    digits.remove_prefix(1);
  }
  std::string_view whole = digits;
  std::string_view fraction;
  if (size_t point = digits.find('.'); point != std::string_view::npos) {
    whole = digits.substr(0, point);
    fraction = digits.substr(point + 1);
  }
  while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
  while (whole.size() > 1 && whole[0] == '0') whole.remove_prefix(1);
  if (whole.empty()) whole = "0";
  if (whole == "0" && fraction.empty()) negative = false;
  if (negative) out += '-';
  out.append(whole);
  if (!fraction.empty()) {
    out += DecimalSeparator();
    out.append(fraction);
  }
}

// At most 15 significant digits, the shortest form that shows them; very
// large or small magnitudes in the scientific form "1E+20", "1E-05".
void AppendDouble(std::string& out, double v) {
  if (std::isnan(v)) {
    out += "NaN";
    return;
  }
  if (std::isinf(v)) {
    out += v < 0 ? "-Infinity" : "Infinity";
    return;
  }
  char buffer[40];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 15);
  if (ec != std::errc()) throw Error("Overflow", kErrOverflow);
  std::string_view text(buffer, end - buffer);
  if (text == "-0") text = "0";
  for (char c : text) {
    if (c == '.') {
      out += DecimalSeparator();
    } else if (c == 'e') {
      out += 'E';
    } else {
      out += c;
    }
  }
  // to_chars writes "1e-05" / "1e+20" already with two exponent digits.
}

bool ReadNumber(std::string_view& text, int digits, int& value) {
  if (text.size() < static_cast<size_t>(digits)) return false;
  value = 0;
  for (int i = 0; i < digits; ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  text.remove_prefix(digits);
  return true;
}

bool ReadChar(std::string_view& text, char expected) {
  if (text.empty() || text[0] != expected) return false;
  text.remove_prefix(1);
  return true;
}

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool ParseDatePart(std::string_view& text, DateTimeParts& p) {
  int year, month, day;
  if (!ReadNumber(text, 4, year) || !ReadChar(text, '-') || !ReadNumber(text, 2, month) ||
      !ReadChar(text, '-') || !ReadNumber(text, 2, day))
    return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  int last = kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
  if (day > last) return false;
  p.year = static_cast<int16_t>(year);
  p.month = static_cast<uint8_t>(month);
  p.day = static_cast<uint8_t>(day);
  return true;
}

bool ParseTimePart(std::string_view& text, DateTimeParts& p) {
  int hour, minute, second = 0;
  if (!ReadNumber(text, 2, hour) || !ReadChar(text, ':') || !ReadNumber(text, 2, minute))
    return false;
  if (ReadChar(text, ':') && !ReadNumber(text, 2, second)) return false;
  if (hour > 23 || minute > 59 || second > 59) return false;
  uint32_t nanos = 0;
  if (ReadChar(text, '.')) {
    int count = 0;
    while (!text.empty() && text[0] >= '0' && text[0] <= '9') {
      if (count < 9) nanos = nanos * 10 + (text[0] - '0');
      ++count;
      text.remove_prefix(1);
    }
    if (count == 0) return false;
    for (; count < 9; ++count) nanos *= 10;
  }
  p.hour = static_cast<uint8_t>(hour);
  p.minute = static_cast<uint8_t>(minute);
  p.second = static_cast<uint8_t>(second);
  p.nanosecond = nanos;
  return true;
}

}  // namespace

Value Value::Integer(int64_t v) {
  Value value;
  value.SetInteger(v);
  return value;
}

Value Value::Decimal(std::string_view digits) {
  Value value;
  value.SetBytes(ValueType::kDecimal, digits);
  return value;
}

Value Value::Double(double v) {
  Value value;
  value.SetDouble(v);
  return value;
}

Value Value::Text(std::string_view text) {
  Value value;
  value.SetBytes(ValueType::kText, text);
  return value;
}

Value Value::Date(int year, int month, int day) {
  DateTimeParts p;
  p.year = static_cast<int16_t>(year);
  p.month = static_cast<uint8_t>(month);
  p.day = static_cast<uint8_t>(day);
  Value value;
  value.SetDateTime(ValueType::kDate, p);
  return value;
}

Value Value::Time(int hour, int minute, int second) {
  DateTimeParts p;
  p.hour = static_cast<uint8_t>(hour);
  p.minute = static_cast<uint8_t>(minute);
  p.second = static_cast<uint8_t>(second);
  Value value;
  value.SetDateTime(ValueType::kTime, p);
  return value;
}

Value Value::DateTime(const DateTimeParts& parts) {
  Value value;
  value.SetDateTime(ValueType::kDateTime, parts);
  return value;
}

Value Value::Boolean(bool v) {
  Value value;
  value.SetBoolean(v);
  return value;
}

Value Value::Binary(std::string_view bytes) {
  Value value;
  value.SetBytes(ValueType::kBinary, bytes);
  return value;
}

std::string Value::ToText() const {
  std::string out;
  AppendText(out);
  return out;
}

void Value::AppendText(std::string& out) const {
  switch (type_) {
    case ValueType::kNull:
      throw Error("Invalid use of Null", kErrInvalidUseOfNull);
    case ValueType::kInteger: {
      char buffer[24];
      auto result = std::to_chars(buffer, buffer + sizeof buffer, integer_);
      out.append(buffer, result.ptr);
      return;
    }
    case ValueType::kDecimal:
      AppendDecimal(out, bytes_);
      return;
    case ValueType::kDouble:
      AppendDouble(out, double_);
      return;
    case ValueType::kText:
      out += bytes_;
      return;
    case ValueType::kDate:
    case ValueType::kTime:
    case ValueType::kDateTime: {
      char buffer[32];
      char* end = buffer;
      if (type_ != ValueType::kTime) end = PutDate(end, date_time_);
      if (type_ == ValueType::kDateTime) *end++ = ' ';
      if (type_ != ValueType::kDate) end = PutTime(end, date_time_);
      out.append(buffer, end);
      return;
    }
    case ValueType::kBoolean:
      out += integer_ != 0 ? "True" : "False";
      return;
    case ValueType::kBinary: {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out.reserve(out.size() + bytes_.size() * 2);
      for (unsigned char c : bytes_) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
      return;
    }
  }
}

bool Value::operator==(const Value& other) const {
  if (type_ != other.type_) return false;
  switch (type_) {
    case ValueType::kNull:
      return true;
    case ValueType::kInteger:
    case ValueType::kBoolean:
      return integer_ == other.integer_;
    case ValueType::kDouble:
      return double_ == other.double_;
    case ValueType::kDate:
    case ValueType::kTime:
    case ValueType::kDateTime:
      return date_time_ == other.date_time_;
    case ValueType::kDecimal:
    case ValueType::kText:
    case ValueType::kBinary:
      return bytes_ == other.bytes_;
  }
  return false;
}

bool ParseDateTime(std::string_view text, ValueType type, DateTimeParts& parts) {
  DateTimeParts p;
  switch (type) {
    case ValueType::kDate:
      if (!ParseDatePart(text, p)) return false;
      break;
    case ValueType::kTime:
      if (!ParseTimePart(text, p)) return false;
      break;
    case ValueType::kDateTime:
      if (!ParseDatePart(text, p)) return false;
      // A date alone is midnight of that day.
      if (!text.empty() &&
          ((text[0] != ' ' && text[0] != 'T') || (text.remove_prefix(1), !ParseTimePart(text, p))))
        return false;
      break;
    default:
      return false;
  }
  if (!text.empty()) return false;
  parts = p;
  return true;
}

bool IsDecimalText(std::string_view text) {
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  bool digit = false;
  bool point = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digit;
}

}  // namespace vantrelle
