#include "ui/parameter_dialog.h"

#include <sys/stat.h>

#include <QCheckBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QtTest/QTest>

#include "fake_prompter.h"
#include "ui/twips.h"
#include "test_util.h"

namespace vantrelle {
namespace {

using testing_util::FakePrompter;
using testing_util::ReadFile;
using testing_util::TempDir;
using testing_util::WriteFile;

class ParameterDialogTest : public ::testing::Test {
 protected:
  /// Fills the parameter table with \a count parameters numbered from 1;
  /// odd ones have a description.
  void SetParameters(int count) {
    pub_.parameter_count = static_cast<int16_t>(count);
    for (int i = 0; i < count; ++i) {
      pub_.parameters[i] = {"&P" + std::to_string(i + 1),
                            i % 2 ? "Parameter " + std::to_string(i + 1) : "",
                            "value" + std::to_string(i + 1), static_cast<int16_t>(i + 1)};
    }
  }
  ParameterDialog& Dialog() {
    if (!dialog_) dialog_ = std::make_unique<ParameterDialog>(pub_, prompter_);
    return *dialog_;
  }
  template <typename T>
  T* Find(const QString& name) {
    T* widget = Dialog().findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name.toStdString();
    return widget;
  }
  QLineEdit* Value(int i) { return Find<QLineEdit>(QStringLiteral("txtPVaule%1").arg(i)); }
  QLabel* Label(int i) { return Find<QLabel>(QStringLiteral("lblPName%1").arg(i)); }
  /// Where \a widget stands in the dialog.
  QRect InDialog(QWidget* widget) {
    return QRect(widget->mapTo(&Dialog(), QPoint(0, 0)), widget->size());
  }
  void ClickOk() { QTest::mouseClick(Find<QPushButton>("cmdOK"), Qt::LeftButton); }

  TempDir dir_;
  PubDef pub_;
  FakePrompter prompter_;
  std::unique_ptr<ParameterDialog> dialog_;
};

TEST_F(ParameterDialogTest, LongCaptionsBreakBetweenWordsAndEndInAnEllipsis) {
  pub_.parameter_count = 3;
  pub_.parameters[0] = {"&Month", "Month of the report (YYYY-MM)", "2004-05", 1};
  pub_.parameters[1] = {"&Region", "The sales region whose orders the report lists, by its code "
                        "as the regions table holds it",
                        "", 2};
  const std::string long_value = "/srv/reports/sales/archive/2004/" + std::string(80, 'x');
  pub_.parameters[2] = {"&Folder", "", long_value, 3};
  Dialog().show();
  for (int i = 0; i < 3; ++i) {
    const QStringList lines = Label(i)->text().split('\n');
    EXPECT_LE(lines.size(), 2) << i;
    for (const QString& line : lines)
      EXPECT_LE(Label(i)->fontMetrics().horizontalAdvance(line), Label(i)->contentsRect().width())
          << line.toStdString();
    // The label's lines all fit in its height, above the next row.
    EXPECT_LE(lines.size() * Label(i)->fontMetrics().lineSpacing(), Label(i)->height()) << i;
    if (i < 2) {
      EXPECT_LT(InDialog(Label(i)).bottom(), InDialog(Label(i + 1)).top()) << i;
    }
  }
  EXPECT_FALSE(Label(0)->text().contains("(YYYY-\n"));
  EXPECT_TRUE(Label(0)->text().endsWith("(YYYY-MM)")) << Label(0)->text().toStdString();
  EXPECT_TRUE(Label(1)->text().endsWith(QChar(0x2026))) << Label(1)->text().toStdString();
  EXPECT_TRUE(Label(1)->toolTip().endsWith("as the regions table holds it"));
  // A long default shows its beginning, and is kept whole.
  EXPECT_EQ(Value(2)->cursorPosition(), 0);
  EXPECT_EQ(Value(2)->text().toStdString(), long_value);
}

TEST(FitCaptionTest, WordsWiderThanTheLabelAreSplitAndShortTextIsUnchanged) {
  QFont font;
  QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance("MMMMMMMMMM");
  EXPECT_EQ(FitCaption("Month", metrics, width, 2), "Month");
  EXPECT_EQ(FitCaption("  two   blanks ", metrics, width, 2), "two blanks");
  const QString fitted = FitCaption(QString(40, 'M'), metrics, width, 3);
  const QStringList lines = fitted.split('\n');
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(lines[0], QString(10, 'M'));
  EXPECT_TRUE(lines[2].endsWith(QChar(0x2026)));
  EXPECT_EQ(FitCaption("", metrics, width, 2), "");
}

TEST_F(ParameterDialogTest, OneParameterShowsOneRowAndShrinks) {
  SetParameters(10);
  ParameterDialog ten(pub_, prompter_);
  ten.show();
  SetParameters(1);
  Dialog().show();
  EXPECT_EQ(Dialog().windowTitle(), "Input Parameters");
  EXPECT_TRUE(Label(0)->isVisibleTo(&Dialog()));
  EXPECT_TRUE(Value(0)->isEnabled());
  EXPECT_EQ(Label(0)->text(), "&P1");
  EXPECT_EQ(Value(0)->text(), "value1");
  for (int i = 1; i < 10; ++i) {
    EXPECT_FALSE(Label(i)->isVisibleTo(&Dialog())) << i;
    EXPECT_FALSE(Value(i)->isEnabled()) << i;
  }
  // The check box and the buttons stand in one row right below the row
  // shown, and the dialog is shorter by the nine rows it does not show.
  const int pitch =
      ten.findChild<QWidget*>("txtPVaule1")->y() - ten.findChild<QWidget*>("txtPVaule0")->y();
  for (const char* name : {"chkSaveDefault", "cmdOK", "cmdCancel"}) {
    const QRect place = InDialog(Find<QWidget>(name));
    EXPECT_GT(place.top(), InDialog(Value(0)).bottom()) << name;
    EXPECT_LT(place.top(), InDialog(Value(0)).bottom() + pitch) << name;
  }
  EXPECT_NEAR(Dialog().height(), ten.height() - 9 * pitch, 2);
  EXPECT_EQ(Dialog().width(), ten.width());
  EXPECT_GE(Dialog().width(), DesignPixels(6705, DesignScale(&Dialog())));
  EXPECT_EQ(Find<QCheckBox>("chkSaveDefault")->text(), "Save default vaule");
}

TEST_F(ParameterDialogTest, TenParametersShowEveryRowAtOnePitch) {
  SetParameters(10);
  Dialog().show();
  const int pitch = Value(1)->y() - Value(0)->y();
  for (int i = 0; i < 10; ++i) {
    EXPECT_TRUE(Value(i)->isVisibleTo(&Dialog())) << i;
    EXPECT_EQ(Value(i)->y(), Value(0)->y() + i * pitch) << i;
    // Labelled by the description when there is one, else by the name.
    EXPECT_EQ(Label(i)->text().toStdString(),
              i % 2 ? "Parameter " + std::to_string(i + 1) : "&P" + std::to_string(i + 1));
  }
  EXPECT_GT(InDialog(Find<QWidget>("cmdOK")).top(), InDialog(Value(9)).bottom());
  EXPECT_EQ(Find<QWidget>("cmdCancel")->y(), Find<QWidget>("cmdOK")->y());
  EXPECT_GT(Find<QWidget>("cmdCancel")->x(), Find<QWidget>("cmdOK")->x());
}

// The dialog at the desktop's font and at a large one: on the screen with
// its buttons in view however small the screen, the rows scrolling when they
// do not fit. Run again by CTest on 1280 x 800 at scale 1 and 2.
class ParameterDialogScreenTest : public ParameterDialogTest,
                                  public testing::WithParamInterface<int> {};

TEST_P(ParameterDialogScreenTest, FitsTheScreenWithTheDesktopFont) {
  testing_util::DesktopFont font(GetParam());
  testing_util::ExpectConfiguredScreen();
  SetParameters(10);
  for (int i = 0; i < 10; ++i)
    pub_.parameters[i].desc = "Description of parameter number " + std::to_string(i + 1);
  Dialog().show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Dialog()));
  QCoreApplication::processEvents();
  const QRect screen = Dialog().screen()->availableGeometry();
  EXPECT_TRUE(screen.contains(Dialog().frameGeometry()))
      << Dialog().frameGeometry().width() << "x" << Dialog().frameGeometry().height();
  for (const char* name : {"chkSaveDefault", "cmdOK", "cmdCancel"}) {
    QWidget* widget = Find<QWidget>(name);
    EXPECT_TRUE(Dialog().rect().contains(InDialog(widget))) << name;
    EXPECT_EQ(QFontInfo(widget->font()).pointSize(), QFontInfo(QApplication::font()).pointSize());
  }
  EXPECT_EQ(QFontInfo(Value(9)->font()).pointSize(), QFontInfo(QApplication::font()).pointSize());
  // The last row can be brought into view.
  auto* list = Find<QScrollArea>("lstParameters");
  list->ensureWidgetVisible(Value(9));
  EXPECT_FALSE(Value(9)->visibleRegion().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Fonts, ParameterDialogScreenTest, testing::Values(0, 14),
                         [](const testing::TestParamInfo<int>& info) {
                           return info.param == 0 ? std::string("DesktopFont")
                                                  : "Font" + std::to_string(info.param) + "pt";
                         });

TEST_F(ParameterDialogTest, OkAnsweredNoKeepsTheDialogAndAsksAgain) {
  SetParameters(2);
  Dialog().show();
  Value(0)->setText("  2004-06 ");
  Value(1)->setText("");
  ClickOk();
  EXPECT_TRUE(Dialog().isVisible());
  EXPECT_FALSE(pub_.run_confirmed);
  EXPECT_EQ(pub_.parameters[0].value, "value1");
  EXPECT_EQ(Value(0)->text(), "  2004-06 ");

  prompter_.answers = {true};
  ClickOk();
  ASSERT_EQ(prompter_.questions.size(), 2u);
  EXPECT_EQ(prompter_.questions[1].title, "Input Parameters");
  EXPECT_EQ(prompter_.questions[1].text, "Generate report?");
  EXPECT_FALSE(Dialog().isVisible());
  EXPECT_EQ(Dialog().result(), QDialog::Accepted);
  EXPECT_TRUE(pub_.run_confirmed);
  // Stored exactly as typed, empty values too.
  EXPECT_EQ(pub_.parameters[0].value, "  2004-06 ");
  EXPECT_EQ(pub_.parameters[1].value, "");
}

TEST_F(ParameterDialogTest, EnterPressesOnlyAFocusedButtonAndEscapeCancels) {
  SetParameters(1);
  Dialog().show();
  Value(0)->setFocus();
  Value(0)->setText("typed");
  QTest::keyClick(Value(0), Qt::Key_Return);
  EXPECT_TRUE(prompter_.questions.empty());
  EXPECT_TRUE(Dialog().isVisible());
  Find<QPushButton>("cmdOK")->setFocus();
  QTest::keyClick(Find<QPushButton>("cmdOK"), Qt::Key_Return);
  EXPECT_EQ(prompter_.questions.size(), 1u);  // answered No: still open
  QTest::keyClick(Value(0), Qt::Key_Escape);
  EXPECT_FALSE(Dialog().isVisible());
  EXPECT_EQ(Dialog().result(), QDialog::Rejected);
  EXPECT_FALSE(pub_.run_confirmed);
  EXPECT_EQ(pub_.parameters[0].value, "value1");
}

TEST_F(ParameterDialogTest, SavedDefaultsGoUnderTheirOwnKeyNumbers) {
  const std::string ini = dir_.File("report.ini");
  WriteFile(ini,
            "; sales report\n[FILE]\nLogFileName=run.log\n\n[PARAMETER]\nName2=&Month\n"
            "Desc2=Month of the report\nDefault2=2004-05\nName5=&Region\nDefault5=North\n"
            "[SQLFILE]\nF_MAXNUM=0\n");
  pub_.ini_file_name = ini;
  pub_.parameter_count = 2;
  pub_.parameters[0] = {"&Month", "Month of the report", "2004-05", 2};
  pub_.parameters[1] = {"&Region", "", "North", 5};
  Value(0)->setText("2004-06");
  Value(1)->setText("South West");
  Find<QCheckBox>("chkSaveDefault")->setChecked(true);
  prompter_.answers = {true};
  Dialog().Confirm();
  EXPECT_EQ(ReadFile(ini),
            "; sales report\n[FILE]\nLogFileName=run.log\n\n[PARAMETER]\nName2=&Month\n"
            "Desc2=Month of the report\nDefault2=2004-06\nName5=&Region\nDefault5=South West\n"
            "[SQLFILE]\nF_MAXNUM=0\n");
}

TEST_F(ParameterDialogTest, AValueThePatternRefusesIsSaidBeforeAnythingRuns) {
  SetParameters(1);
  pub_.parameters[0].pattern = "\\d{4}-\\d{2}";
  Value(0)->setText("2004-06' OR 1=1");
  Dialog().Confirm();
  EXPECT_TRUE(prompter_.questions.empty());  // no "Generate report?"
  ASSERT_EQ(prompter_.messages.size(), 1u);
  EXPECT_NE(prompter_.messages[0].text.toStdString().find("does not match [PARAMETER] Pattern"),
            std::string::npos);
  EXPECT_FALSE(pub_.run_confirmed);
  Value(0)->setText("2004-06");
  prompter_.answers = {true};
  Dialog().Confirm();
  EXPECT_TRUE(pub_.run_confirmed);
}

TEST_F(ParameterDialogTest, DefaultsAreNotSavedUnlessAsked) {
  const std::string ini = dir_.File("report.ini");
  WriteFile(ini, "[PARAMETER]\nName1=&Month\nDefault1=2004-05\n");
  pub_.ini_file_name = ini;
  SetParameters(1);
  Value(0)->setText("2004-06");
  EXPECT_FALSE(Find<QCheckBox>("chkSaveDefault")->isChecked());
  prompter_.answers = {true};
  Dialog().Confirm();
  EXPECT_EQ(ReadFile(ini), "[PARAMETER]\nName1=&Month\nDefault1=2004-05\n");
  EXPECT_EQ(pub_.parameters[0].value, "2004-06");
}

TEST_F(ParameterDialogTest, UnwritableConfigurationStillRunsWithTheValuesEntered) {
  const std::string ini = dir_.File("report.ini");
  WriteFile(ini, "[PARAMETER]\nName1=&P1\nDefault1=old\n");
  ASSERT_EQ(::chmod(ini.c_str(), 0444), 0);
  pub_.ini_file_name = ini;
  SetParameters(1);
  Value(0)->setText("new");
  Find<QCheckBox>("chkSaveDefault")->setChecked(true);
  Dialog().show();
  prompter_.answers = {true};
  ClickOk();
  EXPECT_FALSE(Dialog().isVisible());
  EXPECT_TRUE(pub_.run_confirmed);
  EXPECT_EQ(pub_.parameters[0].value, "new");
  EXPECT_EQ(ReadFile(ini), "[PARAMETER]\nName1=&P1\nDefault1=old\n");
  // The user asked for the defaults to be kept and is told they were not.
  ASSERT_EQ(prompter_.messages.size(), 1u);
  EXPECT_EQ(prompter_.messages[0].text.toStdString(),
            "The default values were not saved: \"" + ini +
                "\" is read-only. The report runs with the values entered.");
}

}  // namespace
}  // namespace vantrelle
