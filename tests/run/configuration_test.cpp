#include "run/configuration.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace vantrelle {
namespace {

using testing_util::FixedTime;
using testing_util::ReadFile;
using testing_util::TempDir;
using testing_util::WriteFile;

class ConfigurationTest : public testing::Test {
 protected:
  void SetUp() override {
    pub_.interactive = false;
    pub_.clock = FixedTime;
    pub_.ini_file_name = dir_.File("report.ini");
    WriteFile(dir_.File("template.docx"), "PK");
  }
  // An INI with the given [FILE] and [ODBC] bodies.
  void Ini(const std::string& file, const std::string& odbc) {
    WriteFile(pub_.ini_file_name, "[FILE]\n" + file + "\n[ODBC]\n" + odbc + "\n");
  }
  std::string Log() {
    if (pub_.log_stream) pub_.log_stream->Close();
    std::string text = ReadFile(pub_.log_file_name);
    // Drop the time stamps: "[YYYYMMDD hh:mm:ss]    " is 23 characters.
    std::string lines;
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find("\r\n", pos);
      lines += text.substr(pos + 23, end - pos - 23) + "\n";
      pos = end + 2;
    }
    return lines;
  }
  std::string Opening() {
    return "Vantrelle 1.4.0\nCopyright (C) 2026 The Vantrelle developers\n"
           "Open log file successfully.\n";
  }

  TempDir dir_;
  PubDef pub_;
};

TEST_F(ConfigurationTest, ReadsTrimmedValuesAndExpandsMacros) {
  Ini("LogFileName = " + dir_.File("run_&Y&M&D.log") + "  \nReportTemplateFileName=  " +
          dir_.File("template.docx") + "\nReportFileName=" + dir_.File("out_&H&N.docx"),
      "DSN= sqlite:x.db \nDBUSER = scott \nDBPWD=a;b ");
  ASSERT_TRUE(LoadConfiguration(pub_));
  EXPECT_EQ(dir_.File("run_20040505.log"), pub_.log_file_name);
  EXPECT_EQ(dir_.File("out_1407.docx"), pub_.report_file_name);
  EXPECT_EQ("sqlite:x.db", pub_.dsn);
  EXPECT_EQ("scott", pub_.db_user);
  EXPECT_EQ("a;b", pub_.db_pwd);
  EXPECT_EQ(Opening(), Log());
  EXPECT_EQ(0, pub_.error_count);
}

TEST_F(ConfigurationTest, MissingTemplateIsLogged) {
  Ini("LogFileName=" + dir_.File("run.log") + "\nReportTemplateFileName=" + dir_.File("no.docx") +
          "\nReportFileName=r.docx",
      "DSN=x");
  EXPECT_FALSE(LoadConfiguration(pub_));
  EXPECT_EQ(Opening() + "Error: The information in the configuration file is incorrect.\n"
                        "Error Info: The template file \"" + dir_.File("no.docx") +
                "\" does not exist.\n",
            Log());
  EXPECT_EQ(1, pub_.error_count);
}

TEST_F(ConfigurationTest, TemplateThatIsAFolderDoesNotExist) {
  Ini("LogFileName=" + dir_.File("run.log") + "\nReportTemplateFileName=" + dir_.path().string() +
          "\nReportFileName=r.docx",
      "DSN=x");
  EXPECT_FALSE(LoadConfiguration(pub_));
  EXPECT_NE(std::string::npos, Log().find("does not exist."));
}

TEST_F(ConfigurationTest, EmptyReportNameAndDsnAreLogged) {
  std::string file = "LogFileName=" + dir_.File("run.log") +
                     "\nReportTemplateFileName=" + dir_.File("template.docx");
  Ini(file + "\nReportFileName=   ", "DSN=x");
  EXPECT_FALSE(LoadConfiguration(pub_));
  EXPECT_EQ(Opening() + "Error: The information in the configuration file is incorrect.\n"
                        "Error Info: The name of report file is invalid.\n",
            Log());

  Ini(file + "\nReportFileName=r.docx", "DBUSER=u");
  EXPECT_FALSE(LoadConfiguration(pub_));
  EXPECT_EQ(Opening() + "Error: The information in the configuration file is incorrect.\n"
                        "Error Info: Data source name does not be set.\n",
            Log());
}

TEST_F(ConfigurationTest, LogThatCannotBeCreatedGivesAnErrorBoxAndNoLog) {
  testing::internal::CaptureStderr();
  Ini("LogFileName=" + dir_.File("missing/run.log"), "DSN=x");
  EXPECT_FALSE(LoadConfiguration(pub_));
  EXPECT_EQ(nullptr, pub_.log_stream);
  Ini("ReportFileName=x", "DSN=x");
  EXPECT_FALSE(LoadConfiguration(pub_));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("Error Info: Cannot create \"" + dir_.File("missing/run.log")))
      << err;
  EXPECT_NE(std::string::npos, err.find("LogFileName")) << err;
}

TEST_F(ConfigurationTest, ANewRunOverwritesTheLog) {
  Ini("LogFileName=" + dir_.File("run.log") + "\nReportTemplateFileName=" +
          dir_.File("template.docx") + "\nReportFileName=r.docx",
      "DSN=x");
  WriteFile(dir_.File("run.log"), "old contents that must go\r\n");
  ASSERT_TRUE(LoadConfiguration(pub_));
  EXPECT_EQ(Opening(), Log());
}

}  // namespace
}  // namespace vantrelle
