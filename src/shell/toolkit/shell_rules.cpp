#include "shell/toolkit/shell_rules.h"

#include <glib.h>

#include <charconv>
#include <vector>
#include <utility>

#include "shell/toolkit/symbols.h"

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
  if (pageShownTo(P::companies, user["role"].string()))
    sections.push_back({"Dorvik", {P::companies, P::depotsAdmin, P::people}});
  sections.push_back({"Параметры", {P::settings, P::integrations, P::help}});
  return sections;
}

std::string_view iconName(PanelPage page) { return symbolIcon(symbol(page)); }

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

std::string sourceText(bool offline, const std::string& baseURL) {
  if (offline) return "Локальные данные";
  GUri* uri = baseURL.empty() ? nullptr : g_uri_parse(baseURL.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!uri) return kDefaultServerHost;
  const char* host = g_uri_get_host(uri);
  std::string text = host ? host : "";
  // An IPv6 address keeps its brackets, so that a port after it reads as one.
  if (text.find(':') != std::string::npos) text = "[" + text + "]";
  const int port = g_uri_get_port(uri);
  const std::string scheme = g_uri_get_scheme(uri);
  const int usual = scheme == "https" ? 443 : scheme == "http" ? 80 : -1;
  if (port > 0 && port != usual) text += ":" + std::to_string(port);
  g_uri_unref(uri);
  return text.empty() ? std::string(kDefaultServerHost) : text;
}

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

namespace {

// A CSS number with at most two decimals, whatever the process locale.
std::string cssNumber(double value) {
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
  std::string number = ec == std::errc() ? std::string(text, end) : "0";
  while (number.find('.') != std::string::npos && (number.back() == '0' || number.back() == '.')) number.pop_back();
  return number;
}

}  // namespace

std::string shellStyleSheet(const std::string& accent, double textSize, bool dark) {
  const std::string color = accentColor(accent, dark);
  const double size = textSize > 0 && textSize < 100 ? textSize : 13.0;
  const double scale = size / 13.0;
  const std::string foreground = accent == "graphite" ? (dark ? "#000000" : "#ffffff") : "#ffffff";
  std::string css = "@define-color accent_color " + color + ";\n@define-color accent_bg_color " + color +
                    ";\n@define-color accent_fg_color " + foreground + ";\n";
  // The main window's text and that of the sheets opened over it follow the desktop's font, scaled; the desktop's
  // text styles name sizes of their own, which are scaled alike so that headings, captions and table headers grow
  // with the rest.
  const auto scoped = [](const std::string& selector) {
    return "window.dorvik-main" + selector + ", window.dorvik-sheet" + selector;
  };
  css += scoped("") + " { font-size: " + cssNumber(scale * 100) + "%; }\n";
  static const std::vector<std::pair<std::string, double>> styles{
      {".large-title", 24},
      {".title-1", 20},
      {".title-2", 15},
      {".title-3", 15},
      {".title-4", 13},
      {".heading", 11},
      {".body", 11},
      {".caption-heading", 9},
      {".caption", 9},
      {"columnview.view > header > button > box", 9},
      {"statuspage.compact > scrolledwindow > viewport > box > clamp > box > .title", 18}};
  for (const auto& [selector, points] : styles)
    css += scoped(" " + selector) + " { font-size: " + cssNumber(points * scale) + "pt; }\n";
  // No table sorts by its columns: their titles do not light up under the pointer as if they could be pressed.
  css += scoped(" columnview.view > header > button:hover > box") + ", " +
         scoped(" columnview.view > header > button:active > box") + " { color: alpha(currentColor, 0.4); }\n";
  // The cards over a map lie on the map page, which stays light in either theme: they take the theme's opaque
  // popover colours (a card's own background is a translucent tint).
  css += ".map-card { background-color: @popover_bg_color; color: @popover_fg_color; }\n";
  css += std::string(".dorvik-orange { color: ") + (dark ? "#ff7800" : "#e66100") +
         "; }\n.dorvik-banner { background-color: alpha(" + (dark ? "#ff7800" : "#e66100") + ", 0.08); }\n";
  return css;
}

}  // namespace dorvik
