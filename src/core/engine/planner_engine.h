// PlannerEngine: the one door to the script components (planner, workbooks, geocoding rules) and to the local
// address catalogue.
//
// An actor: it owns one SerialWorker, and its JavaScript context and SQLite connection are created, used and
// destroyed on that worker's thread only. Every call is a job on that thread, so calls never overlap and the main
// loop never waits for one; each awaiting task resumes on its own context.
//
//   auto engine = co_await PlannerEngine::create();
//   JSONValue plan = co_await engine->run("load", JSONValue::object({{"routeDate", "2026-12-08"}}));
//
// A calculation of a large day may run copies of the route optimiser alongside, on threads and in contexts of their
// own that live only while the calculation runs (SolveThreads): the engine's own context is still used by one call
// at a time, on the worker's thread only.
//
// Releasing the last reference never blocks: the context and the connection are released as the worker's last
// job, after whatever action is still running there, and the worker's thread then ends by itself.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/async/task.h"
#include "core/base/owned_text.h"
#include "core/async/worker.h"
#include "core/json/json_value.h"

namespace dorvik {

struct PlannerEngineOptions {
  // The catalogue file; none for the bundle's "geocoder.sqlite". A file that does not exist means no catalogue.
  std::optional<std::filesystem::path> catalogPath;
  // The folder holding the components and the catalogue; none for the core resource bundle's "Resources".
  std::optional<std::filesystem::path> resourcesFolder;
};

class ScriptContext;

class PlannerEngine : public std::enable_shared_from_this<PlannerEngine> {
 public:
  // The components, in the order they are evaluated: "<name>.js" in the resources folder. The one list: the
  // engine, the component tests and the benchmarks all load them through evaluateComponents.
  static constexpr const char* kComponents[] = {"xlsx.full.min", "NativePrelude", "GeocodingCore", "PlannerCore",
                                                "NativeAdapter"};

  // Evaluates the components in that order from `folder` into `context`. Throws DorvikError
  // "Не найден компонент <name>." for the first one missing (none is looked for without a folder), and whatever
  // ScriptContext::evaluateFile throws; either way the later components are not evaluated.
  static void evaluateComponents(ScriptContext& context, const std::optional<std::filesystem::path>& folder);
  // The components a copy of the route optimiser needs, in order.
  static constexpr const char* kOptimiserComponents[] = {"NativePrelude", "PlannerCore"};
  // Lets the route optimiser in `context` run `copies` copies of itself alongside (SolveThreads; by default as
  // many as suit this computer), each made of kOptimiserComponents from `folder`, read when a calculation first
  // needs them, then the scripts `after` (the benchmark's steady clock). A component that cannot be read then leaves
  // the optimiser to run alone.
  static void offerSolveThreads(ScriptContext& context, const std::optional<std::filesystem::path>& folder,
                                std::optional<int> copies = std::nullopt, std::vector<std::string> after = {});

  // Creates the context, evaluates the five components in order and opens the catalogue (catalogPath, or the
  // bundle's "geocoder.sqlite"). Throws DorvikError: "Не удалось запустить расчёт маршрутов.",
  // "Не найден компонент <name>." (later components are not evaluated), "<name>: <exception text>",
  // "Не удалось открыть локальный каталог адресов."; a component file that cannot be read is thrown as the
  // read error.
  static async::Task<std::shared_ptr<PlannerEngine>> create(std::optional<std::filesystem::path> catalogPath = {});
  static async::Task<std::shared_ptr<PlannerEngine>> create(PlannerEngineOptions options);

  ~PlannerEngine();
  PlannerEngine(const PlannerEngine&) = delete;
  PlannerEngine& operator=(const PlannerEngine&) = delete;

  // Runs one component action: Native.run('{"action":…,"payload":…}') and its JSON text decoded. Throws
  // DorvikError with the component's exception text ("Ошибка расчёта" when it has none) or
  // "Расчёт не вернул результат."; JSONEncodeError for a payload with a non-finite number (the component is
  // not called); JSONDecodeError when the result is not JSON text. The engine stays usable after a failure.
  async::Task<JSONValue> run(std::string action, JSONValue payload);
  // Runs several actions in order in one job: one trip to the engine's thread however many calls (each trip
  // costs the caller a turn of its main loop, which a window being drawn makes long). The results in the order of
  // the calls; the first failure throws as run does and ends the job.
  async::Task<std::vector<JSONValue>> runEach(std::vector<std::pair<std::string, JSONValue>> calls);
  // Runs an action whose result is only stored, never read (the archive of the plan): its JSON text as the
  // component wrote it, not decoded. Throws as run does; a text that is no JSON object throws JSONDecodeError.
  async::Task<OwnedText> runText(std::string action, JSONValue payload);

  // Looks an address up in the catalogue: "catalogKey", at most 101 rows of that key, "catalogMatch" with them,
  // all in one job. Without a catalogue: {"found": null, "provider": "osm"} and no action runs. Throws
  // DorvikError("Не удалось прочитать каталог адресов.") when the catalogue has no readable address table.
  async::Task<JSONValue> lookupOffline(std::string address);

  // Number of catalogue rows; 0 without a catalogue or when it cannot be read. Never fails.
  async::Task<int> catalogCount();

  // The core resource bundle's "Resources" folder: beside the running executable first, then the folder named by
  // DORVIK_RESOURCES_DIR, then the build tree's bundle. None when none of them exists.
  static std::optional<std::filesystem::path> bundleResources();

  // Engines whose context has not been released yet, in this process (released ones finish on their worker).
  static int liveContexts();

 private:
  struct State;
  PlannerEngine();
  static async::Task<JSONValue> runOn(std::shared_ptr<PlannerEngine> self, std::string action, JSONValue payload);
  static async::Task<std::vector<JSONValue>> runEachOn(std::shared_ptr<PlannerEngine> self,
                                                       std::vector<std::pair<std::string, JSONValue>> calls);
  static async::Task<OwnedText> runTextOn(std::shared_ptr<PlannerEngine> self, std::string action, JSONValue payload);
  static async::Task<JSONValue> lookupOn(std::shared_ptr<PlannerEngine> self, std::string address);
  static async::Task<int> countOn(std::shared_ptr<PlannerEngine> self);

  std::unique_ptr<async::SerialWorker> worker_;
  // Owned by the engine but touched only on the worker; deleted there as the worker's last job.
  State* state_;
};

}  // namespace dorvik
