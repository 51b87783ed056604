#include "word/fields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "docx_fixture.h"
#include "test_util.h"
#include "base/text_scan.h"
#include "format/value_text.h"

namespace vantrelle {
namespace {

using testing_util::Moment;
using testing_util::PictureLocale;

TEST(FieldCodeTest, SplitsTypeArgumentAndSwitches) {
  FieldCode code = ParseFieldCode("  docvariable  \"My \\\"Var\\\"\" \\* Upper \\* MERGEFORMAT ");
  EXPECT_EQ(code.type, "DOCVARIABLE");
  EXPECT_EQ(code.argument, "My \"Var\"");
  EXPECT_EQ(code.format_switches, (std::vector<std::string>{"Upper", "MERGEFORMAT"}));
  EXPECT_FALSE(code.date_picture);

  code = ParseFieldCode("DATE \\@ \"dddd, d MMMM yyyy\" \\* CHARFORMAT");
  EXPECT_EQ(code.type, "DATE");
  EXPECT_EQ(code.argument, "");
  EXPECT_EQ(code.date_picture, "dddd, d MMMM yyyy");
  EXPECT_EQ(code.format_switches, std::vector<std::string>{"CHARFORMAT"});

  code = ParseFieldCode("TIME \\@ HH:mm");
  EXPECT_EQ(code.date_picture, "HH:mm");
}

TEST(FieldResultTest, AnUnreadablePictureKeepsTheResult) {
  FieldContext context;
  context.variable = [](std::string_view) { return std::optional<std::string>("2004-05-05"); };
  context.now = Moment(2004, 5, 5);
  LocaleInfo locale = LocaleInfo::Fallback();
  context.locale = &locale;
  EXPECT_EQ(ComputeFieldResult(ParseFieldCode("DOCVARIABLE Day \\@ \"DD.MM.YYYY\""), context),
            "05.05.2004");
  EXPECT_EQ(ComputeFieldResult(ParseFieldCode("DOCVARIABLE Day \\@ \"TT.MM.JJJJ\""), context),
            std::nullopt);
  EXPECT_EQ(ComputeFieldResult(ParseFieldCode("DATE \\@ \"TT.MM.JJJJ\""), context), std::nullopt);
  EXPECT_EQ(ComputeFieldResult(ParseFieldCode("date \\@ \"MM/DD/YY "), context), "05/05/04 ");
}

// The date a word processor used for the date fields of a corpus document,
// told by the result it saved.
struct CorpusDate {
  const char* document;
  const char* saved;
  std::tm moment;
};

// Every date field of the corpus documents shows, for the moment the word
// processor used, the result it saved; fields this engine does not compute
// (SAVEDATE, CREATEDATE, MERGEFIELD, IF) keep it.
TEST(CorpusDateFieldTest, EveryDateFieldShowsTheResultTheWordProcessorSaved) {
  const std::filesystem::path corpus = testing::CorpusFolder();
  if (!std::filesystem::is_directory(corpus)) {
    GTEST_SKIP() << "no document corpus at " << corpus
                 << " (set VANTRELLE_CORPUS to the folder that holds docx/)";
  }
  const std::vector<CorpusDate> moments = {
      {"oxsdk-complex_table3-date-field.docx", "09/29/95 ", Moment(1995, 9, 29)},
      {"oxpt-008-InsertedFieldCode.docx", "2/7/2020", Moment(2020, 2, 7)},
      {"oxpt-008-InsertedFieldCode.docx", "2/8/2020", Moment(2020, 2, 8)},
      {"oxsdk-simple-field-date.docx", "2/15/2008", Moment(2008, 2, 15)},
      {"oxsdk-Strict01-rich.docx", "Wednesday, November 18, 2015", Moment(2015, 11, 18)},
      {"poi-60316b-date-fields.dotx", "06/03/2009", Moment(2009, 3, 6, 15, 16)},
      {"poi-60316b-date-fields.dotx", "3:16 ", Moment(2009, 3, 6, 15, 16)},
  };
  int computed = 0, kept = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    const std::string document = entry.path().filename().string();
    testing::Parts parts = testing::ReadZip(entry.path());
    // The document's variables, for its DOCVARIABLE fields.
    auto variables = std::make_shared<pugi::xml_document>();
    if (parts.count("word/settings.xml"))
      variables->load_string(parts["word/settings.xml"].c_str());
    // The Spanish document's clock has no AM/PM markers.
    const LocaleInfo locale = PictureLocale(document == "poi-60316b-date-fields.dotx");
    for (const auto& [name, data] : parts) {
      if (name.rfind("word/", 0) != 0 || name.size() < 4 || name.substr(name.size() - 4) != ".xml")
        continue;
      pugi::xml_document xml;
      if (!xml.load_buffer(data.data(), data.size())) continue;
      const WordNames names(WordNames::PrefixOf(xml.document_element()));
      for (const FieldSpan& field : FindFields(xml.document_element(), names)) {
        const FieldCode code = ParseFieldCode(field.code);
        if (!code.date_picture && code.type != "DATE" && code.type != "TIME") continue;
        const std::string saved = FieldResultText(field, names);
        SCOPED_TRACE(document + " " + name + ": {" + field.code + "} saved \"" + saved + "\"");
        FieldContext context;
        context.locale = &locale;
        context.variable = [variables](std::string_view wanted) -> std::optional<std::string> {
          for (pugi::xpath_node v : variables->select_nodes("//*[local-name()='docVar']")) {
            if (EqualsIgnoreCase(v.node().attribute("w:name").value(), wanted))
              return std::string(v.node().attribute("w:val").value());
          }
          return std::nullopt;
        };
        if (code.type == "DATE" || code.type == "TIME") {
          auto moment = std::find_if(moments.begin(), moments.end(), [&](const CorpusDate& d) {
            return document == d.document && saved == d.saved;
          });
          if (moment == moments.end()) {
            ADD_FAILURE() << "a date field whose moment the table does not give";
            continue;
          }
          context.now = moment->moment;
        }
        std::optional<std::string> result = ComputeFieldResult(code, context);
        if (result) {
          ++computed;
          EXPECT_EQ(*result, saved);
        } else {
          ++kept;
        }
      }
    }
  }
  // complex_table3 7, oxpt-008 2, simple-field-date 1, Strict01 1,
  // poi-60316b 2, the two calendars 2 + 18; SAVEDATE, CREATEDATE,
  // MERGEFIELD and IF keep theirs.
  EXPECT_EQ(computed, 33);
  EXPECT_GE(kept, 10);
}

TEST(FieldResultTest, DocVariablePicturesComeBeforeCaseSwitches) {
  FieldContext context;
  context.variable = [](std::string_view name) -> std::optional<std::string> {
    if (name == "Amount") return "1234.5";
    if (name == "Month") return "2004-05-01";
    return "north";
  };
  LocaleInfo locale = LocaleInfo::Fallback();
  context.locale = &locale;
  auto result = [&](const char* code) { return ComputeFieldResult(ParseFieldCode(code), context); };
  EXPECT_EQ(result("DOCVARIABLE Amount \\# \"#,##0.00\" \\* MERGEFORMAT"), "1,234.50");
  EXPECT_EQ(result("DOCVARIABLE Amount \\# $#,##0.00"), "$1,234.50");
  EXPECT_EQ(result("DOCVARIABLE Month \\@ \"MMMM yyyy\" \\* Upper"), "MAY 2004");
  EXPECT_EQ(result("DOCVARIABLE Region \\# 0.00 \\* Caps"), "North");
  EXPECT_EQ(result("DOCVARIABLE Region \\@ \"MMMM yyyy\""), "north");
  // A number is no date: the date picture passes it to the numeric one.
  EXPECT_EQ(result("DOCVARIABLE Amount \\@ \"MMMM\" \\# 0"), "1235");
  // Number forms follow the picture, on what it showed.
  EXPECT_EQ(result("DOCVARIABLE Amount \\* CardText \\* FirstCap"),
            "One thousand two hundred thirty-five");
  EXPECT_EQ(result("DOCVARIABLE Month \\@ d \\* Ordinal"), "1st");
  EXPECT_EQ(result("DOCVARIABLE Region \\* roman"), "north");
}

TEST(FieldResultTest, DocVariableAndDates) {
  FieldContext context;
  context.variable = [](std::string_view name) -> std::optional<std::string> {
    if (name == "Region") return "north";
    return std::nullopt;
  };
  context.now.tm_year = 2026 - 1900;
  context.now.tm_mday = 1;
  LocaleInfo locale = LocaleInfo::Fallback();
  context.locale = &locale;
  EXPECT_EQ(ComputeFieldResult(ParseFieldCode("DOCVARIABLE Region \\* Upper"), context), "NORTH");
  EXPECT_EQ(ComputeFieldResult(ParseFieldCode("DOCVARIABLE Other"), context),
            "Error! No document variable supplied.");
  EXPECT_EQ(ComputeFieldResult(ParseFieldCode("DATE"), context), "1/1/2026");
  EXPECT_EQ(ComputeFieldResult(ParseFieldCode("TIME"), context), "12:00 AM");
  EXPECT_EQ(ComputeFieldResult(ParseFieldCode("PAGE"), context), std::nullopt);
}

TEST(FindFieldsTest, NestedFieldsInBeginOrderAndUnfinishedOnesLeftOut) {
  pugi::xml_document xml;
  ASSERT_TRUE(xml.load_string(
      "<w:body xmlns:w='x'><w:p>"
      "<w:r><w:fldChar w:fldCharType='begin'/></w:r><w:r><w:instrText>IF </w:instrText></w:r>"
      "<w:r><w:fldChar w:fldCharType='begin'/></w:r><w:r><w:instrText>DOCVARIABLE a"
      "</w:instrText></w:r><w:r><w:fldChar w:fldCharType='end'/></w:r>"
      "<w:r><w:instrText> = 1 yes</w:instrText></w:r><w:r><w:fldChar w:fldCharType='end'/></w:r>"
      "<w:fldSimple w:instr='DATE'/>"
      "<w:r><w:fldChar w:fldCharType='begin'/></w:r><w:r><w:instrText>TIME</w:instrText></w:r>"
      "</w:p></w:body>"));
  WordNames names("w");
  std::vector<FieldSpan> fields = FindFields(xml.document_element(), names);
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[0].code, "IF  = 1 yes");
  EXPECT_EQ(fields[1].code, "DOCVARIABLE a");
  EXPECT_EQ(fields[2].code, "DATE");
}

// Paragraph texts of \a body, "|" between paragraphs, "[" and "]" for
// bookmark marks.
std::string Paragraphs(pugi::xml_node body) {
  std::string out;
  for (pugi::xml_node p : body.children("w:p")) {
    if (!out.empty()) out += "|";
    for (pugi::xml_node n : p.children()) {
      if (std::string_view(n.name()) == "w:bookmarkStart") out += "[";
      if (std::string_view(n.name()) == "w:bookmarkEnd") out += "]";
      for (pugi::xml_node t : n.children("w:t")) out += t.child_value();
    }
  }
  return out;
}

class MultiParagraphResultTest : public ::testing::Test {
 protected:
  /// Updates the one field of \a body (the DOCVARIABLE Region = "north").
  bool Update(const std::string& body) {
    EXPECT_TRUE(xml_.load_string(("<w:body xmlns:w='x'>" + body + "</w:body>").c_str()));
    std::vector<FieldSpan> fields = FindFields(xml_.document_element(), names_);
    EXPECT_EQ(fields.size(), 1u);
    FieldContext context;
    context.variable = [](std::string_view) { return std::optional<std::string>("north"); };
    LocaleInfo locale = LocaleInfo::Fallback();
    context.locale = &locale;
    bool removed = false;
    return UpdateField(fields.at(0), names_, context, removed);
  }
  pugi::xml_document xml_;
  WordNames names_{"w"};
};

const char* kFieldStart =
    "<w:r><w:t xml:space='preserve'>Before </w:t></w:r><w:r><w:fldChar w:fldCharType='begin'/>"
    "</w:r><w:r><w:instrText>DOCVARIABLE Region</w:instrText></w:r>"
    "<w:r><w:fldChar w:fldCharType='separate'/></w:r>";

TEST_F(MultiParagraphResultTest, ResultSpanningParagraphsIsReplacedWhole) {
  ASSERT_TRUE(Update(std::string("<w:p><w:pPr><w:jc w:val='center'/></w:pPr>") + kFieldStart +
                     "<w:r><w:rPr><w:b/></w:rPr><w:t>old one</w:t></w:r></w:p>"
                     "<w:p><w:bookmarkStart w:id='1' w:name='kept'/><w:r><w:t>old two</w:t>"
                     "</w:r></w:p><w:p/>"
                     "<w:p><w:pPr><w:jc w:val='right'/></w:pPr><w:r><w:t>old three</w:t></w:r>"
                     "<w:bookmarkEnd w:id='1'/><w:r><w:fldChar w:fldCharType='end'/></w:r>"
                     "<w:r><w:t xml:space='preserve'> after</w:t></w:r></w:p>"
                     "<w:p><w:r><w:t>next</w:t></w:r></w:p>"));
  pugi::xml_node body = xml_.document_element();
  EXPECT_EQ(Paragraphs(body), "Before [north] after|next");
  pugi::xml_node first = body.child("w:p");
  EXPECT_STREQ(first.child("w:pPr").child("w:jc").attribute("w:val").value(), "center");
  // The new text keeps the old result's look, and the field is whole again.
  EXPECT_TRUE(first.find_child([](pugi::xml_node r) {
    return std::string_view(r.child("w:t").child_value()) == "north" && r.child("w:rPr").child("w:b");
  }));
  std::vector<FieldSpan> again = FindFields(body, names_);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].separate.parent(), again[0].end.parent());
}

TEST_F(MultiParagraphResultTest, SectionBreakOrTableInTheResultKeepsTheOldResult) {
  EXPECT_FALSE(Update(std::string("<w:p>") + kFieldStart +
                      "<w:r><w:t>old one</w:t></w:r></w:p>"
                      "<w:p><w:pPr><w:sectPr/></w:pPr><w:r><w:t>old two</w:t></w:r></w:p>"
                      "<w:p><w:r><w:fldChar w:fldCharType='end'/></w:r></w:p>"));
  EXPECT_EQ(Paragraphs(xml_.document_element()), "Before old one|old two|");
  EXPECT_FALSE(Update(std::string("<w:p>") + kFieldStart +
                      "<w:r><w:t>old one</w:t></w:r></w:p><w:tbl><w:tr><w:tc><w:p/></w:tc>"
                      "</w:tr></w:tbl><w:p><w:r><w:fldChar w:fldCharType='end'/></w:r></w:p>"));
  EXPECT_EQ(Paragraphs(xml_.document_element()), "Before old one|");
  EXPECT_TRUE(xml_.document_element().child("w:tbl"));
}

// Every text of \a node in document order.
std::string Texts(pugi::xml_node node) {
  std::string out;
  for (pugi::xpath_node t : node.select_nodes(".//w:t")) out += t.node().child_value();
  return out;
}

TEST_F(MultiParagraphResultTest, MarksUnderDifferentParentsOfOneParagraph) {
  // The separator inside a hyperlink, the end mark after it.
  ASSERT_TRUE(Update(std::string("<w:p>") +
                     "<w:r><w:t xml:space='preserve'>Before </w:t></w:r><w:r><w:fldChar "
                     "w:fldCharType='begin'/></w:r><w:r><w:instrText>DOCVARIABLE Region"
                     "</w:instrText></w:r><w:hyperlink w:anchor='x'><w:r><w:fldChar "
                     "w:fldCharType='separate'/></w:r><w:r><w:rPr><w:u/></w:rPr><w:t>old </w:t>"
                     "</w:r></w:hyperlink><w:r><w:t>one</w:t></w:r><w:bookmarkStart w:id='1' "
                     "w:name='kept'/><w:r><w:fldChar w:fldCharType='end'/></w:r>"
                     "<w:r><w:t xml:space='preserve'> after</w:t></w:r></w:p>"));
  pugi::xml_node p = xml_.document_element().child("w:p");
  EXPECT_EQ(Texts(p), "Before north after");
  EXPECT_EQ(Texts(p.child("w:hyperlink")), "north");
  EXPECT_TRUE(p.child("w:hyperlink").find_child([](pugi::xml_node r) {
    return r.child("w:rPr").child("w:u") && std::string_view(r.child_value("w:t")) == "north";
  }));
  EXPECT_TRUE(p.child("w:bookmarkStart"));
  ASSERT_EQ(FindFields(xml_.document_element(), names_).size(), 1u);

  // The end mark inside a tracked insertion, an inline content control in
  // between: the control goes with the old result, the insertion's
  // bookmark end stays.
  ASSERT_TRUE(Update(std::string("<w:p>") + kFieldStart +
                     "<w:r><w:t>old</w:t></w:r><w:sdt><w:sdtPr><w:alias w:val='c'/></w:sdtPr>"
                     "<w:sdtContent><w:r><w:t>two</w:t></w:r></w:sdtContent></w:sdt>"
                     "<w:ins w:id='5'><w:r><w:t>three</w:t></w:r><w:bookmarkEnd w:id='1'/>"
                     "<w:r><w:fldChar w:fldCharType='end'/></w:r></w:ins>"
                     "<w:r><w:t xml:space='preserve'> after</w:t></w:r></w:p>"));
  p = xml_.document_element().child("w:p");
  EXPECT_EQ(Texts(p), "Before north after");
  EXPECT_FALSE(p.child("w:sdt"));
  EXPECT_TRUE(p.child("w:ins").child("w:bookmarkEnd"));
  ASSERT_EQ(FindFields(xml_.document_element(), names_).size(), 1u);

  // The look of the text after the field is not the result's.
  ASSERT_TRUE(Update(std::string("<w:p>") + kFieldStart +
                     "<w:ins w:id='5'><w:r><w:t>old</w:t></w:r><w:r><w:fldChar "
                     "w:fldCharType='end'/></w:r></w:ins><w:r><w:rPr><w:b/></w:rPr>"
                     "<w:t xml:space='preserve'> after</w:t></w:r></w:p>"));
  p = xml_.document_element().child("w:p");
  EXPECT_EQ(Texts(p), "Before north after");
  EXPECT_FALSE(p.find_child([](pugi::xml_node r) {
    return r.child("w:rPr").child("w:b") && std::string_view(r.child_value("w:t")) == "north";
  }));

  // Two paragraphs of a text box share only the paragraph that holds the
  // text box: that is no one paragraph, and the old result stays.
  EXPECT_FALSE(Update(std::string("<w:p><w:r><w:pict><w:txbxContent><w:p>") + kFieldStart +
                      "<w:hyperlink w:anchor='x'><w:r><w:t>old one</w:t></w:r></w:hyperlink>"
                      "</w:p><w:p><w:ins w:id='2'><w:r><w:t>old two</w:t></w:r><w:r><w:fldChar "
                      "w:fldCharType='end'/></w:r></w:ins></w:p></w:txbxContent></w:pict></w:r>"
                      "</w:p>"));
  EXPECT_EQ(Texts(xml_.document_element()), "Before old oneold two");
}

// Complex field runs: begin, code, separate, result text, end.
std::string Field(const std::string& code, const std::string& result) {
  return "<w:r><w:fldChar w:fldCharType='begin'/></w:r><w:r><w:instrText>" + code +
         "</w:instrText></w:r><w:r><w:fldChar w:fldCharType='separate'/></w:r>" + result +
         "<w:r><w:fldChar w:fldCharType='end'/></w:r>";
}

std::string TextRun(const std::string& text) {
  return "<w:r><w:t xml:space='preserve'>" + text + "</w:t></w:r>";
}

// A story with fields of every shape: simple, nested in the code and in
// the result, over two paragraphs, with marks sharing a run, without a
// result, unfinished, in a text box, and page fields.
const std::string kFieldStory =
    "<w:body xmlns:w='x'><w:p>" + TextRun("A ") +
    "<w:fldSimple w:instr='DOCVARIABLE a'><w:fldData>data</w:fldData><w:r><w:rPr><w:b/></w:rPr>"
    "<w:t>one</w:t></w:r></w:fldSimple>" +
    "<w:r><w:fldChar w:fldCharType='begin'/></w:r><w:r><w:instrText>IF </w:instrText></w:r>" +
    Field("DOCVARIABLE b", "<w:r><w:instrText>x</w:instrText></w:r>") +
    "<w:r><w:instrText> = \"x\" \"yes\" \"no\"</w:instrText></w:r>"
    "<w:r><w:fldChar w:fldCharType='separate'/></w:r>" +
    TextRun(" yes") + "<w:r><w:fldChar w:fldCharType='end'/></w:r>" + TextRun(" page ") +
    Field(" PAGE ", TextRun("1")) +
    "<w:r><w:fldChar w:fldCharType='begin'/></w:r><w:r><w:instrText>TOC \\o</w:instrText></w:r>"
    "<w:r><w:fldChar w:fldCharType='separate'/></w:r>" +
    TextRun(" two ") + Field("PAGEREF _Toc1", TextRun("4")) + "</w:p><w:p>" + TextRun("three") +
    "<w:r><w:fldChar w:fldCharType='end'/></w:r><w:r><w:t>!</w:t><w:fldChar "
    "w:fldCharType='begin'/><w:instrText>DATE</w:instrText><w:fldChar w:fldCharType='end'/></w:r>"
    "<w:r><w:pict><w:txbxContent><w:p>" +
    Field("DOCVARIABLE c", TextRun("boxed")) + "</w:p></w:txbxContent></w:pict></w:r>" +
    "<w:r><w:fldChar w:fldCharType='begin'/></w:r><w:r><w:instrText>TIME</w:instrText></w:r>"
    "</w:p></w:body>";

// The texts of the paragraphs of \a body, "|" between them.
std::string ParagraphTexts(pugi::xml_node body) {
  std::string out;
  for (pugi::xml_node p : body.children("w:p")) {
    if (!out.empty()) out += "|";
    for (pugi::xpath_node t : p.select_nodes(".//w:t")) out += t.node().child_value();
  }
  return out;
}

TEST(FieldResultTextTest, ReadsWhatTheFieldShows) {
  pugi::xml_document xml;
  ASSERT_TRUE(xml.load_string(kFieldStory.c_str()));
  WordNames names("w");
  std::vector<std::pair<std::string, std::string>> shown;
  for (const FieldSpan& field : FindFields(xml.document_element(), names)) {
    shown.emplace_back(field.code, FieldResultText(field, names));
  }
  EXPECT_EQ(shown, (std::vector<std::pair<std::string, std::string>>{
                       {"DOCVARIABLE a", "one"},
                       {"IF  = \"x\" \"yes\" \"no\"", " yes"},
                       {"DOCVARIABLE b", "x"},  // a result in the code reads as code text
                       {" PAGE ", "1"},
                       {"TOC \\o", " two 4\rthree"},
                       {"PAGEREF _Toc1", "4"},
                       {"DATE", ""},
                       {"DOCVARIABLE c", "boxed"}}));
}

TEST(UnlinkFieldsTest, ResultsStayAsTextAndPageFieldsStayFields) {
  pugi::xml_document xml;
  ASSERT_TRUE(xml.load_string(kFieldStory.c_str()));
  WordNames names("w");
  ASSERT_TRUE(UnlinkFields(xml.document_element(), names));
  pugi::xml_node body = xml.document_element();
  EXPECT_EQ(ParagraphTexts(body), "A one yes page 1 two 4|three!boxed");
  // The simple field's run keeps its look; its private data goes with it.
  EXPECT_TRUE(body.select_node("w:p/w:r[w:t='one']/w:rPr/w:b"));
  EXPECT_FALSE(body.select_node("//w:fldSimple | //w:fldData"));
  // What is left of fields: PAGE and PAGEREF whole, the unfinished TIME.
  std::vector<std::string> codes;
  for (pugi::xpath_node code : body.select_nodes("//w:instrText")) {
    codes.push_back(code.node().child_value());
  }
  EXPECT_EQ(codes, (std::vector<std::string>{" PAGE ", "PAGEREF _Toc1", "TIME"}));
  EXPECT_EQ(body.select_nodes("//w:fldChar").size(), 7u);
  std::vector<FieldSpan> left = FindFields(body, names);
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(FieldResultText(left[0], names), "1");
  EXPECT_EQ(FieldResultText(left[1], names), "4");
  // No run is left empty, and a second pass finds nothing to do.
  EXPECT_FALSE(body.select_node("//w:r[not(*[not(self::w:rPr)])]"));
  EXPECT_FALSE(UnlinkFields(body, names));
}

// Fields with no stored result, which the run does not compute, stay fields
// for the reader to show; a DOCVARIABLE the run left empty is unlinked.
TEST(UnlinkFieldsTest, FieldsWithoutAResultStayFields) {
  pugi::xml_document xml;
  ASSERT_TRUE(xml.load_string(
      "<w:body xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:p>"
      "<w:r><w:fldChar w:fldCharType=\"begin\"/></w:r><w:r><w:instrText>MACROBUTTON NoMacro "
      "[Name]</w:instrText></w:r><w:r><w:fldChar w:fldCharType=\"end\"/></w:r>"
      "<w:fldSimple w:instr=\"SYMBOL 211 \\f Symbol\"/>"
      "<w:r><w:fldChar w:fldCharType=\"begin\"/></w:r><w:r><w:instrText>DOCVARIABLE v"
      "</w:instrText></w:r><w:r><w:fldChar w:fldCharType=\"separate\"/></w:r>"
      "<w:r><w:fldChar w:fldCharType=\"end\"/></w:r></w:p></w:body>"));
  WordNames names("w");
  UnlinkFields(xml.document_element(), names);
  std::vector<std::string> codes;
  for (const FieldSpan& field : FindFields(xml.document_element(), names))
    codes.push_back(field.code);
  EXPECT_EQ(codes, (std::vector<std::string>{"MACROBUTTON NoMacro [Name]", "SYMBOL 211 \\f Symbol"}));
}

}  // namespace
}  // namespace vantrelle
