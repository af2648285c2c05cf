#include "model/preview_data.h"

#include <glib.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/base/dorvik_date.h"
#include "core/base/errors.h"

namespace dorvik {

namespace {

const char* const kNoData = "Для этого раздела в примере нет данных.";
const char* const kDepotName = "Склад · пример";
const char* const kDocumentTitle = "Памятка курьера · пример";

// Percent-decoding; text with a broken escape (or one that decodes to a zero byte) stays as it was.
std::string unescape(const std::string& text) {
  gchar* decoded = g_uri_unescape_string(text.c_str(), nullptr);
  if (!decoded) return text;
  std::string result(decoded);
  g_free(decoded);
  return result;
}

// The part of the path before its first "?" (the whole path when both sides of the mark are empty).
std::string basePath(std::string_view path) {
  const auto mark = path.find('?');
  if (mark == std::string_view::npos) return std::string(path);
  std::string_view before = path.substr(0, mark);
  std::string_view after = path.substr(mark + 1);
  if (!before.empty()) return std::string(before);
  if (!after.empty()) return std::string(after);
  return std::string(path);
}

struct QueryItem {
  std::string name;
  std::optional<std::string> value;
};

// The query items of the path read as part of a URL; none when the text is not a valid URL.
std::vector<QueryItem> queryItems(std::string_view path) {
  std::vector<QueryItem> items;
  const std::string url = "https://preview.invalid" + std::string(path);
  if (!g_uri_is_valid(url.c_str(), G_URI_FLAGS_NONE, nullptr)) return items;
  const auto mark = path.find('?');
  if (mark == std::string_view::npos) return items;
  std::string_view query = path.substr(mark + 1);
  if (auto hash = query.find('#'); hash != std::string_view::npos) query = query.substr(0, hash);
  std::size_t start = 0;
  while (start <= query.size()) {
    auto end = query.find('&', start);
    if (end == std::string_view::npos) end = query.size();
    std::string_view item = query.substr(start, end - start);
    if (auto equals = item.find('='); equals != std::string_view::npos) {
      items.push_back({unescape(std::string(item.substr(0, equals))), unescape(std::string(item.substr(equals + 1)))});
    } else {
      items.push_back({unescape(std::string(item)), std::nullopt});
    }
    start = end + 1;
  }
  return items;
}

// The first item of that name gives the value; without a value (or without the item) the default.
std::string parameter(const std::vector<QueryItem>& items, std::string_view name, std::string fallback) {
  for (const auto& item : items) {
    if (item.name == name) return item.value ? *item.value : fallback;
  }
  return fallback;
}

const JSONArray& ordersOf(const JSONValue& planner) { return planner["orders"].array(); }

std::string decimal(std::size_t i) { return std::to_string(i); }

// 08:00 UTC on 22 September 2026 plus one minute per position: "2026-09-22T08:03:00Z" for the fourth order, and
// still a real time of day from the eleventh order on ("08:10", "08:11", … rolling into the next hours and days).
std::string pingTime(std::size_t position) {
  using namespace std::chrono;
  const auto start = sys_days(year(2026) / 9 / 22) + hours(8);
  return utcTimestamp(start + minutes(static_cast<std::int64_t>(position % 100000000)));
}

JSONValue routeDetail(const JSONValue& planner) {
  JSONValue detail = PreviewData::route();
  JSONValue points = JSONValue(JSONArray{});
  const JSONArray& orders = ordersOf(planner);
  for (std::size_t i = 0; i < orders.size(); ++i) {
    const JSONValue& order = orders[i];
    points.push(JSONValue::object({
        {"pointId", "point-" + decimal(i)},
        {"stopNumber", JSONValue(static_cast<double>(i + 1))},
        {"address", order["address"]},
        {"coordinates", JSONValue::object({{"lat", order["lat"]}, {"lon", order["lon"]}})},
        {"status", "pending"},
        {"plannedArrival", "11:00"},
        {"orders", JSONValue::array({JSONValue::object({{"orderId", order["id"]}, {"client", order["title"]}})})},
    }));
  }
  detail.set("points", std::move(points));
  return detail;
}

JSONValue depots() {
  return JSONValue::object({{"depots", JSONValue::array({JSONValue::object({
                                           {"id", "preview-depot"},
                                           {"name", kDepotName},
                                           {"address", "Москва"},
                                           {"lat", 55.7558},
                                           {"lon", 37.6176},
                                           {"windowFrom", "08:00"},
                                           {"windowTo", "20:00"},
                                       })})}});
}

JSONValue track(const JSONValue& planner) {
  JSONValue pings = JSONValue(JSONArray{});
  const JSONArray& orders = ordersOf(planner);
  for (std::size_t i = 0; i < orders.size(); ++i) {
    pings.push(JSONValue::object(
        {{"lat", orders[i]["lat"]}, {"lon", orders[i]["lon"]}, {"at", pingTime(i)}, {"accuracy", 10}}));
  }
  return JSONValue::object({{"routeId", "preview-route"}, {"pings", std::move(pings)}, {"marks", JSONArray{}}});
}

JSONValue monitoringOrders(const JSONValue& planner) {
  JSONValue rows = JSONValue(JSONArray{});
  for (const JSONValue& order : ordersOf(planner)) {
    rows.push(JSONValue::object({{"routeId", "preview-route"},
                                 {"orderId", order["id"]},
                                 {"client", order["title"]},
                                 {"address", order["address"]},
                                 {"courier", "Тарен Примеров"},
                                 {"status", "pending"},
                                 {"plannedArrival", "11:00"}}));
  }
  return JSONValue::object({{"orders", std::move(rows)}});
}

JSONValue clients(const JSONValue& planner) {
  JSONValue rows = JSONValue(JSONArray{});
  const JSONArray& orders = ordersOf(planner);
  for (std::size_t i = 0; i < orders.size(); ++i) {
    const JSONValue& order = orders[i];
    JSONValue address = JSONValue::object({{"id", "address-" + decimal(i)},
                                           {"address", order["address"]},
                                           {"lat", order["lat"]},
                                           {"lon", order["lon"]},
                                           {"isPrimary", true}});
    rows.push(JSONValue::object({{"id", "client-" + decimal(i)},
                                 {"name", order["title"]},
                                 {"phones", JSONArray{}},
                                 {"note", "Пример клиента"},
                                 {"addresses", JSONValue::array({std::move(address)})}}));
  }
  return JSONValue::object({{"clients", std::move(rows)}});
}

JSONValue addresses(const JSONValue& planner) {
  JSONValue rows = JSONValue(JSONArray{});
  for (const JSONValue& order : ordersOf(planner)) {
    rows.push(JSONValue::object({{"key", order["id"]},
                                 {"address", order["address"]},
                                 {"lat", order["lat"]},
                                 {"lon", order["lon"]},
                                 {"source", "file"},
                                 {"pinned", false}}));
  }
  return JSONValue::object({{"addresses", std::move(rows)}});
}

JSONValue zones() {
  auto point = [](double lat, double lon) { return JSONValue::array({lat, lon}); };
  return JSONValue::object({{"zones", JSONValue::array({JSONValue::object({
                                          {"name", "Центр · пример"},
                                          {"vehicle", "sample-driver"},
                                          {"color", "#D45A16"},
                                          {"isHidden", false},
                                          {"points", JSONValue::array({point(55.75, 37.6), point(55.77, 37.6),
                                                                       point(55.77, 37.64), point(55.75, 37.64)})},
                                      })})}});
}

JSONValue shifts(const std::vector<QueryItem>& query) {
  const JSONValue& courier = PreviewData::courier();
  return JSONValue::object({
      {"month", parameter(query, "month", "2026-09")},
      {"depot", JSONValue::object({{"name", kDepotName}, {"shiftRate", 4000}})},
      {"rows", JSONValue::array({JSONValue::object({{"courierId", courier["id"]},
                                                    {"fullName", courier["fullName"]},
                                                    {"rate", 4000},
                                                    {"payMode", "shift"},
                                                    {"auto", JSONValue::array({21, 22})},
                                                    {"marks", JSONObject{}},
                                                    {"adjust", JSONArray{}}})})},
  });
}

JSONValue summary(const std::vector<QueryItem>& query) {
  const JSONValue& courier = PreviewData::courier();
  return JSONValue::object({
      {"range", JSONValue::object(
                    {{"from", parameter(query, "from", "2026-09-22")}, {"to", parameter(query, "to", "2026-09-22")}})},
      {"totals", JSONValue::object({{"routes", 1}, {"orders", 5}, {"delivered", 0}, {"pending", 5}, {"problems", 0}})},
      {"couriers", JSONValue::array({JSONValue::object({{"id", courier["id"]},
                                                        {"name", courier["fullName"]},
                                                        {"routes", 1},
                                                        {"orders", 5},
                                                        {"delivered", 0},
                                                        {"problems", 0}})})},
      {"daily", JSONArray{}},
      {"exceptions", JSONArray{}},
  });
}

bool endsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}  // namespace

const JSONValue& PreviewData::courier() {
  static const JSONValue value = JSONValue::object({{"id", "preview-courier"},
                                                    {"fullName", "Тарен Примеров"},
                                                    {"login", "sample-driver"},
                                                    {"phone", "+7 000 000-00-00"},
                                                    {"role", "courier"},
                                                    {"isBlocked", false}});
  return value;
}

const JSONValue& PreviewData::route() {
  static const JSONValue value = JSONValue::object({
      {"routeId", "preview-route"},
      {"externalRouteId", "Пример маршрута"},
      {"courier",
       JSONValue::object({{"id", "preview-courier"}, {"name", "Тарен Примеров"}, {"login", "sample-driver"}})},
      {"status", "pending"},
      {"points", 5},
      {"closed", 0},
      {"problem", 0},
  });
  return value;
}

JSONValue PreviewData::response(std::string_view path, const JSONValue& planner) {
  const std::string base = unescape(basePath(path));
  const std::vector<QueryItem> query = queryItems(path);

  if (base == "/monitoring/routes") {
    JSONValue route = PreviewData::route();
    route.set("stops", routeDetail(planner)["points"]);
    return JSONValue::object({{"routes", JSONValue::array({std::move(route)})}});
  }
  if (base == "/depots" || base == "/staff/depots") return depots();
  if (base == "/depots/preview-depot/settings") {
    return JSONValue::object({{"id", "preview-depot"}, {"name", kDepotName}, {"photoProof", false}});
  }
  if (base == "/staff/people") return JSONValue::object({{"people", JSONValue::array({courier()})}});
  if (base == "/admin/couriers/preview-courier/files") return JSONValue::object({{"files", JSONArray{}}});
  if (base == "/admin/documents/preview-document/acks") {
    JSONValue acked = courier();
    acked.set("ackedAt", nullptr);
    return JSONValue::object(
        {{"title", kDocumentTitle}, {"acked", 0}, {"total", 1}, {"couriers", JSONValue::array({std::move(acked)})}});
  }
  if (base == "/monitoring/routes/preview-route/track") return track(planner);
  if (base == "/monitoring/nearest") return JSONValue::object({{"candidates", JSONArray{}}});
  if (base == "/monitoring/orders") return monitoringOrders(planner);
  if (base == "/monitoring/trackers") {
    return JSONValue::object({{"trackers", JSONValue::array({JSONValue::object({{"routeId", "preview-route"},
                                                                                {"courier", route()["courier"]},
                                                                                {"signal", "never"},
                                                                                {"pingCount", 0}})})}});
  }
  if (base == "/admin/couriers") return JSONValue::object({{"couriers", JSONValue::array({courier()})}});
  if (base == "/panel/clients") return clients(planner);
  if (base == "/panel/addresses") return addresses(planner);
  if (base == "/panel/zones") return zones();
  if (base == "/panel/shifts") return shifts(query);
  if (base == "/reports/summary") return summary(query);
  if (base == "/admin/documents") {
    return JSONValue::object({{"documents", JSONValue::array({JSONValue::object({{"id", "preview-document"},
                                                                                 {"title", kDocumentTitle},
                                                                                 {"version", 1},
                                                                                 {"requiresAck", true},
                                                                                 {"isActive", true},
                                                                                 {"ackedCount", 0},
                                                                                 {"couriersTotal", 1}})})}});
  }
  if (base == "/admin/documents/preview-document") {
    return JSONValue::object({{"id", "preview-document"},
                              {"title", kDocumentTitle},
                              {"body", "Перед выездом проверьте адреса и временные окна."},
                              {"requiresAck", true},
                              {"isActive", true}});
  }
  if (base == "/staff/companies") {
    return JSONValue::object({{"companies", JSONValue::array({JSONValue::object({{"id", "preview"},
                                                                                 {"name", "Компания · пример"},
                                                                                 {"people", 1},
                                                                                 {"routes", 1},
                                                                                 {"isActive", true}})})}});
  }
  if (base == "/integrations/settings") {
    return JSONValue::object({{"geocoder", "auto"},
                              {"dadataToken", JSONValue::object({{"configured", false}})},
                              {"routingKey", JSONValue::object({{"configured", false}})},
                              {"mapKey", JSONValue::object({{"configured", false}})},
                              {"styleId", ""}});
  }
  if (base == "/monitoring/routes/preview-route") return routeDetail(planner);
  if (endsWith(base, "/photos")) return JSONValue(JSONArray{});
  throw DorvikError(kNoData, 0);
}

}  // namespace dorvik
