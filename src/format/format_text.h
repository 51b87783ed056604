// Rendering text with a text section of a format expression (@ & < > !).
#pragma once

#include <string>
#include <string_view>

#include "format/format_expression.h"

namespace vantrelle {

/// Returns \a text in lower case ('<'), upper case ('>') or unchanged (0).
/// Characters are UTF-8; invalid bytes are kept as they are.
std::string ApplyCase(std::string_view text, char letter_case);

/// Renders \a value with the text section \a section: each "@" or "&" takes
/// one character of the value. A shorter value fills them from the right
/// (from the left after "!"), a placeholder without a character showing a
/// blank ("@") or nothing ("&"); a longer value fills them with its first
/// characters in order and the characters left over follow at the end. A
/// section without placeholders shows its literals followed by the value.
std::string RenderText(const FormatSection& section, std::string_view value);

}  // namespace vantrelle
