// Every real document of the shared corpus goes through what a report run
// does to a template, and the result is checked from outside the engine.
#include <pugixml.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>

#include "docx_fixture.h"
#include "base/error.h"
#include "word/application.h"

namespace vantrelle {
namespace {

using testing::CorpusFolder;
using testing::Parts;
using testing::ReadZip;

// Documents the engine refuses, with the reason it must give.
const std::map<std::string, std::string> kRefused = {
    // The zip has no central directory.
    {"poi-BROKEN-truncated62886.docx", "not a valid zip file"},
    // The theme part fails its checksum: a copy would carry the damage on.
    {"poi-BROKEN-badcrc-theme.docx", "the document is damaged; the part \"word/theme/theme1.xml\""},
    {"poi-BROKEN-encrypted-password-is-pass.docx", "the document is encrypted"},
    {"poi-BROKEN-ole2-hello_world.docm", "old binary Word document (.doc or .dot, Word 97-2003)"},
    // Declares an external entity; DTDs are not allowed in packages.
    {"poi-ODD-ExternalEntityInText.docx", "document type declaration (DOCTYPE)"},
};

bool WellFormed(const std::string& data) {
  pugi::xml_document xml;
  return static_cast<bool>(xml.load_buffer(data.data(), data.size()));
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Parts the engine may rewrite: the main part, its relationships, settings,
// headers, footers, footnotes, endnotes, comments and the content types.
bool MayChange(const std::string& name, const std::string& main_part) {
  std::string n = Lower(name);
  return n == Lower(main_part) || n == "[content_types].xml" ||
         (n.rfind("word/", 0) == 0 &&
          (n.find("settings") != std::string::npos || n.find("header") != std::string::npos ||
           n.find("footer") != std::string::npos || n.find("footnotes") != std::string::npos ||
           n.find("endnotes") != std::string::npos || n.find("comments") != std::string::npos ||
           n.find("_rels/") != std::string::npos));
}

std::string MainPart(const Parts& parts) {
  auto it = parts.find("_rels/.rels");
  if (it == parts.end()) return "word/document.xml";
  pugi::xml_document rels;
  rels.load_string(it->second.c_str());
  for (pugi::xml_node rel : rels.document_element().children()) {
    std::string type = rel.attribute("Type").value();
    if (type.size() > 15 && type.substr(type.size() - 15) == "/officeDocument") {
      std::string target = rel.attribute("Target").value();
      return target[0] == '/' ? target.substr(1) : target;
    }
  }
  return "word/document.xml";
}

// Writes every cell of every table and returns the texts written.
std::vector<std::string> FillEveryCell(Document& doc) {
  std::vector<std::string> written;
  for (int t = 1; t <= doc.TableCount(); ++t) {
    Table& table = doc.TableItem(t);
    for (int r = 1; r <= table.RowCount(); ++r) {
      for (int c = 1; c <= table.ColumnCount(); ++c) {
        try {
          std::string text = "v";
          text += std::to_string(t) + "_" + std::to_string(r) + "_" + std::to_string(c);
          text += " \xC3\xA9&<>";
          doc.TableItem(t).CellAt(r, c).SetText(text);
          EXPECT_EQ(doc.TableItem(t).CellAt(r, c).Text(), text + "\r\a");
          written.push_back(text);
        } catch (const Error& e) {
          EXPECT_EQ(e.Number(), kErrNoSuchMember) << e.what();
        }
      }
    }
  }
  return written;
}

void InsertRowAndColumn(Document& doc, Selection& selection) {
  for (int t = 1; t <= doc.TableCount(); ++t) {
    Table& table = doc.TableItem(t);
    if (table.RowCount() == 0) continue;
    try {
      table.CellAt(1, 1).Select();
    } catch (const Error&) {
      continue;
    }
    int rows = table.RowCount();
    selection.InsertRows(1);
    EXPECT_EQ(doc.TableItem(t).RowCount(), rows + 1);
    int columns = doc.TableItem(t).ColumnCount();
    selection.InsertColumns();
    EXPECT_EQ(doc.TableItem(t).ColumnCount(), columns + 1);
    return;
  }
}

class CorpusTest : public testing::ScratchTest {};

TEST_F(CorpusTest, EveryDocumentIsFilledSavedAndReadableOrRefusedClearly) {
  const std::filesystem::path corpus = CorpusFolder();
  if (!std::filesystem::is_directory(corpus)) {
    GTEST_SKIP() << "no document corpus at " << corpus
                 << " (set VANTRELLE_CORPUS to the folder that holds docx/)";
  }
  std::vector<std::string> check_arguments;
  std::set<std::string> refused;
  int documents = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    std::string name = entry.path().filename().string();
    if (name == "MANIFEST.tsv") continue;
    SCOPED_TRACE(name);
    ++documents;
    // The report takes the document form of the template's name.
    std::string extension = Lower(entry.path().extension().string());
    bool macros = extension == ".docm" || extension == ".dotm";
    std::filesystem::path report =
        dir_ / ("report_" + entry.path().stem().string() + (macros ? ".docm" : ".docx"));
    std::filesystem::copy_file(entry.path(), report);
    std::filesystem::permissions(report, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    Application word;
    try {
      Document& doc = word.Open(report);
      EXPECT_EQ(kRefused.count(name), 0u) << "expected a refusal";
      doc.Activate();
      InsertRowAndColumn(doc, word.GetSelection());
      std::vector<std::string> written = FillEveryCell(doc);
      doc.SetVariable("VantrelleCheck", "checked \xE2\x9C\x93");
      int fields = doc.FieldCount();
      for (int i = 1; i <= fields; ++i) doc.UpdateField(i);
      doc.Save();
      doc.Close();

      Parts before = ReadZip(entry.path());
      Parts after = ReadZip(report);
      EXPECT_GE(after.size(), before.size()) << "every entry must still inflate";
      std::string main_part = MainPart(before);
      for (const auto& [part, data] : before) {
        auto it = after.find(part);
        ASSERT_NE(it, after.end()) << part;
        if (it->second != data) {
          EXPECT_TRUE(MayChange(part, main_part)) << part;
        }
      }
      for (const auto& [part, data] : after) {
        bool xml = part.size() > 5 && (part.substr(part.size() - 4) == ".xml" ||
                                       part.substr(part.size() - 5) == ".rels");
        bool unchanged = before.count(part) && before[part] == data;
        if (xml && !unchanged) {
          EXPECT_TRUE(WellFormed(data)) << part;
        }
      }
      std::filesystem::path expected = dir_ / ("expected_" + name + ".txt");
      std::ofstream out(expected);
      for (const auto& text : written) out << text << "\n";
      check_arguments.push_back(entry.path().string());
      check_arguments.push_back(report.string());
      check_arguments.push_back(expected.string());

      // The saved document opens again and reads back what was written.
      Document& again = word.Open(report);
      EXPECT_EQ(again.GetVariable("vantrellecheck"), "checked \xE2\x9C\x93");
      again.Close();
    } catch (const Error& e) {
      auto it = kRefused.find(name);
      if (it == kRefused.end()) {
        ADD_FAILURE() << "refused: " << e.what();
      } else {
        EXPECT_NE(std::string(e.what()).find(it->second), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(report.filename().string()), std::string::npos)
            << "the message names the file: " << e.what();
        refused.insert(name);
      }
    }
  }
  EXPECT_GE(documents, 70);
  EXPECT_EQ(refused.size(), kRefused.size());

  std::string command = "/usr/bin/python3 \"" + std::string(VANTRELLE_SOURCE_DIR) +
                        "/tests/word/check_docx.py\"";
  for (const auto& argument : check_arguments) command += " \"" + argument + "\"";
  command += " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  int status = pclose(pipe);
  EXPECT_EQ(status, 0) << output;
}

TEST_F(CorpusTest, CalendarFieldsShowTheMonthAndYearOfTheirVariable) {
  // A calendar template shows { DOCVARIABLE MonthStart \@ MMMM } and the
  // same with \@ yyyy, its variable holding 1/1/2014.
  for (const char* name :
       {"oxpt-HW010-docvariable-docvars.docx", "oxpt-HC008-docvariable-if-docvars.docx"}) {
    SCOPED_TRACE(name);
    std::filesystem::path source = CorpusFolder() / name;
    if (!std::filesystem::exists(source)) GTEST_SKIP() << "no corpus document " << source;
    std::filesystem::path report = dir_ / name;
    std::filesystem::copy_file(source, report);
    std::filesystem::permissions(report, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    Application word;
    Document& doc = word.Open(report);
    const LocaleInfo& locale = LocaleInfo::Current();
    if (locale.short_date_order != "mdy" || locale.date_separator != "/") {
      GTEST_SKIP() << "1/1/2014 is not a date in this locale's short date";
    }
    int fields = doc.FieldCount();
    for (int i = 1; i <= fields; ++i) doc.UpdateField(i);
    doc.Save();
    doc.Close();
    std::string xml = ReadZip(report)["word/document.xml"];
    EXPECT_NE(xml.find("<w:t>January</w:t>"), std::string::npos);
    EXPECT_NE(xml.find("<w:t>2014</w:t>"), std::string::npos);
    EXPECT_EQ(xml.find("<w:t>1/1/2014</w:t>"), std::string::npos);
  }
}

}  // namespace
}  // namespace vantrelle
