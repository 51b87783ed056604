#include "run/command_line.h"

#include <filesystem>

#include "run/text_scan.h"

namespace vantrelle {
namespace {

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return upper;
}

// Applies the token grammar to a source of tokens. \a next returns false
// when no token is left.
template <typename NextToken>
void ParseTokens(NextToken next, PubDef& pub) {
  int count = 0;
  std::string token;
  while (count < kMaxCommandValues && next(token)) {
    if (!token.empty() && token[0] == '-') {
      std::string upper = Upper(token);
      if (upper == "-F") {
        std::string path;
        pub.ini_file_name = next(path) ? path : "";
        continue;
      }
      if (upper == "-C") {
        pub.interactive = false;
        continue;
      }
    }
    pub.command_values[count++] = token;
  }
  pub.command_value_count = static_cast<int16_t>(count);
}

}  // namespace

void ParseCommandWords(const std::vector<std::string>& words, PubDef& pub) {
  size_t index = 0;
  ParseTokens(
      [&](std::string& token) {
        if (index >= words.size()) return false;
        token = words[index++];
        return true;
      },
      pub);
}

void ParseCommandText(std::string_view text, PubDef& pub) {
  int position = 1;
  const int length = static_cast<int>(text.size());
  ParseTokens(
      [&](std::string& token) {
        // Trailing blanks would otherwise give empty values without end: the
        // scanner stops on the last blank without moving past it.
        int probe = position;
        SkipBlanks(text, probe);
        if (probe > length || IsBlank(text[probe - 1])) return false;
        token = GetToken(text, position, false);
        return true;
      },
      pub);
}

std::string FindDefaultConfiguration(const FileSystem& file_system, const std::string& exe_path,
                                     const char* windir) {
  std::filesystem::path exe(exe_path);
  std::string base = exe.stem().string();
  std::string candidate = (exe.parent_path() / (base + ".ini")).string();
  if (file_system.FileExists(candidate)) return candidate;
  if (windir != nullptr && *windir != '\0') {
    candidate = (std::filesystem::path(windir) / (base + ".ini")).string();
    if (file_system.FileExists(candidate)) return candidate;
    return "";
  }
  candidate = "/etc/" + base + ".ini";
  if (file_system.FileExists(candidate)) return candidate;
  return "";
}

}  // namespace vantrelle
