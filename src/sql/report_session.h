// What one report run holds while its statements execute: the program-wide
// state, the database connection with its one record set, and the report
// document open in the document engine.
#pragma once

#include <memory>

#include "data/database_connection.h"
#include "base/pubdef.h"
#include "word/application.h"
#include "word/table_fill.h"

namespace vantrelle {

struct ReportSession {
  explicit ReportSession(PubDef& pub_state) : pub(pub_state) {}

  PubDef& pub;
  DbSession db;
  std::unique_ptr<Application> word_app;
  /// The open report; owned by word_app, null until it is opened.
  Document* report_doc = nullptr;
};

/// Closes \a records if a failed statement left it open, so that the next
/// statement finds it closed; a failure to close is ignored.
void CloseAfterFailure(Recordset& records);

/// The session's record set as a table fill reads it.
class SessionRecords final : public FillRecords {
 public:
  explicit SessionRecords(Recordset& records) : records_(records) {}
  void Open(const std::string& sql) override { records_.Open(sql); }
  bool Eof() override { return records_.Eof(); }
  void MoveNext() override { records_.MoveNext(); }
  void MoveFirst() override { records_.MoveFirst(); }
  int FieldCount() override { return records_.FieldCount(); }
  std::string FieldText(int field) override;
  void Close() override { records_.Close(); }
  void CloseAfterFailure() override { vantrelle::CloseAfterFailure(records_); }

 private:
  Recordset& records_;
};

}  // namespace vantrelle
