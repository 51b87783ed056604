#include "sql/parameters.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace vantrelle {
namespace {

using testing_util::FixedTime;
using testing_util::TempDir;
using testing_util::WriteFile;

class ParametersTest : public testing::Test {
 protected:
  void SetParameters(std::initializer_list<std::pair<const char*, const char*>> list) {
    pub_.parameter_count = 0;
    for (auto& [name, value] : list) {
      pub_.parameters[pub_.parameter_count].name = name;
      pub_.parameters[pub_.parameter_count].value = value;
      ++pub_.parameter_count;
    }
  }
  std::string Substitute(std::string_view line) { return SubstituteParameters(pub_, line); }

  PubDef pub_;
};

TEST_F(ParametersTest, ReadsDefinedKeysInOrderAndAppliesCommandValuesBySlot) {
  TempDir dir;
  pub_.ini_file_name = dir.File("r.ini");
  WriteFile(pub_.ini_file_name,
            "[PARAMETER]\nName1=&Month\nDesc1=Month of the report\nDefault1=2004-05\n"
            "Name3=&Region\nDefault3 = North \nName11=&Never\nDesc2=orphan\nName4=&NoDefault\n");
  pub_.command_values[0] = "2004-06";
  pub_.command_values[1] = "South";
  pub_.command_values[2] = "x";
  pub_.command_values[3] = "surplus";
  pub_.command_value_count = 2;
  ReadParameters(pub_);
  ASSERT_EQ(3, pub_.parameter_count);
  EXPECT_EQ("&Month", pub_.parameters[0].name);
  EXPECT_EQ("Month of the report", pub_.parameters[0].desc);
  EXPECT_EQ("2004-06", pub_.parameters[0].value);
  EXPECT_EQ(1, pub_.parameters[0].number);
  EXPECT_EQ("&Region", pub_.parameters[1].name);
  EXPECT_EQ("South", pub_.parameters[1].value);
  EXPECT_EQ(3, pub_.parameters[1].number);
  EXPECT_EQ("", pub_.parameters[2].value);
  EXPECT_EQ(4, pub_.parameters[2].number);

  // Rereading a file without the section empties the table.
  WriteFile(pub_.ini_file_name, "[FILE]\nx=1\n");
  ReadParameters(pub_);
  EXPECT_EQ(0, pub_.parameter_count);
}

TEST_F(ParametersTest, FirstParameterInSlotOrderWins) {
  SetParameters({{"&P1", "A"}, {"&P10", "B"}});
  EXPECT_EQ("WHERE x = A0", Substitute("WHERE x = &P10"));
  SetParameters({{"&P10", "B"}, {"&P1", "A"}});
  EXPECT_EQ("WHERE x = B AND y = A", Substitute("WHERE x = &P10 AND y = &P1"));
}

TEST_F(ParametersTest, NamesAreCaseSensitiveAndValuesAreNotRescanned) {
  SetParameters({{"&Month", "2004-05"}, {"&P1", "&Month"}});
  EXPECT_EQ("'2004-05' &month &Month", Substitute("'&Month' &month &P1"));
  SetParameters({{"&P1", "x  "}, {"", "never"}});
  EXPECT_EQ("a = x", Substitute("a = &P1"));
  EXPECT_EQ("no names", Substitute("no names"));
}

// PatternN and ChoicesN: what a run and the check refuse, and why.
TEST_F(ParametersTest, PatternsAndChoicesDecideWhichValuesPass) {
  TempDir dir;
  pub_.ini_file_name = dir.File("r.ini");
  WriteFile(pub_.ini_file_name,
            "[PARAMETER]\nName1=&Month\nDefault1=2004-05\nPattern1=\\d{4}-\\d{2}\n"
            "Name2=&Region\nDefault2=North\nChoices2=North|South|\nName3=&Bad\nPattern3=(\n"
            "Name4=&Free\n");
  ReadParameters(pub_);
  ASSERT_EQ(4, pub_.parameter_count);
  EXPECT_EQ((std::vector<std::string>{"North", "South", ""}), pub_.parameters[1].choices);
  const struct {
    int slot;
    const char* value;
    const char* problem;
  } cases[] = {
      {0, "2004-06", ""},
      {0, "2004-06' OR 1=1", "The value \"2004-06' OR 1=1\" of the parameter &Month does not "
                             "match [PARAMETER] Pattern1 \"\\d{4}-\\d{2}\"."},
      {0, "x2004-06", "does not match"},  // the whole value must match
      {1, "South", ""},
      {1, "", ""},
      {1, "south", "The value \"south\" of the parameter &Region is not one of [PARAMETER] "
                   "Choices2 \"North|South|\"."},
      {2, "x", "[PARAMETER] Pattern3 \"(\" is not a regular expression ("},
      {3, "anything'; --", ""},
  };
  for (const auto& c : cases) {
    ParameterRecord parameter = pub_.parameters[c.slot];
    parameter.value = c.value;
    const std::string problem = ParameterValueProblem(parameter);
    if (*c.problem == '\0') EXPECT_EQ("", problem) << c.value;
    else EXPECT_NE(std::string::npos, problem.find(c.problem)) << problem;
  }
}

TEST(DateMacrosTest, ExpandsEveryMacroFromOneMoment) {
  EXPECT_EQ("sales_20040505_1407.doc", ExpandDateMacros("sales_&Y&m&d_&H&N.doc", FixedTime()));
  EXPECT_EQ("2004 2004 09 05 14 07", ExpandDateMacros("&y &Y &S &D &h &n", FixedTime()));
  EXPECT_EQ("a.log", ExpandDateMacros("a&b.log", FixedTime()));
  EXPECT_EQ("a", ExpandDateMacros("a&&", FixedTime()));
  EXPECT_EQ("x2004", ExpandDateMacros("x&&&y", FixedTime()));
  EXPECT_EQ("plain", ExpandDateMacros("plain", FixedTime()));
}

}  // namespace
}  // namespace vantrelle
