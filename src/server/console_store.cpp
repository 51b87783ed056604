#include "server/console_store.h"

#include <chrono>
#include <ctime>
#include <stdexcept>

namespace vantrelle::server {
namespace {

const char kSchema[] = R"(
PRAGMA journal_mode = WAL;
PRAGMA synchronous = NORMAL;
CREATE TABLE IF NOT EXISTS users (name TEXT PRIMARY KEY, hash TEXT NOT NULL, role TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS tokens (id INTEGER PRIMARY KEY, user TEXT NOT NULL,
  digest TEXT NOT NULL UNIQUE, created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS sessions (digest TEXT PRIMARY KEY, user TEXT NOT NULL,
  csrf TEXT NOT NULL, last_seen INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS failures (name TEXT PRIMARY KEY, count INTEGER NOT NULL,
  locked_until INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS runs (id INTEGER PRIMARY KEY, report TEXT NOT NULL,
  catalogue TEXT NOT NULL, parameters TEXT NOT NULL, user TEXT NOT NULL, state TEXT NOT NULL,
  exit_status INTEGER, queued_at INTEGER NOT NULL, started_at INTEGER, ended_at INTEGER,
  errors INTEGER, files TEXT NOT NULL DEFAULT '[]');
CREATE INDEX IF NOT EXISTS runs_by_report ON runs (report, id);
CREATE INDEX IF NOT EXISTS runs_by_catalogue ON runs (catalogue, id);
CREATE INDEX IF NOT EXISTS runs_by_state ON runs (state, id);
CREATE TABLE IF NOT EXISTS audit (id INTEGER PRIMARY KEY, at INTEGER NOT NULL,
  user TEXT NOT NULL, address TEXT NOT NULL, action TEXT NOT NULL, detail TEXT NOT NULL);
)";

// One prepared statement, finalized when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("console.db: ") + sqlite3_errmsg(db));
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int i, const std::string& text) {
    sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Bind(int i, int64_t number) {
    sqlite3_bind_int64(stmt_, i, number);
    return *this;
  }
  Statement& BindNull(int i) {
    sqlite3_bind_null(stmt_, i);
    return *this;
  }
  /// Steps once: true for a row, false when done. Throws on failure.
  bool Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw std::runtime_error(std::string("console.db: ") + sqlite3_errmsg(db_));
  }
  void Run() { Step(); }
  std::string Text(int i) const {
    const auto* text = sqlite3_column_text(stmt_, i);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<size_t>(sqlite3_column_bytes(stmt_, i)))
                : std::string();
  }
  int64_t Int(int i) const { return sqlite3_column_int64(stmt_, i); }
  bool Null(int i) const { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

constexpr char kRunColumns[] =
    "id, report, catalogue, parameters, user, state, exit_status, queued_at, started_at, "
    "ended_at, errors, files";

RunRecord ReadRun(const Statement& row) {
  RunRecord run;
  run.id = row.Int(0);
  run.report = row.Text(1);
  run.catalogue = row.Text(2);
  run.parameters = nlohmann::json::parse(row.Text(3), nullptr, false);
  if (run.parameters.is_discarded()) run.parameters = nlohmann::json::object();
  run.user = row.Text(4);
  run.state = row.Text(5);
  if (!row.Null(6)) run.exit_status = static_cast<int>(row.Int(6));
  run.queued_at = row.Int(7);
  if (!row.Null(8)) run.started_at = row.Int(8);
  if (!row.Null(9)) run.ended_at = row.Int(9);
  if (!row.Null(10)) run.errors = static_cast<int>(row.Int(10));
  nlohmann::json files = nlohmann::json::parse(row.Text(11), nullptr, false);
  if (files.is_array())
    for (const auto& file : files) run.files.push_back(file.get<std::string>());
  return run;
}

}  // namespace

int64_t NowMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string Rfc3339(int64_t millis) {
  const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  const long offset = local.tm_gmtoff / 60;
  char zone[32];
  std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+',
                (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
  return std::string(text) + zone;
}

std::string DumpJson(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

nlohmann::json RunJson(const RunRecord& run) {
  auto time = [](const std::optional<int64_t>& millis) {
    return millis ? nlohmann::json(Rfc3339(*millis)) : nlohmann::json(nullptr);
  };
  nlohmann::json json = {{"id", run.id},
                         {"report", run.report},
                         {"catalogue", run.catalogue},
                         {"parameters", run.parameters},
                         {"user", run.user},
                         {"state", run.state},
                         {"exit_status", run.exit_status ? nlohmann::json(*run.exit_status)
                                                         : nlohmann::json(nullptr)},
                         {"queued_at", Rfc3339(run.queued_at)},
                         {"started_at", time(run.started_at)},
                         {"ended_at", time(run.ended_at)},
                         {"errors", run.errors ? nlohmann::json(*run.errors)
                                               : nlohmann::json(nullptr)},
                         {"files", run.files}};
  if (run.started_at && run.ended_at)
    json["duration_seconds"] = static_cast<double>(*run.ended_at - *run.started_at) / 1000.0;
  return json;
}

ConsoleStore::ConsoleStore(const std::string& path) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE |
                                              SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close_v2(db_);
    throw std::runtime_error("Cannot open \"" + path + "\": " + message + ".");
  }
  sqlite3_busy_timeout(db_, 5000);
  char* error = nullptr;
  if (sqlite3_exec(db_, kSchema, nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : "unknown error";
    sqlite3_free(error);
    sqlite3_close_v2(db_);
    throw std::runtime_error("Cannot prepare \"" + path + "\": " + message + ".");
  }
}

void ConsoleStore::LoadLastRuns() {
  if (last_runs_loaded_) return;
  Statement rows(db_, (std::string("SELECT ") + kRunColumns +
                       " FROM runs WHERE id IN (SELECT max(id) FROM runs GROUP BY report)").c_str());
  while (rows.Step()) {
    RunRecord run = ReadRun(rows);
    last_runs_[run.report] = DumpJson(RunJson(run));
  }
  last_runs_loaded_ = true;
}

void ConsoleStore::RefreshLast(const std::string& report) {
  ++runs_version_;
  if (!last_runs_loaded_) return;  // read whole when first asked for
  Statement row(db_, (std::string("SELECT ") + kRunColumns +
                      " FROM runs WHERE report = ? ORDER BY id DESC LIMIT 1").c_str());
  row.Bind(1, report);
  if (row.Step()) last_runs_[report] = DumpJson(RunJson(ReadRun(row)));
  else last_runs_.erase(report);
}

std::string ConsoleStore::ReportOf(int64_t id) {
  Statement row(db_, "SELECT report FROM runs WHERE id = ?");
  row.Bind(1, id);
  return row.Step() ? row.Text(0) : "";
}

std::string ConsoleStore::LastRunJson(const std::string& report) {
  std::lock_guard<std::mutex> lock(mutex_);
  LoadLastRuns();
  auto found = last_runs_.find(report);
  return found == last_runs_.end() ? "null" : found->second;
}

ConsoleStore::~ConsoleStore() { sqlite3_close_v2(db_); }

bool ConsoleStore::AddUser(const std::string& name, const std::string& hash,
                           const std::string& role) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "INSERT OR IGNORE INTO users (name, hash, role) VALUES (?, ?, ?)")
      .Bind(1, name).Bind(2, hash).Bind(3, role).Run();
  return sqlite3_changes(db_) == 1;
}

bool ConsoleStore::SetPassword(const std::string& name, const std::string& hash) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "UPDATE users SET hash = ? WHERE name = ?").Bind(1, hash).Bind(2, name).Run();
  const bool changed = sqlite3_changes(db_) == 1;
  // A new password ends the user's sessions.
  Statement(db_, "DELETE FROM sessions WHERE user = ?").Bind(1, name).Run();
  return changed;
}

bool ConsoleStore::SetRole(const std::string& name, const std::string& role) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "UPDATE users SET role = ? WHERE name = ?").Bind(1, role).Bind(2, name).Run();
  return sqlite3_changes(db_) == 1;
}

bool ConsoleStore::DeleteUser(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "DELETE FROM users WHERE name = ?").Bind(1, name).Run();
  const bool changed = sqlite3_changes(db_) == 1;
  Statement(db_, "DELETE FROM sessions WHERE user = ?").Bind(1, name).Run();
  Statement(db_, "DELETE FROM tokens WHERE user = ?").Bind(1, name).Run();
  return changed;
}

std::vector<User> ConsoleStore::Users() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<User> users;
  Statement rows(db_, "SELECT name, role FROM users ORDER BY name");
  while (rows.Step()) users.push_back({rows.Text(0), rows.Text(1)});
  return users;
}

std::optional<User> ConsoleStore::FindUser(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement row(db_, "SELECT name, role FROM users WHERE name = ?");
  row.Bind(1, name);
  if (!row.Step()) return std::nullopt;
  return User{row.Text(0), row.Text(1)};
}

std::optional<std::string> ConsoleStore::PasswordHash(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement row(db_, "SELECT hash FROM users WHERE name = ?");
  row.Bind(1, name);
  if (!row.Step()) return std::nullopt;
  return row.Text(0);
}

int64_t ConsoleStore::AddToken(const std::string& user, const std::string& digest) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "INSERT INTO tokens (user, digest, created) VALUES (?, ?, ?)")
      .Bind(1, user).Bind(2, digest).Bind(3, NowMillis()).Run();
  return sqlite3_last_insert_rowid(db_);
}

bool ConsoleStore::DeleteToken(int64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "DELETE FROM tokens WHERE id = ?").Bind(1, id).Run();
  return sqlite3_changes(db_) == 1;
}

std::vector<nlohmann::json> ConsoleStore::Tokens() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<nlohmann::json> tokens;
  Statement rows(db_, "SELECT id, user, created FROM tokens ORDER BY id");
  while (rows.Step())
    tokens.push_back({{"id", rows.Int(0)}, {"user", rows.Text(1)},
                      {"created", Rfc3339(rows.Int(2))}});
  return tokens;
}

std::optional<User> ConsoleStore::TokenUser(const std::string& digest) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement row(db_, "SELECT u.name, u.role FROM tokens t JOIN users u ON u.name = t.user "
                     "WHERE t.digest = ?");
  row.Bind(1, digest);
  if (!row.Step()) return std::nullopt;
  return User{row.Text(0), row.Text(1)};
}

void ConsoleStore::AddSession(const std::string& digest, const std::string& user,
                              const std::string& csrf) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "INSERT INTO sessions (digest, user, csrf, last_seen) VALUES (?, ?, ?, ?)")
      .Bind(1, digest).Bind(2, user).Bind(3, csrf).Bind(4, NowMillis()).Run();
}

std::optional<std::pair<User, std::string>> ConsoleStore::TouchSession(const std::string& digest,
                                                                       int64_t idle_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int64_t now = NowMillis();
  // Expired sessions go once a minute; a session's last use is written when
  // it is a minute old: most requests write nothing.
  if (now - sessions_swept_ > 60000) {
    Statement(db_, "DELETE FROM sessions WHERE last_seen < ?").Bind(1, now - idle_ms).Run();
    sessions_swept_ = now;
  }
  Statement row(db_, "SELECT u.name, u.role, s.csrf, s.last_seen FROM sessions s JOIN users u "
                     "ON u.name = s.user WHERE s.digest = ?");
  row.Bind(1, digest);
  if (!row.Step()) return std::nullopt;
  const int64_t last_seen = row.Int(3);
  if (last_seen < now - idle_ms) return std::nullopt;
  std::pair<User, std::string> found{User{row.Text(0), row.Text(1)}, row.Text(2)};
  if (now - last_seen > 60000)
    Statement(db_, "UPDATE sessions SET last_seen = ? WHERE digest = ?")
        .Bind(1, now).Bind(2, digest).Run();
  return found;
}

void ConsoleStore::DeleteSession(const std::string& digest) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "DELETE FROM sessions WHERE digest = ?").Bind(1, digest).Run();
}

int ConsoleStore::Failures(const std::string& name, int64_t* locked_until) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement row(db_, "SELECT count, locked_until FROM failures WHERE name = ?");
  row.Bind(1, name);
  if (!row.Step()) {
    *locked_until = 0;
    return 0;
  }
  *locked_until = row.Int(1);
  return static_cast<int>(row.Int(0));
}

void ConsoleStore::AddFailure(const std::string& name, int64_t lock_until_if_locked,
                              int lock_after) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "INSERT INTO failures (name, count, locked_until) VALUES (?, 1, 0) "
                 "ON CONFLICT (name) DO UPDATE SET count = count + 1, locked_until = "
                 "CASE WHEN count + 1 >= ? THEN ? ELSE locked_until END")
      .Bind(1, name).Bind(2, lock_after).Bind(3, lock_until_if_locked).Run();
}

void ConsoleStore::ClearFailures(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "DELETE FROM failures WHERE name = ?").Bind(1, name).Run();
}

int64_t ConsoleStore::AddRun(const RunRecord& run) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "INSERT INTO runs (report, catalogue, parameters, user, state, queued_at) "
                 "VALUES (?, ?, ?, ?, ?, ?)")
      .Bind(1, run.report).Bind(2, run.catalogue).Bind(3, DumpJson(run.parameters))
      .Bind(4, run.user).Bind(5, run.state).Bind(6, run.queued_at).Run();
  const int64_t id = sqlite3_last_insert_rowid(db_);
  RefreshLast(run.report);
  return id;
}

std::optional<RunRecord> ConsoleStore::Run(int64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement row(db_, (std::string("SELECT ") + kRunColumns + " FROM runs WHERE id = ?").c_str());
  row.Bind(1, id);
  if (!row.Step()) return std::nullopt;
  return ReadRun(row);
}

void ConsoleStore::SetRunning(int64_t id, int64_t started_at) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "UPDATE runs SET state = 'running', started_at = ? WHERE id = ?")
      .Bind(1, started_at).Bind(2, id).Run();
  RefreshLast(ReportOf(id));
}

void ConsoleStore::SetEnded(int64_t id, const std::string& state, std::optional<int> exit_status,
                            std::optional<int> errors, const std::vector<std::string>& files) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement update(db_, "UPDATE runs SET state = ?, exit_status = ?, ended_at = ?, errors = ?, "
                        "files = ? WHERE id = ?");
  update.Bind(1, state);
  if (exit_status) update.Bind(2, *exit_status); else update.BindNull(2);
  update.Bind(3, NowMillis());
  if (errors) update.Bind(4, *errors); else update.BindNull(4);
  update.Bind(5, DumpJson(nlohmann::json(files))).Bind(6, id).Run();
  RefreshLast(ReportOf(id));
}

std::vector<RunRecord> ConsoleStore::Runs(const std::vector<std::string>& catalogues,
                                          const std::string& report, const std::string& state,
                                          int64_t before, int limit) {
  std::vector<RunRecord> runs;
  if (catalogues.empty()) return runs;
  // With a report named, its own index serves (the catalogue term only
  // filters: "+" keeps the planner off the catalogue's index).
  std::string sql = std::string("SELECT ") + kRunColumns + " FROM runs WHERE " +
                    (report.empty() ? "" : "+") + "catalogue IN (";
  for (size_t i = 0; i < catalogues.size(); ++i) sql += i == 0 ? "?" : ", ?";
  sql += ")";
  if (!report.empty()) sql += " AND report = ?";
  if (!state.empty()) sql += " AND state = ?";
  if (before > 0) sql += " AND id < ?";
  sql += " ORDER BY id DESC LIMIT ?";
  std::lock_guard<std::mutex> lock(mutex_);
  Statement rows(db_, sql.c_str());
  int i = 1;
  for (const std::string& catalogue : catalogues) rows.Bind(i++, catalogue);
  if (!report.empty()) rows.Bind(i++, report);
  if (!state.empty()) rows.Bind(i++, state);
  if (before > 0) rows.Bind(i++, before);
  rows.Bind(i, static_cast<int64_t>(limit));
  while (rows.Step()) runs.push_back(ReadRun(rows));
  return runs;
}

std::vector<int64_t> ConsoleStore::EndUnfinished(const std::string& state) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<int64_t> ids;
  Statement rows(db_, "SELECT id FROM runs WHERE state IN ('queued', 'running')");
  while (rows.Step()) ids.push_back(rows.Int(0));
  Statement(db_, "UPDATE runs SET state = ?, ended_at = ? WHERE state IN ('queued', 'running')")
      .Bind(1, state).Bind(2, NowMillis()).Run();
  for (int64_t id : ids) RefreshLast(ReportOf(id));
  return ids;
}

std::vector<int64_t> ConsoleStore::RunsBeyond(const std::string& report, int keep) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<int64_t> ids;
  Statement rows(db_, "SELECT id FROM runs WHERE report = ? AND state NOT IN ('queued', "
                      "'running') ORDER BY id DESC LIMIT -1 OFFSET ?");
  rows.Bind(1, report).Bind(2, static_cast<int64_t>(keep));
  while (rows.Step()) ids.push_back(rows.Int(0));
  return ids;
}

void ConsoleStore::DeleteRun(int64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string report = ReportOf(id);
  Statement(db_, "DELETE FROM runs WHERE id = ?").Bind(1, id).Run();
  RefreshLast(report);
}

nlohmann::json ConsoleStore::RunStatistics() {
  std::lock_guard<std::mutex> lock(mutex_);
  nlohmann::json by_state = nlohmann::json::object();
  Statement rows(db_, "SELECT state, count(*) FROM runs GROUP BY state");
  while (rows.Step()) by_state[rows.Text(0)] = rows.Int(1);
  Statement sums(db_, "SELECT count(*), coalesce(sum(ended_at - started_at), 0) FROM runs "
                      "WHERE started_at IS NOT NULL AND ended_at IS NOT NULL");
  sums.Step();
  return {{"by_state", by_state}, {"ended", sums.Int(0)},
          {"duration_seconds", static_cast<double>(sums.Int(1)) / 1000.0}};
}

void ConsoleStore::Audit(const std::string& user, const std::string& address,
                         const std::string& action, const std::string& detail) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "INSERT INTO audit (at, user, address, action, detail) VALUES (?, ?, ?, ?, ?)")
      .Bind(1, NowMillis()).Bind(2, user).Bind(3, address).Bind(4, action).Bind(5, detail).Run();
}

std::vector<nlohmann::json> ConsoleStore::AuditEntries(int64_t before, int limit) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<nlohmann::json> entries;
  Statement rows(db_, "SELECT id, at, user, address, action, detail FROM audit "
                      "WHERE (? = 0 OR id < ?) ORDER BY id DESC LIMIT ?");
  rows.Bind(1, before).Bind(2, before).Bind(3, static_cast<int64_t>(limit));
  while (rows.Step())
    entries.push_back({{"id", rows.Int(0)}, {"at", Rfc3339(rows.Int(1))}, {"user", rows.Text(2)},
                       {"address", rows.Text(3)}, {"action", rows.Text(4)},
                       {"detail", rows.Text(5)}});
  return entries;
}

}  // namespace vantrelle::server
