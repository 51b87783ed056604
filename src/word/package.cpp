#include "word/package.h"

#include <sys/stat.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>

#include "base/error.h"

namespace vantrelle {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string Quoted(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

const char kConvertAdvice[] =
    "open it in Word and save it as a Word document (.docx) or template (.dotx), then try again.";

// Searches \a in for each of \a needles in pieces, so that a large file is
// never held whole; returns which were found.
std::vector<bool> FindInStream(std::istream& in, const std::vector<std::string_view>& needles) {
  std::vector<bool> found(needles.size(), false);
  std::size_t overlap = 0;
  for (std::string_view needle : needles) overlap = std::max(overlap, needle.size());
  std::string window;
  std::vector<char> buffer(1 << 16);
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    window.append(buffer.data(), static_cast<std::size_t>(in.gcount()));
    for (std::size_t i = 0; i < needles.size(); ++i) {
      if (!found[i] && window.find(needles[i]) != std::string::npos) found[i] = true;
    }
    if (window.size() > overlap) window.erase(0, window.size() - overlap);
  }
  return found;
}

// Files that are not Office Open XML packages but are often given as one are
// recognised by their first bytes and refused with what they are and what to
// do: the compound (OLE2) file of old binary documents, which is also what a
// password-protected package is stored in, RTF, and OpenDocument text.
void RefuseOtherFormats(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string head(128, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  in.clear();
  const std::string prefix = "Cannot open " + Quoted(path) + ": ";

  static const char kCompoundSignature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
  if (head.size() >= 8 && std::memcmp(head.data(), kCompoundSignature, 8) == 0) {
    // The stream names are in the directory sectors, which may be anywhere.
    static const char kEncryptionInfo[] = "E\0n\0c\0r\0y\0p\0t\0i\0o\0n\0I\0n\0f\0o";
    static const char kWordDocument[] = "W\0o\0r\0d\0D\0o\0c\0u\0m\0e\0n\0t";
    std::vector<bool> found =
        FindInStream(in, {std::string_view(kEncryptionInfo, sizeof kEncryptionInfo - 1),
                          std::string_view(kWordDocument, sizeof kWordDocument - 1)});
    if (found[0]) {
      throw Error(prefix +
                  "the document is encrypted (protected with a password); open it in Word, "
                  "remove the password and save it again, then try again.");
    }
    if (found[1]) {
      throw Error(prefix +
                  "it is an old binary Word document (.doc or .dot, Word 97-2003), not an Office "
                  "Open XML package; " + kConvertAdvice);
    }
    throw Error(prefix +
                "it is a compound file of an older Office program, not a Word document package "
                "(.docx, .dotx, .docm or .dotm).");
  }
  std::string_view start(head);
  while (!start.empty() && (start.front() == ' ' || start.front() == '\r' ||
                            start.front() == '\n' || start.front() == '\t')) {
    start.remove_prefix(1);
  }
  if (start.substr(0, 5) == "{\\rtf") {
    throw Error(prefix + "it is an RTF document (Rich Text Format), not a Word document package; " +
                kConvertAdvice);
  }
  // An OpenDocument file is a zip whose first entry, stored, is "mimetype".
  static const char kOpenDocument[] = "mimetypeapplication/vnd.oasis.opendocument.";
  if (head.size() > 30 && head.compare(0, 4, "PK\x03\x04") == 0 &&
      head.find(kOpenDocument) != std::string::npos) {
    std::string kind = head.substr(head.find(kOpenDocument) + sizeof kOpenDocument - 1);
    bool text = kind.rfind("text", 0) == 0;
    // An OpenDocument text most often comes from LibreOffice Writer, whose
    // own steps are the ones to give.
    throw Error(prefix + (text ? "it is an OpenDocument text (.odt or .ott)"
                               : "it is an OpenDocument file that is not a text") +
                ", not a Word document package; " +
                (text ? "open it in LibreOffice Writer, choose File > Save As, set the file type "
                        "to \"Word 2007\u2013365 (.docx)\" and answer \"Use Word 2007\u2013365 Format!\", "
                        "then name the .docx file in [FILE] ReportTemplateFileName."
                      : kConvertAdvice));
  }
}

// Entry names that would make the package mean something else to each
// reader, or that name a place outside it when the package is unpacked.
std::string EntryNameFault(std::string_view name) {
  if (name.empty()) return "has an empty name";
  if (name.front() == '/' || name.front() == '\\' ||
      (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])))) {
    return "has an absolute name";
  }
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = name.size();
    if (name.substr(start, end - start) == "..") return "has a \"..\" segment in its name";
    start = end + 1;
  }
  return {};
}

std::string ZipErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

// A part deflated at save time, handed to libzip as already-compressed data
// so that it is copied into the archive as it is.
struct DeflatedPart {
  std::vector<std::string> chunks;
  std::uint64_t size = 0;
  std::uint64_t compressed_size = 0;
  std::uint32_t crc = 0;
  std::size_t chunk = 0;   // read position
  std::size_t offset = 0;
};

// Deflates what a PartWriter produces. A part below kFastBytes is deflated
// well (level 6); a larger one, a grown table of thousands of rows, fast
// (level 1), where the level makes little difference to the size.
class Deflater {
 public:
  static constexpr std::size_t kFastBytes = 4u << 20;
  static constexpr std::size_t kChunkBytes = 256u << 10;

  explicit Deflater(std::uint64_t limit) : limit_(limit) { pending_.reserve(kChunkBytes); }
  ~Deflater() {
    if (started_) deflateEnd(&stream_);
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  void Write(const char* data, std::size_t size) {
    part_.size += size;
    if (part_.size > limit_) throw std::length_error("part too large");
    while (size > 0) {
      std::size_t room = (started_ ? kChunkBytes : kFastBytes) - pending_.size();
      std::size_t n = std::min(room, size);
      pending_.append(data, n);
      data += n;
      size -= n;
      if (pending_.size() == (started_ ? kChunkBytes : kFastBytes)) {
        if (!started_) Start(1);
        Deflate(Z_NO_FLUSH);
      }
    }
  }

  DeflatedPart Finish() {
    if (!started_) Start(6);
    Deflate(Z_FINISH);
    for (const std::string& chunk : part_.chunks) part_.compressed_size += chunk.size();
    return std::move(part_);
  }

 private:
  void Start(int level) {
    if (deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      throw std::bad_alloc();
    }
    started_ = true;
  }
  void Deflate(int flush) {
    // The checksum is taken over whole buffers: per small write it costs
    // more than the deflating.
    part_.crc = static_cast<std::uint32_t>(
        crc32_z(part_.crc, reinterpret_cast<const Bytef*>(pending_.data()), pending_.size()));
    stream_.next_in = reinterpret_cast<Bytef*>(pending_.data());
    stream_.avail_in = static_cast<uInt>(pending_.size());
    int result = Z_OK;
    do {
      if (part_.chunks.empty() || part_.chunks.back().size() == part_.chunks.back().capacity()) {
        part_.chunks.emplace_back();
        part_.chunks.back().reserve(kChunkBytes);
      }
      std::string& out = part_.chunks.back();
      std::size_t used = out.size();
      out.resize(out.capacity());
      stream_.next_out = reinterpret_cast<Bytef*>(out.data() + used);
      stream_.avail_out = static_cast<uInt>(out.size() - used);
      result = deflate(&stream_, flush);
      out.resize(out.size() - stream_.avail_out);
    } while (stream_.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
    pending_.clear();
  }

  std::uint64_t limit_;
  z_stream stream_{};
  bool started_ = false;
  std::string pending_;
  DeflatedPart part_;
};

zip_int64_t ReadDeflatedPart(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  auto* part = static_cast<DeflatedPart*>(state);
  switch (command) {
    case ZIP_SOURCE_OPEN:
      part->chunk = 0;
      part->offset = 0;
      return 0;
    case ZIP_SOURCE_READ: {
      zip_uint64_t done = 0;
      auto* out = static_cast<char*>(data);
      while (done < length && part->chunk < part->chunks.size()) {
        const std::string& chunk = part->chunks[part->chunk];
        std::size_t n = std::min<std::size_t>(chunk.size() - part->offset, length - done);
        std::memcpy(out + done, chunk.data() + part->offset, n);
        done += n;
        part->offset += n;
        if (part->offset == chunk.size()) {
          ++part->chunk;
          part->offset = 0;
        }
      }
      return static_cast<zip_int64_t>(done);
    }
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = static_cast<zip_stat_t*>(data);
      zip_stat_init(st);
      st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC;
      st->size = part->size;
      st->comp_size = part->compressed_size;
      st->comp_method = ZIP_CM_DEFLATE;
      st->crc = part->crc;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR: {
      auto* error = static_cast<int*>(data);
      error[0] = error[1] = 0;
      return 2 * sizeof(int);
    }
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                            ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                            -1);
    default:
      return -1;
  }
}

}  // namespace

Package::Package(const std::filesystem::path& path, const PackageLimits& limits)
    : path_(path), limits_(limits) {
  std::error_code ec;
  std::filesystem::file_status status = std::filesystem::status(path_, ec);
  if (!std::filesystem::exists(status)) {
    throw Error("Cannot open " + Quoted(path_) + ": the file does not exist.");
  }
  // A pipe or a device would be read forever.
  if (!std::filesystem::is_regular_file(status)) {
    throw Error("Cannot open " + Quoted(path_) +
                ": it is not a regular file (a folder, a device or a pipe).");
  }
  if (std::filesystem::file_size(path_, ec) == 0 && !ec) {
    throw Error("Cannot open " + Quoted(path_) +
                ": the file is empty (0 bytes), not a Word document.");
  }
  RefuseOtherFormats(path_);
  OpenArchive();
  try {
    CheckEntries();
  } catch (...) {
    zip_discard(archive_);
    archive_ = nullptr;
    throw;
  }
}

Package::~Package() {
  if (archive_) zip_discard(archive_);
}

void Package::OpenArchive() {
  int code = 0;
  archive_ = zip_open(path_.c_str(), 0, &code);
  if (!archive_) {
    std::string reason = code == ZIP_ER_NOZIP || code == ZIP_ER_INCONS
                             ? "it is not an Office Open XML package (not a valid zip file: " +
                                   ZipErrorText(code) + ")"
                             : ZipErrorText(code);
    throw Error("Cannot open " + Quoted(path_) + ": " + reason + ".");
  }
  names_.clear();
  zip_int64_t count = zip_get_num_entries(archive_, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* name = zip_get_name(archive_, static_cast<zip_uint64_t>(i), 0);
    std::string fault;
    if (!name) {
      fault = "the entry number " + std::to_string(i + 1) + " has a name that cannot be read";
    } else if (std::string why = EntryNameFault(name); !why.empty()) {
      fault = "the entry \"" + std::string(name) + "\" " + why;
    } else if (auto [it, added] = names_.emplace(Lower(name), name); !added) {
      // Readers disagree on which of two such entries is the part, so
      // whichever one a run fills, the report may show the other.
      fault = it->second == name ? "the entry \"" + it->second + "\" appears twice"
                                 : "the entries \"" + it->second + "\" and \"" + name +
                                       "\" differ only in case";
    }
    if (!fault.empty()) {
      zip_discard(archive_);
      archive_ = nullptr;
      names_.clear();
      throw Error("Cannot open " + Quoted(path_) + ": the document is damaged; " + fault + ".");
    }
  }
}

// Inflates every entry once: libzip verifies each entry's checksum at its end,
// and the byte count is the real inflated size, whatever the headers claim.
void Package::CheckEntries() {
  std::uint64_t total = 0;
  std::vector<char> buffer(1 << 16);
  zip_int64_t count = zip_get_num_entries(archive_, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* name = zip_get_name(archive_, static_cast<zip_uint64_t>(i), 0);
    std::string part = name ? name : "?";
    zip_file_t* file = zip_fopen_index(archive_, static_cast<zip_uint64_t>(i), 0);
    if (!file) {
      std::string reason = zip_strerror(archive_);
      throw Error("Cannot open " + Quoted(path_) + ": the part \"" + part +
                  "\" cannot be read (" + reason + ").");
    }
    std::uint64_t part_bytes = 0;
    for (;;) {
      zip_int64_t n = zip_fread(file, buffer.data(), buffer.size());
      if (n < 0) {
        std::string reason = zip_file_strerror(file);
        zip_fclose(file);
        throw Error("Cannot open " + Quoted(path_) + ": the document is damaged; the part \"" +
                    part + "\" cannot be read (" + reason + ").");
      }
      if (n == 0) break;
      part_bytes += static_cast<std::uint64_t>(n);
      total += static_cast<std::uint64_t>(n);
      if (part_bytes > limits_.max_part_bytes || total > limits_.max_total_bytes) {
        zip_fclose(file);
        throw Error("Cannot open " + Quoted(path_) + ": the part \"" + part +
                    "\" inflates beyond the size limit of a document (" +
                    std::to_string((part_bytes > limits_.max_part_bytes ? limits_.max_part_bytes
                                                                        : limits_.max_total_bytes) >>
                                   20) +
                    " MiB).");
      }
    }
    zip_fclose(file);
  }
}

std::string Package::EntryName(std::string_view name) const {
  auto it = names_.find(Lower(name));
  return it == names_.end() ? std::string() : it->second;
}

bool Package::HasPart(std::string_view name) const {
  if (removed_.count(EntryName(name))) return false;
  return changed_.count(std::string(name)) || streamed_.count(std::string(name)) ||
         !EntryName(name).empty();
}

std::vector<std::string> Package::PartNames() const {
  std::vector<std::string> names;
  for (const auto& [lower, stored] : names_)
    if (!removed_.count(stored)) names.push_back(stored);
  return names;
}

void Package::RemovePart(std::string_view name) {
  const std::string stored = EntryName(name);
  changed_.erase(std::string(name));
  streamed_.erase(std::string(name));
  if (!stored.empty()) removed_.insert(stored);
}

std::string Package::ReadPart(std::string_view name) const {
  std::string entry = EntryName(name);
  if (auto it = streamed_.find(entry.empty() ? std::string(name) : entry); it != streamed_.end()) {
    std::string data;
    it->second([&](const char* bytes, std::size_t size) { data.append(bytes, size); });
    return data;
  }
  if (auto it = changed_.find(entry.empty() ? std::string(name) : entry); it != changed_.end()) {
    std::string data;
    for (const std::string& piece : it->second) data += piece;
    return data;
  }
  if (entry.empty()) {
    throw Error("Cannot read " + Quoted(path_) + ": the package has no part \"" +
                std::string(name) + "\".");
  }
  zip_file_t* file = zip_fopen(archive_, entry.c_str(), 0);
  if (!file) {
    throw Error("Cannot read the part \"" + entry + "\" of " + Quoted(path_) + ": " +
                zip_strerror(archive_) + ".");
  }
  std::string data;
  zip_stat_t st;
  if (zip_stat(archive_, entry.c_str(), 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE) &&
      st.size <= limits_.max_part_bytes) {
    data.reserve(st.size);
  }
  char buffer[1 << 16];
  for (;;) {
    zip_int64_t n = zip_fread(file, buffer, sizeof buffer);
    if (n < 0) {
      std::string reason = zip_file_strerror(file);
      zip_fclose(file);
      throw Error("Cannot read the part \"" + entry + "\" of " + Quoted(path_) + ": " + reason +
                  ".");
    }
    if (n == 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
    if (data.size() > limits_.max_part_bytes) {
      zip_fclose(file);
      throw Error("Cannot read the part \"" + entry + "\" of " + Quoted(path_) +
                  ": it inflates beyond the size limit of a document.");
    }
  }
  zip_fclose(file);
  return data;
}

void Package::ReplacePart(std::string_view name, std::string data) {
  std::vector<std::string> pieces;
  pieces.push_back(std::move(data));
  ReplacePart(name, std::move(pieces));
}

void Package::ReplacePart(std::string_view name, std::vector<std::string> pieces) {
  std::string entry = EntryName(name);
  if (entry.empty()) entry = std::string(name);
  streamed_.erase(entry);
  changed_[entry] = std::move(pieces);
}

void Package::ReplacePart(std::string_view name, PartWriter writer) {
  std::string entry = EntryName(name);
  if (entry.empty()) entry = std::string(name);
  changed_.erase(entry);
  streamed_[entry] = std::move(writer);
}

std::int64_t Package::AddEntry(const std::string& name, zip_source* source) {
  zip_int64_t index =
      source ? zip_file_add(archive_, name.c_str(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8)
             : -1;
  if (index < 0) {
    if (source) zip_source_free(source);
    std::string reason = zip_strerror(archive_);
    zip_unchange_all(archive_);
    throw Error("Cannot save " + Quoted(path_) + ": " + reason + ".");
  }
  return index;
}

void Package::Save() {
  std::filesystem::path folder = path_.parent_path();
  if (folder.empty()) folder = ".";
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    throw Error("Cannot save " + Quoted(path_) + ": the folder \"" + folder.string() +
                "\" does not exist.");
  }
  struct stat st;
  if (::stat(path_.c_str(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    throw Error("Cannot save " + Quoted(path_) + ": the file is read-only.");
  }
  if (changed_.empty() && streamed_.empty() && removed_.empty()) return;
  for (const std::string& name : removed_) {
    const zip_int64_t index = zip_name_locate(archive_, name.c_str(), 0);
    if (index >= 0) zip_delete(archive_, static_cast<zip_uint64_t>(index));
  }
  // Deflated parts must live until the archive is written.
  std::vector<std::unique_ptr<DeflatedPart>> deflated;
  for (auto& [name, writer] : streamed_) {
    Deflater deflater(limits_.max_part_bytes);
    try {
      writer([&](const char* data, std::size_t size) { deflater.Write(data, size); });
    } catch (const std::length_error&) {
      zip_unchange_all(archive_);
      throw Error("Cannot save " + Quoted(path_) + ": the part \"" + name +
                  "\" grows beyond the size limit of a document (" +
                  std::to_string(limits_.max_part_bytes >> 20) + " MiB).");
    }
    deflated.push_back(std::make_unique<DeflatedPart>(deflater.Finish()));
    zip_int64_t index =
        AddEntry(name, zip_source_function(archive_, ReadDeflatedPart, deflated.back().get()));
    // Same method as the data: libzip copies it without recompressing.
    zip_set_file_compression(archive_, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 0);
  }
  for (auto& [name, pieces] : changed_) {
    std::vector<zip_buffer_fragment_t> fragments;
    std::size_t size = 0;
    for (std::string& piece : pieces) {
      if (piece.empty()) continue;
      fragments.push_back({reinterpret_cast<zip_uint8_t*>(piece.data()), piece.size()});
      size += piece.size();
    }
    // Large parts (a filled table of thousands of rows) are deflated fast.
    // libzip keeps an entry's original compression level when its method
    // stays the same, so such a part is written as a new entry.
    const bool fast = size > (4u << 20);
    zip_int64_t existing = zip_name_locate(archive_, name.c_str(), 0);
    if (fast && existing >= 0) zip_delete(archive_, static_cast<zip_uint64_t>(existing));
    zip_int64_t index = AddEntry(
        name, zip_source_buffer_fragment(archive_, fragments.data(), fragments.size(), 0));
    zip_set_file_compression(archive_, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE,
                             fast ? 1 : 6);
  }
  // libzip writes the whole archive to a temporary file beside the document
  // and renames it over the document only when everything was written.
  if (zip_close(archive_) != 0) {
    std::string reason = zip_strerror(archive_);
    zip_unchange_all(archive_);
    throw Error("Cannot save " + Quoted(path_) + ": " + reason + ".");
  }
  archive_ = nullptr;
  std::map<std::string, std::vector<std::string>> changed;
  std::map<std::string, PartWriter> streamed;
  changed.swap(changed_);
  streamed.swap(streamed_);
  std::set<std::string> removed;
  removed.swap(removed_);
  try {
    OpenArchive();
  } catch (...) {
    changed_.swap(changed);
    streamed_.swap(streamed);
    removed_.swap(removed);
    throw;
  }
}

std::string ResolvePartName(std::string_view source_part, std::string_view target) {
  std::string base;
  if (!target.empty() && target.front() == '/') {
    target.remove_prefix(1);
  } else {
    auto slash = source_part.rfind('/');
    if (slash != std::string_view::npos) base = std::string(source_part.substr(0, slash + 1));
  }
  std::vector<std::string> segments;
  std::string joined = base + std::string(target);
  std::size_t start = 0;
  while (start <= joined.size()) {
    std::size_t end = joined.find('/', start);
    if (end == std::string::npos) end = joined.size();
    std::string segment = joined.substr(start, end - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = end + 1;
  }
  std::string out;
  for (const auto& segment : segments) {
    if (!out.empty()) out += '/';
    out += segment;
  }
  return out;
}

std::string RelationshipsPartName(std::string_view part_name) {
  auto slash = part_name.rfind('/');
  std::string folder =
      slash == std::string_view::npos ? std::string() : std::string(part_name.substr(0, slash + 1));
  std::string file = std::string(
      slash == std::string_view::npos ? part_name : part_name.substr(slash + 1));
  return folder + "_rels/" + file + ".rels";
}

}  // namespace vantrelle
