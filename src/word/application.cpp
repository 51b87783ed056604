#include "word/application.h"

#include <algorithm>

#include "base/error.h"

namespace vantrelle {

Table* Selection::CheckedTable(const char* what) const {
  if (!document_ || !table_ || !cell_) {
    throw Error(std::string("Cannot ") + what + ": the selection is not in a table.");
  }
  return table_;
}

pugi::xml_node Selection::RowForInsert(int count) const {
  if (count < 1) {
    throw Error("Cannot insert rows: the number of rows must be at least 1 (it is " +
                std::to_string(count) + ").");
  }
  const WordNames& names = document_->Names();
  pugi::xml_node tr = cell_.parent();
  while (tr && !names.Is(tr, names.tr)) tr = tr.parent();
  if (!tr) throw Error("Cannot insert rows: the selection is not in a table row.");
  return tr;
}

void Selection::InsertRows(int count) {
  Table* table = CheckedTable("insert rows");
  table->InsertRowsAbove(RowForInsert(count), count);
}

void Selection::InsertRowCopies(int count) {
  Table* table = CheckedTable("insert rows");
  table->InsertRowCopiesAbove(RowForInsert(count), count);
}

void Selection::InsertColumns() { CheckedTable("insert columns")->InsertColumnLeftOf(cell_); }

void Selection::InsertColumns(int count) {
  Table* table = CheckedTable("insert columns");
  if (count < 1) {
    throw Error("Cannot insert columns: the number of columns must be at least 1 (it is " +
                std::to_string(count) + ").");
  }
  table->InsertColumnsLeftOf(cell_, count);
}

Application::Application(PackageLimits limits) : limits_(limits) {}

Application::~Application() = default;

Document& Application::Open(const std::filesystem::path& path) {
  std::unique_ptr<Document> document(new Document(this, path, limits_));
  documents_.push_back(std::move(document));
  active_ = documents_.back().get();
  return *documents_.back();
}

void Application::Quit() {
  selection_ = Selection();
  active_ = nullptr;
  documents_.clear();
}

void Application::Forget(Document* document) {
  if (selection_.document_ == document) selection_ = Selection();
  if (active_ == document) active_ = nullptr;
  auto it = std::find_if(documents_.begin(), documents_.end(),
                         [&](const auto& owned) { return owned.get() == document; });
  if (it != documents_.end()) documents_.erase(it);
}

}  // namespace vantrelle
