// Coordinates for addresses: the single lookup (address memory, then the local catalogue, then the server's
// geocoder) and the batch search over the plan's orders.
//
// The batch search groups orders by address key, so each distinct address is looked up once, keeps at most four
// lookups in flight, and applies accepted results to the plan in batches of about eight through the plan change
// "geocodeBatch". A result only reaches an order that has not been edited since the search took it. Server
// requests of the search leave at least 350 ms apart, counted from the start of the run.
#include <glib.h>

#include <algorithm>
#include <chrono>
#include <coroutine>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/api/failure.h"
#include "core/api/transport_error.h"
#include "core/async/context.h"
#include "core/async/sleep.h"
#include "core/base/errors.h"
#include "core/base/text.h"
#include "core/base/map_point.h"
#include "core/cache/encrypted_cache.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"

namespace dorvik {

namespace {

using namespace std::chrono_literals;

const char* const kCatalogueLoading = "Каталог ещё загружается.";
const char* const kNothingToSearch = "У всех выбранных заказов уже есть координаты.";
const char* const kStopping = "Останавливаем поиск. Сохраняем уже найденные координаты…";
const char* const kPlanChanged =
    "План изменился во время поиска. Проверьте координаты и повторите поиск оставшихся адресов.";
const char* const kGeocoderPath = "/geo/clean";

constexpr auto kRequestSpacing = 350ms;
constexpr std::size_t kLookupsInFlight = 4;
constexpr std::size_t kEditsPerSave = 8;
constexpr std::size_t kShortestAddress = 3;
constexpr std::size_t kLongestAddress = 500;

// A one-shot or repeatable wake-up for one coroutine on the main context. Everything here runs on the main
// thread, so no lock is needed; the wake-up is posted, never run inline.
struct Wakeup {
  std::coroutine_handle<> waiter;
  GMainContext* context = nullptr;

  void wake() {
    if (!waiter) return;
    std::coroutine_handle<> h = std::exchange(waiter, {});
    async::post(context, [h] { h.resume(); });
  }
};

// Waits until ready() holds; woken by whoever changes what ready() reads. Not cancellable: what it waits for
// ends by itself once cancelled.
template <class Ready>
struct WaitUntil {
  Wakeup& wakeup;
  Ready ready;
  GMainContext* context = nullptr;

  void bindEnv(const async::Env& env) { context = env.context; }
  bool await_ready() { return ready(); }
  void await_suspend(std::coroutine_handle<> h) {
    wakeup.waiter = h;
    wakeup.context = context ? context : async::currentContext();
  }
  void await_resume() const noexcept {}
};
template <class Ready>
WaitUntil<Ready> waitUntil(Wakeup& wakeup, Ready ready) {
  return WaitUntil<Ready>{wakeup, std::move(ready)};
}

// One distinct address to search, with the orders queued under its key.
struct GeocodingJob {
  std::string address;
  std::vector<JSONValue> orders;
  std::map<std::string, std::int64_t> revisions;
};

// The lookups of a run that have finished and wait to be handled, in the order they finished.
struct Finished {
  std::size_t job = 0;
  JSONValue answer;
  std::exception_ptr failure;
};
struct SearchBoard {
  std::deque<Finished> finished;
  std::size_t running = 0;
  Wakeup wakeup;
};

std::int64_t revisionOf(const AppModel& model, const std::string& id) {
  const auto& revisions = model.editRevisions();
  auto it = revisions.find(id);
  return it == revisions.end() ? 0 : it->second;
}

// The first order of the current plan with this "_nativeID".
const JSONValue* currentOrder(const AppModel& model, const std::string& id) {
  for (const JSONValue& order : model.planner()["orders"].array()) {
    if (order["_nativeID"].string() == id) return &order;
  }
  return nullptr;
}

std::string counts(std::int64_t completed, std::int64_t total, std::int64_t found, std::int64_t review) {
  return "Проверено " + std::to_string(completed) + " из " + std::to_string(total) +
         ". Найдено: " + std::to_string(found) + ". Уточнить: " + std::to_string(review) + ".";
}

// One lookup of the search, run as a child task under the children's token.
async::Task<void> searchAddress(std::shared_ptr<AppModel> model, std::string address, std::size_t job,
                                std::shared_ptr<SearchBoard> board) {
  Finished result;
  result.job = job;
  try {
    async::CancelToken token = co_await async::currentToken();
    token.throwIfCancelled();
    result.answer = co_await model->lookup(address, true);
    token.throwIfCancelled();
  } catch (...) {
    result.failure = std::current_exception();
  }
  board->finished.push_back(std::move(result));
  --board->running;
  board->wakeup.wake();
}

// The address upload after a search, for the workspace the search ran in.
async::Task<void> uploadAddresses(std::shared_ptr<AppModel> model, std::string token) {
  if (model->generation() == token) co_await model->flushAddresses();
}

// Writes one batch of results into the plan and remembers the addresses the plan accepted. The accepted
// identifiers are read from the document this very change installed: by the time the change has archived the
// plan, a later change may already have replaced the current document.
async::Task<void> saveGeocodingResults(std::shared_ptr<AppModel> model, std::vector<JSONValue> edits,
                                       std::vector<JSONValue> learned, std::string token) {
  if (edits.empty()) co_return;
  if (model->generation() != token) co_return;
  JSONArray editArray(edits.begin(), edits.end());
  JSONValue payload = JSONValue::object({{"edits", JSONValue(std::move(editArray))}});
  std::string action = "geocodeBatch";
  std::optional<JSONValue> installed = co_await model->change(std::move(action), std::move(payload));
  if (!installed) {
    const std::optional<std::string>& shown = model->error();
    throw DorvikError(shown ? *shown : std::string(kPlanChanged), 0);
  }
  if (model->generation() != token) co_return;

  std::set<std::string> applied;
  for (const JSONValue& id : (*installed)["appliedIDs"].array()) applied.insert(id.string());
  model->setGeocodingFound(model->geocodingFound() + static_cast<std::int64_t>(applied.size()));

  for (const JSONValue& entry : learned) {
    if (!applied.count(entry["id"].string())) continue;
    if (model->generation() != token) break;
    const std::optional<double> lat = entry["lat"].doubleValue();
    const std::optional<double> lon = entry["lon"].doubleValue();
    if (!lat || !lon) continue;
    std::string address = entry["address"].string();
    std::string source = entry["source"].string();
    std::string name = entry["name"].string();
    co_await model->remember(std::move(address), *lat, *lon, std::move(source), std::move(name), false, false);
  }

  if (model->generation() != token) co_return;
  if (std::shared_ptr<EncryptedCache> cache = model->cache()) {
    JSONValue pending(JSONObject(model->pendingAddresses().begin(), model->pendingAddresses().end()));
    std::string name = "pendingAddresses";
    co_await cache->write(std::move(pending), std::move(name));
  }
}

// The body of a batch search. It runs detached from whoever started it; `stop` is its cancellation (the stop
// control, sign-out, or the starter's own cancellation). The saves themselves are never cut short by a stop: what
// was found is written before the run ends.
async::Task<void> runGeocoding(std::shared_ptr<AppModel> model, std::vector<JSONValue> orders, std::string token,
                               async::CancelToken stop) {
  std::vector<GeocodingJob> jobs;
  std::map<std::string, std::size_t> jobByKey;
  std::vector<JSONValue> edits;
  std::vector<JSONValue> learned;
  std::exception_ptr failure;
  bool stale = false;

  auto countChecked = [&](bool review) {
    model->setGeocodingCompleted(model->geocodingCompleted() + 1);
    if (review) model->setGeocodingReview(model->geocodingReview() + 1);
  };

  // Grouping: one job per distinct address key.
  try {
    for (const JSONValue& order : orders) {
      stop.throwIfCancelled();
      if (model->generation() != token) co_return;
      const std::string id = order["_nativeID"].string();
      const std::string address = order["address"].string();
      const std::size_t length = characterCount(trimmed(address));
      if (length < kShortestAddress || length > kLongestAddress) {
        countChecked(true);
        continue;
      }
      std::string key = co_await model->addressKey(address);
      if (model->generation() != token) co_return;
      if (key.empty()) {
        countChecked(true);
        continue;
      }
      const std::int64_t revision = revisionOf(*model, id);
      auto known = jobByKey.find(key);
      if (known != jobByKey.end()) {
        GeocodingJob& job = jobs[known->second];
        job.orders.push_back(order);
        job.revisions[id] = revision;
      } else {
        jobByKey.emplace(key, jobs.size());
        jobs.push_back(GeocodingJob{address, {order}, {{id, revision}}});
      }
    }
  } catch (...) {
    failure = std::current_exception();
  }

  // Searching: at most four lookups at once; a new one starts only after a result has been handled.
  if (!failure) {
    auto board = std::make_shared<SearchBoard>();
    async::CancelToken children;
    async::CancelToken::Subscription stopChildren = stop.onCancel([children] { children.cancel(); });
    GMainContext* context = async::currentContext();
    std::size_t next = 0;
    auto launch = [&] {
      ++board->running;
      searchAddress(model, jobs[next].address, next, board).startDetached(async::Env{context, children});
      ++next;
    };
    while (next < jobs.size() && next < kLookupsInFlight) launch();

    bool ending = false;  // the group is ending: only the lookups still running are waited for
    while (true) {
      co_await waitUntil(board->wakeup, [&] { return !board->finished.empty() || board->running == 0; });
      if (board->finished.empty()) {
        if (board->running == 0) break;
        continue;
      }
      Finished done = std::move(board->finished.front());
      board->finished.pop_front();
      if (ending) continue;
      if (done.failure) {
        failure = done.failure;
        ending = true;
        children.cancel();
        continue;
      }
      if (model->generation() != token) {
        stale = true;
        ending = true;
        children.cancel();
        continue;
      }

      const GeocodingJob& job = jobs[done.job];
      const JSONValue& found = done.answer["found"];
      for (const JSONValue& queued : job.orders) {
        countChecked(false);
        const std::string id = queued["_nativeID"].string();
        auto revision = job.revisions.find(id);
        if (revision == job.revisions.end() || revision->second != revisionOf(*model, id)) continue;
        const JSONValue* current = currentOrder(*model, id);
        if (!current || !((*current)["address"] == queued["address"])) continue;
        std::optional<MapPoint> point = MapPoint::from(found);
        if (!point || found["qc"].string() != "0") {
          model->setGeocodingReview(model->geocodingReview() + 1);
          continue;
        }
        edits.push_back(JSONValue::object({
            {"id", id},
            {"address", queued["address"]},
            {"expected", JSONValue::array({(*current)["lat"], (*current)["lon"], (*current)["source"]})},
            {"changes", JSONValue::object({{"lat", point->lat},
                                           {"lon", point->lon},
                                           {"source", done.answer["provider"]},
                                           {"qc", found["qc"]},
                                           {"found", found["value"]}})},
        }));
        learned.push_back(JSONValue::object({{"id", id},
                                             {"address", queued["address"]},
                                             {"lat", point->lat},
                                             {"lon", point->lon},
                                             {"source", done.answer["provider"]},
                                             {"name", queued["title"]}}));
      }

      if (edits.size() >= kEditsPerSave) {
        std::exception_ptr saveFailure;
        try {
          co_await saveGeocodingResults(model, edits, learned, token);
          edits.clear();
          learned.clear();
        } catch (...) {
          saveFailure = std::current_exception();
        }
        if (saveFailure) {
          failure = saveFailure;
          ending = true;
          children.cancel();
          continue;
        }
        // The save waited: a sign-out meanwhile leaves nothing more to write here.
        if (model->generation() != token) {
          stale = true;
          ending = true;
          children.cancel();
          continue;
        }
      }

      model->setStatus(counts(model->geocodingCompleted(), model->geocodingTotal(),
                              model->geocodingFound() + static_cast<std::int64_t>(edits.size()),
                              model->geocodingReview()));
      if (next < jobs.size()) launch();
    }
  }

  std::optional<std::string> failureMessage;
  if (failure && !stop.isCancelled() && !isCancellation(failure)) failureMessage = failureText(failure);

  // Closing save, also after a failure or a stop.
  if (!stale) {
    std::exception_ptr saveFailure;
    try {
      co_await saveGeocodingResults(model, edits, learned, token);
    } catch (...) {
      saveFailure = std::current_exception();
    }
    if (saveFailure) {
      if (std::optional<std::string> text = failureText(saveFailure)) failureMessage = std::move(text);
    }
  }

  if (model->generation() != token) co_return;
  if (failureMessage) model->setError(*failureMessage);
  const bool stopped = stop.isCancelled();
  const char* head = stopped ? "Поиск остановлен" : failureMessage ? "Поиск прерван" : "Поиск завершён";
  model->setStatus(
      std::string(head) + ". " +
      counts(model->geocodingCompleted(), model->geocodingTotal(), model->geocodingFound(), model->geocodingReview()));
  if (stopped || failureMessage) co_return;

  // One upload of the remembered addresses, not waited for.
  async::spawn(uploadAddresses(model, token));
}

}  // namespace

async::Task<JSONValue> AppModel::lookup(std::string address, bool rateLimited) {
  auto self = shared_from_this();
  if (!engine_) throw DorvikError(kCatalogueLoading, 0);
  // The catalogue is read on this engine even if the model gets another one meanwhile.
  std::shared_ptr<PlannerEngine> engine = engine_;
  const std::string token = generation_;
  const async::CancelToken task = co_await async::currentToken();

  const std::string key = co_await addressKey(address);
  if (generation_ != token) throw CancelledError();

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
  if (generation_ != token) throw CancelledError();
  if (preview_ || offline_) co_return catalogue;

  std::optional<TransportError> unreachable;
  try {
    if (rateLimited) {
      // Slots are taken before waiting, so lookups that arrive together leave one spacing apart.
      const async::Clock::time_point slot = std::max(async::Clock::now(), nextGeocodingRequest_);
      nextGeocodingRequest_ = slot + kRequestSpacing;
      co_await async::sleepUntil(slot);
      if (task.isCancelled() || generation_ != token) throw CancelledError();
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
  if (unreachable->isCancelled() || task.isCancelled() || generation_ != token) throw CancelledError();
  co_return catalogue;
}

async::Task<void> AppModel::geocode(std::optional<std::vector<std::string>> ids) {
  auto self = shared_from_this();
  if (geocoding() || busy()) co_return;
  const std::string token = generation_;

  setGeocoding(true);
  setGeocodingStopping(false);
  nextGeocodingRequest_ = async::Clock::now();
  setGeocodingTotal(0);
  setGeocodingCompleted(0);
  setGeocodingFound(0);
  setGeocodingReview(0);

  std::vector<JSONValue> taken;
  std::set<std::string> chosen;
  if (ids) chosen.insert(ids->begin(), ids->end());
  for (const JSONValue& order : planner_["orders"].array()) {
    const bool take = ids ? chosen.count(order["_nativeID"].string()) > 0 : !MapPoint::from(order).has_value();
    if (take) taken.push_back(order);
  }
  setGeocodingTotal(static_cast<std::int64_t>(taken.size()));
  if (taken.empty()) {
    // Nothing to search: the message stays on the status line instead of an empty run's closing counts.
    setStatus(kNothingToSearch);
    setGeocoding(false);
    co_return;
  }
  setStatus("Подготавливаем поиск: " + std::to_string(taken.size()) + " заказов…");

  async::CancelToken stop;
  setGeocodingTask(stop);
  Wakeup wakeup;
  bool ended = false;
  runGeocoding(self, std::move(taken), token, stop)
      .startDetached(async::Env{async::currentContext(), async::CancelToken::none()},
                     [&ended, &wakeup](std::exception_ptr) {
                       ended = true;
                       wakeup.wake();
                     });
  // Whoever cancels this call stops the run; the run still closes (and saves) before this call returns.
  const async::CancelToken caller = co_await async::currentToken();
  async::CancelToken::Subscription relay = caller.onCancel([stop] { stop.cancel(); });
  co_await waitUntil(wakeup, [&ended] { return ended; });
  relay.reset();

  if (generation_ == token) {
    setGeocoding(false);
    setGeocodingStopping(false);
    setGeocodingTask(std::nullopt);
  }
}

void AppModel::stopGeocoding() {
  setGeocodingStopping(true);
  if (geocodingTask_) geocodingTask_->cancel();
  setStatus(kStopping);
}

}  // namespace dorvik
