// Character-by-character scanning shared by the command line, the script
// reader and the parameter substitution.
//
// A blank is space, tab, LF or CR. A quoted section runs from a double or
// single quote to the next quote of the same kind that is not doubled; a
// doubled quote inside it stands for one quote. Positions are 1-based.
#pragma once

#include <string>
#include <string_view>

namespace vantrelle {

/// True for the four blank characters.
inline bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

/// The part of \a text before its first NUL, without trailing blanks.
/// Leading blanks stay.
std::string TrimTrailingBlanks(std::string_view text);

/// Moves \a position to the first non-blank character at or after it, but
/// never past the last character of \a text. A position beyond the end is
/// left as it is.
void SkipBlanks(std::string_view text, int& position);

/// The next blank-separated token from \a position; quoted sections may hold
/// blanks and lose their quotes (kept around the token when \a keep_quotes).
/// \a position is left on the blank that ended the token or past the end.
std::string GetToken(std::string_view text, int& position, bool keep_quotes);

/// The statement part of a script line: from its first non-blank character
/// to the first "#" outside quotes, without trailing blanks.
std::string StripComment(std::string_view line);

/// True when \a a and \b b are equal apart from the case of ASCII letters.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

/// \a text with its ASCII letters in upper case; other bytes as they are.
std::string UpperAscii(std::string_view text);
/// \a text with its ASCII letters in lower case; other bytes as they are.
std::string LowerAscii(std::string_view text);

/// \a text without the space characters (only spaces) at both ends.
std::string TrimSpaces(std::string_view text);

}  // namespace vantrelle
