// The word-processor application object the report run drives: it opens
// documents, owns them, and holds the selection that row and column
// insertions work from.
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include <pugixml.hpp>

#include "word/document.h"
#include "word/package.h"

namespace vantrelle {

/// The selection: one table cell, chosen with Cell::Select.
class Selection {
 public:
  /// Inserts \a count empty rows above the selection's row, formatted like
  /// it. Throws Error when no cell is selected or \a count is below 1.
  void InsertRows(int count);
  /// Inserts \a count copies of the selection's row above it, for a
  /// table's growth: each keeps the row's content and structure (bookmarks
  /// renamed). Throws Error like InsertRows, and when the copies would take
  /// the document beyond its size limit.
  void InsertRowCopies(int count);
  /// Inserts one empty column left of the selection's column. The selection
  /// stays on its cell.
  void InsertColumns();
  /// Inserts \a count empty columns left of the selection's column, as
  /// \a count calls of InsertColumns do. Throws Error when \a count < 1.
  void InsertColumns(int count);

 private:
  friend class Application;
  friend class Cell;
  friend class Document;
  Table* CheckedTable(const char* what) const;
  /// The row holding the selection, for inserting \a count rows above it.
  pugi::xml_node RowForInsert(int count) const;

  Document* document_ = nullptr;
  Table* table_ = nullptr;
  pugi::xml_node cell_;
};

class Application {
 public:
  /// \a limits caps what an opened package may inflate to.
  explicit Application(PackageLimits limits = {});
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  /// Opens the document at \a path (.docx, .docm, .dotx, .dotm). The
  /// Application owns it until Close or Quit. Throws Error naming the file
  /// when it cannot be opened; nothing is then kept open.
  Document& Open(const std::filesystem::path& path);
  Selection& GetSelection() { return selection_; }
  /// Closes every document still open, without saving.
  void Quit();

 private:
  friend class Document;
  friend class Cell;
  void Forget(Document* document);

  PackageLimits limits_;
  std::vector<std::unique_ptr<Document>> documents_;
  Document* active_ = nullptr;
  Selection selection_;
};

}  // namespace vantrelle
