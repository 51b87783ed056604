// Draws the windows into PNG files for the README and the manual: the main
// window during and after a report run, its Run menu, the parameter dialog
// as the run shows it, and the about box. Used by scripts/screenshots under
// a virtual display with a window manager, once at each scale.
//
// Usage: ui_screenshots CONFIGURATION.ini OUTPUT_FOLDER [SUFFIX]
// Files are named main-window, main-window-running, run-menu,
// parameter-dialog and about-box, each followed by SUFFIX ("@2x") and .png.
// The run answers every question with Yes; it runs in the current folder.
#include <atomic>
#include <cstdio>
#include <iostream>
#include <string>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include "run/report_run.h"
#include "ui/main_window.h"
#include "ui/prompter.h"
#include "ui/shell_open.h"

namespace vantrelle {
namespace {

// Lets the window system show and paint what was just shown.
void Settle() {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 300) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(10);
  }
}

class ShootingPrompter : public Prompter {
 public:
  ShootingPrompter(QString folder, QString suffix)
      : folder_(std::move(folder)), suffix_(std::move(suffix)) {}

  bool AskYesNo(QWidget*, const QString&, const QString&) override { return true; }
  void ShowMessage(QWidget*, const QString& title, const QString& text) override {
    std::cerr << title.toStdString() << ": " << text.toStdString() << "\n";
    ++messages_;
  }
  std::optional<QString> ChooseOpenFile(QWidget*, const OpenFileRequest&) override {
    return std::nullopt;
  }
  void RunDialog(QDialog& dialog) override {
    dialog.show();
    Settle();
    // The names the pictures have in docs/.
    const QString name = dialog.objectName() == "frmParameter" ? "parameter-dialog" : "about-box";
    Save(&dialog, name);
    // Confirm as the user would: OK (the parameter dialog then asks once
    // more, and the answer is Yes).
    if (auto* ok = dialog.findChild<QPushButton*>("cmdOK")) ok->click();
    if (dialog.isVisible()) dialog.accept();
  }

  bool Save(QWidget* widget, const QString& name) {
    QString path = folder_ + "/" + name + suffix_ + ".png";
    bool saved = widget->grab().save(path);
    std::cout << (saved ? "wrote " : "could not write ") << path.toStdString() << "\n";
    if (!saved) ++failures_;
    return saved;
  }
  int failures() const { return failures_; }
  int messages() const { return messages_; }

 private:
  QString folder_;
  QString suffix_;
  int failures_ = 0;
  int messages_ = 0;
};

int Shoot(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::cerr << "usage: ui_screenshots CONFIGURATION.ini OUTPUT_FOLDER [SUFFIX]\n";
    return 2;
  }
  QApplication app(argc, argv);
  PubDef pub;
  pub.ini_file_name = argv[1];
  ShootingPrompter prompter(QString::fromLocal8Bit(argv[2]),
                            argc == 4 ? QString::fromLocal8Bit(argv[3]) : QString());
  XdgLauncher launcher;
  WindowServices services;
  services.prompter = &prompter;
  services.launcher = &launcher;
  services.program_folder = QCoreApplication::applicationDirPath().toStdString();
  // The run holds on at its end until the window has been drawn with the
  // run still in progress (Stop enabled, the rest disabled).
  std::atomic<bool> run_done{false}, running_shot{false};
  services.run_report = [&](PubDef& run_pub) {
    RunOutcome outcome = RunReport(run_pub);
    run_done = true;
    for (int i = 0; i < 500 && !running_shot; ++i) QThread::msleep(10);
    return outcome;
  };
  MainWindow window(pub, services);
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!run_done || running_shot) return;
    Settle();
    prompter.Save(&window, "main-window-running");
    running_shot = true;
  });
  poll.start(20);
  window.show();
  Settle();
  window.Start();
  poll.stop();
  Settle();
  prompter.Save(&window, "main-window");
  if (auto* run = window.findChild<QMenu*>("mnuRun")) {
    QAction* title = run->menuAction();
    run->popup(window.menuBar()->mapToGlobal(window.menuBar()->actionGeometry(title).bottomLeft()));
    Settle();
    prompter.Save(run, "run-menu");
    run->hide();
  }
  window.About();
  std::cout << "errors counted by the run: " << pub.error_count << "\n";
  return prompter.failures() == 0 && prompter.messages() == 0 && running_shot ? 0 : 1;
}

}  // namespace
}  // namespace vantrelle

int main(int argc, char** argv) { return vantrelle::Shoot(argc, argv); }
