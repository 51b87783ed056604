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

#include <string>
#include <string_view>
#include <vector>

namespace vantrelle {

class Document;
class Table;

class Cell {
 public:
  /// The cell's text: its paragraphs joined by "\r", then the end-of-cell
  /// mark "\r\a".
  std::string Text() const;
  /// Replaces the cell's text, keeping its look (first paragraph and run
  /// properties). CR starts a paragraph, LF and VT break the line, TAB is a
  /// tab; characters the document cannot hold are dropped or replaced.
  void SetText(std::string_view text);
  /// Makes this cell the application's selection.
  void Select();

 private:
  friend class Table;
  Cell(Table* table, pugi::xml_node tc, bool covered) : table_(table), tc_(tc), covered_(covered) {}

  Table* table_;
  pugi::xml_node tc_;
  bool covered_;  // covered by a vertical merge: the cell does not exist
};

class Table {
 public:
  /// Cell(\a row, \a column), 1-based. Throws Error "The requested member of
  /// the collection does not exist." when there is no such cell.
  Cell& CellAt(int row, int column);
  int RowCount();
  /// The number of cells of the widest row.
  int ColumnCount();

 private:
  friend class Cell;
  friend class Document;
  friend class Selection;
  Table(Document* document, pugi::xml_node tbl) : document_(document), tbl_(tbl) {}

  void EnsureIndex();
  void Invalidate() { indexed_ = false; }
  /// Inserts \a count empty rows above \a tr, formatted like it.
  void InsertRowsAbove(pugi::xml_node tr, int count);
  /// Inserts one empty column left of the column that holds \a tc.
  void InsertColumnLeftOf(pugi::xml_node tc);
  /// Position (row, column), 1-based, of \a tc; {0, 0} when not in this table.
  std::pair<int, int> Locate(pugi::xml_node tc);

  Document* document_;
  pugi::xml_node tbl_;
  bool indexed_ = false;
  std::vector<pugi::xml_node> rows_;
  std::vector<std::size_t> row_start_;  // offset of each row's cells in cells_
  std::vector<Cell> cells_;
  int column_count_ = 0;
};

}  // namespace vantrelle
