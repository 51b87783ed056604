// Fuzz target for the command-line text grammar: the input is one command
// line as the window's start or a shortcut passes it; it is split into the
// switches and the positional values.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "run/command_line.h"
#include "base/pubdef.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  vantrelle::PubDef pub;
  vantrelle::ParseCommandText(text, pub);
  if (pub.command_value_count < 0 || pub.command_value_count > vantrelle::kMaxCommandValues) {
    std::abort();
  }
  return 0;
}
