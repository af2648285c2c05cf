// Address upload: the address entries waiting in pendingAddresses go to the server in passes of at most 500, each
// followed by the client names learned for them (at most 500 names a request). An entry leaves the pending set only
// when the server has it and it did not change while the pass was in flight; the sent entries join the company's
// address list and the address index, and both sets are written back to the workspace cache after every pass.
//
// One run at a time: the run's flag belongs to the workspace that set it. A workspace change stops the run at its
// next wait; the stopped run then writes nothing more into the model and leaves the flag alone, since by then the
// flag, like everything else, belongs to the new workspace (whose own uploads the old flag never blocks).
#include <algorithm>
#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/api/failure.h"
#include "core/async/attempt.h"
#include "core/cache/encrypted_cache.h"
#include "model/app_model.h"

namespace dorvik {

namespace {

const char* const kWaitingStatus = "Исправления сохранены на компьютере. Синхронизация ожидает соединения.";
constexpr std::size_t kEntriesPerRequest = 500;
constexpr std::size_t kItemsPerRequest = 500;

using Batch = std::vector<std::pair<std::string, JSONValue>>;

// One item per distinct non-empty client name of each entry; repeats are dropped per entry only.
JSONArray learnItems(const Batch& batch) {
  JSONArray items;
  for (const auto& [key, entry] : batch) {
    std::vector<std::string> names;
    for (const JSONValue& name : entry["clientNames"].array()) names.push_back(name.string());
    names.push_back(entry["clientName"].string());
    std::set<std::string> seen;
    for (std::string& name : names) {
      if (name.empty() || !seen.insert(name).second) continue;
      items.push_back(JSONValue::object({
          {"name", std::move(name)},
          {"address", entry["address"]},
          {"lat", entry["lat"]},
          {"lon", entry["lon"]},
      }));
    }
  }
  return items;
}

// One pass of the upload: at most 500 waiting entries, then their client names, merged into the model and kept in
// the cache.
async::Task<void> uploadBatch(std::shared_ptr<AppModel> model, std::shared_ptr<EncryptedCache> cache) {
  Batch batch;
  for (const auto& [key, entry] : model->pendingAddresses()) {
    if (batch.size() == kEntriesPerRequest) break;
    batch.emplace_back(key, entry);
  }

  JSONArray sent;
  sent.reserve(batch.size());
  for (const auto& pair : batch) sent.push_back(pair.second);
  JSONValue body = JSONValue::object({{"addresses", JSONValue(std::move(sent))}});
  co_await model->fetch("/panel/addresses", "POST", std::move(body));

  const JSONArray items = learnItems(batch);
  for (std::size_t from = 0; from < items.size(); from += kItemsPerRequest) {
    const std::size_t to = std::min(items.size(), from + kItemsPerRequest);
    JSONValue slice = JSONValue::object({{"items", JSONArray(items.begin() + from, items.begin() + to)}});
    co_await model->fetch("/panel/clients/learn", "POST", std::move(slice));
  }

  // The merge runs without a wait. Each sent entry replaces the items of its storage key in the address list
  // and is appended at the end; of two sent entries with one storage key the later one stays.
  std::map<std::string, JSONValue> pending = model->pendingAddresses();
  std::map<std::string, JSONValue> index = model->addressIndex();
  std::map<std::string, std::size_t> lastOfKey;
  for (std::size_t i = 0; i < batch.size(); ++i) {
    const auto& [key, entry] = batch[i];
    auto found = pending.find(key);
    if (found != pending.end() && found->second == entry) pending.erase(found);
    index[key] = entry;
    lastOfKey[entry["key"].string()] = i;
  }
  std::vector<JSONValue> addresses;
  addresses.reserve(model->addresses().size() + batch.size());
  for (const JSONValue& item : model->addresses()) {
    if (!lastOfKey.count(item["key"].string())) addresses.push_back(item);
  }
  for (std::size_t i = 0; i < batch.size(); ++i) {
    if (lastOfKey[batch[i].second["key"].string()] == i) addresses.push_back(batch[i].second);
  }
  model->setPendingAddresses(std::move(pending));
  model->setAddresses(std::move(addresses));
  model->setAddressIndex(std::move(index));

  if (cache) {
    JSONValue pendingValue = model->pendingAddressesValue();
    co_await cache->write(std::move(pendingValue), "pendingAddresses");
    JSONValue addressesValue(JSONArray(model->addresses().begin(), model->addresses().end()));
    co_await cache->write(std::move(addressesValue), "addresses");
  }
}

}  // namespace

async::Task<void> AppModel::flushAddresses() {
  auto self = shared_from_this();
  if (preview_ || offline_ || syncingAddresses() || pendingAddresses_.empty()) co_return;
  // After a workspace change the model, the status line and the flag belong to the new workspace.
  co_await workspaceScope(async::ScopeEnd::quiet);
  FlagHold syncing = hold(Property::syncingAddresses);
  std::shared_ptr<EncryptedCache> cache = cache_;
  while (!pendingAddresses_.empty()) {
    auto uploaded = co_await async::attempt(uploadBatch(self, cache));
    // What failed stays pending and goes out with a later run; a cancelled transfer is not reported.
    if (!uploaded) {
      if (!isCancellation(uploaded.failure())) setStatus(kWaitingStatus);
      co_return;
    }
  }
}

}  // namespace dorvik
