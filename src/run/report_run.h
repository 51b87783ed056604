// One report run, from loading the configuration to closing the log.
#pragma once

#include "run/pubdef.h"

namespace vantrelle {

struct ReportSession;

/// How a run ended, for the batch exit status.
enum class RunOutcome {
  kNoLog,       ///< the run log could not be created; nothing was logged
  kEndedEarly,  ///< the configuration, connection or report file failed
  kCompleted,   ///< every step ran; pub.error_count tells whether all went well
};

/// Carries out one report run with the state in \a pub. Everything that
/// happens is in the run log, the counters and the window.
RunOutcome RunReport(PubDef& pub);

/// Copies the template over the report file and opens the copy. Logs and
/// returns false on any failure; the template itself is never touched.
bool CreateReportFile(ReportSession& session);

/// Updates every field of the report, saves and closes it. Logs and returns
/// false on failure; a failed save leaves the report file as it was.
bool FinishReport(ReportSession& session);

}  // namespace vantrelle
