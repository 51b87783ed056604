#include "data/recordset.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "data/connection.h"
#include "data/session.h"
#include "base/error.h"

namespace vantrelle {

namespace {

constexpr char kNoCurrentRecord[] =
    "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
    "requires a current record.";
constexpr char kClosed[] = "Operation is not allowed when the object is closed.";
constexpr size_t kFirstBlockSize = size_t{64} << 10;
constexpr size_t kMaxBlockSize = size_t{4} << 20;
constexpr size_t kHugePage = size_t{2} << 20;

struct FreeBlock {
  void operator()(char* block) const { std::free(block); }
};
using Block = std::unique_ptr<char, FreeBlock>;

// A block of \a size bytes, left uninitialised: every byte is written before
// it is read. Large blocks sit on huge-page boundaries and ask for huge
// pages: a million kept rows then cost a few dozen page faults, not tens of
// thousands.
Block NewBlock(size_t size) {
  void* memory = nullptr;
  if (size >= kHugePage) {
    size = (size + kHugePage - 1) / kHugePage * kHugePage;
    memory = std::aligned_alloc(kHugePage, size);
    if (memory != nullptr) madvise(memory, size, MADV_HUGEPAGE);
  } else {
    memory = std::malloc(size);
  }
  if (memory == nullptr) throw std::bad_alloc();
  return Block(static_cast<char*>(memory));
}

size_t VarintSize(uint64_t v) {
  size_t size = 1;
  for (; v >= 0x80; v >>= 7) ++size;
  return size;
}

char* PutVarint(char* out, uint64_t v) {
  for (; v >= 0x80; v >>= 7) *out++ = static_cast<char>((v & 0x7F) | 0x80);
  *out++ = static_cast<char>(v);
  return out;
}

const char* GetVarint(const char* in, uint64_t& v) {
  v = 0;
  for (int shift = 0;; shift += 7) {
    auto byte = static_cast<unsigned char>(*in++);
    v |= static_cast<uint64_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return in;
  }
}

uint64_t ZigZag(int64_t v) {
  return (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63);
}

int64_t UnZigZag(uint64_t v) { return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1); }

}  // namespace

// Kept rows, packed: per value a type byte, then an integer or boolean as a
// variable-length number (7 bits a byte, zigzag for the sign), 8 bytes for a
// double, the date-time parts, or a variable-length length and the bytes of
// a text, decimal or binary value. Rows go into 1 MB blocks (a larger row gets a
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
        return 1 + VarintSize(ZigZag(value.AsInteger()));
      case ValueType::kDouble:
        return 1 + 8;
      case ValueType::kDate:
      case ValueType::kTime:
      case ValueType::kDateTime:
        return 1 + sizeof(DateTimeParts);
      default:
        return 1 + VarintSize(value.Bytes().size()) + value.Bytes().size();
    }
  }

  static char* Encode(const Value& value, char* out) {
    *out++ = static_cast<char>(value.Type());
    switch (value.Type()) {
      case ValueType::kNull:
        return out;
      case ValueType::kInteger:
      case ValueType::kBoolean:
        return PutVarint(out, ZigZag(value.AsInteger()));
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
        out = PutVarint(out, bytes.size());
        if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
        return out + bytes.size();
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
        uint64_t v;
        in = GetVarint(in, v);
        if (type == ValueType::kBoolean) {
          value.SetBoolean(v != 0);
        } else {
          value.SetInteger(UnZigZag(v));
        }
        return in;
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
        uint64_t length;
        in = GetVarint(in, length);
        value.SetBytes(type, std::string_view(in, length));
        return in + length;
      }
    }
  }

  char* Reserve(size_t size) {
    if (blocks_.empty() || used_ + size > block_size_) {
      size_t next = blocks_.empty() ? kFirstBlockSize : std::min(next_size_ * 2, kMaxBlockSize);
      next_size_ = next;
      block_size_ = std::max(size, next);
      blocks_.push_back(NewBlock(block_size_));
      used_ = 0;
    }
    char* at = blocks_.back().get() + used_;
    used_ += size;
    return at;
  }

  std::vector<Block> blocks_;
  size_t block_size_ = 0;
  size_t next_size_ = 0;
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
