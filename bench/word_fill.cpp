// The table fill's worst case: a template whose table grows to 32,767 rows
// of 8 columns (copies of the pattern row, as a growing fill makes them),
// every cell read and written through fresh look-ups, fields updated, the
// document saved. Prints each step's time, the CPU time and the peak memory.
//
// Usage: bench_word_fill [folder]   (default: a folder under /tmp)
#include <sys/resource.h>
#include <zip.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "word/application.h"

namespace {

constexpr int kRows = 32767;
constexpr int kColumns = 8;

std::string TemplateCell(const std::string& text, bool bold) {
  return "<w:tc><w:tcPr><w:tcW w:w=\"1200\" w:type=\"dxa\"/></w:tcPr><w:p><w:pPr><w:jc "
         "w:val=\"right\"/></w:pPr><w:r><w:rPr>" +
         std::string(bold ? "<w:b/>" : "") + "<w:sz w:val=\"18\"/></w:rPr><w:t>" + text +
         "</w:t></w:r></w:p></w:tc>";
}

std::string TemplateRow(const std::string& text, bool bold) {
  std::string row = "<w:tr>";
  for (int c = 0; c < kColumns; ++c) row += TemplateCell(text, bold);
  return row + "</w:tr>";
}

void AddPart(zip_t* archive, const char* name, const std::string& data) {
  zip_source_t* source = zip_source_buffer(archive, data.data(), data.size(), 0);
  zip_file_add(archive, name, source, ZIP_FL_OVERWRITE);
}

void WriteTemplate(const std::filesystem::path& path) {
  std::string grid = "<w:tblGrid>";
  for (int c = 0; c < kColumns; ++c) grid += "<w:gridCol w:w=\"1200\"/>";
  grid += "</w:tblGrid>";
  const std::string document =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
      "<w:body><w:p><w:r><w:t>Sales report of </w:t></w:r><w:fldSimple w:instr=\" DOCVARIABLE "
      "Region \\* MERGEFORMAT \"><w:r><w:t>Region</w:t></w:r></w:fldSimple><w:r><w:t> printed "
      "</w:t></w:r><w:r><w:fldChar w:fldCharType=\"begin\"/></w:r><w:r><w:instrText> DATE \\@ "
      "\"d MMMM yyyy\" </w:instrText></w:r><w:r><w:fldChar w:fldCharType=\"separate\"/></w:r>"
      "<w:r><w:t>date</w:t></w:r><w:r><w:fldChar w:fldCharType=\"end\"/></w:r></w:p>"
      "<w:tbl><w:tblPr><w:tblW w:w=\"0\" w:type=\"auto\"/></w:tblPr>" +
      grid + TemplateRow("Heading", true) + TemplateRow("#,##0.00", false) +
      TemplateRow("#,##0.00", false) +
      "</w:tbl><w:p/><w:sectPr/></w:body></w:document>";
  const std::string types =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" "
      "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/word/document.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.template."
      "main+xml\"/></Types>";
  const std::string rels =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" "
      "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
      "officeDocument\" Target=\"word/document.xml\"/></Relationships>";
  std::filesystem::remove(path);
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  AddPart(archive, "[Content_Types].xml", types);
  AddPart(archive, "_rels/.rels", rels);
  AddPart(archive, "word/document.xml", document);
  zip_close(archive);
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path folder =
      argc > 1 ? std::filesystem::path(argv[1])
               : std::filesystem::temp_directory_path() / "vantrelle_bench_word_fill";
  std::filesystem::create_directories(folder);
  const std::filesystem::path template_path = folder / "fill.dotx";
  const std::filesystem::path report_path = folder / "fill.docx";
  WriteTemplate(template_path);
  std::filesystem::copy_file(template_path, report_path,
                             std::filesystem::copy_options::overwrite_existing);

  try {
    auto start = std::chrono::steady_clock::now();
    vantrelle::Application word;
    vantrelle::Document& doc = word.Open(report_path);
    doc.Activate();
    double opened = Seconds(start);
    doc.TableItem(1).CellAt(2, 1).Select();
    word.GetSelection().InsertRowCopies(kRows - 2);
    double grown = Seconds(start);
    std::size_t pattern_bytes = 0;
    std::string value;
    for (int r = 2; r <= kRows + 1; ++r) {
      for (int c = 1; c <= kColumns; ++c) {
        std::string pattern = doc.TableItem(1).CellAt(r, c).Text();
        pattern_bytes += pattern.size();
        value = std::to_string(r * 1000 + c) + ".00";
        doc.TableItem(1).CellAt(r, c).SetText(value);
      }
    }
    double filled = Seconds(start);
    doc.SetVariable("Region", "North-West");
    int fields = doc.FieldCount();
    for (int i = 1; i <= fields; ++i) doc.UpdateField(i);
    double updated = Seconds(start);
    doc.Save();
    double saved = Seconds(start);
    doc.Close();
    word.Quit();
    double total = Seconds(start);
    std::printf("rows %d x %d columns, %zu pattern bytes read\n", kRows, kColumns, pattern_bytes);
    std::printf("open %.3f s, insert %.3f s, fill %.3f s, fields %.3f s, save %.3f s, total %.3f s "
                "(target <= 0.5 s)\n",
                opened, grown - opened, filled - grown, updated - filled, saved - updated, total);
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("cpu %.3f s user, %.3f s system; peak memory %.1f MB\n",
                usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6,
                usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6, usage.ru_maxrss / 1024.0);
    std::printf("report %s: %ju bytes\n", report_path.c_str(),
                static_cast<std::uintmax_t>(std::filesystem::file_size(report_path)));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_word_fill: %s\n", e.what());
    return 1;
  }
  return 0;
}
