// The database connection of a report run.
//
// ConnectDatabase opens the data source of the configuration (pub.dsn with
// pub.db_user and pub.db_pwd) and binds the run's one record set to it;
// DisconnectDatabase closes and releases both. Each logs its failure itself
// and returns false; the password never appears in the log.
#pragma once

#include <memory>

#include "data/connection.h"
#include "data/recordset.h"
#include "base/pubdef.h"
#include "base/run_stop.h"

namespace vantrelle {

/// The run's connection and the one record set every query of the run reuses.
struct DbSession {
  std::unique_ptr<Connection> connection;
  std::unique_ptr<Recordset> recordset;
  /// Cancels the connection's statement when the run is asked to stop; it
  /// goes first, before the connection it reaches.
  std::unique_ptr<ScopedCanceller> canceller;
};

/// Replaces \a session's objects with new ones, opens the connection with the
/// time limits of pub.connect_timeout and pub.query_timeout (0: none), binds
/// the record set and logs "Connect to database successfully. DSN=..." (with
/// "， USER=..." when there is a user). On any error logs "Failed to connect
/// to database. DSN=..." with the error's description and returns false; the
/// new objects stay in \a session. A stop of the run requested while the
/// data source has not answered ends the wait (RunStopped), as does the
/// connect time limit (an error that names it): a driver that never gives up
/// is left behind.
bool ConnectDatabase(PubDef& pub, DbSession& session);

/// Closes the connection and releases both objects. On an error logs "Failed
/// to disconnect from database." with its description, keeps the objects and
/// returns false. A successful disconnect logs nothing.
bool DisconnectDatabase(PubDef& pub, DbSession& session);

}  // namespace vantrelle
