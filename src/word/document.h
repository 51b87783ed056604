// A Word document opened for editing: its numbered tables, its variables and
// fields, saved atomically.
//
// The main part is parsed once when the document is opened; the settings and
// the other stories (headers, footers, footnotes, endnotes, comments) when
// they are first needed. Save writes only
// the parts that changed and copies every other part unchanged.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "word/fields.h"
#include "word/package.h"
#include "word/table.h"
#include "word/unique_marks.h"
#include "word/wordml.h"

namespace vantrelle {

class Application;

/// One XML part of the package, parsed.
struct XmlPart {
  std::string name;
  pugi::xml_document xml;
  WordNames names;
  bool modified = false;
};

/// A story of a document (its main text, a header, a footer, the notes or
/// the comments), for reading.
struct StoryView {
  std::string kind;  ///< "body", "header", "footer", "footnotes", "endnotes" or "comments"
  std::string part;  ///< the part's name in the package
  pugi::xml_node root;
  const WordNames* names = nullptr;
};

class Document {
 public:
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  /// Makes this the application's active document.
  void Activate();
  /// True when the document was opened under a .docx or .dotx name from a
  /// package with macros, which it then leaves out: such a file holds none.
  bool MacrosLeftOut() const { return macros_left_out_; }
  /// Tables.Item(\a n), 1-based, counting the top-level tables of the main
  /// text. Throws Error "The requested member of the collection does not
  /// exist." when there is none. The reference lives until Close.
  Table& TableItem(int n);
  int TableCount() const;
  /// Sets document variable \a name (case-insensitive), creating it when the
  /// document does not hold it.
  void SetVariable(std::string_view name, std::string_view value);
  std::optional<std::string> GetVariable(std::string_view name) const;
  /// The number of fields of the main text. Counting the fields also asks for
  /// the fields of the other stories (headers, footers, footnotes, endnotes,
  /// comments) to be refreshed when the document is saved, as the main
  /// text's fields are refreshed one by one.
  int FieldCount();
  /// Updates field \a i (1-based, document order) of the main text. Fields
  /// this engine does not compute keep their result. Throws Error when there
  /// is no such field.
  void UpdateField(int i);
  /// Replaces every field of every story (main text, headers, footers,
  /// footnotes, endnotes, comments, text boxes) by the result it shows, as
  /// plain text keeping its look; page-layout fields and hyperlinks stay
  /// (see vantrelle::UnlinkFields). Throws Error when a story cannot be read.
  void UnlinkFields();
  /// The main text and every other story whose fields a save refreshes, in
  /// that order, loaded for reading. Views live until Close. Throws Error
  /// when a part cannot be read.
  std::vector<StoryView> Stories();
  /// The number Tables.Item gives \a tbl, or 0 when \a tbl is not one of
  /// the numbered tables (a table nested in a cell, in a text box, in a
  /// header...).
  int TableNumberOf(pugi::xml_node tbl) const;
  /// The names of the document variables the document holds, in order.
  std::vector<std::string> VariableNames() const;
  /// Writes the document to its file atomically (temporary file in the same
  /// folder, then rename). Throws Error; the file is then unchanged.
  void Save();
  /// Closes the document without saving; the Document is destroyed.
  void Close();

  const std::filesystem::path& Path() const { return package_->Path(); }

 private:
  friend class Application;
  friend class Cell;
  friend class Table;
  friend class Selection;
  Document(Application* application, const std::filesystem::path& path,
           const PackageLimits& limits);

  std::unique_ptr<XmlPart> LoadPart(const std::string& name);
  void FindParts();
  void FixTemplateContentType(const std::filesystem::path& path);
  void LeaveOutMacros();
  bool macros_left_out_ = false;
  void IndexTables();
  XmlPart& Settings();
  FieldContext MakeFieldContext() const;
  /// The part \a name, parsed on first use and saved when modified; nullptr
  /// when the package has none.
  XmlPart* LoadedPart(const std::string& name);
  /// Headers, footers, footnotes, endnotes and comments, loaded.
  std::vector<XmlPart*> OtherStories();
  /// Fresh values for what copies must not repeat.
  UniqueMarks& Marks();
  void RefreshOtherStories();
  /// Records a change of the main text; \a fields_changed when fields went.
  void MarkMainModified(bool fields_changed) {
    main_->modified = true;
    if (fields_changed) fields_stale_ = true;
  }
  const WordNames& Names() const { return main_->names; }
  /// Throws Error when \a count copies of \a bytes each would take the main
  /// part beyond the package's size limit; otherwise counts them in.
  void CheckGrowth(std::uint64_t bytes, int count, const char* what);
  /// A bookmark id and a bookmark name (from \a base) that the main text
  /// does not use yet.
  long long NewBookmarkId();
  std::string NewBookmarkName(std::string_view base);
  void ScanBookmarks();
  /// Writes the main part, grown rows included.
  void WriteMain(const std::function<void(const char*, std::size_t)>& sink);

  Application* application_;
  std::unique_ptr<Package> package_;
  std::unique_ptr<XmlPart> main_;
  std::unique_ptr<XmlPart> content_types_;
  std::unique_ptr<XmlPart> main_rels_;
  std::unique_ptr<XmlPart> settings_;
  std::string main_name_;
  std::string settings_name_;
  // Headers, footers, footnotes, endnotes and comments.
  std::vector<std::string> other_story_names_;
  NoteParts note_parts_;
  // Parts other than the main part, the content types, the relationships and
  // the settings, once loaded.
  std::map<std::string, std::unique_ptr<XmlPart>> parts_;
  std::unique_ptr<UniqueMarks> marks_;
  bool strict_ = false;
  std::vector<std::unique_ptr<Table>> tables_;
  std::vector<FieldSpan> fields_;
  bool fields_stale_ = true;
  bool refresh_other_stories_ = false;
  PackageLimits limits_;
  std::uint64_t main_bytes_ = 0;  // the main part's size, growth included
  std::uint64_t xml_memory_ = 0;  // what the parsed parts take, as reckoned
  bool bookmarks_scanned_ = false;
  std::set<std::string> bookmark_names_;  // lower case
  std::map<std::string, int> bookmark_suffix_;
};

}  // namespace vantrelle
