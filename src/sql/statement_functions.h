// The statement functions that do not fill tables: execute for effect only
// (function 0), and set a document variable from a query (function 3). Each
// logs its own error and returns false; neither logs success.
#pragma once

#include <string>

#include "sql/report_session.h"

namespace vantrelle {

/// Runs \a sql on the connection; whatever it returns is released unread.
bool ExecuteStatement(ReportSession& session, const std::string& sql);

/// Sets document variable \a name to the first field of the first record of
/// \a sql. A query without records changes nothing and returns false without
/// an error; a Null first field is an error.
bool SetDocVariable(ReportSession& session, const std::string& name, const std::string& sql);

}  // namespace vantrelle
