#include "ui/prompter.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace vantrelle {

QString BreakableText(const QString& text, int longest) {
  constexpr QChar kBreak(0x200B);  // zero-width space: a line may break here
  QString out;
  out.reserve(text.size() + text.size() / 8);
  int run = 0;  // characters since the last place a line may break
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    out += c;
    if (c.isSpace()) {
      run = 0;
      continue;
    }
    ++run;
    const bool separator = c == QLatin1Char('/') || c == QLatin1Char('\\') ||
                           c == QLatin1Char('_') || c == QLatin1Char('.') ||
                           c == QLatin1Char('-');
    const bool more = i + 1 < text.size() && !text[i + 1].isSpace();
    if (more && (run >= longest || (separator && run >= longest / 4))) {
      out += kBreak;
      run = 0;
    }
  }
  return out;
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
  // A long path has no blank to break at; the box would clip it.
  QMessageBox box(QMessageBox::Warning, title, BreakableText(shown), QMessageBox::Ok, parent);
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
