#include "server/catalogue.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "base/ini_file.h"
#include "base/text_encoding.h"
#include "server/console_store.h"
#include "sql/parameters.h"

namespace vantrelle::server {
namespace {

namespace fs = std::filesystem;

constexpr std::chrono::seconds kRescanAfter{3};

}  // namespace

Report ReadReport(const std::string& catalogue, const std::string& id, const std::string& ini) {
  Report report;
  report.id = id;
  report.catalogue = catalogue;
  report.ini = ini;
  PubDef pub;
  pub.ini_file_name = ini;
  ReadParameters(pub);
  for (int k = 0; k < pub.parameter_count; ++k) report.parameters.push_back(pub.parameters[k]);
  const IniFile file = IniFile::Load(ini);
  report.title = file.Get("Console", "Title");
  if (report.title.empty()) report.title = fs::path(ini).stem().string();
  // Texts the file could not give as UTF-8 are shown with a stand-in.
  report.json = DumpJson(ReportJson(report));
  return report;
}

nlohmann::json ReportJson(const Report& report) {
  nlohmann::json parameters = nlohmann::json::array();
  for (const ParameterRecord& p : report.parameters) {
    parameters.push_back({{"name", p.name},
                          {"description", p.desc},
                          {"default", p.value},
                          {"pattern", p.pattern.empty() ? nlohmann::json(nullptr)
                                                        : nlohmann::json(p.pattern)},
                          {"choices", p.choices.empty() ? nlohmann::json(nullptr)
                                                        : nlohmann::json(p.choices)}});
  }
  return {{"id", report.id},
          {"title", report.title},
          {"catalogue", report.catalogue},
          {"parameters", parameters}};
}

std::shared_ptr<const Catalogues::ReportMap> Catalogues::All() {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto now = std::chrono::steady_clock::now();
  if (fresh_ && now - scanned_ < kRescanAfter) return reports_;
  auto reports = std::make_shared<ReportMap>();
  std::map<std::string, Known> seen;
  for (const Catalogue& catalogue : config_.catalogues) {
    std::error_code error;
    // Links are not followed out of a catalogue's folder.
    fs::recursive_directory_iterator it(catalogue.folder,
                                        fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
      const fs::directory_entry& entry = *it;
      if (entry.is_symlink(error) || !entry.is_regular_file(error)) continue;
      const fs::path& path = entry.path();
      if (path.extension() != ".ini") continue;
      std::string relative = fs::relative(path, catalogue.folder, error).replace_extension().string();
      if (error || relative.empty() || relative.starts_with("..")) continue;
      const std::string id = catalogue.name + "/" + relative;
      // An id is a path of the API and a text of the pages: a name that is
      // not UTF-8 or holds control characters cannot be either.
      const bool control = std::any_of(id.begin(), id.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
      });
      if (!IsValidUtf8(id) || control) {
        if (refused_.insert(path.string()).second)
          std::cerr << "vantrelle-server: the report \"" << path.string()
                    << "\" is left out: its name is not UTF-8 text; rename it.\n";
        continue;
      }
      // Only what changed since the last scan is read again.
      struct stat st;
      if (::stat(path.c_str(), &st) != 0) continue;
      const int64_t changed = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                              st.st_mtim.tv_nsec;
      Known& known = seen[path.string()];
      auto found = known_.find(path.string());
      if (found != known_.end() && found->second.changed == changed &&
          found->second.size == st.st_size && found->second.report.id == id) {
        known = found->second;
      } else {
        known = Known{changed, static_cast<int64_t>(st.st_size),
                      ReadReport(catalogue.name, id, path.string())};
      }
      reports->emplace(id, known.report);
    }
  }
  reports_ = std::move(reports);
  known_ = std::move(seen);
  scanned_ = now;
  fresh_ = true;
  return reports_;
}

std::optional<Report> Catalogues::Find(const std::string& id) {
  auto reports = All();
  auto found = reports->find(id);
  if (found == reports->end()) return std::nullopt;
  return found->second;
}

}  // namespace vantrelle::server
