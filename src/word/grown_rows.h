// Rows that a table's growth inserted, kept compactly: the XML of the one
// row they all copy plus each cell's own text, instead of thousands of XML
// elements per row. A table of 32,767 grown rows then costs about what
// writing its XML once costs.
//
// A cell's XML follows from its text through a "shape": the XML before and
// after the escaped text. Shapes are learnt by writing a sample text into a
// scratch copy of the cell with the same SetCellText the XML cells use, so
// a grown cell ends up exactly as an XML cell written the same way would.
// Texts that no shape can carry (control characters: tabs, paragraphs,
// breaks) are written the same way into a scratch copy and kept as XML.
#pragma once

#include <pugixml.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "word/wordml.h"

namespace vantrelle {

/// Receives serialized XML in pieces.
class XmlSink {
 public:
  virtual ~XmlSink() = default;
  virtual void Write(const char* data, std::size_t size) = 0;
  void Write(std::string_view text) { Write(text.data(), text.size()); }
};

class GrownRows {
 public:
  /// True when copies of row \a tr can be kept as grown rows: its cells are
  /// its direct children, none is merged, and it holds no fields, content
  /// controls, notes, comments, drawings or shapes (those are copied as
  /// XML, where they are copied, renumbered or refreshed).
  static bool CanHold(pugi::xml_node tr, const WordNames& names);

  /// \a count copies of \a prototype (a row already stripped of what must
  /// stay unique), inserted above \a anchor. Bookmarks in the prototype
  /// carry Slot('i', k) as id and Slot('n', k) as name; \a slot_values
  /// holds, row by row, the \a id_slots ids and then the \a name_slots
  /// names of each row. Paragraph ids carry Slot('p', k): row r's k-th is
  /// \a first_paragraph_id + r * \a paragraph_slots + k.
  GrownRows(pugi::xml_node prototype, int count, pugi::xml_node anchor, const WordNames& names,
            int id_slots = 0, int name_slots = 0, std::vector<std::string> slot_values = {},
            std::uint32_t first_paragraph_id = 0, int paragraph_slots = 0);
  /// The placeholder of bookmark id (\a kind 'i'), bookmark name ('n') or
  /// paragraph id ('p') number \a k.
  static std::string Slot(char kind, int k);

  pugi::xml_node Anchor() const { return anchor_; }
  int RowCount() const { return count_; }
  int CellCount() const { return cell_count_; }
  /// The text of cell \a cell (0-based) of row \a row, end-of-cell mark included.
  std::string Text(int row, int cell) const;
  void SetText(int row, int cell, std::string_view text);
  /// Serialized rows \a first to \a last - 1.
  void Write(XmlSink& sink, int first, int last) const;
  void Write(XmlSink& sink) const { Write(sink, 0, count_); }
  /// The serialized size of one unwritten row.
  std::size_t RowBytes() const;

 private:
  struct Shape {
    std::string xml_before, xml_after;    // around the escaped text
    std::string text_before, text_after;  // around the text, as read
    bool has_hole = false;
    std::string sample;   // a text of this shape's kind, to rebuild it
    int next[3] = {-2, -2, -2};  // after an empty / plain / blank-edged text; -1 none
  };
  struct Raw {
    std::string xml;
    std::string text;
  };
  enum Kind { kEmpty = 0, kPlain = 1, kEdged = 2, kComplex = 3 };

  int NextShape(int shape, Kind kind);
  /// Writes \a xml with its slots filled for row \a row.
  void WriteFilled(XmlSink& sink, std::string_view xml, int row) const;
  /// The value of \a slot ("i3", "n0", "p12") for row \a row.
  std::string SlotValue(std::string_view slot, int row) const;
  std::string CellXml(int shape, const std::string& text) const;
  pugi::xml_node ParseCell(pugi::xml_document& scratch, const std::string& xml) const;

  WordNames names_;
  pugi::xml_node anchor_;
  int count_;
  std::string row_start_, row_end_;
  int cell_count_ = 0;
  // XML between the cells: literals_[i] comes before cell i, the last after all.
  std::vector<std::string> literals_;
  std::vector<Shape> shapes_;  // shapes_[i] for i < CellCount(): cell i as copied
  std::vector<std::int32_t> cell_shape_;  // per cell; -1: kept as raw XML
  std::vector<std::string> cell_text_;
  std::unordered_map<std::size_t, Raw> raw_;
  int id_slots_ = 0, name_slots_ = 0;
  std::vector<std::string> slot_values_;
  std::uint32_t first_paragraph_id_ = 0;
  int paragraph_slots_ = 0;
};

/// Escapes \a text as element content the way the XML library writes it.
void AppendEscapedText(std::string& out, std::string_view text);

/// Writes \a node as the XML library does (unformatted), through \a sink.
void WriteNode(pugi::xml_node node, XmlSink& sink);

}  // namespace vantrelle
