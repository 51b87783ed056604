#include "ui/main_window.h"

#include <atomic>
#include <exception>
#include <filesystem>
#include <system_error>
#include <thread>
#include <utility>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
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
#include <QToolBar>

#include "run/report_check.h"
#include "run/run_log.h"
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

// The client area below the menu bar: controls keep their design positions
// whatever the window's size; only the toolbar spans the whole width.
class ClientArea : public QWidget {
 public:
  using QWidget::QWidget;
  void SetToolbar(QToolBar* toolbar) { toolbar_ = toolbar; }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QWidget::resizeEvent(event);
    if (toolbar_ != nullptr) toolbar_->setGeometry(0, 0, width(), toolbar_->sizeHint().height());
  }

 private:
  QToolBar* toolbar_ = nullptr;
};

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
  BuildClientArea();
  ini_file_name_->setText(FromUtf8(pub_.ini_file_name));
  pub_.observer = observer_.get();
  // The help page's opener is not waited for; it says later when it failed.
  if (services_.launcher != nullptr) {
    QPointer<MainWindow> self(this);
    services_.launcher->on_late_failure = [self](int code) {
      if (self != nullptr) ShowErrorBox(self->pub_, ShellFailureFor(code).message);
    };
  }
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
  };
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("mnuFile"));
  QMenu* run = menuBar()->addMenu(QStringLiteral("&Run"));
  run->setObjectName(QStringLiteral("mnuRun"));
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("mnuHelp"));

  const Item items[] = {
      {file, "mnuFConfiguration", "&Open Configuration File...", QKeySequence(Qt::CTRL | Qt::Key_O),
       &MainWindow::OpenConfigurationFile},
      {file, nullptr, nullptr, {}, nullptr},
      {file, "mnuFExit", "E&xit", {}, nullptr},
      {run, "mnuRStart", "&Start", QKeySequence(Qt::Key_F5), &MainWindow::Start},
      {run, "mnuRCheck", "&Check", {}, &MainWindow::Check},
      {help, "mnuHContent", "&Help Content", QKeySequence(Qt::Key_F1), &MainWindow::HelpContent},
      {help, nullptr, nullptr, {}, nullptr},
      {help, "mnuHAbout", "&About...", {}, &MainWindow::About},
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
  }
}

void MainWindow::BuildClientArea() {
  const double dpi = ScreenDpi(this);
  auto place = [dpi](QWidget* widget, int left, int top, int width, int height) {
    widget->setGeometry(TwipsRect(left, top, width, height, dpi));
  };

  auto* client = new ClientArea(this);
  client->setObjectName(QStringLiteral("clientArea"));
  client->setMinimumSize(TwipsToPixels(kClientWidth, dpi), TwipsToPixels(kClientHeight, dpi));
  setCentralWidget(client);

  toolbar_ = new QToolBar(client);
  toolbar_->setObjectName(QStringLiteral("Toolbar1"));
  toolbar_->setIconSize(QSize(24, 24));
  toolbar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  toolbar_->setMovable(false);
  toolbar_->setFloatable(false);
  client->SetToolbar(toolbar_);
  struct Button {
    const char* key;
    QIcon icon;
    const char* tooltip;
  };
  const Button buttons[] = {
      {"CfgFile", OpenFileIcon(), "Select a configuration file"},
      {"Start", StartIcon(), "Start to generate report"},
      {"Help", HelpIcon(), "Help content"},
  };
  for (const Button& button : buttons) {
    QAction* action = toolbar_->addAction(button.icon, QString());
    action->setObjectName(QStringLiteral("btn") + QString::fromLatin1(button.key));
    action->setData(QString::fromLatin1(button.key));
    action->setToolTip(QString::fromLatin1(button.tooltip));
  }
  connect(toolbar_, &QToolBar::actionTriggered, this,
          [this](QAction* action) { ToolbarButtonClick(action->data().toString()); });

  auto* ini_label = new QLabel(QStringLiteral("Configuration File"), client);
  ini_label->setObjectName(QStringLiteral("lblIniFileName"));
  place(ini_label, 420, 900, 1455, 375);
  ini_file_name_ = new QLineEdit(client);
  ini_file_name_->setObjectName(QStringLiteral("txtIniFileName"));
  place(ini_file_name_, 1800, 840, 7455, 375);
  ini_label->setBuddy(ini_file_name_);

  auto* frame = new QGroupBox(QStringLiteral("Run Time Information"), client);
  frame->setObjectName(QStringLiteral("fraRunTimeInfo"));
  place(frame, 240, 1440, 9255, 5535);
  struct Box {
    const char* label;
    int label_left, label_top, label_width;
    const char* name;
    int left, top, width;
    QLineEdit** field;
  };
  const Box boxes[] = {
      {"Report Template", 240, 480, 1455, "txtTemplateFileName", 1560, 420, 7455,
       &template_file_name_},
      {"Report File", 240, 940, 1455, "txtReportFileName", 1560, 880, 7455, &report_file_name_},
      {"Log File", 240, 1400, 1455, "txtLogFlieName", 1560, 1340, 7455, &log_file_name_},
      {"SQL Files Count", 240, 1860, 1455, "txtSQLFileCnt", 1560, 1800, 2295, &sql_file_count_},
      {"SQL Statements Count", 4900, 1860, 1935, "txtSQLStmCnt", 6720, 1800, 2295,
       &sql_stm_count_},
      {"Errors Count", 240, 2320, 1455, "txtErrorCnt", 1560, 2260, 2295, &error_count_},
  };
  for (const Box& box : boxes) {
    auto* label = new QLabel(QString::fromLatin1(box.label), frame);
    place(label, box.label_left, box.label_top, box.label_width, 375);
    auto* field = new QLineEdit(frame);
    field->setObjectName(QString::fromLatin1(box.name));
    field->setReadOnly(true);
    place(field, box.left, box.top, box.width, 375);
    *box.field = field;
  }
  auto* log_label = new QLabel(QStringLiteral("Log Information"), frame);
  place(log_label, 240, 2780, 1455, 375);
  log_info_ = new QPlainTextEdit(frame);
  log_info_->setObjectName(QStringLiteral("txtLogInfo"));
  log_info_->setReadOnly(true);
  log_info_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  log_info_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  place(log_info_, 480, 3120, 8295, 2055);

  for (QLabel* label : client->findChildren<QLabel*>())
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  FitDesignFont(client);
  resize(TwipsToPixels(kClientWidth, dpi),
         TwipsToPixels(kClientHeight, dpi) + menuBar()->sizeHint().height());
}

void MainWindow::ToolbarButtonClick(const QString& key) {
  if (key == QLatin1String("CfgFile")) {
    OpenConfigurationFile();
  } else if (key == QLatin1String("Start")) {
    Start();
  } else if (key == QLatin1String("Help")) {
    HelpContent();
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
  if (pub_.run_confirmed) RunReportInBackground();
}

void MainWindow::Check() {
  if (running_) return;
  pub_.ini_file_name = TrimSpaces(ini_file_name_->text().toStdString());
  try {
    ReadParameters(pub_);
    const CheckResult result = CheckReport(pub_, false);
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
  running_ = true;
  // Disabling the widgets takes the keyboard focus away; it comes back to
  // where it was once the run has ended.
  QPointer<QWidget> focused = QApplication::focusWidget();
  centralWidget()->setEnabled(false);
  menuBar()->setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);

  std::string failure;
  std::atomic<bool> finished{false};
  QEventLoop loop;
  std::thread worker([this, &loop, &failure, &finished] {
    try {
      services_.run_report(pub_);
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

  QApplication::restoreOverrideCursor();
  menuBar()->setEnabled(true);
  centralWidget()->setEnabled(true);
  running_ = false;
  if (focused != nullptr && focused->window() == this) focused->setFocus(Qt::OtherFocusReason);
  // A run that could not even write its log would otherwise end unnoticed.
  if (!failure.empty()) ShowErrorBox(pub_, failure);
  if (close_requested_) {
    close_requested_ = false;
    close();
  }
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
  if (!ShellOpen(*services_.launcher, path, "open", &failure))
    ShowErrorBox(pub_, failure.message);
}

void MainWindow::About() {
  if (running_) return;
  AboutBox box(this);
  services_.prompter->RunDialog(box);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // The run cannot be interrupted; the window closes once it has ended.
  if (running_) {
    event->ignore();
    close_requested_ = true;
    statusBar()->showMessage(
        QStringLiteral("The window closes when the report run has ended."));
    return;
  }
  QMainWindow::closeEvent(event);
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
}

void MainWindow::ShowErrorPrompt(const QString& prompt) {
  services_.prompter->ShowMessage(this, QString::fromUtf8(kProductName), prompt);
}

}  // namespace vantrelle
