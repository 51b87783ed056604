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
  kBusy,        ///< another run holds the report's or the log's name; nothing was touched
};

/// Carries out one report run with the state in \a pub. Everything that
/// happens is in the run log, the counters and the window.
RunOutcome RunReport(PubDef& pub);

/// Copies the template into a working copy beside the report file and opens
/// it. Logs and returns false on any failure; the template and an earlier
/// report are never touched.
bool CreateReportFile(ReportSession& session);

/// Updates every field of the report, saves and closes it, and renames it
/// over the report file. Logs and returns false on failure; the report file
/// is then as it was before the run.
bool FinishReport(ReportSession& session);

}  // namespace vantrelle
