#include "data/value.h"

#include <gtest/gtest.h>

#include <clocale>

#include "base/error.h"

namespace vantrelle {
namespace {

struct TextCase {
  Value value;
  const char* text;
};

class ValueTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(ValueTextTest, DefaultConversion) { EXPECT_EQ(GetParam().value.ToText(), GetParam().text); }

DateTimeParts Stamp(int y, int mo, int d, int h, int mi, int s, uint32_t nanos = 0) {
  DateTimeParts p;
  p.year = static_cast<int16_t>(y);
  p.month = static_cast<uint8_t>(mo);
  p.day = static_cast<uint8_t>(d);
  p.hour = static_cast<uint8_t>(h);
  p.minute = static_cast<uint8_t>(mi);
  p.second = static_cast<uint8_t>(s);
  p.nanosecond = nanos;
  return p;
}

INSTANTIATE_TEST_SUITE_P(
    Values, ValueTextTest,
    ::testing::Values(
        TextCase{Value::Integer(INT64_MIN), "-9223372036854775808"},
        TextCase{Value::Decimal("12345678901234.5678"), "12345678901234.5678"},
        TextCase{Value::Decimal("1.5000"), "1.5"}, TextCase{Value::Decimal("100.0000"), "100"},
        TextCase{Value::Decimal("-0.0000"), "0"}, TextCase{Value::Decimal("-.50"), "-0.5"},
        TextCase{Value::Decimal("007"), "7"},
        TextCase{Value::Decimal("123456789012345678901234567890.123"),
                 "123456789012345678901234567890.123"},
        TextCase{Value::Double(0.1 + 0.2), "0.3"},
        TextCase{Value::Double(1.0 / 3), "0.333333333333333"},
        TextCase{Value::Double(123456789012345678.0), "1.23456789012346E+17"},
        TextCase{Value::Double(0.00001), "1E-05"}, TextCase{Value::Double(-0.0), "0"},
        TextCase{Value::Double(-2.5), "-2.5"}, TextCase{Value::Text(""), ""},
        TextCase{Value::Date(2024, 2, 29), "2024-02-29"},
        TextCase{Value::Date(5, 1, 9), "0005-01-09"}, TextCase{Value::Time(7, 5, 0), "07:05:00"},
        TextCase{Value::DateTime(Stamp(1999, 12, 31, 23, 59, 59, 999000000)),
                 "1999-12-31 23:59:59"},
        TextCase{Value::Boolean(true), "True"}, TextCase{Value::Boolean(false), "False"},
        TextCase{Value::Binary(std::string("\x00\xab\x10", 3)), "00AB10"}));

TEST(ValueTest, NullHasNoText) {
  Value null;
  EXPECT_TRUE(null.IsNull());
  try {
    null.ToText();
    FAIL() << "Null converted to text";
  } catch (const Error& error) {
    EXPECT_STREQ(error.Description(), "Invalid use of Null");
    EXPECT_EQ(error.Number(), kErrInvalidUseOfNull);
  }
}

TEST(ValueTest, ReusedValueTakesTheNewTypeAndContent) {
  Value value = Value::Text("a long text that needs heap storage of its own");
  value.SetInteger(42);
  EXPECT_EQ(value, Value::Integer(42));
  value.SetBytes(ValueType::kDecimal, "2.50");
  EXPECT_EQ(value.ToText(), "2.5");
  value.SetNull();
  EXPECT_TRUE(value.IsNull());
}

TEST(ValueTest, NumbersUseTheLocalesDecimalSeparator) {
  const char* german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  if (german == nullptr) GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed";
  std::string decimal = Value::Decimal("1.50").ToText();
  std::string floating = Value::Double(2.25).ToText();
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(decimal, "1,5");
  EXPECT_EQ(floating, "2,25");
}

TEST(ValueTest, ParsesOnlyRealDatesAndTimes) {
  DateTimeParts p;
  EXPECT_TRUE(ParseDateTime("2024-02-29", ValueType::kDate, p));
  EXPECT_FALSE(ParseDateTime("2023-02-29", ValueType::kDate, p));
  EXPECT_FALSE(ParseDateTime("2024-13-01", ValueType::kDate, p));
  EXPECT_FALSE(ParseDateTime("2024-1-01", ValueType::kDate, p));
  EXPECT_TRUE(ParseDateTime("2024-02-29T13:45:07.250", ValueType::kDateTime, p));
  EXPECT_EQ(p, Stamp(2024, 2, 29, 13, 45, 7, 250000000));
  EXPECT_TRUE(ParseDateTime("2024-02-29", ValueType::kDateTime, p));
  EXPECT_EQ(p, Stamp(2024, 2, 29, 0, 0, 0));
  EXPECT_FALSE(ParseDateTime("2024-02-29 24:00:00", ValueType::kDateTime, p));
  EXPECT_FALSE(ParseDateTime("2024-02-29 10:00:00+02", ValueType::kDateTime, p));
  EXPECT_TRUE(ParseDateTime("23:59", ValueType::kTime, p));
  EXPECT_FALSE(ParseDateTime("12:60:00", ValueType::kTime, p));
}

TEST(ValueTest, RecognisesPlainDecimalText) {
  EXPECT_TRUE(IsDecimalText("-12.50"));
  EXPECT_TRUE(IsDecimalText(".5"));
  EXPECT_FALSE(IsDecimalText("."));
  EXPECT_FALSE(IsDecimalText("1e5"));
  EXPECT_FALSE(IsDecimalText("1.2.3"));
  EXPECT_FALSE(IsDecimalText(""));
}

}  // namespace
}  // namespace vantrelle
