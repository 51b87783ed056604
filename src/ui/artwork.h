// The program's pictures, drawn at run time so that they stay sharp at any
// size: the toolbar icons and the product logo.
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
/// A red disc with a white square: "Stop the report run".
QIcon StopIcon();
/// A page holding a small blue table: "Open the report".
QIcon ReportIcon();
/// A page of grey text lines: "Open the run log".
QIcon LogIcon();
/// A page with a red band: "Open the PDF copy of the report".
QIcon PdfIcon();
/// The product logo, \a size pixels square: a report page with a bar chart.
QPixmap LogoPixmap(int size, qreal device_pixel_ratio = 1.0);
/// The logo as the windows' icon.
QIcon LogoIcon();

}  // namespace vantrelle
