// Window designs are measured in twips (1/1440 inch). At the standard 96 dots
// per inch a pixel is 15 twips; on screens with a larger logical resolution
// the layout grows with it, so the design keeps its proportions.
#pragma once

#include <QRect>

class QWidget;

namespace vantrelle {

/// Logical dots per inch of the screen \a widget is on; 96 when it has none.
double ScreenDpi(const QWidget* widget);

/// \a twips in pixels at \a dpi, rounded to the nearest pixel.
int TwipsToPixels(int twips, double dpi);

/// The design rectangle \a left, \a top, \a width, \a height (twips) in pixels.
QRect TwipsRect(int left, int top, int width, int height, double dpi);

}  // namespace vantrelle
