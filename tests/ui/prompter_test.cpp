#include "ui/prompter.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextEdit>
#include <QtTest/QTest>
#include <gtest/gtest.h>

namespace vantrelle {
namespace {

class MessageDialogTest : public ::testing::Test {
 protected:
  const QString path_ =
      "/home/someone/programs/vantrelle-build-release/Vantrelle/Help/vantrelle-help.htm";
  const QString message_ =
      "Error!\nError Info: Help file \"" + path_ + "\" does not exist. " + QString(90, 'x');
  MessageDialog box_{"Vantrelle", message_};
  QTextEdit* text_ = box_.findChild<QTextEdit*>("txtMessage");
};

TEST_F(MessageDialogTest, LongWordsWrapWithinTheBoxAndTheTextStaysAsGiven) {
  box_.show();
  ASSERT_NE(text_, nullptr);
  EXPECT_EQ(box_.windowTitle(), "Vantrelle");
  EXPECT_FALSE(box_.findChild<QLabel*>("imgIcon")->pixmap().isNull());
  EXPECT_EQ(text_->toPlainText(), message_);
  // Every line fits the box; the long words were broken over lines.
  const QTextBlock info = text_->document()->findBlockByNumber(1);
  ASSERT_GT(info.layout()->lineCount(), 2);
  for (int i = 0; i < info.layout()->lineCount(); ++i)
    EXPECT_LE(info.layout()->lineAt(i).naturalTextWidth(), text_->viewport()->width()) << i;
  EXPECT_EQ(text_->verticalScrollBar()->maximum(), 0);
  QTest::mouseClick(box_.findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
  EXPECT_EQ(box_.result(), QDialog::Accepted);
}

TEST_F(MessageDialogTest, CopiedTextIsTheTextShown) {
  box_.show();
  box_.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&box_));
  QClipboard* clipboard = QApplication::clipboard();
  // The path as the user selects it, across the line breaks of the box.
  QTextCursor cursor(text_->document());
  const int start = message_.indexOf(path_);
  cursor.setPosition(start);
  cursor.setPosition(start + path_.size(), QTextCursor::KeepAnchor);
  text_->setTextCursor(cursor);
  text_->copy();
  EXPECT_EQ(clipboard->text(), path_);

  text_->selectAll();
  text_->copy();
  EXPECT_EQ(clipboard->text(), message_);

  // Ctrl+C on the OK button, nothing selected: the whole message.
  clipboard->clear();
  cursor.clearSelection();
  text_->setTextCursor(cursor);
  QPushButton* ok = box_.findChild<QPushButton*>("cmdOK");
  QTest::keyClick(ok, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(clipboard->text(), message_);
}

}  // namespace
}  // namespace vantrelle
