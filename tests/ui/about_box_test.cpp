#include "ui/about_box.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest/QTest>

#include "test_util.h"
#include "ui/twips.h"

namespace vantrelle {
namespace {

TEST(AboutBoxTest, ShowsProductVersionAndCopyright) {
  AboutBox box;
  box.show();
  EXPECT_EQ(box.windowTitle(), "About Vantrelle");
  EXPECT_EQ(box.findChild<QLabel*>("lblSysName")->text(), "Vantrelle");
  EXPECT_TRUE(box.findChild<QLabel*>("lblSysName")->font().bold());
  EXPECT_EQ(box.findChild<QLabel*>("lblSysVer")->text(), "Version 1.4.0");
  EXPECT_TRUE(box.findChild<QLabel*>("lblCopyright")->text().startsWith("Copyright"));
  QPixmap logo = box.findChild<QLabel*>("imgLogo")->pixmap();
  EXPECT_FALSE(logo.isNull());
  // The design's 70-pixel logo, grown with the desktop's font as the box is.
  const int side = DesignPixels(1050, DesignScale(&box));
  EXPECT_EQ(logo.deviceIndependentSize().toSize(), QSize(side, side));
  EXPECT_EQ(box.size(),
            QSize(DesignPixels(5190, DesignScale(&box)), DesignPixels(3750, DesignScale(&box))));

  QTest::mouseClick(box.findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
  EXPECT_FALSE(box.isVisible());
  EXPECT_EQ(box.result(), QDialog::Accepted);
}

TEST(AboutBoxTest, RevisionZeroIsStillShown) {
  EXPECT_EQ(VersionLine(1, 4, 0), "Version 1.4.0");
  EXPECT_EQ(VersionLine(2, 10, 3), "Version 2.10.3");
}

TEST(HelpPageTest, ManualIsShippedBesideTheProgram) {
  std::string page =
      testing_util::ReadFile(std::string(VANTRELLE_BINARY_DIR) + "/Vantrelle/Help/vantrelle-help.htm");
  for (const char* topic : {"ReportTemplateFileName", "F_MAXNUM", "DefaultN", "DBPWD",
                            "sqlite:", "@label=function", "#,##0.00", "--version", "Exit status",
                            "keeps the result the template holds", "DOCVARIABLE Total \\# "})
    EXPECT_NE(page.find(topic), std::string::npos) << topic;
}

}  // namespace
}  // namespace vantrelle
