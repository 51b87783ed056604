#include "base/whole_number.h"

#include <gtest/gtest.h>

#include "base/error.h"

namespace vantrelle {
namespace {

int ErrorNumberOf(const char* text) {
  try {
    ToWholeNumber(text);
  } catch (const Error& error) {
    return error.Number();
  }
  return -1;
}

TEST(WholeNumberTest, ReadsDigitsWithBlanksAndSigns) {
  EXPECT_EQ(2, ToWholeNumber(" 2 "));
  EXPECT_EQ(-17, ToWholeNumber("\t-17"));
  EXPECT_EQ(5, ToWholeNumber("+5"));
  EXPECT_EQ(0, ToWholeNumber("000"));
  EXPECT_EQ(32767, ToWholeNumber("32767"));
  EXPECT_EQ(-32768, ToWholeNumber("-32768"));
  EXPECT_EQ(1200, ToWholeNumber("1.2e3"));
}

TEST(WholeNumberTest, RoundsHalvesToEven) {
  EXPECT_EQ(2, ToWholeNumber("2.5"));
  EXPECT_EQ(4, ToWholeNumber("3.5"));
  EXPECT_EQ(-2, ToWholeNumber("-2.5"));
  EXPECT_EQ(3, ToWholeNumber("2.5000001"));
  EXPECT_EQ(2, ToWholeNumber("2.4999999999999999999"));
  EXPECT_EQ(0, ToWholeNumber("0.5"));
  EXPECT_EQ(1, ToWholeNumber(".51"));
  EXPECT_EQ(32767, ToWholeNumber("32767.4"));
}

TEST(WholeNumberTest, RejectsTextAndOutOfRange) {
  for (const char* text : {"", "  ", "x", "1x", "1 2", "--1", "1e", "e5", "."})
    EXPECT_EQ(kErrTypeMismatch, ErrorNumberOf(text)) << text;
  for (const char* text : {"32768", "-32769", "32767.5", "1e9", "99999999999999999999"})
    EXPECT_EQ(kErrOverflow, ErrorNumberOf(text)) << text;
}

}  // namespace
}  // namespace vantrelle
