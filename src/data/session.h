// The back-end side of data access.
//
// A Session is one open database connection of a back end (embedded SQLite
// or an ODBC driver); a Cursor is the result of one query on it, read
// forward one row at a time. Connection and Recordset build the caller's
// interface on these two. A Session releases the driver resources of every
// Cursor still alive when it closes, so a record set left open never keeps a
// closed connection's statements around.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "data/value.h"

namespace vantrelle {

class Session;

class Cursor {
 public:
  explicit Cursor(Session* session);
  virtual ~Cursor();
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;

  /// Number of columns of the result; 0 for a statement that returns no rows.
  virtual int ColumnCount() const = 0;
  /// Reads the next row into \a row, which has ColumnCount() values. False at
  /// the end of the result (or after Release). Throws Error on a driver failure.
  virtual bool Fetch(std::vector<Value>& row) = 0;

 protected:
  /// Frees the driver's statement; afterwards Fetch returns false. Subclasses
  /// call it from their destructor too.
  virtual void ReleaseStatement() = 0;
  void Detach();

 private:
  friend class Session;
  Session* session_;
};

class Session {
 public:
  Session() = default;
  virtual ~Session() = default;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  /// Runs every statement of \a sql, reading no result. Throws Error.
  virtual void Execute(const std::string& sql) = 0;
  /// Runs \a sql and returns its first result that has columns (statements
  /// before it run for their effect); a cursor of no columns when there is none.
  virtual std::unique_ptr<Cursor> Query(const std::string& sql) = 0;
  /// Prepares the statements of \a sql one by one without running any and
  /// returns the column count of the first that returns rows (0 when none
  /// does). Throws Error with the driver's diagnostic for the first that
  /// cannot be prepared.
  virtual int Prepare(const std::string& sql) = 0;
  /// Releases the cursors still alive, then disconnects. Throws Error when the
  /// driver refuses; the session is then closed all the same.
  virtual void Close() = 0;
  /// Cuts short what the session is doing (a statement running or waiting
  /// for a lock), which then fails with the back end's error; every later
  /// statement fails at once. The one call that may come from another
  /// thread while the session works; never together with Close.
  virtual void Cancel() = 0;

 protected:
  void ReleaseCursors();

 private:
  friend class Cursor;
  std::vector<Cursor*> cursors_;
};


/// Opens the SQLite database file \a path ("" or ":memory:" for a new
/// in-memory one). The file must exist. \a command_timeout_seconds 0 waits for
/// locks without limit. A \a read_only session never writes the file.
std::unique_ptr<Session> OpenSqliteSession(const std::string& path, int command_timeout_seconds,
                                           bool read_only = false);

/// Opens an ODBC data source: a connection string (with "=") through
/// SQLDriverConnect, else a DSN through SQLConnect. Time-outs of 0 mean no limit.
/// A \a read_only session asks the driver for read-only access and runs
/// without autocommit, rolling back after every statement and before it
/// disconnects, so that nothing it does is kept.
std::unique_ptr<Session> OpenOdbcSession(const std::string& data_source, const std::string& user,
                                         const std::string& password, int login_timeout_seconds,
                                         int command_timeout_seconds, bool read_only = false);

}  // namespace vantrelle
