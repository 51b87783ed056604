// The run log and error reporting.
//
// Every step of a run leaves one time-stamped line in the run log:
// "[YYYYMMDD hh:mm:ss]    message", ending with CR LF. In interactive mode the
// message also goes to the main window's log box, which keeps at most eight
// messages: the first message of a run and every ninth one empty it first.
#pragma once

#include <ctime>
#include <stdexcept>
#include <string>
#include <string_view>

#include "base/error.h"
#include "base/pubdef.h"

namespace vantrelle {

/// Thrown by WriteLog once the run log cannot be written (the first failed
/// write and every write after it): the run driver catches it, says so where
/// the user sees it and ends the run.
class LogWriteError : public RunInterrupted {
 public:
  using RunInterrupted::RunInterrupted;
};

/// \a message as one line: every run of line breaks and tabs becomes one
/// space, and every other control character a visible escape ("\x1B", and
/// "\u009B" for those of the C1 range), so that a terminal showing the log
/// shows all of it.
std::string OneLine(std::string_view message);

/// The 23-character stamp "[YYYYMMDD hh:mm:ss]    " for \a when.
std::string LogStamp(const std::tm& when);

/// What a log line says after its stamp; empty for a line too short to
/// hold one.
inline std::string_view LogMessage(std::string_view line) {
  constexpr size_t kStampWidth = 23;
  return line.size() > kStampWidth ? line.substr(kStampWidth) : std::string_view();
}

/// Writes \a message as one log line (see OneLine). Throws Error when no log
/// is open, LogWriteError when the write fails (recording the reason in
/// pub.log_failure) or failed before; the log box is then left as it was.
void WriteLog(PubDef& pub, std::string_view message);

/// Logs an error as the two lines "Error: " + \a error_text and
/// "Error Info: " + \a info_text, counts it in ErrorCount and shows the new
/// count on the window. A failed write passes its exception to the caller.
/// Once a stop of the run was requested, throws RunStopped instead: an error
/// then is what the stop cut short, and the run says once why it ended.
void LogError(PubDef& pub, std::string_view error_text, std::string_view info_text);

/// Logs and counts the error that says why a stopped run ended, as LogError
/// does without its check for a stop.
void LogStopped(PubDef& pub, std::string_view error_text, std::string_view info_text);

/// Reports an error that cannot go to a log: a modal box in interactive
/// mode, standard error in batch mode (an unattended run never waits).
/// Nothing is logged or counted.
void ShowErrorBox(PubDef& pub, std::string_view message);

/// \a count with the locale's thousands separator: "#,##0" when
/// \a zero_shows_digit, else "#,###" (zero shows as nothing).
std::string FormatCount(int count, bool zero_shows_digit);

/// Adds one to a 16-bit run counter; throws Error "Overflow" past 32767.
void CountUp(int16_t& counter);

}  // namespace vantrelle
