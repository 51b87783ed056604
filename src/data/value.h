// A field value read from a database.
//
// A Value is Null or one typed value: integer, exact decimal (kept as its
// digits, never as a double), floating point, text, date, time, date-time,
// boolean or binary. Record sets decode each row into Values they reuse from
// row to row, so setting a value keeps the storage it already has.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrelle {

enum class ValueType : uint8_t {
  kNull,
  kInteger,
  kDecimal,  ///< exact decimal: the text "-123.4500" as the database gave it
  kDouble,
  kText,  ///< UTF-8
  kDate,
  kTime,
  kDateTime,
  kBoolean,
  kBinary,
};

/// Calendar date and time of day; a date leaves the time zero, a time the date.
struct DateTimeParts {
  int16_t year = 0;
  uint8_t month = 0;
  uint8_t day = 0;
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t second = 0;
  uint32_t nanosecond = 0;  ///< kept, but not shown by the default conversion

  bool operator==(const DateTimeParts&) const = default;
};

class Value {
 public:
  Value() = default;

  static Value Integer(int64_t v);
  static Value Decimal(std::string_view digits);
  static Value Double(double v);
  static Value Text(std::string_view text);
  static Value Date(int year, int month, int day);
  static Value Time(int hour, int minute, int second);
  static Value DateTime(const DateTimeParts& parts);
  static Value Boolean(bool v);
  static Value Binary(std::string_view bytes);

  ValueType Type() const { return type_; }
  bool IsNull() const { return type_ == ValueType::kNull; }

  int64_t AsInteger() const { return integer_; }  ///< integer and boolean (0 or 1)
  double AsDouble() const { return double_; }
  /// The bytes of a text, decimal or binary value.
  const std::string& Bytes() const { return bytes_; }
  const DateTimeParts& AsDateTime() const { return date_time_; }

  void SetNull() { type_ = ValueType::kNull; }
  void SetInteger(int64_t v) {
    type_ = ValueType::kInteger;
    integer_ = v;
  }
  void SetDouble(double v) {
    type_ = ValueType::kDouble;
    double_ = v;
  }
  void SetBoolean(bool v) {
    type_ = ValueType::kBoolean;
    integer_ = v ? 1 : 0;
  }
  /// Sets a text, decimal or binary value; \a type must be one of those.
  void SetBytes(ValueType type, std::string_view bytes) {
    type_ = type;
    bytes_.assign(bytes);
  }
  /// Gives the storage of a text, decimal or binary value to fill in place.
  std::string& MutableBytes(ValueType type) {
    type_ = type;
    return bytes_;
  }
  /// Sets a date, time or date-time value; \a type must be one of those.
  void SetDateTime(ValueType type, const DateTimeParts& parts) {
    type_ = type;
    date_time_ = parts;
  }

  /// The default conversion to text: integers in plain digits, decimals
  /// exactly without trailing fraction zeros, floating point with at most 15
  /// significant digits, "YYYY-MM-DD", "hh:mm:ss", "YYYY-MM-DD hh:mm:ss",
  /// "True" / "False", binary as upper-case hex digits; the decimal separator
  /// is the locale's. Throws Error "Invalid use of Null" for Null.
  std::string ToText() const;
  /// As ToText, appending to \a out (which is not cleared).
  void AppendText(std::string& out) const;

  /// Equal type and content; for tests and comparisons of results.
  bool operator==(const Value& other) const;

 private:
  ValueType type_ = ValueType::kNull;
  int64_t integer_ = 0;
  double double_ = 0;
  DateTimeParts date_time_;
  std::string bytes_;
};

/// Reads "YYYY-MM-DD", "hh:mm:ss[.fff]" or "YYYY-MM-DD[ T]hh:mm:ss[.fff]" as
/// the parts of \a type (kDate, kTime or kDateTime). False when \a text is
/// not of that form or names no real date or time.
bool ParseDateTime(std::string_view text, ValueType type, DateTimeParts& parts);

/// True when \a text is a plain decimal number: optional sign, digits, an
/// optional point and fraction digits, at least one digit.
bool IsDecimalText(std::string_view text);

}  // namespace vantrelle
