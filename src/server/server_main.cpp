// vantrelle-server: the report console. Serves the JSON API, runs reports
// through the batch program, and manages its users and API tokens:
//   vantrelle-server [--config FILE]
//   vantrelle-server [--config FILE] user add|set|passwd|del|list [NAME] [--role ROLE] [--mail ADDRESS]
//   vantrelle-server [--config FILE] token add|del|list [NAME|ID]
#include <curl/curl.h>
#include <signal.h>
#include <sodium.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "server/catalogue.h"
#include "server/console_api.h"
#include "server/console_store.h"
#include "server/delivery.h"
#include "server/http_server.h"
#include "server/run_queue.h"
#include "server/schedule_clock.h"
#include "server/scheduler.h"
#include "server/server_config.h"

namespace {

using namespace vantrelle::server;

constexpr char kDefaultConfig[] = "/etc/vantrelle/server.ini";
constexpr char kUsage[] =
    "Usage: vantrelle-server [--config FILE]\n"
    "       vantrelle-server [--config FILE] user add NAME [--role viewer|runner|admin] [--mail ADDRESS]\n"
    "       vantrelle-server [--config FILE] user set NAME --mail ADDRESS|\"\"\n"
    "       vantrelle-server [--config FILE] user passwd NAME\n"
    "       vantrelle-server [--config FILE] user role NAME viewer|runner|admin\n"
    "       vantrelle-server [--config FILE] user del NAME\n"
    "       vantrelle-server [--config FILE] user list\n"
    "       vantrelle-server [--config FILE] token add NAME\n"
    "       vantrelle-server [--config FILE] token del ID\n"
    "       vantrelle-server [--config FILE] token list\n"
    "\n"
    "Serves the report console (default configuration " "/etc/vantrelle/server.ini).\n"
    "Passwords are read from standard input, or asked twice on a terminal.\n"
    "Exit status: 0 done, 1 the command failed, 2 a bad configuration or usage.\n";

bool ValidRole(const std::string& role) {
  return role == "viewer" || role == "runner" || role == "admin";
}

std::string ReadLine(bool echo) {
  termios saved{};
  const bool terminal = ::isatty(0) && ::tcgetattr(0, &saved) == 0;
  if (terminal && !echo) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(0, TCSANOW, &quiet);
  }
  std::string line;
  std::getline(std::cin, line);
  if (terminal && !echo) {
    ::tcsetattr(0, TCSANOW, &saved);
    std::cerr << "\n";
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// A new password: one line of standard input, or asked twice on a terminal.
std::string AskPassword() {
  if (!::isatty(0)) return ReadLine(true);
  std::cerr << "Password: ";
  std::string first = ReadLine(false);
  std::cerr << "Again: ";
  if (ReadLine(false) != first) {
    std::cerr << "vantrelle-server: the two passwords differ.\n";
    return "";
  }
  return first;
}

int Manage(ConsoleStore& store, const std::vector<std::string>& words) {
  const std::string what = words[0];
  const std::string verb = words.size() > 1 ? words[1] : "";
  const std::string name = words.size() > 2 ? words[2] : "";
  auto usage = [] {
    std::cerr << kUsage;
    return 2;
  };
  if (what == "user") {
    if (verb == "list") {
      for (const User& user : store.Users())
        std::cout << user.name << "\t" << user.role << (user.mail.empty() ? "" : "\t" + user.mail)
                  << "\n";
      return 0;
    }
    if (name.empty()) return usage();
    std::optional<std::string> mail;
    for (size_t i = 3; i + 1 < words.size(); ++i)
      if (words[i] == "--mail") mail = words[i + 1];
    if (mail && !mail->empty() && !PlausibleAddress(*mail)) {
      std::cerr << "vantrelle-server: \"" << *mail << "\" is no mail address.\n";
      return 2;
    }
    if (verb == "set") {
      if (!mail) return usage();
      if (store.SetMail(name, *mail)) return 0;
      std::cerr << "vantrelle-server: user \"" << name << "\" does not exist.\n";
      return 1;
    }
    if (verb == "add" || verb == "passwd") {
      std::string role = "viewer";
      for (size_t i = 3; i + 1 < words.size(); ++i)
        if (words[i] == "--role") role = words[i + 1];
      if (!ValidRole(role)) return usage();
      const std::string password = AskPassword();
      if (password.size() < 8) {
        std::cerr << "vantrelle-server: a password has at least 8 characters.\n";
        return 1;
      }
      const std::string hash = HashPassword(password);
      if (verb == "add" ? store.AddUser(name, hash, role) : store.SetPassword(name, hash)) {
        if (verb == "add" && mail) store.SetMail(name, *mail);
        return 0;
      }
      std::cerr << "vantrelle-server: user \"" << name << "\" "
                << (verb == "add" ? "exists already" : "does not exist") << ".\n";
      return 1;
    }
    if (verb == "role" && words.size() > 3 && ValidRole(words[3])) {
      if (store.SetRole(name, words[3])) return 0;
      std::cerr << "vantrelle-server: user \"" << name << "\" does not exist.\n";
      return 1;
    }
    if (verb == "del") {
      if (store.DeleteUser(name)) return 0;
      std::cerr << "vantrelle-server: user \"" << name << "\" does not exist.\n";
      return 1;
    }
    return usage();
  }
  if (what == "token") {
    if (verb == "list") {
      for (const auto& token : store.Tokens())
        std::cout << token["id"].get<int64_t>() << "\t" << token["user"].get<std::string>() << "\t"
                  << token["created"].get<std::string>() << "\n";
      return 0;
    }
    if (verb == "add" && !name.empty()) {
      if (!store.FindUser(name)) {
        std::cerr << "vantrelle-server: user \"" << name << "\" does not exist.\n";
        return 1;
      }
      const std::string token = RandomHex();
      const int64_t id = store.AddToken(name, Digest(token));
      std::cerr << "Token " << id << " for " << name
                << " (shown this once; send it as \"Authorization: Bearer TOKEN\"):\n";
      std::cout << token << "\n";
      return 0;
    }
    if (verb == "del" && !name.empty()) {
      if (name.find_first_not_of("0123456789") == std::string::npos && name.size() < 15 &&
          store.DeleteToken(std::stoll(name)))
        return 0;
      std::cerr << "vantrelle-server: there is no token " << name << ".\n";
      return 1;
    }
    return usage();
  }
  return usage();
}

// The batch program: Program= of the configuration, else vantrelle beside
// this executable.
std::string BatchProgram(const ServerConfig& config) {
  if (!config.program.empty()) return config.program;
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return (error ? std::filesystem::path("/usr/bin") : self.parent_path()).string() + "/vantrelle";
}

int Serve(const ServerConfig& config, ConsoleStore& store) {
  std::string clock_problem;
  const ScheduleClock clock = ScheduleClock::FromEnvironment(&clock_problem);
  if (!clock_problem.empty()) {
    std::cerr << "vantrelle-server: " << clock_problem << ".\n";
    return 2;
  }
  curl_global_init(CURL_GLOBAL_DEFAULT);
  const char* tz = std::getenv("TZ");
  if (tz && *tz && TimeZone::System().Name() == "UTC" && std::string(tz) != "UTC" &&
      std::string(tz) != ":UTC")
    std::cerr << "vantrelle-server: warning: TZ=" << tz
              << " is no zone of the system's database; schedules without a zone use UTC\n";
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  Catalogues catalogues(config);
  RunQueue runs(config, store, BatchProgram(config));
  HttpServer http;
  ConsolePages pages;
  std::string pages_error;
  if (!pages.Load(PagesFolder(config.pages), &pages_error))
    std::cerr << "vantrelle-server: warning: " << pages_error
              << "; the JSON API is served without them\n";
  Postman postman(config, store, catalogues, runs, clock);
  Scheduler scheduler(config, store, catalogues, runs, postman, clock);
  runs.OnEnded([&scheduler](int64_t id, bool by_server) { scheduler.RunEnded(id, by_server); });
  ConsoleApi api(config, store, catalogues, runs, http, pages, scheduler, postman);
  runs.Start();
  postman.Start();
  scheduler.Start();
  std::string error;
  if (!http.Start(config.listen_host, config.listen_port, config.tls_certificate, config.tls_key,
                  config.client_timeout_seconds, [&api](const HttpRequest& request) { return api.Handle(request); }, &error)) {
    std::cerr << "vantrelle-server: " << error << "\n";
    scheduler.Shutdown();
    runs.Shutdown();
    postman.Shutdown();
    return 2;
  }
  std::cerr << "vantrelle-server: listening on " << config.listen_host << ":"
            << config.listen_port << (config.tls_certificate.empty() ? "" : " (HTTPS)") << "\n";
  int signal_number = 0;
  sigwait(&stop, &signal_number);
  std::cerr << "vantrelle-server: stopping (" << strsignal(signal_number) << ")\n";
  http.Stop();
  scheduler.Shutdown();
  runs.Shutdown();
  postman.Shutdown();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  std::string config_file = kDefaultConfig;
  if (words.size() >= 2 && words[0] == "--config") {
    config_file = words[1];
    words.erase(words.begin(), words.begin() + 2);
  }
  if (!words.empty() && (words[0] == "--help" || words[0] == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  if (!words.empty() && words[0] != "user" && words[0] != "token") {
    std::cerr << kUsage;
    return 2;
  }
  if (sodium_init() < 0) {
    std::cerr << "vantrelle-server: the cryptography library cannot start.\n";
    return 1;
  }
  ServerConfig config;
  try {
    config = LoadServerConfig(config_file);
  } catch (const ConfigError& error) {
    std::cerr << "vantrelle-server: " << error.what() << "\n";
    return 2;
  }
  // The server's files: readable by its group at most, whatever umask it got.
  ::umask(::umask(0) | 0027);
  if (::mkdir(config.state.c_str(), 0750) != 0 && errno != EEXIST) {
    std::cerr << "vantrelle-server: cannot create the state folder \"" << config.state << "\": "
              << std::strerror(errno) << ".\n";
    return 2;
  }
  try {
    ConsoleStore store(config.state + "/console.db");
    if (!words.empty()) return Manage(store, words);
    return Serve(config, store);
  } catch (const std::exception& error) {
    std::cerr << "vantrelle-server: " << error.what() << "\n";
    return 1;
  }
}
