#include "planning/logic/plan_checks.h"

#include <charconv>
#include <cmath>
#include <iterator>

#include "core/base/map_point.h"
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

}  // namespace

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
    CheckLine entry = line(Kind::review, "order:" + orderID(order), order["title"].string(), order["address"].string());
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
