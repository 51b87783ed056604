#include "word/unique_marks.h"

#include <pugixml.hpp>

#include <set>

#include "docx_fixture.h"
#include "base/error.h"
#include "word/application.h"

namespace vantrelle {
namespace {

using testing::Parts;

bool Local(pugi::xml_node node, const char* local) { return LocalNameIs(node.name(), local); }

std::string AttributeOf(pugi::xml_node node, const char* local) {
  for (pugi::xml_attribute a : node.attributes()) {
    if (LocalNameIs(a.name(), local)) return a.value();
  }
  return "";
}

template <typename Visit>
void ForEachElement(pugi::xml_node node, Visit&& visit) {
  for (pugi::xml_node n : node.children()) {
    if (n.type() != pugi::node_element) continue;
    visit(n);
    ForEachElement(n, visit);
  }
}

// What breaks a package's unique marks, as lines: ids used twice, notes and
// comments referred to twice or not at all, comment ranges and the parts
// about comments that do not match.
std::set<std::string> MarkProblems(const Parts& parts) {
  std::set<std::string> problems;
  std::map<std::string, int> paragraph_ids, drawing_ids, shape_ids, marks;
  std::map<std::string, std::map<std::string, int>> references;  // kind -> id -> count
  std::map<std::string, std::set<std::string>> defined;          // kind -> ids
  std::map<std::string, int> comment_starts, comment_ends;
  std::set<std::string> comment_paragraphs, extended_ids, durable_ids;
  std::vector<std::pair<std::string, std::string>> extended, ids, extensible;
  for (const auto& [name, data] : parts) {
    // The settings name the separators among the notes: no notes.
    if (name.rfind("word/", 0) != 0 || name.find("_rels") != std::string::npos ||
        name.find("settings") != std::string::npos) {
      continue;
    }
    pugi::xml_document xml;
    if (!xml.load_buffer(data.data(), data.size())) continue;
    const bool refers_to_comments = name.find("commentsExtended") != std::string::npos ||
                                    name.find("commentsIds") != std::string::npos;
    ForEachElement(xml, [&](pugi::xml_node n) {
      const std::string paragraph = AttributeOf(n, "paraId");
      if (!paragraph.empty() && !refers_to_comments) ++paragraph_ids[paragraph];
      if (Local(n, "docPr")) ++drawing_ids[n.attribute("id").value()];
      if (std::string_view(n.name()).rfind("v:", 0) == 0 && !Local(n, "shapetype") &&
          n.attribute("id")) {
        ++shape_ids[n.attribute("id").value()];
      }
      if (!AttributeOf(n, "spid").empty()) ++shape_ids["spid " + AttributeOf(n, "spid")];
      for (const char* kind : {"footnote", "endnote", "comment"}) {
        if (Local(n, (std::string(kind) + "Reference").c_str())) {
          ++references[kind][AttributeOf(n, "id")];
        }
        if (Local(n, kind) && AttributeOf(n, "type").empty()) {
          defined[kind].insert(AttributeOf(n, "id"));
          if (std::string(kind) == "comment") {
            for (pugi::xml_node p : n.children()) {
              if (!AttributeOf(p, "paraId").empty())
                comment_paragraphs.insert(AttributeOf(p, "paraId"));
            }
          }
        }
      }
      // Content controls and revisions: ids of the one space, each once.
      if (Local(n, "id") && Local(n.parent(), "sdtPr")) ++marks["control " + AttributeOf(n, "val")];
      for (const char* kind : {"ins", "del"})
        if (Local(n, kind)) ++marks[std::string(kind) + " " + AttributeOf(n, "id")];
      if (Local(n, "commentRangeStart")) ++comment_starts[AttributeOf(n, "id")];
      if (Local(n, "commentRangeEnd")) ++comment_ends[AttributeOf(n, "id")];
      if (Local(n, "commentEx"))
        extended.emplace_back(AttributeOf(n, "paraId"), AttributeOf(n, "paraIdParent"));
      if (Local(n, "commentId"))
        ids.emplace_back(AttributeOf(n, "paraId"), AttributeOf(n, "durableId"));
      if (Local(n, "commentExtensible")) extensible.emplace_back(AttributeOf(n, "durableId"), "");
    });
  }
  for (const auto& [id, count] : paragraph_ids)
    if (count > 1)
      problems.insert("paragraph id " + id + " used " + std::to_string(count) + " times");
  for (const auto& [id, count] : drawing_ids)
    if (count > 1)
      problems.insert("drawing id " + id + " used " + std::to_string(count) + " times");
  for (const auto& [id, count] : shape_ids)
    if (count > 1) problems.insert("shape id " + id + " used " + std::to_string(count) + " times");
  for (const auto& [id, count] : marks)
    if (count > 1) problems.insert(id + " used " + std::to_string(count) + " times");
  // Readers that keep notes and comments in one list lose a note whose id
  // a comment has too.
  for (const std::string& id : defined["comment"])
    if (defined["footnote"].count(id) || defined["endnote"].count(id))
      problems.insert("comment " + id + " shares its id with a note");
  for (const auto& [kind, counts] : references) {
    for (const auto& [id, count] : counts) {
      if (count > 1)
        problems.insert(kind + " " + id + " referred to " + std::to_string(count) + " times");
      if (!defined[kind].count(id)) problems.insert(kind + " " + id + " does not exist");
    }
  }
  for (const auto& [kind, all] : defined) {
    for (const std::string& id : all) {
      if (!references[kind].count(id)) problems.insert(kind + " " + id + " is referred to nowhere");
    }
  }
  for (const auto& [id, count] : comment_starts)
    if (comment_ends[id] != count) problems.insert("comment range " + id + " is not closed");
  for (const auto& [paragraph, parent] : extended) {
    if (!extended_ids.insert(paragraph).second)
      problems.insert("comment extra " + paragraph + " twice");
    if (!comment_paragraphs.count(paragraph))
      problems.insert("comment extra for no comment " + paragraph);
    if (!parent.empty() && !comment_paragraphs.count(parent))
      problems.insert("reply to no comment " + parent);
  }
  for (const auto& [paragraph, durable] : ids) {
    if (!durable_ids.insert(durable).second) problems.insert("durable id " + durable + " twice");
    if (!comment_paragraphs.count(paragraph))
      problems.insert("durable id for no comment " + paragraph);
  }
  for (const auto& [durable, unused] : extensible)
    if (!durable_ids.count(durable)) problems.insert("comment date for no durable id " + durable);
  return problems;
}

const char* kNamespaces =
    " xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\""
    " xmlns:w14=\"http://schemas.microsoft.com/office/word/2010/wordml\""
    " xmlns:w15=\"http://schemas.microsoft.com/office/word/2012/wordml\""
    " xmlns:w16cid=\"http://schemas.microsoft.com/office/word/2016/wordml/cid\""
    " xmlns:w16cex=\"http://schemas.microsoft.com/office/word/2018/wordml/cex\""
    " xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\""
    " xmlns:wp14=\"http://schemas.microsoft.com/office/word/2010/wordprocessingDrawing\""
    " xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\""
    " xmlns:v=\"urn:schemas-microsoft-com:vml\" "
    "xmlns:o=\"urn:schemas-microsoft-com:office:office\"";

std::string Part(const std::string& root, const std::string& content) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<" + root + kNamespaces +
         ">" + content + "</" + root.substr(0, root.find(' ')) + ">";
}

std::string Note(const char* kind, const char* id, const char* paragraph_id, const char* text) {
  return std::string("<w:") + kind + " w:id=\"" + id + "\"><w:p w14:paraId=\"" + paragraph_id +
         "\"><w:r><w:" + kind + "Ref/></w:r><w:r><w:t>" + text + "</w:t></w:r></w:p></w:" + kind +
         ">";
}

// A pattern row with a footnote, an endnote, a comment and its reply, the
// start of a comment that ends below, a picture, a VML text box and shape.
const std::string kMarksRow =
    "<w:tr w14:paraId=\"10000000\"><w:tc><w:p w14:paraId=\"10000001\" w14:textId=\"77777777\">"
    "<w:r><w:t>Item</w:t></w:r><w:r><w:footnoteReference w:id=\"1\"/></w:r>"
    "<w:r><w:endnoteReference w:id=\"1\"/></w:r><w:commentRangeStart w:id=\"0\"/>"
    "<w:commentRangeStart w:id=\"8\"/><w:r><w:t>noted</w:t></w:r><w:commentRangeEnd w:id=\"0\"/>"
    "<w:r><w:commentReference w:id=\"0\"/></w:r><w:commentRangeEnd w:id=\"8\"/>"
    "<w:r><w:commentReference w:id=\"8\"/></w:r><w:commentRangeStart w:id=\"7\"/></w:p></w:tc>"
    "<w:tc><w:p><w:r><w:drawing><wp:inline wp14:anchorId=\"20000001\" wp14:editId=\"20000002\">"
    "<wp:extent cx=\"9525\" cy=\"9525\"/><wp:docPr id=\"50\" name=\"Picture 1\"/><a:graphic>"
    "<a:graphicData uri=\"none\"/></a:graphic></wp:inline></w:drawing></w:r></w:p></w:tc>"
    "<w:tc><w:p><w:sdt><w:sdtPr><w:id w:val=\"60\"/></w:sdtPr><w:sdtContent><w:r><w:t>c</w:t>"
    "</w:r></w:sdtContent></w:sdt><w:ins w:id=\"61\" w:author=\"A\"><w:r><w:t>i</w:t></w:r>"
    "</w:ins><w:del w:id=\"62\" w:author=\"A\"><w:r><w:delText>d</w:delText></w:r></w:del>"
    "<w:r><w:pict><v:shape id=\"_x0000_s1026\" o:spid=\"_x0000_s1026\" "
    "type=\"#_x0000_t202\"><v:textbox><w:txbxContent><w:p w14:paraId=\"10000002\"><w:r><w:t>box"
    "</w:t></w:r></w:p></w:txbxContent></v:textbox></v:shape><v:rect id=\"Frame\"/></w:pict>"
    "</w:r></w:p></w:tc></w:tr>";

Parts MarksTemplate() {
  const std::string rels = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
  return {
      {"word/_rels/document.xml.rels",
       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
       "<Relationship Id=\"r1\" Type=\"" +
           rels +
           "footnotes\" Target=\"footnotes.xml\"/>"
           "<Relationship Id=\"r2\" Type=\"" +
           rels +
           "endnotes\" Target=\"endnotes.xml\"/>"
           "<Relationship Id=\"r3\" Type=\"" +
           rels +
           "comments\" Target=\"comments.xml\"/>"
           "<Relationship Id=\"r4\" Type=\"http://schemas.microsoft.com/office/2011/relationships/"
           "commentsExtended\" Target=\"commentsExtended.xml\"/>"
           "<Relationship Id=\"r5\" "
           "Type=\"http://schemas.microsoft.com/office/2016/09/relationships/"
           "commentsIds\" Target=\"commentsIds.xml\"/>"
           "<Relationship Id=\"r6\" "
           "Type=\"http://schemas.microsoft.com/office/2018/08/relationships/"
           "commentsExtensible\" Target=\"commentsExtensible.xml\"/></Relationships>"},
      {"word/footnotes.xml",
       Part("w:footnotes", "<w:footnote w:type=\"separator\" w:id=\"-1\"><w:p/></w:footnote>" +
                               Note("footnote", "1", "30000001", "the note"))},
      {"word/endnotes.xml", Part("w:endnotes", Note("endnote", "1", "30000002", "the end"))},
      {"word/comments.xml",
       Part("w:comments",
            "<w:comment w:id=\"0\" w:author=\"A\"><w:p w14:paraId=\"40000001\"><w:r><w:t>one</w:t>"
            "</w:r></w:p><w:p w14:paraId=\"40000002\"><w:r><w:t>two</w:t></w:r></w:p></w:comment>"
            "<w:comment w:id=\"8\" w:author=\"B\"><w:p w14:paraId=\"40000008\"><w:r><w:t>reply"
            "</w:t></w:r></w:p></w:comment><w:comment w:id=\"7\" w:author=\"C\"><w:p "
            "w14:paraId=\"40000007\"><w:r><w:t>long</w:t></w:r></w:p></w:comment>")},
      {"word/commentsExtended.xml",
       Part("w15:commentsEx",
            "<w15:commentEx w15:paraId=\"40000002\" w15:done=\"0\"/><w15:commentEx "
            "w15:paraId=\"40000008\" w15:paraIdParent=\"40000002\" w15:done=\"1\"/>"
            "<w15:commentEx w15:paraId=\"40000007\" w15:done=\"0\"/>")},
      {"word/commentsIds.xml",
       Part("w16cid:commentsIds",
            "<w16cid:commentId w16cid:paraId=\"40000002\" w16cid:durableId=\"5000000A\"/>"
            "<w16cid:commentId w16cid:paraId=\"40000008\" w16cid:durableId=\"5000000B\"/>"
            "<w16cid:commentId w16cid:paraId=\"40000007\" w16cid:durableId=\"5000000C\"/>")},
      {"word/commentsExtensible.xml",
       Part("w16cex:commentsExtensible",
            "<w16cex:commentExtensible w16cex:durableId=\"5000000A\" "
            "w16cex:dateUtc=\"2026-12-01T10:00:00Z\"/>")},
  };
}

class UniqueMarksTest : public testing::ScratchTest {
 protected:
  // A package of \a parts whose main part's body is \a body, declaring
  // every namespace the rows need.
  std::filesystem::path WithBody(const Parts& parts, const std::string& body) {
    auto path = MakeDocx("", parts);
    Parts all = testing::ReadZip(path);
    all["word/document.xml"] = Part("w:document", "<w:body>" + body + "<w:sectPr/></w:body>");
    testing::WriteZip(path, all);
    return path;
  }
  // Opens \a path and grows its first table by \a copies of row 1.
  Document& GrowFirstRow(const std::filesystem::path& path, int copies) {
    Document& doc = word_.Open(path);
    doc.TableItem(1).CellAt(1, 1).Select();
    word_.GetSelection().InsertRowCopies(copies);
    return doc;
  }
  Application word_;
};

TEST_F(UniqueMarksTest, EachGrownRowHasItsOwnNotesCommentsAndIds) {
  const std::string body =
      "<w:tbl>" + kMarksRow +
      "<w:tr><w:tc><w:p><w:commentRangeEnd w:id=\"7\"/><w:r>"
      "<w:commentReference w:id=\"7\"/></w:r></w:p></w:tc><w:tc><w:p/></w:tc><w:tc><w:p/>"
      "</w:tc></w:tr></w:tbl>";
  auto path = WithBody(MarksTemplate(), body);
  ASSERT_EQ(MarkProblems(testing::ReadZip(path)), std::set<std::string>{});
  Document& doc = GrowFirstRow(path, 3);
  ASSERT_EQ(doc.TableItem(1).RowCount(), 5);
  doc.Save();
  doc.Close();

  Parts parts = testing::ReadZip(path);
  EXPECT_EQ(MarkProblems(parts), std::set<std::string>{});
  pugi::xml_document main, footnotes, comments, extended;
  main.load_string(parts["word/document.xml"].c_str());
  footnotes.load_string(parts["word/footnotes.xml"].c_str());
  comments.load_string(parts["word/comments.xml"].c_str());
  extended.load_string(parts["word/commentsExtended.xml"].c_str());
  // Four rows, four notes of the same text, numbered and kept in the order
  // of their references; the pattern row keeps drawing 50 and shape
  // _x0000_s1026.
  pugi::xpath_node_set rows = main.select_nodes("//w:tr");
  ASSERT_EQ(rows.size(), 5u);
  std::vector<std::string> references, notes;
  for (pugi::xpath_node n : main.select_nodes("//w:footnoteReference/@w:id")) {
    references.push_back(n.attribute().value());
  }
  for (pugi::xpath_node n : footnotes.select_nodes("//w:footnote/@w:id")) {
    notes.push_back(n.attribute().value());
  }
  EXPECT_EQ(references, (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_EQ(notes, (std::vector<std::string>{"-1", "1", "2", "3", "4"}));
  EXPECT_EQ(rows[3].node().select_node(".//wp:docPr/@id").attribute().value(), std::string("50"));
  EXPECT_TRUE(rows[3].node().select_node(".//v:shape[@id='_x0000_s1026']"));
  EXPECT_EQ(footnotes.select_nodes("//w:footnote[w:p/w:r/w:t='the note']").size(), 4u);
  EXPECT_EQ(main.select_nodes("//w:endnoteReference").size(), 4u);
  // Comment 7 starts in the pattern row and ends below it: its copies go,
  // and it keeps one comment.
  EXPECT_EQ(main.select_nodes("//w:commentRangeStart[@w:id='7']").size(), 1u);
  EXPECT_EQ(comments.select_nodes("//w:comment").size(), 2u * 4u + 1u);
  // In every row the reply answers that row's comment.
  for (std::size_t r = 0; r < 4; ++r) {
    pugi::xml_node row = rows[r].node();
    pugi::xpath_node_set references = row.select_nodes(".//w:commentReference");
    ASSERT_EQ(references.size(), 2u) << r;
    auto last_paragraph = [&](const char* id) {
      return comments
          .select_node(
              ("//w:comment[@w:id='" + std::string(id) + "']/w:p[last()]/@w14:paraId").c_str())
          .attribute()
          .value();
    };
    const std::string comment = last_paragraph(references[0].node().attribute("w:id").value());
    const std::string reply = last_paragraph(references[1].node().attribute("w:id").value());
    EXPECT_EQ(
        extended
            .select_node(("//w15:commentEx[@w15:paraId='" + reply + "']/@w15:paraIdParent").c_str())
            .attribute()
            .value(),
        comment)
        << r;
  }
}

// Comment 0 and footnote 1 in the pattern row, comment 3 below the table:
// the copies' notes are numbered 1 to 4, so neither the copied comments nor
// the template's comment 3 may keep a number from 1 to 4.
TEST_F(UniqueMarksTest, CopiedCommentsAndNotesNeverShareAnId) {
  Parts parts = MarksTemplate();
  parts["word/comments.xml"] =
      Part("w:comments", "<w:comment w:id=\"0\" w:author=\"A\"><w:p w14:paraId=\"40000001\">"
                         "<w:r><w:t>one</w:t></w:r></w:p></w:comment><w:comment w:id=\"3\" "
                         "w:author=\"B\"><w:p><w:r><w:t>three</w:t></w:r></w:p></w:comment>");
  parts["word/commentsExtended.xml"] = Part("w15:commentsEx", "");
  parts["word/commentsIds.xml"] = Part("w16cid:commentsIds", "");
  parts["word/commentsExtensible.xml"] = Part("w16cex:commentsExtensible", "");
  parts["word/endnotes.xml"] = Part("w:endnotes", "");
  auto path = WithBody(
      parts,
      "<w:tbl><w:tr><w:tc><w:p><w:r><w:footnoteReference w:id=\"1\"/></w:r>"
      "<w:commentRangeStart w:id=\"0\"/><w:r><w:t>x</w:t></w:r><w:commentRangeEnd w:id=\"0\"/>"
      "<w:r><w:commentReference w:id=\"0\"/></w:r></w:p></w:tc></w:tr><w:tr><w:tc><w:p/></w:tc>"
      "</w:tr></w:tbl><w:p><w:commentRangeStart w:id=\"3\"/><w:r><w:t>y</w:t></w:r>"
      "<w:commentRangeEnd w:id=\"3\"/><w:r><w:commentReference w:id=\"3\"/></w:r></w:p>");
  Document& doc = GrowFirstRow(path, 3);
  doc.Save();
  doc.Close();
  EXPECT_EQ(MarkProblems(testing::ReadZip(path)), std::set<std::string>{});
}

// A row whose only mark is a tracked change: each copy gets an id of its
// own too.
TEST_F(UniqueMarksTest, ARevisionAloneIsRenewed) {
  auto path = WithBody(
      MarksTemplate(),
      "<w:tbl><w:tr><w:tc><w:p><w:ins w:id=\"61\" w:author=\"A\"><w:r><w:t>i</w:t></w:r>"
      "</w:ins></w:p></w:tc></w:tr><w:tr><w:tc><w:p/></w:tc></w:tr></w:tbl>"
      "<w:p><w:commentRangeStart w:id=\"0\"/><w:commentRangeEnd w:id=\"0\"/><w:r>"
      "<w:commentReference w:id=\"0\"/></w:r><w:commentRangeStart w:id=\"8\"/><w:commentRangeEnd "
      "w:id=\"8\"/><w:r><w:commentReference w:id=\"8\"/></w:r><w:commentRangeStart w:id=\"7\"/>"
      "<w:commentRangeEnd w:id=\"7\"/><w:r><w:commentReference w:id=\"7\"/>"
      "<w:footnoteReference w:id=\"1\"/><w:endnoteReference w:id=\"1\"/></w:r></w:p>");
  Document& doc = GrowFirstRow(path, 3);
  doc.Save();
  doc.Close();
  EXPECT_EQ(MarkProblems(testing::ReadZip(path)), std::set<std::string>{});
}

TEST_F(UniqueMarksTest, CopiesThatAWrittenCellNoLongerShowsGo) {
  auto path = WithBody(MarksTemplate(), "<w:tbl>" + kMarksRow +
                                           "<w:tr><w:tc><w:p><w:commentRangeEnd w:id=\"7\"/><w:r>"
                                           "<w:commentReference w:id=\"7\"/></w:r></w:p></w:tc>"
                                           "</w:tr></w:tbl>");
  Document& doc = GrowFirstRow(path, 3);
  // The first copy's label is written over: its note and comments go.
  doc.TableItem(1).CellAt(1, 1).SetText("written");
  doc.Save();
  doc.Close();
  Parts parts = testing::ReadZip(path);
  EXPECT_EQ(MarkProblems(parts), std::set<std::string>{});
  pugi::xml_document footnotes, comments, ids;
  footnotes.load_string(parts["word/footnotes.xml"].c_str());
  comments.load_string(parts["word/comments.xml"].c_str());
  ids.load_string(parts["word/commentsIds.xml"].c_str());
  EXPECT_EQ(footnotes.select_nodes("//w:footnote[not(@w:type)]").size(), 3u);
  EXPECT_EQ(comments.select_nodes("//w:comment").size(), 2u * 3u + 1u);
  EXPECT_EQ(ids.select_nodes("//w16cid:commentId").size(), 2u * 3u + 1u);
}

// Rows of corpus documents that hold such marks, grown by three copies:
// the package gains no broken mark, and each copy holds its own.
struct CorpusRow {
  const char* document;
  int table, row;
  const char* mark;  // an element of the row
  int added;         // how many more the main part holds
};

TEST_F(UniqueMarksTest, CorpusRowsWithMarksGrowWithoutBreakingThem) {
  const std::filesystem::path corpus = testing::CorpusFolder();
  if (!std::filesystem::is_directory(corpus)) {
    GTEST_SKIP() << "no document corpus at " << corpus
                 << " (set VANTRELLE_CORPUS to the folder that holds docx/)";
  }
  const CorpusRow rows[] = {
      {"poi-table_footnotes.docx", 1, 3, "footnoteReference", 3},
      {"poi-stress011-arabic-footnotes.docx", 1, 1, "footnoteReference", 3},
      {"poi-stress011-arabic-footnotes.docx", 1, 2, "docPr", 3},
      {"oxpt-HC008-docvariable-if-docvars.docx", 1, 3, "docPr", 3},
      {"poi-stress014-template-ct-as-docx.docx", 1, 1, "shape", 3},
      {"oxsdk-CommunicationsPlan.dotx", 1, 2, "docPr", 3},
      {"oxsdk-2007-merged-cjk.docx", 4, 1, "pict", 3},
      // The comment begun in the row ends further on: its copies go.
      {"oxsdk-Comment020-revisions-comments.docx", 1, 1, "commentRangeStart", 0},
  };
  auto count = [](const Parts& parts, const char* local) {
    pugi::xml_document xml;
    xml.load_string(parts.at("word/document.xml").c_str());
    int n = 0;
    ForEachElement(xml, [&](pugi::xml_node node) { n += Local(node, local) ? 1 : 0; });
    return n;
  };
  for (const CorpusRow& row : rows) {
    SCOPED_TRACE(std::string(row.document) + " table " + std::to_string(row.table) + " row " +
                 std::to_string(row.row));
    std::filesystem::path report = dir_ / (std::to_string(row.row) + "_" + row.document);
    std::filesystem::copy_file(corpus / row.document, report);
    std::filesystem::permissions(report, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    const Parts before = testing::ReadZip(report);
    try {
      Document& doc = word_.Open(report);
      // The row's first cell that exists (merges may cover the first).
      Table& table = doc.TableItem(row.table);
      for (int column = 1;; ++column) {
        try {
          table.CellAt(row.row, column).Select();
          break;
        } catch (const Error&) {
          if (column >= table.ColumnCount()) throw;
        }
      }
      word_.GetSelection().InsertRowCopies(3);
      doc.Save();
      doc.Close();
    } catch (const Error& error) {
      ADD_FAILURE() << error.what();
      continue;
    }
    const Parts after = testing::ReadZip(report);
    std::set<std::string> added;
    const std::set<std::string> old_problems = MarkProblems(before);
    for (const std::string& problem : MarkProblems(after)) {
      if (!old_problems.count(problem)) added.insert(problem);
    }
    EXPECT_EQ(added, std::set<std::string>{});
    EXPECT_EQ(count(after, row.mark), count(before, row.mark) + row.added);
  }
}

}  // namespace
}  // namespace vantrelle
