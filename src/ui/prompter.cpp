#include "ui/prompter.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QBoxLayout>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QTextDocument>
#include <QTextEdit>

namespace vantrelle {

MessageDialog::MessageDialog(const QString& title, const QString& text, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("msgBox"));
  setWindowTitle(title);
  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("imgIcon"));
  const int icon_size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  icon->setPixmap(style()
                      ->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this)
                      .pixmap(QSize(icon_size, icon_size), devicePixelRatioF()));
  icon->setAlignment(Qt::AlignTop);

  // A text box that looks like a label: its wrap mode breaks a word that
  // does not fit the line wherever it must, without changing the text.
  auto* message = new QTextEdit(this);
  message->setObjectName(QStringLiteral("txtMessage"));
  message->setPlainText(text);
  message->setReadOnly(true);
  message->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  message->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  message->setFrameShape(QFrame::NoFrame);
  message->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  message->setTabChangesFocus(true);
  message->setContextMenuPolicy(Qt::DefaultContextMenu);
  QPalette look = message->palette();
  look.setColor(QPalette::Base, palette().color(QPalette::Window));
  message->setPalette(look);
  message->document()->setDocumentMargin(0);

  // As wide as the text needs, up to about sixty characters or half the
  // screen; as high as the wrapped text, up to half the screen (it scrolls).
  const QFontMetrics metrics(message->font());
  const QRect screen_area = screen() != nullptr ? screen()->availableGeometry() : QRect();
  int widest = std::min(metrics.averageCharWidth() * 60,
                        screen_area.isEmpty() ? 640 : screen_area.width() / 2);
  int natural = 0;
  for (const QString& line : text.split(QLatin1Char('\n')))
    natural = std::max(natural, metrics.horizontalAdvance(line));
  const int width = std::clamp(natural + 2, metrics.averageCharWidth() * 20, widest);
  // The box lays its text out at its own width; a copy laid out at that
  // width tells how high it will be.
  QTextDocument probe;
  probe.setDefaultFont(message->font());
  probe.setDefaultTextOption(message->document()->defaultTextOption());
  probe.setDocumentMargin(0);
  probe.setPlainText(text);
  probe.setTextWidth(width);
  const int needed = static_cast<int>(std::ceil(probe.size().height()));
  int height = needed;
  if (!screen_area.isEmpty()) height = std::min(height, screen_area.height() / 2);
  message->setFixedSize(width, height);
  if (needed > height) {
    message->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    message->setFixedWidth(width + message->verticalScrollBar()->sizeHint().width());
  }

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setObjectName(QStringLiteral("cmdOK"));
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addSpacing(metrics.averageCharWidth() * 2);
  row->addWidget(message, 1);
  auto* column = new QVBoxLayout(this);
  column->addLayout(row);
  column->addWidget(buttons);
  column->setSizeConstraint(QLayout::SetFixedSize);
  ok->setFocus();

  // Ctrl+C where the text box does not take it: the selection, else all.
  auto* copy = new QShortcut(QKeySequence::Copy, this);
  connect(copy, &QShortcut::activated, this, [message] {
    if (message->textCursor().hasSelection()) {
      message->copy();
    } else {
      QApplication::clipboard()->setText(message->toPlainText());
    }
  });
}

bool QtPrompter::AskYesNo(QWidget* parent, const QString& title, const QString& question) {
  QMessageBox box(QMessageBox::Question, title, question, QMessageBox::Yes | QMessageBox::No,
                  parent);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

void QtPrompter::ShowMessage(QWidget* parent, const QString& title, const QString& text) {
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  MessageDialog box(title, shown, parent);
  box.exec();
}

std::optional<QString> QtPrompter::ChooseOpenFile(QWidget* parent,
                                                  const OpenFileRequest& request) {
  QFileDialog dialog(parent, request.title, request.initial_folder);
  dialog.setNameFilters(request.filters);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(request.must_exist_and_be_writable ? QFileDialog::ExistingFile
                                                        : QFileDialog::AnyFile);
  if (!request.initial_file.isEmpty()) dialog.selectFile(request.initial_file);
  for (;;) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
      return std::nullopt;
    QString chosen = dialog.selectedFiles().first();
    // The configuration file is written when parameter defaults are saved,
    // so a file that cannot be written is refused here, as it is chosen.
    if (request.must_exist_and_be_writable && !QFileInfo(chosen).isWritable()) {
      ShowMessage(&dialog, request.title,
                  chosen + QStringLiteral("\nThis file is set to read-only.\n"
                                          "Try again with a different file name."));
      continue;
    }
    return chosen;
  }
}

void QtPrompter::RunDialog(QDialog& dialog) { dialog.exec(); }

}  // namespace vantrelle
