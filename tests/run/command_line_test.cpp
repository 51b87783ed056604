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

// The program's arguments: in the window the toolkit's own options go to the
// toolkit with their values; in batch mode every word is the report's. Word
// lists are written as text split at blanks.
struct ProgramWordsCase {
  const char* words;
  const char* toolkit;
  const char* values;
  std::string ini;
  bool interactive;
};

std::vector<std::string> Split(std::string_view text) {
  std::vector<std::string> words;
  for (size_t at = 0; at < text.size();) {
    size_t end = std::min(text.find(' ', at), text.size());
    words.emplace_back(text.substr(at, end - at));
    at = end + 1;
  }
  return words;
}

class ProgramWordsTest : public testing::TestWithParam<ProgramWordsCase> {};

TEST_P(ProgramWordsTest, ToolkitOptionsAreTheToolkitsAlone) {
  const ProgramWordsCase& c = GetParam();
  PubDef pub;
  EXPECT_EQ(Split(c.toolkit), ParseProgramWords(Split(c.words), pub));
  const auto values = pub.command_values.begin();
  EXPECT_EQ(Split(c.values), std::vector<std::string>(values, values + pub.command_value_count));
  EXPECT_EQ(c.ini, pub.ini_file_name);
  EXPECT_EQ(c.interactive, pub.interactive);
}

INSTANTIATE_TEST_SUITE_P(
    Options, ProgramWordsTest,
    testing::Values(
        ProgramWordsCase{"-F r.ini -display :59", "-display :59", "", "r.ini", true},
        ProgramWordsCase{"-style Fusion -F r.ini 2004-06", "-style Fusion", "2004-06", "r.ini",
                         true},
        ProgramWordsCase{"2004-06 -platformtheme gtk3", "-platformtheme gtk3", "2004-06", "", true},
        ProgramWordsCase{"--style=Fusion -stylesheet=a.qss a --platform offscreen",
                         "--style=Fusion -stylesheet=a.qss --platform offscreen", "a", "", true},
        ProgramWordsCase{"-platformpluginpath /p -plugin evdev -qwindowgeometry 640x400 "
                         "-qwindowicon i.png -qwindowtitle T -geometry 10x10 -title T -icon i.png "
                         "-session s_1 -stylesheet a.qss -name n -visual 0x21 -reverse "
                         "-widgetcount -testability -nograb -dograb -qmljsdebugger=port:3768",
                         "-platformpluginpath /p -plugin evdev -qwindowgeometry 640x400 "
                         "-qwindowicon i.png -qwindowtitle T -geometry 10x10 -title T -icon i.png "
                         "-session s_1 -stylesheet a.qss -name n -visual 0x21 -reverse "
                         "-widgetcount -testability -nograb -dograb -qmljsdebugger=port:3768",
                         "", "", true},
        // A value the option lacks at the end is still no report value.
        ProgramWordsCase{"a -display", "-display", "a", "", true},
        // The word after -F is the configuration file; names compare exactly.
        ProgramWordsCase{"-f -style -Style x", "", "-Style x", "-style", true},
        // Batch mode reads every word as the grammar says.
        ProgramWordsCase{"-C -style Fusion -display :59", "", "-style Fusion -display :59", "",
                         false},
        // The mode comes from the whole line, where -C came after ten values.
        ProgramWordsCase{"1 2 3 4 5 6 7 8 9 -reverse -C", "-reverse", "1 2 3 4 5 6 7 8 9", "",
                         true}));

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
