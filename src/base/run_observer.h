// What the core tells the main window while a report runs.
//
// The window implements RunObserver; batch mode has none, and every report
// routine tests for it before touching the window, as the design's
// "Interactive" flag does. Texts are UTF-8.
#pragma once

#include <string_view>

namespace vantrelle {

/// The run-time boxes of the main window that the core writes.
enum class RunField {
  kTemplateFileName,
  kReportFileName,
  kLogFileName,
  kSqlFileCount,
  kSqlStmCount,
  kErrorCount,
};

class RunObserver {
 public:
  virtual ~RunObserver() = default;

  /// Empties the log box.
  virtual void ClearLogBox() = 0;
  /// Appends \a text (one message followed by CR LF) to the log box.
  virtual void AppendLogBox(std::string_view text) = 0;
  /// Replaces the text of one run-time box.
  virtual void SetField(RunField field, std::string_view text) = 0;
  /// Shows the modal error box titled with the product name; \a prompt is
  /// the whole text ("Error!", CR LF, "Error Info: " and the message).
  virtual void ShowErrorBox(std::string_view prompt) = 0;
};

}  // namespace vantrelle
