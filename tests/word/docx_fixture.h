// Helpers for document engine tests: a scratch folder and small packages
// written from inline XML.
#pragma once

#include <gtest/gtest.h>
#include <zip.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>

namespace vantrelle::testing {

inline const char* kW = "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"";

inline std::string ContentTypes(const std::string& main_type =
                                    "application/vnd.openxmlformats-officedocument."
                                    "wordprocessingml.document.main+xml") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" "
         "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
         "<Override PartName=\"/word/document.xml\" ContentType=\"" +
         main_type + "\"/></Types>";
}

inline std::string PackageRels(const std::string& target = "word/document.xml") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
         "relationships/officeDocument\" Target=\"" +
         target + "\"/></Relationships>";
}

inline std::string DocumentXml(const std::string& body) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<w:document ") +
         kW + "><w:body>" + body + "<w:sectPr/></w:body></w:document>";
}

/// A cell holding one paragraph with one run of \a text.
inline std::string Tc(const std::string& text, const std::string& tc_pr = "") {
  return "<w:tc>" + (tc_pr.empty() ? "" : "<w:tcPr>" + tc_pr + "</w:tcPr>") +
         "<w:p><w:r><w:t>" + text + "</w:t></w:r></w:p></w:tc>";
}

using Parts = std::map<std::string, std::string>;

/// Writes a zip holding \a parts (name -> bytes) to \a path.
inline void WriteZip(const std::filesystem::path& path, const Parts& parts) {
  std::filesystem::remove(path);
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(archive, nullptr);
  for (const auto& [name, data] : parts) {
    zip_source_t* source = zip_source_buffer(archive, data.data(), data.size(), 0);
    ASSERT_GE(zip_file_add(archive, name.c_str(), source, ZIP_FL_OVERWRITE), 0);
  }
  ASSERT_EQ(zip_close(archive), 0);
}

/// The inflated entries of the zip at \a path.
inline Parts ReadZip(const std::filesystem::path& path) {
  Parts parts;
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &error);
  if (!archive) return parts;
  for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
    zip_stat_t st;
    zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &st);
    std::string data(st.size, '\0');
    zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
    if (!file) continue;
    zip_int64_t n = zip_fread(file, data.data(), data.size());
    zip_fclose(file);
    if (n == static_cast<zip_int64_t>(st.size)) parts[st.name] = data;
  }
  zip_discard(archive);
  return parts;
}

/// The folder of the corpus documents. They come from other projects and
/// live outside the repository: VANTRELLE_CORPUS names their folder, by
/// default the shared folder beside the source tree.
inline std::filesystem::path CorpusFolder() {
  const char* configured = std::getenv("VANTRELLE_CORPUS");
  std::filesystem::path root =
      configured && *configured
          ? std::filesystem::path(configured)
          : std::filesystem::path(VANTRELLE_SOURCE_DIR) / ".." / "shared" / "corpus";
  return root / "docx";
}

/// A test fixture with a fresh scratch folder.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = std::filesystem::temp_directory_path() /
           ("vantrelle_word_" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir_, ec);
  }
  /// Writes a minimal document with \a body (and \a extra parts) as \a name.
  std::filesystem::path MakeDocx(const std::string& body, Parts extra = {},
                                 const std::string& name = "doc.docx") {
    Parts parts = {{"[Content_Types].xml", ContentTypes()},
                   {"_rels/.rels", PackageRels()},
                   {"word/document.xml", DocumentXml(body)}};
    for (auto& [k, v] : extra) parts[k] = v;
    std::filesystem::path path = dir_ / name;
    WriteZip(path, parts);
    return path;
  }
  std::filesystem::path dir_;
};

}  // namespace vantrelle::testing
