#include "monitoring/logic/monitoring_rules.h"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "core/base/errors.h"
#include "core/base/text.h"
#include "shell/toolkit/display.h"

namespace dorvik::monitoring {

namespace {

const char* const kStopColor = "#2d3e46";
const char* const kCheckPoint = "Проверьте координаты и количество мест.";

std::int64_t saturatedSum(std::int64_t a, std::int64_t b) {
  std::int64_t out = 0;
  if (!__builtin_add_overflow(a, b, &out)) return out;
  return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}

// A finite reading of a member, or none.
std::optional<double> finiteNumber(const JSONValue& value) {
  auto d = value.doubleValue();
  if (!d || !std::isfinite(*d)) return std::nullopt;
  return d;
}

bool contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

}  // namespace

// ---- Paths

std::string routesPath(std::string_view day) { return "/monitoring/routes?date=" + std::string(day); }

std::string routePath(std::string_view routeID) { return "/monitoring/routes/" + encodeID(routeID); }

std::string routeOperationPath(std::string_view routeID, std::string_view op) {
  return routePath(routeID) + "/" + std::string(op);
}

std::string photoPath(std::string_view photoID) { return "/monitoring/photos/" + encodeID(photoID); }

// ---- The day's routes

std::vector<Record> routeRecords(const JSONValue& answer) { return JSONValue::records(answer["routes"].array()); }

std::vector<Record> filterRoutes(const std::vector<Record>& routes, std::string_view status, std::string_view query) {
  const std::string folded = query.empty() ? std::string() : foldedText(query);
  std::vector<Record> out;
  for (const Record& route : routes) {
    if (status != "all" && route["status"].string() != status) continue;
    if (!query.empty()) {
      const bool found = contains(foldedText(route["courier.name"].string()), folded) ||
                         contains(foldedText(route["courier.login"].string()), folded) ||
                         contains(foldedText(route["externalRouteId"].string()), folded);
      if (!found) continue;
    }
    out.push_back(route);
  }
  return out;
}

std::vector<Record> shownRoutes(const std::vector<Record>& filtered, const std::optional<std::string>& selection) {
  if (!selection) return filtered;
  std::vector<Record> out;
  for (const Record& route : filtered)
    if (route.id() == *selection) out.push_back(route);
  return out;
}

RouteDrawing routeDrawing(const std::vector<Record>& shown) {
  using namespace std::string_view_literals;
  RouteDrawing drawing;
  std::size_t stopCount = 0;
  for (const Record& route : shown) stopCount += route.value["stops"].size() + 1;
  drawing.pins.reserve(stopCount);
  drawing.lines.reserve(shown.size());
  // A large day has tens of thousands of stops, drawn again on every refresh and keystroke: each stop's members
  // are read in one walk over it, its texts are laid out without copies, and the few status words are looked up
  // once each.
  std::vector<std::pair<std::string, std::string>> statusWords;
  std::string otherWord;
  auto statusWord = [&](const JSONValue& status) -> const std::string& {
    if (!status.isString()) return otherWord = display(status);
    for (const auto& [code, word] : statusWords)
      if (code == status.stringView()) return word;
    return statusWords.emplace_back(status.stringView(), display(status)).second;
  };
  auto append = [](std::string& out, const JSONValue& value) {
    if (value.isString()) {
      out += value.stringView();
    } else {
      out += value.string();
    }
  };
  static const JSONValue none;
  for (const Record& route : shown) {
    const std::string id = route.id();
    const JSONArray& stops = route.value["stops"].array();
    std::vector<MapPoint> line;
    line.reserve(stops.size());
    for (const JSONValue& stop : stops) {
      const JSONValue *coordinates = &none, *address = &none, *pointID = &none, *status = &none, *number = &none;
      for (const auto& [name, member] : stop.object()) {
        const std::string_view key = name;
        if (key == "coordinates"sv) coordinates = &member;
        else if (key == "address"sv) address = &member;
        else if (key == "pointId"sv) pointID = &member;
        else if (key == "status"sv) status = &member;
        else if (key == "stopNumber"sv) number = &member;
      }
      auto point = MapPoint::from(*coordinates);
      if (!point) continue;
      line.push_back(*point);
      const std::string& word = statusWord(*status);
      std::string label;
      label.reserve(address->stringView().size() + 4 + word.size());
      append(label, *address);
      label += " · "sv;
      label += word;
      std::string pinID;
      pinID.reserve(id.size() + 1 + pointID->stringView().size());
      pinID += id;
      pinID += ':';
      append(pinID, *pointID);
      drawing.pins.emplace_back(std::move(pinID), std::move(label), number->string(), *point).color = kStopColor;
    }
    drawing.lines.push_back(std::move(line));
    if (auto gps = MapPoint::from(route.value["location"])) {
      MapPin& pin =
          drawing.pins.emplace_back(id + ":gps", route["courier.name"].string() + " · последний GPS", "GPS", *gps);
      pin.color = kStopColor;
    }
  }
  return drawing;
}

Metrics dayMetrics(const std::vector<Record>& routes) {
  Metrics m;
  for (const Record& route : routes) {
    m.routes = saturatedSum(m.routes, 1);
    if (route["status"].string() == "in_progress") m.inProgress = saturatedSum(m.inProgress, 1);
    m.points = saturatedSum(m.points, route["points"].intValue());
    m.closed = saturatedSum(m.closed, route["closed"].intValue());
    m.problems = saturatedSum(m.problems, route["problem"].intValue());
  }
  return m;
}

std::string groupedDigits(std::int64_t value) {
  // The magnitude as unsigned, so the smallest value has one too.
  const bool negative = value < 0;
  std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  const std::string digits = std::to_string(magnitude);
  std::string out = negative ? "-" : "";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += "\u202F";
    out += digits[i];
  }
  return out;
}

std::optional<std::string> routeOfPin(const std::vector<Record>& filtered, std::string_view pinID) {
  for (const Record& route : filtered) {
    std::string prefix = route.id() + ":";
    if (pinID.starts_with(prefix)) return route.id();
  }
  return std::nullopt;
}

RouteRowTexts routeRowTexts(const Record& route) {
  RouteRowTexts t;
  t.courier = route["courier.name"].string();
  if (t.courier.empty()) t.courier = "Курьер не назначен";
  t.status = display(route["status"]);
  t.externalID = route["externalRouteId"].string();
  t.counts = "Точки: " + std::to_string(route["closed"].intValue()) + " / " +
             std::to_string(route["points"].intValue()) + " · проблемы: " + std::to_string(route["problem"].intValue());
  if (!route["location"].isNull()) t.gps = "GPS: " + route["location.at"].string();
  return t;
}

bool showsPlaceholder(bool loading, bool hasIssue, std::size_t filteredCount) {
  return !loading && !hasIssue && filteredCount == 0;
}

// ---- Route detail

double pointSortKey(const JSONValue& point) {
  if (auto key = finiteNumber(point["courierOrder"])) return *key;
  if (auto key = finiteNumber(point["stopNumber"])) return *key;
  return 0;
}

std::vector<JSONValue> sortedPoints(const JSONValue& route) {
  std::vector<std::pair<double, JSONValue>> keyed;
  for (const JSONValue& point : route["points"].array()) keyed.emplace_back(pointSortKey(point), point);
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<JSONValue> out;
  out.reserve(keyed.size());
  for (auto& entry : keyed) out.push_back(std::move(entry.second));
  return out;
}

std::vector<JSONValue> movePoints(const std::vector<JSONValue>& points, const std::set<std::size_t>& moved,
                                  std::size_t destination) {
  std::vector<JSONValue> taken, kept;
  std::size_t insertAt = 0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (i == destination) insertAt = kept.size();
    (moved.count(i) ? taken : kept).push_back(points[i]);
  }
  if (destination >= points.size()) insertAt = kept.size();
  kept.insert(kept.begin() + static_cast<std::ptrdiff_t>(insertAt), taken.begin(), taken.end());
  return kept;
}

void PointDragging::press(std::optional<std::size_t> position) {
  pressed_ = position;
  dragging_ = false;
}

bool PointDragging::move(double dx, double dy, double threshold) {
  if (!pressed_ || dragging_) return false;
  // The toolkit's own rule: further than the threshold along either axis.
  dragging_ = std::fabs(dx) > threshold || std::fabs(dy) > threshold;
  return dragging_;
}

std::set<std::size_t> PointDragging::release(const std::vector<JSONValue>& points,
                                             const std::set<std::string>& selected) {
  const std::optional<std::size_t> pressed = std::exchange(pressed_, std::nullopt);
  if (!std::exchange(dragging_, false) || !pressed || *pressed >= points.size()) return {};
  std::set<std::size_t> moved{*pressed};
  if (!selected.count(points[*pressed]["pointId"].string())) return moved;
  for (std::size_t i = 0; i < points.size(); ++i)
    if (selected.count(points[i]["pointId"].string())) moved.insert(i);
  return moved;
}

std::vector<Record> offeredCouriers(const std::vector<Record>& couriers) {
  std::vector<Record> out;
  for (const Record& c : couriers)
    if (c["role"].string() == "courier" && !c["isBlocked"].boolValue()) out.push_back(c);
  return out;
}

std::vector<MapPin> pointPins(const std::vector<JSONValue>& points, const std::set<std::string>& selected) {
  std::vector<MapPin> pins;
  for (std::size_t i = 0; i < points.size(); ++i) {
    auto point = MapPoint::from(points[i]["coordinates"]);
    if (!point) continue;
    MapPin pin(points[i]["pointId"].string(), points[i]["address"].string(), std::to_string(i + 1), *point);
    pin.selected = selected.count(pin.id) > 0;
    pin.color = kStopColor;
    pins.push_back(std::move(pin));
  }
  return pins;
}

JSONValue reorderBody(const std::vector<JSONValue>& points) {
  JSONArray order;
  for (const JSONValue& p : points) order.push_back(p["pointId"]);
  return JSONValue::object({{"order", JSONValue(std::move(order))}});
}

JSONValue courierBody(const std::string& courierID) { return JSONValue::object({{"courierId", courierID}}); }

PointTexts pointTexts(const JSONValue& point) {
  PointTexts t;
  t.address = point["address"].string();
  const JSONArray& orders = point["orders"].array();
  for (const JSONValue& order : orders) {
    if (!t.clients.empty()) t.clients += ", ";
    t.clients += order["client"].string();
  }
  t.caption = display(point["status"]) + " · план " + point["plannedArrival"].string() + " · факт " +
              display(point["arrivedAt"]);
  for (const Record& order : JSONValue::records(orders)) {
    OrderTexts o;
    o.heading = "№ " + order["orderId"].string() + " · " + order["client"].string() + " · " + display(order["status"]);
    if (order.value.contains("reason") && !order["reason"].isNull()) o.reason = display(order["reason"]);
    if (!order["comment"].string().empty()) o.comment = order["comment"].string();
    o.window = "Окно: " + order["window.from"].string() + "–" + order["window.to"].string() +
               " · Мест: " + display(order["places"]);
    if (order["phones"].isArray() && order["phones"].size() > 0) o.phones = display(order["phones"]);
    t.orders.push_back(std::move(o));
  }
  return t;
}

std::string routeTitle(const JSONValue& route) {
  std::string title = route["externalRouteId"].string();
  return title.empty() ? "Маршрут" : title;
}

std::string routeSubtitle(const JSONValue& route) { return route.path("courier.name").string(); }

std::string photoLabel(const Record& photo) {
  std::string name = photo["fileName"].string();
  if (!name.empty()) return name;
  std::string id = photo["id"].string();
  if (g_utf8_validate(id.data(), static_cast<gssize>(id.size()), nullptr) &&
      g_utf8_strlen(id.data(), static_cast<gssize>(id.size())) > 8) {
    const char* cut = g_utf8_offset_to_pointer(id.data(), 8);
    id.resize(static_cast<std::size_t>(cut - id.data()));
  }
  return "Фото " + id;
}

// ---- Track player

std::vector<JSONValue> trackPings(const JSONValue& answer) {
  std::vector<JSONValue> out;
  for (const JSONValue& fix : answer["pings"].array())
    if (MapPoint::from(fix)) out.push_back(fix);
  return out;
}

std::string trackCaption(std::size_t count, const JSONValue& answer) {
  return std::to_string(count) + " GPS-сигналов · " + std::to_string(answer["marks"].array().size()) +
         " отметок курьера. Это записанный путь, а не текущее положение.";
}

std::vector<MapPin> trackPins(const std::vector<JSONValue>& pings, std::size_t index) {
  if (pings.empty()) return {};
  const JSONValue& fix = pings[std::min(index, pings.size() - 1)];
  MapPin pin("courier", fix["at"].string(), "GPS", *MapPoint::from(fix));
  pin.color = kStopColor;
  return {pin};
}

std::vector<MapPoint> trackLine(const std::vector<JSONValue>& pings, std::size_t index) {
  std::vector<MapPoint> line;
  for (std::size_t i = 0; i < pings.size() && i <= index; ++i) line.push_back(*MapPoint::from(pings[i]));
  return line;
}

// ---- Transfer of points

std::vector<Record> transferCandidates(const JSONValue& routesAnswer, std::string_view routeID) {
  std::vector<Record> out;
  for (Record& route : routeRecords(routesAnswer))
    if (route.id() != routeID && route["status"].string() != "finished") out.push_back(std::move(route));
  return out;
}

std::vector<Record> nearestSuggestions(const JSONValue& nearestAnswer) {
  std::vector<Record> all = JSONValue::records(nearestAnswer["candidates"].array());
  if (all.size() > 5) all.resize(5);
  return all;
}

std::string candidateTitle(const Record& route) {
  return route["courier.name"].string() + " · " + route["externalRouteId"].string();
}

std::string suggestionDistances(const Record& row) {
  return "До точки: " + display(row["nearestStopKm"]) + " км · GPS: " + display(row["gpsKm"]) + " км";
}

std::optional<std::string> nearestPath(std::string_view routeDate, const std::vector<JSONValue>& points,
                                       std::string_view routeID) {
  if (points.empty()) return std::nullopt;
  auto point = MapPoint::from(points.front()["coordinates"]);
  if (!point) return std::nullopt;
  return "/monitoring/nearest?date=" + std::string(routeDate) + "&lat=" + coordinateText(point->lat) +
         "&lon=" + coordinateText(point->lon) + "&exclude=" + encodeID(routeID);
}

JSONValue moveBody(const std::vector<JSONValue>& points, const std::string& target) {
  JSONArray ids;
  for (const JSONValue& p : points) ids.push_back(p["pointId"]);
  return JSONValue::object({{"pointIds", JSONValue(std::move(ids))}, {"toRouteId", target}});
}

bool transferAllowed(const std::string& target, bool saving, bool canWrite, std::size_t pointCount) {
  // An empty selection (stale ids after a reload) would send an empty move and close as if it had worked.
  return !target.empty() && !saving && canWrite && pointCount > 0;
}

// ---- Adding a point

const std::vector<FieldSpec>& addPointFields() {
  using K = FieldSpec::Kind;
  static const std::vector<FieldSpec> fields{{"client", "Клиент", K::text, true},
                                             {"address", "Адрес", K::text, true},
                                             {"windowFrom", "Окно с, ЧЧ:ММ", K::text, true},
                                             {"windowTo", "Окно до, ЧЧ:ММ", K::text, true},
                                             {"phone", "Телефон", K::text, false},
                                             {"places", "Мест", K::number, false},
                                             {"lat", "Широта", K::number, false},
                                             {"lon", "Долгота", K::number, false},
                                             {"comment", "Комментарий", K::longText, false}};
  return fields;
}

JSONValue newPointValue() {
  return JSONValue::object({{"windowFrom", "09:00"}, {"windowTo", "18:00"}, {"position", "best"}});
}

bool isWindowTime(std::string_view t) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (t.size() != 5 || t[2] != ':') return false;
  if (!digit(t[0]) || !digit(t[1]) || !digit(t[3]) || !digit(t[4])) return false;
  const int hour = (t[0] - '0') * 10 + (t[1] - '0');
  return hour <= 23 && t[3] <= '5';
}

JSONValue checkedPoint(const JSONValue& value) {
  JSONValue result = validated(value, addPointFields(), false);
  for (const char* key : {"windowFrom", "windowTo"})
    if (!isWindowTime(result[key].stringView())) throw DorvikError("Время должно быть в формате ЧЧ:ММ.", 0);
  const JSONValue& lat = result["lat"];
  const JSONValue& lon = result["lon"];
  if (lat.isNull() != lon.isNull()) throw DorvikError(kCheckPoint, 0);
  if (lat.isNumber() && !(std::fabs(*lat.doubleValue()) <= 90)) throw DorvikError(kCheckPoint, 0);
  if (lon.isNumber() && !(std::fabs(*lon.doubleValue()) <= 180)) throw DorvikError(kCheckPoint, 0);
  const JSONValue& places = result["places"];
  if (!places.isNull() && !(places.isNumber() && *places.doubleValue() > 0)) throw DorvikError(kCheckPoint, 0);
  const std::string position = value["position"].string();
  if (position != "best" && position != "end") throw DorvikError("Выберите место новой точки в маршруте.", 0);
  result.set("position", position);
  return result;
}

void setPointAddress(JSONValue& value, std::string address) {
  JSONValue next(std::move(address));
  if (value["address"] == next) return;
  value.set("address", std::move(next));
  value.set("lat", nullptr);
  value.set("lon", nullptr);
}

bool lookupStillCurrent(const JSONValue& snapshot, const JSONValue& current) {
  for (const char* key : {"address", "lat", "lon"})
    if (!(snapshot[key] == current[key])) return false;
  return true;
}

std::optional<std::string> applyLookup(JSONValue& value, const JSONValue& answer) {
  const JSONValue& found = answer["found"];
  if (found["qc"].string() != "0") return std::string("Адрес неоднозначен. Уточните город, улицу, дом и корпус.");
  value.set("lat", found["lat"]);
  value.set("lon", found["lon"]);
  return std::nullopt;
}

}  // namespace dorvik::monitoring
