#include "data/connection.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <new>

#include "data/session.h"
#include "run/error.h"

namespace vantrelle {

namespace {

constexpr std::string_view kSqlitePrefix = "sqlite:";

// Whether \a key (blanks around it allowed) is one of \a names, which are
// upper case.
bool KeyIs(std::string_view key, std::initializer_list<std::string_view> names) {
  while (!key.empty() && key.front() == ' ') key.remove_prefix(1);
  while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
  for (std::string_view name : names) {
    if (key.size() == name.size() &&
        std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) {
          return std::toupper(static_cast<unsigned char>(a)) == b;
        }))
      return true;
  }
  return false;
}

bool IsPasswordKey(std::string_view key) { return KeyIs(key, {"PWD", "PASSWORD"}); }

// Walks the "key=value;" pairs of a connection string, where a value in
// braces may hold ";" and writes "}" as "}}". \a visit gets each key, its
// value (without braces) and the text range the value takes.
template <typename Visit>
void ForEachAttribute(std::string_view text, Visit visit) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t equals = text.find('=', pos);
    size_t semicolon = text.find(';', pos);
    if (equals == std::string_view::npos) return;
    if (semicolon < equals) {
      pos = semicolon + 1;
      continue;
    }
    std::string_view key = text.substr(pos, equals - pos);
    size_t begin = equals + 1;
    size_t end;
    std::string value;
    size_t first = begin;
    while (first < text.size() && text[first] == ' ') ++first;
    if (first < text.size() && text[first] == '{') {
      end = first + 1;
      while (end < text.size()) {
        if (text[end] == '}') {
          if (end + 1 < text.size() && text[end + 1] == '}') {
            value += '}';
            end += 2;
            continue;
          }
          ++end;
          break;
        }
        value += text[end++];
      }
      while (end < text.size() && text[end] != ';') ++end;
    } else {
      end = text.find(';', begin);
      if (end == std::string_view::npos) end = text.size();
      value = std::string(text.substr(begin, end - begin));
    }
    visit(key, value, begin, end);
    pos = end + 1;
  }
}

template <typename Visit>
void ForEachPassword(std::string_view text, Visit visit) {
  ForEachAttribute(text, [&](std::string_view key, const std::string& value, size_t begin,
                             size_t end) {
    if (IsPasswordKey(key)) visit(value, begin, end);
  });
}

// Drivers may echo parts of a connection string in their messages; a
// password must never reach the run log through one.
std::string Scrub(std::string text, const std::vector<std::string>& secrets) {
  for (const std::string& secret : secrets) {
    if (secret.size() < 3) continue;
    for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at))
      text.replace(at, secret.size(), "***");
  }
  return text;
}

}  // namespace

std::string MaskPasswords(std::string_view data_source) {
  std::string masked;
  size_t copied = 0;
  ForEachPassword(data_source, [&](const std::string&, size_t begin, size_t end) {
    masked.append(data_source.substr(copied, begin - copied));
    masked += "***";
    copied = end;
  });
  masked.append(data_source.substr(std::min(copied, data_source.size())));
  return masked;
}

std::vector<std::string> DatabaseFilesNamedIn(std::string_view data_source) {
  if (data_source.starts_with(kSqlitePrefix))
    return {std::string(data_source.substr(kSqlitePrefix.size()))};
  std::vector<std::string> files;
  if (data_source.find('=') == std::string_view::npos) return files;  // a named source
  ForEachAttribute(data_source, [&](std::string_view key, const std::string& value, size_t,
                                    size_t) {
    if (!value.empty() && KeyIs(key, {"DATABASE", "DBQ"})) files.push_back(value);
  });
  return files;
}

Connection::Connection() = default;
Connection::~Connection() = default;

void Connection::SetConnectionTimeout(int seconds) {
  connection_timeout_ = seconds < 0 ? 0 : seconds;
}

void Connection::SetCommandTimeout(int seconds) { command_timeout_ = seconds < 0 ? 0 : seconds; }

void Connection::Open(const std::string& data_source, const std::string& user,
                      const std::string& password) {
  OpenWith(data_source, user, password, false);
}

void Connection::OpenForCheck(const std::string& data_source, const std::string& user,
                              const std::string& password) {
  OpenWith(data_source, user, password, true);
}

void Connection::OpenWith(const std::string& data_source, const std::string& user,
                          const std::string& password, bool read_only) {
  if (session_ != nullptr) throw Error("The connection is already open.");
  if (data_source.empty()) throw Error("No data source name was given.");
  secrets_ = {password};
  ForEachPassword(data_source,
                  [this](const std::string& value, size_t, size_t) { secrets_.push_back(value); });
  try {
    if (data_source.compare(0, kSqlitePrefix.size(), kSqlitePrefix) == 0) {
      session_ =
          OpenSqliteSession(data_source.substr(kSqlitePrefix.size()), command_timeout_, read_only);
    } else {
      session_ = OpenOdbcSession(data_source, user, password, connection_timeout_, command_timeout_,
                                 read_only);
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

int Connection::Prepare(const std::string& sql) {
  Session& session = OpenSession();
  try {
    return session.Prepare(sql);
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
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr)
    throw Error("Out of memory", kErrOutOfMemory);
  if (auto* ours = dynamic_cast<const Error*>(&error))
    throw Error(Scrub(ours->Description(), secrets_), ours->Number());
  throw Error(Scrub(error.what(), secrets_));
}

}  // namespace vantrelle
