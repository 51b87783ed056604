// The console's own state in SQLite (console.db under State=): users, API
// tokens, sessions, failed sign-ins, the history of runs, schedules and the
// deliveries of their runs, and the audit log.
// One connection, one lock: every call is short.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vantrelle::server {

/// Milliseconds since 1970 by the system clock.
int64_t NowMillis();
/// \a millis as RFC 3339 with the local offset ("2004-06-01T06:12:40+02:00").
std::string Rfc3339(int64_t millis);

struct User {
  std::string name;
  std::string role;  ///< "viewer", "runner" or "admin"
  std::string mail;  ///< where notices go; may be empty
};

/// One recipient of one run's results: a mail address, a folder, or the
/// schedule owner's notice of a failure.
struct DeliveryRecord {
  int64_t id = 0;
  int64_t run = 0;
  std::string kind;     ///< "mail", "folder" or "notice"
  std::string target;   ///< the address or the folder
  /// What to send: ["report", "pdf"]; for a notice {"about": "what failed"}.
  nlohmann::json attach = nlohmann::json::array();
  std::string state;    ///< pending, sent, failed
  int tries = 0;
  std::string message;  ///< the last answer or failure
  int64_t next_try = 0; ///< milliseconds by the schedule clock
};

/// A schedule: its definition as the API takes it, the last fire time it
/// has dealt with, and a retry of a failed run when one is due.
struct ScheduleRecord {
  int64_t id = 0;
  std::string name;
  nlohmann::json definition = nlohmann::json::object();
  int64_t last_fire = 0;                ///< seconds since 1970
  std::optional<int64_t> retry_due;     ///< seconds since 1970
  int retry_attempt = 0;
  int64_t retry_fire = 0;               ///< the fire time the retry runs for
};

struct RunRecord {
  int64_t id = 0;
  std::string report;
  std::string catalogue;
  nlohmann::json parameters = nlohmann::json::object();
  std::string user;
  std::string state;  ///< queued, running, succeeded, failed, stopped, interrupted
  std::optional<int> exit_status;
  int64_t queued_at = 0;
  std::optional<int64_t> started_at;
  std::optional<int64_t> ended_at;
  std::optional<int> errors;
  std::vector<std::string> files;  ///< names in the run's folder
  std::optional<int64_t> schedule; ///< the schedule that started it
  int attempt = 1;                 ///< 2 and up: a retry of a failed run
  int64_t fire_time = 0;           ///< the fire time it ran for (seconds)
  std::vector<DeliveryRecord> deliveries;
};

/// The run as the API shows it.
/// Compact JSON text of \a value. A text that is not UTF-8 is written with
/// a stand-in character instead of failing the whole answer.
std::string DumpJson(const nlohmann::json& value);
nlohmann::json RunJson(const RunRecord& run);

class ConsoleStore {
 public:
  /// Opens or creates \a path. Throws std::runtime_error.
  explicit ConsoleStore(const std::string& path);
  ~ConsoleStore();
  ConsoleStore(const ConsoleStore&) = delete;
  ConsoleStore& operator=(const ConsoleStore&) = delete;

  // Users and their password hashes (Argon2id strings).
  bool AddUser(const std::string& name, const std::string& hash, const std::string& role);
  bool SetPassword(const std::string& name, const std::string& hash);
  bool SetRole(const std::string& name, const std::string& role);
  bool DeleteUser(const std::string& name);
  std::vector<User> Users();
  std::optional<User> FindUser(const std::string& name);
  std::optional<std::string> PasswordHash(const std::string& name);
  bool SetMail(const std::string& name, const std::string& mail);

  // API tokens, stored by the digest of the token.
  int64_t AddToken(const std::string& user, const std::string& digest);
  bool DeleteToken(int64_t id);
  std::vector<nlohmann::json> Tokens();
  std::optional<User> TokenUser(const std::string& digest);

  // Sessions, by the digest of their id.
  void AddSession(const std::string& digest, const std::string& user, const std::string& csrf);
  /// The session's user and CSRF token when it was used within \a idle_ms;
  /// touches it.
  std::optional<std::pair<User, std::string>> TouchSession(const std::string& digest,
                                                           int64_t idle_ms);
  void DeleteSession(const std::string& digest);

  // Failed sign-ins, by the name tried (whether or not it exists).
  int Failures(const std::string& name, int64_t* locked_until);
  void AddFailure(const std::string& name, int64_t lock_until_if_locked, int lock_after);
  void ClearFailures(const std::string& name);

  // Runs.
  int64_t AddRun(const RunRecord& run);
  std::optional<RunRecord> Run(int64_t id);
  void SetRunning(int64_t id, int64_t started_at);
  void SetEnded(int64_t id, const std::string& state, std::optional<int> exit_status,
                std::optional<int> errors, const std::vector<std::string>& files);
  /// Newest first, of the \a catalogues, optionally of one report and in one
  /// state, older than \a before (0: any).
  std::vector<RunRecord> Runs(const std::vector<std::string>& catalogues,
                              const std::string& report, const std::string& state,
                              int64_t before, int limit);
  /// The last run of \a report as the API shows it ("null" when none),
  /// kept in memory: listing 500 reports reads no table.
  std::string LastRunJson(const std::string& report);
  /// A number that changes whenever a run is added, changes state or goes.
  uint64_t RunsVersion() const { return runs_version_.load(); }
  /// Marks every queued or running run \a state; returns their ids.
  std::vector<int64_t> EndUnfinished(const std::string& state);
  /// The ids of \a report's ended runs beyond the newest \a keep.
  std::vector<int64_t> RunsBeyond(const std::string& report, int keep);
  void DeleteRun(int64_t id);
  /// Count of runs by state, and the sum and count of ended runs' durations.
  nlohmann::json RunStatistics();

  // Schedules. AddSchedule gives 0 when the name is taken.
  int64_t AddSchedule(const std::string& name, const nlohmann::json& definition, int64_t last_fire);
  /// False when there is no such schedule or the new name is taken.
  bool UpdateSchedule(int64_t id, const std::string& name, const nlohmann::json& definition,
                      std::optional<int64_t> last_fire);
  bool DeleteSchedule(int64_t id);
  std::vector<ScheduleRecord> Schedules();
  std::optional<ScheduleRecord> Schedule(int64_t id);
  void SetLastFire(int64_t id, int64_t last_fire);
  /// A retry of attempt \a attempt due at \a due; none with nullopt.
  void SetRetry(int64_t id, std::optional<int64_t> due, int attempt, int64_t fire_time);

  // Deliveries of runs' results.
  void AddDelivery(const DeliveryRecord& delivery);
  std::vector<DeliveryRecord> Deliveries(int64_t run);
  /// Pending deliveries into folders (\a folders) or by mail due at \a now;
  /// and when the next one falls due.
  std::vector<DeliveryRecord> DueDeliveries(int64_t now, bool folders);
  std::optional<int64_t> NextDeliveryDue(bool folders);
  void UpdateDelivery(const DeliveryRecord& delivery);
  /// Makes the failed (or, with \a all, every) mail and folder deliveries of
  /// \a run pending again, due at \a now; how many.
  int Resend(int64_t run, bool all, int64_t now);

  // The audit log.
  void Audit(const std::string& user, const std::string& address, const std::string& action,
             const std::string& detail);
  std::vector<nlohmann::json> AuditEntries(int64_t before, int limit);

 private:
  // Reads the last run of \a report into the cache; the lock is held.
  void RefreshLast(const std::string& report);
  // Reads every report's last run into the cache, once; the lock is held.
  void LoadLastRuns();
  // Adds \a column to \a table when a store of an older version lacks it.
  void AddColumn(const std::string& table, const std::string& column, const std::string& type);
  // Reads the deliveries of \a run into it; the lock is held.
  void ReadDeliveries(RunRecord& run);
  // The report of run \a id; the lock is held.
  std::string ReportOf(int64_t id);

  sqlite3* db_ = nullptr;
  std::mutex mutex_;
  std::map<std::string, std::string> last_runs_;  // report -> its last run's JSON
  bool last_runs_loaded_ = false;
  int64_t sessions_swept_ = 0;
  std::atomic<uint64_t> runs_version_{0};
};

}  // namespace vantrelle::server
