#include "word/fields.h"

#include <cctype>
#include <cstring>
#include <cwctype>
#include <set>
#include <unordered_map>

#include "base/text_encoding.h"
#include "base/text_scan.h"
#include "format/field_picture.h"
#include "format/value_text.h"

namespace vantrelle {

FieldCode ParseFieldCode(std::string_view code) {
  std::vector<std::pair<std::string, bool>> tokens;  // text, is a switch
  std::size_t i = 0;
  while (i < code.size()) {
    char c = code[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '"') {
      std::string token;
      for (++i; i < code.size() && code[i] != '"'; ++i) {
        if (code[i] == '\\' && i + 1 < code.size()) ++i;
        token += code[i];
      }
      ++i;
      tokens.emplace_back(token, false);
    } else if (c == '\\' && i + 1 < code.size()) {
      tokens.emplace_back(std::string(1, code[i + 1]), true);
      i += 2;
    } else {
      std::size_t start = i;
      while (i < code.size() && !std::isspace(static_cast<unsigned char>(code[i])) &&
             code[i] != '"') {
        ++i;
      }
      tokens.emplace_back(std::string(code.substr(start, i - start)), false);
    }
  }
  FieldCode result;
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    const auto& [text, is_switch] = tokens[k];
    if (is_switch) {
      bool has_value = k + 1 < tokens.size() && !tokens[k + 1].second;
      if (text == "*" && has_value) result.format_switches.push_back(tokens[++k].first);
      else if (text == "@" && has_value) result.date_picture = tokens[++k].first;
      else if (text == "#" && has_value)
        result.numeric_picture = tokens[++k].first;
      else if (text == "!" && has_value)
        ++k;
    } else if (k == 0) {
      result.type = UpperAscii(text);
    } else if (result.argument.empty() && k == 1) {
      result.argument = text;
    }
  }
  return result;
}

std::vector<FieldSpan> FindFields(pugi::xml_node story, const WordNames& names) {
  std::vector<FieldSpan> fields;
  std::vector<std::size_t> open;  // indexes of complex fields begun, not ended
  std::vector<bool> complete;
  auto visit = [&](auto&& self, pugi::xml_node node) -> void {
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
      if (child.type() != pugi::node_element) continue;
      const char* name = child.name();
      // Property containers hold no fields and are a large share of the
      // elements of a big table.
      if (IsPropertiesName(name)) continue;
      if (names.Is(child, names.fldChar)) {
        std::string_view type = child.attribute(names.a_fldCharType.c_str()).value();
        if (type == "begin") {
          FieldSpan span;
          span.begin = child.parent();
          std::string_view lock = child.attribute(names.a_fldLock.c_str()).value();
          span.locked = lock == "1" || lock == "true" || lock == "on";
          open.push_back(fields.size());
          fields.push_back(span);
          complete.push_back(false);
        } else if (type == "separate" && !open.empty()) {
          fields[open.back()].separate = child.parent();
        } else if (type == "end" && !open.empty()) {
          fields[open.back()].end = child.parent();
          complete[open.back()] = true;
          open.pop_back();
        }
        continue;
      }
      if (names.Is(child, names.instrText)) {
        if (!open.empty() && !fields[open.back()].separate) {
          FieldSpan& span = fields[open.back()];
          span.code += child.child_value();
          if (!span.first_code) span.first_code = child.parent();
        }
        continue;
      }
      if (names.Is(child, names.fldSimple)) {
        FieldSpan span;
        span.simple = child;
        span.code = child.attribute(names.a_instr.c_str()).value();
        std::string_view lock = child.attribute(names.a_fldLock.c_str()).value();
        span.locked = lock == "1" || lock == "true" || lock == "on";
        fields.push_back(span);
        complete.push_back(true);
      }
      // Both branches of alternate content are walked: a reader that does
      // not understand the first shows the fallback, which must not keep an
      // old result.
      self(self, child);
    }
  };
  visit(visit, story);
  std::vector<FieldSpan> result;
  result.reserve(fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (complete[i]) result.push_back(std::move(fields[i]));
  }
  return result;
}

std::optional<std::string> ComputeFieldResult(const FieldCode& code, const FieldContext& context) {
  const LocaleInfo& locale = context.locale ? *context.locale : LocaleInfo::Current();
  if (code.type == "DOCVARIABLE") {
    std::optional<std::string> value;
    if (!code.argument.empty() && context.variable) value = context.variable(code.argument);
    if (!value) return std::string("Error! No document variable supplied.");
    // The picture applies to a value that reads as its kind; any other value
    // stays as it is. Case switches come after it.
    // A date picture that cannot be read leaves the result as it is,
    // whatever the value.
    std::optional<std::string> formatted;
    if (code.date_picture) {
      if (!FormatDatePicture(std::tm{}, *code.date_picture, locale)) return std::nullopt;
      formatted = FormatDateText(*value, *code.date_picture, locale);
    }
    if (!formatted && code.numeric_picture) {
      formatted = FormatNumericPicture(*value, *code.numeric_picture, locale);
    }
    return ApplyFormatSwitches(formatted ? *formatted : *value, code.format_switches, locale);
  }
  if (code.type == "DATE" || code.type == "TIME") {
    std::string picture;
    if (code.date_picture) picture = *code.date_picture;
    else if (code.type == "DATE") picture = DefaultDatePicture(locale);
    else picture = locale.am.empty() ? "HH:mm" : "h:mm AM/PM";
    std::optional<std::string> shown = FormatDatePicture(context.now, picture, locale);
    if (!shown) return std::nullopt;
    return ApplyFormatSwitches(std::move(*shown), code.format_switches, locale);
  }
  return std::nullopt;
}

namespace {

pugi::xml_node FirstRunWithProperties(pugi::xml_node from, pugi::xml_node until,
                                      const WordNames& names) {
  for (pugi::xml_node node = from; node && node != until; node = node.next_sibling()) {
    if (names.Is(node, names.r) && node.child(names.rPr.c_str())) return node;
  }
  return {};
}

bool FormatSwitchIs(const FieldCode& code, std::string_view option) {
  for (const auto& s : code.format_switches) {
    if (EqualsIgnoreCase(s, option)) return true;
  }
  return false;
}

// The run whose look the new result takes: the field code's with
// CHARFORMAT, else \a old_result (the old result's first formatted run, if
// any), else the field code's.
pugi::xml_node ResultStyle(const FieldSpan& field, const FieldCode& code,
                           pugi::xml_node old_result) {
  if (FormatSwitchIs(code, "CHARFORMAT") && field.first_code) return field.first_code;
  if (old_result) return old_result;
  return field.first_code ? field.first_code : field.begin;
}

bool IsBookmarkMark(pugi::xml_node node, const WordNames& names) {
  return names.Is(node, names.bookmarkStart) || names.Is(node, names.bookmarkEnd);
}

// Keeps the bookmark marks of a result that is replaced around its new run:
// starts before it, ends after it, so a bookmark over the result still
// holds it.
struct BookmarkKeeper {
  pugi::xml_node run, last_end;
  const WordNames& names;
  void Keep(pugi::xml_node mark) {
    if (names.Is(mark, names.bookmarkStart)) {
      run.parent().insert_move_before(mark, run);
    } else {
      last_end = run.parent().insert_move_after(mark, last_end ? last_end : run);
    }
  }
  void KeepAllIn(pugi::xml_node node) {
    std::vector<pugi::xml_node> marks;
    auto collect = [&](auto&& self, pugi::xml_node parent) -> void {
      for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) continue;
        if (IsBookmarkMark(child, names))
          marks.push_back(child);
        else
          self(self, child);
      }
    };
    collect(collect, node);
    for (pugi::xml_node mark : marks) Keep(mark);
  }
};

// True when \a node is or holds an element of local name \a local.
bool HoldsElement(pugi::xml_node node, const char* local) {
  if (!node) return false;
  if (LocalNameIs(node.name(), local)) return true;
  return node.find_node([local](pugi::xml_node n) { return LocalNameIs(n.name(), local); });
}

// A result that runs from the separator's paragraph into a later one is
// replaced whole: the new text follows the separator, and the end mark with
// what follows it in its paragraph joins the first paragraph, as deleting
// the old result would join them. Bookmarks in the old result stay.
bool ReplaceResultAcrossParagraphs(const FieldSpan& field, const FieldCode& code,
                                   const std::string& text, const WordNames& names,
                                   bool& removed_fields) {
  pugi::xml_node separate = field.separate, end = field.end;
  pugi::xml_node first = separate.parent(), last = end.parent();
  if (!names.Is(first, names.p) || !names.Is(last, names.p) || first.parent() != last.parent()) {
    return false;
  }
  std::vector<pugi::xml_node> between;
  pugi::xml_node node = first.next_sibling();
  for (; node && node != last; node = node.next_sibling()) between.push_back(node);
  if (node != last) return false;
  // Joining paragraphs must not lose a section break, and a table in the
  // result is one the document numbers and may have filled: both keep the
  // old result.
  for (pugi::xml_node n : between) {
    if (HoldsElement(n, "sectPr") || HoldsElement(n, "tbl")) return false;
  }
  if (HoldsElement(last.child(names.pPr.c_str()), "sectPr")) return false;

  pugi::xml_node formatted = FirstRunWithProperties(separate.next_sibling(), {}, names);
  if (!formatted) formatted = FirstRunWithProperties(last.first_child(), end, names);
  const pugi::xml_node style = ResultStyle(field, code, formatted);
  pugi::xml_node run = first.append_child(names.r.c_str());
  CopyChildToFront(style, run, names.rPr);
  AppendRunText(run, text, names);

  BookmarkKeeper keeper{run, {}, names};
  auto drop = [&](pugi::xml_node old) {
    if (IsBookmarkMark(old, names)) {
      keeper.Keep(old);
      return;
    }
    removed_fields = removed_fields || HoldsFields(old, names);
    keeper.KeepAllIn(old);
    old.parent().remove_child(old);
  };
  std::vector<pugi::xml_node> old_in_first;
  for (pugi::xml_node old = separate.next_sibling(); old != run; old = old.next_sibling()) {
    old_in_first.push_back(old);
  }
  for (pugi::xml_node old : old_in_first) drop(old);
  for (pugi::xml_node old : between) drop(old);
  for (pugi::xml_node old = last.first_child(); old != end;) {
    pugi::xml_node next = old.next_sibling();
    if (!names.Is(old, names.pPr)) drop(old);
    old = next;
  }
  for (pugi::xml_node tail = end; tail;) {
    pugi::xml_node next = tail.next_sibling();
    first.append_move(tail);
    tail = next;
  }
  last.parent().remove_child(last);
  return true;
}

// The separator and the end mark in one paragraph but under different
// parents (a hyperlink, a tracked insertion, an inline content control):
// the new text follows the separator, and on every level between the two
// marks the old result goes; bookmark marks and wrappers' properties stay.
bool ReplaceResultWithinParagraph(const FieldSpan& field, const FieldCode& code,
                                  const std::string& text, const WordNames& names,
                                  bool& removed_fields) {
  pugi::xml_node separate = field.separate, end = field.end;
  pugi::xml_node common;
  for (pugi::xml_node a = separate.parent(); a && !common; a = a.parent()) {
    for (pugi::xml_node b = end.parent(); b; b = b.parent()) {
      if (a == b) {
        common = a;
        break;
      }
    }
  }
  // Only inline wrappers may stand between the common element and its
  // paragraph: marks in two paragraphs of a text box share a paragraph too,
  // the one that holds the text box.
  pugi::xml_node paragraph = common;
  for (; paragraph && !names.Is(paragraph, names.p); paragraph = paragraph.parent()) {
    for (const char* block : {"txbxContent", "tc", "tr", "tbl"}) {
      if (LocalNameIs(paragraph.name(), block)) return false;
    }
  }
  if (!paragraph) return false;
  // The children of the common element that lead to each mark. Bookmark
  // marks and the wrappers' properties (sdtPr, smartTagPr, ...) stay.
  pugi::xml_node to_separate = separate, to_end = end;
  while (to_separate.parent() != common) to_separate = to_separate.parent();
  while (to_end.parent() != common) to_end = to_end.parent();

  // Beside the separator the old result ends where the end mark's branch
  // begins; what follows that belongs to the paragraph, not the field.
  const pugi::xml_node style = ResultStyle(
      field, code,
      FirstRunWithProperties(separate.next_sibling(),
                             separate.parent() == common ? to_end : pugi::xml_node(), names));
  pugi::xml_node run = separate.parent().insert_child_after(names.r.c_str(), separate);
  CopyChildToFront(style, run, names.rPr);
  AppendRunText(run, text, names);

  std::vector<pugi::xml_node> old;
  auto take = [&](pugi::xml_node node) {
    if (!IsBookmarkMark(node, names) && !IsPropertiesName(node.name())) old.push_back(node);
  };
  pugi::xml_node after = run;
  for (pugi::xml_node level = run; level != to_separate && level.parent() != common;
       level = level.parent()) {
    for (pugi::xml_node n = level.next_sibling(); n; n = n.next_sibling()) take(n);
    after = level.parent();
  }
  for (pugi::xml_node n = after.next_sibling(); n && n != to_end; n = n.next_sibling()) take(n);
  for (pugi::xml_node level = end; level != to_end; level = level.parent()) {
    for (pugi::xml_node n = level.previous_sibling(); n; n = n.previous_sibling()) take(n);
  }
  for (pugi::xml_node node : old) {
    removed_fields = removed_fields || HoldsFields(node, names);
    node.parent().remove_child(node);
  }
  return true;
}

}  // namespace

namespace {

// The next node after \a node in document order, not looking into \a node.
pugi::xml_node NextAfter(pugi::xml_node node) {
  while (node && !node.next_sibling()) node = node.parent();
  return node ? node.next_sibling() : pugi::xml_node();
}

// Subtrees that show no text of the story they stand in: properties, text
// boxes (stories of their own), the fallback that repeats its alternate.
bool ShowsNoText(pugi::xml_node node) {
  if (IsPropertiesName(node.name())) return true;
  const char* local = LocalName(node.name());
  return std::strcmp(local, "txbxContent") == 0 || std::strcmp(local, "Fallback") == 0;
}

void AppendShownText(pugi::xml_node node, const WordNames& names, std::string& out) {
  if (names.Is(node, names.t) || names.Is(node, names.instrText)) {
    out += node.child_value();
  } else if (names.Is(node, names.tab)) {
    out += '\t';
  } else if (names.Is(node, names.br) || names.Is(node, names.cr)) {
    std::string_view type = node.attribute(names.a_type.c_str()).value();
    out += type == "page" ? '\f' : type == "column" ? '\x0E' : '\v';
  }
}

}  // namespace

std::string FieldResultText(const FieldSpan& field, const WordNames& names) {
  std::string out;
  pugi::xml_node node, stop;
  if (field.simple) {
    node = field.simple.first_child();
    stop = NextAfter(field.simple);
  } else {
    if (!field.separate) return out;
    node = NextAfter(field.separate);
    stop = field.end;
  }
  // Per nested field: true while its code is being read.
  std::vector<bool> in_code;
  while (node && node != stop) {
    if (node.type() != pugi::node_element || ShowsNoText(node)) {
      node = NextAfter(node);
      continue;
    }
    if (names.Is(node, names.fldChar)) {
      std::string_view type = node.attribute(names.a_fldCharType.c_str()).value();
      if (type == "begin")
        in_code.push_back(true);
      else if (type == "separate" && !in_code.empty())
        in_code.back() = false;
      else if (type == "end" && !in_code.empty())
        in_code.pop_back();
    } else if (names.Is(node, names.p) && !out.empty()) {
      out += '\r';
    }
    bool code = false;
    for (bool c : in_code) code = code || c;
    if (!code) AppendShownText(node, names, out);
    node = node.first_child() ? node.first_child() : NextAfter(node);
  }
  return out;
}

namespace {

// Fields whose result a reader works out from the page layout, and
// hyperlinks: they stay fields when the others are unlinked.
bool StaysField(const std::string& code) {
  const std::string type = ParseFieldCode(code).type;
  for (const char* kept : {"PAGE", "NUMPAGES", "SECTIONPAGES", "SECTION", "PAGEREF", "HYPERLINK"}) {
    if (type == kept) return true;
  }
  return false;
}

// Fields whose result a run works out itself (ComputeFieldResult).
bool RunComputes(const std::string& code) {
  const std::string type = ParseFieldCode(code).type;
  return type == "DOCVARIABLE" || type == "DATE" || type == "TIME";
}

// Unlinks the fields of one story: the text of a document, or of one of its
// text boxes, which hold fields of their own.
class FieldUnlinker {
 public:
  explicit FieldUnlinker(const WordNames& names) : names_(names) {}

  bool Unlink(pugi::xml_node story) {
    Pair(story);
    if (fields_.empty() && !HoldsSimpleField(story)) return false;
    Walk(story);
    return changed_;
  }

 private:
  struct Complex {
    pugi::xml_node begin, separate, end;  // the fldChar elements
    std::string code;
    bool stays = false;
  };

  bool HoldsSimpleField(pugi::xml_node node) const {
    return node.find_node([this](pugi::xml_node n) { return names_.Is(n, names_.fldSimple); });
  }

  // Matches the marks of the complex fields of this story, as FindFields
  // does; text boxes are left to their own unlinker.
  void Pair(pugi::xml_node story) {
    std::vector<std::size_t> open;
    auto visit = [&](auto&& self, pugi::xml_node node) -> void {
      for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element || IsPropertiesName(child.name())) continue;
        if (LocalNameIs(child.name(), "txbxContent")) continue;
        if (names_.Is(child, names_.fldChar)) {
          std::string_view type = child.attribute(names_.a_fldCharType.c_str()).value();
          if (type == "begin") {
            open.push_back(all_.size());
            all_.push_back(Complex{child, {}, {}, "", false});
          } else if (type == "separate" && !open.empty()) {
            all_[open.back()].separate = child;
          } else if (type == "end" && !open.empty()) {
            all_[open.back()].end = child;
            open.pop_back();
          }
        } else if (names_.Is(child, names_.instrText) && !open.empty() &&
                   !all_[open.back()].separate) {
          all_[open.back()].code += child.child_value();
        } else {
          self(self, child);
        }
      }
    };
    visit(visit, story);
    for (std::size_t i = 0; i < all_.size(); ++i) {
      if (!all_[i].end) continue;
      // A field the run does not compute and that has no stored result
      // (MACROBUTTON's prompt and SYMBOL's character are in its code) has
      // nothing to stand for it: it stays a field, which the reader shows
      // as it would. An empty result the run computed stays empty.
      all_[i].stays = StaysField(all_[i].code) ||
                      (!RunComputes(all_[i].code) && !ShowsResult(all_[i].separate, all_[i].end));
      for (pugi::xml_node mark : {all_[i].begin, all_[i].separate, all_[i].end}) {
        if (mark) fields_[mark.internal_object()] = i;
      }
    }
  }

  // True when something visible stands between \a separate and \a end.
  bool ShowsResult(pugi::xml_node separate, pugi::xml_node end) const {
    if (!separate) return false;
    for (pugi::xml_node n = separate; n && n != end;) {
      if (n.type() == pugi::node_element && n != separate && Visible(n)) return true;
      if (n.first_child() && n != separate) {
        n = n.first_child();
        continue;
      }
      while (n && !n.next_sibling()) n = n.parent();
      if (n) n = n.next_sibling();
    }
    return false;
  }

  static bool Visible(pugi::xml_node n) {
    for (const char* local : {"t", "sym", "tab", "br", "cr", "drawing", "pict", "object",
                              "noBreakHyphen", "softHyphen", "ptab"}) {
      if (LocalNameIs(n.name(), local) && (std::strcmp(local, "t") != 0 || *n.child_value()))
        return true;
    }
    return false;
  }

  // True inside the code of a field that goes: everything there goes too.
  bool InDroppedCode() const {
    for (std::size_t i : stack_) {
      if (!all_[i].stays && !in_result_.count(i)) return true;
    }
    return false;
  }

  void Remove(pugi::xml_node node) {
    node.parent().remove_child(node);
    changed_ = true;
  }

  // Handles one element of run content; true when it went.
  bool Content(pugi::xml_node node) {
    auto it = fields_.find(node.internal_object());
    if (it != fields_.end()) {
      const std::size_t field = it->second;
      const Complex& complex = all_[field];
      bool drop = false;
      if (node == complex.begin) {
        drop = InDroppedCode() || !complex.stays;
        stack_.push_back(field);
      } else if (node == complex.separate) {
        in_result_.insert(field);
        drop = !complex.stays || InDroppedCode();
      } else {
        if (!stack_.empty() && stack_.back() == field) stack_.pop_back();
        drop = !complex.stays || InDroppedCode();
      }
      if (drop) Remove(node);
      return drop;
    }
    if (InDroppedCode()) {
      Remove(node);
      return true;
    }
    return false;
  }

  void Walk(pugi::xml_node node) {
    for (pugi::xml_node child = node.first_child(); child;) {
      pugi::xml_node next = child.next_sibling();
      if (child.type() != pugi::node_element || IsPropertiesName(child.name())) {
        child = next;
        continue;
      }
      if (LocalNameIs(child.name(), "txbxContent")) {
        if (FieldUnlinker(names_).Unlink(child)) changed_ = true;
      } else if (names_.Is(child, names_.r)) {
        WalkRun(child);
      } else if (names_.Is(child, names_.fldSimple)) {
        Simple(child);
      } else if (names_.Is(child, names_.fldChar) || names_.Is(child, names_.instrText) ||
                 LocalNameIs(child.name(), "delInstrText")) {
        Content(child);  // outside a run: malformed, but handled alike
      } else {
        Walk(child);
      }
      child = next;
    }
  }

  // A run whose content all went goes too.
  void WalkRun(pugi::xml_node run) {
    bool emptied = false;
    for (pugi::xml_node child = run.first_child(); child;) {
      pugi::xml_node next = child.next_sibling();
      if (child.type() == pugi::node_element && !IsPropertiesName(child.name())) {
        if (Content(child)) {
          emptied = true;
        } else {
          Walk(child);  // a drawing holds text boxes
        }
      }
      child = next;
    }
    if (!emptied) return;
    for (pugi::xml_node child : run.children()) {
      if (child.type() == pugi::node_element && !IsPropertiesName(child.name())) return;
    }
    Remove(run);
  }

  void Simple(pugi::xml_node simple) {
    if (InDroppedCode()) {
      Remove(simple);
      return;
    }
    Walk(simple);
    const char* code = simple.attribute(names_.a_instr.c_str()).value();
    if (StaysField(code)) return;
    const bool shown = static_cast<bool>(simple.find_node(
        [](pugi::xml_node n) { return n.type() == pugi::node_element && Visible(n); }));
    if (!shown && !RunComputes(code)) return;  // no stored result: it stays a field
    pugi::xml_node parent = simple.parent();
    for (pugi::xml_node child = simple.first_child(); child;) {
      pugi::xml_node next = child.next_sibling();
      // The field's private data goes with it.
      if (!(child.type() == pugi::node_element && LocalNameIs(child.name(), "fldData"))) {
        parent.insert_move_before(child, simple);
      }
      child = next;
    }
    Remove(simple);
  }

  const WordNames& names_;
  std::vector<Complex> all_;
  std::unordered_map<pugi::xml_node_struct*, std::size_t> fields_;  // mark -> field
  std::vector<std::size_t> stack_;
  std::set<std::size_t> in_result_;
  bool changed_ = false;
};

}  // namespace

bool UnlinkFields(pugi::xml_node story, const WordNames& names) {
  return FieldUnlinker(names).Unlink(story);
}

bool UpdateField(const FieldSpan& field, const WordNames& names, const FieldContext& context,
                 bool& removed_fields) {
  removed_fields = false;
  if (field.locked) return false;
  FieldCode code = ParseFieldCode(field.code);
  std::optional<std::string> result = ComputeFieldResult(code, context);
  if (!result) return false;
  std::string text = MakeValidUtf8(*result);

  if (pugi::xml_node simple = field.simple) {
    pugi::xml_node style = FirstRunWithProperties(simple.first_child(), {}, names);
    pugi::xml_node run = simple.append_child(names.r.c_str());
    CopyChildToFront(style, run, names.rPr);
    AppendRunText(run, text, names);
    std::vector<pugi::xml_node> old;
    for (pugi::xml_node child = simple.first_child(); child != run;
         child = child.next_sibling()) {
      // The field's private data stays; the old result goes.
      if (child.type() == pugi::node_element && std::strstr(child.name(), "fldData")) continue;
      old.push_back(child);
    }
    for (pugi::xml_node node : old) {
      removed_fields = removed_fields || HoldsFields(node, names);
      simple.remove_child(node);
    }
    return true;
  }

  pugi::xml_node end = field.end;
  pugi::xml_node separate = field.separate;
  if (separate && separate.parent() != end.parent()) {
    if (names.Is(separate.parent(), names.p) && names.Is(end.parent(), names.p)) {
      return ReplaceResultAcrossParagraphs(field, code, text, names, removed_fields);
    }
    return ReplaceResultWithinParagraph(field, code, text, names, removed_fields);
  }
  if (separate == end) return false;
  if (!separate) {
    if (field.begin == end) return false;
    separate = end.parent().insert_child_before(names.r.c_str(), end);
    separate.append_child(names.fldChar.c_str())
        .append_attribute(names.a_fldCharType.c_str()) = "separate";
  }
  const pugi::xml_node style =
      ResultStyle(field, code, FirstRunWithProperties(separate.next_sibling(), end, names));
  pugi::xml_node run = end.parent().insert_child_before(names.r.c_str(), end);
  CopyChildToFront(style, run, names.rPr);
  AppendRunText(run, text, names);
  std::vector<pugi::xml_node> old;
  for (pugi::xml_node node = separate.next_sibling(); node != run; node = node.next_sibling()) {
    if (names.Is(node, names.bookmarkStart) || names.Is(node, names.bookmarkEnd)) continue;
    old.push_back(node);
  }
  for (pugi::xml_node node : old) {
    removed_fields = removed_fields || HoldsFields(node, names);
    node.parent().remove_child(node);
  }
  return true;
}

}  // namespace vantrelle
