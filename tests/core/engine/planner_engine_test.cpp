// The planner engine through small component sets and catalogue files written to a temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <glib.h>
#include <sched.h>
#include <sqlite3.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "core/async/task.h"
#include "core/base/errors.h"
#include "core/engine/planner_engine.h"
#include "core/engine/script_context.h"
#include "core/engine/solve_threads.h"

using namespace dorvik;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// A component set that records every action it is asked for (except "calls", which reports them).
const char* kPrelude = "var __calls = [];\n";
const char* kGeocoding = "var Geo = { key: function (a) { return 'k:' + String(a).trim().toLowerCase(); } };\n";
const char* kPlanner = R"JS(
var Planner = { counter: 0 };
var Actions = {
  echo: function (p, text) { return JSON.stringify({ text: text, payload: p }); },
  calls: function () { return JSON.stringify(__calls); },
  counter: function () { return JSON.stringify({ counter: Planner.counter }); },
  fail: function () { Planner.counter += 1; throw new Error("Расчёт сломался"); },
  failString: function () { throw "Строка"; },
  failEmpty: function () { throw ""; },
  undefinedResult: function () { return undefined; },
  objectResult: function () { return { a: 1 }; },
  symbolResult: function () { return Symbol("без текста"); },
  nullResult: function () { return null; },
  spin: function (p) { var end = Date.now() + p.ms; while (Date.now() < end) {} return "{}"; },
  catalogKey: function (p) { return JSON.stringify({ key: Geo.key(p.address) }); },
  catalogMatch: function (p) { return JSON.stringify({ address: p.address, rows: p.rows }); }
};
)JS";
const char* kAdapter = R"JS(
var Native = {
  run: function (text) {
    var request = JSON.parse(text);
    if (request.action !== "calls") __calls.push(request.action);
    var action = Actions[request.action];
    if (!action) throw new Error("Неизвестное действие " + request.action + ".");
    return action(request.payload, text);
  }
};
)JS";

void writeFile(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  ASSERT_TRUE(out.good()) << file;
}

struct CatalogueRow {
  std::optional<std::string> id, city, street, house;
  std::optional<double> lat, lon;
  std::string key;
};

void exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
}

void bindText(sqlite3_stmt* s, int index, const std::optional<std::string>& text) {
  if (text) {
    sqlite3_bind_text(s, index, text->c_str(), -1, SQLITE_TRANSIENT);
  } else {
    sqlite3_bind_null(s, index);
  }
}

void bindNumber(sqlite3_stmt* s, int index, const std::optional<double>& number) {
  if (number) {
    sqlite3_bind_double(s, index, *number);
  } else {
    sqlite3_bind_null(s, index);
  }
}

// Writes a catalogue in rollback-journal mode, as the bundle ships it.
void writeCatalogue(const fs::path& file, const std::vector<CatalogueRow>& rows) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  exec(db,
       "CREATE TABLE osm_addresses (id TEXT, city TEXT, street TEXT, house TEXT, lat REAL, lon REAL, "
       "address_key TEXT);"
       "CREATE INDEX osm_addresses_key ON osm_addresses(address_key);");
  exec(db, "BEGIN");
  sqlite3_stmt* insert = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO osm_addresses VALUES (?,?,?,?,?,?,?)", -1, &insert, nullptr),
            SQLITE_OK);
  for (const auto& row : rows) {
    bindText(insert, 1, row.id);
    bindText(insert, 2, row.city);
    bindText(insert, 3, row.street);
    bindText(insert, 4, row.house);
    bindNumber(insert, 5, row.lat);
    bindNumber(insert, 6, row.lon);
    sqlite3_bind_text(insert, 7, row.key.c_str(), -1, SQLITE_TRANSIENT);
    ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  exec(db, "COMMIT");
  sqlite3_close(db);
}

JSONValue obj(std::initializer_list<std::pair<std::string_view, JSONValue>> members) {
  return JSONValue::object(members);
}

void iterateUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto end = Clock::now() + limit;
  while (!done() && Clock::now() < end) {
    g_main_context_iteration(nullptr, FALSE);
    std::this_thread::sleep_for(1ms);
  }
}

class PlannerEngineTest : public testing::Test {
 protected:
  void SetUp() override {
    char* dir = g_dir_make_tmp("dorvik-engine-XXXXXX", nullptr);
    ASSERT_NE(dir, nullptr);
    root_ = dir;
    g_free(dir);
    resources_ = root_ / "Resources";
    fs::create_directories(resources_);
    writeComponent("xlsx.full.min", "var XLSX = { version: 'test' };\n");
    writeComponent("NativePrelude", kPrelude);
    writeComponent("GeocodingCore", kGeocoding);
    writeComponent("PlannerCore", kPlanner);
    writeComponent("NativeAdapter", kAdapter);
  }
  void TearDown() override {
    // Released engines finish on their own threads; let them, so none is still tearing down at exit.
    iterateUntil([] { return PlannerEngine::liveContexts() == 0; }, 30s);
    EXPECT_EQ(PlannerEngine::liveContexts(), 0);
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  void writeComponent(const std::string& name, const std::string& text) {
    writeFile(resources_ / (name + ".js"), text);
  }

  PlannerEngineOptions options(std::optional<fs::path> catalogue = {}) const {
    return PlannerEngineOptions{std::move(catalogue), resources_};
  }

  std::shared_ptr<PlannerEngine> start(std::optional<fs::path> catalogue = {}) {
    return async::runBlocking(PlannerEngine::create(options(std::move(catalogue))));
  }

  static JSONValue run(const std::shared_ptr<PlannerEngine>& engine, std::string action, JSONValue payload = obj({})) {
    return async::runBlocking(engine->run(std::move(action), std::move(payload)));
  }

  static JSONValue calls(const std::shared_ptr<PlannerEngine>& engine) { return run(engine, "calls"); }

  // The DorvikError message a task fails with; fails the test when it succeeds or throws something else.
  template <class T>
  static std::string failure(async::Task<T> task) {
    try {
      async::runBlocking(std::move(task));
    } catch (const DorvikError& e) {
      EXPECT_EQ(e.status(), 0);
      return e.message();
    } catch (const std::exception& e) {
      ADD_FAILURE() << "unexpected error: " << e.what();
      return {};
    }
    ADD_FAILURE() << "the task succeeded";
    return {};
  }

  fs::path root_;
  fs::path resources_;
};

// --- Catalogue ------------------------------------------------------------------------------------------------

TEST_F(PlannerEngineTest, WithoutCatalogueTheEngineStartsAndLookupsFindNothingWithoutCallingComponents) {
  for (auto catalogue : {std::optional<fs::path>(), std::optional<fs::path>(root_ / "missing.sqlite")}) {
    auto engine = start(catalogue);
    EXPECT_EQ(async::runBlocking(engine->catalogCount()), 0);
    JSONValue result = async::runBlocking(engine->lookupOffline("Москва, Тверская 1"));
    EXPECT_EQ(result.json(), R"({"found":null,"provider":"osm"})");
    EXPECT_EQ(calls(engine).json(), "[]");
  }
}

TEST_F(PlannerEngineTest, CatalogueWithoutAddressTableCountsZeroAndFailsTheLookupAfterTheKey) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((root_ / "other.sqlite").c_str(), &db), SQLITE_OK);
  exec(db, "CREATE TABLE streets (name TEXT)");
  sqlite3_close(db);

  auto engine = start(root_ / "other.sqlite");
  EXPECT_EQ(async::runBlocking(engine->catalogCount()), 0);
  EXPECT_EQ(failure(engine->lookupOffline("Тверская 1")), "Не удалось прочитать каталог адресов.");
  EXPECT_EQ(calls(engine).json(), R"(["catalogKey"])");
  EXPECT_EQ(run(engine, "counter")["counter"].intValue(), 0) << "the engine stays usable";
}

TEST_F(PlannerEngineTest, CatalogueRowsReachTheMatchWithNullTextsAndZeroCoordinates) {
  writeCatalogue(root_ / "catalogue.sqlite",
                 {
                     {"1", "Москва", "Тверская", std::nullopt, std::nullopt, 37.61, "k:тверская 1"},
                     {"2", std::nullopt, "Тверская", "1к2", 55.76, std::nullopt, "k:тверская 1"},
                     {"3", "Москва", "Арбат", "1", 55.75, 37.59, "k:арбат 1"},
                 });
  auto engine = start(root_ / "catalogue.sqlite");
  EXPECT_EQ(async::runBlocking(engine->catalogCount()), 3);

  // The address reaches both actions exactly as passed in; only the rows of its key come back.
  JSONValue result = async::runBlocking(engine->lookupOffline("  Тверская 1 "));
  EXPECT_EQ(result["address"].string(), "  Тверская 1 ");
  EXPECT_EQ(result["rows"].json(),
            R"([{"city":"Москва","house":null,"id":"1","lat":0,"lon":37.61,"street":"Тверская"},)"
            R"({"city":null,"house":"1к2","id":"2","lat":55.76,"lon":0,"street":"Тверская"}])");
  EXPECT_EQ(calls(engine).json(), R"(["catalogKey","catalogMatch"])");

  JSONValue none = async::runBlocking(engine->lookupOffline("Неизвестная 5"));
  EXPECT_EQ(none["rows"].json(), "[]");
}

TEST_F(PlannerEngineTest, OneKeyHandsAtMost101RowsInStoredOrder) {
  std::vector<CatalogueRow> rows;
  for (int i = 1; i <= 150; ++i) rows.push_back({std::to_string(i), "Москва", "Ленина", "1", 55.0, 37.0, "k:ленина 1"});
  rows.push_back({"other", "Москва", "Мира", "2", 55.1, 37.1, "k:мира 2"});
  writeCatalogue(root_ / "catalogue.sqlite", rows);

  auto engine = start(root_ / "catalogue.sqlite");
  EXPECT_EQ(async::runBlocking(engine->catalogCount()), 151);
  JSONValue result = async::runBlocking(engine->lookupOffline("Ленина 1"));
  const JSONArray& found = result["rows"].array();
  ASSERT_EQ(found.size(), 101u);
  for (std::size_t i = 0; i < found.size(); ++i) EXPECT_EQ(found[i]["id"].string(), std::to_string(i + 1));
}

TEST_F(PlannerEngineTest, TheBuiltInCatalogueIsTheResourcesFolders) {
  writeCatalogue(resources_ / "geocoder.sqlite", {{"1", "Москва", "Арбат", "1", 55.75, 37.59, "k:арбат 1"}});
  writeCatalogue(root_ / "chosen.sqlite", {});
  EXPECT_EQ(async::runBlocking(start()->catalogCount()), 1);
  EXPECT_EQ(async::runBlocking(start(root_ / "chosen.sqlite")->catalogCount()), 0) << "a named file wins";
}

TEST_F(PlannerEngineTest, ACatalogueThatCannotBeOpenedStopsTheStart) {
  fs::create_directories(root_ / "folder.sqlite");
  EXPECT_EQ(failure(PlannerEngine::create(options(root_ / "folder.sqlite"))),
            "Не удалось открыть локальный каталог адресов.");
}

// --- Loading --------------------------------------------------------------------------------------------------

TEST_F(PlannerEngineTest, AMissingComponentStopsLoadingBeforeTheNextIsEvaluated) {
  fs::remove(resources_ / "PlannerCore.js");
  // Evaluating the adapter would hold the start for five seconds.
  writeComponent("NativeAdapter", "var end = Date.now() + 5000; while (Date.now() < end) {}\n");
  auto begin = Clock::now();
  EXPECT_EQ(failure(PlannerEngine::create(options())), "Не найден компонент PlannerCore.");
  EXPECT_LT(Clock::now() - begin, 2500ms) << "the fifth component was evaluated";
}

TEST_F(PlannerEngineTest, AComponentThatThrowsWhileLoadingNamesItself) {
  writeComponent("GeocodingCore", "throw new Error('нет словаря');\n");
  EXPECT_EQ(failure(PlannerEngine::create(options())), "GeocodingCore: нет словаря");
  writeComponent("GeocodingCore", "throw '';\n");
  EXPECT_EQ(failure(PlannerEngine::create(options())), "GeocodingCore: Ошибка расчёта");
  writeComponent("GeocodingCore", "var broken = ;\n");
  EXPECT_EQ(failure(PlannerEngine::create(options())).rfind("GeocodingCore: ", 0), 0u);
}

TEST_F(PlannerEngineTest, AComponentThatIsNotUTF8IsRefused) {
  writeComponent("NativePrelude", "var s = '\xff\xfe';\n");
  EXPECT_THROW(async::runBlocking(PlannerEngine::create(options())), std::runtime_error);
}

TEST_F(PlannerEngineTest, TheBundleIsFoundThroughTheOverrideWhenTheExecutableHasNone) {
  g_setenv("DORVIK_RESOURCES_DIR", resources_.c_str(), TRUE);
  auto found = PlannerEngine::bundleResources();
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(*found, resources_);
  auto engine = async::runBlocking(PlannerEngine::create());
  EXPECT_EQ(run(engine, "counter")["counter"].intValue(), 0);

  g_unsetenv("DORVIK_RESOURCES_DIR");
  found = PlannerEngine::bundleResources();
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(*found, fs::path(DORVIK_APP_DIR) / "Dorvik_DorvikCore.bundle" / "Resources");
}

// --- Actions --------------------------------------------------------------------------------------------------

TEST_F(PlannerEngineTest, TheRequestIsCompactSortedJSONAndTheResultIsDecoded) {
  auto engine = start();
  JSONValue payload = obj({{"b", 1}, {"a", JSONValue::array({1, 2.5, "Мира"})}});
  JSONValue result = run(engine, "echo", payload);
  EXPECT_EQ(result["text"].string(), R"({"action":"echo","payload":{"a":[1,2.5,"Мира"],"b":1}})");
  EXPECT_EQ(result["payload"], payload);

  // A large request reaches the script as ASCII (the engine keeps it one byte a character): what lies beyond ASCII
  // is written as its escape, and reads as the same text.
  JSONValue large = obj({{"base64", std::string(2u << 20, 'A')}, {"name", "Заказы на среду 😀.xlsx"}});
  result = run(engine, "echo", large);
  EXPECT_EQ(result["payload"], large);
  const std::string seen = result["text"].string();
  EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](char c) { return (c & 0x80) == 0; }));
  EXPECT_NE(seen.find(R"("name":"\u0417\u0430)"), std::string::npos);
}

TEST_F(PlannerEngineTest, AThrowingActionLeavesTheNextOneUnaffected) {
  auto engine = start();
  EXPECT_EQ(failure(engine->run("fail", obj({}))), "Расчёт сломался");
  // What the component changed before it threw stays changed; the old exception is gone.
  EXPECT_EQ(run(engine, "counter")["counter"].intValue(), 1);
  EXPECT_EQ(failure(engine->run("failString", obj({}))), "Строка");
  EXPECT_EQ(failure(engine->run("failEmpty", obj({}))), "Ошибка расчёта");
  EXPECT_EQ(failure(engine->run("nothing", obj({}))), "Неизвестное действие nothing.");
  EXPECT_EQ(run(engine, "echo", obj({{"x", 1}}))["payload"]["x"].intValue(), 1);
}

TEST_F(PlannerEngineTest, AResultThatIsNotJSONTextIsTheDecodersError) {
  auto engine = start();
  EXPECT_THROW(run(engine, "undefinedResult"), JSONDecodeError);
  EXPECT_THROW(run(engine, "objectResult"), JSONDecodeError);
  EXPECT_TRUE(run(engine, "nullResult").isNull());
  EXPECT_EQ(run(engine, "counter")["counter"].intValue(), 0);
}

// An action whose result is only stored comes back as the component's own text; it must still be an object.
TEST_F(PlannerEngineTest, AStoredResultIsTheComponentsTextUndecoded) {
  auto engine = start();
  const std::string big(3 << 20, 'Q');
  OwnedText text = async::runBlocking(engine->runText("echo", obj({{"big", big}, {"a", "Мира"}})));
  EXPECT_EQ(text.view().substr(0, 9), R"({"text":")");
  EXPECT_EQ(JSONValue::decode(text.view())["payload"], obj({{"big", big}, {"a", "Мира"}}));
  EXPECT_THROW(async::runBlocking(engine->runText("nullResult", obj({}))), JSONDecodeError);
  EXPECT_THROW(async::runBlocking(engine->runText("undefinedResult", obj({}))), JSONDecodeError);
  EXPECT_EQ(failure(engine->runText("fail", obj({}))), "Расчёт сломался");
  EXPECT_EQ(run(engine, "calls"), JSONValue::array({"echo", "nullResult", "undefinedResult", "fail"}));
}

TEST_F(PlannerEngineTest, AResultWithoutTextFormIsNoResult) {
  auto engine = start();
  EXPECT_EQ(failure(engine->run("symbolResult", obj({}))), "Расчёт не вернул результат.");
  EXPECT_EQ(run(engine, "counter")["counter"].intValue(), 0);
}

TEST_F(PlannerEngineTest, ANonFinitePayloadFailsBeforeTheComponentIsCalled) {
  auto engine = start();
  EXPECT_THROW(run(engine, "echo", obj({{"x", std::numeric_limits<double>::quiet_NaN()}})), JSONEncodeError);
  EXPECT_THROW(run(engine, "echo", obj({{"x", std::numeric_limits<double>::infinity()}})), JSONEncodeError);
  EXPECT_EQ(calls(engine).json(), "[]");
}

TEST_F(PlannerEngineTest, AFailedStartReleasesItsContext) {
  int before = PlannerEngine::liveContexts();
  writeComponent("PlannerCore", "throw new Error('x');\n");
  EXPECT_EQ(failure(PlannerEngine::create(options())), "PlannerCore: x");
  iterateUntil([&] { return PlannerEngine::liveContexts() == before; }, 10s);
  EXPECT_EQ(PlannerEngine::liveContexts(), before);
}

// --- Replacement ----------------------------------------------------------------------------------------------

async::Task<void> spin(std::shared_ptr<PlannerEngine> engine, int ms, bool* finished) {
  JSONValue payload;
  payload.set("ms", ms);
  try {
    co_await engine->run("spin", std::move(payload));
  } catch (const CancelledError&) {
  }
  *finished = true;
}

TEST_F(PlannerEngineTest, ReplacingAnEngineDuringALongActionNeverBlocksTheMainThread) {
  // Everything below must happen well before the old engine's action could have ended.
  constexpr auto kAction = 5000ms;
  int before = PlannerEngine::liveContexts();
  auto old = start();
  std::weak_ptr<PlannerEngine> weak = old;
  bool finished = false;
  async::CancelToken token;
  auto spawned = Clock::now();
  async::spawn(spin(std::move(old), static_cast<int>(kAction.count()), &finished), token);
  iterateUntil([] { return false; }, 200ms);  // the action is running on the old engine's thread now

  // The new engine starts and answers while the old one still calculates.
  auto replacement = start();
  EXPECT_EQ(run(replacement, "counter")["counter"].intValue(), 0);
  EXPECT_FALSE(finished);

  // The caller gives up: its task drops the last reference on the main thread, which must not wait for the
  // action either.
  token.cancel();
  iterateUntil([&] { return finished && weak.expired(); }, 2 * kAction);
  EXPECT_TRUE(finished);
  EXPECT_TRUE(weak.expired());
  bool early = Clock::now() - spawned < kAction;
  EXPECT_TRUE(early) << "the main thread waited for the old engine's action";
  if (early) {
    EXPECT_EQ(PlannerEngine::liveContexts(), before + 2) << "the old context goes only after its action";
  }

  // Once the action ends, the old context is released on its own thread.
  iterateUntil([&] { return PlannerEngine::liveContexts() == before + 1; }, 4 * kAction);
  EXPECT_EQ(PlannerEngine::liveContexts(), before + 1);
}

TEST_F(PlannerEngineTest, CallsNeverOverlapAndRunInOrder) {
  auto engine = start();
  bool finished = false;
  async::spawn(spin(engine, 300, &finished));
  // Queued behind the long action, so the component has seen it already.
  auto begin = Clock::now();
  EXPECT_EQ(calls(engine).json(), R"(["spin"])");
  EXPECT_GE(Clock::now() - begin, 250ms);
  iterateUntil([&] { return finished; }, 10s);
  EXPECT_TRUE(finished);
}

// --- The real components --------------------------------------------------------------------------------------

TEST(PlannerEngineBundle, TheBuildsComponentsLoadAndAnswer) {
  auto resources = fs::path(DORVIK_APP_DIR) / "Dorvik_DorvikCore.bundle" / "Resources";
  for (const char* name : PlannerEngine::kComponents) {
    ASSERT_TRUE(fs::exists(resources / (std::string(name) + ".js"))) << name << ".js is missing from the bundle";
  }
  auto engine = async::runBlocking(PlannerEngine::create(PlannerEngineOptions{std::nullopt, resources}));
  JSONValue key = async::runBlocking(engine->run("catalogKey", JSONValue::object({{"address", "Москва, Тверская 1"}})));
  EXPECT_FALSE(key["key"].string().empty()) << key.json();
  // The shipped catalogue holds the demo workspace's buildings; the offline lookup finds one of them.
  EXPECT_GT(async::runBlocking(engine->catalogCount()), 0);
  JSONValue match = async::runBlocking(engine->lookupOffline("Москва, Тверская улица, 6"));
  EXPECT_EQ(match["provider"].string(), "osm") << match.json();
  EXPECT_NEAR(match.path("found.lat").doubleValue().value_or(0), 55.7606, 1e-6) << match.json();

  // A plan of thousands of orders comes in parts, decoded and stored whole.
  JSONArray orders;
  for (int i = 0; i < 4500; ++i)
    orders.push_back(JSONValue::object({{"id", std::to_string(i)}, {"title", "Клиент " + std::to_string(i)}}));
  JSONValue plan = async::runBlocking(
      engine->run("load", JSONValue::object({{"routeDate", "2026-09-22"}, {"orders", JSONValue(std::move(orders))}})));
  ASSERT_EQ(plan["orders"].size(), 4500u);
  EXPECT_EQ(plan["orders"].at(4499)["title"].string(), "Клиент 4499");
  EXPECT_EQ(plan["routeDate"].string(), "2026-09-22");
  const JSONValue stored = JSONValue::decode(async::runBlocking(engine->runText("archive", JSONValue::object({}))).view());
  EXPECT_EQ(stored["orders"], plan["orders"]);
}

// The optimiser with copies alongside, in a context of its own. The clocks hardly move (as in the benchmark's work-
// only runs), so every search ends on its work and each seed gives one plan however loaded the machine is: a copy's
// plan can be checked against the same seed solved here alone. The day: 220 jobs on a grid with windows, one
// matrix for times and distances, vehicles without a mileage limit (Infinity must reach the copies as it is).
TEST(PlannerEngineBundle, CopiesAlongsideGiveTheBestPlanOfAllAndAFailedCopyLeavesTheOwnPlan) {
  auto resources = fs::path(DORVIK_APP_DIR) / "Dorvik_DorvikCore.bundle" / "Resources";
  const std::string steadyClock =
      "(function () { let t = Date.now(); Date.now = function () { t += 0.0005; return t; }; })();";
  // The host hands each copy the real time spent before its search (its scripts are compiled first, which on a busy
  // machine takes longer than this day's budget): against this clock it would cut the copy's search short, and the
  // plan would depend on the load. The copies here start their clocks at zero, as the seeds solved one by one below do.
  const std::string copiesAtZero = steadyClock +
      "if (typeof PlannerCore === 'object') { const solveCopy = PlannerCore.solveCopy;"
      " PlannerCore.solveCopy = function (text, time, dist, index) { return solveCopy(text, time, dist, index, 0); }; }";
  const char* day = R"JS(
    (function () {
      let r = 12345;
      const rand = function () { r = (r * 1103515245 + 12345) % 2147483648; return r / 2147483648; };
      const pts = [[50, 50]];
      for (let i = 0; i < 220; i++) pts.push([rand() * 100, rand() * 100]);
      const n = pts.length, time = new Float64Array(n * n);
      for (let i = 0; i < n; i++)
        for (let j = 0; j < n; j++) time[i * n + j] = Math.hypot(pts[i][0] - pts[j][0], pts[i][1] - pts[j][1]);
      const jobs = [];
      for (let k = 1; k < n; k++) {
        const start = Math.floor(rand() * 600);
        jobs.push({ node: k, demand: 1 + Math.floor(rand() * 9), service: 10, start: start,
                    end: start + 120 + rand() * 200,
                    hard: true, tolerance: 0, vehicles: null });
      }
      const vehicles = [];
      for (let v = 0; v < 40; v++)
        vehicles.push({ start: 0, end: 1000, capacity: 60, maxKm: Infinity, returnToDepot: true, fixedCost: 1000 });
      globalThis.day = { n: n, time: time, dist: time, jobs: jobs, vehicles: vehicles, costPerKm: 1, costPerMin: 0,
                         seed: 8, budgetMs: 300 };
    })();
  )JS";
  const char* compare = R"JS(
    (function () {
      const best = PlannerCore.solve(day);
      // Each seed alone, as a copy solves it (the copy numbered 0 has the day's own seed).
      const text = JSON.stringify(Object.assign({}, day, { time: null, dist: null }), function (k, v) {
        return v === Infinity ? { $number: "Infinity" } : v;
      });
      const alone = [0, 1, 2].map(function (i) {
        return JSON.parse(PlannerCore.solveCopy(text, day.time, day.dist, i, 0));
      });
      let min = 0;
      for (let i = 1; i < alone.length; i++) if (alone[i].cost < alone[min].cost - 1e-9) min = i;
      return JSON.stringify({
        best: best.cost, routes: JSON.stringify(best.routes) === JSON.stringify(alone[min].routes), min: min,
        unassigned: best.unassigned.length, costs: alone.map(function (a) { return a.cost; }) });
    })()
  )JS";
  struct Case {
    const char* name;
    bool copiesWork;  // the copies' sources hold the optimiser
  };
  for (const Case& c : {Case{"copies that solve", true}, Case{"copies that fail", false}}) {
    SCOPED_TRACE(c.name);
    ScriptContext context;
    SolveThreads::Options options{2, {}, {copiesAtZero}};
    for (const char* name : PlannerEngine::kOptimiserComponents) {
      options.files.push_back(resources / (std::string(name) + ".js"));
      context.evaluateFile(options.files.back(), name);
    }
    context.evaluate(steadyClock);
    if (!c.copiesWork) options.files.pop_back();  // no PlannerCore: each copy fails
    context.offerSolveThreads(std::move(options));
    context.evaluate(day);
    const JSONValue result = JSONValue::decode(context.evaluate(compare));
    const JSONValue& costs = result["costs"];
    const double best = result["best"].doubleValue().value_or(-1);
    if (c.copiesWork) {
      // The seeds are such that a copy's plan wins: keeping the own plan would fail here.
      EXPECT_GT(result["min"].intValue(), 0) << result.json();
      EXPECT_DOUBLE_EQ(best, costs.at(static_cast<std::size_t>(result["min"].intValue())).doubleValue().value_or(0));
      EXPECT_TRUE(result["routes"].boolValue()) << result.json();
    } else {
      EXPECT_DOUBLE_EQ(best, costs.at(0).doubleValue().value_or(0)) << result.json();
    }
    EXPECT_EQ(result["unassigned"].intValue(), 0) << result.json();
    // The host answers every copy it started, in order; a failed one with an empty text.
    const std::string answers = context.evaluate(
        "PlannerThreads.start(JSON.stringify(Object.assign({}, day, { time: null, dist: null })), day.time, "
        "day.dist) + ':' + "
        "PlannerThreads.finish().map(function (a) { return a === '' ? 'failed' : 'plan'; }).join(',')");
    EXPECT_EQ(answers, c.copiesWork ? "2:plan,plan" : "2:failed,failed");
  }
}

// The copies are counted from the processors this process may use, not the machine's: a thread held to k of them
// by its affinity counts k (and no copies at one), and a control group's CPU quota, read along its ancestors in
// either hierarchy, caps the count at the processors' worth of time it gives, rounded up.
TEST(SolveThreadsProcessors, TheAffinityAndTheCPUQuotaBoundTheCount) {
  cpu_set_t own;
  CPU_ZERO(&own);
  ASSERT_EQ(sched_getaffinity(0, sizeof own, &own), 0);
  std::vector<int> cpus;
  for (int c = 0; c < CPU_SETSIZE; ++c)
    if (CPU_ISSET(c, &own)) cpus.push_back(c);
  char* made = g_dir_make_tmp("dorvik-cpus-XXXXXX", nullptr);
  ASSERT_NE(made, nullptr);
  const fs::path root = made;
  g_free(made);
  const auto put = [&](const fs::path& file, const std::string& text) {
    fs::create_directories((root / file).parent_path());
    writeFile(root / file, text);
  };
  // Without control groups; cgroup v2 with 1.5 processors on the parent group; v1 with 2.5 on the group itself.
  fs::create_directories(root / "none");
  put("v2/proc/self/cgroup", "0::/app/calc\n");
  put("v2/proc/self/mountinfo", "30 22 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw\n");
  put("v2/sys/fs/cgroup/app/cpu.max", "150000 100000\n");
  put("v2/sys/fs/cgroup/app/calc/cpu.max", "max 100000\n");
  put("v1/proc/self/cgroup", "5:memory:/box\n4:cpu,cpuacct:/box\n0::/\n");
  put("v1/proc/self/mountinfo", "31 22 0:28 / /sys/fs/cgroup rw - tmpfs tmpfs rw\n"
                                "32 31 0:29 / /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n");
  put("v1/sys/fs/cgroup/cpu,cpuacct/box/cpu.cfs_quota_us", "250000\n");
  put("v1/sys/fs/cgroup/cpu,cpuacct/box/cpu.cfs_period_us", "100000\n");
  put("v1/sys/fs/cgroup/cpu,cpuacct/cpu.cfs_quota_us", "-1\n");
  put("v1/sys/fs/cgroup/cpu,cpuacct/cpu.cfs_period_us", "100000\n");
  for (int k : {1, 2, 4}) {
    if (k > static_cast<int>(cpus.size())) break;
    SCOPED_TRACE(k);
    int none = 0, v2 = 0, v1 = 0, real = 0, copies = -1;
    std::thread held([&] {
      cpu_set_t set;
      CPU_ZERO(&set);
      for (int i = 0; i < k; ++i) CPU_SET(cpus[static_cast<std::size_t>(i)], &set);
      if (sched_setaffinity(0, sizeof set, &set) != 0) return;
      none = SolveThreads::processorsAllowed(root / "none");
      v2 = SolveThreads::processorsAllowed(root / "v2");
      v1 = SolveThreads::processorsAllowed(root / "v1");
      real = SolveThreads::processorsAllowed();
      copies = SolveThreads::copiesForThisComputer();
    });
    held.join();
    EXPECT_EQ(none, k);
    EXPECT_EQ(v2, std::min(k, 2));
    EXPECT_EQ(v1, std::min(k, 3));
    EXPECT_GE(real, 1);
    EXPECT_LE(real, k);
    if (k == 1) {
      EXPECT_EQ(copies, 0);
    }
  }
  fs::remove_all(root);
}

}  // namespace
