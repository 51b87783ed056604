// Loading a report's configuration at the start of a run.
#pragma once

#include "run/pubdef.h"

namespace vantrelle {

/// Reads [FILE] and [ODBC] of pub.ini_file_name into \a pub, creates the run
/// log (its name's date macros expanded) and writes its opening lines, then
/// checks the template, the report name and the data source. Returns false
/// at the first failure: with an error box when the log cannot be created,
/// else with the error logged and counted.
bool LoadConfiguration(PubDef& pub);

}  // namespace vantrelle
