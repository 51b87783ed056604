#include "ui/shell_open.h"

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <sstream>

#include <tuple>

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QThread>

#include "fake_prompter.h"
#include "test_util.h"

namespace vantrelle {
namespace {

using testing_util::FakeLauncher;
using testing_util::TempDir;
using testing_util::ReadFile;
using testing_util::WriteFile;

const char kGeneric[] = "An error occurred occurred whilst trying to open or print the selected file.";

class ShellFailureTest
    : public ::testing::TestWithParam<std::tuple<int, int32_t, const char*>> {};

TEST_P(ShellFailureTest, CodeGivesNumberAndMessage) {
  auto [code, number, message] = GetParam();
  FakeLauncher launcher;
  launcher.result = code;
  ShellFailure failure;
  EXPECT_FALSE(ShellOpen(launcher, "/tmp/page.htm", "open", &failure));
  EXPECT_EQ(failure.number, number);
  EXPECT_EQ(failure.message, message);
  EXPECT_EQ(launcher.opened, std::vector<std::string>{"open /tmp/page.htm"});
}

INSTANTIATE_TEST_SUITE_P(
    FailureTable, ShellFailureTest,
    ::testing::Values(
        std::make_tuple(0, 7, "Out of memory"), std::make_tuple(1, -2147220455, kGeneric),
        std::make_tuple(2, 53, "File not found"), std::make_tuple(3, 76, "Path not found"),
        std::make_tuple(5, 75, "Path/file access error"), std::make_tuple(8, 7, "Out of memory"),
        std::make_tuple(11, kShellErrorBase + 11, "The executable file is invalid or corrupt"),
        std::make_tuple(25, kShellErrorBase + 25, kGeneric),
        std::make_tuple(26, 75, "A sharing violation occurred."),
        std::make_tuple(27, kShellErrorBase + 27,
                        "This file type does not have a valid file association."),
        std::make_tuple(28, 286,
                        "The file could not be opened due to time out.  Please try again in a "
                        "moment."),
        std::make_tuple(29, 285,
                        "The file could not be opened because the DDE transaction failed.  "
                        "Please try again in a moment."),
        std::make_tuple(30, 285,
                        "The file could not be opened because the target application is busy.  "
                        "Please try again in a moment."),
        std::make_tuple(31, kShellErrorBase + 31,
                        "No application is associated with this file type."),
        std::make_tuple(32, 48, "The specified dynamic-link library was not found.")),
    [](const auto& info) { return "Code" + std::to_string(std::get<0>(info.param)); });

TEST(ShellOpenTest, ResultsOutsideTheFailureRangeAreSuccess) {
  for (int result : {33, 42, 1000, -1}) {
    FakeLauncher launcher;
    launcher.result = result;
    ShellFailure failure{99, "untouched"};
    EXPECT_TRUE(ShellOpen(launcher, "x", "open", &failure)) << result;
    EXPECT_EQ(failure.number, 99);
  }
  EXPECT_EQ(kShellErrorBase, -2147220456);
}

TEST(ShellOpenTest, HelpPageLiesUnderTheProgramFolder) {
  EXPECT_EQ(HelpPagePath("/opt/vantrelle"), "/opt/vantrelle/Vantrelle/Help/vantrelle-help.htm");
  EXPECT_EQ(HelpPagePath("/"), "//Vantrelle/Help/vantrelle-help.htm");
}

// The desktop opener is replaced by a script that ends with a chosen status.
class XdgLauncherTest : public ::testing::Test {
 protected:
  XdgLauncherTest() {
    WriteFile(page_, "<html></html>");
    launcher_.on_late_failure = [this](int code) { late_.push_back(code); };
  }
  XdgLauncher Opener(const std::string& script_body) {
    std::string opener = dir_.File("opener");
    WriteFile(opener, "#!/bin/sh\n" + script_body + "\n");
    ::chmod(opener.c_str(), 0755);
    XdgLauncher launcher(opener);
    launcher.on_late_failure = launcher_.on_late_failure;
    return launcher;
  }
  // Opens the page with an opener running \a script_body, then serves the
  // window's events until the launcher has reported how the opener ended.
  // Returns the late failure or 0.
  int OpenAndWait(const std::string& script_body) {
    late_.clear();
    XdgLauncher launcher = Opener(script_body);
    EXPECT_EQ(launcher.Execute(page_, "open"), kShellAccepted);
    WaitForReports();
    return late_.empty() ? 0 : late_.front();
  }
  // The launcher listens for each report with a notifier of the
  // application's, switched off once the report is in.
  static bool ReportsPending() {
    for (QSocketNotifier* notifier :
         QCoreApplication::instance()->findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly))
      if (notifier->isEnabled()) return true;
    return false;
  }
  static void WaitForReports() {
    QElapsedTimer timer;
    timer.start();
    while (ReportsPending() && timer.elapsed() < 10000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  // No report may reach this fixture once it is gone.
  ~XdgLauncherTest() override { WaitForReports(); }

  TempDir dir_;
  std::string page_ = dir_.File("page.htm");
  XdgLauncher launcher_;
  std::vector<int> late_;
};

TEST_F(XdgLauncherTest, OpenerStatusesArriveLaterAsShellCodes) {
  EXPECT_EQ(OpenAndWait("exit 0"), 0);
  EXPECT_EQ(OpenAndWait("exit 1"), 1);
  EXPECT_EQ(OpenAndWait("exit 2"), 2);
  EXPECT_EQ(OpenAndWait("exit 3"), 31);
  EXPECT_EQ(OpenAndWait("exit 4"), 31);
  EXPECT_EQ(OpenAndWait("kill -9 $$"), 1);
}

TEST_F(XdgLauncherTest, OpenerIsGivenTheFile) {
  EXPECT_EQ(OpenAndWait("[ \"$1\" = \"" + page_ + "\" ] && echo seen > \"$1.seen\""), 0);
  EXPECT_TRUE(std::filesystem::exists(page_ + ".seen"));
}

TEST_F(XdgLauncherTest, OpenerIsNeverWaitedForAndRunsInASessionOfItsOwn) {
  const std::string sid_file = dir_.File("sid");
  XdgLauncher launcher =
      Opener("echo $$ $(ps -o sid= -p $$) > \"" + sid_file + ".tmp\" && mv \"" + sid_file +
             ".tmp\" \"" + sid_file + "\"\nexec sleep 30");
  QElapsedTimer timer;
  timer.start();
  EXPECT_EQ(launcher.Execute(page_, "open"), kShellAccepted);
  EXPECT_LT(timer.elapsed(), 1000);
  while (!std::filesystem::exists(sid_file) && timer.elapsed() < 5000)
    QThread::msleep(20);
  ASSERT_TRUE(std::filesystem::exists(sid_file));
  // Not this process's session: the window's end does not end the opener.
  std::istringstream ids(ReadFile(sid_file));
  int pid = 0, sid = 0;
  ids >> pid >> sid;
  EXPECT_GT(sid, 0);
  EXPECT_NE(sid, static_cast<int>(::getsid(0)));
  EXPECT_TRUE(late_.empty());
  if (pid > 0) ::kill(pid, SIGTERM);
}

TEST_F(XdgLauncherTest, MissingFileFolderOrOpener) {
  XdgLauncher launcher(dir_.File("no-such-opener"));
  EXPECT_EQ(launcher.Execute(page_, "open"), 31);
  XdgLauncher missing_on_path("vantrelle-no-such-opener");
  EXPECT_EQ(missing_on_path.Execute(page_, "open"), 31);
  XdgLauncher shell("/bin/true");
  EXPECT_EQ(shell.Execute(dir_.File("absent.htm"), "open"), 2);
  EXPECT_EQ(shell.Execute(dir_.File("absent/page.htm"), "open"), 3);
  EXPECT_EQ(shell.Execute(page_, "print"), 31);
}

}  // namespace
}  // namespace vantrelle
