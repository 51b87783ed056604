// frmParameter, the dialog in which the user reviews the report parameters
// before an interactive run and may save them as the configuration's new
// defaults. It is built afresh for every showing, with one row per
// parameter; the rows not needed are hidden and the dialog shrinks by their
// height. The rows scroll when the screen cannot hold them all.
#pragma once

#include <array>

#include <QDialog>

#include "base/pubdef.h"

class QCheckBox;
class QFontMetrics;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vantrelle {

class Prompter;

/// \a text broken into at most \a max_lines lines of \a width pixels in
/// \a metrics: between words only (a word wider than a line is split), the
/// last line shown ending in an ellipsis when the text does not fit.
QString FitCaption(const QString& text, const QFontMetrics& metrics, int width, int max_lines);

class ParameterDialog : public QDialog {
  Q_OBJECT

 public:
  /// Fills the rows from the first pub.parameter_count parameters of \a pub.
  /// \a prompter asks for the final confirmation; both must outlive the
  /// dialog.
  ParameterDialog(PubDef& pub, Prompter& prompter, QWidget* parent = nullptr);

  /// OK: asks "Generate report?"; on Yes stores the values typed, saves
  /// them as defaults when asked to, sets pub.run_confirmed and closes.
  /// On No the dialog stays open as it is.
  void Confirm();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void SaveDefaults();

  PubDef& pub_;
  Prompter& prompter_;
  int rows_ = 0;
  std::array<QLabel*, kMaxParameters> labels_{};
  std::array<QLineEdit*, kMaxParameters> values_{};
  QCheckBox* save_default_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace vantrelle
