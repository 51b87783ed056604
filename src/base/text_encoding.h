// Text files as other systems write them. Configuration files and scripts
// arrive as UTF-8 (with or without a byte-order mark), as UTF-16 little or
// big endian with a byte-order mark, or in the western Windows code page
// (Windows-1252). Everything is decoded to UTF-8 as it is read; a file
// written back can be encoded again in the form it was read in.
#pragma once

#include <string>
#include <string_view>

namespace vantrelle {

enum class TextEncoding {
  kUtf8,         ///< no byte-order mark
  kUtf8Bom,      ///< EF BB BF first
  kUtf16Le,      ///< FF FE first
  kUtf16Be,      ///< FE FF first
  kWindows1252,  ///< no mark and not valid UTF-8
};

/// The encoding named by the byte-order mark at the start of \a bytes;
/// kUtf8 when there is none (the caller then decides between UTF-8 and
/// Windows-1252 by the validity of the whole text).
TextEncoding EncodingFromMark(std::string_view bytes);
/// Length of the byte-order mark of \a encoding (0, 2 or 3).
size_t MarkLength(TextEncoding encoding);

/// True when \a bytes are well-formed UTF-8 (no overlong forms, surrogates
/// or code points past U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

/// Validates UTF-8 arriving in pieces: a sequence may be split between two
/// calls of Feed.
class Utf8Validator {
 public:
  void Feed(std::string_view bytes);
  /// True when everything fed so far is valid and no sequence is open.
  bool Valid() const { return valid_ && pending_ == 0; }

 private:
  bool valid_ = true;
  int pending_ = 0;           // continuation bytes still expected
  unsigned char lower_ = 0x80;  // allowed range of the next continuation byte
  unsigned char upper_ = 0xBF;
};

/// The encoding of a whole file's \a bytes: by its mark, else UTF-8 when
/// valid, else Windows-1252.
TextEncoding DetectEncoding(std::string_view bytes);

/// \a bytes in \a encoding as UTF-8, without the byte-order mark when they
/// start with the one of \a encoding. Unpaired
/// UTF-16 surrogates and a lone last byte become U+FFFD.
std::string DecodeText(std::string_view bytes, TextEncoding encoding);
/// \a bytes, a piece of text past its byte-order mark (a line), as UTF-8.
std::string DecodeUnmarked(std::string_view bytes, TextEncoding encoding);
/// DecodeText with the encoding detected.
std::string DecodeText(std::string_view bytes);

/// The UTF-8 \a text encoded as \a encoding, with its byte-order mark.
/// Returns false when a character has no form in \a encoding
/// (Windows-1252 holds only 251 characters); \a out is then unspecified.
bool EncodeText(std::string_view text, TextEncoding encoding, std::string& out);

/// Appends code point \a cp to \a out as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

/// The Unicode character of Windows-1252 byte \a byte.
char32_t Windows1252ToUnicode(unsigned char byte);

}  // namespace vantrelle
