#include "word/package.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "docx_fixture.h"
#include "base/error.h"
#include "word/wordml.h"

namespace vantrelle {
namespace {

TEST(PackageNameTest, RelationshipTargetsResolveAgainstTheirSource) {
  EXPECT_EQ(ResolvePartName("", "word/document.xml"), "word/document.xml");
  EXPECT_EQ(ResolvePartName("", "/word/document2.xml"), "word/document2.xml");
  EXPECT_EQ(ResolvePartName("word/document.xml", "header1.xml"), "word/header1.xml");
  EXPECT_EQ(ResolvePartName("word/document.xml", "../customXml/item1.xml"), "customXml/item1.xml");
  EXPECT_EQ(ResolvePartName("word/document.xml", "./media/../media/a.png"), "word/media/a.png");
  EXPECT_EQ(ResolvePartName("word/document.xml", "../../../x.xml"), "x.xml");
  EXPECT_EQ(RelationshipsPartName("word/document.xml"), "word/_rels/document.xml.rels");
  EXPECT_EQ(RelationshipsPartName(""), "_rels/.rels");
}

struct Utf8Case {
  const char* input;
  const char* expected;
};

class ValidUtf8Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(ValidUtf8Test, InvalidSequencesAreReplaced) {
  EXPECT_EQ(MakeValidUtf8(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, ValidUtf8Test,
    ::testing::Values(Utf8Case{"plain \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "plain \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
                      Utf8Case{"a\xFF" "b", "a\xEF\xBF\xBD" "b"},
                      Utf8Case{"\xC3", "\xEF\xBF\xBD"},                   // truncated
                      Utf8Case{"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},   // overlong
                      Utf8Case{"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
                      Utf8Case{"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
                      Utf8Case{"x\xEF\xBF\xBEy\xEF\xBF\xBF", "xy"}));  // not XML characters

// Packages and other files that must be refused on open, each with a
// description naming the file and what is wrong with it.
class PackageOpenTest : public testing::ScratchTest {
 protected:
  std::string Refusal(const std::filesystem::path& path) {
    try {
      Package package(path, PackageLimits{});
      return "opened";
    } catch (const Error& error) {
      std::string message = error.what();
      EXPECT_NE(message.find("\"" + path.string() + "\""), std::string::npos) << message;
      return message;
    }
  }
  // A package whose entries are renamed after writing: libzip will not write
  // two entries of one name, so same-length placeholders are replaced in
  // the local headers and the central directory alike.
  std::filesystem::path Renamed(testing::Parts parts,
                                const std::vector<std::pair<std::string, std::string>>& renames) {
    std::filesystem::path path = dir_ / "renamed.docx";
    testing::WriteZip(path, parts);
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const auto& [from, to] : renames) {
      EXPECT_EQ(from.size(), to.size());
      int replaced = 0;
      for (std::size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at)) {
        bytes.replace(at, from.size(), to);
        ++replaced;
      }
      EXPECT_EQ(replaced, 2) << from;  // local header and central directory
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
  }
  testing::Parts Minimal() {
    return {{"[Content_Types].xml", testing::ContentTypes()},
            {"_rels/.rels", testing::PackageRels()},
            {"word/document.xml", testing::DocumentXml("<w:p/>")}};
  }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
};

TEST_F(PackageOpenTest, EntriesThatMakeThePackageAmbiguousOrEscapeItAreRefused) {
  const std::string damaged = "the document is damaged; ";
  testing::Parts parts = Minimal();
  parts["word/documenX.xml"] = testing::DocumentXml("<w:p><w:r><w:t>second</w:t></w:r></w:p>");
  EXPECT_EQ(Refusal(Renamed(parts, {{"word/documenX.xml", "word/document.xml"}})),
            "Cannot open \"" + (dir_ / "renamed.docx").string() + "\": " + damaged +
                "the entry \"word/document.xml\" appears twice.");

  parts = Minimal();
  parts["XORD/DOCUMENT.XML"] = "<x/>";
  EXPECT_NE(Refusal(Renamed(parts, {{"XORD/DOCUMENT.XML", "WORD/DOCUMENT.XML"}}))
                .find(damaged + "the entries \"WORD/DOCUMENT.XML\" and \"word/document.xml\" "
                                "differ only in case."),
            std::string::npos);

  const std::vector<std::pair<std::string, std::string>> escaping = {
      {"xx/evil.xml", "../evil.xml"},
      {"word/xx/xx/x.xml", "word/../../x.xml"},
      {"word\\xx\\x.xml", "word\\..\\x.xml"},
      {"xetc/evil", "/etc/evil"},
      {"xxtmp.xml", "C:tmp.xml"}};
  for (const auto& [placeholder, name] : escaping) {
    parts = Minimal();
    parts[placeholder] = "x";
    std::string message = Refusal(Renamed(parts, {{placeholder, name}}));
    EXPECT_NE(message.find(damaged + "the entry \"" + name + "\" has "), std::string::npos)
        << message;
  }
  // Names that only look odd are fine.
  parts = Minimal();
  parts["word/media/..image..png"] = "x";
  parts["word/media/"] = "";
  EXPECT_EQ(Refusal(Renamed(parts, {})), "opened");
}

TEST_F(PackageOpenTest, OtherFormatsSayWhatTheyAreAndHowToConvert) {
  const std::string advice =
      "open it in Word and save it as a Word document (.docx) or template (.dotx), then try again.";
  const std::string ole("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  const std::string word_stream("W\0o\0r\0d\0D\0o\0c\0u\0m\0e\0n\0t", 24);
  const std::string encryption("E\0n\0c\0r\0y\0p\0t\0i\0o\0n\0I\0n\0f\0o", 28);
  // The stream names stand in a directory sector far into the file, across
  // the reader's buffer boundary.
  Write("old.doc", ole + std::string(65536 - 8 - 10, '\0') + word_stream + std::string(512, '\0'));
  EXPECT_NE(Refusal(dir_ / "old.doc").find("it is an old binary Word document (.doc or .dot, "
                                           "Word 97-2003), not an Office Open XML package; " +
                                           advice),
            std::string::npos);
  Write("secret.docx", ole + std::string(200000, '\0') + encryption + word_stream);
  EXPECT_NE(Refusal(dir_ / "secret.docx").find("the document is encrypted"), std::string::npos);
  Write("sheet.xls", ole + std::string(600, '\0'));
  EXPECT_NE(Refusal(dir_ / "sheet.xls").find("a compound file of an older Office program"),
            std::string::npos);
  Write("letter.rtf", "{\\rtf1\\ansi\\deff0 {\\fonttbl{\\f0 Times;}}Hello}");
  EXPECT_NE(Refusal(dir_ / "letter.rtf").find("it is an RTF document (Rich Text Format), not a "
                                              "Word document package; " + advice),
            std::string::npos);
  Write("text.odt", "PK\x03\x04" + std::string(26, '\0') +
                        "mimetypeapplication/vnd.oasis.opendocument.text" + std::string(100, '\0'));
  EXPECT_NE(Refusal(dir_ / "text.odt").find("it is an OpenDocument text (.odt or .ott), not a "
                                            "Word document package; open it in LibreOffice "
                                            "Writer, choose File > Save As"),
            std::string::npos);
  Write("sheet.ods", "PK\x03\x04" + std::string(26, '\0') +
                         "mimetypeapplication/vnd.oasis.opendocument.spreadsheet");
  EXPECT_NE(Refusal(dir_ / "sheet.ods").find("an OpenDocument file that is not a text"),
            std::string::npos);
}

TEST_F(PackageOpenTest, EmptyFilesPipesAndDevicesAreRefusedWithoutReading) {
  Write("empty.docx", "");
  EXPECT_EQ(Refusal(dir_ / "empty.docx"), "Cannot open \"" + (dir_ / "empty.docx").string() +
                                              "\": the file is empty (0 bytes), not a Word document.");
  ASSERT_EQ(::mkfifo((dir_ / "pipe.docx").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir_ / "zero.docx");
  for (const char* name : {"pipe.docx", "zero.docx"}) {
    EXPECT_EQ(Refusal(dir_ / name), "Cannot open \"" + (dir_ / name).string() +
                                        "\": it is not a regular file (a folder, a device or a pipe).");
  }
}

}  // namespace
}  // namespace vantrelle
