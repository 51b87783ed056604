#include "data/database_connection.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "data/connection.h"
#include "data/session.h"
#include "base/error.h"
#include "base/run_log.h"

namespace vantrelle {

namespace {

std::string ConnectTimeLimit(int seconds, const std::string& why) {
  return "The connection was not made within " + TimeLimitText(seconds, "ConnectTimeout") +
         ": " + why;
}

// "DSN=name", followed by the full-width comma (U+FF0C) and " USER=name" when
// the configuration names a user.
std::string SourceText(const PubDef& pub) {
  std::string text = "DSN=" + MaskPasswords(pub.dsn);
  if (!pub.db_user.empty()) text += "\xEF\xBC\x8C USER=" + pub.db_user;
  return text;
}

// A connection being opened on a thread of its own, so that the run can stop
// waiting for a data source that does not answer.
struct PendingOpen {
  std::mutex mutex;
  std::condition_variable done_signal;
  bool done = false;
  std::unique_ptr<Connection> connection;
  std::exception_ptr failure;
};

std::unique_ptr<Connection> OpenConnection(PubDef& pub) {
  auto pending = std::make_shared<PendingOpen>();
  pending->connection = std::make_unique<Connection>();
  pending->connection->SetConnectionTimeout(pub.connect_timeout);
  pending->connection->SetCommandTimeout(pub.query_timeout);
  std::thread opener([pending, dsn = pub.dsn, user = pub.db_user, password = pub.db_pwd] {
    std::exception_ptr failure;
    try {
      pending->connection->Open(dsn, user, password);
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(pending->mutex);
    pending->failure = failure;
    pending->done = true;
    pending->done_signal.notify_all();
  });
  // A data source that answered is waited for to the end of its thread,
  // which releases what the driver keeps for each thread; one that did not
  // answer is left behind with its thread.
  struct Opener {
    std::thread& thread;
    bool answered = false;
    ~Opener() { answered ? thread.join() : thread.detach(); }
  } ending{opener};

  using Clock = std::chrono::steady_clock;
  const Clock::time_point started = Clock::now();
  // The driver gets the limit itself; this wait gives it a moment more to
  // say so before the run stops waiting.
  const Clock::time_point deadline = started + std::chrono::seconds(pub.connect_timeout) +
                                     std::chrono::seconds(2);
  {
    std::unique_lock<std::mutex> lock(pending->mutex);
    while (!pending->done) {
      pending->done_signal.wait_for(lock, std::chrono::milliseconds(50));
      if (pending->done) break;
      pub.stop.Check();
      if (pub.connect_timeout > 0 && Clock::now() >= deadline)
        throw Error(ConnectTimeLimit(pub.connect_timeout, "the data source did not answer."));
    }
    ending.answered = true;
  }
  if (pending->failure) {
    try {
      std::rethrow_exception(pending->failure);
    } catch (const Error& error) {
      if (pub.connect_timeout > 0 &&
          Clock::now() - started >= std::chrono::seconds(pub.connect_timeout))
        throw Error(ConnectTimeLimit(pub.connect_timeout, error.Description()));
      throw;
    }
  }
  return std::move(pending->connection);
}

}  // namespace

bool ConnectDatabase(PubDef& pub, DbSession& session) {
  try {
    session.canceller.reset();
    session.connection = std::make_unique<Connection>();
    session.recordset = std::make_unique<Recordset>();
    session.connection = OpenConnection(pub);
    Connection* connection = session.connection.get();
    session.canceller =
        std::make_unique<ScopedCanceller>(pub.stop, [connection] { connection->Cancel(); });
    session.recordset->SetActiveConnection(session.connection.get());
    WriteLog(pub, "Connect to database successfully. " + SourceText(pub));
    return true;
  } catch (const std::exception& error) {
    LogError(pub, "Failed to connect to database. " + SourceText(pub), error.what());
    return false;
  }
}

bool DisconnectDatabase(PubDef& pub, DbSession& session) {
  session.canceller.reset();
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
