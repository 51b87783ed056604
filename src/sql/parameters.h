// Report parameters and the date macros of file names.
//
// [PARAMETER] declares up to ten parameters (NameN, DescN, DefaultN). Each
// takes its default, then the command line's positional value of the same
// slot, then what the parameter dialog gives; every occurrence of its name in
// a script's text lines is replaced by that value.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "base/pubdef.h"

namespace vantrelle {

/// Rebuilds pub.parameters and pub.parameter_count from [PARAMETER] of
/// pub.ini_file_name, then applies pub.command_values by slot.
void ReadParameters(PubDef& pub);

/// What is wrong with the value of \a parameter: that it does not match its
/// PatternN or is not one of its ChoicesN (naming the key), or that the
/// pattern is no regular expression; empty when nothing is.
std::string ParameterValueProblem(const ParameterRecord& parameter);

/// \a line with every parameter name replaced by its value: at each position
/// the first parameter in slot order whose name starts there wins, inserted
/// values are not scanned again, and trailing blanks are removed.
std::string SubstituteParameters(const PubDef& pub, std::string_view line);

/// \a text with the date macros &Y &M &D &H &N &S (any case) replaced by the
/// parts of \a now; "&" before any other character vanishes with it, as
/// does a "&" at the end.
std::string ExpandDateMacros(std::string_view text, const std::tm& now);

}  // namespace vantrelle
