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
  std::vector<std::string> addresses;
  addresses.push_back(std::move(address));
  std::vector<std::string> keys = co_await addressKeys(std::move(addresses));
  co_return std::move(keys.front());
}

async::Task<std::vector<std::string>> AppModel::addressKeys(std::vector<std::string> addresses) {
  auto self = shared_from_this();
  std::shared_ptr<PlannerEngine> engine = engine_;
  if (!engine) throw DorvikError(kCatalogueLoading, 0);
  std::vector<std::pair<std::string, JSONValue>> calls;
  calls.reserve(addresses.size());
  for (std::string& address : addresses) {
    calls.emplace_back("addressIdentity", JSONValue::object({{"address", JSONValue(std::move(address))}}));
  }
  std::vector<JSONValue> results = co_await engine->runEach(std::move(calls));
  std::vector<std::string> keys;
  keys.reserve(results.size());
  for (const JSONValue& result : results) keys.push_back(result["key"].string());
  co_return keys;
}

async::Task<void> AppModel::remember(std::string address, double lat, double lon, std::string source, std::string name,
                                     bool synchronize, bool persist) {
  std::vector<FoundAddress> found;
  found.push_back(FoundAddress{std::move(address), lat, lon, std::move(source), std::move(name)});
  co_await rememberAll(std::move(found), synchronize, persist);
}

async::Task<void> AppModel::rememberAll(std::vector<FoundAddress> found, bool synchronize, bool persist) {
  auto self = shared_from_this();
  std::erase_if(found, [](const FoundAddress& each) { return each.address.empty(); });
  if (found.empty() || !engine_) co_return;
  std::shared_ptr<PlannerEngine> engine = engine_;
  // Outside the workspace's scope on purpose: failures of the engine or the cache are reported even when the
  // workspace changed meanwhile, while a change during a wait ends it silently before anything is written.
  const async::CancelToken workspace = workspaceToken();

  // An existing hand-made entry protects the address against anything but another hand correction.
  auto protectedKey = [this](const std::string& key) {
    if (auto pending = pendingAddresses_.find(key); pending != pendingAddresses_.end()) {
      return handMade(pending->second);
    }
    if (auto known = addressIndex_.find(key); known != addressIndex_.end()) return handMade(known->second);
    return false;
  };

  // Both keys of every address in one trip to the engine.
  std::vector<std::pair<std::string, JSONValue>> calls;
  calls.reserve(2 * found.size());
  for (const FoundAddress& each : found) {
    JSONValue payload = JSONValue::object({{"address", JSONValue(each.address)}});
    calls.emplace_back("addressIdentity", payload);
    calls.emplace_back("addressStorageKey", std::move(payload));
  }
  auto keys = co_await async::attempt(engine->runEach(std::move(calls)));
  if (reportIfFailed(keys) || workspace.isCancelled()) co_return;

  for (std::size_t i = 0; i < found.size(); ++i) {
    const FoundAddress& each = found[i];
    const bool manual = each.source == kManual;
    const std::string key = (*keys)[2 * i]["key"].string();
    if (!manual && protectedKey(key)) continue;
    auto pending = pendingAddresses_.find(key);
    JSONValue names = mergedNames(pending == pendingAddresses_.end() ? nullptr : &pending->second, each.name);
    JSONValue entry = JSONValue::object({
        {"key", JSONValue((*keys)[2 * i + 1]["key"].string())},
        {"address", JSONValue(each.address)},
        {"lat", JSONValue(each.lat)},
        {"lon", JSONValue(each.lon)},
        {"source", JSONValue(each.source)},
        {"quality", JSONValue(manual ? kManual : "0")},
        {"pinned", JSONValue(manual)},
        {"clientName", JSONValue(each.name)},
        {"clientNames", std::move(names)},
    });
    setPendingAddress(key, std::move(entry));
  }

  std::shared_ptr<EncryptedCache> cache = cache_;
  if (persist && cache) {
    // Written whatever becomes of the caller: the entries are in the model already.
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
