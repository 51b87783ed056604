// Marks a document holds once, given fresh values in copied content.
//
// When a table grows, its pattern row is copied. Some of what the row holds
// must stay unique in the whole package: a footnote or endnote belongs to one
// reference, a comment to one set of marks, a drawing has its own id, a VML
// shape its own id, a paragraph its own paragraph id. A copy therefore gets a
// copy of each note and comment it refers to, under a fresh id and pointing
// back at it; fresh drawing and shape ids; and fresh paragraph ids. The ids in
// use are read from the package the first time they are needed; every id
// handed out since is remembered, so none is handed out twice. Bookmarks are
// the table's business (they are renamed, not copied).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <set>
#include <string>
#include <vector>

#include "word/wordml.h"

namespace vantrelle {

struct XmlPart;

/// The parts that hold notes and comments, by their package names ("" when
/// the document has none).
struct NoteParts {
  std::string footnotes, endnotes, comments;
  std::string comments_extended;    ///< done flags and replies, by paragraph id
  std::string comments_ids;         ///< durable ids, by paragraph id
  std::string comments_extensible;  ///< dates, by durable id
};

class UniqueMarks {
 public:
  /// Gives the part named \a name, parsed, loading it on first use; nullptr
  /// when the package has no such part. Throws Error when it cannot be read.
  using PartLoader = std::function<XmlPart*(const std::string& name)>;

  /// \a main: the main part; \a stories: the names of the other parts that
  /// hold text (headers, footers, notes, comments); \a notes: where notes and
  /// comments live.
  UniqueMarks(XmlPart& main, std::vector<std::string> stories, NoteParts notes, PartLoader load);
  ~UniqueMarks();

  /// True for the attributes that hold a paragraph-like id of eight hex
  /// digits: paraId, textId (paragraphs, rows) and anchorId, editId
  /// (drawings).
  static bool IsParagraphId(const char* attribute_name);
  /// True when \a node holds something Renew copies or renumbers besides
  /// paragraph ids and bookmarks: note references, comment marks, drawings,
  /// VML shapes.
  static bool HoldsCopiedMarks(pugi::xml_node node);
  /// The paragraph ids (IsParagraphId) in \a node and below.
  static int CountParagraphIds(pugi::xml_node node);
  /// \a id as it is written: eight upper-case hex digits.
  static std::string ParagraphIdText(std::uint32_t id);

  /// A number no mark of the package uses as its id (notes, comments,
  /// bookmarks, drawings, content controls, revisions, permission ranges):
  /// one counter above every id in use, of every kind, so that no fresh id
  /// meets another kind's, which some readers keep in one list.
  long long NextId();

  /// Reserves \a count consecutive paragraph ids no part uses; returns the
  /// first. Throws Error when the package has no such room left.
  std::uint32_t ReserveParagraphIds(std::uint64_t count);

  /// Gives the copy \a copy (in the main part, whose names are \a names)
  /// fresh marks: its paragraph ids, in document order, from \a first_id on
  /// (as ReserveParagraphIds gave them); a copy under a fresh id of each
  /// note it refers to and of each comment it shows; fresh drawing and shape
  /// ids. Comment marks whose comment the copy does not show go.
  void Renew(pugi::xml_node copy, const WordNames& names, std::uint32_t first_id);
  /// The same with paragraph ids reserved here.
  void Renew(pugi::xml_node copy, const WordNames& names);

  /// Before the document is saved, after copies were made: drops the copied
  /// notes and comments nothing shows any more (a written cell replaced the
  /// marks that showed them), with their extra entries and comment ranges;
  /// then numbers the notes of each part that got copies in the order of
  /// their references in the main text, and puts them in that order, as the
  /// word processor writes them (readers that number notes by their order
  /// need it). \a names are the main part's.
  void FinishCopies(const WordNames& names);

 private:
  struct IdRanges;
  void ScanIds();
  void ScanPart(pugi::xml_node root);
  void RenewIds(pugi::xml_node copy, std::uint32_t first_id,
                std::map<std::string, std::string>* paragraph_ids);
  std::string FreshShapeId(const std::string& old);
  void CopyNotes(pugi::xml_node copy, const WordNames& names);
  void CopyComments(pugi::xml_node copy, const WordNames& names);
  /// Copies comment \a id; returns the new id, or nothing when there is no
  /// such comment. Paragraph ids of the original map to the copy's.
  std::optional<long long> CopyComment(const std::string& id,
                                       std::map<std::string, std::string>& paragraph_ids);
  void CopyCommentExtras(const std::map<std::string, std::string>& paragraph_ids);

  XmlPart& main_;
  std::vector<std::string> stories_;
  NoteParts notes_;
  PartLoader load_;
  bool scanned_ = false;
  std::unique_ptr<IdRanges> paragraph_ids_;  // in use or handed out
  std::unique_ptr<IdRanges> durable_ids_;
  long long last_shape_number_ = 1024;
  std::set<std::string> shape_ids_;
  std::map<std::string, long long> last_note_id_;  // part name -> highest note id
  // Copies made since the last FinishCopies: notes by part, comments with
  // the paragraph ids of their entries in the parts about comments.
  std::map<std::string, std::set<pugi::xml_node_struct*>> copied_notes_;
  struct CopiedComment {
    pugi::xml_node comment;
    std::string id;
    std::set<std::string> paragraph_ids;
  };
  std::vector<CopiedComment> copied_comments_;
  std::map<std::string, std::string> durable_of_paragraph_;
  void DropUnshownComments();
  void SeparateCommentsFromNotes();
  long long last_id_ = 0;  // the highest id of any kind
};

}  // namespace vantrelle
