#include "run/report_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "data/connection.h"
#include "run/command_line.h"
#include "run/configuration.h"
#include "base/output_file.h"
#include "base/error.h"
#include "base/ini_file.h"
#include "run/pdf_export.h"
#include "base/run_log.h"
#include "base/text_scan.h"
#include "base/whole_number.h"
#include "sql/dispatcher.h"
#include "sql/parameters.h"
#include "sql/script_reader.h"
#include "format/format_expression.h"
#include "word/template_outline.h"

namespace vantrelle {
namespace {

const char* const kControlFieldNames[] = {"function", "table", "begin row", "begin col",
                                          "transpose flag"};

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string CellName(int row, int column) {
  return "(" + std::to_string(row) + "," + std::to_string(column) + ")";
}

std::string Count(int count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

bool IsWordCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// True when \a text holds \a name as a whole word, ignoring case.
bool MentionsWord(const std::string& text, const std::string& name) {
  const std::string lower_text = Lower(text);
  const std::string lower_name = Lower(name);
  for (size_t at = lower_text.find(lower_name); at != std::string::npos;
       at = lower_text.find(lower_name, at + 1)) {
    const bool starts = at == 0 || !IsWordCharacter(lower_text[at - 1]);
    const size_t end = at + lower_name.size();
    if (starts && (end == lower_text.size() || !IsWordCharacter(lower_text[end]))) return true;
  }
  return false;
}

// The object names a driver's message complains about: quoted names
// ("relation \"tmp\" does not exist", "Invalid object name 'tmp'") and the
// name after SQLite's "no such table: ", without a schema in front.
std::vector<std::string> NamesInMessage(const std::string& message) {
  std::vector<std::string> names;
  auto add = [&](std::string name) {
    size_t dot = name.rfind('.');
    if (dot != std::string::npos) name = name.substr(dot + 1);
    if (!name.empty() && name.size() < 128) names.push_back(name);
  };
  for (size_t i = 0; i < message.size(); ++i) {
    const char open = message[i];
    const char close = open == '[' ? ']' : open;
    if (open != '"' && open != '\'' && open != '`' && open != '[') continue;
    size_t end = message.find(close, i + 1);
    if (end == std::string::npos) break;
    add(message.substr(i + 1, end - i - 1));
    i = end;
  }
  // SQLite's "table month_orders already exists" names it unquoted.
  for (const char* kind : {"table ", "view ", "index ", "trigger "}) {
    for (size_t at = message.find(kind); at != std::string::npos; at = message.find(kind, at + 1)) {
      const size_t start = at + std::strlen(kind);
      size_t end = start;
      while (end < message.size() && (IsWordCharacter(message[end]) || message[end] == '.')) ++end;
      if (end > start && message.compare(end, 15, " already exists") == 0)
        add(message.substr(start, end - start));
    }
  }
  for (size_t at = message.find("no such "); at != std::string::npos;
       at = message.find("no such ", at + 1)) {
    size_t colon = message.find(": ", at);
    if (colon == std::string::npos) break;
    size_t start = colon + 2;
    size_t end = start;
    while (end < message.size() && (IsWordCharacter(message[end]) || message[end] == '.')) ++end;
    add(message.substr(start, end - start));
  }
  return names;
}

// The sections a run reads and their keys; a numbered key is its prefix
// and a number ("F1", "Name2").
struct KnownSection {
  const char* name;
  std::vector<const char*> keys;
  std::vector<const char*> numbered;
};

const std::vector<KnownSection>& KnownSections() {
  static const std::vector<KnownSection> known = {
      {"FILE", {"LogFileName", "ReportTemplateFileName", "ReportFileName", "PdfFileName"}, {}},
      {"ODBC", {"DSN", "DBUSER", "DBPWD", "ConnectTimeout", "QueryTimeout"}, {}},
      {"SQLFILE", {"F_MAXNUM"}, {"F"}},
      {"PARAMETER", {}, {"Name", "Desc", "Default", "Pattern", "Choices"}},
      {"Console", {"Title"}, {}},
  };
  return known;
}

// Edits (insertions, deletions, changes, swaps of neighbours) from \a a to
// \a b, ignoring case.
size_t EditDistance(const std::string& a, const std::string& b) {
  const std::string x = Lower(a);
  const std::string y = Lower(b);
  std::vector<std::vector<size_t>> d(x.size() + 1, std::vector<size_t>(y.size() + 1));
  for (size_t i = 0; i <= x.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= y.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= x.size(); ++i)
    for (size_t j = 1; j <= y.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                          d[i - 1][j - 1] + (x[i - 1] == y[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[x.size()][y.size()];
}

// The known name nearest to \a name, when it is near enough to be what was
// meant (at most two edits, and fewer than a third of the name).
std::string Nearest(const std::string& name, const std::vector<std::string>& known) {
  std::string best;
  size_t best_distance = SIZE_MAX;
  for (const std::string& candidate : known) {
    const size_t distance = EditDistance(name, candidate);
    if (distance < best_distance) {
      best = candidate;
      best_distance = distance;
    }
  }
  const size_t limit = std::min<size_t>(2, std::max<size_t>(1, name.size() / 3));
  return best_distance <= limit ? best : "";
}

// True when \a key is \a prefix and a number from 1, ignoring case.
bool NumberedKey(const std::string& key, const std::string& prefix) {
  return key.size() > prefix.size() && Lower(key.substr(0, prefix.size())) == Lower(prefix) &&
         key[prefix.size()] != '0' &&
         key.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
}

// What a cell's pattern prints that its author hardly meant: typographic
// quotes (a word processor's autocorrect makes them of straight ones), which
// quote nothing, and in a date pattern letters that are no date code (other
// languages' "TT.MM.JJJJ"), which print as they stand.
std::vector<std::string> PatternSurprises(const std::string& pattern) {
  std::vector<std::string> surprises;
  const FormatExpression expression = ParseFormatExpression(pattern);
  auto any = [&](SectionKind kind) {
    return std::any_of(expression.sections.begin(), expression.sections.end(),
                       [&](const FormatSection& s) { return s.kind == kind; });
  };
  // The names of named formats ("Short Date", "Currency") are no patterns
  // to look into.
  static const char* const kNamed[] = {
      "general date", "long date", "medium date", "short date", "long time", "medium time",
      "short time", "general number", "currency", "fixed", "standard", "percent", "scientific",
      "yes/no", "true/false", "on/off"};
  const std::string lower = Lower(TrimSpaces(pattern));
  for (const char* named : kNamed)
    if (lower == named) return surprises;
  // Typographic double quotes in a number or date pattern quote nothing
  // (a typographic apostrophe is a grouping sign some authors mean).
  if (any(SectionKind::kNumber) || any(SectionKind::kDate)) {
    for (const char* quote : {"\u201C", "\u201D", "\u201E"}) {
      if (pattern.find(quote) == std::string::npos) continue;
      surprises.push_back("the pattern \"" + pattern + "\" holds typographic quotes, which print as "
                          "they stand; only straight quotes (\") quote text in a pattern.");
      break;
    }
  }
  if (!any(SectionKind::kDate) || expression.named != NamedFormat::kNone) return surprises;
  // Another language's date codes: a letter no code knows, doubled as codes
  // are (TT, JJJJ); a label's single letters are left alone.
  std::string strange;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '"') {  // quoted text
      const size_t end = pattern.find('"', i + 1);
      if (end == std::string::npos) break;
      i = end;
      continue;
    }
    if (c == '\\') {  // one character as it stands
      ++i;
      continue;
    }
    if (!std::isalpha(static_cast<unsigned char>(c))) continue;
    const std::string rest = Lower(pattern.substr(i, 5));
    if (rest.starts_with("am/pm") || rest == "ttttt") {
      i += 4;
      continue;
    }
    if (rest.starts_with("ampm")) {
      i += 3;
      continue;
    }
    if (rest.starts_with("a/p")) {
      i += 2;
      continue;
    }
    const char low = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (std::strchr("cdwmqyhns", low) != nullptr) continue;
    const bool doubled = i + 1 < pattern.size() && pattern[i + 1] == c;
    if (doubled && strange.find(c) == std::string::npos)
      strange += std::string(strange.empty() ? "" : ", ") + c;
  }
  if (!strange.empty())
    surprises.push_back("the date pattern \"" + pattern + "\" holds letters that are no date code (" +
                        strange + "): they print as they stand. The codes are d, m, y, h, n, s "
                        "(\"dd.mm.yyyy\" for a day, month and year).");
  return surprises;
}

// A statement that runs for its effect only: later statements may need what
// it creates.
// How earlier growing fills change a table: whether they add rows or
// columns, and the first of them, as a message names it.
struct Growth {
  bool rows = false;
  bool columns = false;
  std::string statement;
};

struct EffectStatement {
  std::string file;
  long line;
  std::string label;
  std::string sql;
};

class Checker {
 public:
  Checker(PubDef& pub, bool connect) : pub_(pub), connect_(connect), now_(pub.clock()) {}

  CheckResult Run();

 private:
  // Every finding is one line: driver messages often hold line breaks.
  void Add(bool error, const std::string& file, long line, const std::string& message) {
    result_.findings.push_back({error, file, line, OneLine(message)});
    ++(error ? result_.errors : result_.warnings);
  }
  void ConfigError(std::string message) { Add(true, pub_.ini_file_name, 0, std::move(message)); }
  std::string Read(const char* section, const char* key) const {
    return TrimSpaces(pub_.ini.Get(section, key));
  }
  bool TooLong(const char* section, const std::string& key) {
    if (!pub_.ini.ReachesLimit(section, key)) return false;
    ConfigError("[" + std::string(section) + "] " + key + " is " + std::to_string(kMaxIniValue) +
                " bytes long or longer; a value that long would be cut, so it is not used.");
    return true;
  }
  std::optional<std::string> Locate(const std::string& key, const std::string& name, bool output) {
    try {
      return pub_.file_system.LocateConfiguredFile(name, output);
    } catch (const Error& error) {
      ConfigError(key + ": " + error.Description());
      return std::nullopt;
    }
  }

  bool CheckOutput(const std::string& key, const std::string& path, const char* what,
                   bool opened_for_writing);
  void CheckLayout();
  void CheckLog();
  void CheckTemplate();
  void CheckReportName();
  void CheckPdf();
  void CheckDataSource();
  void CheckParameters();
  void Connect();
  void CheckJobs();
  void CheckScript(const std::string& key, const std::string& path);
  void CheckStatement(const std::string& file, const ScriptStatement& statement);
  void CheckMacros(const std::string& file, const std::string& label,
                   const ScriptStatement& statement);
  void CheckFill(const std::string& file, const ScriptStatement& statement,
                 const std::string& label, const ControlFields& fields);
  void CheckVariable(const std::string& file, const ScriptStatement& statement,
                     const std::string& label, const ControlFields& fields);
  std::optional<int> Prepare(const std::string& file, const ScriptStatement& statement,
                             const std::string& label);
  void CheckVariablesShown();
  void NameTheCurrentFolder();

  PubDef& pub_;
  bool connect_;
  std::tm now_;
  CheckResult result_;
  std::string template_name_;
  std::optional<TemplateOutline> outline_;
  std::vector<const OutlineTable*> numbered_;
  std::set<std::string> shown_variables_;  // lower case
  std::set<std::string> set_variables_;    // lower case
  bool dsn_ok_ = false;
  std::unique_ptr<Connection> connection_;
  std::vector<EffectStatement> effects_;
  std::map<int, Growth> growth_;  // by table number
};

CheckResult Checker::Run() {
  if (pub_.ini_file_name.empty()) {
    Add(true, "vantrelle", 0,
        "no configuration file: none was named with -F, and none was found beside the program "
        "or in /etc.");
    result_.no_run = true;
    return std::move(result_);
  }
  std::string read_error;
  pub_.ini = IniFile::Load(pub_.ini_file_name, &read_error);
  if (!pub_.file_system.FileExists(pub_.ini_file_name)) {
    ConfigError("the configuration file does not exist.");
    result_.no_run = true;
    return std::move(result_);
  }
  if (!read_error.empty()) {
    ConfigError("the configuration file cannot be read (" + read_error + ").");
    result_.no_run = true;
    return std::move(result_);
  }
  CheckLayout();
  CheckLog();
  CheckTemplate();
  CheckReportName();
  CheckPdf();
  CheckDataSource();
  CheckParameters();
  if (connect_ && dsn_ok_) Connect();
  CheckJobs();
  CheckVariablesShown();
  NameTheCurrentFolder();
  if (connection_) {
    try {
      connection_->Close();
    } catch (const Error&) {
    }
  }
  return std::move(result_);
}

// The checks that decide whether the output can be written where the
// configuration puts it. The run itself refuses more names as it opens or
// replaces its outputs (links, devices, FIFOs); what it refuses, this
// refuses too.
bool Checker::CheckOutput(const std::string& key, const std::string& path, const char* what,
                          bool opened_for_writing) {
  const std::string named = "[FILE] " + key + " \"" + path + "\"";
  std::string clash = OutputClash(pub_, key, path);
  if (!clash.empty()) {
    ConfigError(named + " names the same file as " + clash + "; the " + what +
                " never overwrites another file of the run.");
    return false;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    ConfigError(named + " names a folder, not a file.");
    return false;
  }
  if (std::string kind = NonFileAt(path); !kind.empty()) {
    ConfigError(named + " is " + kind + ", not a file; the run writes only over a regular file.");
    return false;
  }
  std::string folder = pub_.file_system.GetParentFolderName(path);
  if (folder.empty()) folder = ".";
  struct stat folder_st;
  if (::stat(folder.c_str(), &folder_st) != 0 || !S_ISDIR(folder_st.st_mode)) {
    ConfigError(named + ": the folder \"" + folder + "\" does not exist.");
    return false;
  }
  // A log of this user's with no other name is emptied in place; anything
  // else at an output's name is replaced by a new file in its folder.
  struct stat own;
  if (opened_for_writing && ::lstat(path.c_str(), &own) == 0 && S_ISREG(own.st_mode) &&
      own.st_uid == ::geteuid() && own.st_nlink == 1) {
    if (::access(path.c_str(), W_OK) == 0) return true;
    ConfigError(named + ": the file cannot be written (" + std::strerror(errno) + ").");
    return false;
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    ConfigError(named + ": the folder \"" + folder + "\" cannot be written (" +
                std::strerror(errno) + ").");
    return false;
  }
  return true;
}

// Sections and keys that no run reads are misspellings more often than
// notes: the run passes over them in silence, so the check names the one
// that was probably meant.
void Checker::CheckLayout() {
  const std::string& file = pub_.ini_file_name;
  std::vector<std::string> section_names;
  for (const KnownSection& known : KnownSections()) section_names.push_back(known.name);
  std::map<std::string, int> first_line;  // lower-cased section to its header's line
  const KnownSection* section = nullptr;
  bool unknown_section = false;
  for (const IniEntry& entry : pub_.ini.Entries()) {
    if (entry.key.empty()) {
      section = nullptr;
      for (const KnownSection& known : KnownSections())
        if (Lower(known.name) == Lower(entry.section)) section = &known;
      unknown_section = section == nullptr;
      if (auto [at, added] = first_line.emplace(Lower(entry.section), entry.line); !added) {
        Add(false, file, entry.line,
            "[" + entry.section + "] stands a second time; a run reads only the one at line " +
                std::to_string(at->second) + " and passes over this one.");
      } else if (unknown_section) {
        const std::string near = Nearest(entry.section, section_names);
        Add(false, file, entry.line,
            "[" + entry.section + "] is no section a run reads" +
                (near.empty() ? " (they are [FILE], [ODBC], [SQLFILE], [PARAMETER] and [Console])."
                              : "; did you mean [" + near + "]?") +
                " Its keys are not used.");
      }
      continue;
    }
    if (unknown_section || section == nullptr) continue;
    std::vector<std::string> keys(section->keys.begin(), section->keys.end());
    bool known_key = false;
    for (const char* key : section->keys) known_key = known_key || Lower(key) == Lower(entry.key);
    // A numbered key is compared with each prefix and the same number.
    const size_t digits = entry.key.find_last_not_of("0123456789") + 1;
    std::string number = entry.key.substr(digits);
    number.erase(0, std::min(number.find_first_not_of('0'), number.size()));  // "F01" means F1
    for (const char* prefix : section->numbered) {
      known_key = known_key || NumberedKey(entry.key, prefix);
      if (!number.empty() && number.size() < 6) keys.push_back(prefix + number);
    }
    if (known_key) continue;
    const std::string near = Nearest(entry.key, keys);
    std::string all;
    for (const char* key : section->keys) all += std::string(all.empty() ? "" : ", ") + key;
    for (const char* prefix : section->numbered)
      all += std::string(all.empty() ? "" : ", ") + prefix + "1, " + prefix + "2, ...";
    Add(false, file, entry.line,
        "[" + entry.section + "] " + entry.key + " is no key a run reads" +
            (near.empty() ? " (the keys of [" + std::string(section->name) + "] are " + all + ")."
                          : "; did you mean " + near + "?"));
  }
}

void Checker::CheckLog() {
  // A run that cannot create its log ends before it: exit status 2.
  const std::string name = ExpandDateMacros(Read("FILE", "LogFileName"), now_);
  if (TooLong("FILE", "LogFileName")) {
    result_.no_run = true;
    return;
  }
  if (name.empty()) {
    ConfigError("[FILE] LogFileName is not set: the run cannot create its log.");
    result_.no_run = true;
    return;
  }
  std::optional<std::string> path = Locate("[FILE] LogFileName", name, true);
  if (!path || !CheckOutput("LogFileName", *path, "run log", true)) result_.no_run = true;
}

void Checker::CheckTemplate() {
  const std::string name = Read("FILE", "ReportTemplateFileName");
  if (TooLong("FILE", "ReportTemplateFileName")) return;
  if (name.empty()) {
    ConfigError("[FILE] ReportTemplateFileName is not set.");
    return;
  }
  std::optional<std::string> path = Locate("[FILE] ReportTemplateFileName", name, false);
  if (!path) return;
  if (!pub_.file_system.FileExists(*path)) {
    ConfigError("[FILE] ReportTemplateFileName: the template file \"" + *path +
                "\" does not exist.");
    return;
  }
  if (::access(path->c_str(), R_OK) != 0) {
    ConfigError("[FILE] ReportTemplateFileName: the template file \"" + *path +
                "\" cannot be read (" + std::strerror(errno) + ").");
    return;
  }
  template_name_ = *path;
  try {
    outline_ = OutlineTemplate(*path);
  } catch (const Error& error) {
    Add(true, template_name_, 0, error.Description());
    return;
  }
  for (const OutlineTable& table : outline_->tables) {
    if (table.number < 1) continue;
    if (numbered_.size() < static_cast<size_t>(table.number))
      numbered_.resize(static_cast<size_t>(table.number));
    numbered_[static_cast<size_t>(table.number) - 1] = &table;
  }
  for (const OutlineField& field : outline_->fields)
    if (field.type == "DOCVARIABLE" && !field.argument.empty())
      shown_variables_.insert(Lower(field.argument));
}

void Checker::CheckReportName() {
  const std::string name = ExpandDateMacros(Read("FILE", "ReportFileName"), now_);
  if (TooLong("FILE", "ReportFileName")) return;
  if (name.empty()) {
    ConfigError("[FILE] ReportFileName is not set: the name of report file is invalid.");
    return;
  }
  if (std::optional<std::string> path = Locate("[FILE] ReportFileName", name, true))
    CheckOutput("ReportFileName", *path, "report", false);
  const std::string template_name = Lower(Read("FILE", "ReportTemplateFileName"));
  const std::string report_name = Lower(name);
  if ((report_name.ends_with(".docx") || report_name.ends_with(".dotx")) &&
      (template_name.ends_with(".docm") || template_name.ends_with(".dotm")))
    Add(false, pub_.ini_file_name, 0,
        "[FILE] ReportFileName \"" + name + "\" is a " + report_name.substr(report_name.size() - 5) +
            ", which holds no macros: the macros of the template \"" +
            Read("FILE", "ReportTemplateFileName") +
            "\" are left out of the report (name it .docm to keep them).");
}

void Checker::CheckPdf() {
  // The PDF copy is optional: without the key the run writes none.
  const std::string name = ExpandDateMacros(Read("FILE", "PdfFileName"), now_);
  if (TooLong("FILE", "PdfFileName") || name.empty()) return;
  std::optional<std::string> path = Locate("[FILE] PdfFileName", name, true);
  if (!path || !CheckOutput("PdfFileName", *path, "PDF file", false)) return;
  const char* path_env = std::getenv("PATH");
  if (FindProgram(kPdfConverter, path_env != nullptr ? path_env : "/usr/local/bin:/usr/bin:/bin")
          .empty())
    ConfigError(std::string("[FILE] PdfFileName: the program \"") + kPdfConverter +
                "\" that writes PDF files is not installed (not found on PATH); install the "
                "Debian package " +
                kPdfConverterPackage + ".");
}

void Checker::CheckDataSource() {
  const std::string dsn = Read("ODBC", "DSN");
  if (TooLong("ODBC", "DSN")) return;
  if (dsn.empty()) {
    ConfigError("[ODBC] DSN is not set: Data source name does not be set.");
    return;
  }
  if (dsn.starts_with("sqlite:")) {
    const std::string file = dsn.substr(7);
    std::error_code ignored;
    if (!file.empty() && file != ":memory:" && !std::filesystem::is_regular_file(file, ignored)) {
      ConfigError("[ODBC] DSN: the SQLite database file \"" + file + "\" does not exist.");
      return;
    }
  }
  for (const char* key : {"ConnectTimeout", "QueryTimeout"}) {
    try {
      ReadSeconds(pub_.ini, key);
    } catch (const Error& error) {
      ConfigError(error.Description());
    }
  }
  dsn_ok_ = true;
}

void Checker::CheckParameters() {
  for (int k = 0; k < pub_.parameter_count; ++k) {
    const std::string problem = ParameterValueProblem(pub_.parameters[k]);
    if (!problem.empty()) ConfigError(problem);
  }
  if (pub_.command_value_count <= pub_.parameter_count) return;
  const int extra = pub_.command_value_count - pub_.parameter_count;
  Add(false, pub_.ini_file_name, 0,
      "[PARAMETER] declares " + Count(pub_.parameter_count, "parameter", "parameters") + " but " +
          Count(pub_.command_value_count, "value was", "values were") +
          " given; the run ignores the last " + std::to_string(extra) + ".");
}

void Checker::Connect() {
  connection_ = std::make_unique<Connection>();
  // A check waits for the data source as long as a run would.
  try {
    connection_->SetConnectionTimeout(ReadSeconds(pub_.ini, "ConnectTimeout"));
    connection_->SetCommandTimeout(ReadSeconds(pub_.ini, "QueryTimeout"));
  } catch (const Error&) {
    connection_->SetConnectionTimeout(0);  // said already
    connection_->SetCommandTimeout(0);
  }
  try {
    connection_->OpenForCheck(Read("ODBC", "DSN"), Read("ODBC", "DBUSER"), Read("ODBC", "DBPWD"));
  } catch (const Error& error) {
    ConfigError(std::string("[ODBC] DSN: cannot connect: ") + error.Description());
    connection_.reset();
  }
}

void Checker::CheckJobs() {
  const std::string max_text = Read("SQLFILE", "F_MAXNUM");
  int count = 0;
  bool count_read = true;
  if (!max_text.empty()) {
    try {
      count = ToWholeNumber(max_text);
    } catch (const Error& error) {
      count_read = false;
      ConfigError("[SQLFILE] F_MAXNUM \"" + max_text +
                  "\" is not a valid job count: " + error.Description() + ".");
    }
  }
  for (const std::string& key : pub_.ini.Keys("SQLFILE")) {
    if (key.size() < 2 || key[0] != 'f' || key[1] == '0' ||
        key.find_first_not_of("0123456789", 1) != std::string::npos || key.size() > 6)
      continue;
    const int job = std::stoi(key.substr(1));
    if (job > count && !Read("SQLFILE", key.c_str()).empty())
      Add(false, pub_.ini_file_name, 0,
          "[SQLFILE] F" + key.substr(1) + " is beyond F_MAXNUM (" + std::to_string(count) +
              "): the run never reads it.");
  }
  int listed = 0;
  for (int job = 1; job <= count; ++job)
    if (!TrimSpaces(pub_.ini.Get("SQLFILE", "F" + std::to_string(job))).empty()) ++listed;
  if (listed == 0 && count_read)
    Add(false, pub_.ini_file_name, 0,
        "no statement would run: [SQLFILE] lists no script (it needs F_MAXNUM=1 or more and "
        "F1=, F2=, ... naming the scripts); the report would be the template's copy.");
  for (int job = 1; job <= count; ++job) {
    const std::string key = "F" + std::to_string(job);
    const std::string name = TrimSpaces(pub_.ini.Get("SQLFILE", key));
    if (name.empty() && listed > 0) {
      // The run passes over it: what it would have made stays as the last
      // run left it.
      Add(false, pub_.ini_file_name, 0,
          "[SQLFILE] " + key + " is not set: script " + std::to_string(job) + " of F_MAXNUM=" +
              std::to_string(count) + " never runs.");
      continue;
    }
    if (name.empty() || TooLong("SQLFILE", key)) continue;
    std::optional<std::string> path = Locate("[SQLFILE] " + key, name, false);
    if (!path) continue;
    if (!pub_.file_system.FileExists(*path)) {
      ConfigError("[SQLFILE] " + key + ": the script \"" + *path + "\" does not exist.");
      continue;
    }
    CheckScript(key, *path);
  }
}

void Checker::CheckScript(const std::string& key, const std::string& path) {
  std::unique_ptr<TextReader> script;
  try {
    script = pub_.file_system.OpenTextFile(path);
  } catch (const Error& error) {
    ConfigError("[SQLFILE] " + key + ": " + error.Description());
    return;
  }
  StatementReader reader(pub_, *script, true);
  ScriptStatement statement;
  try {
    while (reader.Next(statement)) CheckStatement(path, statement);
  } catch (const Error& error) {
    std::string description = error.Description();
    const std::string prefix = "Line " + std::to_string(reader.LineNumber()) + ": ";
    if (description.starts_with(prefix)) description.erase(0, prefix.size());
    Add(true, path, reader.LineNumber(), description + " The run stops reading the script here.");
  }
}

void Checker::CheckStatement(const std::string& file, const ScriptStatement& statement) {
  const std::string label = "[" + statement.label + "] ";
  CheckMacros(file, label, statement);
  ControlFields fields;
  try {
    fields = ParseControlFields(statement.control_fields);
  } catch (const Error&) {
    // Name the field that is not a number, as the author wrote it.
    const std::string& text = statement.control_fields;
    size_t start = 0;
    for (int index = 0; index < 5 && start <= text.size(); ++index) {
      size_t end = text.find(';', start);
      if (end == std::string::npos) end = text.size();
      const std::string field = TrimSpaces(std::string_view(text).substr(start, end - start));
      start = end + 1;
      if (index == 1 || field.empty()) continue;
      try {
        ToWholeNumber(field);
      } catch (const Error& error) {
        Add(true, file, statement.line,
            label + "control field " + std::to_string(index + 1) + " (" +
                kControlFieldNames[index] + ") \"" + field +
                "\" is not a whole number from -32768 to 32767 (" + error.Description() +
                "): the run fails this statement.");
        return;
      }
    }
    return;
  }
  switch (fields.function) {
    case 0:
      if (connection_) Prepare(file, statement, label);
      effects_.push_back({file, statement.line, statement.label, statement.sql});
      break;
    case 1:
    case 2:
      CheckFill(file, statement, label, fields);
      break;
    case 3:
      CheckVariable(file, statement, label, fields);
      break;
    default:
      // The run logs the statement's "Failure." and goes on; its exit
      // status does not change, so this is no error of the run's.
      Add(false, file, statement.line,
          label + "function " + std::to_string(fields.function) +
              " does not exist (0 executes, 1 fills a table, 2 fills a growing table, 3 sets a "
              "document variable): the run skips the statement, logs \"Failure.\" and counts "
              "no error.");
  }
}

// Reads the text lines as SubstituteParameters does: where a parameter's
// name starts, it is taken; any other "&" followed by a name (and not
// standing inside a word, as in 'R&D') is a parameter nobody defines.
void Checker::CheckMacros(const std::string& file, const std::string& label,
                          const ScriptStatement& statement) {
  for (const auto& [line, text] : statement.pieces) {
    size_t position = 0;
    while (position < text.size()) {
      bool matched = false;
      for (int k = 0; k < pub_.parameter_count && !matched; ++k) {
        const std::string& name = pub_.parameters[k].name;
        if (!name.empty() && std::string_view(text).substr(position).starts_with(name)) {
          position += name.size();
          matched = true;
        }
      }
      if (matched) continue;
      const bool starts_name = text[position] == '&' && position + 1 < text.size() &&
                               (std::isalpha(static_cast<unsigned char>(text[position + 1])) ||
                                text[position + 1] == '_');
      if (!starts_name || (position > 0 && IsWordCharacter(text[position - 1]))) {
        ++position;
        continue;
      }
      size_t end = position + 1;
      while (end < text.size() && IsWordCharacter(text[end])) ++end;
      const std::string macro = text.substr(position, end - position);
      std::string message = label + "no report parameter is named \"" + macro +
                            "\"; the run leaves it in the SQL text";
      for (int k = 0; k < pub_.parameter_count; ++k) {
        if (EqualsIgnoreCase(pub_.parameters[k].name, macro)) {
          message += " (names are case-sensitive: [PARAMETER] defines \"" +
                     pub_.parameters[k].name + "\")";
          break;
        }
      }
      Add(false, file, line, message + ".");
      position = end;
    }
  }
}

void Checker::CheckFill(const std::string& file, const ScriptStatement& statement,
                        const std::string& label, const ControlFields& fields) {
  auto error = [&](const std::string& message) {
    Add(true, file, statement.line, label + message);
  };
  auto warning = [&](const std::string& message) {
    Add(false, file, statement.line, label + message);
  };
  const OutlineTable* table = nullptr;
  std::optional<int> number;
  if (fields.table.empty()) {
    error("no table number: control field 2 is empty.");
  } else {
    try {
      number = ToWholeNumber(fields.table);
    } catch (const Error& failure) {
      error("table \"" + fields.table + "\" is not a whole number (" + failure.Description() +
            "): the run fails this statement.");
    }
  }
  const std::string table_name = "table " + (number ? std::to_string(*number) : fields.table);
  if (number && outline_) {
    if (*number < 1 || *number > static_cast<int>(numbered_.size())) {
      error(table_name + " does not exist (the template has " +
            (numbered_.empty() ? std::string("no tables")
                               : Count(static_cast<int>(numbered_.size()), "table", "tables")) +
            ").");
    } else {
      table = numbered_[static_cast<size_t>(*number) - 1];
    }
  }
  const bool growing = fields.function == 2;
  const int row = fields.begin_row;
  const int col = fields.begin_col;
  const int rows = table ? static_cast<int>(table->rows.size()) : 0;
  auto cells_in = [&](int r) {
    return r >= 1 && r <= rows ? static_cast<int>(table->rows[static_cast<size_t>(r) - 1].size())
                               : 0;
  };
  // An earlier growing fill of this table adds rows (or, transposed,
  // columns) as many as its result has records: a place past the template's
  // size may then exist when this statement runs.
  const Growth* growth = nullptr;
  if (table) {
    auto found = growth_.find(*number);
    if (found != growth_.end()) growth = &found->second;
  }
  auto outside = [&](const std::string& message, bool in_rows) {
    if (growth && (in_rows ? growth->rows : growth->columns)) {
      warning(message.substr(0, message.size() - 1) + " in the template; the growing fill " +
              growth->statement + " adds " + (in_rows ? "rows" : "columns") +
              " to it first, so it is there only when that fill returns enough records.");
    } else {
      error(message);
    }
  };
  bool start_ok = table != nullptr;
  if (table) {
    if (row > rows && growing && !fields.transpose) {
      outside("the pattern row " + std::to_string(row) + " of the growing fill is missing (" +
                  table_name + " has " + Count(rows, "row", "rows") + ").",
              true);
      start_ok = false;
    } else if (row < 1 || row > rows) {
      outside(
          "begin row " + std::to_string(row) + " is outside " + table_name + " (" +
              (rows == 0 ? std::string("it has no rows") : "rows 1 to " + std::to_string(rows)) +
              ").",
          row > rows);
      start_ok = false;
    } else if (col > cells_in(row) && growing && fields.transpose) {
      outside("the pattern column " + std::to_string(col) +
                  " of the growing fill is missing (row " + std::to_string(row) + " of " +
                  table_name + " has " + Count(cells_in(row), "cell", "cells") + ").",
              false);
      start_ok = false;
    } else if (col < 1 || col > cells_in(row)) {
      outside("begin col " + std::to_string(col) + " is outside row " + std::to_string(row) +
                  " of " + table_name + " (cells 1 to " + std::to_string(cells_in(row)) + ").",
              false);
      start_ok = false;
    } else if (table->rows[static_cast<size_t>(row) - 1][static_cast<size_t>(col) - 1].covered) {
      error("cell " + CellName(row, col) + " of " + table_name +
            " is covered by a vertical merge: no fill can write it.");
      start_ok = false;
    }
  }
  // The pattern cells: from the begin cell along its row (down its column
  // when transposed), to the end.
  std::vector<std::pair<int, int>> pattern_cells;
  if (start_ok) {
    for (int r = row, c = col; r <= rows && c <= cells_in(r);
         fields.transpose ? ++r : ++c) {
      if (!table->rows[static_cast<size_t>(r) - 1][static_cast<size_t>(c) - 1].covered)
        pattern_cells.emplace_back(r, c);
    }
    for (const auto& [r, c] : pattern_cells)
      for (const std::string& surprise : PatternSurprises(
               table->rows[static_cast<size_t>(r) - 1][static_cast<size_t>(c) - 1].text))
        warning("cell " + CellName(r, c) + " of " + table_name + ": " + surprise);
  }
  if (table && growing) {
    Growth& grown = growth_[*number];
    if (grown.statement.empty())
      grown.statement = label + "at " + file + ":" + std::to_string(statement.line);
    (fields.transpose ? grown.columns : grown.rows) = true;
  }
  if (start_ok && growing) {
    if (!fields.transpose && row + 1 > rows)
      warning(table_name + " has no row after the pattern row " + std::to_string(row) +
              ": a result of more than one record fails.");
    if (fields.transpose && col + 1 > cells_in(row))
      warning("row " + std::to_string(row) + " of " + table_name +
              " has no cell after the pattern column " + std::to_string(col) +
              ": a result of more than one record fails.");
  }
  if (!connection_) return;
  std::optional<int> columns = Prepare(file, statement, label);
  if (!columns) return;
  if (*columns == 0) {
    warning("the statement returns no records to fill " + table_name + " with: it is not a query.");
    return;
  }
  if (!start_ok) return;
  // The cells one record goes to: from the begin cell along its row (down
  // its column when transposed). A growing fill also writes the template
  // row (column) after the pattern.
  auto check_record = [&](int first_row, int first_col) {
    for (int k = 0; k < *columns; ++k) {
      const int r = fields.transpose ? first_row + k : first_row;
      const int c = fields.transpose ? first_col : first_col + k;
      const bool exists = r >= 1 && r <= rows && c >= 1 && c <= cells_in(r);
      if (exists && !table->rows[static_cast<size_t>(r) - 1][static_cast<size_t>(c) - 1].covered)
        continue;
      if (!exists && growth && ((r > rows && growth->rows) || (c > cells_in(r) && growth->columns)))
        continue;
      const int last_r = fields.transpose ? first_row + *columns - 1 : first_row;
      const int last_c = fields.transpose ? first_col : first_col + *columns - 1;
      error("the query returns " + Count(*columns, "column", "columns") +
            ", so a record goes to cells " + CellName(first_row, first_col) + " to " +
            CellName(last_r, last_c) + " of " + table_name + ", but cell " + CellName(r, c) +
            (exists ? " is covered by a vertical merge." : " does not exist."));
      return false;
    }
    return true;
  };
  if (!check_record(row, col)) return;
  // Pattern cells past the query's columns keep their text in every record
  // a growing fill adds.
  if (growing && static_cast<size_t>(*columns) < pattern_cells.size()) {
    std::string kept;
    for (size_t k = static_cast<size_t>(*columns); k < pattern_cells.size(); ++k) {
      const auto [r, c] = pattern_cells[k];
      if (!table->rows[static_cast<size_t>(r) - 1][static_cast<size_t>(c) - 1].text.empty())
        kept += std::string(kept.empty() ? "" : ", ") + CellName(r, c);
    }
    if (!kept.empty())
      warning("the query returns " + Count(*columns, "column", "columns") + " but the pattern " +
              (fields.transpose ? "column" : "row") + " of " + table_name + " has " +
              std::to_string(pattern_cells.size()) + " cells from " + CellName(row, col) +
              ": the pattern text of " + kept + " stays in every " +
              (fields.transpose ? "column" : "row") + " the fill adds.");
  }
  if (growing && !fields.transpose && row + 1 <= rows) check_record(row + 1, col);
  if (growing && fields.transpose && col + 1 <= cells_in(row)) check_record(row, col + 1);
}

void Checker::CheckVariable(const std::string& file, const ScriptStatement& statement,
                            const std::string& label, const ControlFields& fields) {
  if (fields.table.empty()) {
    Add(true, file, statement.line, label + "no document variable name: control field 2 is empty.");
  } else {
    set_variables_.insert(Lower(fields.table));
    if (outline_ && !shown_variables_.count(Lower(fields.table)))
      Add(false, file, statement.line,
          label + "no DOCVARIABLE field of the template shows the document variable \"" +
              fields.table + "\".");
  }
  if (!connection_) return;
  std::optional<int> columns = Prepare(file, statement, label);
  if (columns && *columns == 0)
    Add(false, file, statement.line,
        label + "the statement returns no value for the document variable: it is not a query.");
}

// Prepares the statement on the read-only connection. A statement that
// fails because an earlier one has not run yet (a work table it creates) is
// a warning that names that statement; any other failure is an error.
std::optional<int> Checker::Prepare(const std::string& file, const ScriptStatement& statement,
                                    const std::string& label) {
  try {
    return connection_->Prepare(statement.sql);
  } catch (const Error& error) {
    const std::string description = error.Description();
    // A table that exists already is the earlier statement's doing only when
    // that statement drops or renames it.
    const bool exists = description.find("already exists") != std::string::npos;
    for (const std::string& name : NamesInMessage(description)) {
      for (auto it = effects_.rbegin(); it != effects_.rend(); ++it) {
        if (!MentionsWord(it->sql, name)) continue;
        if (exists && !MentionsWord(it->sql, "drop") && !MentionsWord(it->sql, "rename")) continue;
        Add(false, file, statement.line,
            label + "cannot be prepared before the statement [" + it->label + "] at " + it->file +
                ":" + std::to_string(it->line) + " has run: it uses \"" + name +
                "\", which that statement creates or changes (" + description + ").");
        return std::nullopt;
      }
    }
    Add(true, file, statement.line, label + "cannot be prepared: " + description);
    return std::nullopt;
  }
}

void Checker::CheckVariablesShown() {
  if (!outline_) return;
  std::set<std::string> reported;
  std::set<std::string> held;
  for (const std::string& name : outline_->variables) held.insert(Lower(name));
  for (const OutlineField& field : outline_->fields) {
    if (field.type != "DOCVARIABLE" || !field.computed || field.argument.empty()) continue;
    const std::string key = Lower(field.argument);
    if (set_variables_.count(key) || held.count(key) || !reported.insert(key).second) continue;
    Add(false, template_name_, 0,
        "the DOCVARIABLE field \"" + field.argument + "\" (" + FieldWhere(field) +
            ") shows a variable that no statement sets and the template does not hold: the "
            "report shows \"Error! No document variable supplied.\".");
  }
}

// Relative names are read from the current folder, as a run reads them. A
// configuration checked from another folder often means them from its own:
// the names that do not exist say where they were looked for, and one
// warning says why.
void Checker::NameTheCurrentFolder() {
  std::error_code failure;
  const std::filesystem::path here = std::filesystem::current_path(failure);
  if (failure) return;
  const std::filesystem::path own =
      std::filesystem::weakly_canonical(std::filesystem::absolute(pub_.ini_file_name, failure),
                                        failure).parent_path();
  if (failure || own == std::filesystem::weakly_canonical(here, failure)) return;
  bool named = false;
  for (CheckFinding& finding : result_.findings) {
    const size_t at = finding.message.find("\" does not exist");
    if (at == std::string::npos) continue;
    const size_t open = finding.message.rfind('"', at - 1);
    if (open == std::string::npos || finding.message[open + 1] == '/') continue;
    finding.message.insert(at + 1, " in the current folder \"" + here.string() + "\"");
    named = true;
  }
  // Names that exist by chance in the current folder are relative all the
  // same: the warning stands whenever the configuration uses one.
  auto relative = [](const std::string& name) { return !name.empty() && name.front() != '/'; };
  bool uses_relative = false;
  for (const char* key : {"LogFileName", "ReportTemplateFileName", "ReportFileName", "PdfFileName"})
    uses_relative = uses_relative || relative(Read("FILE", key));
  const std::string dsn = Read("ODBC", "DSN");
  if (dsn.starts_with("sqlite:") && dsn != "sqlite::memory:")
    uses_relative = uses_relative || relative(dsn.substr(7));
  for (const std::string& key : pub_.ini.Keys("SQLFILE"))
    if (key.size() > 1 && key[0] == 'f' && std::isdigit(static_cast<unsigned char>(key[1])))
      uses_relative = uses_relative || relative(Read("SQLFILE", key.c_str()));
  if (named || uses_relative)
    Add(false, pub_.ini_file_name, 0,
        "relative names are read from the current folder \"" + here.string() +
            "\", not from the configuration's folder \"" + own.string() +
            "\": run the report from there (cd \"" + own.string() + "\") or give whole paths.");
}

}  // namespace

std::string CheckFinding::Line() const {
  std::string text = file;
  if (line > 0) text += ":" + std::to_string(line);
  return text + (error ? ": error: " : ": warning: ") + message;
}

std::vector<std::string> CheckResult::Lines(const std::string& ini_file_name) const {
  std::vector<std::string> lines;
  for (const CheckFinding& finding : findings) lines.push_back(finding.Line());
  lines.push_back((ini_file_name.empty() ? std::string("vantrelle") : ini_file_name) + ": " +
                  Count(errors, "error", "errors") + ", " + Count(warnings, "warning", "warnings") +
                  ".");
  return lines;
}

int CheckResult::ExitStatus() const {
  if (no_run) return 2;
  return errors > 0 ? 1 : 0;
}

CheckResult CheckReport(PubDef& pub, bool connect) { return Checker(pub, connect).Run(); }

int CheckCommand(const std::vector<std::string>& words, const std::string& exe_path) {
  // "--connect" may stand anywhere among the words; the others follow the
  // run's grammar.
  bool connect = false;
  std::vector<std::string> run_words;
  for (const std::string& word : words) {
    if (word == "--connect")
      connect = true;
    else
      run_words.push_back(word);
  }
  PubDef pub;
  pub.interactive = false;
  ParseCommandWords(run_words, pub);
  if (pub.ini_file_name.empty())
    pub.ini_file_name = FindDefaultConfiguration(pub.file_system, exe_path, std::getenv("windir"));
  try {
    ReadParameters(pub);
    CheckResult result = CheckReport(pub, connect);
    for (const std::string& line : result.Lines(pub.ini_file_name)) std::cout << line << "\n";
    return result.ExitStatus();
  } catch (const std::exception& error) {
    std::cerr << "vantrelle: the check ended abnormally: " << error.what() << "\n";
    return 1;
  }
}

}  // namespace vantrelle
