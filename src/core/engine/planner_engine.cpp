#include "core/engine/planner_engine.h"

#include <glib.h>
#include <sqlite3.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>

#include "core/base/bundles.h"
#include "core/base/errors.h"
#include "core/engine/script_context.h"

namespace dorvik {

namespace fs = std::filesystem;

namespace {

std::atomic<int> gLiveContexts{0};

constexpr const char* kCatalogueFile = "geocoder.sqlite";
constexpr const char* kLookupQuery =
    "SELECT id,city,street,house,lat,lon FROM osm_addresses WHERE address_key = ? LIMIT 101";
constexpr const char* kCountQuery = "SELECT COUNT(*) FROM osm_addresses";

// A text column as the components receive it: null for SQL NULL; bytes that are not UTF-8 are repaired.
JSONValue textColumn(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  if (!text) return nullptr;
  const char* chars = reinterpret_cast<const char*>(text);
  auto length = static_cast<gssize>(sqlite3_column_bytes(statement, column));
  if (g_utf8_validate_len(chars, static_cast<gsize>(length), nullptr)) return std::string(chars, length);
  char* repaired = g_utf8_make_valid(chars, length);
  std::string result = repaired;
  g_free(repaired);
  return result;
}

// Finalises a prepared statement when it goes out of scope.
struct Statement {
  sqlite3_stmt* handle = nullptr;
  Statement() = default;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { sqlite3_finalize(handle); }
};

}  // namespace

// The engine's thread-bound state: the context in which the components live and the catalogue connection.
struct PlannerEngine::State {
  std::unique_ptr<ScriptContext> context;
  sqlite3* database = nullptr;

  State() { ++gLiveContexts; }
  ~State() {
    if (database) sqlite3_close(database);
    context.reset();
    --gLiveContexts;
  }

  void load(const PlannerEngineOptions& options) {
    context = std::make_unique<ScriptContext>();
    std::optional<fs::path> resources = options.resourcesFolder ? options.resourcesFolder : bundleResources();
    evaluateComponents(*context, resources);
    offerSolveThreads(*context, resources);

    std::error_code ec;
    std::optional<fs::path> catalogue = options.catalogPath;
    if (!catalogue && resources) catalogue = *resources / kCatalogueFile;
    if (!catalogue || !fs::exists(*catalogue, ec)) return;  // no catalogue: lookups answer "not found"
    if (sqlite3_open_v2(catalogue->c_str(), &database, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr) !=
        SQLITE_OK) {
      throw DorvikError("Не удалось открыть локальный каталог адресов.");
    }
  }

  // The payload is taken over and let go once written: a workbook's Base64 text is tens of megabytes, and only
  // the script's own copy of it is needed while the action runs.
  JSONValue run(const std::string& action, JSONValue payload) {
    // The decoder parses a text where it lies when it has room for the parser's padding: the answer's parts are
    // gathered into a text with that room, each let go once copied, and the text is let go before the values
    // are built.
    std::string text = context->callNativeRunPadded(request(action, std::move(payload)), JSONValue::kDecodePadding);
    return JSONValue::decodeTaking(std::move(text));
  }

  OwnedText runText(const std::string& action, JSONValue payload) {
    OwnedText answer = call(action, std::move(payload));
    // The adapter writes every result with JSON.stringify; anything but an object is a fault worth stopping.
    const std::string_view text = answer.view();
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto last = text.find_last_not_of(" \t\r\n");
    if (first == std::string_view::npos || text[first] != '{' || text[last] != '}') {
      throw JSONDecodeError("Не удалось прочитать JSON: расчёт вернул не объект.");
    }
    return answer;
  }

  OwnedText call(const std::string& action, JSONValue payload) {
    return context->callNativeRunTaking(request(action, std::move(payload)));
  }

  // Keys are written sorted, so the text always begins with "action".
  static std::string request(const std::string& action, JSONValue payload) {
    return JSONValue::object({{"action", JSONValue(action)}, {"payload", std::move(payload)}}).json();
  }

  JSONValue lookup(const std::string& address) {
    if (!database) return JSONValue::object({{"found", nullptr}, {"provider", "osm"}});
    std::string key = run("catalogKey", JSONValue::object({{"address", JSONValue(address)}}))["key"].string();

    Statement statement;
    if (sqlite3_prepare_v2(database, kLookupQuery, -1, &statement.handle, nullptr) != SQLITE_OK) {
      throw DorvikError("Не удалось прочитать каталог адресов.");
    }
    sqlite3_bind_text(statement.handle, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    JSONArray rows;
    // Done or an error both end the list.
    while (sqlite3_step(statement.handle) == SQLITE_ROW) {
      JSONObject row;
      row.emplace("id", textColumn(statement.handle, 0));
      row.emplace("city", textColumn(statement.handle, 1));
      row.emplace("street", textColumn(statement.handle, 2));
      row.emplace("house", textColumn(statement.handle, 3));
      row.emplace("lat", sqlite3_column_double(statement.handle, 4));
      row.emplace("lon", sqlite3_column_double(statement.handle, 5));
      rows.emplace_back(std::move(row));
    }
    return run("catalogMatch",
               JSONValue::object({{"address", JSONValue(address)}, {"rows", JSONValue(std::move(rows))}}));
  }

  int count() {
    if (!database) return 0;
    Statement statement;
    if (sqlite3_prepare_v2(database, kCountQuery, -1, &statement.handle, nullptr) != SQLITE_OK) return 0;
    if (sqlite3_step(statement.handle) != SQLITE_ROW) return 0;
    return sqlite3_column_int(statement.handle, 0);
  }
};

PlannerEngine::PlannerEngine()
    : worker_(std::make_unique<async::SerialWorker>("planner-engine")), state_(new State()) {}

PlannerEngine::~PlannerEngine() {
  // The last job of the worker: whatever still runs there finishes first, then the context and the connection
  // are released on the thread that made them. Destroying the worker does not wait for it.
  State* state = state_;
  worker_->post([state] { delete state; });
}

std::optional<fs::path> PlannerEngine::bundleResources() {
  return dorvik::bundleResources(kCoreBundle, "DORVIK_RESOURCES_DIR");
}

int PlannerEngine::liveContexts() { return gLiveContexts.load(); }

void PlannerEngine::offerSolveThreads(ScriptContext& context, const std::optional<fs::path>& folder,
                                     std::optional<int> copies, std::vector<std::string> after) {
  SolveThreads::Options options;
  options.copies = copies ? *copies : SolveThreads::copiesForThisComputer();
  if (!folder || options.copies <= 0) return;
  for (const char* name : kOptimiserComponents) options.files.push_back(*folder / (std::string(name) + ".js"));
  options.sources = std::move(after);
  context.offerSolveThreads(std::move(options));
}

void PlannerEngine::evaluateComponents(ScriptContext& context, const std::optional<fs::path>& folder) {
  std::error_code ec;
  for (const char* component : kComponents) {
    const std::string name = component;
    if (!folder || !fs::exists(*folder / (name + ".js"), ec)) throw DorvikError("Не найден компонент " + name + ".");
    context.evaluateFile(*folder / (name + ".js"), name);
  }
}

async::Task<std::shared_ptr<PlannerEngine>> PlannerEngine::create(std::optional<fs::path> catalogPath) {
  return create(PlannerEngineOptions{std::move(catalogPath), std::nullopt});
}

async::Task<std::shared_ptr<PlannerEngine>> PlannerEngine::create(PlannerEngineOptions options) {
  std::shared_ptr<PlannerEngine> engine(new PlannerEngine());
  State* state = engine->state_;
  // Jobs and their awaitables are bound to locals: g++ 12 destroys some temporaries of a co_await expression twice.
  auto job = [state, options] { state->load(options); };
  auto loaded = engine->worker_->run(std::move(job));
  co_await loaded;
  co_return engine;
}

async::Task<JSONValue> PlannerEngine::run(std::string action, JSONValue payload) {
  return runOn(shared_from_this(), std::move(action), std::move(payload));
}

async::Task<std::vector<JSONValue>> PlannerEngine::runEach(std::vector<std::pair<std::string, JSONValue>> calls) {
  return runEachOn(shared_from_this(), std::move(calls));
}

async::Task<OwnedText> PlannerEngine::runText(std::string action, JSONValue payload) {
  return runTextOn(shared_from_this(), std::move(action), std::move(payload));
}

async::Task<JSONValue> PlannerEngine::lookupOffline(std::string address) {
  return lookupOn(shared_from_this(), std::move(address));
}

async::Task<int> PlannerEngine::catalogCount() { return countOn(shared_from_this()); }

async::Task<JSONValue> PlannerEngine::runOn(std::shared_ptr<PlannerEngine> self, std::string action,
                                            JSONValue payload) {
  State* state = self->state_;
  auto job = [state, action, payload = std::move(payload)]() mutable { return state->run(action, std::move(payload)); };
  auto ran = self->worker_->run(std::move(job));
  JSONValue result = co_await ran;
  co_return result;
}

async::Task<std::vector<JSONValue>> PlannerEngine::runEachOn(std::shared_ptr<PlannerEngine> self,
                                                             std::vector<std::pair<std::string, JSONValue>> calls) {
  State* state = self->state_;
  auto job = [state, calls = std::move(calls)]() mutable {
    std::vector<JSONValue> results;
    results.reserve(calls.size());
    for (auto& [action, payload] : calls) results.push_back(state->run(action, std::move(payload)));
    return results;
  };
  auto ran = self->worker_->run(std::move(job));
  std::vector<JSONValue> results = co_await ran;
  co_return results;
}

async::Task<OwnedText> PlannerEngine::runTextOn(std::shared_ptr<PlannerEngine> self, std::string action,
                                                JSONValue payload) {
  State* state = self->state_;
  auto job = [state, action, payload = std::move(payload)]() mutable {
    return state->runText(action, std::move(payload));
  };
  auto ran = self->worker_->run(std::move(job));
  OwnedText result = co_await ran;
  co_return result;
}

async::Task<JSONValue> PlannerEngine::lookupOn(std::shared_ptr<PlannerEngine> self, std::string address) {
  State* state = self->state_;
  auto job = [state, address] { return state->lookup(address); };
  auto looked = self->worker_->run(std::move(job));
  JSONValue result = co_await looked;
  co_return result;
}

async::Task<int> PlannerEngine::countOn(std::shared_ptr<PlannerEngine> self) {
  State* state = self->state_;
  auto job = [state] { return state->count(); };
  auto counted = self->worker_->run(std::move(job));
  int count = co_await counted;
  co_return count;
}

}  // namespace dorvik
