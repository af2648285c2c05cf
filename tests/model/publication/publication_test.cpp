// Publication of a calculated plan to the stand-in server's plan import, through the real planner components,
// cache and Secret Service: the pending body and idempotency key across failures and retries, and the plan
// change that forgets them.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <set>
#include <string>

#include "core/api/transport_error.h"
#include "core/base/errors.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"
#include "model/planning/planning_fixture.h"
#include "support/async_helpers.h"
#include "support/stand_in_server.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::testing;

namespace {

class Publication : public PlanningWorkspace {
 protected:
  void SetUp() override {
    PlanningWorkspace::SetUp();
    model->setApi(signedInClient(server));
    model->setUser(JSONValue::object({{"role", "logist"}}));
    loadSample();
    ASSERT_TRUE(change("calculate", JSONValue::object({})));
  }

  void publish(const std::string& mode) { async::runBlocking(model->publishPlan(mode)); }
  // The message of the DorvikError the publication fails with.
  std::string refusal(const std::string& mode) {
    try {
      publish(mode);
    } catch (const DorvikError& e) {
      return e.message();
    } catch (const std::exception& e) {
      return std::string("другая ошибка: ") + e.what();
    }
    return "<без ошибки>";
  }

  StandInServer server;
  PlanImportDesk desk{server};
};

bool wellFormedKey(const std::string& key) {
  if (key.size() != 40 || key.rfind("mac-", 0) != 0) return false;
  for (std::size_t i = 4; i < key.size(); ++i) {
    const char c = key[i];
    const bool dash = i == 12 || i == 17 || i == 22 || i == 27;
    if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

}  // namespace

TEST_F(Publication, ARetryAfterFailuresSendsTheSameBodyUnderTheSameKey) {
  desk.dropNext();
  desk.refuseNext(503, "Сервер перегружен.");
  model->setStatus("");

  EXPECT_THROW(publish("replace"), TransportError);
  ASSERT_TRUE(model->pendingPublication());
  const PendingPublication pending = *model->pendingPublication();
  EXPECT_EQ(pending.mode, "replace");
  EXPECT_TRUE(wellFormedKey(pending.key)) << pending.key;
  EXPECT_FALSE(model->offline());
  EXPECT_EQ(model->status(), "");

  // The engine's plan moves on without a change installed in the model: a retry must not build a new body.
  const auto engine = model->engine();
  async::runBlocking(engine->run("date", JSONValue::object({{"date", "2026-09-29"}})));

  EXPECT_EQ(refusal("replace"), "Сервер перегружен.");
  ASSERT_TRUE(model->pendingPublication());
  EXPECT_EQ(model->pendingPublication()->key, pending.key);
  publish("replace");

  const auto posts = desk.posts();
  ASSERT_EQ(posts.size(), 3u);
  for (const auto& post : posts) {
    EXPECT_EQ(post.mode, "replace");
    EXPECT_EQ(post.idempotencyKey, pending.key);
    EXPECT_EQ(post.body, pending.payload);
  }
  EXPECT_EQ(posts[0].body["date"].string(), "2026-09-22");
  EXPECT_FALSE(posts[0].body["routes"].array().empty());
  EXPECT_FALSE(model->pendingPublication());
  EXPECT_EQ(model->status(), "План отправлен курьерам.");

  // After a confirmed publication the next one has a key of its own.
  publish("replace");
  ASSERT_EQ(desk.posts().size(), 4u);
  EXPECT_NE(desk.posts()[3].idempotencyKey, pending.key);
  EXPECT_TRUE(wellFormedKey(desk.posts()[3].idempotencyKey));
}

TEST_F(Publication, AnotherModeOrAPlanChangeBuildsAFreshPublication) {
  desk.dropNext();
  desk.dropNext();
  desk.dropNext();
  EXPECT_THROW(publish("append"), TransportError);
  const std::string appendKey = model->pendingPublication()->key;

  EXPECT_THROW(publish("keepStarted"), TransportError);
  ASSERT_TRUE(model->pendingPublication());
  EXPECT_EQ(model->pendingPublication()->mode, "keepStarted");
  const std::string keepKey = model->pendingPublication()->key;
  EXPECT_NE(keepKey, appendKey);

  // A plan change between a failure and its retry forgets the pending publication.
  ASSERT_TRUE(change("date", JSONValue::object({{"date", "2026-09-23"}})));
  EXPECT_FALSE(model->pendingPublication());
  EXPECT_THROW(publish("keepStarted"), TransportError);
  const std::string freshKey = model->pendingPublication()->key;
  EXPECT_NE(freshKey, keepKey);
  publish("keepStarted");

  const auto posts = desk.posts();
  ASSERT_EQ(posts.size(), 4u);
  EXPECT_EQ(posts[0].mode, "append");
  EXPECT_EQ(posts[1].mode, "keepStarted");
  EXPECT_EQ(posts[1].idempotencyKey, keepKey);
  EXPECT_EQ(posts[2].idempotencyKey, freshKey);
  EXPECT_EQ(posts[3].idempotencyKey, freshKey);
  EXPECT_EQ(posts[1].body["date"].string(), "2026-09-22");
  EXPECT_EQ(posts[3].body["date"].string(), "2026-09-23");
  EXPECT_FALSE(model->pendingPublication());
}

// Order numbers that repeat or are missing are refused before anything is sent, named in the message; nothing is
// left pending, and once the numbers are mended the plan goes out.
TEST_F(Publication, RepeatedOrMissingNumbersAreRefusedBeforeSending) {
  JSONValue day = sampleDay();
  JSONArray orders = day["orders"].array();
  orders[1].set("id", "1001");
  orders[2].set("id", "");
  day.set("orders", JSONValue(std::move(orders)));
  ASSERT_TRUE(change("load", day));
  ASSERT_TRUE(change("calculate", JSONValue::object({})));

  EXPECT_EQ(refusal("replace"),
            "План не отправлен: повторяются номера заказов «1001» (2); заказов без номера: 1. Исправьте номера в "
            "карточках заказов (вкладка «Проверка») и отправьте план снова.");
  EXPECT_FALSE(model->pendingPublication());
  EXPECT_TRUE(desk.posts().empty());

  // The user mends the numbers: the plan goes out with them.
  ASSERT_TRUE(change("order", JSONValue::object({{"index", 1}, {"changes", JSONValue::object({{"id", "1002"}})}})));
  ASSERT_TRUE(change("order", JSONValue::object({{"index", 2}, {"changes", JSONValue::object({{"id", "1003"}})}})));
  publish("replace");

  std::multiset<std::string> numbers;
  const auto posts = desk.posts();
  ASSERT_EQ(posts.size(), 1u);
  for (const JSONValue& route : posts[0].body["routes"].array())
    for (const JSONValue& point : route["points"].array())
      for (const JSONValue& order : point["orders"].array()) numbers.insert(order["orderId"].string());
  EXPECT_EQ(numbers, (std::multiset<std::string>{"1001", "1002", "1003", "1004", "1005"}));
  EXPECT_FALSE(model->pendingPublication());
  EXPECT_EQ(model->status(), "План отправлен курьерам.");
}

TEST_F(Publication, WithoutASessionOrAModeNothingIsSent) {
  EXPECT_EQ(refusal("everything"), "Выберите действие для плана.");
  EXPECT_EQ(refusal("Replace"), "Выберите действие для плана.");
  model->setPreview(true);
  EXPECT_EQ(refusal("replace"), "Войдите в учётную запись.");
  model->setPreview(false);
  model->setUser(JSONValue());
  EXPECT_EQ(refusal("replace"), "Войдите в учётную запись.");
  EXPECT_TRUE(desk.posts().empty());
  EXPECT_FALSE(model->pendingPublication());
}

TEST_F(Publication, APlanWithoutRoutesIsRefusedByTheEngineAndLeavesNothingPending) {
  ASSERT_TRUE(change("load", sampleDay()));
  const std::string text = refusal("append");
  EXPECT_EQ(text, "В плане нет маршрутов для отправки.");
  EXPECT_FALSE(model->pendingPublication());
  EXPECT_TRUE(desk.posts().empty());
}

TEST_F(Publication, AnAnswerForAnOlderWorkspaceIsACancellation) {
  server.on("POST", "/plans/import", Answer::json(JSONValue::object({{"accepted", true}})).held());
  const auto sending = start(model->publishPlan("replace"));
  ASSERT_TRUE(spinUntil([&] { return server.held("/plans/import") == 1; }));
  model->replaceGeneration();
  model->setStatus("Новое рабочее место");
  server.releaseAll();
  ASSERT_TRUE(spinUntil([&] { return sending->done; }));
  EXPECT_TRUE(sending->failedWith<CancelledError>());
  EXPECT_EQ(model->status(), "Новое рабочее место");
}
