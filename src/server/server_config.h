// The console server's configuration: an INI file with a [Server] section,
// a [Mail] section and one [Catalogue NAME] section per catalogue of reports.
//
// Every problem is an error that names the file, the line and the key, and
// the server then never starts listening.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantrelle::server {

/// A folder of report configurations and who may see and run them: user
/// names and "@role"s.
struct Catalogue {
  std::string name;
  std::string folder;
  std::vector<std::string> viewers;
  std::vector<std::string> runners;
};

/// The mail server that delivers scheduled reports and notices.
struct MailConfig {
  std::string server;             ///< smtp://host:port or smtps://host:port; empty: no mail
  std::string from;
  std::string user;
  std::string password;           ///< read from PasswordFile=
  bool require_tls = true;        ///< STARTTLS on smtp://, refused without it
  std::string ca_file;            ///< certificates to trust besides the system's
  int64_t attach_limit = 10 << 20;  ///< larger files go as a link
  int tries = 5;                  ///< tries of one delivery before it fails
  int retry_seconds = 60;         ///< the first wait; doubled after each try
};

struct ServerConfig {
  std::string file;                    ///< where it was read from
  std::string listen_host = "127.0.0.1";
  int listen_port = 8080;
  std::string state = "/var/lib/vantrelle";
  int max_runs = 2;                    ///< runs at once; the rest wait in order
  int keep_runs = 100;                 ///< runs kept per report
  int stop_grace_seconds = 30;         ///< after Stop, how long a run has to end cleanly
  int session_idle_minutes = 60;
  int client_timeout_seconds = 15;     ///< a client that sends nothing this long is dropped
  std::string tls_certificate;
  std::string tls_key;
  std::string trusted_proxy;           ///< the reverse proxy's address
  std::string proxy_user_header;       ///< the header in which it names the user
  std::string program;                 ///< the batch program; empty: beside the server
  std::string pages;                   ///< the console's pages; empty: as installed
  std::string public_url;              ///< how readers reach the console, for links in mail
  MailConfig mail;
  std::vector<Catalogue> catalogues;
};

/// A configuration that cannot be used: "FILE:LINE: message".
class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// True for a plain mail address (one "@", nothing that could end a header).
bool PlausibleAddress(const std::string& address);

/// Reads and checks \a file. Throws ConfigError.
ServerConfig LoadServerConfig(const std::string& file);

}  // namespace vantrelle::server
