#include "shell/toolkit/display.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
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

namespace {

// Takes `amount` pixels off the columns at `which`, each in proportion to what it can give above its minimum;
// rounding leftovers come off the first that still can give. Answers what could not be taken.
long long narrow(std::vector<int>& widths, const std::vector<int>& lo, const std::vector<std::size_t>& which,
                 long long amount) {
  long long room = 0;
  for (std::size_t i : which) room += widths[i] - lo[i];
  if (room <= 0) return amount;
  const long long taken = std::min(amount, room);
  long long given = 0;
  for (std::size_t i : which) {
    const long long share = (widths[i] - lo[i]) * taken / room;
    widths[i] -= static_cast<int>(share);
    given += share;
  }
  for (std::size_t i : which) {
    const long long more = std::min<long long>(widths[i] - lo[i], taken - given);
    widths[i] -= static_cast<int>(more);
    given += more;
  }
  return amount - taken;
}

// Adds `amount` pixels to the columns at `which` in equal shares, each up to its maximum. Answers what is left.
long long widen(std::vector<int>& widths, const std::vector<int>& hi, const std::vector<std::size_t>& which,
                long long amount) {
  while (amount > 0) {
    std::vector<std::size_t> growing;
    for (std::size_t i : which)
      if (widths[i] < hi[i]) growing.push_back(i);
    if (growing.empty()) break;
    const long long share = std::max<long long>(amount / static_cast<long long>(growing.size()), 1);
    for (std::size_t i : growing) {
      const long long add = std::min({share, static_cast<long long>(hi[i]) - widths[i], amount});
      widths[i] += static_cast<int>(add);
      amount -= add;
      if (amount == 0) break;
    }
  }
  return amount;
}

}  // namespace

std::vector<int> columnWidths(const std::vector<ColumnSpan>& columns, int available, double scale) {
  constexpr int kEndless = std::numeric_limits<int>::max();
  const auto scaled = [scale](int width) { return static_cast<int>(std::lround(std::max(width, 0) * scale)); };
  std::vector<int> lo, widths, hi;
  std::vector<std::size_t> endless, others;
  long long lows = 0, ideals = 0;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const ColumnSpan& c = columns[i];
    const int ideal = scaled(c.ideal);
    lo.push_back(std::min(scaled(c.min), ideal));
    widths.push_back(ideal);
    hi.push_back(c.max < 0 ? kEndless : std::max(scaled(c.max), ideal));
    (c.max < 0 ? endless : others).push_back(i);
    lows += lo.back();
    ideals += ideal;
  }
  if (available <= lows) return lo;
  // The columns without end give first and take last: they hold what is left once the others have their share.
  if (available < ideals) {
    narrow(widths, lo, others, narrow(widths, lo, endless, ideals - available));
  } else {
    widen(widths, hi, endless, widen(widths, hi, others, available - ideals));
  }
  return widths;
}

}  // namespace dorvik
