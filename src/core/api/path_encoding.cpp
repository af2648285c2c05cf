#include "core/api/path_encoding.h"

#include <glib.h>

#include <algorithm>

namespace dorvik {

namespace {
bool keptAsIs(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == '~';
}

bool keptInID(gunichar c) {
  switch (g_unichar_type(c)) {
    case G_UNICODE_LOWERCASE_LETTER:
    case G_UNICODE_MODIFIER_LETTER:
    case G_UNICODE_OTHER_LETTER:
    case G_UNICODE_TITLECASE_LETTER:
    case G_UNICODE_UPPERCASE_LETTER:
    case G_UNICODE_DECIMAL_NUMBER:
    case G_UNICODE_LETTER_NUMBER:
    case G_UNICODE_OTHER_NUMBER:
    case G_UNICODE_SPACING_MARK:
    case G_UNICODE_ENCLOSING_MARK:
    case G_UNICODE_NON_SPACING_MARK:
      return true;
    default:
      return false;
  }
}
}  // namespace

std::string encodePathComponent(std::string_view component) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const bool onlyDots =
      !component.empty() && std::all_of(component.begin(), component.end(), [](char c) { return c == '.'; });
  std::string out;
  out.reserve(component.size() * 3);
  for (char ch : component) {
    const auto c = static_cast<unsigned char>(ch);
    if (keptAsIs(c) && !(onlyDots && c == '.')) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
  return out;
}

std::string encodeID(std::string_view id) {
  if (!g_utf8_validate(id.data(), static_cast<gssize>(id.size()), nullptr)) return {};
  static const char* const hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(id.size());
  const char* p = id.data();
  const char* end = id.data() + id.size();
  while (p < end) {
    const char* next = g_utf8_next_char(p);
    if (keptInID(g_utf8_get_char(p))) {
      out.append(p, next);
    } else {
      for (const char* b = p; b < next; ++b) {
        const auto byte = static_cast<unsigned char>(*b);
        out += '%';
        out += hex[byte >> 4];
        out += hex[byte & 0xF];
      }
    }
    p = next;
  }
  return out;
}

bool hasEmptySegment(std::string_view path) {
  path = path.substr(0, path.find_first_of("?#"));
  if (path.empty() || path.front() != '/') return false;
  return path.size() == 1 || path.back() == '/' || path.find("//") != std::string_view::npos;
}

}  // namespace dorvik
