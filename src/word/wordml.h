// WordprocessingML building blocks shared by the document, its tables and its
// fields: element names under the part's own namespace prefix, reading a
// cell's text the way the word processor reports it, and writing text into
// cells and runs so that nothing a database returns can damage the XML.
#pragma once

#include <pugixml.hpp>

#include <cstring>
#include <string>
#include <string_view>

namespace vantrelle {

/// The part of \a qualified after its namespace prefix ("tbl" of "w:tbl").
inline const char* LocalName(const char* qualified) {
  const char* colon = std::strchr(qualified, ':');
  return colon ? colon + 1 : qualified;
}

inline bool LocalNameIs(const char* qualified, const char* local) {
  return std::strcmp(LocalName(qualified), local) == 0;
}

/// True for a properties element (pPr, rPr, tcPr, sdtPr, customXmlPr, ...),
/// which holds settings, never text or fields.
inline bool IsPropertiesName(const char* qualified) {
  const char* local = LocalName(qualified);
  const std::size_t length = std::strlen(local);
  return length > 2 && local[length - 2] == 'P' && local[length - 1] == 'r';
}

/// The WordprocessingML namespaces: the usual (transitional) one and the one
/// of ISO 29500 Strict documents. Both use the same element names.
inline constexpr const char* kWordNamespace =
    "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
inline constexpr const char* kWordStrictNamespace =
    "http://purl.oclc.org/ooxml/wordprocessingml/main";

/// Qualified element and attribute names for one part. Parts may bind the
/// namespace to any prefix ("w:", "ns0:", or none), so names are built from
/// the prefix the part's root declares.
struct WordNames {
  explicit WordNames(std::string prefix = "w");
  /// The prefix the namespace is bound to on \a root, or "w" when none is.
  static std::string PrefixOf(pugi::xml_node root);

  std::string prefix;  ///< "" for the default namespace, else "w" etc.
  std::string body, tbl, tr, tc, p, r, t, tab, br, cr, sym, pPr, rPr, tcPr, trPr, sdt,
      sdtContent, customXml, smartTag, hyperlink, ins, del, moveTo, fldSimple, fldChar, instrText,
      vMerge, hMerge, gridSpan, gridBefore, tblGrid, gridCol, txbxContent, noBreakHyphen, softHyphen,
      bookmarkStart, bookmarkEnd, docVars, docVar, settings;
  std::string a_val, a_name, a_type, a_fldCharType, a_instr, a_fldLock;

  bool Is(pugi::xml_node node, const std::string& name) const {
    return std::strcmp(node.name(), name.c_str()) == 0;
  }
};

/// Makes \a text safe for XML: invalid UTF-8 becomes U+FFFD, and characters
/// XML 1.0 cannot carry (U+FFFE, U+FFFF) are dropped. Control characters are
/// kept; the writers below decide what each one becomes.
std::string MakeValidUtf8(std::string_view text);

/// A cell's text: its paragraphs joined by CR, then the end-of-cell mark CR
/// BEL. Tabs read as TAB, line breaks as VT, page breaks as FF, column
/// breaks as character 14.
std::string CellText(pugi::xml_node tc, const WordNames& names);

/// Replaces the content of cell \a tc with \a text, keeping the first
/// paragraph's properties and the first run's character properties. CR (or
/// CR LF) starts a paragraph, LF and VT break the line, TAB is a tab; other
/// control characters are dropped. A trailing end-of-cell mark is ignored.
/// Returns true when the old content held fields.
bool SetCellText(pugi::xml_node tc, std::string_view text, const WordNames& names);

/// Replaces every content control bound to custom XML data around cell \a tc
/// (around the cell, its row, its table, ...) by its content: the word
/// processor would otherwise show the data again over text written into the
/// cell. The nodes inside keep their identity; the controls' nodes go.
void UnwrapBoundControlsAround(pugi::xml_node tc, const WordNames& names);

/// Appends \a text to \a run as text, tab and break elements. Every line
/// ending becomes a line break (a run cannot hold a paragraph end).
void AppendRunText(pugi::xml_node run, std::string_view text, const WordNames& names);

/// True when \a node is or holds a field mark or a simple field.
bool HoldsFields(pugi::xml_node node, const WordNames& names);

/// Copies \a from's first child named \a name into the front of \a to, if any.
void CopyChildToFront(pugi::xml_node from, pugi::xml_node to, const std::string& name);

}  // namespace vantrelle
