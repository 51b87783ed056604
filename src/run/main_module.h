// Start-up: the program's entry point.
#pragma once

#include "base/pubdef.h"

namespace vantrelle {

/// Exit statuses of batch mode.
enum ExitStatus : int {
  kExitOk = 0,           ///< the run completed without errors
  kExitRunErrors = 1,    ///< the run completed with errors, or ended early after the log opened
  kExitNoRun = 2,        ///< no configuration file, or the run log could not be created
};

/// Shows the main window and runs its event loop until it closes; supplied
/// by the window library, absent in a build without it.
using WindowEntry = int (*)(PubDef& pub, int argc, char** argv);

/// Parses the command line, finds the configuration file and runs batch
/// mode, or hands over to \a window_main for interactive mode.
int Main(int argc, char** argv, WindowEntry window_main);

}  // namespace vantrelle
