// Reference data refresh: the company's depots, address list and delivery zones, asked for together, handed to the
// planner engine and kept in the workspace cache for offline use; then the plan gets the user's depot when it has
// none, the model counts as online again and the waiting address corrections go out. Whatever fails on the way
// leaves the lists as they were and falls back to the zones kept in the cache, except an address index the engine
// cannot build, which is shown as the failure it is. The requests go to the client
// directly: their answers are not kept under their paths and a network failure is not answered from the cache.
#include <array>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/api/api_client.h"
#include "core/async/attempt.h"
#include "core/async/shared_task.h"
#include "core/cache/encrypted_cache.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"

namespace dorvik {

namespace {

const char* const kOfflineStatus = "Нет связи с сервером. Работаем с сохранёнными адресами.";

// One GET in flight from the moment it is made; its answer is awaited later, and it can be cancelled meanwhile.
using Request = std::shared_ptr<async::SharedTask<JSONValue>>;

// Runs a request to its end; the refresh reads the outcome when it joins.
async::Task<void> drive(Request request) { co_await request->settled(); }

Request send(const std::shared_ptr<APIClient>& api, std::string path) {
  auto request =
      std::make_shared<async::SharedTask<JSONValue>>(api->request(std::move(path), "GET", std::nullopt, std::nullopt));
  async::spawn(drive(request));
  return request;
}

struct Lists {
  JSONValue depots;
  JSONValue addresses;
  JSONValue zones;
};

// The three lists travel together; their answers are read in this order. When one fails, the others are cancelled
// and let go of their connections before the failure goes on; when the reading is cancelled, they are cancelled.
async::Task<Lists> requestLists(std::shared_ptr<APIClient> api) {
  std::array<Request, 3> requests = {send(api, "/depots"), send(api, "/panel/addresses?limit=20000"),
                                     send(api, "/panel/zones")};
  struct CancelUnfinished {
    const std::array<Request, 3>& requests;
    ~CancelUnfinished() {
      for (const Request& request : requests) request->cancel();
    }
  } cancelUnfinished{requests};

  std::array<JSONValue, 3> answers;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    auto answer = co_await async::attempt(requests[i]->join());
    if (!answer) {
      for (const Request& request : requests) {
        if (request->finished()) continue;
        request->cancel();
        co_await request->settled();
      }
      std::rethrow_exception(answer.failure());
    }
    answers[i] = std::move(*answer);
  }
  co_return Lists{answers[0]["depots"], answers[1]["addresses"], answers[2]["zones"]};
}

// Hands the zones to the engine and keeps the three lists in the cache.
async::Task<void> installLists(std::shared_ptr<PlannerEngine> engine, std::shared_ptr<EncryptedCache> cache,
                               Lists lists) {
  JSONValue zonesPayload = JSONValue::object({{"zones", lists.zones}});
  co_await engine->run("zones", std::move(zonesPayload));
  if (cache) {
    co_await cache->write(lists.addresses, "addresses");
    co_await cache->write(lists.zones, "zones");
    co_await cache->write(lists.depots, "depots");
  }
}

// Offline: the lists stay as they are; the zones kept in the cache stand in for the server's.
async::Task<void> useSavedZones(std::shared_ptr<AppModel> model, std::shared_ptr<PlannerEngine> engine,
                                std::shared_ptr<EncryptedCache> cache) {
  model->setOffline(true);
  std::optional<JSONValue> saved;
  if (cache) {
    auto read = co_await async::attempt(cache->read("zones"));
    if (read) saved = std::move(*read);  // an unreadable entry counts as none
  }
  if (saved) {
    JSONValue zonesPayload = JSONValue::object({{"zones", *saved}});
    // When the engine refuses them, the map still draws the zones the model holds.
    (void)co_await async::attempt(engine->run("zones", std::move(zonesPayload)));
    model->setZones(saved->array());
  }
  model->setStatus(kOfflineStatus);
}

// A plan without a depot starts from the user's own. The plan change reports its own failure.
async::Task<void> planUsersDepot(std::shared_ptr<AppModel> model) {
  if (!model->planner()["depot"].isNull()) co_return;
  const std::string depotId = model->user()["depotId"].string();
  for (const Record& record : model->depots()) {
    if (record.id() != depotId) continue;
    const JSONValue& depot = record.value;
    if (!depot["lat"].doubleValue()) co_return;
    JSONValue payload = JSONValue::object({
        {"name", depot["name"]},
        {"lat", depot["lat"]},
        {"lon", depot["lon"]},
        {"window", depot["windowFrom"].string() + "-" + depot["windowTo"].string()},
    });
    (void)co_await async::attempt(model->mutate("depot", std::move(payload)));
    co_return;
  }
}

}  // namespace

async::Task<void> AppModel::refreshReferenceData() {
  auto self = shared_from_this();
  if (!api_ || !engine_ || preview_) co_return;
  // A refresh of an older workspace changes nothing.
  co_await workspaceScope(async::ScopeEnd::quiet);
  std::shared_ptr<APIClient> api = api_;
  std::shared_ptr<PlannerEngine> engine = engine_;
  std::shared_ptr<EncryptedCache> cache = cache_;

  auto lists = co_await async::attempt(requestLists(api));
  if (!lists) {
    co_await useSavedZones(self, engine, cache);
    co_return;
  }
  JSONValue indexPayload = JSONValue::object({{"rows", lists->addresses}});
  auto index = co_await async::attempt(engine->run("addressIndex", std::move(indexPayload)));
  // An index the engine cannot build is its own failure, not a lost connection: it is said as it is, and the lists
  // stay as they were.
  if (!index) co_return installAddressIndex(index);
  auto installed = co_await async::attempt(installLists(engine, cache, *lists));
  if (!installed) {
    co_await useSavedZones(self, engine, cache);
    co_return;
  }

  setDepots(JSONValue::records(lists->depots.array()));
  setAddresses(lists->addresses.array());
  setZones(lists->zones.array());
  installAddressIndex(index);
  co_await planUsersDepot(self);
  setOffline(false);
  co_await flushAddresses();
}

}  // namespace dorvik
