#include "sql/script_reader.h"

#include <new>

#include "run/error.h"
#include "run/ini_file.h"
#include "run/run_log.h"
#include "run/text_scan.h"
#include "run/whole_number.h"
#include "sql/dispatcher.h"
#include "sql/parameters.h"

namespace vantrelle {
namespace {

const char kConfigIncorrect[] = "The information in the configuration file is incorrect.";

// The SQL text of the statement being collected. Pieces arrive trimmed at
// their end, so keeping the text trimmed costs nothing per line: only the
// first piece's start and an empty piece's separator need attention.
class StatementText {
 public:
  bool Empty() const { return !has_content_; }
  const std::string& Text() const { return text_; }
  void Clear() {
    text_.clear();
    has_content_ = false;
  }
  void Append(const std::string& piece) {
    if (!has_content_) {
      text_ = piece;
    } else {
      if (!trimmed_start_) text_ = TrimSpaces(text_);
      while (!text_.empty() && text_.back() == ' ') text_.pop_back();
      text_ += ' ';
      text_ += piece;
    }
    trimmed_start_ = has_content_;
    has_content_ = has_content_ || piece.find_first_not_of(' ') != std::string::npos;
  }

 private:
  std::string text_;
  bool has_content_ = false;
  bool trimmed_start_ = false;
};

}  // namespace

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
    StatementText sql;
    std::string label;
    std::string control_fields;
    long line_number = 0;
    while (!script->AtEndOfStream()) {
      std::string line = StripComment(script->ReadLine());
      ++line_number;
      if (line.empty()) continue;
      if (line[0] == '@') {
        // A marker line ends the statement being collected.
        if (!sql.Empty()) DispatchStatement(session, job, label, control_fields, sql.Text());
        sql.Clear();
        label.clear();
        size_t equals = line.find('=');
        if (equals == std::string::npos)
          throw Error("Line " + std::to_string(line_number) + ": the marker line \"" + line +
                      "\" has no \"=\".");
        label = line.substr(1, equals - 1);
        control_fields = line.substr(equals + 1);
      } else {
        sql.Append(SubstituteParameters(pub, TrimSpaces(line)));
      }
    }
    script->Close();
    if (!sql.Empty()) DispatchStatement(session, job, label, control_fields, sql.Text());
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
