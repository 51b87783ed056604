// Rendering dates and times with a date section of a format expression.
#pragma once

#include <string>

#include "base/locale_info.h"
#include "format/format_expression.h"
#include "format/value_text.h"

namespace vantrelle {

/// Renders \a value with the date section \a section. Day and month names and
/// the "/" and ":" separators come from \a locale; the short and long date
/// (ddddd, dddddd) follow the locale's date order.
std::string RenderDate(const FormatSection& section, const DateTimeValue& value,
                       const LocaleInfo& locale);

}  // namespace vantrelle
