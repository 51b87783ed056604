#include "word/wordml.h"

#include <cstring>
#include <vector>

namespace vantrelle {

WordNames::WordNames(std::string prefix_in) : prefix(std::move(prefix_in)) {
  const std::string q = prefix.empty() ? std::string() : prefix + ":";
  body = q + "body", tbl = q + "tbl", tr = q + "tr", tc = q + "tc", p = q + "p", r = q + "r";
  t = q + "t", tab = q + "tab", br = q + "br", cr = q + "cr", sym = q + "sym";
  pPr = q + "pPr", rPr = q + "rPr", tcPr = q + "tcPr", trPr = q + "trPr";
  sdt = q + "sdt", sdtContent = q + "sdtContent", customXml = q + "customXml";
  smartTag = q + "smartTag", hyperlink = q + "hyperlink", ins = q + "ins", del = q + "del";
  moveTo = q + "moveTo", fldSimple = q + "fldSimple", fldChar = q + "fldChar";
  instrText = q + "instrText", vMerge = q + "vMerge", hMerge = q + "hMerge", gridSpan = q + "gridSpan";
  gridBefore = q + "gridBefore", tblGrid = q + "tblGrid", gridCol = q + "gridCol";
  txbxContent = q + "txbxContent", noBreakHyphen = q + "noBreakHyphen";
  softHyphen = q + "softHyphen", bookmarkStart = q + "bookmarkStart";
  bookmarkEnd = q + "bookmarkEnd", docVars = q + "docVars", docVar = q + "docVar";
  settings = q + "settings";
  a_val = q + "val", a_name = q + "name", a_type = q + "type";
  a_fldCharType = q + "fldCharType", a_instr = q + "instr", a_fldLock = q + "fldLock";
}

std::string WordNames::PrefixOf(pugi::xml_node root) {
  for (pugi::xml_attribute a : root.attributes()) {
    std::string_view name = a.name();
    if (std::strcmp(a.value(), kWordNamespace) != 0 &&
        std::strcmp(a.value(), kWordStrictNamespace) != 0) {
      continue;
    }
    if (name == "xmlns") return "";
    if (name.substr(0, 6) == "xmlns:") return std::string(name.substr(6));
  }
  return "w";
}

std::string MakeValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  static const char kReplacement[] = "\xEF\xBF\xBD";
  for (std::size_t i = 0; i < n;) {
    unsigned char c = s[i];
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    int length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    bool ok = length > 0 && i + length <= n;
    for (int k = 1; ok && k < length; ++k) ok = (s[i + k] & 0xC0) == 0x80;
    if (ok && length == 3) {
      // Overlong forms and UTF-16 surrogates are not characters.
      if ((c == 0xE0 && s[i + 1] < 0xA0) || (c == 0xED && s[i + 1] >= 0xA0)) ok = false;
      // U+FFFE and U+FFFF are not allowed in XML.
      if (c == 0xEF && s[i + 1] == 0xBF && (s[i + 2] == 0xBE || s[i + 2] == 0xBF)) {
        i += 3;
        continue;
      }
    }
    if (ok && length == 4) {
      if ((c == 0xF0 && s[i + 1] < 0x90) || (c == 0xF4 && s[i + 1] >= 0x90)) ok = false;
    }
    if (!ok) {
      out += kReplacement;
      ++i;
      continue;
    }
    out.append(text.data() + i, static_cast<std::size_t>(length));
    i += static_cast<std::size_t>(length);
  }
  return out;
}

namespace {

bool IsSkippedSubtree(pugi::xml_node node, const WordNames&) {
  // Property elements hold tab stops, not tabs; text boxes are stories of
  // their own; field codes are not text; a fallback repeats its alternate.
  if (IsPropertiesName(node.name())) return true;
  const char* local = LocalName(node.name());
  return std::strcmp(local, "txbxContent") == 0 || std::strcmp(local, "instrText") == 0 ||
         std::strcmp(local, "Fallback") == 0;
}

void CollectRunText(pugi::xml_node node, std::string& out, const WordNames& names) {
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    if (names.Is(child, names.t)) {
      out += child.child_value();
    } else if (names.Is(child, names.tab)) {
      out += '\t';
    } else if (names.Is(child, names.br)) {
      std::string_view type = child.attribute(names.a_type.c_str()).value();
      out += type == "page" ? '\f' : type == "column" ? '\x0E' : '\v';
    } else if (names.Is(child, names.cr)) {
      out += '\v';
    } else if (names.Is(child, names.noBreakHyphen)) {
      out += '\x1E';
    } else if (names.Is(child, names.softHyphen)) {
      out += '\x1F';
    } else if (names.Is(child, names.p)) {
      // Nested paragraphs (from nested tables) are separate paragraphs.
      if (!out.empty()) out += '\r';
      CollectRunText(child, out, names);
    } else if (!IsSkippedSubtree(child, names)) {
      CollectRunText(child, out, names);
    }
  }
}

void CollectCellText(pugi::xml_node node, std::string& out, bool& first, const WordNames& names) {
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element || IsSkippedSubtree(child, names)) continue;
    if (names.Is(child, names.p)) {
      if (!first) out += '\r';
      first = false;
      CollectRunText(child, out, names);
    } else {
      CollectCellText(child, out, first, names);
    }
  }
}

// The first paragraph of a cell, looking into content controls and custom
// XML wrappers but not into nested tables.
pugi::xml_node FirstParagraph(pugi::xml_node node, const WordNames& names) {
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    if (names.Is(child, names.p)) return child;
    if (names.Is(child, names.sdt)) {
      if (pugi::xml_node p = FirstParagraph(child.child(names.sdtContent.c_str()), names)) return p;
    } else if (names.Is(child, names.customXml)) {
      if (pugi::xml_node p = FirstParagraph(child, names)) return p;
    }
  }
  return {};
}

pugi::xml_node FirstRun(pugi::xml_node node, const WordNames& names) {
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element || IsSkippedSubtree(child, names)) continue;
    if (names.Is(child, names.r)) return child;
    if (pugi::xml_node r = FirstRun(child, names)) return r;
  }
  return {};
}

// Copies the bookmark marks found in \a node (or that it is) into \a paragraph
// after \a anchor (the paragraph's properties) or at its front.
void CopyBookmarks(pugi::xml_node node, pugi::xml_node paragraph, pugi::xml_node& anchor,
                   const WordNames& names) {
  if (node.type() != pugi::node_element) return;
  if (names.Is(node, names.bookmarkStart) || names.Is(node, names.bookmarkEnd)) {
    anchor = anchor ? paragraph.insert_copy_after(node, anchor) : paragraph.prepend_copy(node);
    return;
  }
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    CopyBookmarks(child, paragraph, anchor, names);
  }
}

// True when \a sdt is a content control bound to custom XML data.
bool IsBoundControl(pugi::xml_node sdt) {
  for (pugi::xml_node child : sdt.children()) {
    if (!LocalNameIs(child.name(), "sdtPr")) continue;
    for (pugi::xml_node property : child.children()) {
      if (LocalNameIs(property.name(), "dataBinding")) return true;
    }
  }
  return false;
}

bool HasControlCharacters(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) return true;
  }
  return false;
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Leading and trailing blanks survive only when the text says so.
bool NeedsPreserve(std::string_view text) {
  return !text.empty() && (text.front() == ' ' || text.back() == ' ');
}

void AppendText(pugi::xml_node run, std::string_view text, const WordNames& names) {
  if (text.empty()) return;
  pugi::xml_node t = run.append_child(names.t.c_str());
  if (NeedsPreserve(text)) t.append_attribute("xml:space") = "preserve";
  t.append_child(pugi::node_pcdata).set_value(text.data(), text.size());
}

// Rewrites the text of a cell that holds one paragraph with one plain run in
// place: the common case of a template cell, and much cheaper than rebuilding.
bool TrySetSimpleCellText(pugi::xml_node tc, std::string_view text, const WordNames& names) {
  pugi::xml_node paragraph;
  for (pugi::xml_node child = tc.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element || names.Is(child, names.tcPr)) continue;
    if (paragraph || !names.Is(child, names.p)) return false;
    paragraph = child;
  }
  if (!paragraph) return false;
  pugi::xml_node run;
  for (pugi::xml_node child = paragraph.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element || names.Is(child, names.pPr)) continue;
    if (run || !names.Is(child, names.r)) return false;
    run = child;
  }
  if (!run) return false;
  pugi::xml_node t;
  for (pugi::xml_node child = run.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element || names.Is(child, names.rPr)) continue;
    if (t || !names.Is(child, names.t)) return false;
    t = child;
  }
  if (text.empty()) {
    if (t) run.remove_child(t);
    return true;
  }
  if (!t) {
    AppendText(run, text, names);
    return true;
  }
  if (NeedsPreserve(text) && !t.attribute("xml:space")) {
    t.append_attribute("xml:space") = "preserve";
  }
  pugi::xml_node data = t.first_child();
  if (!data || data.type() != pugi::node_pcdata || data.next_sibling()) {
    t.remove_children();
    data = t.append_child(pugi::node_pcdata);
  }
  data.set_value(text.data(), text.size());
  return true;
}

}  // namespace

bool HoldsFields(pugi::xml_node node, const WordNames& names) {
  if (node.type() != pugi::node_element) return false;
  if (names.Is(node, names.fldChar) || names.Is(node, names.fldSimple)) return true;
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (HoldsFields(child, names)) return true;
  }
  return false;
}

std::string CellText(pugi::xml_node tc, const WordNames& names) {
  std::string out;
  bool first = true;
  CollectCellText(tc, out, first, names);
  out += "\r\a";
  return out;
}

void CopyChildToFront(pugi::xml_node from, pugi::xml_node to, const std::string& name) {
  if (!from) return;
  pugi::xml_node properties = from.child(name.c_str());
  if (properties) to.prepend_copy(properties);
}

void AppendRunText(pugi::xml_node run, std::string_view text, const WordNames& names) {
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    unsigned char c = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
    if (i < text.size() && c >= 0x20) continue;
    AppendText(run, text.substr(start, i - start), names);
    start = i + 1;
    if (i == text.size()) break;
    switch (c) {
      case '\t': run.append_child(names.tab.c_str()); break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i, ++start;
        [[fallthrough]];
      case '\n':
      case '\v': run.append_child(names.br.c_str()); break;
      case '\f':
        run.append_child(names.br.c_str()).append_attribute(names.a_type.c_str()) = "page";
        break;
      case 0x0E:
        run.append_child(names.br.c_str()).append_attribute(names.a_type.c_str()) = "column";
        break;
      case 0x1E: run.append_child(names.noBreakHyphen.c_str()); break;
      case 0x1F: run.append_child(names.softHyphen.c_str()); break;
      default: break;  // no other control character can be carried by the XML
    }
  }
}

void UnwrapBoundControlsAround(pugi::xml_node tc, const WordNames& names) {
  for (pugi::xml_node node = tc.parent(); node;) {
    pugi::xml_node control = node.parent();
    if (!names.Is(node, names.sdtContent) || !IsBoundControl(control)) {
      node = control;
      continue;
    }
    pugi::xml_node outer = control.parent();
    for (pugi::xml_node child = node.first_child(); child;) {
      pugi::xml_node next = child.next_sibling();
      outer.insert_move_before(child, control);
      child = next;
    }
    outer.remove_child(control);
    node = outer;
  }
}

bool SetCellText(pugi::xml_node tc, std::string_view text, const WordNames& names) {
  // Text read from a cell ends with the end-of-cell mark; writing it back must
  // not add an empty paragraph.
  if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\a") text.remove_suffix(2);
  std::string safe;
  if (!IsAscii(text)) {
    safe = MakeValidUtf8(text);
    text = safe;
  }
  if (!HasControlCharacters(text) && TrySetSimpleCellText(tc, text, names)) return false;

  pugi::xml_node first_paragraph = FirstParagraph(tc, names);
  pugi::xml_node first_run = first_paragraph ? FirstRun(first_paragraph, names) : pugi::xml_node();

  // Content that a content control wraps stays inside it.
  pugi::xml_node container = tc;
  pugi::xml_node keep;
  if (first_paragraph) {
    pugi::xml_node parent = first_paragraph.parent();
    // A control bound to custom XML data would show its data again when the
    // document is opened, so the text replaces such a control.
    bool bound = IsBoundControl(parent.parent());
    if (names.Is(parent, names.sdtContent) && parent.parent().parent() == tc && !bound) {
      container = parent;
      keep = parent.parent();
    }
  }
  std::vector<pugi::xml_node> old;
  for (pugi::xml_node child = container.first_child(); child; child = child.next_sibling()) {
    if (container == tc && (names.Is(child, names.tcPr) || child == keep)) continue;
    old.push_back(child);
  }
  if (container != tc) {
    for (pugi::xml_node child = tc.first_child(); child; child = child.next_sibling()) {
      if (!names.Is(child, names.tcPr) && child != keep) old.push_back(child);
    }
  }
  pugi::xml_node paragraph, first_new;
  std::size_t start = 0;
  auto new_paragraph = [&]() {
    paragraph = container.append_child(names.p.c_str());
    if (!first_new) first_new = paragraph;
    CopyChildToFront(first_paragraph, paragraph, names.pPr);
    pugi::xml_node run = paragraph.append_child(names.r.c_str());
    if (first_run) {
      CopyChildToFront(first_run, run, names.rPr);
    } else {
      // An empty cell's text takes the look of its paragraph mark, without
      // the mark's own revision marks.
      CopyChildToFront(first_paragraph.child(names.pPr.c_str()), run, names.rPr);
      pugi::xml_node properties = run.child(names.rPr.c_str());
      for (pugi::xml_node child = properties.first_child(); child;) {
        pugi::xml_node next = child.next_sibling();
        std::string_view local = LocalName(child.name());
        if (local == "ins" || local == "del" || local == "moveFrom" || local == "moveTo") {
          properties.remove_child(child);
        }
        child = next;
      }
    }
    return run;
  };
  pugi::xml_node run = new_paragraph();
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '\r') continue;
    AppendRunText(run, text.substr(start, i - start), names);
    if (i == text.size()) break;
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
    run = new_paragraph();
  }
  // Bookmarks in the cell survive the rewrite, at its start.
  pugi::xml_node anchor = first_new.child(names.pPr.c_str());
  bool removed_fields = false;
  for (pugi::xml_node node : old) {
    CopyBookmarks(node, first_new, anchor, names);
    removed_fields = removed_fields || HoldsFields(node, names);
    node.parent().remove_child(node);
  }
  return removed_fields;
}

}  // namespace vantrelle
