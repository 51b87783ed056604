// Program-wide state: what the design calls the shared module.
//
// One PubDef lives for the process (main builds it); every routine of a run
// reads and writes it through a reference, and tests make their own. The
// database connection and the open document are not here: the run driver
// owns them for the length of one run.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/file_system.h"
#include "base/ini_file.h"
#include "base/output_file.h"
#include "base/run_observer.h"
#include "base/run_stop.h"

namespace vantrelle {

/// One report parameter: the [PARAMETER] keys NameN, DescN, DefaultN.
struct ParameterRecord {
  std::string name;
  std::string desc;
  std::string value;   ///< the value for this run: default, then command line, then dialog
  int16_t number = 0;  ///< the key number N it was read from
  /// PatternN: a regular expression (ECMAScript) the whole value must match;
  /// empty: any value.
  std::string pattern = {};
  /// ChoicesN: the allowed values, split at "|"; none: any value.
  std::vector<std::string> choices = {};
};

inline constexpr int kMaxCommandValues = 10;
inline constexpr int kMaxParameters = 10;

struct PubDef {
  /// False after -C: batch mode, no window is touched.
  bool interactive = true;

  std::string ini_file_name;
  /// The configuration file as read at the start of the current run; the
  /// run looks up every key here.
  IniFile ini;
  std::string template_file_name;
  std::string report_file_name;
  std::string log_file_name;
  /// The PDF copy of the report; empty when the configuration asks for none.
  std::string pdf_file_name;
  /// When set (VANTRELLE_OUTPUT_FOLDER, batch mode), the report, its PDF and
  /// the log go into this folder under their own file names, wherever the
  /// configuration puts them: the console gives each run a folder of its own.
  std::string output_folder;
  std::string dsn;
  std::string db_user;
  std::string db_pwd;
  /// [ODBC] ConnectTimeout and QueryTimeout in seconds; 0: no limit.
  int connect_timeout = 0;
  int query_timeout = 0;

  std::array<std::string, kMaxCommandValues + 1> command_values;
  int16_t command_value_count = 0;

  std::array<ParameterRecord, kMaxParameters + 1> parameters;
  int16_t parameter_count = 0;

  /// Set when the user confirms a run in the window's question or dialog.
  bool run_confirmed = false;

  // Run counters, reset at the start of every run.
  int16_t sql_file_count = 0;
  int16_t sql_stm_count = 0;
  /// Not bound to 16 bits: a run may log any number of errors.
  int32_t error_count = 0;
  int16_t log_box_lines = 0;

  FileSystem file_system;
  /// The open run log; null before the first run and after a failed create.
  std::unique_ptr<TextWriter> log_stream;
  /// The folders of the run's outputs, opened once at the start of a run.
  OutputFolder report_folder;
  OutputFolder log_folder;
  OutputFolder pdf_folder;
  /// The locks of the run's report and log names, held while a run lasts.
  OutputLock report_lock;
  OutputLock log_lock;
  /// Set when the run did not start because another run holds a lock.
  bool output_busy = false;
  /// Why the run log could not be written, after the first failed write;
  /// empty while the log takes lines.
  std::string log_failure;

  /// Requests to stop the run in progress: signals, the window's Stop.
  RunStop stop;

  /// The main window, or null (batch mode, tests). Not owned.
  RunObserver* observer = nullptr;

  /// Local time now; tests replace it to pin time stamps and date macros.
  std::function<std::tm()> clock = LocalNow;

  /// The window to report to: the observer when interactive, else null.
  RunObserver* Window() const { return interactive ? observer : nullptr; }

  static std::tm LocalNow();
};

}  // namespace vantrelle
