#include "word/table_fill.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "base/error.h"
#include "base/run_log.h"
#include "format/format_field_value.h"
#include "word/document.h"

namespace vantrelle {
namespace {

constexpr int kMaxRecords = 32767;

[[noreturn]] void Overflow() { throw Error("Overflow", kErrOverflow); }

// Counts the records of the open result and returns to the first. A result
// of more than 32,767 records is an overflow: counting stops there, so a
// huge result is not fetched whole for nothing. A run asked to stop stops
// counting at the next record.
int CountRecords(const RunStop& stop, FillRecords& records, bool growing) {
  int count = 0;
  while (!records.Eof()) {
    if (count == kMaxRecords) {
      if (!growing) Overflow();
      throw Error("Overflow: a table grows to at most 32,767 rows, and the query returned more "
                  "records.",
                  kErrOverflow);
    }
    stop.Check();
    ++count;
    records.MoveNext();
  }
  if (count > 0) records.MoveFirst();
  return count;
}

// The last coordinate of a run of \a length cells from \a first, which must
// stay a 16-bit number.
int LastCoordinate(int first, int length) {
  int last = first + length - 1;
  if (last > INT16_MAX || last < INT16_MIN) Overflow();
  return last;
}

// Writes field \a field of the current record into cell (row, column),
// formatted with the cell's own text. The table and the cell are looked up
// afresh for every cell.
void WriteField(const TableFill& fill, int16_t table, int row, int column, int field) {
  std::string text = fill.records.FieldText(field);
  Cell& target = fill.doc.TableItem(table).CellAt(row, column);
  std::string pattern = fill.doc.TableItem(table).CellAt(row, column).Text();
  target.SetText(FormatFieldValue(text, pattern));
}

void WriteRecords(const TableFill& fill, int16_t table, int begin_row, int begin_col,
                  bool transpose, int count) {
  FillRecords& records = fill.records;
  const int field_count = records.FieldCount();
  if (count == 0) return;
  const int outer_first = transpose ? begin_col : begin_row;
  const int inner_first = transpose ? begin_row : begin_col;
  const int outer_last = LastCoordinate(outer_first, count);
  const int inner_last = LastCoordinate(inner_first, field_count);
  for (int outer = outer_first; outer <= outer_last; ++outer) {
    fill.pub.stop.Check();
    for (int inner = inner_first; inner <= inner_last; ++inner) {
      int row = transpose ? inner : outer;
      int column = transpose ? outer : inner;
      WriteField(fill, table, row, column, inner - inner_first);
    }
    records.MoveNext();
  }
}

// Closes the record set after a failure and logs it.
bool Fail(const TableFill& fill, const char* error_text, const Error& error) {
  fill.records.CloseAfterFailure();
  LogError(fill.pub, error_text, error.Description());
  return false;
}

// Grows the table by count - 2 rows above the pattern row (or columns left
// of the pattern column) and copies the pattern row into the new rows,
// across the whole table: content and structure, so that nested tables,
// fields and bookmarks (under fresh names) are copied too. A cell that
// cannot be copied is skipped silently, and the fill then takes that cell's
// own text as its pattern. Growth that would take the document beyond its
// size limit fails before anything is inserted.
void GrowTable(const TableFill& fill, int16_t table, int begin_row, int begin_col,
               bool transpose, int count) {
  Document& doc = fill.doc;
  const int added = count - 2;
  Selection& selection = fill.app.GetSelection();
  if (!transpose) {
    // Inserted rows are copies of the pattern row as they are inserted.
    doc.TableItem(table).CellAt(begin_row, 1).Select();
    selection.InsertRowCopies(added);
    return;
  }
  // The pattern column's cell in the begin row: a title row above it may
  // be one cell across the table.
  doc.TableItem(table).CellAt(begin_row, begin_col).Select();
  doc.TableItem(table).CheckColumnCopies(begin_col, added);
  // All the columns in one insertion: the same table as that many single
  // insertions, without indexing the table again after each.
  selection.InsertColumns(added);
  const int pattern_column = begin_col + added;
  // A row whose cell widened over the new columns (a title) has no copies
  // to give the pattern's content.
  const std::vector<int> widened = doc.TableItem(table).RowsWidened();
  for (int column = begin_col; column < pattern_column; ++column) {
    int rows = 0;
    try {
      rows = doc.TableItem(table).RowCount();
    } catch (const Error&) {
    }
    for (int row = 1; row <= rows; ++row) {
      if (std::find(widened.begin(), widened.end(), row) != widened.end()) continue;
      try {
        Table& t = doc.TableItem(table);
        t.CopyCellContent(t.CellAt(row, column), t.CellAt(row, pattern_column));
      } catch (const Error&) {
      }
    }
  }
}

}  // namespace

bool FillTable(const TableFill& fill, int16_t table, int16_t begin_row, int16_t begin_col,
               bool transpose, const std::string& sql) {
  FillRecords& records = fill.records;
  try {
    records.Open(sql);
    int count = CountRecords(fill.pub.stop, records, false);
    WriteRecords(fill, table, begin_row, begin_col, transpose, count);
    records.Close();
    return true;
  } catch (const Error& error) {
    return Fail(fill, "Failed to execute function 1.", error);
  }
}

bool FillTableGrowing(const TableFill& fill, int16_t table, int16_t begin_row,
                      int16_t begin_col, bool transpose, const std::string& sql) {
  FillRecords& records = fill.records;
  try {
    records.Open(sql);
    const int count = CountRecords(fill.pub.stop, records, true);
    if (count > 2) GrowTable(fill, table, begin_row, begin_col, transpose, count);
    WriteRecords(fill, table, begin_row, begin_col, transpose, count);
    records.Close();
    return true;
  } catch (const Error& error) {
    return Fail(fill, "Failed to execute function 2.", error);
  }
}

}  // namespace vantrelle
