// The pages of the main window's sidebar.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace dorvik {

enum class PanelPage {
  planning,
  live,
  orders,
  trackers,
  reports,
  vehicles,
  clients,
  addresses,
  zones,
  shifts,
  documents,
  integrations,
  companies,
  history,
  overview,
  monitorMap,
  crew,
  transport,
  appSettings,
  depotsAdmin,
  people,
  settings,
  help,
};

// Every page in declaration order (the sidebar's order of all pages).
const std::array<PanelPage, 23>& allPanelPages();
// The page's key: its case name ("monitorMap").
std::string_view rawValue(PanelPage page);
// The page whose key equals the text exactly (case-sensitive, no trimming).
std::optional<PanelPage> panelPageFromRawValue(std::string_view raw);
// The Russian title shown in the sidebar and in screen headers.
std::string_view title(PanelPage page);
// The symbol name of the page's icon (the shell maps it to an icon of the desktop's theme).
std::string_view symbol(PanelPage page);
// Whether a signed-in profile of `role` sees the page: the company, depot and access pages only "superadmin".
bool pageShownTo(PanelPage page, std::string_view role);
// Whether a profile of `role` administers its depot ("admin" or "superadmin"; a logist does not).
bool isAdministrator(std::string_view role);

}  // namespace dorvik
