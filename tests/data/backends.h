// The back ends the data-access tests run against, and small helpers.
//
// "sqlite" is the embedded back end, "sqlite_odbc" the SQLite ODBC driver
// reached through the driver manager by a connection string, "postgresql" a
// real server through psqlODBC, named by the environment scripts/pg-test-server
// prints. PostgreSQL tests skip when that environment is missing, unless
// VANTRELLE_REQUIRE_PG=1 says the server must be there.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace vantrelle::testing_data {

inline constexpr char kSqliteOdbcDriver[] = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

inline std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

inline bool PgRequired() { return Env("VANTRELLE_REQUIRE_PG") == "1"; }

/// A folder of its own under the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vantrelle-data-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  /// Creates an empty file (an empty SQLite database) and returns its path.
  std::string EmptyFile(const std::string& name) const {
    std::ofstream(File(name)).close();
    return File(name);
  }

 private:
  std::filesystem::path path_;
};

/// How to reach one back end, and the bits of its SQL dialect the tests need.
struct BackendTarget {
  std::string data_source;
  std::string user;
  std::string password;
  std::string decimal_type;  // a column type that keeps numeric(18,4) exactly
  std::string double_type;
  std::string bool_true;
  std::string binary_00ff10;  // a literal of the bytes 00 FF 10
  std::string binary_type;
  std::string timestamp_type;
};

/// Fills \a target for back end \a name; false (with the reason in \a why)
/// when the back end is not available here.
inline bool FindBackend(const std::string& name, const TempDir& dir, BackendTarget& target,
                        std::string& why) {
  target = BackendTarget{};
  if (name == "sqlite" || name == "sqlite_odbc") {
    std::string path = dir.EmptyFile("test.db");
    target.data_source = name == "sqlite"
                             ? "sqlite:" + path
                             : std::string("Driver=") + kSqliteOdbcDriver + ";Database=" + path;
    // SQLite keeps exact decimals only as text: a declared type naming
    // DECIMAL (and TEXT, for text affinity) reads back as an exact decimal.
    target.decimal_type = "DECIMAL_TEXT(18,4)";
    target.double_type = "DOUBLE";
    target.bool_true = "1";
    target.binary_00ff10 = "X'00FF10'";
    target.binary_type = "BLOB";
    target.timestamp_type = "TIMESTAMP";
    if (name == "sqlite_odbc" && !std::filesystem::exists(kSqliteOdbcDriver)) {
      why = "the SQLite ODBC driver is not installed";
      return false;
    }
    return true;
  }
  target.data_source = Env("VANTRELLE_PG_DSN");
  target.user = Env("VANTRELLE_PG_USER");
  target.password = Env("VANTRELLE_PG_PASSWORD");
  target.decimal_type = "NUMERIC(18,4)";
  target.double_type = "DOUBLE PRECISION";
  target.bool_true = "TRUE";
  target.binary_00ff10 = "'\\x00ff10'::bytea";
  target.binary_type = "BYTEA";
  target.timestamp_type = "TIMESTAMP";
  if (target.data_source.empty()) {
    why = "VANTRELLE_PG_DSN is not set (run through scripts/test or scripts/pg-test-server)";
    return false;
  }
  return true;
}

}  // namespace vantrelle::testing_data

/// Skips the test when the back end is missing; fails instead when it is
/// PostgreSQL and VANTRELLE_REQUIRE_PG=1.
#define VANTRELLE_REQUIRE_BACKEND(name, dir, target)                                    \
  do {                                                                                  \
    std::string why_missing;                                                            \
    if (!::vantrelle::testing_data::FindBackend(name, dir, target, why_missing)) {      \
      if (std::string(name) == "postgresql" && ::vantrelle::testing_data::PgRequired()) \
        FAIL() << why_missing;                                                          \
      GTEST_SKIP() << why_missing;                                                      \
    }                                                                                   \
  } while (0)
