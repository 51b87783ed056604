// Where the user manual is: beside the program in a build or a copied
// folder, or in share/doc/vantrelle when the program is installed.
#pragma once

#include <string>

namespace vantrelle {

/// The help page beside the program: \a program_folder, "/", then
/// "Vantrelle/Help/vantrelle-help.htm". The separator is always inserted.
std::string HelpPagePath(const std::string& program_folder);

/// The help page to open: beside the program (HelpPagePath) when it is
/// there, else the installed manual reached from \a program_folder (the
/// prefix's bin/). When neither exists, the path beside the program.
std::string FindHelpPage(const std::string& program_folder);

}  // namespace vantrelle
