// Checking a report before it runs.
//
// The check reads the configuration, the scripts and the template exactly as
// a run does (date macros, parameters, Windows paths and encodings) and
// reports every problem a run would meet, one finding per line, without
// creating a log, a report or a working copy and without connecting. Asked
// to connect, it also opens the data source read only and prepares each
// statement without running it.
//
// A finding's line has one stable form, the one compilers use, so that
// editors can jump to it:
//
//   FILE: error: MESSAGE          (a key of the configuration, the template)
//   FILE:LINE: warning: MESSAGE   (a statement of a script)
//
// Messages about a key begin with it ("[FILE] LogFileName ..."); messages
// about a statement begin with its label in brackets ("[Sales] ...").
#pragma once

#include <string>
#include <vector>

#include "base/pubdef.h"

namespace vantrelle {

struct CheckFinding {
  bool error = true;  ///< false for a warning
  std::string file;   ///< the configuration, a script or the template, as the run names it
  long line = 0;      ///< 1-based line in a script; 0 when the finding has none
  std::string message;

  /// "FILE[:LINE]: error|warning: MESSAGE".
  std::string Line() const;
};

struct CheckResult {
  std::vector<CheckFinding> findings;
  int errors = 0;
  int warnings = 0;
  /// True when a run would not even open its log: the configuration file is
  /// missing or unreadable, or the log could not be created.
  bool no_run = false;

  /// One line per finding, then the summary "FILE: 1 error, 2 warnings.".
  std::vector<std::string> Lines(const std::string& ini_file_name) const;
  /// 0 without errors (warnings allowed), 1 with errors, 2 when a run would
  /// end before its log (no_run), as for a run.
  int ExitStatus() const;
};

/// Checks the report of pub.ini_file_name with the report parameters in
/// pub.parameters (see ReadParameters). Sets pub.ini to the configuration as
/// read and changes nothing else of \a pub. Writes no file. With \a connect
/// it opens the data source read only and prepares every statement.
CheckResult CheckReport(PubDef& pub, bool connect);

/// `vantrelle --check [--connect] [-F configuration.ini] [values]`: \a words
/// are the words after "--check", "--connect" among them anywhere. Without
/// -F the configuration is looked up beside \a exe_path as for a run. Prints
/// the lines to standard output and returns the exit status.
int CheckCommand(const std::vector<std::string>& words, const std::string& exe_path);

}  // namespace vantrelle
