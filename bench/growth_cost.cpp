// The cost of a table's growth as its input doubles: the number of rows
// grown (1,024 to 32,767) and the size of the pattern row (a cell of 16 B to
// 512 KB). Each case grows a one-table document, writes every grown cell
// and saves it; the time per row should stay flat as the rows double, and a
// pattern row too large for the rows asked fails at once with the size
// limit's error instead of running out of memory. Last, 32,767 rows of a
// pattern row holding marks the copies must not repeat: paragraph ids (kept
// compact, numbered per row) and a footnote (copied as XML, one note per
// row).
//
// Usage: bench_growth_cost [folder]   (default: a folder under /tmp)
#include <sys/resource.h>
#include <zip.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "base/error.h"
#include "word/application.h"

namespace {

// What the pattern row holds besides its text.
enum class Marks { kNone, kParagraphIds, kFootnote };

void WriteDocument(const std::filesystem::path& path, std::size_t cell_bytes, Marks marks) {
  const std::string paragraph = marks == Marks::kParagraphIds
                                    ? "<w:p w14:paraId=\"1A2B3C4D\" w14:textId=\"77777777\">"
                                    : "<w:p>";
  std::string cell = "<w:tc><w:tcPr><w:tcW w:w=\"1200\" w:type=\"dxa\"/></w:tcPr>" + paragraph +
                     "<w:r><w:t>" + std::string(cell_bytes, '0') + "</w:t></w:r></w:p></w:tc>";
  const std::string note_cell =
      marks == Marks::kFootnote
          ? "<w:tc><w:p><w:r><w:t>Item</w:t></w:r><w:r><w:footnoteReference w:id=\"1\"/></w:r>"
            "</w:p></w:tc>"
          : cell;
  std::string row = "<w:tr>" + note_cell + cell + cell + cell + "</w:tr>";
  std::string document =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<w:document "
      "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
      "xmlns:w14=\"http://schemas.microsoft.com/office/word/2010/wordml\"><w:body><w:tbl>" +
      row + row + "</w:tbl><w:sectPr/></w:body></w:document>";
  std::string footnotes =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><w:footnotes xmlns:w=\"http://schemas."
      "openxmlformats.org/wordprocessingml/2006/main\"><w:footnote w:id=\"1\"><w:p><w:r>"
      "<w:footnoteRef/></w:r><w:r><w:t>The note.</w:t></w:r></w:p></w:footnote></w:footnotes>";
  std::string document_rels =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships xmlns=\"http://schemas."
      "openxmlformats.org/package/2006/relationships\"><Relationship Id=\"rId1\" Type=\"http://"
      "schemas.openxmlformats.org/officeDocument/2006/relationships/footnotes\" "
      "Target=\"footnotes.xml\"/></Relationships>";
  std::string types =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types xmlns=\"http://schemas.openxmlformats.org/"
      "package/2006/content-types\"><Default Extension=\"rels\" ContentType=\"application/"
      "vnd.openxmlformats-package.relationships+xml\"/><Default Extension=\"xml\" "
      "ContentType=\"application/xml\"/><Override PartName=\"/word/document.xml\" ContentType="
      "\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
      "</Types>";
  std::string rels =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships xmlns=\"http://schemas."
      "openxmlformats.org/package/2006/relationships\"><Relationship Id=\"rId1\" Type=\"http://"
      "schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
      "Target=\"word/document.xml\"/></Relationships>";
  std::filesystem::remove(path);
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  for (auto [name, data] : {std::pair{"[Content_Types].xml", &types},
                            {"_rels/.rels", &rels},
                            {"word/document.xml", &document},
                            {"word/footnotes.xml", &footnotes},
                            {"word/_rels/document.xml.rels", &document_rels}}) {
    zip_file_add(archive, name, zip_source_buffer(archive, data->data(), data->size(), 0),
                 ZIP_FL_OVERWRITE);
  }
  zip_close(archive);
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Run(const std::filesystem::path& folder, int rows, std::size_t cell_bytes,
         Marks marks = Marks::kNone) {
  std::filesystem::path path = folder / "growth.docx";
  WriteDocument(path, cell_bytes, marks);
  auto start = std::chrono::steady_clock::now();
  std::string outcome = "ok";
  try {
    vantrelle::Application word;
    vantrelle::Document& doc = word.Open(path);
    doc.TableItem(1).CellAt(1, 1).Select();
    word.GetSelection().InsertRowCopies(rows - 2);
    for (int r = 1; r <= rows - 2; ++r) {
      // A note's cell keeps its reference: its label is not written.
      for (int c = marks == Marks::kFootnote ? 2 : 1; c <= 4; ++c) {
        doc.TableItem(1).CellAt(r, c).SetText(std::to_string(r * c));
      }
    }
    doc.Save();
  } catch (const vantrelle::Error& e) {
    outcome = e.what();
  }
  double seconds = Seconds(start);
  const char* what = marks == Marks::kParagraphIds ? " with paragraph ids"
                     : marks == Marks::kFootnote   ? " with a footnote"
                                                   : "";
  std::printf("%6d rows, cells of %7zu B%s: %8.3f s, %7.2f us/row  %s\n", rows, cell_bytes, what,
              seconds, seconds * 1e6 / rows, outcome.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path folder =
      argc > 1 ? std::filesystem::path(argv[1])
               : std::filesystem::temp_directory_path() / "vantrelle_bench_growth";
  std::filesystem::create_directories(folder);
  std::printf("rows doubling, pattern cells of 16 B:\n");
  for (int rows = 1024; rows <= 32768; rows *= 2) Run(folder, rows > 32767 ? 32767 : rows, 16);
  std::printf("pattern cells growing fourfold, 800 rows:\n");
  for (std::size_t bytes = 16; bytes <= (512u << 10); bytes *= 4) Run(folder, 800, bytes);
  std::printf("pattern rows holding marks:\n");
  Run(folder, 32767, 16);
  Run(folder, 32767, 16, Marks::kParagraphIds);
  Run(folder, 32767, 16, Marks::kFootnote);
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak memory %.1f MB\n", usage.ru_maxrss / 1024.0);
  std::filesystem::remove_all(folder);
  return 0;
}
