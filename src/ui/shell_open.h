// Handing a document to the program the desktop associates with its type.
//
// A ShellLauncher asks the desktop to open a file and answers with a shell
// result code: more than 32 is success, 0 to 32 a failure code. ShellOpen
// turns a failure code into the numbered error and message users know from
// the shell's failure table.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "run/help_page.h"

namespace vantrelle {

/// Base of the error numbers of failure codes that have none of their own.
inline constexpr int32_t kShellErrorBase = static_cast<int32_t>(0x80040418u);

/// A shell result code that means "accepted".
inline constexpr int kShellAccepted = 42;

/// A failed open: the error number and its message.
struct ShellFailure {
  int32_t number = 0;
  std::string message;
};

/// The error number and message of failure code \a code (0 to 32).
ShellFailure ShellFailureFor(int code);

class ShellLauncher {
 public:
  virtual ~ShellLauncher() = default;
  /// Opens \a file with the action \a verb ("open"); returns the shell
  /// result code.
  virtual int Execute(const std::string& file, const std::string& verb) = 0;

  /// Called on the window's thread when an open that Execute accepted fails
  /// afterwards, with the failure code (1 to 32); may be empty.
  std::function<void(int code)> on_late_failure;
};

/// Opens files with the desktop's opener program (xdg-open). The opener runs
/// detached, in a session of its own, and is never waited for: without a
/// desktop environment it may run the browser in the foreground for as long
/// as the page is open, and it outlives the window. Execute fails at once
/// for a missing file or folder and for an opener that is not installed
/// ("No application is associated with this file type."); when the opener
/// ends later with a failure, its exit status is mapped onto the same codes
/// (2 "File not found", 3 and 4 no application, anything else the generic
/// failure) and passed to on_late_failure.
class XdgLauncher : public ShellLauncher {
 public:
  explicit XdgLauncher(std::string opener = "xdg-open");
  int Execute(const std::string& file, const std::string& verb) override;

 private:
  std::string opener_;
};

/// Opens \a file with \a verb through \a launcher. Returns true when it was
/// accepted; otherwise false with the failure in \a failure.
bool ShellOpen(ShellLauncher& launcher, const std::string& file, const std::string& verb,
               ShellFailure* failure);

}  // namespace vantrelle
