// The cost of a table's growth as its input doubles: the number of rows
// grown (1,024 to 32,767) and the size of the pattern row (a cell of 16 B to
// 512 KB). Each case grows a one-table document, writes every grown cell
// and saves it; the time per row should stay flat as the rows double, and a
// pattern row too large for the rows asked fails at once with the size
// limit's error instead of running out of memory.
//
// Usage: bench_growth_cost [folder]   (default: a folder under /tmp)
#include <sys/resource.h>
#include <zip.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "run/error.h"
#include "word/application.h"

namespace {

void WriteDocument(const std::filesystem::path& path, std::size_t cell_bytes) {
  std::string cell = "<w:tc><w:tcPr><w:tcW w:w=\"1200\" w:type=\"dxa\"/></w:tcPr><w:p><w:r><w:t>" +
                     std::string(cell_bytes, '0') + "</w:t></w:r></w:p></w:tc>";
  std::string row = "<w:tr>" + cell + cell + cell + cell + "</w:tr>";
  std::string document =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<w:document "
      "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body><w:tbl>" +
      row + row + "</w:tbl><w:sectPr/></w:body></w:document>";
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
  for (auto [name, data] : {std::pair{"[Content_Types].xml", &types}, {"_rels/.rels", &rels},
                            {"word/document.xml", &document}}) {
    zip_file_add(archive, name, zip_source_buffer(archive, data->data(), data->size(), 0),
                 ZIP_FL_OVERWRITE);
  }
  zip_close(archive);
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Run(const std::filesystem::path& folder, int rows, std::size_t cell_bytes) {
  std::filesystem::path path = folder / "growth.docx";
  WriteDocument(path, cell_bytes);
  auto start = std::chrono::steady_clock::now();
  std::string outcome = "ok";
  try {
    vantrelle::Application word;
    vantrelle::Document& doc = word.Open(path);
    doc.TableItem(1).CellAt(1, 1).Select();
    word.GetSelection().InsertRowCopies(rows - 2);
    for (int r = 1; r <= rows - 2; ++r) {
      for (int c = 1; c <= 4; ++c) doc.TableItem(1).CellAt(r, c).SetText(std::to_string(r * c));
    }
    doc.Save();
  } catch (const vantrelle::Error& e) {
    outcome = e.what();
  }
  double seconds = Seconds(start);
  std::printf("%6d rows, cells of %7zu B: %8.3f s, %7.2f us/row  %s\n", rows, cell_bytes, seconds,
              seconds * 1e6 / rows, outcome.c_str());
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
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak memory %.1f MB\n", usage.ru_maxrss / 1024.0);
  std::filesystem::remove_all(folder);
  return 0;
}
