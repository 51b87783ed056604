// What one report run holds while its statements execute: the program-wide
// state, the database connection with its one record set, and the report
// document open in the document engine.
#pragma once

#include <memory>

#include "data/database_connection.h"
#include "run/pubdef.h"
#include "run/report_file.h"
#include "word/application.h"

namespace vantrelle {

struct ReportSession {
  explicit ReportSession(PubDef& pub_state) : pub(pub_state) {}

  PubDef& pub;
  DbSession db;
  std::unique_ptr<Application> word_app;
  /// The open report; owned by word_app, null until it is opened.
  Document* report_doc = nullptr;
  /// The file the report is built in until its save succeeds.
  ReportWorkingCopy working_copy;
  /// True once the run began to build the report file.
  bool report_begun = false;
  /// True once the saved report has taken the report's name.
  bool report_replaced = false;
};

/// Closes \a records if a failed statement left it open, so that the next
/// statement finds it closed; a failure to close is ignored.
void CloseAfterFailure(Recordset& records);

}  // namespace vantrelle
