#include "format/value_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vantrelle {
namespace {

class ValueTextTest : public testing::Test {
 protected:
  // "digits@point", "-" first when negative; "none" when it does not read.
  std::string Decimal(std::string_view text) {
    std::optional<DecimalValue> value = ParseDecimal(text, locale_);
    return value ? Show(*value) : "none";
  }
  std::string Rounded(std::string_view text, int fraction_digits) {
    DecimalValue value = *ParseDecimal(text, locale_);
    RoundDecimal(value, fraction_digits);
    return Show(value);
  }
  static std::string Show(const DecimalValue& value) {
    std::string text = value.negative ? "-" : "";
    text.append(value.digits).append("@").append(std::to_string(value.point));
    return text;
  }
  std::string DateTime(std::string_view text) {
    std::optional<DateTimeValue> value = ParseDateTime(text, locale_);
    return value ? Show(*value) : "none";
  }
  static std::string Serial(double serial) {
    std::optional<DateTimeValue> value = DateTimeFromSerial(serial);
    return value ? Show(*value) : "none";
  }
  static std::string Show(const DateTimeValue& v) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", v.year, v.month, v.day,
                  v.hour, v.minute, v.second);
    return text;
  }

  LocaleInfo locale_ = LocaleInfo::Fallback();
};

TEST_F(ValueTextTest, ReadsNumbersAsExactDigits) {
  EXPECT_EQ(Decimal("1234.5"), "12345@4");
  EXPECT_EQ(Decimal("-0.0256"), "-256@-1");
  EXPECT_EQ(Decimal("001200"), "12@4");
  EXPECT_EQ(Decimal(" +12,345.50 "), "123455@5");
  EXPECT_EQ(Decimal(".5"), "5@0");
  EXPECT_EQ(Decimal("5."), "5@1");
  EXPECT_EQ(Decimal("1.5E+3"), "15@4");
  EXPECT_EQ(Decimal("1.5e-7"), "15@-6");
  EXPECT_EQ(Decimal("-0"), "@0");
  EXPECT_EQ(Decimal("0E+999999999999"), "@0");
  EXPECT_EQ(Decimal("12345678901234567890.123456789"), "12345678901234567890123456789@20");
}

TEST_F(ValueTextTest, TextWithoutItsYearIsADateOfTheYearGiven) {
  auto date = [&](std::string_view text) {
    std::optional<DateTimeValue> value = ParseDateText(text, locale_, 1999);
    return value ? Show(*value) : "none";
  };
  EXPECT_EQ(date("12-11"), "1999-12-11 00:00:00");
  EXPECT_EQ(date("2/29"), "none");
  EXPECT_EQ(date("12.11 14:05"), "1999-12-11 14:05:00");
  EXPECT_EQ(date("2004-05-14"), "2004-05-14 00:00:00");
  locale_.short_date_order = "dmy";
  EXPECT_EQ(date("12-11"), "1999-11-12 00:00:00");
}

TEST_F(ValueTextTest, RejectsWhatIsNotANumber) {
  for (const char* text : {"", "-", ".", "abc", "12abc", "1,5", "1,2345", ",123", "1.2.3",
                           "1E", "1E+", "NaN", "Infinity", "1 2", "--1", "1E+400", "0x10"}) {
    EXPECT_EQ(Decimal(text), "none") << text;
  }
  EXPECT_EQ(Decimal("1E-500"), "@0");
}

TEST_F(ValueTextTest, FollowsTheLocaleSeparators) {
  // A no-break space groups digits in some locales.
  LocaleInfo french = LocaleInfo::Fallback();
  french.decimal_separator = std::string(1, ',');
  french.group_separator = std::string("\u00a0");
  locale_ = french;
  EXPECT_EQ(Decimal("1\u00a0234,5"), "12345@4");
  EXPECT_EQ(Decimal("1234.5"), "none");
}

TEST_F(ValueTextTest, RoundsHalfAwayFromZeroOnTheDigits) {
  EXPECT_EQ(Rounded("0.285", 2), "29@0");
  EXPECT_EQ(Rounded("-2.5", 0), "-3@1");
  EXPECT_EQ(Rounded("9.995", 2), "1@2");
  EXPECT_EQ(Rounded("0.004", 2), "@0");
  EXPECT_EQ(Rounded("-0.004", 2), "@0");
  EXPECT_EQ(Rounded("0.005", 2), "1@-1");
  EXPECT_EQ(Rounded("1250", -2), "13@4");
  EXPECT_EQ(Rounded("1.25", 5), "125@1");
}

TEST_F(ValueTextTest, ReadsDatesAndTimes) {
  EXPECT_EQ(DateTime("2004-05-05"), "2004-05-05 00:00:00");
  EXPECT_EQ(DateTime("2004-05-05 14:07:09"), "2004-05-05 14:07:09");
  EXPECT_EQ(DateTime("2004-05-05T14:07"), "2004-05-05 14:07:00");
  EXPECT_EQ(DateTime("14:07:09"), "1899-12-30 14:07:09");
  EXPECT_EQ(DateTime("12:30 am"), "1899-12-30 00:30:00");
  EXPECT_EQ(DateTime("05/14/2004"), "2004-05-14 00:00:00");
  EXPECT_EQ(DateTime("5/14/29"), "2029-05-14 00:00:00");
  EXPECT_EQ(DateTime("5/14/30"), "1930-05-14 00:00:00");
  EXPECT_EQ(DateTime("2000-02-29"), "2000-02-29 00:00:00");
}

TEST_F(ValueTextTest, RejectsImpossibleDates) {
  for (const char* text : {"1900-02-29", "2004-13-01", "2004-00-10", "2004-05-32", "0099-12-31",
                           "24:00:00", "12:60", "13:00 PM", "2004-05-05 14:07 x", "14/05/2004",
                           "2004-05", "2004", "5/14/204"}) {
    EXPECT_EQ(DateTime(text), "none") << text;
  }
}

TEST_F(ValueTextTest, ConvertsSerialDayNumbers) {
  EXPECT_EQ(Serial(0), "1899-12-30 00:00:00");
  EXPECT_EQ(Serial(38112.75), "2004-05-05 18:00:00");
  EXPECT_EQ(Serial(-1.25), "1899-12-29 06:00:00");
  EXPECT_EQ(Serial(2958465.99998), "9999-12-31 23:59:58");
  EXPECT_EQ(Serial(2958465.9999999), "none");  // rounds into the year 10000
  EXPECT_EQ(Serial(2958466), "none");
  EXPECT_EQ(Serial(-657435), "none");
  EXPECT_EQ(Serial(std::nan("")), "none");
  EXPECT_EQ(Serial(std::numeric_limits<double>::infinity()), "none");
  EXPECT_EQ(DaySerial(2004, 5, 5), 38112);
}

TEST_F(ValueTextTest, CountsWeeksFromSundayAndFirstJanuary) {
  EXPECT_EQ(DayOfWeek({2004, 5, 5}), 4);     // a Wednesday
  EXPECT_EQ(DayOfWeek({1899, 12, 30}), 7);   // a Saturday
  EXPECT_EQ(WeekOfYear({2005, 1, 1}), 1);    // Saturday: week 1 has one day
  EXPECT_EQ(WeekOfYear({2005, 1, 2}), 2);
  EXPECT_EQ(WeekOfYear({2006, 12, 31}), 53);
  EXPECT_EQ(WeekOfYear({2000, 12, 31}), 54);  // leap year starting on Saturday
  EXPECT_EQ(DayOfYear({2000, 12, 31}), 366);
}

}  // namespace
}  // namespace vantrelle
