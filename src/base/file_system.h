// The program's one file-system object and its text streams.
//
// Every file test, copy, delete and text file of a run goes through
// FileSystem. Text files are written as UTF-8, lines ending with CR LF. Text
// files are read as UTF-8 (a byte-order mark skipped), as UTF-16 when they
// start with its byte-order mark, and as Windows-1252 when they are not valid
// UTF-8; every line read is UTF-8 and ends at LF (a CR before it is dropped). Failures throw Error with the system's
// message and the file's name.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "base/output_file.h"
#include "base/text_encoding.h"

namespace vantrelle {

/// A text file open for writing, created anew. Each line is flushed as it is
/// written, so the file holds every line written even if the process dies.
class TextWriter {
 public:
  TextWriter(std::FILE* file, std::string path);
  ~TextWriter();
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;

  /// Writes \a line followed by CR LF, whole even when another thread writes
  /// too (a hard end logs from the signal thread). Throws Error when the write fails,
  /// the stream is closed, or the file has been deleted meanwhile.
  void WriteLine(std::string_view line);
  /// Closes the stream; throws Error when the last data cannot be written.
  void Close();
  bool IsOpen() const;

 private:
  mutable std::mutex mutex_;
  std::FILE* file_;
  std::string path_;
};

/// A text file open for reading, one line at a time.
class TextReader {
 public:
  TextReader(std::FILE* file, std::string path);
  ~TextReader();
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  bool AtEndOfStream();
  /// The next line without its line break. Throws Error on a read failure
  /// or past the end.
  std::string ReadLine();
  void Close();

 private:
  // Reads the byte-order mark, or, without one, tells UTF-8 from
  // Windows-1252 by reading the file once ahead.
  void FindEncoding();

  std::FILE* file_;
  std::string path_;
  bool at_start_ = true;
  TextEncoding encoding_ = TextEncoding::kUtf8;
};

class FileSystem {
 public:
  /// True when \a path names an existing regular file (not a folder).
  bool FileExists(const std::string& path) const;
  /// Copies \a from over \a to, replacing an existing file.
  void CopyFile(const std::string& from, const std::string& to) const;
  /// Deletes \a path even when it is read-only.
  void DeleteFile(const std::string& path) const;
  /// Creates (or empties) \a path for writing text, never through a link
  /// and only over a regular file (see OpenRunLog).
  std::unique_ptr<TextWriter> CreateTextFile(const std::string& path) const;
  /// The same for the output of \a folder, opened ahead.
  std::unique_ptr<TextWriter> CreateTextFile(const OutputFolder& folder) const;
  /// Opens an existing \a path for reading text; never creates it.
  std::unique_ptr<TextReader> OpenTextFile(const std::string& path) const;
  /// The folder part of \a path, without a trailing separator; empty when
  /// the path has none.
  std::string GetParentFolderName(const std::string& path) const;
  /// A file name from the configuration as it is found here. A name that
  /// exists as written, or holds no backslash, is used as written; a name
  /// written on Windows (`scripts\\a.sql`) is taken with "/" for each
  /// backslash: for an input (\a output false) only when that names an
  /// existing file, for an output always. Throws Error when a name that does
  /// not exist starts with a drive letter or names a network share.
  std::string LocateConfiguredFile(const std::string& name, bool output) const;
  /// Clears the read-only state: the owner may read and write the file.
  void SetAttributesNormal(const std::string& path) const;
};

}  // namespace vantrelle
