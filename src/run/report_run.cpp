#include "run/report_run.h"

#include "run/configuration.h"
#include "run/error.h"
#include "run/run_log.h"

namespace vantrelle {

RunOutcome RunReport(PubDef& pub) {
  pub.sql_file_count = 0;
  pub.sql_stm_count = 0;
  pub.error_count = 0;
  pub.log_box_lines = 0;
  if (!LoadConfiguration(pub)) return pub.log_stream ? RunOutcome::kEndedEarly : RunOutcome::kNoLog;
  if (RunObserver* window = pub.Window()) {
    window->SetField(RunField::kTemplateFileName, pub.template_file_name);
    window->SetField(RunField::kReportFileName, pub.report_file_name);
    window->SetField(RunField::kLogFileName, pub.log_file_name);
    window->SetField(RunField::kSqlFileCount, FormatCount(pub.sql_file_count, true));
    window->SetField(RunField::kSqlStmCount, FormatCount(pub.sql_stm_count, true));
    window->SetField(RunField::kErrorCount, FormatCount(pub.error_count, true));
  }
  // The database, document and script steps come next; until then the run
  // ends once the configuration is loaded.
  WriteLog(pub, "Close the log file.");
  pub.log_stream->Close();
  return RunOutcome::kCompleted;
}

}  // namespace vantrelle
