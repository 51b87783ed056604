// Schedules: a report, its parameter values, a calendar, an owner and where
// the results go. One timer thread sleeps until the next fire time of any
// schedule (each computed from the calendar, never from the last wake-up),
// starts a console run for it as "schedule NAME", retries a failed run after
// the schedule's delay, and after the last try tells the owner. A fire time
// that passed while the server was down runs once when it is back, when the
// schedule asks for it; never once per missed time.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "server/catalogue.h"
#include "server/console_store.h"
#include "server/cron_calendar.h"
#include "server/delivery.h"
#include "server/run_queue.h"
#include "server/schedule_clock.h"

namespace vantrelle::server {

/// The zone of a schedule's definition: its "time_zone", else the server's.
TimeZone ZoneOf(const nlohmann::json& definition);

/// \a text with the date macros of file names (&Y, &M, ...) and the relative
/// dates ({previous month:yyyy-mm}) at \a at on the clock of \a zone.
std::string ExpandScheduleText(const std::string& text, int64_t at, const TimeZone& zone);

class Scheduler {
 public:
  Scheduler(const ServerConfig& config, ConsoleStore& store, Catalogues& catalogues,
            RunQueue& runs, Postman& postman, const ScheduleClock& clock);
  ~Scheduler();
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;

  void Start();
  void Shutdown();
  /// Looks at the schedules again (after one was added, changed or deleted).
  void Wake();
  /// Called when run \a id has ended, whatever started it; \a by_server
  /// when the server's stop or end cut it short, which is retried as a
  /// failure is.
  void RunEnded(int64_t id, bool by_server);

  /// \a body checked and completed as a schedule's definition, or nullopt
  /// with \a problem saying which field is wrong and why. \a owner is the
  /// default owner.
  std::optional<nlohmann::json> Check(const nlohmann::json& body, const std::string& owner,
                                      std::string* problem);
  /// The schedule as the API shows it, with its next five fire times.
  nlohmann::json Json(const ScheduleRecord& schedule) const;
  int64_t NowSeconds() const { return clock_.NowSeconds(); }

 private:
  // Looks at every schedule once; the next time to look (milliseconds).
  int64_t Round();
  void Fire(const ScheduleRecord& schedule, int64_t fire_time, int attempt);

  const ServerConfig& config_;
  ConsoleStore& store_;
  Catalogues& catalogues_;
  RunQueue& runs_;
  Postman& postman_;
  const ScheduleClock& clock_;
  TimerThread thread_;
};

}  // namespace vantrelle::server
