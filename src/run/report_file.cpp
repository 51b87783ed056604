#include "run/report_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <vector>

#include "run/error.h"

namespace vantrelle {
namespace {

constexpr std::string_view kMarker = ".vantrelle-";

std::string SystemMessage(int error) { return std::generic_category().message(error); }

struct ReportName {
  std::string folder;     // "." when the report name has no folder
  std::string base;       // the file name
  std::string extension;  // ".docx", or empty
};

ReportName SplitReportName(const std::string& report) {
  ReportName name;
  size_t slash = report.find_last_of('/');
  name.folder = slash == std::string::npos ? "." : slash == 0 ? "/" : report.substr(0, slash);
  name.base = slash == std::string::npos ? report : report.substr(slash + 1);
  size_t dot = name.base.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.extension = name.base.substr(dot);
  return name;
}

bool IsRandomPart(std::string_view text) {
  if (text.size() != 6) return false;
  for (char c : text)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

// The process id in \a entry when it is a working copy of \a name (or the
// save's temporary file beside one, "<working copy>.XXXXXX"), else 0.
long WorkingCopyOwner(std::string_view entry, const ReportName& name, bool& is_save_temp) {
  std::string head = "." + name.base + std::string(kMarker);
  if (!entry.starts_with(head)) return 0;
  entry.remove_prefix(head.size());
  size_t digits = 0;
  while (digits < entry.size() && entry[digits] >= '0' && entry[digits] <= '9') ++digits;
  if (digits == 0 || digits > 9 || digits >= entry.size() || entry[digits] != '-') return 0;
  long pid = std::strtol(std::string(entry.substr(0, digits)).c_str(), nullptr, 10);
  entry.remove_prefix(digits + 1);
  if (entry.size() < 6 || !IsRandomPart(entry.substr(0, 6))) return 0;
  entry.remove_prefix(6);
  if (!entry.starts_with(name.extension)) return 0;
  entry.remove_prefix(name.extension.size());
  is_save_temp = !entry.empty();
  if (is_save_temp && (entry[0] != '.' || !IsRandomPart(entry.substr(1)))) return 0;
  return pid;
}

bool ProcessIsAlive(long pid) {
  if (pid == static_cast<long>(::getpid())) return false;  // this process is between runs
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
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

}  // namespace

int RemoveStaleWorkingCopies(const std::string& report) {
  ReportName name = SplitReportName(report);
  if (name.base.empty()) return 0;
  DIR* folder = ::opendir(name.folder.c_str());
  if (folder == nullptr) return 0;
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(folder)) {
    bool is_save_temp = false;
    long pid = WorkingCopyOwner(entry->d_name, name, is_save_temp);
    if (pid > 0 && !ProcessIsAlive(pid)) stale.push_back(name.folder + "/" + entry->d_name);
  }
  ::closedir(folder);
  int removed = 0;
  for (const std::string& path : stale) {
    // A working copy is locked while a run uses it, also by a process that
    // this one cannot see (another host, another process namespace).
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

void ReportWorkingCopy::Create(const std::string& report, const std::string& source) {
  Discard();
  const std::string failure = "Cannot copy \"" + source + "\" to \"" + report + "\": ";
  ReportName name = SplitReportName(report);
  if (name.base.empty() || name.base == "." || name.base == "..")
    throw Error(failure + "the report's name is a folder, not a file.");
  RemoveStaleWorkingCopies(report);

  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
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
  std::string pattern = name.folder + "/." + name.base + std::string(kMarker) +
                        std::to_string(::getpid()) + "-XXXXXX" + name.extension;
  int out = ::mkstemps(pattern.data(), static_cast<int>(name.extension.size()));
  if (out < 0) {
    int error = errno;
    ::close(in);
    throw Error(failure + SystemMessage(error) + ".");
  }
  ::flock(out, LOCK_EX | LOCK_NB);
  try {
    CopyInto(in, out);
    // A read-only template still gives a report its owner can write.
    if (::fchmod(out, (st.st_mode & 0777) | S_IRUSR | S_IWUSR) != 0)
      throw std::system_error(errno, std::generic_category());
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
}

void ReportWorkingCopy::Commit() {
  if (temp_.empty()) throw Error("Cannot save \"" + report_ + "\": there is no working copy.");
  // The save may have replaced the file; what is renamed must be on disk.
  int fd = ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  if (::rename(temp_.c_str(), report_.c_str()) != 0)
    throw Error("Cannot save \"" + report_ + "\": " + SystemMessage(errno) + ".");
  int folder = ::open(SplitReportName(report_).folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  temp_.clear();
  Release();
}

void ReportWorkingCopy::Discard() {
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  Release();
}

void ReportWorkingCopy::Release() {
  if (lock_fd_ >= 0) ::close(lock_fd_);
  lock_fd_ = -1;
}

}  // namespace vantrelle
