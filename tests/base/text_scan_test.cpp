#include "base/text_scan.h"

#include <gtest/gtest.h>

namespace vantrelle {
namespace {

TEST(TextScanTest, TrimTrailingBlanksStopsAtNulAndKeepsLeadingBlanks) {
  EXPECT_EQ("abc", TrimTrailingBlanks(std::string("abc\0def", 7)));
  EXPECT_EQ("", TrimTrailingBlanks(" \t\r\n "));
  EXPECT_EQ("  x", TrimTrailingBlanks("  x \r\n\t"));
  EXPECT_EQ("x\v", TrimTrailingBlanks("x\v"));  // only the four blanks count
}

TEST(TextScanTest, SkipBlanksNeverMovesPastTheLastCharacter) {
  int position = 3;
  SkipBlanks("ab  ", position);
  EXPECT_EQ(4, position);
  position = 1;
  SkipBlanks(" \tx", position);
  EXPECT_EQ(3, position);
  position = 9;
  SkipBlanks("ab", position);
  EXPECT_EQ(9, position);
}

TEST(TextScanTest, GetTokenSplitsAtBlanksAndLeavesPositionOnTheBlank) {
  int position = 1;
  EXPECT_EQ("a", GetToken("a b", position, false));
  EXPECT_EQ(2, position);
  EXPECT_EQ("b", GetToken("a b", position, false));
  EXPECT_EQ(4, position);
}

TEST(TextScanTest, GetTokenOnTrailingBlankReturnsEmptyWithoutMoving) {
  int position = 2;
  EXPECT_EQ("", GetToken("a ", position, false));
  EXPECT_EQ(2, position);
}

TEST(TextScanTest, GetTokenQuotedSections) {
  int position = 1;
  EXPECT_EQ("my file.ini", GetToken("\"my file.ini\" x", position, false));
  EXPECT_EQ(14, position);
  position = 1;
  EXPECT_EQ("say \"\"hi\"\"", GetToken("\"say \"\"hi\"\"\"", position, false));
  position = 1;
  EXPECT_EQ("abc def", GetToken("ab'c d'ef rest", position, false));
  EXPECT_EQ(10, position);
  position = 1;
  EXPECT_EQ("", GetToken("\"\"", position, false));
  position = 1;
  EXPECT_EQ("open to end", GetToken("\"open to end", position, false));
  position = 1;
  EXPECT_EQ("'abc d'", GetToken("ab'c d' x", position, true));
}

TEST(TextScanTest, StripCommentKeepsQuotedNumberSigns) {
  EXPECT_EQ("SELECT 1", StripComment("   SELECT 1 # note"));
  EXPECT_EQ("WHERE code = '#12'", StripComment("WHERE code = '#12' # note"));
  EXPECT_EQ("WHERE code =", StripComment("WHERE code = #12"));
  EXPECT_EQ("", StripComment("# only a comment"));
  EXPECT_EQ("", StripComment(""));
  EXPECT_EQ("x = 'it''s # here'", StripComment("\tx = 'it''s # here' #c"));
  EXPECT_EQ("x = 'open # to the end", StripComment("  x = 'open # to the end  \r"));
  EXPECT_EQ("a \"b\"", StripComment("a \"b\"#c"));
}

TEST(TextScanTest, TrimSpacesTrimsSpacesOnly) {
  EXPECT_EQ("a b", TrimSpaces("  a b  "));
  EXPECT_EQ("\ta\t", TrimSpaces(" \ta\t "));
  EXPECT_EQ("", TrimSpaces("   "));
}

}  // namespace
}  // namespace vantrelle
