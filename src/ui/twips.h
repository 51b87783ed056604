// Window designs are measured in twips (1/1440 inch) and were drawn for an
// 8-point font. At the standard 96 dots per inch a pixel is 15 twips; the
// window grows with the screen's logical resolution and with the desktop's
// font, so the design keeps its proportions at any font size.
#pragma once

#include <QSize>

class QWidget;

namespace vantrelle {

/// Logical dots per inch of the screen \a widget is on; 96 when it has none.
double ScreenDpi(const QWidget* widget);

/// \a twips in pixels at \a dpi, rounded to the nearest pixel.
int TwipsToPixels(int twips, double dpi);

/// Pixels per twip for \a widget: the screen's resolution times the ratio of
/// \a widget's font to the designs' 8-point font.
double DesignScale(const QWidget* widget);

/// \a twips of a design in pixels at \a scale (from DesignScale).
int DesignPixels(int twips, double scale);

/// \a preferred, made smaller where needed so that the window \a window,
/// with room for its frame, fits the free area of its screen; never below
/// \a window's minimum size.
QSize FitOnScreen(const QWidget* window, QSize preferred);

/// Once \a window is shown and its frame is known: makes it smaller where
/// it reaches beyond the free area of its screen, and moves it inside.
void KeepOnScreen(QWidget* window);

}  // namespace vantrelle
