// The files a run writes (the log, the report, the PDF copy) in folders that
// other local users may write too.
//
// Nothing is written through a link planted at an output's name or into a
// pipe or a device found there: an output is opened or replaced only over a
// regular file, and never with a call that could block. New files get the
// mode the process's umask allows, as any file a program creates.
//
// One run per output name at a time: a run holds an exclusive lock on a lock
// file beside each of its outputs, ".<name>.vantrelle-lock", which names the
// process that holds it. The final rename of the report does not touch it, so
// the lock lasts the whole run; the run removes the file when it ends.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <utility>

namespace vantrelle {

/// The process's file mode creation mask.
mode_t ProcessUmask();

/// The mode a new output file gets: 0666 less the umask.
mode_t NewFileMode();

/// What stands at \a path when it is something an output may not be written
/// over ("a named pipe (FIFO)", "a character device", "a block device",
/// "a socket"), following a link to it; empty when nothing is there or it is
/// a regular file, a folder or a dangling link.
std::string NonFileAt(const std::string& path);

/// The folder part of \a path ("." when it has none) and its file name.
struct PathParts {
  std::string folder;
  std::string base;
};
PathParts SplitPath(const std::string& path);

/// Creates a new file beside \a path named ".<name>.vantrelle-<pid>-XXXXXX"
/// followed by the name's extension, which only its owner may read and
/// write, and returns it open for reading and writing, or -1 with errno set.
/// \a temp receives its name.
int CreateHiddenBeside(const std::string& path, std::string& temp);

/// An exclusive lock on the lock file of one output name, for the length of
/// a run.
class OutputLock {
 public:
  OutputLock() = default;
  ~OutputLock() { Release(); }
  OutputLock(OutputLock&& other) noexcept
      : lock_path_(std::move(other.lock_path_)), fd_(std::exchange(other.fd_, -1)) {}
  OutputLock& operator=(OutputLock&& other) noexcept {
    if (this != &other) {
      Release();
      lock_path_ = std::move(other.lock_path_);
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }

  /// Takes the lock of \a path's name. Returns false when another process
  /// holds it, with \a holder set to the process id its lock file names (0
  /// when unknown), or when something this run can neither use nor remove
  /// stands at the lock file's name (a folder, another user's file in a
  /// folder with the sticky bit), with \a problem saying so. A folder where
  /// no lock file can be made (read-only, not there) gives true without a
  /// lock: the run will fail there anyway, and say why in its log.
  bool Acquire(const std::string& path, long& holder, std::string* problem = nullptr);
  /// The lock file's name while the lock is held.
  const std::string& Path() const { return lock_path_; }
  /// Removes the lock file and lets the lock go; nothing when none is held.
  void Release();
  bool Held() const { return fd_ >= 0; }

 private:
  std::string lock_path_;
  int fd_ = -1;
};

/// The lock file's name for output \a base in \a folder.
std::string LockFileName(const std::string& folder, const std::string& base);

/// True when some process holds the lock of output \a base in \a folder
/// (this process included). Takes no lock itself.
bool OutputLockHeld(const std::string& folder, const std::string& base);

/// Removes the lock files in \a folder that killed runs left: those of
/// other names than \a own_base that no process holds (each taken for a
/// moment, so that nobody takes it meanwhile). Returns how many went.
int RemoveUnheldLocks(const std::string& folder, const std::string& own_base);

/// Opens the run log \a path for writing from its start: an existing regular
/// file of this user with no other name is emptied in place (so a process
/// that rotates logs by copying and truncating finds no gap), and so is the
/// regular file a link of this user's or of root's leads to; anything else
/// at the name (another user's link, a file of another user or with other
/// names) is replaced by a new file. Refuses a folder, a pipe, a device or a
/// socket, also at the end of a link.
/// Throws Error "Cannot create "path": reason.".
std::FILE* OpenRunLog(const std::string& path);

}  // namespace vantrelle
