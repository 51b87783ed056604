#include "server/console_pages.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "install_paths.h"

namespace vantrelle::server {
namespace {

namespace fs = std::filesystem;

// The types of the files a page may be made of; other files are not served.
const char* TypeOf(const std::string& extension) {
  if (extension == ".html") return "text/html; charset=utf-8";
  if (extension == ".js") return "text/javascript; charset=utf-8";
  if (extension == ".css") return "text/css; charset=utf-8";
  if (extension == ".svg") return "image/svg+xml";
  if (extension == ".png") return "image/png";
  return nullptr;
}

constexpr uintmax_t kMaxPage = 4 << 20;

}  // namespace

bool ConsolePages::Load(const std::string& folder, std::string* error) {
  folder_ = folder;
  pages_.clear();
  std::error_code failure;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, failure)) {
    const fs::path& path = entry.path();
    const char* type = TypeOf(path.extension().string());
    if (type == nullptr || !entry.is_regular_file() || entry.is_symlink() ||
        entry.file_size() > kMaxPage)
      continue;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream body;
    body << in.rdbuf();
    if (!in) continue;
    pages_["/" + path.filename().string()] = Page{type, body.str()};
  }
  if (pages_.count("/index.html") == 0) {
    *error = "the console's pages are not in \"" + folder + "\" (no index.html" +
             (failure ? ": " + failure.message() : std::string()) +
             "); set [Server] Pages= to their folder";
    pages_.clear();
    return false;
  }
  return true;
}

std::optional<HttpResponse> ConsolePages::Find(const std::string& path) const {
  auto found = pages_.find(path == "/" ? "/index.html" : path);
  if (found == pages_.end()) return std::nullopt;
  HttpResponse response;
  response.content_type = found->second.type;
  response.body = found->second.body;
  return response;
}

std::string PagesFolder(const std::string& configured) {
  if (!configured.empty()) return configured;
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  const fs::path bin = error ? fs::path("/usr/bin") : self.parent_path();
  if (fs::exists(bin / "console" / "index.html", error)) return (bin / "console").string();
  return (bin / kPagesFolderFromProgram).lexically_normal().string();
}

}  // namespace vantrelle::server
