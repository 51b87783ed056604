#include "server/mailer.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace vantrelle::server {
namespace {

TEST(HeaderText, PlainTextStaysAndLongTextIsCutIntoShortEncodedWords) {
  EXPECT_EQ("Monthly sales (2026-12)", HeaderText("Monthly sales (2026-12)"));
  EXPECT_EQ("two  lines", HeaderText("two\r\nlines"));
  EXPECT_EQ("=?UTF-8?B?w6l0w6k=?=", HeaderText("été"));
  // Plain text that would read as an encoded word is encoded itself.
  EXPECT_EQ("=?UTF-8?B?PT9VVEYtOD9CP2FHaz0/PQ==?=", HeaderText("=?UTF-8?B?aGk=?="));
  for (const std::string& long_text : {std::string(1000, 'x'), [] {
         std::string text;
         for (int i = 0; i < 500; ++i) text += "é";
         return text;
       }()}) {
    const std::string header = HeaderText(long_text);
    EXPECT_LT(header.size(), 400u);
    std::istringstream words(header);
    for (std::string word; words >> word;) {
      if (word.starts_with("=?")) {
        EXPECT_LE(word.size(), 75u) << word;
      }
    }
  }
}

}  // namespace
}  // namespace vantrelle::server
