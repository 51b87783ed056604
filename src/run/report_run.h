// One report run, from loading the configuration to closing the log.
#pragma once

#include "base/pubdef.h"
#include "run/report_file.h"
#include "sql/report_session.h"

namespace vantrelle {

/// What a run holds beyond the statements' session: the report file it
/// builds and how far that got.
struct RunSession : ReportSession {
  using ReportSession::ReportSession;
  /// The file the report is built in until its save succeeds.
  ReportWorkingCopy working_copy;
  /// True once the run began to build the report file.
  bool report_begun = false;
  /// True once the saved report has taken the report's name.
  bool report_replaced = false;
};

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
bool CreateReportFile(RunSession& session);

/// Updates every field of the report, saves and closes it, and renames it
/// over the report file. Logs and returns false on failure; the report file
/// is then as it was before the run.
bool FinishReport(RunSession& session);

}  // namespace vantrelle
