#include "server/server_config.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <set>

#include "base/text_scan.h"

namespace vantrelle::server {
namespace {

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> SplitList(const std::string& value) {
  std::vector<std::string> items;
  std::string item;
  for (char c : value + ",") {
    if (c == ',' || c == ' ' || c == '\t') {
      if (!item.empty()) items.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  return items;
}

class Reader {
 public:
  explicit Reader(const std::string& file) : file_(file) {}

  [[noreturn]] void Fail(int line, const std::string& message) const {
    throw ConfigError(file_ + ":" + std::to_string(line) + ": " + message);
  }

  int Number(int line, const std::string& key, const std::string& value, int low, int high) const {
    long long number = -1;
    if (!value.empty() && value.size() <= 9 &&
        value.find_first_not_of("0123456789") == std::string::npos)
      number = std::stoll(value);
    if (number < low || number > high)
      Fail(line, key + "=" + value + " is not a whole number from " + std::to_string(low) +
                     " to " + std::to_string(high) + ".");
    return static_cast<int>(number);
  }

 private:
  std::string file_;
};

void ReadListen(const Reader& reader, int line, const std::string& value, ServerConfig& config) {
  const size_t colon = value.rfind(':');
  if (colon == std::string::npos || colon == 0)
    reader.Fail(line, "[Server] Listen=" + value + " is not an address and port (127.0.0.1:8080).");
  std::string host = value.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  config.listen_host = host;
  config.listen_port = reader.Number(line, "[Server] Listen port", value.substr(colon + 1), 1, 65535);
}

void ReadMailKey(const Reader& reader, int line, const std::string& key, const std::string& value,
                 MailConfig& mail) {
  const std::string lower = LowerAscii(key);
  if (lower == "server") {
    if (!value.starts_with("smtp://") && !value.starts_with("smtps://"))
      reader.Fail(line, "[Mail] Server=" + value + " must start with smtp:// or smtps://.");
    mail.server = value;
  } else if (lower == "from") {
    if (!PlausibleAddress(value)) reader.Fail(line, "[Mail] From=" + value + " is no mail address.");
    mail.from = value;
  } else if (lower == "user") {
    mail.user = value;
  } else if (lower == "passwordfile") {
    // The password is the file's first line. Only the service may read it.
    struct stat st;
    std::ifstream in(value);
    if (value.empty() || value.front() != '/' || ::stat(value.c_str(), &st) != 0 || !in)
      reader.Fail(line, "[Mail] PasswordFile=" + value + " cannot be read: it must be an absolute "
                        "file name of a file the server may read.");
    if ((st.st_mode & 077) != 0)
      reader.Fail(line, "[Mail] PasswordFile=" + value + " may be read by other users; "
                        "make it readable by the server alone (chmod 600).");
    std::getline(in, mail.password);
    if (!mail.password.empty() && mail.password.back() == '\r') mail.password.pop_back();
    if (mail.password.empty()) reader.Fail(line, "[Mail] PasswordFile=" + value + " is empty.");
  } else if (lower == "requiretls") {
    const std::string answer = LowerAscii(value);
    if (answer != "yes" && answer != "no") reader.Fail(line, "[Mail] RequireTls= is yes or no.");
    mail.require_tls = answer == "yes";
  } else if (lower == "cafile") {
    mail.ca_file = value;
  } else if (lower == "attachlimit") {
    mail.attach_limit = reader.Number(line, "[Mail] AttachLimit", value, 0, 1 << 30);
  } else if (lower == "tries") {
    mail.tries = reader.Number(line, "[Mail] Tries", value, 1, 20);
  } else if (lower == "retrydelay") {
    mail.retry_seconds = reader.Number(line, "[Mail] RetryDelay", value, 1, 86400);
  } else {
    reader.Fail(line, "[Mail] " + key + "= is no key of the mail section (Server, From, User, "
                      "PasswordFile, RequireTls, CaFile, AttachLimit, Tries, RetryDelay).");
  }
}

}  // namespace

// A mail address as the server takes it: one "@", no spaces, no brackets,
// no line breaks: nothing that could end a header or add a recipient.
bool PlausibleAddress(const std::string& address) {
  const size_t at = address.find('@');
  if (at == std::string::npos || at == 0 || at + 1 >= address.size() ||
      address.find('@', at + 1) != std::string::npos || address.size() > 254)
    return false;
  for (unsigned char c : address)
    if (c <= ' ' || c == 0x7f || c == '<' || c == '>' || c == ',' || c == ';' || c == '"' ||
        c == '(' || c == ')' || c == '\\')
      return false;
  return true;
}

ServerConfig LoadServerConfig(const std::string& file) {
  ServerConfig config;
  config.file = file;
  Reader reader(file);
  std::ifstream in(file);
  if (!in) throw ConfigError(file + ": the server's configuration file cannot be read.");
  std::string section;
  Catalogue* catalogue = nullptr;
  std::set<std::string> seen;  // "section\nkey"
  std::map<std::string, int> lines;  // "section\nkey" -> its line
  std::string raw;
  int line = 0;
  while (std::getline(in, raw)) {
    ++line;
    std::string text = Trim(raw);
    if (line == 1 && text.starts_with("\xEF\xBB\xBF")) text = Trim(text.substr(3));
    if (text.empty() || text[0] == ';' || text[0] == '#') continue;
    if (text.front() == '[') {
      if (text.back() != ']') reader.Fail(line, "a section name must end with ].");
      const std::string name = Trim(text.substr(1, text.size() - 2));
      const std::string lower = LowerAscii(name);
      catalogue = nullptr;
      if (lower == "server") {
        section = "server";
      } else if (lower == "mail") {
        section = "mail";
      } else if (lower.starts_with("catalogue ")) {
        const std::string id = Trim(name.substr(10));
        if (id.empty() || id.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                               "0123456789_-") != std::string::npos)
          reader.Fail(line, "[" + name + "]: a catalogue's name is letters, digits, - and _.");
        for (const Catalogue& other : config.catalogues)
          if (other.name == id) reader.Fail(line, "[" + name + "] is there twice.");
        config.catalogues.push_back({id, "", {}, {}});
        catalogue = &config.catalogues.back();
        section = "catalogue " + id;
      } else {
        reader.Fail(line, "[" + name + "] is no section of the server's configuration; the "
                          "sections are [Server], [Mail] and [Catalogue NAME].");
      }
      continue;
    }
    const size_t equals = text.find('=');
    if (equals == std::string::npos) reader.Fail(line, "\"" + text + "\" is not KEY=VALUE.");
    const std::string key = Trim(text.substr(0, equals));
    const std::string value = Trim(text.substr(equals + 1));
    const std::string lower = LowerAscii(key);
    if (section.empty()) reader.Fail(line, key + "= stands before any section.");
    if (!seen.insert(section + "\n" + lower).second)
      reader.Fail(line, key + "= is set twice in its section.");
    lines[section + "\n" + lower] = line;
    if (catalogue != nullptr) {
      if (lower == "folder") catalogue->folder = value;
      else if (lower == "viewers") catalogue->viewers = SplitList(value);
      else if (lower == "runners") catalogue->runners = SplitList(value);
      else reader.Fail(line, "[Catalogue " + catalogue->name + "] " + key +
                                 "= is no key of a catalogue (Folder, Viewers, Runners).");
      continue;
    }
    if (section == "mail") {
      ReadMailKey(reader, line, key, value, config.mail);
      continue;
    }
    if (lower == "listen") ReadListen(reader, line, value, config);
    else if (lower == "state") config.state = value;
    else if (lower == "maxruns") config.max_runs = reader.Number(line, "[Server] MaxRuns", value, 1, 64);
    else if (lower == "keepruns") config.keep_runs = reader.Number(line, "[Server] KeepRuns", value, 1, 1000000);
    else if (lower == "stopgrace") config.stop_grace_seconds = reader.Number(line, "[Server] StopGrace", value, 1, 3600);
    else if (lower == "sessionidle") config.session_idle_minutes = reader.Number(line, "[Server] SessionIdle", value, 1, 10080);
    else if (lower == "clienttimeout") config.client_timeout_seconds = reader.Number(line, "[Server] ClientTimeout", value, 1, 3600);
    else if (lower == "tlscertificate") config.tls_certificate = value;
    else if (lower == "tlskey") config.tls_key = value;
    else if (lower == "trustedproxy") config.trusted_proxy = value;
    else if (lower == "proxyuserheader") config.proxy_user_header = value;
    else if (lower == "program") config.program = value;
    else if (lower == "pages") config.pages = value;
    else if (lower == "publicurl") config.public_url = value;
    else reader.Fail(line, "[Server] " + key + "= is no key of the server (Listen, State, MaxRuns, "
                           "KeepRuns, StopGrace, SessionIdle, ClientTimeout, TlsCertificate, TlsKey, "
                           "TrustedProxy, ProxyUserHeader, Program, Pages, PublicUrl).");
  }
  auto line_of = [&](const std::string& key) {
    auto found = lines.find(key);
    return found == lines.end() ? 0 : found->second;
  };
  if (config.state.empty() || config.state.front() != '/')
    reader.Fail(line_of("server\nstate"),
                "[Server] State=" + config.state + " must be an absolute folder.");
  if (config.tls_certificate.empty() != config.tls_key.empty())
    reader.Fail(line_of(config.tls_key.empty() ? "server\ntlscertificate" : "server\ntlskey"),
                "[Server] TlsCertificate= and TlsKey= go together.");
  if (config.trusted_proxy.empty() != config.proxy_user_header.empty())
    reader.Fail(line_of(config.trusted_proxy.empty() ? "server\nproxyuserheader"
                                                     : "server\ntrustedproxy"),
                "[Server] TrustedProxy= and ProxyUserHeader= go together.");
  if (!config.pages.empty() && config.pages.front() != '/')
    reader.Fail(line_of("server\npages"),
                "[Server] Pages=" + config.pages + " must be an absolute folder.");
  if (!config.public_url.empty() && !config.public_url.starts_with("http://") &&
      !config.public_url.starts_with("https://"))
    reader.Fail(line_of("server\npublicurl"),
                "[Server] PublicUrl=" + config.public_url + " must start with http:// or https://.");
  if (config.public_url.empty())
    config.public_url = std::string(config.tls_certificate.empty() ? "http://" : "https://") +
                        (config.listen_host.find(':') != std::string::npos
                             ? "[" + config.listen_host + "]"
                             : config.listen_host) +
                        ":" + std::to_string(config.listen_port);
  while (config.public_url.ends_with("/")) config.public_url.pop_back();
  if (!config.mail.server.empty() && config.mail.from.empty())
    reader.Fail(line_of("mail\nserver"), "[Mail] Server= needs From=, the sender's address.");
  if (!config.mail.user.empty() && config.mail.password.empty() && line_of("mail\npasswordfile") == 0)
    reader.Fail(line_of("mail\nuser"), "[Mail] User= needs PasswordFile=.");
  for (const Catalogue& c : config.catalogues)
    if (c.folder.empty() || c.folder.front() != '/')
      reader.Fail(line_of("catalogue " + c.name + "\nfolder"),
                  "[Catalogue " + c.name + "] Folder= must name an absolute folder.");
  return config;
}

}  // namespace vantrelle::server
