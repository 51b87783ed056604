#include "server/console_api.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "base/text_scan.h"
#include "sql/parameters.h"

namespace vantrelle::server {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr char kCookie[] = "vantrelle_session";
constexpr int kSlowAfter = 3;          // failed sign-ins before each answer slows down
constexpr int kLockAfter = 10;         // failed sign-ins that lock the name
constexpr int64_t kLockMillis = 15 * 60 * 1000;
constexpr size_t kMaxValue = 1000;

HttpResponse Json(int status, const json& body) {
  HttpResponse response;
  response.status = status;
  response.body = DumpJson(body);
  return response;
}

HttpResponse Problem(int status, const std::string& message) {
  return Json(status, {{"error", message}});
}

bool IsWrite(const std::string& method) { return method != "GET" && method != "HEAD"; }

// A run as shown to someone who may see it but not run it: each delivery's
// state without the recipient's address and the mail server's answer.
json RunJsonFor(const RunRecord& run, bool may_run) {
  json body = RunJson(run);
  if (!may_run)
    for (json& delivery : body["deliveries"]) {
      delivery["target"] = nullptr;
      delivery["message"] = nullptr;
      delivery.erase("attach");
    }
  return body;
}

std::string CookieValue(const std::string& header, const std::string& name) {
  std::istringstream in(header);
  std::string part;
  while (std::getline(in, part, ';')) {
    const size_t start = part.find_first_not_of(' ');
    if (start == std::string::npos) continue;
    part = part.substr(start);
    if (part.starts_with(name + "=")) return part.substr(name.size() + 1);
  }
  return "";
}

bool SameSecret(const std::string& a, const std::string& b) {
  return a.size() == b.size() && !a.empty() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

int64_t NumberOr(const std::string& text, int64_t fallback, int64_t low, int64_t high) {
  if (text.empty() || text.size() > 15 || text.find_first_not_of("0123456789") != std::string::npos)
    return fallback;
  return std::clamp<int64_t>(std::stoll(text), low, high);
}

// RFC 6266: an ASCII fallback and the UTF-8 name.
std::string Disposition(const std::string& name) {
  std::string ascii;
  std::string encoded;
  for (unsigned char c : name) {
    ascii += (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') ? static_cast<char>(c) : '_';
    if (std::isalnum(c) || std::strchr("-._~", c) != nullptr) {
      encoded += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      encoded += hex;
    }
  }
  return "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" + encoded;
}

std::string ContentType(const std::string& kind) {
  if (kind == "pdf") return "application/pdf";
  if (kind == "log") return "text/plain; charset=utf-8";
  return "application/vnd.openxmlformats-officedocument.wordprocessingml.document";
}

bool Listed(const std::vector<std::string>& names, const User& user) {
  for (const std::string& name : names)
    if (name == user.name || name == "@" + user.role) return true;
  return false;
}

// An SSE stream of a run: each new log line as a "log" event, then the final
// state as a "state" event. Polls the log and the history a few times a second,
// and sends a comment when nothing else went for half the clients' idle
// time-out, so that a quiet run's stream is not dropped as an idle client.
class RunEvents {
 public:
  RunEvents(ConsoleStore& store, RunQueue& runs, int64_t id, int client_timeout_seconds,
            bool may_run)
      : store_(store),
        runs_(runs),
        id_(id),
        may_run_(may_run),
        keep_alive_polls_(std::clamp(client_timeout_seconds * 5, 1, 50)) {}

  ssize_t Read(char* buffer, size_t size) {
    for (;;) {
      if (!pending_.empty()) {
        const size_t n = std::min(size, pending_.size());
        std::memcpy(buffer, pending_.data(), n);
        pending_.erase(0, n);
        return static_cast<ssize_t>(n);
      }
      if (done_) return -1;
      Poll();
      if (pending_.empty()) {
        if (++idle_ % keep_alive_polls_ == 0) pending_ = ": keep-alive\n\n";
        else std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
  }

 private:
  void Poll() {
    std::optional<RunRecord> run = store_.Run(id_);
    if (!run) {
      done_ = true;
      return;
    }
    // The state is read before the log: once it is final, the log read
    // after it is whole.
    if (log_.empty()) log_ = runs_.RunFile(id_, "log");
    ReadLines();
    if (run->state != state_) {
      state_ = run->state;
      pending_ += "event: state\ndata: " + DumpJson(RunJsonFor(*run, may_run_)) + "\n\n";
    }
    if (state_ != "queued" && state_ != "running") done_ = true;
  }

  void ReadLines() {
    if (log_.empty()) return;
    int fd = ::open(log_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    char chunk[8192];
    ssize_t n;
    while ((n = ::pread(fd, chunk, sizeof chunk, offset_)) > 0) {
      offset_ += n;
      partial_.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    size_t end;
    while ((end = partial_.find("\r\n")) != std::string::npos) {
      pending_ += "event: log\ndata: " + DumpJson(json(partial_.substr(0, end))) + "\n\n";
      partial_.erase(0, end + 2);
    }
  }

 private:
  ConsoleStore& store_;
  RunQueue& runs_;
  std::string log_;  // the run's log, once it has one
  int64_t id_;
  bool may_run_;
  long keep_alive_polls_;
  off_t offset_ = 0;
  std::string partial_;
  std::string pending_;
  std::string state_;
  bool done_ = false;
  long idle_ = 0;
};

}  // namespace

std::string HashPassword(const std::string& password) {
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(hash, password.data(), password.size(),
                            crypto_pwhash_OPSLIMIT_INTERACTIVE,
                            crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13) != 0)
    throw std::runtime_error("out of memory while hashing the password");
  return hash;
}

std::string RandomHex() {
  unsigned char bytes[32];
  randombytes_buf(bytes, sizeof bytes);
  char hex[sizeof bytes * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
  return hex;
}

std::string Digest(const std::string& secret) {
  unsigned char digest[32];
  crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(secret.data()),
                     secret.size(), nullptr, 0);
  char hex[sizeof digest * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
  return hex;
}

std::string ConsoleValueProblem(const ParameterRecord& parameter, const std::string& value) {
  const std::string number = std::to_string(parameter.number);
  if (value.size() > kMaxValue)
    return "The value of " + parameter.name + " is longer than 1,000 characters.";
  for (unsigned char c : value)
    if (c < 0x20 || c == 0x7F)
      return "The value of " + parameter.name + " holds a control character.";
  const std::string upper = UpperAscii(value);
  if (upper == "-C" || upper == "-F")
    return "The value of " + parameter.name + " cannot be \"" + value +
           "\": the report program would read it as an option.";
  if (!parameter.pattern.empty() || !parameter.choices.empty()) {
    ParameterRecord checked = parameter;
    checked.value = value;
    return ParameterValueProblem(checked);
  }
  if (value.find_first_of("'\";\\") != std::string::npos || value.find("--") != std::string::npos ||
      value.find("/*") != std::string::npos)
    return "The value of " + parameter.name + " holds a quote, a semicolon, a backslash or a "
           "comment marker, which could change the report's SQL; the report must declare "
           "[PARAMETER] Pattern" + number + "= or Choices" + number + "= to allow such values.";
  return "";
}

ConsoleApi::ConsoleApi(const ServerConfig& config, ConsoleStore& store, Catalogues& catalogues,
                       RunQueue& runs, HttpServer& http, const ConsolePages& pages,
                       Scheduler& scheduler, Postman& postman)
    : config_(config),
      store_(store),
      catalogues_(catalogues),
      runs_(runs),
      http_(http),
      pages_(pages),
      scheduler_(scheduler),
      postman_(postman) {}

std::optional<Caller> ConsoleApi::Identify(const HttpRequest& request) {
  if (!config_.trusted_proxy.empty() && request.address == config_.trusted_proxy) {
    const std::string name = request.Header(LowerAscii(config_.proxy_user_header));
    if (!name.empty()) {
      if (std::optional<User> user = store_.FindUser(name)) return Caller{*user, "", false, true};
      return std::nullopt;
    }
  }
  const std::string authorization = request.Header("authorization");
  if (authorization.starts_with("Bearer ")) {
    const std::string digest = Digest(authorization.substr(7));
    const auto now = std::chrono::steady_clock::now();
    {
      std::lock_guard<std::mutex> lock(tokens_mutex_);
      auto found = tokens_.find(digest);
      if (found != tokens_.end() && found->second.until > now)
        return Caller{found->second.user, "", false, false};
    }
    std::optional<User> user = store_.TokenUser(digest);
    if (!user) return std::nullopt;
    std::lock_guard<std::mutex> lock(tokens_mutex_);
    if (tokens_.size() >= 1000) tokens_.clear();
    tokens_[digest] = TokenSeen{*user, now + std::chrono::seconds(1)};
    return Caller{*user, "", false, false};
  }
  const std::string id = CookieValue(request.Header("cookie"), kCookie);
  if (id.empty()) return std::nullopt;
  auto found = store_.TouchSession(Digest(id),
                                   static_cast<int64_t>(config_.session_idle_minutes) * 60000);
  if (!found) return std::nullopt;
  return Caller{found->first, found->second, true, false};
}

bool ConsoleApi::MaySee(const Caller& caller, const std::string& catalogue) const {
  if (caller.user.role == "admin") return true;
  for (const Catalogue& c : config_.catalogues)
    if (c.name == catalogue) return Listed(c.viewers, caller.user) || Listed(c.runners, caller.user);
  return false;
}

bool ConsoleApi::MayRun(const Caller& caller, const std::string& catalogue) const {
  if (caller.user.role == "admin") return true;
  if (caller.user.role != "runner") return false;
  for (const Catalogue& c : config_.catalogues)
    if (c.name == catalogue) return Listed(c.runners, caller.user);
  return false;
}

std::vector<std::string> ConsoleApi::VisibleCatalogues(const Caller& caller) const {
  std::vector<std::string> names;
  for (const Catalogue& c : config_.catalogues)
    if (MaySee(caller, c.name)) names.push_back(c.name);
  return names;
}

HttpResponse ConsoleApi::Handle(const HttpRequest& request) {
  const std::string& path = request.path;
  if (path == "/healthz" && request.method == "GET") {
    HttpResponse response;
    response.content_type = "text/plain; charset=utf-8";
    response.body = "ok\n";
    return response;
  }
  if (path == "/metrics" && request.method == "GET") return Metrics();
  if (!path.starts_with("/api/")) {
    if (request.method == "GET" || request.method == "HEAD")
      if (std::optional<HttpResponse> page = pages_.Find(path)) return *page;
    return Problem(404, "There is no such page.");
  }
  if (path == "/api/v1/session" && request.method == "POST") return SignIn(request);

  std::optional<Caller> caller = Identify(request);
  if (!caller) return Problem(401, "Sign in first.");
  // A change needs more than a cookie: the session's CSRF token (or, behind
  // the proxy, a header no other site can make a browser send).
  if (IsWrite(request.method)) {
    const std::string token = request.Header("x-csrf-token");
    if (caller->session && !SameSecret(token, caller->csrf))
      return Problem(403, "The request lacks the session's X-CSRF-Token header.");
    if (caller->proxy && token.empty())
      return Problem(403, "The request lacks an X-CSRF-Token header.");
  }
  if (path == "/api/v1/session") {
    if (request.method == "DELETE") return SignOut(request);
    if (request.method == "GET")
      return Json(200, {{"user", caller->user.name}, {"role", caller->user.role},
                        {"csrf", caller->csrf}});
    return Problem(405, "GET, POST or DELETE.");
  }
  if (path == "/api/v1/reports" && request.method == "GET") return ListReports(*caller);
  const std::string reports = "/api/v1/reports/";
  if (path.starts_with(reports) && path.ends_with("/runs") && request.method == "POST")
    return StartRun(request, *caller, path.substr(reports.size(),
                                                  path.size() - reports.size() - 5));
  if (path == "/api/v1/runs" && request.method == "GET") return ListRuns(request, *caller);
  if (path.starts_with("/api/v1/runs/")) return RunRoute(request, *caller, path.substr(13));
  if (path == "/api/v1/schedules" || path.starts_with("/api/v1/schedules/"))
    return ScheduleRoute(request, *caller, path.substr(17));
  if (path == "/api/v1/audit" && request.method == "GET") {
    if (caller->user.role != "admin") return Problem(403, "Only admins read the audit log.");
    const int limit = static_cast<int>(NumberOr(request.Query("limit"), 50, 1, 500));
    return Json(200, store_.AuditEntries(NumberOr(request.Query("before"), 0, 0, INT64_MAX),
                                         limit));
  }
  return Problem(404, "There is no such page.");
}

HttpResponse ConsoleApi::SignIn(const HttpRequest& request) {
  json body = json::parse(request.body, nullptr, false);
  if (!body.is_object() || !body.contains("user") || !body.contains("password") ||
      !body["user"].is_string() || !body["password"].is_string())
    return Problem(400, "Send {\"user\": ..., \"password\": ...}.");
  const std::string name = body["user"];
  const std::string password = body["password"];
  if (name.empty() || name.size() > 200 || password.size() > 1000)
    return Problem(401, "Wrong user name or password.");
  int64_t locked_until = 0;
  const int failures = store_.Failures(name, &locked_until);
  if (locked_until > NowMillis()) {
    store_.Audit(name, request.address, "sign-in refused", "locked");
    return Problem(429, "Too many failed sign-ins: this name is locked for a while. Try again "
                        "later or ask an admin.");
  }
  // Each failure after the first few makes the next answer slower.
  if (failures >= kSlowAfter)
    std::this_thread::sleep_for(std::chrono::milliseconds(
        std::min(5000, 500 * (failures - kSlowAfter + 1))));
  std::optional<std::string> hash = store_.PasswordHash(name);
  bool good;
  {
    std::lock_guard<std::mutex> lock(hashing_);
    // A name that does not exist costs a check all the same (made on first
    // need, so that the server starts at once).
    if (!hash && dummy_hash_.empty()) dummy_hash_ = HashPassword(RandomHex());
    const std::string& against = hash ? *hash : dummy_hash_;
    good = crypto_pwhash_str_verify(against.c_str(), password.data(), password.size()) == 0 &&
           hash.has_value();
  }
  if (!good) {
    store_.AddFailure(name, NowMillis() + kLockMillis, kLockAfter);
    store_.Audit(name, request.address, "sign-in failed", "");
    return Problem(401, "Wrong user name or password.");
  }
  store_.ClearFailures(name);
  std::optional<User> user = store_.FindUser(name);
  if (!user) return Problem(401, "Wrong user name or password.");
  // Always a new id: one a client brought along is never taken over.
  const std::string id = RandomHex();
  const std::string csrf = RandomHex();
  store_.AddSession(Digest(id), name, csrf);
  store_.Audit(name, request.address, "sign-in", "");
  HttpResponse response = Json(200, {{"user", user->name}, {"role", user->role}, {"csrf", csrf}});
  response.headers.push_back(
      {"Set-Cookie", std::string(kCookie) + "=" + id + "; Path=/; HttpOnly; SameSite=Strict" +
                         (request.tls ? "; Secure" : "")});
  return response;
}

HttpResponse ConsoleApi::SignOut(const HttpRequest& request) {
  const std::string id = CookieValue(request.Header("cookie"), kCookie);
  if (!id.empty()) store_.DeleteSession(Digest(id));
  HttpResponse response = Json(200, {{"signed_out", true}});
  response.headers.push_back({"Set-Cookie", std::string(kCookie) +
                                                "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0"});
  return response;
}

HttpResponse ConsoleApi::ListReports(const Caller& caller) {
  // Each report's JSON is made once per scan of the catalogues; only its
  // last run and whether this caller may run it are added here.
  HttpResponse response;
  std::string& body = response.body;
  auto reports = catalogues_.All();
  const uint64_t version = store_.RunsVersion();
  std::string key;
  for (const Catalogue& c : config_.catalogues)
    key += std::string(MaySee(caller, c.name) ? "s" : "-") + (MayRun(caller, c.name) ? "r" : "-");
  {
    std::lock_guard<std::mutex> lock(list_mutex_);
    ListCache& cached = lists_[key];
    if (cached.scan == reports && cached.runs_version == version) {
      body = cached.body;
      return response;
    }
  }
  body = "[";
  for (const auto& [id, report] : *reports) {
    if (!MaySee(caller, report.catalogue)) continue;
    if (body.size() > 1) body += ",";
    body.append(report.json, 0, report.json.size() - 1);
    body += ",\"last_run\":" + store_.LastRunJson(id) + ",\"may_run\":" +
            (MayRun(caller, report.catalogue) ? "true}" : "false}");
  }
  body += "]";
  std::lock_guard<std::mutex> lock(list_mutex_);
  lists_[key] = ListCache{reports, version, body};
  return response;
}

HttpResponse ConsoleApi::StartRun(const HttpRequest& request, const Caller& caller,
                                  const std::string& id) {
  std::optional<Report> report = catalogues_.Find(id);
  if (!report || !MaySee(caller, report->catalogue)) return Problem(404, "There is no such report.");
  if (!MayRun(caller, report->catalogue))
    return Problem(403, "You may see this report but not run it.");
  json body = request.body.empty() ? json::object() : json::parse(request.body, nullptr, false);
  if (!body.is_object()) return Problem(400, "Send {\"parameters\": {\"NAME\": \"value\"}}.");
  json given = body.value("parameters", json::object());
  if (!given.is_object()) return Problem(400, "\"parameters\" must be an object.");
  for (const auto& [name, value] : given.items()) {
    const bool known = std::any_of(report->parameters.begin(), report->parameters.end(),
                                   [&](const ParameterRecord& p) { return p.name == name; });
    if (!known) return Problem(400, "The report has no parameter " + name + ".");
    if (!value.is_string()) return Problem(400, "The value of " + name + " must be a string.");
  }
  std::vector<std::string> values;
  for (const ParameterRecord& parameter : report->parameters) {
    const std::string value =
        given.contains(parameter.name) ? given[parameter.name].get<std::string>() : parameter.value;
    const std::string problem = ConsoleValueProblem(parameter, value);
    if (!problem.empty()) return Problem(400, problem);
    values.push_back(value);
  }
  const int64_t run = runs_.Enqueue(*report, values, caller.user.name);
  store_.Audit(caller.user.name, request.address, "run", id + " #" + std::to_string(run));
  std::optional<RunRecord> record = store_.Run(run);
  return Json(202, record ? RunJson(*record) : json{{"id", run}});
}

HttpResponse ConsoleApi::ListRuns(const HttpRequest& request, const Caller& caller) {
  const int limit = static_cast<int>(NumberOr(request.Query("limit"), 50, 1, 500));
  const int64_t before = NumberOr(request.Query("before"), 0, 0, INT64_MAX);
  const std::vector<std::string> catalogues = VisibleCatalogues(caller);
  // A page is made once for each who-sees-what, query and state of the
  // history: readers that reload it cost a copy, not a query.
  std::string key = request.Query("report") + '\n' + request.Query("state") + '\n' +
                    std::to_string(before) + '\n' + std::to_string(limit);
  for (const std::string& name : catalogues)
    key += '\n' + name + (MayRun(caller, name) ? "+run" : "");
  const uint64_t version = store_.RunsVersion();
  HttpResponse response;
  {
    std::lock_guard<std::mutex> lock(list_mutex_);
    auto found = pages_of_runs_.find(key);
    if (found != pages_of_runs_.end() && found->second.runs_version == version) {
      response.body = found->second.body;
      return response;
    }
  }
  json list = json::array();
  for (const RunRecord& run : store_.Runs(catalogues, request.Query("report"),
                                          request.Query("state"), before, limit))
    list.push_back(RunJsonFor(run, MayRun(caller, run.catalogue)));
  response.body = DumpJson(list);
  std::lock_guard<std::mutex> lock(list_mutex_);
  if (pages_of_runs_.size() >= 1000) pages_of_runs_.clear();
  pages_of_runs_[key] = PageCache{version, response.body};
  return response;
}

HttpResponse ConsoleApi::RunRoute(const HttpRequest& request, const Caller& caller,
                                  const std::string& rest) {
  const size_t slash = rest.find('/');
  const std::string number = rest.substr(0, slash);
  const std::string tail = slash == std::string::npos ? "" : rest.substr(slash);
  const int64_t id = NumberOr(number, -1, 0, INT64_MAX);
  std::optional<RunRecord> run = id > 0 ? store_.Run(id) : std::nullopt;
  if (!run || !MaySee(caller, run->catalogue)) return Problem(404, "There is no such run.");
  if (tail.empty() && request.method == "GET") {
    json body = RunJsonFor(*run, MayRun(caller, run->catalogue));
    body["may_stop"] = MayRun(caller, run->catalogue);
    return Json(200, body);
  }
  if (tail == "/stop" && request.method == "POST") {
    if (!MayRun(caller, run->catalogue)) return Problem(403, "You may not stop this run.");
    store_.Audit(caller.user.name, request.address, "stop", run->report + " #" + number);
    if (!runs_.Stop(id)) return Problem(409, "The run has ended already.");
    return Json(202, {{"id", id}, {"stopping", true}});
  }
  if (tail == "/resend" && request.method == "POST") return Resend(request, caller, *run);
  if (tail == "/log" && request.method == "GET") {
    const std::string log = runs_.RunFile(id, "log");
    const int64_t from = NumberOr(request.Query("from"), 0, 0, INT64_MAX);
    std::string text;
    int64_t next = from;
    if (!log.empty()) {
      int fd = ::open(log.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
      if (fd >= 0) {
        char chunk[65536];
        ssize_t n;
        while (text.size() < (1 << 20) && (n = ::pread(fd, chunk, sizeof chunk, next)) > 0) {
          text.append(chunk, static_cast<size_t>(n));
          next += n;
        }
        ::close(fd);
      }
    }
    return Json(200, {{"from", from}, {"next", next}, {"text", text}, {"state", run->state}});
  }
  if (tail == "/events" && request.method == "GET") {
    auto events = std::make_shared<RunEvents>(store_, runs_, id, config_.client_timeout_seconds,
                                              MayRun(caller, run->catalogue));
    HttpResponse response;
    response.content_type = "text/event-stream";
    response.stream = [events](char* buffer, size_t size) -> ssize_t {
      return events->Read(buffer, size);
    };
    return response;
  }
  const std::string files = "/files/";
  if (tail.starts_with(files) && request.method == "GET") {
    const std::string kind = tail.substr(files.size());
    if (kind != "report" && kind != "pdf" && kind != "log") return Problem(404, "No such file.");
    const std::string path = runs_.RunFile(id, kind);
    const int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      if (fd >= 0) ::close(fd);
      return Problem(404, "The run has no " + kind + " file.");
    }
    store_.Audit(caller.user.name, request.address, "download",
                 run->report + " #" + number + " " + kind);
    HttpResponse response;
    response.content_type = ContentType(kind);
    response.file_fd = fd;
    response.file_size = st.st_size;
    response.headers.push_back(
        {"Content-Disposition", Disposition(fs::path(path).filename().string())});
    return response;
  }
  return Problem(404, "There is no such page.");
}

HttpResponse ConsoleApi::Metrics() {
  json statistics = store_.RunStatistics();
  std::ostringstream out;
  out << "# HELP vantrelle_runs Runs in the history by state.\n# TYPE vantrelle_runs gauge\n";
  for (const auto& [state, count] : statistics["by_state"].items())
    out << "vantrelle_runs{state=\"" << state << "\"} " << count.get<int64_t>() << "\n";
  out << "# HELP vantrelle_run_duration_seconds Durations of ended runs.\n"
         "# TYPE vantrelle_run_duration_seconds summary\n"
      << "vantrelle_run_duration_seconds_sum " << statistics["duration_seconds"].get<double>()
      << "\nvantrelle_run_duration_seconds_count " << statistics["ended"].get<int64_t>() << "\n";
  out << "# HELP vantrelle_queue_length Runs waiting to start.\n# TYPE vantrelle_queue_length "
         "gauge\nvantrelle_queue_length " << runs_.Queued() << "\n";
  out << "# HELP vantrelle_runs_running Runs going now.\n# TYPE vantrelle_runs_running gauge\n"
         "vantrelle_runs_running " << runs_.Running() << "\n";
  out << "# HELP vantrelle_deliveries Deliveries of scheduled runs by state.\n"
         "# TYPE vantrelle_deliveries gauge\n";
  for (const auto& [state, count] : statistics["deliveries"].items())
    out << "vantrelle_deliveries{state=\"" << state << "\"} " << count.get<int64_t>() << "\n";
  out << "# HELP vantrelle_http_requests_total Answers by status.\n"
         "# TYPE vantrelle_http_requests_total counter\n";
  for (const auto& [status, count] : http_.StatusCounts())
    out << "vantrelle_http_requests_total{status=\"" << status << "\"} " << count << "\n";
  HttpResponse response;
  response.content_type = "text/plain; version=0.0.4; charset=utf-8";
  response.body = out.str();
  return response;
}

HttpResponse ConsoleApi::Resend(const HttpRequest& request, const Caller& caller,
                                const RunRecord& run) {
  if (!MayRun(caller, run.catalogue)) return Problem(403, "You may not resend this run's results.");
  json body = request.body.empty() ? json::object() : json::parse(request.body, nullptr, false);
  if (!body.is_object() || (body.contains("all") && !body["all"].is_boolean()))
    return Problem(400, "Send {\"all\": false} for the recipients who did not get it, "
                        "{\"all\": true} for everyone.");
  const bool all = body.value("all", false);
  const bool any = std::any_of(run.deliveries.begin(), run.deliveries.end(),
                               [](const DeliveryRecord& d) { return d.kind != "notice"; });
  if (!any) return Problem(409, "The run has no recipients: it was not started by a schedule "
                                "that delivers, or it did not succeed.");
  const int count = store_.Resend(run.id, all, scheduler_.NowSeconds() * 1000);
  store_.Audit(caller.user.name, request.address, "resend",
               run.report + " #" + std::to_string(run.id) + (all ? " to all" : ""));
  postman_.Wake();
  return Json(202, {{"id", run.id}, {"resent", count}});
}

std::string ConsoleApi::OwnerProblem(const json& definition) {
  // The owner's notices quote the run's parameters and log: only for
  // someone who may see the report anyway.
  const std::string owner = definition["owner"];
  std::optional<User> user = store_.FindUser(owner);
  std::optional<Report> report = catalogues_.Find(definition["report"]);
  if (user && report && MaySee(Caller{*user, "", false, false}, report->catalogue)) return "";
  return "owner: " + owner + " may not see the report " + definition["report"].get<std::string>() +
         ", whose failures the owner hears of.";
}

HttpResponse ConsoleApi::ScheduleRoute(const HttpRequest& request, const Caller& caller,
                                       const std::string& rest) {
  if (caller.user.role != "admin") return Problem(403, "Only admins manage schedules.");
  std::string problem;
  if (rest.empty()) {
    if (request.method == "GET") {
      json list = json::array();
      for (const ScheduleRecord& schedule : store_.Schedules())
        list.push_back(scheduler_.Json(schedule));
      return Json(200, list);
    }
    if (request.method != "POST") return Problem(405, "GET or POST.");
    std::optional<json> definition = scheduler_.Check(
        json::parse(request.body, nullptr, false), caller.user.name, &problem);
    if (!definition) return Problem(400, problem);
    problem = OwnerProblem(*definition);
    if (!problem.empty()) return Problem(400, problem);
    const std::string name = (*definition)["name"];
    const int64_t id = store_.AddSchedule(name, *definition, scheduler_.NowSeconds());
    if (id == 0) return Problem(409, "A schedule named \"" + name + "\" exists already.");
    store_.Audit(caller.user.name, request.address, "schedule add", name + " #" + std::to_string(id));
    scheduler_.Wake();
    return Json(201, scheduler_.Json(*store_.Schedule(id)));
  }
  const int64_t id = rest.front() == '/' ? NumberOr(rest.substr(1), -1, 0, INT64_MAX) : -1;
  std::optional<ScheduleRecord> schedule = id > 0 ? store_.Schedule(id) : std::nullopt;
  if (!schedule) return Problem(404, "There is no such schedule.");
  if (request.method == "GET") return Json(200, scheduler_.Json(*schedule));
  if (request.method == "DELETE") {
    store_.DeleteSchedule(id);
    store_.Audit(caller.user.name, request.address, "schedule delete",
                 schedule->name + " #" + std::to_string(id));
    scheduler_.Wake();
    return Json(200, {{"id", id}, {"deleted", true}});
  }
  if (request.method != "PUT") return Problem(405, "GET, PUT or DELETE.");
  std::optional<json> definition =
      scheduler_.Check(json::parse(request.body, nullptr, false),
                       schedule->definition.value("owner", caller.user.name), &problem);
  if (!definition) return Problem(400, problem);
  problem = OwnerProblem(*definition);
  if (!problem.empty()) return Problem(400, problem);
  // A new calendar, zone or a schedule switched on counts from now: it does
  // not catch up on times of the old one.
  const json& old = schedule->definition;
  std::optional<int64_t> last_fire;
  if ((*definition)["calendar"] != old.value("calendar", json()) ||
      (*definition)["time_zone"] != old.value("time_zone", json()) ||
      ((*definition)["enabled"] == true && old.value("enabled", true) == false))
    last_fire = scheduler_.NowSeconds();
  const std::string name = (*definition)["name"];
  if (!store_.UpdateSchedule(id, name, *definition, last_fire))
    return Problem(409, "A schedule named \"" + name + "\" exists already.");
  store_.Audit(caller.user.name, request.address, "schedule change", name + " #" + std::to_string(id));
  scheduler_.Wake();
  return Json(200, scheduler_.Json(*store_.Schedule(id)));
}

}  // namespace vantrelle::server
