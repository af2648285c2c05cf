// Timings of the planner component's actions as the engine calls them: one JSON text in through Native.run, one
// JSON text out. Every action but "calculate", "import" and "export" is timed on a routed plan of 5,000 orders over
// 250 couriers, a day that can be published.
//
//   planner_document_bench                      the per-action timings (Google Benchmark)
//   planner_document_bench --import [bytes]     import of a workbook of that size (default 41,943,040 bytes), in a
//                                               child process of its own: seconds and peak resident memory
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/base/errors.h"
#include "core/base/files.h"
#include "core/engine/planner_engine.h"
#include "core/engine/script_context.h"
#include "smoke.h"

namespace fs = std::filesystem;

namespace {

constexpr int kOrders = 5000;
constexpr int kVehicles = 250;

std::unique_ptr<dorvik::ScriptContext> loadBundle(bool withFixtures) {
  auto context = std::make_unique<dorvik::ScriptContext>();
  dorvik::PlannerEngine::evaluateComponents(*context,
                                            fs::path(DORVIK_APP_DIR) / "Dorvik_DorvikCore.bundle" / "Resources");
  if (withFixtures) {
    fs::path fixtures = fs::path(DORVIK_SOURCE_DIR) / "bench" / "planner_document" / "fixtures.js";
    context->evaluateFile(fixtures, "fixtures");
  }
  return context;
}

dorvik::ScriptContext& planContext() {
  static std::unique_ptr<dorvik::ScriptContext> context = [] {
    auto c = loadBundle(true);
    c->evaluate("benchLoadPlan(" + std::to_string(kOrders) + ", " + std::to_string(kVehicles) + ")");
    return c;
  }();
  return *context;
}

std::string jsString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

void timeAction(benchmark::State& state, const std::string& action) {
  auto& context = planContext();
  std::size_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::string request = context.evaluate("benchRequest(" + jsString(action) + ")");
    state.ResumeTiming();
    std::string result = context.callNativeRun(request);
    bytes = result.size();
    benchmark::DoNotOptimize(result);
  }
  state.counters["result_bytes"] = static_cast<double>(bytes);
}

long maxRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Child process: reads the workbook's Base64 text, loads the bundle, imports once.
int importOnce(const fs::path& file) {
  std::string base64 = dorvik::files::readWhole(file.string()).value();
  auto context = loadBundle(false);
  long before = maxRssKiB();
  std::string request = "{\"action\":\"import\",\"payload\":{\"base64\":\"" + base64 +
                        "\",\"name\":\"Заказы.xlsx\",\"routeDate\":\"2026-09-22\"}}";
  auto start = std::chrono::steady_clock::now();
  std::string result = context->callNativeRun(request);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  auto at = result.find("\"status\":\"");
  std::string status = at == std::string::npos ? "" : result.substr(at + 10, result.find('"', at + 10) - at - 10);
  std::printf("import: %.2f s; result %.1f MB; peak RSS %.0f MiB (%.0f MiB before the call); %s\n", seconds,
              result.size() / 1048576.0, maxRssKiB() / 1024.0, before / 1024.0, status.c_str());
  return 0;
}

int importBenchmark(const char* self, long bytes) {
  fs::path file = fs::path(DORVIK_BINARY_DIR) / ("bench-workbook-" + std::to_string(bytes) + ".b64");
  if (!fs::exists(file)) {
    auto context = loadBundle(true);
    std::string base64 = context->evaluate("benchWorkbook(" + std::to_string(bytes) + ")");
    std::ofstream(file, std::ios::binary) << base64;
    std::printf("workbook written: %zu bytes as Base64 (%zu bytes of file)\n", base64.size(), base64.size() / 4 * 3);
  }
  pid_t child = fork();
  if (child == 0) {
    execl(self, self, "--import-file", file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

// Half a second an action; one call in a smoke run.
static benchmark::internal::Benchmark* timed(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kMillisecond);
  return dorvik::bench::smokeRun() ? b->Iterations(1) : b->MinTime(0.5);
}

#define ACTION(name)                                                           \
  static void BM_##name(benchmark::State& state) { timeAction(state, #name); } \
  BENCHMARK(BM_##name)->Apply([](auto* b) { timed(b); });

ACTION(identity)
ACTION(zones)
ACTION(archive)
ACTION(payload)
ACTION(pendingLegs)
ACTION(date)
ACTION(depot)
ACTION(config)
ACTION(vehicle)
ACTION(order)
ACTION(assign)
ACTION(reorder)
ACTION(restoreAssignments)
ACTION(geocodeBatch)
ACTION(roads)
ACTION(addOrder)
ACTION(deleteOrders)
ACTION(sheet)
ACTION(load)

int main(int argc, char** argv) {
  try {
    if (argc >= 3 && std::string(argv[1]) == "--import-file") return importOnce(argv[2]);
    if (argc >= 2 && std::string(argv[1]) == "--import") {
      long bytes = argc >= 3 ? std::atol(argv[2]) : 41943040L;
      return importBenchmark("/proc/self/exe", bytes);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
  } catch (const dorvik::DorvikError& e) {
    std::cerr << e.message() << "\n";
    return 1;
  }
  return 0;
}
