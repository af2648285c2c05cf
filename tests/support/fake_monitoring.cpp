#include "support/fake_monitoring.h"

#include <algorithm>
#include <deque>
#include <map>

#include <glib.h>

namespace dorvik::testing {

namespace {

const char kPNGBytes[] =
    "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x04\x00\x00\x00\x03\x08\x02\x00"
    "\x00\x00\x3b\x96\x39\x91\x00\x00\x00\x10\x49\x44\x41\x54\x78\x9c\x63\x38\x61\xa3\x01\x47\x0c\x38\x39\x00\x19"
    "\xee\x0e\x11\x5f\xc3\xed\x96\x00\x00\x00\x00\x49\x45\x4e\x44\xae\x42\x60\x82";
const std::string kPNG(kPNGBytes, sizeof kPNGBytes - 1);

JSONValue courierList() {
  auto courier = [](const char* id, const char* name, const char* role, bool blocked) {
    return JSONValue::object({{"id", id}, {"fullName", name}, {"role", role}, {"isBlocked", blocked}});
  };
  return JSONValue::object({{"couriers", JSONValue::array({courier("c-taren", "Тарен", "courier", false),
                                                           courier("c-oleg", "Олег Смирнов", "courier", false),
                                                           courier("c-long", kLongCourierName, "courier", false),
                                                           courier("c-blocked", "Виктор Блок", "courier", true),
                                                           courier("c-logist", "Анна Логист", "logist", false)})}});
}

JSONValue ok() { return JSONValue::object({{"ok", true}}); }

}  // namespace

struct MonitoringDesk::State {
  std::map<std::string, JSONValue> routes;  // by routeId, in the monitoring form
  std::map<std::string, std::string> days;  // routeId → day
  std::vector<std::string> order;           // routeIds as created
  std::map<std::pair<std::string, std::string>, std::deque<Answer>> failures;
  int nextPoint = 1;

  std::optional<Answer> failure(const Hit& hit) {
    auto it = failures.find({hit.method, hit.path});
    if (it == failures.end() || it->second.empty()) return std::nullopt;
    Answer a = it->second.front();
    it->second.pop_front();
    return a;
  }

  // The routes list's form of a route: counts and stops.
  JSONValue summary(const JSONValue& route) const {
    JSONArray stops;
    std::int64_t closed = 0;
    for (const JSONValue& p : route["points"].array()) {
      if (p["status"].string() == "delivered") ++closed;
      stops.push_back(JSONValue::object({{"coordinates", p["coordinates"]},
                                         {"pointId", p["pointId"]},
                                         {"address", p["address"]},
                                         {"status", p["status"]},
                                         {"stopNumber", p["stopNumber"]}}));
    }
    JSONValue out = route;
    out.erase("points");
    out.set("points", static_cast<long long>(stops.size()));
    out.set("closed", static_cast<long long>(closed));
    out.set("problem", 0);
    out.set("stops", JSONValue(std::move(stops)));
    return out;
  }

  void renumber(JSONValue& route) {
    JSONArray& points = route.member("points").mutableArray();
    for (std::size_t i = 0; i < points.size(); ++i) {
      points[i].set("courierOrder", static_cast<long long>(i + 1));
      points[i].set("stopNumber", static_cast<long long>(i + 1));
    }
  }
};

MonitoringDesk::MonitoringDesk(StandInServer& server) : server_(server), state_(std::make_shared<State>()) {
  auto state = state_;
  server_.on("POST", "/plans/import", [this, state](const Hit& hit) {
    if (auto f = state->failure(hit)) return *f;
    const JSONValue body = hit.json();
    const std::string day = body["date"].string();
    int n = 0;
    for (const JSONValue& published : body["routes"].array()) {
      ++n;
      const std::string id = "R-" + std::to_string(n) + "/ю";
      JSONArray points;
      for (const JSONValue& p : published["points"].array()) {
        JSONValue point = JSONValue::object({{"pointId", "P" + std::to_string(state->nextPoint++)},
                                             {"stopNumber", p["stopNumber"]},
                                             {"courierOrder", p["stopNumber"]},
                                             {"address", p["address"]},
                                             {"status", "pending"},
                                             {"plannedArrival", p["plannedArrival"]},
                                             {"coordinates", JSONValue::object({{"lat", p["lat"]}, {"lon", p["lon"]}})},
                                             {"orders", p["orders"]}});
        points.push_back(std::move(point));
      }
      seedRoute(day,
                JSONValue::object({{"routeId", id},
                                   {"externalRouteId", published["externalRouteId"]},
                                   {"status", "pending"},
                                   {"courier", JSONValue::object({{"name", published["courierName"]},
                                                                  {"login", published["courierLogin"]},
                                                                  {"id", "c-" + published["courierLogin"].string()}})},
                                   {"location", nullptr},
                                   {"points", JSONValue(std::move(points))}}));
    }
    return Answer::json(JSONValue::object({{"accepted", true}}));
  });
  server_.on("GET", "/monitoring/routes", [state](const Hit& hit) {
    if (auto f = state->failure(hit)) return *f;
    const std::string day = hit.query.starts_with("date=") ? hit.query.substr(5) : std::string();
    JSONArray routes;
    for (const std::string& id : state->order)
      if (state->days[id] == day) routes.push_back(state->summary(state->routes[id]));
    return Answer::json(JSONValue::object({{"routes", JSONValue(std::move(routes))}}));
  });
  server_.on("GET", "/admin/couriers", [state](const Hit& hit) {
    if (auto f = state->failure(hit)) return *f;
    return Answer::json(courierList());
  });
  server_.on("GET", "/monitoring/nearest", [state](const Hit& hit) {
    if (auto f = state->failure(hit)) return *f;
    JSONArray candidates;
    double km = 1.5;
    const auto at = hit.query.find("exclude=");
    std::string excluded;
    if (at != std::string::npos) {
      const std::string raw = hit.query.substr(at + 8, hit.query.find('&', at) - (at + 8));
      if (char* plain = g_uri_unescape_string(raw.c_str(), nullptr)) {
        excluded = plain;
        g_free(plain);
      }
    }
    for (const std::string& id : state->order) {
      const JSONValue& r = state->routes[id];
      if (id == excluded || r["status"].string() == "finished") continue;
      candidates.push_back(JSONValue::object({{"routeId", id},
                                              {"courier", JSONValue::object({{"name", r.path("courier.name")}})},
                                              {"nearestStopKm", km},
                                              {"gpsKm", nullptr}}));
      km += 1;
    }
    return Answer::json(JSONValue::object({{"candidates", JSONValue(std::move(candidates))}}));
  });
  server_.on("GET", std::string("/monitoring/photos/") + kPicture, [state](const Hit& hit) {
    if (auto f = state->failure(hit)) return *f;
    Answer a;
    a.body = kPNG;
    a.contentType = "image/png";
    return a;
  });
  server_.on("GET", std::string("/monitoring/photos/") + kNotAnImage, [state](const Hit& hit) {
    if (auto f = state->failure(hit)) return *f;
    Answer a;
    a.body = "not a picture";
    a.contentType = "application/octet-stream";
    return a;
  });
}

void MonitoringDesk::seedRoute(const std::string& day, JSONValue route) {
  const std::string id = route["routeId"].string();
  if (!state_->routes.count(id)) state_->order.push_back(id);
  state_->routes[id] = std::move(route);
  state_->days[id] = day;
  installRoute(id);
}

JSONValue MonitoringDesk::route(const std::string& routeID) const {
  auto it = state_->routes.find(routeID);
  return it == state_->routes.end() ? JSONValue() : it->second;
}

std::vector<std::string> MonitoringDesk::routeIDs() const { return state_->order; }

std::string MonitoringDesk::dayOf(const std::string& routeID) const {
  auto it = state_->days.find(routeID);
  return it == state_->days.end() ? std::string() : it->second;
}

void MonitoringDesk::failNext(const std::string& method, const std::string& path, Answer answer) {
  state_->failures[{method, path}].push_back(std::move(answer));
}

void MonitoringDesk::installRoute(const std::string& id) {
  auto state = state_;
  const std::string base = "/monitoring/routes/" + id;
  server_.on("GET", base, [state, id](const Hit& hit) {
    if (auto f = state->failure(hit)) return *f;
    return Answer::json(state->routes[id]);
  });
  server_.on("POST", base + "/courier", [state, id](const Hit& hit) {
    if (auto f = state->failure(hit)) return *f;
    const std::string courier = hit.json()["courierId"].string();
    const JSONValue list = courierList();
    for (const JSONValue& c : list["couriers"].array())
      if (c["id"].string() == courier)
        state->routes[id].set("courier", JSONValue::object({{"id", courier}, {"name", c["fullName"]}}));
    return Answer::json(ok());
  });
  server_.on("POST", base + "/eta", [state, id](const Hit& hit) {
    if (auto f = state->failure(hit)) return *f;
    return Answer::json(ok());
  });
  server_.on("POST", base + "/finish", [state, id](const Hit& hit) {
    if (auto f = state->failure(hit)) return *f;
    state->routes[id].set("status", "finished");
    return Answer::json(ok());
  });
  server_.on("POST", base + "/reorder", [state, id](const Hit& hit) {
    if (auto f = state->failure(hit)) return *f;
    JSONValue& route = state->routes[id];
    JSONArray next;
    const JSONValue body = hit.json();
    for (const JSONValue& wanted : body["order"].array())
      for (const JSONValue& p : route["points"].array())
        if (p["pointId"] == wanted) next.push_back(p);
    if (next.size() != route["points"].size()) return Answer::error(422, "Порядок должен содержать все точки.");
    route.set("points", JSONValue(std::move(next)));
    state->renumber(route);
    return Answer::json(ok());
  });
  server_.on("POST", base + "/move", [state, id](const Hit& hit) {
    if (auto f = state->failure(hit)) return *f;
    const JSONValue body = hit.json();
    const std::string to = body["toRouteId"].string();
    if (!state->routes.count(to)) return Answer::error(404, "Маршрут назначения не найден.");
    JSONValue& from = state->routes[id];
    JSONArray kept, moved;
    for (const JSONValue& p : from["points"].array()) {
      const auto& ids = body["pointIds"].array();
      (std::find(ids.begin(), ids.end(), p["pointId"]) != ids.end() ? moved : kept).push_back(p);
    }
    from.set("points", JSONValue(std::move(kept)));
    JSONValue& target = state->routes[to];
    for (JSONValue& p : moved) target.member("points").push(std::move(p));
    state->renumber(from);
    state->renumber(target);
    return Answer::json(ok());
  });
  server_.on("POST", base + "/points", [state, id](const Hit& hit) {
    if (auto f = state->failure(hit)) return *f;
    const JSONValue body = hit.json();
    JSONValue point = JSONValue::object(
        {{"pointId", "P" + std::to_string(state->nextPoint++)},
         {"address", body["address"]},
         {"status", "pending"},
         {"coordinates", JSONValue::object({{"lat", body["lat"]}, {"lon", body["lon"]}})},
         {"orders", JSONValue::array({JSONValue::object(
                        {{"orderId", "N" + std::to_string(state->nextPoint)},
                         {"client", body["client"]},
                         {"status", "pending"},
                         {"comment", body["comment"]},
                         {"window", JSONValue::object({{"from", body["windowFrom"]}, {"to", body["windowTo"]}})},
                         {"places", body["places"]},
                         {"phones", body["phone"].string().empty() ? JSONValue(JSONArray{})
                                                                   : JSONValue::array({body["phone"]})}})})}});
    JSONValue& route = state->routes[id];
    route.member("points").push(std::move(point));
    state->renumber(route);
    return Answer::json(ok());
  });
  server_.on("GET", base + "/photos", [state](const Hit& hit) {
    if (auto f = state->failure(hit)) return *f;
    return Answer::json(JSONValue::array(
        {JSONValue::object({{"id", kPicture}, {"fileName", "дверь.png"}}), JSONValue::object({{"id", kNotAnImage}})}));
  });
  server_.on("GET", base + "/track", [state, id](const Hit& hit) {
    if (auto f = state->failure(hit)) return *f;
    JSONArray pings;
    int minute = 0;
    for (const JSONValue& p : state->routes[id]["points"].array()) {
      const std::string at = "10:" + std::string(minute < 10 ? "0" : "") + std::to_string(minute);
      pings.push_back(
          JSONValue::object({{"lat", p["coordinates"]["lat"]}, {"lon", p["coordinates"]["lon"]}, {"at", at}}));
      minute += 7;
    }
    pings.push_back(JSONValue::object({{"lat", 55.7}, {"lon", 200}, {"at", "bad"}}));
    return Answer::json(JSONValue::object({{"pings", JSONValue(std::move(pings))},
                                           {"marks", JSONValue::array({JSONValue::object({{"kind", "arrived"}})})}}));
  });
}

}  // namespace dorvik::testing
