// Rendering numbers with a number section of a format expression.
#pragma once

#include <string>

#include "base/locale_info.h"
#include "format/format_expression.h"
#include "format/value_text.h"

namespace vantrelle {

/// Renders \a value with the number section \a section: rounded on its
/// decimal digits, an exact half away from zero, with the locale's decimal
/// and group separators. A minus sign goes first when value.negative is set
/// and the value does not round to zero; a caller using a section of its own
/// for negative numbers passes the magnitude.
std::string RenderNumber(const FormatSection& section, DecimalValue value,
                         const LocaleInfo& locale);

/// The number with all its digits, the locale's decimal separator and no
/// grouping; from 1E+15 and below 1E-4 in the form "1.5E+20".
std::string GeneralNumberText(const DecimalValue& value, const LocaleInfo& locale);

}  // namespace vantrelle
