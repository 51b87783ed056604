// The console's runs: each one a batch run of the report program in a child
// process, with its outputs in a folder of its own under State=/runs/ID.
// At most MaxRuns go at once; the rest wait in the order they came. A stop
// sends the run its stop signal and kills it when it has not ended after the
// grace period. Children are told to stop when the server dies, whatever
// kills it.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <optional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/catalogue.h"
#include "server/console_store.h"
#include "server/server_config.h"

namespace vantrelle::server {

/// The schedule that started a run, which attempt it is and the fire time it
/// runs for.
struct RunOrigin {
  int64_t schedule = 0;
  int attempt = 1;
  int64_t fire_time = 0;
};

class RunQueue {
 public:
  RunQueue(const ServerConfig& config, ConsoleStore& store, std::string program);
  ~RunQueue();
  RunQueue(const RunQueue&) = delete;
  RunQueue& operator=(const RunQueue&) = delete;

  /// Records runs that a killed server left unfinished as interrupted, and
  /// starts the thread that starts and watches the children.
  void Start();
  /// Queues a run of \a report with \a values (one per parameter, in slot
  /// order); returns its id.
  int64_t Enqueue(const Report& report, const std::vector<std::string>& values,
                  const std::string& user, std::optional<RunOrigin> origin = std::nullopt);
  /// \a ended is called with a run's id once it has ended and its state is
  /// recorded (also for the runs Start finds interrupted), and whether the
  /// server's own stop or end cut it short. Set before Start.
  using Ended = std::function<void(int64_t id, bool by_server)>;
  void OnEnded(Ended ended) { ended_ = std::move(ended); }
  /// Stops run \a id: a queued run never starts, a running one gets SIGTERM.
  /// False when it is not queued or running.
  bool Stop(int64_t id);
  /// Stops every run and waits for them (at most the grace period, then
  /// kills); queued runs are recorded as stopped.
  void Shutdown();

  /// The folder of run \a id's files.
  std::string RunFolder(int64_t id) const;
  /// The file of kind "report", "pdf" or "log" in run \a id's folder; empty
  /// when there is none.
  std::string RunFile(int64_t id, const std::string& kind) const;
  int Queued();
  int Running();

 private:
  struct Pending {
    int64_t id;
    std::string ini;
    std::string report;
    std::vector<std::string> values;
  };
  struct Child {
    int64_t id;
    std::string report;
    bool stop_requested = false;
    bool by_server = false;  // stopped because the server stops
    std::chrono::steady_clock::time_point kill_at{};
  };

  void Supervise();
  void StartChild(const Pending& run);
  void Finish(pid_t pid, int status);
  void Prune(const std::string& report);

  const ServerConfig& config_;
  ConsoleStore& store_;
  std::string program_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Pending> queue_;
  std::map<pid_t, Child> children_;
  bool shutting_down_ = false;
  std::thread supervisor_;
  Ended ended_;
};

}  // namespace vantrelle::server
