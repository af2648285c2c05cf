// Standard Base64: every length round-trips as GLib writes it; anything but exact Base64 is refused.
#include <gtest/gtest.h>
#include <glib.h>

#include <random>
#include <string>

#include "core/base/base64.h"

using namespace dorvik;

TEST(Base64, RoundTripsEveryLengthAndAgreesWithGLib) {
  std::mt19937 random(7);
  for (std::size_t length = 0; length < 70; ++length) {
    std::string bytes(length, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xff);
    const std::string text = encodeBase64(bytes);
    gchar* reference = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    EXPECT_EQ(text, reference) << length;
    g_free(reference);
    EXPECT_EQ(decodeBase64(text), bytes) << length;
  }
  EXPECT_EQ(decodeBase64(""), std::string());
}

TEST(Base64, AnythingButExactBase64IsRefusedNotShortened) {
  EXPECT_EQ(decodeBase64("QUJDRA=="), std::string("ABCD"));
  for (const char* bad : {"QUJD!A==", "QUJDRA", "QUJDRA=", "QUJD\nRA==", "QUJD RA==", "QU=D",
                          "Q===", "====", "QR==", "QUJ=QUJD", "QUJDRA-_", "QUJDRA==QQ=="}) {
    EXPECT_EQ(decodeBase64(bad), std::nullopt) << bad;
  }
}
