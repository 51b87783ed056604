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
CREATE TABLE IF NOT EXISTS schedules (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL UNIQUE,
  definition TEXT NOT NULL, last_fire INTEGER NOT NULL, retry_due INTEGER,
  retry_attempt INTEGER NOT NULL DEFAULT 0, retry_fire INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS deliveries (id INTEGER PRIMARY KEY, run INTEGER NOT NULL,
  kind TEXT NOT NULL, target TEXT NOT NULL, attach TEXT NOT NULL, state TEXT NOT NULL,
  tries INTEGER NOT NULL DEFAULT 0, message TEXT NOT NULL DEFAULT '', next_try INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS deliveries_by_run ON deliveries (run);
CREATE INDEX IF NOT EXISTS deliveries_by_state ON deliveries (state, next_try);
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
    "ended_at, errors, files, schedule, attempt, fire_time";
constexpr char kDeliveryColumns[] =
    "id, run, kind, target, attach, state, tries, message, next_try";
constexpr char kScheduleColumns[] =
    "id, name, definition, last_fire, retry_due, retry_attempt, retry_fire";

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
  if (!row.Null(12)) run.schedule = row.Int(12);
  run.attempt = static_cast<int>(row.Int(13));
  run.fire_time = row.Int(14);
  return run;
}

DeliveryRecord ReadDelivery(const Statement& row) {
  DeliveryRecord delivery;
  delivery.id = row.Int(0);
  delivery.run = row.Int(1);
  delivery.kind = row.Text(2);
  delivery.target = row.Text(3);
  delivery.attach = nlohmann::json::parse(row.Text(4), nullptr, false);
  if (delivery.attach.is_discarded()) delivery.attach = nlohmann::json::array();
  delivery.state = row.Text(5);
  delivery.tries = static_cast<int>(row.Int(6));
  delivery.message = row.Text(7);
  delivery.next_try = row.Int(8);
  return delivery;
}

ScheduleRecord ReadSchedule(const Statement& row) {
  ScheduleRecord schedule;
  schedule.id = row.Int(0);
  schedule.name = row.Text(1);
  schedule.definition = nlohmann::json::parse(row.Text(2), nullptr, false);
  if (!schedule.definition.is_object()) schedule.definition = nlohmann::json::object();
  schedule.last_fire = row.Int(3);
  if (!row.Null(4)) schedule.retry_due = row.Int(4);
  schedule.retry_attempt = static_cast<int>(row.Int(5));
  schedule.retry_fire = row.Int(6);
  return schedule;
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
  json["schedule"] = run.schedule ? nlohmann::json(*run.schedule) : nlohmann::json(nullptr);
  json["attempt"] = run.attempt;
  nlohmann::json deliveries = nlohmann::json::array();
  for (const DeliveryRecord& delivery : run.deliveries)
    deliveries.push_back({{"kind", delivery.kind}, {"target", delivery.target},
                          {"attach", delivery.attach}, {"state", delivery.state},
                          {"tries", delivery.tries}, {"message", delivery.message}});
  json["deliveries"] = deliveries;
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
  // Columns that stores made by earlier versions lack.
  AddColumn("users", "mail", "TEXT NOT NULL DEFAULT ''");
  AddColumn("runs", "schedule", "INTEGER");
  AddColumn("runs", "attempt", "INTEGER NOT NULL DEFAULT 1");
  AddColumn("runs", "fire_time", "INTEGER NOT NULL DEFAULT 0");
}

void ConsoleStore::AddColumn(const std::string& table, const std::string& column,
                             const std::string& type) {
  Statement columns(db_, ("PRAGMA table_info(" + table + ")").c_str());
  while (columns.Step())
    if (columns.Text(1) == column) return;
  Statement(db_, ("ALTER TABLE " + table + " ADD COLUMN " + column + " " + type).c_str()).Run();
}

void ConsoleStore::ReadDeliveries(RunRecord& run) {
  Statement rows(db_, (std::string("SELECT ") + kDeliveryColumns +
                       " FROM deliveries WHERE run = ? ORDER BY id").c_str());
  rows.Bind(1, run.id);
  run.deliveries.clear();
  while (rows.Step()) run.deliveries.push_back(ReadDelivery(rows));
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
  Statement rows(db_, "SELECT name, role, mail FROM users ORDER BY name");
  while (rows.Step()) users.push_back({rows.Text(0), rows.Text(1), rows.Text(2)});
  return users;
}

std::optional<User> ConsoleStore::FindUser(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement row(db_, "SELECT name, role, mail FROM users WHERE name = ?");
  row.Bind(1, name);
  if (!row.Step()) return std::nullopt;
  return User{row.Text(0), row.Text(1), row.Text(2)};
}

bool ConsoleStore::SetMail(const std::string& name, const std::string& mail) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "UPDATE users SET mail = ? WHERE name = ?").Bind(1, mail).Bind(2, name).Run();
  return sqlite3_changes(db_) == 1;
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
  return User{row.Text(0), row.Text(1), ""};
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
  std::pair<User, std::string> found{User{row.Text(0), row.Text(1), ""}, row.Text(2)};
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
  Statement insert(db_, "INSERT INTO runs (report, catalogue, parameters, user, state, "
                        "queued_at, schedule, attempt, fire_time) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
  insert.Bind(1, run.report).Bind(2, run.catalogue).Bind(3, DumpJson(run.parameters))
      .Bind(4, run.user).Bind(5, run.state).Bind(6, run.queued_at);
  if (run.schedule) insert.Bind(7, *run.schedule); else insert.BindNull(7);
  insert.Bind(8, static_cast<int64_t>(run.attempt)).Bind(9, run.fire_time).Run();
  const int64_t id = sqlite3_last_insert_rowid(db_);
  RefreshLast(run.report);
  return id;
}

std::optional<RunRecord> ConsoleStore::Run(int64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement row(db_, (std::string("SELECT ") + kRunColumns + " FROM runs WHERE id = ?").c_str());
  row.Bind(1, id);
  if (!row.Step()) return std::nullopt;
  RunRecord run = ReadRun(row);
  ReadDeliveries(run);
  return run;
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
  for (RunRecord& run : runs) ReadDeliveries(run);
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
  Statement(db_, "DELETE FROM deliveries WHERE run = ?").Bind(1, id).Run();
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
  nlohmann::json deliveries = nlohmann::json::object();
  Statement delivered(db_, "SELECT state, count(*) FROM deliveries GROUP BY state");
  while (delivered.Step()) deliveries[delivered.Text(0)] = delivered.Int(1);
  return {{"by_state", by_state}, {"ended", sums.Int(0)},
          {"duration_seconds", static_cast<double>(sums.Int(1)) / 1000.0},
          {"deliveries", deliveries}};
}

int64_t ConsoleStore::AddSchedule(const std::string& name, const nlohmann::json& definition,
                                  int64_t last_fire) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "INSERT OR IGNORE INTO schedules (name, definition, last_fire) VALUES (?, ?, ?)")
      .Bind(1, name).Bind(2, DumpJson(definition)).Bind(3, last_fire).Run();
  return sqlite3_changes(db_) == 1 ? sqlite3_last_insert_rowid(db_) : 0;
}

bool ConsoleStore::UpdateSchedule(int64_t id, const std::string& name,
                                  const nlohmann::json& definition,
                                  std::optional<int64_t> last_fire) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement update(db_, "UPDATE OR IGNORE schedules SET name = ?, definition = ?, "
                        "last_fire = coalesce(?, last_fire) WHERE id = ?");
  update.Bind(1, name).Bind(2, DumpJson(definition));
  if (last_fire) update.Bind(3, *last_fire); else update.BindNull(3);
  update.Bind(4, id).Run();
  return sqlite3_changes(db_) == 1;
}

bool ConsoleStore::DeleteSchedule(int64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "DELETE FROM schedules WHERE id = ?").Bind(1, id).Run();
  return sqlite3_changes(db_) == 1;
}

std::vector<ScheduleRecord> ConsoleStore::Schedules() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<ScheduleRecord> schedules;
  Statement rows(db_, (std::string("SELECT ") + kScheduleColumns + " FROM schedules ORDER BY name")
                          .c_str());
  while (rows.Step()) schedules.push_back(ReadSchedule(rows));
  return schedules;
}

std::optional<ScheduleRecord> ConsoleStore::Schedule(int64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement row(db_, (std::string("SELECT ") + kScheduleColumns + " FROM schedules WHERE id = ?")
                         .c_str());
  row.Bind(1, id);
  if (!row.Step()) return std::nullopt;
  return ReadSchedule(row);
}

void ConsoleStore::SetLastFire(int64_t id, int64_t last_fire) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "UPDATE schedules SET last_fire = ? WHERE id = ?").Bind(1, last_fire).Bind(2, id)
      .Run();
}

void ConsoleStore::SetRetry(int64_t id, std::optional<int64_t> due, int attempt,
                            int64_t fire_time) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement update(db_, "UPDATE schedules SET retry_due = ?, retry_attempt = ?, retry_fire = ? "
                        "WHERE id = ?");
  if (due) update.Bind(1, *due); else update.BindNull(1);
  update.Bind(2, static_cast<int64_t>(attempt)).Bind(3, fire_time).Bind(4, id).Run();
}

void ConsoleStore::AddDelivery(const DeliveryRecord& delivery) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "INSERT INTO deliveries (run, kind, target, attach, state, tries, message, "
                 "next_try) VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
      .Bind(1, delivery.run).Bind(2, delivery.kind).Bind(3, delivery.target)
      .Bind(4, DumpJson(delivery.attach)).Bind(5, delivery.state)
      .Bind(6, static_cast<int64_t>(delivery.tries)).Bind(7, delivery.message)
      .Bind(8, delivery.next_try).Run();
  ++runs_version_;
}

std::vector<DeliveryRecord> ConsoleStore::Deliveries(int64_t run) {
  std::lock_guard<std::mutex> lock(mutex_);
  RunRecord record;
  record.id = run;
  ReadDeliveries(record);
  return record.deliveries;
}

std::vector<DeliveryRecord> ConsoleStore::DueDeliveries(int64_t now, bool folders) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<DeliveryRecord> due;
  Statement rows(db_, (std::string("SELECT ") + kDeliveryColumns +
                       " FROM deliveries WHERE state = 'pending' AND next_try <= ? AND "
                       "(kind = 'folder') = ? ORDER BY next_try, id").c_str());
  rows.Bind(1, now).Bind(2, static_cast<int64_t>(folders ? 1 : 0));
  while (rows.Step()) due.push_back(ReadDelivery(rows));
  return due;
}

std::optional<int64_t> ConsoleStore::NextDeliveryDue(bool folders) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement row(db_, "SELECT min(next_try) FROM deliveries WHERE state = 'pending' AND "
                     "(kind = 'folder') = ?");
  row.Bind(1, static_cast<int64_t>(folders ? 1 : 0));
  if (!row.Step() || row.Null(0)) return std::nullopt;
  return row.Int(0);
}

void ConsoleStore::UpdateDelivery(const DeliveryRecord& delivery) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "UPDATE deliveries SET state = ?, tries = ?, message = ?, next_try = ? "
                 "WHERE id = ?")
      .Bind(1, delivery.state).Bind(2, static_cast<int64_t>(delivery.tries))
      .Bind(3, delivery.message).Bind(4, delivery.next_try).Bind(5, delivery.id).Run();
  ++runs_version_;
}

int ConsoleStore::Resend(int64_t run, bool all, int64_t now) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement(db_, "UPDATE deliveries SET state = 'pending', tries = 0, next_try = ? "
                 "WHERE run = ? AND kind IN ('mail', 'folder') AND state != 'pending' "
                 "AND (? OR state = 'failed')")
      .Bind(1, now).Bind(2, run).Bind(3, static_cast<int64_t>(all ? 1 : 0)).Run();
  ++runs_version_;
  return sqlite3_changes(db_);
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
