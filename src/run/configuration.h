// Loading a report's configuration at the start of a run.
#pragma once

#include <string>

#include "base/pubdef.h"

namespace vantrelle {

/// Reads [FILE] and [ODBC] of pub.ini_file_name into \a pub, creates the run
/// log (its name's date macros expanded) and writes its opening lines, then
/// checks the template, the report name and the data source. Returns false
/// at the first failure: with an error box when the log cannot be created,
/// else with the error logged and counted.
/// Before the log is created it takes the locks of the report's and the
/// log's names (pub.report_lock, pub.log_lock): when another run holds one,
/// it says so in an error box, sets pub.output_busy and returns false
/// without creating the log.
bool LoadConfiguration(PubDef& pub);

/// Lets the locks of the run's report and log names go, when the run ends.
void ReleaseLocks(PubDef& pub);

/// The largest time limit, in seconds, of [ODBC] ConnectTimeout and
/// QueryTimeout (what a limit in milliseconds can hold).
inline constexpr int kMaxSeconds = 2147483;

/// The [ODBC] time limit \a key of \a ini in seconds: 0 when absent or 0.
/// Throws Error naming the key when it is not a whole number from 0 to
/// kMaxSeconds.
int ReadSeconds(const IniFile& ini, const char* key);

/// For a check of the configuration in pub.ini: how LoadConfiguration's
/// message would name the file of the run that the output of [FILE] \a key
/// ("LogFileName", "ReportFileName" or "PdfFileName"), found at \a path,
/// would overwrite; empty when it overwrites none. The log is compared with
/// the run's inputs, the report and the PDF; the report with the inputs and
/// the log; the PDF with those and the report.
std::string OutputClash(const PubDef& pub, const std::string& key, const std::string& path);

}  // namespace vantrelle
