#include "word/template_outline.h"

#include <cstdio>

#include "base/run_log.h"
#include "word/application.h"
#include "word/fields.h"

namespace vantrelle {
namespace {

// Rows shown for each table: enough for a heading, the pattern rows and a
// totals row.
constexpr std::size_t kShownRows = 4;
// Cell texts longer than this are cut in the text description.
constexpr std::size_t kShownTextBytes = 60;
// Merged cells named in a table's summary line.
constexpr std::size_t kShownMerges = 6;

// A cell's text without its end-of-cell mark, paragraphs joined by "\n".
std::string PlainCellText(pugi::xml_node tc, const WordNames& names) {
  std::string text = CellText(tc, names);
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\a") == 0)
    text.resize(text.size() - 2);
  for (char& c : text)
    if (c == '\r') c = '\n';
  return text;
}

bool IsFallback(pugi::xml_node node) { return LocalNameIs(node.name(), "Fallback"); }

struct Place {
  const StoryView* story;
  bool in_text_box = false;
  int parent = -1;
  int parent_row = 0;
  int parent_cell = 0;
};

class Walker {
 public:
  Walker(const Document& document, TemplateOutline& outline)
      : document_(document), outline_(outline) {}

  void Walk(pugi::xml_node node, const Place& place) {
    const WordNames& names = *place.story->names;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
      if (child.type() != pugi::node_element || IsPropertiesName(child.name())) continue;
      // The fallback of alternate content repeats its choice for older
      // readers; listing both would show every table and field twice.
      if (IsFallback(child)) continue;
      if (names.Is(child, names.tbl)) {
        AddTable(child, place);
      } else if (names.Is(child, names.txbxContent)) {
        Place inside = place;
        inside.in_text_box = true;
        Walk(child, inside);
      } else {
        Walk(child, place);
      }
    }
  }

 private:
  void AddTable(pugi::xml_node tbl, const Place& place) {
    const WordNames& names = *place.story->names;
    OutlineTable table;
    table.number = place.story->kind == "body" ? document_.TableNumberOf(tbl) : 0;
    table.story = place.story->kind;
    table.part = place.story->part;
    table.in_text_box = place.in_text_box;
    table.parent = place.parent;
    table.parent_row = place.parent_row;
    table.parent_cell = place.parent_cell;
    std::vector<std::vector<CellLayout>> layout = TableLayout(tbl, names);
    for (const auto& row : layout) {
      std::vector<OutlineCell>& cells = table.rows.emplace_back();
      for (const CellLayout& cell : row)
        cells.push_back({PlainCellText(cell.tc, names), cell.covered, cell.span});
      table.columns = std::max(table.columns, static_cast<int>(row.size()));
    }
    if (table.number > 0) ++outline_.numbered_tables;
    const int index = static_cast<int>(outline_.tables.size());
    outline_.tables.push_back(std::move(table));
    for (std::size_t r = 0; r < layout.size(); ++r) {
      for (std::size_t c = 0; c < layout[r].size(); ++c) {
        Place inside = place;
        inside.parent = index;
        inside.parent_row = static_cast<int>(r) + 1;
        inside.parent_cell = static_cast<int>(c) + 1;
        Walk(layout[r][c].tc, inside);
      }
    }
  }

  const Document& document_;
  TemplateOutline& outline_;
};

void AddFields(const StoryView& story, TemplateOutline& outline) {
  for (const FieldSpan& span : FindFields(story.root, *story.names)) {
    pugi::xml_node anchor = span.simple ? span.simple : span.begin;
    bool in_text_box = false;
    bool fallback = false;
    for (pugi::xml_node up = anchor; up && up != story.root; up = up.parent()) {
      if (story.names->Is(up, story.names->txbxContent)) in_text_box = true;
      if (IsFallback(up)) fallback = true;
    }
    if (fallback) continue;
    FieldCode code = ParseFieldCode(span.code);
    OutlineField field;
    field.story = story.kind;
    field.part = story.part;
    field.in_text_box = in_text_box;
    field.instruction = span.code;
    const std::size_t first = field.instruction.find_first_not_of(" \t\r\n");
    const std::size_t last = field.instruction.find_last_not_of(" \t\r\n");
    field.instruction =
        first == std::string::npos ? "" : field.instruction.substr(first, last - first + 1);
    field.type = code.type;
    field.argument = code.argument;
    field.locked = span.locked;
    // The fields a run computes (see UpdateField); all others keep the
    // result the template holds.
    field.computed =
        !span.locked && (code.type == "DOCVARIABLE" || code.type == "DATE" || code.type == "TIME");
    outline.fields.push_back(std::move(field));
  }
}

std::string StoryPhrase(const std::string& story, const std::string& part) {
  if (story == "body") return "the body";
  return "the " + story + " (" + part + ")";
}

// \a text in double quotes, with quotes, backslashes and control characters
// (C0, DEL and the C1 range, which a terminal would obey) escaped as JSON
// writes them.
std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (static_cast<unsigned char>(c) == 0xC2 && next >= 0x80 && next <= 0x9F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", next);
      out += escape;
      ++i;
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
          out += escape;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

// \a text cut to about \a limit bytes on a character boundary.
std::string Shortened(const std::string& text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut) + "...";
}

std::string Plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string Position(int row, int cell) {
  return "(" + std::to_string(row) + "," + std::to_string(cell) + ")";
}

std::vector<std::string> Merges(const OutlineTable& table) {
  std::vector<std::string> merges;
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    for (std::size_t c = 0; c < table.rows[r].size(); ++c) {
      const OutlineCell& cell = table.rows[r][c];
      const std::string at = Position(static_cast<int>(r) + 1, static_cast<int>(c) + 1);
      if (cell.covered)
        merges.push_back(at + " is covered by a vertical merge");
      else if (cell.span > 1)
        merges.push_back(at + " spans " + std::to_string(cell.span) + " columns");
    }
  }
  return merges;
}

}  // namespace

TemplateOutline OutlineTemplate(const std::filesystem::path& path) {
  Application word;
  Document& document = word.Open(path);
  TemplateOutline outline;
  std::vector<StoryView> stories = document.Stories();
  Walker walker(document, outline);
  for (const StoryView& story : stories) {
    walker.Walk(story.root, Place{&story});
    AddFields(story, outline);
  }
  outline.variables = document.VariableNames();
  document.Close();
  return outline;
}

std::string TableWhere(const TemplateOutline& outline, const OutlineTable& table) {
  if (table.parent >= 0) {
    const OutlineTable& parent = outline.tables[static_cast<std::size_t>(table.parent)];
    const std::string cell = " at cell " + Position(table.parent_row, table.parent_cell);
    if (parent.number > 0) return "nested in table " + std::to_string(parent.number) + cell;
    return "nested in a table" + cell + ", " + TableWhere(outline, parent);
  }
  std::string story = StoryPhrase(table.story, table.part);
  return table.in_text_box ? "in a text box in " + story : "in " + story;
}

std::string FieldWhere(const OutlineField& field) {
  std::string story = field.story == "body" ? "body" : field.story + " (" + field.part + ")";
  return field.in_text_box ? "text box in the " + story : story;
}

std::string DescribeOutline(const std::string& template_name, const TemplateOutline& outline) {
  const std::size_t unreachable = outline.tables.size() - outline.numbered_tables;
  std::string out = "Template \"" + template_name +
                    "\": " + Plural(outline.numbered_tables, "table", "tables") +
                    " a run can fill, " + std::to_string(unreachable) + " it cannot reach; " +
                    Plural(outline.fields.size(), "field", "fields") + ".\n";
  for (const OutlineTable& table : outline.tables) {
    out += "\n";
    out += table.number > 0 ? "Table " + std::to_string(table.number)
                            : std::string("Table without a number (a run cannot fill it)");
    out += ", " + TableWhere(outline, table) + ": " + Plural(table.rows.size(), "row", "rows") +
           " x " + Plural(static_cast<std::size_t>(table.columns), "column", "columns") + "\n";
    std::vector<std::string> merges = Merges(table);
    if (!merges.empty()) {
      out += "  merged cells: ";
      for (std::size_t i = 0; i < merges.size() && i < kShownMerges; ++i)
        out += (i > 0 ? "; " : "") + merges[i];
      if (merges.size() > kShownMerges)
        out += "; and " + std::to_string(merges.size() - kShownMerges) + " more";
      out += "\n";
    }
    for (std::size_t r = 0; r < table.rows.size() && r < kShownRows; ++r) {
      out += "  row " + std::to_string(r + 1) + ":";
      for (const OutlineCell& cell : table.rows[r]) {
        out += cell.covered ? " (covered)" : " " + Quote(Shortened(cell.text, kShownTextBytes));
        if (cell.span > 1) out += " (spans " + std::to_string(cell.span) + ")";
      }
      out += "\n";
    }
    if (table.rows.size() > kShownRows)
      out += "  ... " + Plural(table.rows.size() - kShownRows, "more row", "more rows") + "\n";
  }
  if (!outline.fields.empty()) {
    out +=
        "\nFields (a run computes DOCVARIABLE, DATE and TIME fields that are not locked, and "
        "keeps the result of every other field):\n";
    for (const OutlineField& field : outline.fields) {
      out += "  " + FieldWhere(field) + ": " + OneLine(field.instruction) + "  -> ";
      if (field.computed)
        out += field.type == "DOCVARIABLE"
                   ? "computed from the document variable " + Quote(field.argument)
                   : std::string("computed");
      else
        out += field.locked ? "kept (locked)" : "kept";
      out += "\n";
    }
  }
  if (!outline.variables.empty()) {
    out += "\nDocument variables the template holds:";
    for (const std::string& name : outline.variables) out += " " + Quote(name);
    out += "\n";
  }
  return out;
}

std::string DescribeOutlineJson(const std::string& template_name, const TemplateOutline& outline) {
  std::string out = "{\n  \"template\": " + Quote(template_name) + ",\n  \"tables\": [";
  for (std::size_t i = 0; i < outline.tables.size(); ++i) {
    const OutlineTable& table = outline.tables[i];
    out += i > 0 ? ",\n    {" : "\n    {";
    out += "\"id\": " + std::to_string(i + 1);
    out += ", \"number\": " + (table.number > 0 ? std::to_string(table.number) : "null");
    out += ", \"story\": " + Quote(table.story) + ", \"part\": " + Quote(table.part);
    out += ", \"text_box\": " + std::string(table.in_text_box ? "true" : "false");
    out += ", \"nested_in\": ";
    if (table.parent >= 0) {
      const OutlineTable& parent = outline.tables[static_cast<std::size_t>(table.parent)];
      out += "{\"id\": " + std::to_string(table.parent + 1) +
             ", \"number\": " + (parent.number > 0 ? std::to_string(parent.number) : "null") +
             ", \"row\": " + std::to_string(table.parent_row) +
             ", \"cell\": " + std::to_string(table.parent_cell) + "}";
    } else {
      out += "null";
    }
    out += ", \"where\": " + Quote(TableWhere(outline, table));
    out += ", \"rows\": " + std::to_string(table.rows.size());
    out += ", \"columns\": " + std::to_string(table.columns);
    out += ", \"merged\": [";
    bool first = true;
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
      for (std::size_t c = 0; c < table.rows[r].size(); ++c) {
        const OutlineCell& cell = table.rows[r][c];
        if (!cell.covered && cell.span <= 1) continue;
        out += first ? "" : ", ";
        first = false;
        out += "{\"row\": " + std::to_string(r + 1) + ", \"cell\": " + std::to_string(c + 1);
        out += cell.covered ? ", \"covered\": true}"
                            : ", \"span\": " + std::to_string(cell.span) + "}";
      }
    }
    out += "], \"first_rows\": [";
    for (std::size_t r = 0; r < table.rows.size() && r < kShownRows; ++r) {
      out += r > 0 ? ", [" : "[";
      for (std::size_t c = 0; c < table.rows[r].size(); ++c)
        out += (c > 0 ? ", " : "") +
               (table.rows[r][c].covered ? std::string("null") : Quote(table.rows[r][c].text));
      out += "]";
    }
    out += "]}";
  }
  out += outline.tables.empty() ? "],\n  \"fields\": [" : "\n  ],\n  \"fields\": [";
  for (std::size_t i = 0; i < outline.fields.size(); ++i) {
    const OutlineField& field = outline.fields[i];
    out += i > 0 ? ",\n    {" : "\n    {";
    out += "\"story\": " + Quote(field.story) + ", \"part\": " + Quote(field.part);
    out += ", \"text_box\": " + std::string(field.in_text_box ? "true" : "false");
    out += ", \"instruction\": " + Quote(field.instruction) + ", \"type\": " + Quote(field.type);
    out += ", \"variable\": " +
           (field.type == "DOCVARIABLE" ? Quote(field.argument) : std::string("null"));
    out += ", \"locked\": " + std::string(field.locked ? "true" : "false");
    out += ", \"computed\": " + std::string(field.computed ? "true" : "false") + "}";
  }
  out += outline.fields.empty() ? "],\n  \"variables\": [" : "\n  ],\n  \"variables\": [";
  for (std::size_t i = 0; i < outline.variables.size(); ++i)
    out += (i > 0 ? ", " : "") + Quote(outline.variables[i]);
  out += "]\n}\n";
  return out;
}

}  // namespace vantrelle
