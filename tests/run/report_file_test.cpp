#include "run/report_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/output_file.h"
#include "test_util.h"

namespace vantrelle {
namespace {

using testing_util::ReadFile;
using testing_util::TempDir;
using testing_util::WriteFile;

class ReportWorkingCopyTest : public testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_.File("template.docx"), "template bytes");
    WriteFile(dir_.File("report.docx"), "earlier report");
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string Copy(pid_t pid, const std::string& random, const std::string& tail = "") const {
    return dir_.File(".report.docx.vantrelle-" + std::to_string(pid) + "-" + random + ".docx" +
                     tail);
  }

  TempDir dir_;
};

TEST_F(ReportWorkingCopyTest, EarlierReportStaysUntilCommit) {
  ReportWorkingCopy copy;
  copy.Create(dir_.File("report.docx"), dir_.File("template.docx"));
  EXPECT_EQ("template bytes", ReadFile(copy.Path()));
  EXPECT_EQ(".docx", std::filesystem::path(copy.Path()).extension());
  EXPECT_EQ("earlier report", ReadFile(dir_.File("report.docx")));
  WriteFile(copy.Path(), "new report");
  copy.Commit();
  EXPECT_EQ("new report", ReadFile(dir_.File("report.docx")));
  EXPECT_EQ((std::vector<std::string>{"report.docx", "template.docx"}), Names());
}

TEST_F(ReportWorkingCopyTest, DiscardAndEarlyEndLeaveNothingBehind) {
  {
    ReportWorkingCopy copy;
    copy.Create(dir_.File("report.docx"), dir_.File("template.docx"));
  }
  ReportWorkingCopy copy;
  copy.Create(dir_.File("report.docx"), dir_.File("template.docx"));
  copy.Discard();
  EXPECT_TRUE(copy.Path().empty());
  EXPECT_EQ((std::vector<std::string>{"report.docx", "template.docx"}), Names());
  EXPECT_EQ("earlier report", ReadFile(dir_.File("report.docx")));
}

TEST_F(ReportWorkingCopyTest, FailuresNameTheFilesAndLeaveNothing) {
  ReportWorkingCopy copy;
  try {
    copy.Create(dir_.File("report.docx"), dir_.File("missing.docx"));
    FAIL();
  } catch (const Error& error) {
    EXPECT_EQ("Cannot copy \"" + dir_.File("missing.docx") + "\" to \"" + dir_.File("report.docx") +
                  "\": No such file or directory.",
              std::string(error.Description()));
  }
  EXPECT_THROW(copy.Create(dir_.File("report.docx"), dir_.path().string()), Error);
  EXPECT_THROW(copy.Create(dir_.File("no/report.docx"), dir_.File("template.docx")), Error);
  EXPECT_EQ((std::vector<std::string>{"report.docx", "template.docx"}), Names());
}

// A new report gets what the umask allows, a replaced one keeps its mode
// (its owner may write it), whatever the template's mode; the engine may
// always write the copy.
TEST_F(ReportWorkingCopyTest, ModesFollowTheUmaskOrTheEarlierReport) {
  struct Case {
    mode_t umask, template_mode;
    bool earlier;
    mode_t earlier_mode, expected;
  };
  const Case cases[] = {
      {022, 0444, false, 0, 0644}, {077, 0644, false, 0, 0600}, {002, 0666, false, 0, 0664},
      {077, 0666, true, 0640, 0640}, {022, 0600, true, 0444, 0644},
      {022, 0600, true, 06775, 0775},  // never set-id
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir_.File("report.docx"));
    if (c.earlier) {
      WriteFile(dir_.File("report.docx"), "earlier report");
      ::chmod(dir_.File("report.docx").c_str(), c.earlier_mode);
    }
    ::chmod(dir_.File("template.docx").c_str(), c.template_mode);
    const mode_t old_mask = ::umask(c.umask);
    ReportWorkingCopy copy;
    copy.Create(dir_.File("report.docx"), dir_.File("template.docx"));
    struct stat st;
    ASSERT_EQ(0, ::stat(copy.Path().c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    copy.Commit();
    ::umask(old_mask);
    ASSERT_EQ(0, ::stat(dir_.File("report.docx").c_str(), &st));
    EXPECT_EQ(c.expected, st.st_mode & 07777) << std::oct << c.umask << " " << c.template_mode;
  }
}

TEST_F(ReportWorkingCopyTest, StaleCopiesOfAnyReportAreRemovedWhenNoRunHoldsThem) {
  const std::vector<std::string> stale = {
      Copy(1, "aB3dE9"),  // a live process id says nothing: its lock does
      Copy(1, "aB3dE9", ".Xy12zQ"),
      dir_.File(".other.docx.vantrelle-77-aB3dE9.docx"),  // another report's
      dir_.File(".report_20041231.docx.vantrelle-77-aB3dE9.docx"),
      dir_.File(".report_20041231.docx.vantrelle-lock"),  // left by a killed run
  };
  const std::vector<std::string> kept = {
      Copy(1, "aB3d"),                  // not our pattern
      Copy(1, "aB3dE9", ".bak"),        // not our pattern
      dir_.File("report.docx.Xy12zQ"),  // someone else's name
      dir_.File(".busy.docx.vantrelle-77-aB3dE9.docx"),  // its report's run goes on
  };
  for (const auto& path : stale) WriteFile(path, "x");
  for (const auto& path : kept) WriteFile(path, "x");
  OutputLock busy;
  long holder = 0;
  ASSERT_TRUE(busy.Acquire(dir_.File("busy.docx"), holder));
  // A copy locked by a live run is kept even when its report's lock is free.
  const std::string locked = Copy(1, "Lk0000");
  WriteFile(locked, "x");
  int fd = ::open(locked.c_str(), O_RDONLY);
  ASSERT_EQ(0, ::flock(fd, LOCK_EX));

  // A killed run's private folder goes with what it holds; another user's
  // leftovers stay, whoever may write the folder.
  const std::string folder = Copy(1, "Fo1der");
  std::filesystem::create_directory(folder);
  WriteFile(folder + "/report.docx", "x");
  WriteFile(folder + "/report.docx.Xy12zQ", "x");
  const std::string foreign = Copy(1, "0therU");
  WriteFile(foreign, "x");
  const bool chowned = ::chown(foreign.c_str(), 65534, 65534) == 0;
  pid_t child = ::fork();  // flock locks belong to the open file: test from another process
  if (child == 0) ::_exit(RemoveStaleWorkingCopies(OutputFolder::Open(dir_.File("report.docx"))));
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(fd);
  EXPECT_EQ(static_cast<int>(stale.size()) + 1 + (chowned ? 0 : 1), WEXITSTATUS(status));
  EXPECT_FALSE(std::filesystem::exists(folder));
  EXPECT_EQ(chowned, std::filesystem::exists(foreign));
  for (const auto& path : stale) EXPECT_FALSE(std::filesystem::exists(path)) << path;
  for (const auto& path : kept) EXPECT_TRUE(std::filesystem::exists(path)) << path;
  EXPECT_TRUE(std::filesystem::exists(locked));
  EXPECT_TRUE(std::filesystem::exists(dir_.File(".busy.docx.vantrelle-lock")));
  EXPECT_EQ("earlier report", ReadFile(dir_.File("report.docx")));
}

}  // namespace
}  // namespace vantrelle
