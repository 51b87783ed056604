// Whether the window has a display to show itself on.
#pragma once

#include <string>

namespace vantrelle {

/// Empty when a window can be shown; else the message that says why not.
/// A display named by DISPLAY is connected to once and let go, so that a
/// display that does not answer is found before the toolkit aborts on it.
std::string DisplayProblem();

}  // namespace vantrelle
