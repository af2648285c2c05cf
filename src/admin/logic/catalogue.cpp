#include "admin/logic/catalogue.h"

#include <array>
#include <vector>

namespace dorvik::admin {

namespace {

using Kind = FieldSpec::Kind;

// How the day enters a page's endpoint.
enum class DayRule { none, day, range, month };

// A column shows its value as it is unless it holds codes: names, logins, companies' codes, addresses, times and
// counts keep their text, and only statuses, problems, signals, roles and pay modes read as words.
struct Entry {
  PanelPage page;
  const char* endpoint;
  DayRule rule;
  const char* collection;
  std::vector<DataColumn> columns;
  std::vector<FieldSpec> fields;
  bool writable;
};

const std::vector<Entry>& catalogue() {
  static const std::vector<Entry> entries{
      {PanelPage::live,
       "/monitoring/routes?date=",
       DayRule::day,
       "routes",
       {{"externalRouteId", "Маршрут"},
        {"courier.name", "Курьер"},
        {"status", "Статус", display},
        {"points", "Точек"},
        {"closed", "Закрыто"},
        {"problem", "Проблемы", display}},
       {},
       false},
      {PanelPage::orders,
       "/monitoring/orders?date=",
       DayRule::day,
       "orders",
       {{"orderId", "Заказ"},
        {"client", "Клиент"},
        {"address", "Адрес"},
        {"courier", "Курьер"},
        {"status", "Статус", display},
        {"plannedArrival", "Плановое время"}},
       {},
       false},
      {PanelPage::trackers,
       "/monitoring/trackers?date=",
       DayRule::day,
       "trackers",
       {{"courier.name", "Курьер"},
        {"signal", "GPS", display},
        {"ageMinutes", "Минут назад"},
        {"pingCount", "Сигналов"},
        {"lastPing.accuracy", "Точность, м"}},
       {},
       false},
      {PanelPage::reports,
       "/reports/summary?from=",
       DayRule::range,
       "couriers",
       {{"name", "Курьер"},
        {"routes", "Маршрутов"},
        {"orders", "Заказов"},
        {"delivered", "Доставлено"},
        {"problem", "Проблемы"}},
       {},
       false},
      {PanelPage::vehicles,
       "/admin/couriers",
       DayRule::none,
       "couriers",
       {{"fullName", "Имя"}, {"login", "Логин"}, {"phone", "Телефон"}, {"role", "Роль", display}, {"isBlocked", "Заблокирован"}},
       {{"fullName", "Имя", Kind::text, true},
        {"login", "Логин", Kind::text, true},
        {"phone", "Телефон", Kind::text, true},
        {"password", "Новый пароль", Kind::secret, false},
        {"isBlocked", "Заблокирован", Kind::toggle, false}},
       true},
      {PanelPage::clients,
       "/panel/clients",
       DayRule::none,
       "clients",
       {{"name", "Клиент"}, {"phones", "Телефоны"}, {"note", "Примечание"}, {"updatedAt", "Обновлён"}},
       {{"name", "Название", Kind::text, true}, {"note", "Примечание", Kind::longText, false}},
       true},
      {PanelPage::addresses,
       "/panel/addresses?limit=20000",
       DayRule::none,
       "addresses",
       {{"address", "Адрес"},
        {"lat", "Широта"},
        {"lon", "Долгота"},
        {"source", "Источник"},
        {"pinned", "Исправлен вручную"}},
       {{"address", "Адрес", Kind::text, true},
        {"lat", "Широта", Kind::number, true},
        {"lon", "Долгота", Kind::number, true}},
       true},
      {PanelPage::zones,
       "/panel/zones",
       DayRule::none,
       "zones",
       {{"name", "Геозона"}, {"vehicle", "Курьер"}, {"color", "Цвет"}, {"isHidden", "Скрыта"}},
       {{"name", "Название", Kind::text, true},
        {"vehicle", "Логин курьера", Kind::text, false},
        {"color", "Цвет #RRGGBB", Kind::text, false},
        {"isHidden", "Скрыть на карте", Kind::toggle, false}},
       true},
      {PanelPage::shifts,
       "/panel/shifts?month=",
       DayRule::month,
       "rows",
       {{"fullName", "Курьер"}, {"rate", "Ставка"}, {"payMode", "Режим оплаты", display}, {"auto", "Дни маршрутов"}},
       {},
       false},
      {PanelPage::documents,
       "/admin/documents",
       DayRule::none,
       "documents",
       {{"title", "Документ"},
        {"version", "Версия"},
        {"ackedCount", "Ознакомились"},
        {"couriersTotal", "Всего курьеров"},
        {"updatedAt", "Обновлён"}},
       {{"title", "Название", Kind::text, true},
        {"body", "Содержание", Kind::longText, false},
        {"requiresAck", "Требовать ознакомление", Kind::toggle, false},
        {"isActive", "Опубликован", Kind::toggle, false}},
       true},
      {PanelPage::companies,
       "/staff/companies",
       DayRule::none,
       "companies",
       {{"name", "Компания"},
        {"id", "Код"},
        {"people", "Сотрудников"},
        {"routes", "Маршрутов"},
        {"isActive", "Активна"}},
       {{"id", "Код компании", Kind::text, true},
        {"name", "Название", Kind::text, true},
        {"tariffNote", "Тариф", Kind::longText, false},
        {"isActive", "Активна", Kind::toggle, false}},
       true},
  };
  return entries;
}

const Entry* entryOf(PanelPage page) {
  for (const Entry& entry : catalogue())
    if (entry.page == page) return &entry;
  return nullptr;
}

}  // namespace

DataScreen DataScreen::configuration(PanelPage page, std::string_view day) {
  const Entry* entry = entryOf(page);
  if (!entry) return DataScreen{"/integrations/settings", "", {}, {}, false};
  std::string endpoint = entry->endpoint;
  switch (entry->rule) {
    case DayRule::none:
      break;
    case DayRule::day:
      endpoint += day;
      break;
    case DayRule::range:
      endpoint.append(day).append("&to=").append(day);
      break;
    case DayRule::month:
      endpoint += day.substr(0, 7);
      break;
  }
  return DataScreen{std::move(endpoint), entry->collection, entry->columns, entry->fields, entry->writable};
}

bool isDated(PanelPage page) {
  const Entry* entry = entryOf(page);
  return entry && entry->rule != DayRule::none;
}

DetailKind detailKind(PanelPage page) {
  switch (page) {
    case PanelPage::live:
    case PanelPage::orders:
      return DetailKind::routeDetail;
    case PanelPage::trackers:
      return DetailKind::routeTrack;
    case PanelPage::vehicles:
      return DetailKind::courierFiles;
    case PanelPage::documents:
      return DetailKind::documentDetails;
    default:
      return DetailKind::readable;
  }
}

bool activationEdits(PanelPage page) {
  const Entry* entry = entryOf(page);
  return entry && entry->writable && page != PanelPage::documents;
}

std::optional<SelectionAction> selectionAction(PanelPage page) {
  if (page == PanelPage::vehicles) return SelectionAction{"Файлы курьера", "paperclip"};
  if (page == PanelPage::documents) return SelectionAction{"Ознакомление", "checkmark.seal"};
  return std::nullopt;
}

bool mayWrite(PanelPage page, std::string_view role) {
  switch (page) {
    case PanelPage::vehicles:
    case PanelPage::documents:
    case PanelPage::companies:
    case PanelPage::integrations:
      return isAdministrator(role);
    default:
      return true;
  }
}

bool canAdd(PanelPage page, bool offline, bool preview) { return page == PanelPage::addresses || !offline || preview; }

SaveStrategy saveStrategy(PanelPage page) {
  if (page == PanelPage::zones) return SaveStrategy::zoneList;
  if (page == PanelPage::addresses) return SaveStrategy::addressMemory;
  return SaveStrategy::request;
}

bool deletable(PanelPage page) { return page != PanelPage::addresses && page != PanelPage::companies; }

bool editorBusy(PanelPage page, bool saving, bool preview, bool canWriteServer) {
  if (saving || preview) return true;
  return saveStrategy(page) != SaveStrategy::addressMemory && !canWriteServer;
}

}  // namespace dorvik::admin
