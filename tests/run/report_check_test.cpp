#include "run/report_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "data/connection.h"
#include "data/recordset.h"
#include "sql/parameters.h"
#include "test_util.h"
#include "word/docx_fixture.h"

namespace vantrelle {
namespace {

namespace fs = std::filesystem;
using testing_util::TempDir;
using testing_util::WriteFile;

// A report folder that checks clean, as files to write: the configuration
// as "SECTION/Key" -> value, the script, and the template's body.
struct Folder {
  std::map<std::string, std::string> ini = {
      {"FILE/LogFileName", "out/run.log"},
      {"FILE/ReportTemplateFileName", "template.docx"},
      {"FILE/ReportFileName", "out/report.docx"},
      {"ODBC/DSN", "sqlite:data.db"},
      {"SQLFILE/F_MAXNUM", "1"},
      {"SQLFILE/F1", "scripts/report.sql"},
      {"PARAMETER/Name1", "&Month"},
      {"PARAMETER/Default1", "2004-05"},
  };
  std::string script =
      "@Title=3;Title\n"
      "SELECT name FROM company\n"
      "\n"
      "@Lines=2;1;2;1\n"
      "SELECT name, amount, day FROM sales\n"
      "WHERE month = '&Month'\n";
  // Table 1: a heading, the pattern row and the last row. Table 2: cell
  // (2,1) is covered by a vertical merge. A DOCVARIABLE field shows Title.
  std::string body =
      "<w:p><w:r><w:fldChar w:fldCharType=\"begin\"/></w:r><w:r><w:instrText> DOCVARIABLE Title "
      "</w:instrText></w:r><w:r><w:fldChar w:fldCharType=\"separate\"/></w:r><w:r><w:t>x</w:t>"
      "</w:r><w:r><w:fldChar w:fldCharType=\"end\"/></w:r></w:p>"
      "<w:tbl><w:tr>" +
      testing::Tc("Name") + testing::Tc("Amount") + testing::Tc("Day") + "</w:tr><w:tr>" +
      testing::Tc("") + testing::Tc("#,##0") + testing::Tc("yyyy-mm-dd") + "</w:tr><w:tr>" +
      testing::Tc("") + testing::Tc("#,##0") + testing::Tc("yyyy-mm-dd") +
      "</w:tr></w:tbl><w:p/>"
      "<w:tbl><w:tr>" +
      testing::Tc("A", "<w:vMerge w:val=\"restart\"/>") + testing::Tc("B") + "</w:tr><w:tr>" +
      testing::Tc("", "<w:vMerge/>") + testing::Tc("C") + "</w:tr></w:tbl>";
  std::map<std::string, std::string> other_files;
};

struct CheckCase {
  const char* name;
  std::function<void(Folder&)> edit;
  std::vector<std::string> lines;
  int status;
  bool connect = false;
};

void PrintTo(const CheckCase& check_case, std::ostream* out) { *out << check_case.name; }

class ReportCheckTest : public ::testing::TestWithParam<CheckCase> {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    fs::current_path(dir_.path());
  }
  void TearDown() override { fs::current_path(previous_); }

  void Write(const Folder& folder) {
    std::map<std::string, std::string> sections;
    for (const auto& [name, value] : folder.ini) {
      const size_t slash = name.find('/');
      sections[name.substr(0, slash)] += name.substr(slash + 1) + "=" + value + "\n";
    }
    std::string ini;
    for (const auto& [section, keys] : sections) ini += "[" + section + "]\n" + keys;
    WriteFile("report.ini", ini);
    fs::create_directories("scripts");
    fs::create_directories("out");
    WriteFile("scripts/report.sql", folder.script);
    for (const auto& [name, content] : folder.other_files) WriteFile(name, content);
    testing::WriteZip("template.docx", {{"[Content_Types].xml", testing::ContentTypes()},
                                        {"_rels/.rels", testing::PackageRels()},
                                        {"word/document.xml", testing::DocumentXml(folder.body)}});
    WriteFile("data.db", "");
    Connection db;
    db.Open("sqlite:data.db", "", "");
    db.Execute(
        "CREATE TABLE company (name TEXT); INSERT INTO company VALUES ('Vantrelle');"
        "CREATE TABLE sales (name TEXT, amount NUMERIC, day DATE, month TEXT);"
        "INSERT INTO sales VALUES ('North', 12, '2004-05-03', '2004-05')");
    db.Close();
  }

  CheckResult Check(bool connect, std::vector<std::string> values = {}) {
    PubDef pub;
    pub.clock = testing_util::FixedTime;
    pub.ini_file_name = "report.ini";
    for (const std::string& value : values) pub.command_values[pub.command_value_count++] = value;
    ReadParameters(pub);
    return CheckReport(pub, connect);
  }

  TempDir dir_;
  fs::path previous_;
};

TEST_P(ReportCheckTest, ReportsEachFaultOnItsLine) {
  Folder folder;
  GetParam().edit(folder);
  Write(folder);
  CheckResult result = Check(GetParam().connect);
  EXPECT_EQ(result.Lines("report.ini"), GetParam().lines);
  EXPECT_EQ(result.ExitStatus(), GetParam().status);
}

void NoEdit(Folder&) {}
auto Key(const char* key, const char* value) {
  return [=](Folder& folder) { folder.ini[key] = value; };
}
auto Script(const char* text) {
  return [=](Folder& folder) { folder.script = text; };
}

const char kClean[] = "report.ini: 0 errors, 0 warnings.";
const char kOneError[] = "report.ini: 1 error, 0 warnings.";
const char kOneWarning[] = "report.ini: 0 errors, 1 warning.";

const CheckCase kConfigurationCases[] = {
    {"Clean", NoEdit, {kClean}, 0},
    {"LogNotSet",
     Key("FILE/LogFileName", ""),
     {"report.ini: error: [FILE] LogFileName is not set: the run cannot create its log.",
      kOneError},
     2},
    {"LogFolderMissing",
     Key("FILE/LogFileName", "logs/run_&Y&M&D.log"),
     {"report.ini: error: [FILE] LogFileName \"logs/run_20040505.log\": the folder \"logs\" does "
      "not exist.",
      kOneError},
     2},
    {"LogIsTheScript",
     Key("FILE/LogFileName", "scripts/report.sql"),
     {"report.ini: error: [FILE] LogFileName \"scripts/report.sql\" names the same file as "
      "[SQLFILE] F1 \"scripts/report.sql\"; the run log never overwrites another file of the run.",
      kOneError},
     2},
    {"LogOnADrive",
     Key("FILE/LogFileName", "C:\\Reports\\run.log"),
     {"report.ini: error: [FILE] LogFileName: \"C:\\Reports\\run.log\" is a Windows path (a drive "
      "letter or a network share); give a Linux path in the configuration file.",
      kOneError},
     2},
    {"TemplateMissing",
     Key("FILE/ReportTemplateFileName", "templates\\sales.docx"),
     {"report.ini: error: [FILE] ReportTemplateFileName: the template file "
      "\"templates\\sales.docx\" does not exist.",
      kOneError},
     1},
    {"TemplateNotADocument",
     [](Folder& folder) {
       folder.ini["FILE/ReportTemplateFileName"] = "template.rtf";
       folder.other_files["template.rtf"] = "{\\rtf1\\ansi Sales}";
     },
     {"template.rtf: error: Cannot open \"template.rtf\": it is an RTF document (Rich Text "
      "Format), not a Word document package; open it in Word and save it as a Word document "
      "(.docx) or template (.dotx), then try again.",
      kOneError},
     1},
    {"ReportFolderMissing",
     Key("FILE/ReportFileName", "archive/&Y/report.docx"),
     {"report.ini: error: [FILE] ReportFileName \"archive/2004/report.docx\": the folder "
      "\"archive/2004\" does not exist.",
      kOneError},
     1},
    {"ReportIsTheTemplate",
     Key("FILE/ReportFileName", "./template.docx"),
     {"report.ini: error: [FILE] ReportFileName \"./template.docx\" names the same file as "
      "[FILE] ReportTemplateFileName \"template.docx\"; the report never overwrites another file "
      "of the run.",
      kOneError},
     1},
    {"ReportNotSet",
     Key("FILE/ReportFileName", " "),
     {"report.ini: error: [FILE] ReportFileName is not set: the name of report file is invalid.",
      kOneError},
     1},
    {"PdfIsTheReport",
     Key("FILE/PdfFileName", "out/report.docx"),
     {"report.ini: error: [FILE] PdfFileName \"out/report.docx\" names the same file as [FILE] "
      "ReportFileName \"out/report.docx\"; the PDF file never overwrites another file of the run.",
      kOneError},
     1},
    {"DsnNotSet",
     Key("ODBC/DSN", ""),
     {"report.ini: error: [ODBC] DSN is not set: Data source name does not be set.", kOneError},
     1},
    {"DatabaseMissing",
     Key("ODBC/DSN", "sqlite:sales.db"),
     {"report.ini: error: [ODBC] DSN: the SQLite database file \"sales.db\" does not exist.",
      kOneError},
     1},
    {"QueryTimeoutNotSeconds",
     Key("ODBC/QueryTimeout", "5m"),
     {"report.ini: error: [ODBC] QueryTimeout \"5m\" is not a whole number of seconds from 0 to "
      "2147483 (0: no limit).",
      kOneError},
     1},
    {"JobCountNotANumber",
     Key("SQLFILE/F_MAXNUM", "one"),
     {"report.ini: error: [SQLFILE] F_MAXNUM \"one\" is not a valid job count: Type mismatch.",
      "report.ini: warning: [SQLFILE] F1 is beyond F_MAXNUM (0): the run never reads it.",
      "template.docx: warning: the DOCVARIABLE field \"Title\" (body) shows a variable that no "
      "statement sets and the template does not hold: the report shows \"Error! No document "
      "variable supplied.\".",
      "report.ini: 1 error, 2 warnings."},
     1},
    {"ScriptMissing",
     Key("SQLFILE/F1", "scripts/missing.sql"),
     {"report.ini: error: [SQLFILE] F1: the script \"scripts/missing.sql\" does not exist.",
      "template.docx: warning: the DOCVARIABLE field \"Title\" (body) shows a variable that no "
      "statement sets and the template does not hold: the report shows \"Error! No document "
      "variable supplied.\".",
      "report.ini: 1 error, 1 warning."},
     1},
};
INSTANTIATE_TEST_SUITE_P(Configuration, ReportCheckTest, ::testing::ValuesIn(kConfigurationCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Each statement fault stands in the second statement, on line 3.
std::string Second(const char* marker, const char* sql = "SELECT name, amount, day FROM sales") {
  return std::string("@Title=3;Title\nSELECT name FROM company\n") + marker + "\n" + sql + "\n";
}

const CheckCase kStatementCases[] = {
    {"MarkerWithoutEquals",
     Script("@Title=3;Title\nSELECT name FROM company\n@Lines\nSELECT 1\n"),
     {"scripts/report.sql:3: error: the marker line \"@Lines\" has no \"=\". The run stops reading "
      "the script here.",
      kOneError},
     1},
    {"UnknownFunction",
     [](Folder& f) { f.script = Second("@Lines=9;1;2;1"); },
     {"scripts/report.sql:3: warning: [Lines] function 9 does not exist (0 executes, 1 fills a "
      "table, 2 fills a growing table, 3 sets a document variable): the run skips the statement, "
      "logs \"Failure.\" and counts no error.",
      "report.ini: 0 errors, 1 warning."},
     0},
    {"FunctionNotANumber",
     [](Folder& f) { f.script = Second("@Lines=fill;1;2;1"); },
     {"scripts/report.sql:3: error: [Lines] control field 1 (function) \"fill\" is not a whole "
      "number from -32768 to 32767 (Type mismatch): the run fails this statement.",
      kOneError},
     1},
    {"BeginRowTooLarge",
     [](Folder& f) { f.script = Second("@Lines=1;1;40000;1"); },
     {"scripts/report.sql:3: error: [Lines] control field 3 (begin row) \"40000\" is not a whole "
      "number from -32768 to 32767 (Overflow): the run fails this statement.",
      kOneError},
     1},
    {"NoTableNumber",
     [](Folder& f) { f.script = Second("@Lines=2; ;2;1"); },
     {"scripts/report.sql:3: error: [Lines] no table number: control field 2 is empty.", kOneError},
     1},
    {"TableNotANumber",
     [](Folder& f) { f.script = Second("@Lines=1;Sales;2;1"); },
     {"scripts/report.sql:3: error: [Lines] table \"Sales\" is not a whole number (Type "
      "mismatch): the run fails this statement.",
      kOneError},
     1},
    {"NoSuchTable",
     [](Folder& f) { f.script = Second("@Lines=1;3;2;1"); },
     {"scripts/report.sql:3: error: [Lines] table 3 does not exist (the template has 2 tables).",
      kOneError},
     1},
    {"BeginRowMissing",
     [](Folder& f) { f.script = Second("@Lines=1;1"); },
     {"scripts/report.sql:3: error: [Lines] begin row 0 is outside table 1 (rows 1 to 3).",
      kOneError},
     1},
    {"BeginRowBelowTheTable",
     [](Folder& f) { f.script = Second("@Lines=1;1;4;1"); },
     {"scripts/report.sql:3: error: [Lines] begin row 4 is outside table 1 (rows 1 to 3).",
      kOneError},
     1},
    {"BeginColPastTheRow",
     [](Folder& f) { f.script = Second("@Lines=1;1;2;4;1"); },
     {"scripts/report.sql:3: error: [Lines] begin col 4 is outside row 2 of table 1 (cells 1 to "
      "3).",
      kOneError},
     1},
    {"CoveredBeginCell",
     [](Folder& f) { f.script = Second("@Lines=1;2;2;1"); },
     {"scripts/report.sql:3: error: [Lines] cell (2,1) of table 2 is covered by a vertical merge: "
      "no fill can write it.",
      kOneError},
     1},
    {"PatternRowMissing",
     [](Folder& f) { f.script = Second("@Lines=2;1;4;1"); },
     {"scripts/report.sql:3: error: [Lines] the pattern row 4 of the growing fill is missing "
      "(table 1 has 3 rows).",
      kOneError},
     1},
    {"PatternColumnMissing",
     [](Folder& f) { f.script = Second("@Weeks=2;1;1;4;1"); },
     {"scripts/report.sql:3: error: [Weeks] the pattern column 4 of the growing fill is missing "
      "(row 1 of table 1 has 3 cells).",
      kOneError},
     1},
    {"NoRowAfterThePatternRow",
     [](Folder& f) { f.script = Second("@Lines=2;1;3;1"); },
     {"scripts/report.sql:3: warning: [Lines] table 1 has no row after the pattern row 3: a "
      "result of more than one record fails.",
      kOneWarning},
     0},
    {"PlaceThatAnEarlierGrowthMayMake",
     Script("@Lines=2;1;2;1\nSELECT name, amount, day FROM sales\n@Title=3;Title\nSELECT 1\n"
            "@Total=1;1;5;2\nSELECT 1\n"),
     {"scripts/report.sql:5: warning: [Total] begin row 5 is outside table 1 (rows 1 to 3) in the "
      "template; the growing fill [Lines] at scripts/report.sql:1 adds rows to it first, so it is "
      "there only when that fill returns enough records.",
      kOneWarning},
     0},
    {"NoVariableName",
     [](Folder& f) { f.script = "@Title=3;Title\nSELECT 1\n@Name=3; \nSELECT 2\n"; },
     {"scripts/report.sql:3: error: [Name] no document variable name: control field 2 is empty.",
      kOneError},
     1},
    {"VariableNoFieldShows",
     [](Folder& f) { f.script = "@Title=3;Title\nSELECT 1\n@Sub=3;Subtitle\nSELECT 2\n"; },
     {"scripts/report.sql:3: warning: [Sub] no DOCVARIABLE field of the template shows the "
      "document variable \"Subtitle\".",
      kOneWarning},
     0},
    {"UndefinedParameter",
     [](Folder& f) {
       f.script = Second("@Lines=2;1;2;1",
                         "SELECT name, amount, day FROM sales\nWHERE month = '&month' AND 'R&D' "
                         "<> '&Region'");
     },
     {"scripts/report.sql:5: warning: [Lines] no report parameter is named \"&month\"; the run "
      "leaves it in the SQL text (names are case-sensitive: [PARAMETER] defines \"&Month\").",
      "scripts/report.sql:5: warning: [Lines] no report parameter is named \"&Region\"; the run "
      "leaves it in the SQL text.",
      "report.ini: 0 errors, 2 warnings."},
     0},
};
INSTANTIATE_TEST_SUITE_P(Statements, ReportCheckTest, ::testing::ValuesIn(kStatementCases),
                         [](const auto& info) { return std::string(info.param.name); });

const CheckCase kConnectedCases[] = {
    {"CleanWhenConnected", NoEdit, {kClean}, 0, true},
    {"MoreColumnsThanCells",
     [](Folder& f) { f.script = Second("@Lines=2;1;2;2", "SELECT name, amount, day FROM sales"); },
     {"scripts/report.sql:3: error: [Lines] the query returns 3 columns, so a record goes to "
      "cells (2,2) to (2,4) of table 1, but cell (2,4) does not exist.",
      kOneError},
     1,
     true},
    {"TransposedIntoCoveredCell",
     [](Folder& f) { f.script = Second("@Lines=1;2;1;1;1", "SELECT 1, 2"); },
     {"scripts/report.sql:3: error: [Lines] the query returns 2 columns, so a record goes to "
      "cells (1,1) to (2,1) of table 2, but cell (2,1) is covered by a vertical merge.",
      kOneError},
     1,
     true},
    {"StatementCannotBePrepared",
     [](Folder& f) { f.script = Second("@Lines=2;1;2;1", "SELECT name, amount, day FROM sale"); },
     {"scripts/report.sql:3: error: [Lines] cannot be prepared: no such table: sale (SQLite error "
      "1)",
      kOneError},
     1,
     true},
    {"StatementNeedsAnEarlierOne",
     [](Folder& f) {
       f.script =
           "@Work=0\nCREATE TABLE month_sales AS SELECT * FROM sales\n"
           "@Title=3;Title\nSELECT name FROM company\n"
           "@Lines=2;1;2;1\nSELECT name, amount, day FROM month_sales\n";
     },
     {"scripts/report.sql:5: warning: [Lines] cannot be prepared before the statement [Work] at "
      "scripts/report.sql:1 has run: it uses \"month_sales\", which that statement creates or "
      "changes (no such table: month_sales (SQLite error 1)).",
      kOneWarning},
     0,
     true},
    {"FillThatIsNoQuery",
     [](Folder& f) { f.script = Second("@Lines=1;1;2;1", "DELETE FROM sales"); },
     {"scripts/report.sql:3: warning: [Lines] the statement returns no records to fill table 1 "
      "with: it is not a query.",
      kOneWarning},
     0,
     true},
};
INSTANTIATE_TEST_SUITE_P(Connected, ReportCheckTest, ::testing::ValuesIn(kConnectedCases),
                         [](const auto& info) { return std::string(info.param.name); });

class ReportCheckFolderTest : public ReportCheckTest {};

TEST_F(ReportCheckFolderTest, ChecksWithoutWritingAnything) {
  Folder folder;
  folder.script = "@Work=0\nDELETE FROM sales\n" + folder.script;
  Write(folder);
  auto snapshot = [] {
    std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> files;
    for (const auto& entry : fs::recursive_directory_iterator("."))
      files[entry.path().string()] = {entry.is_regular_file() ? entry.file_size() : 0,
                                      entry.last_write_time()};
    return files;
  };
  const auto before = snapshot();
  EXPECT_EQ(Check(true).ExitStatus(), 0);
  EXPECT_EQ(snapshot(), before);
  // The DELETE was prepared, never run.
  Connection db;
  db.Open("sqlite:data.db", "", "");
  Recordset records;
  records.SetActiveConnection(&db);
  records.Open("SELECT count(*) FROM sales");
  EXPECT_EQ(records.FieldValue(0).ToText(), "1");
  records.Close();
  db.Close();
}

TEST_F(ReportCheckFolderTest, ExtraValuesAndMissingConfigurationAreSaid) {
  Write(Folder());
  EXPECT_EQ(Check(false, {"2004-06", "x", "y"}).Lines("report.ini"),
            (std::vector<std::string>{"report.ini: warning: [PARAMETER] declares 1 parameter but "
                                      "3 values were given; the run ignores the last 2.",
                                      kOneWarning}));
  fs::remove("report.ini");
  CheckResult missing = Check(false);
  EXPECT_EQ(missing.Lines("report.ini"),
            (std::vector<std::string>{"report.ini: error: the configuration file does not exist.",
                                      kOneError}));
  EXPECT_EQ(missing.ExitStatus(), 2);
}

}  // namespace
}  // namespace vantrelle
