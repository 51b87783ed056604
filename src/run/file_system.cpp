#include "run/file_system.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "run/error.h"

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

void TextWriter::WriteLine(std::string_view line) {
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
  if (file_ == nullptr) return;
  std::FILE* file = file_;
  file_ = nullptr;
  if (std::fclose(file) != 0) ThrowFileError("Cannot close", path_, errno);
}

TextReader::TextReader(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {}

TextReader::~TextReader() {
  if (file_ != nullptr) std::fclose(file_);
}

bool TextReader::AtEndOfStream() {
  if (file_ == nullptr) return true;
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
  while ((c = getc_unlocked(file_)) != EOF) {
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
  if (std::ferror(file_)) ThrowFileError("Cannot read", path_, errno);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (at_start_) {
    at_start_ = false;
    // A UTF-8 byte-order mark is not part of the first line.
    if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
  }
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
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) ThrowFileError("Cannot create", path, errno);
  return std::make_unique<TextWriter>(file, path);
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

void FileSystem::SetAttributesNormal(const std::string& path) const {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) ThrowFileError("Cannot set the attributes of", path, errno);
  mode_t mode = (st.st_mode & 07777) | S_IRUSR | S_IWUSR;
  if (::chmod(path.c_str(), mode) != 0) ThrowFileError("Cannot set the attributes of", path, errno);
}

}  // namespace vantrelle
