// The planning map's description of a large calculated day: 5,000 orders on 100 routes of 50 stops, 300 of them
// selected, with ten zones shown. The map tab builds it again on every change of the plan, the selection or the
// busy flags (target: well under the 10 ms the surface's own update may take), and the windows and routes tabs read
// the same document.
//   build/bench/planning_map/planning_map_bench
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "planning/logic/planning_map.h"

namespace {

using namespace dorvik;
using namespace dorvik::planning;

JSONValue largeDay() {
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> lat(55.55, 55.95), lon(37.35, 37.85);
  JSONArray orders, routes, vehicles;
  for (int i = 0; i < 5000; ++i) {
    orders.push_back(JSONValue::object({
        {"_nativeID", "n" + std::to_string(i)},
        {"id", std::to_string(100000 + i)},
        {"title", "Клиент " + std::to_string(i)},
        {"address", "Москва, Профсоюзная улица, " + std::to_string(i % 200 + 1)},
        {"lat", lat(random)},
        {"lon", lon(random)},
        {"_drv", "Курьер " + std::to_string(i / 50)},
        {"_seq", std::to_string(i % 50 + 1)},
        {"_rt", i / 50},
        {"source", i % 3 ? "osm" : "manual"},
    }));
  }
  for (int r = 0; r < 100; ++r) {
    JSONArray positions;
    for (int p = 0; p < 50; ++p) positions.emplace_back(r * 50 + p);
    routes.push_back(JSONValue::object({{"ci", r}, {"orders", JSONValue(std::move(positions))}}));
    vehicles.push_back(JSONValue::object({{"ref", "Курьер " + std::to_string(r)}}));
  }
  return JSONValue::object({{"orders", JSONValue(std::move(orders))},
                            {"routes", JSONValue(std::move(routes))},
                            {"vehicles", JSONValue(std::move(vehicles))},
                            {"depot", JSONValue::object({{"name", "Склад"}, {"lat", 55.75}, {"lon", 37.61}})},
                            {"planned", true},
                            {"revision", 42}});
}

std::vector<JSONValue> zones() {
  std::vector<JSONValue> out;
  for (int z = 0; z < 10; ++z) {
    JSONArray points;
    for (int p = 0; p < 40; ++p) points.push_back(JSONValue::array({55.6 + p / 100.0, 37.4 + z / 50.0}));
    out.push_back(JSONValue::object({{"points", JSONValue(std::move(points))}}));
  }
  return out;
}

std::shared_ptr<AppModel> loadedModel() {
  auto model = AppModel::create();
  model->setPlanner(largeDay());
  model->setZones(zones());
  std::set<std::string> selected;
  for (int i = 0; i < 5000; i += 17) selected.insert("n" + std::to_string(i));
  model->setSelectedOrders(std::move(selected));
  return model;
}

// Everything the surface is handed after one change.
void BM_MapContent(benchmark::State& state) {
  auto model = loadedModel();
  auto map = PlanningMap::create(model, MapWork{});
  map->setShowZones(true);
  std::size_t pins = 0;
  for (auto _ : state) {
    MapContent content = map->content();
    pins = content.pins.size();
    benchmark::DoNotOptimize(content);
  }
  if (pins != 5001) state.SkipWithError("not every order got its pin");
}
BENCHMARK(BM_MapContent)->Unit(benchmark::kMillisecond);

// The route lines alone (the positions of 100 routes resolved to points).
void BM_RouteLines(benchmark::State& state) {
  const JSONValue planner = largeDay();
  for (auto _ : state) benchmark::DoNotOptimize(routeLines(planner));
}
BENCHMARK(BM_RouteLines)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
