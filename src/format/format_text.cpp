#include "format/format_text.h"

#include <cwctype>
#include <vector>

namespace vantrelle {
namespace {

// Decodes one UTF-8 character at pos; a stray or truncated byte is returned
// as -1 with length 1 so that it is copied unchanged.
int32_t Decode(std::string_view text, size_t pos, size_t& length) {
  unsigned char c = static_cast<unsigned char>(text[pos]);
  length = 1;
  if (c < 0x80) return c;
  size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
  if (need == 0 || pos + need > text.size()) return -1;
  int32_t code = c & (0x7F >> need);
  for (size_t i = 1; i < need; ++i) {
    unsigned char next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0) != 0x80) return -1;
    code = (code << 6) | (next & 0x3F);
  }
  length = need;
  return code;
}

void Encode(uint32_t code, std::string& out) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// Byte offsets of the characters of text, with the end offset last.
std::vector<size_t> CharStarts(std::string_view text) {
  std::vector<size_t> starts;
  starts.reserve(text.size() + 1);
  for (size_t pos = 0; pos < text.size();) {
    starts.push_back(pos);
    size_t length = 1;
    Decode(text, pos, length);
    pos += length;
  }
  starts.push_back(text.size());
  return starts;
}

}  // namespace

std::string ApplyCase(std::string_view text, char letter_case) {
  if (letter_case != '<' && letter_case != '>') return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    size_t length = 1;
    int32_t code = Decode(text, pos, length);
    if (code < 0) {
      out.push_back(text[pos]);
    } else {
      wint_t mapped = letter_case == '<' ? std::towlower(static_cast<wint_t>(code))
                                         : std::towupper(static_cast<wint_t>(code));
      // A mapping outside Unicode would not encode; keep the character then.
      Encode(mapped <= 0x10FFFF ? static_cast<uint32_t>(mapped) : static_cast<uint32_t>(code), out);
    }
    pos += length;
  }
  return out;
}

std::string RenderText(const FormatSection& section, std::string_view value) {
  std::string cased = ApplyCase(value, section.letter_case);
  std::string_view text = cased;
  std::string out;
  out.reserve(text.size() + section.tokens.size() * 2);
  if (section.text_placeholders == 0) {
    for (const FormatToken& token : section.tokens) out.append(token.text);
    out.append(text);
    return out;
  }
  const std::vector<size_t> starts = CharStarts(text);
  const int chars = static_cast<int>(starts.size()) - 1;
  const int placeholders = section.text_placeholders;
  auto append_chars = [&](int from, int to) {  // characters [from, to)
    if (from < to) out.append(text.substr(starts[from], starts[to] - starts[from]));
  };
  // A value longer than the placeholders fills them with its first
  // characters in order and the rest follows at the end. A shorter one is
  // aligned right (left after "!"), "@" showing a blank where it has none.
  const bool longer = chars > placeholders;
  int slot = 0;  // placeholder number from the left
  for (const FormatToken& token : section.tokens) {
    if (token.kind == TokenKind::kLiteral) {
      out.append(token.text);
      continue;
    }
    // The character this placeholder takes, or -1 for none.
    int index;
    if (longer || section.left_to_right) {
      index = slot < chars ? slot : -1;
    } else {
      index = slot - (placeholders - chars);
      if (index < 0) index = -1;
    }
    if (index >= 0) {
      append_chars(index, index + 1);
    } else if (token.kind == TokenKind::kCharOrBlank) {
      out.push_back(' ');
    }
    ++slot;
  }
  if (longer) append_chars(placeholders, chars);
  return out;
}

}  // namespace vantrelle
