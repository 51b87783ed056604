#include "base/ini_file.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace vantrelle {
namespace {

class IniFileTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("ini_test_" + std::to_string(::getpid()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "report.ini").string();
  }
  void TearDown() override {
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add);
    std::filesystem::remove_all(dir_);
  }
  void Write(const std::string& content) {
    std::ofstream(path_, std::ios::binary) << content;
  }
  std::string Content() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  std::string Read(const char* section, const char* key) {
    return ReadIniString(section, key, path_);
  }

  std::filesystem::path dir_;
  std::string path_;
};

TEST_F(IniFileTest, NamesIgnoreCaseAndValuesAreTrimmedAndUnquoted) {
  Write("\xEF\xBB\xBF[File]\r\n  LogFileName =  run.log  \r\nquoted=\" a b \"\r\n"
        "single='x'\r\nhalf=\"x\r\nempty=\r\n; comment=1\r\n");
  EXPECT_EQ("run.log", Read("FILE", "logfilename"));
  EXPECT_EQ(" a b ", Read("file", "QUOTED"));
  EXPECT_EQ("x", Read("File", "single"));
  EXPECT_EQ("\"x", Read("File", "half"));
  EXPECT_EQ("", Read("File", "empty"));
  EXPECT_EQ("", Read("File", "; comment"));
  EXPECT_EQ("", Read("File", "missing"));
  EXPECT_EQ("", Read("Other", "LogFileName"));
}

TEST_F(IniFileTest, FirstOfDuplicateSectionsAndKeysWins) {
  Write("[A]\nk=1\nk=2\n[B]\nk=3\n[a]\nk=4\nonly=5\n");
  EXPECT_EQ("1", Read("A", "k"));
  EXPECT_EQ("3", Read("B", "k"));
  EXPECT_EQ("", Read("A", "only"));
}

TEST_F(IniFileTest, OddFilesGiveEmptyValues) {
  EXPECT_EQ("", ReadIniString("A", "k", (dir_ / "missing.ini").string()));
  EXPECT_EQ("", ReadIniString("A", "k", dir_.string()));  // a folder
  Write("no sections at all\nk=1\n");
  EXPECT_EQ("", Read("A", "k"));
  Write(std::string("[A]\nk=ab\0cd\nm=\xff\xfe\n", 17));
  EXPECT_EQ("ab", Read("A", "k"));
  EXPECT_EQ("\xC3\xBF\xC3\xBE", Read("A", "m"));  // not UTF-8: read as Windows-1252
}

TEST_F(IniFileTest, LongValuesAreCutAtTheBufferWithoutSplittingCharacters) {
  Write("[A]\nk=" + std::string(100000, 'x') + "\nu=" + std::string(2046, 'a') + "\xc3\xa9\n");
  EXPECT_EQ(std::string(kMaxIniValue, 'x'), Read("A", "k"));
  EXPECT_EQ(std::string(2046, 'a'), Read("A", "u"));
}

TEST_F(IniFileTest, ParsedOnceAnswersEveryKeyAndTellsWhichValuesReachTheLimit) {
  IniFile ini = IniFile::Parse("[SQLFILE]\r\nF_MAXNUM=2\r\nF1 = a.sql\r\n[file]\r\nName=" +
                               std::string(kMaxIniValue - 1, 'n') + "\r\nLong=" +
                               std::string(kMaxIniValue, 'l') + "\r\n[SqlFile]\r\nF2=b.sql\r\n");
  EXPECT_EQ("2", ini.Get("sqlfile", "f_maxnum"));
  EXPECT_EQ("a.sql", ini.Get("SQLFILE", "F1"));
  EXPECT_EQ("", ini.Get("SQLFILE", "F2"));  // in a second section of the same name
  EXPECT_FALSE(ini.ReachesLimit("FILE", "Name"));
  EXPECT_TRUE(ini.ReachesLimit("FILE", "Long"));
  EXPECT_EQ(kMaxIniValue, ini.Get("FILE", "Long").size());
  EXPECT_FALSE(ini.ReachesLimit("FILE", "Missing"));
  // A file read into memory is not read again: changing it changes nothing.
  Write("[A]\nk=before\n");
  IniFile loaded = IniFile::Load(path_);
  Write("[A]\nk=after\n");
  EXPECT_EQ("before", loaded.Get("A", "k"));
}

TEST_F(IniFileTest, WriteReplacesAKeyAndKeepsEveryOtherLine) {
  Write("; header\r\n[PARAMETER]\r\nName1=&Month\r\nDefault1 = 2004-05 \r\n\r\n[FILE]\r\nx=1\r\n");
  ASSERT_TRUE(WriteIniString("parameter", "Default1", "2004-06", path_));
  EXPECT_EQ("; header\r\n[PARAMETER]\r\nName1=&Month\r\nDefault1=2004-06\r\n\r\n[FILE]\r\nx=1\r\n",
            Content());
}

TEST_F(IniFileTest, WriteAddsMissingKeysAndSections) {
  Write("[PARAMETER]\nName1=a\n\n[FILE]\nx=1");
  ASSERT_TRUE(WriteIniString("PARAMETER", "Default1", "v", path_));
  ASSERT_TRUE(WriteIniString("FILE", "y", "2", path_));
  ASSERT_TRUE(WriteIniString("NEW", "k", "3", path_));
  EXPECT_EQ("[PARAMETER]\nName1=a\nDefault1=v\n\n[FILE]\nx=1\ny=2\n[NEW]\nk=3\n", Content());
  EXPECT_EQ("v", Read("PARAMETER", "Default1"));
}

TEST_F(IniFileTest, WriteLeavesAReadOnlyFileUntouched) {
  Write("[A]\nk=1\n");
  ::chmod(path_.c_str(), 0444);
  std::string error;
  EXPECT_FALSE(WriteIniString("A", "k", "2", path_, &error));
  EXPECT_NE(std::string::npos, error.find("read-only")) << error;
  EXPECT_EQ("[A]\nk=1\n", Content());
  // Nothing is left behind in the folder.
  EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(dir_),
                             std::filesystem::directory_iterator()));
}

TEST_F(IniFileTest, WriteIntoAMissingFolderFailsCleanly) {
  std::string error;
  EXPECT_FALSE(WriteIniString("A", "k", "1", (dir_ / "no" / "x.ini").string(), &error));
  EXPECT_NE(std::string::npos, error.find("x.ini")) << error;
}

}  // namespace
}  // namespace vantrelle
