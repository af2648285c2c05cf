// A signed-in workspace with the real planner engine (its sample catalogue holds the demo's Moscow buildings), a
// real encrypted cache and the stand-in server playing the address geocoder "/geo/clean".
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/async/task.h"
#include "core/cache/encrypted_cache.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"
#include "support/async_helpers.h"
#include "support/stand_in_server.h"
#include "support/workspace_helpers.h"

namespace dorvik::testing {

// An address of the sample catalogue, and where the catalogue puts it.
inline const char* const kCatalogueAddress = "Москва, Тверская улица, 6";
constexpr double kCatalogueLat = 55.7606;
constexpr double kCatalogueLon = 37.6095;

// The geocoder's answer for a found address.
inline JSONValue geocoderAnswer(double lat, double lon, const std::string& value, const char* qc = "0") {
  return JSONValue::object({{"found", JSONValue::object({{"lat", lat}, {"lon", lon}, {"value", value}, {"qc", qc}})},
                            {"provider", "dadata"}});
}

// A street that is not in the catalogue; house n of it lies at (55 + n/1000, 37 + n/1000).
inline std::string street(int n) { return "Москва, Учебная улица, " + std::to_string(n); }
inline double streetLat(int n) { return 55 + n / 1000.0; }
inline double streetLon(int n) { return 37 + n / 1000.0; }

// The geocoder's answer for house n of that street.
inline Answer houseAnswer(int n) { return Answer::json(geocoderAnswer(streetLat(n), streetLon(n), street(n))); }

// An order without coordinates.
inline JSONValue orderAt(const std::string& id, const std::string& address) {
  return JSONValue::object(
      {{"id", id}, {"title", "Клиент " + id}, {"address", address}, {"window", "09:00-18:00"}, {"units", 1}});
}

class GeocodingWorkspace : public ::testing::Test {
 protected:
  void SetUp() override {
    server = std::make_unique<StandInServer>();
    model = AppModel::create();
    model->setEngine(async::runBlocking(PlannerEngine::create()));
    cache = freshCache();
    model->setCache(cache);
    model->setApi(signedInClient(*server));
    model->setUser(JSONValue::object({{"role", "logist"}}));
    // The address upload that follows a search waits for good, so the remembered addresses stay pending.
    server->on("POST", "/panel/addresses", Answer::empty().held());
    // Every house of the street is found; scripted queries answer their own way.
    server->on("POST", "/geo/clean", [this](const Hit& hit) {
      const std::string query = hit.json()["query"].string();
      if (auto it = answers.find(query); it != answers.end()) return it->second;
      for (int n = 1; n <= 100; ++n) {
        if (query == street(n)) return Answer::json(geocoderAnswer(streetLat(n), streetLon(n), "г Москва, " + query));
      }
      return Answer::json(JSONValue::object({{"found", nullptr}, {"provider", "dadata"}}));
    });
  }

  // Loads a plan of these orders; returns their "_nativeID"s in plan order.
  std::vector<std::string> loadOrders(std::vector<JSONValue> orders) {
    JSONArray list(orders.begin(), orders.end());
    JSONValue day = JSONValue::object({
        {"routeDate", "2026-12-09"},
        {"depot",
         JSONValue::object({{"name", "Склад"}, {"lat", 55.7558}, {"lon", 37.6176}, {"window", "08:00-20:00"}})},
        {"vehicles", JSONValue::array({JSONValue::object(
                         {{"id", "V1"}, {"shift", "09:00-18:00"}, {"use", true}, {"capacity", 50}})})},
        {"orders", JSONValue(std::move(list))},
    });
    EXPECT_TRUE(async::runBlocking(model->mutate("load", std::move(day))));
    return model->orderIDs();
  }

  const JSONValue& order(const std::string& id) {
    for (const JSONValue& o : model->planner()["orders"].array()) {
      if (o["_nativeID"].string() == id) return o;
    }
    static const JSONValue none;
    return none;
  }

  // Arrival times of the geocoder requests, in order.
  std::vector<std::chrono::steady_clock::time_point> geocoderArrivals() const {
    std::vector<std::chrono::steady_clock::time_point> times;
    for (const Hit& hit : server->hitsOn("/geo/clean")) times.push_back(hit.arrived);
    return times;
  }

  std::unique_ptr<StandInServer> server;
  std::shared_ptr<AppModel> model;
  std::shared_ptr<EncryptedCache> cache;
  std::map<std::string, Answer> answers;  // by query
};

}  // namespace dorvik::testing
