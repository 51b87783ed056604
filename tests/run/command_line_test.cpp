#include "run/command_line.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace vantrelle {
namespace {

using testing_util::TempDir;
using testing_util::WriteFile;

class CommandLineTest : public testing::Test {
 protected:
  PubDef Text(std::string_view text) {
    PubDef pub;
    ParseCommandText(text, pub);
    return pub;
  }
  PubDef Words(std::vector<std::string> words) {
    PubDef pub;
    ParseCommandWords(words, pub);
    return pub;
  }
  static std::vector<std::string> Values(const PubDef& pub) {
    return std::vector<std::string>(pub.command_values.begin(),
                                    pub.command_values.begin() + pub.command_value_count);
  }
};

TEST_F(CommandLineTest, SwitchesInAnyCaseAndQuotedValues) {
  PubDef pub = Text("-f \"my dir/r.ini\" -c 2004 \"two words\"");
  EXPECT_EQ("my dir/r.ini", pub.ini_file_name);
  EXPECT_FALSE(pub.interactive);
  EXPECT_EQ((std::vector<std::string>{"2004", "two words"}), Values(pub));
}

TEST_F(CommandLineTest, EmptyTextAndTrailingBlanksGiveNoValues) {
  PubDef pub = Text("");
  EXPECT_TRUE(pub.interactive);
  EXPECT_EQ(0, pub.command_value_count);
  EXPECT_EQ((std::vector<std::string>{"a"}), Values(Text("a   ")));
}

TEST_F(CommandLineTest, FSwitchTakesTheNextTokenWhateverItIs) {
  EXPECT_EQ("b.ini", Text("-F a.ini -F b.ini").ini_file_name);
  PubDef pub = Text("-F -C");
  EXPECT_EQ("-C", pub.ini_file_name);
  EXPECT_TRUE(pub.interactive);
  EXPECT_EQ("", Text("x -F").ini_file_name);
  EXPECT_EQ("", Text("x -F   ").ini_file_name);
  EXPECT_EQ((std::vector<std::string>{"-Fa.ini", "-X", "-5"}), Values(Text("-Fa.ini -X -5")));
}

TEST_F(CommandLineTest, EmptyQuotedValueAndJoinedQuotedPart) {
  EXPECT_EQ((std::vector<std::string>{"", "abc def"}), Values(Text("\"\" ab\"c d\"ef")));
}

TEST_F(CommandLineTest, TenValuesStopTheReading) {
  PubDef pub = Text("1 2 3 4 5 6 7 8 9 10 11 12 -C");
  EXPECT_EQ(10, pub.command_value_count);
  EXPECT_EQ("10", pub.command_values[9]);
  EXPECT_TRUE(pub.interactive);
  pub = Words({"-C", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "-F", "x.ini"});
  EXPECT_FALSE(pub.interactive);
  EXPECT_EQ("", pub.ini_file_name);
}

TEST_F(CommandLineTest, WordsFromTheShellAreTokensAsTheyStand) {
  PubDef pub = Words({"-F", "my dir/r.ini", "-C", "a b", "", "-F"});
  EXPECT_EQ("", pub.ini_file_name);  // the last -F had nothing after it
  EXPECT_FALSE(pub.interactive);
  EXPECT_EQ((std::vector<std::string>{"a b", ""}), Values(pub));
}

TEST(DefaultConfigurationTest, ProgramFolderThenWindirThenEtc) {
  TempDir dir;
  FileSystem fs;
  std::string exe = dir.File("rep");
  WriteFile(dir.File("windir_rep.ini"), "");
  EXPECT_EQ("", FindDefaultConfiguration(fs, exe, dir.path().string().c_str()));
  std::filesystem::create_directories(dir.path() / "win");
  WriteFile(dir.File("win/rep.ini"), "");
  EXPECT_EQ(dir.File("win/rep.ini"),
            FindDefaultConfiguration(fs, exe, dir.File("win").c_str()));
  WriteFile(dir.File("rep.ini"), "");
  EXPECT_EQ(dir.File("rep.ini"), FindDefaultConfiguration(fs, exe, dir.File("win").c_str()));
  EXPECT_EQ(dir.File("rep.ini"), FindDefaultConfiguration(fs, exe, nullptr));
}

}  // namespace
}  // namespace vantrelle
