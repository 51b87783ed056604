// The two table fills: a query's result written into a numbered table of the
// report, one record per row (or per column when transposed), each cell's
// template text serving as the format pattern of the value that replaces it.
//
// The fill reads the records through FillRecords, which the statement layer
// implements over its record set: the document engine knows nothing of the
// database.
#pragma once

#include <cstdint>
#include <string>

#include "base/pubdef.h"
#include "word/application.h"

namespace vantrelle {

/// The records of one query as a fill reads them. Every call may throw
/// Error; the fill logs it as the statement's failure.
class FillRecords {
 public:
  virtual void Open(const std::string& sql) = 0;
  virtual bool Eof() = 0;
  virtual void MoveNext() = 0;
  virtual void MoveFirst() = 0;
  virtual int FieldCount() = 0;
  /// Field \a field (from 0) of the current record as text; empty for Null.
  virtual std::string FieldText(int field) = 0;
  virtual void Close() = 0;
  /// Closes the records if a failure left them open; a failure to close is
  /// ignored.
  virtual void CloseAfterFailure() = 0;

 protected:
  ~FillRecords() = default;
};

/// What a fill works on: the run's state (its stop and its log), the
/// document engine with the open report, and the query's records.
struct TableFill {
  PubDef& pub;
  Application& app;
  Document& doc;
  FillRecords& records;
};

/// Fills table \a table from cell (\a begin_row, \a begin_col) in place.
/// Returns false after logging "Failed to execute function 1." when the
/// query fails, a cell does not exist or the result is too large; cells
/// already written keep their new text.
bool FillTable(const TableFill& fill, int16_t table, int16_t begin_row, int16_t begin_col,
               bool transpose, const std::string& sql);

/// Like FillTable, but first grows the table so that its two data rows (or
/// columns) at the begin row become as many as the result has records: the
/// first is the pattern row, copied into every inserted row.
bool FillTableGrowing(const TableFill& fill, int16_t table, int16_t begin_row,
                      int16_t begin_col, bool transpose, const std::string& sql);

}  // namespace vantrelle
