#include "base/run_stop.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "base/output_file.h"

namespace vantrelle {

struct RunStop::State {
  // -1 while no stop is requested, else the signal number (0: the window).
  std::atomic<int> requested{-1};
  std::mutex mutex;
  std::map<int, std::function<void()>> cancellers;
  int next_key = 1;
  std::set<std::string> scratch_files;
};

RunStop::RunStop() : state_(std::make_shared<State>()) {}
RunStop::~RunStop() = default;
RunStop::RunStop(RunStop&&) noexcept = default;
RunStop& RunStop::operator=(RunStop&&) noexcept = default;

void RunStop::Request(int signal_number) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  int none = -1;
  if (!state_->requested.compare_exchange_strong(none, signal_number)) return;
  // Under the lock, so that no canceller runs after its owner removed it.
  for (auto& [key, cancel] : state_->cancellers) cancel();
}

bool RunStop::Requested() const { return state_->requested.load() >= 0; }

std::string RunStop::Reason() const {
  int signal_number = state_->requested.load();
  if (signal_number < 0) return "";
  if (signal_number == 0) return "the Stop command";
  return StopSignalName(signal_number);
}

void RunStop::Check() const {
  if (Requested()) throw RunStopped(Reason());
}

void RunStop::Reset() { state_->requested = -1; }

void RunStop::RepeatCancel() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (!Requested()) return;
  for (auto& [key, cancel] : state_->cancellers) cancel();
}

int RunStop::AddCanceller(std::function<void()> cancel) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (Requested()) cancel();
  int key = state_->next_key++;
  state_->cancellers.emplace(key, std::move(cancel));
  return key;
}

void RunStop::RemoveCanceller(int key) {
  std::lock_guard<std::mutex> lock(state_->mutex);
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
      EmptyFolder(folder);
      ::rmdir(path.c_str());
    }
    ::close(folder);
  }
  state_->scratch_files.clear();
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
      // A second signal: the operator does not wait for a clean end.
      stop.RemoveScratchFiles();
      ::signal(signal_number, SIG_DFL);
      sigset_t one;
      sigemptyset(&one);
      sigaddset(&one, signal_number);
      pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
      ::raise(signal_number);
      ::_exit(128 + signal_number);
    }
  }).detach();
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
