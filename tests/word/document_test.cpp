#include "word/document.h"

#include <fstream>

#include "docx_fixture.h"
#include "base/error.h"
#include "word/application.h"

namespace vantrelle {
namespace {

using testing::Tc;

constexpr const char* kNoSuchMember = "The requested member of the collection does not exist.";

class DocumentTest : public testing::ScratchTest {
 protected:
  Document& Open(const std::filesystem::path& path) { return word_.Open(path); }
  /// The description of the Error that \a action throws.
  template <typename F>
  std::string ErrorOf(F&& action) {
    try {
      action();
    } catch (const Error& e) {
      return e.what();
    }
    return "(no error)";
  }
  std::string MainXml(const std::filesystem::path& path) {
    return testing::ReadZip(path)["word/document.xml"];
  }
  Application word_;
};

// A 3 x 2 table: heading row, pattern row (right-aligned, bold, shaded), last row.
const std::string kTable =
    "<w:tbl><w:tblGrid><w:gridCol w:w=\"1000\"/><w:gridCol w:w=\"2000\"/></w:tblGrid>"
    "<w:tr>" + Tc("H1") + Tc("H2") + "</w:tr>"
    "<w:tr><w:tc><w:tcPr><w:shd w:val=\"clear\" w:fill=\"FF0000\"/></w:tcPr><w:p><w:pPr><w:jc "
    "w:val=\"right\"/></w:pPr><w:r><w:rPr><w:b/></w:rPr><w:t>#,##0</w:t></w:r></w:p></w:tc>" +
    Tc("P2") + "</w:tr><w:tr>" + Tc("L1") + Tc("L2") + "</w:tr></w:tbl>";

TEST_F(DocumentTest, CellTextJoinsParagraphsAndEndsWithCellMark) {
  auto path = MakeDocx(
      "<w:tbl><w:tr><w:tc><w:p><w:r><w:t>a</w:t><w:tab/><w:t>x</w:t><w:br/><w:t>y</w:t></w:r>"
      "</w:p><w:p><w:pPr><w:tabs><w:tab w:val=\"left\" w:pos=\"1\"/></w:tabs></w:pPr><w:r>"
      "<w:fldChar w:fldCharType=\"begin\"/></w:r><w:r><w:instrText>PAGE</w:instrText></w:r><w:r>"
      "<w:fldChar w:fldCharType=\"separate\"/></w:r><w:r><w:t>7</w:t></w:r><w:r><w:fldChar "
      "w:fldCharType=\"end\"/></w:r></w:p></w:tc><w:tc><w:p/></w:tc></w:tr></w:tbl>");
  Document& doc = Open(path);
  EXPECT_EQ(doc.TableItem(1).CellAt(1, 1).Text(), "a\tx\vy\r7\r\a");
  EXPECT_EQ(doc.TableItem(1).CellAt(1, 2).Text(), "\r\a");
}

TEST_F(DocumentTest, TablesAreTopLevelOnesInDocumentOrderIncludingContentControls) {
  std::string nested = "<w:tbl><w:tr>" + Tc("inner") + "</w:tr></w:tbl>";
  auto path = MakeDocx("<w:tbl><w:tr><w:tc>" + nested + "<w:p/></w:tc></w:tr></w:tbl>" +
                       "<w:sdt><w:sdtPr/><w:sdtContent><w:tbl><w:tr>" + Tc("second") +
                       "</w:tr></w:tbl></w:sdtContent></w:sdt>");
  Document& doc = Open(path);
  EXPECT_EQ(doc.TableCount(), 2);
  EXPECT_EQ(doc.TableItem(2).CellAt(1, 1).Text(), "second\r\a");
  for (int n : {0, 3, -1}) {
    try {
      doc.TableItem(n);
      ADD_FAILURE() << n;
    } catch (const Error& e) {
      EXPECT_EQ(e.what(), std::string(kNoSuchMember) + " (Table " + std::to_string(n) +
                              ": the report has 2 tables.)");
      EXPECT_EQ(e.Number(), kErrNoSuchMember);
    }
  }
}

TEST_F(DocumentTest, MissingAndMergedCellsDoNotExist) {
  auto path = MakeDocx("<w:tbl><w:tr>" + Tc("a", "<w:vMerge w:val=\"restart\"/>") + Tc("b") +
                       Tc("c") + "</w:tr><w:tr>" + Tc("", "<w:vMerge/>") + Tc("e") +
                       "</w:tr><w:tr>" + Tc("f", "<w:hMerge w:val=\"restart\"/>") +
                       Tc("", "<w:hMerge/>") + Tc("g") + "</w:tr></w:tbl>");
  Document& doc = Open(path);
  Table& table = doc.TableItem(1);
  EXPECT_EQ(table.RowCount(), 3);
  EXPECT_EQ(table.ColumnCount(), 3);
  EXPECT_EQ(table.CellAt(2, 2).Text(), "e\r\a");
  EXPECT_EQ(table.CellAt(3, 2).Text(), "g\r\a") << "horizontally merged cells are one";
  // The message names the cell and why it is not there, as authors count.
  const std::tuple<int, int, const char*> missing[] = {
      {2, 1, "it is covered by a vertical merge"}, {2, 3, "row 2 has 2 cells"},
      {3, 3, "row 3 has 2 cells"},                 {4, 1, "the table has 3 rows"},
      {0, 1, "the table has 3 rows"},              {1, 0, "the table has 3 rows"},
      {1, 4, "row 1 has 3 cells"}};
  for (auto [r, c, why] : missing) {
    EXPECT_EQ(ErrorOf([&, r = r, c = c] { table.CellAt(r, c); }),
              std::string(kNoSuchMember) + " (Cell (" + std::to_string(r) + "," +
                  std::to_string(c) + ") of table 1: " + why + ".)");
  }
}

TEST_F(DocumentTest, WrittenTextKeepsTheCellsLookAndSurvivesSaving) {
  auto path = MakeDocx(kTable);
  Document& doc = Open(path);
  doc.TableItem(1).CellAt(2, 1).SetText("1,234\rsecond line");
  doc.TableItem(1).CellAt(2, 2).SetText(doc.TableItem(1).CellAt(1, 1).Text());
  doc.Save();
  doc.Close();

  Document& again = Open(path);
  EXPECT_EQ(again.TableItem(1).CellAt(2, 1).Text(), "1,234\rsecond line\r\a");
  EXPECT_EQ(again.TableItem(1).CellAt(2, 2).Text(), "H1\r\a") << "the cell mark is not copied";
  std::string xml = MainXml(path);
  EXPECT_NE(xml.find("<w:p><w:pPr><w:jc w:val=\"right\"/></w:pPr><w:r><w:rPr><w:b/></w:rPr>"
                     "<w:t>second line</w:t></w:r></w:p>"),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<w:shd w:val=\"clear\" w:fill=\"FF0000\"/>"), std::string::npos);
}

TEST_F(DocumentTest, TextWrittenIntoAnEmptyCellTakesItsParagraphMarksLook) {
  auto path = MakeDocx(
      "<w:tbl><w:tr><w:tc><w:p><w:pPr><w:jc w:val=\"center\"/><w:rPr><w:ins w:id=\"1\"/>"
      "<w:i/></w:rPr></w:pPr></w:p></w:tc></w:tr></w:tbl>");
  Document& doc = Open(path);
  doc.TableItem(1).CellAt(1, 1).SetText("x");
  doc.Save();
  EXPECT_NE(MainXml(path).find("<w:p><w:pPr><w:jc w:val=\"center\"/><w:rPr><w:ins w:id=\"1\"/>"
                               "<w:i/></w:rPr></w:pPr><w:r><w:rPr><w:i/></w:rPr><w:t>x</w:t>"),
            std::string::npos)
      << MainXml(path);
}

TEST_F(DocumentTest, TextStaysInACellsContentControlUnlessItIsBoundToData) {
  auto control = [](const std::string& properties) {
    return "<w:tc><w:sdt><w:sdtPr>" + properties +
           "</w:sdtPr><w:sdtContent><w:p><w:r><w:t>old</w:t></w:r></w:p></w:sdtContent>"
           "</w:sdt></w:tc>";
  };
  auto path = MakeDocx("<w:tbl><w:tr>" + control("<w:tag w:val=\"a\"/>") +
                       control("<w:dataBinding w:xpath=\"/x\"/>") + "</w:tr></w:tbl>");
  Document& doc = Open(path);
  doc.TableItem(1).CellAt(1, 1).SetText("one\rtwo");
  doc.TableItem(1).CellAt(1, 2).SetText("three\rfour");
  EXPECT_EQ(doc.TableItem(1).CellAt(1, 2).Text(), "three\rfour\r\a");
  doc.Save();
  std::string xml = MainXml(path);
  EXPECT_NE(xml.find("<w:tc><w:sdt><w:sdtPr><w:tag w:val=\"a\"/></w:sdtPr><w:sdtContent><w:p><w:r>"
                     "<w:t>one</w:t></w:r></w:p><w:p><w:r><w:t>two</w:t></w:r></w:p>"
                     "</w:sdtContent></w:sdt></w:tc>"),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<w:tc><w:p><w:r><w:t>three</w:t></w:r></w:p><w:p><w:r><w:t>four</w:t>"),
            std::string::npos)
      << xml;
}

TEST_F(DocumentTest, BoundControlsAroundTheCellRowOrTableGiveWayToTheText) {
  auto wrap = [](const std::string& properties, const std::string& content) {
    return "<w:sdt><w:sdtPr>" + properties + "</w:sdtPr><w:sdtContent>" + content +
           "</w:sdtContent></w:sdt>";
  };
  const std::string bound = "<w:dataBinding w:xpath=\"/x\" w:storeItemID=\"{1}\"/>";
  const std::string tag = "<w:tag w:val=\"keep\"/>";
  // Table 1 in a bound control; table 2 with a bound row and a bound cell
  // inside an unbound one; both tables stay numbered 1 and 2.
  auto path = MakeDocx(wrap(bound, "<w:tbl><w:tr>" + Tc("a") + "</w:tr></w:tbl>") + "<w:p/>" +
                       "<w:tbl>" + wrap(bound, "<w:tr>" + Tc("b") + Tc("c") + "</w:tr>") +
                       "<w:tr>" + wrap(tag, wrap(bound, Tc("d"))) + Tc("e") + "</w:tr></w:tbl>");
  Document& doc = Open(path);
  doc.TableItem(1).CellAt(1, 1).SetText("one");
  doc.TableItem(2).CellAt(1, 1).SetText("two");
  doc.TableItem(2).CellAt(2, 1).SetText("three");
  EXPECT_EQ(doc.TableItem(2).CellAt(1, 2).Text(), "c\r\a");
  doc.Save();
  doc.Close();
  std::string xml = MainXml(path);
  EXPECT_EQ(xml.find("dataBinding"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<w:sdt><w:sdtPr>" + tag + "</w:sdtPr><w:sdtContent><w:tc>"),
            std::string::npos)
      << xml;
  Document& again = Open(path);
  ASSERT_EQ(again.TableCount(), 2);
  EXPECT_EQ(again.TableItem(1).CellAt(1, 1).Text(), "one\r\a");
  EXPECT_EQ(again.TableItem(2).CellAt(1, 1).Text(), "two\r\a");
  EXPECT_EQ(again.TableItem(2).CellAt(1, 2).Text(), "c\r\a");
  EXPECT_EQ(again.TableItem(2).CellAt(2, 1).Text(), "three\r\a");
  EXPECT_EQ(again.TableItem(2).CellAt(2, 2).Text(), "e\r\a");
}

TEST_F(DocumentTest, UnsafeTextIsMadeSafe) {
  auto path = MakeDocx(kTable);
  Document& doc = Open(path);
  // Control characters, an invalid UTF-8 byte, line feeds, tabs, markup.
  doc.TableItem(1).CellAt(1, 1).SetText(std::string("a\x01" "b\xFF\nc\td\x0B<&]]>\x07", 15));
  doc.TableItem(1).CellAt(1, 2).SetText(" lead\r\ntrail ");
  doc.Save();
  doc.Close();
  Document& again = Open(path);
  EXPECT_EQ(again.TableItem(1).CellAt(1, 1).Text(), "ab\xEF\xBF\xBD\vc\td\v<&]]>\r\a");
  EXPECT_EQ(again.TableItem(1).CellAt(1, 2).Text(), " lead\rtrail \r\a");
}

TEST_F(DocumentTest, PageAndColumnBreaksAreWrittenAsBreaksAndReadBack) {
  auto path = MakeDocx(kTable);
  Document& doc = Open(path);
  doc.TableItem(1).CellAt(1, 1).SetText(
      "a\fb\x0E"
      "c\rd\f");
  doc.Save();
  doc.Close();
  std::string xml = testing::ReadZip(path)["word/document.xml"];
  EXPECT_NE(xml.find("<w:t>a</w:t><w:br w:type=\"page\"/><w:t>b</w:t><w:br w:type=\"column\"/>"
                     "<w:t>c</w:t>"),
            std::string::npos)
      << xml;
  Document& again = Open(path);
  EXPECT_EQ(again.TableItem(1).CellAt(1, 1).Text(),
            "a\fb\x0E"
            "c\rd\f\r\a");
}

TEST_F(DocumentTest, InsertedRowsAreEmptyCopiesAboveTheSelection) {
  auto path = MakeDocx(kTable);
  Document& doc = Open(path);
  doc.TableItem(1).CellAt(2, 2).Select();
  word_.GetSelection().InsertRows(3);
  Table& table = doc.TableItem(1);
  ASSERT_EQ(table.RowCount(), 6);
  for (int r = 2; r <= 4; ++r) EXPECT_EQ(table.CellAt(r, 1).Text(), "\r\a");
  EXPECT_EQ(table.CellAt(5, 1).Text(), "#,##0\r\a");
  EXPECT_EQ(table.CellAt(6, 2).Text(), "L2\r\a");
  // A new row written like the pattern row looks like it.
  table.CellAt(2, 1).SetText("9");
  doc.Save();
  EXPECT_NE(MainXml(path).find("<w:tc><w:tcPr><w:shd w:val=\"clear\" w:fill=\"FF0000\"/></w:tcPr>"
                               "<w:p><w:pPr><w:jc w:val=\"right\"/></w:pPr><w:r><w:rPr><w:b/>"
                               "</w:rPr><w:t>9</w:t>"),
            std::string::npos);
}

TEST_F(DocumentTest, InsertedColumnIsEmptyLeftOfTheSelectionAndInTheGrid) {
  auto path = MakeDocx(kTable);
  Document& doc = Open(path);
  doc.TableItem(1).CellAt(1, 2).Select();
  word_.GetSelection().InsertColumns();
  word_.GetSelection().InsertColumns();
  Table& table = doc.TableItem(1);
  EXPECT_EQ(table.ColumnCount(), 4);
  for (int r = 1; r <= 3; ++r) {
    EXPECT_EQ(table.CellAt(r, 2).Text(), "\r\a");
    EXPECT_EQ(table.CellAt(r, 3).Text(), "\r\a");
  }
  EXPECT_EQ(table.CellAt(1, 4).Text(), "H2\r\a");
  doc.Save();
  std::string xml = MainXml(path);
  std::size_t grid_columns = 0;
  for (std::size_t at = 0; (at = xml.find("<w:gridCol ", at)) != std::string::npos; ++at) {
    ++grid_columns;
  }
  EXPECT_EQ(grid_columns, 4u);
}

TEST_F(DocumentTest, RepeatedColumnInsertionsGrowLeftOfThePatternColumn) {
  // The growth of a transposed fill: three columns before pattern column 2,
  // then every row of the new columns gets the pattern column's text.
  auto path = MakeDocx(kTable);
  Document& doc = Open(path);
  doc.TableItem(1).CellAt(1, 2).Select();
  for (int i = 0; i < 3; ++i) word_.GetSelection().InsertColumns();
  ASSERT_EQ(doc.TableItem(1).ColumnCount(), 5);
  for (int m = 2; m <= 5; ++m) {
    for (int k = 1; k <= doc.TableItem(1).RowCount(); ++k) {
      doc.TableItem(1).CellAt(k, m).SetText(doc.TableItem(1).CellAt(k, 5).Text());
    }
  }
  for (int m = 2; m <= 5; ++m) {
    EXPECT_EQ(doc.TableItem(1).CellAt(1, m).Text(), "H2\r\a");
    EXPECT_EQ(doc.TableItem(1).CellAt(2, m).Text(), "P2\r\a");
  }
  EXPECT_EQ(doc.TableItem(1).CellAt(2, 1).Text(), "#,##0\r\a");
}

TEST_F(DocumentTest, QuitClosesDocumentsWithoutSaving) {
  auto path = MakeDocx(kTable);
  std::string before = MainXml(path);
  Document& doc = Open(path);
  doc.TableItem(1).CellAt(1, 1).SetText("unsaved");
  doc.TableItem(1).CellAt(1, 1).Select();
  word_.Quit();
  EXPECT_EQ(MainXml(path), before);
  EXPECT_EQ(ErrorOf([&] { word_.GetSelection().InsertRows(1); }),
            "Cannot insert rows: the selection is not in a table.");
}

TEST_F(DocumentTest, SelectionOutsideATableOrBadCountIsAnError) {
  auto path = MakeDocx(kTable);
  Document& doc = Open(path);
  EXPECT_EQ(ErrorOf([&] { word_.GetSelection().InsertRows(1); }),
            "Cannot insert rows: the selection is not in a table.");
  doc.TableItem(1).CellAt(1, 1).Select();
  EXPECT_EQ(ErrorOf([&] { word_.GetSelection().InsertRows(0); }),
            "Cannot insert rows: the number of rows must be at least 1 (it is 0).");
  doc.Close();
  EXPECT_EQ(ErrorOf([&] { word_.GetSelection().InsertColumns(); }),
            "Cannot insert columns: the selection is not in a table.");
}

TEST_F(DocumentTest, VariablesAreCreatedInANewSettingsPart) {
  auto path = MakeDocx("<w:p/>");
  Document& doc = Open(path);
  EXPECT_EQ(doc.GetVariable("Region"), std::nullopt);
  doc.SetVariable("Region", "North\x01 & \"South\"");
  doc.SetVariable("Lines", "a\tb\r\nc");
  doc.Save();
  doc.Close();
  Document& again = Open(path);
  EXPECT_EQ(again.GetVariable("REGION"), "North & \"South\"");
  EXPECT_EQ(again.GetVariable("lines"), "a\tb\r\nc");
  auto parts = testing::ReadZip(path);
  EXPECT_NE(parts["[Content_Types].xml"].find("PartName=\"/word/settings.xml\""), std::string::npos);
  EXPECT_NE(parts["word/_rels/document.xml.rels"].find("Target=\"settings.xml\""),
            std::string::npos);
}

TEST_F(DocumentTest, VariablesGoBeforeTheSettingsThatFollowThem) {
  auto path = MakeDocx("<w:p/>", {{"word/settings.xml",
                                   std::string("<w:settings ") + testing::kW +
                                       "><w:zoom w:percent=\"100\"/><w:rsids/></w:settings>"},
                                  {"word/_rels/document.xml.rels",
                                   "<Relationships xmlns=\"http://schemas.openxmlformats.org/"
                                   "package/2006/relationships\"><Relationship Id=\"rId9\" "
                                   "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                                   "relationships/settings\" Target=\"settings.xml\"/>"
                                   "</Relationships>"}});
  Document& doc = Open(path);
  doc.SetVariable("a", "1");
  doc.SetVariable("A", "2");
  doc.Save();
  EXPECT_EQ(testing::ReadZip(path)["word/settings.xml"],
            std::string("<w:settings ") + testing::kW +
                "><w:zoom w:percent=\"100\"/><w:docVars><w:docVar w:name=\"a\" w:val=\"2\"/>"
                "</w:docVars><w:rsids/></w:settings>");
  EXPECT_EQ(ErrorOf([&] { doc.SetVariable("", "x"); }), "A document variable needs a name.");
}

TEST_F(DocumentTest, FieldsAreUpdatedInMainTextAndOnSaveInHeaders) {
  std::string complex =
      "<w:p><w:r><w:fldChar w:fldCharType=\"begin\"/></w:r><w:r><w:rPr><w:i/></w:rPr>"
      "<w:instrText xml:space=\"preserve\"> DOCVARIABLE  \"Region\" \\* FirstCap </w:instrText>"
      "</w:r><w:r><w:fldChar w:fldCharType=\"separate\"/></w:r><w:r><w:rPr><w:b/></w:rPr>"
      "<w:t>old</w:t></w:r><w:r><w:t>er</w:t></w:r><w:r><w:fldChar w:fldCharType=\"end\"/>"
      "</w:r></w:p>";
  std::string body = complex +
                     "<w:p><w:fldSimple w:instr=\"DOCVARIABLE Region \\* Upper\"><w:r><w:t>x</w:t>"
                     "</w:r></w:fldSimple><w:fldSimple w:instr=\"DOCVARIABLE Missing\"/>"
                     "<w:fldSimple w:instr=\"PAGE\"><w:r><w:t>3</w:t></w:r></w:fldSimple>"
                     "<w:fldSimple w:instr=\"DOCVARIABLE Region\" w:fldLock=\"1\"><w:r><w:t>"
                     "locked</w:t></w:r></w:fldSimple></w:p>";
  std::string header = std::string("<w:hdr ") + testing::kW +
                       "><w:p><w:fldSimple w:instr=\" DATE \\@ &quot;'Year' yyyy&quot; \"/>"
                       "</w:p></w:hdr>";
  auto path = MakeDocx(body, {{"word/header1.xml", header},
                              {"word/_rels/document.xml.rels",
                               "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/"
                               "2006/relationships\"><Relationship Id=\"rId1\" Type=\"http://"
                               "schemas.openxmlformats.org/officeDocument/2006/relationships/"
                               "header\" Target=\"header1.xml\"/></Relationships>"}});
  Document& doc = Open(path);
  doc.SetVariable("region", "north-west");
  ASSERT_EQ(doc.FieldCount(), 5);
  for (int i = 1; i <= 5; ++i) doc.UpdateField(i);
  EXPECT_EQ(ErrorOf([&] { doc.UpdateField(6); }), kNoSuchMember);
  doc.Save();
  std::string xml = MainXml(path);
  EXPECT_NE(xml.find("<w:fldChar w:fldCharType=\"separate\"/></w:r><w:r><w:rPr><w:b/></w:rPr>"
                     "<w:t>North-west</w:t></w:r><w:r><w:fldChar"),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<w:t>NORTH-WEST</w:t>"), std::string::npos);
  EXPECT_NE(xml.find("<w:t>Error! No document variable supplied.</w:t>"), std::string::npos);
  EXPECT_NE(xml.find("<w:t>3</w:t>"), std::string::npos) << "PAGE keeps its result";
  EXPECT_NE(xml.find("<w:t>locked</w:t>"), std::string::npos);
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_NE(testing::ReadZip(path)["word/header1.xml"].find(
                "<w:t>Year " + std::to_string(local.tm_year + 1900) + "</w:t>"),
            std::string::npos);
}

TEST_F(DocumentTest, HeaderFieldsAreRefreshedWhenTheMainTextHasNone) {
  std::string header = std::string("<w:ftr ") + testing::kW +
                       "><w:p><w:fldSimple w:instr=\"DOCVARIABLE v\"/></w:p></w:ftr>";
  auto path = MakeDocx("<w:p/>", {{"word/footer1.xml", header},
                                  {"word/_rels/document.xml.rels",
                                   "<Relationships xmlns=\"http://schemas.openxmlformats.org/"
                                   "package/2006/relationships\"><Relationship Id=\"rId1\" "
                                   "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                                   "relationships/footer\" Target=\"footer1.xml\"/>"
                                   "</Relationships>"}});
  Document& doc = Open(path);
  doc.SetVariable("v", "in the footer");
  EXPECT_EQ(doc.FieldCount(), 0);
  doc.Save();
  EXPECT_NE(testing::ReadZip(path)["word/footer1.xml"].find("<w:t>in the footer</w:t>"),
            std::string::npos);
}

TEST_F(DocumentTest, FieldsOfNotesCommentsAndBothBranchesOfAlternateContentAreRefreshed) {
  auto story = [](const std::string& root, const std::string& item) {
    return "<w:" + root + " " + testing::kW + "><w:" + item +
           " w:id=\"1\"><w:p><w:fldSimple "
           "w:instr=\"DOCVARIABLE v\"><w:r><w:t>old</w:t></w:r></w:fldSimple></w:p></w:" +
           item + "></w:" + root + ">";
  };
  auto relationship = [](const std::string& type, const std::string& target) {
    return "<Relationship Id=\"r" + type +
           "\" Type=\"http://schemas.openxmlformats.org/"
           "officeDocument/2006/relationships/" +
           type + "\" Target=\"" + target + "\"/>";
  };
  auto text_box = [](const std::string& old) {
    return "<w:txbxContent><w:p><w:fldSimple w:instr=\"DOCVARIABLE v\"><w:r><w:t>" + old +
           "</w:t></w:r></w:fldSimple></w:p></w:txbxContent>";
  };
  std::string body =
      "<w:p><w:r><mc:AlternateContent xmlns:mc=\"http://schemas.openxmlformats.org/"
      "markup-compatibility/2006\"><mc:Choice Requires=\"wps\"><w:drawing>" +
      text_box("old choice") + "</w:drawing></mc:Choice><mc:Fallback><w:pict>" +
      text_box("old fallback") + "</w:pict></mc:Fallback></mc:AlternateContent></w:r></w:p>";
  auto path = MakeDocx(
      body,
      {{"word/footnotes.xml", story("footnotes", "footnote")},
       {"word/endnotes.xml", story("endnotes", "endnote")},
       {"word/comments.xml", story("comments", "comment")},
       {"word/_rels/document.xml.rels",
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
        "relationships\">" +
            relationship("footnotes", "footnotes.xml") + relationship("endnotes", "endnotes.xml") +
            relationship("comments", "comments.xml") + "</Relationships>"}});
  Document& doc = Open(path);
  doc.SetVariable("v", "fresh");
  int count = doc.FieldCount();
  for (int i = 1; i <= count; ++i) doc.UpdateField(i);
  doc.Save();
  testing::Parts parts = testing::ReadZip(path);
  std::string xml = parts["word/document.xml"];
  EXPECT_EQ(xml.find("old"), std::string::npos) << xml;
  // One result in the drawing, one in its fallback.
  EXPECT_LT(xml.find("<w:t>fresh</w:t>"), xml.find("</w:drawing>"));
  EXPECT_GT(xml.rfind("<w:t>fresh</w:t>"), xml.find("<mc:Fallback>"));
  for (const char* part : {"word/footnotes.xml", "word/endnotes.xml", "word/comments.xml"}) {
    EXPECT_NE(parts[part].find("<w:t>fresh</w:t>"), std::string::npos) << part;
    EXPECT_EQ(parts[part].find("old"), std::string::npos) << part;
  }
}

TEST_F(DocumentTest, TemplateCopiedToADocumentNameGetsTheDocumentContentType) {
  std::string template_type =
      "application/vnd.openxmlformats-officedocument.wordprocessingml.template.main+xml";
  auto docx = dir_ / "report.docx";
  testing::WriteZip(docx, {{"[Content_Types].xml", testing::ContentTypes(template_type)},
                           {"_rels/.rels", testing::PackageRels()},
                           {"word/document.xml", testing::DocumentXml("<w:p/>")}});
  auto dotx = dir_ / "kept.dotx";
  std::filesystem::copy_file(docx, dotx);
  Open(docx).Save();
  Open(dotx).Save();
  EXPECT_NE(testing::ReadZip(docx)["[Content_Types].xml"].find("document.main+xml"),
            std::string::npos);
  EXPECT_NE(testing::ReadZip(dotx)["[Content_Types].xml"].find("template.main+xml"),
            std::string::npos);
}

TEST_F(DocumentTest, MainPartIsFoundThroughRelationshipsAndAnyPrefix) {
  auto path = dir_ / "odd.docx";
  testing::WriteZip(
      path, {{"[Content_Types].xml", testing::ContentTypes()},
             {"_rels/.rels", testing::PackageRels("/word/main2.xml")},
             {"word/main2.xml",
              "<ns0:document xmlns:ns0=\"http://schemas.openxmlformats.org/wordprocessingml/2006/"
              "main\"><ns0:body><ns0:tbl><ns0:tr><ns0:tc><ns0:p><ns0:r><ns0:t>x</ns0:t></ns0:r>"
              "</ns0:p></ns0:tc></ns0:tr></ns0:tbl></ns0:body></ns0:document>"}});
  Document& doc = Open(path);
  doc.TableItem(1).CellAt(1, 1).SetText("a\rb");
  doc.Save();
  EXPECT_NE(testing::ReadZip(path)["word/main2.xml"].find(
                "<ns0:p><ns0:r><ns0:t>a</ns0:t></ns0:r></ns0:p><ns0:p><ns0:r><ns0:t>b</ns0:t>"),
            std::string::npos);
}

// Bad input: every case is refused with a description, and the engine goes on.
class BadInputTest : public DocumentTest {
 protected:
  void ExpectRefused(const std::filesystem::path& path, const std::string& words,
                     Application& word) {
    std::string message = ErrorOf([&] { word.Open(path); });
    EXPECT_NE(message.find(words), std::string::npos) << message;
    EXPECT_NE(message.find(path.filename().string()), std::string::npos) << message;
    Document& good = word.Open(MakeDocx(kTable, {}, "good.docx"));
    EXPECT_EQ(good.TableItem(1).CellAt(1, 1).Text(), "H1\r\a");
    good.Close();
  }
  void ExpectRefused(const std::filesystem::path& path, const std::string& words) {
    ExpectRefused(path, words, word_);
  }
};

TEST_F(BadInputTest, NotAPackage) {
  std::ofstream(dir_ / "text.docx") << "just some text";
  ExpectRefused(dir_ / "text.docx", "it is not an Office Open XML package (not a valid zip file");
  ExpectRefused(dir_ / "missing.docx", "the file does not exist");
  std::ofstream(dir_ / "old.doc", std::ios::binary)
      << std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) << std::string(600, '\0')
      << std::string("W\0o\0r\0d\0D\0o\0c\0u\0m\0e\0n\0t", 24);
  ExpectRefused(dir_ / "old.doc", "old binary Word document");
}

TEST_F(BadInputTest, PackageWithoutAWordDocument) {
  testing::WriteZip(dir_ / "empty.docx", {{"a.txt", "x"}});
  ExpectRefused(dir_ / "empty.docx", "it has no [Content_Types].xml");
  testing::WriteZip(dir_ / "nodoc.docx", {{"[Content_Types].xml", testing::ContentTypes()},
                                          {"_rels/.rels", testing::PackageRels()}});
  ExpectRefused(dir_ / "nodoc.docx", "the package holds no Word document");
}

TEST_F(BadInputTest, MalformedOrDoctypeXml) {
  ExpectRefused(MakeDocx("<w:p>", {}, "malformed.docx"),
                "The part \"word/document.xml\" of ");
  ExpectRefused(MakeDocx("<w:p>", {}, "malformed2.docx"), "is not well-formed XML");
  auto path = dir_ / "xxe.docx";
  testing::WriteZip(path, {{"[Content_Types].xml", testing::ContentTypes()},
                           {"_rels/.rels", testing::PackageRels()},
                           {"word/document.xml",
                            "<?xml version=\"1.0\"?><!DOCTYPE d [<!ENTITY e SYSTEM "
                            "\"file:///etc/passwd\">]><w:document " +
                                std::string(testing::kW) + "><w:body>&e;</w:body></w:document>"}});
  ExpectRefused(path, "document type declaration (DOCTYPE)");
}

TEST_F(BadInputTest, AbsurdlyDeepNestingIsRefused) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<w:sdt><w:sdtContent>";
  for (int i = 0; i < 100000; ++i) deep += "</w:sdtContent></w:sdt>";
  ExpectRefused(MakeDocx(deep, {}, "deep.docx"), "nests its elements more than 2000 levels deep");
}

TEST_F(BadInputTest, PartInflatingBeyondTheLimitIsAZipBomb) {
  Application small({.max_part_bytes = 1 << 20, .max_total_bytes = 4 << 20});
  auto path = MakeDocx("<w:p/>", {{"word/media/bomb.bin", std::string(3 << 20, '\0')}}, "bomb.docx");
  ExpectRefused(path, "the part \"word/media/bomb.bin\" inflates beyond the size limit", small);
  auto total = MakeDocx("<w:p/>",
                        {{"word/a.bin", std::string(900 << 10, 'a')},
                         {"word/b.bin", std::string(900 << 10, 'b')},
                         {"word/c.bin", std::string(900 << 10, 'c')},
                         {"word/d.bin", std::string(900 << 10, 'd')},
                         {"word/e.bin", std::string(900 << 10, 'e')}},
                        "total.docx");
  ExpectRefused(total, "inflates beyond the size limit of a document (4 MiB)", small);
}

TEST_F(BadInputTest, SaveIntoAMissingFolderOrOverAReadOnlyFileFailsCleanly) {
  auto path = MakeDocx(kTable);
  Document& doc = Open(path);
  doc.TableItem(1).CellAt(1, 1).SetText("changed");
  std::string before = testing::ReadZip(path)["word/document.xml"];
  std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::group_read);
  EXPECT_EQ(ErrorOf([&] { doc.Save(); }), "Cannot save \"" + path.string() + "\": the file is read-only.");
  EXPECT_EQ(testing::ReadZip(path)["word/document.xml"], before);
  std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  doc.Save();
  EXPECT_NE(testing::ReadZip(path)["word/document.xml"].find("changed"), std::string::npos);

  auto moved = dir_ / "sub" / "doc.docx";
  std::filesystem::create_directories(moved.parent_path());
  std::filesystem::copy_file(path, moved);
  Document& other = Open(moved);
  other.SetVariable("x", "y");
  std::filesystem::remove_all(moved.parent_path());
  EXPECT_EQ(ErrorOf([&] { other.Save(); }), "Cannot save \"" + moved.string() +
                                                "\": the folder \"" +
                                                moved.parent_path().string() +
                                                "\" does not exist.");
  std::filesystem::create_directories(moved.parent_path());
  std::filesystem::copy_file(path, moved);
  other.Save();
  EXPECT_NE(testing::ReadZip(moved)["word/settings.xml"].find("w:name=\"x\""), std::string::npos);
}

}  // namespace
}  // namespace vantrelle
