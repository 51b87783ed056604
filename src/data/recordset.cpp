#include "data/recordset.h"

#include <cstdint>
#include <cstring>

#include "data/connection.h"
#include "data/session.h"
#include "run/error.h"

namespace vantrelle {

namespace {

constexpr char kNoCurrentRecord[] =
    "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
    "requires a current record.";
constexpr char kClosed[] = "Operation is not allowed when the object is closed.";
constexpr size_t kBlockSize = size_t{1} << 20;

}  // namespace

// Kept rows, packed: per value a type byte, then 8 bytes for a number or
// boolean, the date-time parts, or a 4-byte length and the bytes of a text,
// decimal or binary value. Rows go into 1 MB blocks (a larger row gets a
// block of its own), so keeping a million rows never copies them around.
class Recordset::RowStore {
 public:
  void Append(const std::vector<Value>& row) {
    size_t size = 0;
    for (const Value& value : row) size += EncodedSize(value);
    char* out = Reserve(size);
    starts_.push_back(out);
    for (const Value& value : row) out = Encode(value, out);
  }

  void Load(size_t index, std::vector<Value>& row) const {
    const char* in = starts_[index];
    for (Value& value : row) in = Decode(in, value);
  }

  size_t Count() const { return starts_.size(); }

 private:
  static size_t EncodedSize(const Value& value) {
    switch (value.Type()) {
      case ValueType::kNull:
        return 1;
      case ValueType::kInteger:
      case ValueType::kBoolean:
      case ValueType::kDouble:
        return 1 + 8;
      case ValueType::kDate:
      case ValueType::kTime:
      case ValueType::kDateTime:
        return 1 + sizeof(DateTimeParts);
      default:
        if (value.Bytes().size() > UINT32_MAX) throw Error("A field value is too long to keep.");
        return 1 + 4 + value.Bytes().size();
    }
  }

  static char* Encode(const Value& value, char* out) {
    *out++ = static_cast<char>(value.Type());
    switch (value.Type()) {
      case ValueType::kNull:
        return out;
      case ValueType::kInteger:
      case ValueType::kBoolean: {
        int64_t v = value.AsInteger();
        std::memcpy(out, &v, 8);
        return out + 8;
      }
      case ValueType::kDouble: {
        double v = value.AsDouble();
        std::memcpy(out, &v, 8);
        return out + 8;
      }
      case ValueType::kDate:
      case ValueType::kTime:
      case ValueType::kDateTime:
        std::memcpy(out, &value.AsDateTime(), sizeof(DateTimeParts));
        return out + sizeof(DateTimeParts);
      default: {
        const std::string& bytes = value.Bytes();
        uint32_t length = static_cast<uint32_t>(bytes.size());
        std::memcpy(out, &length, 4);
        if (length > 0) std::memcpy(out + 4, bytes.data(), length);
        return out + 4 + length;
      }
    }
  }

  static const char* Decode(const char* in, Value& value) {
    auto type = static_cast<ValueType>(*in++);
    switch (type) {
      case ValueType::kNull:
        value.SetNull();
        return in;
      case ValueType::kInteger:
      case ValueType::kBoolean: {
        int64_t v;
        std::memcpy(&v, in, 8);
        if (type == ValueType::kBoolean) {
          value.SetBoolean(v != 0);
        } else {
          value.SetInteger(v);
        }
        return in + 8;
      }
      case ValueType::kDouble: {
        double v;
        std::memcpy(&v, in, 8);
        value.SetDouble(v);
        return in + 8;
      }
      case ValueType::kDate:
      case ValueType::kTime:
      case ValueType::kDateTime: {
        DateTimeParts parts;
        std::memcpy(&parts, in, sizeof parts);
        value.SetDateTime(type, parts);
        return in + sizeof parts;
      }
      default: {
        uint32_t length;
        std::memcpy(&length, in, 4);
        value.SetBytes(type, std::string_view(in + 4, length));
        return in + 4 + length;
      }
    }
  }

  char* Reserve(size_t size) {
    if (blocks_.empty() || used_ + size > block_size_) {
      block_size_ = size > kBlockSize ? size : kBlockSize;
      blocks_.push_back(std::make_unique<char[]>(block_size_));
      used_ = 0;
    }
    char* at = blocks_.back().get() + used_;
    used_ += size;
    return at;
  }

  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t block_size_ = 0;
  size_t used_ = 0;
  std::vector<const char*> starts_;
};

Recordset::Recordset() = default;

Recordset::~Recordset() = default;

void Recordset::SetActiveConnection(Connection* connection) { connection_ = connection; }

void Recordset::Open(const std::string& sql, bool keep_rows) {
  if (open_) throw Error("Operation is not allowed when the object is open.");
  if (connection_ == nullptr) throw Error("The record set has no active connection.");
  try {
    cursor_ = connection_->OpenSession().Query(sql);
  } catch (const std::exception& error) {
    connection_->Rethrow(error);
  }
  keep_rows_ = keep_rows;
  rows_ = std::make_unique<RowStore>();
  current_.resize(cursor_->ColumnCount());
  for (Value& value : current_) value.SetNull();
  position_ = 0;
  fetched_ = 0;
  eof_ = false;
  open_ = true;
  try {
    FetchNext();
  } catch (...) {
    Close();
    throw;
  }
}

void Recordset::FetchNext() {
  bool have_row = false;
  if (cursor_ != nullptr) {
    try {
      have_row = cursor_->Fetch(current_);
    } catch (const std::exception& error) {
      cursor_.reset();
      eof_ = true;
      connection_->Rethrow(error);
    }
  }
  if (!have_row) {
    cursor_.reset();  // the result is read to its end: free the statement now
    eof_ = true;
    return;
  }
  ++fetched_;
  if (keep_rows_) rows_->Append(current_);
}

bool Recordset::Eof() {
  RequireOpen();
  return eof_;
}

void Recordset::MoveNext() {
  RequireRecord();
  ++position_;
  if (position_ < fetched_) {
    rows_->Load(position_, current_);
  } else {
    FetchNext();
  }
}

void Recordset::MoveFirst() {
  RequireOpen();
  if (position_ == 0 && (fetched_ > 0 || eof_)) return;  // already there
  if (!keep_rows_)
    throw Error("The record set reads forward only: it cannot return to the first record.");
  position_ = 0;
  if (fetched_ == 0) return;  // an empty result stays at its end
  rows_->Load(0, current_);
  eof_ = false;
}

int Recordset::FieldCount() {
  RequireOpen();
  return static_cast<int>(current_.size());
}

const Value& Recordset::FieldValue(int index) {
  RequireRecord();
  if (index < 0 || static_cast<size_t>(index) >= current_.size())
    throw Error("The requested member of the collection does not exist.", kErrNoSuchMember);
  return current_[index];
}

void Recordset::Close() {
  cursor_.reset();
  rows_.reset();
  current_.clear();
  open_ = false;
  eof_ = true;
  position_ = 0;
  fetched_ = 0;
}

void Recordset::RequireOpen() const {
  if (!open_) throw Error(kClosed);
}

void Recordset::RequireRecord() const {
  RequireOpen();
  if (eof_) throw Error(kNoCurrentRecord);
}

}  // namespace vantrelle
