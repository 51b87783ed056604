#include "word/template_outline.h"

#include <gtest/gtest.h>

#include "docx_fixture.h"
#include "base/error.h"
#include "word/application.h"

namespace vantrelle {
namespace {

using testing::Tc;

std::string Table(const std::string& rows) { return "<w:tbl>" + rows + "</w:tbl>"; }
std::string Row(const std::string& cells) { return "<w:tr>" + cells + "</w:tr>"; }

// A text box as current writers save it: the drawing, and the same box
// again as the fallback for older readers.
std::string TextBox(const std::string& content) {
  const std::string box = "<w:txbxContent>" + content + "<w:p/></w:txbxContent>";
  return "<w:p><w:r><mc:AlternateContent xmlns:mc=\"http://schemas.openxmlformats.org/"
         "markup-compatibility/2006\"><mc:Choice Requires=\"wps\"><w:drawing><wps:txbx "
         "xmlns:wps=\"http://schemas.microsoft.com/office/word/2010/wordprocessingShape\">" +
         box +
         "</wps:txbx></w:drawing></mc:Choice><mc:Fallback><w:pict><v:textbox "
         "xmlns:v=\"urn:schemas-microsoft-com:vml\">" +
         box + "</v:textbox></w:pict></mc:Fallback></mc:AlternateContent></w:r></w:p>";
}

std::string Field(const std::string& code, const char* lock = "") {
  return std::string("<w:r><w:fldChar w:fldCharType=\"begin\"") + lock +
         "/></w:r><w:r><w:instrText>" + code +
         "</w:instrText></w:r><w:r><w:fldChar w:fldCharType=\"separate\"/></w:r><w:r><w:t>old"
         "</w:t></w:r><w:r><w:fldChar w:fldCharType=\"end\"/></w:r>";
}

class TemplateOutlineTest : public testing::ScratchTest {
 protected:
  std::filesystem::path MakeTemplate() {
    const std::string header = std::string("<w:hdr ") + testing::kW + ">" + Table(Row(Tc("Page"))) +
                               "<w:p>" + Field(" DATE \\@ yyyy ") + "</w:p></w:hdr>";
    const std::string body =
        "<w:p>" + Field(" DOCVARIABLE Title \\* Upper ") + Field(" PAGE ") +
        Field(" DOCVARIABLE Frozen ", " w:fldLock=\"1\"") + "</w:p>" +
        Table(Row(Tc("Region") + Tc("Amount", "<w:gridSpan w:val=\"2\"/>")) +
              Row(Tc("", "<w:vMerge w:val=\"restart\"/>") + Tc("#,##0") + Tc("0.0%")) +
              Row(Tc("", "<w:vMerge/>") + "<w:tc><w:tbl><w:tr>" + Tc("inner") +
                  "</w:tr></w:tbl><w:p/></w:tc>" + Tc("x"))) +
        TextBox(Table(Row(Tc("boxed")))) + "<w:sdt><w:sdtContent>" +
        Table(Row(Tc("wrapped") + Tc("#,##0.00"))) + "</w:sdtContent></w:sdt>";
    return MakeDocx(body, {{"word/header1.xml", header},
                           {"word/_rels/document.xml.rels",
                            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/"
                            "2006/relationships\"><Relationship Id=\"rId1\" Type=\"http://"
                            "schemas.openxmlformats.org/officeDocument/2006/relationships/"
                            "header\" Target=\"header1.xml\"/></Relationships>"}});
  }
};

TEST_F(TemplateOutlineTest, TablesAreNumberedAsTheRunNumbersThemAndPlaced) {
  const std::filesystem::path path = MakeTemplate();
  TemplateOutline outline = OutlineTemplate(path);
  std::vector<std::string> seen;
  for (const OutlineTable& table : outline.tables)
    seen.push_back(std::to_string(table.number) + " " + TableWhere(outline, table));
  EXPECT_EQ(seen, (std::vector<std::string>{"1 in the body", "0 nested in table 1 at cell (3,2)",
                                            "0 in a text box in the body", "2 in the body",
                                            "0 in the header (word/header1.xml)"}));
  EXPECT_EQ(outline.numbered_tables, 2);

  // The run's own numbering reaches the same tables.
  Application word;
  Document& doc = word.Open(path);
  EXPECT_EQ(doc.TableCount(), 2);
  EXPECT_EQ(doc.TableItem(1).CellAt(1, 1).Text(), "Region\r\a");
  EXPECT_EQ(doc.TableItem(2).CellAt(1, 2).Text(), "#,##0.00\r\a");
}

TEST_F(TemplateOutlineTest, MergedCellsKeepTheRunsCellNumbers) {
  TemplateOutline outline = OutlineTemplate(MakeTemplate());
  const OutlineTable& table = outline.tables[0];
  EXPECT_EQ(table.columns, 3);
  EXPECT_EQ(table.rows[0][1].span, 2);
  EXPECT_FALSE(table.rows[1][0].covered);
  EXPECT_TRUE(table.rows[2][0].covered);
  EXPECT_EQ(table.rows[1][2].text, "0.0%");
  const std::string expected =
      "Template \"t.docx\": 2 tables a run can fill, 3 it cannot reach; 4 fields.\n"
      "\n"
      "Table 1, in the body: 3 rows x 3 columns\n"
      "  merged cells: (1,2) spans 2 columns; (3,1) is covered by a vertical merge\n"
      "  row 1: \"Region\" \"Amount\" (spans 2)\n"
      "  row 2: \"\" \"#,##0\" \"0.0%\"\n"
      "  row 3: (covered) \"inner\\n\" \"x\"\n"
      "\n"
      "Table without a number (a run cannot fill it), nested in table 1 at cell (3,2): 1 "
      "row x 1 column\n";
  EXPECT_EQ(DescribeOutline("t.docx", outline).substr(0, expected.size()), expected);
}

TEST_F(TemplateOutlineTest, FieldsSayWhetherTheRunComputesThem) {
  TemplateOutline outline = OutlineTemplate(MakeTemplate());
  std::vector<std::string> seen;
  for (const OutlineField& field : outline.fields)
    seen.push_back(FieldWhere(field) + ": " + field.instruction + " -> " +
                   (field.computed ? "computed"
                    : field.locked ? "locked"
                                   : "kept"));
  EXPECT_EQ(seen,
            (std::vector<std::string>{"body: DOCVARIABLE Title \\* Upper -> computed",
                                      "body: PAGE -> kept", "body: DOCVARIABLE Frozen -> locked",
                                      "header (word/header1.xml): DATE \\@ yyyy -> computed"}));
  EXPECT_EQ(outline.fields[0].argument, "Title");
}

// A pattern or a field code that would steer a terminal is shown, in the
// text and the JSON alike, as escapes.
TEST_F(TemplateOutlineTest, ControlCharactersOfCellsAndFieldsAreEscaped) {
  const auto path = MakeDocx(Table(Row(Tc("a\xC2\x9B" "2J b\x7F"))) + "<w:p>" +
                                 Field("PAGE \xC2\x9B" "2J") + "</w:p>",
                             {});
  const TemplateOutline outline = OutlineTemplate(path);
  const std::string text = DescribeOutline(path.string(), outline);
  const std::string json = DescribeOutlineJson(path.string(), outline);
  EXPECT_NE(std::string::npos, text.find("a\\u009b2J b\\u007f")) << text;
  EXPECT_NE(std::string::npos, text.find("PAGE \\u009B2J")) << text;
  EXPECT_NE(std::string::npos, json.find("a\\u009b2J b\\u007f")) << json;
  EXPECT_NE(std::string::npos, json.find("PAGE \\u009b2J")) << json;
  for (const std::string& shown : {text, json})
    EXPECT_EQ(std::string::npos, shown.find("\xC2\x9B")) << shown;
}

TEST_F(TemplateOutlineTest, TemplateTheRunRefusesIsRefusedAlike) {
  std::filesystem::path path = dir_ / "old.doc";
  testing::WriteZip(path, {});
  std::FILE* file = std::fopen(path.c_str(), "wb");
  const unsigned char ole[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1, 0, 0, 0, 0};
  std::fwrite(ole, 1, sizeof ole, file);
  std::fclose(file);
  std::string from_outline, from_engine;
  try {
    OutlineTemplate(path);
  } catch (const Error& error) {
    from_outline = error.Description();
  }
  try {
    Application().Open(path);
  } catch (const Error& error) {
    from_engine = error.Description();
  }
  EXPECT_FALSE(from_outline.empty());
  EXPECT_EQ(from_outline, from_engine);
}

}  // namespace
}  // namespace vantrelle
