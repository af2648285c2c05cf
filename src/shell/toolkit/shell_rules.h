// Decisions of the main window, the sign-in screens and the appearance settings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/base/text.h"
#include "core/json/json_value.h"
#include "core/settings/user_defaults.h"
#include "model/panel_page.h"

namespace dorvik {

struct SidebarSection {
  std::string title;
  std::vector<PanelPage> pages;
};
// The sidebar's sections for a signed-in profile; "Dorvik" only for the role "superadmin".
std::vector<SidebarSection> sidebarSections(const JSONValue& user);

// The name of the desktop icon that stands for a page's symbol.
std::string_view iconName(PanelPage page);

// The footer's connection line.
std::string connectionText(bool preview, bool offline);
// The status strip: the status or "Готово к работе"; the pending corrections (empty when none); the source.
std::string statusText(const std::string& status);
std::string pendingText(std::size_t pending);
// The source: "Локальные данные" offline; otherwise the host of the server the client speaks to (with its port
// when not the scheme's own), the default server's host while there is no client.
std::string sourceText(bool offline, const std::string& baseURL = {});

// Sign-in: both fields typed (untrimmed) and the model not busy.
bool canSignIn(const std::string& login, const std::string& password, bool busy);

// The new password: at least 8 characters and canonically equal to its repetition.
bool canSavePassword(const std::string& password, const std::string& repeated, bool busy);

// Accent keys in picker order, their Russian names and colours ("#rrggbb"; graphite follows the scheme: empty).
const std::vector<std::string>& accentKeys();
std::string accentName(const std::string& key);
std::string accentColor(const std::string& key, bool dark);

// The stylesheet for the accent and the text size of the main window ("dorvik-main") and of the sheets opened over
// it ("dorvik-sheet"): every text of those windows, the desktop's heading and caption styles included, scaled by the
// chosen size against the standard 13.
std::string shellStyleSheet(const std::string& accent, double textSize, bool dark);

}  // namespace dorvik
