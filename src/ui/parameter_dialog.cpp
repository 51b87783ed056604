#include "ui/parameter_dialog.h"

#include <algorithm>
#include <string>

#include <QCheckBox>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "run/ini_file.h"
#include "ui/prompter.h"
#include "ui/twips.h"

namespace vantrelle {
namespace {

// Design of the dialog, in twips: ten rows 480 apart in a client area that
// holds them all.
constexpr int kClientWidth = 6705;
constexpr int kClientHeight = 6255;
constexpr int kRowPitch = 480;
constexpr int kButtonTop = 5520;

QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

QString FitCaption(const QString& text, const QFontMetrics& metrics, int width, int max_lines) {
  max_lines = std::max(max_lines, 1);
  const QStringList words = text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
  QStringList lines;
  QString line;
  for (QString word : words) {
    const QString joined = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
    if (metrics.horizontalAdvance(joined) <= width) {
      line = joined;
      continue;
    }
    if (!line.isEmpty()) lines.append(line);
    // A word wider than the label is split where it must be.
    while (metrics.horizontalAdvance(word) > width && word.size() > 1) {
      int fit = word.size() - 1;
      while (fit > 1 && metrics.horizontalAdvance(word.left(fit)) > width) --fit;
      lines.append(word.left(fit));
      word = word.mid(fit);
    }
    line = word;
  }
  if (!line.isEmpty()) lines.append(line);
  if (lines.size() > max_lines) {
    // What does not fit ends in an ellipsis on the last line shown.
    QString last = lines.mid(max_lines - 1).join(QLatin1Char(' '));
    lines = lines.mid(0, max_lines - 1);
    lines.append(metrics.elidedText(last, Qt::ElideRight, width));
  }
  return lines.join(QLatin1Char('\n'));
}

namespace {

}  // namespace

ParameterDialog::ParameterDialog(PubDef& pub, Prompter& prompter, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      pub_(pub),
      prompter_(prompter) {
  setObjectName(QStringLiteral("frmParameter"));
  setWindowTitle(QStringLiteral("Input Parameters"));
  const double dpi = ScreenDpi(parent != nullptr ? parent : this);
  auto place = [dpi](QWidget* widget, int left, int top, int width, int height) {
    widget->setGeometry(TwipsRect(left, top, width, height, dpi));
  };

  for (int i = 0; i < kMaxParameters; ++i) {
    QLabel* label = new QLabel(QStringLiteral("lblName"), this);
    label->setObjectName(QStringLiteral("lblPName%1").arg(i));
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    // The caption is broken into lines by FitCaption: between words only,
    // so "(YYYY-MM)" stays whole, and with an ellipsis when it is cut.
    place(label, 240, 600 + kRowPitch * i, 1995, 375);
    label->setVisible(false);
    label->setEnabled(false);
    labels_[i] = label;
    QLineEdit* value = new QLineEdit(this);
    value->setObjectName(QStringLiteral("txtPVaule%1").arg(i));
    place(value, 2400, 480 + kRowPitch * i, 3735, 375);
    value->setVisible(false);
    value->setEnabled(false);
    values_[i] = value;
  }
  save_default_ = new QCheckBox(QStringLiteral("Save default vaule"), this);
  save_default_->setObjectName(QStringLiteral("chkSaveDefault"));
  ok_ = new QPushButton(QStringLiteral("&OK"), this);
  ok_->setObjectName(QStringLiteral("cmdOK"));
  cancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
  cancel_->setObjectName(QStringLiteral("cmdCancel"));
  // Enter in a value box must not confirm the run: no default button.
  for (QPushButton* button : {ok_, cancel_}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }

  place(save_default_, 840, kButtonTop, 1815, 495);
  FitDesignFont(this);

  rows_ = std::clamp<int>(pub_.parameter_count, 0, kMaxParameters);
  for (int i = 0; i < rows_; ++i) {
    const ParameterRecord& record = pub_.parameters[i];
    const QString caption = FromUtf8(record.desc.empty() ? record.name : record.desc);
    // Two lines of the caption, as far as the row's pitch has room for them.
    const QFontMetrics metrics = labels_[i]->fontMetrics();
    const int pitch = TwipsToPixels(kRowPitch, dpi);
    const int lines = std::clamp(pitch / metrics.lineSpacing(), 1, 2);
    QRect box = labels_[i]->geometry();
    box.setHeight(std::max(box.height(), std::min(pitch, lines * metrics.lineSpacing() + 2)));
    labels_[i]->setGeometry(box);
    labels_[i]->setText(FitCaption(caption, metrics, labels_[i]->contentsRect().width(), lines));
    labels_[i]->setToolTip(caption);
    labels_[i]->setVisible(true);
    labels_[i]->setEnabled(true);
    values_[i]->setText(FromUtf8(record.value));
    values_[i]->setCursorPosition(0);  // a long value shows its beginning
    values_[i]->setVisible(true);
    values_[i]->setEnabled(true);
  }
  const int shrink = (kMaxParameters - rows_) * kRowPitch;
  place(save_default_, 840, kButtonTop - shrink, 1815, 495);
  place(ok_, 2760, kButtonTop - shrink, 1335, 375);
  place(cancel_, 4320, kButtonTop - shrink, 1335, 375);
  setFixedSize(TwipsToPixels(kClientWidth, dpi), TwipsToPixels(kClientHeight - shrink, dpi));

  QWidget* previous = nullptr;
  for (int i = 0; i < rows_; ++i) {
    if (previous != nullptr) setTabOrder(previous, values_[i]);
    previous = values_[i];
  }
  for (QWidget* next : {static_cast<QWidget*>(save_default_), static_cast<QWidget*>(ok_),
                        static_cast<QWidget*>(cancel_)}) {
    if (previous != nullptr) setTabOrder(previous, next);
    previous = next;
  }
  if (rows_ > 0) values_[0]->setFocus();

  connect(ok_, &QPushButton::clicked, this, &ParameterDialog::Confirm);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void ParameterDialog::keyPressEvent(QKeyEvent* event) {
  // With no default button Enter does nothing in a value box, but a button
  // that has the focus is still pressed by it.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
      button->click();
      return;
    }
  }
  QDialog::keyPressEvent(event);
}

void ParameterDialog::Confirm() {
  if (!prompter_.AskYesNo(this, windowTitle(), QStringLiteral("Generate report?"))) return;
  pub_.run_confirmed = true;
  for (int i = 0; i < rows_; ++i) pub_.parameters[i].value = values_[i]->text().toStdString();
  if (save_default_->isChecked()) SaveDefaults();
  accept();
}

void ParameterDialog::SaveDefaults() {
  // A configuration file that cannot be written (read-only, say) keeps its
  // old defaults and the user is told so; the run still uses the values
  // entered.
  std::string error;
  for (int i = 0; i < rows_ && error.empty(); ++i) {
    const ParameterRecord& record = pub_.parameters[i];
    const std::string n = std::to_string(record.number);
    try {
      // A failed write says why in error, which ends the loop.
      const bool saved =
          WriteIniString("PARAMETER", "Name" + n, record.name, pub_.ini_file_name, &error) &&
          WriteIniString("PARAMETER", "Default" + n, record.value, pub_.ini_file_name, &error);
      if (saved && !record.desc.empty())
        WriteIniString("PARAMETER", "Desc" + n, record.desc, pub_.ini_file_name, &error);
    } catch (const std::exception& e) {
      error = e.what();
    }
  }
  if (!error.empty()) {
    prompter_.ShowMessage(this, windowTitle(),
                          FromUtf8("The default values were not saved: " + error +
                                   " The report runs with the values entered."));
  }
}

}  // namespace vantrelle
