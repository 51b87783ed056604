#include "ui/display_check.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string_view>

#include <QLibraryInfo>

namespace vantrelle {
namespace {

std::string_view Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string_view() : std::string_view(value);
}

// Connects to the X display \a name through the X client library, loaded
// only for this test; true when it answered. When the library is missing,
// the toolkit cannot use X either and says so itself.
bool XDisplayAnswers(const std::string& name, bool& could_test) {
  could_test = false;
  void* library = ::dlopen("libxcb.so.1", RTLD_LAZY | RTLD_LOCAL);
  if (library == nullptr) return false;
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  auto connect = reinterpret_cast<Connect>(::dlsym(library, "xcb_connect"));
  auto has_error = reinterpret_cast<HasError>(::dlsym(library, "xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<Disconnect>(::dlsym(library, "xcb_disconnect"));
  bool answers = false;
  if (connect != nullptr && has_error != nullptr && disconnect != nullptr) {
    could_test = true;
    void* connection = connect(name.c_str(), nullptr);
    answers = connection != nullptr && has_error(connection) == 0;
    if (connection != nullptr) disconnect(connection);
  }
  ::dlclose(library);
  return answers;
}

// The value the toolkit takes for \a option ("-platform"): the last one
// given, written with one dash or two.
std::optional<std::string> OptionValue(const std::vector<std::string>& options,
                                       std::string_view option) {
  std::optional<std::string> value;
  for (size_t i = 0; i + 1 < options.size(); ++i) {
    std::string_view word = options[i];
    if (word.starts_with("--")) word.remove_prefix(1);
    if (word == option) value = options[++i];
  }
  return value;
}

// The window systems the toolkit has plugins for, by the plugins' file
// names ("libqoffscreen.so" is "offscreen"); empty when no plugin folder can
// be read, and then the toolkit judges for itself.
std::set<std::string> PlatformPlugins() {
  std::vector<std::filesystem::path> folders;
  for (const char* variable : {"QT_QPA_PLATFORM_PLUGIN_PATH", "QT_PLUGIN_PATH"}) {
    std::string_view value = Environment(variable);
    while (!value.empty()) {
      const size_t colon = value.find(':');
      const std::filesystem::path folder(std::string(value.substr(0, colon)));
      folders.push_back(std::string_view(variable) == "QT_PLUGIN_PATH" ? folder / "platforms"
                                                                       : folder);
      value = colon == std::string_view::npos ? std::string_view() : value.substr(colon + 1);
    }
  }
  folders.push_back(
      std::filesystem::path(QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString()) /
      "platforms");
  std::set<std::string> names;
  for (const std::filesystem::path& folder : folders) {
    std::error_code failure;
    for (const auto& entry : std::filesystem::directory_iterator(folder, failure)) {
      const std::string file = entry.path().filename().string();
      if (file.starts_with("libq") && file.ends_with(".so"))
        names.insert(file.substr(4, file.size() - 7));
    }
  }
  return names;
}

}  // namespace

std::string DisplayProblem(const std::vector<std::string>& toolkit_options) {
  const std::optional<std::string> named_platform = OptionValue(toolkit_options, "-platform");
  const std::string platform(named_platform ? *named_platform
                                            : std::string(Environment("QT_QPA_PLATFORM")));
  // Another window system chosen by name (offscreen, wayland, vnc) is the
  // toolkit's to judge once it has a plugin for it; without one, the toolkit
  // would abort.
  if (!platform.empty() && !platform.starts_with("xcb")) {
    const std::string name = platform.substr(0, platform.find(':'));
    const std::set<std::string> plugins = PlatformPlugins();
    if (plugins.empty()) return "";
    for (const std::string& plugin : plugins)
      if (plugin.starts_with(name)) return "";
    std::string known;
    for (const std::string& plugin : plugins) known += (known.empty() ? "" : ", ") + plugin;
    return "the window system \"" + name + "\" (" +
           (named_platform ? "-platform" : "QT_QPA_PLATFORM") +
           ") is not available here (there are " + known + "); use -C for batch mode.";
  }
  if (platform.empty() && !Environment("WAYLAND_DISPLAY").empty()) return "";
  const std::optional<std::string> named_display = OptionValue(toolkit_options, "-display");
  const std::string display(named_display ? *named_display : std::string(Environment("DISPLAY")));
  if (display.empty()) return "no display to show the window on; use -C for batch mode.";
  bool could_test = false;
  if (!XDisplayAnswers(display, could_test) && could_test)
    return "the display \"" + display + "\" (" + (named_display ? "-display" : "DISPLAY") +
           ") does not answer or refuses the connection; use -C for batch mode.";
  return "";
}

}  // namespace vantrelle
