// The two table fills: a query's result written into a numbered table of the
// report, one record per row (or per column when transposed), each cell's
// template text serving as the format pattern of the value that replaces it.
#pragma once

#include <cstdint>
#include <string>

#include "sql/report_session.h"

namespace vantrelle {

/// Fills table \a table from cell (\a begin_row, \a begin_col) in place.
/// Returns false after logging "Failed to execute function 1." when the
/// query fails, a cell does not exist or the result is too large; cells
/// already written keep their new text.
bool FillTable(ReportSession& session, int16_t table, int16_t begin_row, int16_t begin_col,
               bool transpose, const std::string& sql);

/// Like FillTable, but first grows the table so that its two data rows (or
/// columns) at the begin row become as many as the result has records: the
/// first is the pattern row, copied into every inserted row.
bool FillTableGrowing(ReportSession& session, int16_t table, int16_t begin_row,
                      int16_t begin_col, bool transpose, const std::string& sql);

}  // namespace vantrelle
