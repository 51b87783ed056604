#include "run/main_module.h"

#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "run/command_line.h"
#include "run/describe_command.h"
#include "run/help_page.h"
#include "run/report_check.h"
#include "run/report_run.h"
#include "base/run_log.h"
#include "sql/parameters.h"
#include "version.h"

namespace vantrelle {
namespace {

const char kUsage[] =
    "Usage: vantrelle [-C] [-F configuration.ini] [value1 ... value10]\n"
    "       vantrelle --check [--connect] [-F configuration.ini] [value1 ... value10]\n"
    "       vantrelle --describe [--json] template.docx\n"
    "\n"
    "Generates a report from a configuration file, SQL scripts and a document template.\n"
    "\n"
    "  -F PATH   the configuration file (default: vantrelle.ini beside the program,\n"
    "            else $windir/vantrelle.ini when windir is set, else /etc/vantrelle.ini)\n"
    "  -C        batch mode: run the report once without a window\n"
    "  VALUES    report parameters, in the order the configuration declares them\n"
    "  --check   check the report as a run would read it, without running it; one\n"
    "            line per problem, then a summary (writes nothing, does not connect)\n"
    "  --connect with --check: also connect and prepare each statement, unexecuted\n"
    "  --describe  list the tables of a template, numbered as a run numbers them,\n"
    "            and its fields; --json for the same as JSON\n"
    "  --help    show this text\n"
    "  --version show the program's version\n"
    "\n"
    "Exit status in batch mode: 0 the report was made without errors; 1 errors were\n"
    "logged or the run ended early (see the run log); 2 no configuration file, or the\n"
    "run log could not be created. Of --check: 0 no errors (warnings allowed), 1 errors,\n"
    "2 as a run would end with 2.\n";

std::string ExecutablePath(const char* argv0) {
  std::vector<char> buffer(4096);
  ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length > 0) return std::string(buffer.data(), static_cast<size_t>(length));
  return argv0 != nullptr ? argv0 : "vantrelle";
}

}  // namespace

namespace {

// The status of a command that only prints: a closed or full standard
// output is a failure that is said, not a success nor a death by SIGPIPE.
int PrintedStatus(int status) {
  std::cout.flush();
  if (std::cout) return status;
  std::cerr << "vantrelle: the output could not be written (standard output closed or full).\n";
  return kExitNoRun;
}

}  // namespace

int Main(int argc, char** argv, WindowEntry window_main) {
  std::setlocale(LC_ALL, "");
  const bool prints_only =
      argc >= 2 && (std::string(argv[1]) == "--check" || std::string(argv[1]) == "--describe" ||
                    (argc == 2 && (std::string(argv[1]) == "--help" ||
                                   std::string(argv[1]) == "--version")));
  // These only print: a closed pipe is then a failed write, said as such,
  // and a stop signal ends them at once.
  if (prints_only) {
    std::signal(SIGPIPE, SIG_IGN);
    ReleaseStopSignals();
  }
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::cout << kUsage;
    // Where F1 in the window finds the manual: beside the program or, once
    // installed, in the prefix's share/doc/vantrelle.
    std::string help =
        FindHelpPage(std::filesystem::path(ExecutablePath(argv[0])).parent_path().string());
    if (std::filesystem::is_regular_file(help)) std::cout << "\nManual: " << help << "\n";
    return PrintedStatus(kExitOk);
  }
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::cout << kProductName << " " << kVersionText << "\n";
    return PrintedStatus(kExitOk);
  }
  if (argc >= 2 && (std::string(argv[1]) == "--check" || std::string(argv[1]) == "--describe")) {
    const std::vector<std::string> words(argv + 2, argv + argc);
    if (std::string(argv[1]) == "--describe") return PrintedStatus(DescribeCommand(words));
    return PrintedStatus(CheckCommand(words, ExecutablePath(argv[0])));
  }

  PubDef pub;
  pub.interactive = true;
  // Before any thread starts: every thread leaves these signals to one.
  try {
    HandleStopSignals(pub.stop, nullptr);
  } catch (const std::system_error& error) {
    // Under a low process or memory limit.
    std::cerr << "vantrelle: a thread the program needs could not be started ("
              << error.code().message() << "); nothing was run.\n";
    return kExitNoRun;
  }
  std::vector<std::string> toolkit_options =
      ParseProgramWords(std::vector<std::string>(argv + 1, argv + argc), pub);
  // In the window, -F does what File > Open does: the configuration's folder
  // becomes the current folder, so that a report opened from a file manager
  // (which starts programs in the home folder) finds its relative names.
  // Batch mode keeps the caller's folder, on which schedules rely.
  if (pub.interactive && !pub.ini_file_name.empty() &&
      pub.file_system.FileExists(pub.ini_file_name)) {
    std::error_code failure;
    const std::filesystem::path file = std::filesystem::absolute(pub.ini_file_name, failure);
    if (!failure) {
      std::filesystem::current_path(file.parent_path(), failure);
      if (!failure) pub.ini_file_name = file.lexically_normal().string();
    }
  }
  if (pub.ini_file_name.empty())
    pub.ini_file_name = FindDefaultConfiguration(pub.file_system, ExecutablePath(argv[0]),
                                                 std::getenv("windir"));

  if (pub.interactive) {
    if (window_main == nullptr) {
      std::cerr << "vantrelle: this build has no window; use -C for batch mode.\n";
      return kExitNoRun;
    }
    // The window toolkit gets its own options only: the report's values and
    // configuration are read here, and no word is read twice.
    std::vector<char*> toolkit_argv{argv[0]};
    for (std::string& option : toolkit_options) toolkit_argv.push_back(option.data());
    toolkit_argv.push_back(nullptr);
    return window_main(pub, static_cast<int>(toolkit_argv.size()) - 1, toolkit_argv.data());
  }

  if (pub.ini_file_name.empty()) {
    ShowErrorBox(pub, "No configuration file: none was named with -F, and none was found beside "
                      "the program or in /etc. Name one: vantrelle -C -F report.ini");
    return kExitNoRun;
  }
  if (!pub.file_system.FileExists(pub.ini_file_name)) {
    ShowErrorBox(pub, "Configuration file \"" + pub.ini_file_name + "\" does not exist.");
    return kExitNoRun;
  }
  if (const char* folder = std::getenv("VANTRELLE_OUTPUT_FOLDER"); folder != nullptr)
    pub.output_folder = folder;
  ReadParameters(pub);
  RunOutcome outcome = RunReport(pub);
  pub.log_stream.reset();
  switch (outcome) {
    case RunOutcome::kNoLog: return kExitNoRun;
    case RunOutcome::kEndedEarly:
    case RunOutcome::kBusy: return kExitRunErrors;
    case RunOutcome::kCompleted: return pub.error_count == 0 ? kExitOk : kExitRunErrors;
  }
  return kExitRunErrors;
}

}  // namespace vantrelle
