#include "word/table_fill.h"

#include <optional>
#include <vector>

#include "run/error.h"
#include "run/run_log.h"
#include "sql/format_field_value.h"

namespace vantrelle {
namespace {

constexpr int kMaxRecords = 32767;

[[noreturn]] void Overflow() { throw Error("Overflow", kErrOverflow); }

// Counts the records of the open result and returns to the first. A result
// of more than 32,767 records is an overflow: counting stops there, so a
// huge result is not fetched whole for nothing.
int CountRecords(Recordset& records) {
  int count = 0;
  while (!records.Eof()) {
    if (count == kMaxRecords) Overflow();
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
void WriteField(ReportSession& session, int16_t table, int row, int column, Recordset& records,
                int field) {
  const Value& value = records.FieldValue(field);
  std::string text = value.IsNull() ? std::string() : value.ToText();
  Cell& target = session.report_doc->TableItem(table).CellAt(row, column);
  std::string pattern = session.report_doc->TableItem(table).CellAt(row, column).Text();
  target.SetText(FormatFieldValue(text, pattern));
}

void WriteRecords(ReportSession& session, int16_t table, int begin_row, int begin_col,
                  bool transpose, Recordset& records, int count) {
  const int field_count = records.FieldCount();
  if (count == 0) return;
  const int outer_first = transpose ? begin_col : begin_row;
  const int inner_first = transpose ? begin_row : begin_col;
  const int outer_last = LastCoordinate(outer_first, count);
  const int inner_last = LastCoordinate(inner_first, field_count);
  for (int outer = outer_first; outer <= outer_last; ++outer) {
    for (int inner = inner_first; inner <= inner_last; ++inner) {
      int row = transpose ? inner : outer;
      int column = transpose ? outer : inner;
      WriteField(session, table, row, column, records, inner - inner_first);
    }
    records.MoveNext();
  }
}

// Closes the record set after a failure and logs it.
bool Fail(ReportSession& session, const char* error_text, const Error& error) {
  Recordset& records = *session.db.recordset;
  try {
    if (records.State() != 0) records.Close();
  } catch (const Error&) {
  }
  LogError(session.pub, error_text, error.Description());
  return false;
}

// A cell's text without the end-of-cell mark (CR BEL) that reading adds.
std::string StripEndOfCell(std::string text) {
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\a") == 0)
    text.resize(text.size() - 2);
  return text;
}

// Copies the pattern row's (or column's) texts into the cells of one
// inserted row (or column). A cell that cannot be read or written is skipped
// silently, and the fill then takes that cell's own text as its pattern.
// The pattern texts do not change while they are copied, so each is read
// once and kept in \a patterns (indexed by position, nullopt when unread).
class PatternCopier {
 public:
  PatternCopier(Document& doc, int16_t table) : doc_(doc), table_(table) {}

  void Copy(int row, int col, int from_row, int from_col, int key) {
    try {
      if (static_cast<size_t>(key) >= patterns_.size()) patterns_.resize(key + 1);
      std::optional<std::string>& pattern = patterns_[key];
      Cell& target = doc_.TableItem(table_).CellAt(row, col);
      if (!pattern) pattern = StripEndOfCell(doc_.TableItem(table_).CellAt(from_row, from_col).Text());
      target.SetText(*pattern);
    } catch (const Error&) {
    }
  }

 private:
  Document& doc_;
  int16_t table_;
  std::vector<std::optional<std::string>> patterns_;
};

}  // namespace

bool FillTable(ReportSession& session, int16_t table, int16_t begin_row, int16_t begin_col,
               bool transpose, const std::string& sql) {
  Recordset& records = *session.db.recordset;
  try {
    records.Open(sql);
    int count = CountRecords(records);
    WriteRecords(session, table, begin_row, begin_col, transpose, records, count);
    records.Close();
    return true;
  } catch (const Error& error) {
    return Fail(session, "Failed to execute function 1.", error);
  }
}

bool FillTableGrowing(ReportSession& session, int16_t table, int16_t begin_row,
                      int16_t begin_col, bool transpose, const std::string& sql) {
  Recordset& records = *session.db.recordset;
  try {
    records.Open(sql);
    const int count = CountRecords(records);
    if (count > 2) {
      Document& doc = *session.report_doc;
      const int added = count - 2;
      if (!transpose) {
        doc.TableItem(table).CellAt(begin_row, 1).Select();
        session.word_app->GetSelection().InsertRows(added);
        const int pattern_row = begin_row + added;
        PatternCopier copier(doc, table);
        for (int row = begin_row; row <= pattern_row; ++row) {
          int columns = 0;
          try {
            columns = doc.TableItem(table).ColumnCount();
          } catch (const Error&) {
          }
          for (int col = 1; col <= columns; ++col)
            copier.Copy(row, col, pattern_row, col, col);
        }
      } else {
        doc.TableItem(table).CellAt(1, begin_col).Select();
        for (int i = 0; i < added; ++i) session.word_app->GetSelection().InsertColumns();
        const int pattern_col = begin_col + added;
        PatternCopier copier(doc, table);
        for (int col = begin_col; col <= pattern_col; ++col) {
          int rows = 0;
          try {
            rows = doc.TableItem(table).RowCount();
          } catch (const Error&) {
          }
          for (int row = 1; row <= rows; ++row)
            copier.Copy(row, col, row, pattern_col, row);
        }
      }
    }
    WriteRecords(session, table, begin_row, begin_col, transpose, records, count);
    records.Close();
    return true;
  } catch (const Error& error) {
    return Fail(session, "Failed to execute function 2.", error);
  }
}

}  // namespace vantrelle
