#include "ui/twips.h"

#include <cmath>

#include <QScreen>
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

QRect TwipsRect(int left, int top, int width, int height, double dpi) {
  return QRect(TwipsToPixels(left, dpi), TwipsToPixels(top, dpi), TwipsToPixels(width, dpi),
               TwipsToPixels(height, dpi));
}

}  // namespace vantrelle
