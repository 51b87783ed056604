#include "base/run_stop.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cerrno>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "base/output_file.h"

namespace vantrelle {

using Clock = std::chrono::steady_clock;

namespace {

// The driver call in flight on the statements' thread: when it began (0:
// none), and when its statement's time limit passes (0: no limit).
std::atomic<int64_t> call_since{0};
std::atomic<int64_t> call_limit_at{0};
std::atomic<int> call_limit_seconds{0};

int64_t Ticks(Clock::time_point when) { return when.time_since_epoch().count(); }
int64_t Ticks(Clock::duration span) { return span.count(); }

}  // namespace

struct RunStop::State {
  // -1 while no stop is requested, else the signal number (0: the window,
  // kReasonGiven: RequestFor).
  std::atomic<int> requested{-1};
  std::atomic<int64_t> requested_at{0};
  // The cancellers, under a lock of their own: a canceller that hangs (a
  // driver's cancel to a server that does not answer) holds up no hard end.
  std::mutex cancel_mutex;
  std::map<int, std::function<void()>> cancellers;
  int next_key = 1;
  // Everything else.
  std::mutex mutex;
  std::set<std::string> scratch_files;
  std::set<int> child_groups;
  std::string reason;
  // The hard end's handler, under a lock of its own.
  std::mutex hard_end_mutex;
  std::function<void(const std::string&)> log_why;
};

namespace {
constexpr int kReasonGiven = 1000;
}  // namespace

RunStop::RunStop() : state_(std::make_shared<State>()) {}
RunStop::~RunStop() = default;
RunStop::RunStop(RunStop&&) noexcept = default;
RunStop& RunStop::operator=(RunStop&&) noexcept = default;

bool RunStop::Mark(int signal_number) {
  int none = -1;
  if (!state_->requested.compare_exchange_strong(none, signal_number)) return false;
  state_->requested_at = Ticks(Clock::now());
  return true;
}

void RunStop::Request(int signal_number) {
  if (!Mark(signal_number)) return;
  RepeatCancel();
}

void RunStop::RequestFor(const std::string& reason) {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (Requested()) return;
    state_->reason = reason;
  }
  Request(kReasonGiven);
}

bool RunStop::Requested() const { return state_->requested.load() >= 0; }

std::string RunStop::Reason() const {
  int signal_number = state_->requested.load();
  if (signal_number < 0) return "";
  if (signal_number == 0) return "the Stop command";
  if (signal_number == kReasonGiven) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->reason;
  }
  return StopSignalName(signal_number);
}

void RunStop::Check() const {
  if (Requested()) throw RunStopped(Reason());
}

void RunStop::Reset() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->requested = -1;
  state_->reason.clear();
}

void RunStop::RepeatCancel() {
  // Under the lock, so that no canceller runs after its owner removed it.
  std::lock_guard<std::mutex> lock(state_->cancel_mutex);
  if (!Requested()) return;
  for (auto& [key, cancel] : state_->cancellers) cancel();
}

int RunStop::AddCanceller(std::function<void()> cancel) {
  std::lock_guard<std::mutex> lock(state_->cancel_mutex);
  if (Requested()) cancel();
  int key = state_->next_key++;
  state_->cancellers.emplace(key, std::move(cancel));
  return key;
}

void RunStop::RemoveCanceller(int key) {
  std::lock_guard<std::mutex> lock(state_->cancel_mutex);
  state_->cancellers.erase(key);
}

void RunStop::AddScratchFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->scratch_files.insert(path);
}

void RunStop::RemoveScratchFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->scratch_files.erase(path);
}

void RunStop::RemoveScratchFiles() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  for (const std::string& path : state_->scratch_files) {
    if (::unlink(path.c_str()) == 0 || errno != EISDIR) continue;
    // A private folder of the run: emptied, then removed, if it is still
    // this user's.
    int folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (folder < 0) continue;
    if (::fstat(folder, &st) == 0 && st.st_uid == ::geteuid()) {
      // What the run had set aside while publishing goes back first.
      const size_t slash = path.rfind('/');
      const int parent = slash == std::string::npos
                             ? -1
                             : ::open(path.substr(0, slash).c_str(),
                                      O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (parent >= 0) {
        RestoreSetAside(folder, parent);
        ::close(parent);
      }
      EmptyFolder(folder);
      ::rmdir(path.c_str());
    }
    ::close(folder);
  }
  state_->scratch_files.clear();
}

void RunStop::AddChildGroup(int process_group) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->child_groups.insert(process_group);
}

void RunStop::RemoveChildGroup(int process_group) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->child_groups.erase(process_group);
}

void RunStop::SetHardEnd(std::function<void(const std::string&)> log_why) {
  std::lock_guard<std::mutex> lock(state_->hard_end_mutex);
  state_->log_why = std::move(log_why);
}

void RunStop::ClearHardEnd() { SetHardEnd(nullptr); }

void RunStop::HardEnd(const std::string& why) {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    for (int group : state_->child_groups) ::kill(-group, SIGKILL);
  }
  {
    // Held while the handler logs, so that the run it speaks of cannot end
    // and go meanwhile (ClearHardEnd waits for it).
    std::lock_guard<std::mutex> lock(state_->hard_end_mutex);
    if (state_->log_why) {
      try {
        state_->log_why(why);
      } catch (...) {
      }
    }
  }
  RemoveScratchFiles();
}

void RunStop::Watch() {
  const int64_t since = call_since.load();
  if (since == 0) return;
  const int64_t now = Ticks(Clock::now());
  const int64_t deadline = Ticks(Clock::duration(kCancelDeadline));
  if (!Requested()) {
    // The driver had the whole deadline more to keep the statement's own
    // limit: the run is stopped, with the limit as the reason. The signal
    // thread's repeated cancel reaches the driver.
    const int64_t limit_at = call_limit_at.load();
    if (limit_at != 0 && now >= limit_at + deadline) {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->reason = TimeLimitText(call_limit_seconds.load(), "QueryTimeout") +
                       ", which the database did not keep";
      Mark(kReasonGiven);
    }
    return;
  }
  {
    std::lock_guard<std::mutex> lock(state_->hard_end_mutex);
    if (!state_->log_why) return;
  }
  // The driver has the deadline from the stop, or from the call's own start
  // when it began later (a fetch started just after the stop).
  const int64_t asked = state_->requested_at.load();
  if (asked == 0 || now < std::max(asked, since) + deadline) return;
  HardEnd("The database did not answer the cancel within " +
          std::to_string(kCancelDeadline.count()) + " seconds; the run ended without waiting "
          "for it.");
  ::_exit(1);
}

DriverCall::DriverCall(Clock::time_point statement_started, int limit_seconds) {
  call_limit_seconds = limit_seconds;
  call_limit_at = limit_seconds > 0 ? Ticks(statement_started + std::chrono::seconds(limit_seconds))
                                    : 0;
  call_since = Ticks(Clock::now());
}

DriverCall::~DriverCall() {
  call_since = 0;
  call_limit_at = 0;
}

std::string TimeLimitText(int seconds, const char* key) {
  return "the time limit of " + std::to_string(seconds) + (seconds == 1 ? " second" : " seconds") +
         " ([ODBC] " + key + ")";
}

std::string StopSignalName(int signal_number) {
  switch (signal_number) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    default: return "signal " + std::to_string(signal_number);
  }
}

namespace {

// Whether SIGPIPE was ignored when the program started, for its children.
bool pipe_ignored_at_start = false;

// The stop signals the program takes: those it was not started ignoring.
// A run started with nohup, or in the background of a script (SIGINT
// ignored), goes on when they come, as before.
sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    struct sigaction current {};
    if (::sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
      continue;
    sigaddset(&set, signal_number);
  }
  return set;
}

}  // namespace

void HandleStopSignals(RunStop& stop, std::function<void(int)> on_first) {
  pipe_ignored_at_start = ::signal(SIGPIPE, SIG_IGN) == SIG_IGN;
  sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // The thread works on its own handle of the state, which lives as long as
  // it does.
  RunStop handle;
  handle.state_ = stop.state_;
  std::thread([stop = std::move(handle), set, on_first = std::move(on_first)]() mutable {
    const timespec pause{0, 200'000'000};
    for (;;) {
      const int signal_number = sigtimedwait(&set, nullptr, &pause);
      if (signal_number < 0) {
        stop.RepeatCancel();
        continue;
      }
      if (!stop.Requested()) {
        stop.Request(signal_number);
        if (on_first) on_first(signal_number);
        continue;
      }
      // The same stop asked again, as a time limit asks the program and
      // then its process group: the clean stop goes on.
      const int64_t asked_ticks = stop.state_->requested_at.load();
      if (asked_ticks == 0) continue;  // the first is being recorded this moment
      const Clock::time_point asked{Clock::duration(asked_ticks)};
      const auto waited = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - asked);
      if (waited < kHurryAfter) continue;
      // A later signal: the operator does not wait for a clean end.
      stop.HardEnd("A second " + StopSignalName(signal_number) + " came " +
                   std::to_string(waited.count()) + " seconds after the stop was asked for; the "
                   "run ended without waiting for its clean end.");
      ::signal(signal_number, SIG_DFL);
      sigset_t one;
      sigemptyset(&one);
      sigaddset(&one, signal_number);
      pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
      ::raise(signal_number);
      ::_exit(128 + signal_number);
    }
  }).detach();
  // The deadlines are watched by a thread of their own, which never waits
  // for a canceller.
  RunStop watched;
  watched.state_ = stop.state_;
  std::thread([stop = std::move(watched)]() mutable {
    const timespec pause{0, 200'000'000};
    for (;;) {
      ::nanosleep(&pause, nullptr);
      stop.Watch();
    }
  }).detach();
}

void HoldStopSignals() {
  sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void ReleaseStopSignals() {
  sigset_t set = StopSignals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

ChildEnvironment::ChildEnvironment(std::string_view name, const std::string& value) {
  const std::string prefix = std::string(name) + "=";
  for (char** variable = environ; *variable != nullptr; ++variable)
    if (!std::string_view(*variable).starts_with(prefix)) variables_.emplace_back(*variable);
  variables_.push_back(prefix + value);
  for (std::string& variable : variables_) pointers_.push_back(variable.data());
  pointers_.push_back(nullptr);
}

void PrepareChild(pid_t parent, int death_signal, int input, int output) {
  ::prctl(PR_SET_PDEATHSIG, death_signal);
  if (::getppid() != parent) ::_exit(127);
  ResetSignalsInChild();
  if (input >= 0) ::dup2(input, 0);
  if (output >= 0) {
    ::dup2(output, 1);
    ::dup2(output, 2);
  }
}

void ResetSignalsInChild() {
  // What the program was started ignoring stays ignored (exec keeps it);
  // SIGPIPE goes back to what it was, and nothing stays blocked.
  if (!pipe_ignored_at_start) ::signal(SIGPIPE, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

}  // namespace vantrelle
