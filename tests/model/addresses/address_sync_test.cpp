// The address upload against the stand-in server with a real workspace cache and the Secret Service of the test
// session: passes of 500 entries with their learned client names, entries changed in flight, failures, the
// guards, a workspace change in the middle of a run, and corrections that outlive a restart while the server is
// down.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <glib.h>

#include "core/async/task.h"
#include "core/cache/encrypted_cache.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"
#include "support/async_helpers.h"
#include "support/stand_in_server.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::testing;

namespace {

const char* const kWaiting = "Исправления сохранены на компьютере. Синхронизация ожидает соединения.";

std::string numbered(const char* prefix, int i) {
  char text[32];
  std::snprintf(text, sizeof text, "%s%04d", prefix, i);
  return text;
}

// The address entry the address memory keeps for one address.
JSONValue entry(int i, JSONValue clientNames, const std::string& clientName, double lat = 55.75) {
  return JSONValue::object({
      {"key", numbered("s-", i)},
      {"address", "Москва, улица " + numbered("", i)},
      {"lat", lat},
      {"lon", 37.61},
      {"source", "manual"},
      {"quality", "manual"},
      {"pinned", true},
      {"clientName", clientName},
      {"clientNames", std::move(clientNames)},
  });
}

std::map<std::string, JSONValue> pendingOf(int count) {
  std::map<std::string, JSONValue> pending;
  for (int i = 0; i < count; ++i) {
    pending[numbered("a-", i)] = entry(i, JSONValue::array({numbered("Клиент ", i), "Общий"}), "Общий");
  }
  return pending;
}

JSONValue asObject(const std::map<std::string, JSONValue>& map) {
  JSONValue object(JSONObject{});
  for (const auto& [key, value] : map) object.set(key, value);
  return object;
}

struct Workspace {
  std::unique_ptr<StandInServer> server = std::make_unique<StandInServer>();
  std::shared_ptr<AppModel> model = AppModel::create();
  std::shared_ptr<EncryptedCache> cache = freshCache();

  Workspace() {
    model->setApi(signedInClient(*server));
    model->setCache(cache);
    model->setUser(JSONValue::object({{"role", "logist"}}));
    scriptAddressUpload(*server);
  }
  void flush() { async::runBlocking(model->flushAddresses()); }
  std::optional<JSONValue> cached(const std::string& name) { return async::runBlocking(cache->read(name)); }
  std::vector<std::size_t> sizes(const char* path, const char* member) {
    std::vector<std::size_t> result;
    for (const Hit& hit : server->hitsOn(path)) result.push_back(hit.json()[member].size());
    return result;
  }
};

}  // namespace

TEST(AddressUpload, SendsPassesOf500WithTheLearnedNamesAndRemovesWhatTheServerHas) {
  Workspace w;
  auto pending = pendingOf(1234);
  // Two names each ("Общий" once although it is both the name and in the list), except one entry without any.
  pending[numbered("a-", 0)] = entry(0, JSONArray{}, "");
  w.model->setPendingAddresses(pending);
  // The server's list already holds one of the addresses twice.
  const JSONValue other = JSONValue::object({{"key", "другой"}, {"address", "Москва, Арбат, 1"}});
  w.model->setAddresses(
      {JSONValue::object({{"key", "s-0005"}, {"lat", 1}}), other, JSONValue::object({{"key", "s-0005"}, {"lat", 2}})});

  w.flush();

  EXPECT_EQ(w.sizes("/panel/addresses", "addresses"), (std::vector<std::size_t>{500, 500, 234}));
  // 998 names in the first pass, 1000 in the second, 468 in the third.
  EXPECT_EQ(w.sizes("/panel/clients/learn", "items"), (std::vector<std::size_t>{500, 498, 500, 500, 468}));
  std::vector<std::string> order;
  for (const Hit& hit : w.server->allHits()) {
    if (hit.method == "POST" && hit.path != "/auth/login") order.push_back(hit.path);
  }
  const std::string a = "/panel/addresses", l = "/panel/clients/learn";
  EXPECT_EQ(order, (std::vector<std::string>{a, l, l, a, l, l, a, l}));

  const JSONValue firstBody = w.server->hitsOn(a)[0].json();
  EXPECT_EQ(firstBody["addresses"].at(1), pending[numbered("a-", 1)]);
  const JSONValue item = w.server->hitsOn(l)[0].json()["items"].at(0);
  EXPECT_EQ(item, JSONValue::object(
                      {{"name", "Клиент 0001"}, {"address", "Москва, улица 0001"}, {"lat", 55.75}, {"lon", 37.61}}));

  EXPECT_TRUE(w.model->pendingAddresses().empty());
  EXPECT_FALSE(w.model->syncingAddresses());
  EXPECT_EQ(w.model->status(), "");
  // The list keeps the other address first; each sent entry replaces its storage key once, at the end.
  ASSERT_EQ(w.model->addresses().size(), 1235u);
  EXPECT_EQ(w.model->addresses().front(), other);
  EXPECT_EQ(w.model->addresses()[6], pending[numbered("a-", 5)]);
  EXPECT_EQ(w.model->addresses().back(), pending[numbered("a-", 1233)]);
  EXPECT_EQ(w.model->addressIndex().size(), 1234u);
  EXPECT_EQ(w.model->addressIndex().at("a-0042"), pending["a-0042"]);

  EXPECT_EQ(w.cached("pendingAddresses"), JSONValue(JSONObject{}));
  const auto addresses = w.cached("addresses");
  ASSERT_TRUE(addresses);
  EXPECT_EQ(addresses->array(), w.model->addresses());
}

TEST(AddressUpload, AnEntryReplacedInFlightStaysPendingAndGoesInTheNextPass) {
  Workspace w;
  w.model->setPendingAddresses(pendingOf(3));
  const JSONValue moved = entry(1, JSONValue::array({"Склад"}), "Склад", 55.9);
  const JSONValue sentFirst = w.model->pendingAddresses().at("a-0001");
  auto model = w.model;
  int hits = 0;
  w.server->on("POST", "/panel/addresses", [&, model](const Hit&) {
    // A hand correction lands while the first pass is on its way.
    if (++hits == 1) {
      auto pending = model->pendingAddresses();
      pending["a-0001"] = moved;
      model->setPendingAddresses(pending);
    }
    return Answer::json(JSONValue::object({{"ok", true}}));
  });

  w.flush();

  const auto passes = w.server->hitsOn("/panel/addresses");
  ASSERT_EQ(passes.size(), 2u);
  EXPECT_EQ(passes[0].json()["addresses"].at(1), sentFirst);
  EXPECT_EQ(passes[1].json()["addresses"], JSONValue::array({moved}));
  EXPECT_TRUE(w.model->pendingAddresses().empty());
  EXPECT_EQ(w.model->addresses().back(), moved);
  EXPECT_EQ(w.model->addresses().size(), 3u);
  EXPECT_EQ(w.model->addressIndex().at("a-0001"), moved);
}

TEST(AddressUpload, AFailedPassStaysPendingAndTheGuardsSendNothing) {
  Workspace w;
  const auto pending = pendingOf(3);
  w.model->setPendingAddresses(pending);
  const std::vector<JSONValue> list = {JSONValue::object({{"key", "s-0001"}})};
  w.model->setAddresses(list);

  // The learn request is refused after the addresses went through: nothing of the pass is merged.
  w.server->on("POST", "/panel/clients/learn", Answer::error(500, "Сервер занят"));
  w.flush();
  EXPECT_EQ(w.server->hits("/panel/addresses"), 1u);
  EXPECT_EQ(w.model->pendingAddresses(), pending);
  EXPECT_EQ(w.model->addresses(), list);
  EXPECT_TRUE(w.model->addressIndex().empty());
  EXPECT_EQ(w.model->status(), kWaiting);
  EXPECT_EQ(w.model->error(), std::nullopt);
  EXPECT_FALSE(w.model->offline());
  EXPECT_FALSE(w.model->syncingAddresses());
  EXPECT_EQ(w.cached("pendingAddresses"), std::nullopt);

  // A run under way: a second call returns at once and the running one carries everything.
  scriptAddressUpload(*w.server);
  w.server->on("POST", "/panel/addresses", Answer::json(JSONValue::object({{"ok", true}})).held());
  auto first = start(w.model->flushAddresses());
  ASSERT_TRUE(spinUntil([&] { return w.server->held("/panel/addresses") == 1; }));
  EXPECT_TRUE(w.model->syncingAddresses());
  auto second = start(w.model->flushAddresses());
  ASSERT_TRUE(spinUntil([&] { return second->done; }));
  w.server->release("/panel/addresses");
  ASSERT_TRUE(spinUntil([&] { return first->done; }));
  EXPECT_EQ(w.server->hits("/panel/addresses"), 2u);
  EXPECT_TRUE(w.model->pendingAddresses().empty());

  // Offline and in the demo nothing is sent.
  w.model->setPendingAddresses(pending);
  w.model->setOffline(true);
  w.flush();
  w.model->setOffline(false);
  w.model->setPreview(true);
  w.flush();
  EXPECT_EQ(w.server->hits("/panel/addresses"), 2u);
  EXPECT_EQ(w.model->pendingAddresses(), pending);
}

// A depot switch while a run waits: the new workspace uploads at once, and the old run, when its answer comes,
// neither merges into the new workspace nor clears its flag.
TEST(AddressUpload, AWorkspaceChangeMidRunNeitherBlocksNorTouchesTheNewWorkspace) {
  Workspace w;
  int addressHits = 0;
  w.server->on("POST", "/panel/addresses", [&](const Hit&) {
    Answer answer = Answer::json(JSONValue::object({{"ok", true}}));
    if (++addressHits == 1) answer.held();
    return answer;
  });
  w.server->on("POST", "/panel/clients/learn", Answer::json(JSONValue::object({{"ok", true}})).held());
  std::map<std::string, JSONValue> old = {{"a-old", entry(1, JSONArray{}, "")}};
  w.model->setPendingAddresses(old);
  auto oldRun = start(w.model->flushAddresses());
  ASSERT_TRUE(spinUntil([&] { return w.server->held("/panel/addresses") == 1; }));
  EXPECT_TRUE(w.model->syncingAddresses());

  // The new depot's workspace, with its own cache and its own waiting correction.
  w.model->replaceGeneration();
  auto newCache = freshCache();
  w.model->setCache(newCache);
  const std::map<std::string, JSONValue> fresh = {{"a-new", entry(2, JSONValue::array({"Пекарня"}), "Пекарня")}};
  w.model->setPendingAddresses(fresh);
  w.model->setAddresses({});
  w.model->setAddressIndex({});
  EXPECT_FALSE(w.model->syncingAddresses());

  auto newRun = start(w.model->flushAddresses());
  ASSERT_TRUE(spinUntil([&] { return w.server->held("/panel/clients/learn") == 1; }));
  EXPECT_TRUE(w.model->syncingAddresses());

  w.server->release("/panel/addresses");
  ASSERT_TRUE(spinUntil([&] { return oldRun->done; }));
  EXPECT_TRUE(oldRun->ok());
  EXPECT_TRUE(w.model->syncingAddresses());
  EXPECT_EQ(w.model->pendingAddresses(), fresh);
  EXPECT_TRUE(w.model->addresses().empty());
  EXPECT_TRUE(w.model->addressIndex().empty());
  EXPECT_EQ(w.model->status(), "");
  EXPECT_EQ(w.cached("pendingAddresses"), std::nullopt);

  w.server->release("/panel/clients/learn");
  ASSERT_TRUE(spinUntil([&] { return newRun->done; }));
  EXPECT_FALSE(w.model->syncingAddresses());
  EXPECT_TRUE(w.model->pendingAddresses().empty());
  EXPECT_EQ(w.model->addresses(), std::vector<JSONValue>{fresh.at("a-new")});
  EXPECT_EQ(async::runBlocking(newCache->read("pendingAddresses")), JSONValue(JSONObject{}));
  EXPECT_EQ(w.server->hits("/panel/clients/learn"), 1u);
}

// Corrections made before a restart with the server down are read back by the next run of the same workspace and
// go out once the server answers again.
TEST(AddressUpload, WaitingCorrectionsSurviveARestartWhileTheServerIsDown) {
  gchar* uuid = g_uuid_string_random();
  const std::string scope = std::string("https://model.test/api|7|") + uuid + "|3";
  g_free(uuid);
  const auto pending = pendingOf(620);

  {
    Workspace w;
    w.cache = async::runBlocking(EncryptedCache::open(scope));
    w.model->setCache(w.cache);
    w.model->setPendingAddresses(pending);
    async::runBlocking(w.cache->write(asObject(pending), "pendingAddresses"));
    w.server.reset();
    w.flush();
    EXPECT_TRUE(w.model->offline());
    EXPECT_EQ(w.model->status(), kWaiting);
    EXPECT_EQ(w.model->pendingAddresses(), pending);
  }

  // The next run: its own model, cache and client; the server is still down at first.
  auto engine = async::runBlocking(PlannerEngine::create());
  auto cache = async::runBlocking(EncryptedCache::open(scope));
  const auto saved = async::runBlocking(cache->read("pendingAddresses"));
  ASSERT_TRUE(saved);
  std::map<std::string, JSONValue> restored;
  for (const auto& [key, value] : saved->object()) restored.emplace(key, value);
  EXPECT_EQ(restored, pending);

  auto model = AppModel::create();
  model->setEngine(engine);
  model->setCache(cache);
  model->setUser(JSONValue::object({{"role", "logist"}}));
  model->setPendingAddresses(restored);
  {
    StandInServer gone;
    model->setApi(signedInClient(gone));
  }
  async::runBlocking(model->refreshReferenceData());
  EXPECT_TRUE(model->offline());
  EXPECT_EQ(model->pendingAddresses(), pending);

  StandInServer server;
  scriptReferenceData(server, JSONArray{}, JSONArray{}, JSONArray{});
  scriptAddressUpload(server);
  model->setApi(signedInClient(server));
  async::runBlocking(model->refreshReferenceData());

  EXPECT_FALSE(model->offline());
  EXPECT_TRUE(model->pendingAddresses().empty());
  EXPECT_EQ(server.hits("POST", "/panel/addresses"), 2u);
  std::size_t learned = 0;
  for (const Hit& hit : server.hitsOn("/panel/clients/learn")) learned += hit.json()["items"].size();
  EXPECT_EQ(learned, 2 * 620u);
  EXPECT_EQ(model->addresses().size(), 620u);
  EXPECT_EQ(async::runBlocking(cache->read("pendingAddresses")), JSONValue(JSONObject{}));
}
