// The SQL script reader and the job list that feeds it.
//
// A script is read one line at a time. "#" outside quotes starts a comment;
// a line starting with "@" is a marker line "@label=control fields" that
// begins a statement; other lines are its SQL text, trimmed, with the report
// parameters substituted, joined by single spaces. Each statement is
// dispatched as soon as the next marker line or the end of the file shows it
// is complete, so a script of any length is never held whole in memory.
#pragma once

#include <cstdint>
#include <string>

#include "sql/report_session.h"

namespace vantrelle {

/// Reads script \a configured_path of job \a job (a name written on Windows
/// found as LocateConfiguredFile does) and dispatches its statements. A
/// missing file, or an error while reading, is logged and ends this script
/// only.
void ReadSqlScript(ReportSession& session, int16_t job, const std::string& configured_path);

/// Runs the jobs F1..F<F_MAXNUM> of [SQLFILE] in order; missing or blank
/// entries are skipped silently.
void RunSqlJobs(ReportSession& session);

}  // namespace vantrelle
