#include "ui/window_main.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include <QApplication>

#include "ui/artwork.h"
#include "ui/display_check.h"
#include "ui/main_window.h"
#include "ui/prompter.h"
#include "ui/shell_open.h"

namespace vantrelle {

int WindowMain(PubDef& pub, int argc, char** argv) {
  // The toolkit aborts the process on a display it cannot open; look first.
  if (std::string problem = DisplayProblem(std::vector<std::string>(argv + 1, argv + argc));
      !problem.empty()) {
    std::cerr << "vantrelle: " << problem << "\n";
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
