#include "core/base/text.h"

#include <glib.h>
#include <pango/pango.h>

#include <vector>

namespace dorvik {

namespace {
bool asciiSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool space(gunichar c) { return g_unichar_isspace(c) || c == 0x85; }

// Letters whose folded form is their lower case and which need no composition: ASCII, Latin-1 (but for "ß" and
// "µ", which fold to other letters), Cyrillic, and the punctuation of addresses. Nearly every address and client
// name is written in them alone.
bool foldsAlone(gunichar c) {
  return (c >= 0xA0 && c <= 0xFF && c != 0xB5 && c != 0xDF) || (c >= 0x400 && c <= 0x4FF) ||
         (c >= 0x2000 && c <= 0x206F) || c == 0x2116;
}

std::string fullFold(std::string_view text) {
  if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return std::string(text);
  char* folded = g_utf8_casefold(text.data(), static_cast<gssize>(text.size()));
  char* composed = g_utf8_normalize(folded, -1, G_NORMALIZE_NFC);
  std::string out(composed ? composed : folded);
  g_free(composed);
  g_free(folded);
  return out;
}
}  // namespace

std::string trimmed(std::string_view text) {
  if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
    while (!text.empty() && asciiSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && asciiSpace(text.back())) text.remove_suffix(1);
    return std::string(text);
  }
  const char* begin = text.data();
  const char* end = begin + text.size();
  while (begin < end && space(g_utf8_get_char(begin))) begin = g_utf8_next_char(begin);
  while (end > begin) {
    const char* last = g_utf8_find_prev_char(begin, end);
    if (!last || !space(g_utf8_get_char(last))) break;
    end = last;
  }
  return std::string(begin, end);
}

std::size_t characterCount(std::string_view text) {
  if (text.empty()) return 0;
  if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text.size();
  const glong chars = g_utf8_strlen(text.data(), static_cast<gssize>(text.size()));
  std::vector<PangoLogAttr> attrs(static_cast<std::size_t>(chars) + 1);
  pango_get_log_attrs(text.data(), static_cast<int>(text.size()), -1, pango_language_from_string("ru"), attrs.data(),
                      static_cast<int>(attrs.size()));
  std::size_t count = 0;
  for (glong i = 1; i <= chars; ++i)
    if (attrs[static_cast<std::size_t>(i)].is_cursor_position) ++count;
  return count;
}

std::string foldedText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const char* at = text.data();
  const char* const end = at + text.size();
  while (at < end) {
    const auto byte = static_cast<unsigned char>(*at);
    if (byte < 0x80) {
      out.push_back(g_ascii_tolower(static_cast<char>(byte)));
      ++at;
      continue;
    }
    const gunichar c = g_utf8_get_char_validated(at, end - at);
    if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2) || !foldsAlone(c)) return fullFold(text);
    char bytes[6];
    out.append(bytes, static_cast<std::size_t>(g_unichar_to_utf8(g_unichar_tolower(c), bytes)));
    at = g_utf8_next_char(at);
  }
  return out;
}

}  // namespace dorvik
