// Address memory: where an address lies once somebody settled it. Each remembered address waits in
// pendingAddresses (and in the cache entry "pendingAddresses") under its address key until the upload has carried
// it; the lookup consults that map before anything else, so a correction is found again at once, also offline.
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/async/attempt.h"
#include "core/base/errors.h"
#include "core/cache/encrypted_cache.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"

namespace dorvik {

namespace {

const char* const kCatalogueLoading = "Каталог ещё загружается.";
const char* const kCorrected = "Координаты исправлены. Адрес заказа сохранён.";
const char* const kManual = "manual";

// A hand-made entry is never replaced by an address found or read from a file.
bool handMade(const JSONValue& entry) { return entry["pinned"].boolValue() || entry["source"].string() == kManual; }

// The remembered names of an address with one more: no empty texts, no repeats, in code point order.
JSONValue mergedNames(const JSONValue* pending, const std::string& name) {
  std::vector<std::string> names;
  if (pending) {
    for (const JSONValue& element : (*pending)["clientNames"].array()) names.push_back(element.string());
  }
  names.push_back(name);
  names.erase(std::remove(names.begin(), names.end(), std::string()), names.end());
  std::sort(names.begin(), names.end());  // byte order of UTF-8 is code point order
  names.erase(std::unique(names.begin(), names.end()), names.end());
  JSONArray array;
  array.reserve(names.size());
  for (std::string& each : names) array.emplace_back(std::move(each));
  return JSONValue(std::move(array));
}

}  // namespace

async::Task<std::string> AppModel::addressKey(std::string address) {
  auto self = shared_from_this();
  std::shared_ptr<PlannerEngine> engine = engine_;
  if (!engine) throw DorvikError(kCatalogueLoading, 0);
  JSONValue payload = JSONValue::object({{"address", JSONValue(address)}});
  JSONValue result = co_await engine->run("addressIdentity", std::move(payload));
  co_return result["key"].string();
}

async::Task<void> AppModel::remember(std::string address, double lat, double lon, std::string source, std::string name,
                                     bool synchronize, bool persist) {
  auto self = shared_from_this();
  if (address.empty() || !engine_) co_return;
  std::shared_ptr<PlannerEngine> engine = engine_;
  // Outside the workspace's scope on purpose: failures of the engine or the cache are reported even when the
  // workspace changed meanwhile, while a change during a wait ends it silently before anything is written.
  const async::CancelToken workspace = workspaceToken();
  const bool manual = source == kManual;

  // An existing hand-made entry protects the address against anything but another hand correction.
  auto protectedKey = [this](const std::string& key) {
    if (auto pending = pendingAddresses_.find(key); pending != pendingAddresses_.end()) {
      return handMade(pending->second);
    }
    if (auto known = addressIndex_.find(key); known != addressIndex_.end()) return handMade(known->second);
    return false;
  };

  auto key = co_await async::attempt(addressKey(address));
  if (reportIfFailed(key) || workspace.isCancelled()) co_return;
  if (!manual && protectedKey(*key)) co_return;
  JSONValue payload = JSONValue::object({{"address", JSONValue(address)}});
  auto storageKey = co_await async::attempt(engine->run("addressStorageKey", std::move(payload)));
  if (reportIfFailed(storageKey) || workspace.isCancelled()) co_return;
  // A hand correction may have arrived while the storage key was computed: it still wins.
  if (!manual && protectedKey(*key)) co_return;

  auto pending = pendingAddresses_.find(*key);
  JSONValue names = mergedNames(pending == pendingAddresses_.end() ? nullptr : &pending->second, name);
  JSONValue entry = JSONValue::object({
      {"key", JSONValue((*storageKey)["key"].string())},
      {"address", JSONValue(address)},
      {"lat", JSONValue(lat)},
      {"lon", JSONValue(lon)},
      {"source", JSONValue(source)},
      {"quality", JSONValue(manual ? kManual : "0")},
      {"pinned", JSONValue(manual)},
      {"clientName", JSONValue(name)},
      {"clientNames", std::move(names)},
  });
  setPendingAddress(*key, std::move(entry));

  std::shared_ptr<EncryptedCache> cache = cache_;
  if (persist && cache) {
    // Written whatever becomes of the caller: the entry is in the model already.
    auto written = co_await async::attempt(async::shielded(cache->write(pendingAddressesValue(), "pendingAddresses")));
    if (reportIfFailed(written)) co_return;
  }
  if (synchronize && !workspace.isCancelled()) co_await flushAddresses();
}

async::Task<void> AppModel::correctCoordinate(std::string id, double latitude, double longitude) {
  auto self = shared_from_this();
  if (!std::isfinite(latitude) || !std::isfinite(longitude) || std::fabs(latitude) > 90 || std::fabs(longitude) > 180) {
    co_return;
  }
  const std::vector<std::string> ids = orderIDs();
  auto found = std::find(ids.begin(), ids.end(), id);
  if (found == ids.end()) co_return;
  const JSONValue& order = planner_["orders"].at(static_cast<std::size_t>(found - ids.begin()));
  const std::string address = order["address"].string();
  const std::string title = order["title"].string();
  co_await workspaceScope(async::ScopeEnd::quiet);

  JSONValue changes = JSONValue::object({
      {"lat", JSONValue(latitude)},
      {"lon", JSONValue(longitude)},
      {"source", JSONValue(kManual)},
      {"qc", JSONValue(kManual)},
      {"found", JSONValue(address)},
  });
  const bool applied = co_await patchOrder(id, std::move(changes));
  if (!applied) co_return;
  co_await remember(address, latitude, longitude, kManual, title, true, true);
  setStatus(kCorrected);
}

JSONValue AppModel::pendingAddressesValue() const {
  JSONValue value = JSONValue::object({});
  for (const auto& [key, entry] : pendingAddresses_) value.set(key, entry);
  return value;
}

}  // namespace dorvik
