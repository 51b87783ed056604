// INI configuration files, read and written with the private-profile rules
// report authors know: section and key names compare without regard to
// case, blanks around names and values are dropped, one pair of enclosing
// quotes is removed from a value, there are no inline comments, the first of
// duplicate sections or keys wins, and a rewrite keeps every other line.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vantrelle {

/// Longest value ReadIniString returns, in bytes (a 2048-byte buffer less
/// its terminator). A longer value is cut at a character boundary.
inline constexpr size_t kMaxIniValue = 2047;

/// A configuration file read once into memory: a run looks up every key
/// here instead of reading the file again for each one.
/// A section header or a key as it stands in the file, for messages that
/// point at it.
struct IniEntry {
  std::string section;  ///< as written
  std::string key;      ///< as written; empty for the section's header
  int line = 0;         ///< 1-based
};

class IniFile {
 public:
  /// Reads \a file_name; a missing or unreadable file gives an empty IniFile
  /// and, when \a error is given, the reason in it (e.g. "Permission denied").
  static IniFile Load(const std::string& file_name, std::string* error = nullptr);
  /// Parses \a bytes, an INI file as stored: UTF-8 (with or without a
  /// byte-order mark), UTF-16 with its mark, or else Windows-1252.
  static IniFile Parse(std::string_view bytes);

  /// The value of \a key in \a section as ReadIniString gives it: empty when
  /// absent, cut to kMaxIniValue bytes when longer.
  std::string Get(std::string_view section, std::string_view key) const;
  /// True when the value of \a key reaches kMaxIniValue bytes, so that Get
  /// may have cut it.
  bool ReachesLimit(std::string_view section, std::string_view key) const;
  /// The keys of \a section, lower-cased, in alphabetical order.
  std::vector<std::string> Keys(std::string_view section) const;
  /// Every section header and key line, in the file's order.
  const std::vector<IniEntry>& Entries() const { return entries_; }

 private:
  const std::string* Find(std::string_view section, std::string_view key) const;

  // "section\nkey", both lower-cased (ASCII), to the whole value.
  std::map<std::string, std::string, std::less<>> values_;
  std::vector<IniEntry> entries_;
};

/// The value of \a key in \a section of \a file_name; empty when the file,
/// the section or the key is missing or unreadable.
std::string ReadIniString(std::string_view section, std::string_view key,
                          const std::string& file_name);

/// Sets \a key in \a section to \a value, adding the key or the section
/// when missing and keeping every other line as it was. The file is
/// rewritten through a temporary file in its folder and renamed into place,
/// so it is never left half-written. Returns false and sets \a error when the
/// file is read-only or cannot be written; the file is then untouched.
/// The file keeps the encoding it was read in; a value that Windows-1252
/// cannot hold turns a Windows-1252 file into UTF-8 with a byte-order mark.
bool WriteIniString(std::string_view section, std::string_view key, std::string_view value,
                    const std::string& file_name, std::string* error = nullptr);

}  // namespace vantrelle
