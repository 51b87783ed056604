// Fuzz target for the INI reader and what is done with the values it gives:
// the input is an INI file; its [PARAMETER] section becomes the report
// parameters, which are substituted into a line, the file-name keys go
// through the date macros, and one key is rewritten in place.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/ini_file.h"
#include "base/pubdef.h"
#include "sql/parameters.h"

namespace {

const std::string& ScratchFile() {
  static const std::string path = [] {
    std::filesystem::path folder =
        std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    return (folder / ("vantrelle_ini_fuzz_" + std::to_string(::getpid()) + ".ini")).string();
  }();
  return path;
}

std::tm FixedTime() {
  std::tm now{};
  now.tm_year = 126;
  now.tm_mon = 11;
  now.tm_mday = 9;
  now.tm_hour = 8;
  now.tm_min = 5;
  now.tm_sec = 7;
  return now;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = ScratchFile();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) std::abort();
  }
  vantrelle::PubDef pub;
  pub.clock = FixedTime;
  pub.ini_file_name = path;
  pub.command_values[1] = "first";
  pub.command_values[3] = "third";
  pub.command_value_count = 3;
  vantrelle::ReadParameters(pub);
  if (pub.parameter_count < 0 || pub.parameter_count > vantrelle::kMaxParameters) std::abort();

  std::string line = vantrelle::ReadIniString("SQLFILE", "F1", path);
  if (line.size() > vantrelle::kMaxIniValue) std::abort();
  std::string substituted = vantrelle::SubstituteParameters(pub, line + " where a = :P1");
  (void)substituted;
  for (const char* key : {"LogFileName", "ReportFileName", "TemplateFileName", "DSN"}) {
    std::string value = vantrelle::ReadIniString("Setting", key, path);
    if (value.size() > vantrelle::kMaxIniValue) std::abort();
    vantrelle::ExpandDateMacros(value, FixedTime());
  }

  // A rewrite keeps the value it wrote readable.
  std::string error;
  if (vantrelle::WriteIniString("Setting", "LastRun", "2026-12-09 08:05", path, &error) &&
      vantrelle::ReadIniString("Setting", "LastRun", path) != "2026-12-09 08:05") {
    std::abort();
  }
  std::error_code ec;
  std::filesystem::remove(path, ec);
  return 0;
}
