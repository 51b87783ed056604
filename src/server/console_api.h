// The console's JSON API: sign-in and sessions, the reports a user may see,
// runs with parameters, their history, live log, files and stop, the audit
// log, health and metrics. Ids in paths are looked up, never made into file
// names.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "server/catalogue.h"
#include "server/console_pages.h"
#include "server/console_store.h"
#include "server/http_server.h"
#include "server/run_queue.h"
#include "server/scheduler.h"
#include "server/server_config.h"

namespace vantrelle::server {

/// Who asks, once signed in: their name and role, and how.
struct Caller {
  User user;
  std::string csrf;       ///< the session's CSRF token; empty for API tokens and the proxy
  bool session = false;   ///< by the session cookie
  bool proxy = false;     ///< named by the trusted reverse proxy
};

class ConsoleApi {
 public:
  ConsoleApi(const ServerConfig& config, ConsoleStore& store, Catalogues& catalogues,
             RunQueue& runs, HttpServer& http, const ConsolePages& pages, Scheduler& scheduler,
             Postman& postman);

  HttpResponse Handle(const HttpRequest& request);

 private:
  HttpResponse SignIn(const HttpRequest& request);
  HttpResponse SignOut(const HttpRequest& request);
  HttpResponse ListReports(const Caller& caller);
  HttpResponse StartRun(const HttpRequest& request, const Caller& caller, const std::string& id);
  HttpResponse ListRuns(const HttpRequest& request, const Caller& caller);
  HttpResponse RunRoute(const HttpRequest& request, const Caller& caller, const std::string& rest);
  HttpResponse Metrics();
  HttpResponse ScheduleRoute(const HttpRequest& request, const Caller& caller,
                             const std::string& rest);
  // Why the owner of a schedule's \a definition may not own it; empty when
  // they may.
  std::string OwnerProblem(const nlohmann::json& definition);
  HttpResponse Resend(const HttpRequest& request, const Caller& caller, const RunRecord& run);

  std::optional<Caller> Identify(const HttpRequest& request);
  bool MaySee(const Caller& caller, const std::string& catalogue) const;
  bool MayRun(const Caller& caller, const std::string& catalogue) const;
  std::vector<std::string> VisibleCatalogues(const Caller& caller) const;

  const ServerConfig& config_;
  ConsoleStore& store_;
  Catalogues& catalogues_;
  RunQueue& runs_;
  HttpServer& http_;
  const ConsolePages& pages_;
  Scheduler& scheduler_;
  Postman& postman_;
  std::string dummy_hash_;     // verified for names that do not exist, to take as long
  // The reports list as last made for each kind of caller (which
  // catalogues they see and run), with the scan and the runs it shows.
  struct ListCache {
    std::shared_ptr<const Catalogues::ReportMap> scan;
    uint64_t runs_version = 0;
    std::string body;
  };
  std::mutex list_mutex_;
  std::map<std::string, ListCache> lists_;
  // Pages of the history as last made, by who may see what and the query;
  // all made again once any run changes. Bounded: emptied when full.
  struct PageCache {
    uint64_t runs_version = 0;
    std::string body;
  };
  std::map<std::string, PageCache> pages_of_runs_;
  // API tokens as last found, for a second: a script's requests cost no
  // lookup each, and a token deleted by "token del" ends within a second.
  struct TokenSeen {
    User user;
    std::chrono::steady_clock::time_point until;
  };
  std::mutex tokens_mutex_;
  std::map<std::string, TokenSeen> tokens_;
  std::mutex hashing_;         // one password check at a time: each takes 64 MiB
};

/// An Argon2id hash of \a password (libsodium's string form).
std::string HashPassword(const std::string& password);
/// A random 256-bit value in hex.
std::string RandomHex();
/// The digest under which a session id or API token is stored.
std::string Digest(const std::string& secret);
/// What a parameter's value may not hold, or why it is refused; empty when
/// the console may pass it to a run.
std::string ConsoleValueProblem(const ParameterRecord& parameter, const std::string& value);

}  // namespace vantrelle::server
