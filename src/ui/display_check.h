// Whether the window has a display to show itself on.
#pragma once

#include <string>
#include <vector>

namespace vantrelle {

/// Empty when a window can be shown; else the message that says why not.
/// The window system and the display are those the toolkit will use: named
/// by -platform and -display among \a toolkit_options (the toolkit's own
/// command-line options), else by QT_QPA_PLATFORM and DISPLAY. An X display
/// is connected to once and let go, so that a display that does not answer
/// is found before the toolkit aborts on it.
std::string DisplayProblem(const std::vector<std::string>& toolkit_options);

}  // namespace vantrelle
