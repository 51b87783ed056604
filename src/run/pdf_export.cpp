#include "run/pdf_export.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/error.h"
#include "run/report_file.h"
#include "base/run_stop.h"
#include "word/application.h"

namespace vantrelle {
namespace {

namespace fs = std::filesystem;

std::string SystemMessage(int error) { return std::generic_category().message(error); }

// A file URL for \a path: the converter takes its profile folder only as one.
std::string FileUrl(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
        std::strchr("/-._~", c) != nullptr) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

constexpr std::string_view kScratchPrefix = "vantrelle-pdf-";
// The file that marks a folder as a conversion's scratch folder: nothing
// else in TMPDIR is ever taken for one, whatever it is called.
constexpr char kScratchMark[] = ".vantrelle-conversion";

// Whether \a name is what mkdtemp makes of the scratch folders' pattern.
bool ScratchName(std::string_view name) {
  if (name.size() != kScratchPrefix.size() + 6 || !name.starts_with(kScratchPrefix)) return false;
  for (char c : name.substr(kScratchPrefix.size()))
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  return true;
}

// The folder that holds the conversions' scratch folders.
// One spelling of it whatever TMPDIR says ("/tmp/x/", "/tmp//x"), so that a
// later run finds what an earlier one named.
std::string TemporaryRoot() {
  const char* tmp = std::getenv("TMPDIR");
  const fs::path root = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  std::error_code error;
  fs::path canonical = fs::weakly_canonical(root, error);
  std::string text = (error ? root.lexically_normal() : canonical).string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

// Kills this user's processes whose command line names something in
// \a folder: a converter whose run is gone (a converter outlives its run
// when the run is killed, its helpers being grandchildren).
void KillProcessesUsing(const std::string& folder) {
  const std::string needle = folder + "/";
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    const std::string pid_text = entry.path().filename().string();
    if (pid_text.empty() || pid_text.find_first_not_of("0123456789") != std::string::npos)
      continue;
    struct stat st;
    if (::stat(entry.path().c_str(), &st) != 0 || st.st_uid != ::geteuid()) continue;
    std::ifstream in(entry.path() / "cmdline", std::ios::binary);
    std::string command((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (command.find(needle) == std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(pid_text));
    if (pid != ::getpid()) ::kill(pid, SIGKILL);
  }
}

// Removes the scratch folders in \a root of conversions whose run is gone:
// this user's, and locked by no run (each run holds a lock on its own for
// as long as it converts). Their converters go first.
void RemoveStaleConversionsIn(const std::string& root) {
  int dir = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  for (const std::string& name : FolderEntries(dir)) {
    if (!ScratchName(name)) continue;
    int fd = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    struct stat mark;
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 0777) == 0700 &&
        ::fstatat(fd, kScratchMark, &mark, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(mark.st_mode) &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      const std::string path = root + "/" + name;
      KillProcessesUsing(path);
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
    ::close(fd);
  }
  ::close(dir);
}

// The scratch folder of one conversion, locked while it lasts and removed
// with everything in it.
class ScratchFolder {
 public:
  ScratchFolder() {
    const std::string root = TemporaryRoot();
    RemoveStaleConversionsIn(root);
    std::string pattern = root + "/" + std::string(kScratchPrefix) + "XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
      throw Error("Cannot create a temporary folder \"" + pattern + "\": " +
                  SystemMessage(errno) + ".");
    path_ = pattern;
    lock_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (lock_ >= 0) {
      ::flock(lock_, LOCK_EX);
      int mark = ::openat(lock_, kScratchMark, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (mark >= 0) ::close(mark);
    }
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
    if (lock_ >= 0) ::close(lock_);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  int lock_ = -1;
};

// The last lines the converter printed, for the error description.
std::string OutputTail(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::string tail;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!line.empty()) tail = tail.empty() ? line : tail + " " + line;
    if (tail.size() > 400) tail = tail.substr(tail.size() - 400);
  }
  return tail;
}

// The converter's settings in its private profile: no macro runs, and
// nothing a document links to (a picture on a server or in another file) is
// fetched or read.
const char kLockedDownProfile[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
    "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\">"
    "<prop oor:name=\"BlockUntrustedRefererLinks\" oor:op=\"fuse\"><value>true</value></prop>"
    "</item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\">"
    "<prop oor:name=\"MacroSecurityLevel\" oor:op=\"fuse\"><value>3</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\">"
    "<prop oor:name=\"DisableMacrosExecution\" oor:op=\"fuse\"><value>true</value></prop>"
    "</item>\n"
    "<item oor:path=\"/org.openoffice.Office.Writer/Content/Update\">"
    "<prop oor:name=\"Link\" oor:op=\"fuse\"><value>0</value></prop></item>\n"
    "</oor:items>\n";

// Writes \a bytes to a new file \a path that only this user may read.
void WritePrivateFile(const std::string& path, std::string_view bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  bool ok = fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  int error = errno;
  if (fd >= 0) ::close(fd);
  if (!ok) throw std::system_error(error, std::generic_category());
}

// Copies the open file \a from, from its start, into a new private file.
void CopyOpenFile(int from, const std::string& path) {
  int to = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (to < 0) throw std::system_error(errno, std::generic_category());
  std::vector<char> buffer(1 << 18);
  off_t offset = 0;
  for (;;) {
    ssize_t n = ::pread(from, buffer.data(), buffer.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    bool ok = n >= 0;
    for (ssize_t done = 0; ok && done < n;) {
      ssize_t m = ::write(to, buffer.data() + done, static_cast<size_t>(n - done));
      if (m < 0 && errno == EINTR) continue;
      ok = m >= 0;
      done += m;
    }
    if (!ok) {
      int error = errno;
      ::close(to);
      throw std::system_error(error, std::generic_category());
    }
    if (n == 0) break;
    offset += n;
  }
  ::close(to);
}

// Runs \a argv as a process group of its own with its output in
// \a output_path; kills the whole group once it ends, \a timeout passes or
// \a stop is requested. Returns the wait status; throws Error when it cannot
// start or times out, RunStopped when stopped.
int RunGroup(const std::vector<std::string>& argv, const std::string& output_path,
             const std::string& scratch, std::chrono::seconds timeout, const RunStop* stop) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  // The converter's own temporary files go in the scratch folder, and with it.
  ChildEnvironment environment("TMPDIR", scratch);
  const pid_t parent = ::getpid();
  int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  int out_fd = ::open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (null_fd < 0 || out_fd < 0) {
    int error = errno;
    if (null_fd >= 0) ::close(null_fd);
    if (out_fd >= 0) ::close(out_fd);
    throw Error("Cannot start \"" + argv[0] + "\": " + SystemMessage(error) + ".");
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls until exec: the window runs threads.
    ::setpgid(0, 0);
    // Killed with the run, whatever ends it.
    PrepareChild(parent, SIGKILL, null_fd, out_fd);
    ::close_range(3, ~0U, 0);
    ::execve(args[0], args.data(), environment.Pointers());
    ::_exit(127);
  }
  int fork_error = errno;
  ::close(null_fd);
  ::close(out_fd);
  if (pid < 0) throw Error("Cannot start \"" + argv[0] + "\": " + SystemMessage(fork_error) + ".");
  ::setpgid(pid, pid);  // also here, so the group exists whichever runs first
  // A hard end of the run kills the group on its way out.
  struct Registered {
    const RunStop* stop;
    pid_t group;
    ~Registered() {
      if (stop != nullptr) stop->RemoveChildGroup(group);
    }
  } registered{stop, pid};
  if (stop != nullptr) stop->AddChildGroup(pid);

  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  for (;;) {
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) {
      status = 0;
      break;
    }
    if (stop != nullptr && stop->Requested()) {
      ::kill(-pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      stop->Check();
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(-pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      throw Error("\"" + argv[0] + "\" did not finish within " +
                  std::to_string(timeout.count()) + " seconds and was stopped.");
    }
    timespec pause{0, 20'000'000};
    ::nanosleep(&pause, nullptr);
  }
  // Helpers the converter started must not outlive it with the profile gone.
  ::kill(-pid, SIGKILL);
  return status;
}

}  // namespace

void RemoveStaleConversions() { RemoveStaleConversionsIn(TemporaryRoot()); }

std::chrono::seconds PdfTimeout() {
  const char* text = std::getenv("VANTRELLE_PDF_TIMEOUT");
  if (text != nullptr && *text != '\0') {
    char* end = nullptr;
    errno = 0;
    long seconds = std::strtol(text, &end, 10);
    if (errno == 0 && *end == '\0' && seconds >= 1 && seconds <= 86400)
      return std::chrono::seconds(seconds);
  }
  return kDefaultPdfTimeout;
}

std::string FindProgram(const std::string& program, const std::string& path_list) {
  size_t start = 0;
  for (;;) {
    size_t colon = path_list.find(':', start);
    std::string folder = path_list.substr(start, colon == std::string::npos ? colon : colon - start);
    std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
    struct stat st;
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
    if (colon == std::string::npos) return "";
    start = colon + 1;
  }
}

void ExportPdf(const std::string& report, int report_file, const OutputFolder& pdf,
               std::chrono::seconds timeout, const RunStop* stop) {
  const char* path_env = std::getenv("PATH");
  const std::string converter =
      FindProgram(kPdfConverter, path_env != nullptr ? path_env : "/usr/local/bin:/usr/bin:/bin");
  if (converter.empty())
    throw Error(std::string("The program \"") + kPdfConverter +
                "\" that writes PDF files is not installed (not found on PATH); install the "
                "Debian package " + kPdfConverterPackage + ".");

  ScratchFolder scratch;
  // The converter gets a copy that only this run can reach, taken from the
  // report this run saved: never a name in the report's folder, which
  // another user might point somewhere else meanwhile. A fixed name gives a
  // known output name whatever the report is called.
  std::string extension = fs::path(report).extension().string();
  if (extension.empty()) extension = ".docx";
  const std::string input = scratch.Path() + "/report" + extension;
  const std::string out_folder = scratch.Path() + "/out";
  const std::string profile = scratch.Path() + "/profile";
  try {
    CopyOpenFile(report_file, input);
    for (const std::string& folder : {out_folder, profile, profile + "/user"})
      if (::mkdir(folder.c_str(), 0700) != 0) throw std::system_error(errno, std::generic_category());
    WritePrivateFile(profile + "/user/registrymodifications.xcu", kLockedDownProfile);
  } catch (const std::system_error& error) {
    throw Error("Cannot prepare the conversion of \"" + report + "\" in \"" + scratch.Path() +
                "\": " + SystemMessage(error.code().value()) + ".");
  }
  // The converter computes fields anew when it reads them; the copy shows
  // each field's result as the report holds it, as plain text.
  Application word;
  Document& unlinked = word.Open(input);
  unlinked.UnlinkFields();
  unlinked.Save();
  word.Quit();

  const std::string output_log = scratch.Path() + "/converter.txt";
  std::vector<std::string> argv = {converter,
                                   "-env:UserInstallation=" + FileUrl(profile),
                                   "--headless",
                                   "--invisible",
                                   "--nologo",
                                   "--nodefault",
                                   "--nolockcheck",
                                   "--norestore",
                                   "--convert-to",
                                   "pdf",
                                   "--outdir",
                                   out_folder,
                                   input};
  int status = RunGroup(argv, output_log, scratch.Path(), timeout, stop);
  const std::string produced = out_folder + "/report.pdf";
  struct stat st;
  const bool exited_ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!exited_ok || ::stat(produced.c_str(), &st) != 0 || st.st_size == 0) {
    std::ostringstream why;
    why << "\"" << converter << "\" did not convert \"" << report << "\" to PDF";
    if (WIFSIGNALED(status))
      why << " (ended by signal " << WTERMSIG(status) << ")";
    else if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
      why << " (exit status " << WEXITSTATUS(status) << ")";
    std::string tail = OutputTail(output_log);
    if (!tail.empty()) why << ": " << tail;
    why << ".";
    throw Error(why.str());
  }

  ReportWorkingCopy copy;
  try {
    copy.Create(pdf, produced);
  } catch (const Error& failure) {
    // The scratch file's name means nothing to the user.
    std::string text = failure.Description();
    const std::string head = "Cannot copy \"" + produced + "\" to ";
    if (text.starts_with(head)) text = "Cannot write " + text.substr(head.size());
    throw Error(text);
  }
  copy.Commit();
}

}  // namespace vantrelle
