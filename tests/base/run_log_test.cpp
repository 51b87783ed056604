#include "base/run_log.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/error.h"
#include "test_util.h"

namespace vantrelle {
namespace {

using testing_util::FixedTime;
using testing_util::ReadFile;
using testing_util::TempDir;

// Records what the core asks of the main window.
class FakeWindow : public RunObserver {
 public:
  void ClearLogBox() override { log_box.clear(); }
  void AppendLogBox(std::string_view text) override { log_box += text; }
  void SetField(RunField field, std::string_view text) override {
    fields[static_cast<int>(field)] = std::string(text);
  }
  void ShowErrorBox(std::string_view prompt) override { boxes.emplace_back(prompt); }

  std::string log_box;
  std::string fields[6];
  std::vector<std::string> boxes;
};

class RunLogTest : public testing::Test {
 protected:
  void SetUp() override {
    pub_.clock = FixedTime;
    pub_.log_stream = pub_.file_system.CreateTextFile(dir_.File("run.log"));
  }
  std::string Log() {
    pub_.log_stream->Close();
    return ReadFile(dir_.File("run.log"));
  }

  TempDir dir_;
  PubDef pub_;
  FakeWindow window_;
};

TEST_F(RunLogTest, LinesAreStampedAndEndWithCrLf) {
  pub_.interactive = false;
  WriteLog(pub_, "Open log file successfully.");
  WriteLog(pub_, "");
  EXPECT_EQ("[20040505 14:07:09]    Open log file successfully.\r\n[20040505 14:07:09]    \r\n",
            Log());
}

TEST_F(RunLogTest, ErrorIsTwoLinesAndCounted) {
  pub_.interactive = true;
  pub_.observer = &window_;
  LogError(pub_, "The information in the configuration file is incorrect.",
           "The name of report file is invalid.");
  LogError(pub_, "a", "b");
  EXPECT_EQ(2, pub_.error_count);
  EXPECT_EQ("2", window_.fields[static_cast<int>(RunField::kErrorCount)]);
  EXPECT_EQ(
      "[20040505 14:07:09]    Error: The information in the configuration file is incorrect.\r\n"
      "[20040505 14:07:09]    Error Info: The name of report file is invalid.\r\n"
      "[20040505 14:07:09]    Error: a\r\n[20040505 14:07:09]    Error Info: b\r\n",
      Log());
}

TEST_F(RunLogTest, LogBoxHoldsAtMostEightMessages) {
  pub_.observer = &window_;
  window_.log_box = "from the last run\r\n";
  for (int i = 1; i <= 8; ++i) WriteLog(pub_, "m" + std::to_string(i));
  EXPECT_EQ("m1\r\nm2\r\nm3\r\nm4\r\nm5\r\nm6\r\nm7\r\nm8\r\n", window_.log_box);
  WriteLog(pub_, "m9");
  EXPECT_EQ("m9\r\n", window_.log_box);
  EXPECT_NE(std::string::npos, Log().find("]    m8\r\n"));
}

TEST_F(RunLogTest, BatchModeTouchesNoWindow) {
  pub_.interactive = false;
  pub_.observer = &window_;
  WriteLog(pub_, "x");
  LogError(pub_, "a", "b");
  ShowErrorBox(pub_, "no box");
  EXPECT_EQ("", window_.log_box);
  EXPECT_TRUE(window_.boxes.empty());
  EXPECT_EQ("", window_.fields[static_cast<int>(RunField::kErrorCount)]);
}

TEST_F(RunLogTest, ErrorBoxPromptInInteractiveMode) {
  pub_.observer = &window_;
  ShowErrorBox(pub_, "Configuration file \"x.ini\" does not exist.");
  ASSERT_EQ(1u, window_.boxes.size());
  EXPECT_EQ("Error!\r\nError Info: Configuration file \"x.ini\" does not exist.", window_.boxes[0]);
}

TEST_F(RunLogTest, WriteWithoutAnOpenLogIsAnError) {
  pub_.log_stream.reset();
  pub_.observer = &window_;
  EXPECT_THROW(WriteLog(pub_, "x"), Error);
  EXPECT_EQ("", window_.log_box);
  EXPECT_EQ(0, pub_.log_box_lines);
}

TEST_F(RunLogTest, EveryMessageIsOneLineInTheLogAndTheBox) {
  pub_.observer = &window_;
  WriteLog(pub_, "ERROR: relation \"x\" does not exist;\nError while executing the query");
  LogError(pub_, "Failed to connect.",
           "could not connect to server: Connection refused\r\n\tIs the server running?\n");
  WriteLog(pub_, "a\tb\r\rc");
  // A script line that would steer a terminal is shown, not obeyed.
  WriteLog(pub_, "x\x1b[2J\x1b[1A\x07\x7f\xc2\x9b" "2K \xc3\xa9\x01");
  EXPECT_EQ(
      "[20040505 14:07:09]    ERROR: relation \"x\" does not exist; Error while executing the query\r\n"
      "[20040505 14:07:09]    Error: Failed to connect.\r\n"
      "[20040505 14:07:09]    Error Info: could not connect to server: Connection refused Is the "
      "server running? \r\n"
      "[20040505 14:07:09]    a b c\r\n"
      "[20040505 14:07:09]    x\\x1B[2J\\x1B[1A\\x07\\x7F\\u009B2K \xc3\xa9\\x01\r\n",
      Log());
  EXPECT_EQ(
      "ERROR: relation \"x\" does not exist; Error while executing the query\r\n"
      "Error: Failed to connect.\r\n"
      "Error Info: could not connect to server: Connection refused Is the server running? \r\n"
      "a b c\r\n"
      "x\\x1B[2J\\x1B[1A\\x07\\x7F\\u009B2K \xc3\xa9\\x01\r\n",
      window_.log_box);
}

TEST_F(RunLogTest, ErrorsKeepCountingPast32767) {
  pub_.observer = &window_;
  pub_.error_count = 32767;
  LogError(pub_, "a", "b");
  LogError(pub_, "a", "b");
  EXPECT_EQ(32769, pub_.error_count);
  EXPECT_EQ("32,769", window_.fields[static_cast<int>(RunField::kErrorCount)]);
}

TEST_F(RunLogTest, FailedWriteIsReportedOnceAndEveryLaterWriteFails) {
  pub_.interactive = false;
  // (A device is never opened as a log; this one stands for a full disk.)
  pub_.log_stream = std::make_unique<TextWriter>(std::fopen("/dev/full", "wb"), "/dev/full");
  try {
    WriteLog(pub_, "first");
    FAIL() << "a write to a full device succeeded";
  } catch (const LogWriteError& error) {
    EXPECT_EQ("Cannot write to \"/dev/full\": No space left on device.", std::string(error.what()));
  }
  EXPECT_EQ("Cannot write to \"/dev/full\": No space left on device.", pub_.log_failure);
  EXPECT_THROW(LogError(pub_, "a", "b"), LogWriteError);
  EXPECT_EQ(0, pub_.error_count);
}

TEST_F(RunLogTest, LogWhoseFileWasDeletedFails) {
  pub_.interactive = false;
  WriteLog(pub_, "kept");
  std::filesystem::remove(dir_.File("run.log"));
  EXPECT_THROW(WriteLog(pub_, "lost"), LogWriteError);
  EXPECT_NE(std::string::npos, pub_.log_failure.find("was deleted"));
}

TEST(FormatCountTest, GroupsThousands) {
  EXPECT_EQ("0", FormatCount(0, true));
  EXPECT_EQ("", FormatCount(0, false));
  EXPECT_EQ("1,000", FormatCount(1000, false));
  EXPECT_EQ("32,767", FormatCount(32767, true));
  EXPECT_EQ("999", FormatCount(999, true));
}

TEST(CountUpTest, OverflowsPast32767) {
  int16_t counter = 32766;
  CountUp(counter);
  EXPECT_EQ(32767, counter);
  EXPECT_THROW(CountUp(counter), Error);
  EXPECT_EQ(32767, counter);
}

}  // namespace
}  // namespace vantrelle
