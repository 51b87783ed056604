// frmMain, the main window of interactive mode.
//
// It lets the user choose a configuration file, start a report run, open the
// help page and the about box, and shows the run's file names, counters and
// latest log messages as the run proceeds. The window holds no report logic:
// Start checks the configuration file, has the parameters read, asks for
// confirmation and calls the report run.
//
// The run itself is synchronous; it is carried out on a worker thread while
// the window, disabled and showing the busy pointer, waits in an event loop.
// Everything the run tells the window reaches it through the window's
// RunObserver, which hands each call to the window's thread, so the window
// keeps painting and shows every log line and counter as it changes. While
// the run lasts only the worker touches the PubDef.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QMainWindow>
#include <QString>

#include "run/pubdef.h"
#include "run/report_run.h"

class QLineEdit;
class QPlainTextEdit;
class QToolBar;

namespace vantrelle {

class Prompter;
class ShellLauncher;

/// What the main window works with besides the program-wide state.
struct WindowServices {
  /// Every question, message box, file chooser and dialog goes through it.
  Prompter* prompter = nullptr;
  /// Opens documents (the help page) with the desktop's program.
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
  /// configuration box. While the window lives it is \a pub's observer.
  /// \a services' prompter and launcher must outlive the window.
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
  /// Runs the command of the toolbar button with \a key ("CfgFile", "Start"
  /// or "Help", compared exactly); any other key does nothing.
  void ToolbarButtonClick(const QString& key);
  /// Opens \a path with the desktop's associated program; a failure is
  /// shown in the error box.
  void OpenDocument(const std::string& path);

  /// True while a report run is in progress.
  bool IsRunning() const { return running_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  class Observer;
  friend class Observer;

  void BuildMenus();
  void BuildClientArea();
  void RunReportInBackground();

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
  /// The file name the open-file chooser keeps from one use to the next.
  QString chosen_file_name_;
  QString log_text_;

  QToolBar* toolbar_ = nullptr;
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
