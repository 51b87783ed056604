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

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

  /// Asks the run to stop for \a reason, what Reason() then says ("the
  /// time limit of ..."), as Request does.
  void RequestFor(const std::string& reason);

  /// The process groups of programs the run started (the PDF converter):
  /// a hard end kills them before the process ends.
  void AddChildGroup(int process_group) const;
  void RemoveChildGroup(int process_group) const;

  /// What a hard end says in the run's log before the process ends without
  /// waiting for the run: \a log_why gets the reason ("The database did not
  /// answer the cancel within 5 seconds."). Set by the run driver in batch
  /// mode while a run lasts; without it a stuck driver is waited for.
  void SetHardEnd(std::function<void(const std::string& why)> log_why);
  void ClearHardEnd();

  /// Files that a hard stop (a second signal) removes before the process
  /// ends: the lock files of the run's outputs and the private folders
  /// their working copies are built in (emptied, then removed).
  void AddScratchFile(const std::string& path);
  void RemoveScratchFile(const std::string& path);
  /// Removes every registered scratch file (never fails).
  void RemoveScratchFiles();

  /// What a watching thread does a few times a second: stops the run when
  /// a driver call overran its statement's time limit by kCancelDeadline
  /// (the cancel is then repeated by the signal thread), and ends the
  /// process (HardEnd, status 1) when a driver call has not answered a
  /// stop's cancel within kCancelDeadline and a hard end is set. Never waits
  /// for a canceller.
  void Watch();
  /// Logs \a why through the hard-end handler (if any), kills the child
  /// groups and removes the scratch files; the caller then ends the process.
  void HardEnd(const std::string& why);

 private:
  friend void HandleStopSignals(RunStop& stop, std::function<void(int)> on_first);
  // Records a request without calling the cancellers; false when one was
  // recorded already.
  bool Mark(int signal_number);
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

/// How long a database driver has to answer a cancel, and to keep a
/// statement's own time limit, before the run ends without it.
inline constexpr std::chrono::seconds kCancelDeadline{5};
/// A repeated stop signal sooner than this after the first is the same stop
/// asked again (a scheduler signals the program and then its whole group);
/// a later one hurries the stop.
inline constexpr std::chrono::seconds kHurryAfter{10};

/// A call into a database driver, on the thread that runs the statements:
/// only the driver can end it. While one lasts, the signal thread watches
/// how long the driver takes to answer a cancel, and whether the statement
/// it serves overran its time limit.
class DriverCall {
 public:
  /// \a statement_started: when the statement this call serves began;
  /// \a limit_seconds: its time limit ([ODBC] QueryTimeout; 0: none).
  DriverCall(std::chrono::steady_clock::time_point statement_started, int limit_seconds);
  ~DriverCall();
  DriverCall(const DriverCall&) = delete;
  DriverCall& operator=(const DriverCall&) = delete;
};

/// "the time limit of N seconds ([ODBC] \a key)", for the messages of a
/// statement or a connection that a time limit cut short.
std::string TimeLimitText(int seconds, const char* key);

/// The name of a stop signal ("SIGTERM"); "signal N" for another.
std::string StopSignalName(int signal_number);

/// Takes SIGTERM, SIGINT and SIGHUP (those the program was not started
/// ignoring, as under nohup) away from the program's threads and
/// hands them to a thread of their own, and ignores SIGPIPE (a closed pipe
/// is a failed write). Such a signal requests a stop of \a stop and then
/// calls \a on_first (if any) with its number, from that thread. A signal
/// that comes while a stop is requested is the same stop asked again when it
/// comes within kHurryAfter of the first, and is let pass; a later one hurries
/// the stop: the process ends at once, by that signal, after a hard end
/// (RunStop::HardEnd) that says why. A few times a second the thread runs
/// RunStop::RepeatCancel, and a second thread RunStop::Watch.
/// Call it before any other thread is started: the threads started later
/// inherit the blocked signals.
void HandleStopSignals(RunStop& stop, std::function<void(int)> on_first);

/// Blocks the stop signals in the calling thread, so that one that comes
/// while the program starts waits for HandleStopSignals instead of ending
/// the process unheard. main's first act; a command that takes no stop
/// (--check, --describe) lets them through again with ReleaseStopSignals.
void HoldStopSignals();
void ReleaseStopSignals();

/// The program's environment with \a name set to \a value, made before a
/// fork so that the child only hands it to execve.
class ChildEnvironment {
 public:
  ChildEnvironment(std::string_view name, const std::string& value);
  char** Pointers() { return pointers_.data(); }

 private:
  std::vector<std::string> variables_;
  std::vector<char*> pointers_;
};

/// In a child process between fork and exec, for a program the run (or the
/// console) starts: \a death_signal reaches it when its parent \a parent
/// dies, whatever ends that (it ends at once when the parent is gone
/// already); signals are as ResetSignalsInChild leaves them; standard input
/// reads \a input and standard output and error write \a output (each when
/// 0 or more). Async-signal-safe.
void PrepareChild(pid_t parent, int death_signal, int input, int output);

/// In a child process between fork and exec: no signal blocked and SIGPIPE
/// as the program found it, so that the program the child runs is stopped
/// and writes to pipes as it would have been started by this one's caller.
/// Async-signal-safe.
void ResetSignalsInChild();

}  // namespace vantrelle
