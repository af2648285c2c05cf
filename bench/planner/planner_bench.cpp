// Timed harness of the route optimiser in JavaScriptCore. Classic instances: the assembled PlannerCore.js and
// bench/planner/driver.js, PlannerCore.solve called through the driver. City days: the whole core bundle as the
// planner engine evaluates it, "load" and "calculate" through Native.run, the returned plan checked by the driver.
// See CMakeLists.txt for the command line.
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
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

// The components of this build, or of the bundle given with --bundle (an earlier build kept for comparison).
fs::path bundleFolder = fs::path(DORVIK_APP_DIR) / "Dorvik_DorvikCore.bundle";
// With --work-only the clock hardly moves inside the script context, so only the optimiser's measure of work ends
// its search: the plans no longer depend on the machine's speed or load, the times do.
bool workOnly = false;

fs::path resourcesFolder() { return bundleFolder / "Resources"; }

// Copies of the optimiser run alongside each calculation: --threads N in all, the calculation's own included; by
// default as many as the program runs on this computer.
int threads = 0;

constexpr const char* kSteadyClock =
    "(function () { let t = Date.now(); Date.now = function () { t += 0.0005; return t; }; })();";

void steadyClock(dorvik::ScriptContext& context) {
  if (workOnly) context.evaluate(kSteadyClock, "clock.js");
}

// The copies as the planner engine makes them, with the steady clock in theirs too when the work alone counts.
void offerThreads(dorvik::ScriptContext& context) {
  std::vector<std::string> after;
  if (workOnly) after.push_back(kSteadyClock);
  dorvik::PlannerEngine::offerSolveThreads(context, resourcesFolder(),
                                           threads > 0 ? std::optional<int>(threads - 1) : std::nullopt, after);
}

// Processor seconds of the process, the copies' threads included: with one instance at a time per process, the
// time the run would take on cores of its own.
double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void evaluateFile(dorvik::ScriptContext& context, const fs::path& file, const std::string& name) {
  context.evaluateFile(file, name);
}

// The optimiser alone: PlannerCore.js with the prelude it is built on, and the driver.
std::unique_ptr<dorvik::ScriptContext> makeContext() {
  auto context = std::make_unique<dorvik::ScriptContext>();
  evaluateFile(*context, resourcesFolder() / "NativePrelude.js", "NativePrelude");
  evaluateFile(*context, resourcesFolder() / "PlannerCore.js", "PlannerCore");
  evaluateFile(*context, fs::path(DORVIK_SOURCE_DIR) / "bench" / "planner" / "driver.js", "driver");
  steadyClock(*context);
  offerThreads(*context);
  return context;
}

// The whole bundle as the planner engine evaluates it, in the same order, then the driver.
std::unique_ptr<dorvik::ScriptContext> makeEngineContext() {
  auto context = std::make_unique<dorvik::ScriptContext>();
  for (const char* name : dorvik::PlannerEngine::kComponents)
    evaluateFile(*context, resourcesFolder() / (std::string(name) + ".js"), name);
  evaluateFile(*context, fs::path(DORVIK_SOURCE_DIR) / "bench" / "planner" / "driver.js", "driver");
  steadyClock(*context);
  offerThreads(*context);
  return context;
}

// One component action through the engine's entry point Native.run, as PlannerEngine::run sends it.
std::string nativeRun(dorvik::ScriptContext& context, const std::string& action, const JSONValue& payload) {
  return context.callNativeRun(JSONValue::object({{"action", action}, {"payload", payload}}).json());
}

// Runs task(i) for i in 0..count-1 and returns their texts in order. With jobs > 1 each task runs in a child
// process of its own (at most `jobs` at once), so every instance gets a fresh engine and one core; the children are
// forked before this process has made any script context.
std::vector<std::string> runTasks(int count, int jobs, const std::function<std::string(int)>& task) {
  std::vector<std::string> out(count);
  if (jobs <= 1) {
    for (int i = 0; i < count; i++) out[i] = task(i);
    return out;
  }
  struct Child {
    pid_t pid;
    int fd;
    int index;
  };
  std::vector<Child> running;
  int next = 0;
  auto collect = [&](size_t k) {
    std::string text;
    char buf[4096];
    for (ssize_t got; (got = read(running[k].fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(got));
    close(running[k].fd);
    int status = 0;
    waitpid(running[k].pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || text.empty())
      text = JSONValue::object({{"error", "the run ended abnormally"}}).json();
    out[running[k].index] = text;
    running.erase(running.begin() + static_cast<std::ptrdiff_t>(k));
  };
  while (next < count || !running.empty()) {
    while (next < count && static_cast<int>(running.size()) < jobs) {
      int fds[2];
      if (pipe(fds) != 0) throw dorvik::DorvikError("cannot create a pipe");
      std::fflush(stdout);
      pid_t pid = fork();
      if (pid < 0) throw dorvik::DorvikError("cannot start a child process");
      if (pid == 0) {
        close(fds[0]);
        std::string text;
        try {
          text = task(next);
        } catch (const dorvik::DorvikError& e) {
          text = JSONValue::object({{"error", e.message()}}).json();
        } catch (const std::exception& e) {
          text = JSONValue::object({{"error", std::string(e.what())}}).json();
        }
        for (size_t done = 0; done < text.size();) {
          ssize_t put = write(fds[1], text.data() + done, text.size() - done);
          if (put <= 0) break;
          done += static_cast<size_t>(put);
        }
        _exit(0);
      }
      close(fds[1]);
      running.push_back({pid, fds[0], next++});
    }
    // The results are small: reading the oldest child to its end does not hold the others up.
    collect(0);
  }
  return out;
}

// The group of a classic instance: its letters and the first digit after them (R1 for R101 and R1_2_1).
std::string groupOf(const std::string& name) {
  size_t i = 0;
  while (i < name.size() && std::isalpha(static_cast<unsigned char>(name[i]))) i++;
  return name.substr(0, std::min(name.size(), i + 1));
}

int runFolder(const fs::path& folder, int budget, int seed, int jobs) {
  if (!fs::is_directory(folder))
    throw dorvik::DorvikError(folder.string() + ": no such folder of instances (the development sets are read from " +
                              "/work/shared/bench and are not part of the project)");
  JSONValue best = JSONValue::object({});
  if (fs::exists(folder / "best-known.json"))
    best = JSONValue::decode(dorvik::files::readWhole((folder / "best-known.json").string()).value());
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.is_regular_file() && e.path().extension() == ".txt") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  if (files.empty()) throw dorvik::DorvikError(folder.string() + ": no instance files (*.txt)");
  std::vector<Instance> instances;
  for (const auto& file : files) instances.push_back(readInstance(file));

  std::printf("budget %d ms per instance%s, seed %d, %d at once, %d searches each\n", budget,
              workOnly ? " (work only)" : "", seed, std::max(1, jobs),
              threads > 0 ? threads : 1 + dorvik::SolveThreads::copiesForThisComputer());
  std::fflush(stdout);
  auto results = runTasks(static_cast<int>(instances.size()), jobs, [&](int i) {
    const Instance& inst = instances[i];
    auto context = makeContext();
    std::string call = "benchSolomon(" + inst.rows.json() + "," + std::to_string(inst.fleet) + "," +
                       JSONValue(inst.capacity).json() + "," + std::to_string(budget) + "," + std::to_string(seed) +
                       ")";
    auto t0 = std::chrono::steady_clock::now();
    double c0 = cpuSeconds();
    JSONValue r = JSONValue::decode(context->evaluate(call, "bench.js"));
    r.set("wall", std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    r.set("cpu", cpuSeconds() - c0);
    return r.json();
  });

  struct Group {
    int instances = 0, above = 0, atBest = 0;
    double gapSum = 0;
  };
  std::map<std::string, Group> groups;
  Group all;
  std::printf("%-8s %4s %4s %10s %10s %8s %7s %7s %5s %s\n", "instance", "veh", "best", "distance", "best", "gap%",
              "sec", "cpu s", "unas", "check");
  int failures = 0;
  for (size_t i = 0; i < instances.size(); i++) {
    const Instance& inst = instances[i];
    JSONValue r = JSONValue::decode(results[i]);
    if (r.contains("error")) {
      failures++;
      std::printf("%-8s %s\n", inst.name.c_str(), r["error"].string().c_str());
      continue;
    }
    double distance = r["distance"].doubleValue().value_or(0);
    int vehicles = static_cast<int>(r["vehicles"].intValue());
    std::string bestVehicles = "-", bestDistance = "-", gap = "-";
    Group& group = groups[groupOf(inst.name)];
    group.instances++;
    all.instances++;
    if (best.contains(inst.name)) {
      double bd = best[inst.name]["distance"].doubleValue().value_or(0);
      int bv = static_cast<int>(best[inst.name]["vehicles"].intValue());
      double g = (distance - bd) / bd * 100.0;
      if (vehicles > bv) {
        group.above++;
        all.above++;
      } else if (vehicles == bv) {
        group.atBest++;
        group.gapSum += g;
        all.atBest++;
        all.gapSum += g;
      }
      bestVehicles = std::to_string(bv);
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.2f", bd);
      bestDistance = buf;
      std::snprintf(buf, sizeof buf, "%+.2f", g);
      gap = buf;
    }
    int faults = static_cast<int>(r["faultCount"].intValue());
    if (faults > 0) failures++;
    std::printf("%-8s %4d %4s %10.2f %10s %8s %7.2f %7.2f %5d %s\n", inst.name.c_str(), vehicles, bestVehicles.c_str(),
                distance, bestDistance.c_str(), gap.c_str(), r["wall"].doubleValue().value_or(0),
                r["cpu"].doubleValue().value_or(0), static_cast<int>(r["unassigned"].intValue()),
                faults == 0 ? "ok" : r["faults"].json().c_str());
  }
  // Vehicles first: how many instances need more than the best known; then the distance gap over the instances
  // solved with the best known number of vehicles.
  std::printf("\n%-6s %9s %13s %10s\n", "group", "instances", "more vehicles", "gap% at best vehicles");
  auto summary = [](const std::string& name, const Group& g) {
    char gap[32] = "-";
    if (g.atBest > 0) std::snprintf(gap, sizeof gap, "%+.2f (%d)", g.gapSum / g.atBest, g.atBest);
    std::printf("%-6s %9d %13d %10s\n", name.c_str(), g.instances, g.above, gap);
  };
  for (const auto& [name, g] : groups) summary(name, g);
  summary("all", all);
  return failures == 0 ? 0 : 1;
}

// City days through the component: "load" with the generated planning document, then "calculate" with its own
// budget and fixed cost; the returned document is checked by the driver against its own model of the day.
int runCity(const std::string& sizes, int jobs) {
  std::vector<int> days;
  std::istringstream list(sizes);
  for (std::string item; std::getline(list, item, ',');) days.push_back(std::stoi(item));
  std::printf("%7s %6s %6s %5s %10s %9s %10s %7s %8s %8s %s\n", "orders", "fleet", "routes", "unas", "km", "late min",
              "cost", "load s", "calc s", "cpu s", "check");
  std::fflush(stdout);
  auto results = runTasks(static_cast<int>(days.size()), jobs, [&](int i) {
    int orders = days[i];
    auto context = makeEngineContext();
    JSONValue payload =
        JSONValue::decode(context->evaluate("benchCityPayload(" + std::to_string(orders) + ")", "bench.js"));
    auto t0 = std::chrono::steady_clock::now();
    nativeRun(*context, "load", payload);
    auto t1 = std::chrono::steady_clock::now();
    double c1 = cpuSeconds();
    std::string document = nativeRun(*context, "calculate", JSONValue::object({}));
    double c2 = cpuSeconds();
    auto t2 = std::chrono::steady_clock::now();
    JSONValue r = JSONValue::decode(
        context->evaluate("benchCityCheck(" + std::to_string(orders) + "," + document + ")", "bench.js"));
    r.set("loadSeconds", std::chrono::duration<double>(t1 - t0).count());
    r.set("calcSeconds", std::chrono::duration<double>(t2 - t1).count());
    r.set("calcCpu", c2 - c1);
    return r.json();
  });
  int failures = 0;
  for (size_t i = 0; i < days.size(); i++) {
    JSONValue r = JSONValue::decode(results[i]);
    if (r.contains("error")) {
      failures++;
      std::printf("%7d %s\n", days[i], r["error"].string().c_str());
      continue;
    }
    int faults = static_cast<int>(r["faultCount"].intValue());
    if (faults > 0) failures++;
    std::printf("%7d %6d %6d %5d %10.1f %9.1f %10.1f %7.2f %8.2f %8.2f %s  %s\n", days[i],
                static_cast<int>(r["fleet"].intValue()), static_cast<int>(r["routes"].intValue()),
                static_cast<int>(r["unassigned"].intValue()), r["km"].doubleValue().value_or(0),
                r["late"].doubleValue().value_or(0), r["cost"].doubleValue().value_or(0),
                r["loadSeconds"].doubleValue().value_or(0), r["calcSeconds"].doubleValue().value_or(0),
                r["calcCpu"].doubleValue().value_or(0), faults == 0 ? "ok" : r["faults"].json().c_str(),
                r["status"].string().c_str());
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  int budget = 0, seed = 1, jobs = 1;
  std::string folder, city;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--budget" && i + 1 < argc)
      budget = std::stoi(argv[++i]);
    else if (a == "--seed" && i + 1 < argc)
      seed = std::stoi(argv[++i]);
    else if (a == "--bundle" && i + 1 < argc)
      bundleFolder = argv[++i];
    else if (a == "--work-only")
      workOnly = true;
    else if (a == "--jobs" && i + 1 < argc)
      jobs = std::max(1, std::stoi(argv[++i]));
    else if (a == "--threads" && i + 1 < argc)
      threads = std::max(1, std::stoi(argv[++i]));
    else if (a == "--city" && i + 1 < argc)
      city = argv[++i];
    else
      folder = a;
  }
  if (folder.empty() && city.empty()) {
    std::fprintf(stderr,
                 "usage: planner_bench [--jobs N] [--threads N] [--work-only] [--bundle DIR] [--budget MS] "
                 "[--seed N] FOLDER | --city 50,200,500,1000,2000\n");
    return 2;
  }
  try {
    int rc = 0;
    if (!folder.empty()) rc |= runFolder(folder, budget > 0 ? budget : 2000, seed, jobs);
    if (!city.empty()) rc |= runCity(city, jobs);
    return rc;
  } catch (const dorvik::DorvikError& e) {
    std::fprintf(stderr, "%s\n", e.message().c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
