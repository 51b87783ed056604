// Stopping a run from outside it.
//
// An operator stops a run with SIGTERM, SIGINT or SIGHUP (a scheduler's stop,
// Ctrl-C, a closed terminal), the user of the window with its Stop command.
// A stop is requested from any thread. Whatever the run is waiting for is cut
// short by the cancellers the run registered (the database's cancel of the
// statement in flight), and the run notices the request at its next check
// (before each statement, between the rows of a fill, while it waits for the
// database or the PDF converter): it ends through RunStopped, logs why, removes
// its working files and keeps the earlier report.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/error.h"

namespace vantrelle {

/// Thrown where a run notices that it was asked to stop.
class RunStopped : public RunInterrupted {
 public:
  using RunInterrupted::RunInterrupted;
};

class RunStop {
 public:
  RunStop();
  ~RunStop();
  RunStop(RunStop&&) noexcept;
  RunStop& operator=(RunStop&&) noexcept;

  /// Asks the run to stop. \a signal_number is the signal that asked, 0 the
  /// window's Stop command. The first request since Reset calls every
  /// canceller on the calling thread; later requests change nothing.
  /// Thread-safe.
  void Request(int signal_number);
  /// True once a stop was requested since Reset. Thread-safe.
  bool Requested() const;
  /// What asked for the stop, for the log: "SIGTERM", "SIGINT", "SIGHUP",
  /// "the Stop command"; empty when nothing did.
  std::string Reason() const;
  /// Throws RunStopped (its text: what asked) when a stop was requested.
  void Check() const;
  /// Forgets an earlier request, before the window starts another run.
  void Reset();
  /// Calls every canceller again while a stop is requested: a cancel that
  /// came just before a statement began may have found nothing to cut short.
  void RepeatCancel();

  /// Registers \a cancel to be called when a stop is requested, at once when
  /// one was requested already. Cancellers must be quick and must not call
  /// back into this object. Returns the key for RemoveCanceller.
  int AddCanceller(std::function<void()> cancel);
  /// Unregisters a canceller; when it is running, waits until it returns.
  void RemoveCanceller(int key);

  /// Files that a hard stop (a second signal) removes before the process
  /// ends: the lock files of the run's outputs and the private folders
  /// their working copies are built in (emptied, then removed).
  void AddScratchFile(const std::string& path);
  void RemoveScratchFile(const std::string& path);
  /// Removes every registered scratch file (never fails).
  void RemoveScratchFiles();

 private:
  friend void HandleStopSignals(RunStop& stop, std::function<void(int)> on_first);
  struct State;
  // Shared with the signal thread, which may outlive the program's own
  // objects while the process ends.
  std::shared_ptr<State> state_;
};

/// Registers a canceller with a RunStop for the life of this object.
class ScopedCanceller {
 public:
  ScopedCanceller(RunStop& stop, std::function<void()> cancel)
      : stop_(stop), key_(stop.AddCanceller(std::move(cancel))) {}
  ~ScopedCanceller() { stop_.RemoveCanceller(key_); }
  ScopedCanceller(const ScopedCanceller&) = delete;
  ScopedCanceller& operator=(const ScopedCanceller&) = delete;

 private:
  RunStop& stop_;
  int key_;
};

/// The name of a stop signal ("SIGTERM"); "signal N" for another.
std::string StopSignalName(int signal_number);

/// Takes SIGTERM, SIGINT and SIGHUP (those the program was not started
/// ignoring, as under nohup) away from the program's threads and
/// hands them to a thread of their own, and ignores SIGPIPE (a closed pipe
/// is a failed write). Such a signal requests a stop of \a stop and then
/// calls \a on_first (if any) with its number, from that thread; one that
/// comes while a stop is requested already ends the process at once, by that
/// signal, after removing \a stop's scratch files. While a stop is requested,
/// from a signal or not, the thread repeats the cancel a few times a second.
/// Call it before any other thread is started: the threads started later
/// inherit the blocked signals.
void HandleStopSignals(RunStop& stop, std::function<void(int)> on_first);

/// In a child process between fork and exec: no signal blocked and SIGPIPE
/// as the program found it, so that the program the child runs is stopped
/// and writes to pipes as it would have been started by this one's caller.
/// Async-signal-safe.
void ResetSignalsInChild();

}  // namespace vantrelle
