#include "sql/statement_functions.h"

#include "base/error.h"
#include "base/run_log.h"

namespace vantrelle {

bool ExecuteStatement(ReportSession& session, const std::string& sql) {
  try {
    session.db.connection->Execute(sql);
    return true;
  } catch (const Error& error) {
    LogError(session.pub, "Failed to execute function 0.", error.Description());
    return false;
  }
}

bool SetDocVariable(ReportSession& session, const std::string& name, const std::string& sql) {
  Recordset& records = *session.db.recordset;
  try {
    bool result = false;
    records.Open(sql);
    if (!records.Eof()) {
      // Only the first field of the first record is ever read.
      std::string text = records.FieldValue(0).ToText();
      session.report_doc->SetVariable(name, text);
      result = true;
    }
    records.Close();
    return result;
  } catch (const Error& error) {
    CloseAfterFailure(records);
    LogError(session.pub, "Failed to execute function 3.", error.Description());
    return false;
  }
}

}  // namespace vantrelle
