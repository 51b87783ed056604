#include "run/configuration.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "data/connection.h"
#include "base/error.h"
#include "base/ini_file.h"
#include "base/output_file.h"
#include "base/run_log.h"
#include "base/text_scan.h"
#include "base/whole_number.h"
#include "sql/parameters.h"
#include "version.h"

namespace vantrelle {
namespace {

const char kConfigIncorrect[] = "The information in the configuration file is incorrect.";

std::string ReadTrimmed(const PubDef& pub, const char* section, const char* key) {
  return TrimSpaces(pub.ini.Get(section, key));
}

std::string TooLong(const char* section, const char* key) {
  return "[" + std::string(section) + "] " + key + " is " + std::to_string(kMaxIniValue) +
         " bytes long or longer; a value that long would be cut, so it is not used.";
}

// The configured file name as found here (see LocateConfiguredFile); a
// Windows path that cannot be taken over is an error naming the key.
std::string Located(const PubDef& pub, const std::string& key, const std::string& name,
                    bool output) {
  try {
    return pub.file_system.LocateConfiguredFile(name, output);
  } catch (const Error& error) {
    throw Error(key + " " + error.Description());
  }
}

// Located, or the name as written when it is a Windows path: for the
// comparisons of outputs with inputs, which must not fail themselves.
std::string LocatedOrAsWritten(const PubDef& pub, const std::string& name, bool output) {
  try {
    return pub.file_system.LocateConfiguredFile(name, output);
  } catch (const Error&) {
    return name;
  }
}

// A file the run reads, known by its identity so that another spelling or a
// link of it is recognised.
struct InputFile {
  std::string what;  // how the message names it
  dev_t device;
  ino_t inode;
};

void AddInput(std::vector<InputFile>& inputs, std::string what, const std::string& path) {
  struct stat st;
  if (!path.empty() && ::stat(path.c_str(), &st) == 0)
    inputs.push_back({std::move(what), st.st_dev, st.st_ino});
}

// Every file of the configuration that the run reads.
std::vector<InputFile> RunInputs(const PubDef& pub) {
  std::vector<InputFile> inputs;
  AddInput(inputs, "the configuration file \"" + pub.ini_file_name + "\"", pub.ini_file_name);
  std::string name = ReadTrimmed(pub, "FILE", "ReportTemplateFileName");
  AddInput(inputs, "[FILE] ReportTemplateFileName \"" + name + "\"",
           LocatedOrAsWritten(pub, name, false));
  for (const std::string& file : DatabaseFilesNamedIn(ReadTrimmed(pub, "ODBC", "DSN")))
    AddInput(inputs, "the database file \"" + file + "\" of [ODBC] DSN", file);
  int jobs = 0;
  try {
    jobs = ToWholeNumber(ReadTrimmed(pub, "SQLFILE", "F_MAXNUM"));
  } catch (const Error&) {
  }
  for (int job = 1; job <= jobs; ++job) {
    std::string key = "F" + std::to_string(job);
    name = TrimSpaces(pub.ini.Get("SQLFILE", key));
    if (!name.empty())
      AddInput(inputs, "[SQLFILE] " + key + " \"" + name + "\"",
               LocatedOrAsWritten(pub, name, false));
  }
  return inputs;
}

// True when \a a and \a b spell the same path, also when neither file
// exists yet (so identities cannot be compared).
bool SamePath(const std::string& a, const std::string& b) {
  std::error_code error_a;
  std::error_code error_b;
  std::filesystem::path path_a = std::filesystem::weakly_canonical(a, error_a);
  std::filesystem::path path_b = std::filesystem::weakly_canonical(b, error_b);
  if (error_a || error_b) return a == b;
  return path_a == path_b;
}

// How the message names the input that \a path is, or "" when it is none.
std::string InputAt(const std::vector<InputFile>& inputs, const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "";
  for (const InputFile& input : inputs)
    if (input.device == st.st_dev && input.inode == st.st_ino) return input.what;
  return "";
}

std::string NotAFile(const char* key, const std::string& path, const std::string& kind) {
  return "[FILE] " + std::string(key) + " \"" + path + "\" is " + kind +
         ", not a file; the run writes only over a regular file.";
}

// False, with the configuration error logged, when the output of \a folder
// (configured by [FILE] \a key) is one the run may not write: a refused link
// on its folder's path, a pipe, device or socket at its name, or another
// user's file in a sticky folder, which only its owner may replace.
bool OutputUsable(PubDef& pub, const char* key, const OutputFolder& folder) {
  const std::string& path = folder.Path();
  std::string problem = folder.Refusal();
  if (problem.empty() && folder.IsOpen()) {
    struct stat st;
    if (::fstatat(folder.Fd(), folder.Base().c_str(), &st, 0) == 0 && !S_ISREG(st.st_mode) &&
        !S_ISDIR(st.st_mode))
      problem = NotAFile(key, path, NonFileAt(folder.Through(folder.Base())));
    else if (std::string sticky = StickyRefusal(folder, folder.Base()); !sticky.empty())
      problem = "[FILE] " + std::string(key) + " \"" + path + "\": " + sticky + ".";
  }
  if (problem.empty()) return true;
  LogError(pub, kConfigIncorrect, problem);
  return false;
}

// Takes the locks of the report's and the log's names. False, with the
// holder said where the user sees it, when another run holds one.
bool LockOutputs(PubDef& pub) {
  struct Output {
    OutputLock& lock;
    const OutputFolder& folder;
    const char* what;
  };
  const Output outputs[] = {
      {pub.report_lock, pub.report_folder, "The report file"},
      {pub.log_lock, pub.log_folder, "The run log"},
  };
  for (const Output& output : outputs) {
    if (output.folder.Path().empty()) continue;
    long holder = 0;
    std::string problem;
    if (output.lock.Acquire(output.folder, holder, &problem)) {
      // A second signal ends the process at once: its lock files go too.
      if (output.lock.Held()) pub.stop.AddScratchFile(output.lock.ScratchPath());
      continue;
    }
    ReleaseLocks(pub);
    const std::string why =
        !problem.empty() ? " cannot be locked: " + problem
                         : " is in use by another run of the report" +
                               (holder > 0 ? " (process " + std::to_string(holder) + ")" : "");
    ShowErrorBox(pub, std::string(output.what) + " \"" + output.folder.Path() + "\"" + why +
                          "; this run ended without touching the report or the run log.");
    return false;
  }
  // Lock files that killed runs left beside the log go (those beside the
  // report go with their working copies).
  RemoveUnheldLocks(pub.log_folder);
  return true;
}

}  // namespace

void ReleaseLocks(PubDef& pub) {
  for (OutputLock* lock : {&pub.report_lock, &pub.log_lock}) {
    if (lock->Held()) pub.stop.RemoveScratchFile(lock->ScratchPath());
    lock->Release();
  }
}

int ReadSeconds(const IniFile& ini, const char* key) {
  const std::string text = TrimSpaces(ini.Get("ODBC", key));
  if (text.empty()) return 0;
  long long seconds = -1;
  if (text.find_first_not_of("0123456789") == std::string::npos && text.size() <= 10)
    seconds = std::stoll(text);
  if (seconds < 0 || seconds > kMaxSeconds)
    throw Error("[ODBC] " + std::string(key) + " \"" + text +
                "\" is not a whole number of seconds from 0 to " + std::to_string(kMaxSeconds) +
                " (0: no limit).");
  return static_cast<int>(seconds);
}

namespace {

// \a name in pub.output_folder when one is set: the same file name (the
// last part of a Linux or Windows path) in that folder.
std::string Redirected(const PubDef& pub, const std::string& name) {
  if (pub.output_folder.empty() || name.empty()) return name;
  const size_t slash = name.find_last_of("/\\");
  return pub.output_folder + "/" + (slash == std::string::npos ? name : name.substr(slash + 1));
}

}  // namespace

bool LoadConfiguration(PubDef& pub) {
  const std::tm now = pub.clock();
  // The file is read once; every key of this run comes from this copy.
  std::string read_error;
  pub.ini = IniFile::Load(pub.ini_file_name, &read_error);
  pub.log_file_name =
      Redirected(pub, ExpandDateMacros(ReadTrimmed(pub, "FILE", "LogFileName"), now));
  const std::vector<InputFile> inputs = RunInputs(pub);
  // Nor may the log replace the earlier report.
  std::vector<InputFile> log_clashes = inputs;
  const std::string report =
      Redirected(pub, ExpandDateMacros(ReadTrimmed(pub, "FILE", "ReportFileName"), now));
  AddInput(log_clashes, "[FILE] ReportFileName \"" + report + "\"",
           LocatedOrAsWritten(pub, report, true));
  const std::string pdf =
      Redirected(pub, ExpandDateMacros(ReadTrimmed(pub, "FILE", "PdfFileName"), now));
  AddInput(log_clashes, "[FILE] PdfFileName \"" + pdf + "\"", LocatedOrAsWritten(pub, pdf, true));

  // The previous run's log is closed before the new one is created.
  pub.log_stream.reset();
  pub.log_failure.clear();
  pub.output_busy = false;
  try {
    // An unreadable file would otherwise look like one without a log name.
    if (!read_error.empty())
      throw Error("Cannot read the configuration file \"" + pub.ini_file_name + "\": " +
                  read_error + ".");
    if (pub.ini.ReachesLimit("FILE", "LogFileName")) throw Error(TooLong("FILE", "LogFileName"));
    if (pub.log_file_name.empty())
      throw Error("The log file name is empty: [FILE] LogFileName is not set in \"" +
                  pub.ini_file_name + "\".");
    pub.log_file_name = Located(pub, "[FILE] LogFileName", pub.log_file_name, true);
    std::string input = InputAt(log_clashes, pub.log_file_name);
    if (!input.empty())
      throw Error("[FILE] LogFileName \"" + pub.log_file_name + "\" names the same file as " +
                  input + "; the run log never overwrites another file of the run.");
    // Another run of this report (or with this log) must not be disturbed:
    // neither file is touched before both are this run's.
    // The outputs' folders are opened once: every name the run uses there
    // from now on is looked up in the folder it opened now.
    pub.log_folder = OutputFolder::Open(pub.log_file_name);
    if (!pub.log_folder.Refusal().empty()) throw Error(pub.log_folder.Refusal());
    pub.report_folder = OutputFolder::Open(LocatedOrAsWritten(pub, report, true));
    pub.pdf_folder = OutputFolder();
    if (!LockOutputs(pub)) {
      pub.output_busy = true;
      return false;
    }
    pub.log_stream = pub.file_system.CreateTextFile(pub.log_folder);
  } catch (const Error& error) {
    ShowErrorBox(pub, error.Description());
    return false;
  }

  WriteLog(pub, std::string(kProductName) + " " + std::to_string(kVersionMajor) + "." +
                    std::to_string(kVersionMinor) + "." + std::to_string(kVersionRevision));
  WriteLog(pub, kLegalCopyright);
  WriteLog(pub, "Open log file successfully.");

  pub.template_file_name = ReadTrimmed(pub, "FILE", "ReportTemplateFileName");
  if (pub.ini.ReachesLimit("FILE", "ReportTemplateFileName")) {
    LogError(pub, kConfigIncorrect, TooLong("FILE", "ReportTemplateFileName"));
    return false;
  }
  if (TrimSpaces(pub.template_file_name).empty()) {
    LogError(pub, kConfigIncorrect,
             "[FILE] ReportTemplateFileName is not set: it names the Word template (.docx) the "
             "report is made from.");
    return false;
  }
  try {
    pub.template_file_name =
        Located(pub, "[FILE] ReportTemplateFileName", pub.template_file_name, false);
  } catch (const Error& error) {
    LogError(pub, kConfigIncorrect, error.Description());
    return false;
  }
  if (!pub.file_system.FileExists(pub.template_file_name)) {
    LogError(pub, kConfigIncorrect,
             "The template file \"" + pub.template_file_name + "\" does not exist.");
    return false;
  }

  pub.report_file_name =
      Redirected(pub, ExpandDateMacros(ReadTrimmed(pub, "FILE", "ReportFileName"), now));
  if (pub.ini.ReachesLimit("FILE", "ReportFileName")) {
    LogError(pub, kConfigIncorrect, TooLong("FILE", "ReportFileName"));
    return false;
  }
  if (pub.report_file_name.empty()) {
    LogError(pub, kConfigIncorrect, "The name of report file is invalid.");
    return false;
  }
  try {
    pub.report_file_name = Located(pub, "[FILE] ReportFileName", pub.report_file_name, true);
  } catch (const Error& error) {
    LogError(pub, kConfigIncorrect, error.Description());
    return false;
  }
  if (pub.report_folder.Path() != pub.report_file_name)
    pub.report_folder = OutputFolder::Open(pub.report_file_name);
  if (!OutputUsable(pub, "ReportFileName", pub.report_folder)) return false;
  std::vector<InputFile> taken = inputs;
  AddInput(taken, "[FILE] LogFileName \"" + pub.log_file_name + "\"", pub.log_file_name);
  std::string clash = InputAt(taken, pub.report_file_name);
  if (!clash.empty()) {
    LogError(pub, kConfigIncorrect,
             "[FILE] ReportFileName \"" + pub.report_file_name + "\" names the same file as " +
                 clash + "; the report never overwrites another file of the run.");
    return false;
  }

  // The PDF copy is optional: without the key the run writes none.
  pub.pdf_file_name =
      Redirected(pub, ExpandDateMacros(ReadTrimmed(pub, "FILE", "PdfFileName"), now));
  if (pub.ini.ReachesLimit("FILE", "PdfFileName")) {
    LogError(pub, kConfigIncorrect, TooLong("FILE", "PdfFileName"));
    return false;
  }
  if (!pub.pdf_file_name.empty()) {
    try {
      pub.pdf_file_name = Located(pub, "[FILE] PdfFileName", pub.pdf_file_name, true);
    } catch (const Error& error) {
      LogError(pub, kConfigIncorrect, error.Description());
      return false;
    }
    pub.pdf_folder = OutputFolder::Open(pub.pdf_file_name);
    if (!OutputUsable(pub, "PdfFileName", pub.pdf_folder)) return false;
    AddInput(taken, "[FILE] ReportFileName \"" + pub.report_file_name + "\"",
             pub.report_file_name);
    clash = InputAt(taken, pub.pdf_file_name);
    if (clash.empty() && SamePath(pub.pdf_file_name, pub.report_file_name))
      clash = "[FILE] ReportFileName \"" + pub.report_file_name + "\"";
    if (!clash.empty()) {
      LogError(pub, kConfigIncorrect,
               "[FILE] PdfFileName \"" + pub.pdf_file_name + "\" names the same file as " +
                   clash + "; the PDF file never overwrites another file of the run.");
      return false;
    }
  }

  pub.dsn = ReadTrimmed(pub, "ODBC", "DSN");
  if (pub.ini.ReachesLimit("ODBC", "DSN")) {
    LogError(pub, kConfigIncorrect, TooLong("ODBC", "DSN"));
    return false;
  }
  if (pub.dsn.empty()) {
    LogError(pub, kConfigIncorrect, "Data source name does not be set.");
    return false;
  }

  pub.db_user = ReadTrimmed(pub, "ODBC", "DBUSER");
  pub.db_pwd = ReadTrimmed(pub, "ODBC", "DBPWD");
  try {
    pub.connect_timeout = ReadSeconds(pub.ini, "ConnectTimeout");
    pub.query_timeout = ReadSeconds(pub.ini, "QueryTimeout");
  } catch (const Error& error) {
    LogError(pub, kConfigIncorrect, error.Description());
    return false;
  }
  // A value goes into the SQL text as it is: one that its parameter does not
  // allow never reaches a statement.
  for (int k = 0; k < pub.parameter_count; ++k) {
    const std::string problem = ParameterValueProblem(pub.parameters[k]);
    if (!problem.empty()) {
      LogError(pub, kConfigIncorrect, problem);
      return false;
    }
  }
  return true;
}

std::string OutputClash(const PubDef& pub, const std::string& key, const std::string& path) {
  const std::tm now = pub.clock();
  std::vector<InputFile> taken = RunInputs(pub);
  auto located = [&](const char* name) {
    return LocatedOrAsWritten(pub, ExpandDateMacros(ReadTrimmed(pub, "FILE", name), now), true);
  };
  const std::string log = located("LogFileName");
  const std::string report = located("ReportFileName");
  if (key == "LogFileName") {
    AddInput(taken, "[FILE] ReportFileName \"" + report + "\"", report);
    const std::string pdf = located("PdfFileName");
    AddInput(taken, "[FILE] PdfFileName \"" + pdf + "\"", pdf);
    return InputAt(taken, path);
  }
  AddInput(taken, "[FILE] LogFileName \"" + log + "\"", log);
  if (key == "ReportFileName") return InputAt(taken, path);
  AddInput(taken, "[FILE] ReportFileName \"" + report + "\"", report);
  std::string clash = InputAt(taken, path);
  if (clash.empty() && SamePath(path, report)) clash = "[FILE] ReportFileName \"" + report + "\"";
  return clash;
}

}  // namespace vantrelle
