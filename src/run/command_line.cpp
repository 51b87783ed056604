#include "run/command_line.h"

#include <filesystem>

#include "base/text_scan.h"

namespace vantrelle {
namespace {

// Applies the token grammar to a source of tokens. \a next returns false
// when no token is left.
template <typename NextToken>
void ParseTokens(NextToken next, PubDef& pub) {
  int count = 0;
  std::string token;
  while (count < kMaxCommandValues && next(token)) {
    if (!token.empty() && token[0] == '-') {
      std::string upper = UpperAscii(token);
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

// An option of the window toolkit: it is read by the toolkit, never as a
// report value. Those with a value take the next word, or, where the toolkit
// allows it, the text after "=" in the same word.
struct ToolkitOption {
  std::string_view name;
  bool takes_value;
  bool value_after_equals;
};

// The options the window toolkit reads from the command line: those of the
// application object and those of the X11 window system plugin.
constexpr ToolkitOption kToolkitOptions[] = {
    {"-platform", true, false},
    {"-platformpluginpath", true, false},
    {"-platformtheme", true, false},
    {"-plugin", true, false},
    {"-qwindowgeometry", true, false},
    {"-qwindowicon", true, false},
    {"-qwindowtitle", true, false},
    {"-geometry", true, false},
    {"-title", true, false},
    {"-icon", true, false},
    {"-session", true, false},
    {"-style", true, true},
    {"-stylesheet", true, true},
    {"-display", true, false},
    {"-name", true, false},
    {"-visual", true, false},
    {"-reverse", false, false},
    {"-widgetcount", false, false},
    {"-testability", false, false},
    {"-nograb", false, false},
    {"-dograb", false, false},
};

// The toolkit option \a word names (compared exactly; "--name" is the same
// option), or null. \a joined tells whether the word holds its value.
const ToolkitOption* FindToolkitOption(std::string_view word, bool& joined) {
  static constexpr ToolkitOption kDebugger{"-qmljsdebugger", false, false};
  joined = false;
  if (word.starts_with("--")) word.remove_prefix(1);
  if (word.starts_with("-qmljsdebugger=")) return &kDebugger;
  for (const ToolkitOption& option : kToolkitOptions) {
    if (word == option.name) return &option;
    if (option.value_after_equals && word.size() > option.name.size() &&
        word.starts_with(option.name) && word[option.name.size()] == '=') {
      joined = true;
      return &option;
    }
  }
  return nullptr;
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

std::vector<std::string> ParseProgramWords(const std::vector<std::string>& words, PubDef& pub) {
  ParseCommandWords(words, pub);
  if (!pub.interactive) return {};
  std::vector<std::string> toolkit;
  std::vector<std::string> rest;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (UpperAscii(word) == "-F") {
      // The word after -F is the configuration file, whatever it looks like.
      rest.push_back(word);
      if (i + 1 < words.size()) rest.push_back(words[++i]);
      continue;
    }
    bool joined = false;
    const ToolkitOption* option = FindToolkitOption(word, joined);
    if (option == nullptr) {
      rest.push_back(word);
      continue;
    }
    toolkit.push_back(word);
    if (option->takes_value && !joined && i + 1 < words.size()) toolkit.push_back(words[++i]);
  }
  // The report's words are read again without the toolkit's. The mode stays
  // what the whole line gave: a -C that only now falls within the first ten
  // values does not turn the window into a batch run.
  pub.ini_file_name.clear();
  pub.command_values.fill(std::string());
  pub.command_value_count = 0;
  ParseCommandWords(rest, pub);
  pub.interactive = true;
  return toolkit;
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
