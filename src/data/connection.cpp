#include "data/connection.h"

#include "data/session.h"
#include "run/error.h"

namespace vantrelle {

namespace {

constexpr std::string_view kSqlitePrefix = "sqlite:";

// Drivers may echo parts of a connection string in their messages; a
// password must never reach the run log through one.
std::string Scrub(std::string text, const std::string& password) {
  if (password.size() < 3) return text;
  for (size_t at = text.find(password); at != std::string::npos; at = text.find(password, at))
    text.replace(at, password.size(), "***");
  return text;
}

}  // namespace

Connection::Connection() = default;
Connection::~Connection() = default;

void Connection::SetConnectionTimeout(int seconds) {
  connection_timeout_ = seconds < 0 ? 0 : seconds;
}

void Connection::SetCommandTimeout(int seconds) { command_timeout_ = seconds < 0 ? 0 : seconds; }

void Connection::Open(const std::string& data_source, const std::string& user,
                      const std::string& password) {
  if (session_ != nullptr) throw Error("The connection is already open.");
  if (data_source.empty()) throw Error("No data source name was given.");
  password_ = password;
  try {
    if (data_source.compare(0, kSqlitePrefix.size(), kSqlitePrefix) == 0) {
      session_ = OpenSqliteSession(data_source.substr(kSqlitePrefix.size()), command_timeout_);
    } else {
      session_ =
          OpenOdbcSession(data_source, user, password, connection_timeout_, command_timeout_);
    }
  } catch (const std::exception& error) {
    Rethrow(error);
  }
}

void Connection::Execute(const std::string& sql) {
  Session& session = OpenSession();
  try {
    session.Execute(sql);
  } catch (const std::exception& error) {
    Rethrow(error);
  }
}

void Connection::Close() {
  if (session_ == nullptr) return;
  std::unique_ptr<Session> session = std::move(session_);
  try {
    session->Close();
  } catch (const std::exception& error) {
    Rethrow(error);
  }
}

Session& Connection::OpenSession() {
  if (session_ == nullptr) throw Error("Operation is not allowed when the connection is closed.");
  return *session_;
}

void Connection::Rethrow(const std::exception& error) const {
  if (auto* ours = dynamic_cast<const Error*>(&error))
    throw Error(Scrub(ours->Description(), password_), ours->Number());
  throw Error(Scrub(error.what(), password_));
}

}  // namespace vantrelle
