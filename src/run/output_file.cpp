#include "run/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <system_error>
#include <vector>

#include "run/error.h"

namespace vantrelle {
namespace {

std::string SystemMessage(int error) { return std::generic_category().message(error); }

[[noreturn]] void CannotCreate(const std::string& path, const std::string& reason) {
  throw Error("Cannot create \"" + path + "\": " + reason + ".");
}

std::string KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a named pipe (FIFO)";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "";
}

// An open file descriptor still names what \a path names.
bool SameFile(int fd, const std::string& path) {
  struct stat at_path;
  struct stat opened;
  return ::stat(path.c_str(), &at_path) == 0 && ::fstat(fd, &opened) == 0 &&
         at_path.st_dev == opened.st_dev && at_path.st_ino == opened.st_ino;
}

flock WholeFile(short type) {
  flock lock{};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return lock;
}

long ReadHolder(int fd) {
  char text[32] = {};
  ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  return n > 0 ? std::strtol(text, nullptr, 10) : 0;
}

// Puts a new, empty file of this process at \a path in place of whatever
// is there, and returns it open for appending.
int ReplaceWithNewFile(const std::string& path) {
  std::string temp;
  int fd = CreateHiddenBeside(path, temp);
  if (fd < 0) CannotCreate(path, SystemMessage(errno));
  if (::fchmod(fd, NewFileMode()) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
    int error = errno;
    ::unlink(temp.c_str());
    ::close(fd);
    CannotCreate(path, SystemMessage(error));
  }
  ::fcntl(fd, F_SETFL, O_APPEND);
  return fd;
}

}  // namespace

mode_t ProcessUmask() {
  // Reading the mask by setting it would race with other threads' files.
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtol(line.c_str() + 6, nullptr, 8));
  }
  mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

mode_t NewFileMode() { return 0666 & ~ProcessUmask(); }

std::string NonFileAt(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return "";
  return KindOf(st.st_mode);
}

PathParts SplitPath(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

int CreateHiddenBeside(const std::string& path, std::string& temp) {
  PathParts parts = SplitPath(path);
  size_t dot = parts.base.find_last_of('.');
  std::string extension =
      dot != std::string::npos && dot > 0 ? parts.base.substr(dot) : std::string();
  temp = parts.folder + "/." + parts.base + ".vantrelle-" + std::to_string(::getpid()) +
         "-XXXXXX" + extension;
  int fd = ::mkstemps(temp.data(), static_cast<int>(extension.size()));
  if (fd >= 0) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  return fd;
}

std::string LockFileName(const std::string& folder, const std::string& base) {
  return folder + "/." + base + ".vantrelle-lock";
}

bool OutputLock::Acquire(const std::string& path, long& holder, std::string* problem) {
  Release();
  holder = 0;
  PathParts parts = SplitPath(path);
  if (parts.base.empty()) return true;
  const std::string lock_path = LockFileName(parts.folder, parts.base);
  // What stands at the lock's name that this run can neither use nor remove
  // keeps it from running: a lock nobody can take is no lock.
  auto refuse = [&](const std::string& what) {
    if (problem != nullptr)
      *problem = "its lock file \"" + lock_path + "\" is " + what +
                 " that this run can neither use nor remove";
    return false;
  };
  int busy_tries = 0;
  for (int attempt = 0; attempt < 12; ++attempt) {
    int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                    NewFileMode());
    if (fd < 0) {
      const int error = errno;
      struct stat there;
      // Nothing there and none can be made: the run fails in this folder
      // anyway, and says why in its log.
      if (::lstat(lock_path.c_str(), &there) != 0) return true;
      if (error == EACCES && S_ISREG(there.st_mode) &&
          OutputLockHeld(parts.folder, parts.base)) {
        fd = ::open(lock_path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
          holder = ReadHolder(fd);
          ::close(fd);
        }
        return false;
      }
      // A link, a folder or a file of another user's that a gone run left.
      const bool folder = S_ISDIR(there.st_mode);
      if ((folder ? ::rmdir(lock_path.c_str()) : ::unlink(lock_path.c_str())) == 0) continue;
      return refuse(folder                       ? "a folder"
                    : S_ISLNK(there.st_mode)     ? "a link"
                    : there.st_uid != ::geteuid() ? "a file of another user"
                                                  : "a file");
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      const std::string kind = KindOf(st.st_mode);
      ::close(fd);
      if (::unlink(lock_path.c_str()) == 0) continue;
      return refuse(kind.empty() ? "not a file" : kind);
    }
    flock lock = WholeFile(F_WRLCK);
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
      holder = ReadHolder(fd);
      ::close(fd);
      // Another run's clean-up holds a left-over lock file for a moment
      // before it removes it; a run holds its lock for good.
      if (++busy_tries < 4) {
        ::usleep(50'000);
        continue;
      }
      return false;
    }
    // The run that held it before may have removed the file meanwhile: a
    // lock on a file without that name keeps nobody out.
    if (!SameFile(fd, lock_path)) {
      ::close(fd);
      continue;
    }
    std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
      [[maybe_unused]] ssize_t written = ::pwrite(fd, pid.data(), pid.size(), 0);
    }
    fd_ = fd;
    lock_path_ = lock_path;
    return true;
  }
  return refuse("a file that keeps changing");
}

void OutputLock::Release() {
  if (fd_ < 0) return;
  // Removed while still held, so that nobody takes a lock on a file that is
  // about to lose its name.
  if (SameFile(fd_, lock_path_)) ::unlink(lock_path_.c_str());
  ::close(fd_);
  fd_ = -1;
  lock_path_.clear();
}

bool OutputLockHeld(const std::string& folder, const std::string& base) {
  int fd = ::open(LockFileName(folder, base).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  flock lock = WholeFile(F_WRLCK);
  bool held = ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
  ::close(fd);
  return held;
}

int RemoveUnheldLocks(const std::string& folder, const std::string& own_base) {
  constexpr std::string_view kSuffix = ".vantrelle-lock";
  std::vector<std::string> paths;
  if (DIR* entries = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(entries)) {
      std::string_view name = entry->d_name;
      if (name.size() > kSuffix.size() + 1 && name.starts_with('.') && name.ends_with(kSuffix) &&
          name.substr(1, name.size() - 1 - kSuffix.size()) != own_base)
        paths.push_back(folder + "/" + std::string(name));
    }
    ::closedir(entries);
  }
  int removed = 0;
  for (const std::string& path : paths) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    flock lock = WholeFile(F_WRLCK);
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::fcntl(fd, F_OFD_SETLK, &lock) == 0 &&
        SameFile(fd, path) && ::unlink(path.c_str()) == 0)
      ++removed;
    ::close(fd);
  }
  return removed;
}

std::FILE* OpenRunLog(const std::string& path) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    int fd = -1;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
      if (errno != ENOENT) CannotCreate(path, SystemMessage(errno));
      fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_CLOEXEC,
                  0666);
      if (fd < 0 && errno == EEXIST) continue;
      if (fd < 0) CannotCreate(path, SystemMessage(errno));
    } else if (S_ISDIR(st.st_mode)) {
      CannotCreate(path, SystemMessage(EISDIR));
    } else if (std::string kind = KindOf(st.st_mode); !kind.empty()) {
      CannotCreate(path, "it is " + kind + ", not a regular file");
    } else if (S_ISLNK(st.st_mode) && (st.st_uid == ::geteuid() || st.st_uid == 0)) {
      // A link of this user's or the system's (/dev/stdout) is the
      // configuration's own choice: followed, but only to a regular file,
      // and only if it is still the same link once the file is open.
      fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_APPEND | O_CLOEXEC);
      if (fd < 0 && errno == ENOENT) {
        fd = ReplaceWithNewFile(path);  // it leads nowhere
      } else {
        if (fd < 0) CannotCreate(path, SystemMessage(errno));
        struct stat link, target;
        if (::lstat(path.c_str(), &link) != 0 || link.st_ino != st.st_ino ||
            link.st_dev != st.st_dev || ::fstat(fd, &target) != 0) {
          ::close(fd);
          continue;
        }
        if (!S_ISREG(target.st_mode)) {
          ::close(fd);
          const std::string kind = KindOf(target.st_mode);
          CannotCreate(path, "it is a link to " + (kind.empty() ? "a folder" : kind) +
                                 ", not to a regular file");
        }
        if (::ftruncate(fd, 0) != 0) {
          int error = errno;
          ::close(fd);
          CannotCreate(path, SystemMessage(error));
        }
        ::fcntl(fd, F_SETFL, O_APPEND);
      }
    } else if (S_ISLNK(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1) {
      // Another user's link is never written through, nor a file another
      // user may read or that has other names: a new file takes the name.
      fd = ReplaceWithNewFile(path);
    } else {
      fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_APPEND | O_CLOEXEC);
      if (fd < 0 && (errno == ELOOP || errno == ENOENT)) continue;
      if (fd < 0) CannotCreate(path, SystemMessage(errno));
      struct stat opened;
      if (::fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
        ::close(fd);
        continue;
      }
      if (::ftruncate(fd, 0) != 0) {
        int error = errno;
        ::close(fd);
        CannotCreate(path, SystemMessage(error));
      }
      ::fcntl(fd, F_SETFL, O_APPEND);
    }
    std::FILE* file = ::fdopen(fd, "ab");
    if (file == nullptr) {
      int error = errno;
      ::close(fd);
      CannotCreate(path, SystemMessage(error));
    }
    return file;
  }
  CannotCreate(path, "another process keeps replacing the file");
}

}  // namespace vantrelle
