#include "base/text_encoding.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/file_system.h"
#include "base/ini_file.h"
#include "test_util.h"

namespace vantrelle {
namespace {

using testing_util::ReadFile;
using testing_util::TempDir;
using testing_util::WriteFile;

// "Größe €5 – x" in each form a Windows editor saves it.
const std::string kUtf8 = "Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC" "5 \xE2\x80\x93 x";
const std::string kCp1252 = "Gr\xF6\xDF" "e \x80" "5 \x96 x";

std::string Utf16(const std::string& ascii_or_units, bool le) {
  // Widens bytes as Latin-1 code units; enough for the test texts below.
  std::string out = le ? "\xFF\xFE" : "\xFE\xFF";
  for (char c : ascii_or_units) {
    out += le ? c : '\0';
    out += le ? '\0' : c;
  }
  return out;
}

struct DecodeCase {
  const char* name;
  std::string bytes;
  TextEncoding encoding;
  std::string text;
};

class DecodeTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, DetectsAndDecodes) {
  const DecodeCase& c = GetParam();
  EXPECT_EQ(c.encoding, DetectEncoding(c.bytes));
  EXPECT_EQ(c.text, DecodeText(c.bytes));
  EXPECT_TRUE(IsValidUtf8(DecodeText(c.bytes)));
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, DecodeTest,
    testing::Values(
        DecodeCase{"Utf8", kUtf8, TextEncoding::kUtf8, kUtf8},
        DecodeCase{"Utf8Bom", "\xEF\xBB\xBF" + kUtf8, TextEncoding::kUtf8Bom, kUtf8},
        DecodeCase{"Cp1252", kCp1252, TextEncoding::kWindows1252, kUtf8},
        // The five bytes the code page leaves open become controls, never raw bytes.
        DecodeCase{"Cp1252Undefined", "\x81\x8D\x8F\x90\x9D", TextEncoding::kWindows1252,
                   "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
        // Overlong forms, surrogates and bytes past U+10FFFF are not UTF-8.
        DecodeCase{"Overlong", "\xC0\xAF", TextEncoding::kWindows1252, "\xC3\x80\xC2\xAF"},
        DecodeCase{"Surrogate", "\xED\xA0\x80", TextEncoding::kWindows1252,
                   "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
        DecodeCase{"CutSequence", "ab\xE2\x82", TextEncoding::kWindows1252,
                   "ab\xC3\xA2\xE2\x80\x9A"},
        DecodeCase{"Utf16Le", Utf16("a=\xF6\r\n", true), TextEncoding::kUtf16Le,
                   "a=\xC3\xB6\r\n"},
        DecodeCase{"Utf16Be", Utf16("a=\xF6\r\n", false), TextEncoding::kUtf16Be,
                   "a=\xC3\xB6\r\n"},
        // A pair of surrogates is one character; a lone one or a lone last
        // byte is a replacement character.
        DecodeCase{"Utf16Pair", std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6),
                   TextEncoding::kUtf16Le, "\xF0\x9F\x98\x80"},
        DecodeCase{"Utf16Lone", std::string("\xFE\xFF\xDC\x00\x00\x41\x42", 7),
                   TextEncoding::kUtf16Be, "\xEF\xBF\xBD" "A\xEF\xBF\xBD"},
        DecodeCase{"Empty", "", TextEncoding::kUtf8, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EncodeText, RoundTripsEveryEncodingAndRefusesWhatTheCodePageLacks) {
  const std::string text = kUtf8 + " \xF0\x9F\x98\x80\r\n";
  for (TextEncoding e : {TextEncoding::kUtf8, TextEncoding::kUtf8Bom, TextEncoding::kUtf16Le,
                         TextEncoding::kUtf16Be}) {
    std::string bytes;
    ASSERT_TRUE(EncodeText(text, e, bytes));
    EXPECT_EQ(e, DetectEncoding(bytes));
    EXPECT_EQ(text, DecodeText(bytes));
  }
  std::string bytes;
  ASSERT_TRUE(EncodeText(kUtf8, TextEncoding::kWindows1252, bytes));
  EXPECT_EQ(kCp1252, bytes);
  EXPECT_FALSE(EncodeText("\xE2\x82\xAC \xD0\x96", TextEncoding::kWindows1252, bytes));
}

TEST(Utf8Validator, SequencesSplitBetweenPiecesAreJoined) {
  Utf8Validator v;
  v.Feed("a\xE2");
  EXPECT_FALSE(v.Valid());  // a sequence is open
  v.Feed("\x82");
  v.Feed("\xAC");
  EXPECT_TRUE(v.Valid());
  v.Feed("\xE2\x28");
  EXPECT_FALSE(v.Valid());
}

// Scripts are read a line at a time in whatever form they were saved.
TEST(TextReader, ReadsEveryEncodingAsUtf8Lines) {
  TempDir dir;
  FileSystem fs;
  const std::vector<std::string> expected = {"@A=1", "SELECT '" + kUtf8 + "'", "", "end"};
  std::string le, be;
  std::string utf8 = "@A=1\r\nSELECT '" + kUtf8 + "'\r\n\r\nend";
  ASSERT_TRUE(EncodeText(utf8, TextEncoding::kUtf16Le, le));
  ASSERT_TRUE(EncodeText(utf8, TextEncoding::kUtf16Be, be));
  // A long UTF-8 start does not hide a Windows-1252 byte near the end.
  std::string padding(100000, 'x');
  const std::vector<std::pair<std::string, std::string>> files = {
      {"utf8", utf8},
      {"bom", "\xEF\xBB\xBF" + utf8},
      {"cp1252", "@A=1\nSELECT '" + kCp1252 + "'\r\n\nend"},
      {"le", le},
      {"be", be},
      {"odd", le + "\r"},  // a lone last byte is a replacement character
  };
  for (const auto& [name, content] : files) {
    WriteFile(dir.File(name), content);
    auto reader = fs.OpenTextFile(dir.File(name));
    std::vector<std::string> lines;
    while (!reader->AtEndOfStream()) lines.push_back(reader->ReadLine());
    std::vector<std::string> want = expected;
    if (name == "odd") want.back() += "\xEF\xBF\xBD";
    EXPECT_EQ(want, lines) << name;
  }
  WriteFile(dir.File("long"), "-- " + padding + "\n-- \xE9t\xE9\n");
  auto reader = fs.OpenTextFile(dir.File("long"));
  reader->ReadLine();
  EXPECT_EQ("-- \xC3\xA9t\xC3\xA9", reader->ReadLine());
}

class IniEncodingTest : public testing::TestWithParam<TextEncoding> {};

TEST_P(IniEncodingTest, ReadsAndRewritesInTheFileOwnEncoding) {
  TempDir dir;
  const std::string path = dir.File("report.ini");
  const std::string text = "[FILE]\r\nLogFileName=" + kUtf8 + ".log\r\n[PARAMETER]\r\nName1=a\r\n";
  std::string bytes;
  ASSERT_TRUE(EncodeText(text, GetParam(), bytes));
  WriteFile(path, bytes);
  EXPECT_EQ(kUtf8 + ".log", ReadIniString("file", "logfilename", path));

  ASSERT_TRUE(WriteIniString("PARAMETER", "Default1", "\xC3\xA9t\xC3\xA9", path));
  const std::string written = ReadFile(path);
  EXPECT_EQ(GetParam(), DetectEncoding(written));
  EXPECT_EQ(text + "Default1=\xC3\xA9t\xC3\xA9\r\n", DecodeText(written));
}

INSTANTIATE_TEST_SUITE_P(Encodings, IniEncodingTest,
                         testing::Values(TextEncoding::kUtf8, TextEncoding::kUtf8Bom,
                                         TextEncoding::kUtf16Le, TextEncoding::kUtf16Be,
                                         TextEncoding::kWindows1252));

TEST(IniEncoding, ACharacterTheCodePageLacksMakesTheFileUtf8NotLost) {
  TempDir dir;
  const std::string path = dir.File("report.ini");
  WriteFile(path, "[PARAMETER]\r\nDesc1=" + kCp1252 + "\r\n");
  ASSERT_TRUE(WriteIniString("PARAMETER", "Name1", "\xD0\x96", path));
  const std::string written = ReadFile(path);
  EXPECT_EQ(TextEncoding::kUtf8Bom, DetectEncoding(written));
  EXPECT_EQ(kUtf8, ReadIniString("PARAMETER", "Desc1", path));
  EXPECT_EQ("\xD0\x96", ReadIniString("PARAMETER", "Name1", path));
}

}  // namespace
}  // namespace vantrelle
