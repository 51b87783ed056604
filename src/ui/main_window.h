// frmMain, the main window of interactive mode.
//
// It lets the user choose a configuration file, start a report run, open the
// help page and the about box, and shows the run's file names, counters and
// latest log messages as the run proceeds. The window holds no report logic:
// Start checks the configuration file, has the parameters read, asks for
// confirmation and calls the report run.
//
// The run itself is synchronous; it is carried out on a worker thread while
// the window, disabled but for its Stop command and showing the busy pointer,
// waits in an event loop. Everything the run tells the window reaches it
// through the window's RunObserver, which hands each call to the window's
// thread, so the window keeps painting and shows every log line and counter
// as it changes. While the run lasts only the worker touches the PubDef,
// except for its stop request, which any thread may make.
//
// Around the design's commands the window adds Stop (which stops the run as
// SIGTERM does), Open Report, Open Log and Open PDF; its layout follows the
// design's proportions at the desktop's font size and fits the screen.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QList>
#include <QMainWindow>
#include <QString>

#include "base/pubdef.h"
#include "run/report_run.h"

class QAction;
class QLineEdit;
class QPlainTextEdit;
class QTimer;
class QToolBar;

namespace vantrelle {

class Prompter;
class ShellLauncher;

/// What the main window works with besides the program-wide state.
struct WindowServices {
  /// Every question, message box, file chooser and dialog goes through it.
  Prompter* prompter = nullptr;
  /// Opens documents (the help page, the run's report and log) with the
  /// desktop's program.
  ShellLauncher* launcher = nullptr;
  /// Folder of the executable, which holds Vantrelle/Help.
  std::string program_folder;
  /// The report run that Start calls.
  std::function<RunOutcome(PubDef&)> run_report = RunReport;
};

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  /// Builds the window from its design and shows pub.ini_file_name in the
  /// configuration box. While the window lives it is \a pub's observer, and
  /// it closes when a signal asks \a pub's run to stop (at once when idle,
  /// else when the run has ended). \a services' prompter and launcher must
  /// outlive the window.
  MainWindow(PubDef& pub, WindowServices services, QWidget* parent = nullptr);
  ~MainWindow() override;

  /// File > Open Configuration File: lets the user choose the configuration.
  void OpenConfigurationFile();
  /// Run > Start: checks the configuration, asks for confirmation or the
  /// parameters, then runs the report with the window disabled.
  void Start();
  /// Run > Check: checks the configuration named in the box as a run would
  /// read it, without running anything, and shows the check's lines in the
  /// log box.
  void Check();
  /// Help > Help Content: opens the help page, or says it is missing.
  void HelpContent();
  /// Help > About: shows the about box.
  void About();
  /// Run > Stop (Esc while running): asks the run in progress to stop, as
  /// SIGTERM does; nothing when no run is in progress.
  void Stop();
  /// Run > Open Report, Open Log, Open PDF: opens the report, run log or PDF
  /// copy of the last run in this window with the desktop's program. Each is
  /// enabled once that run has written the file and no run is in progress.
  void OpenReport();
  void OpenLog();
  void OpenPdf();
  /// Runs the command of the toolbar button with \a key ("CfgFile", "Start",
  /// "Help", "Stop", "OpenReport", "OpenLog", "OpenPdf", compared exactly);
  /// any other key does nothing.
  void ToolbarButtonClick(const QString& key);
  /// Opens \a path with the desktop's associated program; a failure is
  /// shown in the error box.
  void OpenDocument(const std::string& path);

  /// True while a report run is in progress.
  bool IsRunning() const { return running_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  /// The toolbar stays: no menu to hide it.
  QMenu* createPopupMenu() override;

 private:
  class Observer;
  friend class Observer;

  void BuildMenus();
  void BuildToolbar();
  void BuildClientArea();
  void RunReportInBackground();
  /// Enables the commands for the window's state: while a run is in progress
  /// only Stop; else all but Stop, the Open commands once their file exists.
  void UpdateCommands();
  /// True when a signal (not the Stop command) asked for a stop.
  bool SignalStopRequested() const;
  /// Polled while the window lives: a signal's stop closes the window.
  void CheckSignalStop();
  void OpenRunFile(const std::string& path);

  // Display side of the observer; run on the window's thread.
  void ClearLog();
  void AppendLog(const QString& text);
  void SetFieldText(RunField field, const QString& text);
  void ShowErrorPrompt(const QString& prompt);

  PubDef& pub_;
  WindowServices services_;
  std::unique_ptr<Observer> observer_;
  bool running_ = false;
  /// A close request came during the run: the window closes when it ends.
  bool close_requested_ = false;
  /// The run in progress showed its file names (its configuration loaded).
  bool run_showed_files_ = false;
  /// Absolute names of the last run's report, log and PDF; empty for none.
  std::string report_path_;
  std::string log_path_;
  std::string pdf_path_;
  /// The file name the open-file chooser keeps from one use to the next.
  QString chosen_file_name_;
  QString log_text_;

  QToolBar* toolbar_ = nullptr;
  QTimer* signal_poll_ = nullptr;
  /// Enabled while idle (the design's commands) and while running (Stop).
  QList<QAction*> idle_actions_;
  QList<QAction*> stop_actions_;
  /// Menu item and toolbar button of each Open command.
  QList<QAction*> report_actions_;
  QList<QAction*> log_actions_;
  QList<QAction*> pdf_actions_;
  // The file the last Open command handed to the opener, for its failures.
  std::string last_opened_;
  std::string WhereToOpenByHand() const;
  QLineEdit* ini_file_name_ = nullptr;
  QLineEdit* template_file_name_ = nullptr;
  QLineEdit* report_file_name_ = nullptr;
  QLineEdit* log_file_name_ = nullptr;
  QLineEdit* sql_file_count_ = nullptr;
  QLineEdit* sql_stm_count_ = nullptr;
  QLineEdit* error_count_ = nullptr;
  QPlainTextEdit* log_info_ = nullptr;
};

}  // namespace vantrelle
