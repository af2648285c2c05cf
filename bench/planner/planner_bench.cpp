// Timed harness of the route optimiser in JavaScriptCore. Classic instances: the assembled PlannerCore.js and
// bench/planner/driver.js, PlannerCore.solve called through the driver. City days: the whole core bundle as the
// planner engine evaluates it, "load" and "calculate" through Native.run, the returned plan checked by the driver.
// See CMakeLists.txt for the command line.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/base/errors.h"
#include "core/base/files.h"
#include "core/engine/planner_engine.h"
#include "core/engine/script_context.h"
#include "core/json/json_value.h"

namespace fs = std::filesystem;
using dorvik::JSONValue;

namespace {

bool parseNumber(const std::string& token, double& out) {
  const char* end = token.data() + token.size();
  auto [ptr, ec] = std::from_chars(token.data(), end, out);
  return ec == std::errc() && ptr == end;
}

struct Instance {
  std::string name;
  int fleet = 0;
  double capacity = 0;
  JSONValue rows = JSONValue::array({});  // [number, x, y, demand, ready, due, service]
};

// The classic text format: a name line, "VEHICLE" with "NUMBER CAPACITY" and their values, "CUSTOMER" with a
// header and one line of seven numbers per customer, the depot first.
Instance readInstance(const fs::path& path) {
  Instance inst;
  inst.name = path.stem().string();
  std::istringstream in(dorvik::files::readWhole(path.string()).value());
  std::string line;
  bool fleetNext = false;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::vector<std::string> tokens;
    for (std::string w; words >> w;) tokens.push_back(w);
    if (tokens.empty()) continue;
    if (tokens[0] == "NUMBER") {
      fleetNext = true;
      continue;
    }
    std::vector<double> values;
    for (const auto& t : tokens) {
      double x;
      if (!parseNumber(t, x)) break;
      values.push_back(x);
    }
    if (values.size() != tokens.size()) continue;
    if (fleetNext && values.size() == 2) {
      inst.fleet = static_cast<int>(values[0]);
      inst.capacity = values[1];
      fleetNext = false;
    } else if (values.size() == 7) {
      JSONValue row = JSONValue::array({});
      for (double v : values) row.push(v);
      inst.rows.push(std::move(row));
    }
  }
  if (inst.rows.size() < 2 || inst.fleet <= 0) throw dorvik::DorvikError(path.string() + ": not a VRPTW instance");
  return inst;
}

fs::path resourcesFolder() { return fs::path(DORVIK_APP_DIR) / "Dorvik_DorvikCore.bundle" / "Resources"; }

void evaluateFile(dorvik::ScriptContext& context, const fs::path& file, const std::string& name) {
  context.evaluateFile(file, name);
}

// The optimiser alone: PlannerCore.js with the prelude it is built on, and the driver.
std::unique_ptr<dorvik::ScriptContext> makeContext() {
  auto context = std::make_unique<dorvik::ScriptContext>();
  evaluateFile(*context, resourcesFolder() / "NativePrelude.js", "NativePrelude");
  evaluateFile(*context, resourcesFolder() / "PlannerCore.js", "PlannerCore");
  evaluateFile(*context, fs::path(DORVIK_SOURCE_DIR) / "bench" / "planner" / "driver.js", "driver");
  return context;
}

// The whole bundle as the planner engine evaluates it, in the same order, then the driver.
std::unique_ptr<dorvik::ScriptContext> makeEngineContext() {
  auto context = std::make_unique<dorvik::ScriptContext>();
  for (const char* name : dorvik::PlannerEngine::kComponents)
    evaluateFile(*context, resourcesFolder() / (std::string(name) + ".js"), name);
  evaluateFile(*context, fs::path(DORVIK_SOURCE_DIR) / "bench" / "planner" / "driver.js", "driver");
  return context;
}

// One component action through the engine's entry point Native.run, as PlannerEngine::run sends it.
std::string nativeRun(dorvik::ScriptContext& context, const std::string& action, const JSONValue& payload) {
  return context.callNativeRun(JSONValue::object({{"action", action}, {"payload", payload}}).json());
}

int runFolder(const fs::path& folder, int budget, int seed) {
  JSONValue best = JSONValue::object({});
  if (fs::exists(folder / "best-known.json"))
    best = JSONValue::decode(dorvik::files::readWhole((folder / "best-known.json").string()).value());
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.is_regular_file() && e.path().extension() == ".txt") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::printf("%-8s %4s %4s %10s %10s %8s %7s %5s %s\n", "instance", "veh", "best", "distance", "best", "gap%", "sec",
              "unas", "check");
  double gapSum = 0;
  int gapCount = 0, failures = 0;
  for (const auto& file : files) {
    Instance inst = readInstance(file);
    auto context = makeContext();
    std::string call = "benchSolomon(" + inst.rows.json() + "," + std::to_string(inst.fleet) + "," +
                       JSONValue(inst.capacity).json() + "," + std::to_string(budget) + "," + std::to_string(seed) +
                       ")";
    auto t0 = std::chrono::steady_clock::now();
    JSONValue r = JSONValue::decode(context->evaluate(call, "bench.js"));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double distance = r["distance"].doubleValue().value_or(0);
    std::string bestVehicles = "-", bestDistance = "-", gap = "-";
    if (best.contains(inst.name)) {
      double bd = best[inst.name]["distance"].doubleValue().value_or(0);
      double g = (distance - bd) / bd * 100.0;
      gapSum += g;
      gapCount++;
      bestVehicles = std::to_string(static_cast<int>(best[inst.name]["vehicles"].intValue()));
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.2f", bd);
      bestDistance = buf;
      std::snprintf(buf, sizeof buf, "%+.2f", g);
      gap = buf;
    }
    int faults = static_cast<int>(r["faultCount"].intValue());
    if (faults > 0) failures++;
    std::printf("%-8s %4d %4s %10.2f %10s %8s %7.2f %5d %s\n", inst.name.c_str(),
                static_cast<int>(r["vehicles"].intValue()), bestVehicles.c_str(), distance, bestDistance.c_str(),
                gap.c_str(), seconds, static_cast<int>(r["unassigned"].intValue()),
                faults == 0 ? "ok" : r["faults"].json().c_str());
  }
  if (gapCount > 0) std::printf("mean gap %+.2f%% over %d instances\n", gapSum / gapCount, gapCount);
  return failures == 0 ? 0 : 1;
}

// City days through the component: "load" with the generated planning document, then "calculate" with its own
// budget and fixed cost; the returned document is checked by the driver against its own model of the day.
int runCity(const std::string& sizes) {
  std::printf("%7s %6s %6s %5s %10s %9s %7s %8s %s\n", "orders", "fleet", "routes", "unas", "km", "late min", "load s",
              "calc s", "check");
  int failures = 0;
  std::istringstream list(sizes);
  for (std::string item; std::getline(list, item, ',');) {
    int orders = std::stoi(item);
    auto context = makeEngineContext();
    JSONValue payload =
        JSONValue::decode(context->evaluate("benchCityPayload(" + std::to_string(orders) + ")", "bench.js"));
    auto t0 = std::chrono::steady_clock::now();
    nativeRun(*context, "load", payload);
    auto t1 = std::chrono::steady_clock::now();
    std::string document = nativeRun(*context, "calculate", JSONValue::object({}));
    auto t2 = std::chrono::steady_clock::now();
    JSONValue r = JSONValue::decode(
        context->evaluate("benchCityCheck(" + std::to_string(orders) + "," + document + ")", "bench.js"));
    int faults = static_cast<int>(r["faultCount"].intValue());
    if (faults > 0) failures++;
    std::printf("%7d %6d %6d %5d %10.1f %9.1f %7.2f %8.2f %s  %s\n", orders, static_cast<int>(r["fleet"].intValue()),
                static_cast<int>(r["routes"].intValue()), static_cast<int>(r["unassigned"].intValue()),
                r["km"].doubleValue().value_or(0), r["late"].doubleValue().value_or(0),
                std::chrono::duration<double>(t1 - t0).count(), std::chrono::duration<double>(t2 - t1).count(),
                faults == 0 ? "ok" : r["faults"].json().c_str(), r["status"].string().c_str());
    std::fflush(stdout);
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  int budget = 0, seed = 1;
  std::string folder, city;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--budget" && i + 1 < argc)
      budget = std::stoi(argv[++i]);
    else if (a == "--seed" && i + 1 < argc)
      seed = std::stoi(argv[++i]);
    else if (a == "--city" && i + 1 < argc)
      city = argv[++i];
    else
      folder = a;
  }
  if (folder.empty() && city.empty()) {
    std::fprintf(stderr, "usage: planner_bench [--budget MS] [--seed N] FOLDER | --city 50,200,500,1000,2000\n");
    return 2;
  }
  try {
    int rc = 0;
    if (!folder.empty()) rc |= runFolder(folder, budget > 0 ? budget : 2000, seed);
    if (!city.empty()) rc |= runCity(city);
    return rc;
  } catch (const dorvik::DorvikError& e) {
    std::fprintf(stderr, "%s\n", e.message().c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
