// Every question, message box, file chooser and modal dialog of the window
// goes through a Prompter. The program uses QtPrompter, which shows them
// modally; tests give their own answers without entering a modal loop.
#pragma once

#include <optional>

#include <QDialog>
#include <QString>
#include <QStringList>

class QWidget;

namespace vantrelle {

/// What the open-file chooser is asked for.
struct OpenFileRequest {
  QString title;
  /// Filters in the form "INI files (*.ini)", the first one selected.
  QStringList filters;
  /// Folder to open in; empty for the chooser's default.
  QString initial_folder;
  /// File name shown selected when the chooser opens; may be empty.
  QString initial_file;
  /// The file must exist and must not be read-only.
  bool must_exist_and_be_writable = true;
};

/// The box ShowMessage shows: \a text with the exclamation icon and an OK
/// button, titled \a title. Long words (paths) break anywhere at the box's
/// width without a character being added, so the text selected and copied
/// is the text shown; Ctrl+C with nothing selected copies all of it.
class MessageDialog : public QDialog {
  Q_OBJECT

 public:
  MessageDialog(const QString& title, const QString& text, QWidget* parent = nullptr);
};

class Prompter {
 public:
  virtual ~Prompter() = default;

  /// Asks \a question with Yes and No buttons and the question icon; true
  /// when the answer is Yes.
  virtual bool AskYesNo(QWidget* parent, const QString& title, const QString& question) = 0;
  /// Shows \a text with an OK button and the exclamation icon.
  virtual void ShowMessage(QWidget* parent, const QString& title, const QString& text) = 0;
  /// Lets the user choose a file; nothing when the chooser is cancelled.
  virtual std::optional<QString> ChooseOpenFile(QWidget* parent,
                                                const OpenFileRequest& request) = 0;
  /// Shows \a dialog modally and returns when it has closed.
  virtual void RunDialog(QDialog& dialog) = 0;
};

/// The Prompter of the running program: Qt message boxes, file dialog and
/// modal dialogs.
class QtPrompter : public Prompter {
 public:
  bool AskYesNo(QWidget* parent, const QString& title, const QString& question) override;
  void ShowMessage(QWidget* parent, const QString& title, const QString& text) override;
  std::optional<QString> ChooseOpenFile(QWidget* parent, const OpenFileRequest& request) override;
  void RunDialog(QDialog& dialog) override;
};

}  // namespace vantrelle
