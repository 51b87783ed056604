#include "data/database_connection.h"

#include "data/connection.h"
#include "run/error.h"
#include "run/run_log.h"

namespace vantrelle {

namespace {

// "DSN=name", followed by the full-width comma (U+FF0C) and " USER=name" when
// the configuration names a user.
std::string SourceText(const PubDef& pub) {
  std::string text = "DSN=" + MaskPasswords(pub.dsn);
  if (!pub.db_user.empty()) text += "\xEF\xBC\x8C USER=" + pub.db_user;
  return text;
}

}  // namespace

bool ConnectDatabase(PubDef& pub, DbSession& session) {
  try {
    session.connection = std::make_unique<Connection>();
    session.recordset = std::make_unique<Recordset>();
    session.connection->SetConnectionTimeout(0);
    session.connection->SetCommandTimeout(0);
    session.connection->Open(pub.dsn, pub.db_user, pub.db_pwd);
    session.recordset->SetActiveConnection(session.connection.get());
    WriteLog(pub, "Connect to database successfully. " + SourceText(pub));
    return true;
  } catch (const std::exception& error) {
    LogError(pub, "Failed to connect to database. " + SourceText(pub), error.what());
    return false;
  }
}

bool DisconnectDatabase(PubDef& pub, DbSession& session) {
  try {
    if (session.connection == nullptr) throw Error("There is no database connection to close.");
    session.connection->Close();
    session.recordset.reset();
    session.connection.reset();
    return true;
  } catch (const std::exception& error) {
    LogError(pub, "Failed to disconnect from database.", error.what());
    return false;
  }
}

}  // namespace vantrelle
