// Reads N rows (default 1,000,000) of 8 mixed columns through the record set,
// turning every value into text as the table fills do, and through a plain
// loop over the raw API that does the same work (sqlite3_step; SQLFetch with
// SQLGetData), and prints both times and their ratio for each back end:
// embedded SQLite, SQLite through its ODBC driver, and PostgreSQL through
// psqlODBC when VANTRELLE_PG_DSN (with _USER and _PASSWORD) is set.
//
//   bench_data_read [rows [sqlite|odbc|postgresql]]
#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "data/connection.h"
#include "data/recordset.h"
#include "base/error.h"

namespace {

constexpr char kQuery[] =
    "SELECT id, qty, price, name, code, day, stamp, maybe FROM bench ORDER BY id";

double CpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return now.tv_sec + now.tv_nsec * 1e-9;
}

// CPU seconds this process spent in the fastest of \a runs runs of \a body
// (the machine is shared, so wall time says little); \a checksum keeps the
// work observable.
double Time(int runs, const std::function<size_t()>& body, size_t& checksum) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    double start = CpuSeconds();
    checksum = body();
    best = std::min(best, CpuSeconds() - start);
  }
  return best;
}

void AppendNumber(std::string& out, long long v) {
  char buffer[24];
  out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, v).ptr);
}

void AppendNumber(std::string& out, double v) {
  char buffer[40];
  out.append(buffer,
             std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 15).ptr);
}

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "SQLite: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
}

void CreateSqliteData(const std::string& path, long rows) {
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db);
  Check(sqlite3_exec(db,
                     "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;"
                     "CREATE TABLE bench (id INTEGER PRIMARY KEY, qty INTEGER, price DOUBLE, "
                     "name TEXT, code VARCHAR(10), day DATE, stamp TIMESTAMP, maybe INTEGER)",
                     nullptr, nullptr, nullptr),
        db);
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO bench VALUES (?, ?, ?, ?, ?, ?, ?, ?)", -1, &insert,
                           nullptr),
        db);
  char text[64];
  for (long i = 1; i <= rows; ++i) {
    sqlite3_bind_int64(insert, 1, i);
    sqlite3_bind_int64(insert, 2, i % 1000);
    sqlite3_bind_double(insert, 3, i * 0.37);
    std::snprintf(text, sizeof text, "Customer number %ld", i);
    sqlite3_bind_text(insert, 4, text, -1, SQLITE_TRANSIENT);
    std::snprintf(text, sizeof text, "C%07ld", i % 9999999);
    sqlite3_bind_text(insert, 5, text, -1, SQLITE_TRANSIENT);
    std::snprintf(text, sizeof text, "2024-%02ld-%02ld", i % 12 + 1, i % 28 + 1);
    sqlite3_bind_text(insert, 6, text, -1, SQLITE_TRANSIENT);
    std::snprintf(text, sizeof text, "2024-%02ld-%02ld %02ld:%02ld:%02ld", i % 12 + 1, i % 28 + 1,
                  i % 24, i % 60, (i * 7) % 60);
    sqlite3_bind_text(insert, 7, text, -1, SQLITE_TRANSIENT);
    if (i % 3 == 0) {
      sqlite3_bind_null(insert, 8);
    } else {
      sqlite3_bind_int64(insert, 8, i * 3);
    }
    Check(sqlite3_step(insert), db);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
  sqlite3_close(db);
}

size_t RawSqlite(const std::string& path) {
  sqlite3* db = nullptr;
  Check(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr),
        db);
  sqlite3_stmt* stmt = nullptr;
  Check(sqlite3_prepare_v2(db, kQuery, -1, &stmt, nullptr), db);
  size_t total = 0;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    for (int i = 0; i < 8; ++i) {
      std::string text;  // a text of its own per value, as a table fill hands it on
      switch (sqlite3_column_type(stmt, i)) {
        case SQLITE_INTEGER:
          AppendNumber(text, static_cast<long long>(sqlite3_column_int64(stmt, i)));
          break;
        case SQLITE_FLOAT:
          AppendNumber(text, sqlite3_column_double(stmt, i));
          break;
        case SQLITE_NULL:
          break;
        default:
          text.assign(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)),
                      sqlite3_column_bytes(stmt, i));
      }
      total += text.size();
    }
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return total;
}

void OdbcCheck(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle) {
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) return;
  SQLCHAR state[6] = {}, message[1024] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length);
  std::fprintf(stderr, "ODBC %s: %s\n", state, message);
  std::exit(1);
}

size_t RawOdbc(const std::string& source, const std::string& user, const std::string& password) {
  SQLHENV env;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLHDBC dbc;
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  if (source.find('=') != std::string::npos) {
    OdbcCheck(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)source.c_str(), SQL_NTS, nullptr, 0, nullptr,
                               SQL_DRIVER_NOPROMPT),
              SQL_HANDLE_DBC, dbc);
  } else {
    OdbcCheck(SQLConnect(dbc, (SQLCHAR*)source.c_str(), SQL_NTS, (SQLCHAR*)user.c_str(), SQL_NTS,
                         (SQLCHAR*)password.c_str(), SQL_NTS),
              SQL_HANDLE_DBC, dbc);
  }
  SQLHSTMT stmt;
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
  OdbcCheck(SQLExecDirect(stmt, (SQLCHAR*)kQuery, SQL_NTS), SQL_HANDLE_STMT, stmt);
  std::vector<SQLSMALLINT> types(8);
  for (int i = 0; i < 8; ++i) {
    SQLULEN size;
    SQLSMALLINT digits, nullable;
    SQLDescribeCol(stmt, i + 1, nullptr, 0, nullptr, &types[i], &size, &digits, &nullable);
  }
  size_t total = 0;
  char buffer[4096];
  while (SQLFetch(stmt) == SQL_SUCCESS) {
    for (int i = 0; i < 8; ++i) {
      std::string text;  // a text of its own per value, as a table fill hands it on
      SQLLEN indicator = 0;
      switch (types[i]) {
        case SQL_INTEGER:
        case SQL_BIGINT: {
          SQLBIGINT v;
          SQLGetData(stmt, i + 1, SQL_C_SBIGINT, &v, 0, &indicator);
          if (indicator != SQL_NULL_DATA) AppendNumber(text, static_cast<long long>(v));
          break;
        }
        case SQL_DOUBLE:
        case SQL_FLOAT: {
          double v;
          SQLGetData(stmt, i + 1, SQL_C_DOUBLE, &v, 0, &indicator);
          if (indicator != SQL_NULL_DATA) AppendNumber(text, v);
          break;
        }
        case SQL_TYPE_DATE: {
          SQL_DATE_STRUCT v;
          SQLGetData(stmt, i + 1, SQL_C_TYPE_DATE, &v, 0, &indicator);
          char out[32];
          std::snprintf(out, sizeof out, "%04d-%02u-%02u", v.year, v.month, v.day);
          text = out;
          break;
        }
        case SQL_TYPE_TIMESTAMP: {
          SQL_TIMESTAMP_STRUCT v;
          SQLGetData(stmt, i + 1, SQL_C_TYPE_TIMESTAMP, &v, 0, &indicator);
          char out[64];
          std::snprintf(out, sizeof out, "%04d-%02u-%02u %02u:%02u:%02u", v.year, v.month, v.day,
                        v.hour, v.minute, v.second);
          text = out;
          break;
        }
        default:
          SQLGetData(stmt, i + 1, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
          if (indicator != SQL_NULL_DATA) text.assign(buffer, indicator);
      }
      total += text.size();
    }
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return total;
}

size_t ThroughRecordset(const std::string& source, const std::string& user,
                        const std::string& password, bool keep_rows) {
  vantrelle::Connection connection;
  connection.SetCommandTimeout(0);
  connection.Open(source, user, password);
  vantrelle::Recordset recordset;
  recordset.SetActiveConnection(&connection);
  recordset.Open(kQuery, keep_rows);
  size_t total = 0;
  int fields = recordset.FieldCount();
  for (; !recordset.Eof(); recordset.MoveNext()) {
    for (int j = 0; j < fields; ++j) {
      const vantrelle::Value& value = recordset.FieldValue(j);
      if (!value.IsNull()) total += value.ToText().size();
    }
  }
  recordset.Close();
  connection.Close();
  return total;
}

void Compare(const char* name, const std::function<size_t()>& raw, const std::string& source,
             const std::string& user, const std::string& password) {
  size_t raw_sum = 0, kept_sum = 0, forward_sum = 0;
  double raw_s = Time(3, raw, raw_sum);
  double kept_s = Time(
      3, [&] { return ThroughRecordset(source, user, password, true); }, kept_sum);
  double forward_s = Time(
      3, [&] { return ThroughRecordset(source, user, password, false); }, forward_sum);
  std::printf(
      "%-12s raw %7.3f s CPU | record set %7.3f s (x%.2f) | forward-only %7.3f s (x%.2f)%s\n", name,
      raw_s, kept_s, kept_s / raw_s, forward_s, forward_s / raw_s,
      raw_sum == kept_sum && raw_sum == forward_sum ? "" : "  [text lengths differ]");
  if (raw_sum != kept_sum)
    std::printf("%-12s text bytes: raw %zu, record set %zu\n", "", raw_sum, kept_sum);
}

}  // namespace

int main(int argc, char** argv) {
  long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  std::string only = argc > 2 ? argv[2] : "";
  auto wanted = [&](const char* name) { return only.empty() || only == name; };
  std::string path = (std::filesystem::temp_directory_path() / "vantrelle_bench_read.db").string();
  std::printf(
      "%ld rows x 8 columns, every value to text; CPU time of this process, best of 3 runs\n",
      rows);
  CreateSqliteData(path, rows);
  try {
    if (wanted("sqlite"))
      Compare(
          "sqlite", [&] { return RawSqlite(path); }, "sqlite:" + path, "", "");
    std::string odbc = "Driver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so;Database=" + path;
    if (wanted("odbc"))
      Compare(
          "sqlite odbc", [&] { return RawOdbc(odbc, "", ""); }, odbc, "", "");
    const char* pg_dsn = std::getenv("VANTRELLE_PG_DSN");
    if (pg_dsn != nullptr && *pg_dsn != 0 && wanted("postgresql")) {
      std::string user = std::getenv("VANTRELLE_PG_USER") ? std::getenv("VANTRELLE_PG_USER") : "";
      std::string password =
          std::getenv("VANTRELLE_PG_PASSWORD") ? std::getenv("VANTRELLE_PG_PASSWORD") : "";
      vantrelle::Connection setup;
      setup.Open(pg_dsn, user, password);
      setup.Execute("DROP TABLE IF EXISTS bench");
      setup.Execute(
          "CREATE TABLE bench AS SELECT i AS id, i % 1000 AS qty, i * 0.37::float8 AS price, "
          "'Customer number ' || i AS name, 'C' || lpad((i % 9999999)::text, 7, '0') AS code, "
          "date '2024-01-01' + (i % 365) AS day, "
          "timestamp '2024-01-01 00:00:00' + i * interval '7 second' AS stamp, "
          "CASE WHEN i % 3 = 0 THEN NULL ELSE i * 3 END AS maybe "
          "FROM generate_series(1, " +
          std::to_string(rows) + ") AS i");
      Compare(
          "postgresql", [&] { return RawOdbc(pg_dsn, user, password); }, pg_dsn, user, password);
      setup.Execute("DROP TABLE bench");
    }
  } catch (const vantrelle::Error& error) {
    std::fprintf(stderr, "bench_data_read: %s\n", error.Description());
    std::filesystem::remove(path);
    return 1;
  }
  std::filesystem::remove(path);
  return 0;
}
