// Fuzz target for the document engine: the input is the bytes of a package,
// which goes through what a report run does to a template: opened (checked
// entry by entry), its tables indexed, cells read and written, a row and a
// column inserted, a variable set, the fields updated, and saved again.
// Errors are what bad input should give; anything else is a finding.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/error.h"
#include "word/application.h"
#include "word/document.h"
#include "word/table.h"

namespace {

// One scratch file per process, in memory where the system has it.
const std::filesystem::path& ScratchFile() {
  static const std::filesystem::path path = [] {
    std::filesystem::path folder =
        std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    return folder / ("vantrelle_package_fuzz_" + std::to_string(::getpid()) + ".docx");
  }();
  return path;
}

void WorkOn(vantrelle::Application& word, vantrelle::Document& doc) {
  doc.Activate();
  int tables = doc.TableCount();
  for (int t = 1; t <= tables && t <= 4; ++t) {
    vantrelle::Table& table = doc.TableItem(t);
    int rows = table.RowCount();
    int columns = table.ColumnCount();
    for (int r = 1; r <= rows && r <= 4; ++r) {
      for (int c = 1; c <= columns && c <= 4; ++c) {
        try {
          vantrelle::Cell& cell = table.CellAt(r, c);
          std::string text = cell.Text();
          cell.SetText(text.size() < 64 ? text + " <&>\xC3\xA9" : "x");
        } catch (const vantrelle::Error&) {
          // A merged position has no cell of its own.
        }
      }
    }
    try {
      table.CellAt(1, 1).Select();
      word.GetSelection().InsertRows(1);
      doc.TableItem(t).CellAt(1, 1).Select();
      word.GetSelection().InsertColumns();
      // Copies of a row carry its notes, comments and ids along.
      doc.TableItem(t).CellAt(1, 1).Select();
      word.GetSelection().InsertRowCopies(2);
    } catch (const vantrelle::Error&) {
    }
  }
  doc.SetVariable("FuzzVariable", "value \xE2\x9C\x93");
  int fields = doc.FieldCount();
  for (int i = 1; i <= fields && i <= 64; ++i) doc.UpdateField(i);
  doc.Save();
  // As the PDF's copy is made.
  doc.UnlinkFields();
  doc.Save();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::filesystem::path& path = ScratchFile();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) std::abort();
  }
  // Small limits keep a zip bomb in the input from taking the fuzzer's memory.
  vantrelle::PackageLimits limits;
  limits.max_part_bytes = 16u << 20;
  limits.max_total_bytes = 32u << 20;
  {
    vantrelle::Application word(limits);
    try {
      WorkOn(word, word.Open(path));
    } catch (const vantrelle::Error&) {
    }
    word.Quit();
  }
  std::error_code ec;
  std::filesystem::remove(path, ec);
  return 0;
}
