// The HTTP side of the console, on libmicrohttpd: one thread per connection
// (a live log may block its own), bounded request lines, headers and bodies,
// connections per address, and an idle time-out for slow clients. Every
// answer carries the security headers a browser needs.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct MHD_Daemon;

namespace vantrelle::server {

struct HttpRequest {
  std::string method;
  std::string path;  ///< percent-decoded, without the query
  std::map<std::string, std::string> query;
  std::map<std::string, std::string> headers;  ///< names lower-cased
  std::string body;
  std::string address;  ///< the client's IP address
  bool tls = false;

  std::string Header(const std::string& lower_name) const {
    auto found = headers.find(lower_name);
    return found == headers.end() ? "" : found->second;
  }
  std::string Query(const std::string& name) const {
    auto found = query.find(name);
    return found == query.end() ? "" : found->second;
  }
};

struct HttpResponse {
  int status = 200;
  std::string content_type = "application/json";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  /// When set, the body is this open file (size \a file_size), closed after.
  int file_fd = -1;
  off_t file_size = 0;
  /// When set, the body is produced by this callback as the client reads:
  /// it fills the buffer and returns the bytes written, 0 to be called again,
  /// or -1 at the end.
  std::function<ssize_t(char* buffer, size_t size)> stream;
};

/// Largest request body taken; a larger one is answered 413.
inline constexpr size_t kMaxBody = 64 * 1024;

class HttpServer {
 public:
  using Handler = std::function<HttpResponse(const HttpRequest&)>;

  HttpServer() = default;
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  /// Listens on \a host:\a port (HTTPS with the PEM \a certificate and \a key
  /// when given). Returns false and sets \a error when it cannot.
  bool Start(const std::string& host, int port, const std::string& certificate,
             const std::string& key, int client_timeout_seconds, Handler handler,
             std::string* error);
  /// Stops accepting; open connections are ended.
  void Stop();
  /// Answers to count by status, for the metrics.
  std::map<int, long> StatusCounts();

  // For the library's callbacks.
  Handler handler_;
  bool tls_ = false;
  void Count(int status);

 private:
  MHD_Daemon* daemon_ = nullptr;
  std::string certificate_;
  std::string key_;
};

}  // namespace vantrelle::server
