#include "server/schedule_clock.h"

#include <cstdlib>

#include "server/console_store.h"

namespace vantrelle::server {

ScheduleClock ScheduleClock::FromEnvironment(std::string* problem) {
  ScheduleClock clock;
  const char* text = std::getenv("VANTRELLE_TEST_CLOCK");
  if (!text || !*text) return clock;
#ifdef VANTRELLE_TEST_CLOCK_ALLOWED
  long long seconds = 0;
  double speed = 1.0;
  char tail = 0;
  const int read = std::sscanf(text, "%lldx%lf%c", &seconds, &speed, &tail);
  if (read < 1 || read > 2 || speed < 1.0 || speed > 10000.0) {
    *problem = "VANTRELLE_TEST_CLOCK=" + std::string(text) +
               " is not SECONDS_SINCE_1970 or SECONDS_SINCE_1970xSPEED";
    return clock;
  }
  clock.test_ = true;
  clock.start_millis_ = seconds * 1000;
  clock.speed_ = speed;
  clock.start_ = std::chrono::steady_clock::now();
#else
  *problem = "VANTRELLE_TEST_CLOCK is set, but this build takes no test clock";
#endif
  return clock;
}

int64_t ScheduleClock::NowMillis() const {
  if (!test_) return vantrelle::server::NowMillis();
  const auto real = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start_)
                        .count();
  return start_millis_ + static_cast<int64_t>(static_cast<double>(real) * speed_);
}

void ScheduleClock::WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                              int64_t until) const {
  if (until == INT64_MAX) {
    wake.wait(lock);
    return;
  }
  const int64_t left = until - NowMillis();
  if (left <= 0) return;
  // The system's clock may be set meanwhile: wake at least once a minute to
  // look again, whatever the next time is.
  const double real = std::min<double>(static_cast<double>(left) / speed_, 60000.0);
  wake.wait_for(lock, std::chrono::milliseconds(static_cast<int64_t>(real) + 1));
}

void TimerThread::Start(std::function<int64_t()> round) {
  thread_ = std::thread([this, round = std::move(round)] {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
      woken_ = false;
      lock.unlock();
      const int64_t next = round();
      lock.lock();
      if (stopping_ || woken_) continue;
      clock_.WaitUntil(wake_, lock, next);
    }
  });
}

void TimerThread::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TimerThread::Wake() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
  }
  wake_.notify_all();
}

}  // namespace vantrelle::server
