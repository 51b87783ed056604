// Formatting a field value with the pattern of the template cell it fills.
//
// A table fill reads each target cell's text as the pattern for the value
// that replaces it: "#,##0.00" shows a number with two decimals and grouping,
// "yyyy-mm-dd" a date, an empty cell the value as it is. The pattern language
// is the classic format-expression language of spreadsheet and database
// tools: digit placeholders, date and time codes, text codes, up to four
// sections and the named formats (Fixed, Short Date, Yes/No, ...).
#pragma once

#include <string>
#include <string_view>

#include "base/locale_info.h"

namespace vantrelle {

/// Strips the end-of-cell characters (7, 13, 10) from the end of \a format_text;
/// returns \a value_text unchanged when nothing remains, else value_text
/// formatted with the expression under the process locale. Never throws for
/// any input.
std::string FormatFieldValue(std::string_view value_text, std::string_view format_text);

/// Formats \a value_text with the format expression \a expression (taken as
/// it is) under \a locale. Text that reads as a number (ParseDecimal) is
/// formatted as that number; text that reads as a date or time (ParseDateText,
/// a date without a year in this year) is formatted as such under a date
/// expression; other text that reads as a number with group separators
/// anywhere (ParseNumberText) is formatted as that number; other text, Null
/// (empty) included, comes back unchanged apart from the text codes. May
/// throw only std::bad_alloc.
std::string FormatValue(std::string_view value_text, std::string_view expression,
                        const LocaleInfo& locale);

}  // namespace vantrelle
