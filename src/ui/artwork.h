// The program's pictures, drawn at run time so that they stay sharp at any
// size: the three toolbar icons and the product logo.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace vantrelle {

/// An open folder: "Select a configuration file".
QIcon OpenFileIcon();
/// A green forward arrow: "Start to generate report".
QIcon StartIcon();
/// A blue disc with a question mark: "Help content".
QIcon HelpIcon();
/// The product logo, \a size pixels square: a report page with a bar chart.
QPixmap LogoPixmap(int size, qreal device_pixel_ratio = 1.0);
/// The logo as the windows' icon.
QIcon LogoIcon();

}  // namespace vantrelle
