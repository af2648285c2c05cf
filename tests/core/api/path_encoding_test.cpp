#include <gtest/gtest.h>

#include "core/api/path_encoding.h"

using dorvik::encodePathComponent;

TEST(PathEncoding, OrdinaryIdsTravelUnchanged) {
  EXPECT_EQ(encodePathComponent("route42"), "route42");
  EXPECT_EQ(encodePathComponent("ABCxyz0189"), "ABCxyz0189");
  EXPECT_EQ(encodePathComponent("a-b_c.d~e"), "a-b_c.d~e");
  EXPECT_EQ(encodePathComponent(""), "");
}

TEST(PathEncoding, CharactersThatWouldChangeTheAddressAreEncoded) {
  EXPECT_EQ(encodePathComponent("a/b"), "a%2Fb");
  EXPECT_EQ(encodePathComponent("a?b=1"), "a%3Fb%3D1");
  EXPECT_EQ(encodePathComponent("a#b"), "a%23b");
  EXPECT_EQ(encodePathComponent("100%"), "100%25");
  EXPECT_EQ(encodePathComponent("%2F"), "%252F") << "an id that looks encoded is encoded again, not trusted";
  EXPECT_EQ(encodePathComponent("a b"), "a%20b");
  EXPECT_EQ(encodePathComponent("a+b&c;d"), "a%2Bb%26c%3Bd");
  EXPECT_EQ(encodePathComponent("\\"), "%5C");
  EXPECT_EQ(encodePathComponent(std::string("a\0b", 3)), "a%00b");
}

TEST(PathEncoding, CyrillicIsEncodedAsUtf8Bytes) {
  EXPECT_EQ(encodePathComponent("Ёж"), "%D0%81%D0%B6");
  EXPECT_EQ(encodePathComponent("склад 1"), "%D1%81%D0%BA%D0%BB%D0%B0%D0%B4%201");
}

TEST(PathEncoding, IdsMadeOfDotsCannotClimbThePath) {
  EXPECT_EQ(encodePathComponent("."), "%2E");
  EXPECT_EQ(encodePathComponent(".."), "%2E%2E");
  EXPECT_EQ(encodePathComponent("..."), "%2E%2E%2E");
  EXPECT_EQ(encodePathComponent("file.pdf"), "file.pdf");
  EXPECT_EQ(encodePathComponent("../x"), "..%2Fx");
}

TEST(IdEncoding, LettersMarksAndDigitsOfAnyScriptStayEverythingElseIsEscaped) {
  const std::pair<std::string, std::string> cases[] = {
      {"doc1", "doc1"},
      {"doc 1/2", "doc%201%2F2"},
      {"a-b.c_d~e", "a%2Db%2Ec%5Fd%7Ee"},
      {"Склад7", "Склад7"},
      {"и\xCC\x86", "и\xCC\x86"},  // a combining breve stays with its letter
      {"²", "²"},                  // other numbers are digits too
      {"a?b#c%", "a%3Fb%23c%25"},
      {"..", "%2E%2E"},
      {"😀", "%F0%9F%98%80"},
      {"", ""},
      {std::string("\xFF\xFE"), ""},  // not UTF-8: nothing
  };
  for (const auto& [id, encoded] : cases) EXPECT_EQ(dorvik::encodeID(id), encoded) << id;
}
