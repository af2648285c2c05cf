#include "planning/logic/planning_routes.h"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <set>
#include <utility>

#include "core/api/failure.h"
#include "core/base/dorvik_date.h"

namespace dorvik::planning {

namespace {

// A number with one decimal and a decimal point, whatever the process locale; 0 when the value has no finite
// reading.
std::string oneDecimal(const JSONValue& value) {
  const std::optional<double> number = value.doubleValue();
  const double shown = number && std::isfinite(*number) ? *number : 0.0;
  char text[G_ASCII_DTOSTR_BUF_SIZE];
  return g_ascii_formatd(text, sizeof text, "%.1f", shown);
}

// The order a stop stands for, or none when its position lies outside the plan.
const JSONValue* stopOrder(const JSONValue& stop, const JSONValue& planner) {
  const JSONArray& orders = planner["orders"].array();
  const std::int64_t index = stop["index"].intValue();
  if (index < 0 || index >= static_cast<std::int64_t>(orders.size())) return nullptr;
  return &orders[static_cast<std::size_t>(index)];
}

// Plan changes report their own failures; only one that escapes is shown here.
async::Task<void> runChange(std::shared_ptr<AppModel> model, RoutesTab::Mutate mutate, std::string action,
                            JSONValue payload) {
  const std::string generation = model->generation();
  std::exception_ptr failure;
  try {
    async::Task<bool> change = mutate(std::move(action), std::move(payload));
    co_await std::move(change);
  } catch (...) {
    failure = std::current_exception();
  }
  if (!failure || model->generation() != generation) co_return;
  if (auto text = failureText(failure)) model->setError(std::move(*text));
}

}  // namespace

std::optional<Record> currentRoute(const std::vector<Record>& routes, const std::optional<std::string>& selection) {
  if (routes.empty()) return std::nullopt;
  if (selection) {
    for (const Record& route : routes) {
      if (route.id() == *selection) return route;
    }
  }
  return routes.front();
}

RouteRowText routeRowText(const Record& route) {
  RouteRowText text;
  text.courier = route["vehicle.ref"].string();
  text.summary = std::to_string(route["orders"].array().size()) + " заказов · " + oneDecimal(route["km"]) + " км";
  text.finish = "Финиш " + DorvikDate::time(route["end"].doubleValue()) + " · опоздание " +
                std::to_string(route["over"].intValue()) + " мин";
  return text;
}

RouteHeaderText routeHeaderText(const Record& route) {
  return RouteHeaderText{route["vehicle.ref"].string(), "Смена: " + route["vehicle.shift"].string()};
}

StopRowText stopRowText(const JSONValue& stop, const JSONValue& planner) {
  StopRowText text;
  const JSONValue* order = stopOrder(stop, planner);
  if (!order) return text;
  text.shown = true;
  text.arrival = DorvikDate::time(stop["arr"].doubleValue());
  text.title = (*order)["title"].string();
  text.address = (*order)["address"].string();
  const std::int64_t late = stop["late"].intValue();
  text.detail = "Окно " + (*order)["window"].string() + " · ожидание " + std::to_string(stop["wait"].intValue()) +
                " мин · опоздание " + std::to_string(late) + " мин";
  text.late = late >= 1;
  return text;
}

std::vector<std::string> assignItems(const JSONValue& planner) {
  std::vector<std::string> items;
  for (const JSONValue& vehicle : planner["vehicles"].array()) items.push_back(vehicle["ref"].string());
  return items;
}

JSONValue assignPayload(const JSONValue& stop, std::int64_t vehicle) {
  return JSONValue::object(
      {{"indices", JSONValue::array({stop["index"]})}, {"vehicle", JSONValue(static_cast<double>(vehicle))}});
}

std::optional<JSONArray> movedByOffsets(const JSONArray& orders, const std::vector<std::size_t>& sources,
                                        std::size_t destination) {
  if (destination > orders.size()) return std::nullopt;
  const std::set<std::size_t> moving(sources.begin(), sources.end());
  if (!moving.empty() && *moving.rbegin() >= orders.size()) return std::nullopt;
  JSONArray kept, moved;
  std::size_t insertAt = destination;
  for (std::size_t i = 0; i < orders.size(); ++i) {
    if (moving.count(i)) {
      moved.push_back(orders[i]);
      if (i < destination) --insertAt;
    } else {
      kept.push_back(orders[i]);
    }
  }
  kept.insert(kept.begin() + static_cast<std::ptrdiff_t>(insertAt), moved.begin(), moved.end());
  return kept;
}

std::optional<JSONValue> reorderPayload(const Record& route, const std::vector<std::size_t>& sources,
                                        std::size_t destination) {
  const JSONArray& orders = route["orders"].array();
  if (orders.size() != route["stops"].array().size()) return std::nullopt;
  std::optional<JSONArray> moved = movedByOffsets(orders, sources, destination);
  if (!moved) return std::nullopt;
  return JSONValue::object({{"vehicle", route["ci"]}, {"indices", JSONValue(std::move(*moved))}});
}

bool RoutesTab::move(std::size_t source, std::size_t destination) {
  if (!stopsEnabled()) return false;
  const std::optional<Record> route = current();
  if (!route) return false;
  std::optional<JSONValue> payload = reorderPayload(*route, {source}, destination);
  // A drop where the stop already stands changes nothing.
  if (!payload || (*payload)["indices"] == (*route)["orders"]) return false;
  async::spawn(runChange(model_, mutate_, "reorder", std::move(*payload)));
  return true;
}

void RoutesTab::assign(const JSONValue& stop, std::int64_t vehicle) {
  if (!stopsEnabled()) return;
  async::spawn(runChange(model_, mutate_, "assign", assignPayload(stop, vehicle)));
}

}  // namespace dorvik::planning
