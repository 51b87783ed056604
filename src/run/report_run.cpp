#include "run/report_run.h"

#include <filesystem>
#include <new>

#include "run/configuration.h"
#include "base/error.h"
#include "run/pdf_export.h"
#include "base/run_log.h"
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

// Releases what an early end leaves behind: the document is discarded
// unsaved, the connection closed and the log closed with every line in it.
void ReleaseAfterEarlyEnd(RunSession& session) {
  session.db.canceller.reset();
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
  session.working_copy.Discard();
  try {
    if (session.pub.log_stream) session.pub.log_stream->Close();
  } catch (const Error&) {
  }
}

// Error descriptions name the file the engine worked on; the user knows
// the report by its configured name (or, for what the copy of the template
// holds, \a name: the template's).
std::string AsReport(const RunSession& session, std::string text,
                     const std::string* name = nullptr) {
  const std::string& temp = session.working_copy.Path();
  if (temp.empty()) return text;
  const std::string& shown = name ? *name : session.pub.report_file_name;
  for (size_t at = text.find(temp); at != std::string::npos;
       at = text.find(temp, at + shown.size()))
    text.replace(at, temp.size(), shown);
  return text;
}

// Closes the log after its last line; a log that cannot keep its lines is a
// failed log write.
void CloseLog(PubDef& pub) {
  try {
    pub.log_stream->Close();
  } catch (const Error& error) {
    pub.log_failure = error.Description();
    throw LogWriteError(pub.log_failure);
  }
}

// Writes the PDF copy of the saved report; a failure is logged and counted,
// and the report itself stays as saved.
bool SavePdfFile(PubDef& pub, int report_file) {
  const std::string& pdf = pub.pdf_file_name;
  try {
    ExportPdf(pub.report_file_name, report_file, pub.pdf_folder, PdfTimeout(), &pub.stop);
    WriteLog(pub, "Save the PDF file \"" + pdf + "\" successfully.");
    return true;
  } catch (const Error& error) {
    LogError(pub, "Failed to save the PDF file \"" + pdf + "\".", error.Description());
    return false;
  } catch (const std::bad_alloc&) {
    LogError(pub, "Failed to save the PDF file \"" + pdf + "\".", "Out of memory");
    return false;
  }
}

RunOutcome RunSteps(RunSession& session) {
  PubDef& pub = session.pub;
  if (!LoadConfiguration(pub)) {
    if (pub.output_busy) return RunOutcome::kBusy;
    if (!pub.log_stream) return RunOutcome::kNoLog;
    ReleaseAfterEarlyEnd(session);
    return RunOutcome::kEndedEarly;
  }
  ShowRunFields(pub);
  pub.stop.Check();
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
  const bool saved = FinishReport(session);
  session.word_app->Quit();
  session.report_doc = nullptr;
  session.word_app.reset();
  session.db.canceller.reset();
  DisconnectDatabase(pub, session.db);
  if (saved && !pub.pdf_file_name.empty())
    SavePdfFile(pub, session.working_copy.CommittedFile());
  session.working_copy.Discard();  // the working copy is left only when the save failed
  WriteLog(pub, "Close the log file.");
  CloseLog(pub);
  return RunOutcome::kCompleted;
}

}  // namespace

bool CreateReportFile(RunSession& session) {
  PubDef& pub = session.pub;
  const std::string& report = pub.report_file_name;
  session.report_begun = true;
  bool opening = false;  // the copy is made; what fails now is in the template
  try {
    // What killed runs left of their PDF conversions goes first.
    RemoveStaleConversions();
    // The report is built beside its name and takes it only once saved, so
    // the earlier report stays whole whatever happens to this run.
    session.working_copy.Create(pub.report_folder, pub.template_file_name, &pub.stop);
    WriteLog(pub, "Create the blank report file \"" + report + "\".");
    opening = true;
    session.report_doc = &session.word_app->Open(session.working_copy.Path());
    session.report_doc->Activate();
    WriteLog(pub, "Open the report file \"" + report + "\".");
    if (session.report_doc->MacrosLeftOut())
      WriteLog(pub, "The template's macros are left out of the report: a .docx or .dotx holds "
                    "none (a report named .docm keeps them).");
    return true;
  } catch (const Error& error) {
    // What is wrong with the fresh copy is wrong with the template: the
    // description names the template, which is what the user must mend.
    LogError(pub, "Failed to open the report file \"" + report + "\".",
             AsReport(session, error.Description(), opening ? &pub.template_file_name : nullptr));
    return false;
  } catch (const std::bad_alloc&) {
    LogError(pub, "Failed to open the report file \"" + report + "\".", "Out of memory");
    return false;
  }
}

bool FinishReport(RunSession& session) {
  PubDef& pub = session.pub;
  Document& doc = *session.report_doc;
  try {
    const int count = doc.FieldCount();
    for (int i = 1; i <= count; ++i) doc.UpdateField(i);
    WriteLog(pub, "Update all Word fields successfully.");
  } catch (const Error& error) {
    LogError(pub, "Failed to update Word fields.", AsReport(session, error.Description()));
    return false;
  } catch (const std::bad_alloc&) {
    LogError(pub, "Failed to update Word fields.", "Out of memory");
    return false;
  }
  try {
    doc.Save();
    doc.Close();
    session.report_doc = nullptr;
    // A stop during the save still leaves the earlier report.
    pub.stop.Check();
    // Saved means on disk under the report's name: only then is it said.
    session.working_copy.Commit();
    session.report_replaced = true;
    WriteLog(pub, "Save the report file successfully.");
    WriteLog(pub, "Close the report file.");
    return true;
  } catch (const Error& error) {
    LogError(pub, "Failed to close the report file.", AsReport(session, error.Description()));
    return false;
  } catch (const std::bad_alloc&) {
    LogError(pub, "Failed to close the report file.", "Out of memory");
    return false;
  }
}

namespace {

// What a stop left of the report, for the log.
std::string ReportAfterStop(const RunSession& session) {
  const std::string& report = session.pub.report_file_name;
  if (!session.report_begun) return "No report file was changed.";
  if (!session.report_replaced) return "The report file \"" + report + "\" was not changed.";
  std::string text = "The report file \"" + report + "\" had been saved";
  if (!session.pub.pdf_file_name.empty())
    text += "; the PDF file \"" + session.pub.pdf_file_name + "\" was not written";
  return text + ".";
}

}  // namespace

RunOutcome RunReport(PubDef& pub) {
  pub.sql_file_count = 0;
  pub.sql_stm_count = 0;
  pub.error_count = 0;
  pub.log_box_lines = 0;
  pub.log_failure.clear();
  // The names stay locked until everything of the run is closed.
  struct Unlock {
    PubDef& pub;
    ~Unlock() { ReleaseLocks(pub); }
  } unlock{pub};
  RunSession session(pub);
  // A run that cannot wait for a clean end (a database that does not answer
  // the cancel, a later stop signal) says why in its log before the process
  // ends. Only in batch mode: the window stays open whatever a run does.
  struct HardEnd {
    PubDef& pub;
    ~HardEnd() { pub.stop.ClearHardEnd(); }
  } hard_end{pub};
  if (!pub.interactive) {
    pub.stop.SetHardEnd([&pub, &session](const std::string& why) {
      if (pub.log_stream && pub.log_stream->IsOpen())
        LogStopped(pub, "The report run was stopped by " + pub.stop.Reason() + ".",
                   why + " " + ReportAfterStop(session));
    });
  }
  try {
    return RunSteps(session);
  } catch (const RunStopped& stop) {
    // Whatever the stop cut short failed because of it: the run says once
    // why it ended.
    try {
      if (pub.log_stream && pub.log_stream->IsOpen())
        LogStopped(pub, "The report run was stopped by " + std::string(stop.what()) + ".",
                   ReportAfterStop(session));
      else
        ShowErrorBox(pub, "The report run was stopped by " + std::string(stop.what()) +
                              " before it began. " + ReportAfterStop(session));
    } catch (const std::exception&) {
    }
    ReleaseAfterEarlyEnd(session);
    return RunOutcome::kEndedEarly;
  } catch (const LogWriteError& error) {
    // Nothing can be logged any more: say it where the user sees it.
    ReleaseAfterEarlyEnd(session);
    std::string message =
        std::string(error.what()) + " The run log cannot be written, so the run was ended.";
    if (!session.report_begun)
      message += " No report file was changed.";
    else if (!session.report_replaced)
      message += " The report file \"" + pub.report_file_name + "\" was not changed.";
    else
      message += " The report file \"" + pub.report_file_name + "\" had been saved.";
    ShowErrorBox(pub, message);
    return RunOutcome::kEndedEarly;
  } catch (const std::exception& error) {
    // A step without a failure exit of its own failed (the document engine
    // could not quit, memory ran out between statements): record it if the
    // log still takes lines, release everything, and end the run.
    const bool out_of_memory = dynamic_cast<const std::bad_alloc*>(&error) != nullptr;
    try {
      LogError(pub, "The report run ended abnormally.",
               out_of_memory ? "Out of memory" : error.what());
    } catch (const std::exception&) {
    }
    ReleaseAfterEarlyEnd(session);
    if (!pub.log_failure.empty())
      ShowErrorBox(pub, pub.log_failure + " The run log cannot be written, so the run was ended.");
    return RunOutcome::kEndedEarly;
  }
}

}  // namespace vantrelle
