// Trimming typed text and counting its characters: one rule for the sign-in, the password change, the forms and
// the address search.
#include <gtest/gtest.h>

#include "core/base/text.h"

namespace dorvik {
namespace {

TEST(Text, TrimsAsciiAndUnicodeSpacesAndLineBreaksAtTheEndsOnly) {
  EXPECT_EQ(trimmed(" \t\r\n logist \n"), "logist");
  EXPECT_EQ(trimmed("\u00a0\u2028\u3000Тверская\u00a0улица\u2029\u0085\u202f"), "Тверская\u00a0улица");
  EXPECT_EQ(trimmed("\u00a0 \u2007"), "");
  EXPECT_EQ(trimmed(""), "");
  // Broken UTF-8 keeps its bytes and loses ASCII white space only.
  EXPECT_EQ(trimmed(" \xff\xfe "), "\xff\xfe");
}

TEST(Text, CountsCharactersAsAPersonDoes) {
  EXPECT_EQ(characterCount("пароль12"), 8u);
  EXPECT_EQ(characterCount("\u0439"), 1u);
  EXPECT_EQ(characterCount("\u0438\u0306"), 1u);                // "й" decomposed
  EXPECT_EQ(characterCount("\U0001F468\u200D\U0001F469"), 1u);  // one joined emoji
  EXPECT_EQ(characterCount(""), 0u);
  EXPECT_EQ(characterCount("\xff\xfe"), 2u);
}

}  // namespace
}  // namespace dorvik
