// The demo workspace, opened with the real planner engine and no server.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "core/async/task.h"
#include "core/base/dorvik_date.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"
#include "support/async_helpers.h"
#include "support/faulty_components.h"

namespace dorvik {
namespace {

using testing::spinUntil;

constexpr const char* kDemoStatus = "Пример. Эти заказы не отправляются курьерам.";

TEST(DemoWorkspace, OpensCalculatedWithDepotsAndOneSnapshotAndKeepsTheDate) {
  auto model = AppModel::create();
  const AppModel::TimePoint day = DorvikDate::parse("2026-12-08");
  model->setDate(day);
  async::runBlocking(model->loadPreview());

  EXPECT_TRUE(model->preview());
  EXPECT_TRUE(model->offline());
  EXPECT_FALSE(model->canWriteServer());
  EXPECT_FALSE(model->busy());
  ASSERT_TRUE(model->engine());
  EXPECT_EQ(model->user()["id"].string(), "preview");
  EXPECT_EQ(model->user()["depotId"].string(), "preview-depot");
  EXPECT_TRUE(model->user()["mustChangePassword"].isNull());
  EXPECT_EQ(model->status(), kDemoStatus);
  EXPECT_EQ(model->date(), day);

  // Every one of the five orders is on a route, and no stop is late.
  ASSERT_EQ(model->orders().size(), 5u);
  EXPECT_EQ(model->planner()["routeDate"].string(), "2026-09-22");
  std::set<std::int64_t> routed;
  for (const Record& route : model->routes()) {
    for (const JSONValue& stop : route.value["stops"].array()) {
      routed.insert(stop["index"].intValue());
      EXPECT_EQ(stop["late"].intValue(), 0);
    }
  }
  EXPECT_EQ(routed.size(), 5u);
  EXPECT_TRUE(model->planner()["unassigned"].array().empty());

  ASSERT_FALSE(model->depots().empty());
  EXPECT_EQ(model->depots()[0].value["id"].string(), "preview-depot");
  ASSERT_EQ(model->history().size(), 1u);
  EXPECT_EQ(model->history()[0]["title"].string(), "Пример планирования");
  EXPECT_EQ(model->history()[0]["orders"].intValue(), 5);

  // Signed in now: a second call changes nothing.
  const std::string generation = model->generation();
  async::runBlocking(model->loadPreview());
  EXPECT_EQ(model->generation(), generation);
  EXPECT_EQ(model->history().size(), 1u);
}

TEST(DemoWorkspace, RunsInAContextNoWorkspaceUsedAndIgnoresASecondRequestWhileOpening) {
  auto model = AppModel::create();
  // The engine of a workspace whose sign-out has not made the next user's engine yet.
  auto used = async::runBlocking(PlannerEngine::create());
  async::runBlocking(used->run("identity", JSONValue::object({{"companyId", "c1"}, {"author", "Ирина Логист"}})));
  model->setEngine(used);

  auto first = testing::start(model->loadPreview());
  ASSERT_TRUE(spinUntil([&] { return model->busy(); }));
  const std::string generation = model->generation();
  // A double click: the second request returns at once and leaves the opening one alone.
  async::runBlocking(model->loadPreview());
  EXPECT_EQ(model->generation(), generation);

  ASSERT_TRUE(spinUntil([&] { return first->done; }, std::chrono::seconds(60)));
  first->rethrow();
  EXPECT_NE(model->engine(), used);
  EXPECT_EQ(model->history().size(), 1u);
  EXPECT_EQ(model->status(), kDemoStatus);
  EXPECT_FALSE(model->busy());

  // Leaving the demo makes a fresh engine, which the next demo takes as it is.
  async::runBlocking(model->logout());
  const std::shared_ptr<PlannerEngine> fresh = model->engine();
  ASSERT_TRUE(fresh);
  async::runBlocking(model->loadPreview());
  EXPECT_EQ(model->engine(), fresh);
  EXPECT_EQ(model->orders().size(), 5u);
}

TEST(DemoWorkspace, ADemoDayThePlannerCannotReadOpensNothing) {
  auto model = AppModel::create();
  model->setStatus("Войдите в систему.");
  {
    testing::FaultyComponents faulty = testing::FaultyComponents::unreadable("payload.sourceKind === 'demo'");
    auto error = testing::failureOf<DorvikError>(model->loadPreview());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message(), "План не удалось прочитать целиком. Текущий план не изменён.");
  }
  EXPECT_FALSE(model->preview());
  EXPECT_TRUE(model->user().isNull());
  EXPECT_TRUE(model->orders().empty());
  EXPECT_TRUE(model->history().empty());
  EXPECT_EQ(model->status(), "Войдите в систему.");
  EXPECT_FALSE(model->busy());
}

TEST(DemoWorkspace, NotFromTheRequiredPasswordScreen) {
  auto model = AppModel::create();
  model->setPasswordChangeProfile(JSONValue::object({{"id", "u1"}, {"mustChangePassword", true}}));
  const std::string generation = model->generation();
  async::runBlocking(model->loadPreview());
  EXPECT_EQ(model->generation(), generation);
  EXPECT_FALSE(model->preview());
  EXPECT_TRUE(model->user().isNull());
  EXPECT_FALSE(model->engine());
}

// Another workspace change at each of the demo's waits in turn: the demo stops and leaves nothing of itself.
TEST(DemoWorkspace, AWorkspaceChangeDuringItsWaitsLeavesNoDemoState) {
  auto engine = async::runBlocking(PlannerEngine::create());
  // Which of the demo's observable steps the change follows.
  for (AppModel::Property after :
       {AppModel::Property::busy, AppModel::Property::user, AppModel::Property::planner, AppModel::Property::depots}) {
    SCOPED_TRACE(static_cast<int>(after));
    auto model = AppModel::create();
    model->setEngine(engine);
    model->setStatus("Войдите в систему.");
    bool changed = false;
    auto connection = model->observe([&](AppModel::Property property) {
      if (property == after && !changed && model->busy()) {
        changed = true;
        // Left to the main loop, as a sign-in would: its entry replaces the generation before its first wait.
        async::spawn([](std::shared_ptr<AppModel> m) -> async::Task<void> {
          m->replaceGeneration();
          co_return;
        }(model));
      }
    });
    auto opening = testing::start(model->loadPreview());
    ASSERT_TRUE(spinUntil([&] { return opening->done; }, std::chrono::seconds(60)));
    EXPECT_TRUE(changed);
    EXPECT_TRUE(opening->failedWith<CancelledError>());
    EXPECT_FALSE(model->preview());
    EXPECT_FALSE(model->offline());
    EXPECT_TRUE(model->user().isNull());
    EXPECT_TRUE(model->orders().empty());
    EXPECT_TRUE(model->depots().empty());
    EXPECT_TRUE(model->history().empty());
    EXPECT_EQ(model->status(), "Войдите в систему.");
    EXPECT_FALSE(model->busy());
    EXPECT_FALSE(model->error());
  }
}

}  // namespace
}  // namespace dorvik
