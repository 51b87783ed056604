#include "run/configuration.h"

#include <string>

#include "run/error.h"
#include "run/ini_file.h"
#include "run/run_log.h"
#include "run/text_scan.h"
#include "sql/parameters.h"
#include "version.h"

namespace vantrelle {
namespace {

const char kConfigIncorrect[] = "The information in the configuration file is incorrect.";

std::string ReadTrimmed(const PubDef& pub, const char* section, const char* key) {
  return TrimSpaces(ReadIniString(section, key, pub.ini_file_name));
}

// Writes a log line; a failed write does not stop loading the configuration.
void TryWriteLog(PubDef& pub, const std::string& message) {
  try {
    WriteLog(pub, message);
  } catch (const Error&) {
  }
}

bool TryLogError(PubDef& pub, const std::string& error_text, const std::string& info_text) {
  try {
    LogError(pub, error_text, info_text);
  } catch (const Error&) {
  }
  return false;
}

}  // namespace

bool LoadConfiguration(PubDef& pub) {
  const std::tm now = pub.clock();
  pub.log_file_name = ExpandDateMacros(ReadTrimmed(pub, "FILE", "LogFileName"), now);

  // The previous run's log is closed before the new one is created.
  pub.log_stream.reset();
  try {
    if (pub.log_file_name.empty())
      throw Error("The log file name is empty: [FILE] LogFileName is not set in \"" +
                  pub.ini_file_name + "\".");
    pub.log_stream = pub.file_system.CreateTextFile(pub.log_file_name);
  } catch (const Error& error) {
    ShowErrorBox(pub, error.Description());
    return false;
  }

  TryWriteLog(pub, std::string(kProductName) + " " + std::to_string(kVersionMajor) + "." +
                       std::to_string(kVersionMinor) + "." + std::to_string(kVersionRevision));
  TryWriteLog(pub, kLegalCopyright);
  TryWriteLog(pub, "Open log file successfully.");

  pub.template_file_name = ReadTrimmed(pub, "FILE", "ReportTemplateFileName");
  if (!pub.file_system.FileExists(pub.template_file_name))
    return TryLogError(pub, kConfigIncorrect,
                       "The template file \"" + pub.template_file_name + "\" does not exist.");

  pub.report_file_name = ExpandDateMacros(ReadTrimmed(pub, "FILE", "ReportFileName"), now);
  if (pub.report_file_name.empty())
    return TryLogError(pub, kConfigIncorrect, "The name of report file is invalid.");

  pub.dsn = ReadTrimmed(pub, "ODBC", "DSN");
  if (pub.dsn.empty()) return TryLogError(pub, kConfigIncorrect, "Data source name does not be set.");

  pub.db_user = ReadTrimmed(pub, "ODBC", "DBUSER");
  pub.db_pwd = ReadTrimmed(pub, "ODBC", "DBPWD");
  return true;
}

}  // namespace vantrelle
