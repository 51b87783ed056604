#include "base/text_encoding.h"

namespace vantrelle {
namespace {

// Bytes 0x80..0x9F of Windows-1252. The five bytes the code page leaves
// undefined map to the control characters of the same value, as Windows
// itself converts them.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char32_t kReplacement = 0xFFFD;

// Decodes the next UTF-8 character of \a text at \a pos (valid input).
char32_t NextUtf8(std::string_view text, size_t& pos) {
  unsigned char lead = static_cast<unsigned char>(text[pos++]);
  if (lead < 0x80) return lead;
  int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
  char32_t cp = lead & (0x3F >> extra);
  for (int i = 0; i < extra && pos < text.size(); ++i)
    cp = (cp << 6) | (static_cast<unsigned char>(text[pos++]) & 0x3F);
  return cp;
}

std::string DecodeUtf16(std::string_view bytes, bool little_endian) {
  std::string out;
  out.reserve(bytes.size());
  auto unit = [&](size_t i) -> char16_t {
    unsigned char a = static_cast<unsigned char>(bytes[i]);
    unsigned char b = static_cast<unsigned char>(bytes[i + 1]);
    return little_endian ? static_cast<char16_t>(a | (b << 8))
                         : static_cast<char16_t>((a << 8) | b);
  };
  size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    char16_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
      char16_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(out, u >= 0xD800 && u <= 0xDFFF ? kReplacement : char32_t(u));
  }
  if (i < bytes.size()) AppendUtf8(out, kReplacement);
  return out;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char32_t Windows1252ToUnicode(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHighControls[byte - 0x80];
  return byte;
}

TextEncoding EncodingFromMark(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) return TextEncoding::kUtf8Bom;
  if (bytes.starts_with("\xFF\xFE")) return TextEncoding::kUtf16Le;
  if (bytes.starts_with("\xFE\xFF")) return TextEncoding::kUtf16Be;
  return TextEncoding::kUtf8;
}

size_t MarkLength(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::kUtf8Bom:
      return 3;
    case TextEncoding::kUtf16Le:
    case TextEncoding::kUtf16Be:
      return 2;
    default:
      return 0;
  }
}

void Utf8Validator::Feed(std::string_view bytes) {
  for (char ch : bytes) {
    if (!valid_) return;
    unsigned char c = static_cast<unsigned char>(ch);
    if (pending_ > 0) {
      if (c < lower_ || c > upper_) {
        valid_ = false;
        return;
      }
      --pending_;
      lower_ = 0x80;
      upper_ = 0xBF;
      continue;
    }
    if (c < 0x80) continue;
    if (c >= 0xC2 && c <= 0xDF) {
      pending_ = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      pending_ = 2;
      if (c == 0xE0) lower_ = 0xA0;  // no overlong forms
      if (c == 0xED) upper_ = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      pending_ = 3;
      if (c == 0xF0) lower_ = 0x90;
      if (c == 0xF4) upper_ = 0x8F;  // nothing past U+10FFFF
    } else {
      valid_ = false;
    }
  }
}

bool IsValidUtf8(std::string_view bytes) {
  Utf8Validator validator;
  validator.Feed(bytes);
  return validator.Valid();
}

TextEncoding DetectEncoding(std::string_view bytes) {
  TextEncoding marked = EncodingFromMark(bytes);
  if (marked != TextEncoding::kUtf8) return marked;
  return IsValidUtf8(bytes) ? TextEncoding::kUtf8 : TextEncoding::kWindows1252;
}

std::string DecodeText(std::string_view bytes, TextEncoding encoding) {
  if (EncodingFromMark(bytes) == encoding) bytes.remove_prefix(MarkLength(encoding));
  return DecodeUnmarked(bytes, encoding);
}

std::string DecodeUnmarked(std::string_view bytes, TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::kUtf16Le:
      return DecodeUtf16(bytes, true);
    case TextEncoding::kUtf16Be:
      return DecodeUtf16(bytes, false);
    case TextEncoding::kWindows1252: {
      std::string out;
      out.reserve(bytes.size() + bytes.size() / 4);
      for (char c : bytes) AppendUtf8(out, Windows1252ToUnicode(static_cast<unsigned char>(c)));
      return out;
    }
    default:
      return std::string(bytes);
  }
}

std::string DecodeText(std::string_view bytes) { return DecodeText(bytes, DetectEncoding(bytes)); }

bool EncodeText(std::string_view text, TextEncoding encoding, std::string& out) {
  out.clear();
  switch (encoding) {
    case TextEncoding::kUtf8:
      out.assign(text);
      return true;
    case TextEncoding::kUtf8Bom:
      out = "\xEF\xBB\xBF";
      out.append(text);
      return true;
    case TextEncoding::kUtf16Le:
    case TextEncoding::kUtf16Be: {
      const bool le = encoding == TextEncoding::kUtf16Le;
      auto put = [&](char16_t u) {
        char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += le ? lo : hi;
        out += le ? hi : lo;
      };
      put(0xFEFF);
      for (size_t pos = 0; pos < text.size();) {
        char32_t cp = NextUtf8(text, pos);
        if (cp >= 0x10000) {
          put(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
          put(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
          put(static_cast<char16_t>(cp));
        }
      }
      return true;
    }
    case TextEncoding::kWindows1252:
      for (size_t pos = 0; pos < text.size();) {
        char32_t cp = NextUtf8(text, pos);
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
          out += static_cast<char>(cp);
          continue;
        }
        int byte = 0x80;
        while (byte <= 0x9F && kHighControls[byte - 0x80] != cp) ++byte;
        if (byte > 0x9F) return false;
        out += static_cast<char>(byte);
      }
      return true;
  }
  return false;
}

}  // namespace vantrelle
