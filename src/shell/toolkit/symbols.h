// The desktop icon that stands for each symbol name the screens use (the one table from symbol to a freedesktop /
// Adwaita symbolic icon).
#pragma once

#include <string_view>

namespace dorvik {

// The symbolic icon name of a symbol ("folder" → "folder-open-symbolic"); "image-missing-symbolic" when the
// symbol is not in the table.
std::string_view symbolIcon(std::string_view symbol);

}  // namespace dorvik
