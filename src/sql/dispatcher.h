// The statement dispatcher: counts a complete statement, parses its control
// fields (function;table;begin row;begin col;transpose), logs it, runs its
// statement function and logs "Success." or "Failure.".
#pragma once

#include <cstdint>
#include <string>

#include "sql/report_session.h"

namespace vantrelle {

/// The parsed control fields of a marker line. Missing or blank fields keep
/// these defaults.
struct ControlFields {
  int16_t function = 0;
  std::string table;  ///< table number for fills, variable name for function 3
  int16_t begin_row = 0;
  int16_t begin_col = 0;
  bool transpose = false;
};

/// Parses \a text split at ";"; fields after the fifth are ignored. Throws
/// Error "Type mismatch" or "Overflow" for a numeric field that is not a
/// 16-bit whole number.
ControlFields ParseControlFields(const std::string& text);

/// Dispatches one statement of script job \a job. Errors are logged and
/// counted here; the run always goes on.
void DispatchStatement(ReportSession& session, int16_t job, const std::string& label,
                       const std::string& control_fields, const std::string& sql);

}  // namespace vantrelle
