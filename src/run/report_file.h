// The report's working copy: a run builds the report in a temporary file in
// the report's folder and renames it over the report's name only when it has
// been saved, so the earlier report is untouched by a run that fails, ends
// early or is killed.
//
// A working copy is named ".<report name>.vantrelle-<pid>-XXXXXX<extension>"
// (the extension kept, since the document engine reads it), and the process
// holds a lock on it while it lives. A run first removes the working copies
// (and the save's own temporary files beside them) that earlier runs of the
// same report left when they were killed: only names of this pattern, only
// when their process is gone and nobody holds their lock.
#pragma once

#include <string>

namespace vantrelle {

class ReportWorkingCopy {
 public:
  ReportWorkingCopy() = default;
  /// Removes the working copy unless it was committed.
  ~ReportWorkingCopy();
  ReportWorkingCopy(const ReportWorkingCopy&) = delete;
  ReportWorkingCopy& operator=(const ReportWorkingCopy&) = delete;

  /// Removes stale working copies of \a report, then copies \a source into a
  /// new working copy beside \a report, readable and writable by its owner.
  /// Throws Error naming the file that failed; nothing is then left behind.
  void Create(const std::string& report, const std::string& source);
  /// The working copy's path; empty before Create and after Commit/Discard.
  const std::string& Path() const { return temp_; }
  /// Renames the working copy over the report. Throws Error with the system's
  /// reason; the working copy then stays until Discard.
  void Commit();
  /// Removes the working copy, if any; never fails.
  void Discard();

 private:
  void Release();

  std::string report_;
  std::string temp_;
  int lock_fd_ = -1;
};

/// Removes the stale working copies of \a report (see above) and returns
/// how many files were removed.
int RemoveStaleWorkingCopies(const std::string& report);

}  // namespace vantrelle
