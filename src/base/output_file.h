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

#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

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

/// The folder of one output, opened once at the start of a run: every file
/// the run makes, replaces or removes there is named relative to this
/// descriptor, so that nobody can point the folder somewhere else meanwhile.
///
/// The folder's path is walked one name at a time. A link on the way is
/// followed only when it belongs to the run's own user or to root (the rule
/// the kernel applies to links in sticky folders, here for every folder,
/// group-writable ones too); any other link is refused. A folder that is not
/// there or cannot be searched leaves the object closed with the reason
/// kept, so that what the run then writes there fails with the system's
/// message, as it would without the folder opened ahead.
class OutputFolder {
 public:
  OutputFolder() = default;
  ~OutputFolder();
  OutputFolder(const OutputFolder& other);
  OutputFolder& operator=(const OutputFolder& other);
  OutputFolder(OutputFolder&& other) noexcept;
  OutputFolder& operator=(OutputFolder&& other) noexcept;

  /// Opens the folder of output \a path (see above).
  static OutputFolder Open(const std::string& path);

  bool IsOpen() const { return fd_ >= 0; }
  /// The descriptor (opened for path look-ups only), or -1.
  int Fd() const { return fd_; }
  /// Why the folder is not open: the system's error number (0 when it is).
  int OpenError() const { return error_; }
  /// Why the folder may not be used at all: a refused link, said for the
  /// user; empty otherwise.
  const std::string& Refusal() const { return refusal_; }
  /// The output's path as configured, its folder and its file name.
  const std::string& Path() const { return path_; }
  const std::string& Folder() const { return folder_; }
  const std::string& Base() const { return base_; }
  /// \a entry of this folder as a name that reaches it through the open
  /// descriptor, for libraries and programs that only take names.
  std::string Through(const std::string& entry) const;
  /// The folder opened for reading (listing, syncing), or -1 with errno set;
  /// the caller closes it.
  int OpenForReading() const;

 private:
  std::string path_;
  std::string folder_;
  std::string base_;
  std::string refusal_;
  int fd_ = -1;
  int error_ = ENOENT;
};

/// \a entry of the open folder \a folder_fd as a name that reaches it
/// through the descriptor ("/proc/self/fd/N/entry").
std::string ThroughDescriptor(int folder_fd, const std::string& entry);

/// The names in the open folder \a folder_fd, without "." and ".."; none
/// when it cannot be listed.
std::vector<std::string> FolderEntries(int folder_fd);

/// Removes the regular files in the open folder \a folder_fd and returns how
/// many went.
int EmptyFolder(int folder_fd);

/// The name under which a run sets an earlier file NAME aside in its
/// private folder while the new one takes its name.
std::string SetAsideName(const std::string& name);

/// Puts every file set aside in the private folder \a private_fd back under
/// its own name in \a folder_fd, where that name is free: what a run that
/// ended in the middle of publishing had moved away. Returns how many.
int RestoreSetAside(int private_fd, int folder_fd);

/// True when \a fd is the file that \a name in \a folder_fd names now (the
/// name not followed when it is a link).
bool SameFileAt(int fd, int folder_fd, const std::string& name);

/// The message for an output \a base in \a folder that this run may not
/// replace because it belongs to another user and the folder has the sticky
/// bit; empty when that is not so.
std::string StickyRefusal(const OutputFolder& folder, const std::string& base);

/// Creates a new file in \a folder_fd named ".<name>.vantrelle-<pid>-XXXXXX"
/// followed by \a name's extension, which only its owner may read and
/// write, and returns it open for reading and writing, or -1 with errno set.
/// \a temp receives its name.
int CreateHiddenIn(int folder_fd, const std::string& name, std::string& temp);

/// A name of that shape for output \a name, not yet used.
std::string HiddenName(const std::string& name);

/// An exclusive lock on the lock file of one output name, for the length of
/// a run.
class OutputLock {
 public:
  OutputLock() = default;
  ~OutputLock() { Release(); }
  OutputLock(OutputLock&& other) noexcept
      : folder_(std::move(other.folder_)),
        lock_name_(std::move(other.lock_name_)),
        lock_path_(std::move(other.lock_path_)),
        fd_(std::exchange(other.fd_, -1)) {}
  OutputLock& operator=(OutputLock&& other) noexcept {
    if (this != &other) {
      Release();
      folder_ = std::move(other.folder_);
      lock_name_ = std::move(other.lock_name_);
      lock_path_ = std::move(other.lock_path_);
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }

  /// Takes the lock of \a folder's output name. The lock file is this run's
  /// own: a regular file of its user with no other name, opened without
  /// following a link. Returns false when another process holds it, with
  /// \a holder set to the process id its lock file names (0 when unknown),
  /// or when something this run can neither use nor remove stands at the
  /// lock file's name (a folder, a file another user made, a file with other
  /// names, in a folder with the sticky bit), with \a problem saying so.
  /// Such a file is removed and made anew where the folder allows it, never
  /// written. A folder where no lock file can be made (read-only, not
  /// there) gives true without a lock: the run will fail there anyway, and
  /// say why in its log.
  bool Acquire(const OutputFolder& folder, long& holder, std::string* problem = nullptr);
  /// The same for the output at \a path.
  bool Acquire(const std::string& path, long& holder, std::string* problem = nullptr);
  /// The lock file's name while the lock is held.
  const std::string& Path() const { return lock_path_; }
  /// A name of the lock file that reaches it through the folder's
  /// descriptor, for removing it on a hard stop.
  std::string ScratchPath() const { return folder_.Through(lock_name_); }
  /// Removes the lock file and lets the lock go; nothing when none is held.
  void Release();
  bool Held() const { return fd_ >= 0; }

 private:
  OutputFolder folder_;
  std::string lock_name_;
  std::string lock_path_;
  int fd_ = -1;
};

/// The lock file's name for output \a base in \a folder.
std::string LockFileName(const std::string& folder, const std::string& base);

/// True when some process holds the lock of output \a base in \a folder
/// (this process included). Takes no lock itself.
bool OutputLockHeld(const OutputFolder& folder, const std::string& base);

/// Removes the lock files in \a folder that killed runs of this user left:
/// those of other names than its output's that no process holds (each taken
/// for a moment, so that nobody takes it meanwhile). Returns how many went.
int RemoveUnheldLocks(const OutputFolder& folder);

/// Opens the run log in \a folder for writing from its start: an existing
/// regular file of this user with no other name is emptied in place (so a
/// process that rotates logs by copying and truncating finds no gap), and so
/// is the regular file a link of this user's or of root's leads to; anything
/// else at the name (another user's link, a file of another user or with
/// other names) is replaced by a new file. Refuses a folder, a pipe, a
/// device or a socket, also at the end of a link, and a file of another user
/// in a folder with the sticky bit, which only its owner may replace.
/// Throws Error "Cannot create "path": reason.".
std::FILE* OpenRunLog(const OutputFolder& folder);
/// The same for the log at \a path.
std::FILE* OpenRunLog(const std::string& path);

}  // namespace vantrelle
