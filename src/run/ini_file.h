// INI configuration files, read and written with the private-profile rules
// report authors know: section and key names compare without regard to
// case, blanks around names and values are dropped, one pair of enclosing
// quotes is removed from a value, there are no inline comments, the first of
// duplicate sections or keys wins, and a rewrite keeps every other line.
#pragma once

#include <string>
#include <string_view>

namespace vantrelle {

/// Longest value ReadIniString returns, in bytes (a 2048-byte buffer less
/// its terminator). A longer value is cut at a character boundary.
inline constexpr size_t kMaxIniValue = 2047;

/// The value of \a key in \a section of \a file_name; empty when the file,
/// the section or the key is missing or unreadable.
std::string ReadIniString(std::string_view section, std::string_view key,
                          const std::string& file_name);

/// Sets \a key in \a section to \a value, adding the key or the section
/// when missing and keeping every other line as it was. The file is
/// rewritten through a temporary file in its folder and renamed into place,
/// so it is never left half-written. Returns false and sets \a error when the
/// file is read-only or cannot be written; the file is then untouched.
bool WriteIniString(std::string_view section, std::string_view key, std::string_view value,
                    const std::string& file_name, std::string* error = nullptr);

}  // namespace vantrelle
