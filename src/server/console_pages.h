// The console's pages: the static HTML, CSS and JavaScript files of one
// folder, read whole when the server starts and served from memory. A path
// from a request is only looked up among the names read; it never becomes a
// file name.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "server/http_server.h"

namespace vantrelle::server {

class ConsolePages {
 public:
  /// Reads the pages of \a folder. Returns false, with the reason in
  /// \a error, when the folder has no index.html.
  bool Load(const std::string& folder, std::string* error);
  /// The page for a GET of \a path ("/" is index.html), if there is one.
  std::optional<HttpResponse> Find(const std::string& path) const;
  const std::string& folder() const { return folder_; }

 private:
  struct Page {
    std::string type;
    std::string body;
  };
  std::string folder_;
  std::map<std::string, Page> pages_;
};

/// Where the pages are: [Server] Pages= when given, else beside the server
/// program (a build), else where the package installs them.
std::string PagesFolder(const std::string& configured);

}  // namespace vantrelle::server
