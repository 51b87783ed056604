#include "data/connection.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <new>

#include "base/text_scan.h"
#include "data/session.h"
#include "base/error.h"

namespace vantrelle {

namespace {

constexpr std::string_view kSqlitePrefix = "sqlite:";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view key) {
  while (!key.empty() && IsBlank(key.front())) key.remove_prefix(1);
  while (!key.empty() && IsBlank(key.back())) key.remove_suffix(1);
  return key;
}

// Whether \a key (blanks and tabs around it allowed) is one of \a names,
// which are upper case.
bool KeyIs(std::string_view key, std::initializer_list<std::string_view> names) {
  const std::string upper = UpperAscii(Trimmed(key));
  return std::find(names.begin(), names.end(), upper) != names.end();
}

// A password by any name a driver may take: PWD, PASSWORD, SSLPASSWORD,
// DBPWD, ...
bool IsPasswordKey(std::string_view key) {
  const std::string upper = UpperAscii(Trimmed(key));
  return upper.find("PWD") != std::string::npos || upper.find("PASSWORD") != std::string::npos;
}

// Walks the "key=value;" pairs of a connection string, where a value in
// braces may hold ";" and writes "}" as "}}". \a visit gets each key, its
// value (without braces), the text range the value takes and whether it was
// braced.
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
    while (first < text.size() && IsBlank(text[first])) ++first;
    const bool braced = first < text.size() && text[first] == '{';
    if (braced) {
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
    visit(key, value, begin, end, braced);
    pos = end + 1;
  }
}

bool IsNameCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Masks "name=value" wherever a password name stands in \a text, whatever
// separates the pairs: the options a braced value hands on to a driver
// ("{sslmode=require password=x}") follow rules of their own. A value runs
// to the next of \a value_ends unless it is quoted; more is masked rather
// than less. Adds the values to \a secrets.
std::string MaskNamedValues(std::string_view text, std::vector<std::string>* secrets,
                            std::string_view value_ends) {
  std::string masked;
  size_t copied = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!IsNameCharacter(text[i]) || (i > 0 && IsNameCharacter(text[i - 1]))) continue;
    size_t name_end = i;
    while (name_end < text.size() && IsNameCharacter(text[name_end])) ++name_end;
    size_t equals = name_end;
    while (equals < text.size() && IsBlank(text[equals])) ++equals;
    if (equals >= text.size() || text[equals] != '=' ||
        !IsPasswordKey(text.substr(i, name_end - i))) {
      i = name_end - 1;
      continue;
    }
    size_t begin = equals + 1;
    while (begin < text.size() && IsBlank(text[begin])) ++begin;
    size_t end = begin;
    if (begin < text.size() && (text[begin] == '\'' || text[begin] == '"')) {
      end = text.find(text[begin], begin + 1);
      end = end == std::string_view::npos ? text.size() : end + 1;
    } else {
      end = text.find_first_of(value_ends, begin);
      if (end == std::string_view::npos) end = text.size();
    }
    if (secrets != nullptr) secrets->emplace_back(text.substr(begin, end - begin));
    masked.append(text.substr(copied, begin - copied));
    masked += "***";
    copied = end;
    i = end == 0 ? 0 : end - 1;
  }
  masked.append(text.substr(std::min(copied, text.size())));
  return masked;
}

// \a data_source with its password values masked; the values go to
// \a secrets.
std::string MaskAndCollect(std::string_view data_source, std::vector<std::string>* secrets) {
  std::string masked;
  size_t copied = 0;
  ForEachAttribute(data_source, [&](std::string_view key, const std::string& value,
                                    size_t begin, size_t end, bool braced) {
    std::string replacement = "***";
    if (IsPasswordKey(key)) {
      if (secrets != nullptr) secrets->push_back(value);
    } else if (braced && value.find('=') != std::string::npos) {
      // Options handed on whole, blank-separated: a password there runs to
      // the next blank or to the end of the braces, ";" and "}" included.
      const std::string inner = MaskNamedValues(value, secrets, " \t");
      if (inner == value) return;
      replacement = "{";
      for (char c : inner) replacement += c == '}' ? std::string("}}") : std::string(1, c);
      replacement += '}';
    } else {
      return;
    }
    masked.append(data_source.substr(copied, begin - copied));
    masked += replacement;
    copied = end;
  });
  masked.append(data_source.substr(std::min(copied, data_source.size())));
  return MaskNamedValues(masked, secrets, ";}");
}

// Drivers may echo parts of a connection string in their messages; a
// password must never reach the run log through one.
std::string Scrub(std::string text, const std::vector<std::string>& secrets) {
  for (const std::string& secret : secrets) {
    if (secret.size() < 3 || secret == "***") continue;
    for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at))
      text.replace(at, secret.size(), "***");
  }
  return text;
}

}  // namespace

std::string MaskPasswords(std::string_view data_source) {
  // A database file's name is no connection string.
  if (data_source.starts_with(kSqlitePrefix)) return std::string(data_source);
  return MaskAndCollect(data_source, nullptr);
}

std::vector<std::string> DatabaseFilesNamedIn(std::string_view data_source) {
  if (data_source.starts_with(kSqlitePrefix))
    return {std::string(data_source.substr(kSqlitePrefix.size()))};
  std::vector<std::string> files;
  if (data_source.find('=') == std::string_view::npos) return files;  // a named source
  ForEachAttribute(data_source, [&](std::string_view key, const std::string& value, size_t,
                                    size_t, bool) {
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
  MaskAndCollect(data_source, &secrets_);
  std::unique_ptr<Session> session;
  try {
    if (data_source.compare(0, kSqlitePrefix.size(), kSqlitePrefix) == 0) {
      session =
          OpenSqliteSession(data_source.substr(kSqlitePrefix.size()), command_timeout_, read_only);
    } else {
      session = OpenOdbcSession(data_source, user, password, connection_timeout_, command_timeout_,
                                 read_only);
    }
  } catch (const std::exception& error) {
    Rethrow(error);
  }
  std::lock_guard<std::mutex> lock(session_mutex_);
  session_ = std::move(session);
}

void Connection::Cancel() {
  std::lock_guard<std::mutex> lock(session_mutex_);
  if (session_ != nullptr) session_->Cancel();
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
  std::unique_ptr<Session> session;
  {
    std::lock_guard<std::mutex> lock(session_mutex_);
    session = std::move(session_);
  }
  if (session == nullptr) return;
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
