#include "ui/parameter_dialog.h"

#include <algorithm>
#include <string>

#include <QBoxLayout>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>

#include "base/ini_file.h"
#include "sql/parameters.h"
#include "ui/prompter.h"
#include "ui/twips.h"

namespace vantrelle {
namespace {

// Design of the dialog, in twips: ten rows 480 apart in a client area that
// holds them all.
constexpr int kClientWidth = 6705;
constexpr int kRowPitch = 480;

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

ParameterDialog::ParameterDialog(PubDef& pub, Prompter& prompter, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      pub_(pub),
      prompter_(prompter) {
  setObjectName(QStringLiteral("frmParameter"));
  setWindowTitle(QStringLiteral("Input Parameters"));
  // The design's measures, grown with the desktop's font.
  const double scale = DesignScale(this);
  auto px = [scale](int twips) { return DesignPixels(twips, scale); };

  // The rows stand in a list that scrolls when the screen cannot hold them
  // all; the check box and the buttons stay below it, always in view.
  auto* list = new QScrollArea(this);
  list->setObjectName(QStringLiteral("lstParameters"));
  list->setFrameShape(QFrame::NoFrame);
  list->setWidgetResizable(true);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list->setFocusPolicy(Qt::NoFocus);
  auto* rows = new QWidget(list);
  auto* grid = new QGridLayout(rows);
  grid->setContentsMargins(px(240), px(480), px(kClientWidth - 6135), 0);
  grid->setHorizontalSpacing(px(2400 - 240 - 1995));
  grid->setVerticalSpacing(px(kRowPitch - 375));
  grid->setColumnStretch(1, 1);
  for (int i = 0; i < kMaxParameters; ++i) {
    QLabel* label = new QLabel(QStringLiteral("lblName"), rows);
    label->setObjectName(QStringLiteral("lblPName%1").arg(i));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setTextFormat(Qt::PlainText);
    // The caption is broken into lines by FitCaption: between words only,
    // so "(YYYY-MM)" stays whole, and with an ellipsis when it is cut.
    label->setFixedWidth(px(1995));
    label->setVisible(false);
    label->setEnabled(false);
    labels_[i] = label;
    QLineEdit* value = new QLineEdit(rows);
    value->setObjectName(QStringLiteral("txtPVaule%1").arg(i));
    value->setMinimumWidth(px(3735) / 3);
    value->setVisible(false);
    value->setEnabled(false);
    values_[i] = value;
    grid->addWidget(label, i, 0);
    grid->addWidget(value, i, 1);
  }
  grid->setRowStretch(kMaxParameters, 1);
  list->setWidget(rows);

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
    button->setMinimumWidth(px(1335));
  }
  // The design's places (check box at 840, OK at 2760, Cancel at 4320) as
  // far as the dialog's width allows; the gaps give way first.
  auto* buttons = new QHBoxLayout;
  buttons->setContentsMargins(px(240), 0, px(kClientWidth - 6135), 0);
  buttons->setSpacing(0);
  buttons->addStretch(840 - 240);
  buttons->addWidget(save_default_);
  buttons->addStretch(2760 - 840 - 1815);
  buttons->addWidget(ok_);
  buttons->addSpacing(px(4320 - 2760 - 1335));
  buttons->addWidget(cancel_);
  buttons->addStretch(6135 - 5655);
  auto* column = new QVBoxLayout(this);
  // Below the last of ten rows (its bottom at 5175) the buttons stand at
  // 5520, and the client area ends at 6255.
  column->setContentsMargins(0, 0, 0, px(6255 - 5520 - 375));
  column->setSpacing(px(5520 - 5175));
  column->addWidget(list, 1);
  column->addLayout(buttons);

  rows_ = std::clamp<int>(pub_.parameter_count, 0, kMaxParameters);
  for (int i = 0; i < rows_; ++i) {
    const ParameterRecord& record = pub_.parameters[i];
    const QString caption = FromUtf8(record.desc.empty() ? record.name : record.desc);
    labels_[i]->setText(
        FitCaption(caption, labels_[i]->fontMetrics(), labels_[i]->contentsRect().width(), 2));
    labels_[i]->setToolTip(caption);
    labels_[i]->setVisible(true);
    labels_[i]->setEnabled(true);
    values_[i]->setText(FromUtf8(record.value));
    values_[i]->setCursorPosition(0);  // a long value shows its beginning
    values_[i]->setVisible(true);
    values_[i]->setEnabled(true);
  }

  // Rows that are not needed take no room: the dialog is as high as the
  // rows shown need, and no higher than the screen has room for.
  rows->adjustSize();
  const int list_height = rows->sizeHint().height();
  list->setMinimumHeight(std::min(list_height, values_[0]->sizeHint().height() * 2));
  const QSize preferred(std::max(px(kClientWidth), layout()->minimumSize().width()),
                        list_height + buttons->sizeHint().height() + column->spacing() +
                            column->contentsMargins().bottom());
  setFixedSize(FitOnScreen(this, preferred));

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

void ParameterDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The frame is known once the dialog is up; a small screen keeps all of it.
  QTimer::singleShot(0, this, [this] { KeepOnScreen(this); });
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
  // A value its parameter's PatternN or ChoicesN does not allow is said here,
  // on its field, before anything runs.
  for (int i = 0; i < rows_; ++i) {
    ParameterRecord entered = pub_.parameters[i];
    entered.value = values_[i]->text().toStdString();
    const std::string problem = ParameterValueProblem(entered);
    if (problem.empty()) continue;
    prompter_.ShowMessage(this, windowTitle(), FromUtf8(problem));
    values_[i]->setFocus();
    values_[i]->selectAll();
    return;
  }
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
