#include "run/report_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/error.h"
#include "base/output_file.h"
#include "base/run_stop.h"

namespace vantrelle {
namespace {

constexpr std::string_view kMarker = ".vantrelle-";

std::string SystemMessage(int error) { return std::generic_category().message(error); }

bool IsRandomPart(std::string_view text) {
  if (text.size() != 6) return false;
  for (char c : text)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

// The output name that folder entry \a entry belongs to when it is a working
// copy ".<name>.vantrelle-<pid>-XXXXXX<extension>", the save's temporary file
// beside one ("<working copy>.XXXXXX") or a kept earlier report (named as a
// working copy); empty otherwise.
std::string WorkingCopyOwner(std::string_view entry) {
  if (!entry.starts_with('.')) return "";
  size_t marker = entry.rfind(kMarker);
  if (marker == std::string_view::npos || marker < 2) return "";
  std::string_view name = entry.substr(1, marker - 1);
  std::string_view rest = entry.substr(marker + kMarker.size());
  size_t digits = 0;
  while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
  if (digits == 0 || digits > 9 || digits >= rest.size() || rest[digits] != '-') return "";
  rest.remove_prefix(digits + 1);
  if (rest.size() < 6 || !IsRandomPart(rest.substr(0, 6))) return "";
  rest.remove_prefix(6);
  size_t dot = name.find_last_of('.');
  std::string_view extension =
      dot != std::string_view::npos && dot > 0 ? name.substr(dot) : std::string_view();
  if (!rest.starts_with(extension)) return "";
  rest.remove_prefix(extension.size());
  if (!rest.empty() && (rest[0] != '.' || !IsRandomPart(rest.substr(1)))) return "";
  return std::string(name);
}

void CopyInto(int from, int to) {
  std::vector<char> buffer(1 << 18);
  for (;;) {
    ssize_t n = ::read(from, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::system_error(errno, std::generic_category());
    if (n == 0) return;
    for (ssize_t done = 0; done < n;) {
      ssize_t m = ::write(to, buffer.data() + done, static_cast<size_t>(n - done));
      if (m < 0 && errno == EINTR) continue;
      if (m < 0) throw std::system_error(errno, std::generic_category());
      done += m;
    }
  }
}

// Gives the earlier report in \a dir a second, hidden name, so that it can
// be put back if the new one does not reach the disk. Empty when there is
// none or it cannot be kept (the file system has no hard links).
std::string KeepEarlier(int dir, const std::string& base) {
  struct stat st;
  if (::fstatat(dir, base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return "";
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::string name = HiddenName(base);
    if (::linkat(dir, base.c_str(), dir, name.c_str(), 0) == 0) return name;
    if (errno != EEXIST) return "";
  }
  return "";
}

}  // namespace

int RemoveStaleWorkingCopies(const OutputFolder& folder) {
  if (!folder.IsOpen()) return 0;
  std::vector<std::pair<std::string, std::string>> candidates;  // entry, owner
  for (std::string& entry : FolderEntries(folder.Fd())) {
    std::string owner = WorkingCopyOwner(entry);
    if (!owner.empty()) candidates.emplace_back(std::move(entry), std::move(owner));
  }
  const int dir = folder.Fd();
  int removed = RemoveUnheldLocks(folder);
  for (const auto& [entry, owner] : candidates) {
    // The run that made it holds its report's lock for as long as it runs,
    // and a lock on its private folder while that exists. The lock of this
    // report's own name is the caller's.
    if (owner != folder.Base() && OutputLockHeld(folder, owner)) continue;
    int fd = ::openat(dir, entry.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    // Only this user's own leftovers go, whoever else may write the folder.
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        SameFileAt(fd, dir, entry)) {
      if (S_ISDIR(st.st_mode)) {
        // A run killed while it published left the earlier report here.
        RestoreSetAside(fd, dir);
        EmptyFolder(fd);
        if (::unlinkat(dir, entry.c_str(), AT_REMOVEDIR) == 0) ++removed;
      } else if (S_ISREG(st.st_mode) && ::unlinkat(dir, entry.c_str(), 0) == 0) {
        ++removed;
      }
    }
    ::close(fd);
  }
  return removed;
}

ReportWorkingCopy::~ReportWorkingCopy() { Discard(); }

void ReportWorkingCopy::Create(const std::string& report, const std::string& source,
                               RunStop* stop) {
  Create(OutputFolder::Open(report), source, stop);
}

void ReportWorkingCopy::Create(const OutputFolder& folder, const std::string& source,
                               RunStop* stop) {
  Discard();
  const std::string& report = folder.Path();
  const std::string& base = folder.Base();
  const std::string failure = "Cannot copy \"" + source + "\" to \"" + report + "\": ";
  if (base.empty() || base == "." || base == "..")
    throw Error(failure + "the report's name is a folder, not a file.");
  if (!folder.Refusal().empty()) throw Error(failure + folder.Refusal());
  if (!folder.IsOpen()) throw Error(failure + SystemMessage(folder.OpenError()) + ".");
  // The document engine and its zip library take names only: they get the
  // private folder's through the process file system.
  if (::access("/proc/self/fd", X_OK) != 0)
    throw Error(failure + "the process file system (/proc) is not mounted; the run builds the "
                "report in a private folder that it reaches through /proc/self/fd.");
  RemoveStaleWorkingCopies(folder);
  folder_ = folder;
  if (!folder_.IsOpen()) {
    const int error = folder_.OpenError();
    folder_ = OutputFolder();
    throw Error(failure + SystemMessage(error) + ".");
  }
  const int dir = folder_.Fd();

  int in = ::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st{};
  const int source_error = in < 0 ? errno : ::fstat(in, &st) != 0 ? errno : 0;
  if (source_error != 0 || !S_ISREG(st.st_mode)) {
    if (in >= 0) ::close(in);
    folder_ = OutputFolder();
    throw Error(failure +
                (source_error != 0 ? SystemMessage(source_error) + "." : "it is not a file."));
  }
  // A replaced report of this user's keeps its permissions, except that a
  // read-only one becomes writable for its owner as it always has; a new
  // one, or one in the place of another user's file or of a link, gets what
  // the umask allows. Set-id bits are never carried over.
  struct stat earlier;
  mode_ = ::fstatat(dir, base.c_str(), &earlier, AT_SYMLINK_NOFOLLOW) == 0 &&
                  S_ISREG(earlier.st_mode) && earlier.st_uid == ::geteuid()
              ? (earlier.st_mode & 0777) | S_IRUSR | S_IWUSR
              : NewFileMode();
  stop_ = stop;
  // The private folder: made here, then opened without following a link and
  // taken only if it is still a folder of this user that nobody else may
  // enter (another user may have put theirs in its place meanwhile).
  int error = EEXIST;
  for (int attempt = 0; attempt < 100 && private_fd_ < 0; ++attempt) {
    std::string name = HiddenName(base);
    if (::mkdirat(dir, name.c_str(), 0700) != 0) {
      error = errno;
      if (error == EEXIST) continue;
      break;
    }
    int fd = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat made;
    if (fd < 0 || ::fstat(fd, &made) != 0 || made.st_uid != ::geteuid() ||
        (made.st_mode & 077) != 0) {
      error = EEXIST;
      if (fd >= 0) ::close(fd);
      continue;
    }
    ::flock(fd, LOCK_EX | LOCK_NB);
    private_fd_ = fd;
    private_name_ = name;
    if (stop_ != nullptr) stop_->AddScratchFile(folder_.Through(private_name_));
  }
  if (private_fd_ < 0) {
    ::close(in);
    folder_ = OutputFolder();
    throw Error(failure + SystemMessage(error) + ".");
  }
  int out = ::openat(private_fd_, base.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                     0600);
  try {
    if (out < 0) throw std::system_error(errno, std::generic_category());
    CopyInto(in, out);
  } catch (const std::system_error& copy_error) {
    ::close(in);
    if (out >= 0) ::close(out);
    RemovePrivateFolder();
    folder_ = OutputFolder();
    throw Error(failure + SystemMessage(copy_error.code().value()) + ".");
  }
  ::close(in);
  ::close(out);
  temp_ = ThroughDescriptor(private_fd_, base);
}

void ReportWorkingCopy::Commit() {
  const std::string failure = "Cannot save \"" + folder_.Path() + "\": ";
  if (temp_.empty()) throw Error(failure + "there is no working copy.");
  const int dir = folder_.Fd();
  const std::string& base = folder_.Base();
  // The save replaced the working copy's file inside the private folder:
  // what is published is the one file it left there, on disk.
  int fd = ::openat(private_fd_, base.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw Error(failure + SystemMessage(errno) + ".");
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
      st.st_nlink != 1) {
    ::close(fd);
    throw Error(failure + "its working copy was replaced by another file.");
  }
  if (::fchmod(fd, mode_) != 0) {
    int error = errno;
    ::close(fd);
    throw Error(failure + SystemMessage(error) + ".");
  }
  if (::fsync(fd) != 0) {
    int error = errno;
    ::close(fd);
    throw Error(failure + "the file could not be written to disk (" + SystemMessage(error) + ").");
  }
  // A stop during the save still leaves the earlier report.
  if (stop_ != nullptr && stop_->Requested()) {
    ::close(fd);
    stop_->Check();
  }
  const std::string kept = KeepEarlier(dir, base);
  // Without a second name for the earlier report (a file system without
  // hard links), the two files trade places: the earlier one waits in the
  // private folder until the new name is on disk.
  // Where that cannot be done either, it is moved into the private folder
  // first, and back if the new one does not take its name.
  const std::string aside_name = SetAsideName(base);  // never the working copy's name
  struct stat earlier;
  const bool alone = kept.empty() &&
                     ::fstatat(dir, base.c_str(), &earlier, AT_SYMLINK_NOFOLLOW) == 0 &&
                     S_ISREG(earlier.st_mode);
  const bool exchanged =
      alone && ::renameat2(private_fd_, base.c_str(), dir, base.c_str(), RENAME_EXCHANGE) == 0;
  const bool aside =
      alone && !exchanged && ::renameat(dir, base.c_str(), private_fd_, aside_name.c_str()) == 0;
  if (!exchanged && ::renameat(private_fd_, base.c_str(), dir, base.c_str()) != 0) {
    int error = errno;
    const std::string sticky = error == EPERM ? StickyRefusal(folder_, base) : "";
    if (!kept.empty()) ::unlinkat(dir, kept.c_str(), 0);
    if (aside) ::renameat(private_fd_, aside_name.c_str(), dir, base.c_str());
    ::close(fd);
    throw Error(failure + (sticky.empty() ? SystemMessage(error) : sticky) + ".");
  }
  int listing = folder_.OpenForReading();
  if (listing >= 0 && ::fsync(listing) != 0) {
    // The new name may not survive a crash: the earlier report goes back.
    int error = errno;
    if (exchanged) {
      ::renameat2(private_fd_, base.c_str(), dir, base.c_str(), RENAME_EXCHANGE);
    } else {
      ::renameat(dir, base.c_str(), private_fd_, base.c_str());
      if (!kept.empty()) ::renameat(dir, kept.c_str(), dir, base.c_str());
      if (aside) ::renameat(private_fd_, aside_name.c_str(), dir, base.c_str());
    }
    ::fsync(listing);
    ::close(listing);
    ::close(fd);
    throw Error(failure + "the folder could not be written to disk (" + SystemMessage(error) +
                ").");
  }
  if (listing >= 0) ::close(listing);
  if (!kept.empty()) ::unlinkat(dir, kept.c_str(), 0);
  RemovePrivateFolder();
  temp_.clear();
  committed_fd_ = fd;
}

void ReportWorkingCopy::Discard() {
  RemovePrivateFolder();
  temp_.clear();
  if (committed_fd_ >= 0) ::close(committed_fd_);
  committed_fd_ = -1;
  folder_ = OutputFolder();
}

void ReportWorkingCopy::RemovePrivateFolder() {
  if (private_fd_ < 0) return;
  RestoreSetAside(private_fd_, folder_.Fd());
  EmptyFolder(private_fd_);
  if (SameFileAt(private_fd_, folder_.Fd(), private_name_))
    ::unlinkat(folder_.Fd(), private_name_.c_str(), AT_REMOVEDIR);
  if (stop_ != nullptr) stop_->RemoveScratchFile(folder_.Through(private_name_));
  ::close(private_fd_);
  private_fd_ = -1;
  private_name_.clear();
}

}  // namespace vantrelle
