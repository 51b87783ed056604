#include "format/field_picture.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace vantrelle {
namespace {

using testing_util::Moment;
using testing_util::PictureLocale;

TEST(FieldCodeTest, FormatSwitchesChangeCase) {
  EXPECT_EQ(ApplyFormatSwitches("north west", {"Upper"}), "NORTH WEST");
  EXPECT_EQ(ApplyFormatSwitches("North WEST", {"lower"}), "north west");
  EXPECT_EQ(ApplyFormatSwitches("  north west", {"FirstCap"}), "  North west");
  EXPECT_EQ(ApplyFormatSwitches("north west-side", {"Caps"}), "North West-side");
  EXPECT_EQ(ApplyFormatSwitches("keep", {"MERGEFORMAT", "CHARFORMAT", "Roman"}), "keep");
}

struct SwitchCase {
  const char* value;
  const char* option;
  const char* expected;
};

class NumberSwitchTest : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(NumberSwitchTest, ShowsTheNumberInItsForm) {
  const SwitchCase& c = GetParam();
  EXPECT_EQ(ApplyFormatSwitches(c.value, {c.option}, LocaleInfo::Fallback()), c.expected)
      << c.value << " \\* " << c.option;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, NumberSwitchTest,
    ::testing::Values(
        SwitchCase{"1,234.5", "Arabic", "1235"}, SwitchCase{"-7", "Arabic", "-7"},
        SwitchCase{"5", "ArabicDash", "- 5 -"},
        SwitchCase{"11", "ROMAN", "XI"}, SwitchCase{"11", "Roman", "XI"},
        SwitchCase{"11", "roman", "xi"}, SwitchCase{"1994", "Roman", "MCMXCIV"},
        SwitchCase{"4999", "Roman", "MMMMCMXCIX"}, SwitchCase{"0", "Roman", "0"},
        SwitchCase{"40000", "Roman", "40000"},
        SwitchCase{"2", "ALPHABETIC", "B"}, SwitchCase{"2", "alphabetic", "b"},
        SwitchCase{"26", "Alphabetic", "Z"}, SwitchCase{"28", "Alphabetic", "BB"},
        SwitchCase{"53", "Alphabetic", "AAA"}, SwitchCase{"781", "Alphabetic", "781"},
        SwitchCase{"1", "Ordinal", "1st"}, SwitchCase{"2", "Ordinal", "2nd"},
        SwitchCase{"3", "Ordinal", "3rd"}, SwitchCase{"4", "Ordinal", "4th"},
        SwitchCase{"11", "Ordinal", "11th"}, SwitchCase{"12", "Ordinal", "12th"},
        SwitchCase{"13", "Ordinal", "13th"}, SwitchCase{"21", "Ordinal", "21st"},
        SwitchCase{"112", "Ordinal", "112th"}, SwitchCase{"30", "Ordinal", "30th"},
        SwitchCase{"0", "CardText", "zero"}, SwitchCase{"15", "CardText", "fifteen"},
        SwitchCase{"790", "CardText", "seven hundred ninety"},
        SwitchCase{"123456", "CardText",
                   "one hundred twenty-three thousand four hundred fifty-six"},
        SwitchCase{"1000", "CardText", "one thousand"},
        SwitchCase{"1000000", "CardText", "1000000"},
        SwitchCase{"21", "OrdText", "twenty-first"}, SwitchCase{"20", "OrdText", "twentieth"},
        SwitchCase{"12", "OrdText", "twelfth"}, SwitchCase{"100", "OrdText", "one hundredth"},
        SwitchCase{"1003", "OrdText", "one thousand third"},
        SwitchCase{"14.55", "DollarText", "fourteen and 55/100"},
        SwitchCase{"0.5", "DollarText", "zero and 50/100"},
        SwitchCase{"3.999", "DollarText", "four and 00/100"},
        SwitchCase{"458", "Hex", "1CA"}, SwitchCase{"458", "hex", "1ca"},
        SwitchCase{"0", "Hex", "0"},
        // What has no such form stays as it is.
        SwitchCase{"North", "Roman", "North"}, SwitchCase{"-3", "Ordinal", "-3"},
        SwitchCase{"-3", "DollarText", "-3"}, SwitchCase{"", "CardText", ""}));

TEST(FieldCodeTest, NumberFormsCombineWithCaseSwitchesInTheirOrder) {
  EXPECT_EQ(ApplyFormatSwitches("14.55", {"DollarText", "Upper"}, LocaleInfo::Fallback()), "FOURTEEN AND 55/100");
  EXPECT_EQ(ApplyFormatSwitches("790", {"CardText", "Caps"}, LocaleInfo::Fallback()), "Seven Hundred Ninety");
  EXPECT_EQ(ApplyFormatSwitches("21", {"OrdText", "FirstCap"}, LocaleInfo::Fallback()), "Twenty-first");
}

// A moment and the locale a date picture is read with.
struct PictureCase {
  const char* picture;
  int year, month, day, hour, minute, second;
  const char* expected;   ///< nullptr: the picture cannot be read
  bool no_am_pm = false;  ///< a locale whose clock has no AM/PM markers
};

void PrintTo(const PictureCase& c, std::ostream* os) { *os << "picture \"" << c.picture << "\""; }

class DatePictureTest : public ::testing::TestWithParam<PictureCase> {};

TEST_P(DatePictureTest, ReadsThePictureAsTheWordProcessorDoes) {
  const PictureCase& c = GetParam();
  std::optional<std::string> shown =
      FormatDatePicture(Moment(c.year, c.month, c.day, c.hour, c.minute, c.second), c.picture,
                        PictureLocale(c.no_am_pm));
  if (c.expected) {
    EXPECT_EQ(shown, std::string(c.expected));
  } else {
    EXPECT_EQ(shown, std::nullopt);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, DatePictureTest,
    ::testing::Values(
        PictureCase{"d dd ddd dddd", 2026, 3, 7, 14, 5, 9, "7 07 Sat Saturday"},
        PictureCase{"M MM MMM MMMM", 2026, 3, 7, 14, 5, 9, "3 03 Mar March"},
        PictureCase{"yy yyyy", 2026, 3, 7, 14, 5, 9, "26 2026"},
        PictureCase{"h hh H HH", 2026, 3, 7, 14, 5, 9, "2 02 14 14"},
        PictureCase{"m mm s ss", 2026, 3, 7, 14, 5, 9, "5 05 9 09"},
        PictureCase{"h:mm am/pm", 2026, 3, 7, 14, 5, 9, "2:05 pm"},
        PictureCase{"h:mm AM/PM", 2026, 3, 7, 0, 5, 9, "12:05 AM"},
        PictureCase{"'Day' d 'of' MMMM", 2026, 3, 7, 14, 5, 9, "Day 7 of March"},
        PictureCase{"dd.MM.yyyy", 2026, 3, 7, 14, 5, 9, "07.03.2026"},
        PictureCase{"yyyy-MM-dd\xC3\xA9", 2026, 3, 7, 14, 5, 9, "2026-03-07\xC3\xA9"},
        // Day and year letters in either case; M is the month, m the minute.
        PictureCase{"DD.MM.YYYY", 2004, 5, 5, 0, 0, 0, "05.05.2004"},
        PictureCase{"D/M/YY DDDD", 2004, 5, 5, 0, 0, 0, "5/5/04 Wednesday"},
        PictureCase{"HH:mm MM", 2004, 5, 5, 9, 7, 0, "09:07 05"},
        // A letter that is no code: the field keeps its result.
        PictureCase{"dd.MM.JJJJ", 2004, 5, 5, 0, 0, 0, nullptr},
        PictureCase{"yyyy-MM-ddTHH:mm", 2004, 5, 5, 0, 0, 0, nullptr},
        PictureCase{"SS", 2004, 5, 5, 0, 0, 0, nullptr},
        PictureCase{"h:mm a/p", 2004, 5, 5, 0, 0, 0, nullptr},
        // The date fields of the corpus documents, with the moment the word
        // processor used and the result it saved.
        PictureCase{"MM/DD/YY ", 1995, 9, 29, 0, 0, 0, "09/29/95 "},      // oxsdk-complex_table3
        PictureCase{"dd/MM/yyyy", 2009, 3, 6, 15, 16, 0, "06/03/2009"},   // poi-60316b
        PictureCase{"h:mm am/pm", 2009, 3, 6, 15, 16, 0, "3:16 ", true},  // poi-60316b
        PictureCase{"MMMM", 2014, 1, 1, 0, 0, 0, "January"},              // oxpt-HW010, HC008
        PictureCase{"yyyy", 2014, 1, 1, 0, 0, 0, "2014"},                 // oxpt-HW010, HC008
        PictureCase{"dddd", 2014, 1, 1, 0, 0, 0, "Wednesday"},            // oxpt-HC008
        PictureCase{"d", 2014, 1, 31, 0, 0, 0, "31"},                     // oxpt-HC008
        PictureCase{"M/d/yyyy", 2020, 2, 7, 0, 0, 0, "2/7/2020"},         // oxpt-008 (DATE)
        PictureCase{"M/d/yyyy", 2008, 2, 15, 0, 0, 0, "2/15/2008"},       // oxsdk-simple-field
        PictureCase{"dddd, MMMM d, yyyy", 2015, 11, 18, 0, 0, 0,
                    "Wednesday, November 18, 2015"},  // oxsdk-Strict01-rich
        PictureCase{"dddd, MMMM dd, yyyy", 2004, 5, 5, 0, 0, 0, "Wednesday, May 05, 2004"}));

struct NumberCase {
  const char* picture;
  const char* value;
  const char* expected;
};

class NumericPictureTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumericPictureTest, FormatsTheNumber) {
  EXPECT_EQ(FormatNumericPicture(GetParam().value, GetParam().picture, LocaleInfo::Fallback()),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, NumericPictureTest,
    ::testing::Values(
        // Digits, grouping and decimals; rounding half away from zero.
        NumberCase{"#,##0.00", "1234.5", "1,234.50"},
        NumberCase{"#,##0.00", "1234567.891", "1,234,567.89"},
        NumberCase{"#,##0", "12345678", "12,345,678"},
        NumberCase{",0", "1234567", "1,234,567"},
        NumberCase{"0.00", "0.285", "0.29"},
        NumberCase{"0", "-4.5", "-5"},
        NumberCase{"#,##0", "-5", "    -5"},
        NumberCase{"'Total: '", "-5", "Total: -5"},
        NumberCase{"0.00", "-0.001", "0.00"},
        NumberCase{"00.00", "9", "09.00"},
        NumberCase{"0.0#", "1.5", "1.5"},
        NumberCase{"0.0#", "1.256", "1.26"},
        NumberCase{"0.000", "1.5E-2", "0.015"},
        // # shows a space where the number has no digit, its group mark too.
        NumberCase{"$###", "15", "$ 15"},
        NumberCase{"#,##0", "5", "    5"},
        // x drops the digits left of it; right of the point it rounds there.
        NumberCase{"x##", "222492", "492"},
        NumberCase{"0.00x", "0.125", "0.125"},
        NumberCase{".x", "0.75", ".8"},
        // Signs and literal text.
        NumberCase{"-##", "-80", "-80"},
        NumberCase{"-##", "80", " 80"},
        NumberCase{"+##", "10", "+10"},
        NumberCase{"+##", "-10", "-10"},
        NumberCase{"##%", "33", "33%"},
        NumberCase{"0 'units'", "12", "12 units"},
        // Sections for negative numbers and zero.
        NumberCase{"$#,##0.00;($#,##0.00)", "-1245.65", "($1,245.65)"},
        NumberCase{"$,0.00;-$,0.00", "-1234", "-$1,234.00"},
        NumberCase{"$#,##0.00;-$#,##0.00", "-5", "-$    5.00"},
        NumberCase{"0.00;-0.00;'none'", "0", "none"},
        NumberCase{"0.00;-0.00;'none'", "2", "2.00"}));

TEST(NumericPictureTest, TextThatIsNoNumberIsLeftAlone) {
  EXPECT_EQ(FormatNumericPicture("north", "0.00", LocaleInfo::Fallback()), std::nullopt);
  EXPECT_EQ(FormatNumericPicture("12abc", "0.00", LocaleInfo::Fallback()), std::nullopt);
  EXPECT_EQ(FormatNumericPicture("", "0.00", LocaleInfo::Fallback()), std::nullopt);
}

TEST(NumericPictureTest, UsesTheLocalesSymbols) {
  LocaleInfo locale = LocaleInfo::Fallback();
  locale.decimal_separator = ",";
  locale.group_separator = ".";
  EXPECT_EQ(FormatNumericPicture("1234,5", "#.##0,00", locale), "1.234,50");
  EXPECT_EQ(FormatNumericPicture("1.234,5", "0,0", locale), "1234,5");
  // A separator of more than one byte, in the picture as in the result.
  locale.group_separator = "\xE2\x80\xAF";  // narrow no-break space
  EXPECT_EQ(FormatNumericPicture("1234,5", "#\xE2\x80\xAF##0,00", locale),
            "1\xE2\x80\xAF" "234,50");
}

TEST(DateTextTest, FormatsDatesAndLeavesOtherTextAlone) {
  const LocaleInfo& locale = LocaleInfo::Fallback();
  EXPECT_EQ(FormatDateText("2004-05-01", "MMMM yyyy", locale), "May 2004");
  EXPECT_EQ(FormatDateText("1/1/2014", "MMMM yyyy", locale), "January 2014");
  EXPECT_EQ(FormatDateText("2026-03-07 14:05:09", "dddd HH:mm:ss", locale),
            "Saturday 14:05:09");
  EXPECT_EQ(FormatDateText("2004", "MMMM yyyy", locale), std::nullopt);
  EXPECT_EQ(FormatDateText("May 2004", "MMMM yyyy", locale), std::nullopt);
}

}  // namespace
}  // namespace vantrelle
