#include "ui/shell_open.h"

#include <filesystem>

#include <QCoreApplication>
#include <QProcess>

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

XdgLauncher::XdgLauncher(std::string opener, int wait_ms)
    : opener_(std::move(opener)), wait_ms_(wait_ms) {}

int XdgLauncher::Execute(const std::string& file, const std::string& verb) {
  constexpr int kFileNotFound = 2, kPathNotFound = 3, kNoAssociation = 31, kGeneric = 1;
  // The desktop's opener only knows how to open.
  if (verb != "open") return kNoAssociation;
  std::error_code error;
  std::filesystem::path path(file);
  if (path.has_parent_path() && !std::filesystem::is_directory(path.parent_path(), error))
    return kPathNotFound;
  if (!std::filesystem::exists(path, error)) return kFileNotFound;

  // Parented to the application so that an opener that outlives the wait is
  // not killed; it deletes itself when it ends.
  auto* process = new QProcess(QCoreApplication::instance());
  QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
  process->setProgram(QString::fromStdString(opener_));
  process->setArguments({QString::fromStdString(file)});
  process->setStandardOutputFile(QProcess::nullDevice());
  process->setStandardErrorFile(QProcess::nullDevice());
  process->start();
  if (!process->waitForStarted(wait_ms_)) {
    delete process;
    return kNoAssociation;
  }
  if (!process->waitForFinished(wait_ms_)) return kShellAccepted;
  int status = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
  delete process;
  switch (status) {
    case 0:
      return kShellAccepted;
    case 2:  // a file named on the command line does not exist
      return kFileNotFound;
    case 3:  // a required tool could not be found
    case 4:  // the action failed: no application took the file
      return kNoAssociation;
    default:
      return kGeneric;
  }
}

bool ShellOpen(ShellLauncher& launcher, const std::string& file, const std::string& verb,
               ShellFailure* failure) {
  int result = launcher.Execute(file, verb);
  if (result < 0 || result > 32) return true;
  if (failure != nullptr) *failure = ShellFailureFor(result);
  return false;
}

}  // namespace vantrelle
