#include "sql/parameters.h"

#include <cstdio>

#include "base/ini_file.h"
#include "base/text_scan.h"

namespace vantrelle {

void ReadParameters(PubDef& pub) {
  int16_t count = 0;
  const IniFile ini = IniFile::Load(pub.ini_file_name);
  for (int n = 1; n <= kMaxParameters; ++n) {
    std::string number = std::to_string(n);
    std::string name = ini.Get("PARAMETER", "Name" + number);
    if (name.empty()) continue;
    ParameterRecord& slot = pub.parameters[count];
    slot = ParameterRecord{};
    slot.name = name;
    slot.number = static_cast<int16_t>(n);
    slot.desc = ini.Get("PARAMETER", "Desc" + number);
    slot.value = ini.Get("PARAMETER", "Default" + number);
    ++count;
  }
  pub.parameter_count = count;
  for (int k = 0; k < pub.parameter_count && k < pub.command_value_count; ++k)
    pub.parameters[k].value = pub.command_values[k];
}

std::string SubstituteParameters(const PubDef& pub, std::string_view line) {
  std::string result;
  result.reserve(line.size());
  size_t position = 0;
  while (position < line.size()) {
    const ParameterRecord* match = nullptr;
    for (int k = 0; k < pub.parameter_count; ++k) {
      const ParameterRecord& parameter = pub.parameters[k];
      if (!parameter.name.empty() && line.substr(position).starts_with(parameter.name)) {
        match = &parameter;
        break;
      }
    }
    if (match != nullptr) {
      result += match->value;
      position += match->name.size();
    } else {
      result += line[position++];
    }
  }
  return TrimTrailingBlanks(result);
}

std::string ExpandDateMacros(std::string_view text, const std::tm& now) {
  std::string result;
  bool after_ampersand = false;
  for (char c : text) {
    if (!after_ampersand) {
      if (c == '&')
        after_ampersand = true;
      else
        result += c;
      continue;
    }
    after_ampersand = false;
    char part[8] = "";
    switch (c) {
      case 'Y': case 'y': std::snprintf(part, sizeof part, "%04d", (now.tm_year + 1900) % 10000); break;
      case 'M': case 'm': std::snprintf(part, sizeof part, "%02d", (now.tm_mon + 1) % 100); break;
      case 'D': case 'd': std::snprintf(part, sizeof part, "%02d", now.tm_mday % 100); break;
      case 'H': case 'h': std::snprintf(part, sizeof part, "%02d", now.tm_hour % 100); break;
      case 'N': case 'n': std::snprintf(part, sizeof part, "%02d", now.tm_min % 100); break;
      case 'S': case 's': std::snprintf(part, sizeof part, "%02d", now.tm_sec % 100); break;
      default: break;  // an unknown macro vanishes with its "&"
    }
    result += part;
  }
  return result;
}

}  // namespace vantrelle
