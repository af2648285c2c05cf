// The reference data refresh against the stand-in server with the real planner engine, a real workspace cache
// and the Secret Service of the test session: the lists, the address index, the plan's depot and the upload it
// starts; the offline path with the cached zones; a stale refresh; the demo.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/async/task.h"
#include "core/cache/encrypted_cache.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"
#include "support/async_helpers.h"
#include "support/faulty_components.h"
#include "support/stand_in_server.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::testing;

namespace {

const char* const kOffline = "Нет связи с сервером. Работаем с сохранёнными адресами.";
const char* const kTverskaya = "Москва, Тверская улица, 6";

JSONValue zone(const char* name) {
  return JSONValue::object({{"name", name},
                            {"color", "#3366ff"},
                            {"points", JSONValue::array({JSONValue::array({55.7, 37.5}), JSONValue::array({55.8, 37.6}),
                                                         JSONValue::array({55.7, 37.7})})}});
}

const JSONValue kDepots = JSONValue::array({
    JSONValue::object({{"id", "d1"}, {"name", "Север"}, {"lat", 55.85}, {"lon", 37.6}}),
    JSONValue::object({{"id", "d2"},
                       {"name", "Юг"},
                       {"lat", "55,62"},
                       {"lon", 37.61},
                       {"windowFrom", "08:00"},
                       {"windowTo", "20:00"}}),
    JSONValue::object({{"id", "d3"}, {"name", "Без координат"}}),
});
const JSONValue kAddressRow = JSONValue::object(
    {{"key", "s-tver"}, {"address", kTverskaya}, {"lat", 55.7606}, {"lon", 37.6095}, {"source", "file"}});

class ReferenceWorkspace : public ::testing::Test {
 protected:
  void SetUp() override {
    server = std::make_unique<StandInServer>();
    model = AppModel::create();
    engine = async::runBlocking(PlannerEngine::create());
    cache = freshCache();
    model->setEngine(engine);
    model->setCache(cache);
    model->setApi(signedInClient(*server));
    model->setUser(JSONValue::object({{"role", "logist"}, {"depotId", "d2"}}));
    scriptAddressUpload(*server);
  }
  void refresh() { async::runBlocking(model->refreshReferenceData()); }
  std::optional<JSONValue> cached(const std::string& name) { return async::runBlocking(cache->read(name)); }
  std::string identity(const std::string& address) {
    return async::runBlocking(engine->run("addressIdentity", JSONValue::object({{"address", address}})))["key"]
        .string();
  }

  std::unique_ptr<StandInServer> server;
  std::shared_ptr<AppModel> model;
  std::shared_ptr<PlannerEngine> engine;
  std::shared_ptr<EncryptedCache> cache;
};

}  // namespace

TEST_F(ReferenceWorkspace, FillsTheListsAndIndexGivesThePlanItsDepotAndUploadsTheWaitingCorrections) {
  scriptReferenceData(*server, kDepots, JSONValue::array({kAddressRow}), JSONValue::array({zone("Центр")}));
  const JSONValue correction = JSONValue::object({{"key", "s-arbat"},
                                                  {"address", "Москва, улица Арбат, 10"},
                                                  {"lat", 55.7502},
                                                  {"lon", 37.5932},
                                                  {"source", "manual"},
                                                  {"quality", "manual"},
                                                  {"pinned", true},
                                                  {"clientName", "Офис"},
                                                  {"clientNames", JSONValue::array({"Офис"})}});
  model->setPendingAddresses({{"arbat", correction}});
  model->setOffline(true);
  model->setStatus("Прежний");

  refresh();

  for (const char* path : {"/depots", "/panel/addresses", "/panel/zones"}) EXPECT_EQ(server->hits("GET", path), 1u);
  EXPECT_EQ(server->hitsOn("/panel/addresses")[0].query, "limit=20000");
  ASSERT_EQ(model->depots().size(), 3u);
  EXPECT_EQ(model->depots()[1].id(), "d2");
  EXPECT_EQ(model->depots()[2].value["name"].string(), "Без координат");
  EXPECT_EQ(model->zones(), (std::vector<JSONValue>{zone("Центр")}));
  EXPECT_EQ(cached("zones"), JSONValue::array({zone("Центр")}));
  EXPECT_EQ(cached("depots"), kDepots);

  // The index comes from the engine under the address key; the upload then adds the correction.
  const std::string key = identity(kTverskaya);
  ASSERT_FALSE(key.empty());
  ASSERT_TRUE(model->addressIndex().count(key));
  EXPECT_EQ(model->addressIndex().at(key), kAddressRow);
  EXPECT_EQ(model->addressIndex().at("arbat"), correction);

  // The plan had no depot: the user's own, its latitude text handed on for the engine to read.
  const JSONValue depot = model->planner()["depot"];
  EXPECT_EQ(depot["name"].string(), "Юг");
  EXPECT_DOUBLE_EQ(depot["lat"].doubleValue().value_or(0), 55.62);
  EXPECT_EQ(depot["window"].string(), "08:00-20:00");

  // Online again, which the status tells, and the waiting correction went out with its client name.
  EXPECT_FALSE(model->offline());
  EXPECT_EQ(model->status(), "Связь с сервером восстановлена.");
  EXPECT_TRUE(model->pendingAddresses().empty());
  ASSERT_EQ(server->hits("POST", "/panel/clients/learn"), 1u);
  EXPECT_EQ(server->hitsOn("/panel/clients/learn")[0].json()["items"].at(0)["name"].string(), "Офис");
  EXPECT_EQ(model->addresses(), (std::vector<JSONValue>{kAddressRow, correction}));
  EXPECT_EQ(cached("addresses"), JSONValue::array({kAddressRow, correction}));

  // A plan that has a depot keeps it, whatever the user's depot.
  model->setUser(JSONValue::object({{"role", "logist"}, {"depotId", "d1"}}));
  refresh();
  EXPECT_EQ(model->planner()["depot"]["name"].string(), "Юг");
  EXPECT_EQ(server->hits("GET", "/depots"), 2u);
}

TEST_F(ReferenceWorkspace, ADepotWithoutLatitudeLeavesThePlanAloneButTheRefreshGoesOn) {
  scriptReferenceData(*server, kDepots, JSONArray{}, JSONArray{});
  model->setUser(JSONValue::object({{"role", "logist"}, {"depotId", "d3"}}));
  model->setPendingAddresses(
      {{"k",
        JSONValue::object({{"key", "s-k"}, {"address", "Москва"}, {"lat", 55.7}, {"lon", 37.6}, {"clientName", ""}})}});
  model->setOffline(true);
  refresh();
  EXPECT_TRUE(model->planner()["depot"].isNull());
  EXPECT_FALSE(model->offline());
  EXPECT_EQ(server->hits("POST", "/panel/addresses"), 1u);
  EXPECT_EQ(server->hits("POST", "/panel/clients/learn"), 0u);
  EXPECT_TRUE(model->pendingAddresses().empty());
}

TEST_F(ReferenceWorkspace, AFailedListKeepsTheOldOnesAndFallsBackToTheCachedZones) {
  const std::vector<JSONValue> oldAddresses = {JSONValue::object({{"key", "old"}})};
  model->setAddresses(oldAddresses);
  model->setDepots(JSONValue::records(JSONValue::array({JSONValue::object({{"id", "d0"}})}).array()));
  const auto pending = std::map<std::string, JSONValue>{{"k", JSONValue::object({{"key", "s-k"}})}};
  model->setPendingAddresses(pending);
  async::runBlocking(cache->write(JSONValue::array({zone("Сохранённая")}), "zones"));

  scriptReferenceData(*server, kDepots, JSONValue::array({kAddressRow}), JSONValue::array({zone("Новая")}));
  server->on("GET", "/panel/zones", Answer::error(500, "Сервер занят"));
  refresh();

  EXPECT_TRUE(model->offline());
  EXPECT_EQ(model->status(), kOffline);
  EXPECT_EQ(model->error(), std::nullopt);
  EXPECT_EQ(model->zones(), (std::vector<JSONValue>{zone("Сохранённая")}));
  EXPECT_EQ(model->addresses(), oldAddresses);
  ASSERT_EQ(model->depots().size(), 1u);
  EXPECT_EQ(model->depots()[0].id(), "d0");
  EXPECT_TRUE(model->addressIndex().empty());
  EXPECT_EQ(cached("addresses"), std::nullopt);
  EXPECT_EQ(model->pendingAddresses(), pending);
  EXPECT_EQ(server->hits("POST", "/panel/addresses"), 0u);

  // An unreachable server takes the same way; without a cache the zones stay as they are.
  model->setCache(nullptr);
  model->setZones({});
  model->setStatus("");
  server.reset();
  refresh();
  EXPECT_TRUE(model->offline());
  EXPECT_EQ(model->status(), kOffline);
  EXPECT_TRUE(model->zones().empty());
}

TEST_F(ReferenceWorkspace, AnAddressIndexTheEngineCannotBuildIsSaidAndKeepsTheBatchSearchBack) {
  // The address component fails on one row the server sends.
  FaultyComponents faulty(R"JS(
    (function () {
      const build = GeocodingCore.addressIndex;
      GeocodingCore.addressIndex = function (payload) {
        if (payload.rows.some(function (row) { return row && row.address === "Сломанный адрес"; }))
          throw new Error("сбой индекса");
        return build(payload);
      };
    })();
  )JS");
  engine = async::runBlocking(PlannerEngine::create());
  model->setEngine(engine);
  const JSONValue broken = JSONValue::object({{"key", "s-broken"}, {"address", "Сломанный адрес"}});
  scriptReferenceData(*server, kDepots, JSONValue::array({kAddressRow, broken}), JSONValue::array({zone("Центр")}));
  const JSONValue day = JSONValue::object(
      {{"routeDate", "2026-09-22"}, {"orders", JSONValue::array({JSONValue::object({{"id", "1"}, {"address", kTverskaya}})})}});
  ASSERT_TRUE(async::runBlocking(model->mutate("load", day)));
  model->setStatus("Рабочий день открыт.");

  refresh();
  // Said as the failure it is, not as a lost connection; the lists stay as they were.
  ASSERT_TRUE(model->error());
  EXPECT_EQ(model->error()->find("Не удалось подготовить адреса компании"), 0u) << *model->error();
  EXPECT_NE(model->error()->find("сбой индекса"), std::string::npos) << *model->error();
  EXPECT_FALSE(model->offline());
  EXPECT_EQ(model->status(), "Рабочий день открыт.");
  EXPECT_TRUE(model->addressIndex().empty());
  EXPECT_TRUE(model->depots().empty());

  // The batch search does not run without the index.
  model->setError(std::nullopt);
  async::runBlocking(model->geocode());
  EXPECT_EQ(model->error(), "Поиск координат не запущен: адреса компании не подготовлены. Обновите справочники в "
                            "настройках рабочего дня.");
  EXPECT_EQ(model->geocodingTotal(), 0);
  EXPECT_TRUE(server->hitsOn("/geo/clean").empty());

  // Once the index stands, it runs: the remembered address answers.
  scriptReferenceData(*server, kDepots, JSONValue::array({kAddressRow}), JSONValue::array({zone("Центр")}));
  model->setError(std::nullopt);
  refresh();
  EXPECT_EQ(model->error(), std::nullopt);
  EXPECT_EQ(model->addressIndexFailure(), std::nullopt);
  async::runBlocking(model->geocode());
  EXPECT_EQ(model->error(), std::nullopt);
  EXPECT_EQ(model->geocodingFound(), 1);
  EXPECT_DOUBLE_EQ(model->orders().at(0)["lat"].doubleValue().value_or(0), 55.7606);
}

TEST_F(ReferenceWorkspace, AStaleRefreshAndTheDemoChangeNothing) {
  scriptReferenceData(*server, kDepots, JSONValue::array({kAddressRow}), JSONValue::array({zone("Центр")}));
  server->on("GET", "/panel/zones",
             Answer::json(JSONValue::object({{"zones", JSONValue::array({zone("Центр")})}})).held());
  auto outcome = start(model->refreshReferenceData());
  ASSERT_TRUE(spinUntil([&] { return server->held("/panel/zones") == 1; }));
  // Sign-out or a depot switch while the lists are on their way.
  model->replaceGeneration();
  model->setStatus("Новое рабочее место");
  model->setOffline(true);
  server->release("/panel/zones");
  ASSERT_TRUE(spinUntil([&] { return outcome->done; }));
  EXPECT_TRUE(outcome->ok());
  EXPECT_TRUE(model->depots().empty());
  EXPECT_TRUE(model->zones().empty());
  EXPECT_TRUE(model->addressIndex().empty());
  EXPECT_TRUE(model->offline());
  EXPECT_EQ(model->status(), "Новое рабочее место");
  EXPECT_EQ(cached("zones"), std::nullopt);
  EXPECT_TRUE(model->planner()["depot"].isNull());

  model->setPreview(true);
  refresh();
  EXPECT_EQ(server->hits("GET", "/depots"), 1u);
}
