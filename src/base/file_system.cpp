#include "base/file_system.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/error.h"
#include "base/output_file.h"

namespace vantrelle {
namespace fs = std::filesystem;

namespace {

std::string SystemMessage(int error) { return std::generic_category().message(error); }

[[noreturn]] void ThrowFileError(const std::string& what, const std::string& path, int error) {
  throw Error(what + " \"" + path + "\": " + SystemMessage(error) + ".");
}

}  // namespace

TextWriter::TextWriter(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {}

TextWriter::~TextWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

bool TextWriter::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return file_ != nullptr;
}

void TextWriter::WriteLine(std::string_view line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ == nullptr) throw Error("The text stream \"" + path_ + "\" is closed.");
  bool ok = std::fwrite(line.data(), 1, line.size(), file_) == line.size() &&
            std::fwrite("\r\n", 1, 2, file_) == 2 && std::fflush(file_) == 0;
  if (!ok) ThrowFileError("Cannot write to", path_, errno);
  // A file whose last name was removed (its folder deleted) takes every
  // line and keeps none of them.
  struct stat st;
  if (::fstat(fileno(file_), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 0)
    throw Error("Cannot write to \"" + path_ + "\": the file was deleted while it was written.");
}

void TextWriter::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ == nullptr) return;
  std::FILE* file = file_;
  file_ = nullptr;
  if (std::fclose(file) != 0) ThrowFileError("Cannot close", path_, errno);
}

TextReader::TextReader(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {}

TextReader::~TextReader() {
  if (file_ != nullptr) std::fclose(file_);
}

void TextReader::FindEncoding() {
  at_start_ = false;
  unsigned char head[3];
  size_t got = std::fread(head, 1, 3, file_);
  if (std::ferror(file_)) ThrowFileError("Cannot read", path_, errno);
  encoding_ = EncodingFromMark(std::string_view(reinterpret_cast<char*>(head), got));
  size_t mark = MarkLength(encoding_);
  if (encoding_ == TextEncoding::kUtf8) {
    // Without a mark the whole file decides: valid UTF-8, or else the
    // western Windows code page. It is read once ahead, a block at a time.
    Utf8Validator validator;
    validator.Feed(std::string_view(reinterpret_cast<char*>(head), got));
    char block[65536];
    size_t n;
    while (validator.Valid() && (n = std::fread(block, 1, sizeof block, file_)) > 0)
      validator.Feed(std::string_view(block, n));
    if (std::ferror(file_)) ThrowFileError("Cannot read", path_, errno);
    if (!validator.Valid()) encoding_ = TextEncoding::kWindows1252;
  }
  if (std::fseek(file_, static_cast<long>(mark), SEEK_SET) != 0)
    ThrowFileError("Cannot read", path_, errno);
}

bool TextReader::AtEndOfStream() {
  if (file_ == nullptr) return true;
  if (at_start_) FindEncoding();
  int c = std::fgetc(file_);
  if (c == EOF) {
    if (std::ferror(file_)) ThrowFileError("Cannot read", path_, errno);
    return true;
  }
  std::ungetc(c, file_);
  return false;
}

std::string TextReader::ReadLine() {
  if (AtEndOfStream()) throw Error("Input past end of file \"" + path_ + "\".");
  std::string line;
  int c;
  if (encoding_ == TextEncoding::kUtf16Le || encoding_ == TextEncoding::kUtf16Be) {
    // Two bytes a unit; the line ends at the unit of LF.
    const bool le = encoding_ == TextEncoding::kUtf16Le;
    while ((c = getc_unlocked(file_)) != EOF) {
      int d = getc_unlocked(file_);
      if (d == EOF) {
        line.push_back(static_cast<char>(c));
        break;
      }
      if ((le ? c : d) == '\n' && (le ? d : c) == 0) break;
      line.push_back(static_cast<char>(c));
      line.push_back(static_cast<char>(d));
    }
  } else {
    while ((c = getc_unlocked(file_)) != EOF) {
      if (c == '\n') break;
      line.push_back(static_cast<char>(c));
    }
  }
  if (std::ferror(file_)) ThrowFileError("Cannot read", path_, errno);
  if (encoding_ != TextEncoding::kUtf8 && encoding_ != TextEncoding::kUtf8Bom)
    line = DecodeUnmarked(line, encoding_);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

void TextReader::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

bool FileSystem::FileExists(const std::string& path) const {
  if (path.empty()) return false;
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void FileSystem::CopyFile(const std::string& from, const std::string& to) const {
  std::error_code ec;
  if (!FileExists(from)) ThrowFileError("Cannot copy", from, ENOENT);
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (ec) throw Error("Cannot copy \"" + from + "\" to \"" + to + "\": " + ec.message() + ".");
}

void FileSystem::DeleteFile(const std::string& path) const {
  // On Linux a read-only file can be removed when its folder is writable;
  // only the folder's permissions matter.
  if (::unlink(path.c_str()) != 0) ThrowFileError("Cannot delete", path, errno);
}

std::unique_ptr<TextWriter> FileSystem::CreateTextFile(const std::string& path) const {
  if (path.empty()) throw Error("Bad file name: the file name is empty.");
  std::error_code ec;
  if (fs::is_directory(path, ec)) ThrowFileError("Cannot create", path, EISDIR);
  return CreateTextFile(OutputFolder::Open(path));
}

std::unique_ptr<TextWriter> FileSystem::CreateTextFile(const OutputFolder& folder) const {
  return std::make_unique<TextWriter>(OpenRunLog(folder), folder.Path());
}

std::unique_ptr<TextReader> FileSystem::OpenTextFile(const std::string& path) const {
  std::error_code ec;
  if (fs::is_directory(path, ec)) ThrowFileError("Cannot open", path, EISDIR);
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) ThrowFileError("Cannot open", path, errno);
  return std::make_unique<TextReader>(file, path);
}

std::string FileSystem::GetParentFolderName(const std::string& path) const {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return "";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string FileSystem::LocateConfiguredFile(const std::string& name, bool output) const {
  std::error_code ec;
  if (name.empty() || fs::exists(fs::symlink_status(name, ec))) return name;
  const bool drive = name.size() >= 3 && std::isalpha(static_cast<unsigned char>(name[0])) &&
                     name[1] == ':' && (name[2] == '\\' || name[2] == '/');
  if (drive || name.starts_with("\\\\"))
    throw Error("\"" + name +
                "\" is a Windows path (a drive letter or a network share); give a Linux path "
                "in the configuration file.");
  if (name.find('\\') == std::string::npos) return name;
  std::string slashed = name;
  for (char& c : slashed)
    if (c == '\\') c = '/';
  return output || FileExists(slashed) ? slashed : name;
}

void FileSystem::SetAttributesNormal(const std::string& path) const {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) ThrowFileError("Cannot set the attributes of", path, errno);
  mode_t mode = (st.st_mode & 07777) | S_IRUSR | S_IWUSR;
  if (::chmod(path.c_str(), mode) != 0) ThrowFileError("Cannot set the attributes of", path, errno);
}

}  // namespace vantrelle
