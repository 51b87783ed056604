// Fuzz target for field codes: the input is the code text of a field, as a
// template holds it ("DOCVARIABLE Name \* Upper", "DATE \@ \"d MMMM yyyy\"");
// it is split into its parts and its result computed as an update does,
// with the variable holding a text, a number, a date and then missing. The
// input also serves as a numeric and a date picture, and as a value for them.
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "base/locale_info.h"
#include "format/field_picture.h"
#include "word/fields.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  static const vantrelle::LocaleInfo locale = vantrelle::LocaleInfo::Fallback();

  vantrelle::FieldCode code = vantrelle::ParseFieldCode(input);
  std::tm now{};
  now.tm_year = 126;
  now.tm_mon = 11;
  now.tm_mday = 9;
  now.tm_hour = 20;
  now.tm_min = 5;
  now.tm_sec = 7;
  now.tm_wday = 3;
  now.tm_yday = 342;

  vantrelle::FieldContext context;
  context.now = now;
  context.locale = &locale;
  context.variable = [](std::string_view) -> std::optional<std::string> {
    return std::string("Total \xC3\xA9t\xC3\xA9 1234.5");
  };
  vantrelle::ComputeFieldResult(code, context);
  context.variable = [](std::string_view) -> std::optional<std::string> { return "-1234.565"; };
  vantrelle::ComputeFieldResult(code, context);
  context.variable = [](std::string_view) -> std::optional<std::string> {
    return "2004-05-01 14:07:09";
  };
  vantrelle::ComputeFieldResult(code, context);
  context.variable = [](std::string_view) -> std::optional<std::string> { return std::nullopt; };
  vantrelle::ComputeFieldResult(code, context);

  vantrelle::ApplyFormatSwitches(std::string(input), code.format_switches);
  vantrelle::FormatDatePicture(now, input, locale);
  vantrelle::FormatNumericPicture("-98765.4321", input, locale);
  vantrelle::FormatNumericPicture(input, "#,##0.00;(#,##0.00);'zero'", locale);
  vantrelle::FormatDateText(input, "dddd d MMMM yyyy HH:mm:ss", locale);
  return 0;
}
