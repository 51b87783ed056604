#include "sql/dispatcher.h"

#include <new>

#include "base/error.h"
#include "base/run_log.h"
#include "base/text_scan.h"
#include "base/whole_number.h"
#include "sql/statement_functions.h"
#include "word/table_fill.h"

namespace vantrelle {

namespace {

// Runs statement function \a function. Memory running out inside it is that
// statement's error, logged with the function's own text like any other,
// and the record set is left closed for the next statement.
template <typename Call>
bool RunFunction(ReportSession& session, int function, Call call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    if (session.db.recordset) CloseAfterFailure(*session.db.recordset);
    LogError(session.pub, "Failed to execute function " + std::to_string(function) + ".",
             "Out of memory");
    return false;
  }
}

}  // namespace

ControlFields ParseControlFields(const std::string& text) {
  ControlFields fields;
  size_t start = 0;
  for (int index = 1; index <= 5 && start <= text.size(); ++index) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    std::string field = TrimSpaces(std::string_view(text).substr(start, end - start));
    start = end + 1;
    if (field.empty()) continue;
    switch (index) {
      case 1: fields.function = ToWholeNumber(field); break;
      case 2: fields.table = field; break;
      case 3: fields.begin_row = ToWholeNumber(field); break;
      case 4: fields.begin_col = ToWholeNumber(field); break;
      case 5: fields.transpose = ToWholeNumber(field) != 0; break;
    }
    if (end == text.size()) break;
  }
  return fields;
}

void DispatchStatement(ReportSession& session, int16_t job, const std::string& label,
                       const std::string& control_fields, const std::string& sql) {
  PubDef& pub = session.pub;
  const std::string prefix = "[SQLFILE" + std::to_string(job) + "]  [" + label + "]    ";
  try {
    bool result = false;
    // A stop requested during the last statement ends the run before this one.
    pub.stop.Check();
    CountUp(pub.sql_stm_count);
    if (RunObserver* window = pub.Window())
      window->SetField(RunField::kSqlStmCount, FormatCount(pub.sql_stm_count, false));
    ControlFields fields = ParseControlFields(control_fields);
    switch (fields.function) {
      case 0:
        WriteLog(pub, prefix + "Function 0");
        WriteLog(pub, prefix + sql);
        result = RunFunction(session, 0, [&] { return ExecuteStatement(session, sql); });
        break;
      case 1:
      case 2: {
        WriteLog(pub, prefix + "Function " + std::to_string(fields.function) + ", Table " +
                          fields.table + ", Begin row " + std::to_string(fields.begin_row) +
                          ", Begin col " + std::to_string(fields.begin_col));
        WriteLog(pub, prefix + sql);
        // The table field becomes a number only now, after both lines.
        int16_t table = ToWholeNumber(fields.table);
        result = RunFunction(session, fields.function, [&] {
          SessionRecords records(*session.db.recordset);
          const TableFill fill{pub, *session.word_app, *session.report_doc, records};
          return fields.function == 1 ? FillTable(fill, table, fields.begin_row,
                                                  fields.begin_col, fields.transpose, sql)
                                      : FillTableGrowing(fill, table, fields.begin_row,
                                                         fields.begin_col, fields.transpose, sql);
        });
        break;
      }
      case 3:
        WriteLog(pub, prefix + "Function 3, DocVariable field [" + fields.table + "]");
        WriteLog(pub, prefix + sql);
        result =
            RunFunction(session, 3, [&] { return SetDocVariable(session, fields.table, sql); });
        break;
      default:
        break;  // an unknown function runs nothing and is a plain failure
    }
    WriteLog(pub, prefix + (result ? "Success." : "Failure."));
  } catch (const Error& error) {
    LogError(pub, "Failed to excute function.", error.Description());
  } catch (const RunInterrupted&) {
    throw;  // the run ends: nothing more can be logged, or it was stopped
  } catch (const std::bad_alloc&) {
    LogError(pub, "Failed to excute function.", "Out of memory");
  } catch (const std::exception& error) {
    // Whatever else a statement runs into is still that statement's error.
    LogError(pub, "Failed to excute function.", error.what());
  }
}

}  // namespace vantrelle
