// Timings of the planner engine as the application calls it, measured on the main thread's clock (the work runs on
// the engine's thread, so times are wall-clock):
//   - EngineStart: a new engine with the five components of the build's core bundle evaluated and the catalogue
//     opened, then released;
//   - RoundTrip*: one action over a plan of 5,000 orders, with a small component set of the bench's own that only
//     moves the document (the engine's own cost: encoding, the call into the context, decoding);
//   - EncodePlan, DecodePlan: the C++ share of that round trip alone;
//   - Planner*: the same document through the bundle's real planner ("load", "archive"), when the bundle has it.
#include <benchmark/benchmark.h>
#include <glib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/async/task.h"
#include "core/base/errors.h"
#include "core/engine/planner_engine.h"

using namespace dorvik;
namespace fs = std::filesystem;

namespace {

constexpr int kOrders = 5000;
constexpr int kVehicles = 50;

// A routed plan of n orders over Moscow, shared round-robin by v vehicles, in the planning document's shape.
JSONValue benchPlan(int n, int v) {
  unsigned long long seed = 7;
  auto random = [&seed] {
    seed = (seed * 1103515245ULL + 12345ULL) % 2147483648ULL;
    return static_cast<double>(seed) / 2147483648.0;
  };
  const char* windows[] = {"09:00-18:00", "10:00-14:00", "12:00-16:00", "14:00-19:00", ""};
  JSONArray vehicles, routes, orders;
  for (int k = 0; k < v; ++k) {
    vehicles.push_back(JSONValue::object({{"id", "courier" + std::to_string(k)},
                                          {"ref", "Курьер " + std::to_string(k)},
                                          {"shift", "08:00-20:00"},
                                          {"zone", ""},
                                          {"capacity", nullptr},
                                          {"mileage", nullptr},
                                          {"use", true},
                                          {"back", k % 2 == 0}}));
    routes.push_back(JSONValue::object({{"ci", k}, {"orders", JSONValue(JSONArray{})}}));
  }
  for (int i = 0; i < n; ++i) {
    orders.push_back(
        JSONValue::object({{"id", std::to_string(100000 + i)},
                           {"title", "Клиент " + std::to_string(i)},
                           {"address", "Москва, улица " + std::to_string(i % 700) + ", " + std::to_string(i % 50 + 1)},
                           {"phone", "+7 900 " + std::to_string(1000000 + i)},
                           {"window", windows[i % 5]},
                           {"units", 1 + i % 5},
                           {"lat", 55.55 + random() * 0.4},
                           {"lon", 37.35 + random() * 0.55},
                           {"hardWindow", ""},
                           {"serviceS", nullptr},
                           {"sharedS", nullptr},
                           {"comments", ""},
                           {"instructions", "Позвонить за час"},
                           {"source", "file"},
                           {"qc", "file"}}));
    routes[static_cast<std::size_t>(i % v)].member("orders").push(i);
  }
  return JSONValue::object(
      {{"routeDate", "2026-09-22"},
       {"fileName", "Заказы.xlsx"},
       {"depot", JSONValue::object({{"name", "Склад"}, {"lat", 55.75}, {"lon", 37.6}, {"window", "08:00-20:00"}})},
       {"vehicles", JSONValue(std::move(vehicles))},
       {"orders", JSONValue(std::move(orders))},
       {"routes", JSONValue(std::move(routes))},
       {"planned", true},
       {"revision", 1}});
}

const JSONValue& plan() {
  static const JSONValue document = benchPlan(kOrders, kVehicles);
  return document;
}

// Waits until every released engine has been torn down on its own thread.
void settle() {
  while (PlannerEngine::liveContexts() > 0) g_main_context_iteration(nullptr, FALSE);
}

// The bench's own components: "echo" gives the payload back, "take" keeps it and answers {}, "give" answers the
// document it keeps.
fs::path echoComponents() {
  static const fs::path folder = [] {
    char* dir = g_dir_make_tmp("dorvik-engine-bench-XXXXXX", nullptr);
    fs::path path(dir);
    g_free(dir);
    auto write = [&path](const char* name, const char* text) { std::ofstream(path / name, std::ios::binary) << text; };
    for (const char* name : PlannerEngine::kComponents) write((std::string(name) + ".js").c_str(), "");
    write("PlannerCore.js", "var kept = '{}';\n");
    write("NativeAdapter.js", R"JS(
var Native = {
  run: function (text) {
    var request = JSON.parse(text);
    switch (request.action) {
      case "echo": return JSON.stringify(request.payload);
      case "take": kept = JSON.stringify(request.payload); return "{}";
      case "give": return kept;
    }
    throw new Error("Неизвестное действие.");
  }
};
)JS");
    return path;
  }();
  return folder;
}

std::shared_ptr<PlannerEngine> echoEngine() {
  return async::runBlocking(PlannerEngine::create(PlannerEngineOptions{std::nullopt, echoComponents()}));
}

// The build's bundle with all five components, or the name of the first one missing.
std::string missingComponent() {
  auto resources = PlannerEngine::bundleResources();
  for (const char* name : PlannerEngine::kComponents) {
    if (!resources || !fs::exists(*resources / (std::string(name) + ".js"))) return name;
  }
  return {};
}

void EngineStart(benchmark::State& state) {
  if (auto missing = missingComponent(); !missing.empty()) {
    state.SkipWithError(("the core bundle has no " + missing + ".js yet").c_str());
    return;
  }
  int count = 0;
  for (auto _ : state) {
    auto engine = async::runBlocking(PlannerEngine::create());
    count = async::runBlocking(engine->catalogCount());
    state.PauseTiming();
    engine.reset();
    settle();
    state.ResumeTiming();
  }
  state.counters["catalogRows"] = count;
}
BENCHMARK(EngineStart)->Unit(benchmark::kMillisecond)->UseRealTime();

void RoundTripEcho(benchmark::State& state) {
  auto engine = echoEngine();
  const JSONValue& document = plan();
  std::size_t orders = 0;
  for (auto _ : state) {
    JSONValue result = async::runBlocking(engine->run("echo", document));
    orders = result["orders"].size();
  }
  if (orders != kOrders) state.SkipWithError("the document did not come back whole");
  state.counters["bytes"] = static_cast<double>(document.json().size());
  engine.reset();
  settle();
}
BENCHMARK(RoundTripEcho)->Unit(benchmark::kMillisecond)->UseRealTime();

// The document goes in; {} comes back.
void RoundTripIn(benchmark::State& state) {
  auto engine = echoEngine();
  const JSONValue& document = plan();
  for (auto _ : state) benchmark::DoNotOptimize(async::runBlocking(engine->run("take", document)));
  engine.reset();
  settle();
}
BENCHMARK(RoundTripIn)->Unit(benchmark::kMillisecond)->UseRealTime();

// {} goes in; the document comes back.
void RoundTripOut(benchmark::State& state) {
  auto engine = echoEngine();
  async::runBlocking(engine->run("take", plan()));
  for (auto _ : state) benchmark::DoNotOptimize(async::runBlocking(engine->run("give", JSONValue::object({}))));
  engine.reset();
  settle();
}
BENCHMARK(RoundTripOut)->Unit(benchmark::kMillisecond)->UseRealTime();

// The smallest action: the cost of one call through the engine's thread.
void RoundTripEmpty(benchmark::State& state) {
  auto engine = echoEngine();
  for (auto _ : state) benchmark::DoNotOptimize(async::runBlocking(engine->run("echo", JSONValue::object({}))));
  engine.reset();
  settle();
}
BENCHMARK(RoundTripEmpty)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The engine's own share of a round trip, without the thread hop and the context: writing the request text and
// decoding a document text.
void EncodePlan(benchmark::State& state) {
  JSONValue request = JSONValue::object({{"action", "echo"}, {"payload", plan()}});
  for (auto _ : state) benchmark::DoNotOptimize(request.json());
}
BENCHMARK(EncodePlan)->Unit(benchmark::kMillisecond)->UseRealTime();

void DecodePlan(benchmark::State& state) {
  std::string text = plan().json();
  for (auto _ : state) benchmark::DoNotOptimize(JSONValue::decode(text));
}
BENCHMARK(DecodePlan)->Unit(benchmark::kMillisecond)->UseRealTime();

void plannerAction(benchmark::State& state, const char* action) {
  if (auto missing = missingComponent(); !missing.empty()) {
    state.SkipWithError(("the core bundle has no " + missing + ".js yet").c_str());
    return;
  }
  try {
    auto engine = async::runBlocking(PlannerEngine::create());
    async::runBlocking(engine->run("load", plan()));
    for (auto _ : state) {
      JSONValue payload = std::string(action) == "load" ? plan() : JSONValue::object({});
      benchmark::DoNotOptimize(async::runBlocking(engine->run(action, payload)));
    }
    engine.reset();
    settle();
  } catch (const DorvikError& e) {
    state.SkipWithError(e.message().c_str());
  }
}
void PlannerLoad(benchmark::State& state) { plannerAction(state, "load"); }
void PlannerArchive(benchmark::State& state) { plannerAction(state, "archive"); }
BENCHMARK(PlannerLoad)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PlannerArchive)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
