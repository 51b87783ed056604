#include "word/package.h"

#include <gtest/gtest.h>

#include "word/wordml.h"

namespace vantrelle {
namespace {

TEST(PackageNameTest, RelationshipTargetsResolveAgainstTheirSource) {
  EXPECT_EQ(ResolvePartName("", "word/document.xml"), "word/document.xml");
  EXPECT_EQ(ResolvePartName("", "/word/document2.xml"), "word/document2.xml");
  EXPECT_EQ(ResolvePartName("word/document.xml", "header1.xml"), "word/header1.xml");
  EXPECT_EQ(ResolvePartName("word/document.xml", "../customXml/item1.xml"), "customXml/item1.xml");
  EXPECT_EQ(ResolvePartName("word/document.xml", "./media/../media/a.png"), "word/media/a.png");
  EXPECT_EQ(ResolvePartName("word/document.xml", "../../../x.xml"), "x.xml");
  EXPECT_EQ(RelationshipsPartName("word/document.xml"), "word/_rels/document.xml.rels");
  EXPECT_EQ(RelationshipsPartName(""), "_rels/.rels");
}

struct Utf8Case {
  const char* input;
  const char* expected;
};

class ValidUtf8Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(ValidUtf8Test, InvalidSequencesAreReplaced) {
  EXPECT_EQ(MakeValidUtf8(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, ValidUtf8Test,
    ::testing::Values(Utf8Case{"plain \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "plain \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
                      Utf8Case{"a\xFF" "b", "a\xEF\xBF\xBD" "b"},
                      Utf8Case{"\xC3", "\xEF\xBF\xBD"},                   // truncated
                      Utf8Case{"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},   // overlong
                      Utf8Case{"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
                      Utf8Case{"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
                      Utf8Case{"x\xEF\xBF\xBEy\xEF\xBF\xBF", "xy"}));  // not XML characters

}  // namespace
}  // namespace vantrelle
