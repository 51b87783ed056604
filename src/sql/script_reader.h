// The SQL script reader and the job list that feeds it.
//
// A script is read one line at a time. "#" outside quotes starts a comment;
// a line starting with "@" is a marker line "@label=control fields" that
// begins a statement; other lines are its SQL text, trimmed, with the report
// parameters substituted, joined by single spaces. Each statement is
// dispatched as soon as the next marker line or the end of the file shows it
// is complete, so a script of any length is never held whole in memory.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/file_system.h"
#include "base/pubdef.h"
#include "sql/report_session.h"

namespace vantrelle {

/// One complete statement of a script.
struct ScriptStatement {
  std::string label;
  std::string control_fields;
  std::string sql;
  /// The line of its marker line; for text before the first marker line,
  /// the line of its first text line.
  long line = 0;
  /// Each text line's number and its piece of the SQL text (trimmed, the
  /// parameters substituted); filled only when the reader keeps them.
  std::vector<std::pair<long, std::string>> pieces;
};

/// Reads the statements of one script in file order, one at a time, as the
/// run dispatches them: comments stripped, marker lines split into label and
/// control fields, text lines trimmed, parameters substituted and joined by
/// single spaces.
class StatementReader {
 public:
  /// Reads \a script with the parameters of \a pub; both must outlive the
  /// reader. \a keep_pieces keeps each statement's lines in its pieces.
  StatementReader(const PubDef& pub, TextReader& script, bool keep_pieces = false);

  /// Reads up to the end of the next complete statement into \a statement.
  /// False at the end of the script. Throws Error when a line cannot be read
  /// or a marker line has no "=" (after the statement that this marker line
  /// completes has been returned).
  bool Next(ScriptStatement& statement);
  /// The number of the last line read.
  long LineNumber() const { return line_number_; }

 private:
  void StartStatement(const std::string& marker_line, long number);
  void Emit(ScriptStatement& statement);

  const PubDef& pub_;
  TextReader& script_;
  bool keep_pieces_;
  long line_number_ = 0;
  std::string sql_;
  bool has_content_ = false;
  bool trimmed_start_ = false;
  std::string label_;
  std::string control_fields_;
  long statement_line_ = 0;
  std::vector<std::pair<long, std::string>> pieces_;
  // A marker line that completed the statement last returned; it begins
  // the next one.
  std::string pending_marker_;
  long pending_line_ = 0;
  bool at_end_ = false;
};

/// Reads script \a configured_path of job \a job (a name written on Windows
/// found as LocateConfiguredFile does) and dispatches its statements. A
/// missing file, or an error while reading, is logged and ends this script
/// only.
void ReadSqlScript(ReportSession& session, int16_t job, const std::string& configured_path);

/// Runs the jobs F1..F<F_MAXNUM> of [SQLFILE] in order; missing or blank
/// entries are skipped silently.
void RunSqlJobs(ReportSession& session);

}  // namespace vantrelle
