#include "sql/script_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "base/error.h"

namespace vantrelle {
namespace {

// Reads the statements of \a text; the marker line without "=" that ends
// reading is given as "error at N".
std::vector<std::string> Statements(const std::string& text) {
  PubDef pub;
  pub.parameters[0] = {"&Month", "", "2004-05", 1};
  pub.parameter_count = 1;
  std::string bytes = text;
  TextReader script(fmemopen(bytes.data(), bytes.size(), "rb"), "s.sql");
  StatementReader reader(pub, script, true);
  std::vector<std::string> seen;
  ScriptStatement statement;
  try {
    while (reader.Next(statement)) {
      std::string lines;
      for (const auto& [line, piece] : statement.pieces) lines += " " + std::to_string(line);
      seen.push_back(std::to_string(statement.line) + " [" + statement.label + "] " +
                     statement.control_fields + " | " + statement.sql + " | lines" + lines);
    }
  } catch (const Error& error) {
    seen.push_back("error at " + std::to_string(reader.LineNumber()) + ": " + error.Description());
  }
  return seen;
}

TEST(StatementReaderTest, StatementsCarryTheLineOfTheirMarkerAndOfEachTextLine) {
  EXPECT_EQ(Statements("SELECT 1\n"
                       "# a comment\n"
                       "@Sales = 1;2;2;1\n"
                       "\n"
                       "  SELECT region  # trailing comment\n"
                       "  FROM sales WHERE m = '&Month'\n"
                       "@Dropped=0\n"
                       "@Q1\n"
                       "SELECT 2\n"),
            (std::vector<std::string>{
                "1 []  | SELECT 1 | lines 1",
                "3 [Sales ]  1;2;2;1 | SELECT region FROM sales WHERE m = '2004-05' | lines 5 6",
                "error at 8: Line 8: the marker line \"@Q1\" has no \"=\"."}));
}

}  // namespace
}  // namespace vantrelle
