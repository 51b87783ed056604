#include "ui/window_main.h"

#include <cstdlib>
#include <iostream>

#include <QApplication>

#include "ui/artwork.h"
#include "ui/main_window.h"
#include "ui/prompter.h"
#include "ui/shell_open.h"

namespace vantrelle {

int WindowMain(PubDef& pub, int argc, char** argv) {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
      platform == nullptr) {
    std::cerr << "vantrelle: no display to show the window on; use -C for batch mode.\n";
    return 2;
  }
  QApplication app(argc, argv);
  app.setWindowIcon(LogoIcon());
  QtPrompter prompter;
  XdgLauncher launcher;
  WindowServices services;
  services.prompter = &prompter;
  services.launcher = &launcher;
  services.program_folder = QCoreApplication::applicationDirPath().toStdString();
  MainWindow window(pub, services);
  window.show();
  return app.exec();
}

}  // namespace vantrelle
