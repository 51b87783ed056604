// Draws the windows into PNG files: the main window after a report run, the
// parameter dialog as the run shows it, and the about box. Used by
// scripts/screenshots under a virtual display.
//
// Usage: ui_screenshots CONFIGURATION.ini OUTPUT_FOLDER
// The run answers every question with Yes; it runs in the current folder.
#include <cstdio>
#include <iostream>
#include <string>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPushButton>
#include <QThread>

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
  explicit ShootingPrompter(QString folder) : folder_(std::move(folder)) {}

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
    QString path = folder_ + "/" + name + ".png";
    bool saved = widget->grab().save(path);
    std::cout << (saved ? "wrote " : "could not write ") << path.toStdString() << "\n";
    if (!saved) ++failures_;
    return saved;
  }
  int failures() const { return failures_; }
  int messages() const { return messages_; }

 private:
  QString folder_;
  int failures_ = 0;
  int messages_ = 0;
};

int Shoot(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: ui_screenshots CONFIGURATION.ini OUTPUT_FOLDER\n";
    return 2;
  }
  QApplication app(argc, argv);
  PubDef pub;
  pub.ini_file_name = argv[1];
  ShootingPrompter prompter(QString::fromLocal8Bit(argv[2]));
  XdgLauncher launcher;
  WindowServices services;
  services.prompter = &prompter;
  services.launcher = &launcher;
  services.program_folder = QCoreApplication::applicationDirPath().toStdString();
  MainWindow window(pub, services);
  window.show();
  Settle();
  window.Start();
  Settle();
  prompter.Save(&window, "main-window");
  window.About();
  std::cout << "errors counted by the run: " << pub.error_count << "\n";
  return prompter.failures() == 0 && prompter.messages() == 0 ? 0 : 1;
}

}  // namespace
}  // namespace vantrelle

int main(int argc, char** argv) { return vantrelle::Shoot(argc, argv); }
