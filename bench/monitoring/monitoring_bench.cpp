// The monitoring page's work after each reload or keystroke for a large day: 500 routes of 40 stops each filtered
// by status and search, then the pins, lines and metrics of what is shown (target: at most 12 ms, so that a refresh
// never costs a frame). The day is read from its JSON text, as the page receives the server's answer.
//   build/bench/monitoring/monitoring_bench
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "monitoring/logic/monitoring_rules.h"

namespace {

using namespace dorvik;
using namespace dorvik::monitoring;

std::vector<Record> largeDay() {
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> lat(55.55, 55.95), lon(37.35, 37.85);
  const char* statuses[] = {"pending", "in_progress", "finished"};
  const char* names[] = {"Пётр Иванов", "Анна Смирнова", "Олег Кузнецов", "Мария Попова", "Иван Соколов"};
  JSONArray routes;
  for (int r = 0; r < 500; ++r) {
    JSONArray stops;
    for (int s = 0; s < 40; ++s)
      stops.push_back(
          JSONValue::object({{"coordinates", JSONValue::object({{"lat", lat(random)}, {"lon", lon(random)}})},
                             {"pointId", "P" + std::to_string(r * 40 + s)},
                             {"address", "Москва, Профсоюзная улица, " + std::to_string(s + 1)},
                             {"status", s % 3 ? "pending" : "delivered"},
                             {"stopNumber", s + 1}}));
    routes.push_back(JSONValue::object(
        {{"routeId", "R-" + std::to_string(r)},
         {"externalRouteId", "2026-10-06 · Маршрут " + std::to_string(r)},
         {"status", statuses[r % 3]},
         {"courier", JSONValue::object({{"name", std::string(names[r % 5]) + " " + std::to_string(r)},
                                        {"login", "courier" + std::to_string(r)}})},
         {"points", 40},
         {"closed", 13},
         {"problem", r % 2},
         {"location", JSONValue::object({{"lat", lat(random)}, {"lon", lon(random)}, {"at", "10:15"}})},
         {"stops", JSONValue(std::move(stops))}}));
  }
  return JSONValue::records(JSONValue::decode(JSONValue(std::move(routes)).data()).array());
}

void run(benchmark::State& state, const char* status, const char* query) {
  const auto routes = largeDay();
  for (auto _ : state) {
    const auto filtered = filterRoutes(routes, status, query);
    const auto shown = shownRoutes(filtered, std::nullopt);
    auto drawing = routeDrawing(shown);
    Metrics m = dayMetrics(routes);
    benchmark::DoNotOptimize(drawing);
    benchmark::DoNotOptimize(m);
  }
}

void AllRoutes(benchmark::State& state) { run(state, "all", ""); }
void SearchedInProgress(benchmark::State& state) { run(state, "in_progress", "иван"); }

}  // namespace

BENCHMARK(AllRoutes)->Unit(benchmark::kMillisecond);
BENCHMARK(SearchedInProgress)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
