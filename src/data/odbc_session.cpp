// The ODBC back end, through the unixODBC driver manager.
//
// Names and messages go through the wide (UTF-16) entry points, and text
// values are read as UTF-16 and turned into UTF-8 here, so non-ASCII
// characters survive whatever the driver's own character set. Statements
// go as UTF-16 too, except to a driver without wide entry points (see
// AnsiOnlyDriver).
#include <dlfcn.h>
#include <langinfo.h>
#include <link.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <set>

#include "data/session.h"
#include "base/error.h"
#include "base/run_stop.h"

namespace vantrelle {

namespace {

using WideString = std::basic_string<SQLWCHAR>;

void AppendUtf16(WideString& out, std::string_view utf8) {
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned char c = utf8[i];
    uint32_t cp;
    size_t length;
    if (c < 0x80) {
      cp = c;
      length = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      length = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      length = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      length = 4;
    } else {
      cp = 0xFFFD;
      length = 1;
    }
    if (length > 1) {
      bool valid = i + length <= utf8.size();
      for (size_t k = 1; valid && k < length; ++k) {
        unsigned char next = utf8[i + k];
        if ((next & 0xC0) != 0x80) valid = false;
        cp = (cp << 6) | (next & 0x3F);
      }
      if (!valid || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || (length == 2 && cp < 0x80) ||
          (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000)) {
        cp = 0xFFFD;
        length = 1;
      }
    }
    i += length;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<SQLWCHAR>(0xD800 + (cp >> 10));
      out += static_cast<SQLWCHAR>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<SQLWCHAR>(cp);
    }
  }
}

WideString Widen(std::string_view utf8) {
  WideString out;
  out.reserve(utf8.size());
  AppendUtf16(out, utf8);
  return out;
}

void AppendUtf8(std::string& out, const SQLWCHAR* text, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    uint32_t cp = text[i];
    if (cp < 0x80) {
      out += static_cast<char>(cp);
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // a lone surrogate
    }
    if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool Utf8Locale() {
  const char* codeset = nl_langinfo(CODESET);
  return codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;
}

// True when the driver behind \a dbc is loaded and has no wide entry points.
// The driver manager hands such a driver UTF-16 statements converted one
// unit at a time, which breaks characters outside the Basic Multilingual
// Plane; it must get its statements as they are. The driver is found among
// the loaded libraries by the name it reports (SQL_DRIVER_NAME).
bool AnsiOnlyDriver(SQLHDBC dbc) {
  char name[256] = {};
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLGetInfo(dbc, SQL_DRIVER_NAME, name, sizeof name, &length);
  if ((rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) || name[0] == 0) return false;
  std::string stem(name);
  stem = stem.substr(0, stem.find('.'));
  struct Search {
    std::string stem;
    std::string path;
  } search{stem, ""};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto* s = static_cast<Search*>(data);
        std::string path = info->dlpi_name != nullptr ? info->dlpi_name : "";
        std::string base = path.substr(path.rfind('/') + 1);
        if (!s->stem.empty() && base.find(s->stem) != std::string::npos) {
          s->path = path;
          return 1;
        }
        return 0;
      },
      &search);
  if (search.path.empty()) return false;
  void* library = dlopen(search.path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (library == nullptr) return false;
  bool ansi_only =
      dlsym(library, "SQLExecDirectW") == nullptr && dlsym(library, "SQLExecDirect") != nullptr;
  dlclose(library);
  return ansi_only;
}

bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The driver's diagnostic records as "SQLSTATE: message", joined by "; ".
std::string Diagnostics(SQLSMALLINT handle_type, SQLHANDLE handle, SQLRETURN rc) {
  std::string text;
  for (SQLSMALLINT record = 1; handle != SQL_NULL_HANDLE && record <= 10; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR message[2048] = {};
    SQLSMALLINT length = 0;
    SQLRETURN diag = SQLGetDiagRecW(handle_type, handle, record, state, &native, message,
                                    static_cast<SQLSMALLINT>(std::size(message)), &length);
    if (!Succeeded(diag)) break;
    if (!text.empty()) text += "; ";
    const SQLWCHAR* state_end = std::find(std::begin(state), std::begin(state) + 5, SQLWCHAR{0});
    AppendUtf8(text, state, state_end - state);
    text += ": ";
    // The length is what the driver says it has; only what it wrote, up to
    // its end mark, is its message.
    const SQLWCHAR* last = message + std::clamp<size_t>(length, 0, std::size(message) - 1);
    const SQLWCHAR* first = message;
    AppendUtf8(text, message, std::find(first, last, SQLWCHAR{0}) - first);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
      text.pop_back();
  }
  if (text.empty()) {
    text = rc == SQL_INVALID_HANDLE ? "The ODBC driver reported an invalid handle."
                                    : "The ODBC driver reported an error without a description.";
  }
  return text;
}

// One environment handle serves every connection of the process.
SQLHENV Environment() {
  static SQLHENV env = SQL_NULL_HENV;
  static std::once_flag once;
  std::call_once(once, [] {
    SQLHENV handle = SQL_NULL_HENV;
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle))) return;
    SQLSetEnvAttr(handle, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    env = handle;
  });
  if (env == SQL_NULL_HENV) throw Error("The ODBC driver manager could not be initialised.");
  return env;
}

// A connection string value, in braces when it holds a character that would
// end it or start another keyword, so ";" and "=" inside stay part of it.
// Plain values stay bare: some drivers keep the braces of a value in braces.
std::string BraceQuote(const std::string& value) {
  if (value.find_first_of(";{}=") == std::string::npos && value.front() != ' ' &&
      value.back() != ' ')
    return value;
  std::string quoted = "{";
  for (char c : value) {
    quoted += c;
    if (c == '}') quoted += '}';
  }
  quoted += '}';
  return quoted;
}

// How a column is read: the C type asked of SQLGetData and the Value it gives.
enum class Kind : uint8_t {
  kInteger,
  kBoolean,
  kDouble,
  kDecimal,
  kText,
  kBinary,
  kDate,
  kTime,
  kDateTime
};

Kind KindFor(SQLSMALLINT sql_type) {
  switch (sql_type) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
      return Kind::kInteger;
    case SQL_BIT:
      return Kind::kBoolean;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return Kind::kDouble;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return Kind::kDecimal;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return Kind::kBinary;
    case SQL_TYPE_DATE:
    case SQL_DATE:
      return Kind::kDate;
    case SQL_TYPE_TIME:
    case SQL_TIME:
      return Kind::kTime;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      return Kind::kDateTime;
    default:
      return Kind::kText;  // character types, GUIDs, intervals and driver-specific types
  }
}

class OdbcSession;
void FreeStatement(OdbcSession* session, SQLHSTMT stmt);
// A call into the driver for the statement \a session ran last.
std::unique_ptr<DriverCall> CallFor(OdbcSession* session);
// Throws the time limit's error when the statement \a session ran last has
// used up [ODBC] QueryTimeout: the limit is the statement's, fetching
// included, however quickly each fetch returns.
void CheckStatementTime(OdbcSession* session);

class OdbcCursor : public Cursor {
 public:
  OdbcCursor(OdbcSession* session, SQLHSTMT stmt);
  ~OdbcCursor() override {
    ReleaseStatement();
    Detach();
  }

  /// Reads the column descriptions of the current result. Throws Error.
  void Describe(int count) {
    kinds_.clear();
    for (int i = 1; i <= count; ++i) {
      SQLSMALLINT type = 0;
      SQLULEN size = 0;
      SQLSMALLINT digits = 0;
      SQLSMALLINT nullable = 0;
      SQLWCHAR name[256];
      SQLSMALLINT name_length = 0;
      SQLRETURN rc = SQLDescribeColW(stmt_, static_cast<SQLUSMALLINT>(i), name,
                                     static_cast<SQLSMALLINT>(std::size(name)), &name_length, &type,
                                     &size, &digits, &nullable);
      if (!Succeeded(rc)) throw Error(Diagnostics(SQL_HANDLE_STMT, stmt_, rc));
      Kind kind = KindFor(type);
      if (kind == Kind::kText && DeclaredDecimal(static_cast<SQLUSMALLINT>(i)))
        kind = Kind::kDecimal;
      kinds_.push_back(kind);
    }
  }

  int ColumnCount() const override { return static_cast<int>(kinds_.size()); }
  SQLHSTMT Handle() const { return stmt_; }

  bool Fetch(std::vector<Value>& row) override {
    if (stmt_ == SQL_NULL_HSTMT || kinds_.empty()) return false;
    SQLRETURN rc;
    {
      try {
        CheckStatementTime(owner_);
      } catch (const Error&) {
        ReleaseStatement();
        throw;
      }
      auto call = CallFor(owner_);
      rc = SQLFetch(stmt_);
    }
    if (rc == SQL_NO_DATA) {
      ReleaseStatement();
      return false;
    }
    if (!Succeeded(rc)) Fail(rc);
    for (size_t i = 0; i < kinds_.size(); ++i)
      Read(static_cast<SQLUSMALLINT>(i + 1), kinds_[i], row[i]);
    return true;
  }

 protected:
  void ReleaseStatement() override {
    if (stmt_ == SQL_NULL_HSTMT) return;
    FreeStatement(owner_, stmt_);
    stmt_ = SQL_NULL_HSTMT;
  }

 private:
  // A driver over a database without a decimal type (SQLite) reports such
  // columns as text; their declared type name still says what they hold.
  bool DeclaredDecimal(SQLUSMALLINT column) {
    SQLWCHAR name[128];
    SQLSMALLINT length = 0;
    if (!Succeeded(SQLColAttributeW(stmt_, column, SQL_DESC_TYPE_NAME, name, sizeof name, &length,
                                    nullptr)))
      return false;
    std::string type;
    AppendUtf8(type, name, std::min<size_t>(length / sizeof(SQLWCHAR), std::size(name) - 1));
    for (char& c : type) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return type.find("DECIMAL") != std::string::npos || type.find("NUMERIC") != std::string::npos;
  }

  [[noreturn]] void Fail(SQLRETURN rc) {
    std::string text = Diagnostics(SQL_HANDLE_STMT, stmt_, rc);
    ReleaseStatement();
    throw Error(text);
  }

  // Fixed-size values: one SQLGetData call; false for Null.
  template <typename T>
  bool GetFixed(SQLUSMALLINT column, SQLSMALLINT c_type, T& target) {
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(stmt_, column, c_type, &target, sizeof target, &indicator);
    if (!Succeeded(rc)) Fail(rc);
    return indicator != SQL_NULL_DATA;
  }

  // Variable-length values arrive in pieces when longer than the buffer;
  // \a terminator is the size of the end mark the driver adds to each piece.
  // Returns false for Null.
  bool GetLong(SQLUSMALLINT column, SQLSMALLINT c_type, size_t terminator, std::string& out) {
    out.clear();
    for (;;) {
      if (buffer_.size() < 4096) buffer_.resize(4096);
      SQLLEN indicator = 0;
      SQLRETURN rc = SQLGetData(stmt_, column, c_type, buffer_.data(),
                                static_cast<SQLLEN>(buffer_.size()), &indicator);
      if (rc == SQL_NO_DATA) return true;  // every piece has been read
      if (!Succeeded(rc)) Fail(rc);
      if (indicator == SQL_NULL_DATA) return false;
      size_t room = buffer_.size() - terminator;
      if (indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) <= room) {
        out.append(buffer_.data(), indicator);
        return true;
      }
      out.append(buffer_.data(), room);
      // The rest is known: make room for all of it in one more call.
      if (indicator != SQL_NO_TOTAL && buffer_.size() < static_cast<size_t>(indicator) + 16)
        buffer_.resize(static_cast<size_t>(indicator) - room + terminator + 16);
      else if (indicator == SQL_NO_TOTAL && buffer_.size() < (size_t{1} << 24))
        buffer_.resize(buffer_.size() * 2);
    }
  }

  void Read(SQLUSMALLINT column, Kind kind, Value& value) {
    switch (kind) {
      case Kind::kInteger: {
        SQLBIGINT v = 0;
        if (GetFixed(column, SQL_C_SBIGINT, v)) return value.SetInteger(v);
        break;
      }
      case Kind::kBoolean: {
        unsigned char v = 0;
        if (GetFixed(column, SQL_C_BIT, v)) return value.SetBoolean(v != 0);
        break;
      }
      case Kind::kDouble: {
        double v = 0;
        if (GetFixed(column, SQL_C_DOUBLE, v)) return value.SetDouble(v);
        break;
      }
      case Kind::kDate: {
        SQL_DATE_STRUCT v{};
        if (GetFixed(column, SQL_C_TYPE_DATE, v)) {
          DateTimeParts parts;
          parts.year = static_cast<int16_t>(v.year);
          parts.month = static_cast<uint8_t>(v.month);
          parts.day = static_cast<uint8_t>(v.day);
          return value.SetDateTime(ValueType::kDate, parts);
        }
        break;
      }
      case Kind::kTime: {
        SQL_TIME_STRUCT v{};
        if (GetFixed(column, SQL_C_TYPE_TIME, v)) {
          DateTimeParts parts;
          parts.hour = static_cast<uint8_t>(v.hour);
          parts.minute = static_cast<uint8_t>(v.minute);
          parts.second = static_cast<uint8_t>(v.second);
          return value.SetDateTime(ValueType::kTime, parts);
        }
        break;
      }
      case Kind::kDateTime: {
        SQL_TIMESTAMP_STRUCT v{};
        if (GetFixed(column, SQL_C_TYPE_TIMESTAMP, v)) {
          DateTimeParts parts;
          parts.year = static_cast<int16_t>(v.year);
          parts.month = static_cast<uint8_t>(v.month);
          parts.day = static_cast<uint8_t>(v.day);
          parts.hour = static_cast<uint8_t>(v.hour);
          parts.minute = static_cast<uint8_t>(v.minute);
          parts.second = static_cast<uint8_t>(v.second);
          parts.nanosecond = v.fraction;
          return value.SetDateTime(ValueType::kDateTime, parts);
        }
        break;
      }
      case Kind::kDecimal: {
        // Digits are ASCII in every character set; a driver may add blanks.
        std::string& digits = value.MutableBytes(ValueType::kDecimal);
        if (GetLong(column, SQL_C_CHAR, 1, digits)) {
          while (!digits.empty() && digits.back() == ' ') digits.pop_back();
          if (!IsDecimalText(digits)) value.MutableBytes(ValueType::kText);
          return;
        }
        break;
      }
      case Kind::kBinary:
        if (GetLong(column, SQL_C_BINARY, 0, value.MutableBytes(ValueType::kBinary))) return;
        break;
      case Kind::kText:
        if (GetLong(column, SQL_C_WCHAR, sizeof(SQLWCHAR), wide_)) {
          std::string& text = value.MutableBytes(ValueType::kText);
          text.clear();
          AppendUtf8(text, reinterpret_cast<const SQLWCHAR*>(wide_.data()),
                     wide_.size() / sizeof(SQLWCHAR));
          return;
        }
        break;
    }
    value.SetNull();
  }

  OdbcSession* owner_;
  SQLHSTMT stmt_;
  std::vector<Kind> kinds_;
  std::string buffer_;
  std::string wide_;  // the UTF-16 bytes of the text value being read
};

// The statements of \a sql, for a driver that takes one at a time. SQLite's
// own tokenizer tells where a statement ends: it knows quotes, comments and
// the semicolons inside a trigger's body.
std::vector<std::string> SplitStatements(const std::string& sql) {
  std::vector<std::string> statements;
  std::string current;
  for (char c : sql) {
    current += c;
    if (c == ';' && sqlite3_complete(current.c_str())) {
      statements.push_back(std::move(current));
      current.clear();
    }
  }
  if (current.find_first_not_of(" \t\r\n;") != std::string::npos) statements.push_back(current);
  return statements;
}

class OdbcSession : public Session {
 public:
  OdbcSession(SQLHDBC dbc, int command_timeout, bool read_only)
      : dbc_(dbc), command_timeout_(command_timeout), read_only_(read_only) {
    // Drivers without batch support refuse a text of several statements.
    SQLUINTEGER batch = 0;
    if (Succeeded(SQLGetInfoW(dbc_, SQL_BATCH_SUPPORT, &batch, sizeof batch, nullptr)))
      batches_ = batch != 0;
    ansi_only_ = AnsiOnlyDriver(dbc_);
  }
  ~OdbcSession() override {
    if (dbc_ == SQL_NULL_HDBC) return;
    ReleaseCursors();
    RollBack();
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  }

  void Execute(const std::string& sql) override {
    if (!batches_) {
      for (const std::string& statement : SplitStatements(sql)) ExecuteOne(statement);
      return;
    }
    ExecuteOne(sql);
  }

  std::unique_ptr<Cursor> Query(const std::string& sql) override {
    if (batches_) return QueryOne(sql);
    // The first statement that returns rows is the result; those before it
    // run for their effect.
    std::vector<std::string> statements = SplitStatements(sql);
    for (size_t i = 0; i + 1 < statements.size(); ++i) {
      std::unique_ptr<Cursor> cursor = QueryOne(statements[i]);
      if (cursor->ColumnCount() > 0) return cursor;
    }
    return QueryOne(statements.empty() ? sql : statements.back());
  }

  void Cancel() override {
    std::lock_guard<std::mutex> lock(statements_mutex_);
    cancelled_ = true;
    for (SQLHSTMT stmt : statements_) SQLCancel(stmt);
  }

  /// Frees \a stmt, which Run allocated.
  void CheckTime() const {
    if (command_timeout_ > 0 &&
        std::chrono::steady_clock::now() >
            statement_started_ + std::chrono::seconds(command_timeout_))
      throw Error("The statement ran longer than " +
                  TimeLimitText(command_timeout_, "QueryTimeout") +
                  " and was stopped (its records were still being read).");
  }

  // A call into the driver for the statement that ran last.
  std::unique_ptr<DriverCall> Call() const {
    return std::make_unique<DriverCall>(statement_started_, command_timeout_);
  }

  void Free(SQLHSTMT stmt) {
    std::lock_guard<std::mutex> lock(statements_mutex_);
    statements_.erase(stmt);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  }

  int Prepare(const std::string& sql) override {
    if (batches_) return PrepareOne(sql);
    for (const std::string& statement : SplitStatements(sql)) {
      int columns = PrepareOne(statement);
      if (columns > 0) return columns;
    }
    return 0;
  }

  void Close() override {
    if (dbc_ == SQL_NULL_HDBC) return;
    ReleaseCursors();
    RollBack();
    SQLRETURN rc = SQLDisconnect(dbc_);
    std::string text;
    if (!Succeeded(rc)) text = Diagnostics(SQL_HANDLE_DBC, dbc_, rc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    dbc_ = SQL_NULL_HDBC;
    if (!text.empty()) throw Error(text);
  }

 private:
  SQLRETURN MoreResults(SQLHSTMT stmt) {
    auto call = Call();
    return SQLMoreResults(stmt);
  }

  void ExecuteOne(const std::string& sql) {
    SQLHSTMT stmt = Run(sql);
    // Read past every result so that each statement of the text runs.
    SQLRETURN rc;
    while ((rc = MoreResults(stmt)) != SQL_NO_DATA) {
      if (!Succeeded(rc)) {
        std::string text = Diagnostics(SQL_HANDLE_STMT, stmt, rc);
        Free(stmt);
        throw Error(text);
      }
    }
    Free(stmt);
  }

  std::unique_ptr<Cursor> QueryOne(const std::string& sql) {
    auto cursor = std::make_unique<OdbcCursor>(this, Run(sql));
    SQLHSTMT stmt = cursor->Handle();
    for (;;) {
      SQLSMALLINT columns = 0;
      SQLRETURN rc = SQLNumResultCols(stmt, &columns);
      if (!Succeeded(rc)) throw Error(Diagnostics(SQL_HANDLE_STMT, stmt, rc));
      if (columns > 0) {
        cursor->Describe(columns);
        return cursor;
      }
      rc = MoreResults(stmt);
      if (rc == SQL_NO_DATA) return cursor;  // no statement returned rows
      if (!Succeeded(rc)) throw Error(Diagnostics(SQL_HANDLE_STMT, stmt, rc));
    }
  }

  // Prepares \a sql on a statement of its own and reads its column count.
  // A driver that cannot describe a statement without running it may run
  // it here; a read-only session rolls that back at once.
  int PrepareOne(const std::string& sql) {
    if (dbc_ == SQL_NULL_HDBC) throw Error("The database connection is closed.");
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt);
    if (!Succeeded(rc)) throw Error(Diagnostics(SQL_HANDLE_DBC, dbc_, rc));
    rc = Submit(stmt, sql, /*prepare_only=*/true);
    SQLSMALLINT columns = 0;
    if (Succeeded(rc)) rc = SQLNumResultCols(stmt, &columns);
    std::string message;
    if (!Succeeded(rc)) message = Diagnostics(SQL_HANDLE_STMT, stmt, rc);
    SQLFreeStmt(stmt, SQL_CLOSE);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    RollBack();
    if (!message.empty()) throw Error(message);
    return columns;
  }

  // Hands \a sql to the driver on \a stmt, prepared only or executed, with the
  // statement time limit: as UTF-16, or as it is to a driver without wide
  // entry points.
  SQLRETURN Submit(SQLHSTMT stmt, const std::string& sql, bool prepare_only) {
    // 0 is no limit; a driver that knows no time-out keeps its own behaviour.
    SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(command_timeout_)), 0);
    // The statement's one time limit runs from here, fetching included.
    statement_started_ = std::chrono::steady_clock::now();
    DriverCall call(statement_started_, command_timeout_);
    if (ansi_only_ && Utf8Locale()) {
      auto* text = reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.data()));
      const auto size = static_cast<SQLINTEGER>(sql.size());
      return prepare_only ? SQLPrepare(stmt, text, size) : SQLExecDirect(stmt, text, size);
    }
    WideString text = Widen(sql);
    const auto size = static_cast<SQLINTEGER>(text.size());
    return prepare_only ? SQLPrepareW(stmt, text.data(), size)
                        : SQLExecDirectW(stmt, text.data(), size);
  }

  // Ends the transaction a read-only session is in, undoing its work.
  void RollBack() {
    if (read_only_ && dbc_ != SQL_NULL_HDBC) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
  }

 private:
  // Allocates a statement and executes \a sql on it; the caller frees it.
  SQLHSTMT Run(const std::string& sql) {
    if (dbc_ == SQL_NULL_HDBC) throw Error("The database connection is closed.");
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    {
      // A cancel reaches every statement allocated here, until it is freed.
      std::lock_guard<std::mutex> lock(statements_mutex_);
      if (cancelled_) throw Error("The statement was cancelled.");
      SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt);
      if (!Succeeded(rc)) throw Error(Diagnostics(SQL_HANDLE_DBC, dbc_, rc));
      statements_.insert(stmt);
    }
    SQLRETURN rc = Submit(stmt, sql, /*prepare_only=*/false);
    // SQL_NO_DATA: a searched update or delete that touched no row.
    if (!Succeeded(rc) && rc != SQL_NO_DATA) {
      std::string message = Diagnostics(SQL_HANDLE_STMT, stmt, rc);
      Free(stmt);
      if (command_timeout_ > 0 && (message.starts_with("HYT00") || message.starts_with("57014")) &&
          !cancelled_)
        message = "The statement ran longer than " +
                  TimeLimitText(command_timeout_, "QueryTimeout") + " and was stopped (" +
                  message + ").";
      throw Error(message);
    }
    return stmt;
  }

  SQLHDBC dbc_;
  int command_timeout_;
  std::chrono::steady_clock::time_point statement_started_;
  std::mutex statements_mutex_;
  std::set<SQLHSTMT> statements_;
  std::atomic<bool> cancelled_{false};
  bool read_only_;
  bool batches_ = true;
  bool ansi_only_ = false;
};

OdbcCursor::OdbcCursor(OdbcSession* session, SQLHSTMT stmt)
    : Cursor(session), owner_(session), stmt_(stmt) {}

void FreeStatement(OdbcSession* session, SQLHSTMT stmt) { session->Free(stmt); }

std::unique_ptr<DriverCall> CallFor(OdbcSession* session) { return session->Call(); }

void CheckStatementTime(OdbcSession* session) { session->CheckTime(); }

}  // namespace

std::unique_ptr<Session> OpenOdbcSession(const std::string& data_source, const std::string& user,
                                         const std::string& password, int login_timeout_seconds,
                                         int command_timeout_seconds, bool read_only) {
  SQLHENV env = Environment();
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  if (!Succeeded(rc)) throw Error(Diagnostics(SQL_HANDLE_ENV, env, rc));
  SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(login_timeout_seconds)), 0);
  if (read_only) {
    // A hint the driver may honour; the rollbacks are what keep nothing.
    SQLSetConnectAttr(dbc, SQL_ATTR_ACCESS_MODE, reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY),
                      0);
  }
  if (data_source.find('=') != std::string::npos) {
    // User and password go in as values of their own, in braces, so nothing
    // in them can add or change a keyword. Keywords the string already holds
    // come first and win.
    std::string text = data_source;
    if (!user.empty() || !password.empty()) {
      if (!text.empty() && text.back() != ';') text += ';';
      if (!user.empty()) text += "UID=" + BraceQuote(user) + ";";
      if (!password.empty()) text += "PWD=" + BraceQuote(password) + ";";
    }
    WideString wide = Widen(text);
    std::memset(text.data(), 0, text.size());
    SQLSMALLINT out_length = 0;
    rc = SQLDriverConnectW(dbc, nullptr, wide.data(), static_cast<SQLSMALLINT>(wide.size()),
                           nullptr, 0, &out_length, SQL_DRIVER_NOPROMPT);
    std::fill(wide.begin(), wide.end(), SQLWCHAR{0});
  } else {
    WideString dsn = Widen(data_source);
    WideString uid = Widen(user);
    WideString pwd = Widen(password);
    rc = SQLConnectW(dbc, dsn.data(), static_cast<SQLSMALLINT>(dsn.size()), uid.data(),
                     static_cast<SQLSMALLINT>(uid.size()), pwd.data(),
                     static_cast<SQLSMALLINT>(pwd.size()));
    std::fill(pwd.begin(), pwd.end(), SQLWCHAR{0});
  }
  if (!Succeeded(rc)) {
    std::string text = Diagnostics(SQL_HANDLE_DBC, dbc, rc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    throw Error(text);
  }
  if (read_only &&
      !Succeeded(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT,
                                   reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
    // Without transactions nothing could be undone: no statement may reach
    // such a source.
    std::string text =
        "The data source cannot run without autocommit, so statements cannot "
        "be prepared there without the risk of keeping their effect (" +
        Diagnostics(SQL_HANDLE_DBC, dbc, SQL_ERROR) + ").";
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    throw Error(text);
  }
  return std::make_unique<OdbcSession>(dbc, command_timeout_seconds, read_only);
}

}  // namespace vantrelle
