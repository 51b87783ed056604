#include "run/report_run.h"

#include <filesystem>

#include "run/configuration.h"
#include "run/error.h"
#include "run/run_log.h"
#include "sql/report_session.h"
#include "sql/script_reader.h"

namespace vantrelle {
namespace {

void ShowRunFields(PubDef& pub) {
  RunObserver* window = pub.Window();
  if (window == nullptr) return;
  window->SetField(RunField::kTemplateFileName, pub.template_file_name);
  window->SetField(RunField::kReportFileName, pub.report_file_name);
  window->SetField(RunField::kLogFileName, pub.log_file_name);
  window->SetField(RunField::kSqlFileCount, FormatCount(pub.sql_file_count, true));
  window->SetField(RunField::kSqlStmCount, FormatCount(pub.sql_stm_count, true));
  window->SetField(RunField::kErrorCount, FormatCount(pub.error_count, true));
}

// True when both names lead to one existing file.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

// Releases what an early end leaves behind: the document is discarded
// unsaved, the connection closed and the log closed with every line in it.
void ReleaseAfterEarlyEnd(ReportSession& session) {
  try {
    if (session.word_app) session.word_app->Quit();
  } catch (const Error&) {
  }
  session.report_doc = nullptr;
  session.word_app.reset();
  try {
    if (session.db.connection && session.db.connection->IsOpen()) session.db.connection->Close();
  } catch (const Error&) {
  }
  session.db = DbSession{};
  try {
    if (session.pub.log_stream) session.pub.log_stream->Close();
  } catch (const Error&) {
  }
}

RunOutcome RunSteps(ReportSession& session) {
  PubDef& pub = session.pub;
  if (!LoadConfiguration(pub)) {
    if (!pub.log_stream) return RunOutcome::kNoLog;
    ReleaseAfterEarlyEnd(session);
    return RunOutcome::kEndedEarly;
  }
  ShowRunFields(pub);
  if (!ConnectDatabase(pub, session.db)) {
    ReleaseAfterEarlyEnd(session);
    return RunOutcome::kEndedEarly;
  }
  session.word_app = std::make_unique<Application>();
  if (!CreateReportFile(session)) {
    ReleaseAfterEarlyEnd(session);
    return RunOutcome::kEndedEarly;
  }
  RunSqlJobs(session);
  FinishReport(session);
  session.word_app->Quit();
  session.report_doc = nullptr;
  session.word_app.reset();
  DisconnectDatabase(pub, session.db);
  WriteLog(pub, "Close the log file.");
  pub.log_stream->Close();
  return RunOutcome::kCompleted;
}

}  // namespace

bool CreateReportFile(ReportSession& session) {
  PubDef& pub = session.pub;
  const std::string& report = pub.report_file_name;
  try {
    // Copying a file onto itself would first delete the template.
    if (SameFile(report, pub.template_file_name))
      throw Error("The report file is the template file itself; the template is never overwritten.");
    if (pub.file_system.FileExists(report)) pub.file_system.DeleteFile(report);
    pub.file_system.CopyFile(pub.template_file_name, report);
    WriteLog(pub, "Create the blank report file \"" + report + "\".");
    pub.file_system.SetAttributesNormal(report);
    session.report_doc = &session.word_app->Open(report);
    session.report_doc->Activate();
    WriteLog(pub, "Open the report file \"" + report + "\".");
    return true;
  } catch (const Error& error) {
    LogError(pub, "Failed to open the report file \"" + report + "\".", error.Description());
    return false;
  }
}

bool FinishReport(ReportSession& session) {
  PubDef& pub = session.pub;
  Document& doc = *session.report_doc;
  try {
    const int count = doc.FieldCount();
    for (int i = 1; i <= count; ++i) doc.UpdateField(i);
    WriteLog(pub, "Update all Word fields successfully.");
  } catch (const Error& error) {
    LogError(pub, "Failed to update Word fields.", error.Description());
    return false;
  }
  try {
    doc.Save();
    WriteLog(pub, "Save the report file successfully.");
    doc.Close();
    session.report_doc = nullptr;
    WriteLog(pub, "Close the report file.");
    return true;
  } catch (const Error& error) {
    LogError(pub, "Failed to close the report file.", error.Description());
    return false;
  }
}

RunOutcome RunReport(PubDef& pub) {
  pub.sql_file_count = 0;
  pub.sql_stm_count = 0;
  pub.error_count = 0;
  pub.log_box_lines = 0;
  ReportSession session(pub);
  try {
    return RunSteps(session);
  } catch (const Error& error) {
    // A step without a failure exit of its own failed (the log could not be
    // written, the document engine could not quit): record it if the log
    // still takes lines, release everything, and end the run.
    try {
      LogError(pub, "The report run ended abnormally.", error.Description());
    } catch (const Error&) {
    }
    ReleaseAfterEarlyEnd(session);
    return RunOutcome::kEndedEarly;
  }
}

}  // namespace vantrelle
