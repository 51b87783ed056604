// Helpers shared by the tests: a scratch folder and whole-file reads.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace vantrelle::testing_util {

/// A fresh folder under the system's temporary folder, removed with its
/// contents when the object goes.
class TempDir {
 public:
  TempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("vantrelle_") + (info ? info->test_suite_name() : "x") + "_" +
                       (info ? info->name() : "x") + "_" + std::to_string(::getpid());
    for (char& c : name)
      if (c == '/') c = '_';
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ec))
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

/// A fixed moment: 5 May 2004, 14:07:09.
inline std::tm FixedTime() {
  std::tm t{};
  t.tm_year = 104;
  t.tm_mon = 4;
  t.tm_mday = 5;
  t.tm_hour = 14;
  t.tm_min = 7;
  t.tm_sec = 9;
  return t;
}

}  // namespace vantrelle::testing_util
