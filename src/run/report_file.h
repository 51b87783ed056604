// The report's working copy: a run builds the report in a temporary file in
// the report's folder and renames it over the report's name only when it has
// been saved and written to disk, so the earlier report is untouched by a
// run that fails, ends early, is stopped or is killed.
//
// A working copy is named ".<report name>.vantrelle-<pid>-XXXXXX<extension>"
// (the extension kept, since the document engine reads it). Before it makes
// one, a run removes what killed runs left in the report's folder: working
// copies of any report name, the save's temporary files beside them
// ("<working copy>.XXXXXX") and the earlier reports kept during a rename,
// but only names of this pattern, and only when no run holds the lock of the
// report they belong to (see OutputLock) nor a lock on the file itself.
#pragma once

#include <sys/types.h>

#include <string>

namespace vantrelle {

class RunStop;

class ReportWorkingCopy {
 public:
  ReportWorkingCopy() = default;
  /// Removes the working copy unless it was committed.
  ~ReportWorkingCopy();
  ReportWorkingCopy(const ReportWorkingCopy&) = delete;
  ReportWorkingCopy& operator=(const ReportWorkingCopy&) = delete;

  /// Removes stale working copies beside \a report, then copies \a source
  /// into a new working copy beside \a report, which its owner may read and
  /// write. \a stop, when given, learns the working copy's name, so that a
  /// hard stop removes it. Throws Error naming the file that failed; nothing
  /// is then left behind.
  void Create(const std::string& report, const std::string& source, RunStop* stop = nullptr);
  /// The working copy's path; empty before Create and after Commit/Discard.
  const std::string& Path() const { return temp_; }
  /// Makes the saved working copy the report: checks that its name still
  /// holds the file this process wrote, gives it the report's mode (the
  /// earlier report's, or what the umask allows for a new one), writes it to
  /// disk, renames it over the report and writes the folder to disk. Throws
  /// Error with the reason; the earlier report is then in place again and the
  /// working copy stays until Discard.
  void Commit();
  /// After Commit, the committed report open for reading: what this run
  /// saved, whatever happens at the report's name since. -1 otherwise.
  int CommittedFile() const { return committed_fd_; }
  /// Removes the working copy, if any, and closes the committed file; never
  /// fails.
  void Discard();

 private:
  void Release();

  std::string report_;
  std::string temp_;
  mode_t mode_ = 0;
  int lock_fd_ = -1;
  int committed_fd_ = -1;
  RunStop* stop_ = nullptr;
};

/// Removes the stale working copies in the folder of \a report (see above)
/// and returns how many files were removed. The caller is the one run of
/// \a report: its own name's lock does not keep that name's copies.
int RemoveStaleWorkingCopies(const std::string& report);

}  // namespace vantrelle
