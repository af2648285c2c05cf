#include "core/api/path_encoding.h"

#include <algorithm>

namespace dorvik {

namespace {
bool keptAsIs(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == '~';
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

}  // namespace dorvik
