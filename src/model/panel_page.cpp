#include "model/panel_page.h"

namespace dorvik {

namespace {
struct PageInfo {
  PanelPage page;
  std::string_view raw;
  std::string_view title;
  std::string_view symbol;
};

constexpr std::array<PageInfo, 23> kPages{{
    {PanelPage::planning, "planning", "Новое планирование", "map"},
    {PanelPage::live, "live", "Маршруты", "point.topleft.down.to.point.bottomright.curvepath"},
    {PanelPage::orders, "orders", "Заказы", "shippingbox"},
    {PanelPage::trackers, "trackers", "GPS-трекеры", "location"},
    {PanelPage::reports, "reports", "Отчёты", "chart.bar.xaxis"},
    {PanelPage::vehicles, "vehicles", "Курьеры", "person.2"},
    {PanelPage::clients, "clients", "Библиотека", "person.crop.rectangle.stack"},
    {PanelPage::addresses, "addresses", "Адреса", "mappin.and.ellipse"},
    {PanelPage::zones, "zones", "Геозоны", "square.dashed"},
    {PanelPage::shifts, "shifts", "Смены и выплаты", "calendar"},
    {PanelPage::documents, "documents", "Документы", "doc.text"},
    {PanelPage::integrations, "integrations", "Интеграции", "network"},
    {PanelPage::companies, "companies", "Компании", "building.2"},
    {PanelPage::history, "history", "История", "clock.arrow.circlepath"},
    {PanelPage::overview, "overview", "Дашборд", "square.grid.2x2"},
    {PanelPage::monitorMap, "monitorMap", "Карта", "map.fill"},
    {PanelPage::crew, "crew", "Курьеры", "person.2.wave.2"},
    {PanelPage::transport, "transport", "Транспорт", "truck.box"},
    {PanelPage::appSettings, "appSettings", "Настройки приложения", "iphone"},
    {PanelPage::depotsAdmin, "depotsAdmin", "Склады", "building.2.crop.circle"},
    {PanelPage::people, "people", "Доступы", "key"},
    {PanelPage::settings, "settings", "Настройки", "gearshape"},
    {PanelPage::help, "help", "Помощь", "questionmark.circle"},
}};

const PageInfo& info(PanelPage page) { return kPages[static_cast<std::size_t>(page)]; }
}  // namespace

const std::array<PanelPage, 23>& allPanelPages() {
  static const std::array<PanelPage, 23> pages = [] {
    std::array<PanelPage, 23> list{};
    for (std::size_t i = 0; i < kPages.size(); ++i) list[i] = kPages[i].page;
    return list;
  }();
  return pages;
}

std::string_view rawValue(PanelPage page) { return info(page).raw; }
std::string_view title(PanelPage page) { return info(page).title; }
std::string_view symbol(PanelPage page) { return info(page).symbol; }

bool pageShownTo(PanelPage page, std::string_view role) {
  switch (page) {
    case PanelPage::companies:
    case PanelPage::depotsAdmin:
    case PanelPage::people:
      return role == "superadmin";
    default:
      return true;
  }
}

bool isAdministrator(std::string_view role) { return role == "admin" || role == "superadmin"; }

std::optional<PanelPage> panelPageFromRawValue(std::string_view raw) {
  for (const auto& p : kPages) {
    if (p.raw == raw) return p.page;
  }
  return std::nullopt;
}

}  // namespace dorvik
