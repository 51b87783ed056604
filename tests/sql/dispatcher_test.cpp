#include "sql/dispatcher.h"

#include <gtest/gtest.h>

#include "base/error.h"

namespace vantrelle {
namespace {

TEST(ControlFieldsTest, MissingAndBlankFieldsKeepTheirDefaults) {
  ControlFields empty = ParseControlFields("");
  EXPECT_EQ(0, empty.function);
  EXPECT_EQ("", empty.table);
  EXPECT_EQ(0, empty.begin_row);
  EXPECT_FALSE(empty.transpose);

  ControlFields two = ParseControlFields("1;2");
  EXPECT_EQ(1, two.function);
  EXPECT_EQ("2", two.table);
  EXPECT_EQ(0, two.begin_row);
  EXPECT_EQ(0, two.begin_col);

  ControlFields blanks = ParseControlFields(" 1 ; 2 ; 3 ; 4 ");
  EXPECT_EQ(1, blanks.function);
  EXPECT_EQ("2", blanks.table);
  EXPECT_EQ(3, blanks.begin_row);
  EXPECT_EQ(4, blanks.begin_col);

  ControlFields gaps = ParseControlFields(";;5;;");
  EXPECT_EQ(0, gaps.function);
  EXPECT_EQ(5, gaps.begin_row);
}

TEST(ControlFieldsTest, TransposeFlagIsAnyNonZeroNumber) {
  EXPECT_TRUE(ParseControlFields("1;2;2;1;1").transpose);
  EXPECT_TRUE(ParseControlFields("1;2;2;1;-3").transpose);
  EXPECT_FALSE(ParseControlFields("1;2;2;1;0").transpose);
  EXPECT_FALSE(ParseControlFields("1;2;2;1").transpose);
  // Fields after the fifth are never looked at.
  EXPECT_TRUE(ParseControlFields("1;2;2;1;1;not a number").transpose);
}

TEST(ControlFieldsTest, TableFieldStaysTextAndNumbersAreChecked) {
  EXPECT_EQ("Title Text", ParseControlFields("3; Title Text ").table);
  EXPECT_EQ(2, ParseControlFields("2.5").function);  // half to even
  EXPECT_THROW(ParseControlFields("x;1;1;1"), Error);
  EXPECT_THROW(ParseControlFields("1;1;40000;1"), Error);
  EXPECT_THROW(ParseControlFields("1;1;1;1;yes"), Error);
  EXPECT_NO_THROW(ParseControlFields("1;abc;1;1"));  // converted only at the call
}

}  // namespace
}  // namespace vantrelle
