// The integrations screen without a display: the bodies sent, the keys' status read leniently, busy from the press
// to the reload with the key test alongside, a failed clearing keeping what was typed, a new workspace afresh.
#include <gtest/gtest.h>

#include "admin/logic/fake_gateway.h"
#include "admin/logic/integrations.h"
#include "core/api/failure.h"

using namespace dorvik;
using namespace dorvik::admin;
using namespace dorvik::admin::testing;

namespace {

const JSONValue kNull;

TEST(IntegrationsPayload, BodiesKeepTypedSpacesAndNullsAndLeaveOutEmptyKeys) {
  JSONValue typed = JSONValue::object({{"geocoder", kNull}, {"styleId", ""}, {"routingKey", " r1 "}, {"mapKey", ""}});
  EXPECT_EQ(settingsBody(typed), JSONValue::object({{"geocoder", kNull}, {"styleId", ""}, {"routingKey", " r1 "}}));
  EXPECT_EQ(settingsBody(kNull), JSONValue::object({})) << "before any load";
  EXPECT_EQ(routingTestBody(typed), JSONValue::object({{"routingKey", " r1 "}}));
}

TEST(IntegrationsPayload, AKeyCountsAsSetOnlyWhenConfiguredReadsTrue) {
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
}

class Integrations : public GatewayTest {
 protected:
  std::shared_ptr<IntegrationsController> screen() {
    IntegrationsGateway gateway;
    gateway.admin = fake.gateway();
    gateway.setStatus = [this](std::string text) {
      statuses.push_back(text);
      strip = std::move(text);
    };
    gateway.withdrawStatus = [this](std::string text) {
      if (strip == text) strip.clear();
    };
    gateway.loadMapConfiguration = [this](bool force) -> async::Task<void> {
      mapLoads.push_back(force);
      co_return;
    };
    auto made = IntegrationsController::create(std::move(gateway));
    made->follow();
    return made;
  }
  // Answers the screen's load with the document and waits until the screen shows it.
  void answerLoad(const std::shared_ptr<IntegrationsController>& integrations, const JSONValue& answer) {
    ASSERT_TRUE(spinUntil([&] { return fake.last() && !fake.last()->done; }));
    ASSERT_EQ(fake.last()->method + " " + fake.last()->path, "GET /integrations/settings");
    FakeGateway::finish(fake.last(), answer);
    ASSERT_TRUE(spinUntil([&] { return integrations->data() == answer; }));
  }

  std::vector<std::string> statuses;  // every confirmation given
  std::string strip;                   // the status strip, as the model keeps it
  std::vector<bool> mapLoads;
  const JSONValue document = JSONValue::object({{"geocoder", "osm"}, {"styleId", "s1"}});
};

TEST_F(Integrations, ASaveIsBusyFromThePressToTheReloadAndTheKeyTestRunsAlongside) {
  auto integrations = screen();
  answerLoad(integrations, document);
  integrations->value()->set("routingKey", "секрет");
  integrations->save();
  EXPECT_TRUE(integrations->busy());
  EXPECT_FALSE(integrations->canWrite());
  integrations->save();  // a second press while busy sends nothing
  integrations->testRoutingKey();
  ASSERT_TRUE(spinUntil([&] { return fake.of("POST").size() == 1; }));
  FakeGateway::finish(fake.last(), JSONValue::object({{"ok", true}}));
  ASSERT_TRUE(spinUntil([&] { return statuses.size() == 1; }));
  EXPECT_TRUE(integrations->busy()) << "the key test leaves busy alone";

  ASSERT_EQ(fake.of("PATCH").size(), 1u);
  FakeGateway::finish(fake.of("PATCH")[0], JSONValue::object({}));
  answerLoad(integrations, document);
  ASSERT_TRUE(spinUntil([&] { return !integrations->busy(); }));
  EXPECT_EQ(mapLoads, std::vector<bool>{true});
  EXPECT_EQ(fake.log(), (std::vector<std::string>{"GET /integrations/settings", "PATCH /integrations/settings",
                                                  "POST /integrations/2gis/test", "GET /integrations/settings"}));
}

TEST_F(Integrations, AFailedClearingKeepsWhatWasTypedAndANewWorkspaceStartsAfresh) {
  auto integrations = screen();
  answerLoad(integrations, document);
  integrations->value()->set("dadataToken", "d-key");
  const JSONValue typed = *integrations->value();
  integrations->clearKeys();
  ASSERT_TRUE(spinUntil([&] { return fake.of("PATCH").size() == 1; }));
  FakeGateway::fail(fake.last(), "Сервер недоступен.", 503);
  ASSERT_TRUE(spinUntil([&] { return !integrations->busy(); }));
  EXPECT_EQ(integrations->issue(), std::string("Сервер недоступен. ") + kMaybeSaved) << "a 503 may have stored it";
  EXPECT_EQ(*integrations->value(), typed);
  EXPECT_TRUE(statuses.empty());
  EXPECT_TRUE(mapLoads.empty());

  integrations->follow();
  EXPECT_EQ(fake.of("GET").size(), 1u) << "the same workspace loads once";
  // Another workspace: the previous settings go at once, and an answer for a workspace no longer current never
  // applies.
  fake.generation = "g2";
  integrations->follow();
  EXPECT_TRUE(integrations->value()->isNull());
  EXPECT_EQ(integrations->issue(), std::nullopt);
  ASSERT_TRUE(spinUntil([&] { return fake.of("GET").size() == 2; }));
  fake.generation = "g3";
  FakeGateway::finish(fake.last(), document);
  spinFor(30ms);
  EXPECT_TRUE(integrations->data().isNull());
}

// The server takes the settings only from an administrator: a logist is offered neither write (the key test stays),
// and nothing he presses is sent; the same screen writes once an administrator is signed in.
TEST_F(Integrations, OnlyAnAdministratorIsOfferedTheWrites) {
  fake.role = "logist";
  auto integrations = screen();
  answerLoad(integrations, document);
  EXPECT_FALSE(integrations->canWrite());
  EXPECT_TRUE(integrations->canTest());
  integrations->save();
  integrations->clearKeys();
  EXPECT_TRUE(fake.of("PATCH").empty());

  fake.role = "superadmin";
  EXPECT_TRUE(integrations->canWrite());
  integrations->save();
  EXPECT_EQ(fake.of("PATCH").size(), 1u);
}

// A confirmation leaves the status strip when what it confirmed no longer holds (the routing key cleared, replaced
// or failing its test, a later save failing), when another workspace opens, and when the screen goes.
TEST_F(Integrations, ConfirmationsAreWithdrawnWhenNoLongerTrueOrWhenTheScreenGoes) {
  auto integrations = screen();
  answerLoad(integrations, document);
  const std::string works = "Ключ маршрутизации 2ГИС работает.";
  const auto test = [&](bool passes) {
    integrations->testRoutingKey();
    ASSERT_TRUE(spinUntil([&] { return fake.last()->method == "POST" && !fake.last()->done; }));
    if (passes) {
      FakeGateway::finish(fake.last(), JSONValue::object({}));
      ASSERT_TRUE(spinUntil([&] { return strip == works; }));
    } else {
      FakeGateway::fail(fake.last(), "Ключ не подходит.", 400);
      ASSERT_TRUE(spinUntil([&] { return integrations->issue() == "Ключ не подходит."; }));
    }
  };
  test(true);
  EXPECT_EQ(strip, works);
  integrations->clearKeys();
  ASSERT_TRUE(spinUntil([&] { return fake.of("PATCH").size() == 1; }));
  FakeGateway::finish(fake.last(), JSONValue::object({}));
  answerLoad(integrations, document);
  EXPECT_EQ(strip, "") << "every key was cleared";

  test(true);
  test(false);
  EXPECT_EQ(strip, "") << "the same key now fails";
  test(true);
  integrations->value()->set("routingKey", "новый");
  integrations->save();
  ASSERT_TRUE(spinUntil([&] { return fake.of("PATCH").size() == 2; }));
  FakeGateway::finish(fake.last(), JSONValue::object({}));
  answerLoad(integrations, document);
  EXPECT_EQ(strip, "Настройки сохранены.") << "the new key is not tested yet";
  ASSERT_TRUE(spinUntil([&] { return !integrations->busy(); }));
  integrations->save();
  ASSERT_TRUE(spinUntil([&] { return fake.of("PATCH").size() == 3; }));
  FakeGateway::fail(fake.last(), "Внутренняя ошибка сервера.", 500);
  ASSERT_TRUE(spinUntil([&] { return !integrations->busy(); }));
  EXPECT_EQ(strip, "") << "a failed save takes back the earlier one's word";

  fake.generation = "g2";
  integrations->follow();
  EXPECT_EQ(strip, "");
  test(true);
  integrations->close();
  EXPECT_EQ(strip, "") << "leaving the page takes its word back";
  strip = "Параметры сохранены. Пересчитайте маршруты.";
  integrations->close();
  EXPECT_EQ(strip, "Параметры сохранены. Пересчитайте маршруты.") << "another page's word stays";
}

}  // namespace
