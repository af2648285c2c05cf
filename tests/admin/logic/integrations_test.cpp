// The integrations screen without a display: what a save, a key test and a clearing send, the status lines of the
// stored keys, and the flows — busy from the press to the end, the map's settings reloaded after a write, typed
// keys kept after a failure and dropped by the reload after a success, a new workspace loaded afresh.
#include <gtest/gtest.h>

#include "admin/logic/fake_gateway.h"
#include "admin/logic/integrations.h"

using namespace dorvik;
using namespace dorvik::admin;
using namespace dorvik::admin::testing;

namespace {

const JSONValue kNull;

JSONValue loaded(JSONValue typed = JSONValue::object({})) {
  JSONValue value = JSONValue::object({{"geocoder", "osm"}, {"styleId", "style-1"}, {"isDemo", true}});
  for (const auto& [key, member] : typed.object()) value.set(key, member);
  return value;
}

TEST(IntegrationsPayload, ASaveSendsTheEditedSettingsLessTheEmptyKeyFields) {
  struct Case {
    const char* what;
    JSONValue value;
    JSONValue body;
  };
  const Case cases[] = {
      {"nothing typed: the three copied members only", loaded(), loaded()},
      {"typed keys go out as typed, spaces included",
       loaded(JSONValue::object({{"dadataToken", " d1 "}, {"routingKey", "r1"}, {"mapKey", "m1"}})),
       loaded(JSONValue::object({{"dadataToken", " d1 "}, {"routingKey", "r1"}, {"mapKey", "m1"}}))},
      {"a key typed and emptied again is not sent", loaded(JSONValue::object({{"routingKey", ""}, {"mapKey", "m1"}})),
       loaded(JSONValue::object({{"mapKey", "m1"}}))},
      {"an emptied style and the nulls of a sparse document go out unchanged",
       JSONValue::object({{"geocoder", kNull}, {"styleId", ""}, {"isDemo", kNull}}),
       JSONValue::object({{"geocoder", kNull}, {"styleId", ""}, {"isDemo", kNull}})},
      {"an unknown lookup order is sent back", JSONValue::object({{"geocoder", "yandex"}}),
       JSONValue::object({{"geocoder", "yandex"}})},
      {"before any load: only what was typed", JSONValue::object({{"mapKey", "m1"}}),
       JSONValue::object({{"mapKey", "m1"}})},
      {"before any load, nothing typed: an empty object", kNull, JSONValue::object({})},
  };
  for (const Case& c : cases) EXPECT_EQ(settingsBody(c.value), c.body) << c.what;

  EXPECT_EQ(routingTestBody(loaded()), JSONValue::object({}));
  EXPECT_EQ(routingTestBody(kNull), JSONValue::object({}));
  EXPECT_EQ(routingTestBody(loaded(JSONValue::object({{"routingKey", ""}}))), JSONValue::object({}));
  EXPECT_EQ(routingTestBody(loaded(JSONValue::object({{"routingKey", "  key with spaces "}}))),
            JSONValue::object({{"routingKey", "  key with spaces "}}));
  EXPECT_EQ(clearingBody().json(),
            R"({"dadataToken":null,"isDemo":false,"mapKey":null,"routingKey":null,"styleId":null})");
}

TEST(IntegrationsPayload, TheEditedSettingsCopyThreeMembersAndTheKeysAreShownOnlyMasked) {
  const JSONValue document =
      JSONValue::object({{"geocoder", "dadata"},
                         {"isDemo", false},
                         {"routingKey", JSONValue::object({{"configured", true}, {"masked", "ab…yz"}})},
                         {"extra", 1}});
  EXPECT_EQ(editedSettings(document),
            JSONValue::object({{"geocoder", "dadata"}, {"styleId", kNull}, {"isDemo", false}}));
  EXPECT_EQ(geocoderChoice(editedSettings(document)), 2u);
  EXPECT_EQ(geocoderChoice(JSONValue::object({{"geocoder", "auto"}})), 0u);
  EXPECT_EQ(geocoderChoice(JSONValue::object({{"geocoder", "yandex"}})), std::nullopt);
  EXPECT_EQ(geocoderChoice(kNull), std::nullopt);

  // "configured" read leniently; anything but a true reading is "not set".
  struct Variant {
    JSONValue configured;
    bool set;
  };
  const Variant variants[] = {{true, true}, {1, true},    {"1", true},   {"2,5", true}, {false, false},
                              {0, false},   {"0", false}, {"да", false}, {kNull, false}};
  for (const Variant& v : variants) {
    for (IntegrationKey key : {IntegrationKey::dadata, IntegrationKey::routing, IntegrationKey::map}) {
      JSONValue doc;
      doc.set(keyMember(key), JSONValue::object({{"configured", v.configured}, {"masked", "12…89"}}));
      const std::string line = keyStatus(doc, key);
      EXPECT_EQ(line.find("12…89") != std::string::npos, v.set) << line << " for " << v.configured.json();
    }
  }
  EXPECT_EQ(keyStatus(kNull, IntegrationKey::dadata), "Ключ DaData не задан");
  EXPECT_EQ(keyStatus(kNull, IntegrationKey::routing), "Ключ маршрутизации не задан");
  EXPECT_EQ(keyStatus(kNull, IntegrationKey::map), "Ключ карты не задан");
  JSONValue configured;
  for (IntegrationKey key : {IntegrationKey::dadata, IntegrationKey::routing, IntegrationKey::map})
    configured.set(keyMember(key), JSONValue::object({{"configured", true}}));
  EXPECT_EQ(keyStatus(configured, IntegrationKey::dadata), "Ключ DaData настроен: ");
  EXPECT_EQ(keyStatus(configured, IntegrationKey::routing), "Маршрутизация: ");
  EXPECT_EQ(keyStatus(configured, IntegrationKey::map), "Карта: ");
  EXPECT_EQ(catalogText(1234), "Локальный каталог: 1234 адресов. Сохранённые исправления используются первыми.");
}

class Integrations : public GatewayTest {
 protected:
  std::shared_ptr<IntegrationsController> screen() {
    IntegrationsGateway gateway;
    gateway.admin = fake.gateway();
    gateway.setStatus = [this](std::string text) { statuses.push_back(std::move(text)); };
    gateway.loadMapConfiguration = [this](bool force) -> async::Task<void> {
      mapLoads.push_back(force);
      co_return;
    };
    auto made = IntegrationsController::create(std::move(gateway));
    made->follow();
    return made;
  }
  // Answers the screen's load with the document and waits until the screen shows it.
  void answerLoad(const std::shared_ptr<IntegrationsController>& integrations, const JSONValue& document) {
    ASSERT_TRUE(spinUntil([&] { return fake.last() && !fake.last()->done; }));
    ASSERT_EQ(fake.last()->method + " " + fake.last()->path, "GET /integrations/settings");
    FakeGateway::finish(fake.last(), document);
    ASSERT_TRUE(spinUntil([&] { return integrations->data() == document; }));
  }

  std::vector<std::string> statuses;
  std::vector<bool> mapLoads;
  const JSONValue document =
      JSONValue::object({{"geocoder", "yandex"},
                         {"styleId", "s1"},
                         {"mapKey", JSONValue::object({{"configured", 1}, {"masked", "m…1"}})},
                         {"routingKey", JSONValue::object({{"configured", "0"}, {"masked", "r…1"}})}});
};

TEST_F(Integrations, ASaveIsBusyFromThePressReloadsTheMapAndTheDocumentAndDropsTypedKeys) {
  auto integrations = screen();
  answerLoad(integrations, document);
  EXPECT_EQ(integrations->status(IntegrationKey::map), "Карта: m…1");
  EXPECT_EQ(integrations->status(IntegrationKey::routing), "Ключ маршрутизации не задан");
  EXPECT_EQ(integrations->geocoder(), std::nullopt);
  EXPECT_FALSE(integrations->demoKey());

  integrations->value()->set("routingKey", "секрет ");
  integrations->value()->set("mapKey", "");
  integrations->save();
  EXPECT_TRUE(integrations->busy());
  EXPECT_FALSE(integrations->canWrite());
  integrations->save();  // a second press while busy sends nothing
  ASSERT_TRUE(spinUntil([&] { return fake.of("PATCH").size() == 1; }));
  spinFor(5ms);
  ASSERT_EQ(fake.of("PATCH").size(), 1u);
  EXPECT_EQ(
      *fake.of("PATCH")[0]->body,
      JSONValue::object({{"geocoder", "yandex"}, {"styleId", "s1"}, {"isDemo", kNull}, {"routingKey", "секрет "}}));
  // The key test runs alongside, leaving busy alone.
  integrations->testRoutingKey();
  ASSERT_TRUE(spinUntil([&] { return fake.of("POST").size() == 1; }));
  EXPECT_EQ(*fake.last()->body, JSONValue::object({{"routingKey", "секрет "}}));
  FakeGateway::finish(fake.last(), JSONValue::object({{"ok", true}}));
  ASSERT_TRUE(spinUntil([&] { return statuses.size() == 1; }));
  EXPECT_EQ(statuses[0], "Ключ маршрутизации 2ГИС работает.");
  EXPECT_TRUE(integrations->busy());

  FakeGateway::finish(fake.of("PATCH")[0], JSONValue::object({}));
  JSONValue saved = document;
  saved.set("routingKey", JSONValue::object({{"configured", true}, {"masked", "се…т"}}));
  answerLoad(integrations, saved);
  ASSERT_TRUE(spinUntil([&] { return !integrations->busy(); }));
  EXPECT_EQ(statuses.back(), "Настройки сохранены.");
  EXPECT_EQ(mapLoads, std::vector<bool>{true});
  EXPECT_EQ(integrations->status(IntegrationKey::routing), "Маршрутизация: се…т");
  EXPECT_EQ(*integrations->value(), editedSettings(saved)) << "the typed key is gone from the form";
  EXPECT_EQ(fake.log(), (std::vector<std::string>{"GET /integrations/settings", "PATCH /integrations/settings",
                                                  "POST /integrations/2gis/test", "GET /integrations/settings"}));
}

TEST_F(Integrations, FailuresKeepWhatWasTypedAndANewWorkspaceStartsAfresh) {
  auto integrations = screen();
  answerLoad(integrations, document);
  integrations->chooseGeocoder(1);
  integrations->setDemoKey(true);
  integrations->value()->set("dadataToken", "d-key");
  const JSONValue typed = *integrations->value();

  integrations->save();
  ASSERT_TRUE(spinUntil([&] { return fake.of("PATCH").size() == 1; }));
  FakeGateway::fail(fake.last(), "Ключ DaData не подходит.");
  ASSERT_TRUE(spinUntil([&] { return !integrations->busy(); }));
  EXPECT_EQ(integrations->issue(), "Ключ DaData не подходит.");
  EXPECT_EQ(typed,
            JSONValue::object({{"geocoder", "osm"}, {"styleId", "s1"}, {"isDemo", true}, {"dadataToken", "d-key"}}));
  EXPECT_EQ(*integrations->value(), typed);

  integrations->clearKeys();
  ASSERT_TRUE(spinUntil([&] { return fake.of("PATCH").size() == 2; }));
  EXPECT_EQ(*fake.last()->body, clearingBody());
  FakeGateway::fail(fake.last(), "Сервер недоступен.", 503);
  ASSERT_TRUE(spinUntil([&] { return !integrations->busy(); }));
  EXPECT_EQ(integrations->issue(), "Сервер недоступен.");
  EXPECT_EQ(*integrations->value(), typed);
  EXPECT_TRUE(statuses.empty());
  EXPECT_TRUE(mapLoads.empty());

  integrations->follow();
  EXPECT_EQ(fake.of("GET").size(), 1u) << "the same workspace loads once";
  // Another workspace (perhaps another depot): the previous settings are dropped at once, and an answer meant for
  // a workspace that is no longer current never applies.
  fake.generation = "g2";
  integrations->follow();
  EXPECT_TRUE(integrations->data().isNull());
  EXPECT_TRUE(integrations->value()->isNull());
  EXPECT_EQ(integrations->issue(), std::nullopt);
  ASSERT_TRUE(spinUntil([&] { return fake.of("GET").size() == 2; }));
  fake.generation = "g3";
  FakeGateway::finish(fake.last(), document);
  spinFor(30ms);
  EXPECT_TRUE(integrations->data().isNull());
}

}  // namespace
