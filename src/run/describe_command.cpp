#include "run/describe_command.h"

#include <iostream>
#include <new>

#include "base/error.h"
#include "word/template_outline.h"

namespace vantrelle {

int DescribeCommand(const std::vector<std::string>& words) {
  bool json = false;
  std::vector<std::string> paths;
  for (const std::string& word : words) {
    if (word == "--json")
      json = true;
    else
      paths.push_back(word);
  }
  if (paths.size() != 1) {
    std::cerr << "Usage: vantrelle --describe [--json] template.docx\n";
    return 2;
  }
  try {
    TemplateOutline outline = OutlineTemplate(paths[0]);
    std::cout << (json ? DescribeOutlineJson(paths[0], outline)
                       : DescribeOutline(paths[0], outline));
    return 0;
  } catch (const Error& error) {
    std::cerr << "vantrelle: " << error.Description() << "\n";
    return 1;
  } catch (const std::bad_alloc&) {
    std::cerr << "vantrelle: Out of memory\n";
    return 1;
  }
}

}  // namespace vantrelle
