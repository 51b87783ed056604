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

#include "run/error.h"
#include "run/output_file.h"
#include "run/run_stop.h"

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

// Gives the earlier report at \a report a second, hidden name, so that it
// can be put back if the new one does not reach the disk. Empty when there
// is none or it cannot be kept (the file system has no hard links).
std::string KeepEarlier(const std::string& report) {
  struct stat st;
  if (::lstat(report.c_str(), &st) != 0) return "";
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::string name;
    int fd = CreateHiddenBeside(report, name);
    if (fd < 0) return "";
    ::close(fd);
    ::unlink(name.c_str());
    if (::link(report.c_str(), name.c_str()) == 0) return name;
    if (errno != EEXIST) return "";
  }
  return "";
}

}  // namespace

int RemoveStaleWorkingCopies(const std::string& report) {
  PathParts parts = SplitPath(report);
  DIR* folder = ::opendir(parts.folder.c_str());
  if (folder == nullptr) return 0;
  std::vector<std::pair<std::string, std::string>> candidates;  // entry, owner
  while (const dirent* entry = ::readdir(folder)) {
    std::string owner = WorkingCopyOwner(entry->d_name);
    if (!owner.empty()) candidates.emplace_back(entry->d_name, owner);
  }
  ::closedir(folder);
  int removed = RemoveUnheldLocks(parts.folder, parts.base);
  for (const auto& [entry, owner] : candidates) {
    // The run that made it holds its report's lock for as long as it runs
    // (the save replaces the working copy's file, so a lock on that file
    // alone would not last), and a lock on the file while it exists. The
    // lock of this report's own name is the caller's.
    if (owner != parts.base && OutputLockHeld(parts.folder, owner)) continue;
    const std::string path = parts.folder + "/" + entry;
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::unlink(path.c_str()) == 0)
      ++removed;
    ::close(fd);
  }
  return removed;
}

ReportWorkingCopy::~ReportWorkingCopy() { Discard(); }

void ReportWorkingCopy::Create(const std::string& report, const std::string& source,
                               RunStop* stop) {
  Discard();
  const std::string failure = "Cannot copy \"" + source + "\" to \"" + report + "\": ";
  PathParts name = SplitPath(report);
  if (name.base.empty() || name.base == "." || name.base == "..")
    throw Error(failure + "the report's name is a folder, not a file.");
  RemoveStaleWorkingCopies(report);

  int in = ::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) throw Error(failure + SystemMessage(errno) + ".");
  struct stat st;
  if (::fstat(in, &st) != 0) {
    int error = errno;
    ::close(in);
    throw Error(failure + SystemMessage(error) + ".");
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(in);
    throw Error(failure + "it is not a file.");
  }
  // A replaced report of this user's keeps its permissions, except that a
  // read-only one becomes writable for its owner as it always has; a new
  // one, or one in the place of another user's file or of a link, gets what
  // the umask allows. Set-id bits are never carried over.
  struct stat earlier;
  mode_ = ::lstat(report.c_str(), &earlier) == 0 && S_ISREG(earlier.st_mode) &&
                  earlier.st_uid == ::geteuid()
              ? (earlier.st_mode & 0777) | S_IRUSR | S_IWUSR
              : NewFileMode();
  std::string pattern;
  int out = CreateHiddenBeside(report, pattern);
  if (out < 0) {
    int error = errno;
    ::close(in);
    throw Error(failure + SystemMessage(error) + ".");
  }
  ::flock(out, LOCK_EX | LOCK_NB);
  try {
    CopyInto(in, out);
  } catch (const std::system_error& error) {
    ::close(in);
    ::unlink(pattern.c_str());
    ::close(out);
    throw Error(failure + SystemMessage(error.code().value()) + ".");
  }
  ::close(in);
  report_ = report;
  temp_ = pattern;
  lock_fd_ = out;
  stop_ = stop;
  if (stop_ != nullptr) stop_->AddScratchFile(temp_);
}

void ReportWorkingCopy::Commit() {
  const std::string failure = "Cannot save \"" + report_ + "\": ";
  if (temp_.empty()) throw Error(failure + "there is no working copy.");
  // The save replaced the working copy's file: what is renamed must be the
  // file this process wrote, on disk.
  int fd = ::open(temp_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw Error(failure + SystemMessage(errno) + ".");
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
      st.st_nlink != 1) {
    ::close(fd);
    throw Error(failure + "its working copy \"" + temp_ + "\" was replaced by another file.");
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
  const std::string kept = KeepEarlier(report_);
  if (::rename(temp_.c_str(), report_.c_str()) != 0) {
    int error = errno;
    if (!kept.empty()) ::unlink(kept.c_str());
    ::close(fd);
    throw Error(failure + SystemMessage(error) + ".");
  }
  int folder = ::open(SplitPath(report_).folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0 && ::fsync(folder) != 0) {
    // The new name may not survive a crash: the earlier report goes back.
    int error = errno;
    ::rename(report_.c_str(), temp_.c_str());
    if (!kept.empty()) ::rename(kept.c_str(), report_.c_str());
    ::fsync(folder);
    ::close(folder);
    ::close(fd);
    throw Error(failure + "the folder could not be written to disk (" + SystemMessage(error) +
                ").");
  }
  if (folder >= 0) ::close(folder);
  if (!kept.empty()) ::unlink(kept.c_str());
  if (stop_ != nullptr) stop_->RemoveScratchFile(temp_);
  temp_.clear();
  Release();
  committed_fd_ = fd;
}

void ReportWorkingCopy::Discard() {
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    if (stop_ != nullptr) stop_->RemoveScratchFile(temp_);
  }
  temp_.clear();
  Release();
  if (committed_fd_ >= 0) ::close(committed_fd_);
  committed_fd_ = -1;
}

void ReportWorkingCopy::Release() {
  if (lock_fd_ >= 0) ::close(lock_fd_);
  lock_fd_ = -1;
}

}  // namespace vantrelle
