// Interactive mode's entry: the Qt application and the main window.
#pragma once

#include "base/pubdef.h"

namespace vantrelle {

/// Creates the application and the main window for \a pub and runs the
/// event loop until the window closes. \a argv holds the program's name and
/// the window toolkit's own options only. Without a display it says so on
/// standard error and returns 2.
int WindowMain(PubDef& pub, int argc, char** argv);

}  // namespace vantrelle
