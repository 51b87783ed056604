#include "word/table.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>

#include "base/error.h"
#include "word/application.h"
#include "word/document.h"
#include "word/grown_rows.h"
#include "word/unique_marks.h"

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

void CollectBookmarks(pugi::xml_node node, const WordNames& names,
                      std::vector<pugi::xml_node>& marks) {
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    if (names.Is(child, names.bookmarkStart) || names.Is(child, names.bookmarkEnd)) {
      marks.push_back(child);
    } else {
      CollectBookmarks(child, names, marks);
    }
  }
}

std::size_t SerializedBytes(pugi::xml_node node) {
  struct Counter : XmlSink {
    using XmlSink::Write;
    void Write(const char*, std::size_t size) override { bytes += size; }
    std::size_t bytes = 0;
  } counter;
  WriteNode(node, counter);
  return counter.bytes;
}

const unsigned kParseFlags = pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_declaration |
                             pugi::parse_pi | pugi::parse_comments;

int IntAttribute(pugi::xml_node node, const std::string& attribute, int fallback) {
  pugi::xml_attribute a = node.attribute(attribute.c_str());
  return a ? a.as_int(fallback) : fallback;
}

// The grid columns cell \a tc spans, at least one.
int GridSpan(pugi::xml_node tc, const WordNames& names) {
  return std::max(
      1, IntAttribute(tc.child(names.tcPr.c_str()).child(names.gridSpan.c_str()), names.a_val, 1));
}

// The grid columns row \a tr leaves out before its first cell.
int GridBefore(pugi::xml_node tr, const WordNames& names) {
  return IntAttribute(tr.child(names.trPr.c_str()).child(names.gridBefore.c_str()), names.a_val, 0);
}

// The name \a local in the part's namespace ("w:" + local).
std::string Qualified(const WordNames& names, const char* local) {
  return names.prefix.empty() ? std::string(local) : names.prefix + ":" + local;
}

// A measure in twips: a whole number of twips, or a number with a unit (mm,
// cm, in, pt, pc, pi) as newer documents may write. Nothing for anything else.
std::optional<double> Twips(std::string_view text) {
  std::string value(text);
  char* end = nullptr;
  errno = 0;
  const double number = std::strtod(value.c_str(), &end);
  if (end == value.c_str() || errno != 0 || !std::isfinite(number)) return std::nullopt;
  const std::string_view unit(end);
  if (unit.empty()) return number;
  static const std::pair<const char*, double> kUnits[] = {
      {"in", 1440.0}, {"cm", 1440.0 / 2.54}, {"mm", 144.0 / 2.54},
      {"pt", 20.0},   {"pc", 240.0},         {"pi", 240.0}};
  for (const auto& [name, twips] : kUnits) {
    if (unit == name) return number * twips;
  }
  return std::nullopt;
}

// The width \a element (tcW, tblW, wBefore, ...) gives in twips, when it is
// given in twips.
std::optional<double> DxaWidth(pugi::xml_node element, const WordNames& names) {
  if (!element) return std::nullopt;
  std::string_view type = element.attribute(Qualified(names, "type").c_str()).value();
  if (!type.empty() && type != "dxa") return std::nullopt;
  return Twips(element.attribute(Qualified(names, "w").c_str()).value());
}

// The text width of the section \a tbl stands in: its page's width less the
// left and right margins. Nothing when the section does not give them.
std::optional<double> SectionTextWidth(pugi::xml_node tbl, const WordNames& names) {
  const std::string sect_pr = Qualified(names, "sectPr");
  // A section ends at the first paragraph after the table that carries
  // section properties, or with the body.
  pugi::xml_node top = tbl;
  while (top.parent() && !names.Is(top.parent(), names.body)) top = top.parent();
  pugi::xml_node section;
  for (pugi::xml_node node = top.next_sibling(); node && !section; node = node.next_sibling()) {
    if (names.Is(node, sect_pr)) {
      section = node;
    } else if (node.type() == pugi::node_element) {
      pugi::xml_node found = node.find_node([&](pugi::xml_node n) {
        return names.Is(n, sect_pr) && names.Is(n.parent(), names.pPr);
      });
      if (found) section = found;
    }
  }
  if (!section) return std::nullopt;
  const std::string w = Qualified(names, "w");
  std::optional<double> page =
      Twips(section.child(Qualified(names, "pgSz").c_str()).attribute(w.c_str()).value());
  pugi::xml_node margins = section.child(Qualified(names, "pgMar").c_str());
  std::optional<double> left = Twips(margins.attribute(Qualified(names, "left").c_str()).value());
  std::optional<double> right = Twips(margins.attribute(Qualified(names, "right").c_str()).value());
  if (!page || !left || !right || *page - *left - *right <= 0) return std::nullopt;
  return *page - *left - *right;
}

// The widths of the grid's columns in twips; nothing when one is not given.
std::optional<std::vector<double>> GridWidths(pugi::xml_node grid, const WordNames& names) {
  std::vector<double> widths;
  const std::string w = Qualified(names, "w");
  for (pugi::xml_node col = grid.child(names.gridCol.c_str()); col;
       col = col.next_sibling(names.gridCol.c_str())) {
    std::optional<double> width = Twips(col.attribute(w.c_str()).value());
    if (!width || *width < 0) return std::nullopt;
    widths.push_back(*width);
  }
  if (widths.empty()) return std::nullopt;
  return widths;
}

double Sum(const std::vector<double>& values) {
  double sum = 0;
  for (double v : values) sum += v;
  return sum;
}

}  // namespace

std::vector<std::vector<CellLayout>> TableLayout(pugi::xml_node tbl, const WordNames& names) {
  std::vector<std::vector<CellLayout>> rows;
  ForEachWrapped(tbl, names.tr, names, [&](pugi::xml_node tr) {
    std::vector<CellLayout>& row = rows.emplace_back();
    ForEachWrapped(tr, names.tc, names, [&](pugi::xml_node tc) {
      pugi::xml_node properties = tc.child(names.tcPr.c_str());
      if (IsContinuation(properties.child(names.hMerge.c_str()), names)) return;
      row.push_back({tc, IsCovered(tc, names), GridSpan(tc, names)});
    });
  });
  return rows;
}

std::string Cell::Text() const {
  if (grown_) return grown_->Text(grown_row_, column_ - 1);
  return CellText(tc_, table_->document_->Names());
}

void Cell::SetText(std::string_view text) {
  if (grown_) {
    grown_->SetText(grown_row_, column_ - 1, text);
    table_->document_->MarkMainModified(false);
    return;
  }
  // Only a written cell releases the bound controls around it: growth and
  // insertions work inside them and keep them.
  UnwrapBoundControlsAround(tc_, table_->document_->Names());
  bool removed_fields = SetCellText(tc_, text, table_->document_->Names());
  table_->document_->MarkMainModified(removed_fields);
}

void Cell::Select() {
  if (grown_) {
    // Insertions work on XML rows; this cell object goes with the index.
    Table* table = table_;
    int row = row_, column = column_;
    table->Materialize();
    table->CellAt(row, column).Select();
    return;
  }
  Selection& selection = table_->document_->application_->GetSelection();
  selection.document_ = table_->document_;
  selection.table_ = table_;
  selection.cell_ = tc_;
}

Table::Table(Document* document, pugi::xml_node tbl) : document_(document), tbl_(tbl) {}

Table::~Table() = default;

void Table::EnsureIndex() {
  if (indexed_) return;
  const WordNames& names = document_->Names();
  rows_.clear();
  row_start_.clear();
  cells_.clear();
  column_count_ = 0;
  std::size_t grown_cells = 0, grown_rows = 0;
  for (const auto& grown : grown_) {
    grown_rows += static_cast<std::size_t>(grown->RowCount());
    grown_cells += static_cast<std::size_t>(grown->RowCount()) * static_cast<std::size_t>(grown->CellCount());
  }
  if (grown_cells > 0) {
    // One allocation for the thousands of grown cells, not a dozen copies.
    cells_.reserve(grown_cells + 1024);
    rows_.reserve(grown_rows + 64);
    row_start_.reserve(grown_rows + 65);
  }
  ForEachWrapped(tbl_, names.tr, names, [&](pugi::xml_node tr) {
    for (const auto& grown : grown_) {
      if (grown->Anchor() != tr) continue;
      for (int r = 0; r < grown->RowCount(); ++r) {
        rows_.push_back(pugi::xml_node());
        row_start_.push_back(cells_.size());
        const int row = static_cast<int>(rows_.size());
        for (int c = 0; c < grown->CellCount(); ++c) {
          cells_.push_back(Cell(this, pugi::xml_node(), false, row, c + 1));
          cells_.back().grown_ = grown.get();
          cells_.back().grown_row_ = r;
        }
        column_count_ = std::max(column_count_, grown->CellCount());
      }
    }
    rows_.push_back(tr);
    row_start_.push_back(cells_.size());
    const int row = static_cast<int>(rows_.size());
    ForEachWrapped(tr, names.tc, names, [&](pugi::xml_node tc) {
      // An old-style horizontal merge joins a cell to the one before it: the
      // two are one cell.
      if (IsContinuation(tc.child(names.tcPr.c_str()).child(names.hMerge.c_str()), names)) return;
      cells_.push_back(Cell(this, tc, IsCovered(tc, names), row,
                            static_cast<int>(cells_.size() - row_start_.back()) + 1));
    });
    column_count_ = std::max(column_count_, static_cast<int>(cells_.size() - row_start_.back()));
  });
  row_start_.push_back(cells_.size());
  indexed_ = true;
}

Cell& Table::CellAt(int row, int column) {
  EnsureIndex();
  // The collection's own message first, then which cell of which table, as
  // the report's author counts them.
  auto missing = [&](const std::string& why) {
    throw Error("The requested member of the collection does not exist. (Cell (" +
                    std::to_string(row) + "," + std::to_string(column) + ") of table " +
                    std::to_string(document_->TableNumberOf(tbl_)) + ": " + why + ".)",
                kErrNoSuchMember);
  };
  const int rows = static_cast<int>(rows_.size());
  if (row < 1 || column < 1 || row > rows)
    missing(rows == 1 ? "the table has 1 row" : "the table has " + std::to_string(rows) + " rows");
  std::size_t start = row_start_[static_cast<std::size_t>(row - 1)];
  std::size_t count = row_start_[static_cast<std::size_t>(row)] - start;
  if (static_cast<std::size_t>(column) > count)
    missing("row " + std::to_string(row) + " has " + std::to_string(count) +
            (count == 1 ? " cell" : " cells"));
  Cell& cell = cells_[start + static_cast<std::size_t>(column - 1)];
  if (cell.covered_) missing("it is covered by a vertical merge");
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

void Table::PrepareCopy(pugi::xml_node copy) {
  const WordNames& names = document_->Names();
  auto prepare_cell = [&](pugi::xml_node tc) {
    pugi::xml_node properties = tc.child(names.tcPr.c_str());
    if (IsCovered(tc, names) || IsContinuation(properties.child(names.hMerge.c_str()), names)) {
      MakeEmptyCell(tc, names, true);
    } else {
      properties.remove_child(names.vMerge.c_str());
    }
  };
  if (names.Is(copy, names.tc)) prepare_cell(copy);
  else
    ForEachWrapped(copy, names.tc, names, prepare_cell);
}

bool Table::MarkBookmarkSlots(pugi::xml_node prototype, int& id_slots,
                              std::vector<std::string>& base_names) {
  const WordNames& names = document_->Names();
  std::vector<pugi::xml_node> marks;
  CollectBookmarks(prototype, names, marks);
  id_slots = 0;
  base_names.clear();
  if (marks.empty()) return true;
  const std::string id_name = names.prefix.empty() ? "id" : names.prefix + ":id";
  std::map<std::string, int> starts, ends;
  for (pugi::xml_node mark : marks) {
    (names.Is(mark, names.bookmarkStart) ? starts : ends)[mark.attribute(id_name.c_str()).value()]++;
  }
  std::map<std::string, int> slots;
  for (pugi::xml_node mark : marks) {
    pugi::xml_attribute id = mark.attribute(id_name.c_str());
    std::string old_id = id.value();
    if (starts[old_id] != 1 || ends[old_id] != 1) {
      mark.parent().remove_child(mark);
      continue;
    }
    auto [it, fresh] = slots.try_emplace(old_id, id_slots);
    if (fresh) ++id_slots;
    id.set_value(GrownRows::Slot('i', it->second).c_str());
    if (names.Is(mark, names.bookmarkStart)) {
      pugi::xml_attribute name = mark.attribute(names.a_name.c_str());
      if (!name) continue;
      // Names that the XML would escape stay with the XML copy.
      for (const char* c = name.value(); *c; ++c) {
        if (static_cast<unsigned char>(*c) < 0x20 || std::strchr("&<>\"'", *c)) return false;
      }
      base_names.push_back(name.value());
      name.set_value(GrownRows::Slot('n', static_cast<int>(base_names.size() - 1)).c_str());
    }
  }
  return true;
}

int Table::MarkParagraphIdSlots(pugi::xml_node prototype) {
  int slots = 0;
  for (pugi::xml_node n = prototype; n;) {
    if (n.type() == pugi::node_element) {
      for (pugi::xml_attribute a : n.attributes()) {
        if (UniqueMarks::IsParagraphId(a.name()))
          a.set_value(GrownRows::Slot('p', slots++).c_str());
      }
    }
    if (n.first_child()) {
      n = n.first_child();
      continue;
    }
    while (n != prototype && !n.next_sibling()) n = n.parent();
    if (n == prototype) break;
    n = n.next_sibling();
  }
  return slots;
}

void Table::RenameBookmarks(pugi::xml_node copy) {
  // Bookmarks get fresh names and ids; a mark whose partner lies outside the
  // copy would be half a bookmark and goes.
  const WordNames& names = document_->Names();
  std::vector<pugi::xml_node> marks;
  CollectBookmarks(copy, names, marks);
  if (marks.empty()) return;
  const std::string id_name = names.prefix.empty() ? "id" : names.prefix + ":id";
  std::map<std::string, int> starts, ends;
  for (pugi::xml_node mark : marks) {
    (names.Is(mark, names.bookmarkStart) ? starts : ends)[mark.attribute(id_name.c_str()).value()]++;
  }
  std::map<std::string, std::string> new_ids;
  for (pugi::xml_node mark : marks) {
    pugi::xml_attribute id = mark.attribute(id_name.c_str());
    std::string old_id = id.value();
    if (starts[old_id] != 1 || ends[old_id] != 1) {
      mark.parent().remove_child(mark);
      continue;
    }
    auto [it, fresh] = new_ids.try_emplace(old_id);
    if (fresh) it->second = std::to_string(document_->NewBookmarkId());
    id.set_value(it->second.c_str());
    if (names.Is(mark, names.bookmarkStart)) {
      pugi::xml_attribute name = mark.attribute(names.a_name.c_str());
      if (name) name.set_value(document_->NewBookmarkName(name.value()).c_str());
    }
  }
}

void Table::InsertRowCopiesAbove(pugi::xml_node tr, int count) {
  const WordNames& names = document_->Names();
  document_->CheckGrowth(SerializedBytes(tr), count, "rows");
  // A table inside a content control stays in XML: writing a cell may have
  // to change the control around it.
  bool in_control = false;
  for (pugi::xml_node n = tbl_.parent(); n; n = n.parent()) {
    if (names.Is(n, names.sdt)) in_control = true;
  }
  if (!in_control && tr.parent() == tbl_ && GrownRows::CanHold(tr, names)) {
    pugi::xml_document scratch;
    pugi::xml_node prototype = scratch.append_copy(tr);
    PrepareCopy(prototype);
    int id_slots = 0;
    std::vector<std::string> base_names;
    if (MarkBookmarkSlots(prototype, id_slots, base_names)) {
      // Paragraph ids: one range for all rows, row after row.
      const int paragraph_slots = MarkParagraphIdSlots(prototype);
      const std::uint32_t first_paragraph_id =
          paragraph_slots == 0
              ? 0
              : document_->Marks().ReserveParagraphIds(static_cast<std::uint64_t>(count) *
                                                       static_cast<std::uint64_t>(paragraph_slots));
      // Each grown row's bookmarks: fresh ids, then fresh names, row by row,
      // as copies made one by one get them.
      std::vector<std::string> values;
      values.reserve(static_cast<std::size_t>(count) * (id_slots + base_names.size()));
      for (int r = 0; r < count && (id_slots > 0 || !base_names.empty()); ++r) {
        for (int k = 0; k < id_slots; ++k) values.push_back(std::to_string(document_->NewBookmarkId()));
        for (const std::string& base : base_names) values.push_back(document_->NewBookmarkName(base));
      }
      grown_.push_back(std::make_unique<GrownRows>(
          prototype, count, tr, names, id_slots, static_cast<int>(base_names.size()),
          std::move(values), first_paragraph_id, paragraph_slots));
      Invalidate();
      document_->MarkMainModified(false);
      return;
    }
  }
  {
    Materialize();  // grown rows above tr stay above the new rows
    pugi::xml_node parent = tr.parent();
    std::vector<pugi::xml_node> marks;
    CollectBookmarks(tr, names, marks);
    if (marks.empty() && UniqueMarks::CountParagraphIds(tr) == 0 &&
        !UniqueMarks::HoldsCopiedMarks(tr)) {
      pugi::xml_node first = parent.insert_copy_before(tr, tr);
      PrepareCopy(first);
      // Copies of the prepared copy share its element names.
      for (int i = 1; i < count; ++i) parent.insert_copy_before(first, tr);
    } else {
      // Each copy is made from the row itself, so its bookmarks are named
      // after the row's own; each gets its own notes, comments, drawing ids
      // and paragraph ids, numbered as grown rows number them.
      std::vector<pugi::xml_node> copies;
      for (int i = 0; i < count; ++i) {
        copies.push_back(parent.insert_copy_before(tr, tr));
        PrepareCopy(copies.back());
      }
      const std::uint64_t per_row =
          static_cast<std::uint64_t>(UniqueMarks::CountParagraphIds(copies.front()));
      const std::uint32_t first_id =
          document_->Marks().ReserveParagraphIds(per_row * static_cast<std::uint64_t>(count));
      for (std::size_t i = 0; i < copies.size(); ++i) {
        RenameBookmarks(copies[i]);
        document_->Marks().Renew(copies[i], names,
                                 first_id + static_cast<std::uint32_t>(per_row * i));
      }
    }
  }
  Invalidate();
  document_->MarkMainModified(HoldsFields(tr, names));
}

void Table::CopyCellContent(Cell& target, const Cell& source) {
  const WordNames& names = document_->Names();
  if (!target.tc_ || !source.tc_) Materialize();
  pugi::xml_node to = target.tc_, from = source.tc_;
  if (!to || !from || to == from) return;
  for (pugi::xml_node child = to.first_child(); child;) {
    pugi::xml_node next = child.next_sibling();
    if (!names.Is(child, names.tcPr)) to.remove_child(child);
    child = next;
  }
  for (pugi::xml_node child : from.children()) {
    if (names.Is(child, names.tcPr)) continue;
    to.append_copy(child);
  }
  // Bookmarks are renamed over the whole cell, so one spanning paragraphs
  // keeps both its marks.
  RenameBookmarks(to);
  if (UniqueMarks::CountParagraphIds(to) > 0 || UniqueMarks::HoldsCopiedMarks(to)) {
    document_->Marks().Renew(to, names);
  }
  document_->MarkMainModified(HoldsFields(from, names));
}

void Table::CheckColumnCopies(int column, int count) {
  EnsureIndex();
  std::size_t bytes = 0;
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    std::size_t start = row_start_[r], cells = row_start_[r + 1] - start;
    if (cells == 0) continue;
    std::size_t at = std::min(cells, static_cast<std::size_t>(std::max(column, 1))) - 1;
    const Cell& cell = cells_[start + at];
    bytes += cell.tc_ ? SerializedBytes(cell.tc_) : cell.grown_->RowBytes() / std::max(1, cell.grown_->CellCount());
  }
  document_->CheckGrowth(bytes, count, "columns");
}

void Table::Materialize() {
  if (grown_.empty()) return;
  for (const auto& grown : grown_) {
    struct Buffer : XmlSink {
      using XmlSink::Write;
      void Write(const char* data, std::size_t size) override { text.append(data, size); }
      std::string text;
    } buffer;
    grown->Write(buffer);
    pugi::xml_node anchor = grown->Anchor();
    pugi::xml_node parent = anchor.parent();
    pugi::xml_node last = parent.last_child();
    parent.append_buffer(buffer.text.data(), buffer.text.size(), kParseFlags, pugi::encoding_utf8);
    for (pugi::xml_node node = last ? last.next_sibling() : parent.first_child(); node;) {
      pugi::xml_node next = node.next_sibling();
      parent.insert_move_before(node, anchor);
      node = next;
    }
  }
  grown_.clear();
  Invalidate();
}

void Table::InsertColumnLeftOf(pugi::xml_node tc) { InsertColumnsLeftOf(tc, 1); }

void Table::InsertColumnsLeftOf(pugi::xml_node tc, int count) {
  Materialize();
  const WordNames& names = document_->Names();
  std::optional<std::vector<double>> old_grid =
      GridWidths(tbl_.child(names.tblGrid.c_str()), names);
  auto [row, column] = Locate(tc);
  if (row == 0) NoSuchMember();
  std::size_t selected_row = static_cast<std::size_t>(row - 1);

  // The grid column the new cells take: where the selected cell starts.
  int grid_index = GridBefore(rows_[selected_row], names);
  for (int c = 1; c < column; ++c)
    grid_index += GridSpan(cells_[row_start_[selected_row] + static_cast<std::size_t>(c - 1)].tc_,
                           names);
  // Each copy takes as many grid columns as the selected cell spans, as
  // wide as those: copies, grid and cell widths agree.
  const int span = GridSpan(tc, names);
  double width = 0;
  if (pugi::xml_node grid = tbl_.child(names.tblGrid.c_str())) {
    std::vector<pugi::xml_node> taken;
    pugi::xml_node last;
    int index = 0;
    for (pugi::xml_node col = grid.child(names.gridCol.c_str()); col;
         col = col.next_sibling(names.gridCol.c_str()), ++index) {
      if (index >= grid_index && index < grid_index + span) taken.push_back(col);
      last = col;
    }
    const std::string w = Qualified(names, "w");
    for (pugi::xml_node col : taken) width += Twips(col.attribute(w.c_str()).value()).value_or(0);
    if (taken.empty() && last) {
      taken.push_back(last);
      width = Twips(last.attribute(w.c_str()).value()).value_or(0);
    }
    for (int i = 0; i < count && !taken.empty(); ++i) {
      for (pugi::xml_node col : taken) {
        if (grid_index < index) grid.insert_copy_before(col, taken.front());
        else grid.insert_copy_after(col, last);
      }
    }
  }
  const std::string tc_w = Qualified(names, "tcW");
  const std::string w = Qualified(names, "w");
  // Sets \a cell's span and, where it is given in twips, its width.
  auto set_span = [&](pugi::xml_node cell, int cell_span, double cell_width) {
    pugi::xml_node properties = cell.child(names.tcPr.c_str());
    if (!properties) properties = cell.prepend_child(names.tcPr.c_str());
    pugi::xml_node grid_span = properties.child(names.gridSpan.c_str());
    if (cell_span > 1) {
      if (!grid_span) {
        pugi::xml_node width_element = properties.child(tc_w.c_str());
        grid_span = width_element ? properties.insert_child_after(names.gridSpan.c_str(), width_element)
                                  : properties.prepend_child(names.gridSpan.c_str());
      }
      pugi::xml_attribute value = grid_span.attribute(names.a_val.c_str());
      if (!value) value = grid_span.append_attribute(names.a_val.c_str());
      value.set_value(cell_span);
    } else if (grid_span) {
      properties.remove_child(grid_span);
    }
    pugi::xml_node width_element = properties.child(tc_w.c_str());
    if (width > 0 && DxaWidth(width_element, names))
      width_element.attribute(w.c_str()).set_value(std::llround(cell_width));
  };

  widened_rows_.clear();
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    std::size_t start = row_start_[r], cells = row_start_[r + 1] - start;
    if (cells == 0) continue;
    // The cell of this row over the grid column the new cells take.
    int grid_at = GridBefore(rows_[r], names);
    pugi::xml_node over;
    int over_start = 0;
    for (std::size_t c = 0; c < cells && !over; ++c) {
      pugi::xml_node cell = cells_[start + c].tc_;
      const int cell_span = GridSpan(cell, names);
      if (grid_at <= grid_index && grid_index < grid_at + cell_span) {
        over = cell;
        over_start = grid_at;
      }
      grid_at += cell_span;
    }
    if (over && (over_start < grid_index || GridSpan(over, names) > span)) {
      // A cell across that place (a title over the table) widens over the
      // new columns.
      const double over_width = DxaWidth(over.child(names.tcPr.c_str()).child(tc_w.c_str()), names)
                                    .value_or(0);
      set_span(over, GridSpan(over, names) + span * count, over_width + width * count);
      widened_rows_.push_back(static_cast<int>(r) + 1);
      continue;
    }
    pugi::xml_node added;
    if (over) {
      added = over.parent().insert_copy_before(over, over);
      MakeEmptyCell(added, names, false);
      set_span(added, span, width);
      for (int i = 1; i < count; ++i) over.parent().insert_copy_before(added, over);
    } else {
      // The row ends before that place: the new cells follow its last.
      pugi::xml_node last = cells_[start + cells - 1].tc_;
      added = last.parent().insert_copy_after(last, last);
      MakeEmptyCell(added, names, false);
      set_span(added, span, width);
      for (int i = 1; i < count; ++i) added = added.parent().insert_copy_after(added, added);
    }
  }
  Invalidate();
  if (old_grid) FitToPage(Sum(*old_grid));
  document_->MarkMainModified(false);
}

void Table::FitToPage(double old_width) {
  const WordNames& names = document_->Names();
  pugi::xml_node grid = tbl_.child(names.tblGrid.c_str());
  std::optional<std::vector<double>> widths = GridWidths(grid, names);
  std::optional<double> text_width = SectionTextWidth(tbl_, names);
  if (!widths || !text_width) return;
  const double total = Sum(*widths);
  const double limit = std::max(old_width, *text_width);
  const std::string w = Qualified(names, "w");
  pugi::xml_node table_width =
      tbl_.child(Qualified(names, "tblPr").c_str()).child(Qualified(names, "tblW").c_str());
  if (total <= limit || total <= 0) {
    // The table's preferred width in twips follows its grown grid.
    if (DxaWidth(table_width, names)) {
      table_width.attribute(w.c_str()).set_value(std::llround(total));
    }
    return;
  }
  // Every width in twips narrows by one factor; the grid's columns are
  // rounded so that they add up to the limit exactly.
  const double factor = limit / total;
  std::vector<long long> columns;
  std::vector<std::pair<double, std::size_t>> remainders;
  long long rounded_sum = 0;
  for (std::size_t i = 0; i < widths->size(); ++i) {
    const double exact = (*widths)[i] * factor;
    columns.push_back(static_cast<long long>(std::floor(exact)));
    rounded_sum += columns.back();
    remainders.emplace_back(exact - std::floor(exact), i);
  }
  std::stable_sort(remainders.begin(), remainders.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  for (std::size_t k = 0; rounded_sum < std::llround(limit) && k < remainders.size(); ++k) {
    ++columns[remainders[k].second];
    ++rounded_sum;
  }
  std::size_t i = 0;
  for (pugi::xml_node col = grid.child(names.gridCol.c_str()); col;
       col = col.next_sibling(names.gridCol.c_str())) {
    col.attribute(w.c_str()).set_value(columns[i++]);
  }
  auto narrow = [&](pugi::xml_node element) {
    if (std::optional<double> width = DxaWidth(element, names)) {
      element.attribute(w.c_str()).set_value(std::llround(*width * factor));
    }
  };
  // Widths given as a share of the table (pct) keep their share; automatic
  // ones follow the grid.
  // A cell given in twips is as wide as the grid columns it spans, to the
  // twip, so that grid and cells agree after the rounding.
  const std::string tc_w = Qualified(names, "tcW");
  ForEachWrapped(tbl_, names.tr, names, [&](pugi::xml_node row) {
    pugi::xml_node row_properties = row.child(names.trPr.c_str());
    narrow(row_properties.child(Qualified(names, "wBefore").c_str()));
    narrow(row_properties.child(Qualified(names, "wAfter").c_str()));
    std::size_t grid_at = static_cast<std::size_t>(std::max(0, GridBefore(row, names)));
    ForEachWrapped(row, names.tc, names, [&](pugi::xml_node tc) {
      const std::size_t span = static_cast<std::size_t>(GridSpan(tc, names));
      pugi::xml_node width = tc.child(names.tcPr.c_str()).child(tc_w.c_str());
      if (grid_at + span <= columns.size() && DxaWidth(width, names)) {
        long long sum = 0;
        for (std::size_t k = grid_at; k < grid_at + span; ++k) sum += columns[k];
        width.attribute(w.c_str()).set_value(sum);
      } else {
        narrow(width);
      }
      grid_at += span;
    });
  });
  if (DxaWidth(table_width, names)) table_width.attribute(w.c_str()).set_value(rounded_sum);
}

}  // namespace vantrelle
