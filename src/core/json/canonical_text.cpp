#include <glib.h>

#include "core/json/json_internal.h"
#include "core/json/json_value.h"

namespace dorvik {

namespace {
// GLib stops at a zero byte, which a JSON text may hold ("\u0000"): normalise the pieces between them.
void appendCanonical(std::string& out, std::string_view piece) {
  if (isAsciiText(piece)) {
    out.append(piece);
    return;
  }
  gchar* normal = g_utf8_normalize(piece.data(), static_cast<gssize>(piece.size()), G_NORMALIZE_NFC);
  if (!normal) {
    out.append(piece);  // not valid UTF-8: keep the bytes as they are
    return;
  }
  out.append(normal);
  g_free(normal);
}
}  // namespace

std::string canonicalText(std::string_view text) {
  if (isAsciiText(text)) return std::string(text);
  std::string result;
  result.reserve(text.size());
  for (;;) {
    const std::size_t zero = text.find('\0');
    appendCanonical(result, text.substr(0, zero));
    if (zero == std::string_view::npos) break;
    result.push_back('\0');
    text.remove_prefix(zero + 1);
  }
  return result;
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  if (isAsciiText(a) && isAsciiText(b)) return false;
  return canonicalText(a) == canonicalText(b);
}

}  // namespace dorvik
