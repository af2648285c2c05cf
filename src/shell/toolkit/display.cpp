#include "shell/toolkit/display.h"

#include <array>
#include <utility>

namespace dorvik {

namespace {
constexpr std::array<std::pair<std::string_view, const char*>, 31> kWords{{
    {"planned", "Запланирован"},
    {"active", "В пути"},
    {"finished", "Завершён"},
    {"done", "Выполнен"},
    {"pending", "Ожидает"},
    {"problem", "Проблема"},
    {"online", "На связи"},
    {"offline", "Нет сигнала"},
    {"in_progress", "В пути"},
    {"en_route", "Едет к точке"},
    {"arrived", "На адресе"},
    {"delivered", "Доставлен"},
    {"partial", "Часть мест"},
    {"refused", "Отказ"},
    {"failed", "Не доставлен"},
    {"late", "Опоздание"},
    {"client_absent", "Клиент отсутствует"},
    {"client_refused", "Отказ клиента"},
    {"wrong_address", "Неверный адрес"},
    {"access_denied", "Нет доступа"},
    {"no_time", "Не хватило времени"},
    {"goods_damaged", "Повреждён товар"},
    {"other", "Другое"},
    {"stale", "Устарел"},
    {"never", "Не было сигнала"},
    {"courier", "Курьер"},
    {"logist", "Логист"},
    {"admin", "Администратор"},
    {"shift", "Посменно"},
    {"monthly", "За месяц"},
    {"official", "Официально"},
}};
}  // namespace

const char* displayWord(std::string_view code) {
  for (const auto& [key, word] : kWords)
    if (key == code) return word;
  return nullptr;
}

namespace {
std::string displayed(const JSONValue& value, bool words) {
  if (value.isObject()) return value["name"].string();
  if (value.isArray()) {
    std::string out;
    bool first = true;
    for (const JSONValue& element : value.array()) {
      if (!first) out += ", ";
      first = false;
      out += displayed(element, words);
    }
    return out;
  }
  std::string text = value.string();
  if (const char* word = words ? displayWord(text) : nullptr) return word;
  if (!text.empty()) return text;
  return "—";
}
}  // namespace

std::string display(const JSONValue& value) { return displayed(value, true); }

std::string displayAsIs(const JSONValue& value) { return displayed(value, false); }

int DataColumn::minimumWidth() const {
  struct Width {
    int width;
    std::array<std::string_view, 8> keys;
  };
  static constexpr std::array<Width, 4> kWidths{{
      {220, {"address", "note"}},
      {150, {"fullName", "name", "client", "courier", "courier.name", "title"}},
      {130, {"updatedAt", "plannedArrival", "phone", "phones", "pinned", "ackedCount", "couriersTotal"}},
      {100, {"orderId", "externalRouteId", "login", "status", "source", "role", "lat", "lon"}},
  }};
  for (const Width& row : kWidths)
    for (std::string_view listed : row.keys)
      if (!listed.empty() && listed == key) return row.width;
  return 85;
}

int DataColumn::idealWidth() const { return minimumWidth() + (key == "address" || key == "note" ? 100 : 20); }

std::string rawText(const JSONValue& value) { return value.string(); }

std::string recordCellText(const Record& record, std::string_view key, const CellFormat& format) {
  return format(record.value.path(key));
}

CellText recordCell(std::string key, CellFormat format) {
  return [key = std::move(key), format = std::move(format)](const Record& record) {
    return recordCellText(record, key, format);
  };
}

CellText recordTextCell(std::string key) { return recordCell(std::move(key), rawText); }

std::string DataColumn::text(const Record& record) const { return recordCellText(record, key, format); }

}  // namespace dorvik
