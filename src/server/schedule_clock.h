// The clock of schedules, retries and deliveries: the system's clock, or in
// a build with tests a test clock that starts at a given time and may run
// faster (VANTRELLE_TEST_CLOCK="SECONDS_SINCE_1970[xSPEED]"), so that a test
// sees a month's first day come without waiting for it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vantrelle::server {

class ScheduleClock {
 public:
  /// The system's clock, or the test clock when the build allows it and the
  /// environment sets it. \a problem receives a message for a test clock
  /// that cannot be read or is not allowed.
  static ScheduleClock FromEnvironment(std::string* problem);

  /// Milliseconds since 1970.
  int64_t NowMillis() const;
  int64_t NowSeconds() const { return NowMillis() / 1000; }
  /// Waits on \a wake until \a until (milliseconds since 1970 by this clock)
  /// or a notification; \a until of INT64_MAX waits for a notification.
  void WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                 int64_t until) const;
  bool IsTestClock() const { return test_; }

 private:
  bool test_ = false;
  int64_t start_millis_ = 0;
  std::chrono::steady_clock::time_point start_{};
  double speed_ = 1.0;
};

/// A thread that does a round of work when it starts, when woken, and when
/// the time the last round asked for comes on \a clock.
class TimerThread {
 public:
  explicit TimerThread(const ScheduleClock& clock) : clock_(clock) {}
  ~TimerThread() { Stop(); }
  TimerThread(const TimerThread&) = delete;
  TimerThread& operator=(const TimerThread&) = delete;

  /// Starts the thread. \a round returns when to run it next (milliseconds
  /// by the clock; INT64_MAX: only when woken).
  void Start(std::function<int64_t()> round);
  /// Ends the thread after the round in progress.
  void Stop();
  void Wake();
  /// True once Stop was called; long work in a round may look at it.
  const std::atomic<bool>& Stopping() const { return stopping_; }

 private:
  const ScheduleClock& clock_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::atomic<bool> stopping_{false};
  bool woken_ = false;
  std::thread thread_;
};

}  // namespace vantrelle::server
