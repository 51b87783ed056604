#include "word/document.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/error.h"
#include "word/application.h"
#include "word/grown_rows.h"
#include "word/unique_marks.h"

namespace vantrelle {

namespace {

constexpr int kMaxDepth = 2000;

// About what parsing \a xml takes in memory: the parser's copy of the text,
// a node for every markup item and every piece of text between them, and
// an attribute for every "=".
std::uint64_t ParsedSize(std::string_view xml) {
  constexpr std::uint64_t kNodeBytes = sizeof(void*) * 8;
  constexpr std::uint64_t kAttributeBytes = sizeof(void*) * 5;
  std::uint64_t nodes = 1;
  std::uint64_t attributes = 0;
  for (std::size_t i = 0; i < xml.size(); ++i) {
    if (xml[i] == '<') {
      nodes += i > 0 && xml[i - 1] != '>' ? 2 : 1;
    } else if (xml[i] == '=') {
      ++attributes;
    }
  }
  return xml.size() + nodes * kNodeBytes + attributes * kAttributeBytes;
}

constexpr const char* kRelationshipsNamespace =
    "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr const char* kSettingsType =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/settings";
constexpr const char* kStrictSettingsType =
    "http://purl.oclc.org/ooxml/officeDocument/relationships/settings";
constexpr const char* kSettingsContentType =
    "application/vnd.openxmlformats-officedocument.wordprocessingml.settings+xml";
constexpr const char* kDocumentContentType =
    "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml";
constexpr const char* kMacroDocumentContentType =
    "application/vnd.ms-word.document.macroEnabled.main+xml";
constexpr const char* kTemplateContentType =
    "application/vnd.openxmlformats-officedocument.wordprocessingml.template.main+xml";
constexpr const char* kMacroTemplateContentType =
    "application/vnd.ms-word.template.macroEnabledTemplate.main+xml";

// Settings elements that come after the variables, in the order the schema
// gives; new variables are inserted before the first of them.
constexpr const char* kAfterDocVars[] = {
    "rsids",         "mathPr",       "attachedSchema", "themeFontLang",
    "clrSchemeMapping", "doNotIncludeSubdocsInStats", "doNotAutoCompressPictures",
    "forceUpgrade",  "captions",     "readModeInkLockDown", "smartTagType",
    "schemaLibrary", "shapeDefaults", "doNotEmbedSmartTags", "decimalSymbol",
    "listSeparator"};

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string Quoted(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

// Collects the serialized text in pieces of a few megabytes, so a large part
// is never copied into an ever larger buffer.
struct PieceWriter : pugi::xml_writer {
  static constexpr std::size_t kPieceBytes = 4u << 20;
  std::vector<std::string> pieces;
  void write(const void* data, size_t size) override {
    if (pieces.empty() || pieces.back().size() + size > kPieceBytes) {
      pieces.emplace_back();
      pieces.back().reserve(std::max(kPieceBytes, size));
    }
    pieces.back().append(static_cast<const char*>(data), size);
  }
};

std::vector<std::string> Serialize(pugi::xml_document& xml) {
  // The text is written as UTF-8 whatever the part was read in.
  for (pugi::xml_node node = xml.first_child(); node; node = node.next_sibling()) {
    if (node.type() != pugi::node_declaration) continue;
    if (pugi::xml_attribute encoding = node.attribute("encoding")) encoding = "UTF-8";
  }
  PieceWriter writer;
  xml.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  if (writer.pieces.size() == 1) writer.pieces.back().shrink_to_fit();
  return std::move(writer.pieces);
}

// Values of variables are attributes: the XML keeps TAB, CR and LF there,
// but no other control character.
std::string SafeAttributeText(std::string_view text) {
  std::string out = MakeValidUtf8(text);
  out.erase(std::remove_if(out.begin(), out.end(),
                           [](char c) {
                             auto u = static_cast<unsigned char>(c);
                             return u < 0x20 && c != '\t' && c != '\r' && c != '\n';
                           }),
            out.end());
  return out;
}

}  // namespace

Document::Document(Application* application, const std::filesystem::path& path,
                   const PackageLimits& limits)
    : application_(application),
      package_(std::make_unique<Package>(path, limits)),
      limits_(limits) {
  std::error_code size_error;
  const std::uintmax_t package_bytes = std::filesystem::file_size(path, size_error);
  limits_.max_xml_memory = XmlMemoryBudget(limits, size_error ? 0 : package_bytes);
  FindParts();
  FixTemplateContentType(path);
  IndexTables();
  // Fields are listed while the document is small; cell writes and row
  // insertions never add fields, so the list usually stays valid.
  fields_ = FindFields(main_->xml.document_element().child(Names().body.c_str()), Names());
  fields_stale_ = false;
}

Document::~Document() = default;

std::unique_ptr<XmlPart> Document::LoadPart(const std::string& name) {
  auto part = std::make_unique<XmlPart>();
  part->name = name;
  std::string data = package_->ReadPart(name);
  if (name == main_name_) main_bytes_ = data.size();
  // A small package may hold a part of millions of tiny elements, each of
  // which takes far more memory parsed than its text: the cost is reckoned
  // before the part is parsed, and the document refused beyond the budget.
  xml_memory_ += ParsedSize(data);
  if (xml_memory_ > limits_.max_xml_memory) {
    throw Error("Cannot open " + Quoted(Path()) + ": the part \"" + name + "\" holds too many "
                "XML elements; reading it would take about " + std::to_string(xml_memory_ >> 20) +
                " MiB of memory, more than the " + std::to_string(limits_.max_xml_memory >> 20) +
                " MiB a document may take.");
  }
  const unsigned flags = pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_declaration |
                         pugi::parse_doctype | pugi::parse_pi | pugi::parse_comments;
  pugi::xml_parse_result result =
      part->xml.load_buffer(data.data(), data.size(), flags, pugi::encoding_auto);
  if (result.status == pugi::status_out_of_memory) {
    throw Error("Cannot open " + Quoted(Path()) + ": memory ran out while reading its part \"" +
                name + "\".");
  }
  if (!result) {
    throw Error("The part \"" + name + "\" of " + Quoted(Path()) + " is not well-formed XML (" +
                result.description() + " at byte " + std::to_string(result.offset) + ").");
  }
  for (pugi::xml_node node = part->xml.first_child(); node; node = node.next_sibling()) {
    if (node.type() == pugi::node_doctype) {
      throw Error("The part \"" + name + "\" of " + Quoted(Path()) +
                  " holds a document type declaration (DOCTYPE), which Office Open XML does "
                  "not allow; the document is refused so that no entity it declares is read.");
    }
  }
  // The engine walks elements recursively; real documents nest a few dozen
  // levels deep, so a part nested absurdly deep is refused, not followed.
  int depth = 0;
  for (pugi::xml_node node = part->xml.first_child(); node;) {
    if (node.first_child()) {
      node = node.first_child();
      if (++depth > kMaxDepth) {
        throw Error("The part \"" + name + "\" of " + Quoted(Path()) +
                    " nests its elements more than " + std::to_string(kMaxDepth) +
                    " levels deep.");
      }
      continue;
    }
    while (node && !node.next_sibling()) {
      node = node.parent();
      --depth;
    }
    if (node) node = node.next_sibling();
  }
  part->names = WordNames(WordNames::PrefixOf(part->xml.document_element()));
  return part;
}

void Document::FindParts() {
  if (!package_->HasPart("[Content_Types].xml")) {
    throw Error("Cannot open " + Quoted(Path()) +
                ": it is not an Office Open XML package (it has no [Content_Types].xml).");
  }
  content_types_ = LoadPart("[Content_Types].xml");

  if (package_->HasPart("_rels/.rels")) {
    auto rels = LoadPart("_rels/.rels");
    for (pugi::xml_node rel : rels->xml.document_element().children()) {
      if (std::strcmp(LocalName(rel.name()), "Relationship") != 0) continue;
      if (std::string_view(rel.attribute("TargetMode").value()) == "External") continue;
      if (EndsWith(rel.attribute("Type").value(), "/officeDocument")) {
        main_name_ = ResolvePartName("", rel.attribute("Target").value());
        break;
      }
    }
  }
  if (main_name_.empty() || !package_->HasPart(main_name_)) {
    if (!package_->HasPart("word/document.xml")) {
      throw Error("Cannot open " + Quoted(Path()) +
                  ": the package holds no Word document (no main part word/document.xml).");
    }
    main_name_ = "word/document.xml";
  }
  main_ = LoadPart(main_name_);
  pugi::xml_node root = main_->xml.document_element();
  const WordNames& names = main_->names;
  if (names.Is(root, names.prefix.empty() ? "document" : names.prefix + ":document") == false ||
      !root.child(names.body.c_str())) {
    throw Error("Cannot open " + Quoted(Path()) + ": the part \"" + main_name_ +
                "\" is not a Word document body (its root element is <" + root.name() + ">).");
  }
  for (pugi::xml_attribute a : root.attributes()) {
    if (std::strcmp(a.value(), kWordStrictNamespace) == 0) strict_ = true;
  }

  std::string rels_name = RelationshipsPartName(main_name_);
  if (package_->HasPart(rels_name)) {
    main_rels_ = LoadPart(rels_name);
    for (pugi::xml_node rel : main_rels_->xml.document_element().children()) {
      if (std::strcmp(LocalName(rel.name()), "Relationship") != 0) continue;
      if (std::string_view(rel.attribute("TargetMode").value()) == "External") continue;
      std::string_view type = rel.attribute("Type").value();
      std::string target = ResolvePartName(main_name_, rel.attribute("Target").value());
      if (!package_->HasPart(target)) continue;
      if (EndsWith(type, "/settings")) settings_name_ = target;
      else if (EndsWith(type, "/header") || EndsWith(type, "/footer") ||
               EndsWith(type, "/footnotes") || EndsWith(type, "/endnotes") ||
               EndsWith(type, "/comments"))
        other_story_names_.push_back(target);
      if (EndsWith(type, "/footnotes"))
        note_parts_.footnotes = target;
      else if (EndsWith(type, "/endnotes"))
        note_parts_.endnotes = target;
      else if (EndsWith(type, "/comments"))
        note_parts_.comments = target;
      else if (EndsWith(type, "/commentsExtended"))
        note_parts_.comments_extended = target;
      else if (EndsWith(type, "/commentsIds"))
        note_parts_.comments_ids = target;
      else if (EndsWith(type, "/commentsExtensible"))
        note_parts_.comments_extensible = target;
    }
  }
  if (!settings_name_.empty()) settings_ = LoadPart(settings_name_);
}

void Document::FixTemplateContentType(const std::filesystem::path& path) {
  std::string extension = Lower(path.extension().string());
  std::string part_name = Lower(main_name_);
  part_name.insert(part_name.begin(), '/');
  for (pugi::xml_node entry : content_types_->xml.document_element().children()) {
    if (std::strcmp(LocalName(entry.name()), "Override") != 0) continue;
    if (Lower(entry.attribute("PartName").value()) != part_name) continue;
    pugi::xml_attribute type = entry.attribute("ContentType");
    std::string_view value = type.value();
    if (value.find("wordprocessingml") == std::string_view::npos &&
        value.find("ms-word") == std::string_view::npos) {
      throw Error("Cannot open " + Quoted(Path()) + ": it is not a Word document (its main part is " +
                  std::string(value) + ").");
    }
    // A template copied to a document name must say it is a document, or
    // the word processor refuses to open it.
    // The main part says what the name says: a document or a template,
    // with macros or without; the word processor refuses any other pair.
    const char* wanted = extension == ".docx"   ? kDocumentContentType
                         : extension == ".docm" ? kMacroDocumentContentType
                         : extension == ".dotx" ? kTemplateContentType
                         : extension == ".dotm" ? kMacroTemplateContentType
                                                : nullptr;
    if (wanted != nullptr && value != wanted) {
      type = wanted;
      content_types_->modified = true;
    }
  }
  if (extension == ".docx" || extension == ".dotx") LeaveOutMacros();
}

// A .docx (or .dotx) may not hold macros: the word processor refuses one
// with a macro project, and other readers reject it. A report so named from a
// macro template is written without the project and its data.
void Document::LeaveOutMacros() {
  if (!main_rels_) return;
  // Key and toolbar customizations may stand in a .docx; the project not.
  static const char* const kMacroTypes[] = {"/vbaProject"};
  std::vector<pugi::xml_node> relationships;
  std::set<std::string> parts;  // lower-case part names left out
  for (pugi::xml_node rel : main_rels_->xml.document_element().children()) {
    const std::string_view type = rel.attribute("Type").value();
    bool macro = false;
    for (const char* suffix : kMacroTypes) macro = macro || EndsWith(type, suffix);
    if (!macro) continue;
    relationships.push_back(rel);
    const std::string part = ResolvePartName(main_name_, rel.attribute("Target").value());
    parts.insert(Lower(part));
    // What the project refers to (its data) goes with it.
    const std::string own_rels = RelationshipsPartName(part);
    if (package_->HasPart(own_rels)) {
      parts.insert(Lower(own_rels));
      pugi::xml_document xml;
      const std::string text = package_->ReadPart(own_rels);
      if (xml.load_buffer(text.data(), text.size())) {
        for (pugi::xml_node inner : xml.document_element().children())
          parts.insert(Lower(ResolvePartName(part, inner.attribute("Target").value())));
      }
    }
  }
  if (relationships.empty()) return;
  for (pugi::xml_node rel : relationships) rel.parent().remove_child(rel);
  main_rels_->modified = true;
  for (const std::string& part : parts)
    if (package_->HasPart(part)) package_->RemovePart(part);
  // The project's type goes; a default for ".bin" only when no other part
  // of that extension is left to need it.
  bool other_bin = false;
  for (const std::string& name : package_->PartNames())
    other_bin = other_bin || EndsWith(Lower(name), ".bin");
  std::vector<pugi::xml_node> types;
  for (pugi::xml_node entry : content_types_->xml.document_element().children()) {
    const std::string name = Lower(entry.attribute("PartName").value());
    const bool project_type = std::string_view(entry.attribute("ContentType").value()) ==
                              "application/vnd.ms-office.vbaProject";
    const bool is_default = LocalNameIs(entry.name(), "Default");
    if ((!name.empty() && parts.count(name.substr(1))) ||
        (project_type && (!is_default || !other_bin)))
      types.push_back(entry);
  }
  for (pugi::xml_node entry : types) entry.parent().remove_child(entry);
  content_types_->modified = true;
  macros_left_out_ = true;
}

void Document::IndexTables() {
  const WordNames& names = Names();
  auto visit = [&](auto&& self, pugi::xml_node parent) -> void {
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
      if (child.type() != pugi::node_element) continue;
      if (names.Is(child, names.tbl)) {
        tables_.push_back(std::unique_ptr<Table>(new Table(this, child)));
      } else if (names.Is(child, names.sdt)) {
        self(self, child.child(names.sdtContent.c_str()));
      } else if (names.Is(child, names.customXml)) {
        self(self, child);
      }
    }
  };
  visit(visit, main_->xml.document_element().child(names.body.c_str()));
}

void Document::Activate() { application_->active_ = this; }

Table& Document::TableItem(int n) {
  if (n < 1 || n > static_cast<int>(tables_.size())) {
    const size_t count = tables_.size();
    throw Error("The requested member of the collection does not exist. (Table " +
                    std::to_string(n) + ": the report has " + std::to_string(count) +
                    (count == 1 ? " table.)" : " tables.)"),
                kErrNoSuchMember);
  }
  return *tables_[static_cast<std::size_t>(n - 1)];
}

int Document::TableCount() const { return static_cast<int>(tables_.size()); }

XmlPart& Document::Settings() {
  if (settings_) return *settings_;
  // The document has no settings part: create one and register it.
  std::string folder = main_name_.substr(0, main_name_.rfind('/') + 1);
  settings_name_ = folder + "settings.xml";
  for (int i = 2; package_->HasPart(settings_name_); ++i) {
    settings_name_ = folder + "settings" + std::to_string(i) + ".xml";
  }
  settings_ = std::make_unique<XmlPart>();
  settings_->name = settings_name_;
  pugi::xml_node declaration = settings_->xml.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "UTF-8";
  declaration.append_attribute("standalone") = "yes";
  settings_->names = WordNames("w");
  pugi::xml_node root = settings_->xml.append_child(settings_->names.settings.c_str());
  root.append_attribute("xmlns:w") = strict_ ? kWordStrictNamespace : kWordNamespace;
  settings_->modified = true;

  if (!main_rels_) {
    main_rels_ = std::make_unique<XmlPart>();
    main_rels_->name = RelationshipsPartName(main_name_);
    pugi::xml_node d = main_rels_->xml.append_child(pugi::node_declaration);
    d.append_attribute("version") = "1.0";
    d.append_attribute("encoding") = "UTF-8";
    d.append_attribute("standalone") = "yes";
    main_rels_->xml.append_child("Relationships").append_attribute("xmlns") =
        kRelationshipsNamespace;
  }
  pugi::xml_node relationships = main_rels_->xml.document_element();
  std::string prefix = std::string(relationships.name()).substr(
      0, std::strlen(relationships.name()) - std::strlen(LocalName(relationships.name())));
  std::string id = "rIdSettings";
  for (int i = 1;; ++i) {
    std::string candidate = id + std::to_string(i);
    bool taken = false;
    for (pugi::xml_node rel : relationships.children()) {
      if (candidate == rel.attribute("Id").value()) taken = true;
    }
    if (!taken) {
      id = candidate;
      break;
    }
  }
  pugi::xml_node rel = relationships.append_child((prefix + "Relationship").c_str());
  rel.append_attribute("Id") = id.c_str();
  rel.append_attribute("Type") = strict_ ? kStrictSettingsType : kSettingsType;
  rel.append_attribute("Target") = settings_name_.substr(folder.size()).c_str();
  main_rels_->modified = true;

  pugi::xml_node types = content_types_->xml.document_element();
  std::string types_prefix = std::string(types.name()).substr(
      0, std::strlen(types.name()) - std::strlen(LocalName(types.name())));
  pugi::xml_node override_entry = types.append_child((types_prefix + "Override").c_str());
  override_entry.append_attribute("PartName") = ("/" + settings_name_).c_str();
  override_entry.append_attribute("ContentType") = kSettingsContentType;
  content_types_->modified = true;
  return *settings_;
}

void Document::SetVariable(std::string_view name, std::string_view value) {
  std::string safe_name = SafeAttributeText(name);
  if (safe_name.empty()) throw Error("A document variable needs a name.");
  std::string safe_value = SafeAttributeText(value);
  XmlPart& settings = Settings();
  const WordNames& names = settings.names;
  pugi::xml_node root = settings.xml.document_element();
  pugi::xml_node variables = root.child(names.docVars.c_str());
  if (!variables) {
    pugi::xml_node before, last_word;
    for (pugi::xml_node child : root.children()) {
      if (child.type() != pugi::node_element) continue;
      std::string_view qualified = child.name();
      bool in_word = names.prefix.empty() ? qualified.find(':') == std::string_view::npos
                                          : qualified.substr(0, names.prefix.size() + 1) ==
                                                names.prefix + ":";
      if (!in_word) continue;
      last_word = child;
      for (const char* after : kAfterDocVars) {
        if (std::strcmp(LocalName(child.name()), after) == 0 && !before) before = child;
      }
    }
    if (before) variables = root.insert_child_before(names.docVars.c_str(), before);
    else if (last_word) variables = root.insert_child_after(names.docVars.c_str(), last_word);
    else variables = root.append_child(names.docVars.c_str());
  }
  std::string wanted = Lower(safe_name);
  pugi::xml_node variable;
  for (pugi::xml_node child = variables.child(names.docVar.c_str()); child;
       child = child.next_sibling(names.docVar.c_str())) {
    if (Lower(child.attribute(names.a_name.c_str()).value()) == wanted) {
      variable = child;
      break;
    }
  }
  if (!variable) {
    variable = variables.append_child(names.docVar.c_str());
    variable.append_attribute(names.a_name.c_str()) = safe_name.c_str();
  }
  pugi::xml_attribute attribute = variable.attribute(names.a_val.c_str());
  if (!attribute) attribute = variable.append_attribute(names.a_val.c_str());
  attribute = safe_value.c_str();
  settings.modified = true;
}

std::optional<std::string> Document::GetVariable(std::string_view name) const {
  if (!settings_) return std::nullopt;
  const WordNames& names = settings_->names;
  std::string wanted = Lower(name);
  pugi::xml_node variables = settings_->xml.document_element().child(names.docVars.c_str());
  for (pugi::xml_node child = variables.child(names.docVar.c_str()); child;
       child = child.next_sibling(names.docVar.c_str())) {
    if (Lower(child.attribute(names.a_name.c_str()).value()) == wanted) {
      return std::string(child.attribute(names.a_val.c_str()).value());
    }
  }
  return std::nullopt;
}

std::vector<std::string> Document::VariableNames() const {
  std::vector<std::string> result;
  if (!settings_) return result;
  const WordNames& names = settings_->names;
  pugi::xml_node variables = settings_->xml.document_element().child(names.docVars.c_str());
  for (pugi::xml_node child = variables.child(names.docVar.c_str()); child;
       child = child.next_sibling(names.docVar.c_str()))
    result.emplace_back(child.attribute(names.a_name.c_str()).value());
  return result;
}

std::vector<StoryView> Document::Stories() {
  std::vector<StoryView> stories;
  stories.push_back({"body", main_name_, main_->xml.document_element().child(Names().body.c_str()),
                     &main_->names});
  for (XmlPart* part : OtherStories()) {
    // The part's root says what it holds, whatever its name.
    std::string_view root = LocalName(part->xml.document_element().name());
    std::string kind = root == "hdr" ? "header" : root == "ftr" ? "footer" : std::string(root);
    stories.push_back({kind, part->name, part->xml.document_element(), &part->names});
  }
  return stories;
}

int Document::TableNumberOf(pugi::xml_node tbl) const {
  for (std::size_t i = 0; i < tables_.size(); ++i) {
    if (tables_[i]->tbl_ == tbl) return static_cast<int>(i) + 1;
  }
  return 0;
}

FieldContext Document::MakeFieldContext() const {
  FieldContext context;
  context.variable = [this](std::string_view name) { return GetVariable(name); };
  std::time_t now = std::time(nullptr);
  localtime_r(&now, &context.now);
  context.locale = &LocaleInfo::Current();
  return context;
}

int Document::FieldCount() {
  refresh_other_stories_ = true;
  if (fields_stale_) {
    fields_ = FindFields(main_->xml.document_element().child(Names().body.c_str()), Names());
    fields_stale_ = false;
  }
  return static_cast<int>(fields_.size());
}

void Document::UpdateField(int i) {
  if (fields_stale_) FieldCount();
  if (i < 1 || i > static_cast<int>(fields_.size())) {
    throw Error("The requested member of the collection does not exist.", kErrNoSuchMember);
  }
  bool removed_fields = false;
  if (vantrelle::UpdateField(fields_[static_cast<std::size_t>(i - 1)], Names(),
                             MakeFieldContext(), removed_fields)) {
    main_->modified = true;
  }
  if (removed_fields) fields_stale_ = true;
}

XmlPart* Document::LoadedPart(const std::string& name) {
  auto it = parts_.find(name);
  if (it != parts_.end()) return it->second.get();
  if (!package_->HasPart(name)) return nullptr;
  return parts_.emplace(name, LoadPart(name)).first->second.get();
}

std::vector<XmlPart*> Document::OtherStories() {
  std::vector<XmlPart*> stories;
  for (const std::string& name : other_story_names_) {
    if (XmlPart* part = LoadedPart(name)) stories.push_back(part);
  }
  return stories;
}

UniqueMarks& Document::Marks() {
  if (!marks_) {
    marks_ =
        std::make_unique<UniqueMarks>(*main_, other_story_names_, note_parts_,
                                      [this](const std::string& name) { return LoadedPart(name); });
  }
  return *marks_;
}

void Document::UnlinkFields() {
  if (vantrelle::UnlinkFields(main_->xml.document_element().child(Names().body.c_str()), Names())) {
    MarkMainModified(true);
  }
  for (XmlPart* part : OtherStories()) {
    if (vantrelle::UnlinkFields(part->xml.document_element(), part->names)) part->modified = true;
  }
}

void Document::RefreshOtherStories() {
  FieldContext context = MakeFieldContext();
  for (XmlPart* part : OtherStories()) {
    std::vector<FieldSpan> fields = FindFields(part->xml.document_element(), part->names);
    for (const FieldSpan& field : fields) {
      bool removed_fields = false;
      if (vantrelle::UpdateField(field, part->names, context, removed_fields)) {
        part->modified = true;
      }
    }
  }
}

void Document::CheckGrowth(std::uint64_t bytes, int count, const char* what) {
  const std::uint64_t added = bytes * static_cast<std::uint64_t>(std::max(count, 0));
  if (main_bytes_ + added > limits_.max_part_bytes) {
    throw Error("Cannot insert " + std::to_string(count) + " " + what + ": copies of " +
                std::to_string(bytes) + " bytes each would take the document beyond its size "
                "limit (" + std::to_string(limits_.max_part_bytes >> 20) + " MiB).");
  }
  main_bytes_ += added;
}

void Document::ScanBookmarks() {
  if (bookmarks_scanned_) return;
  bookmarks_scanned_ = true;
  const WordNames& names = Names();
  for (pugi::xml_node node = main_->xml.document_element(); node;) {
    if (names.Is(node, names.bookmarkStart))
      bookmark_names_.insert(Lower(node.attribute(names.a_name.c_str()).value()));
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (node && !node.next_sibling()) node = node.parent();
    if (node) node = node.next_sibling();
  }
}

long long Document::NewBookmarkId() {
  // Bookmarks draw from the package's one id space.
  return Marks().NextId();
}

std::string Document::NewBookmarkName(std::string_view base) {
  ScanBookmarks();
  // Names are at most 40 characters; the number keeps them apart.
  constexpr std::size_t kMaxName = 40;
  std::string key = Lower(base);
  for (int& n = bookmark_suffix_[key];;) {
    std::string suffix = "_" + std::to_string(++n);
    std::string stem(base.substr(0, kMaxName > suffix.size() ? kMaxName - suffix.size() : 0));
    // Never cut a UTF-8 sequence in two.
    while (!stem.empty() && (static_cast<unsigned char>(stem.back()) & 0xC0) == 0x80) stem.pop_back();
    if (!stem.empty() && static_cast<unsigned char>(stem.back()) >= 0xC0) stem.pop_back();
    std::string name = stem + suffix;
    if (bookmark_names_.insert(Lower(name)).second) return name;
  }
}

void Document::WriteMain(const std::function<void(const char*, std::size_t)>& sink) {
  struct Sink : XmlSink {
    using XmlSink::Write;
    explicit Sink(const std::function<void(const char*, std::size_t)>& out) : out(out) {}
    void Write(const char* data, std::size_t size) override { out(data, size); }
    const std::function<void(const char*, std::size_t)>& out;
  } out(sink);
  // Grown rows are written where they stand: before their anchor row. Only
  // the elements that lead to an anchor are written piece by piece.
  std::map<pugi::xml_node_struct*, std::vector<const GrownRows*>> anchors;
  std::set<pugi::xml_node_struct*> spine;
  for (const auto& table : tables_) {
    for (const auto& grown : table->grown_) {
      anchors[grown->Anchor().internal_object()].push_back(grown.get());
      for (pugi::xml_node n = grown->Anchor().parent(); n; n = n.parent()) {
        spine.insert(n.internal_object());
      }
    }
  }
  for (pugi::xml_node node = main_->xml.first_child(); node; node = node.next_sibling()) {
    if (node.type() != pugi::node_declaration) continue;
    if (pugi::xml_attribute encoding = node.attribute("encoding")) encoding = "UTF-8";
  }
  auto write = [&](auto&& self, pugi::xml_node node) -> void {
    if (auto it = anchors.find(node.internal_object()); it != anchors.end()) {
      for (const GrownRows* grown : it->second) grown->Write(out);
    }
    if (!spine.count(node.internal_object()) || node.type() == pugi::node_document) {
      if (node.type() != pugi::node_document) {
        WriteNode(node, out);
        return;
      }
    } else {
      pugi::xml_document scratch;
      pugi::xml_node copy = scratch.append_child(node.name());
      for (pugi::xml_attribute a : node.attributes()) copy.append_copy(a);
      struct Tag : XmlSink {
        using XmlSink::Write;
        void Write(const char* data, std::size_t size) override { text.append(data, size); }
        std::string text;
      } tag;
      WriteNode(copy, tag);
      tag.text.resize(tag.text.size() - 2);  // "<name .../>" without "/>"
      tag.text += '>';
      out.Write(tag.text);
    }
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
      self(self, child);
    }
    if (node.type() != pugi::node_document) {
      out.Write("</");
      out.Write(node.name());
      out.Write(">");
    }
  };
  write(write, main_->xml);
}

void Document::Save() {
  if (refresh_other_stories_) RefreshOtherStories();
  if (marks_) marks_->FinishCopies(Names());
  std::vector<XmlPart*> parts = {main_.get(), content_types_.get(), main_rels_.get(),
                                 settings_.get()};
  for (auto& [name, part] : parts_) parts.push_back(part.get());
  for (XmlPart* part : parts) {
    if (!part || !part->modified) continue;
    if (part == main_.get()) {
      // The main part goes straight into the compressed stream.
      package_->ReplacePart(part->name, [this](const Package::PartSink& sink) { WriteMain(sink); });
    } else {
      package_->ReplacePart(part->name, Serialize(part->xml));
    }
  }
  package_->Save();
  for (XmlPart* part : parts) {
    if (part) part->modified = false;
  }
}

void Document::Close() { application_->Forget(this); }

}  // namespace vantrelle
