// An Office Open XML package: the zip file behind a Word document.
//
// Opening checks the whole package once: every entry is inflated (so a damaged
// entry or a zip bomb is found before any work is done) and the main document
// part is located through the package relationships. Parts are read as text;
// changed parts are handed back with ReplacePart and written by Save, which
// writes a temporary file in the same folder and renames it over the document,
// copying every unchanged entry's compressed bytes as they are.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct zip;
struct zip_source;

namespace vantrelle {

/// Caps on what a package may inflate to; a part or a package beyond them is
/// refused as a zip bomb.
struct PackageLimits {
  std::uint64_t max_part_bytes = 512ull << 20;
  std::uint64_t max_total_bytes = 1ull << 30;
  /// What the parsed XML parts of a document may take in memory together, as
  /// estimated from their text before they are parsed: at most this, and
  /// no more than kXmlMemoryPerByte times the package's size unless that is
  /// below kMinXmlMemory (see XmlMemoryBudget).
  std::uint64_t max_xml_memory = 1ull << 30;
};

inline constexpr std::uint64_t kXmlMemoryPerByte = 64;
inline constexpr std::uint64_t kMinXmlMemory = 256ull << 20;

/// The memory budget of the parsed parts of a package of \a package_bytes:
/// a small template holding millions of tiny elements must not take a
/// gigabyte, a large document still opens.
inline std::uint64_t XmlMemoryBudget(const PackageLimits& limits, std::uint64_t package_bytes) {
  const std::uint64_t by_size =
      package_bytes > kMinXmlMemory / kXmlMemoryPerByte ? package_bytes * kXmlMemoryPerByte
                                                        : kMinXmlMemory;
  return by_size < limits.max_xml_memory ? by_size : limits.max_xml_memory;
}

class Package {
 public:
  /// Opens and checks \a path. Throws Error naming the file when it is not a
  /// zip package, is encrypted or an old binary document, is damaged, or
  /// inflates beyond \a limits.
  Package(const std::filesystem::path& path, const PackageLimits& limits);
  ~Package();
  Package(const Package&) = delete;
  Package& operator=(const Package&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  /// True when the package holds an entry named \a name (case-insensitive).
  bool HasPart(std::string_view name) const;
  /// The inflated bytes of \a name, or the changed bytes given by ReplacePart.
  /// Throws Error when the part does not exist.
  std::string ReadPart(std::string_view name) const;
  /// Replaces (or adds) part \a name with \a data on the next Save.
  void ReplacePart(std::string_view name, std::string data);
  /// The same with the new bytes given as consecutive pieces, as a large
  /// part is serialized, so they need not be copied into one buffer.
  void ReplacePart(std::string_view name, std::vector<std::string> pieces);
  /// Receives a part's bytes in order, as they are serialized.
  using PartSink = std::function<void(const char* data, std::size_t size)>;
  /// Produces a part's bytes into the sink it is given.
  using PartWriter = std::function<void(const PartSink& sink)>;
  /// Replaces (or adds) part \a name with what \a writer produces when the
  /// package is saved: the bytes go straight into the compressed stream, so
  /// a large part is never held whole. \a writer must stay callable until
  /// Save. Throws Error from Save when it produces more than the part limit.
  void ReplacePart(std::string_view name, PartWriter writer);
  /// The names of the parts as stored, less those removed.
  std::vector<std::string> PartNames() const;
  /// Leaves part \a name out of the package from the next Save on.
  void RemovePart(std::string_view name);
  /// Writes the package atomically to Path(). Throws Error with the file
  /// system's reason; the document on disk is then unchanged.
  void Save();

 private:
  void OpenArchive();
  void CheckEntries();
  std::string EntryName(std::string_view name) const;
  /// Adds (or replaces) entry \a name with \a source, which it takes over;
  /// on failure every change is dropped and Error names the document.
  std::int64_t AddEntry(const std::string& name, zip_source* source);

  std::filesystem::path path_;
  PackageLimits limits_;
  zip* archive_ = nullptr;
  // Entry names as stored, keyed by lower-case name (OPC names ignore case).
  std::map<std::string, std::string> names_;
  // Stored name -> new bytes, in pieces.
  std::map<std::string, std::vector<std::string>> changed_;
  // Stored name -> producer of its new bytes, deflated at Save.
  std::map<std::string, PartWriter> streamed_;
  // Stored names of the parts Save leaves out.
  std::set<std::string> removed_;
};

/// Resolves a relationship target against the folder of the part that holds
/// the relationship ("word/document.xml" + "../media/a.png" -> "media/a.png").
std::string ResolvePartName(std::string_view source_part, std::string_view target);

/// The relationships part of \a part_name ("word/document.xml" ->
/// "word/_rels/document.xml.rels"; "" gives "_rels/.rels").
std::string RelationshipsPartName(std::string_view part_name);

}  // namespace vantrelle
