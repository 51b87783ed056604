#include "ui/prompter.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace vantrelle {
namespace {

constexpr QChar kBreak(0x200B);

TEST(BreakableTextTest, LongPathsGetBreaksAfterSeparatorsOnly) {
  const QString message =
      "Error!\nError Info: Help file \"/home/someone/programs/vantrelle-build-release/Vantrelle/"
      "Help/vantrelle-help.htm\" does not exist.";
  const QString shown = BreakableText(message);
  QString without = shown;
  without.remove(kBreak);
  EXPECT_EQ(without, message);  // nothing but break chances is added
  EXPECT_GT(shown.count(kBreak), 1);
  for (qsizetype at = shown.indexOf(kBreak); at >= 0; at = shown.indexOf(kBreak, at + 1)) {
    const QChar before = shown[at - 1];
    EXPECT_TRUE(QString("/\\_.-").contains(before)) << at;
  }
  // No run between break chances is longer than the limit.
  for (const QString& part : shown.split(QRegularExpression(QString("[\\s") + kBreak + "]")))
    EXPECT_LE(part.size(), 40) << part.toStdString();
}

TEST(BreakableTextTest, ShortWordsAreLeftAloneAndSeparatorlessRunsAreCut) {
  EXPECT_EQ(BreakableText("The template file \"a/b.docx\" does not exist."),
            "The template file \"a/b.docx\" does not exist.");
  const QString shown = BreakableText(QString(100, 'x'));
  EXPECT_EQ(shown, QString(40, 'x') + kBreak + QString(40, 'x') + kBreak + QString(20, 'x'));
}

}  // namespace
}  // namespace vantrelle
