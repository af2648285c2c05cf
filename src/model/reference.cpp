// Reference data refresh: the company's depots, address list and delivery zones, asked for together, handed to the
// planner engine and kept in the workspace cache for offline use; then the plan gets the user's depot when it has
// none, the model counts as online again and the waiting address corrections go out. Whatever fails on the way
// leaves the lists as they were and falls back to the zones kept in the cache. The requests go to the client
// directly: their answers are not kept under their paths and a network failure is not answered from the cache.
#include <array>
#include <cstddef>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/api/api_client.h"
#include "core/async/shared_task.h"
#include "core/cache/encrypted_cache.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"

namespace dorvik {

namespace {

const char* const kOfflineStatus = "Нет связи с сервером. Работаем с сохранёнными адресами.";

// One GET in flight from the moment it is made; its answer is awaited later, and it can be cancelled meanwhile.
using Request = std::shared_ptr<async::SharedTask<JSONValue>>;

async::Task<void> drive(Request request) {
  try {
    co_await request->join();
  } catch (...) {
    // The refresh reads the outcome when it joins.
  }
}

Request send(const std::shared_ptr<APIClient>& api, std::string path) {
  auto request =
      std::make_shared<async::SharedTask<JSONValue>>(api->request(std::move(path), "GET", std::nullopt, std::nullopt));
  async::spawn(drive(request));
  return request;
}

// Cancels a request not yet finished and waits until it has let go of the connection.
async::Task<void> abandon(Request request) {
  if (request->finished()) co_return;
  request->cancel();
  try {
    co_await request->join();
  } catch (...) {
  }
}

std::map<std::string, JSONValue> indexOf(const JSONValue& result) {
  std::map<std::string, JSONValue> index;
  for (const auto& [key, value] : result.object()) index.emplace(key, value);
  return index;
}

}  // namespace

async::Task<void> AppModel::refreshReferenceData() {
  auto self = shared_from_this();
  if (!api_ || !engine_ || preview_) co_return;
  const std::string token = generation_;
  std::shared_ptr<APIClient> api = api_;
  std::shared_ptr<PlannerEngine> engine = engine_;
  std::shared_ptr<EncryptedCache> cache = cache_;

  // The three lists travel together; their answers are read in this order.
  std::array<Request, 3> requests = {send(api, "/depots"), send(api, "/panel/addresses?limit=20000"),
                                     send(api, "/panel/zones")};
  std::array<JSONValue, 3> answers;
  JSONValue index;
  bool failed = false;
  try {
    for (std::size_t i = 0; i < requests.size(); ++i) answers[i] = co_await requests[i]->join();
  } catch (...) {
    failed = true;
  }
  if (failed) {
    for (const Request& request : requests) co_await abandon(request);
  }

  const JSONValue addressRows = answers[1]["addresses"];
  const JSONValue zoneRows = answers[2]["zones"];
  if (!failed) {
    try {
      JSONValue indexPayload = JSONValue::object({{"rows", addressRows}});
      index = co_await engine->run("addressIndex", std::move(indexPayload));
      JSONValue zonesPayload = JSONValue::object({{"zones", zoneRows}});
      co_await engine->run("zones", std::move(zonesPayload));
      if (generation_ != token) co_return;
      if (cache) {
        co_await cache->write(addressRows, "addresses");
        co_await cache->write(zoneRows, "zones");
      }
    } catch (...) {
      failed = true;
    }
  }

  if (failed) {
    // Offline: the lists stay as they are; the zones kept in the cache stand in for the server's.
    if (generation_ != token) co_return;
    setOffline(true);
    std::optional<JSONValue> saved;
    if (cache) {
      try {
        saved = co_await cache->read("zones");
      } catch (...) {
        saved.reset();  // an unreadable entry counts as none
      }
    }
    if (saved) {
      try {
        JSONValue zonesPayload = JSONValue::object({{"zones", *saved}});
        co_await engine->run("zones", std::move(zonesPayload));
      } catch (...) {
        // The map still draws the zones the model holds.
      }
      if (generation_ != token) co_return;
      setZones(saved->array());
    }
    setStatus(kOfflineStatus);
    co_return;
  }

  if (generation_ != token) co_return;
  setDepots(JSONValue::records(answers[0]["depots"].array()));
  setAddresses(addressRows.array());
  setZones(zoneRows.array());
  setAddressIndex(indexOf(index));

  // A plan without a depot starts from the user's own.
  if (planner_["depot"].isNull()) {
    const std::string depotId = user_["depotId"].string();
    std::optional<JSONValue> depot;
    for (const Record& record : depots_) {
      if (record.id() == depotId) {
        depot = record.value;
        break;
      }
    }
    if (depot && (*depot)["lat"].doubleValue()) {
      JSONValue payload = JSONValue::object({
          {"name", (*depot)["name"]},
          {"lat", (*depot)["lat"]},
          {"lon", (*depot)["lon"]},
          {"window", (*depot)["windowFrom"].string() + "-" + (*depot)["windowTo"].string()},
      });
      // The plan change reports its own failure; the refresh goes on either way.
      try {
        co_await mutate("depot", std::move(payload));
      } catch (...) {
      }
    }
  }
  if (generation_ != token) co_return;

  setOffline(false);
  co_await flushAddresses();
}

}  // namespace dorvik
