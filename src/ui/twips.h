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

/// Gives \a window the designs' 8-point font, and narrows it (condensed
/// faces, then down to 7 points) until the caption of every label, check box
/// and frame under \a window fits the width its design gives it: the
/// designs were drawn for a narrower face than most desktops use.
void FitDesignFont(QWidget* window);

/// The design rectangle \a left, \a top, \a width, \a height (twips) in pixels.
QRect TwipsRect(int left, int top, int width, int height, double dpi);

}  // namespace vantrelle
