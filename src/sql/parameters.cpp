#include "sql/parameters.h"

#include <algorithm>
#include <regex>

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
    slot.pattern = ini.Get("PARAMETER", "Pattern" + number);
    const std::string choices = ini.Get("PARAMETER", "Choices" + number);
    for (size_t start = 0; !choices.empty();) {
      const size_t bar = choices.find('|', start);
      slot.choices.push_back(choices.substr(start, bar == std::string::npos ? bar : bar - start));
      if (bar == std::string::npos) break;
      start = bar + 1;
    }
    ++count;
  }
  pub.parameter_count = count;
  for (int k = 0; k < pub.parameter_count && k < pub.command_value_count; ++k)
    pub.parameters[k].value = pub.command_values[k];
}

std::string ParameterValueProblem(const ParameterRecord& parameter) {
  const std::string number = std::to_string(parameter.number);
  const std::string what = "The value \"" + parameter.value + "\" of the parameter " +
                           parameter.name;
  if (!parameter.choices.empty() &&
      std::find(parameter.choices.begin(), parameter.choices.end(), parameter.value) ==
          parameter.choices.end()) {
    std::string allowed;
    for (const std::string& choice : parameter.choices)
      allowed += (allowed.empty() ? "" : "|") + choice;
    return what + " is not one of [PARAMETER] Choices" + number + " \"" + allowed + "\".";
  }
  if (parameter.pattern.empty()) return "";
  try {
    if (!std::regex_match(parameter.value, std::regex(parameter.pattern)))
      return what + " does not match [PARAMETER] Pattern" + number + " \"" + parameter.pattern +
             "\".";
  } catch (const std::regex_error& error) {
    return "[PARAMETER] Pattern" + number + " \"" + parameter.pattern +
           "\" is not a regular expression (" + error.what() + ").";
  }
  return "";
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
