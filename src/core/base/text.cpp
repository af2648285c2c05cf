#include "core/base/text.h"

#include <glib.h>
#include <pango/pango.h>

#include <vector>

namespace dorvik {

namespace {
bool asciiSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool space(gunichar c) { return g_unichar_isspace(c) || c == 0x85; }
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

}  // namespace dorvik
