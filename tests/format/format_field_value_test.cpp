#include "format/format_field_value.h"

#include <gtest/gtest.h>

#include <clocale>
#include <ctime>
#include <string>

#include "format/format_expression.h"

namespace vantrelle {
namespace {

struct FormatCase {
  const char* value;
  const char* format;
  const char* expected;
};

void PrintTo(const FormatCase& c, std::ostream* os) {
  *os << "value \"" << c.value << "\" format \"" << c.format << "\"";
}

// Pins the C.UTF-8 locale (".", ",", "/", English names, short date m/d/y)
// and restores the caller's locale afterwards.
class FormatTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* current = std::setlocale(LC_ALL, nullptr);
    saved_ = current ? current : "C";
    ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
  }
  void TearDown() override { std::setlocale(LC_ALL, saved_.c_str()); }

  static std::string Format(std::string_view value, std::string_view format) {
    return FormatFieldValue(value, format);
  }

 private:
  std::string saved_;
};

class FormatTableTest : public FormatTest, public testing::WithParamInterface<FormatCase> {};

TEST_P(FormatTableTest, FormatsAsExpected) {
  const FormatCase& c = GetParam();
  EXPECT_EQ(Format(c.value, c.format), c.expected);
  // The same pattern as a template cell returns it, with the end-of-cell mark.
  EXPECT_EQ(Format(c.value, std::string(c.format) + "\r\a"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Numbers, FormatTableTest, testing::Values(
    FormatCase{"1234.5", "#,##0.00", "1,234.50"},
    FormatCase{"-1234.5", "#,##0.00", "-1,234.50"},
    FormatCase{"1234567", "#,##0", "1,234,567"},
    FormatCase{"1234", "#,#", "1,234"},
    FormatCase{"5", "0,000", "0,005"},
    FormatCase{"0.256", "0.0%", "25.6%"},
    FormatCase{"0.05", "0%", "5%"},
    FormatCase{"5", "0\\%", "5%"},
    // Rounding works on the decimal digits, an exact half away from zero.
    FormatCase{"0.285", "0.00", "0.29"},
    FormatCase{"2.5", "0", "3"},
    FormatCase{"-2.5", "0", "-3"},
    FormatCase{"1.005", "0.00", "1.01"},
    FormatCase{"9.995", "0.00", "10.00"},
    FormatCase{"1234567890123.455", "0.00", "1234567890123.46"},
    FormatCase{"123456789012345678901234567890.5", "0.0", "123456789012345678901234567890.5"},
    // A negative value that rounds to zero shows no minus sign.
    FormatCase{"-0.001", "0.00", "0.00"},
    FormatCase{"0.5", "#.##", ".5"},
    FormatCase{"1", "0.##", "1."},
    FormatCase{"1.5", "0.##", "1.5"},
    FormatCase{"0", "#", ""},
    FormatCase{"1234.5", ".00", "1234.50"},
    FormatCase{"123", "00000", "00123"},
    FormatCase{"123456", "00", "123456"},
    FormatCase{"123456789", "000-00-0000", "123-45-6789"},
    // Commas right after the digits divide by 1000 each.
    FormatCase{"1234567", "#,##0,", "1,235"},
    FormatCase{"1234567", "0.0,,", "1.2"},
    FormatCase{"1234567", "0.00,\"K\"", "1234.57K"},
    FormatCase{"5", ",0", ",5"},
    FormatCase{"12345", "0.00E+00", "1.23E+04"},
    FormatCase{"99999", "0.00E+00", "1.00E+05"},
    FormatCase{"0.000123", "0.00E-00", "1.23E-04"},
    FormatCase{"12345", "0.00E-00", "1.23E04"},
    FormatCase{"12345", "00.0e+0", "12.3e+3"},
    FormatCase{"-12345", "0.0##E+0", "-1.235E+4"},
    FormatCase{"0", "0.00E+00", "0.00E+00"},
    FormatCase{"5", "$0.00", "$5.00"},
    FormatCase{"-5", "$0.00", "-$5.00"},
    FormatCase{"5", "0 \"kg\"", "5 kg"},
    FormatCase{"5", "0 days", "5 days"},
    // Value text as the data layer and users write numbers.
    FormatCase{"1.5E+3", "0", "1500"},
    FormatCase{"2.5e-1", "0.00", "0.25"},
    FormatCase{"12,345,678.9", "#,##0", "12,345,679"},
    FormatCase{"  42  ", "0.0", "42.0"},
    FormatCase{"+7", "0", "7"},
    // The group separator may stand between any two digits.
    FormatCase{"1,5", "0.00", "15.00"},
    FormatCase{"abc", "0.00", "abc"},
    FormatCase{"12abc", "0.00", "12abc"}));

INSTANTIATE_TEST_SUITE_P(Sections, FormatTableTest, testing::Values(
    FormatCase{"5", "0.00;(0.00)", "5.00"},
    FormatCase{"-5", "0.00;(0.00)", "(5.00)"},
    FormatCase{"0", "0.00;(0.00)", "0.00"},
    FormatCase{"0", "0.00;(0.00);\"zero\"", "zero"},
    FormatCase{"-0.0", "0.00;(0.00);\"zero\"", "zero"},
    // The section follows the value before rounding.
    FormatCase{"-0.001", "0.00;(0.00);\"zero\"", "(0.00)"},
    // An empty section stands aside for the first, sign included.
    FormatCase{"-5", "0.00;;\"zero\"", "-5.00"},
    FormatCase{"0", "0.00;(0.00);", "0.00"},
    FormatCase{"-3", "0;\"neg\"", "neg"},
    FormatCase{"0", "\"pos\";\"neg\";\"zero\"", "zero"},
    FormatCase{"", "0;0;0;\"n/a\"", "n/a"},
    FormatCase{"", "0.00;(0.00);0.00;0.00", "0.00"},
    FormatCase{"", "0.00", ""},
    FormatCase{"", "0;0;0", ""},
    FormatCase{"abc", "0;0;0;\"n/a\"", "abc"},
    FormatCase{"-12", "0;-0;0;x;y;z;0;0;0;0;0;0;0;0;0;0;0;0;0;0", "-12"}));

INSTANTIATE_TEST_SUITE_P(Dates, FormatTableTest, testing::Values(
    // A run of one letter longer than any code is taken code by code.
    FormatCase{"2004-05-05 14:07:09", "ddddddddd", "Wednesday, May 5, 2004Wed"},
    FormatCase{"2004-05-05 14:07:09", "tttttttt", "2:07:09 PMttt"},
    FormatCase{"2004-05-05 14:07:09", "yyyyyyy", "200404126"},
    FormatCase{"2004-05-05 14:07:09", "yyyy-mm-dd hh:nn", "2004-05-05 14:07"},
    FormatCase{"2004-05-05 14:07:09", "YYYY-MM-DD HH:NN:SS", "2004-05-05 14:07:09"},
    FormatCase{"2004-05-05T14:07:09", "hh:nn", "14:07"},
    FormatCase{"2004-05-05", "dddd, mmmm d, yyyy", "Wednesday, May 5, 2004"},
    FormatCase{"2004-05-05", "ddd d mmm yy", "Wed 5 May 04"},
    FormatCase{"2004-05-05", "d/m/yy", "5/5/04"},
    FormatCase{"2004-05-05", "dd.mm.yyyy", "05.05.2004"},
    FormatCase{"2004-05-05", "mm/dd", "05/05"},
    FormatCase{"2004-05-05", "mmm>", "MAY"},
    FormatCase{"2004-05-05 14:07:09", "h:mm", "14:07"},
    FormatCase{"2004-05-05 14:07:09", "h:mm AM/PM", "2:07 PM"},
    FormatCase{"2004-05-05 00:30:00", "h:nn am/pm", "12:30 am"},
    FormatCase{"2004-05-05 09:05:03", "hh:nn:ss a/p", "09:05:03 a"},
    FormatCase{"2004-05-05 12:00:00", "h A/P", "12 P"},
    FormatCase{"2004-05-05 13:05:03", "h AMPM", "1 PM"},
    FormatCase{"2004-05-05 14:07:09", "hh\\h nn", "14h 07"},
    FormatCase{"2004-05-05 14:07:09", "h \"hours\" n", "14 hours 7"},
    FormatCase{"2004-05-05 04:07:09", "h:n:s", "4:7:9"},
    // Sunday is day 1; the week holding 1 January is week 1.
    FormatCase{"2004-01-01", "ww w y q", "1 5 1 1"},
    FormatCase{"2004-12-31", "ww w y q", "53 6 366 4"},
    FormatCase{"2005-01-01", "ww w", "1 7"},
    FormatCase{"2005-01-02", "ww w", "2 1"},
    FormatCase{"2004-05-05 14:07:09", "c", "5/5/2004 2:07:09 PM"},
    FormatCase{"2004-05-05", "c", "5/5/2004"},
    FormatCase{"14:07:09", "c", "2:07:09 PM"},
    FormatCase{"14:07:09", "hh:nn", "14:07"},
    FormatCase{"14:07:09", "yyyy-mm-dd", "1899-12-30"},
    FormatCase{"2004-05-05", "ddddd", "5/5/2004"},
    FormatCase{"2004-05-05", "dddddd", "Wednesday, May 5, 2004"},
    FormatCase{"2004-05-05 14:07:09", "ttttt", "2:07:09 PM"},
    // Numbers under a date expression are serial day numbers.
    FormatCase{"38112", "yyyy-mm-dd", "2004-05-05"},
    FormatCase{"38112.5", "yyyy-mm-dd hh:nn", "2004-05-05 12:00"},
    FormatCase{"0", "yyyy-mm-dd", "1899-12-30"},
    FormatCase{"-1.5", "yyyy-mm-dd hh:nn", "1899-12-29 12:00"},
    FormatCase{"0.99999999", "yyyy-mm-dd hh:nn:ss", "1899-12-31 00:00:00"},
    FormatCase{"-4", "0;yyyy-mm-dd", "1899-12-26"},
    // The locale's short date and times with a marker.
    FormatCase{"05/14/2004", "yyyy-mm-dd", "2004-05-14"},
    FormatCase{"5/14/04 3:04 PM", "yyyy-mm-dd hh:nn", "2004-05-14 15:04"},
    FormatCase{"2004-05-05 14:07:09.750", "hh:nn:ss", "14:07:09"},
    // What is not a date in range comes back as it is.
    FormatCase{"2004-05-05", "0.00", "2004-05-05"},
    FormatCase{"hello", "yyyy-mm-dd", "hello"},
    FormatCase{"0050-01-01", "yyyy", "0050-01-01"},
    FormatCase{"2004-02-30", "yyyy", "2004-02-30"},
    FormatCase{"2004-05-05 25:00:00", "yyyy", "2004-05-05 25:00:00"},
    FormatCase{"99999999", "yyyy", "99999999"},
    FormatCase{"-700000", "yyyy", "-700000"},
    FormatCase{"2958465", "yyyy-mm-dd", "9999-12-31"},
    FormatCase{"-657434", "yyyy-mm-dd", "0100-01-01"}));

INSTANTIATE_TEST_SUITE_P(Text, FormatTableTest, testing::Values(
    FormatCase{"12345", "@@@-@@", "123-45"},
    FormatCase{"1234567", "@@@-@@", "123-4567"},
    FormatCase{"123", "@@@-@@", "  1-23"},
    FormatCase{"123", "&&&-&&", "1-23"},
    FormatCase{"123", "!@@@@@", "123  "},
    FormatCase{"1234567", "!@@@-@@", "123-4567"},
    FormatCase{"abc", ">", "ABC"},
    FormatCase{"ABC", "<", "abc"},
    FormatCase{"abc", ">@@@@", " ABC"},
    FormatCase{"café", ">", "CAFÉ"},
    FormatCase{"abc", "\"Name: \"@", "Name: abc"},
    FormatCase{"12345", "\\@@", "@12345"},
    FormatCase{"", "@;\"none\"", "none"},
    FormatCase{"x", "@;\"none\"", "x"},
    FormatCase{"", "@@", ""},
    // Text that is neither number nor date keeps the case codes.
    FormatCase{"abc", "0.00>", "ABC"}));

INSTANTIATE_TEST_SUITE_P(NamedFormats, FormatTableTest, testing::Values(
    FormatCase{"1234.5", "General Number", "1234.5"},
    FormatCase{"-0.5", "general number", "-0.5"},
    FormatCase{"1234567890123456789", "General Number", "1.234567890123456789E+18"},
    FormatCase{"0.00001", "General Number", "1E-05"},
    FormatCase{"5", "Currency", "$5.00"},
    FormatCase{"-1234.5", "CURRENCY", "($1,234.50)"},
    FormatCase{"1234.567", "Fixed", "1234.57"},
    FormatCase{"1234.567", "Standard", "1,234.57"},
    FormatCase{"0.1234", "Percent", "12.34%"},
    FormatCase{"12345", "Scientific", "1.23E+04"},
    FormatCase{"0", "Yes/No", "No"},
    FormatCase{"-1", "Yes/No", "Yes"},
    FormatCase{"True", "yes/no", "Yes"},
    FormatCase{"True", "True/False", "True"},
    FormatCase{"False", "On/Off", "Off"},
    FormatCase{"maybe", "Yes/No", "maybe"},
    FormatCase{"2004-05-05 14:07:09", "General Date", "5/5/2004 2:07:09 PM"},
    FormatCase{"2004-05-05", "Long Date", "Wednesday, May 5, 2004"},
    FormatCase{"2004-05-05", "Medium Date", "05-May-04"},
    FormatCase{"2004-05-05", "short date", "5/5/2004"},
    FormatCase{"14:07:09", "Long Time", "2:07:09 PM"},
    FormatCase{"14:07:09", "Medium Time", "02:07 PM"},
    FormatCase{"14:07:09", "Short Time", "14:07"},
    FormatCase{"2004-05-05", "Fixed", "2004-05-05"}));

// Corners of the format language where reports written elsewhere rely on
// the exact rule.
INSTANTIATE_TEST_SUITE_P(ScientificCorners, FormatTableTest, testing::Values(
    // The mantissa keeps one integer digit per placeholder before the point.
    FormatCase{"12345", "##00.0000e-0", "1234.5000e1"},
    FormatCase{"0.000123", "##00.0000e-0", "1230.0000e-7"},
    FormatCase{"12345", "#0.00E+00", "12.35E+03"},
    FormatCase{"12345", "#.00E+00", "1.23E+04"},
    FormatCase{"99999", "##0.0E+0", "100.0E+3"},
    // A "#" after the exponent's digits adds none.
    FormatCase{"12345", "0.00E+0#", "1.23E+4"},
    FormatCase{"1.2E+15", "0.00E+0#", "1.20E+15"},
    FormatCase{"12345", "0.00E+#0", "1.23E+4"}));

INSTANTIATE_TEST_SUITE_P(FractionCorners, FormatTableTest, testing::Values(
    // A "#" before a "0" in the fraction behaves as a "0".
    FormatCase{"1", "0.#0", "1.00"},
    FormatCase{"1.5", "0.##0#", "1.500"},
    FormatCase{"1.23456", "0.#0#", "1.235"},
    FormatCase{"1", "0.0##", "1.0"}));

INSTANTIATE_TEST_SUITE_P(CommaCorners, FormatTableTest, testing::Values(
    // A comma followed by text is text; the digits fill the placeholders
    // around it.
    FormatCase{"123456", "###, ###", "123, 456"},
    FormatCase{"1234567", "###, ###", "1234, 567"},
    FormatCase{"12", "###, ###", ", 12"},
    FormatCase{"123456", "0,\\-000", "123,-456"},
    // Between placeholders it still groups, and at the end it still scales.
    FormatCase{"123456", "#,###", "123,456"},
    FormatCase{"123456", "0,", "123"}));

INSTANTIATE_TEST_SUITE_P(NamedFormatsAtTheEdges, FormatTableTest, testing::Values(
    FormatCase{"0", "Percent", "0.00%"},
    FormatCase{"-0.5", "Percent", "-50.00%"},
    FormatCase{"0.001", "Percent", "0.10%"},
    FormatCase{"0", "Fixed", "0.00"},
    FormatCase{"-0.25", "Fixed", "-0.25"},
    FormatCase{"0", "Standard", "0.00"},
    FormatCase{"-0.5", "Standard", "-0.50"},
    FormatCase{"0", "Currency", "$0.00"},
    FormatCase{"-0.5", "Currency", "($0.50)"},
    FormatCase{"0", "Scientific", "0.00E+00"},
    FormatCase{"-0.5", "Scientific", "-5.00E-01"},
    FormatCase{"0", "General Number", "0"},
    FormatCase{"0.25", "General Number", "0.25"},
    FormatCase{"0", "True/False", "False"},
    FormatCase{"0.5", "On/Off", "On"}));

INSTANTIATE_TEST_SUITE_P(TextCorners, FormatTableTest, testing::Values(
    // Longer than the placeholders: the first characters in order, the rest
    // at the end, with or without "!".
    FormatCase{"abcdef", "(@@)", "(ab)cdef"},
    FormatCase{"abcdef", "!(@@)", "(ab)cdef"},
    FormatCase{"abcdef", "&-&", "a-bcdef"},
    // Shorter: "@" pads with blanks on the left, after "!" on the right;
    // "&" never pads.
    FormatCase{"ab", "[@@@@]", "[  ab]"},
    FormatCase{"ab", "![@@@@]", "[ab  ]"},
    FormatCase{"ab", "[&&&&]", "[ab]"},
    FormatCase{"ab", "![&&&&]", "[ab]"},
    FormatCase{"ab", "@&@&", " ab"},
    // The first of "<" and ">" wins, for the leftover characters too.
    FormatCase{"AbCdE", "<>@@", "abcde"},
    FormatCase{"AbCdE", "><@@", "ABCDE"},
    FormatCase{"AbCdE", "@>@<", "ABCDE"}));

// Input a formatter must survive with a defined result.
INSTANTIATE_TEST_SUITE_P(BadInput, FormatTableTest, testing::Values(
    FormatCase{"1E+400", "0.00", "1E+400"},
    FormatCase{"1E+99999999999999999999", "0.00", "1E+99999999999999999999"},
    FormatCase{"1E-400", "0.00", "0.00"},
    FormatCase{"NaN", "0.00", "NaN"},
    FormatCase{"Infinity", "#,##0", "Infinity"},
    FormatCase{"-Infinity", "yyyy", "-Infinity"},
    FormatCase{"5", "\"unbalanced", "unbalanced"},
    FormatCase{"5", "0\"kg", "5kg"},
    FormatCase{"5", "0\\", "5"},
    FormatCase{"x", "\\", "x"},
    FormatCase{"5", ";;;", ""},
    FormatCase{"5", "0E+", "5E+0"},
    FormatCase{"1234", "0.0,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,", "0.0"}));

// Text that reads as a number or a date under the locale's rules is
// formatted as one; the first two cases are those of the format reference.
INSTANTIATE_TEST_SUITE_P(TextThatReadsAsAValue, FormatTableTest, testing::Values(
    FormatCase{"6,90", "###,##0.00", "690.00"},
    FormatCase{"12-11", "dd-mm", "11-12"},
    FormatCase{"1,2,3", "0", "123"},
    FormatCase{"1,234,5", "#,##0", "12,345"},
    FormatCase{"6,90", "\"n/a\"", "n/a"},
    FormatCase{"12.11.2004", "yyyy-mm-dd", "2004-12-11"},
    FormatCase{"12-31-99 8:05", "yyyy-mm-dd hh:nn", "1999-12-31 08:05"},
    FormatCase{"2004/5/14", "dddd", "Friday"},
    // Day and month the other way round when the locale's order gives no date.
    FormatCase{"13/11/2004", "yyyy-mm-dd", "2004-11-13"},
    // A month and its year: the first of the month.
    FormatCase{"5-2004", "yyyy-mm-dd", "2004-05-01"},
    FormatCase{"2004-5", "mmmm yyyy", "May 2004"},
    // A number first: this is the serial day 2004.05.
    FormatCase{"2004.05", "yyyy-mm-dd", "1905-06-26"},
    // What still is neither.
    FormatCase{",5", "0.00", ",5"},
    FormatCase{"5,", "0.00", "5,"},
    FormatCase{"1,,5", "0.00", "1,,5"},
    FormatCase{"1.5,0", "0.00", "1.5,0"},
    FormatCase{"12-11", "0.00", "12-11"},
    FormatCase{"32-13", "dd-mm", "32-13"},
    FormatCase{"2004-13", "yyyy", "2004-13"},
    FormatCase{"12-11/2004", "yyyy", "12-11/2004"},
    FormatCase{"12-11 noon", "yyyy", "12-11 noon"},
    // Text expressions and literals show the text as it is.
    FormatCase{"6,90", "@", "6,90"},
    FormatCase{"12-11", "!@@@@@@", "12-11 "}));

TEST_F(FormatTest, ADateWithoutAYearIsInThisYear) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(Format("12-11", "yyyy"), std::to_string(local.tm_year + 1900));
}

// The same under a locale with a decimal comma and the day first.
class GermanFormatTest : public testing::Test, public testing::WithParamInterface<FormatCase> {
 protected:
  void SetUp() override {
    const char* current = std::setlocale(LC_ALL, nullptr);
    saved_ = current ? current : "C";
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
      GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed (scripts/setup installs it)";
    }
  }
  void TearDown() override { std::setlocale(LC_ALL, saved_.c_str()); }

 private:
  std::string saved_;
};

TEST_P(GermanFormatTest, ReadsTextWithTheLocalesRules) {
  EXPECT_EQ(FormatFieldValue(GetParam().value, GetParam().format), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(TextThatReadsAsAValue, GermanFormatTest, testing::Values(
    FormatCase{"6.90", "###,##0.00", "690,00"},
    FormatCase{"1,5", "0.00", "1,50"},
    FormatCase{"1.234,5", "#,##0.00", "1.234,50"},
    FormatCase{"12.345.6", "0", "123456"},
    FormatCase{"6,90", "###,##0.00", "6,90"},
    // Dates stay dates, also under a number expression.
    FormatCase{"14.05.2004", "#,##0", "14.05.2004"},
    FormatCase{"1.2.3", "yyyy-mm-dd", "2003-02-01"},
    FormatCase{"12-11", "mm/dd", "11.12"},
    FormatCase{"12.11.2004", "yyyy-mm-dd", "2004-11-12"},
    FormatCase{"11/13/2004", "yyyy-mm-dd", "2004-11-13"},
    FormatCase{"12-11", "@", "12-11"}));

TEST_F(FormatTest, EndOfCellMarkAloneLeavesValueUnchanged) {
  EXPECT_EQ(Format("1234.5", "\r\a"), "1234.5");
  EXPECT_EQ(Format("abc", "\r\n\r\r\a\a"), "abc");
  EXPECT_EQ(Format("", "\r\a"), "");
  EXPECT_EQ(Format("1234.5", ""), "1234.5");
}

TEST_F(FormatTest, StripsOnlyTrailingLineBreaks) {
  EXPECT_EQ(Format("1234.5", "#,##0.00\r\n\r\n\r\a"), "1,234.50");
  // A line break inside the pattern is a literal and stays.
  EXPECT_EQ(Format("12", "0\r\n0\r\a"), "1\r\n2");
  EXPECT_EQ(Format("ab", "@\n@\r\a"), "a\nb");
}

TEST_F(FormatTest, HugePatternsHaveBoundedResults) {
  std::string zeros(100000, '0');
  std::string result = Format("5", zeros);
  ASSERT_EQ(result.size(), zeros.size());
  EXPECT_EQ(result.substr(result.size() - 2), "05");

  // Each percent sign multiplies by 100: the digits grow with the pattern.
  std::string percents = "0" + std::string(1000, '%');
  result = Format("1", percents);
  EXPECT_EQ(result, "1" + std::string(2000, '0') + std::string(1000, '%'));

  std::string quotes(100000, '"');
  EXPECT_EQ(Format("5", quotes), "");
  std::string sections(100000, ';');
  EXPECT_EQ(Format("5", sections), "");
}

TEST_F(FormatTest, ValueWithManyDigitsKeepsThem) {
  std::string digits(300, '7');
  EXPECT_EQ(Format(digits, "0"), digits);
  EXPECT_EQ(Format("0." + std::string(5000, '9'), "0.00"), "1.00");
  std::string too_large(400, '9');
  EXPECT_EQ(Format(too_large, "0"), too_large);
}

TEST_F(FormatTest, ManyDistinctPatternsStayCorrect) {
  // More patterns than the cache holds: each still formats with its own.
  for (int i = 0; i < 100000; ++i) {
    std::string number = std::to_string(i);
    std::string pattern = "0\"";
    pattern.append(number).push_back('"');
    ASSERT_EQ(Format("7", pattern), "7" + number);
  }
  EXPECT_EQ(Format("1234.5", "#,##0.00"), "1,234.50");
}

TEST(FormatLocaleTest, UsesSeparatorsAndNamesOfTheLocale) {
  LocaleInfo german = LocaleInfo::Fallback();
  german.decimal_separator = ",";
  german.group_separator = ".";
  german.short_date_order = "dmy";
  german.date_separator = ".";
  german.month_names[4] = "Mai";
  german.day_names[3] = "Mittwoch";
  german.currency_symbol = "€";
  EXPECT_EQ(FormatValue("1234,5", "#,##0.00", german), "1.234,50");
  EXPECT_EQ(FormatValue("1.234.567,891", "0.0", german), "1234567,9");
  EXPECT_EQ(FormatValue("-1234,5", "Currency", german), "(€1.234,50)");
  EXPECT_EQ(FormatValue("1234.5", "0.00", german), "1234.5");
  EXPECT_EQ(FormatValue("14.05.2004", "yyyy-mm-dd", german), "2004-05-14");
  EXPECT_EQ(FormatValue("2004-05-14", "dd/mm/yyyy", german), "14.05.2004");
  EXPECT_EQ(FormatValue("2004-05-05", "ddddd", german), "05.05.2004");
  EXPECT_EQ(FormatValue("2004-05-05", "dddd, d. mmmm yyyy", german), "Mittwoch, 5. Mai 2004");
}

TEST(FormatExpressionTest, SectionsBeyondTheFourthAreIgnored) {
  FormatExpression expression = ParseFormatExpression("0;1;2;3;4;5;6;7;8;9;10;11;12");
  EXPECT_EQ(expression.sections.size(), 4u);
  EXPECT_EQ(ParseFormatExpression("\"a;b\";\\;").sections.size(), 2u);
}

}  // namespace
}  // namespace vantrelle
