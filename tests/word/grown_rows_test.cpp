#include "word/grown_rows.h"

#include <pugixml.hpp>

#include <algorithm>
#include <numeric>
#include <set>

#include "docx_fixture.h"
#include "base/error.h"
#include "word/application.h"

namespace vantrelle {
namespace {

using testing::Tc;

class GrowthTest : public testing::ScratchTest {
 protected:
  std::string MainXml(const std::filesystem::path& path) {
    return testing::ReadZip(path)["word/document.xml"];
  }
  /// Grows table 1 by \a count copies of row \a row.
  void Grow(Document& doc, int row, int count) {
    doc.TableItem(1).CellAt(row, 1).Select();
    word_.GetSelection().InsertRowCopies(count);
  }
  template <typename F>
  std::string ErrorOf(F&& action) {
    try {
      action();
    } catch (const Error& e) {
      return e.what();
    }
    return "(no error)";
  }
  Application word_;
};

// A pattern row of plain cells: right-aligned bold numbers, an empty cell, a
// cell whose text keeps its blanks, a cell of two runs, and markup.
const std::string kPatternRow =
    "<w:tr w14:paraId=\"1A2B3C4D\" xmlns:w14=\"http://schemas.microsoft.com/office/word/2010/"
    "wordml\"><w:trPr><w:cantSplit/></w:trPr>"
    "<w:tc><w:tcPr><w:tcW w:w=\"1200\" w:type=\"dxa\"/></w:tcPr><w:p w14:paraId=\"00000001\">"
    "<w:pPr><w:jc w:val=\"right\"/></w:pPr><w:r><w:rPr><w:b/></w:rPr><w:t>#,##0</w:t></w:r>"
    "</w:p></w:tc>"
    "<w:tc><w:p><w:pPr><w:rPr><w:i/></w:rPr></w:pPr></w:p></w:tc>"
    "<w:tc><w:p><w:r><w:t xml:space=\"preserve\"> a </w:t></w:r></w:p></w:tc>"
    "<w:tc><w:p><w:r><w:t>x</w:t></w:r><w:r><w:rPr><w:u w:val=\"single\"/></w:rPr><w:t>y</w:t>"
    "</w:r></w:p><w:p><w:r><w:t>second</w:t></w:r></w:p></w:tc>"
    "</w:tr>";
const std::string kTable = "<w:tbl><w:tblGrid><w:gridCol/><w:gridCol/><w:gridCol/><w:gridCol/>"
                           "</w:tblGrid><w:tr>" +
                           Tc("H1") + Tc("H2") + Tc("H3") + Tc("H4") + "</w:tr>" + kPatternRow +
                           "<w:tr>" + Tc("L1") + Tc("L2") + Tc("L3") + Tc("L4") +
                           "</w:tr></w:tbl>";

// Texts of every kind a fill writes: plain, empty, blank-edged, markup,
// non-ASCII and invalid UTF-8, tabs and line breaks, paragraphs, page and
// column breaks.
const std::vector<std::string> kTexts = {
    "1,234",  "",         " lead", "trail ",      "a<b>&c\"'", "\xC3\xA9t\xC3\xA9",
    "bad\xFF", "a\tb",    "one\rtwo\r\nthree", "x\vy\n", "\r\a", "end\r\a",
    "\xEF\xBF\xBE", " \xEF\xBF\xBF", "page\fbreak", "\x0E" "column"};

TEST_F(GrowthTest, GrownRowsAreWrittenExactlyAsXmlRowsWouldBe) {
  // The same growth and writes, once in grown rows and once after they were
  // turned into XML rows (selecting a grown cell does that), give the same
  // document and read back the same texts.
  auto fast_path = MakeDocx(kTable, {}, "fast.docx");
  auto xml_path = MakeDocx(kTable, {}, "xml.docx");
  Document& fast = word_.Open(fast_path);
  Grow(fast, 2, 5);
  Document& xml = word_.Open(xml_path);
  Grow(xml, 2, 5);
  xml.TableItem(1).CellAt(3, 1).Select();  // turns the grown rows into XML rows
  ASSERT_EQ(fast.TableItem(1).RowCount(), 8);
  ASSERT_EQ(xml.TableItem(1).RowCount(), 8);
  for (int r = 2; r <= 7; ++r) {
    for (int c = 1; c <= 4; ++c) {
      EXPECT_EQ(fast.TableItem(1).CellAt(r, c).Text(), xml.TableItem(1).CellAt(r, c).Text());
    }
  }
  EXPECT_EQ(fast.TableItem(1).CellAt(2, 4).Text(), "xy\rsecond\r\a");
  int k = 0;
  for (int round = 0; round < 2; ++round) {
    for (int r = 2; r <= 6; ++r) {
      for (int c = 1; c <= 4; ++c, ++k) {
        const std::string& text = kTexts[static_cast<std::size_t>(k) % kTexts.size()];
        fast.TableItem(1).CellAt(r, c).SetText(text);
        xml.TableItem(1).CellAt(r, c).SetText(text);
        ASSERT_EQ(fast.TableItem(1).CellAt(r, c).Text(), xml.TableItem(1).CellAt(r, c).Text())
            << r << "," << c << ": " << text;
      }
    }
    // Each round leaves other texts in the cells: the second writes over
    // the first's.
    fast.Save();
    xml.Save();
    EXPECT_EQ(MainXml(fast_path), MainXml(xml_path)) << "round " << round;
  }
  ASSERT_NE(MainXml(fast_path).find("paraId=\"00000001\""), std::string::npos);
  EXPECT_EQ(MainXml(fast_path).find("paraId=\"00000001\""),
            MainXml(fast_path).rfind("paraId=\"00000001\""))
      << "ids are not copied";
}

TEST_F(GrowthTest, GrownRowsKeepThePatternRowsXmlAndSaveAfterRepeatedEdits) {
  auto path = MakeDocx(kTable);
  Document& doc = word_.Open(path);
  Grow(doc, 2, 2);
  doc.TableItem(1).CellAt(2, 1).SetText("7 & 8");
  doc.TableItem(1).CellAt(3, 3).SetText("");
  doc.Save();
  std::string xml = MainXml(path);
  // Each copy has paragraph ids of its own: the row's, then its paragraph's,
  // row after row, from the first the document does not use.
  auto copied_cell = [](const char* row_id, const char* paragraph_id) {
    return std::string("<w:tr w14:paraId=\"") + row_id +
           "\" xmlns:w14=\"http://schemas.microsoft.com/office/word/2010/wordml\">"
           "<w:trPr><w:cantSplit/></w:trPr><w:tc><w:tcPr><w:tcW w:w=\"1200\" w:type=\"dxa\"/>"
           "</w:tcPr><w:p w14:paraId=\"" +
           paragraph_id +
           "\"><w:pPr><w:jc w:val=\"right\"/></w:pPr><w:r><w:rPr><w:b/></w:rPr><w:t>";
  };
  EXPECT_NE(xml.find(copied_cell("00000002", "00000003") + "7 &amp; 8</w:t></w:r></w:p></w:tc>"),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find(copied_cell("00000004", "00000005") + "#,##0</w:t>"), std::string::npos);
  // Saved twice with more writes in between: the grown rows stay in place.
  doc.TableItem(1).CellAt(3, 1).SetText("9");
  doc.Save();
  doc.Close();
  Document& again = word_.Open(path);
  EXPECT_EQ(again.TableItem(1).RowCount(), 5);
  EXPECT_EQ(again.TableItem(1).CellAt(1, 1).Text(), "H1\r\a");
  EXPECT_EQ(again.TableItem(1).CellAt(2, 1).Text(), "7 & 8\r\a");
  EXPECT_EQ(again.TableItem(1).CellAt(3, 1).Text(), "9\r\a");
  EXPECT_EQ(again.TableItem(1).CellAt(3, 3).Text(), "\r\a");
  EXPECT_EQ(again.TableItem(1).CellAt(4, 1).Text(), "#,##0\r\a");
  EXPECT_EQ(again.TableItem(1).CellAt(5, 4).Text(), "L4\r\a");
}

TEST_F(GrowthTest, GrowingTwiceAndInsertingColumnsKeepsTheRowOrder) {
  auto path = MakeDocx(kTable);
  Document& doc = word_.Open(path);
  Grow(doc, 2, 2);  // rows 2-3 grown, pattern row 4
  doc.TableItem(1).CellAt(2, 1).SetText("a");
  doc.TableItem(1).CellAt(3, 1).SetText("b");
  Grow(doc, 4, 1);  // one more above the pattern row
  doc.TableItem(1).CellAt(4, 1).SetText("c");
  Grow(doc, 3, 1);  // above a grown row: the grown rows become XML first
  doc.TableItem(1).CellAt(3, 1).SetText("b0");
  doc.TableItem(1).CellAt(1, 2).Select();
  word_.GetSelection().InsertColumns();
  std::vector<std::string> column;
  for (int r = 1; r <= doc.TableItem(1).RowCount(); ++r) {
    column.push_back(doc.TableItem(1).CellAt(r, 1).Text());
  }
  EXPECT_EQ(column, (std::vector<std::string>{"H1\r\a", "a\r\a", "b0\r\a", "b\r\a", "c\r\a",
                                              "#,##0\r\a", "L1\r\a"}));
  doc.Save();
  doc.Close();
  Document& again = word_.Open(path);
  for (int r = 1; r <= 7; ++r) {
    EXPECT_EQ(again.TableItem(1).CellAt(r, 1).Text(), column[static_cast<std::size_t>(r - 1)]);
    EXPECT_EQ(again.TableItem(1).CellAt(r, 2).Text(), "\r\a") << "the inserted column";
  }
}

TEST_F(GrowthTest, ManyColumnsAtOnceAreTheSameAsOneByOne) {
  auto one_path = MakeDocx(kTable, {}, "one.docx");
  auto many_path = MakeDocx(kTable, {}, "many.docx");
  Document& one = word_.Open(one_path);
  one.TableItem(1).CellAt(2, 3).Select();
  for (int i = 0; i < 3; ++i) word_.GetSelection().InsertColumns();
  one.Save();
  Document& many = word_.Open(many_path);
  many.TableItem(1).CellAt(2, 3).Select();
  word_.GetSelection().InsertColumns(3);
  EXPECT_EQ(many.TableItem(1).ColumnCount(), 7);
  many.Save();
  EXPECT_EQ(MainXml(many_path), MainXml(one_path));
  EXPECT_EQ(ErrorOf([&] { word_.GetSelection().InsertColumns(0); }),
            "Cannot insert columns: the number of columns must be at least 1 (it is 0).");
}

// Pattern cells with structure: a nested table, a field whose result holds a
// bookmark spanning runs, a bookmark spanning paragraphs.
const std::string kStructuredRow =
    "<w:tr><w:tc><w:tbl><w:tr><w:tc><w:p><w:r><w:t>inner</w:t></w:r></w:p></w:tc></w:tr>"
    "</w:tbl><w:p/></w:tc>"
    "<w:tc><w:p><w:r><w:fldChar w:fldCharType=\"begin\"/></w:r><w:r><w:instrText>PAGE"
    "</w:instrText></w:r><w:r><w:fldChar w:fldCharType=\"separate\"/></w:r>"
    "<w:bookmarkStart w:id=\"7\" w:name=\"Total\"/><w:r><w:t>1</w:t></w:r><w:r><w:t>2</w:t>"
    "</w:r><w:bookmarkEnd w:id=\"7\"/><w:r><w:fldChar w:fldCharType=\"end\"/></w:r></w:p>"
    "</w:tc>"
    "<w:tc><w:p><w:bookmarkStart w:id=\"9\" w:name=\"Span\"/><w:r><w:t>a</w:t></w:r></w:p>"
    "<w:p><w:r><w:t>b</w:t></w:r><w:bookmarkEnd w:id=\"9\"/><w:bookmarkEnd w:id=\"3\"/></w:p>"
    "</w:tc></w:tr>";

std::vector<std::pair<std::string, std::string>> Bookmarks(const std::string& xml) {
  pugi::xml_document document;
  document.load_string(xml.c_str());
  std::vector<std::pair<std::string, std::string>> marks;  // (id, name or "")
  for (pugi::xpath_node n : document.select_nodes("//w:bookmarkStart | //w:bookmarkEnd")) {
    marks.emplace_back(n.node().attribute("w:id").value(), n.node().attribute("w:name").value());
  }
  return marks;
}

TEST_F(GrowthTest, CopiedRowsKeepNestedTablesFieldsAndBookmarksUnderFreshNames) {
  auto path = MakeDocx("<w:p><w:bookmarkStart w:id=\"12\" w:name=\"Total_1\"/><w:bookmarkEnd "
                       "w:id=\"12\"/></w:p><w:tbl>" +
                       kStructuredRow + "<w:tr>" + Tc("L1") + Tc("L2") + Tc("L3") +
                       "</w:tr></w:tbl>");
  Document& doc = word_.Open(path);
  EXPECT_EQ(doc.FieldCount(), 1);
  Grow(doc, 1, 3);
  EXPECT_EQ(doc.FieldCount(), 4) << "the copies hold the field too";
  for (int r = 1; r <= 4; ++r) {
    EXPECT_EQ(doc.TableItem(1).CellAt(r, 1).Text(), "inner\r\r\a");
    EXPECT_EQ(doc.TableItem(1).CellAt(r, 2).Text(), "12\r\a");
    EXPECT_EQ(doc.TableItem(1).CellAt(r, 3).Text(), "a\rb\r\a");
  }
  doc.Save();
  std::string xml = MainXml(path);
  ASSERT_NE(xml.find(kStructuredRow), std::string::npos) << "the pattern row is unchanged";
  EXPECT_EQ(xml.find(kStructuredRow), xml.rfind(kStructuredRow));
  std::size_t nested = 0;
  for (std::size_t at = xml.find("<w:tbl><w:tr><w:tc><w:p><w:r><w:t>inner</w:t>");
       at != std::string::npos; at = xml.find("<w:tbl><w:tr><w:tc><w:p><w:r><w:t>inner", at + 1)) {
    ++nested;
  }
  EXPECT_EQ(nested, 4u) << "nested tables are copied, not flattened";
  // Each copy's bookmark still spans the field result's two runs.
  EXPECT_NE(xml.find("<w:fldChar w:fldCharType=\"separate\"/></w:r><w:bookmarkStart w:id=\"13\" "
                     "w:name=\"Total_2\"/><w:r><w:t>1</w:t></w:r><w:r><w:t>2</w:t></w:r>"
                     "<w:bookmarkEnd w:id=\"13\"/>"),
            std::string::npos)
      << xml;
  // Every start has one end, and no id or name is used twice; the end
  // without a start (id 3) is not copied.
  std::set<std::string> ids, names;
  std::map<std::string, int> balance;
  int starts = 0;
  for (const auto& [id, name] : Bookmarks(xml)) {
    if (!name.empty()) {
      ++starts;
      EXPECT_TRUE(ids.insert(id).second) << "duplicate id " << id;
      EXPECT_TRUE(names.insert(name).second) << "duplicate name " << name;
      ++balance[id];
    } else {
      --balance[id];
    }
  }
  EXPECT_EQ(starts, 1 + 2 * 4);
  for (const auto& [id, count] : balance) EXPECT_EQ(count, id == "3" ? -1 : 0) << id;
}

TEST_F(GrowthTest, GrownRowsNameTheirBookmarksAsXmlCopiesDo) {
  // The same row grown in compact form and, inside a content control, as
  // XML rows: the rows come out the same, bookmarks named the same way,
  // paragraph ids numbered the same way.
  const std::string row =
      "<w:tr xmlns:w14=\"http://schemas.microsoft.com/office/word/2010/wordml\" "
      "w14:paraId=\"0A000001\"><w:tc><w:p w14:paraId=\"0A000002\"><w:bookmarkStart w:id=\"4\" "
      "w:name=\"Mark\"/><w:r><w:t>#,##0</w:t>"
      "</w:r><w:bookmarkEnd w:id=\"4\"/></w:p></w:tc><w:tc><w:p><w:bookmarkStart w:id=\"9\" "
      "w:name=\"Span\"/><w:r><w:t>a</w:t></w:r></w:p><w:p><w:r><w:t>b</w:t></w:r><w:bookmarkEnd "
      "w:id=\"9\"/><w:bookmarkEnd w:id=\"3\"/></w:p></w:tc>"
      "<w:tc><w:p><w:bookmarkStart w:id=\"5\" w:name=\"_GoBack\"/><w:bookmarkEnd w:id=\"5\"/>"
      "<w:r><w:t>c</w:t></w:r></w:p></w:tc></w:tr>";
  const std::string table = "<w:tbl>" + row + "<w:tr>" + Tc("L1") + Tc("L2") + Tc("L3") +
                            "</w:tr></w:tbl>";
  auto fast_path = MakeDocx("<w:p><w:bookmarkStart w:id=\"20\" w:name=\"Mark_1\"/>"
                            "<w:bookmarkEnd w:id=\"20\"/></w:p>" + table, {}, "fast.docx");
  auto xml_path = MakeDocx("<w:p><w:bookmarkStart w:id=\"20\" w:name=\"Mark_1\"/>"
                           "<w:bookmarkEnd w:id=\"20\"/></w:p><w:sdt><w:sdtContent>" + table +
                           "</w:sdtContent></w:sdt>", {}, "xml.docx");
  auto rows_of = [&](const std::filesystem::path& path) {
    std::string xml = MainXml(path);
    std::size_t start = xml.find("<w:tbl>");
    return xml.substr(start, xml.find("</w:tbl>") - start);
  };
  for (const auto& path : {fast_path, xml_path}) {
    Document& doc = word_.Open(path);
    Grow(doc, 1, 3);
    doc.TableItem(1).CellAt(1, 1).SetText("1");
    doc.TableItem(1).CellAt(2, 2).SetText("x\ty");  // kept as the cell's own XML
    doc.TableItem(1).CellAt(3, 3).SetText("z");
    doc.Save();
    doc.Close();
  }
  std::string rows = rows_of(fast_path);
  EXPECT_EQ(rows, rows_of(xml_path));
  std::set<std::string> ids, names;
  int starts = 0;
  for (const auto& [id, name] : Bookmarks(MainXml(fast_path))) {
    if (name.empty()) continue;
    ++starts;
    EXPECT_TRUE(ids.insert(id).second) << "duplicate id " << id;
    EXPECT_TRUE(names.insert(name).second) << "duplicate name " << name;
  }
  EXPECT_EQ(starts, 1 + 3 * 4);
  EXPECT_TRUE(names.count("Mark_2") && names.count("Mark_4") && names.count("Span_3") &&
              names.count("_GoBack_3") && !names.count("Mark_5"))
      << rows;
  EXPECT_EQ(rows.find("\xEE\x80\x81"), std::string::npos);
  std::set<std::string> paragraph_ids;
  for (std::size_t at = rows.find("w14:paraId=\""); at != std::string::npos;
       at = rows.find("w14:paraId=\"", at + 1)) {
    EXPECT_TRUE(paragraph_ids.insert(rows.substr(at + 12, 8)).second) << rows.substr(at + 12, 8);
  }
  // Four rows of two ids, less the paragraph that writing "1" made anew.
  EXPECT_EQ(paragraph_ids.size(), 2u * 4u - 1u);
}

TEST_F(GrowthTest, RowsInsideBoundControlsGrowThereAndWritingReleasesTheControls) {
  const std::string bound =
      "<w:sdtPr><w:dataBinding w:xpath=\"/x\" w:storeItemID=\"{1}\"/></w:sdtPr>";
  // Table 1 in a bound control, its pattern row in another.
  auto path = MakeDocx("<w:sdt>" + bound + "<w:sdtContent><w:tbl><w:tr>" + Tc("H") +
                       "</w:tr><w:sdt>" + bound + "<w:sdtContent><w:tr>" + Tc("P") +
                       "</w:tr></w:sdtContent></w:sdt><w:tr>" + Tc("L") +
                       "</w:tr></w:tbl></w:sdtContent></w:sdt>");
  Document& doc = word_.Open(path);
  Grow(doc, 2, 2);
  doc.TableItem(1).CellAt(2, 1).Select();
  word_.GetSelection().InsertRows(1);
  ASSERT_EQ(doc.TableItem(1).RowCount(), 6);
  EXPECT_EQ(doc.TableItem(1).CellAt(3, 1).Text(), "P\r\a");
  EXPECT_EQ(doc.TableItem(1).CellAt(2, 1).Text(), "\r\a");
  doc.Save();
  EXPECT_NE(MainXml(path).find("dataBinding"), std::string::npos) << "growth keeps the controls";
  for (int r = 1; r <= 6; ++r) doc.TableItem(1).CellAt(r, 1).SetText("v" + std::to_string(r));
  doc.Save();
  doc.Close();
  std::string xml = MainXml(path);
  EXPECT_EQ(xml.find("w:sdt"), std::string::npos) << xml;
  Document& again = word_.Open(path);
  ASSERT_EQ(again.TableItem(1).RowCount(), 6);
  for (int r = 1; r <= 6; ++r) {
    EXPECT_EQ(again.TableItem(1).CellAt(r, 1).Text(), "v" + std::to_string(r) + "\r\a");
  }
}

TEST_F(GrowthTest, GrowthBeyondTheSizeLimitFailsBeforeAnythingIsInserted) {
  Application small({.max_part_bytes = 1 << 20, .max_total_bytes = 4 << 20});
  std::string big_cell = "<w:tr>" + Tc(std::string(20000, 'C')) + Tc("x") + "</w:tr>";
  auto path = MakeDocx("<w:tbl>" + big_cell + big_cell + "</w:tbl>");
  Document& doc = small.Open(path);
  doc.TableItem(1).CellAt(1, 1).Select();
  std::string message = ErrorOf([&] { small.GetSelection().InsertRowCopies(800); });
  EXPECT_NE(message.find("Cannot insert 800 rows: copies of "), std::string::npos) << message;
  EXPECT_NE(message.find("beyond its size limit (1 MiB)"), std::string::npos) << message;
  EXPECT_EQ(doc.TableItem(1).RowCount(), 2);
  doc.TableItem(1).CellAt(1, 2).Select();
  message = ErrorOf([&] {
    doc.TableItem(1).CheckColumnCopies(1, 40);
  });
  EXPECT_NE(message.find("Cannot insert 40 columns"), std::string::npos) << message;
  small.GetSelection().InsertRowCopies(10);  // within the limit
  EXPECT_EQ(doc.TableItem(1).RowCount(), 12);
}

TEST_F(GrowthTest, SavedDocumentIsWrittenAsTheXmlLibraryWritesIt) {
  // Declaration, comments, instructions, CDATA, blanks between elements
  // and escaped attributes come out as they would from the library itself.
  std::string body =
      "<!-- note -->\n  <w:p w:rsidR=\"a&amp;&lt;&quot;\"><?pi x?><w:r><w:t xml:space=\"preserve\">"
      " a&amp;b&gt; </w:t></w:r></w:p>\n<w:tbl>\n <w:tr>" +
      Tc("<![CDATA[c<d]]>") + "</w:tr>\n</w:tbl>";
  auto path = MakeDocx(body);
  std::string original = MainXml(path);
  Document& doc = word_.Open(path);
  doc.TableItem(1).CellAt(1, 1).Select();
  word_.GetSelection().InsertRowCopies(2);
  doc.Save();
  pugi::xml_document expected;
  expected.load_string(original.c_str(), pugi::parse_default | pugi::parse_ws_pcdata |
                                             pugi::parse_declaration | pugi::parse_pi |
                                             pugi::parse_comments);
  pugi::xml_node row = expected.select_node("//w:tr").node();
  for (int i = 0; i < 2; ++i) row.parent().insert_copy_before(row, row);
  struct Out : pugi::xml_writer {
    void write(const void* data, size_t size) override {
      text.append(static_cast<const char*>(data), size);
    }
    std::string text;
  } out;
  expected.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  EXPECT_EQ(MainXml(path), out.text);
}

// Tables grown by columns, against the text width of their section.
class PageFitTest : public GrowthTest {
 protected:
  struct Widths {
    std::vector<long> grid;
    std::vector<std::string> cells;  // the first row's tcW, as "w type"
    std::string table;               // tblW, as "w type"
  };
  /// A one-row table of \a grid columns (widths in twips, the cells' tcW in
  /// \a cell_types: "dxa", "pct" or "auto"), its section \a section, grown
  /// by \a count columns left of column 2.
  Widths Grow(const std::vector<int>& grid, const std::string& section, int count,
              const std::string& cell_types = "", const std::string& after_table = "") {
    std::string xml = "<w:tbl><w:tblPr><w:tblW w:w=\"" +
                      std::to_string(std::accumulate(grid.begin(), grid.end(), 0)) +
                      "\" w:type=\"dxa\"/></w:tblPr><w:tblGrid>";
    for (int width : grid) xml += "<w:gridCol w:w=\"" + std::to_string(width) + "\"/>";
    xml += "</w:tblGrid><w:tr>";
    for (std::size_t c = 0; c < grid.size(); ++c) {
      const char type = c < cell_types.size() ? cell_types[c] : 'd';
      const std::string tc_w =
          type == 'p'   ? "<w:tcW w:w=\"1250\" w:type=\"pct\"/>"
          : type == 'a' ? "<w:tcW w:w=\"0\" w:type=\"auto\"/>"
                        : "<w:tcW w:w=\"" + std::to_string(grid[c]) + "\" w:type=\"dxa\"/>";
      xml += testing::Tc("c" + std::to_string(c), tc_w);
    }
    xml += "</w:tr></w:tbl>" + after_table;
    auto path = MakeDocx(xml);
    {  // the body's own section
      testing::Parts parts = testing::ReadZip(path);
      std::string& main = parts["word/document.xml"];
      main.replace(main.find("<w:sectPr/>"), 11, section);
      testing::WriteZip(path, parts);
    }
    Document& doc = word_.Open(path);
    doc.TableItem(1).CellAt(1, 2).Select();
    word_.GetSelection().InsertColumns(count);
    doc.Save();
    doc.Close();
    pugi::xml_document saved;
    saved.load_string(MainXml(path).c_str());
    Widths widths;
    for (pugi::xpath_node col : saved.select_nodes("//w:gridCol")) {
      widths.grid.push_back(col.node().attribute("w:w").as_int());
    }
    for (pugi::xpath_node w : saved.select_nodes("//w:tr[1]/w:tc/w:tcPr/w:tcW")) {
      widths.cells.push_back(std::string(w.node().attribute("w:w").value()) + " " +
                             w.node().attribute("w:type").value());
    }
    pugi::xml_node table = saved.select_node("//w:tblW").node();
    widths.table =
        std::string(table.attribute("w:w").value()) + " " + table.attribute("w:type").value();
    return widths;
  }
  static long Total(const std::vector<long>& widths) {
    return std::accumulate(widths.begin(), widths.end(), 0L);
  }
};

// Letter paper with margins of 1200 twips: a text width of 9840.
const std::string kSection =
    "<w:sectPr><w:pgSz w:w=\"12240\" w:h=\"15840\"/><w:pgMar w:top=\"1440\" w:right=\"1200\" "
    "w:bottom=\"1440\" w:left=\"1200\"/></w:sectPr>";

TEST_F(PageFitTest, AGrownTableNarrowsToTheTextWidthKeepingItsProportions) {
  // Four columns of 1440 grown by twelve: 23,040 twips on a text width of
  // 9,840 become sixteen columns of 615.
  Widths widths = Grow({1440, 1440, 1440, 1440}, kSection, 12);
  EXPECT_EQ(widths.grid, std::vector<long>(16, 615));
  EXPECT_EQ(widths.cells, std::vector<std::string>(16, "615 dxa"));
  EXPECT_EQ(widths.table, "9840 dxa");

  // A wide first column stays twice as wide as the others, within a twip.
  widths = Grow({2880, 1440, 1440, 1440}, kSection, 12);
  ASSERT_EQ(widths.grid.size(), 16u);
  EXPECT_EQ(Total(widths.grid), 9840);
  const double factor = 9840.0 / (2880 + 15 * 1440);
  EXPECT_NEAR(widths.grid[0], 2880 * factor, 1);
  for (std::size_t c = 1; c < 16; ++c) EXPECT_NEAR(widths.grid[c], 1440 * factor, 1) << c;
  // Each cell is as wide as its grid column, to the twip.
  ASSERT_EQ(widths.cells.size(), 16u);
  for (std::size_t c = 0; c < 16; ++c)
    EXPECT_EQ(widths.cells[c], std::to_string(widths.grid[c]) + " dxa") << c;
  EXPECT_EQ(widths.table, "9840 dxa");
}

TEST_F(PageFitTest, TheLimitIsTheWiderOfTheOldWidthAndTheTextWidth) {
  // Already wider than the text: it keeps its old width of 12,000.
  Widths widths = Grow({4000, 4000, 4000}, kSection, 3);
  EXPECT_EQ(widths.grid, std::vector<long>(6, 2000));
  EXPECT_EQ(widths.table, "12000 dxa");
  // Growth that stays within the text width changes no column.
  widths = Grow({1440, 1440}, kSection, 2);
  EXPECT_EQ(widths.grid, std::vector<long>(4, 1440));
  EXPECT_EQ(widths.table, "5760 dxa") << "the table's width follows its grid";
}

TEST_F(PageFitTest, SharesAndAutomaticWidthsStayAndTheTablesOwnSectionCounts) {
  // Cell widths as shares of the table or automatic are left as they are.
  Widths widths = Grow({1440, 1440, 1440, 1440}, kSection, 12, "padd");
  EXPECT_EQ(Total(widths.grid), 9840);
  EXPECT_EQ(widths.cells.front(), "1250 pct");
  EXPECT_EQ(widths.cells.back(), "615 dxa");
  EXPECT_EQ(std::count(widths.cells.begin(), widths.cells.end(), "0 auto"), 13);
  // The section that ends after the table is landscape: 15,840 less two
  // margins of 1,440.
  widths = Grow({1440, 1440, 1440, 1440}, kSection, 12, "",
                "<w:p><w:pPr><w:sectPr><w:pgSz w:w=\"15840\" w:h=\"12240\" w:orient=\"landscape\"/>"
                "<w:pgMar w:left=\"1440\" w:right=\"1440\" w:top=\"720\" w:bottom=\"720\"/>"
                "</w:sectPr></w:pPr></w:p>");
  EXPECT_EQ(widths.grid, std::vector<long>(16, 810));
  // Sizes with units: 8.5 in less two margins of 1 in is 9,360 twips.
  widths = Grow({1440, 1440, 1440, 1440},
                "<w:sectPr><w:pgSz w:w=\"8.5in\"/><w:pgMar w:left=\"1in\" w:right=\"25.4mm\"/>"
                "</w:sectPr>",
                12);
  EXPECT_EQ(widths.grid, std::vector<long>(16, 585));
  // A section that gives no page size: nothing to fit to.
  widths = Grow({1440, 1440, 1440, 1440}, "<w:sectPr/>", 12);
  EXPECT_EQ(widths.grid, std::vector<long>(16, 1440));
}

}  // namespace
}  // namespace vantrelle
