#include "ui/display_check.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

namespace vantrelle {
namespace {

// A display number no X server serves here.
std::string UnservedDisplay() {
  for (int n = 99; n > 80; --n)
    if (!std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)))
      return ":" + std::to_string(n);
  return "";
}

struct DisplayCase {
  const char* qt_qpa_platform;  // null: unset
  const char* display;          // "@" stands for the unserved display
  std::vector<std::string> options;
  std::string expected;  // "@" as above
};

class DisplayProblemTest : public testing::TestWithParam<DisplayCase> {
 protected:
  void SetUp() override {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    ::unsetenv("WAYLAND_DISPLAY");
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
  }
  static std::string Fill(std::string text, const std::string& display) {
    for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at))
      text.replace(at, 1, display);
    return text;
  }

  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_P(DisplayProblemTest, TheToolkitsDisplayIsChecked) {
  const DisplayCase& c = GetParam();
  const std::string display = UnservedDisplay();
  ASSERT_FALSE(display.empty());
  auto set = [](const char* name, const char* value, const std::string& unserved) {
    if (value == nullptr)
      ::unsetenv(name);
    else
      ::setenv(name, Fill(value, unserved).c_str(), 1);
  };
  set("QT_QPA_PLATFORM", c.qt_qpa_platform, display);
  set("DISPLAY", c.display, display);
  std::vector<std::string> options;
  for (const std::string& option : c.options) options.push_back(Fill(option, display));
  EXPECT_EQ(DisplayProblem(options), Fill(c.expected, display));
}

const char kNoDisplay[] = "no display to show the window on; use -C for batch mode.";

INSTANTIATE_TEST_SUITE_P(
    Cases, DisplayProblemTest,
    testing::Values(
        DisplayCase{nullptr,
                    "@",
                    {},
                    "the display \"@\" (DISPLAY) does not answer or refuses the connection; use "
                    "-C for batch mode."},
        DisplayCase{nullptr,
                    nullptr,
                    {"-display", "@"},
                    "the display \"@\" (-display) does not answer or refuses the connection; "
                    "use -C for batch mode."},
        DisplayCase{"xcb",
                    ":0",
                    {"--display", "@"},
                    "the display \"@\" (-display) does not answer or refuses the connection; "
                    "use -C for batch mode."},
        DisplayCase{nullptr, "", {}, kNoDisplay},
        // -platform wins over the environment, as in the toolkit.
        DisplayCase{"offscreen", nullptr, {"-platform", "xcb"}, kNoDisplay},
        DisplayCase{"xcb", "@", {"-platform", "offscreen"}, ""},
        DisplayCase{nullptr, nullptr, {"-platform", "offscreen:configfile=screen.json"}, ""}));

}  // namespace
}  // namespace vantrelle
