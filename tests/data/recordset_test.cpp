#include "data/recordset.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "backends.h"
#include "data/connection.h"
#include "base/error.h"

namespace vantrelle {
namespace {

using testing_data::BackendTarget;
using testing_data::TempDir;

// The behaviour every back end must show, written once and run on each.
class RecordsetTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    VANTRELLE_REQUIRE_BACKEND(GetParam(), dir_, target_);
    connection_.SetConnectionTimeout(0);
    connection_.SetCommandTimeout(0);
    ASSERT_NO_THROW(connection_.Open(target_.data_source, target_.user, target_.password));
    recordset_.SetActiveConnection(&connection_);
    // Temporary tables: each test has a table of its own, also on a shared server.
    connection_.Execute("CREATE TEMPORARY TABLE nums (n INTEGER, label VARCHAR(20))");
    connection_.Execute(
        "INSERT INTO nums VALUES (1, 'one'); INSERT INTO nums VALUES (2, 'two'); "
        "INSERT INTO nums VALUES (3, 'three')");
  }

  // Every record of \a sql, each field as text ("<null>" for Null).
  std::vector<std::vector<std::string>> Query(const std::string& sql) {
    recordset_.Open(sql);
    std::vector<std::vector<std::string>> rows = ReadToEnd();
    recordset_.Close();
    return rows;
  }

  std::vector<std::vector<std::string>> ReadToEnd() {
    std::vector<std::vector<std::string>> rows;
    for (; !recordset_.Eof(); recordset_.MoveNext()) {
      std::vector<std::string> row;
      for (int i = 0; i < recordset_.FieldCount(); ++i) {
        const Value& value = recordset_.FieldValue(i);
        row.push_back(value.IsNull() ? "<null>" : value.ToText());
      }
      rows.push_back(row);
    }
    return rows;
  }

  using Rows = std::vector<std::vector<std::string>>;

  TempDir dir_;
  BackendTarget target_;
  Connection connection_;
  Recordset recordset_;
};

TEST_P(RecordsetTest, EveryValueTypeReadsBackWithItsDefaultText) {
  const BackendTarget& t = target_;
  connection_.Execute("CREATE TEMPORARY TABLE vals (id INTEGER, i BIGINT, d " + t.decimal_type +
                      ", f " + t.double_type + ", s VARCHAR(50), dt DATE, tm TIME, ts " +
                      t.timestamp_type + ", b BOOLEAN, bin " + t.binary_type + ")");
  connection_.Execute(
      "INSERT INTO vals VALUES (1, -9007199254740993, '12345678901234.5678', 0.1, "
      "'Grüße, 東京', '2024-02-29', '13:45:07', '2024-02-29 23:59:58', " +
      t.bool_true + ", " + t.binary_00ff10 + ")");
  connection_.Execute(
      "INSERT INTO vals VALUES (2, 0, '-0.5000', 1e20, '', '1999-12-31', "
      "'00:00:00', '2000-01-01 00:00:00', NOT " +
      t.bool_true + ", NULL)");
  connection_.Execute(
      "INSERT INTO vals VALUES (3, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)");

  EXPECT_EQ(Query("SELECT i, d, f, s, dt, tm, ts, b, bin FROM vals ORDER BY id"),
            (Rows{{"-9007199254740993", "12345678901234.5678", "0.1", "Grüße, 東京", "2024-02-29",
                   "13:45:07", "2024-02-29 23:59:58", "True", "00FF10"},
                  {"0", "-0.5", "1E+20", "", "1999-12-31", "00:00:00", "2000-01-01 00:00:00",
                   "False", "<null>"},
                  {"<null>", "<null>", "<null>", "<null>", "<null>", "<null>", "<null>", "<null>",
                   "<null>"}}));

  recordset_.Open("SELECT i, d, f, s, dt, tm, ts, b, bin FROM vals ORDER BY id");
  const std::vector<ValueType> expected = {
      ValueType::kInteger,  ValueType::kDecimal, ValueType::kDouble,
      ValueType::kText,     ValueType::kDate,    ValueType::kTime,
      ValueType::kDateTime, ValueType::kBoolean, ValueType::kBinary};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(recordset_.FieldValue(i).Type(), expected[i]) << i;
  recordset_.MoveNext();
  recordset_.MoveNext();
  try {
    recordset_.FieldValue(0).ToText();
    ADD_FAILURE() << "a Null converted to text";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), kErrInvalidUseOfNull);
  }
}

TEST_P(RecordsetTest, LongNonAsciiTextArrivesWhole) {
  std::string text;
  while (text.size() < 100000) text += "Zeile äöü € 𝄞 abc ";
  connection_.Execute("CREATE TEMPORARY TABLE notes (body TEXT)");
  connection_.Execute("INSERT INTO notes VALUES ('" + text + "')");
  Rows rows = Query("SELECT body, LENGTH(body) FROM notes");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].size(), text.size());
  EXPECT_TRUE(rows[0][0] == text);
}

TEST_P(RecordsetTest, EmptyResultIsAtItsEndWithItsFields) {
  recordset_.Open("SELECT n, label FROM nums WHERE n > 100");
  EXPECT_EQ(recordset_.State(), 1);
  EXPECT_TRUE(recordset_.Eof());
  EXPECT_EQ(recordset_.FieldCount(), 2);
  EXPECT_THROW(recordset_.FieldValue(0), Error);
  EXPECT_THROW(recordset_.MoveNext(), Error);
  recordset_.MoveFirst();
  EXPECT_TRUE(recordset_.Eof());
  recordset_.Close();
  EXPECT_EQ(recordset_.State(), 0);
}

TEST_P(RecordsetTest, StatementWithoutRowsUsedAsQueryRunsAndGivesNoRecords) {
  recordset_.Open("UPDATE nums SET label = 'changed' WHERE n = 2");
  EXPECT_EQ(recordset_.State(), 1);
  EXPECT_EQ(recordset_.FieldCount(), 0);
  EXPECT_TRUE(recordset_.Eof());
  recordset_.Close();
  EXPECT_EQ(Query("SELECT label FROM nums WHERE n = 2"), (Rows{{"changed"}}));
}

TEST_P(RecordsetTest, MoveFirstAfterFullPassReadsTheSameRecordsAgain) {
  recordset_.Open("SELECT n, label FROM nums ORDER BY n");
  Rows first = ReadToEnd();
  recordset_.MoveFirst();
  EXPECT_FALSE(recordset_.Eof());
  Rows second = ReadToEnd();
  recordset_.Close();
  EXPECT_EQ(first, (Rows{{"1", "one"}, {"2", "two"}, {"3", "three"}}));
  EXPECT_EQ(second, first);
}

TEST_P(RecordsetTest, OneRecordSetServesTenQueriesInARow) {
  for (int i = 1; i <= 10; ++i) {
    std::string n = std::to_string(i % 3 + 1);
    EXPECT_EQ(Query("SELECT n * 10, label FROM nums WHERE n = " + n),
              (Rows{{std::to_string((i % 3 + 1) * 10),
                     std::vector<std::string>{"one", "two", "three"}[i % 3]}}))
        << "query " << i;
    EXPECT_EQ(recordset_.State(), 0);
  }
}

TEST_P(RecordsetTest, ForwardOnlyReadingRefusesToGoBack) {
  recordset_.Open("SELECT n FROM nums ORDER BY n", false);
  recordset_.MoveFirst();  // still on the first record: allowed
  EXPECT_EQ(ReadToEnd(), (Rows{{"1"}, {"2"}, {"3"}}));
  EXPECT_THROW(recordset_.MoveFirst(), Error);
}

TEST_P(RecordsetTest, MisuseIsAnErrorNotACrash) {
  EXPECT_THROW(recordset_.Eof(), Error);
  EXPECT_THROW(recordset_.FieldCount(), Error);
  recordset_.Open("SELECT n FROM nums");
  EXPECT_THROW(recordset_.Open("SELECT n FROM nums"), Error);
  try {
    recordset_.FieldValue(1);
    ADD_FAILURE() << "field 1 of a one-field record";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), kErrNoSuchMember);
  }
  EXPECT_THROW(recordset_.FieldValue(-1), Error);
  recordset_.Close();
  recordset_.Close();  // closing twice is harmless
}

TEST_P(RecordsetTest, ExecuteRunsEveryStatementOfTheText) {
  connection_.Execute("DELETE FROM nums WHERE n = 1; DELETE FROM nums WHERE n = 3");
  EXPECT_EQ(Query("SELECT n FROM nums"), (Rows{{"2"}}));
}

TEST_P(RecordsetTest, QueryRunsTheStatementsBeforeItsResult) {
  EXPECT_EQ(Query("UPDATE nums SET label = 'first' WHERE n = 1; "
                  "SELECT label FROM nums WHERE n = 1"),
            (Rows{{"first"}}));
}

TEST_P(RecordsetTest, FailedStatementLeavesTheConnectionUsable) {
  try {
    connection_.Execute("SELEC nonsense FROM");
    ADD_FAILURE() << "a syntax error was accepted";
  } catch (const Error& error) {
    std::string description = error.Description();
    EXPECT_NE(description.find("syntax error"), std::string::npos) << description;
    if (GetParam() != "sqlite") {
      EXPECT_NE(description.find(": "), std::string::npos);
    }
    if (GetParam() == "postgresql") {
      EXPECT_EQ(description.substr(0, 7), "42601: ");
    }
  }
  EXPECT_THROW(recordset_.Open("SELECT missing_column FROM nums"), Error);
  EXPECT_EQ(recordset_.State(), 0);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM nums"), (Rows{{"3"}}));
}

TEST_P(RecordsetTest, ClosingTheConnectionEndsAnOpenQuery) {
  recordset_.Open("SELECT n FROM nums ORDER BY n");
  connection_.Close();
  EXPECT_FALSE(connection_.IsOpen());
  // The first record was read already; reading on finds the end, not a crash.
  EXPECT_EQ(recordset_.FieldValue(0).ToText(), "1");
  recordset_.MoveNext();
  EXPECT_TRUE(recordset_.Eof());
  recordset_.Close();
  EXPECT_THROW(recordset_.Open("SELECT 1"), Error);
}

// The cancel a stopped run sends from its signal thread, repeated as that
// thread repeats it.
TEST_P(RecordsetTest, CancelFromAnotherThreadEndsTheStatementAndEveryLaterOne) {
  const std::string endless =
      GetParam() == "postgresql"
          ? "SELECT pg_sleep(600)"
          : "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
            "WHERE i < 3000000000) SELECT count(*) FROM n";
  std::atomic<bool> done{false};
  std::thread canceller([&] {
    while (!done) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      connection_.Cancel();
    }
  });
  const auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(connection_.Execute(endless), Error);
  done = true;
  canceller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  try {
    connection_.Execute("SELECT 1");
    ADD_FAILURE() << "a statement ran after the cancel";
  } catch (const Error& error) {
    EXPECT_EQ("The statement was cancelled.", std::string(error.Description()));
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, RecordsetTest,
                         ::testing::Values("sqlite", "sqlite_odbc", "postgresql"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace vantrelle
