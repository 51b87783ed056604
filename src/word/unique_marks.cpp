#include "word/unique_marks.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/error.h"
#include "word/document.h"

namespace vantrelle {

namespace {

constexpr const char* kVmlNamespace = "urn:schemas-microsoft-com:vml";
// Paragraph and durable ids are below 0x80000000.
constexpr std::uint64_t kIdLimit = 0x80000000ull;

std::string Qualified(const WordNames& names, const char* local) {
  return names.prefix.empty() ? std::string(local) : names.prefix + ":" + local;
}

// The namespace \a element's prefix stands for, from the declarations on it
// and its ancestors.
std::string_view NamespaceOf(pugi::xml_node element) {
  const char* name = element.name();
  const char* colon = std::strchr(name, ':');
  const std::string declaration =
      colon ? "xmlns:" + std::string(name, static_cast<std::size_t>(colon - name)) : "xmlns";
  for (pugi::xml_node node = element; node; node = node.parent()) {
    if (pugi::xml_attribute a = node.attribute(declaration.c_str())) return a.value();
  }
  return {};
}

// VML elements whose id names a shape (a shape type's id names a type,
// which shapes share).
bool IsVmlShape(pugi::xml_node element) {
  static const char* const kShapes[] = {"shape",    "rect",  "roundrect", "oval",  "line",
                                        "polyline", "curve", "arc",       "image", "group"};
  const char* local = LocalName(element.name());
  bool shape = false;
  for (const char* name : kShapes) shape = shape || std::strcmp(local, name) == 0;
  return shape && NamespaceOf(element) == kVmlNamespace;
}

// Calls \a visit for \a node and every element below it, in document order.
template <typename Visit>
void ForEachElement(pugi::xml_node node, Visit&& visit) {
  for (pugi::xml_node n = node; n;) {
    if (n.type() == pugi::node_element) visit(n);
    if (n.first_child()) {
      n = n.first_child();
      continue;
    }
    while (n != node && !n.next_sibling()) n = n.parent();
    if (n == node) break;
    n = n.next_sibling();
  }
}

// Eight hex digits, as paragraph and durable ids are written.
std::optional<std::uint32_t> HexId(std::string_view text) {
  if (text.empty() || text.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text) {
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                       : -1;
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  return value;
}

// The number of a shape id the word processor numbers ("_x0000_s1026").
std::optional<long long> ShapeNumber(std::string_view id) {
  if (id.size() < 9 || id.substr(0, 7) != "_x0000_") return std::nullopt;
  long long number = 0;
  for (char c : id.substr(8)) {
    if (c < '0' || c > '9' || number > 100000000000LL) return std::nullopt;
    number = number * 10 + (c - '0');
  }
  return number;
}

// The value of an id attribute that is a whole number ("rId5", "_x0000_s1"
// and hex ids are not).
std::optional<long long> WholeId(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  long long value = 0;
  for (size_t i = text[0] == '-' ? 1 : 0; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return text[0] == '-' ? -value : value;
}

// Revision marks and permission and move ranges: each has a w:id of the
// package's one id space; a start and its end share theirs.
bool HasRenewedId(const char* local) {
  static const char* const kMarks[] = {
      "ins",           "del",          "moveFrom",           "moveTo",
      "rPrChange",     "pPrChange",    "sectPrChange",       "tblPrChange",
      "tblPrExChange", "tblGridChange", "trPrChange",        "tcPrChange",
      "numberingChange", "cellIns",    "cellDel",            "cellMerge",
      "permStart",     "permEnd",      "moveFromRangeStart", "moveFromRangeEnd",
      "moveToRangeStart", "moveToRangeEnd", "customXmlInsRangeStart", "customXmlInsRangeEnd",
      "customXmlDelRangeStart", "customXmlDelRangeEnd"};
  for (const char* mark : kMarks)
    if (std::strcmp(local, mark) == 0) return true;
  return false;
}

void RemoveBookmarks(pugi::xml_node node) {
  std::vector<pugi::xml_node> marks;
  ForEachElement(node, [&](pugi::xml_node n) {
    if (LocalNameIs(n.name(), "bookmarkStart") || LocalNameIs(n.name(), "bookmarkEnd")) {
      marks.push_back(n);
    }
  });
  for (pugi::xml_node mark : marks) mark.parent().remove_child(mark);
}

// The child of \a root named \a local whose attribute \a id_name is \a id.
pugi::xml_node ChildWithId(pugi::xml_node root, const char* local, const std::string& id_name,
                           std::string_view id) {
  for (pugi::xml_node child : root.children()) {
    if (LocalNameIs(child.name(), local) && id == child.attribute(id_name.c_str()).value()) {
      return child;
    }
  }
  return {};
}

// The attribute of \a node with local name \a local, whatever its prefix.
pugi::xml_attribute AttributeNamed(pugi::xml_node node, const char* local) {
  for (pugi::xml_attribute a : node.attributes()) {
    if (LocalNameIs(a.name(), local)) return a;
  }
  return {};
}

}  // namespace

// Ids in use or handed out, as ranges [first, end) merged where they touch.
struct UniqueMarks::IdRanges {
  std::map<std::uint64_t, std::uint64_t> ranges;

  void Add(std::uint64_t first, std::uint64_t end) {
    auto next = ranges.upper_bound(first);
    if (next != ranges.begin()) {
      auto before = std::prev(next);
      if (before->second >= first) {
        first = before->first;
        end = std::max(end, before->second);
        ranges.erase(before);
      }
    }
    for (next = ranges.lower_bound(first); next != ranges.end() && next->first <= end;) {
      end = std::max(end, next->second);
      next = ranges.erase(next);
    }
    ranges[first] = end;
  }

  // The first of \a count free ids from 1 on, now taken.
  std::optional<std::uint32_t> Reserve(std::uint64_t count) {
    std::uint64_t candidate = 1;
    for (const auto& [first, end] : ranges) {
      if (first >= candidate + count) break;
      candidate = std::max(candidate, end);
    }
    if (candidate + count > kIdLimit) return std::nullopt;
    Add(candidate, candidate + count);
    return static_cast<std::uint32_t>(candidate);
  }
};

UniqueMarks::UniqueMarks(XmlPart& main, std::vector<std::string> stories, NoteParts notes,
                         PartLoader load)
    : main_(main),
      stories_(std::move(stories)),
      notes_(std::move(notes)),
      load_(std::move(load)),
      paragraph_ids_(std::make_unique<IdRanges>()),
      durable_ids_(std::make_unique<IdRanges>()) {}

UniqueMarks::~UniqueMarks() = default;

bool UniqueMarks::IsParagraphId(const char* attribute_name) {
  const char* local = LocalName(attribute_name);
  return std::strcmp(local, "paraId") == 0 || std::strcmp(local, "textId") == 0 ||
         std::strcmp(local, "anchorId") == 0 || std::strcmp(local, "editId") == 0;
}

bool UniqueMarks::HoldsCopiedMarks(pugi::xml_node node) {
  static const char* const kMarks[] = {"footnoteReference",
                                       "endnoteReference",
                                       "commentReference",
                                       "commentRangeStart",
                                       "commentRangeEnd",
                                       "drawing",
                                       "pict",
                                       "object",
                                       "docPr",
                                       "sdtPr"};
  bool found = false;
  ForEachElement(node, [&](pugi::xml_node n) {
    const char* local = LocalName(n.name());
    for (const char* mark : kMarks) found = found || std::strcmp(local, mark) == 0;
    found = found || HasRenewedId(local);
  });
  return found;
}

int UniqueMarks::CountParagraphIds(pugi::xml_node node) {
  int count = 0;
  ForEachElement(node, [&](pugi::xml_node n) {
    for (pugi::xml_attribute a : n.attributes()) count += IsParagraphId(a.name()) ? 1 : 0;
  });
  return count;
}

std::string UniqueMarks::ParagraphIdText(std::uint32_t id) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", id);
  return text;
}

void UniqueMarks::ScanPart(pugi::xml_node root) {
  ForEachElement(root, [&](pugi::xml_node n) {
    // Every whole-number id, of every kind; a content control's id is the
    // value of its id element.
    const bool id_element = LocalNameIs(n.name(), "id");
    for (pugi::xml_attribute a : n.attributes()) {
      if (LocalNameIs(a.name(), "id") || (id_element && LocalNameIs(a.name(), "val"))) {
        if (std::optional<long long> id = WholeId(a.value())) last_id_ = std::max(last_id_, *id);
      }
      if (IsParagraphId(a.name())) {
        if (std::optional<std::uint32_t> id = HexId(a.value()))
          paragraph_ids_->Add(*id, *id + 1ull);
      } else if (LocalNameIs(a.name(), "durableId")) {
        if (std::optional<std::uint32_t> id = HexId(a.value())) durable_ids_->Add(*id, *id + 1ull);
      } else if (LocalNameIs(a.name(), "spid")) {
        shape_ids_.insert(a.value());
        if (auto number = ShapeNumber(a.value()))
          last_shape_number_ = std::max(last_shape_number_, *number);
      }
    }
    if (IsVmlShape(n)) {
      if (pugi::xml_attribute id = n.attribute("id")) {
        shape_ids_.insert(id.value());
        if (auto number = ShapeNumber(id.value()))
          last_shape_number_ = std::max(last_shape_number_, *number);
      }
    }
  });
}

void UniqueMarks::ScanIds() {
  if (scanned_) return;
  scanned_ = true;
  ScanPart(main_.xml.document_element());
  std::set<std::string> parts(stories_.begin(), stories_.end());
  for (const std::string* name :
       {&notes_.footnotes, &notes_.endnotes, &notes_.comments, &notes_.comments_extended,
        &notes_.comments_ids, &notes_.comments_extensible}) {
    if (!name->empty()) parts.insert(*name);
  }
  for (const std::string& name : parts) {
    XmlPart* part = load_(name);
    if (!part) continue;
    pugi::xml_node root = part->xml.document_element();
    ScanPart(root);
    for (pugi::xml_node child : root.children()) {
      const long long id = AttributeNamed(child, "id").as_llong(-1);
      if (LocalNameIs(child.name(), "footnote") || LocalNameIs(child.name(), "endnote")) {
        long long& last = last_note_id_[name];
        last = std::max(last, id);
      }
    }
  }
}

long long UniqueMarks::NextId() {
  ScanIds();
  return ++last_id_;
}

std::uint32_t UniqueMarks::ReserveParagraphIds(std::uint64_t count) {
  ScanIds();
  if (count == 0) return 1;
  std::optional<std::uint32_t> first = paragraph_ids_->Reserve(count);
  if (!first) {
    throw Error("Cannot copy the table's rows: the document has no room left for " +
                std::to_string(count) + " new paragraph ids.");
  }
  return *first;
}

std::string UniqueMarks::FreshShapeId(const std::string& old) {
  std::string fresh;
  if (ShapeNumber(old)) {
    do {
      fresh = old.substr(0, 8) + std::to_string(++last_shape_number_);
    } while (shape_ids_.count(fresh));
  } else {
    for (int n = 1; fresh.empty() || shape_ids_.count(fresh); ++n)
      fresh = old + "_" + std::to_string(n);
  }
  shape_ids_.insert(fresh);
  return fresh;
}

void UniqueMarks::RenewIds(pugi::xml_node copy, std::uint32_t first_id,
                           std::map<std::string, std::string>* paragraph_ids) {
  std::uint32_t next = first_id;
  std::map<std::string, std::string> shapes;  // old id -> new id, within this copy
  std::map<std::string, long long> ranges;    // a range's old id -> its new one
  auto renew = [&](pugi::xml_attribute a, bool shared) {
    if (!a || !WholeId(a.value())) return;
    if (!shared) {
      a.set_value(NextId());
      return;
    }
    auto [it, fresh] = ranges.try_emplace(a.value());
    if (fresh) it->second = NextId();
    a.set_value(it->second);
  };
  auto shape = [&](pugi::xml_attribute a) {
    if (!a || !*a.value()) return;
    auto [it, fresh] = shapes.try_emplace(a.value());
    if (fresh) it->second = FreshShapeId(a.value());
    a.set_value(it->second.c_str());
  };
  ForEachElement(copy, [&](pugi::xml_node n) {
    for (pugi::xml_attribute a : n.attributes()) {
      if (IsParagraphId(a.name())) {
        const std::string id = ParagraphIdText(next++);
        if (paragraph_ids) (*paragraph_ids)[a.value()] = id;
        a.set_value(id.c_str());
      } else if (LocalNameIs(a.name(), "spid")) {
        shape(a);
      }
    }
    const char* local = LocalName(n.name());
    if (std::strcmp(local, "docPr") == 0) {
      if (pugi::xml_attribute id = n.attribute("id")) id.set_value(NextId());
    } else if (std::strcmp(local, "id") == 0 && LocalNameIs(n.parent().name(), "sdtPr")) {
      renew(AttributeNamed(n, "val"), false);
    } else if (HasRenewedId(local)) {
      // A range's start and end keep one id; each revision gets its own.
      const bool range = std::strstr(local, "Start") != nullptr || std::strstr(local, "End") != nullptr;
      renew(AttributeNamed(n, "id"), range);
    } else if (std::strcmp(local, "OLEObject") == 0) {
      shape(n.attribute("ShapeID"));
    } else if (IsVmlShape(n)) {
      shape(n.attribute("id"));
    }
  });
}

void UniqueMarks::Renew(pugi::xml_node copy, const WordNames& names) {
  Renew(copy, names, ReserveParagraphIds(static_cast<std::uint64_t>(CountParagraphIds(copy))));
}

void UniqueMarks::Renew(pugi::xml_node copy, const WordNames& names, std::uint32_t first_id) {
  ScanIds();
  RenewIds(copy, first_id, nullptr);
  if (HoldsCopiedMarks(copy)) {
    CopyNotes(copy, names);
    CopyComments(copy, names);
  }
}

void UniqueMarks::CopyNotes(pugi::xml_node copy, const WordNames& names) {
  std::vector<pugi::xml_node> references;
  ForEachElement(copy, [&](pugi::xml_node n) {
    if (LocalNameIs(n.name(), "footnoteReference") || LocalNameIs(n.name(), "endnoteReference")) {
      references.push_back(n);
    }
  });
  const std::string id_name = Qualified(names, "id");
  for (pugi::xml_node reference : references) {
    const bool foot = LocalNameIs(reference.name(), "footnoteReference");
    const std::string& part_name = foot ? notes_.footnotes : notes_.endnotes;
    XmlPart* part = part_name.empty() ? nullptr : load_(part_name);
    if (!part) continue;
    pugi::xml_node root = part->xml.document_element();
    const std::string note_id = Qualified(part->names, "id");
    pugi::xml_node note = ChildWithId(root, foot ? "footnote" : "endnote", note_id,
                                      reference.attribute(id_name.c_str()).value());
    if (!note) continue;
    // The copy follows the notes already there, so the notes part keeps
    // them in the order of their references.
    pugi::xml_node copied = root.append_copy(note);
    const long long id = ++last_note_id_[part_name];
    copied.attribute(note_id.c_str()).set_value(id);
    reference.attribute(id_name.c_str()).set_value(id);
    RemoveBookmarks(copied);
    RenewIds(copied, ReserveParagraphIds(static_cast<std::uint64_t>(CountParagraphIds(copied))),
             nullptr);
    CopyComments(copied, part->names);
    part->modified = true;
    copied_notes_[part_name].insert(copied.internal_object());
  }
}

void UniqueMarks::FinishCopies(const WordNames& names) {
  const bool copied = !copied_notes_.empty() || !copied_comments_.empty();
  DropUnshownComments();
  const std::string id_name = Qualified(names, "id");
  for (const auto& [part_name, copies] : copied_notes_) {
    XmlPart* part = load_(part_name);
    if (!part) continue;
    const bool foot = part_name == notes_.footnotes;
    const char* note_name = foot ? "footnote" : "endnote";
    const char* reference_name = foot ? "footnoteReference" : "endnoteReference";
    pugi::xml_node root = part->xml.document_element();
    const std::string note_id = Qualified(part->names, "id");
    // Separators keep their ids; notes take the others from 1 on.
    std::set<long long> taken;
    std::map<std::string, pugi::xml_node> notes;
    for (pugi::xml_node child : root.children()) {
      if (!LocalNameIs(child.name(), note_name)) continue;
      const std::string_view type = AttributeNamed(child, "type").value();
      if (!type.empty() && type != "normal") {
        taken.insert(child.attribute(note_id.c_str()).as_llong());
      } else {
        notes.emplace(child.attribute(note_id.c_str()).value(), child);
      }
    }
    std::vector<pugi::xml_node> references;
    ForEachElement(main_.xml.document_element(), [&](pugi::xml_node n) {
      if (LocalNameIs(n.name(), reference_name)) references.push_back(n);
    });
    long long next = 0;
    std::map<std::string, long long> renumbered;
    std::vector<pugi::xml_node> order;
    auto number = [&](const std::string& old_id) {
      auto note = notes.find(old_id);
      if (note == notes.end() || renumbered.count(old_id)) return;
      do ++next;
      while (taken.count(next));
      renumbered[old_id] = next;
      order.push_back(note->second);
    };
    for (pugi::xml_node reference : references)
      number(reference.attribute(id_name.c_str()).value());
    // A copy nothing refers to goes; the template's own notes stay, after
    // the others.
    for (const auto& [old_id, note] : notes) {
      if (renumbered.count(old_id)) continue;
      if (copies.count(note.internal_object())) {
        root.remove_child(note);
      } else {
        number(old_id);
      }
    }
    for (pugi::xml_node reference : references) {
      auto it = renumbered.find(reference.attribute(id_name.c_str()).value());
      if (it != renumbered.end()) reference.attribute(id_name.c_str()).set_value(it->second);
    }
    for (pugi::xml_node note : order) {
      const long long id = renumbered.at(note.attribute(note_id.c_str()).value());
      note.attribute(note_id.c_str()).set_value(id);
      root.append_move(note);
    }
    last_note_id_[part_name] = std::max(next, last_note_id_[part_name]);
    part->modified = true;
  }
  copied_notes_.clear();
  if (copied) SeparateCommentsFromNotes();
}

// Notes are numbered from 1 in the order of their references, and copies
// add to them: a comment, copied or the template's own, may now share its
// number with a note. Such comments move above every id; readers that keep
// notes and comments in one list lose the note texts otherwise.
void UniqueMarks::SeparateCommentsFromNotes() {
  XmlPart* comments = notes_.comments.empty() ? nullptr : load_(notes_.comments);
  if (!comments) return;
  std::set<long long> note_ids;
  std::vector<XmlPart*> parts = {&main_};
  for (const std::string* name : {&notes_.footnotes, &notes_.endnotes}) {
    XmlPart* part = name->empty() ? nullptr : load_(*name);
    if (!part) continue;
    parts.push_back(part);
    for (pugi::xml_node note : part->xml.document_element().children())
      if (std::optional<long long> id = WholeId(AttributeNamed(note, "id").value()))
        note_ids.insert(*id);
  }
  if (note_ids.empty()) return;
  last_id_ = std::max(last_id_, *note_ids.rbegin());
  std::map<std::string, std::string> renumbered;
  for (pugi::xml_node comment : comments->xml.document_element().children()) {
    if (!LocalNameIs(comment.name(), "comment")) continue;
    const std::string id = AttributeNamed(comment, "id").value();
    if (note_ids.count(WholeId(id).value_or(-2)) && !renumbered.count(id))
      renumbered[id] = std::to_string(NextId());
  }
  if (renumbered.empty()) return;
  auto apply = [&](pugi::xml_node n) {
    pugi::xml_attribute id = AttributeNamed(n, "id");
    auto found = renumbered.find(id.value());
    if (found == renumbered.end()) return false;
    id.set_value(found->second.c_str());
    return true;
  };
  for (pugi::xml_node comment : comments->xml.document_element().children())
    if (LocalNameIs(comment.name(), "comment") && apply(comment)) comments->modified = true;
  for (XmlPart* part : parts) {
    ForEachElement(part->xml.document_element(), [&](pugi::xml_node n) {
      if ((LocalNameIs(n.name(), "commentRangeStart") || LocalNameIs(n.name(), "commentRangeEnd") ||
           LocalNameIs(n.name(), "commentReference")) &&
          apply(n))
        part->modified = true;
    });
  }
}

void UniqueMarks::DropUnshownComments() {
  if (copied_comments_.empty()) return;
  // The comments still shown: referred to in the main text or in a note.
  std::set<std::string> shown;
  std::vector<pugi::xml_node> ranges;
  std::vector<pugi::xml_node> roots = {main_.xml.document_element()};
  for (const std::string* name : {&notes_.footnotes, &notes_.endnotes}) {
    if (XmlPart* part = name->empty() ? nullptr : load_(*name)) {
      roots.push_back(part->xml.document_element());
    }
  }
  for (pugi::xml_node root : roots) {
    ForEachElement(root, [&](pugi::xml_node n) {
      if (LocalNameIs(n.name(), "commentReference")) shown.insert(AttributeNamed(n, "id").value());
      if (LocalNameIs(n.name(), "commentRangeStart") || LocalNameIs(n.name(), "commentRangeEnd")) {
        ranges.push_back(n);
      }
    });
  }
  std::set<std::string> dropped, paragraphs, durables;
  for (const CopiedComment& copy : copied_comments_) {
    if (shown.count(copy.id)) continue;
    dropped.insert(copy.id);
    copy.comment.parent().remove_child(copy.comment);
    for (const std::string& paragraph : copy.paragraph_ids) {
      paragraphs.insert(paragraph);
      auto durable = durable_of_paragraph_.find(paragraph);
      if (durable != durable_of_paragraph_.end()) durables.insert(durable->second);
    }
  }
  copied_comments_.clear();
  durable_of_paragraph_.clear();
  if (dropped.empty()) return;
  for (pugi::xml_node range : ranges) {
    if (dropped.count(AttributeNamed(range, "id").value())) range.parent().remove_child(range);
  }
  auto drop_entries = [&](const std::string& part_name, const char* key,
                          const std::set<std::string>& values) {
    XmlPart* part = part_name.empty() ? nullptr : load_(part_name);
    if (!part) return;
    std::vector<pugi::xml_node> entries;
    for (pugi::xml_node child : part->xml.document_element().children()) {
      if (values.count(AttributeNamed(child, key).value())) entries.push_back(child);
    }
    for (pugi::xml_node entry : entries) entry.parent().remove_child(entry);
  };
  drop_entries(notes_.comments_extended, "paraId", paragraphs);
  drop_entries(notes_.comments_ids, "paraId", paragraphs);
  drop_entries(notes_.comments_extensible, "durableId", durables);
}

void UniqueMarks::CopyComments(pugi::xml_node copy, const WordNames& names) {
  struct Marks {
    std::vector<pugi::xml_node> ranges;  // starts and ends
    bool start = false, end = false, reference = false;
    std::vector<pugi::xml_node> all;
  };
  std::map<std::string, Marks> comments;
  const std::string id_name = Qualified(names, "id");
  ForEachElement(copy, [&](pugi::xml_node n) {
    const char* local = LocalName(n.name());
    const bool start = std::strcmp(local, "commentRangeStart") == 0;
    const bool end = std::strcmp(local, "commentRangeEnd") == 0;
    const bool reference = std::strcmp(local, "commentReference") == 0;
    if (!start && !end && !reference) return;
    Marks& marks = comments[n.attribute(id_name.c_str()).value()];
    marks.start = marks.start || start;
    marks.end = marks.end || end;
    marks.reference = marks.reference || reference;
    if (!reference) marks.ranges.push_back(n);
    marks.all.push_back(n);
  });
  if (comments.empty()) return;
  std::map<std::string, std::string> paragraph_ids;
  for (auto& [id, marks] : comments) {
    // A copy that shows no comment (its reference stays outside the copy)
    // keeps no marks of it; half a range goes too.
    std::optional<long long> fresh;
    if (marks.reference) fresh = CopyComment(id, paragraph_ids);
    if (marks.reference && !fresh) continue;  // no such comment: left as it was
    const bool whole = marks.reference && marks.start && marks.end;
    for (pugi::xml_node mark : marks.all) {
      if (!LocalNameIs(mark.name(), "commentReference") && !whole) {
        mark.parent().remove_child(mark);
      } else if (fresh) {
        mark.attribute(id_name.c_str()).set_value(*fresh);
      }
    }
  }
  CopyCommentExtras(paragraph_ids);
}

std::optional<long long> UniqueMarks::CopyComment(
    const std::string& id, std::map<std::string, std::string>& paragraph_ids) {
  XmlPart* part = notes_.comments.empty() ? nullptr : load_(notes_.comments);
  if (!part) return std::nullopt;
  pugi::xml_node root = part->xml.document_element();
  const std::string id_name = Qualified(part->names, "id");
  pugi::xml_node comment = ChildWithId(root, "comment", id_name, id);
  if (!comment) return std::nullopt;
  pugi::xml_node copied = root.append_copy(comment);
  const long long fresh = NextId();
  copied.attribute(id_name.c_str()).set_value(fresh);
  RemoveBookmarks(copied);
  std::map<std::string, std::string> own_ids;
  RenewIds(copied, ReserveParagraphIds(static_cast<std::uint64_t>(CountParagraphIds(copied))),
           &own_ids);
  CopiedComment record{copied, std::to_string(fresh), {}};
  for (const auto& [old_id, new_id] : own_ids) {
    paragraph_ids[old_id] = new_id;
    record.paragraph_ids.insert(new_id);
  }
  copied_comments_.push_back(std::move(record));
  part->modified = true;
  return fresh;
}

void UniqueMarks::CopyCommentExtras(const std::map<std::string, std::string>& paragraph_ids) {
  if (paragraph_ids.empty()) return;
  // Copies the entries of \a part_name whose attribute \a key is one of
  // \a map's keys, with that attribute mapped; \a also maps one more.
  auto copy_entries = [&](const std::string& part_name, const char* key,
                          const std::map<std::string, std::string>& map,
                          const std::function<void(pugi::xml_node)>& also) {
    XmlPart* part = part_name.empty() ? nullptr : load_(part_name);
    if (!part) return;
    pugi::xml_node root = part->xml.document_element();
    std::vector<pugi::xml_node> entries;
    for (pugi::xml_node child : root.children()) {
      if (map.count(AttributeNamed(child, key).value())) entries.push_back(child);
    }
    for (pugi::xml_node entry : entries) {
      pugi::xml_node copied = root.append_copy(entry);
      pugi::xml_attribute a = AttributeNamed(copied, key);
      a.set_value(map.at(a.value()).c_str());
      also(copied);
      part->modified = true;
    }
  };
  // Done flags and replies: a reply whose comment was copied too answers the
  // copy.
  copy_entries(notes_.comments_extended, "paraId", paragraph_ids, [&](pugi::xml_node entry) {
    pugi::xml_attribute parent = AttributeNamed(entry, "paraIdParent");
    if (parent && paragraph_ids.count(parent.value())) {
      parent.set_value(paragraph_ids.at(parent.value()).c_str());
    }
  });
  // Durable ids, and what hangs on them.
  std::map<std::string, std::string> durable;
  copy_entries(notes_.comments_ids, "paraId", paragraph_ids, [&](pugi::xml_node entry) {
    pugi::xml_attribute id = AttributeNamed(entry, "durableId");
    if (!id) return;
    std::optional<std::uint32_t> fresh = durable_ids_->Reserve(1);
    if (!fresh) throw Error("Cannot copy a comment: the document has no room left for its id.");
    const std::string fresh_text = ParagraphIdText(*fresh);
    durable[id.value()] = fresh_text;
    id.set_value(fresh_text.c_str());
    durable_of_paragraph_[AttributeNamed(entry, "paraId").value()] = fresh_text;
  });
  copy_entries(notes_.comments_extensible, "durableId", durable, [](pugi::xml_node) {});
}

}  // namespace vantrelle
