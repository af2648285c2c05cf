// The server gateway against the stand-in server, a real workspace cache and the Secret Service of the test
// session: cached GET answers, the offline rules, the demo and the generation check.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "core/api/transport_error.h"
#include "core/async/task.h"
#include "core/base/errors.h"
#include "model/app_model.h"
#include "model/preview_data.h"
#include "support/async_helpers.h"
#include "support/stand_in_server.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::testing;

namespace {

struct Workspace {
  std::unique_ptr<StandInServer> server = std::make_unique<StandInServer>();
  std::shared_ptr<AppModel> model = AppModel::create();
  std::shared_ptr<EncryptedCache> cache = freshCache();

  Workspace() {
    model->setApi(signedInClient(*server));
    model->setCache(cache);
    model->setUser(JSONValue::object({{"role", "logist"}}));
  }
  JSONValue fetch(const std::string& path, const std::string& method = "GET") {
    return async::runBlocking(model->fetch(path, method, std::nullopt));
  }
  std::optional<JSONValue> cached(const std::string& name) { return async::runBlocking(cache->read(name)); }
  // The server goes away: its port refuses connections.
  void unplug() { server.reset(); }
};

}  // namespace

TEST(Gateway, GetAnswersAreCachedPerPathAndServeAnUnreachableServer) {
  Workspace w;
  const JSONValue zones = JSONValue::object({{"zones", JSONValue::array({JSONValue::object({{"name", "Север"}})})}});
  const JSONValue summary = JSONValue::object({{"totals", JSONValue::object({{"orders", 12}})}});
  w.server->on("GET", "/panel/zones", Answer::json(zones));
  w.server->on("GET", "/reports/summary?from=2026-01-01", Answer::json(summary));

  EXPECT_EQ(w.fetch("/panel/zones"), zones);
  EXPECT_EQ(w.fetch("/reports/summary?from=2026-01-01"), summary);
  EXPECT_EQ(w.cached("/panel/zones"), zones);
  // The entry name is the path exactly as passed, query included.
  EXPECT_EQ(w.cached("/reports/summary?from=2026-01-01"), summary);
  EXPECT_EQ(w.cached("/reports/summary"), std::nullopt);
  EXPECT_FALSE(w.model->offline());
  EXPECT_TRUE(w.model->canWriteServer());

  w.unplug();
  EXPECT_EQ(w.fetch("/reports/summary?from=2026-01-01"), summary);
  EXPECT_TRUE(w.model->offline());
  EXPECT_FALSE(w.model->canWriteServer());

  // Never fetched online: the transport error itself.
  auto missing = failureOf<TransportError>(w.model->fetch("/panel/clients", "GET", std::nullopt));
  ASSERT_TRUE(missing);
  EXPECT_FALSE(missing->isCancelled());
}

TEST(Gateway, AnUnreachableWriteSetsOfflineAndTheNextAnswerClearsIt) {
  Workspace w;
  w.unplug();
  auto failure = failureOf<TransportError>(
      w.model->fetch("/panel/addresses", "POST", JSONValue::object({{"addresses", JSONArray{}}})));
  ASSERT_TRUE(failure);
  EXPECT_TRUE(w.model->offline());

  // A server again (another port): the next answered request of any method clears offline.
  StandInServer again;
  w.model->setApi(signedInClient(again));
  again.on("POST", "/panel/clients/learn", Answer::json(JSONValue::object({{"ok", true}})));
  EXPECT_EQ(w.fetch("/panel/clients/learn", "POST")["ok"].boolValue(), true);
  EXPECT_FALSE(w.model->offline());
  // Writes are never cached.
  EXPECT_EQ(w.cached("/panel/clients/learn"), std::nullopt);
}

TEST(Gateway, ARefusalLeavesOfflineAlone) {
  Workspace w;
  w.server->on("GET", "/staff/people", Answer::error(500, "Сервер занят"));
  auto refused = failureOf<DorvikError>(w.model->fetch("/staff/people", "GET", std::nullopt));
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status(), 500);
  EXPECT_FALSE(w.model->offline());

  w.model->setOffline(true);
  refused = failureOf<DorvikError>(w.model->fetch("/staff/people", "GET", std::nullopt));
  ASSERT_TRUE(refused);
  EXPECT_TRUE(w.model->offline());
  EXPECT_EQ(w.cached("/staff/people"), std::nullopt);
}

TEST(Gateway, DemoAnswersLocallyAndRefusesWrites) {
  Workspace w;
  w.model->setPreview(true);
  w.model->setOffline(true);
  w.model->setPlanner(JSONValue::object(
      {{"orders", JSONValue::array({JSONValue::object({{"id", "7"}, {"address", "Москва"}, {"lat", 55.7}})})}}));

  EXPECT_EQ(w.fetch("/panel/addresses"), PreviewData::response("/panel/addresses", w.model->planner()));
  auto refused = failureOf<DorvikError>(w.model->fetch("/panel/addresses", "POST", JSONValue::object({})));
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->message(), "Пример доступен только для просмотра.");
  EXPECT_EQ(refused->status(), 0);
  auto unknown = failureOf<DorvikError>(w.model->fetch("/keys/routing", "GET", std::nullopt));
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->message(), "Для этого раздела в примере нет данных.");

  EXPECT_EQ(w.server->hits("/panel/addresses"), 0u);
  EXPECT_EQ(w.cached("/panel/addresses"), std::nullopt);
  EXPECT_TRUE(w.model->offline());
  EXPECT_FALSE(w.model->canWriteServer());
}

TEST(Gateway, WithoutAClientEveryRequestAsksForASession) {
  auto model = AppModel::create();
  for (const char* method : {"GET", "POST"}) {
    auto refused = failureOf<DorvikError>(model->fetch("/depots", method, std::nullopt));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->message(), "Войдите в учётную запись.");
    EXPECT_EQ(refused->status(), 0);
  }
  EXPECT_FALSE(model->offline());
}

TEST(Gateway, AnAnswerOfAnOlderWorkspaceIsDropped) {
  Workspace w;
  w.server->on("GET", "/monitoring/routes", Answer::json(JSONValue::object({{"routes", JSONArray{}}})).held());
  auto outcome = start(w.model->fetch("/monitoring/routes", "GET", std::nullopt));
  ASSERT_TRUE(spinUntil([&] { return w.server->held("/monitoring/routes") == 1; }));
  w.model->setOffline(true);
  w.model->replaceGeneration();
  w.server->release("/monitoring/routes");
  ASSERT_TRUE(spinUntil([&] { return outcome->done; }));
  EXPECT_TRUE(outcome->failedWith<CancelledError>());
  EXPECT_TRUE(w.model->offline());
  EXPECT_EQ(w.cached("/monitoring/routes"), std::nullopt);
}

TEST(Gateway, AWorkspaceChangeEndsAWaitingRequestAtOnce) {
  Workspace w;
  w.server->on("GET", "/monitoring/couriers", Answer::json(JSONValue::object({{"couriers", JSONArray{}}})).held());
  auto outcome = start(w.model->fetch("/monitoring/couriers", "GET", std::nullopt));
  ASSERT_TRUE(spinUntil([&] { return w.server->held("/monitoring/couriers") == 1; }));
  w.model->replaceGeneration();
  // No waiting for an answer that belongs to the old workspace: the server still holds it.
  ASSERT_TRUE(spinUntil([&] { return outcome->done; }, std::chrono::seconds(2)));
  EXPECT_TRUE(outcome->failedWith<CancelledError>());
  EXPECT_FALSE(w.model->offline());
  EXPECT_EQ(w.cached("/monitoring/couriers"), std::nullopt);
  w.server->releaseAll();
}

TEST(Gateway, ACancelledCallerEndsWithCancellationNotANetworkError) {
  Workspace w;
  w.server->on("GET", "/monitoring/orders", Answer::json(JSONValue::object({})).held());
  async::CancelToken token;
  auto outcome = start(w.model->fetch("/monitoring/orders", "GET", std::nullopt), token);
  ASSERT_TRUE(spinUntil([&] { return w.server->held("/monitoring/orders") == 1; }));
  token.cancel();
  ASSERT_TRUE(spinUntil([&] { return outcome->done; }));
  EXPECT_TRUE(outcome->failedWith<CancelledError>());
  EXPECT_FALSE(w.model->offline());
}

TEST(MapSettings, LoadsOnceReloadsWhenForcedAndKeepsTheLastOnFailure) {
  Workspace w;
  const JSONValue first = JSONValue::object({{"configured", true}, {"key", "k1"}});
  scriptMapSettings(*w.server, first);
  async::runBlocking(w.model->loadMapConfiguration(false));
  EXPECT_EQ(w.model->mapConfiguration(), first);
  EXPECT_EQ(w.model->mapIssue(), std::nullopt);
  EXPECT_FALSE(w.model->loadingMapConfiguration());
  EXPECT_EQ(w.cached("/keys/map"), first);

  async::runBlocking(w.model->loadMapConfiguration(false));
  EXPECT_EQ(w.server->hits("GET", "/keys/map"), 1u);

  w.server->on("GET", "/keys/map", Answer::error(503, "Недоступно"));
  async::runBlocking(w.model->loadMapConfiguration(true));
  EXPECT_EQ(w.server->hits("GET", "/keys/map"), 2u);
  EXPECT_EQ(w.model->mapConfiguration(), first);
  EXPECT_EQ(w.model->mapIssue(),
            std::optional<std::string>("Не удалось получить настройки карты 2ГИС. Проверьте подключение к серверу."));

  const JSONValue second = JSONValue::object({{"configured", true}, {"key", "k2"}});
  scriptMapSettings(*w.server, second);
  async::runBlocking(w.model->loadMapConfiguration(true));
  EXPECT_EQ(w.model->mapConfiguration(), second);
  EXPECT_EQ(w.model->mapIssue(), std::nullopt);

  // Offline, the saved settings stand in.
  w.model->setMapConfiguration(JSONValue());
  w.unplug();
  async::runBlocking(w.model->loadMapConfiguration(false));
  EXPECT_EQ(w.model->mapConfiguration(), second);
  EXPECT_TRUE(w.model->offline());
}

TEST(MapSettings, TheDemoHasNoMapKeys) {
  auto model = AppModel::create();
  model->setPreview(true);
  async::runBlocking(model->loadMapConfiguration(false));
  EXPECT_EQ(model->mapConfiguration(), JSONValue::object({{"configured", false}}));
  EXPECT_FALSE(model->loadingMapConfiguration());
}
