// Coordinates for addresses: the single lookup (address memory, then the local catalogue, then the server's
// geocoder) and the batch search over the plan's orders.
//
// The batch search groups orders by address key, so each distinct address is looked up once, keeps at most four
// lookups in flight, and applies accepted results to the plan in batches of about eight through the plan change
// "geocodeBatch". A result only reaches an order that has not been edited since the search took it. Server
// requests of the search leave at least 350 ms apart, counted from the start of the run.
#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/api/failure.h"
#include "core/api/transport_error.h"
#include "core/async/attempt.h"
#include "core/async/channel.h"
#include "core/async/sleep.h"
#include "core/async/task_group.h"
#include "core/base/errors.h"
#include "core/base/map_point.h"
#include "core/base/text.h"
#include "core/cache/encrypted_cache.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"

namespace dorvik {

namespace {

using namespace std::chrono_literals;

const char* const kCatalogueLoading = "Каталог ещё загружается.";
const char* const kNothingToSearch = "У всех выбранных заказов уже есть координаты.";
const char* const kNoAddressIndex =
    "Поиск координат не запущен: адреса компании не подготовлены. Обновите справочники в настройках рабочего дня.";
const char* const kStopping = "Останавливаем поиск. Сохраняем уже найденные координаты…";
const char* const kPlanChanged =
    "План изменился во время поиска. Проверьте координаты и повторите поиск оставшихся адресов.";
const char* const kGeocoderPath = "/geo/clean";

constexpr std::size_t kLookupsInFlight = 4;
constexpr std::size_t kEditsPerSave = 8;
constexpr std::size_t kShortestAddress = 3;
constexpr std::size_t kLongestAddress = 500;

// One distinct address to search, with the orders queued under its key.
struct GeocodingJob {
  std::string address;
  std::string key;
  std::vector<JSONValue> orders;
  std::map<std::string, std::int64_t> revisions;
};

// A lookup of the search that has finished: the job it searched and its answer or failure.
struct Finished {
  std::size_t job = 0;
  async::Outcome<JSONValue> answer;
};

// One batch search: the orders it takes, its jobs, the results found and not saved yet, and its lookups.
struct GeocodingRun {
  std::shared_ptr<AppModel> model;
  std::vector<JSONValue> orders;
  // The stop control (also sign-out and the starter's own cancellation) ends the search, not the saves.
  async::CancelToken stop;
  // The workspace the search runs in: its end ends everything, saves included.
  async::CancelToken workspace;
  std::vector<GeocodingJob> jobs;
  std::vector<JSONValue> edits;
  std::vector<JSONValue> learned;
  async::TaskGroup lookups{kLookupsInFlight};
  async::Channel<Finished> finished;
};

std::int64_t revisionOf(const AppModel& model, const std::string& id) {
  const auto& revisions = model.editRevisions();
  auto it = revisions.find(id);
  return it == revisions.end() ? 0 : it->second;
}

// The first order of the current plan with this "_nativeID".
const JSONValue* currentOrder(const AppModel& model, const std::string& id) {
  for (const JSONValue& order : model.planner()["orders"].array()) {
    const JSONValue& nativeID = order["_nativeID"];
    if (nativeID.isString() ? nativeID.stringView() == id : nativeID.string() == id) return &order;
  }
  return nullptr;
}

std::string counts(std::int64_t completed, std::int64_t total, std::int64_t found, std::int64_t review) {
  return "Проверено " + std::to_string(completed) + " из " + std::to_string(total) +
         ". Найдено: " + std::to_string(found) + ". Уточнить: " + std::to_string(review) + ".";
}

void countChecked(AppModel& model, bool review) {
  model.setGeocodingCompleted(model.geocodingCompleted() + 1);
  if (review) model.setGeocodingReview(model.geocodingReview() + 1);
}

// One job per distinct address key; an address too short or too long, or without a key, is counted for review.
// The keys of all addresses are computed in one trip to the engine: a trip per order costs a turn of the main loop
// each, and a turn lasts a frame while the window draws (seconds before the first request of a large plan).
async::Task<void> groupByAddress(std::shared_ptr<GeocodingRun> run) {
  AppModel& model = *run->model;
  std::vector<const JSONValue*> searched;
  std::vector<std::string> addresses;
  for (const JSONValue& order : run->orders) {
    std::string address = order["address"].string();
    const std::size_t length = characterCount(trimmed(address));
    if (length < kShortestAddress || length > kLongestAddress) {
      countChecked(model, true);
      continue;
    }
    searched.push_back(&order);
    addresses.push_back(std::move(address));
  }
  run->stop.throwIfCancelled();
  std::vector<std::string> keys = co_await model.addressKeys(addresses);
  run->stop.throwIfCancelled();

  std::map<std::string, std::size_t> jobByKey;
  for (std::size_t i = 0; i < searched.size(); ++i) {
    if (keys[i].empty()) {
      countChecked(model, true);
      continue;
    }
    const JSONValue& order = *searched[i];
    const std::string id = order["_nativeID"].string();
    const std::int64_t revision = revisionOf(model, id);
    auto known = jobByKey.find(keys[i]);
    if (known != jobByKey.end()) {
      GeocodingJob& job = run->jobs[known->second];
      job.orders.push_back(order);
      job.revisions[id] = revision;
    } else {
      jobByKey.emplace(keys[i], run->jobs.size());
      run->jobs.push_back(GeocodingJob{std::move(addresses[i]), keys[i], {order}, {{id, revision}}});
    }
  }
}

// One lookup, run in the search's group; its outcome goes to the search (a cancelled one sends nothing).
async::Task<void> searchAddress(std::shared_ptr<AppModel> model, std::string address, std::string key,
                                std::size_t job, async::Channel<Finished> finished) {
  async::Outcome<JSONValue> answer = co_await async::attempt(model->lookup(std::move(address), std::move(key), true));
  finished.send(Finished{job, std::move(answer)});
}

// Turns one answer into edits for the orders queued under its address that nobody edited since the search took
// them and whose address is still the same; an answer that is not a sure point sends them to review.
void applyAnswer(GeocodingRun& run, const GeocodingJob& job, const JSONValue& answer) {
  AppModel& model = *run.model;
  const JSONValue& found = answer["found"];
  for (const JSONValue& queued : job.orders) {
    countChecked(model, false);
    const std::string id = queued["_nativeID"].string();
    auto revision = job.revisions.find(id);
    if (revision == job.revisions.end() || revision->second != revisionOf(model, id)) continue;
    const JSONValue* current = currentOrder(model, id);
    if (!current || !((*current)["address"] == queued["address"])) continue;
    std::optional<MapPoint> point = MapPoint::from(found);
    if (!point || found["qc"].string() != "0") {
      model.setGeocodingReview(model.geocodingReview() + 1);
      continue;
    }
    run.edits.push_back(JSONValue::object({
        {"id", id},
        {"address", queued["address"]},
        {"expected", JSONValue::array({(*current)["lat"], (*current)["lon"], (*current)["source"]})},
        {"changes", JSONValue::object({{"lat", point->lat},
                                       {"lon", point->lon},
                                       {"source", answer["provider"]},
                                       {"qc", found["qc"]},
                                       {"found", found["value"]}})},
    }));
    run.learned.push_back(JSONValue::object({{"id", id},
                                             {"address", queued["address"]},
                                             {"lat", point->lat},
                                             {"lon", point->lon},
                                             {"source", answer["provider"]},
                                             {"name", queued["title"]}}));
  }
}

// Writes the results found so far into the plan and remembers the addresses the plan accepted; they are forgotten
// by the run once written. The accepted identifiers are read from the document this very change installed: by the
// time the change has archived the plan, a later change may already have replaced the current document.
async::Task<void> saveFound(std::shared_ptr<GeocodingRun> run) {
  if (run->edits.empty()) co_return;
  AppModel& model = *run->model;
  JSONArray editArray(run->edits.begin(), run->edits.end());
  JSONValue payload = JSONValue::object({{"edits", JSONValue(std::move(editArray))}});
  std::string action = "geocodeBatch";
  std::optional<JSONValue> installed = co_await model.change(std::move(action), std::move(payload));
  if (!installed) {
    const std::optional<std::string>& shown = model.error();
    throw DorvikError(shown ? *shown : std::string(kPlanChanged), 0);
  }

  std::set<std::string> applied;
  for (const JSONValue& id : (*installed)["appliedIDs"].array()) applied.insert(id.string());
  model.setGeocodingFound(model.geocodingFound() + static_cast<std::int64_t>(applied.size()));

  const std::vector<JSONValue> learned = std::move(run->learned);
  run->edits.clear();
  run->learned.clear();
  std::vector<AppModel::FoundAddress> found;
  for (const JSONValue& entry : learned) {
    if (!applied.count(entry["id"].string())) continue;
    const std::optional<double> lat = entry["lat"].doubleValue();
    const std::optional<double> lon = entry["lon"].doubleValue();
    if (!lat || !lon) continue;
    found.push_back({entry["address"].string(), *lat, *lon, entry["source"].string(), entry["name"].string()});
  }
  co_await model.rememberAll(std::move(found), false, false);

  if (std::shared_ptr<EncryptedCache> cache = model.cache()) {
    JSONValue pending(JSONObject(model.pendingAddresses().begin(), model.pendingAddresses().end()));
    std::string name = "pendingAddresses";
    co_await cache->write(std::move(pending), std::move(name));
  }
}

// The search: at most four lookups at once, a new one only after a result has been handled, the results saved
// in batches of about eight. A stop ends it quietly; a failed lookup or save ends it with that failure.
async::Task<void> search(std::shared_ptr<GeocodingRun> run) {
  co_await async::joinScope(run->stop, async::ScopeEnd::quiet);
  co_await groupByAddress(run);
  AppModel& model = *run->model;
  std::size_t next = 0;
  auto lookUpNext = [&run, &next] {
    const std::size_t job = next++;
    return searchAddress(run->model, run->jobs[job].address, run->jobs[job].key, job, run->finished);
  };
  while (next < run->jobs.size() && next < kLookupsInFlight) co_await run->lookups.add(lookUpNext());

  for (std::size_t handled = 0; handled < run->jobs.size(); ++handled) {
    Finished done = co_await run->finished.receive();
    if (!done.answer) std::rethrow_exception(done.answer.failure());
    applyAnswer(*run, run->jobs[done.job], *done.answer);
    if (run->edits.size() >= kEditsPerSave) co_await async::shielded(saveFound(run), run->workspace);
    model.setStatus(counts(model.geocodingCompleted(), model.geocodingTotal(),
                           model.geocodingFound() + static_cast<std::int64_t>(run->edits.size()),
                           model.geocodingReview()));
    if (next < run->jobs.size()) co_await run->lookups.add(lookUpNext());
  }
}

// The body of a batch search, under its workspace's token only: the search, then the lookups still running, the
// closing save (also after a failure or a stop), the closing status and one upload of the remembered addresses.
async::Task<void> runGeocoding(std::shared_ptr<GeocodingRun> run) {
  AppModel& model = *run->model;
  auto searched = co_await async::attempt(search(run));
  std::optional<std::string> failureMessage;
  if (!searched && !run->stop.isCancelled()) failureMessage = failureText(searched.failure());
  run->lookups.cancel();
  co_await run->lookups.wait();

  auto saved = co_await async::attempt(saveFound(run));
  if (!saved) {
    if (std::optional<std::string> text = failureText(saved.failure())) failureMessage = std::move(text);
  }
  if (failureMessage) model.setError(*failureMessage);
  const bool stopped = run->stop.isCancelled();
  const char* head = stopped ? "Поиск остановлен" : failureMessage ? "Поиск прерван" : "Поиск завершён";
  model.setStatus(
      std::string(head) + ". " +
      counts(model.geocodingCompleted(), model.geocodingTotal(), model.geocodingFound(), model.geocodingReview()));
  model.setGeocodingStopping(false);
  model.setGeocodingTask(std::nullopt);
  if (stopped || failureMessage) co_return;
  // One upload of the remembered addresses, not waited for.
  async::spawn(model.flushAddresses());
}

}  // namespace

async::Task<JSONValue> AppModel::lookup(std::string address, bool rateLimited) {
  auto self = shared_from_this();
  if (!engine_) throw DorvikError(kCatalogueLoading, 0);
  co_await workspaceScope();
  std::string key = co_await addressKey(address);
  JSONValue answer = co_await lookup(std::move(address), std::move(key), rateLimited);
  co_return answer;
}

async::Task<JSONValue> AppModel::lookup(std::string address, std::string key, bool rateLimited) {
  auto self = shared_from_this();
  if (!engine_) throw DorvikError(kCatalogueLoading, 0);
  // The catalogue is read on this engine even if the model gets another one meanwhile.
  std::shared_ptr<PlannerEngine> engine = engine_;
  co_await workspaceScope();

  // The address memory: a pending entry hides the server's copy under the same key, even an incomplete one.
  const JSONValue* entry = nullptr;
  if (auto pending = pendingAddresses_.find(key); pending != pendingAddresses_.end()) {
    entry = &pending->second;
  } else if (auto known = addressIndex_.find(key); known != addressIndex_.end()) {
    entry = &known->second;
  }
  if (entry && (*entry)["lat"].doubleValue() && (*entry)["lon"].doubleValue()) {
    JSONValue found = JSONValue::object(
        {{"lat", (*entry)["lat"]}, {"lon", (*entry)["lon"]}, {"value", (*entry)["address"]}, {"qc", "0"}});
    co_return JSONValue::object(
        {{"found", std::move(found)}, {"provider", (*entry)["pinned"].boolValue() ? "manual" : "saved"}});
  }

  JSONValue catalogue = co_await engine->lookupOffline(address);
  if (preview_ || offline_) co_return catalogue;

  std::optional<TransportError> unreachable;
  try {
    if (rateLimited) {
      // Slots are taken before waiting, so lookups that arrive together leave one spacing apart.
      const async::Clock::time_point slot = std::max(async::Clock::now(), nextGeocodingRequest_);
      nextGeocodingRequest_ = slot + geocodingSpacing_;
      co_await async::sleepUntil(slot);
      // Another request may have found the server unreachable meanwhile.
      if (offline_) co_return catalogue;
    }
    std::optional<JSONValue> body = JSONValue::object({{"query", address}});
    std::string path = kGeocoderPath;
    std::string method = "POST";
    JSONValue answer = co_await fetch(std::move(path), std::move(method), std::move(body));
    co_return answer;
  } catch (const TransportError& e) {
    unreachable = e;
  }
  // The server is out of reach: the catalogue answers instead, unless this lookup no longer counts.
  const async::CancelToken own = co_await async::currentToken();
  if (unreachable->isCancelled() || own.isCancelled()) throw CancelledError();
  co_return catalogue;
}

async::Task<void> AppModel::geocode(std::optional<std::vector<std::string>> ids) {
  auto self = shared_from_this();
  if (geocoding() || busy()) co_return;
  if (addressIndexFailure_) co_return setError(std::string(kNoAddressIndex));
  // Whoever cancels this call stops the run; the run still closes (and saves) before this call returns.
  const async::CancelToken caller = co_await async::currentToken();
  co_await workspaceScope(async::ScopeEnd::quiet);
  FlagHold searching = hold(Property::geocoding);
  setGeocodingStopping(false);
  nextGeocodingRequest_ = async::Clock::now();
  setGeocodingTotal(0);
  setGeocodingCompleted(0);
  setGeocodingFound(0);
  setGeocodingReview(0);

  auto run = std::make_shared<GeocodingRun>();
  run->model = self;
  run->workspace = workspace_;
  std::set<std::string> chosen;
  if (ids) chosen.insert(ids->begin(), ids->end());
  for (const JSONValue& order : planner_["orders"].array()) {
    const bool take = ids ? chosen.count(order["_nativeID"].string()) > 0 : !MapPoint::from(order).has_value();
    if (take) run->orders.push_back(order);
  }
  setGeocodingTotal(static_cast<std::int64_t>(run->orders.size()));
  if (run->orders.empty()) {
    // Nothing to search: the message stays on the status line instead of an empty run's closing counts.
    setStatus(kNothingToSearch);
    co_return;
  }
  setStatus("Подготавливаем поиск: " + std::to_string(run->orders.size()) + " заказов…");

  setGeocodingTask(run->stop);
  async::CancelToken::Subscription relay = caller.onCancel([stop = run->stop] { stop.cancel(); });
  co_await async::shielded(runGeocoding(run), run->workspace);
}

void AppModel::stopGeocoding() {
  setGeocodingStopping(true);
  if (geocodingTask_) geocodingTask_->cancel();
  setStatus(kStopping);
}

}  // namespace dorvik
