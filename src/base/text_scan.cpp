#include "base/text_scan.h"

namespace vantrelle {
namespace {

bool IsQuote(char c) { return c == '"' || c == '\''; }

// The character at 1-based \a position.
char At(std::string_view text, int position) { return text[static_cast<size_t>(position) - 1]; }

int Length(std::string_view text) { return static_cast<int>(text.size()); }

}  // namespace

std::string TrimTrailingBlanks(std::string_view text) {
  size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(0, end));
}

void SkipBlanks(std::string_view text, int& position) {
  while (position >= 1 && position <= Length(text)) {
    if (!IsBlank(At(text, position))) return;
    if (position >= Length(text)) return;
    ++position;
  }
}

std::string GetToken(std::string_view text, int& position, bool keep_quotes) {
  SkipBlanks(text, position);
  std::string token;
  const int length = Length(text);
  while (position >= 1 && position <= length) {
    char c = At(text, position);
    if (IsBlank(c)) break;
    if (!IsQuote(c)) {
      token += c;
      ++position;
      continue;
    }
    const char quote = c;
    ++position;
    while (position <= length) {
      char q = At(text, position);
      if (q != quote) {
        token += q;
        ++position;
      } else if (position < length && At(text, position + 1) == quote) {
        // A doubled quote stays doubled and does not end the section.
        token += quote;
        token += quote;
        position += 2;
      } else {
        break;  // the closing quote
      }
    }
    if (keep_quotes) token = quote + token + quote;
    ++position;  // past the closing quote (or further past the end)
  }
  return token;
}

std::string StripComment(std::string_view line) {
  int position = 1;
  SkipBlanks(line, position);
  std::string result;
  const int length = Length(line);
  while (position >= 1 && position <= length) {
    char c = At(line, position);
    if (c == '#') break;
    result += c;
    ++position;
    if (!IsQuote(c)) continue;
    // Copy the quoted section as written, closing quote included; an
    // unclosed section takes the rest of the line, "#" included.
    while (position <= length) {
      char q = At(line, position);
      result += q;
      ++position;
      if (q != c) continue;
      if (position <= length && At(line, position) == c) {
        result += c;
        ++position;
      } else {
        break;
      }
    }
  }
  return TrimTrailingBlanks(result);
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string TrimSpaces(std::string_view text) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string_view::npos) return "";
  size_t end = text.find_last_not_of(' ');
  return std::string(text.substr(begin, end - begin + 1));
}

}  // namespace vantrelle
