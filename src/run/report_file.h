// The report's working copy: a run builds the report in a private folder of
// its own inside the report's folder, where no other user can reach it, and
// renames it over the report's name only when it has been saved and written
// to disk, so the earlier report is untouched by a run that fails, ends
// early, is stopped or is killed, and nobody can hand the run another file
// to build on or to publish.
//
// The private folder is named ".<report name>.vantrelle-<pid>-XXXXXX<extension>"
// (mode 0700) and holds the working copy under the report's own name (the
// document engine reads its extension); the engine and its zip library reach
// it only through the private folder's descriptor. Before it makes one, a run
// removes what killed runs of its user left in the report's folder: private
// folders and working copies of any report name, the save's temporary files
// and the earlier reports kept during a rename, but only names of this
// pattern, only files and folders of its own user, and only when no run holds
// the lock of the report they belong to (see OutputLock) nor a lock on the
// private folder itself.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "base/output_file.h"

namespace vantrelle {

class RunStop;

class ReportWorkingCopy {
 public:
  ReportWorkingCopy() = default;
  /// Removes the working copy unless it was committed.
  ~ReportWorkingCopy();
  ReportWorkingCopy(const ReportWorkingCopy&) = delete;
  ReportWorkingCopy& operator=(const ReportWorkingCopy&) = delete;

  /// Removes stale working copies in \a folder, then copies \a source into a
  /// new working copy of \a folder's output. \a stop, when given, learns the
  /// private folder, so that a hard stop removes it. Throws Error naming the
  /// file that failed; nothing is then left behind.
  void Create(const OutputFolder& folder, const std::string& source, RunStop* stop = nullptr);
  /// The same for the output at \a report.
  void Create(const std::string& report, const std::string& source, RunStop* stop = nullptr);
  /// The working copy's path, through the private folder's descriptor;
  /// empty before Create and after Commit/Discard.
  const std::string& Path() const { return temp_; }
  /// Makes the saved working copy the report: checks that it is still the
  /// one file the save left, gives it the report's mode (the earlier
  /// report's, or what the umask allows for a new one), writes it to disk,
  /// renames it over the report and writes the folder to disk. Throws Error
  /// with the reason; the earlier report is then in place again and the
  /// working copy stays until Discard.
  void Commit();
  /// After Commit, the committed report open for reading: what this run
  /// saved, whatever happens at the report's name since. -1 otherwise.
  int CommittedFile() const { return committed_fd_; }
  /// Removes the working copy and its private folder, if any, and closes
  /// the committed file; never fails.
  void Discard();

 private:
  void RemovePrivateFolder();

  OutputFolder folder_;
  std::string temp_;
  std::string private_name_;
  int private_fd_ = -1;
  mode_t mode_ = 0;
  int committed_fd_ = -1;
  RunStop* stop_ = nullptr;
};

/// Removes the stale working copies in \a folder (see above) and returns how
/// many files and folders were removed. The caller is the one run of
/// \a folder's output: its own name's lock does not keep that name's copies.
int RemoveStaleWorkingCopies(const OutputFolder& folder);

}  // namespace vantrelle
