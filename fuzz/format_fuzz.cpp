// Fuzz target for field value formatting. The input is a value text and a
// format text separated by the first NUL byte; both orders are formatted,
// under the process locale and under a hand-built one with "," decimals.
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/locale_info.h"
#include "format/format_field_value.h"

namespace {

const vantrelle::LocaleInfo& CommaLocale() {
  static const vantrelle::LocaleInfo locale = [] {
    vantrelle::LocaleInfo info = vantrelle::LocaleInfo::Fallback();
    info.decimal_separator = ",";
    info.group_separator = ".";
    info.short_date_order = "dmy";
    info.date_separator = ".";
    return info;
  }();
  return locale;
}

bool OnlyEndOfCell(std::string_view format) {
  for (char c : format) {
    if (c != 7 && c != 13 && c != 10) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool initialised = std::setlocale(LC_ALL, "C.UTF-8") != nullptr;
  (void)initialised;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\0');
  std::string_view value = input.substr(0, split);
  std::string_view format = split == std::string_view::npos ? "" : input.substr(split + 1);

  std::string result = vantrelle::FormatFieldValue(value, format);
  // A pattern that is only the end-of-cell mark must give the value back.
  if (OnlyEndOfCell(format) && result != value) std::abort();
  vantrelle::FormatFieldValue(format, value);
  vantrelle::FormatValue(value, format, CommaLocale());
  return 0;
}
