// The reports of the catalogues: every configuration (*.ini) below a
// catalogue's folder, subfolders included, with its title and parameters.
// Scanned again when asked for after a few seconds, so that a report added
// to a folder appears without a restart.
#pragma once

#include <chrono>
#include <map>
#include <set>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/pubdef.h"
#include "server/server_config.h"

namespace vantrelle::server {

struct Report {
  std::string id;         ///< "catalogue/path/below/folder" without ".ini"
  std::string catalogue;
  std::string title;      ///< [Console] Title=, else the file name
  std::string ini;        ///< the configuration's full path
  std::vector<ParameterRecord> parameters;  ///< in slot order, defaults as values
  std::string json;       ///< ReportJson, serialized once
};

/// The report as the API lists it (without its last run).
nlohmann::json ReportJson(const Report& report);

class Catalogues {
 public:
  explicit Catalogues(const ServerConfig& config) : config_(config) {}

  using ReportMap = std::map<std::string, Report>;
  /// Every report, by id (a snapshot: a rescan makes a new one).
  std::shared_ptr<const ReportMap> All();
  std::optional<Report> Find(const std::string& id);

 private:
  // A configuration as last read: its modification time and size, and the
  // report made of it.
  struct Known {
    int64_t changed = 0;
    int64_t size = 0;
    Report report;
  };

  const ServerConfig& config_;
  std::mutex mutex_;
  std::shared_ptr<const ReportMap> reports_;
  std::map<std::string, Known> known_;  // by the configuration's path
  std::set<std::string> refused_;       // paths left out, said once each
  std::chrono::steady_clock::time_point scanned_{};
  bool fresh_ = false;
};

/// Reads one report configuration's title and parameters.
Report ReadReport(const std::string& catalogue, const std::string& id, const std::string& ini);

}  // namespace vantrelle::server
