// A connection to one database.
//
// The data source name chooses the back end: "sqlite:PATH" opens the SQLite
// file PATH in-process (it must exist; "sqlite::memory:" is a new in-memory
// database); a value holding "=" is an ODBC connection string; anything else
// is an ODBC data source name. Every failure throws Error whose description
// is the driver's diagnostic ("SQLSTATE: message" for ODBC); the password
// never appears in it.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vantrelle {

class Session;

class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  /// Seconds to wait for the data source to accept the login; 0 = no limit.
  /// Read by the next Open. Default 15.
  void SetConnectionTimeout(int seconds);
  /// Seconds each statement may run; 0 = no limit. Read by the next Open.
  /// Default 30.
  void SetCommandTimeout(int seconds);
  int ConnectionTimeout() const { return connection_timeout_; }
  int CommandTimeout() const { return command_timeout_; }

  /// Opens \a data_source with \a user and \a password, passed to the driver
  /// as values of their own. Throws Error when it cannot, or when the
  /// connection is open already.
  void Open(const std::string& data_source, const std::string& user, const std::string& password);
  /// Opens \a data_source like Open, for looking at statements only: a
  /// SQLite file read only; an ODBC source read only as far as the driver
  /// honours it, every statement's work rolled back.
  void OpenForCheck(const std::string& data_source, const std::string& user,
                    const std::string& password);
  /// Prepares \a sql without running it (see Session::Prepare) and returns
  /// the column count of its result, 0 when it returns no rows. Throws Error.
  int Prepare(const std::string& sql);
  /// Runs \a sql, every statement of it, and releases what it returns unread.
  /// Throws Error; a failed statement leaves the connection usable.
  void Execute(const std::string& sql);
  /// Closes the connection and every record set still reading from it.
  /// Nothing happens when it is closed already. Throws Error when the driver
  /// refuses; the connection counts as closed all the same.
  void Close();
  bool IsOpen() const { return session_ != nullptr; }
  /// Cuts short the statement in flight (see Session::Cancel); every later
  /// statement fails. Thread-safe: the one call another thread may make.
  void Cancel();

 private:
  friend class Recordset;
  void OpenWith(const std::string& data_source, const std::string& user,
                const std::string& password, bool read_only);
  /// The open session; throws Error when the connection is closed.
  Session& OpenSession();
  /// \a error's description with the password of the last Open blanked out.
  [[noreturn]] void Rethrow(const std::exception& error) const;

  int connection_timeout_ = 15;
  int command_timeout_ = 30;
  // Guards session_ against a Cancel from another thread while it changes.
  std::mutex session_mutex_;
  std::unique_ptr<Session> session_;
  // The passwords of the last Open (the given one and those written in a
  // connection string), only to keep them out of error descriptions.
  std::vector<std::string> secrets_;
};

/// \a data_source as it may be shown: in a connection string the value of
/// every attribute whose name holds PWD or PASSWORD (any case, blanks and
/// tabs around it) becomes "***", braced values included, also inside a
/// braced value that is itself a list of attributes.
std::string MaskPasswords(std::string_view data_source);

/// The names in \a data_source that may be database files: the path of
/// "sqlite:PATH", or the Database and DBQ values of a connection string
/// (file-based drivers take the file there; for a server they name a
/// database, which is no file here). Nothing for a named data source.
std::vector<std::string> DatabaseFilesNamedIn(std::string_view data_source);

}  // namespace vantrelle
