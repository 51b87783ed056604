#include "run/help_page.h"

#include <filesystem>
#include <system_error>

#include "install_paths.h"

namespace vantrelle {

std::string HelpPagePath(const std::string& program_folder) {
  return program_folder + "/Vantrelle/Help/vantrelle-help.htm";
}

std::string FindHelpPage(const std::string& program_folder) {
  const std::string beside = HelpPagePath(program_folder);
  std::error_code error;
  if (std::filesystem::is_regular_file(beside, error)) return beside;
  std::filesystem::path installed =
      (std::filesystem::path(program_folder) / kDocFolderFromProgram / "vantrelle-help.htm")
          .lexically_normal();
  if (std::filesystem::is_regular_file(installed, error)) return installed.string();
  return beside;
}

}  // namespace vantrelle
