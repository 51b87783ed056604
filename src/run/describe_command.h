// `vantrelle --describe [--json] template.docx`: what a template holds, for
// the author of a report's scripts (see word/template_outline.h).
#pragma once

#include <string>
#include <vector>

namespace vantrelle {

/// Runs the describe form; \a words are the words after "--describe": the
/// template's path and, before or after it, "--json". Prints the outline to
/// standard output. Returns 0, 1 when the template cannot be opened (the
/// reason on standard error), 2 for a wrong command line.
int DescribeCommand(const std::vector<std::string>& words);

}  // namespace vantrelle
