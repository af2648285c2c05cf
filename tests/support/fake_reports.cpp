#include "support/fake_reports.h"

#include <cmath>
#include <deque>
#include <map>
#include <vector>

namespace dorvik::testing {

namespace {

// A query member's value ("" when absent).
std::string queryValue(const std::string& query, const std::string& name) {
  std::size_t at = 0;
  while (at <= query.size()) {
    const std::size_t end = std::min(query.find('&', at), query.size());
    const std::string part = query.substr(at, end - at);
    if (part.starts_with(name + "=")) return part.substr(name.size() + 1);
    at = end + 1;
  }
  return {};
}

bool isDay(const std::string& text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

// Counts of one group of routes (a courier, a day, or all).
struct Tally {
  std::int64_t routes = 0, orders = 0, delivered = 0, problems = 0, points = 0, closedPoints = 0;
  double plannedKm = 0;

  double percent(std::int64_t part, std::int64_t whole) const {
    return whole == 0 ? 0 : std::round(1000.0 * static_cast<double>(part) / static_cast<double>(whole)) / 10;
  }
  void add(const JSONValue& route) {
    ++routes;
    plannedKm += route["plannedKm"].doubleValue().value_or(0);
    for (const JSONValue& point : route["points"].array()) {
      ++points;
      const std::string status = point["status"].string();
      if (status == "delivered" || ReportsDesk::isProblem(status)) ++closedPoints;
      for (const JSONValue& order : point["orders"].array()) {
        ++orders;
        const std::string s = order["status"].string();
        if (s == "delivered") ++delivered;
        if (ReportsDesk::isProblem(s)) ++problems;
      }
    }
  }
  JSONValue row(std::string_view key, std::string label) const {
    return JSONValue::object({{key, std::move(label)},
                              {"routes", static_cast<long long>(routes)},
                              {"orders", static_cast<long long>(orders)},
                              {"delivered", static_cast<long long>(delivered)},
                              {"problems", static_cast<long long>(problems)},
                              {"slaPercent", percent(delivered, orders)},
                              {"points", static_cast<long long>(points)},
                              {"completionPercent", percent(closedPoints, points)},
                              {"plannedKm", std::round(plannedKm * 10) / 10}});
  }
};

}  // namespace

struct ReportsDesk::State {
  std::deque<Answer> failures;
};

bool ReportsDesk::isProblem(const std::string& status) {
  return !status.empty() && status != "delivered" && status != "pending" && status != "in_progress";
}

ReportsDesk::ReportsDesk(StandInServer& server, const MonitoringDesk& routes)
    : routes_(routes), state_(std::make_shared<State>()) {
  auto state = state_;
  server.on("GET", "/reports/summary", [this, state](const Hit& hit) {
    if (!state->failures.empty()) {
      Answer a = state->failures.front();
      state->failures.pop_front();
      return a;
    }
    const std::string from = queryValue(hit.query, "from"), to = queryValue(hit.query, "to");
    if (!isDay(from) || !isDay(to) || to < from) return Answer::error(400, "Неверный период отчёта.");
    return Answer::json(summary(from, to));
  });
}

void ReportsDesk::failNext(Answer answer) { state_->failures.push_back(std::move(answer)); }

JSONValue ReportsDesk::summary(const std::string& from, const std::string& to) const {
  Tally total;
  std::vector<std::string> courierOrder;
  std::map<std::string, Tally> couriers;
  std::map<std::string, Tally> days;  // in day order
  JSONArray exceptions;
  for (const std::string& id : routes_.routeIDs()) {
    const std::string day = routes_.dayOf(id);
    if (day < from || day > to) continue;
    const JSONValue route = routes_.route(id);
    const std::string courier = route.path("courier.name").string();
    if (!couriers.count(courier)) courierOrder.push_back(courier);
    total.add(route);
    couriers[courier].add(route);
    days[day].add(route);
    for (const JSONValue& point : route["points"].array())
      for (const JSONValue& order : point["orders"].array()) {
        if (!isProblem(order["status"].string())) continue;
        exceptions.push_back(JSONValue::object({{"date", day},
                                                {"courier", courier},
                                                {"orderId", order["orderId"]},
                                                {"address", point["address"]},
                                                {"status", order["status"]},
                                                {"reason", order["reason"]},
                                                {"at", point["arrivedAt"]},
                                                {"lateMinutes", point["lateMinutes"]},
                                                {"externalRouteId", route["externalRouteId"]},
                                                {"routeId", id},
                                                {"pointId", point["pointId"]}}));
      }
  }
  JSONArray courierRows, dailyRows;
  for (const std::string& name : courierOrder) courierRows.push_back(couriers[name].row("name", name));
  for (const auto& [day, tally] : days) dailyRows.push_back(tally.row("date", day));
  const JSONValue totals = total.row("name", "");
  return JSONValue::object({{"range", JSONValue::object({{"from", from}, {"to", to}})},
                            {"totals", JSONValue::object({{"routes", totals["routes"]},
                                                          {"delivered", totals["delivered"]},
                                                          {"problems", totals["problems"]},
                                                          {"slaPercent", totals["slaPercent"]},
                                                          {"plannedKm", totals["plannedKm"]}})},
                            {"couriers", JSONValue(std::move(courierRows))},
                            {"daily", JSONValue(std::move(dailyRows))},
                            {"exceptions", JSONValue(std::move(exceptions))}});
}

}  // namespace dorvik::testing
