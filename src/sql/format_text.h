// Rendering text with a text section of a format expression (@ & < > !).
#pragma once

#include <string>
#include <string_view>

#include "sql/format_expression.h"

namespace vantrelle {

/// Returns \a text in lower case ('<'), upper case ('>') or unchanged (0).
/// Characters are UTF-8; invalid bytes are kept as they are.
std::string ApplyCase(std::string_view text, char letter_case);

/// Renders \a value with the text section \a section: each "@" or "&" takes
/// one character of the value, filled from the right (from the left after
/// "!"); a placeholder without a character shows a blank ("@") or nothing
/// ("&"); characters beyond the placeholders stay together at the leftmost
/// (with "!", the rightmost) one. A section without placeholders shows its
/// literals followed by the value.
std::string RenderText(const FormatSection& section, std::string_view value);

}  // namespace vantrelle
