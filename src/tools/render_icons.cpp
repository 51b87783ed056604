// Writes the program's logo as PNG files for the desktop's icon theme, drawn
// by the same code as the window's own icon.
//
// Usage: vantrelle_render_icons OUTPUT_FOLDER SIZE...
// Writes OUTPUT_FOLDER/vantrelle-SIZE.png for every SIZE.
#include <cstdlib>
#include <iostream>
#include <string>

#include <QApplication>
#include <QPixmap>

#include "ui/artwork.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "Usage: vantrelle_render_icons OUTPUT_FOLDER SIZE...\n";
    return 2;
  }
  // Drawing needs no display.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  for (int i = 2; i < argc; ++i) {
    int size = std::atoi(argv[i]);
    std::string path = std::string(argv[1]) + "/vantrelle-" + argv[i] + ".png";
    if (size < 1 || !vantrelle::LogoPixmap(size).save(QString::fromStdString(path), "PNG")) {
      std::cerr << "vantrelle_render_icons: cannot write " << path << "\n";
      return 1;
    }
  }
  return 0;
}
