// Loading a report's configuration at the start of a run.
#pragma once

#include <string>

#include "run/pubdef.h"

namespace vantrelle {

/// Reads [FILE] and [ODBC] of pub.ini_file_name into \a pub, creates the run
/// log (its name's date macros expanded) and writes its opening lines, then
/// checks the template, the report name and the data source. Returns false
/// at the first failure: with an error box when the log cannot be created,
/// else with the error logged and counted.
bool LoadConfiguration(PubDef& pub);

/// For a check of the configuration in pub.ini: how LoadConfiguration's
/// message would name the file of the run that the output of [FILE] \a key
/// ("LogFileName", "ReportFileName" or "PdfFileName"), found at \a path,
/// would overwrite; empty when it overwrites none. The log is compared with
/// the run's inputs, the report and the PDF; the report with the inputs and
/// the log; the PDF with those and the report.
std::string OutputClash(const PubDef& pub, const std::string& key, const std::string& path);

}  // namespace vantrelle
