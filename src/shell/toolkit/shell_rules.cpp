#include "shell/toolkit/shell_rules.h"

#include <glib.h>

#include <charconv>
#include <vector>

namespace dorvik {

std::vector<SidebarSection> sidebarSections(const JSONValue& user) {
  using P = PanelPage;
  std::vector<SidebarSection> sections{
      {"Планирование", {P::planning, P::history}},
      {"Мониторинг", {P::overview, P::live, P::orders, P::monitorMap, P::crew, P::trackers}},
      {"Отчёты", {P::reports}},
      {"Справочники", {P::clients, P::addresses, P::zones, P::transport}},
      {"Приложение", {P::vehicles, P::shifts, P::appSettings, P::documents}},
  };
  if (user["role"].string() == "superadmin") sections.push_back({"Dorvik", {P::companies, P::depotsAdmin, P::people}});
  sections.push_back({"Параметры", {P::settings, P::integrations, P::help}});
  return sections;
}

std::string_view iconName(PanelPage page) {
  switch (page) {
    case PanelPage::planning:
      return "find-location-symbolic";
    case PanelPage::live:
      return "mail-send-symbolic";
    case PanelPage::orders:
      return "package-x-generic-symbolic";
    case PanelPage::trackers:
      return "mark-location-symbolic";
    case PanelPage::reports:
      return "x-office-spreadsheet-symbolic";
    case PanelPage::vehicles:
      return "system-users-symbolic";
    case PanelPage::clients:
      return "x-office-address-book-symbolic";
    case PanelPage::addresses:
      return "mark-location-symbolic";
    case PanelPage::zones:
      return "view-grid-symbolic";
    case PanelPage::shifts:
      return "x-office-calendar-symbolic";
    case PanelPage::documents:
      return "text-x-generic-symbolic";
    case PanelPage::integrations:
      return "network-workgroup-symbolic";
    case PanelPage::companies:
      return "go-home-symbolic";
    case PanelPage::history:
      return "document-open-recent-symbolic";
    case PanelPage::overview:
      return "view-app-grid-symbolic";
    case PanelPage::monitorMap:
      return "find-location-symbolic";
    case PanelPage::crew:
      return "avatar-default-symbolic";
    case PanelPage::transport:
      return "media-playback-start-symbolic";
    case PanelPage::appSettings:
      return "phone-symbolic";
    case PanelPage::depotsAdmin:
      return "user-home-symbolic";
    case PanelPage::people:
      return "dialog-password-symbolic";
    case PanelPage::settings:
      return "emblem-system-symbolic";
    case PanelPage::help:
      return "help-about-symbolic";
  }
  return "image-missing-symbolic";
}

std::string connectionText(bool preview, bool offline) {
  if (preview) return "Просмотр примера";
  if (offline) return "Нет соединения";
  return "Подключено";
}

std::string statusText(const std::string& status) { return status.empty() ? "Готово к работе" : status; }

std::string pendingText(std::size_t pending) {
  if (pending == 0) return {};
  return "Исправлений к отправке: " + std::to_string(pending);
}

std::string sourceText(bool offline) { return offline ? "Локальные данные" : kDefaultServerHost; }

bool canSignIn(const std::string& login, const std::string& password, bool busy) {
  return !busy && !login.empty() && !password.empty();
}

bool canSavePassword(const std::string& password, const std::string& repeated, bool busy) {
  return !busy && characterCount(password) >= 8 && canonicallyEqual(password, repeated);
}

const std::vector<std::string>& accentKeys() {
  static const std::vector<std::string> keys{"orange", "green", "blue", "red", "graphite"};
  return keys;
}

std::string accentName(const std::string& key) {
  if (key == "orange") return "Оранжевый";
  if (key == "green") return "Зелёный";
  if (key == "blue") return "Синий";
  if (key == "red") return "Красный";
  if (key == "graphite") return "Графит";
  return key;
}

std::string accentColor(const std::string& key, bool dark) {
  if (key == "green") return dark ? "#30d158" : "#28a745";
  if (key == "blue") return dark ? "#0a84ff" : "#007aff";
  if (key == "red") return dark ? "#ff453a" : "#ff3b30";
  if (key == "graphite") return dark ? "#ffffff" : "#000000";
  return "#ed5c0d";  // 0.93, 0.36, 0.05
}

std::string shellStyleSheet(const std::string& accent, double textSize, bool dark) {
  const std::string color = accentColor(accent, dark);
  char size[32];
  auto [end, ec] = std::to_chars(size, size + sizeof size, textSize > 0 && textSize < 100 ? textSize : 13.0);
  std::string points = ec == std::errc() ? std::string(size, end) : "13";
  const std::string foreground = accent == "graphite" ? (dark ? "#000000" : "#ffffff") : "#ffffff";
  return "@define-color accent_color " + color + ";\n@define-color accent_bg_color " + color +
         ";\n@define-color accent_fg_color " + foreground + ";\nwindow.dorvik-main { font-size: " + points +
         "pt; }\n.dorvik-orange { color: " + (dark ? "#ff7800" : "#e66100") +
         "; }\n.dorvik-banner { background-color: alpha(" + (dark ? "#ff7800" : "#e66100") + ", 0.08); }\n";
}

}  // namespace dorvik
