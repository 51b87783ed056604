#include "data/database_connection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "backends.h"
#include "data/connection.h"
#include "base/error.h"

namespace vantrelle {
namespace {

using testing_data::TempDir;

class DatabaseConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pub_.log_stream = pub_.file_system.CreateTextFile(dir_.File("run.log"));
    pub_.clock = [] {
      std::tm when{};
      when.tm_year = 2026 - 1900;
      when.tm_mon = 0;
      when.tm_mday = 2;
      when.tm_hour = 3;
      when.tm_min = 4;
      when.tm_sec = 5;
      return when;
    };
  }

  // The run log so far, CR LF line ends and all.
  std::string Log() {
    pub_.log_stream->Close();
    std::ifstream in(dir_.File("run.log"), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  TempDir dir_;
  PubDef pub_;
  DbSession session_;
};

constexpr char kStamp[] = "[20260102 03:04:05]    ";

TEST_F(DatabaseConnectionTest, ConnectLogsTheDataSourceAndNoUserWhenThereIsNone) {
  pub_.dsn = "sqlite:" + dir_.EmptyFile("report.db");
  ASSERT_TRUE(ConnectDatabase(pub_, session_));
  EXPECT_TRUE(session_.connection->IsOpen());
  EXPECT_EQ(session_.recordset->ActiveConnection(), session_.connection.get());
  EXPECT_EQ(session_.recordset->State(), 0);
  EXPECT_EQ(pub_.error_count, 0);
  EXPECT_EQ(Log(),
            std::string(kStamp) + "Connect to database successfully. DSN=" + pub_.dsn + "\r\n");
}

TEST_F(DatabaseConnectionTest, ConnectLogsTheUserAfterAFullWidthCommaButNeverThePassword) {
  pub_.dsn = "sqlite:" + dir_.EmptyFile("report.db");
  pub_.db_user = "reporter;x";
  pub_.db_pwd = "pw;Data Source=elsewhere";
  ASSERT_TRUE(ConnectDatabase(pub_, session_));
  std::string log = Log();
  EXPECT_EQ(log, std::string(kStamp) + "Connect to database successfully. DSN=" + pub_.dsn +
                     "\xEF\xBC\x8C USER=reporter;x\r\n");
  EXPECT_EQ(log.find(pub_.db_pwd), std::string::npos);
}

TEST_F(DatabaseConnectionTest, FailedConnectLogsAndCountsOneErrorAndKeepsTheNewObjects) {
  std::string path = dir_.File("missing.db");
  pub_.dsn = "sqlite:" + path;
  pub_.db_user = "bob";
  pub_.db_pwd = "hunter22";
  EXPECT_FALSE(ConnectDatabase(pub_, session_));
  EXPECT_EQ(pub_.error_count, 1);
  ASSERT_NE(session_.connection, nullptr);
  ASSERT_NE(session_.recordset, nullptr);
  EXPECT_FALSE(session_.connection->IsOpen());
  EXPECT_EQ(Log(), std::string(kStamp) + "Error: Failed to connect to database. DSN=sqlite:" +
                       path + "\xEF\xBC\x8C USER=bob\r\n" + kStamp +
                       "Error Info: The SQLite database file \"" + path + "\" does not exist.\r\n");
}

TEST_F(DatabaseConnectionTest, ConnectReplacesTheObjectsOfAnEarlierRun) {
  pub_.dsn = "sqlite::memory:";
  ASSERT_TRUE(ConnectDatabase(pub_, session_));
  Connection* first = session_.connection.get();
  first->Execute("CREATE TABLE t (n INTEGER)");
  ASSERT_TRUE(ConnectDatabase(pub_, session_));
  // A new in-memory database: the earlier run's table is gone with its connection.
  EXPECT_THROW(session_.connection->Execute("INSERT INTO t VALUES (1)"), Error);
}

TEST_F(DatabaseConnectionTest, DisconnectClosesAndReleasesQuietly) {
  pub_.dsn = "sqlite::memory:";
  ASSERT_TRUE(ConnectDatabase(pub_, session_));
  session_.recordset->Open("SELECT 1");  // a record set left open is closed with the connection
  EXPECT_TRUE(DisconnectDatabase(pub_, session_));
  EXPECT_EQ(session_.connection, nullptr);
  EXPECT_EQ(session_.recordset, nullptr);
  EXPECT_EQ(Log(),
            std::string(kStamp) + "Connect to database successfully. DSN=sqlite::memory:\r\n");
}

TEST_F(DatabaseConnectionTest, DisconnectWithoutConnectionIsALoggedFailure) {
  EXPECT_FALSE(DisconnectDatabase(pub_, session_));
  EXPECT_EQ(pub_.error_count, 1);
  EXPECT_EQ(Log(), std::string(kStamp) + "Error: Failed to disconnect from database.\r\n" + kStamp +
                       "Error Info: There is no database connection to close.\r\n");
}

TEST_F(DatabaseConnectionTest, PostgresLoginRefusedIsLoggedWithoutThePassword) {
  testing_data::BackendTarget pg;
  std::string why;
  if (!testing_data::FindBackend("postgresql", dir_, pg, why)) {
    if (testing_data::PgRequired()) FAIL() << why;
    GTEST_SKIP() << why;
  }
  pub_.dsn = pg.data_source;
  pub_.db_user = pg.user;
  pub_.db_pwd = "wrong-" + pg.password;
  EXPECT_FALSE(ConnectDatabase(pub_, session_));
  pub_.db_pwd = pg.password;
  EXPECT_TRUE(ConnectDatabase(pub_, session_));
  std::string log = Log();
  EXPECT_EQ(log.find(pg.password), std::string::npos) << log;
  EXPECT_NE(log.find("Error: Failed to connect to database. DSN=" + pg.data_source +
                     "\xEF\xBC\x8C USER=" + pg.user + "\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Error Info: 08001: "), std::string::npos) << log;
  EXPECT_NE(log.find("Connect to database successfully. DSN=" + pg.data_source +
                     "\xEF\xBC\x8C USER=" + pg.user + "\r\n"),
            std::string::npos);
}

TEST(DatabaseFilesNamedInTest, SqlitePathAndDatabaseValuesOfAConnectionString) {
  EXPECT_EQ(DatabaseFilesNamedIn("sqlite:/data/sales.db"),
            std::vector<std::string>{"/data/sales.db"});
  EXPECT_EQ(DatabaseFilesNamedIn("Driver=SQLite3; database = {/a;b.db} ;DBQ=/c.mdb;Server=x"),
            (std::vector<std::string>{"/a;b.db", "/c.mdb"}));
  EXPECT_EQ(DatabaseFilesNamedIn("SalesDSN"), std::vector<std::string>{});
  EXPECT_EQ(DatabaseFilesNamedIn("Driver=X;Database=;DatabaseName=y"), std::vector<std::string>{});
}

TEST(MaskPasswordsTest, HidesEveryFormOfAPassword) {
  const std::pair<const char*, const char*> cases[] = {
      {"reports", "reports"},
      {"sqlite:/data/pwd=x.db", "sqlite:/data/pwd=x.db"},
      {"Driver=PG;UID=u;PWD=secret;Port=5432", "Driver=PG;UID=u;PWD=***;Port=5432"},
      {"Driver=PG;password=secret", "Driver=PG;password=***"},
      {"Driver=PG; Pwd =  secret ;Database=d", "Driver=PG; Pwd =***;Database=d"},
      {"Driver=PG;\tPWD=secret;Database=d", "Driver=PG;\tPWD=***;Database=d"},
      {"Driver=PG;PWD={se;cr}}et};Database=d", "Driver=PG;PWD=***;Database=d"},
      {"Driver=PG;PWD={unclosed;Database=d", "Driver=PG;PWD=***"},
      {"Driver=PG;PWDX=a;XPWD=b;SSLPassword=c", "Driver=PG;PWDX=***;XPWD=***;SSLPassword=***"},
      {"Driver={PWD=x;};Password=a;PWD=b", "Driver={PWD=***};Password=***;PWD=***"},
      {"Driver=PG;pqopt={password=secret}", "Driver=PG;pqopt={password=***}"},
      {"Driver=PG;pqopt={password=ab;cdefgh};Port=1", "Driver=PG;pqopt={password=***};Port=1"},
      {"Driver=PG;pqopt={password=ab}}cdefgh}", "Driver=PG;pqopt={password=***}"},
      {"Driver=PG;pqopt={sslmode=require password = 'se cret'}",
       "Driver=PG;pqopt={sslmode=require password = ***}"},
  };
  for (const auto& [dsn, shown] : cases) EXPECT_EQ(shown, MaskPasswords(dsn)) << dsn;
}

// Every line of \a log is one stamped message ending in CR LF.
void ExpectOneLinePerMessage(const std::string& log) {
  EXPECT_EQ(std::string::npos, log.find('\t')) << log;
  for (size_t at = log.find('\n'); at != std::string::npos; at = log.find('\n', at + 1)) {
    ASSERT_TRUE(at > 0 && log[at - 1] == '\r') << log;
    if (at + 1 < log.size()) {
      EXPECT_EQ('[', log[at + 1]) << log;
    }
  }
}

TEST_F(DatabaseConnectionTest, PasswordInAConnectionStringIsMaskedInEveryLine) {
  testing_data::BackendTarget pg;
  std::string why;
  if (!testing_data::FindBackend("postgresql", dir_, pg, why)) {
    if (testing_data::PgRequired()) FAIL() << why;
    GTEST_SKIP() << why;
  }
  const std::string wrong = "no;t}it";
  const std::string source = "DSN=" + pg.data_source + ";UID=" + pg.user;
  pub_.dsn = source + ";PWD={no;t}}it}";
  EXPECT_FALSE(ConnectDatabase(pub_, session_));
  pub_.dsn = source + ";pwd={" + pg.password + "}";
  EXPECT_TRUE(ConnectDatabase(pub_, session_));
  const std::string log = Log();
  EXPECT_EQ(std::string::npos, log.find(wrong)) << log;
  EXPECT_EQ(std::string::npos, log.find(pg.password)) << log;
  EXPECT_NE(std::string::npos,
            log.find("Error: Failed to connect to database. DSN=" + source + ";PWD=***\r\n"))
      << log;
  EXPECT_NE(std::string::npos,
            log.find("Connect to database successfully. DSN=" + source + ";pwd=***\r\n"))
      << log;
  ExpectOneLinePerMessage(log);
}

TEST_F(DatabaseConnectionTest, RefusedConnectionAndServerErrorsAreOneLineEach) {
  testing_data::BackendTarget pg;
  std::string why;
  if (!testing_data::FindBackend("postgresql", dir_, pg, why)) {
    if (testing_data::PgRequired()) FAIL() << why;
    GTEST_SKIP() << why;
  }
  // Nothing listens on port 1: the driver's diagnostics span several lines.
  pub_.dsn = "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=1;Database=postgres";
  pub_.db_user = pg.user;
  EXPECT_FALSE(ConnectDatabase(pub_, session_));
  const std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("Connection refused")) << log;
  EXPECT_EQ(2, std::count(log.begin(), log.end(), '\n')) << log;
  ExpectOneLinePerMessage(log);
}

}  // namespace
}  // namespace vantrelle
