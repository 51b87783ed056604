// The command line: -F names the configuration file, -C selects batch mode,
// every other token is the next positional value (at most ten; once ten are
// stored the rest of the line is not read, switches included).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/pubdef.h"

namespace vantrelle {

/// Parses argument words that the shell has already split and unquoted
/// (argv without the program's name) into \a pub.
void ParseCommandWords(const std::vector<std::string>& words, PubDef& pub);

/// Parses the program's arguments (argv without the program's name) into
/// \a pub, a PubDef as main builds it. The whole list decides the mode. In
/// interactive mode the window toolkit's own options (-display, -platform,
/// -style, ...) with their values are the toolkit's alone: they are taken out
/// and returned, in order, and the report's values and configuration come
/// from the other words. In batch mode every word is the report's, as the
/// grammar has it, and nothing is returned.
std::vector<std::string> ParseProgramWords(const std::vector<std::string>& words, PubDef& pub);

/// Parses one command-line text, split with GetToken, into \a pub. Blanks at
/// the end of the text give no empty values.
void ParseCommandText(std::string_view text, PubDef& pub);

/// The default configuration file for the executable at \a exe_path:
/// "<exe folder>/<base>.ini" if it exists, else "<windir>/<base>.ini" when
/// \a windir is set and that file exists, else "/etc/<base>.ini" if it
/// exists; empty when none exists.
std::string FindDefaultConfiguration(const FileSystem& file_system, const std::string& exe_path,
                                     const char* windir);

}  // namespace vantrelle
