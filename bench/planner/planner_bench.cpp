// Timed harness of the route optimiser. Evaluates the assembled PlannerCore.js in a JavaScriptCore context, then
// bench/planner/driver.js, and for every instance calls PlannerCore.solve through the driver and prints the plan's
// figures. See CMakeLists.txt for the command line.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/base/errors.h"
#include "core/engine/script_context.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw dorvik::DorvikError("cannot read " + path.string());
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool parseNumber(const std::string& token, double& out) {
  const char* end = token.data() + token.size();
  auto [ptr, ec] = std::from_chars(token.data(), end, out);
  return ec == std::errc() && ptr == end;
}

struct Instance {
  std::string name;
  int fleet = 0;
  double capacity = 0;
  json rows = json::array();  // [number, x, y, demand, ready, due, service]
};

// The classic text format: a name line, "VEHICLE" with "NUMBER CAPACITY" and their values, "CUSTOMER" with a
// header and one line of seven numbers per customer, the depot first.
Instance readInstance(const fs::path& path) {
  Instance inst;
  inst.name = path.stem().string();
  std::istringstream in(readFile(path));
  std::string line;
  bool fleetNext = false;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::vector<std::string> tokens;
    for (std::string w; words >> w;) tokens.push_back(w);
    if (tokens.empty()) continue;
    if (tokens[0] == "NUMBER") { fleetNext = true; continue; }
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
      inst.rows.push_back(values);
    }
  }
  if (inst.rows.size() < 2 || inst.fleet <= 0) throw dorvik::DorvikError(path.string() + ": not a VRPTW instance");
  return inst;
}

std::unique_ptr<dorvik::ScriptContext> makeContext() {
  auto context = std::make_unique<dorvik::ScriptContext>();
  fs::path planner = fs::path(DORVIK_APP_DIR) / "Dorvik_DorvikCore.bundle" / "Resources" / "PlannerCore.js";
  context->evaluateComponent(readFile(planner), "file://" + planner.string(), "PlannerCore");
  fs::path driver = fs::path(DORVIK_SOURCE_DIR) / "bench" / "planner" / "driver.js";
  context->evaluateComponent(readFile(driver), "file://" + driver.string(), "driver");
  return context;
}

int runFolder(const fs::path& folder, int budget, int seed) {
  json best = json::object();
  if (fs::exists(folder / "best-known.json")) best = json::parse(readFile(folder / "best-known.json"));
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.is_regular_file() && e.path().extension() == ".txt") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::printf("%-8s %4s %4s %10s %10s %8s %7s %5s %s\n", "instance", "veh", "best", "distance", "best", "gap%", "sec", "unas", "check");
  double gapSum = 0;
  int gapCount = 0, failures = 0;
  for (const auto& file : files) {
    Instance inst = readInstance(file);
    auto context = makeContext();
    std::string call = "benchSolomon(" + inst.rows.dump() + "," + std::to_string(inst.fleet) + "," +
                       json(inst.capacity).dump() + "," + std::to_string(budget) + "," + std::to_string(seed) + ")";
    auto t0 = std::chrono::steady_clock::now();
    json r = json::parse(context->evaluate(call, "bench.js"));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double distance = r["distance"].get<double>();
    std::string bestVehicles = "-", bestDistance = "-", gap = "-";
    if (best.contains(inst.name)) {
      double bd = best[inst.name]["distance"].get<double>();
      double g = (distance - bd) / bd * 100.0;
      gapSum += g;
      gapCount++;
      bestVehicles = std::to_string(best[inst.name]["vehicles"].get<int>());
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.2f", bd);
      bestDistance = buf;
      std::snprintf(buf, sizeof buf, "%+.2f", g);
      gap = buf;
    }
    int faults = r["faultCount"].get<int>();
    if (faults > 0) failures++;
    std::printf("%-8s %4d %4s %10.2f %10s %8s %7.2f %5d %s\n", inst.name.c_str(), r["vehicles"].get<int>(),
                bestVehicles.c_str(), distance, bestDistance.c_str(), gap.c_str(), seconds, r["unassigned"].get<int>(),
                faults == 0 ? "ok" : r["faults"].dump().c_str());
  }
  if (gapCount > 0) std::printf("mean gap %+.2f%% over %d instances\n", gapSum / gapCount, gapCount);
  return failures == 0 ? 0 : 1;
}

int runCity(const std::string& sizes, int budget, int seed) {
  std::printf("%7s %6s %5s %10s %9s %8s %8s %5s %s\n", "orders", "fleet", "veh", "km", "late min", "build s", "solve s", "unas", "check");
  int failures = 0;
  std::istringstream list(sizes);
  for (std::string item; std::getline(list, item, ',');) {
    int orders = std::stoi(item);
    // The budget "calculate" gives: grows with the orders, 30 s at most (unless set on the command line).
    int b = budget > 0 ? budget : std::min(30000, 1000 + 20 * orders);
    auto context = makeContext();
    auto t0 = std::chrono::steady_clock::now();
    json r = json::parse(context->evaluate("benchCity(" + std::to_string(orders) + "," + std::to_string(b) + "," +
                                               std::to_string(seed) + ")",
                                           "bench.js"));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    int faults = r["faultCount"].get<int>();
    if (faults > 0) failures++;
    std::printf("%7d %6d %5d %10.1f %9.1f %8.2f %8.2f %5d %s %s\n", orders, r["fleet"].get<int>(), r["vehicles"].get<int>(),
                r["distance"].get<double>(), r["lateness"].get<double>(), r["buildSeconds"].get<double>(), seconds,
                r["unassigned"].get<int>(), faults == 0 ? "ok" : r["faults"].dump().c_str(), r["reasons"].dump().c_str());
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  int budget = 0, seed = 1;
  std::string folder, city;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--budget" && i + 1 < argc) budget = std::stoi(argv[++i]);
    else if (a == "--seed" && i + 1 < argc) seed = std::stoi(argv[++i]);
    else if (a == "--city" && i + 1 < argc) city = argv[++i];
    else folder = a;
  }
  if (folder.empty() && city.empty()) {
    std::fprintf(stderr, "usage: planner_bench [--budget MS] [--seed N] FOLDER | --city 50,200,500,1000,2000\n");
    return 2;
  }
  try {
    int rc = 0;
    if (!folder.empty()) rc |= runFolder(folder, budget > 0 ? budget : 2000, seed);
    if (!city.empty()) rc |= runCity(city, budget, seed);
    return rc;
  } catch (const dorvik::DorvikError& e) {
    std::fprintf(stderr, "%s\n", e.message().c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
