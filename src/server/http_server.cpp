#include "server/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include "base/text_scan.h"

namespace vantrelle::server {
namespace {

std::mutex counts_mutex;
std::map<int, long> counts;

// What one connection's request gathers between the library's calls.
struct Pending {
  std::string body;
  bool too_large = false;
};

MHD_Result CollectHeader(void* cls, MHD_ValueKind, const char* key, const char* value) {
  auto* headers = static_cast<std::map<std::string, std::string>*>(cls);
  headers->emplace(LowerAscii(key), value ? value : "");
  return MHD_YES;
}

MHD_Result CollectArgument(void* cls, MHD_ValueKind, const char* key, const char* value) {
  static_cast<std::map<std::string, std::string>*>(cls)->emplace(key, value ? value : "");
  return MHD_YES;
}

std::string ClientAddress(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (info == nullptr || info->client_addr == nullptr) return "";
  char host[NI_MAXHOST] = "";
  const sockaddr* address = info->client_addr;
  const socklen_t length = address->sa_family == AF_INET6 ? sizeof(sockaddr_in6)
                                                          : sizeof(sockaddr_in);
  if (getnameinfo(address, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) return "";
  std::string text = host;
  if (text.starts_with("::ffff:")) text = text.substr(7);
  return text;
}

ssize_t StreamReader(void* cls, uint64_t, char* buffer, size_t size) {
  auto* stream = static_cast<std::function<ssize_t(char*, size_t)>*>(cls);
  const ssize_t written = (*stream)(buffer, size);
  if (written < 0) return MHD_CONTENT_READER_END_OF_STREAM;
  return written;
}

void StreamFree(void* cls) { delete static_cast<std::function<ssize_t(char*, size_t)>*>(cls); }

MHD_Result Send(MHD_Connection* connection, HttpServer* server, HttpResponse reply) {
  MHD_Response* response = nullptr;
  if (reply.stream) {
    auto* stream = new std::function<ssize_t(char*, size_t)>(std::move(reply.stream));
    response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 16 * 1024, &StreamReader,
                                                 stream, &StreamFree);
  } else if (reply.file_fd >= 0) {
    response = MHD_create_response_from_fd(static_cast<uint64_t>(reply.file_size), reply.file_fd);
  } else {
    response = MHD_create_response_from_buffer(reply.body.size(), reply.body.data(),
                                               MHD_RESPMEM_MUST_COPY);
  }
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, "Content-Type", reply.content_type.c_str());
  MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
  MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
  MHD_add_response_header(response, "X-Frame-Options", "DENY");
  MHD_add_response_header(response, "Content-Security-Policy",
                          "default-src 'self'; object-src 'none'; frame-ancestors 'none'; "
                          "base-uri 'none'; form-action 'self'");
  MHD_add_response_header(response, "Cache-Control", "no-store");
  if (server->tls_)
    MHD_add_response_header(response, "Strict-Transport-Security", "max-age=31536000");
  for (const auto& [name, value] : reply.headers)
    MHD_add_response_header(response, name.c_str(), value.c_str());
  server->Count(reply.status);
  const MHD_Result result =
      MHD_queue_response(connection, static_cast<unsigned int>(reply.status), response);
  MHD_destroy_response(response);
  return result;
}

MHD_Result Access(void* cls, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char* upload_data, size_t* upload_data_size,
                  void** state) {
  auto* server = static_cast<HttpServer*>(cls);
  if (*state == nullptr) {
    *state = new Pending();
    return MHD_YES;
  }
  auto* pending = static_cast<Pending*>(*state);
  if (*upload_data_size > 0) {
    if (pending->body.size() + *upload_data_size > kMaxBody) pending->too_large = true;
    else pending->body.append(upload_data, *upload_data_size);
    *upload_data_size = 0;
    return MHD_YES;
  }
  if (pending->too_large) {
    HttpResponse reply;
    reply.status = 413;
    reply.body = R"({"error":"The request body is larger than 64 KiB."})";
    return Send(connection, server, std::move(reply));
  }
  HttpRequest request;
  request.method = method;
  request.path = url;
  request.body = std::move(pending->body);
  request.tls = server->tls_;
  MHD_get_connection_values(connection, MHD_HEADER_KIND, &CollectHeader, &request.headers);
  MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &CollectArgument, &request.query);
  request.address = ClientAddress(connection);
  HttpResponse reply;
  try {
    reply = server->handler_(request);
  } catch (const std::exception&) {
    reply = HttpResponse{};
    reply.status = 500;
    reply.body = R"({"error":"The server could not answer this request."})";
  }
  return Send(connection, server, std::move(reply));
}

void Completed(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
  delete static_cast<Pending*>(*state);
  *state = nullptr;
}

bool ReadFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  text = out.str();
  return true;
}

}  // namespace

HttpServer::~HttpServer() { Stop(); }

void HttpServer::Count(int status) {
  std::lock_guard<std::mutex> lock(counts_mutex);
  ++counts[status];
}

std::map<int, long> HttpServer::StatusCounts() {
  std::lock_guard<std::mutex> lock(counts_mutex);
  return counts;
}

bool HttpServer::Start(const std::string& host, int port, const std::string& certificate,
                       const std::string& key, int client_timeout_seconds, Handler handler,
                       std::string* error) {
  handler_ = std::move(handler);
  sockaddr_storage address{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  unsigned int flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD |
                       MHD_USE_ERROR_LOG;
  if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
  } else if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    flags |= MHD_USE_IPv6;
  } else {
    *error = "\"" + host + "\" is not an IP address to listen on.";
    return false;
  }
  if (!certificate.empty()) {
    if (!ReadFile(certificate, certificate_) || !ReadFile(key, key_)) {
      *error = "the TLS certificate \"" + certificate + "\" or its key \"" + key +
               "\" cannot be read.";
      return false;
    }
    flags |= MHD_USE_TLS;
    tls_ = true;
  }
  std::vector<MHD_OptionItem> options = {
      {MHD_OPTION_SOCK_ADDR, 0, &address},
      // A client that sends nothing for this long is dropped.
      {MHD_OPTION_CONNECTION_TIMEOUT, client_timeout_seconds, nullptr},
      {MHD_OPTION_CONNECTION_LIMIT, 512, nullptr},
      {MHD_OPTION_PER_IP_CONNECTION_LIMIT, 128, nullptr},
      // The request line and headers must fit in this (431 or 414 beyond).
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, 32 * 1024, nullptr},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Completed), nullptr},
  };
  if (tls_) {
    options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, certificate_.data()});
    options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, key_.data()});
  }
  options.push_back({MHD_OPTION_END, 0, nullptr});
  daemon_ = MHD_start_daemon(flags, static_cast<uint16_t>(port), nullptr, nullptr, &Access, this,
                             MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
  if (daemon_ == nullptr) {
    *error = "cannot listen on " + host + ":" + std::to_string(port) + " (" +
             std::strerror(errno) + ").";
    return false;
  }
  return true;
}

void HttpServer::Stop() {
  if (daemon_ != nullptr) MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
}

}  // namespace vantrelle::server
