#include <glib.h>

#include <algorithm>

#include "core/json/json_value.h"

namespace dorvik {

namespace {
bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}
}  // namespace

std::string canonicalText(std::string_view text) {
  if (isAscii(text)) return std::string(text);
  gchar* normal = g_utf8_normalize(text.data(), static_cast<gssize>(text.size()), G_NORMALIZE_NFC);
  if (!normal) return std::string(text);  // not valid UTF-8: keep the bytes as they are
  std::string result(normal);
  g_free(normal);
  return result;
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  if (isAscii(a) && isAscii(b)) return false;
  return canonicalText(a) == canonicalText(b);
}

}  // namespace dorvik
