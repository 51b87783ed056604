// A record set: the rows of one query, read one record at a time.
//
// Rows are fetched from the database as the reader moves on, and kept, so
// that MoveFirst can return to the first record after a full pass; a query of
// which only the first record is read fetches one row. The kept rows are
// stored packed in large blocks, and the current record is decoded into
// Values that are reused from record to record. The one object serves query
// after query: Open, read, Close, Open again.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "data/value.h"

namespace vantrelle {

class Connection;
class Cursor;

class Recordset {
 public:
  Recordset();
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  /// The connection the next Open runs its query on. Not owned; it must
  /// outlive the record set's use of it.
  void SetActiveConnection(Connection* connection);
  Connection* ActiveConnection() const { return connection_; }

  /// Runs \a sql on the active connection and stands on its first record
  /// (Eof when there is none). A statement that returns no rows gives an open
  /// record set of no fields and no records. With \a keep_rows false the rows
  /// are not kept: reading is forward-only and MoveFirst fails once the
  /// reader has passed the first record. Throws Error when the record set is
  /// open already, there is no open connection, or the query fails.
  void Open(const std::string& sql, bool keep_rows = true);
  /// True when the reader has passed the last record (or there is none).
  bool Eof();
  /// Moves to the next record. Throws Error at the end or when closed.
  void MoveNext();
  /// Returns to the first record; on an empty result it stays at the end.
  void MoveFirst();
  /// Number of fields (columns). Throws Error when closed.
  int FieldCount();
  /// Value of field \a index (0-based) of the current record, valid until the
  /// reader moves. Throws Error when closed, at the end, or for an index out
  /// of range ("The requested member of the collection does not exist.").
  const Value& FieldValue(int index);
  /// 0 when closed, 1 when open.
  int State() const { return open_ ? 1 : 0; }
  /// Closes the query and lets the kept rows go; nothing happens when closed.
  void Close();

 private:
  class RowStore;

  void RequireOpen() const;
  void RequireRecord() const;
  void FetchNext();  // reads the next row from the cursor into current_

  Connection* connection_ = nullptr;
  std::unique_ptr<Cursor> cursor_;
  std::unique_ptr<RowStore> rows_;
  std::vector<Value> current_;
  bool open_ = false;
  bool keep_rows_ = true;
  bool eof_ = true;
  size_t position_ = 0;  // index of the current record
  size_t fetched_ = 0;   // records read from the database so far
};

}  // namespace vantrelle
