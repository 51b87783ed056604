#include "ui/shell_open.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include <QCoreApplication>
#include <QSocketNotifier>

#include "run/pdf_export.h"
#include "base/run_stop.h"

namespace vantrelle {

ShellFailure ShellFailureFor(int code) {
  switch (code) {
    case 0:
    case 8:
      return {7, "Out of memory"};
    case 2:
      return {53, "File not found"};
    case 3:
      return {76, "Path not found"};
    case 5:
      return {75, "Path/file access error"};
    case 11:
      return {kShellErrorBase + 11, "The executable file is invalid or corrupt"};
    case 26:
      return {75, "A sharing violation occurred."};
    case 27:
      return {kShellErrorBase + 27, "This file type does not have a valid file association."};
    case 28:
      return {286,
              "The file could not be opened due to time out.  Please try again in a moment."};
    case 29:
      return {285,
              "The file could not be opened because the DDE transaction failed.  Please try "
              "again in a moment."};
    case 30:
      return {285,
              "The file could not be opened because the target application is busy.  Please "
              "try again in a moment."};
    case 31:
      return {kShellErrorBase + 31, "No application is associated with this file type."};
    case 32:
      return {48, "The specified dynamic-link library was not found."};
    default:
      return {kShellErrorBase + code,
              "An error occurred occurred whilst trying to open or print the selected file."};
  }
}

XdgLauncher::XdgLauncher(std::string opener) : opener_(std::move(opener)) {}

namespace {

constexpr int kFileNotFound = 2, kPathNotFound = 3, kNoAssociation = 31, kGeneric = 1;

// The failure code of the opener's exit \a status, or 0 when it succeeded.
int OpenerFailure(int status) {
  switch (status) {
    case 0:
      return 0;
    case 2:  // a file named on the command line does not exist
      return kFileNotFound;
    case 3:    // a required tool could not be found
    case 4:    // the action failed: no application took the file
    case 127:  // the opener could not be started after all
      return kNoAssociation;
    default:
      return kGeneric;
  }
}

}  // namespace

int XdgLauncher::Execute(const std::string& file, const std::string& verb) {
  // The desktop's opener only knows how to open.
  if (verb != "open") return kNoAssociation;
  std::error_code error;
  std::filesystem::path path(file);
  if (path.has_parent_path() && !std::filesystem::is_directory(path.parent_path(), error))
    return kPathNotFound;
  if (!std::filesystem::exists(path, error)) return kFileNotFound;
  const char* path_env = std::getenv("PATH");
  std::string program = opener_.find('/') != std::string::npos
                            ? opener_
                            : FindProgram(opener_, path_env != nullptr ? path_env : "/usr/bin:/bin");
  if (program.empty() || ::access(program.c_str(), X_OK) != 0) return kNoAssociation;

  std::string argument = file;
  char* argv[] = {program.data(), argument.data(), nullptr};
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return kGeneric;
  pid_t child = ::fork();
  if (child == 0) {
    // Only async-signal-safe calls from here on: the window runs threads.
    // The child starts the opener in a session of its own, waits for it and
    // reports how it ended; the window never waits for either.
    ::close(report[0]);
    // The opener is the desktop's program: it gets the signals as usual.
    ResetSignalsInChild();
    ::setsid();
    int null_fd = ::open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
      ::dup2(null_fd, 0);
      ::dup2(null_fd, 1);
      ::dup2(null_fd, 2);
    }
    pid_t opener = ::fork();
    if (opener == 0) {
      ::execv(argv[0], argv);
      ::_exit(127);
    }
    int status = 0;
    int code = 1;
    if (opener > 0) {
      while (::waitpid(opener, &status, 0) < 0 && errno == EINTR) {
      }
      code = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    ssize_t written = ::write(report[1], &code, sizeof code);
    ::_exit(written == sizeof code ? 0 : 1);
  }
  ::close(report[1]);
  if (child < 0) {
    ::close(report[0]);
    return kGeneric;
  }
  auto* notifier = new QSocketNotifier(report[0], QSocketNotifier::Read,
                                       QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                   [report_failure = on_late_failure, notifier, fd = report[0], child] {
                     int code = 1;
                     if (::read(fd, &code, sizeof code) != sizeof code) code = 1;
                     notifier->setEnabled(false);
                     notifier->deleteLater();
                     ::close(fd);
                     // The reporting child ends right after its report.
                     while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
                     }
                     int failure = OpenerFailure(code);
                     if (failure != 0 && report_failure) report_failure(failure);
                   });
  return kShellAccepted;
}

bool ShellOpen(ShellLauncher& launcher, const std::string& file, const std::string& verb,
               ShellFailure* failure) {
  int result = launcher.Execute(file, verb);
  if (result < 0 || result > 32) return true;
  if (failure != nullptr) *failure = ShellFailureFor(result);
  return false;
}

}  // namespace vantrelle
