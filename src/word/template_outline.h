// What a template holds for the author of a report's scripts: its tables,
// numbered as a run numbers them, where each stands and the text of its
// cells (the format patterns), and its fields with what a run does to each.
//
// The template is opened with the document engine, read only, exactly as a
// run opens its copy; a template the run would refuse is refused here with
// the same description.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vantrelle {

/// One cell position of a table row, as Cell(r, c) numbers it.
struct OutlineCell {
  std::string text;      ///< paragraphs joined by "\n", without the end-of-cell mark
  bool covered = false;  ///< covered by a vertical merge: a fill cannot address it
  int span = 1;          ///< grid columns the cell spans
};

struct OutlineTable {
  /// The number a run fills it by; 0 when no run can reach it.
  int number = 0;
  /// The story: "body", "header", "footer", "footnotes", "endnotes" or "comments".
  std::string story;
  std::string part;  ///< the package part holding it ("word/header1.xml")
  bool in_text_box = false;
  /// Index (in TemplateOutline::tables) of the table whose cell holds this
  /// one, or -1; with the 1-based row and cell of that cell.
  int parent = -1;
  int parent_row = 0;
  int parent_cell = 0;
  /// Every row with its cells.
  std::vector<std::vector<OutlineCell>> rows;
  /// The number of cells of the widest row.
  int columns = 0;
};

struct OutlineField {
  std::string story;
  std::string part;
  bool in_text_box = false;
  std::string instruction;  ///< the field code, blanks at both ends removed
  std::string type;         ///< upper case: "DOCVARIABLE", "PAGE", ...
  std::string argument;     ///< the first argument (the variable of a DOCVARIABLE field)
  bool locked = false;
  /// True when a run computes the result; false when it keeps the result
  /// the template holds.
  bool computed = false;
};

struct TemplateOutline {
  std::vector<OutlineTable> tables;  ///< story by story, in document order
  std::vector<OutlineField> fields;
  std::vector<std::string> variables;  ///< document variables the template holds
  int numbered_tables = 0;             ///< how many tables a run can fill
};

/// Reads the template at \a path. Throws Error with the document engine's
/// description when a run could not open it either. The file is not changed.
TemplateOutline OutlineTemplate(const std::filesystem::path& path);

/// Where \a table stands, as a phrase: "in the body", "in a text box in the
/// footer (word/footer1.xml)", "nested in table 2 at cell (3,1)".
std::string TableWhere(const TemplateOutline& outline, const OutlineTable& table);

/// The story of \a field as a phrase: "body", "text box in the body",
/// "header (word/header1.xml)".
std::string FieldWhere(const OutlineField& field);

/// The outline as text for a report author: each table with its number,
/// place, size, merged cells and first rows, then each field.
std::string DescribeOutline(const std::string& template_name, const TemplateOutline& outline);

/// The same as one JSON object, for other tools.
std::string DescribeOutlineJson(const std::string& template_name, const TemplateOutline& outline);

}  // namespace vantrelle
