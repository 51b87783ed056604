// Tables of a document and their cells, numbered the way the word processor
// numbers them: Cell(r, c) is the c-th cell of the r-th row, 1-based; a cell
// covered by a vertical merge, or a column past the row's last cell, does
// not exist.
//
// Each table keeps an index of its rows and cells, built on first use and
// rebuilt once after a row or column insertion, so a look-up costs O(1).
// References to cells stay valid until the next insertion into their table
// or until the document is closed.
#pragma once

#include <pugixml.hpp>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vantrelle {

class Document;
class GrownRows;
class Table;
struct WordNames;

/// A cell position of a table row, numbered as Cell(r, c) numbers them.
struct CellLayout {
  pugi::xml_node tc;
  bool covered = false;  ///< covered by a vertical merge: Cell(r, c) does not exist
  int span = 1;          ///< the grid columns the cell spans
};

/// The rows of \a tbl with their cells, in the order and numbering of
/// Table::CellAt: rows and cells inside content controls count, a cell joined
/// to the one before it by an old-style horizontal merge does not.
std::vector<std::vector<CellLayout>> TableLayout(pugi::xml_node tbl, const WordNames& names);

class Cell {
 public:
  /// The cell's text: its paragraphs joined by "\r", then the end-of-cell
  /// mark "\r\a".
  std::string Text() const;
  /// Replaces the cell's text, keeping its look (first paragraph and run
  /// properties). CR starts a paragraph, LF and VT break the line, FF and
  /// character 14 break the page and the column, TAB is a tab; characters
  /// the document cannot hold are dropped or replaced.
  void SetText(std::string_view text);
  /// Makes this cell the application's selection. A cell of grown rows
  /// turns its table's grown rows into XML first.
  void Select();

 private:
  friend class Table;
  Cell(Table* table, pugi::xml_node tc, bool covered, int row, int column)
      : table_(table), tc_(tc), covered_(covered), row_(row), column_(column) {}

  Table* table_;
  pugi::xml_node tc_;  // empty for a cell of grown rows
  bool covered_;       // covered by a vertical merge: the cell does not exist
  int row_, column_;   // 1-based position in the table
  GrownRows* grown_ = nullptr;
  int grown_row_ = 0;
};

class Table {
 public:
  ~Table();
  /// Cell(\a row, \a column), 1-based. Throws Error "The requested member of
  /// the collection does not exist." when there is no such cell.
  Cell& CellAt(int row, int column);
  int RowCount();
  /// The number of cells of the widest row.
  int ColumnCount();
  /// Replaces the content of cell \a target with a copy of \a source's
  /// content and structure, bookmarks renamed and other unique marks fresh.
  void CopyCellContent(Cell& target, const Cell& source);
  /// Checks that \a count copies of column \a column fit the document's
  /// size limit. Throws Error when they do not.
  void CheckColumnCopies(int column, int count);
  /// The rows (1-based) whose cell across the last column insertion's place
  /// widened over the new columns instead of getting copies.
  const std::vector<int>& RowsWidened() const { return widened_rows_; }

 private:
  friend class Cell;
  friend class Document;
  friend class Selection;
  Table(Document* document, pugi::xml_node tbl);

  void EnsureIndex();
  void Invalidate() { indexed_ = false; }
  /// Inserts \a count empty rows above \a tr, formatted like it.
  void InsertRowsAbove(pugi::xml_node tr, int count);
  /// Inserts \a count copies of row \a tr above it, for a table's growth:
  /// each copy keeps the row's content and structure, with fresh names for
  /// its bookmarks and its own notes, comments, drawing, shape and
  /// paragraph ids (UniqueMarks). Throws Error when the copies would take
  /// the document beyond its size limit; the table is then unchanged.
  void InsertRowCopiesAbove(pugi::xml_node tr, int count);
  /// Inserts one empty column left of the column that holds \a tc.
  void InsertColumnLeftOf(pugi::xml_node tc);
  /// Inserts \a count empty columns there at once, as \a count single
  /// insertions would. A table that grows wider than both its old width and
  /// the text width of its section is narrowed to fit (FitToPage).
  void InsertColumnsLeftOf(pugi::xml_node tc, int count);
  /// Narrows a table wider than the wider of \a old_width (twips) and its
  /// section's text width to that width: the grid's columns and the widths
  /// in twips of its cells, rows and the table by one factor, so that the
  /// columns keep their relative widths. Widths given as shares (pct) or
  /// automatic stay. The table's width in twips follows its grid.
  void FitToPage(double old_width);
  /// Turns the grown rows into XML rows, for operations that need them.
  void Materialize();
  /// Prepares a copy of a row or cell: merges not carried over. Its
  /// bookmarks and other unique marks are left to the caller.
  void PrepareCopy(pugi::xml_node copy);
  /// Replaces the paragraph ids of \a prototype by grown-row slots, in
  /// document order; returns their number.
  int MarkParagraphIdSlots(pugi::xml_node prototype);
  /// Replaces the bookmark ids and names of \a prototype by grown-row slots:
  /// \a id_slots distinct ids, \a base_names the names they stand for.
  /// Unpaired marks go. False when a name cannot be a slot.
  bool MarkBookmarkSlots(pugi::xml_node prototype, int& id_slots,
                         std::vector<std::string>& base_names);
  /// Gives the bookmarks in \a copy fresh names and ids.
  void RenameBookmarks(pugi::xml_node copy);
  /// Position (row, column), 1-based, of \a tc; {0, 0} when not in this table.
  std::pair<int, int> Locate(pugi::xml_node tc);

  Document* document_;
  pugi::xml_node tbl_;
  bool indexed_ = false;
  std::vector<pugi::xml_node> rows_;
  std::vector<std::size_t> row_start_;  // offset of each row's cells in cells_
  std::vector<Cell> cells_;
  int column_count_ = 0;
  std::vector<int> widened_rows_;
  // Rows grown above an XML row, in the order they were inserted.
  std::vector<std::unique_ptr<GrownRows>> grown_;
};

}  // namespace vantrelle
