// The embedded back end: SQLite linked into the program.
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <filesystem>
#include <system_error>

#include "data/session.h"
#include "base/error.h"
#include "base/run_stop.h"

namespace vantrelle {

namespace {

std::string Describe(sqlite3* db, int rc) {
  std::string text = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  text += " (SQLite error ";
  text += std::to_string(db != nullptr ? sqlite3_extended_errcode(db) : rc);
  text += ")";
  return text;
}

// How a column's declared type asks its stored text or integer to be read:
// SQLite has no date or exact decimal storage, so those live as text in
// columns declared DATE, DECIMAL and the like.
enum class Hint : uint8_t { kNone, kBoolean, kDecimal, kDate, kTime, kDateTime };

Hint HintFor(const char* declared) {
  if (declared == nullptr) return Hint::kNone;
  std::string type(declared);
  for (char& c : type) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  auto has = [&](const char* word) { return type.find(word) != std::string::npos; };
  if (has("BOOL")) return Hint::kBoolean;
  if (has("DATETIME") || has("TIMESTAMP")) return Hint::kDateTime;
  if (has("DATE")) return Hint::kDate;
  if (has("TIME")) return Hint::kTime;
  if (has("DECIMAL") || has("NUMERIC") || has("MONEY")) return Hint::kDecimal;
  return Hint::kNone;
}

// The command time-out: a statement step that runs past the deadline is
// interrupted by the progress handler, and a wait for another connection's
// lock gives up at it.
struct Deadline {
  int seconds = 0;
  std::chrono::steady_clock::time_point at;

  void Start() {
    if (seconds > 0) at = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  }
  bool Passed() const { return seconds > 0 && std::chrono::steady_clock::now() > at; }
};

// The description of a failed step, saying so when the time limit cut it.
std::string Failure(sqlite3* db, int rc, const Deadline& deadline) {
  std::string text = Describe(db, rc);
  if (!deadline.Passed()) return text;
  const std::string limit = TimeLimitText(deadline.seconds, "QueryTimeout");
  if ((rc & 0xFF) == SQLITE_INTERRUPT)
    return "The statement ran longer than " + limit + " and was stopped (" + text + ").";
  if ((rc & 0xFF) == SQLITE_BUSY)
    return text + "; another connection kept the database locked for " + limit + ".";
  return text;
}

class SqliteCursor : public Cursor {
 public:
  SqliteCursor(Session* session, sqlite3* db, sqlite3_stmt* stmt, Deadline* deadline)
      : Cursor(session), db_(db), stmt_(stmt), deadline_(deadline) {
    if (stmt_ == nullptr) return;
    int count = sqlite3_column_count(stmt_);
    hints_.reserve(count);
    for (int i = 0; i < count; ++i) hints_.push_back(HintFor(sqlite3_column_decltype(stmt_, i)));
  }
  ~SqliteCursor() override {
    ReleaseStatement();
    Detach();
  }

  int ColumnCount() const override { return static_cast<int>(hints_.size()); }

  bool Fetch(std::vector<Value>& row) override {
    if (stmt_ == nullptr) return false;
    // The statement's time limit began when it was started: fetching counts.
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_DONE) {
      ReleaseStatement();
      return false;
    }
    if (rc != SQLITE_ROW) {
      std::string text = Failure(db_, rc, *deadline_);
      ReleaseStatement();
      throw Error(text);
    }
    for (int i = 0; i < static_cast<int>(hints_.size()); ++i) Read(i, row[i]);
    return true;
  }

 protected:
  void ReleaseStatement() override {
    if (stmt_ != nullptr) sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }

 private:
  void Read(int i, Value& value) {
    switch (sqlite3_column_type(stmt_, i)) {
      case SQLITE_NULL:
        value.SetNull();
        return;
      case SQLITE_INTEGER: {
        sqlite3_int64 v = sqlite3_column_int64(stmt_, i);
        if (hints_[i] == Hint::kBoolean) {
          value.SetBoolean(v != 0);
        } else {
          value.SetInteger(v);
        }
        return;
      }
      case SQLITE_FLOAT:
        value.SetDouble(sqlite3_column_double(stmt_, i));
        return;
      case SQLITE_BLOB: {
        const void* data = sqlite3_column_blob(stmt_, i);
        int size = sqlite3_column_bytes(stmt_, i);
        value.SetBytes(ValueType::kBinary,
                       std::string_view(static_cast<const char*>(data), data ? size : 0));
        return;
      }
      default: {
        const char* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
        std::string_view text(data, data ? sqlite3_column_bytes(stmt_, i) : 0);
        ReadText(hints_[i], text, value);
        return;
      }
    }
  }

  static void ReadText(Hint hint, std::string_view text, Value& value) {
    DateTimeParts parts;
    switch (hint) {
      case Hint::kDecimal:
        if (IsDecimalText(text)) {
          value.SetBytes(ValueType::kDecimal, text);
          return;
        }
        break;
      case Hint::kDate:
        if (ParseDateTime(text, ValueType::kDate, parts)) {
          value.SetDateTime(ValueType::kDate, parts);
          return;
        }
        if (ParseDateTime(text, ValueType::kDateTime, parts)) {
          value.SetDateTime(ValueType::kDateTime, parts);
          return;
        }
        break;
      case Hint::kTime:
        if (ParseDateTime(text, ValueType::kTime, parts)) {
          value.SetDateTime(ValueType::kTime, parts);
          return;
        }
        break;
      case Hint::kDateTime:
        if (ParseDateTime(text, ValueType::kDateTime, parts)) {
          value.SetDateTime(ValueType::kDateTime, parts);
          return;
        }
        break;
      default:
        break;
    }
    value.SetBytes(ValueType::kText, text);
  }

  sqlite3* db_;
  sqlite3_stmt* stmt_;
  Deadline* deadline_;
  std::vector<Hint> hints_;
};

class SqliteSession : public Session {
 public:
  SqliteSession(sqlite3* db, int command_timeout_seconds) : db_(db) {
    deadline_.seconds = command_timeout_seconds;
    // No time-out means waiting for another writer's lock as long as it
    // takes, or until the run is cancelled.
    sqlite3_busy_handler(db_, &SqliteSession::BusyWait, this);
    sqlite3_progress_handler(db_, 10000, &SqliteSession::Progress, this);
  }
  ~SqliteSession() override {
    if (db_ != nullptr) {
      ReleaseCursors();
      sqlite3_close_v2(db_);
    }
  }

  void Execute(const std::string& sql) override {
    Require();
    deadline_.Start();
    const char* tail = sql.c_str();
    const char* end = tail + sql.size();
    while (tail < end) {
      sqlite3_stmt* stmt = Prepare(tail, end, &tail);
      if (stmt == nullptr) continue;
      RunToEnd(stmt);
    }
  }

  std::unique_ptr<Cursor> Query(const std::string& sql) override {
    Require();
    deadline_.Start();
    const char* tail = sql.c_str();
    const char* end = tail + sql.size();
    while (tail < end) {
      sqlite3_stmt* stmt = Prepare(tail, end, &tail);
      if (stmt == nullptr) continue;
      if (sqlite3_column_count(stmt) > 0)
        return std::make_unique<SqliteCursor>(this, db_, stmt, &deadline_);
      RunToEnd(stmt);
    }
    return std::make_unique<SqliteCursor>(this, db_, nullptr, &deadline_);
  }

  int Prepare(const std::string& sql) override {
    Require();
    const char* tail = sql.c_str();
    const char* end = tail + sql.size();
    while (tail < end) {
      sqlite3_stmt* stmt = Prepare(tail, end, &tail);
      if (stmt == nullptr) continue;
      int columns = sqlite3_column_count(stmt);
      sqlite3_finalize(stmt);
      if (columns > 0) return columns;
    }
    return 0;
  }

  void Close() override {
    if (db_ == nullptr) return;
    ReleaseCursors();
    int rc = sqlite3_close_v2(db_);
    db_ = nullptr;
    if (rc != SQLITE_OK) throw Error(Describe(nullptr, rc));
  }

  void Cancel() override {
    cancelled_ = true;
    if (db_ != nullptr) sqlite3_interrupt(db_);
  }

 private:
  void Require() const {
    if (db_ == nullptr) throw Error("The database connection is closed.");
    if (cancelled_) throw Error("The statement was cancelled.");
  }

  // Ends a statement past its deadline, or cancelled: an interrupt that came
  // just before the statement began is not lost.
  static int Progress(void* self) {
    auto* session = static_cast<SqliteSession*>(self);
    return session->cancelled_ || session->deadline_.Passed() ? 1 : 0;
  }

  // Waits for another connection's lock a little longer each time, up to a
  // fiftieth of a second, until the deadline or a cancel.
  static int BusyWait(void* self, int count) {
    auto* session = static_cast<SqliteSession*>(self);
    if (session->cancelled_ || session->deadline_.Passed()) return 0;
    sqlite3_sleep(count < 20 ? count + 1 : 20);
    return 1;
  }

  sqlite3_stmt* Prepare(const char* sql, const char* end, const char** tail) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql, static_cast<int>(end - sql), &stmt, tail);
    if (rc != SQLITE_OK) {
      *tail = end;
      throw Error(Failure(db_, rc, deadline_));
    }
    return stmt;
  }

  void RunToEnd(sqlite3_stmt* stmt) {
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
      std::string text = Failure(db_, rc, deadline_);
      sqlite3_finalize(stmt);
      throw Error(text);
    }
    sqlite3_finalize(stmt);
  }

  sqlite3* db_;
  Deadline deadline_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace

std::unique_ptr<Session> OpenSqliteSession(const std::string& path, int command_timeout_seconds,
                                           bool read_only) {
  bool in_memory = path.empty() || path == ":memory:";
  if (!in_memory) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
      throw Error("The SQLite database file \"" + path + "\" does not exist.");
  }
  sqlite3* db = nullptr;
  // Never SQLITE_OPEN_CREATE: a mistyped path must fail, not give an empty database.
  // A connection serves one thread: SQLite's per-call locking would only cost.
  int rc = sqlite3_open_v2(
      in_memory ? ":memory:" : path.c_str(), &db,
      (read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string text = "Cannot open the SQLite database \"" + path + "\": " + Describe(db, rc);
    sqlite3_close_v2(db);
    throw Error(text);
  }
  sqlite3_extended_result_codes(db, 1);
  return std::make_unique<SqliteSession>(db, command_timeout_seconds);
}

}  // namespace vantrelle
