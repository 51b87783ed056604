#include "ui/window_main.h"

#include <cstdlib>
#include <iostream>

#include <QApplication>
#include <QMainWindow>

namespace vantrelle {

int WindowMain(PubDef& pub, int argc, char** argv) {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
      platform == nullptr) {
    std::cerr << "vantrelle: no display to show the window on; use -C for batch mode.\n";
    return 2;
  }
  (void)pub;
  QApplication app(argc, argv);
  QMainWindow window;
  window.setWindowTitle("Vantrelle");
  window.show();
  return app.exec();
}

}  // namespace vantrelle
