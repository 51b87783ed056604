// Deliveries of scheduled runs' results, one recipient at a time: mail
// through the configured server, copies into folders, and notices to a
// schedule's owner when a run or a delivery finally fails. Each recipient's
// state is kept in the store; a failed try is tried again after a wait that
// doubles, without sending again to those who have it.
#pragma once

#include <string>

#include "server/catalogue.h"
#include "server/console_store.h"
#include "server/run_queue.h"
#include "server/schedule_clock.h"
#include "server/server_config.h"

namespace vantrelle::server {

/// How one copy into a folder went; a final failure is not tried again.
struct FolderResult {
  bool done = false;
  bool final = false;
  std::string message;
};

/// Copies \a source into \a folder as \a name the way a run writes its
/// report: into a hidden temporary beside the target, synced, then renamed
/// over the name, so that a reader never sees half a file and a link planted
/// at the name is replaced, never written through. A link on the way to the
/// folder that another user made is refused. Folders below \a made_below
/// that are missing are made first, under the same rules (empty: none).
FolderResult CopyIntoFolder(const std::string& source, const std::string& folder,
                            const std::string& name, const std::string& made_below = "");

/// The part of a delivery folder as written before its first date macro or
/// relative date ("/srv/share/sales" of "/srv/share/sales/&Y/&M"): it must
/// be there; the dated folders below it are made when missing. The whole
/// folder when it holds no dates.
std::string FixedPart(const std::string& folder);

class Postman {
 public:
  Postman(const ServerConfig& config, ConsoleStore& store, Catalogues& catalogues, RunQueue& runs,
          const ScheduleClock& clock);
  ~Postman();
  Postman(const Postman&) = delete;
  Postman& operator=(const Postman&) = delete;

  void Start();
  void Shutdown();
  /// Looks for due deliveries now (after a resend).
  void Wake();

  /// Records the deliveries of \a run, which \a schedule started and which
  /// succeeded, and sends them.
  void Deliver(const RunRecord& run, const ScheduleRecord& schedule);
  /// Tells \a schedule's owner by mail that \a run failed for good.
  void Notice(const RunRecord& run, const ScheduleRecord& schedule, const std::string& what);

 private:
  // Tries every due delivery into folders (\a folders) or by mail; when
  // the next one falls due.
  int64_t Round(bool folders);
  void Try(DeliveryRecord& delivery);
  std::string RunLink(int64_t run) const;

  const ServerConfig& config_;
  ConsoleStore& store_;
  Catalogues& catalogues_;
  RunQueue& runs_;
  const ScheduleClock& clock_;
  // Copies into folders and mail go on threads of their own: a mail server
  // that does not answer holds up no copy.
  TimerThread folders_;
  TimerThread mail_;
};

}  // namespace vantrelle::server
