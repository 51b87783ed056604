#include "word/table.h"

#include <cstring>

#include "run/error.h"
#include "word/application.h"
#include "word/document.h"

namespace vantrelle {

namespace {

[[noreturn]] void NoSuchMember() {
  throw Error("The requested member of the collection does not exist.", kErrNoSuchMember);
}

// Rows and cells may be wrapped in content controls or custom XML.
template <typename Visit>
void ForEachWrapped(pugi::xml_node parent, const std::string& name, const WordNames& names,
                    Visit&& visit) {
  for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    if (names.Is(child, name)) {
      visit(child);
    } else if (names.Is(child, names.sdt)) {
      ForEachWrapped(child.child(names.sdtContent.c_str()), name, names, visit);
    } else if (names.Is(child, names.customXml)) {
      ForEachWrapped(child, name, names, visit);
    }
  }
}

bool IsContinuation(pugi::xml_node merge, const WordNames& names) {
  if (!merge) return false;
  std::string_view value = merge.attribute(names.a_val.c_str()).value();
  return value != "restart";
}

bool IsCovered(pugi::xml_node tc, const WordNames& names) {
  return IsContinuation(tc.child(names.tcPr.c_str()).child(names.vMerge.c_str()), names);
}

bool LocalNameIs(const char* qualified, const char* local) {
  const char* colon = std::strchr(qualified, ':');
  return std::strcmp(colon ? colon + 1 : qualified, local) == 0;
}

// A copied row or cell must not repeat the bookmarks and paragraph ids of
// its original: both are unique within a document.
void StripUniqueMarks(pugi::xml_node node, const WordNames& names) {
  for (pugi::xml_attribute a = node.first_attribute(); a;) {
    pugi::xml_attribute next = a.next_attribute();
    if (LocalNameIs(a.name(), "paraId") || LocalNameIs(a.name(), "textId")) node.remove_attribute(a);
    a = next;
  }
  for (pugi::xml_node child = node.first_child(); child;) {
    pugi::xml_node next = child.next_sibling();
    if (child.type() == pugi::node_element) {
      if (names.Is(child, names.bookmarkStart) || names.Is(child, names.bookmarkEnd)) {
        node.remove_child(child);
      } else {
        StripUniqueMarks(child, names);
      }
    }
    child = next;
  }
}

// Empties a copied cell; it keeps its look but is neither merged nor spanning.
void MakeEmptyCell(pugi::xml_node tc, const WordNames& names, bool keep_merge_continuation) {
  pugi::xml_node properties = tc.child(names.tcPr.c_str());
  if (pugi::xml_node merge = properties.child(names.vMerge.c_str())) {
    bool continuation = std::string_view(merge.attribute(names.a_val.c_str()).value()) != "restart";
    if (!(keep_merge_continuation && continuation)) properties.remove_child(merge);
  }
  if (!keep_merge_continuation) properties.remove_child(names.gridSpan.c_str());
  SetCellText(tc, "", names);
  StripUniqueMarks(tc, names);
}

int IntAttribute(pugi::xml_node node, const std::string& attribute, int fallback) {
  pugi::xml_attribute a = node.attribute(attribute.c_str());
  return a ? a.as_int(fallback) : fallback;
}

}  // namespace

std::string Cell::Text() const { return CellText(tc_, table_->document_->Names()); }

void Cell::SetText(std::string_view text) {
  bool removed_fields = SetCellText(tc_, text, table_->document_->Names());
  table_->document_->MarkMainModified(removed_fields);
}

void Cell::Select() {
  Selection& selection = table_->document_->application_->GetSelection();
  selection.document_ = table_->document_;
  selection.table_ = table_;
  selection.cell_ = tc_;
}

void Table::EnsureIndex() {
  if (indexed_) return;
  const WordNames& names = document_->Names();
  rows_.clear();
  row_start_.clear();
  cells_.clear();
  column_count_ = 0;
  ForEachWrapped(tbl_, names.tr, names, [&](pugi::xml_node tr) {
    rows_.push_back(tr);
    row_start_.push_back(cells_.size());
    ForEachWrapped(tr, names.tc, names, [&](pugi::xml_node tc) {
      // An old-style horizontal merge joins a cell to the one before it: the
      // two are one cell.
      if (IsContinuation(tc.child(names.tcPr.c_str()).child(names.hMerge.c_str()), names)) return;
      cells_.push_back(Cell(this, tc, IsCovered(tc, names)));
    });
    column_count_ = std::max(column_count_, static_cast<int>(cells_.size() - row_start_.back()));
  });
  row_start_.push_back(cells_.size());
  indexed_ = true;
}

Cell& Table::CellAt(int row, int column) {
  EnsureIndex();
  if (row < 1 || column < 1 || row > static_cast<int>(rows_.size())) NoSuchMember();
  std::size_t start = row_start_[static_cast<std::size_t>(row - 1)];
  std::size_t count = row_start_[static_cast<std::size_t>(row)] - start;
  if (static_cast<std::size_t>(column) > count) NoSuchMember();
  Cell& cell = cells_[start + static_cast<std::size_t>(column - 1)];
  if (cell.covered_) NoSuchMember();
  return cell;
}

int Table::RowCount() {
  EnsureIndex();
  return static_cast<int>(rows_.size());
}

int Table::ColumnCount() {
  EnsureIndex();
  return column_count_;
}

std::pair<int, int> Table::Locate(pugi::xml_node tc) {
  EnsureIndex();
  const WordNames& names = document_->Names();
  pugi::xml_node tr = tc.parent();
  while (tr && !names.Is(tr, names.tr)) tr = tr.parent();
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    if (rows_[r] != tr) continue;
    for (std::size_t i = row_start_[r]; i < row_start_[r + 1]; ++i) {
      if (cells_[i].tc_ == tc) {
        return {static_cast<int>(r + 1), static_cast<int>(i - row_start_[r] + 1)};
      }
    }
  }
  return {0, 0};
}

void Table::InsertRowsAbove(pugi::xml_node tr, int count) {
  const WordNames& names = document_->Names();
  // The first new row is emptied in place and the others are copied from it;
  // copies within the document share the element names instead of
  // duplicating them, which matters for tables of thousands of rows.
  pugi::xml_node parent = tr.parent();
  pugi::xml_node prototype = parent.insert_copy_before(tr, tr);
  ForEachWrapped(prototype, names.tc, names,
                 [&](pugi::xml_node tc) { MakeEmptyCell(tc, names, true); });
  StripUniqueMarks(prototype, names);
  for (int i = 1; i < count; ++i) parent.insert_copy_before(prototype, tr);
  Invalidate();
  document_->MarkMainModified(false);
}

void Table::InsertColumnLeftOf(pugi::xml_node tc) {
  const WordNames& names = document_->Names();
  auto [row, column] = Locate(tc);
  if (row == 0) NoSuchMember();
  std::size_t selected_row = static_cast<std::size_t>(row - 1);

  // The grid column the new cells take: where the selected cell starts.
  int grid_index =
      IntAttribute(rows_[selected_row].child(names.trPr.c_str()).child(names.gridBefore.c_str()),
                   names.a_val, 0);
  for (int c = 1; c < column; ++c) {
    pugi::xml_node before = cells_[row_start_[selected_row] + static_cast<std::size_t>(c - 1)].tc_;
    grid_index += std::max(
        1, IntAttribute(before.child(names.tcPr.c_str()).child(names.gridSpan.c_str()), names.a_val,
                        1));
  }
  if (pugi::xml_node grid = tbl_.child(names.tblGrid.c_str())) {
    pugi::xml_node at, last;
    int index = 0;
    for (pugi::xml_node col = grid.child(names.gridCol.c_str()); col;
         col = col.next_sibling(names.gridCol.c_str()), ++index) {
      if (index == grid_index) at = col;
      last = col;
    }
    if (at) grid.insert_copy_before(at, at);
    else if (last) grid.insert_copy_after(last, last);
  }

  for (std::size_t r = 0; r < rows_.size(); ++r) {
    std::size_t start = row_start_[r], cells = row_start_[r + 1] - start;
    if (cells == 0) continue;
    pugi::xml_node added;
    if (cells >= static_cast<std::size_t>(column)) {
      pugi::xml_node target = cells_[start + static_cast<std::size_t>(column - 1)].tc_;
      added = target.parent().insert_copy_before(target, target);
    } else {
      pugi::xml_node last = cells_[start + cells - 1].tc_;
      added = last.parent().insert_copy_after(last, last);
    }
    MakeEmptyCell(added, names, false);
  }
  Invalidate();
  document_->MarkMainModified(false);
}

}  // namespace vantrelle
