#include "data/connection.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "backends.h"
#include "data/recordset.h"
#include "base/error.h"

namespace vantrelle {
namespace {

using testing_data::BackendTarget;
using testing_data::Env;
using testing_data::TempDir;

class ConnectionTest : public ::testing::Test {
 protected:
  // The description of the Error that opening \a data_source throws.
  std::string OpenError(const std::string& data_source, const std::string& user = "",
                        const std::string& password = "") {
    Connection connection;
    try {
      connection.Open(data_source, user, password);
    } catch (const Error& error) {
      EXPECT_FALSE(connection.IsOpen());
      return error.Description();
    }
    ADD_FAILURE() << "opened " << data_source;
    return "";
  }

  // A PostgreSQL data source with its user and password, or skips.
  bool Postgres(BackendTarget& target) {
    std::string why;
    if (testing_data::FindBackend("postgresql", dir_, target, why)) return true;
    if (testing_data::PgRequired()) ADD_FAILURE() << why;
    return false;
  }

  TempDir dir_;
};

TEST_F(ConnectionTest, MissingSqliteFileIsAnErrorNotANewDatabase) {
  std::string path = dir_.File("missing.db");
  EXPECT_EQ(OpenError("sqlite:" + path),
            "The SQLite database file \"" + path + "\" does not exist.");
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(OpenError("sqlite:" + dir_.File("")),
            "The SQLite database file \"" + dir_.File("") + "\" does not exist.");
}

TEST_F(ConnectionTest, SqliteFileThatIsNoDatabaseFailsOnFirstUse) {
  std::string path = dir_.File("notes.txt");
  {
    std::FILE* file = std::fopen(path.c_str(), "w");
    std::fputs("this is not a database, only some text that is long enough", file);
    std::fclose(file);
  }
  Connection connection;
  connection.Open("sqlite:" + path, "", "");
  try {
    connection.Execute("SELECT 1 FROM sqlite_master");
    ADD_FAILURE() << "a text file read as a database";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.Description()), "file is not a database (SQLite error 26)");
  }
}

TEST_F(ConnectionTest, UnknownDsnNamesTheDriverManagersDiagnostic) {
  std::string description = OpenError("NoSuchVantrelleDsn", "user", "secret-pw");
  EXPECT_EQ(description.substr(0, 7), "IM002: ") << description;
  EXPECT_NE(description.find("Data source name not found"), std::string::npos) << description;
  EXPECT_EQ(description.find("secret-pw"), std::string::npos);
}

TEST_F(ConnectionTest, UnknownDriverInConnectionStringFails) {
  std::string description = OpenError("Driver=/no/such/driver.so;Database=x");
  EXPECT_EQ(description.substr(0, 5), "01000") << description;
}

TEST_F(ConnectionTest, OnlyTheRecordsReadAreFetched) {
  // The second row raises an error when SQLite computes it: reading only the
  // first record must not compute it.
  Connection connection;
  connection.Open("sqlite::memory:", "", "");
  Recordset recordset;
  recordset.SetActiveConnection(&connection);
  const std::string sql =
      "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 3) "
      "SELECT CASE WHEN x = 2 THEN abs(-9223372036854775807 - 1) ELSE x END FROM n";
  recordset.Open(sql);
  EXPECT_EQ(recordset.FieldValue(0).ToText(), "1");
  recordset.Close();
  recordset.Open(sql);
  try {
    recordset.MoveNext();
    ADD_FAILURE() << "the failing row was not fetched";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.Description()), "integer overflow (SQLite error 1)");
  }
  EXPECT_TRUE(recordset.Eof());
  recordset.Close();
}

TEST_F(ConnectionTest, SqliteStatementsAfterTheFirstResultAreNotRun) {
  Connection connection;
  connection.Open("sqlite::memory:", "", "");
  connection.Execute("CREATE TABLE t (n INTEGER); INSERT INTO t VALUES (1);");
  Recordset recordset;
  recordset.SetActiveConnection(&connection);
  recordset.Open("INSERT INTO t VALUES (2); SELECT COUNT(*) FROM t");
  EXPECT_EQ(recordset.FieldValue(0).ToText(), "2");
  recordset.Close();
}

TEST_F(ConnectionTest, ClosedConnectionRefusesStatementsAndClosesTwiceQuietly) {
  Connection connection;
  EXPECT_THROW(connection.Execute("SELECT 1"), Error);
  connection.Open("sqlite::memory:", "", "");
  EXPECT_THROW(connection.Open("sqlite::memory:", "", ""), Error);
  connection.Close();
  connection.Close();
  EXPECT_THROW(connection.Execute("SELECT 1"), Error);
}

TEST_F(ConnectionTest, PostgresWrongPasswordFailsWithoutShowingIt) {
  BackendTarget pg;
  if (!Postgres(pg)) GTEST_SKIP() << "no PostgreSQL test server";
  const std::string wrong = "Not-The;Password}";
  std::string description = OpenError(pg.data_source, pg.user, wrong);
  EXPECT_EQ(description.substr(0, 7), "08001: ") << description;
  EXPECT_NE(description.find("password authentication failed"), std::string::npos) << description;
  EXPECT_EQ(description.find(wrong), std::string::npos);
}

TEST_F(ConnectionTest, PostgresConnectionStringTakesUserAndPasswordApart) {
  BackendTarget pg;
  if (!Postgres(pg)) GTEST_SKIP() << "no PostgreSQL test server";
  // The test password holds ";" and "=": it must reach the server whole.
  Connection connection;
  ASSERT_NO_THROW(connection.Open(Env("VANTRELLE_PG_CONNSTR"), pg.user, pg.password));
  Recordset recordset;
  recordset.SetActiveConnection(&connection);
  recordset.Open("SELECT current_user");
  EXPECT_EQ(recordset.FieldValue(0).ToText(), pg.user);
}

TEST_F(ConnectionTest, PostgresServerThatIsDownFailsAtOnce) {
  BackendTarget pg;
  if (!Postgres(pg)) GTEST_SKIP() << "no PostgreSQL test server";
  // Port 1 on the loopback: nothing listens there, the connection is refused.
  std::string description = OpenError(
      "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=1;Database=x", pg.user, pg.password);
  EXPECT_EQ(description.substr(0, 7), "08001: ") << description;
  EXPECT_NE(description.find("refused"), std::string::npos) << description;
}

// A driver's message longer than the buffer it is read into arrives cut,
// never with what the buffer held before.
TEST_F(ConnectionTest, DiagnosticLongerThanItsBufferArrivesCut) {
  BackendTarget target;
  if (!Postgres(target)) GTEST_SKIP() << "no PostgreSQL server";
  Connection connection;
  connection.Open(target.data_source, target.user, target.password);
  try {
    connection.Execute("DO $$ BEGIN RAISE EXCEPTION '%', repeat('x', 5000); END $$");
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    const std::string description = error.Description();
    EXPECT_EQ("P0001: ", description.substr(0, 7));
    const size_t start = description.find("xxx");
    ASSERT_NE(std::string::npos, start) << description;
    const size_t end = description.find_first_not_of('x', start);
    EXPECT_GT((end == std::string::npos ? description.size() : end) - start, 1000u);
    for (char c : description)
      EXPECT_TRUE(c >= 0x20 && c < 0x7F) << static_cast<int>(c) << " in " << description;
  }
}

// A connection opened for a check prepares statements without running them
// and keeps nothing any statement does, on every back end.
class CheckConnectionTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    VANTRELLE_REQUIRE_BACKEND(GetParam(), dir_, target_);
    table_ = "vantrelle_check_" + std::to_string(::getpid());
    writer_.Open(target_.data_source, target_.user, target_.password);
    writer_.Execute("DROP TABLE IF EXISTS " + table_);
    writer_.Execute("CREATE TABLE " + table_ + " (n INTEGER, label VARCHAR(20))");
    writer_.Execute("INSERT INTO " + table_ + " VALUES (1, 'one')");
  }
  void TearDown() override {
    if (writer_.IsOpen()) writer_.Execute("DROP TABLE IF EXISTS " + table_);
  }
  std::string Rows() {
    Recordset records;
    records.SetActiveConnection(&writer_);
    records.Open("SELECT count(*) FROM " + table_);
    std::string count = records.FieldValue(0).ToText();
    records.Close();
    return count;
  }

  TempDir dir_;
  BackendTarget target_;
  Connection writer_;
  std::string table_;
};

TEST_P(CheckConnectionTest, PrepareCountsColumnsAndRunsNothing) {
  Connection check;
  check.OpenForCheck(target_.data_source, target_.user, target_.password);
  EXPECT_EQ(check.Prepare("SELECT n, label, n * 2 FROM " + table_), 3);
  EXPECT_EQ(check.Prepare("DELETE FROM " + table_), 0);
  EXPECT_EQ(check.Prepare("INSERT INTO " + table_ + " VALUES (2, 'two')"), 0);
  EXPECT_THROW(check.Prepare("SELECT no_such_column FROM " + table_), Error);
  // The connection stays usable after a statement it could not prepare.
  EXPECT_EQ(check.Prepare("SELECT label FROM " + table_), 1);
  try {
    check.Execute("DELETE FROM " + table_);
  } catch (const Error&) {
    // A read-only SQLite file refuses the write outright.
  }
  check.Close();
  EXPECT_EQ(Rows(), "1");
}

INSTANTIATE_TEST_SUITE_P(Backends, CheckConnectionTest,
                         ::testing::Values("sqlite", "sqlite_odbc", "postgresql"));

}  // namespace
}  // namespace vantrelle
