// One report run, from loading the configuration to closing the log.
#pragma once

#include "run/pubdef.h"

namespace vantrelle {

/// How a run ended, for the batch exit status.
enum class RunOutcome {
  kNoLog,       ///< the run log could not be created; nothing was logged
  kEndedEarly,  ///< the configuration, connection or report file failed
  kCompleted,   ///< every step ran; pub.error_count tells whether all went well
};

/// Carries out one report run with the state in \a pub. Everything that
/// happens is in the run log, the counters and the window.
RunOutcome RunReport(PubDef& pub);

}  // namespace vantrelle
