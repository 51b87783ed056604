#include "ui/twips.h"

#include <cmath>

#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace vantrelle {

double ScreenDpi(const QWidget* widget) {
  const QScreen* screen = widget != nullptr ? widget->screen() : nullptr;
  if (screen == nullptr) return 96.0;
  double dpi = screen->logicalDotsPerInch();
  return dpi > 0 ? dpi : 96.0;
}

int TwipsToPixels(int twips, double dpi) {
  return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

namespace {

// True when every caption under \a window fits its widget in \a font.
bool CaptionsFit(QWidget* window, const QFont& font) {
  QFontMetrics metrics(font);
  for (QLabel* label : window->findChildren<QLabel*>()) {
    if (label->wordWrap() || label->text().isEmpty() || !label->pixmap().isNull()) continue;
    QString text = label->text();
    if (label->textFormat() != Qt::PlainText && label->buddy() != nullptr) text.remove('&');
    if (metrics.horizontalAdvance(text) + 2 > label->width()) return false;
  }
  for (QCheckBox* box : window->findChildren<QCheckBox*>()) {
    int indicator = box->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) +
                    box->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box);
    QString text = box->text();
    text.remove('&');
    if (indicator + metrics.horizontalAdvance(text) + 4 > box->width()) return false;
  }
  for (QGroupBox* frame : window->findChildren<QGroupBox*>()) {
    if (metrics.horizontalAdvance(frame->title()) + 16 > frame->width()) return false;
  }
  return true;
}

}  // namespace

void FitDesignFont(QWidget* window) {
  QFont font = window->font();
  for (double points : {8.0, 7.5, 7.0}) {
    for (int stretch : {QFont::Unstretched, QFont::SemiCondensed, QFont::Condensed}) {
      font.setPointSizeF(points);
      font.setStretch(stretch);
      if (CaptionsFit(window, font)) {
        window->setFont(font);
        return;
      }
    }
  }
  window->setFont(font);
}

QRect TwipsRect(int left, int top, int width, int height, double dpi) {
  return QRect(TwipsToPixels(left, dpi), TwipsToPixels(top, dpi), TwipsToPixels(width, dpi),
               TwipsToPixels(height, dpi));
}

}  // namespace vantrelle
