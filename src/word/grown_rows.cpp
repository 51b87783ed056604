#include "word/grown_rows.h"

#include <cstring>

#include "word/unique_marks.h"

namespace vantrelle {

namespace {

// A text no template holds (a private-use character), written into scratch
// cells to find where a text goes in a cell's XML.
constexpr std::string_view kSample = "\xEE\x80\x80";
// Opens and closes a bookmark slot (another private-use character).
constexpr std::string_view kSlotMark = "\xEE\x80\x81";

const unsigned kParseFlags = pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_declaration |
                             pugi::parse_pi | pugi::parse_comments;

struct WriterAdapter : pugi::xml_writer {
  explicit WriterAdapter(XmlSink& sink) : sink(sink) {}
  void write(const void* data, size_t size) override {
    sink.Write(static_cast<const char*>(data), size);
  }
  XmlSink& sink;
};

struct StringSink : XmlSink {
  using XmlSink::Write;
  void Write(const char* data, std::size_t size) override { text.append(data, size); }
  std::string text;
};

std::string Print(pugi::xml_node node) {
  StringSink sink;
  WriteNode(node, sink);
  return std::move(sink.text);
}

// The start tag of \a element as the XML library writes it.
std::string StartTag(pugi::xml_node element) {
  pugi::xml_document scratch;
  pugi::xml_node copy = scratch.append_child(element.name());
  for (pugi::xml_attribute a : element.attributes()) copy.append_copy(a);
  std::string tag = Print(copy);  // "<name .../>"
  tag.resize(tag.size() - 2);
  tag += '>';
  return tag;
}

std::size_t CountOf(std::string_view haystack, std::string_view needle, std::size_t& at) {
  std::size_t count = 0;
  for (std::size_t i = haystack.find(needle); i != std::string_view::npos;
       i = haystack.find(needle, i + 1)) {
    if (count++ == 0) at = i;
  }
  return count;
}

std::string WithoutCellMark(std::string text) {
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\a") == 0) text.resize(text.size() - 2);
  return text;
}

}  // namespace

void AppendEscapedText(std::string& out, std::string_view text) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char* entity = nullptr;
    switch (text[i]) {
      case '&': entity = "&amp;"; break;
      case '<': entity = "&lt;"; break;
      case '>': entity = "&gt;"; break;
      default: continue;
    }
    out.append(text.data() + start, i - start);
    out += entity;
    start = i + 1;
  }
  out.append(text.data() + start, text.size() - start);
}

void WriteNode(pugi::xml_node node, XmlSink& sink) {
  WriterAdapter writer(sink);
  node.print(writer, "", pugi::format_raw, pugi::encoding_utf8);
}

bool GrownRows::CanHold(pugi::xml_node tr, const WordNames& names) {
  // Marks that are unique in a document (other than bookmarks, which grown
  // rows rename, and paragraph ids, which they number), content controls,
  // fields, drawings and shapes are left to the XML copy.
  static const char* const kRefused[] = {"sdt",
                                         "customXml",
                                         "fldChar",
                                         "fldSimple",
                                         "vMerge",
                                         "hMerge",
                                         "commentRangeStart",
                                         "commentRangeEnd",
                                         "commentReference",
                                         "permStart",
                                         "permEnd",
                                         "moveFromRangeStart",
                                         "moveToRangeStart",
                                         "footnoteReference",
                                         "endnoteReference",
                                         "AlternateContent",
                                         "txbxContent",
                                         "smartTag",
                                         "subDoc",
                                         "drawing",
                                         "pict",
                                         "object"};
  for (pugi::xml_node child : tr.children()) {
    if (child.type() == pugi::node_element && !names.Is(child, names.tc) &&
        !names.Is(child, names.trPr) && std::strcmp(LocalName(child.name()), "tblPrEx") != 0) {
      return false;
    }
  }
  if (!tr.child(names.tc.c_str())) return false;
  // Revisions and content controls with ids of the package's one space are
  // renewed in the XML copy, as notes and drawings are.
  if (UniqueMarks::HoldsCopiedMarks(tr)) return false;
  const std::string slot_mark(kSlotMark);
  for (pugi::xml_node node = tr.first_child(); node;) {
    if (node.type() == pugi::node_element) {
      const char* local = LocalName(node.name());
      for (const char* refused : kRefused) {
        if (std::strcmp(local, refused) == 0) return false;
      }
      for (pugi::xml_attribute a : node.attributes()) {
        if (std::strstr(a.value(), slot_mark.c_str())) return false;
      }
    } else if (std::strstr(node.value(), slot_mark.c_str())) {
      return false;
    }
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (node != tr && !node.next_sibling()) node = node.parent();
    if (node == tr) break;
    node = node.next_sibling();
  }
  return true;
}

std::string GrownRows::Slot(char kind, int k) {
  return std::string(kSlotMark) + kind + std::to_string(k) + std::string(kSlotMark);
}

GrownRows::GrownRows(pugi::xml_node prototype, int count, pugi::xml_node anchor,
                     const WordNames& names, int id_slots, int name_slots,
                     std::vector<std::string> slot_values, std::uint32_t first_paragraph_id,
                     int paragraph_slots)
    : names_(names),
      anchor_(anchor),
      count_(count),
      id_slots_(id_slots),
      name_slots_(name_slots),
      slot_values_(std::move(slot_values)),
      first_paragraph_id_(first_paragraph_id),
      paragraph_slots_(paragraph_slots) {
  row_start_ = StartTag(prototype);
  row_end_ = std::string("</") + prototype.name() + ">";
  std::string literal;
  for (pugi::xml_node child : prototype.children()) {
    if (child.type() == pugi::node_element && names.Is(child, names.tc)) {
      literals_.push_back(std::move(literal));
      literal.clear();
      Shape shape;
      shape.xml_before = Print(child);
      shape.text_before = WithoutCellMark(CellText(child, names));
      shapes_.push_back(std::move(shape));
    } else {
      literal += Print(child);
    }
  }
  literals_.push_back(std::move(literal));
  cell_count_ = static_cast<int>(shapes_.size());
  const std::size_t cells = shapes_.size();
  cell_shape_.resize(cells * static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < cell_shape_.size(); ++i) {
    cell_shape_[i] = static_cast<std::int32_t>(i % cells);
  }
  cell_text_.resize(cell_shape_.size());
}

pugi::xml_node GrownRows::ParseCell(pugi::xml_document& scratch, const std::string& xml) const {
  std::string wrapped = "<" + names_.tr + ">" + xml + "</" + names_.tr + ">";
  scratch.load_buffer(wrapped.data(), wrapped.size(), kParseFlags, pugi::encoding_utf8);
  return scratch.document_element().child(names_.tc.c_str());
}

std::string GrownRows::CellXml(int shape, const std::string& text) const {
  const Shape& s = shapes_[static_cast<std::size_t>(shape)];
  std::string xml = s.xml_before;
  if (s.has_hole) {
    AppendEscapedText(xml, text);
    xml += s.xml_after;
  }
  return xml;
}

int GrownRows::NextShape(int shape, Kind kind) {
  int known = shapes_[static_cast<std::size_t>(shape)].next[kind];
  if (known != -2) return known;
  pugi::xml_document scratch;
  pugi::xml_node tc = ParseCell(scratch, CellXml(shape, shapes_[static_cast<std::size_t>(shape)].sample));
  std::string sample = kind == kEmpty ? std::string()
                       : kind == kPlain ? std::string(kSample)
                                        : " " + std::string(kSample) + " ";
  Shape next;
  int result = -1;
  if (tc && !SetCellText(tc, sample, names_)) {
    std::string xml = Print(tc);
    std::string text = WithoutCellMark(CellText(tc, names_));
    std::size_t xml_at = 0, text_at = 0;
    if (kind == kEmpty) {
      next.xml_before = std::move(xml);
      next.text_before = std::move(text);
      result = 0;
    } else if (CountOf(xml, sample, xml_at) == 1 && CountOf(text, sample, text_at) == 1) {
      next.has_hole = true;
      next.sample = sample;
      next.xml_before = xml.substr(0, xml_at);
      next.xml_after = xml.substr(xml_at + sample.size());
      next.text_before = text.substr(0, text_at);
      next.text_after = text.substr(text_at + sample.size());
      result = 0;
    }
  }
  if (result == 0) {
    result = -1;
    for (std::size_t i = 0; i < shapes_.size() && result < 0; ++i) {
      const Shape& s = shapes_[i];
      if (s.has_hole == next.has_hole && s.xml_before == next.xml_before &&
          s.xml_after == next.xml_after && s.text_before == next.text_before &&
          s.text_after == next.text_after) {
        result = static_cast<int>(i);
      }
    }
    if (result < 0) {
      shapes_.push_back(std::move(next));
      result = static_cast<int>(shapes_.size() - 1);
    }
  }
  shapes_[static_cast<std::size_t>(shape)].next[kind] = result;
  return result;
}

std::string GrownRows::Text(int row, int cell) const {
  const std::size_t index =
      static_cast<std::size_t>(row) * static_cast<std::size_t>(CellCount()) +
      static_cast<std::size_t>(cell);
  std::int32_t shape = cell_shape_[index];
  if (shape < 0) return raw_.at(index).text;
  const Shape& s = shapes_[static_cast<std::size_t>(shape)];
  std::string text = s.text_before;
  if (s.has_hole) {
    text += cell_text_[index];
    text += s.text_after;
  }
  text += "\r\a";
  return text;
}

void GrownRows::SetText(int row, int cell, std::string_view text) {
  const std::size_t index =
      static_cast<std::size_t>(row) * static_cast<std::size_t>(CellCount()) +
      static_cast<std::size_t>(cell);
  std::string_view plain = text;
  if (plain.size() >= 2 && plain.substr(plain.size() - 2) == "\r\a") plain.remove_suffix(2);
  std::string safe;
  Kind kind = plain.empty() ? kEmpty : kPlain;
  bool ascii = true;
  for (char c : plain) {
    if (static_cast<unsigned char>(c) < 0x20) kind = kComplex;
    if (static_cast<unsigned char>(c) >= 0x80) ascii = false;
  }
  if (!ascii) {
    safe = MakeValidUtf8(plain);
    plain = safe;
  }
  // Making the text valid may drop characters (U+FFFE, U+FFFF).
  if (kind == kPlain && plain.empty()) kind = kEmpty;
  if (kind == kPlain && (plain.front() == ' ' || plain.back() == ' ')) kind = kEdged;

  std::int32_t shape = cell_shape_[index];
  if (shape >= 0 && kind != kComplex) {
    int next = NextShape(shape, kind);
    if (next >= 0) {
      cell_shape_[index] = next;
      if (shapes_[static_cast<std::size_t>(next)].has_hole) cell_text_[index].assign(plain);
      else cell_text_[index].clear();
      return;
    }
  }
  // Written into a scratch copy of the cell and kept as XML.
  std::string xml = shape >= 0 ? CellXml(shape, cell_text_[index]) : raw_.at(index).xml;
  pugi::xml_document scratch;
  pugi::xml_node tc = ParseCell(scratch, xml);
  SetCellText(tc, text, names_);
  if (!slot_values_.empty() || paragraph_slots_ > 0) {
    // A cell kept as XML gets its row's bookmark names and paragraph ids
    // now: its text is in the XML, and must never be taken for a slot.
    for (pugi::xml_node node = tc; node;) {
      for (pugi::xml_attribute a : node.attributes()) {
        std::string_view value = a.value();
        if (value.size() < 2 * kSlotMark.size() + 2 || value.substr(0, kSlotMark.size()) != kSlotMark) {
          continue;
        }
        value.remove_prefix(kSlotMark.size());
        value.remove_suffix(kSlotMark.size());
        a.set_value(SlotValue(value, row).c_str());
      }
      if (node.first_child()) {
        node = node.first_child();
        continue;
      }
      while (node != tc && !node.next_sibling()) node = node.parent();
      if (node == tc) break;
      node = node.next_sibling();
    }
  }
  raw_[index] = Raw{Print(tc), CellText(tc, names_)};
  cell_shape_[index] = -1;
  std::string().swap(cell_text_[index]);
}

std::string GrownRows::SlotValue(std::string_view slot, int row) const {
  std::size_t k = 0;
  for (char c : slot.substr(1)) k = k * 10 + static_cast<std::size_t>(c - '0');
  if (slot[0] == 'p') {
    return UniqueMarks::ParagraphIdText(
        first_paragraph_id_ +
        static_cast<std::uint32_t>(
            static_cast<std::size_t>(row) * static_cast<std::size_t>(paragraph_slots_) + k));
  }
  if (slot[0] == 'n') k += static_cast<std::size_t>(id_slots_);
  const std::size_t per_row = static_cast<std::size_t>(id_slots_ + name_slots_);
  return slot_values_[static_cast<std::size_t>(row) * per_row + k];
}

void GrownRows::WriteFilled(XmlSink& sink, std::string_view xml, int row) const {
  if (slot_values_.empty() && paragraph_slots_ == 0) {
    sink.Write(xml);
    return;
  }
  for (;;) {
    std::size_t open = xml.find(kSlotMark);
    std::size_t close = open == std::string_view::npos
                            ? std::string_view::npos
                            : xml.find(kSlotMark, open + kSlotMark.size());
    if (close == std::string_view::npos) {
      sink.Write(xml);
      return;
    }
    sink.Write(xml.substr(0, open));
    sink.Write(
        SlotValue(xml.substr(open + kSlotMark.size(), close - open - kSlotMark.size()), row));
    xml.remove_prefix(close + kSlotMark.size());
  }
}

void GrownRows::Write(XmlSink& sink, int first, int last) const {
  const std::size_t cells = static_cast<std::size_t>(CellCount());
  std::string escaped;
  for (int row = first; row < last; ++row) {
    WriteFilled(sink, row_start_, row);
    for (std::size_t cell = 0; cell < cells; ++cell) {
      if (!literals_[cell].empty()) WriteFilled(sink, literals_[cell], row);
      const std::size_t index = static_cast<std::size_t>(row) * cells + cell;
      std::int32_t shape = cell_shape_[index];
      if (shape < 0) {
        sink.Write(raw_.at(index).xml);
        continue;
      }
      const Shape& s = shapes_[static_cast<std::size_t>(shape)];
      WriteFilled(sink, s.xml_before, row);
      if (s.has_hole) {
        escaped.clear();
        AppendEscapedText(escaped, cell_text_[index]);
        sink.Write(escaped);
        WriteFilled(sink, s.xml_after, row);
      }
    }
    if (!literals_.back().empty()) WriteFilled(sink, literals_.back(), row);
    sink.Write(row_end_);
  }
}

std::size_t GrownRows::RowBytes() const {
  std::size_t bytes = row_start_.size() + row_end_.size();
  for (const std::string& literal : literals_) bytes += literal.size();
  for (int cell = 0; cell < CellCount(); ++cell) bytes += shapes_[static_cast<std::size_t>(cell)].xml_before.size();
  return bytes;
}

}  // namespace vantrelle
