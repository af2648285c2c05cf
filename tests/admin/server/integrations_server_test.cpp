// The integrations screen over the real application model against the stand-in server: an administrator tests and
// saves new keys, sees them only masked afterwards, and clears the depot's keys; the map's settings are fetched
// again after each write, refusals reach the issue line with the server's message, and no typed key is ever
// written to the log or the workspace cache. In the demo the screen shows no keys and offers no button.
#include <gtest/gtest.h>
#include <glib.h>

#include <cstring>
#include <mutex>

#include "admin/logic/integrations.h"
#include "model/app_model.h"
#include "support/async_helpers.h"
#include "support/fake_admin.h"
#include "support/fake_integrations.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::admin;
using namespace dorvik::testing;

namespace {

// Every message logged by the process (debug ones included) while the tests run.
std::mutex logged_mutex;
std::string logged;

GLogWriterOutput keepLog(GLogLevelFlags level, const GLogField* fields, gsize count, gpointer data) {
  {
    std::lock_guard<std::mutex> lock(logged_mutex);
    for (gsize i = 0; i < count; ++i) {
      if (g_strcmp0(fields[i].key, "MESSAGE") != 0) continue;
      const auto* text = static_cast<const char*>(fields[i].value);
      logged.append(text, fields[i].length < 0 ? std::strlen(text) : static_cast<std::size_t>(fields[i].length)) += '\n';
    }
  }
  // Debug and info lines are only kept: printing them would drown the test's own output.
  if (level & (G_LOG_LEVEL_DEBUG | G_LOG_LEVEL_INFO)) return G_LOG_WRITER_HANDLED;
  return g_log_writer_default(level, fields, count, data);
}

class IntegrationsOverTheServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static std::once_flag installed;
    std::call_once(installed, [] {
      g_setenv("G_MESSAGES_DEBUG", "all", TRUE);
      g_log_set_writer_func(keepLog, nullptr, nullptr);
    });
  }

  void SetUp() override {
    model->setCache(freshCache());
    model->setApi(desk.signIn("admin"));
    model->setUser(AdminDesk::user("admin"));
  }

  // The screen shown, its document loaded.
  void open() {
    integrations->follow();
    ASSERT_TRUE(spinUntil([&] { return !integrations->data().isNull(); }));
  }

  std::size_t mapFetches() const { return server.hits("GET", "/keys/map"); }
  JSONValue lastWrite() const {
    JSONValue body;
    for (const Hit& hit : server.hitsOn("/integrations/settings"))
      if (hit.method == "PATCH") body = hit.json();
    return body;
  }
  void waitIdle() { ASSERT_TRUE(spinUntil([&] { return !integrations->busy(); })); }

  StandInServer server;
  AdminDesk desk{server};
  IntegrationsDesk keys{server};
  std::shared_ptr<AppModel> model = AppModel::create();
  std::shared_ptr<IntegrationsController> integrations = IntegrationsController::create(integrationsGateway(model));
};

}  // namespace

TEST_F(IntegrationsOverTheServer, AnAdministratorTestsAndSavesNewKeysAndSeesThemOnlyMasked) {
  keys.setKey("mapKey", "map-old-0001");
  keys.settings().set("geocoder", "osm");
  keys.settings().set("styleId", "dark-style");
  keys.setWorkingRoutingKey("route-secret-7f3a");
  open();
  EXPECT_EQ(integrations->geocoder(), 1u);

  // A mistyped key is refused by the test; the right one works.
  integrations->value()->set("routingKey", "route-secret-XXXX");
  integrations->testRoutingKey();
  ASSERT_TRUE(spinUntil([&] { return integrations->issue().has_value(); }));
  EXPECT_EQ(integrations->issue(), IntegrationsDesk::kRefusedKey);
  integrations->value()->set("routingKey", "route-secret-7f3a");
  integrations->testRoutingKey();
  ASSERT_TRUE(spinUntil([&] { return model->status() == "Ключ маршрутизации 2ГИС работает."; }));

  integrations->value()->set("dadataToken", "dadata-token-c0de");
  integrations->value()->set("mapKey", "");
  integrations->chooseGeocoder(0);
  const std::size_t mapBefore = mapFetches();
  integrations->save();
  waitIdle();
  EXPECT_EQ(model->status(), "Настройки сохранены.");
  EXPECT_EQ(lastWrite(), JSONValue::object({{"geocoder", "auto"},
                                            {"styleId", "dark-style"},
                                            {"isDemo", false},
                                            {"routingKey", "route-secret-7f3a"},
                                            {"dadataToken", "dadata-token-c0de"}}));
  EXPECT_EQ(keys.key("mapKey"), "map-old-0001") << "an empty field keeps the stored key";
  EXPECT_EQ(mapFetches(), mapBefore + 1) << "the map's settings are fetched again";
  EXPECT_EQ(integrations->status(IntegrationKey::routing), "Маршрутизация: ro…3a");
  EXPECT_EQ(*integrations->value(),
            JSONValue::object({{"geocoder", "auto"}, {"styleId", "dark-style"}, {"isDemo", false}}));

  // Neither the log nor the workspace cache ever saw a typed key.
  {
    std::lock_guard<std::mutex> lock(logged_mutex);
    for (const char* typed : {"route-secret-7f3a", "route-secret-XXXX", "dadata-token-c0de"})
      EXPECT_EQ(logged.find(typed), std::string::npos) << typed;
  }
  const std::optional<JSONValue> cached = async::runBlocking(model->cache()->read("/integrations/settings"));
  ASSERT_TRUE(cached.has_value());
  EXPECT_EQ((*cached)["routingKey"]["masked"], JSONValue("ro…3a"));
  for (const char* typed : {"route-secret-7f3a", "dadata-token-c0de"})
    EXPECT_EQ(cached->json().find(typed), std::string::npos) << typed;
}

TEST_F(IntegrationsOverTheServer, RefusalsKeepWhatWasTypedAndClearingReturnsTheDepotToNoKeys) {
  keys.setKey("routingKey", "route-old-1111");
  keys.setKey("dadataToken", "dadata-old-2222");
  keys.settings().set("isDemo", true);
  open();

  keys.failNext("PATCH", "/integrations/settings", 422, "Ключ карты имеет неверный формат.");
  integrations->value()->set("mapKey", "map-new-3333");
  integrations->save();
  waitIdle();
  EXPECT_EQ(integrations->issue(), "Ключ карты имеет неверный формат.");
  EXPECT_EQ((*integrations->value())["mapKey"], JSONValue("map-new-3333"));
  EXPECT_EQ(keys.key("mapKey"), "");

  // The clearing sends its five members, reloads the map's settings and the document, and sets no status.
  const std::size_t mapBefore = mapFetches();
  integrations->clearKeys();
  waitIdle();
  EXPECT_EQ(lastWrite().json(),
            R"({"dadataToken":null,"isDemo":false,"mapKey":null,"routingKey":null,"styleId":null})");
  EXPECT_EQ(mapFetches(), mapBefore + 1);
  for (IntegrationKey key : {IntegrationKey::dadata, IntegrationKey::routing, IntegrationKey::map})
    EXPECT_NE(integrations->status(key).find("не задан"), std::string::npos) << integrations->status(key);
  EXPECT_FALSE(integrations->demoKey());

  // With no routing key at all, the test sends {} and shows the server's answer.
  integrations->testRoutingKey();
  ASSERT_TRUE(spinUntil([&] { return integrations->issue().has_value(); }));
  EXPECT_EQ(integrations->issue(), IntegrationsDesk::kNoKey);
  EXPECT_EQ(server.hitsOn("/integrations/2gis/test").back().json(), JSONValue::object({}));
}

TEST(IntegrationsInTheDemo, TheDemoShowsNoKeysTheFirstOptionAndDisablesEveryButton) {
  auto model = AppModel::create();
  async::runBlocking(model->loadPreview());
  auto integrations = IntegrationsController::create(integrationsGateway(model));
  integrations->follow();
  ASSERT_TRUE(spinUntil([&] { return !integrations->data().isNull(); }));
  for (IntegrationKey key : {IntegrationKey::dadata, IntegrationKey::routing, IntegrationKey::map})
    EXPECT_NE(integrations->status(key).find("не задан"), std::string::npos) << integrations->status(key);
  EXPECT_EQ(integrations->geocoder(), 0u);
  EXPECT_FALSE(integrations->canWrite());
  EXPECT_FALSE(integrations->canTest());
}
