#include "base/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "base/text_encoding.h"
#include "base/text_scan.h"

namespace vantrelle {
namespace {

bool ReadWholeFile(const std::string& path, std::string& content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  content = buffer.str();
  return !in.bad();
}

bool IsIniBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsIniBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsIniBlank(text.back())) text.remove_suffix(1);
  return text;
}

// One line of the file as the reader sees it: the text before a NUL, with
// its line break removed.
struct Line {
  std::string_view text;  ///< without the line break
  size_t begin = 0;       ///< offset of the line in the file
  size_t end = 0;         ///< offset just past its line break
};

std::vector<Line> SplitLines(std::string_view content) {
  std::vector<Line> lines;
  size_t pos = 0;
  if (content.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  while (pos < content.size()) {
    size_t lf = content.find('\n', pos);
    size_t stop = lf == std::string_view::npos ? content.size() : lf;
    std::string_view text = content.substr(pos, stop - pos);
    size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    lines.push_back({text, pos, lf == std::string_view::npos ? content.size() : lf + 1});
    pos = stop + 1;
  }
  return lines;
}

// The name of a section header line, or nothing when the line is not one.
bool SectionName(std::string_view line, std::string_view& name) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return false;
  size_t close = line.find(']');
  name = Trim(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
  return true;
}

// Splits a key line; comment lines and lines without "=" are not keys.
bool KeyAndValue(std::string_view line, std::string_view& key, std::string_view& value) {
  std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == ';') return false;
  size_t equals = trimmed.find('=');
  if (equals == std::string_view::npos) return false;
  key = Trim(trimmed.substr(0, equals));
  value = Trim(trimmed.substr(equals + 1));
  return true;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

// Cuts \a value to at most \a limit bytes without splitting a UTF-8 sequence.
std::string CutAtCharacter(std::string_view value, size_t limit) {
  if (value.size() <= limit) return std::string(value);
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80) --end;
  return std::string(value.substr(0, end));
}

std::string SystemMessage(int error) { return std::generic_category().message(error); }

}  // namespace

IniFile IniFile::Load(const std::string& file_name, std::string* error) {
  std::string content;
  struct stat st;
  if (::stat(file_name.c_str(), &st) != 0) {
    if (error != nullptr) *error = SystemMessage(errno);
    return IniFile();
  }
  if (!S_ISREG(st.st_mode)) {
    if (error != nullptr) *error = "it is not a file";
    return IniFile();
  }
  errno = 0;
  if (!ReadWholeFile(file_name, content)) {
    if (error != nullptr) *error = SystemMessage(errno != 0 ? errno : EIO);
    return IniFile();
  }
  return Parse(content);
}

IniFile IniFile::Parse(std::string_view bytes) {
  IniFile ini;
  // Notepad's "Unicode" and the ANSI code page arrive here as well.
  const std::string content = DecodeText(bytes);
  std::map<std::string, bool, std::less<>> sections_seen;
  std::string section;  // lower-cased name of the section being read
  bool in_section = false;
  std::string written;  // the section's name as written
  int number = 0;
  for (const Line& line : SplitLines(content)) {
    ++number;
    std::string_view name;
    if (SectionName(line.text, name)) {
      // The first section of a name is the one that counts.
      section = LowerAscii(name);
      written = name;
      in_section = sections_seen.emplace(section, true).second;
      ini.entries_.push_back({written, "", number});
      continue;
    }
    std::string_view key, value;
    if (in_section && KeyAndValue(line.text, key, value)) {
      ini.values_.emplace(section + '\n' + LowerAscii(key), std::string(Unquote(value)));
      ini.entries_.push_back({written, std::string(key), number});
    }
  }
  return ini;
}

const std::string* IniFile::Find(std::string_view section, std::string_view key) const {
  auto found = values_.find(LowerAscii(section) + '\n' + LowerAscii(key));
  return found == values_.end() ? nullptr : &found->second;
}

std::string IniFile::Get(std::string_view section, std::string_view key) const {
  const std::string* value = Find(section, key);
  return value == nullptr ? std::string() : CutAtCharacter(*value, kMaxIniValue);
}

bool IniFile::ReachesLimit(std::string_view section, std::string_view key) const {
  const std::string* value = Find(section, key);
  return value != nullptr && value->size() >= kMaxIniValue;
}

std::vector<std::string> IniFile::Keys(std::string_view section) const {
  const std::string prefix = LowerAscii(section) + '\n';
  std::vector<std::string> keys;
  for (auto it = values_.lower_bound(prefix); it != values_.end() && it->first.starts_with(prefix);
       ++it)
    keys.push_back(it->first.substr(prefix.size()));
  return keys;
}

std::string ReadIniString(std::string_view section, std::string_view key,
                          const std::string& file_name) {
  return IniFile::Load(file_name).Get(section, key);
}

bool WriteIniString(std::string_view section, std::string_view key, std::string_view value,
                    const std::string& file_name, std::string* error) {
  auto fail = [&](const std::string& message) {
    if (error != nullptr) *error = message;
    return false;
  };
  std::string content;
  struct stat st;
  bool exists = ::stat(file_name.c_str(), &st) == 0;
  if (exists) {
    if (!S_ISREG(st.st_mode)) return fail("\"" + file_name + "\" is not a file.");
    // Root may write anything; a read-only file is still left alone.
    if ((st.st_mode & S_IWUSR) == 0) return fail("\"" + file_name + "\" is read-only.");
    if (!ReadWholeFile(file_name, content))
      return fail("Cannot read \"" + file_name + "\": " + SystemMessage(errno) + ".");
  }
  // The edit is made on the text as UTF-8 and written back in the file's
  // own encoding, so Windows editors still read it as before.
  const TextEncoding encoding = DetectEncoding(content);
  content = DecodeText(content, encoding);
  const bool crlf = content.find("\r\n") != std::string::npos || content.empty();
  const std::string newline = crlf ? "\r\n" : "\n";
  std::string new_line = std::string(key) + "=" + std::string(value);

  std::vector<Line> lines = SplitLines(content);
  std::string out;
  bool in_section = false;
  bool done = false;
  size_t section_last_end = std::string::npos;  // where to add a missing key
  size_t copied = 0;
  for (const Line& line : lines) {
    if (done) break;
    std::string_view name;
    if (SectionName(line.text, name)) {
      if (in_section) break;  // end of our section: key is missing
      in_section = EqualsIgnoreCase(name, section);
      if (in_section) section_last_end = line.end;
      continue;
    }
    if (!in_section) continue;
    std::string_view line_key, line_value;
    if (KeyAndValue(line.text, line_key, line_value) && EqualsIgnoreCase(line_key, key)) {
      out.append(content, copied, line.begin - copied);
      out += new_line + newline;
      copied = line.end;
      done = true;
    } else if (!Trim(line.text).empty()) {
      section_last_end = line.end;
    }
  }
  if (!done) {
    if (section_last_end != std::string::npos) {
      out.append(content, copied, section_last_end - copied);
      // A last line without a break needs one before the new key.
      if (section_last_end == content.size() && !content.empty() && content.back() != '\n')
        out += newline;
      out += new_line + newline;
      copied = section_last_end;
    } else {
      out.append(content, copied);
      copied = content.size();
      if (!out.empty() && out.back() != '\n') out += newline;
      out += "[" + std::string(section) + "]" + newline + new_line + newline;
    }
  }
  out.append(content, std::min(copied, content.size()));
  std::string encoded;
  if (!EncodeText(out, encoding, encoded)) {
    // A character the code page cannot hold: the file becomes UTF-8 with a
    // byte-order mark rather than lose it (Windows editors read that too).
    EncodeText(out, TextEncoding::kUtf8Bom, encoded);
  }
  out = std::move(encoded);

  // Write beside the file and rename over it: all or nothing.
  std::string temp = file_name + ".XXXXXX";
  std::vector<char> pattern(temp.begin(), temp.end());
  pattern.push_back('\0');
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) return fail("Cannot write \"" + file_name + "\": " + SystemMessage(errno) + ".");
  std::string temp_name(pattern.data());
  bool ok = true;
  size_t written = 0;
  while (ok && written < out.size()) {
    ssize_t n = ::write(fd, out.data() + written, out.size() - written);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) written += static_cast<size_t>(n);
  }
  int saved_errno = errno;
  if (ok && ::fsync(fd) != 0) ok = false, saved_errno = errno;
  ::fchmod(fd, exists ? (st.st_mode & 07777) : 0644);
  if (::close(fd) != 0 && ok) ok = false, saved_errno = errno;
  if (ok && ::rename(temp_name.c_str(), file_name.c_str()) != 0) ok = false, saved_errno = errno;
  if (!ok) {
    ::unlink(temp_name.c_str());
    return fail("Cannot write \"" + file_name + "\": " + SystemMessage(saved_errno) + ".");
  }
  return true;
}

}  // namespace vantrelle
