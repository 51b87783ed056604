#include "sql/script_reader.h"

#include <new>

#include "base/error.h"
#include "base/ini_file.h"
#include "base/run_log.h"
#include "base/text_scan.h"
#include "base/whole_number.h"
#include "sql/dispatcher.h"
#include "sql/parameters.h"

namespace vantrelle {
namespace {

const char kConfigIncorrect[] = "The information in the configuration file is incorrect.";

}  // namespace

StatementReader::StatementReader(const PubDef& pub, TextReader& script, bool keep_pieces)
    : pub_(pub), script_(script), keep_pieces_(keep_pieces) {}

void StatementReader::StartStatement(const std::string& marker_line, long number) {
  sql_.clear();
  has_content_ = false;
  pieces_.clear();
  label_.clear();
  statement_line_ = number;
  size_t equals = marker_line.find('=');
  if (equals == std::string::npos)
    throw Error("Line " + std::to_string(number) + ": the marker line \"" + marker_line +
                "\" has no \"=\".");
  label_ = marker_line.substr(1, equals - 1);
  control_fields_ = marker_line.substr(equals + 1);
}

void StatementReader::Emit(ScriptStatement& statement) {
  statement.label = label_;
  statement.control_fields = control_fields_;
  statement.sql = std::move(sql_);
  statement.line = statement_line_;
  statement.pieces = std::move(pieces_);
  sql_.clear();
  has_content_ = false;
  pieces_.clear();
  statement_line_ = 0;
}

bool StatementReader::Next(ScriptStatement& statement) {
  if (!pending_marker_.empty()) {
    std::string marker = std::move(pending_marker_);
    pending_marker_.clear();
    StartStatement(marker, pending_line_);
  }
  while (!at_end_) {
    if (script_.AtEndOfStream()) {
      at_end_ = true;
      break;
    }
    std::string line = StripComment(script_.ReadLine());
    ++line_number_;
    if (line.empty()) continue;
    if (line[0] == '@') {
      // A marker line ends the statement being collected.
      if (has_content_) {
        pending_marker_ = std::move(line);
        pending_line_ = line_number_;
        Emit(statement);
        return true;
      }
      StartStatement(line, line_number_);
      continue;
    }
    // Pieces arrive trimmed at their end, so keeping the text trimmed costs
    // nothing per line: only the first piece's start and an empty piece's
    // separator need attention.
    std::string piece = SubstituteParameters(pub_, TrimSpaces(line));
    if (statement_line_ == 0) statement_line_ = line_number_;
    if (keep_pieces_) pieces_.emplace_back(line_number_, piece);
    if (!has_content_) {
      sql_ = piece;
    } else {
      if (!trimmed_start_) sql_ = TrimSpaces(sql_);
      while (!sql_.empty() && sql_.back() == ' ') sql_.pop_back();
      sql_ += ' ';
      sql_ += piece;
    }
    trimmed_start_ = has_content_;
    has_content_ = has_content_ || piece.find_first_not_of(' ') != std::string::npos;
  }
  if (!has_content_) return false;
  Emit(statement);
  return true;
}

void ReadSqlScript(ReportSession& session, int16_t job, const std::string& configured_path) {
  PubDef& pub = session.pub;
  const std::string job_tag = "[SQLFILE" + std::to_string(job) + "]";
  std::string path;
  try {
    path = pub.file_system.LocateConfiguredFile(configured_path, false);
  } catch (const Error& error) {
    LogError(pub, kConfigIncorrect, job_tag + " " + error.Description());
    return;
  }
  if (!pub.file_system.FileExists(path)) {
    LogError(pub, kConfigIncorrect, job_tag + " \"" + path + "\" does not exist.");
    return;
  }
  WriteLog(pub, job_tag + "  Open \"" + path + "\" succesfully.");

  try {
    std::unique_ptr<TextReader> script = pub.file_system.OpenTextFile(path);
    StatementReader reader(pub, *script);
    ScriptStatement statement;
    while (reader.Next(statement))
      DispatchStatement(session, job, statement.label, statement.control_fields, statement.sql);
    script->Close();
  } catch (const Error& error) {
    LogError(pub, "Failed to read " + job_tag + " \"" + path + "\".", error.Description());
  } catch (const std::bad_alloc&) {
    LogError(pub, "Failed to read " + job_tag + " \"" + path + "\".", "Out of memory");
  }
}

void RunSqlJobs(ReportSession& session) {
  PubDef& pub = session.pub;
  // The configuration as read at the start of the run: one lookup per job.
  std::string max_text = TrimSpaces(pub.ini.Get("SQLFILE", "F_MAXNUM"));
  int16_t job_count = 0;
  if (!max_text.empty()) {
    try {
      job_count = ToWholeNumber(max_text);
    } catch (const Error& error) {
      // Not a number: no job runs, and the run log says why.
      LogError(pub, kConfigIncorrect,
               "[SQLFILE] F_MAXNUM \"" + max_text + "\" is not a valid job count: " +
                   error.Description() + ".");
      return;
    }
  }
  for (int job = 1; job <= job_count; ++job) {
    const std::string key = "F" + std::to_string(job);
    std::string path = TrimSpaces(pub.ini.Get("SQLFILE", key));
    if (path.empty()) continue;
    CountUp(pub.sql_file_count);
    if (RunObserver* window = pub.Window())
      window->SetField(RunField::kSqlFileCount, FormatCount(pub.sql_file_count, false));
    if (pub.ini.ReachesLimit("SQLFILE", key)) {
      // A cut name would run some other file, or none.
      LogError(pub, kConfigIncorrect,
               "[SQLFILE] " + key + " is " + std::to_string(kMaxIniValue) +
                   " bytes long or longer; a value that long would be cut, so it is not used.");
      continue;
    }
    ReadSqlScript(session, static_cast<int16_t>(job), path);
  }
}

}  // namespace vantrelle
