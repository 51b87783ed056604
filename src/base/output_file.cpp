#include "base/output_file.h"

#include <dirent.h>
#include <limits.h>
#include <pwd.h>
#include <sys/random.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <random>
#include <fstream>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "base/error.h"

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

bool LockHeldOn(int fd) {
  flock lock = WholeFile(F_WRLCK);
  return ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

// "user "name" (uid N)" for the messages that name an owner.
std::string UserText(uid_t uid) {
  std::vector<char> buffer(16384);
  passwd entry;
  passwd* found = nullptr;
  std::string text;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
    text = "user \"" + std::string(found->pw_name) + "\" ";
  else
    text = "user ";
  return text + "(uid " + std::to_string(uid) + ")";
}

// Puts a new, empty file of this process at the log's name in place of
// whatever is there, and returns it open for appending; -1 when the new file
// lost the name to another process before it could be opened.
int ReplaceWithNewFile(const OutputFolder& folder) {
  const std::string& path = folder.Path();
  std::string temp;
  int fd = CreateHiddenIn(folder.Fd(), folder.Base(), temp);
  if (fd < 0) CannotCreate(path, SystemMessage(errno));
  if (::fchmod(fd, NewFileMode()) != 0 ||
      ::renameat(folder.Fd(), temp.c_str(), folder.Fd(), folder.Base().c_str()) != 0) {
    int error = errno;
    std::string sticky = error == EPERM ? StickyRefusal(folder, folder.Base()) : "";
    ::unlinkat(folder.Fd(), temp.c_str(), 0);
    ::close(fd);
    CannotCreate(path, sticky.empty() ? SystemMessage(error) : sticky);
  }
  if (!SameFileAt(fd, folder.Fd(), folder.Base())) {
    ::close(fd);
    return -1;
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

OutputFolder::~OutputFolder() {
  if (fd_ >= 0) ::close(fd_);
}

OutputFolder::OutputFolder(const OutputFolder& other)
    : path_(other.path_),
      folder_(other.folder_),
      base_(other.base_),
      refusal_(other.refusal_),
      fd_(other.fd_ >= 0 ? ::fcntl(other.fd_, F_DUPFD_CLOEXEC, 0) : -1),
      error_(other.fd_ >= 0 && fd_ < 0 ? errno : other.error_) {}

OutputFolder& OutputFolder::operator=(const OutputFolder& other) {
  if (this != &other) *this = OutputFolder(other);
  return *this;
}

OutputFolder::OutputFolder(OutputFolder&& other) noexcept
    : path_(std::move(other.path_)),
      folder_(std::move(other.folder_)),
      base_(std::move(other.base_)),
      refusal_(std::move(other.refusal_)),
      fd_(std::exchange(other.fd_, -1)),
      error_(other.error_) {}

OutputFolder& OutputFolder::operator=(OutputFolder&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    path_ = std::move(other.path_);
    folder_ = std::move(other.folder_);
    base_ = std::move(other.base_);
    refusal_ = std::move(other.refusal_);
    fd_ = std::exchange(other.fd_, -1);
    error_ = other.error_;
  }
  return *this;
}

OutputFolder OutputFolder::Open(const std::string& path) {
  OutputFolder out;
  out.path_ = path;
  PathParts parts = SplitPath(path);
  out.folder_ = parts.folder;
  out.base_ = parts.base;
  // The names still to walk, the next one first.
  std::deque<std::string> names;
  auto walk_before = [&names](std::string_view text) {
    std::vector<std::string> more;
    for (size_t start = 0; start <= text.size();) {
      size_t slash = text.find('/', start);
      if (slash == std::string_view::npos) slash = text.size();
      if (slash > start) more.emplace_back(text.substr(start, slash - start));
      start = slash + 1;
    }
    names.insert(names.begin(), more.begin(), more.end());
  };
  const bool absolute = parts.folder.starts_with('/');
  int current = ::open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (current < 0) {
    out.error_ = errno;
    return out;
  }
  walk_before(parts.folder);
  std::string walked = absolute ? "/" : "";
  int links = 0;
  while (!names.empty()) {
    const std::string name = std::move(names.front());
    names.pop_front();
    if (name == ".") continue;
    const std::string here =
        walked.empty() ? name : walked.back() == '/' ? walked + name : walked + "/" + name;
    int next = ::openat(current, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (next < 0 || ::fstat(next, &st) != 0) {
      out.error_ = errno;
      if (next >= 0) ::close(next);
      ::close(current);
      return out;
    }
    if (S_ISLNK(st.st_mode)) {
      char target[PATH_MAX];
      ssize_t length = -1;
      // Anyone who may write the folder that holds a link may have put it
      // there: only the run's own links and the system's are taken.
      if (st.st_uid != ::geteuid() && st.st_uid != 0) {
        out.refusal_ = "The folder \"" + here + "\" in the path of \"" + path +
                       "\" is a link that belongs to " + UserText(st.st_uid) +
                       "; an output's folder is reached only through links of the run's own "
                       "user or of root.";
        out.error_ = EPERM;
      } else if (++links > 40) {
        out.error_ = ELOOP;
      } else if ((length = ::readlinkat(next, "", target, sizeof target)) < 0 ||
                 length == static_cast<ssize_t>(sizeof target)) {
        out.error_ = length < 0 ? errno : ENAMETOOLONG;
        length = -1;
      }
      ::close(next);
      if (length < 0) {
        ::close(current);
        return out;
      }
      std::string_view text(target, static_cast<size_t>(length));
      if (text.starts_with('/')) {
        ::close(current);
        current = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (current < 0) {
          out.error_ = errno;
          return out;
        }
        walked = "/";
      }
      walk_before(text);
      continue;
    }
    ::close(current);
    current = next;
    if (!S_ISDIR(st.st_mode)) {
      out.error_ = ENOTDIR;
      ::close(current);
      return out;
    }
    walked = here;
  }
  out.fd_ = current;
  out.error_ = 0;
  return out;
}

std::string OutputFolder::Through(const std::string& entry) const {
  if (fd_ < 0) return (folder_ == "/" ? "" : folder_) + "/" + entry;
  return ThroughDescriptor(fd_, entry);
}

std::string ThroughDescriptor(int folder_fd, const std::string& entry) {
  return "/proc/self/fd/" + std::to_string(folder_fd) + "/" + entry;
}

std::vector<std::string> FolderEntries(int folder_fd) {
  std::vector<std::string> names;
  int listing = ::openat(folder_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return names;
  DIR* entries = ::fdopendir(listing);
  if (entries == nullptr) {
    ::close(listing);
    return names;
  }
  while (const dirent* entry = ::readdir(entries)) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(entries);
  return names;
}

bool SameFileAt(int fd, int folder_fd, const std::string& name) {
  struct stat at_name;
  struct stat opened;
  return ::fstatat(folder_fd, name.c_str(), &at_name, AT_SYMLINK_NOFOLLOW) == 0 &&
         ::fstat(fd, &opened) == 0 && at_name.st_dev == opened.st_dev &&
         at_name.st_ino == opened.st_ino;
}

int OutputFolder::OpenForReading() const {
  if (fd_ < 0) {
    errno = error_;
    return -1;
  }
  return ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

std::string StickyRefusal(const OutputFolder& folder, const std::string& base) {
  struct stat there;
  struct stat holder;
  if (!folder.IsOpen() || ::geteuid() == 0 ||
      ::fstatat(folder.Fd(), base.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 ||
      ::fstat(folder.Fd(), &holder) != 0)
    return "";
  if (there.st_uid == ::geteuid() || holder.st_uid == ::geteuid() ||
      (holder.st_mode & S_ISVTX) == 0)
    return "";
  return std::string(S_ISLNK(there.st_mode) ? "it is a link" : "it is a file") + " of " +
         UserText(there.st_uid) +
         " in a folder with the sticky bit, where only its owner may replace it";
}

std::string HiddenName(const std::string& name) {
  static const char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[6];
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    std::random_device device;
    for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(device());
  }
  std::string random;
  for (unsigned char byte : bytes) random += kLetters[byte % (sizeof kLetters - 1)];
  size_t dot = name.find_last_of('.');
  std::string extension = dot != std::string::npos && dot > 0 ? name.substr(dot) : std::string();
  return "." + name + ".vantrelle-" + std::to_string(::getpid()) + "-" + random + extension;
}

int CreateHiddenIn(int folder_fd, const std::string& name, std::string& temp) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = HiddenName(name);
    int fd = ::openat(folder_fd, temp.c_str(),
                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

std::string LockFileName(const std::string& folder, const std::string& base) {
  return folder + "/." + base + ".vantrelle-lock";
}

bool OutputLock::Acquire(const std::string& path, long& holder, std::string* problem) {
  return Acquire(OutputFolder::Open(path), holder, problem);
}

bool OutputLock::Acquire(const OutputFolder& folder, long& holder, std::string* problem) {
  Release();
  holder = 0;
  const std::string& base = folder.Base();
  // A folder where no lock file can be made: the run fails there anyway,
  // and says why in its log.
  if (base.empty() || !folder.IsOpen()) return true;
  const int dir = folder.Fd();
  const std::string name = "." + base + ".vantrelle-lock";
  const std::string lock_path = LockFileName(folder.Folder(), base);
  // What stands at the lock's name that this run can neither use nor remove
  // keeps it from running: a lock nobody can take is no lock.
  auto refuse = [&](const std::string& what) {
    if (problem != nullptr)
      *problem = "its lock file \"" + lock_path + "\" is " + what +
                 " that this run can neither use nor remove";
    return false;
  };
  // What is at the name and is not this run's to use goes, if it can.
  auto remove = [&](const struct stat& there) {
    return (S_ISDIR(there.st_mode) ? ::unlinkat(dir, name.c_str(), AT_REMOVEDIR)
                                   : ::unlinkat(dir, name.c_str(), 0)) == 0;
  };
  auto describe = [&](const struct stat& there) -> std::string {
    if (S_ISDIR(there.st_mode)) return "a folder";
    if (S_ISLNK(there.st_mode)) return "a link";
    if (!S_ISREG(there.st_mode)) {
      const std::string kind = KindOf(there.st_mode);
      return kind.empty() ? "not a file" : kind;
    }
    if (there.st_uid != ::geteuid()) return "a file of " + UserText(there.st_uid);
    return "a file with other names (hard links)";
  };
  int busy_tries = 0;
  for (int attempt = 0; attempt < 12; ++attempt) {
    int fd = ::openat(dir, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                      NewFileMode());
    struct stat st;
    if (fd < 0) {
      const int error = errno;
      if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT && error == ENOENT) continue;  // gone meanwhile
        return true;  // nothing there and none can be made
      }
      // A file this run may not open: another user's lock, held or left.
      if (S_ISREG(st.st_mode)) {
        int peek = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        // One this run cannot even read may be a live run's: never removed.
        if (peek < 0) return refuse(describe(st));
        const bool held = LockHeldOn(peek);
        if (held) holder = ReadHolder(peek);
        ::close(peek);
        if (held) return false;
      }
      if (remove(st)) continue;
      return refuse(describe(st));
    }
    if (::fstat(fd, &st) != 0) {
      ::close(fd);
      continue;
    }
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1) {
      // Not a file this run made: never written, whoever holds it.
      if (S_ISREG(st.st_mode) && LockHeldOn(fd)) {
        holder = ReadHolder(fd);
        ::close(fd);
        return false;
      }
      const bool same = SameFileAt(fd, dir, name);
      ::close(fd);
      if (!same || remove(st)) continue;
      return refuse(describe(st));
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
    if (!SameFileAt(fd, dir, name)) {
      ::close(fd);
      continue;
    }
    // Readable by everyone, so that another user's run can tell it is held.
    ::fchmod(fd, 0644);
    std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
      [[maybe_unused]] ssize_t written = ::pwrite(fd, pid.data(), pid.size(), 0);
    }
    fd_ = fd;
    folder_ = folder;
    lock_name_ = name;
    lock_path_ = lock_path;
    return true;
  }
  return refuse("a file that keeps changing");
}

void OutputLock::Release() {
  if (fd_ < 0) return;
  // Removed while still held, so that nobody takes a lock on a file that is
  // about to lose its name.
  if (SameFileAt(fd_, folder_.Fd(), lock_name_)) ::unlinkat(folder_.Fd(), lock_name_.c_str(), 0);
  ::close(fd_);
  fd_ = -1;
  folder_ = OutputFolder();
  lock_name_.clear();
  lock_path_.clear();
}

bool OutputLockHeld(const OutputFolder& folder, const std::string& base) {
  if (!folder.IsOpen()) return false;
  const std::string name = "." + base + ".vantrelle-lock";
  int fd = ::openat(folder.Fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  bool held = LockHeldOn(fd);
  ::close(fd);
  return held;
}

int RemoveUnheldLocks(const OutputFolder& folder) {
  constexpr std::string_view kSuffix = ".vantrelle-lock";
  std::vector<std::string> names;
  if (!folder.IsOpen()) return 0;
  for (std::string& name : FolderEntries(folder.Fd())) {
    std::string_view view = name;
    if (view.size() > kSuffix.size() + 1 && view.starts_with('.') && view.ends_with(kSuffix) &&
        view.substr(1, view.size() - 1 - kSuffix.size()) != folder.Base())
      names.push_back(std::move(name));
  }
  int removed = 0;
  for (const std::string& name : names) {
    int fd = ::openat(folder.Fd(), name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    flock lock = WholeFile(F_WRLCK);
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        ::fcntl(fd, F_OFD_SETLK, &lock) == 0 && SameFileAt(fd, folder.Fd(), name) &&
        ::unlinkat(folder.Fd(), name.c_str(), 0) == 0)
      ++removed;
    ::close(fd);
  }
  return removed;
}

std::FILE* OpenRunLog(const std::string& path) { return OpenRunLog(OutputFolder::Open(path)); }

std::FILE* OpenRunLog(const OutputFolder& folder) {
  const std::string& path = folder.Path();
  if (!folder.Refusal().empty()) throw Error(folder.Refusal());
  const std::string& base = folder.Base();
  if (base.empty() || base == "." || base == "..") CannotCreate(path, SystemMessage(EISDIR));
  if (!folder.IsOpen()) CannotCreate(path, SystemMessage(folder.OpenError()));
  const int dir = folder.Fd();
  const char* name = base.c_str();
  for (int attempt = 0; attempt < 8; ++attempt) {
    int fd = -1;
    struct stat st;
    if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) CannotCreate(path, SystemMessage(errno));
      fd = ::openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_CLOEXEC,
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
      fd = ::openat(dir, name, O_WRONLY | O_NONBLOCK | O_APPEND | O_CLOEXEC);
      if (fd < 0 && errno == ENOENT) {
        fd = ReplaceWithNewFile(folder);  // it leads nowhere
        if (fd < 0) continue;
      } else {
        if (fd < 0) CannotCreate(path, SystemMessage(errno));
        struct stat link, target;
        if (::fstatat(dir, name, &link, AT_SYMLINK_NOFOLLOW) != 0 || link.st_ino != st.st_ino ||
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
      fd = ReplaceWithNewFile(folder);
      if (fd < 0) continue;
    } else {
      fd = ::openat(dir, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_APPEND | O_CLOEXEC);
      if (fd < 0 && (errno == ELOOP || errno == ENOENT)) continue;
      if (fd < 0) CannotCreate(path, SystemMessage(errno));
      struct stat opened;
      if (::fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino ||
          opened.st_nlink != 1) {
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

int EmptyFolder(int folder_fd) {
  int removed = 0;
  for (const std::string& name : FolderEntries(folder_fd)) {
    struct stat st;
    if (::fstatat(folder_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode) &&
        ::unlinkat(folder_fd, name.c_str(), 0) == 0)
      ++removed;
  }
  return removed;
}

std::string SetAsideName(const std::string& name) { return name + ".vantrelle-earlier"; }

int RestoreSetAside(int private_fd, int folder_fd) {
  static constexpr std::string_view kSuffix = ".vantrelle-earlier";
  int restored = 0;
  for (const std::string& entry : FolderEntries(private_fd)) {
    if (entry.size() <= kSuffix.size() || !entry.ends_with(kSuffix)) continue;
    const std::string name = entry.substr(0, entry.size() - kSuffix.size());
    if (::renameat2(private_fd, entry.c_str(), folder_fd, name.c_str(), RENAME_NOREPLACE) == 0) {
      ++restored;
      continue;
    }
    // A file system that cannot rename without replacing: only where the
    // name is still free.
    struct stat st;
    if ((errno == EINVAL || errno == ENOSYS) &&
        ::fstatat(folder_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT &&
        ::renameat(private_fd, entry.c_str(), folder_fd, name.c_str()) == 0)
      ++restored;
  }
  return restored;
}

}  // namespace vantrelle
