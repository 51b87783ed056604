#include "run/configuration.h"

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/ini_file.h"

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

// Names written on Windows: a backslash name is found with "/" in its place,
// a name that exists as written wins, and a drive letter says what to change.
TEST_F(ConfigurationTest, WindowsNamesAreFoundOrRefusedNamingTheKey) {
  std::filesystem::create_directories(dir_.path() / "out");
  std::filesystem::create_directories(dir_.path() / "templates");
  WriteFile(dir_.File("templates/sales.dotx"), "PK");
  const std::string root = dir_.path().string();
  Ini("LogFileName=" + root + "\\out\\run.log\nReportTemplateFileName=" + root +
          "\\templates\\sales.dotx\nReportFileName=" + root + "\\out\\r.docx",
      "DSN=x");
  EXPECT_TRUE(LoadConfiguration(pub_)) << Log();
  EXPECT_EQ(dir_.File("out/run.log"), pub_.log_file_name);
  EXPECT_EQ(dir_.File("templates/sales.dotx"), pub_.template_file_name);
  EXPECT_EQ(dir_.File("out/r.docx"), pub_.report_file_name);

  // A file whose own name holds the backslash is taken as written.
  WriteFile(root + "/templates\\sales.dotx", "PK");
  Ini("LogFileName=" + dir_.File("run.log") + "\nReportTemplateFileName=" + root +
          "/templates\\sales.dotx\nReportFileName=r.docx",
      "DSN=x");
  EXPECT_TRUE(LoadConfiguration(pub_)) << Log();
  EXPECT_EQ(root + "/templates\\sales.dotx", pub_.template_file_name);

  Ini("LogFileName=" + dir_.File("run.log") +
          "\nReportTemplateFileName=C:\\Reports\\sales.dotx\nReportFileName=r.docx",
      "DSN=x");
  EXPECT_FALSE(LoadConfiguration(pub_));
  EXPECT_EQ(Opening() + "Error: The information in the configuration file is incorrect.\n"
                        "Error Info: [FILE] ReportTemplateFileName \"C:\\Reports\\sales.dotx\" is a "
                        "Windows path (a drive letter or a network share); give a Linux path in "
                        "the configuration file.\n",
            Log());

  testing::internal::CaptureStderr();
  Ini("LogFileName=\\\\server\\share\\run.log", "DSN=x");
  EXPECT_FALSE(LoadConfiguration(pub_));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("[FILE] LogFileName \"\\\\server\\share\\run.log\" is a "
                                        "Windows path"))
      << err;
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

// The files a run reads, each named by a link of its own: the outputs are
// compared by identity, not by spelling.
class OutputClashTest : public ConfigurationTest {
 protected:
  void SetUp() override {
    ConfigurationTest::SetUp();
    WriteFile(dir_.File("data.db"), "");
    WriteFile(dir_.File("s1.sql"), "@A=0\nSELECT 1\n");
    WriteFile(dir_.File("s2.sql"), "@B=0\nSELECT 2\n");
    dsn_ = "sqlite:" + dir_.File("data.db");
  }
  void IniWith(const std::string& log, const std::string& report, const std::string& pdf = "") {
    WriteFile(pub_.ini_file_name,
              "[FILE]\nPdfFileName=" + pdf + "\nLogFileName=" + log + "\nReportTemplateFileName=" +
                  dir_.File("template.docx") + "\nReportFileName=" + report +
                  "\n[ODBC]\nDSN=" + dsn_ +
                  "\n[SQLFILE]\nF_MAXNUM=3\nF1=" + dir_.File("s1.sql") +
                  "\nF3=" + dir_.File("s2.sql") + "\n");
  }
  // A new name for \a target: a symbolic link, or a hard link.
  std::string Alias(const std::string& target, bool symbolic) {
    std::string alias = dir_.File("alias" + std::to_string(++aliases_));
    if (symbolic)
      std::filesystem::create_symlink(target, alias);
    else
      std::filesystem::create_hard_link(target, alias);
    return alias;
  }
  int aliases_ = 0;
  std::string dsn_;
};

TEST_F(OutputClashTest, DatabaseFileOfAConnectionStringIsAnInputToo) {
  // A file-based ODBC driver names its file in the connection string.
  for (const std::string& dsn :
       {"Driver=SQLite3;Database=" + dir_.File("data.db") + ";Timeout=2000",
        "DRIVER={SQLite3};  dbq = {" + dir_.File("data.db") + "}; PWD=secret"}) {
    dsn_ = dsn;
    const std::string log = Alias(dir_.File("data.db"), true);
    IniWith(log, dir_.File("report.docx"));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(LoadConfiguration(pub_)) << dsn;
    EXPECT_NE(std::string::npos,
              testing::internal::GetCapturedStderr().find(
                  "names the same file as the database file \"" + dir_.File("data.db") +
                  "\" of [ODBC] DSN"))
        << dsn;
    EXPECT_EQ("", ReadFile(dir_.File("data.db")));
  }
  // A server's database is no file here: nothing to compare.
  dsn_ = "Driver=PostgreSQL Unicode;Server=127.0.0.1;Database=sales";
  IniWith(dir_.File("sales"), dir_.File("report.docx"));
  testing::internal::CaptureStderr();
  LoadConfiguration(pub_);
  EXPECT_EQ(std::string::npos, testing::internal::GetCapturedStderr().find("names the same file"));
}

TEST_F(OutputClashTest, LogThatWouldOverwriteAnInputOrTheReportIsRefusedBeforeItIsOpened) {
  const std::vector<std::pair<std::string, std::string>> inputs = {
      {pub_.ini_file_name, "the configuration file \"" + pub_.ini_file_name + "\""},
      {dir_.File("template.docx"),
       "[FILE] ReportTemplateFileName \"" + dir_.File("template.docx") + "\""},
      {dir_.File("s2.sql"), "[SQLFILE] F3 \"" + dir_.File("s2.sql") + "\""},
      {dir_.File("data.db"), "the database file \"" + dir_.File("data.db") + "\" of [ODBC] DSN"},
      {dir_.File("report.docx"), "[FILE] ReportFileName \"" + dir_.File("report.docx") + "\""},
  };
  WriteFile(dir_.File("report.docx"), "earlier report");
  for (bool symbolic : {true, false}) {
    for (const auto& [path, named] : inputs) {
      const std::string before = ReadFile(path);
      const std::string log = Alias(path, symbolic);
      IniWith(log, dir_.File("report.docx"));
      testing::internal::CaptureStderr();
      EXPECT_FALSE(LoadConfiguration(pub_));
      const std::string err = testing::internal::GetCapturedStderr();
      EXPECT_EQ(nullptr, pub_.log_stream);
      EXPECT_EQ("Error!\nError Info: [FILE] LogFileName \"" + log + "\" names the same file as " +
                    named + "; the run log never overwrites another file of the run.\n",
                err);
      if (path != pub_.ini_file_name) {
        EXPECT_EQ(before, ReadFile(path)) << path;
      }
    }
  }
}

TEST_F(OutputClashTest, ReportThatWouldOverwriteAnInputOrTheLogIsAConfigurationError) {
  const std::string log = dir_.File("run.log");
  const std::vector<std::pair<std::string, std::string>> inputs = {
      {pub_.ini_file_name, "the configuration file \"" + pub_.ini_file_name + "\""},
      {dir_.File("s1.sql"), "[SQLFILE] F1 \"" + dir_.File("s1.sql") + "\""},
      {dir_.File("data.db"), "the database file \"" + dir_.File("data.db") + "\" of [ODBC] DSN"},
      {log, "[FILE] LogFileName \"" + log + "\""},
  };
  for (const auto& [path, named] : inputs) {
    // A report linked to a log that the run has yet to create.
    std::filesystem::remove(log);
    const std::string report = Alias(path, true);
    IniWith(log, report);
    EXPECT_FALSE(LoadConfiguration(pub_));
    EXPECT_EQ(Opening() + "Error: The information in the configuration file is incorrect.\n"
                          "Error Info: [FILE] ReportFileName \"" + report +
                  "\" names the same file as " + named +
                  "; the report never overwrites another file of the run.\n",
              Log());
  }
  // Another spelling of the template's own name.
  IniWith(log, dir_.path().string() + "/./template.docx");
  EXPECT_FALSE(LoadConfiguration(pub_));
  EXPECT_NE(std::string::npos, Log().find("names the same file as [FILE] ReportTemplateFileName"));
}

TEST_F(OutputClashTest, PdfThatWouldOverwriteAnInputTheLogOrTheReportIsAConfigurationError) {
  const std::string log = dir_.File("run.log");
  const std::string report = dir_.File("report.docx");
  const std::vector<std::pair<std::string, std::string>> outputs = {
      {pub_.ini_file_name, "the configuration file \"" + pub_.ini_file_name + "\""},
      {dir_.File("template.docx"),
       "[FILE] ReportTemplateFileName \"" + dir_.File("template.docx") + "\""},
      {dir_.File("s2.sql"), "[SQLFILE] F3 \"" + dir_.File("s2.sql") + "\""},
      {dir_.File("data.db"), "the database file \"" + dir_.File("data.db") + "\" of [ODBC] DSN"},
      {log, "[FILE] LogFileName \"" + log + "\""},
  };
  auto ini_with_pdf = [&](const std::string& pdf) {
    IniWith(log, report, pdf);
  };
  for (const auto& [path, named] : outputs) {
    std::filesystem::remove(log);
    const std::string pdf = Alias(path, true);
    ini_with_pdf(pdf);
    EXPECT_FALSE(LoadConfiguration(pub_));
    EXPECT_EQ(Opening() + "Error: The information in the configuration file is incorrect.\n"
                          "Error Info: [FILE] PdfFileName \"" + pdf +
                  "\" names the same file as " + named +
                  "; the PDF file never overwrites another file of the run.\n",
              Log());
  }
  // The report's own name, before the report exists and after.
  for (bool report_exists : {false, true}) {
    if (report_exists) WriteFile(report, "earlier report");
    ini_with_pdf(dir_.path().string() + "/./report.docx");
    EXPECT_FALSE(LoadConfiguration(pub_));
    EXPECT_NE(std::string::npos, Log().find("PdfFileName \"" + dir_.path().string() +
                                            "/./report.docx\" names the same file as "
                                            "[FILE] ReportFileName"))
        << report_exists;
  }
  // A name of its own passes, its date macros expanded.
  ini_with_pdf(dir_.File("report_&Y.pdf"));
  EXPECT_TRUE(LoadConfiguration(pub_));
  EXPECT_EQ(dir_.File("report_" + std::to_string(FixedTime().tm_year + 1900) + ".pdf"),
            pub_.pdf_file_name);
  EXPECT_EQ(Opening(), Log());
}

TEST_F(ConfigurationTest, FileNamesAndDsnThatReachTheValueLimitAreRefused) {
  const std::string too_long = dir_.path().string() + "/" + std::string(kMaxIniValue, 'x');
  const std::string file = "LogFileName=" + dir_.File("run.log") +
                           "\nReportTemplateFileName=" + dir_.File("template.docx");
  Ini(file + "\nReportFileName=" + too_long, "DSN=x");
  EXPECT_FALSE(LoadConfiguration(pub_));
  EXPECT_EQ(Opening() + "Error: The information in the configuration file is incorrect.\n"
                        "Error Info: [FILE] ReportFileName is 2047 bytes long or longer; a value "
                        "that long would be cut, so it is not used.\n",
            Log());
  Ini(file + "\nReportFileName=r.docx", "DSN=" + std::string(5000, 'd'));
  EXPECT_FALSE(LoadConfiguration(pub_));
  EXPECT_NE(std::string::npos, Log().find("Error Info: [ODBC] DSN is 2047 bytes long"));

  testing::internal::CaptureStderr();
  Ini("LogFileName=" + too_long, "DSN=x");
  EXPECT_FALSE(LoadConfiguration(pub_));
  EXPECT_NE(std::string::npos,
            testing::internal::GetCapturedStderr().find("[FILE] LogFileName is 2047 bytes"));
  EXPECT_EQ(nullptr, pub_.log_stream);
}

// A configuration the user may not read says so, instead of looking like a
// file without a log name. Tests run as root, who reads everything: the
// load runs in a child that has become the unprivileged user "nobody".
TEST_F(ConfigurationTest, UnreadableConfigurationSaysWhy) {
  Ini("LogFileName=" + dir_.File("run.log"), "DSN=x");
  std::filesystem::permissions(pub_.ini_file_name, std::filesystem::perms::owner_write);
  std::filesystem::permissions(dir_.path(), std::filesystem::perms::all);
  int out[2];
  ASSERT_EQ(0, ::pipe(out));
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(out[1], 2);
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    ::_exit(LoadConfiguration(pub_) ? 0 : 1);
  }
  ::close(out[1]);
  std::string err;
  char buffer[512];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) err.append(buffer, n);
  ::close(out[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(1, WEXITSTATUS(status)) << err;
  EXPECT_NE(std::string::npos, err.find("Error Info: Cannot read the configuration file \"" +
                                        pub_.ini_file_name + "\": Permission denied."))
      << err;
  EXPECT_EQ(std::string::npos, err.find("LogFileName")) << err;
  EXPECT_FALSE(std::filesystem::exists(dir_.File("run.log")));
}

}  // namespace
}  // namespace vantrelle
