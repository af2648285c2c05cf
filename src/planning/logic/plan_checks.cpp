#include "planning/logic/plan_checks.h"

#include <charconv>
#include <cmath>
#include <iterator>
#include <unordered_map>

#include "core/base/map_point.h"
#include "core/base/text.h"
#include "planning/logic/order_rows.h"
#include "planning/logic/planner_screen.h"

namespace dorvik::planning {

namespace {

CheckLine line(CheckLine::Kind kind, std::string key, std::string text, std::string detail = {},
               std::string symbol = {}) {
  CheckLine made;
  made.kind = kind;
  made.key = std::move(key);
  made.text = std::move(text);
  made.detail = std::move(detail);
  made.symbol = std::move(symbol);
  return made;
}

// An order without coordinates as the address list shows it: its address, or why it cannot be found.
std::string addressOf(const JSONValue& order) {
  std::string address = order["address"].string();
  return trimmed(address).empty() ? "нет адреса" : address;
}

}  // namespace

std::vector<UnreadValue> unreadValues(const JSONValue& order) {
  std::vector<UnreadValue> values;
  for (const JSONValue& entry : order["_unread"].array())
    values.push_back({entry["key"].string(), entry["column"].string(), entry["text"].string()});
  return values;
}

std::string orderLabel(const JSONValue& order) {
  const std::string number = trimmed(order["id"].string());
  const std::string title = trimmed(order["title"].string());
  if (number.empty()) return title.empty() ? "Заказ без номера" : "Без номера · " + title;
  return "№" + number + (title.empty() ? "" : " · " + title);
}

std::string unreadText(const UnreadValue& value) {
  return "«" + value.column + "»: «" + value.text + "» — не прочитано";
}

std::vector<CheckLine> orderDataLines(const JSONValue& planner) {
  using Kind = CheckLine::Kind;
  const JSONArray& orders = planner["orders"].array();
  std::unordered_map<std::string, std::size_t> counts;
  counts.reserve(orders.size());
  for (const JSONValue& order : orders) ++counts[trimmed(order["id"].string())];

  std::vector<CheckLine> problems;
  std::size_t ordersToMend = 0;
  for (const JSONValue& order : orders) {
    const std::string id = orderID(order);
    const std::string number = trimmed(order["id"].string());
    const JSONValue& row = order["_row"];
    const std::string where = row.isNumber() ? "Строка " + row.string() + ": " : "";
    const std::size_t before = problems.size();
    auto add = [&](std::string what, std::string text) {
      CheckLine entry = line(Kind::problem, "problem:" + id + ":" + what, orderLabel(order), where + text);
      entry.id = id;
      problems.push_back(std::move(entry));
    };
    if (number.empty()) add("number", "нет номера заказа");
    else if (const std::size_t same = counts[number]; same > 1)
      add("repeated", "номер повторяется: заказов с ним — " + std::to_string(same));
    for (const UnreadValue& value : unreadValues(order)) add("unread:" + value.key, unreadText(value));
    if (problems.size() > before) ++ordersToMend;
  }

  std::vector<CheckLine> lines;
  lines.push_back(line(Kind::section, "data", "Данные заказов"));
  const std::string summary = planner["importSummary"].string();
  if (!summary.empty()) lines.push_back(line(Kind::note, "data.summary", summary));
  lines.push_back(ordersToMend == 0
                      ? line(Kind::status, "data.state", "Номера заказов не повторяются, все значения прочитаны", {},
                             "checkmark.circle")
                      : line(Kind::status, "data.state", "Требуют проверки: " + std::to_string(ordersToMend), {},
                             "exclamationmark.circle"));
  std::move(problems.begin(), problems.end(), std::back_inserter(lines));
  return lines;
}

std::string fixedDecimals(double value, int decimals) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buffer[400];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

std::string routeLimit(const JSONValue& route) {
  const double over = route["over"].doubleValue().value_or(0);
  const double km = route["km"].doubleValue().value_or(0);
  return fixedDecimals(over, 0) + " мин опоздания · " + fixedDecimals(km, 1) + " км";
}

std::vector<CheckLine> checkLines(const JSONValue& planner, const std::vector<Record>& routes) {
  using Kind = CheckLine::Kind;
  const JSONArray& orders = planner["orders"].array();
  std::vector<CheckLine> review;
  for (const JSONValue& order : orders) {
    if (MapPoint::from(order)) continue;
    CheckLine entry = line(Kind::review, "order:" + orderID(order), order["title"].string(), addressOf(order));
    entry.id = orderID(order);
    review.push_back(std::move(entry));
  }

  std::vector<CheckLine> lines;
  lines.push_back(line(Kind::section, "ready", "Готовность плана"));
  lines.push_back(line(Kind::status, "ready.coordinates",
                       "Заказов с координатами: " + std::to_string(orders.size() - review.size()) + " из " +
                           std::to_string(orders.size()),
                       {}, review.empty() ? "checkmark.circle" : "exclamationmark.circle"));
  const bool depot = !planner["depot"].isNull();
  lines.push_back(line(Kind::status, "ready.depot", depot ? "Склад указан" : "Укажите склад", {},
                       depot ? "checkmark.circle" : "exclamationmark.circle"));
  lines.push_back(line(Kind::status, "ready.unassigned",
                       std::to_string(planner["unassigned"].array().size()) + " заказов не назначено"));
  lines.push_back(
      line(Kind::note, "ready.estimate", "Без уточнения по дорогам расстояние и время являются расчётной оценкой."));
  std::vector<CheckLine> data = orderDataLines(planner);
  std::move(data.begin(), data.end(), std::back_inserter(lines));

  lines.push_back(line(Kind::section, "review", "Нужна проверка адреса"));
  std::move(review.begin(), review.end(), std::back_inserter(lines));

  lines.push_back(line(Kind::section, "limits", "Ограничения маршрутов"));
  for (std::size_t i = 0; i < routes.size(); ++i)
    lines.push_back(line(Kind::limit, "limit." + std::to_string(i), routes[i].value.path("vehicle.ref").string(),
                         routeLimit(routes[i].value)));
  return lines;
}

void reviewOrder(PlannerScreen& screen, const std::string& id) {
  screen.model()->setSelectedOrders({id});
  screen.setTab("map");
  screen.setInspector(true);
}

}  // namespace dorvik::planning
