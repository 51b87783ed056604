#include "run/pdf_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include <cstdlib>

#include <gtest/gtest.h>

#include "base/error.h"
#include "base/run_stop.h"
#include "test_util.h"
#include "word/docx_fixture.h"

namespace vantrelle {
namespace {

using testing_util::ReadFile;
using testing_util::TempDir;
using testing_util::WriteFile;

// Sets an environment variable for the length of a scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_)
      ::setenv(name_, old_.c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_;
  std::string old_;
};

class PdfExportTest : public ::testing::Test {
 protected:
  std::string Program(const std::string& folder, const std::string& body, mode_t mode = 0755) {
    std::filesystem::create_directories(dir_.File(folder));
    std::string path = dir_.File(folder + "/soffice");
    WriteFile(path, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), mode);
    return path;
  }
  // Converts \a report as a run does: from the file it saved, still open.
  void Export(const std::string& report, const std::string& pdf, const RunStop* stop = nullptr) {
    int fd = ::open(report.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    try {
      ExportPdf(report, fd, OutputFolder::Open(pdf), std::chrono::seconds(30), stop);
    } catch (...) {
      ::close(fd);
      throw;
    }
    ::close(fd);
  }
  /// A report whose text shows a field: "Total: " and the result "1,234.50".
  void WriteReport(const std::string& name) {
    testing::WriteZip(dir_.File(name),
                      {{"[Content_Types].xml", testing::ContentTypes()},
                       {"_rels/.rels", testing::PackageRels()},
                       {"word/document.xml",
                        testing::DocumentXml(
                            "<w:p><w:r><w:t xml:space=\"preserve\">Total: </w:t></w:r><w:r>"
                            "<w:fldChar w:fldCharType=\"begin\"/></w:r><w:r><w:instrText>"
                            "DOCVARIABLE Amount \\# \"#,##0.00\"</w:instrText></w:r><w:r>"
                            "<w:fldChar w:fldCharType=\"separate\"/></w:r><w:r><w:t>1,234.50"
                            "</w:t></w:r><w:r><w:fldChar w:fldCharType=\"end\"/></w:r></w:p>")}});
  }
  TempDir dir_;
};

TEST_F(PdfExportTest, ProgramIsTheFirstExecutableFileOnThePath) {
  Program("a", "", 0644);  // not executable
  std::filesystem::create_directories(dir_.File("b/soffice"));  // a folder
  std::string c = Program("c", "");
  Program("d", "");
  const std::string list = dir_.File("none") + ":" + dir_.File("a") + ":" + dir_.File("b") + ":" +
                           dir_.File("c") + ":" + dir_.File("d");
  EXPECT_EQ(c, FindProgram("soffice", list));
  EXPECT_EQ("", FindProgram("soffice", dir_.File("a") + ":" + dir_.File("b")));
  EXPECT_EQ("", FindProgram("soffice", ""));
}

TEST_F(PdfExportTest, TimeLimitComesFromTheEnvironmentWhenItIsAWholeNumber) {
  for (const char* bad : {"", "0", "-5", "12s", "x", "99999999999999999999"}) {
    ::setenv("VANTRELLE_PDF_TIMEOUT", bad, 1);
    EXPECT_EQ(kDefaultPdfTimeout, PdfTimeout()) << bad;
  }
  ::setenv("VANTRELLE_PDF_TIMEOUT", "7", 1);
  EXPECT_EQ(std::chrono::seconds(7), PdfTimeout());
  ::unsetenv("VANTRELLE_PDF_TIMEOUT");
  EXPECT_EQ(kDefaultPdfTimeout, PdfTimeout());
}

// A stand-in converter that writes its argument list and a PDF where it is
// told to: the output folder follows --outdir, the input is the last word.
// The "PDF" it writes is the main part of the document it was handed.
TEST_F(PdfExportTest, ConverterRunsWithAPrivateProfileAndItsPdfTakesTheName) {
  WriteReport("report.docx");
  const std::string report_before = ReadFile(dir_.File("report.docx"));
  WriteFile(dir_.File("out.pdf"), "earlier");
  const std::string args = dir_.File("args.txt");
  // It also says what its input is and copies its profile's settings.
  Program(
      "bin",
      "for a in \"$@\"; do echo \"$a\"; done > '" + args +
          "'\n"
          "profile=${1#-env:UserInstallation=file://}\n"
          "cp \"$profile/user/registrymodifications.xcu\" '" + dir_.File("settings.xcu") +
          "'\n"
          "while [ \"$1\" != --outdir ]; do shift; done\n"
          "stat -c '%a %F' \"$3\" \"$(dirname \"$3\")\" > '" + dir_.File("input.txt") + "'\n"
          "printf '%%PDF-1.7 from ' > \"$2/report.pdf\"\n"
          "/usr/bin/python3 -c 'import sys, zipfile; sys.stdout.write(zipfile.ZipFile(sys.argv[1])"
          ".read(\"word/document.xml\").decode())' \"$3\" >> \"$2/report.pdf\"\n");
  {
    ScopedEnv path("PATH", dir_.File("bin") + ":/usr/bin:/bin");
    ScopedEnv tmp("TMPDIR", dir_.path().string());
    Export(dir_.File("report.docx"), dir_.File("out.pdf"));
  }
  // The converter reads the field's result as plain text, which it cannot
  // compute anew; the report keeps its field.
  const std::string pdf = ReadFile(dir_.File("out.pdf"));
  EXPECT_EQ(0u, pdf.find("%PDF-1.7 from <?xml")) << pdf;
  EXPECT_NE(std::string::npos, pdf.find("<w:t xml:space=\"preserve\">Total: </w:t></w:r><w:r>"
                                        "<w:t>1,234.50</w:t></w:r></w:p>"))
      << pdf;
  EXPECT_EQ(std::string::npos, pdf.find("fldChar")) << pdf;
  EXPECT_EQ(std::string::npos, pdf.find("DOCVARIABLE")) << pdf;
  EXPECT_EQ(report_before, ReadFile(dir_.File("report.docx")));
  // A private copy in a folder nobody else may enter, never a link.
  EXPECT_EQ("600 regular file\n700 directory\n", ReadFile(dir_.File("input.txt")));
  const std::string settings = ReadFile(dir_.File("settings.xcu"));
  for (const char* setting :
       {"\"BlockUntrustedRefererLinks\" oor:op=\"fuse\"><value>true</value>",
        "\"DisableMacrosExecution\" oor:op=\"fuse\"><value>true</value>",
        "\"MacroSecurityLevel\" oor:op=\"fuse\"><value>3</value>"})
    EXPECT_NE(std::string::npos, settings.find(setting)) << setting;
  const std::string used = ReadFile(args);
  EXPECT_NE(std::string::npos, used.find("-env:UserInstallation=file://" + dir_.path().string() +
                                         "/vantrelle-pdf-"))
      << used;
  EXPECT_NE(std::string::npos, used.find("--headless\n")) << used;
  EXPECT_NE(std::string::npos, used.find("--convert-to\npdf\n")) << used;
  // The scratch folder with the profile is gone.
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    EXPECT_EQ(std::string::npos, entry.path().filename().string().find("vantrelle-pdf-"))
        << entry.path();
}

TEST_F(PdfExportTest, AnUnwritablePdfFolderIsNamedWithoutTheScratchFile) {
  WriteReport("report.docx");
  Program("bin", "while [ \"$1\" != --outdir ]; do shift; done\necho x > \"$2/report.pdf\"\n");
  ScopedEnv path("PATH", dir_.File("bin") + ":/usr/bin:/bin");
  try {
    Export(dir_.File("report.docx"), dir_.File("missing/out.pdf"));
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ("Cannot write \"" + dir_.File("missing/out.pdf") + "\": No such file or directory.",
              std::string(error.Description()));
  }
}

TEST_F(PdfExportTest, StopEndsTheConverterAndLeavesNothing) {
  WriteReport("report.docx");
  WriteFile(dir_.File("out.pdf"), "earlier");
  Program("bin", "echo $$ > '" + dir_.File("pid") + "'\nsleep 60\n");
  ScopedEnv path("PATH", dir_.File("bin") + ":/usr/bin:/bin");
  ScopedEnv tmp("TMPDIR", dir_.path().string());
  RunStop stop;
  std::thread stopper([&] {
    while (!std::filesystem::exists(dir_.File("pid"))) std::this_thread::yield();
    stop.Request(SIGTERM);
  });
  EXPECT_THROW(Export(dir_.File("report.docx"), dir_.File("out.pdf"), &stop), RunStopped);
  stopper.join();
  EXPECT_EQ("earlier", ReadFile(dir_.File("out.pdf")));
  const long pid = std::stol(ReadFile(dir_.File("pid")));
  EXPECT_NE(0, ::kill(static_cast<pid_t>(pid), 0)) << "the converter outlived the stop";
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    EXPECT_EQ(std::string::npos, entry.path().filename().string().find("vantrelle-"))
        << entry.path();
}

}  // namespace
}  // namespace vantrelle
