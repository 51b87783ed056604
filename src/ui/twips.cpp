#include "ui/twips.h"

#include <algorithm>
#include <cmath>

#include <QFontInfo>
#include <QFontMetrics>
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

double DesignScale(const QWidget* widget) {
  constexpr double kDesignPoints = 8.0;
  double points = widget != nullptr ? QFontInfo(widget->font()).pointSizeF() : kDesignPoints;
  if (points <= 0) points = kDesignPoints;
  return ScreenDpi(widget) / 1440.0 * points / kDesignPoints;
}

int DesignPixels(int twips, double scale) { return static_cast<int>(std::lround(twips * scale)); }

namespace {

QRect FreeArea(const QWidget* window) {
  const QScreen* screen = window->screen();
  return screen != nullptr ? screen->availableGeometry() : QRect();
}

}  // namespace

QSize FitOnScreen(const QWidget* window, QSize preferred) {
  const QRect free = FreeArea(window);
  if (free.isEmpty()) return preferred;
  // Before the window is shown its frame is unknown: leave room for a
  // title bar of two lines and thin borders.
  const int line = QFontMetrics(window->font()).lineSpacing();
  const QSize room = free.size() - QSize(8, 2 * line + 8);
  return preferred.boundedTo(room).expandedTo(window->minimumSizeHint());
}

void KeepOnScreen(QWidget* window) {
  const QRect free = FreeArea(window);
  if (free.isEmpty() || free.contains(window->frameGeometry())) return;
  const QSize frame = window->frameGeometry().size() - window->size();
  const QSize fitted =
      window->size().boundedTo(free.size() - frame).expandedTo(window->minimumSizeHint());
  if (fitted != window->size()) {
    if (window->minimumSize() == window->maximumSize())
      window->setFixedSize(fitted);
    else
      window->resize(fitted);
  }
  QRect placed = window->frameGeometry();
  placed.moveRight(std::min(placed.right(), free.right()));
  placed.moveBottom(std::min(placed.bottom(), free.bottom()));
  placed.moveLeft(std::max(placed.left(), free.left()));
  placed.moveTop(std::max(placed.top(), free.top()));
  if (placed.topLeft() != window->frameGeometry().topLeft()) window->move(placed.topLeft());
}

}  // namespace vantrelle
