// Helpers shared by the tests: a scratch folder and whole-file reads.
#pragma once

#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "base/locale_info.h"
#include "format/value_text.h"

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

/// The moment of a date and time as a std::tm, its weekday filled in.
inline std::tm Moment(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  std::tm time{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  time.tm_sec = second;
  time.tm_wday = DayOfWeek(DateTimeValue{year, month, day}) - 1;
  return time;
}

/// The fallback locale, without AM/PM markers when \a no_am_pm.
inline LocaleInfo PictureLocale(bool no_am_pm) {
  LocaleInfo locale = LocaleInfo::Fallback();
  if (no_am_pm) locale.am = locale.pm = "";
  return locale;
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
