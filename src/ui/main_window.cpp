#include "ui/main_window.h"

#include <atomic>
#include <exception>
#include <filesystem>
#include <system_error>
#include <thread>
#include <utility>

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextCursor>
#include <QThread>
#include <QTimer>
#include <QToolBar>

#include "run/report_check.h"
#include "base/run_log.h"
#include "sql/parameters.h"
#include "ui/about_box.h"
#include "ui/artwork.h"
#include "ui/parameter_dialog.h"
#include "ui/prompter.h"
#include "ui/shell_open.h"
#include "ui/twips.h"
#include "version.h"

namespace vantrelle {
namespace {

// Design of the client area, in twips.
constexpr int kClientWidth = 9765;
constexpr int kClientHeight = 7395;

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Start removes blanks only: a tab typed around the path stays part of it.
std::string TrimSpaces(const std::string& text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

// How often an idle window looks whether a signal asked it to close.
constexpr int kSignalPollMs = 200;

// A file of the last run that may be opened: named and there.
bool RunFileExists(const std::string& path) {
  std::error_code ignored;
  return !path.empty() && std::filesystem::is_regular_file(path, ignored);
}

// \a path as the run used it, made absolute against the current folder of
// the run: choosing another configuration later changes that folder.
std::string AbsoluteRunPath(const std::string& path) {
  if (path.empty()) return path;
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.lexically_normal().string();
}

}  // namespace

// Hands every call of the report run to the window's thread: log lines and
// fields are queued in order, the error box waits for its OK. Calls made on
// the window's own thread are carried out at once.
class MainWindow::Observer : public RunObserver {
 public:
  explicit Observer(MainWindow* window) : window_(window) {}

  void ClearLogBox() override {
    Post([window = window_] { window->ClearLog(); }, false);
  }
  void AppendLogBox(std::string_view text) override {
    Post([window = window_, line = FromUtf8(text)] { window->AppendLog(line); }, false);
  }
  void SetField(RunField field, std::string_view text) override {
    Post([window = window_, field, value = FromUtf8(text)] { window->SetFieldText(field, value); },
         false);
  }
  void ShowErrorBox(std::string_view prompt) override {
    Post([window = window_, text = FromUtf8(prompt)] { window->ShowErrorPrompt(text); }, true);
  }

 private:
  template <typename Call>
  void Post(Call call, bool wait) {
    if (QThread::currentThread() == window_->thread()) {
      call();
      return;
    }
    QMetaObject::invokeMethod(window_, std::move(call),
                              wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
  }

  MainWindow* window_;
};

MainWindow::MainWindow(PubDef& pub, WindowServices services, QWidget* parent)
    : QMainWindow(parent),
      pub_(pub),
      services_(std::move(services)),
      observer_(std::make_unique<Observer>(this)) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QString::fromUtf8(kProductName));
  setWindowIcon(LogoIcon());
  BuildMenus();
  BuildToolbar();
  BuildClientArea();
  UpdateCommands();
  ini_file_name_->setText(FromUtf8(pub_.ini_file_name));
  pub_.observer = observer_.get();
  // The help page's opener is not waited for; it says later when it failed.
  if (services_.launcher != nullptr) {
    QPointer<MainWindow> self(this);
    services_.launcher->on_late_failure = [self](int code) {
      if (self != nullptr)
        ShowErrorBox(self->pub_, ShellFailureFor(code).message + self->WhereToOpenByHand());
    };
  }
  // A signal's stop request is made on another thread; the window looks.
  signal_poll_ = new QTimer(this);
  connect(signal_poll_, &QTimer::timeout, this, &MainWindow::CheckSignalStop);
  signal_poll_->start(kSignalPollMs);
}

MainWindow::~MainWindow() {
  if (services_.launcher != nullptr) services_.launcher->on_late_failure = nullptr;
  if (pub_.observer == observer_.get()) pub_.observer = nullptr;
  // Unloading the window releases the run log.
  pub_.log_stream.reset();
}

void MainWindow::BuildMenus() {
  struct Item {
    QMenu* menu;
    const char* name;
    const char* caption;
    QKeySequence shortcut;
    void (MainWindow::*command)();
    /// The commands enabled and disabled together with this one.
    QList<QAction*>* group;
  };
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("mnuFile"));
  QMenu* run = menuBar()->addMenu(QStringLiteral("&Run"));
  run->setObjectName(QStringLiteral("mnuRun"));
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("mnuHelp"));
  // The Open commands look again whether their files are still there.
  connect(run, &QMenu::aboutToShow, this, &MainWindow::UpdateCommands);

  const Item items[] = {
      {file, "mnuFConfiguration", "&Open Configuration File...", QKeySequence(Qt::CTRL | Qt::Key_O),
       &MainWindow::OpenConfigurationFile, &idle_actions_},
      {file, nullptr, nullptr, {}, nullptr, nullptr},
      {file, "mnuFExit", "E&xit", {}, nullptr, &idle_actions_},
      {run, "mnuRStart", "&Start", QKeySequence(Qt::Key_F5), &MainWindow::Start, &idle_actions_},
      {run, "mnuRCheck", "&Check", {}, &MainWindow::Check, &idle_actions_},
      // Added to the design: Stop, and the run's files one click away.
      {run, "mnuRStop", "S&top", QKeySequence(Qt::Key_Escape), &MainWindow::Stop, &stop_actions_},
      {run, nullptr, nullptr, {}, nullptr, nullptr},
      {run, "mnuROpenReport", "Open &Report", {}, &MainWindow::OpenReport, &report_actions_},
      {run, "mnuROpenLog", "Open &Log", {}, &MainWindow::OpenLog, &log_actions_},
      {run, "mnuROpenPdf", "Open &PDF", {}, &MainWindow::OpenPdf, &pdf_actions_},
      {help, "mnuHContent", "&Help Content", QKeySequence(Qt::Key_F1), &MainWindow::HelpContent,
       &idle_actions_},
      {help, nullptr, nullptr, {}, nullptr, nullptr},
      {help, "mnuHAbout", "&About...", {}, &MainWindow::About, &idle_actions_},
  };
  for (const Item& item : items) {
    if (item.name == nullptr) {
      item.menu->addSeparator();
      continue;
    }
    QAction* action = item.menu->addAction(QString::fromLatin1(item.caption));
    action->setObjectName(QString::fromLatin1(item.name));
    action->setShortcut(item.shortcut);
    if (item.command != nullptr) {
      auto command = item.command;
      connect(action, &QAction::triggered, this, [this, command] { (this->*command)(); });
    } else {
      connect(action, &QAction::triggered, this, &QWidget::close);
    }
    item.group->append(action);
  }
}

void MainWindow::BuildToolbar() {
  toolbar_ = new QToolBar(this);
  toolbar_->setObjectName(QStringLiteral("Toolbar1"));
  toolbar_->setIconSize(QSize(24, 24));
  toolbar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  toolbar_->setMovable(false);
  toolbar_->setFloatable(false);
  toolbar_->toggleViewAction()->setVisible(false);
  addToolBar(Qt::TopToolBarArea, toolbar_);
  struct Button {
    const char* key;
    QIcon icon;
    const char* tooltip;
    QList<QAction*>* group;
  };
  // The design's three buttons first, in their order; then the added ones.
  const Button buttons[] = {
      {"CfgFile", OpenFileIcon(), "Select a configuration file", &idle_actions_},
      {"Start", StartIcon(), "Start to generate report", &idle_actions_},
      {"Help", HelpIcon(), "Help content", &idle_actions_},
      {nullptr, {}, nullptr, nullptr},
      {"Stop", StopIcon(), "Stop the report run (Esc)", &stop_actions_},
      {"OpenReport", ReportIcon(), "Open the report", &report_actions_},
      {"OpenLog", LogIcon(), "Open the run log", &log_actions_},
      {"OpenPdf", PdfIcon(), "Open the PDF copy of the report", &pdf_actions_},
  };
  for (const Button& button : buttons) {
    if (button.key == nullptr) {
      toolbar_->addSeparator();
      continue;
    }
    QAction* action = toolbar_->addAction(button.icon, QString());
    action->setObjectName(QStringLiteral("btn") + QString::fromLatin1(button.key));
    action->setData(QString::fromLatin1(button.key));
    action->setToolTip(QString::fromLatin1(button.tooltip));
    button.group->append(action);
  }
  connect(toolbar_, &QToolBar::actionTriggered, this, [this](QAction* action) {
    if (!action->data().isNull()) ToolbarButtonClick(action->data().toString());
  });
}

QMenu* MainWindow::createPopupMenu() { return nullptr; }

void MainWindow::BuildClientArea() {
  // The design's layout, drawn for an 8-point font, grows with the desktop's
  // font; the path boxes and the log box take the width and height the
  // window has beyond it, and the window may shrink to fit a small screen.
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("clientArea"));
  setCentralWidget(client);
  const double scale = DesignScale(client);
  auto px = [scale](int twips) { return DesignPixels(twips, scale); };

  auto* column = new QVBoxLayout(client);
  column->setContentsMargins(px(240), px(120), px(240), px(240));
  column->setSpacing(px(180));

  auto* ini_row = new QHBoxLayout;
  auto* ini_label = new QLabel(QStringLiteral("Configuration File"), client);
  ini_label->setObjectName(QStringLiteral("lblIniFileName"));
  ini_file_name_ = new QLineEdit(client);
  ini_file_name_->setObjectName(QStringLiteral("txtIniFileName"));
  ini_label->setBuddy(ini_file_name_);
  ini_row->addSpacing(px(420 - 240));
  ini_row->addWidget(ini_label);
  ini_row->addSpacing(px(1800 - 420 - 1455));
  ini_row->addWidget(ini_file_name_, 1);
  column->addLayout(ini_row);

  auto* frame = new QGroupBox(QStringLiteral("Run Time Information"), client);
  frame->setObjectName(QStringLiteral("fraRunTimeInfo"));
  column->addWidget(frame, 1);
  auto* grid = new QGridLayout(frame);
  grid->setContentsMargins(px(240), px(120), px(240), px(240));
  grid->setHorizontalSpacing(px(105));
  grid->setVerticalSpacing(px(85));
  // Label, count box, label, count box; the path boxes span the last three.
  grid->setColumnStretch(1, 2295);
  grid->setColumnStretch(3, 2295);
  grid->setColumnMinimumWidth(0, px(1455));
  struct Box {
    const char* label;
    const char* name;
    int row, column, span;
    QLineEdit** field;
  };
  const Box boxes[] = {
      {"Report Template", "txtTemplateFileName", 0, 0, 3, &template_file_name_},
      {"Report File", "txtReportFileName", 1, 0, 3, &report_file_name_},
      {"Log File", "txtLogFlieName", 2, 0, 3, &log_file_name_},
      {"SQL Files Count", "txtSQLFileCnt", 3, 0, 1, &sql_file_count_},
      {"SQL Statements Count", "txtSQLStmCnt", 3, 2, 1, &sql_stm_count_},
      {"Errors Count", "txtErrorCnt", 4, 0, 1, &error_count_},
  };
  for (const Box& box : boxes) {
    auto* label = new QLabel(QString::fromLatin1(box.label), frame);
    auto* field = new QLineEdit(frame);
    field->setObjectName(QString::fromLatin1(box.name));
    field->setReadOnly(true);
    // A box in the second column stands apart from the first pair, as in
    // the design.
    if (box.column == 2) {
      label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      label->setContentsMargins(px(600), 0, 0, 0);
    }
    grid->addWidget(label, box.row, box.column);
    grid->addWidget(field, box.row, box.column + 1, 1, box.span);
    *box.field = field;
  }
  auto* log_label = new QLabel(QStringLiteral("Log Information"), frame);
  grid->addWidget(log_label, 5, 0, 1, 4);
  log_info_ = new QPlainTextEdit(frame);
  log_info_->setObjectName(QStringLiteral("txtLogInfo"));
  log_info_->setReadOnly(true);
  log_info_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // A box too low for its messages (a small screen at a large scale, the
  // lines of a check) shows a scroll bar, so that none is out of reach.
  log_info_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  // Two lines at least; the box takes the height the window has left.
  log_info_->setMinimumHeight(2 * log_info_->fontMetrics().lineSpacing() +
                              2 * log_info_->frameWidth() + 8);
  log_info_->viewport()->installEventFilter(this);
  auto* log_row = new QHBoxLayout;
  log_row->addSpacing(px(480 - 240));
  log_row->addWidget(log_info_);
  log_row->addSpacing(px(9015 - 8775));
  grid->addLayout(log_row, 6, 0, 1, 4);
  grid->setRowStretch(6, 1);

  // The design's client area, with the menu bar above it, as far as the
  // screen has room.
  const QSize design(px(kClientWidth), px(kClientHeight) + menuBar()->sizeHint().height());
  resize(FitOnScreen(this, design.expandedTo(sizeHint())));
}

void MainWindow::ToolbarButtonClick(const QString& key) {
  if (key == QLatin1String("CfgFile")) {
    OpenConfigurationFile();
  } else if (key == QLatin1String("Start")) {
    Start();
  } else if (key == QLatin1String("Help")) {
    HelpContent();
  } else if (key == QLatin1String("Stop")) {
    Stop();
  } else if (key == QLatin1String("OpenReport")) {
    OpenReport();
  } else if (key == QLatin1String("OpenLog")) {
    OpenLog();
  } else if (key == QLatin1String("OpenPdf")) {
    OpenPdf();
  }
}

void MainWindow::OpenConfigurationFile() {
  if (running_) return;
  OpenFileRequest request;
  request.title = QStringLiteral("Select Configuration File");
  request.filters = {QStringLiteral("INI files (*.ini)"), QStringLiteral("All type files (*)")};
  // The folder of the configuration last used, not of the text in the box.
  if (!pub_.ini_file_name.empty())
    request.initial_folder = FromUtf8(pub_.file_system.GetParentFolderName(pub_.ini_file_name));
  request.initial_file = chosen_file_name_;
  request.must_exist_and_be_writable = true;
  if (std::optional<QString> chosen = services_.prompter->ChooseOpenFile(this, request)) {
    chosen_file_name_ = *chosen;
    // Choosing a file makes its folder the current folder, so the relative
    // names inside the configuration resolve beside it.
    std::string folder = pub_.file_system.GetParentFolderName(chosen_file_name_.toStdString());
    std::error_code ignored;
    if (!folder.empty()) std::filesystem::current_path(folder, ignored);
  }
  // The chooser keeps its last file name, so cancelling after an earlier
  // choice applies that choice again.
  if (!chosen_file_name_.isEmpty()) {
    pub_.ini_file_name = chosen_file_name_.toStdString();
    ini_file_name_->setText(chosen_file_name_);
  }
}

void MainWindow::Start() {
  if (running_) return;
  pub_.ini_file_name = TrimSpaces(ini_file_name_->text().toStdString());
  if (!pub_.file_system.FileExists(pub_.ini_file_name)) {
    ShowErrorBox(pub_, "Configuration file \"" + pub_.ini_file_name + "\" does not exist.");
    return;
  }
  try {
    ReadParameters(pub_);
  } catch (const std::exception&) {
    // An unreadable [PARAMETER] section leaves the parameters as read so far.
  }
  pub_.run_confirmed = false;
  if (pub_.parameter_count < 1) {
    if (services_.prompter->AskYesNo(this, windowTitle(), QStringLiteral("Generate report?")))
      pub_.run_confirmed = true;
  } else {
    ParameterDialog dialog(pub_, *services_.prompter, this);
    services_.prompter->RunDialog(dialog);
  }
  if (!pub_.run_confirmed) return;
  // The dialog and its question have closed: the window takes the keyboard,
  // so that Esc stops the run without a click first.
  raise();
  activateWindow();
  RunReportInBackground();
}

void MainWindow::Check() {
  if (running_) return;
  pub_.ini_file_name = TrimSpaces(ini_file_name_->text().toStdString());
  try {
    ReadParameters(pub_);
    const CheckResult result = CheckReport(pub_, false);
    // The last run's files and counts are not the check's: they would read
    // as its findings.
    for (QLineEdit* box : {template_file_name_, report_file_name_, log_file_name_,
                           sql_file_count_, sql_stm_count_, error_count_})
      box->clear();
    ClearLog();
    for (const std::string& line : result.Lines(pub_.ini_file_name))
      AppendLog(FromUtf8(line) + QLatin1Char('\n'));
    // The first problems are the ones to see; the summary is the last line.
    log_info_->moveCursor(QTextCursor::Start);
  } catch (const std::exception& error) {
    ShowErrorBox(pub_, error.what());
  }
}

void MainWindow::RunReportInBackground() {
  // A signal that came while the user answered the question or the dialog
  // ends the program rather than start a run.
  if (SignalStopRequested()) {
    close();
    return;
  }
  pub_.stop.Reset();
  running_ = true;
  run_showed_files_ = false;
  // Disabling the widgets takes the keyboard focus away; it comes back to
  // where it was once the run has ended.
  QPointer<QWidget> focused = QApplication::focusWidget();
  centralWidget()->setEnabled(false);
  UpdateCommands();
  QApplication::setOverrideCursor(Qt::WaitCursor);

  std::string failure;
  RunOutcome outcome = RunOutcome::kNoLog;
  std::atomic<bool> finished{false};
  QEventLoop loop;
  std::thread worker([this, &loop, &failure, &finished, &outcome] {
    try {
      outcome = services_.run_report(pub_);
    } catch (const std::exception& error) {
      failure = error.what();
    } catch (...) {
      failure = "The report run ended with an unknown error.";
    }
    finished = true;
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  // The loop also ends (or does not even start) when the application is
  // asked to quit. The run may still wait for the window (its error box), so
  // the window keeps serving it until it has ended.
  while (!finished)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  worker.join();

  // The files this run wrote, named as the run's folder saw them.
  log_path_ = failure.empty() && outcome != RunOutcome::kNoLog ? AbsoluteRunPath(pub_.log_file_name)
                                                               : std::string();
  report_path_ = run_showed_files_ ? AbsoluteRunPath(pub_.report_file_name) : std::string();
  pdf_path_ = run_showed_files_ ? AbsoluteRunPath(pub_.pdf_file_name) : std::string();

  QApplication::restoreOverrideCursor();
  centralWidget()->setEnabled(true);
  running_ = false;
  UpdateCommands();
  if (auto* bar = findChild<QStatusBar*>()) bar->clearMessage();
  // The question or the parameter dialog that confirmed the run has closed
  // meanwhile; the window is the one to take the keyboard again.
  raise();
  activateWindow();
  if (focused != nullptr && focused->window() == this) focused->setFocus(Qt::OtherFocusReason);
  // A run that could not even write its log would otherwise end unnoticed.
  if (!failure.empty()) ShowErrorBox(pub_, failure);
  if (close_requested_ || SignalStopRequested()) {
    close_requested_ = false;
    close();
  }
}

void MainWindow::Stop() {
  if (!running_) return;
  pub_.stop.Request(0);
  statusBar()->showMessage(QStringLiteral("Stopping the report run..."));
}

void MainWindow::OpenReport() {
  if (!running_) OpenRunFile(report_path_);
}

void MainWindow::OpenLog() {
  if (!running_) OpenRunFile(log_path_);
}

void MainWindow::OpenPdf() {
  if (!running_) OpenRunFile(pdf_path_);
}

void MainWindow::OpenRunFile(const std::string& path) {
  UpdateCommands();
  // A file the last run did not write is not offered; one removed since is
  // the opener's to report ("File not found").
  if (!path.empty()) OpenDocument(path);
}

void MainWindow::UpdateCommands() {
  for (QAction* action : idle_actions_) action->setEnabled(!running_);
  for (QAction* action : stop_actions_) action->setEnabled(running_);
  const std::pair<QList<QAction*>*, const std::string*> files[] = {
      {&report_actions_, &report_path_}, {&log_actions_, &log_path_}, {&pdf_actions_, &pdf_path_}};
  for (const auto& [actions, path] : files) {
    const bool there = !running_ && RunFileExists(*path);
    for (QAction* action : *actions) action->setEnabled(there);
  }
}

bool MainWindow::SignalStopRequested() const {
  return pub_.stop.Requested() && pub_.stop.Reason() != "the Stop command";
}

void MainWindow::CheckSignalStop() {
  if (!SignalStopRequested()) return;
  // A box or dialog waiting for an answer is closed first (no run follows
  // it); a run in progress stops by itself, and the window closes after it.
  if (QWidget* modal = QApplication::activeModalWidget()) {
    modal->close();
    return;
  }
  if (!running_) close();
}

void MainWindow::HelpContent() {
  if (running_) return;
  std::string path = FindHelpPage(services_.program_folder);
  if (pub_.file_system.FileExists(path)) {
    OpenDocument(path);
  } else {
    ShowErrorBox(pub_, "Help file \"" + path + "\" does not exist.");
  }
}

void MainWindow::OpenDocument(const std::string& path) {
  ShellFailure failure;
  last_opened_ = path;
  if (!ShellOpen(*services_.launcher, path, "open", &failure))
    ShowErrorBox(pub_, failure.message + WhereToOpenByHand());
}

std::string MainWindow::WhereToOpenByHand() const {
  return " The file is \"" + last_opened_ + "\": open it by hand with a program that reads it.";
}

void MainWindow::About() {
  if (running_) return;
  AboutBox box(this);
  services_.prompter->RunDialog(box);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // A run in progress is asked to stop; the window closes once it has ended.
  if (running_) {
    event->ignore();
    close_requested_ = true;
    pub_.stop.Request(0);
    statusBar()->showMessage(
        QStringLiteral("The report run is being stopped; the window closes when it has ended."));
    return;
  }
  QMainWindow::closeEvent(event);
}

void MainWindow::changeEvent(QEvent* event) {
  // Back in the window: the run's files may have been removed meanwhile.
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) UpdateCommands();
  QMainWindow::changeEvent(event);
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // The frame is known once the window is up; a small screen keeps all of it.
  QTimer::singleShot(0, this, [this] { KeepOnScreen(this); });
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  // A double-click on the log box opens the run log.
  if (watched == log_info_->viewport() && event->type() == QEvent::MouseButtonDblClick &&
      !running_ && RunFileExists(log_path_)) {
    OpenLog();
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::ClearLog() {
  log_text_.clear();
  log_info_->clear();
}

void MainWindow::AppendLog(const QString& text) {
  QString line = text;
  line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  log_text_ += line;
  log_info_->setPlainText(log_text_);
  // The newest message is the one to see, also when long lines wrap.
  log_info_->moveCursor(QTextCursor::End);
  log_info_->verticalScrollBar()->setValue(log_info_->verticalScrollBar()->maximum());
}

void MainWindow::SetFieldText(RunField field, const QString& text) {
  QLineEdit* box = nullptr;
  switch (field) {
    case RunField::kTemplateFileName: box = template_file_name_; break;
    case RunField::kReportFileName: box = report_file_name_; break;
    case RunField::kLogFileName: box = log_file_name_; break;
    case RunField::kSqlFileCount: box = sql_file_count_; break;
    case RunField::kSqlStmCount: box = sql_stm_count_; break;
    case RunField::kErrorCount: box = error_count_; break;
  }
  if (box != nullptr) box->setText(text);
  if (field == RunField::kReportFileName) run_showed_files_ = true;
}

void MainWindow::ShowErrorPrompt(const QString& prompt) {
  services_.prompter->ShowMessage(this, QString::fromUtf8(kProductName), prompt);
}

}  // namespace vantrelle
