// frmAbout, the about box: product name, version and copyright, taken from
// the program's version information, with the product logo.
#pragma once

#include <QDialog>

namespace vantrelle {

class AboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit AboutBox(QWidget* parent = nullptr);
};

/// "Version " and the major, minor and revision numbers: "Version 1.4.0".
QString VersionLine(int major, int minor, int revision);

}  // namespace vantrelle
