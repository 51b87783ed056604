#include "ui/about_box.h"

#include <QLabel>
#include <QPushButton>

#include "ui/artwork.h"
#include "ui/twips.h"
#include "version.h"

namespace vantrelle {

QString VersionLine(int major, int minor, int revision) {
  return QStringLiteral("Version %1.%2.%3").arg(major).arg(minor).arg(revision);
}

AboutBox::AboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("frmAbout"));
  const QString product = QString::fromUtf8(kProductName);
  setWindowTitle(QStringLiteral("About ") + product);
  // The design's places, grown with the desktop's font.
  const double scale = DesignScale(this);
  auto px = [scale](int twips) { return DesignPixels(twips, scale); };
  auto place = [px](QWidget* widget, int left, int top, int width, int height) {
    widget->setGeometry(px(left), px(top), px(width), px(height));
  };

  auto* logo = new QLabel(this);
  logo->setObjectName(QStringLiteral("imgLogo"));
  place(logo, 360, 360, 1050, 1050);
  logo->setPixmap(LogoPixmap(logo->width(), devicePixelRatioF()));

  auto* name = new QLabel(product, this);
  name->setObjectName(QStringLiteral("lblSysName"));
  QFont bold = name->font();
  bold.setBold(true);
  name->setFont(bold);
  place(name, 1500, 460, 3300, 255);

  auto* version = new QLabel(VersionLine(kVersionMajor, kVersionMinor, kVersionRevision), this);
  version->setObjectName(QStringLiteral("lblSysVer"));
  place(version, 1500, 700, 3300, 255);

  // The copyright line may be longer than the design's label; it may use
  // the width up to the box's right margin rather than be cut off.
  auto* copyright = new QLabel(QString::fromUtf8(kLegalCopyright), this);
  copyright->setObjectName(QStringLiteral("lblCopyright"));
  copyright->setWordWrap(true);
  place(copyright, 1500, 910, 3450, 510);

  auto* ok = new QPushButton(QStringLiteral("&OK"), this);
  ok->setObjectName(QStringLiteral("cmdOK"));
  place(ok, 1928, 3100, 1335, 375);
  ok->setDefault(true);
  ok->setFocus();
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  setFixedSize(px(5190), px(3750));
}

}  // namespace vantrelle
