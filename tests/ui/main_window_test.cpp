#include "ui/main_window.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QtTest/QTest>

#include "fake_prompter.h"
#include "base/error.h"
#include "base/run_log.h"
#include "base/text_encoding.h"
#include "test_util.h"

namespace vantrelle {
namespace {

using testing_util::FakeLauncher;
using testing_util::FakePrompter;
using testing_util::ReadFile;
using testing_util::TempDir;
using testing_util::WriteFile;

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    pub_.clock = testing_util::FixedTime;
    services_.prompter = &prompter_;
    services_.launcher = &launcher_;
    services_.program_folder = dir_.path().string();
  }

  MainWindow& Window() {
    if (!window_) window_ = std::make_unique<MainWindow>(pub_, services_);
    return *window_;
  }
  QString Text(const char* name) {
    if (auto* line = Window().findChild<QLineEdit*>(name)) return line->text();
    if (auto* box = Window().findChild<QPlainTextEdit*>(name)) return box->toPlainText();
    ADD_FAILURE() << "no box " << name;
    return {};
  }
  void SetIniBox(const QString& text) {
    Window().findChild<QLineEdit*>("txtIniFileName")->setText(text);
  }
  void Trigger(const char* action) {
    QAction* found = Window().findChild<QAction*>(action);
    ASSERT_NE(found, nullptr) << action;
    found->trigger();
  }
  /// A configuration whose log and report go to the scratch folder; the
  /// template is a real document unless \a template_exists is false.
  std::string WriteConfiguration(const std::string& extra = "", bool template_exists = true) {
    std::string template_path = dir_.File("template.docx");
    if (template_exists) testing_util::WriteMinimalDocx(template_path);
    WriteFile(dir_.File("data.db"), "");
    std::string ini = dir_.File("report.ini");
    WriteFile(ini, "[FILE]\nLogFileName=" + dir_.File("run_&Y&M&D.log") +
                       "\nReportTemplateFileName=" + template_path +
                       "\nReportFileName=" + dir_.File("report.docx") + "\n[ODBC]\nDSN=sqlite:" +
                       dir_.File("data.db") + "\n" + extra);
    return ini;
  }
  std::string LogPath() const { return dir_.File("run_20040505.log"); }
  /// A run that waits until it is asked to stop, notes what asked, and ends
  /// early as the run does.
  std::function<RunOutcome(PubDef&)> StopAwareRun() {
    return [this](PubDef& pub) {
      for (int i = 0; i < 500 && !pub.stop.Requested(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      stopped_by_ = pub.stop.Reason();
      return pub.stop.Requested() ? RunOutcome::kEndedEarly : RunOutcome::kCompleted;
    };
  }
  /// Object names of the enabled menu items and toolbar buttons, sorted.
  QStringList EnabledCommands() {
    QStringList names;
    for (QAction* action : Window().findChildren<QAction*>())
      if (action->isEnabled() &&
          (action->objectName().startsWith("mnu") || action->objectName().startsWith("btn")))
        names << action->objectName();
    names.sort();
    return names;
  }
  std::vector<QString> Messages() const {
    std::vector<QString> texts;
    for (const auto& message : prompter_.messages) texts.push_back(message.text);
    return texts;
  }

  TempDir dir_;
  PubDef pub_;
  FakePrompter prompter_;
  FakeLauncher launcher_;
  WindowServices services_;
  std::unique_ptr<MainWindow> window_;
  std::string stopped_by_;
};

TEST_F(MainWindowTest, LoadShowsConfigurationPathAndEmptyBoxes) {
  pub_.ini_file_name = "/etc/vantrelle.ini";
  EXPECT_EQ(Window().windowTitle(), "Vantrelle");
  EXPECT_EQ(Text("txtIniFileName"), "/etc/vantrelle.ini");
  for (const char* box : {"txtTemplateFileName", "txtReportFileName", "txtLogFlieName",
                          "txtSQLFileCnt", "txtSQLStmCnt", "txtErrorCnt", "txtLogInfo"}) {
    EXPECT_EQ(Text(box), "") << box;
    auto* widget = Window().findChild<QWidget*>(box);
    EXPECT_TRUE(widget->property("readOnly").toBool()) << box;
  }
  EXPECT_FALSE(Window().findChild<QLineEdit*>("txtIniFileName")->isReadOnly());
}

TEST_F(MainWindowTest, ShortcutsTriggerTheirCommands) {
  Window().show();
  Window().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));

  QTest::keyClick(&Window(), Qt::Key_F5);
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(prompter_.messages[0].title, "Vantrelle");
  EXPECT_EQ(Messages()[0], "Error!\r\nError Info: Configuration file \"\" does not exist.");

  QTest::keyClick(&Window(), Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(prompter_.file_requests.size(), 1u);

  QTest::keyClick(&Window(), Qt::Key_F1);
  ASSERT_EQ(Messages().size(), 2u);
  EXPECT_EQ(Messages()[1], QString::fromStdString("Error!\r\nError Info: Help file \"" +
                                                  dir_.File("Vantrelle/Help/vantrelle-help.htm") +
                                                  "\" does not exist."));
  auto shortcut = [this](const char* name) {
    return Window().findChild<QAction*>(name)->shortcut().toString();
  };
  EXPECT_EQ(shortcut("mnuFConfiguration"), "Ctrl+O");
  EXPECT_EQ(shortcut("mnuRStart"), "F5");
  EXPECT_EQ(shortcut("mnuHContent"), "F1");
}

TEST_F(MainWindowTest, MenuItemsAndToolbarButtonsRunTheirCommands) {
  Trigger("mnuRStart");
  Trigger("btnStart");
  EXPECT_EQ(Messages().size(), 2u);
  Trigger("mnuFConfiguration");
  Trigger("btnCfgFile");
  EXPECT_EQ(prompter_.file_requests.size(), 2u);
  Trigger("mnuHContent");
  Trigger("btnHelp");
  EXPECT_EQ(Messages().size(), 4u);
  Trigger("mnuHAbout");
  EXPECT_EQ(prompter_.dialogs, std::vector<QString>{"frmAbout"});

  // Keys compare exactly: another spelling is no button of ours.
  Window().ToolbarButtonClick("start");
  Window().ToolbarButtonClick("");
  EXPECT_EQ(Messages().size(), 4u);

  // The design's three buttons keep their places; the added ones follow.
  auto* toolbar = Window().findChild<QToolBar*>("Toolbar1");
  ASSERT_NE(toolbar, nullptr);
  QStringList keys, tips;
  for (QAction* action : toolbar->actions()) {
    if (action->isSeparator()) continue;
    keys << action->data().toString();
    tips << action->toolTip();
    EXPECT_FALSE(action->icon().isNull());
  }
  EXPECT_EQ(keys,
            QStringList({"CfgFile", "Start", "Help", "Stop", "OpenReport", "OpenLog", "OpenPdf"}));
  EXPECT_EQ(tips, QStringList({"Select a configuration file", "Start to generate report",
                               "Help content", "Stop the report run (Esc)", "Open the report",
                               "Open the run log", "Open the PDF copy of the report"}));
}

TEST_F(MainWindowTest, ExitClosesTheWindowAndReleasesTheLog) {
  Window().show();
  Trigger("mnuFExit");
  EXPECT_FALSE(Window().isVisible());
  window_.reset();
  EXPECT_EQ(pub_.observer, nullptr);
}

TEST_F(MainWindowTest, StartTrimsBlanksButNotTabs) {
  SetIniBox("  /no/such.ini  ");
  Window().Start();
  EXPECT_EQ(pub_.ini_file_name, "/no/such.ini");
  SetIniBox("\t/no/such.ini");
  Window().Start();
  ASSERT_EQ(Messages().size(), 2u);
  EXPECT_EQ(Messages()[0], "Error!\r\nError Info: Configuration file \"/no/such.ini\" does not exist.");
  EXPECT_EQ(Messages()[1],
            "Error!\r\nError Info: Configuration file \"\t/no/such.ini\" does not exist.");
  EXPECT_TRUE(prompter_.questions.empty());
}

TEST_F(MainWindowTest, StartWithoutParametersAsksAndNoRunsNothing) {
  std::string ini = WriteConfiguration();
  std::string before = ReadFile(ini);
  SetIniBox(QString::fromStdString(ini));
  Window().Start();
  ASSERT_EQ(prompter_.questions.size(), 1u);
  EXPECT_EQ(prompter_.questions[0].title, "Vantrelle");
  EXPECT_EQ(prompter_.questions[0].text, "Generate report?");
  EXPECT_TRUE(prompter_.dialogs.empty());
  EXPECT_FALSE(pub_.run_confirmed);
  EXPECT_FALSE(std::filesystem::exists(LogPath()));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("report.docx")));
  EXPECT_EQ(ReadFile(ini), before);
  EXPECT_EQ(Text("txtLogInfo"), "");
}

TEST_F(MainWindowTest, StartWithParametersShowsTheDialogAndCancelRunsNothing) {
  std::string ini = WriteConfiguration("[PARAMETER]\nName1=&Month\nDefault1=2004-05\n");
  SetIniBox(QString::fromStdString(ini));
  prompter_.on_dialog = [](QDialog& dialog) { dialog.reject(); };
  Window().Start();
  EXPECT_EQ(prompter_.dialogs, std::vector<QString>{"frmParameter"});
  EXPECT_TRUE(prompter_.questions.empty());
  EXPECT_EQ(pub_.parameter_count, 1);
  EXPECT_FALSE(std::filesystem::exists(LogPath()));
}

TEST_F(MainWindowTest, ConfirmedRunFillsTheBoxes) {
  SetIniBox(QString::fromStdString(WriteConfiguration()));
  prompter_.answers = {true};
  Window().Start();
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(Text("txtTemplateFileName"), QString::fromStdString(dir_.File("template.docx")));
  EXPECT_EQ(Text("txtReportFileName"), QString::fromStdString(dir_.File("report.docx")));
  EXPECT_EQ(Text("txtLogFlieName"), QString::fromStdString(LogPath()));
  // At the start of a run the counters show "0"; nothing was counted since.
  EXPECT_EQ(Text("txtSQLFileCnt"), "0");
  EXPECT_EQ(Text("txtSQLStmCnt"), "0");
  EXPECT_EQ(Text("txtErrorCnt"), "0");

  // The log box holds the run's latest messages, as the log file has them.
  std::string log = ReadFile(LogPath());
  QStringList messages;
  for (const QString& line : QString::fromStdString(log).split("\r\n", Qt::SkipEmptyParts))
    messages << line.mid(23);
  ASSERT_FALSE(messages.isEmpty());
  EXPECT_EQ(messages.last(), "Close the log file.");
  QStringList shown = Text("txtLogInfo").split("\n", Qt::SkipEmptyParts);
  int kept = (messages.size() - 1) % 8 + 1;
  EXPECT_EQ(shown, messages.mid(messages.size() - kept));
  EXPECT_TRUE(Window().centralWidget()->isEnabled());
  EXPECT_FALSE(Window().IsRunning());
}

TEST_F(MainWindowTest, CheckShowsItsLinesInTheLogBoxAndRunsNothing) {
  const std::string ini = WriteConfiguration("", /*template_exists=*/false);
  SetIniBox(QString::fromStdString(" " + ini + " "));
  // What a last run showed is cleared, not left to read as the check's.
  for (const char* box : {"txtTemplateFileName", "txtSQLStmCnt", "txtErrorCnt"})
    Window().findChild<QLineEdit*>(box)->setText("7");
  Trigger("mnuRCheck");
  for (const char* box : {"txtTemplateFileName", "txtSQLStmCnt", "txtErrorCnt"})
    EXPECT_EQ(Text(box), "") << box;
  // The configuration lists no script.
  const std::string no_script =
      ini + ": warning: no statement would run: [SQLFILE] lists no script (it needs F_MAXNUM=1 "
            "or more and F1=, F2=, ... naming the scripts); the report would be the template's "
            "copy.\n";
  EXPECT_EQ(Text("txtLogInfo").toStdString(),
            ini + ": error: [FILE] ReportTemplateFileName: the template file \"" +
                dir_.File("template.docx") + "\" does not exist.\n" + no_script + ini +
                ": 1 error, 1 warning.\n");
  testing_util::WriteMinimalDocx(dir_.File("template.docx"));
  Trigger("mnuRCheck");
  EXPECT_EQ(Text("txtLogInfo").toStdString(), no_script + ini + ": 0 errors, 1 warning.\n");
  EXPECT_TRUE(Messages().empty());
  EXPECT_FALSE(std::filesystem::exists(LogPath()));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("report.docx")));
}

TEST_F(MainWindowTest, LoggedErrorShowsTheCountWithoutLeadingZero) {
  SetIniBox(QString::fromStdString(WriteConfiguration("", /*template_exists=*/false)));
  prompter_.answers = {true};
  Window().Start();
  EXPECT_EQ(Text("txtErrorCnt"), "1");
  EXPECT_TRUE(Text("txtLogInfo").contains("Error Info: "));
}

TEST_F(MainWindowTest, LogThatCannotBeWrittenIsShownInAMessageBox) {
  std::string ini = WriteConfiguration();
  std::string text = ReadFile(ini);
  text.replace(text.find(dir_.File("run_&Y&M&D.log")), dir_.File("run_&Y&M&D.log").size(),
               "/dev/full");
  WriteFile(ini, text);
  SetIniBox(QString::fromStdString(ini));
  prompter_.answers = {true};
  Window().Start();
  ASSERT_EQ(Messages().size(), 1u);
  // A device is never taken for a log.
  EXPECT_EQ(Messages()[0],
            "Error!\r\nError Info: Cannot create \"/dev/full\": it is a character device, not a "
            "regular file.");
  EXPECT_TRUE(prompter_.messages[0].on_gui_thread);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("report.docx")));
  EXPECT_TRUE(Window().centralWidget()->isEnabled());
}

TEST_F(MainWindowTest, InteractiveRunWritesTheSameLogAsBatch) {
  for (bool template_exists : {true, false}) {
    SCOPED_TRACE(template_exists);
    std::string ini = WriteConfiguration("", template_exists);
    PubDef batch;
    batch.interactive = false;
    batch.clock = testing_util::FixedTime;
    batch.ini_file_name = ini;
    RunReport(batch);
    batch.log_stream.reset();
    std::string batch_log = ReadFile(LogPath());
    std::filesystem::remove(LogPath());

    SetIniBox(QString::fromStdString(ini));
    prompter_.answers = {true};
    Window().Start();
    pub_.log_stream.reset();
    EXPECT_FALSE(batch_log.empty());
    EXPECT_EQ(ReadFile(LogPath()), batch_log);
  }
}

TEST_F(MainWindowTest, LogBoxShowsAtMostTheEightLatestMessages) {
  services_.run_report = [](PubDef& pub) {
    pub.log_box_lines = 0;
    for (int i = 1; i <= 20; ++i) WriteLog(pub, "message " + std::to_string(i));
    return RunOutcome::kCompleted;
  };
  pub_.log_stream = pub_.file_system.CreateTextFile(dir_.File("box.log"));
  SetIniBox(QString::fromStdString(WriteConfiguration()));
  prompter_.answers = {true};
  Window().Start();
  EXPECT_EQ(Text("txtLogInfo"), "message 17\nmessage 18\nmessage 19\nmessage 20\n");
}

TEST_F(MainWindowTest, LogBoxKeepsTheNewestMessageInViewWhenLinesWrap) {
  services_.run_report = [](PubDef& pub) {
    pub.log_box_lines = 0;
    for (int i = 1; i <= 7; ++i)
      WriteLog(pub, "[SQLFILE1]  [Regions]    SELECT region_name, count(*), sum(amount) FROM "
                    "month_orders GROUP BY region_name ORDER BY sum(amount) DESC -- " +
                        std::to_string(i));
    WriteLog(pub, "Close the log file.");
    return RunOutcome::kCompleted;
  };
  pub_.log_stream = pub_.file_system.CreateTextFile(dir_.File("box.log"));
  SetIniBox(QString::fromStdString(WriteConfiguration()));
  prompter_.answers = {true};
  Window().show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Window()));
  Window().resize(Window().minimumSizeHint());  // the box two lines high
  Window().Start();
  QCoreApplication::processEvents();
  auto* box = Window().findChild<QPlainTextEdit*>("txtLogInfo");
  QScrollBar* bar = box->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0) << "the messages fit; the case needs more text";
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_TRUE(bar->isVisible()) << "the earlier messages are out of sight: a bar says so";
  // The end of the text, just after the last message, is inside the box.
  EXPECT_TRUE(box->toPlainText().endsWith("Close the log file.\n"));
  EXPECT_TRUE(box->viewport()->rect().contains(box->cursorRect()));
}

TEST_F(MainWindowTest, KeyboardFocusComesBackAfterTheRun) {
  services_.run_report = [](PubDef&) { return RunOutcome::kCompleted; };
  SetIniBox(QString::fromStdString(WriteConfiguration()));
  prompter_.answers = {true};
  Window().show();
  Window().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
  auto* ini_box = Window().findChild<QLineEdit*>("txtIniFileName");
  ini_box->setFocus();
  QCoreApplication::processEvents();
  ASSERT_EQ(QApplication::focusWidget(), ini_box);
  Window().Start();
  QCoreApplication::processEvents();
  EXPECT_EQ(QApplication::focusWidget(), ini_box);
}

TEST_F(MainWindowTest, CloseDuringTheRunStopsItAndClosesWhenItEnds) {
  services_.run_report = StopAwareRun();
  SetIniBox(QString::fromStdString(WriteConfiguration()));
  prompter_.answers = {true};
  Window().show();
  bool closed_at_once = true;
  QString said;
  QTimer::singleShot(50, [&] {
    closed_at_once = Window().close();
    said = Window().statusBar()->currentMessage();
  });
  Window().Start();
  EXPECT_FALSE(closed_at_once);
  EXPECT_EQ(said, "The report run is being stopped; the window closes when it has ended.");
  EXPECT_EQ(stopped_by_, "the Stop command");
  EXPECT_FALSE(Window().isVisible());
  EXPECT_FALSE(Window().IsRunning());
}

TEST_F(MainWindowTest, WindowStaysLiveAndOnlyStopIsEnabledDuringTheRun) {
  std::atomic<bool> ticked{false};
  bool client_enabled = true, busy_pointer = false;
  QStringList enabled_during_run;
  QString field_during_run;
  services_.run_report = [&](PubDef& pub) {
    pub.Window()->SetField(RunField::kSqlStmCount, "1,234");
    // The run waits for the window's own timer: it only fires when the
    // window's thread keeps handling events while the run goes on.
    for (int i = 0; i < 500 && !ticked; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return RunOutcome::kCompleted;
  };
  SetIniBox(QString::fromStdString(WriteConfiguration()));
  prompter_.answers = {true};
  QTimer::singleShot(50, [&] {
    client_enabled = Window().centralWidget()->isEnabled();
    enabled_during_run = EnabledCommands();
    busy_pointer = QApplication::overrideCursor() != nullptr &&
                   QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    field_during_run = Text("txtSQLStmCnt");
    Window().Start();  // a second command while running does nothing
    ticked = true;
  });
  const QStringList idle = {"btnCfgFile", "btnHelp",   "btnStart",    "mnuFConfiguration",
                            "mnuFExit",   "mnuHAbout", "mnuHContent", "mnuRCheck", "mnuRStart"};
  EXPECT_EQ(EnabledCommands(), idle);
  Window().Start();
  EXPECT_TRUE(ticked);
  EXPECT_FALSE(client_enabled);
  EXPECT_EQ(enabled_during_run, QStringList({"btnStop", "mnuRStop"}));
  EXPECT_TRUE(busy_pointer);
  EXPECT_EQ(field_during_run, "1,234");
  EXPECT_EQ(prompter_.questions.size(), 1u);
  EXPECT_TRUE(Window().centralWidget()->isEnabled());
  EXPECT_EQ(EnabledCommands(), idle);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// Run > Stop, Esc and the toolbar's Stop button each stop the run as a
// signal does; the window stays, and the next run starts afresh.
class StopCommandTest : public MainWindowTest, public testing::WithParamInterface<const char*> {};

TEST_P(StopCommandTest, StopsTheRunAndTheNextRunStartsAfresh) {
  const std::string how = GetParam();
  int runs = 0;
  services_.run_report = [&, stop_aware = StopAwareRun()](PubDef& pub) {
    if (++runs == 1) return stop_aware(pub);
    // The next run is not stopped by the request of the last one.
    stopped_by_ = pub.stop.Requested() ? pub.stop.Reason() : "not stopped";
    return RunOutcome::kCompleted;
  };
  SetIniBox(QString::fromStdString(WriteConfiguration()));
  prompter_.answers = {true, true};
  Window().show();
  Window().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
  QTimer::singleShot(50, [&] {
    if (how == "Esc") {
      QTest::keyClick(&Window(), Qt::Key_Escape);
    } else {
      Trigger(how.c_str());
    }
  });
  Window().Start();
  EXPECT_EQ(stopped_by_, "the Stop command");
  EXPECT_TRUE(Window().isVisible());
  EXPECT_FALSE(EnabledCommands().contains("mnuRStop"));
  EXPECT_TRUE(EnabledCommands().contains("mnuRStart"));
  Window().Start();
  EXPECT_EQ(stopped_by_, "not stopped");
}

INSTANTIATE_TEST_SUITE_P(Ways, StopCommandTest, testing::Values("Esc", "mnuRStop", "btnStop"));

// The real run: Stop cancels the statement in flight, the log says why and
// the earlier report stays.
TEST_F(MainWindowTest, StopEndsARealRunInItsLongStatement) {
  WriteFile(dir_.File("slow.sql"),
            "@Slow=0\nWITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
            "WHERE i < 3000000000) SELECT count(*) FROM n\n");
  SetIniBox(QString::fromStdString(
      WriteConfiguration("[SQLFILE]\nF_MAXNUM=1\nF1=" + dir_.File("slow.sql") + "\n")));
  WriteFile(dir_.File("report.docx"), "earlier report");
  prompter_.answers = {true};
  QTimer stopper;
  QObject::connect(&stopper, &QTimer::timeout, [&] {
    if (Text("txtLogInfo").contains("[Slow]    WITH")) Trigger("mnuRStop");
  });
  stopper.start(20);
  Window().Start();
  stopper.stop();
  const std::string log = ReadFile(LogPath());
  EXPECT_NE(std::string::npos,
            log.find("Error: The report run was stopped by the Stop command.\r\n")) << log;
  EXPECT_EQ("earlier report", ReadFile(dir_.File("report.docx")));
  EXPECT_EQ(Text("txtErrorCnt"), "1");
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".vantrelle-"))
        << entry.path();
}

TEST_F(MainWindowTest, SignalDuringTheRunStopsItAndThenClosesTheWindow) {
  services_.run_report = StopAwareRun();
  SetIniBox(QString::fromStdString(WriteConfiguration()));
  prompter_.answers = {true};
  Window().show();
  std::thread signal;
  QTimer::singleShot(50, [&] { signal = std::thread([this] { pub_.stop.Request(SIGHUP); }); });
  Window().Start();
  signal.join();
  EXPECT_EQ(stopped_by_, "SIGHUP");
  EXPECT_FALSE(Window().isVisible());
}

TEST_F(MainWindowTest, SignalWhileTheDialogIsUpClosesItAndRunsNothing) {
  bool ran = false;
  services_.run_report = [&](PubDef&) {
    ran = true;
    return RunOutcome::kCompleted;
  };
  SetIniBox(QString::fromStdString(WriteConfiguration("[PARAMETER]\nName1=&Month\n")));
  // The parameter dialog waits for the user when the signal comes; it is
  // closed for the user, and no run follows.
  prompter_.on_dialog = [this](QDialog& dialog) {
    std::thread([this] { pub_.stop.Request(SIGTERM); }).join();
    dialog.exec();
  };
  Window().show();
  Window().Start();
  EXPECT_FALSE(ran);
  QTRY_VERIFY_WITH_TIMEOUT(!Window().isVisible(), 5000);
}

TEST_F(MainWindowTest, OpenCommandsOpenTheFilesOfTheLastRun) {
  // A run that writes what its configuration names: always the log, the
  // report and the PDF once the configuration has loaded.
  struct Files {
    bool loaded, report, pdf;
  } files{true, true, false};
  services_.run_report = [&](PubDef& pub) {
    pub.log_file_name = dir_.File("run.log");
    WriteFile(pub.log_file_name, "log");
    if (!files.loaded) return RunOutcome::kEndedEarly;
    pub.report_file_name = dir_.File("report.docx");
    pub.pdf_file_name = files.pdf ? dir_.File("report.pdf") : "";
    pub.Window()->SetField(RunField::kReportFileName, pub.report_file_name);
    if (files.report) WriteFile(pub.report_file_name, "report");
    if (files.pdf) WriteFile(pub.pdf_file_name, "pdf");
    return RunOutcome::kCompleted;
  };
  auto opened = [this] {
    std::vector<std::string> names = launcher_.opened;
    launcher_.opened.clear();
    return names;
  };
  SetIniBox(QString::fromStdString(WriteConfiguration()));
  const QStringList nothing_to_open = EnabledCommands();
  EXPECT_FALSE(nothing_to_open.contains("mnuROpenLog"));

  prompter_.answers = {true};
  Window().Start();
  auto with = [&](QStringList more) {
    more += nothing_to_open;
    more.sort();
    return more;
  };
  EXPECT_EQ(EnabledCommands(),
            with({"btnOpenLog", "btnOpenReport", "mnuROpenLog", "mnuROpenReport"}));
  Trigger("mnuROpenReport");
  Trigger("btnOpenLog");
  Trigger("mnuROpenPdf");  // disabled: no PDF was asked for
  auto* log_box = Window().findChild<QPlainTextEdit*>("txtLogInfo");
  QTest::mouseDClick(log_box->viewport(), Qt::LeftButton);
  EXPECT_EQ(opened(), std::vector<std::string>({"open " + dir_.File("report.docx"),
                                                "open " + dir_.File("run.log"),
                                                "open " + dir_.File("run.log")}));

  // A PDF written: Open PDF too. A report removed since: no longer offered.
  files.pdf = true;
  prompter_.answers = {true};
  Window().Start();
  std::filesystem::remove(dir_.File("report.docx"));
  emit Window().findChild<QMenu*>("mnuRun")->aboutToShow();
  EXPECT_FALSE(EnabledCommands().contains("mnuROpenReport"));
  Window().ToolbarButtonClick("OpenPdf");
  EXPECT_EQ(opened(), std::vector<std::string>({"open " + dir_.File("report.pdf")}));

  // A run that ended in its configuration made no report or PDF, but a log.
  files = {false, false, false};
  WriteFile(dir_.File("report.docx"), "an earlier report");
  prompter_.answers = {true};
  Window().Start();
  EXPECT_EQ(EnabledCommands(), with({"btnOpenLog", "mnuROpenLog"}));
}

TEST_F(MainWindowTest, WindowIsActiveAgainAfterTheParameterDialog) {
  services_.run_report = [](PubDef&) { return RunOutcome::kCompleted; };
  SetIniBox(QString::fromStdString(WriteConfiguration("[PARAMETER]\nName1=&Month\n")));
  // The user confirms in the dialog, which has the keyboard until it closes.
  prompter_.on_dialog = [this](QDialog& dialog) {
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    prompter_.answers = {true};
    dialog.findChild<QPushButton*>("cmdOK")->click();
  };
  Window().show();
  Window().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
  Window().Start();
  ASSERT_TRUE(pub_.run_confirmed);
  EXPECT_TRUE(QTest::qWaitForWindowActive(&Window(), 2000));
  // The keys work without a click: F5 starts again.
  QTest::keyClick(&Window(), Qt::Key_F5);
  EXPECT_EQ(prompter_.dialogs.size(), 2u);
}

// The window at the desktop's font and at a large one: every caption whole,
// the desktop's font in every box, the whole window on the screen. Run again
// by CTest on 1280 x 800 at scale 1 and 2.
class MainWindowScreenTest : public MainWindowTest, public testing::WithParamInterface<int> {};

TEST_P(MainWindowScreenTest, FitsTheScreenWithTheDesktopFont) {
  testing_util::DesktopFont font(GetParam());
  testing_util::ExpectConfiguredScreen();
  Window().show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Window()));
  QCoreApplication::processEvents();
  const QRect screen = Window().screen()->availableGeometry();
  EXPECT_TRUE(screen.contains(Window().frameGeometry()))
      << Window().frameGeometry().width() << "x" << Window().frameGeometry().height();
  const int points = QFontInfo(QApplication::font()).pointSize();
  for (QLabel* label : Window().findChildren<QLabel*>()) {
    EXPECT_EQ(QFontInfo(label->font()).pointSize(), points);
    EXPECT_GE(label->contentsRect().width(), label->fontMetrics().horizontalAdvance(label->text()))
        << label->text().toStdString();
  }
  for (const char* box : {"txtIniFileName", "txtSQLStmCnt", "txtLogInfo"})
    EXPECT_EQ(QFontInfo(Window().findChild<QWidget*>(box)->font()).pointSize(), points) << box;
  for (QWidget* widget : Window().centralWidget()->findChildren<QWidget*>())
    EXPECT_TRUE(
        Window().rect().contains(QRect(widget->mapTo(&Window(), QPoint(0, 0)), widget->size())))
        << widget->objectName().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Fonts, MainWindowScreenTest, testing::Values(0, 14),
                         [](const testing::TestParamInfo<int>& info) {
                           return info.param == 0 ? std::string("DesktopFont")
                                                  : "Font" + std::to_string(info.param) + "pt";
                         });

TEST_F(MainWindowTest, RoomBeyondTheDesignGoesToThePathBoxesAndTheLogBox) {
  Window().show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Window()));
  auto size = [this](const char* name) { return Window().findChild<QWidget*>(name)->size(); };
  const QSize path = size("txtReportFileName"), log = size("txtLogInfo");
  Window().resize(Window().size() + QSize(200, 150));
  QCoreApplication::processEvents();
  EXPECT_EQ(size("txtReportFileName"), path + QSize(200, 0));
  EXPECT_EQ(size("txtLogInfo"), log + QSize(200, 150));
}

TEST_F(MainWindowTest, QuitDuringTheRunStillServesTheRunToItsEnd) {
  services_.run_report = [](PubDef& pub) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // the quit comes meanwhile
    ShowErrorBox(pub, "late");  // waits for the window's thread
    return RunOutcome::kCompleted;
  };
  SetIniBox(QString::fromStdString(WriteConfiguration()));
  prompter_.answers = {true};
  QTimer::singleShot(0, &Window(), [this] { Window().Start(); });
  QTimer::singleShot(30, [] { QCoreApplication::exit(0); });
  QCoreApplication::exec();
  EXPECT_EQ(Messages(), std::vector<QString>{"Error!\r\nError Info: late"});
  EXPECT_FALSE(Window().IsRunning());
}

TEST_F(MainWindowTest, ErrorBoxOfTheRunIsShownByTheWindowThread) {
  // The log's folder does not exist: the run cannot create its log and
  // reports that in the error box.
  std::string ini = WriteConfiguration();
  WriteFile(ini, "[FILE]\nLogFileName=" + dir_.File("missing/run.log") +
                     "\nReportTemplateFileName=x\nReportFileName=y\n");
  SetIniBox(QString::fromStdString(ini));
  prompter_.answers = {true};
  Window().Start();
  ASSERT_EQ(prompter_.messages.size(), 1u);
  EXPECT_TRUE(prompter_.messages[0].on_gui_thread);
  EXPECT_EQ(prompter_.messages[0].title, "Vantrelle");
  EXPECT_TRUE(prompter_.messages[0].text.startsWith("Error!\r\nError Info: "));
  EXPECT_TRUE(Window().centralWidget()->isEnabled());
}

TEST_F(MainWindowTest, RunThatThrowsIsReportedAndTheWindowComesBack) {
  services_.run_report = [](PubDef&) -> RunOutcome { throw Error("No space left on device"); };
  SetIniBox(QString::fromStdString(WriteConfiguration()));
  prompter_.answers = {true};
  Window().Start();
  EXPECT_EQ(Messages(), std::vector<QString>{"Error!\r\nError Info: No space left on device"});
  EXPECT_TRUE(Window().centralWidget()->isEnabled());
  EXPECT_FALSE(Window().IsRunning());
}

TEST_F(MainWindowTest, OpenConfigurationFileKeepsItsChoice) {
  Window().OpenConfigurationFile();
  ASSERT_EQ(prompter_.file_requests.size(), 1u);
  const OpenFileRequest& first = prompter_.file_requests[0];
  EXPECT_EQ(first.title, "Select Configuration File");
  EXPECT_EQ(first.filters, QStringList({"INI files (*.ini)", "All type files (*)"}));
  EXPECT_EQ(first.initial_folder, "");
  EXPECT_TRUE(first.must_exist_and_be_writable);
  EXPECT_EQ(Text("txtIniFileName"), "");  // cancelled with no earlier choice

  prompter_.file_answer = "/data/reports/sales.ini";
  Window().OpenConfigurationFile();
  EXPECT_EQ(pub_.ini_file_name, "/data/reports/sales.ini");
  EXPECT_EQ(Text("txtIniFileName"), "/data/reports/sales.ini");

  // Cancelling later puts the earlier choice back over what was typed.
  SetIniBox("/typed/elsewhere.ini");
  prompter_.file_answer.reset();
  Window().OpenConfigurationFile();
  EXPECT_EQ(prompter_.file_requests[2].initial_folder, "/data/reports");
  EXPECT_EQ(prompter_.file_requests[2].initial_file, "/data/reports/sales.ini");
  EXPECT_EQ(Text("txtIniFileName"), "/data/reports/sales.ini");
}

std::string Encoded(std::string_view text, TextEncoding encoding) {
  std::string out;
  EXPECT_TRUE(EncodeText(text, encoding, out));
  return out;
}

// A report folder as a Windows user brings it: a UTF-16 configuration with
// backslash names relative to its own folder, a Windows-1252 script with
// CR LF, a .dotx template. Chosen in the open dialog, it runs from Start.
TEST_F(MainWindowTest, ReportFolderFromWindowsRunsAfterTheOpenDialog) {
  const std::filesystem::path start_folder = std::filesystem::current_path();
  std::filesystem::path folder = dir_.path() / "monthly";
  for (const char* sub : {"scripts", "templates", "out"})
    std::filesystem::create_directories(folder / sub);
  testing_util::WriteMinimalDocx((folder / "templates/sales.dotx").string());
  WriteFile((folder / "data.db").string(), "");
  WriteFile((folder / "scripts/monthly.sql").string(),
            Encoded("# K\xC3\xB6ln\r\n@Title=0\r\nSELECT 'Gr\xC3\xBC\xC3\x9F" "e'\r\n",
                       TextEncoding::kWindows1252));
  WriteFile((folder / "report.ini").string(),
            Encoded("[FILE]\r\nLogFileName=out\\run.log\r\n"
                       "ReportTemplateFileName=templates\\sales.dotx\r\n"
                       "ReportFileName=out\\report.docx\r\n[ODBC]\r\nDSN=sqlite:data.db\r\n"
                       "[SQLFILE]\r\nF_MAXNUM=1\r\nF1=scripts\\monthly.sql\r\n",
                       TextEncoding::kUtf16Le));
  prompter_.file_answer = QString::fromStdString((folder / "report.ini").string());
  Window().OpenConfigurationFile();
  EXPECT_EQ(std::filesystem::current_path(), folder);
  prompter_.answers = {true};
  Window().Start();
  pub_.log_stream.reset();
  std::filesystem::current_path(start_folder);
  // The report is opened where the run wrote it, whatever the folder now.
  Trigger("mnuROpenReport");
  EXPECT_EQ(launcher_.opened,
            std::vector<std::string>{"open " + (folder / "out/report.docx").string()});

  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(Text("txtErrorCnt"), "0");
  EXPECT_EQ(Text("txtReportFileName"), "out/report.docx");
  EXPECT_TRUE(std::filesystem::exists(folder / "out/report.docx"));
  std::string log = ReadFile((folder / "out/run.log").string());
  EXPECT_NE(log.find("[SQLFILE1]  Open \"scripts/monthly.sql\" succesfully."), std::string::npos);
  EXPECT_NE(log.find("[SQLFILE1]  [Title]    SELECT 'Gr\xC3\xBC\xC3\x9F" "e'\r\n"), std::string::npos)
      << log;
  EXPECT_EQ(log.find("Error"), std::string::npos) << log;
}

TEST_F(MainWindowTest, HelpContentOpensThePageOrSaysWhatFailed) {
  std::string page = dir_.File("Vantrelle/Help/vantrelle-help.htm");
  std::filesystem::create_directories(dir_.path() / "Vantrelle/Help");
  WriteFile(page, "<html></html>");
  Window().HelpContent();
  EXPECT_EQ(launcher_.opened, std::vector<std::string>{"open " + page});
  EXPECT_TRUE(Messages().empty());

  launcher_.result = 31;
  Window().HelpContent();
  const QString by_hand = QString::fromStdString(
      " The file is \"" + page + "\": open it by hand with a program that reads it.");
  EXPECT_EQ(Messages(), std::vector<QString>{"Error!\r\nError Info: No application is associated "
                                             "with this file type." + by_hand});

  // An opener that fails after it was started says so through the window;
  // a window that is gone no longer listens.
  ASSERT_TRUE(launcher_.on_late_failure);
  launcher_.on_late_failure(2);
  EXPECT_EQ(Messages().back(), "Error!\r\nError Info: File not found" + by_hand);
  window_.reset();
  EXPECT_FALSE(launcher_.on_late_failure);
}

}  // namespace
}  // namespace vantrelle
