// Test doubles for the window: a Prompter that answers from a script and
// records what it was asked, a launcher that records what it opened, a
// minimal Office Open XML document to use as a report template, and the
// desktop's font and screen for the tests of sizes.
#pragma once

#include <cstring>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QFont>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <gtest/gtest.h>
#include <zip.h>

#include "ui/prompter.h"
#include "ui/shell_open.h"

/// Failed checks show texts as text.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace vantrelle::testing_util {

class FakePrompter : public Prompter {
 public:
  struct Asked {
    QString title;
    QString text;
    bool on_gui_thread;
  };

  bool AskYesNo(QWidget*, const QString& title, const QString& question) override {
    questions.push_back({title, question, OnGuiThread()});
    if (answers.empty()) return false;
    bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void ShowMessage(QWidget*, const QString& title, const QString& text) override {
    messages.push_back({title, text, OnGuiThread()});
  }
  std::optional<QString> ChooseOpenFile(QWidget*, const OpenFileRequest& request) override {
    file_requests.push_back(request);
    return file_answer;
  }
  void RunDialog(QDialog& dialog) override {
    dialogs.push_back(dialog.objectName());
    if (on_dialog) on_dialog(dialog);
  }

  /// Answers of AskYesNo, in order; No once they are used up.
  std::deque<bool> answers;
  std::vector<Asked> questions;
  std::vector<Asked> messages;
  std::optional<QString> file_answer;
  std::vector<OpenFileRequest> file_requests;
  /// Plays the user's part in a modal dialog; the dialog is left as it is
  /// when unset (as if closed).
  std::function<void(QDialog&)> on_dialog;
  std::vector<QString> dialogs;

 private:
  static bool OnGuiThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }
};

class FakeLauncher : public ShellLauncher {
 public:
  int Execute(const std::string& file, const std::string& verb) override {
    opened.push_back(verb + " " + file);
    return result;
  }
  int result = kShellAccepted;
  std::vector<std::string> opened;
};

/// Writes the smallest document a word processor opens: one paragraph.
inline void WriteMinimalDocx(const std::string& path) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(archive, nullptr);
  auto add = [archive](const char* name, const char* text) {
    zip_source_t* source = zip_source_buffer(archive, text, std::strlen(text), 0);
    ASSERT_GE(zip_file_add(archive, name, source, ZIP_FL_OVERWRITE), 0);
  };
  add("[Content_Types].xml",
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" "
      "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/word/document.xml\" ContentType=\"application/"
      "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
      "</Types>");
  add("_rels/.rels",
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
      "relationships/officeDocument\" Target=\"word/document.xml\"/></Relationships>");
  add("word/document.xml",
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
      "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
      "<w:body><w:p><w:r><w:t>Report</w:t></w:r></w:p></w:body></w:document>");
  ASSERT_EQ(zip_close(archive), 0);
}

/// The desktop's font at \a points for the life of the object (0: as it
/// is); windows built meanwhile take it.
class DesktopFont {
 public:
  explicit DesktopFont(int points) : saved_(QApplication::font()) {
    if (points <= 0) return;
    QFont font = saved_;
    font.setPointSize(points);
    QApplication::setFont(font);
  }
  ~DesktopFont() { QApplication::setFont(saved_); }

 private:
  QFont saved_;
};

/// Checks that the screen is the one the test run asked for in
/// VANTRELLE_TEST_SCREEN ("640x400", in the toolkit's logical pixels), so
/// that a screen set-up the toolkit ignored cannot pass unnoticed.
inline void ExpectConfiguredScreen() {
  const QByteArray wanted = qgetenv("VANTRELLE_TEST_SCREEN");
  if (wanted.isEmpty()) return;
  const QSize size = QGuiApplication::primaryScreen()->geometry().size();
  EXPECT_EQ(QString::number(size.width()) + "x" + QString::number(size.height()),
            QString::fromLatin1(wanted));
}

}  // namespace vantrelle::testing_util
