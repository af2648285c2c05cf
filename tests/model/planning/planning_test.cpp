// Changes of the planning document through the real planner components: installation, archiving, the status
// line, overlapping changes, stale workspaces, failures, order edits and a new plan.
#include <gtest/gtest.h>

#include <string>

#include "core/base/dorvik_date.h"
#include "model/app_model.h"
#include "planning_fixture.h"
#include "support/async_helpers.h"

using namespace dorvik;
using namespace dorvik::testing;

namespace {
JSONValue datePayload(const char* day) { return JSONValue::object({{"date", day}}); }
}  // namespace

TEST_F(PlanningWorkspace, EveryChangeReplacesTheDocumentAndArchivesIt) {
  model->setPendingPublication(PendingPublication{JSONValue::object({}), "replace", "key-1"});
  model->setStatus("Перед изменением");
  loadSample();
  EXPECT_EQ(model->orders().size(), 5u);
  EXPECT_EQ(model->planner()["routeDate"].string(), "2026-09-22");
  EXPECT_FALSE(model->pendingPublication().has_value());
  const auto archived = cached("planner");
  ASSERT_TRUE(archived);
  EXPECT_EQ((*archived)["orders"].size(), 5u);

  // A result without a status text leaves the status line as it was.
  EXPECT_TRUE(change("date", datePayload("2026-09-23")));
  EXPECT_EQ(model->planner()["routeDate"].string(), "2026-09-23");
  EXPECT_EQ(model->status(), "Перед изменением");
  EXPECT_EQ((*cached("planner"))["routeDate"].string(), "2026-09-23");
  EXPECT_EQ(model->mutation(), 2);

  // A result with one copies it.
  EXPECT_TRUE(change("calculate", JSONValue::object({})));
  EXPECT_FALSE(model->planner()["status"].string().empty());
  EXPECT_EQ(model->status(), model->planner()["status"].string());
  EXPECT_FALSE(model->routes().empty());
  EXPECT_EQ((*cached("planner"))["routes"].size(), model->routes().size());
}

// A warning the component wrote for one change is withdrawn once a later change no longer has it: the orders
// moved onto a too small vehicle and taken off it again leave the status line ready.
TEST_F(PlanningWorkspace, AChangesWarningIsWithdrawnByALaterChangeThatHasNone) {
  JSONValue day = sampleDay();
  day.mutableObject()["vehicles"].mutableArray()[0].set("capacity", 3);
  ASSERT_TRUE(change("load", day));
  ASSERT_TRUE(change("calculate", JSONValue::object({})));
  const JSONValue all = JSONValue::array({0, 1, 2, 3, 4});
  ASSERT_TRUE(change("assign", JSONValue::object({{"indices", all}, {"vehicle", 0}})));
  EXPECT_EQ(model->status(), "Превышена вместимость машины «Тарен».");
  ASSERT_TRUE(change("assign", JSONValue::object({{"indices", all}, {"vehicle", -1}})));
  EXPECT_EQ(model->status(), "");

  // A line another workflow wrote meanwhile is not the change's to withdraw.
  ASSERT_TRUE(change("assign", JSONValue::object({{"indices", all}, {"vehicle", 0}})));
  model->setStatus("Файл открыт.");
  ASSERT_TRUE(change("assign", JSONValue::object({{"indices", all}, {"vehicle", -1}})));
  EXPECT_EQ(model->status(), "Файл открыт.");
}

TEST_F(PlanningWorkspace, CalculateAlsoSavesASnapshot) {
  loadSample();
  EXPECT_TRUE(model->history().empty());
  EXPECT_TRUE(change("calculate", JSONValue::object({})));
  ASSERT_EQ(model->history().size(), 1u);
  EXPECT_EQ(model->history()[0]["title"].string(), "Расчёт маршрутов");
  EXPECT_EQ(model->history()[0]["routes"].intValue(), static_cast<std::int64_t>(model->routes().size()));
  EXPECT_FALSE(model->savingHistory());
  // Other changes save none.
  EXPECT_TRUE(change("date", datePayload("2026-09-24")));
  EXPECT_EQ(model->history().size(), 1u);
}

TEST_F(PlanningWorkspace, OfOverlappingChangesOnlyTheLaterIsApplied) {
  loadSample();
  const auto first = start(model->mutate("date", datePayload("2026-10-01")));
  const auto second = start(model->mutate("date", datePayload("2026-10-02")));
  ASSERT_TRUE(spinUntil([&] { return first->done && second->done; }));
  EXPECT_EQ(first->value, std::optional<bool>(false));
  EXPECT_EQ(second->value, std::optional<bool>(true));
  EXPECT_EQ(model->planner()["routeDate"].string(), "2026-10-02");
  EXPECT_EQ((*cached("planner"))["routeDate"].string(), "2026-10-02");
  EXPECT_EQ(model->error(), std::nullopt);
}

TEST_F(PlanningWorkspace, AChangeOfAnOlderWorkspaceIsDroppedSilently) {
  loadSample();
  const JSONValue before = model->planner();
  const auto change = start(model->mutate("date", datePayload("2026-11-11")));
  model->replaceGeneration();
  ASSERT_TRUE(spinUntil([&] { return change->done; }));
  EXPECT_EQ(change->value, std::optional<bool>(false));
  EXPECT_EQ(model->planner(), before);
  EXPECT_EQ(model->error(), std::nullopt);
  EXPECT_EQ((*cached("planner"))["routeDate"].string(), "2026-09-22");

  // A failure of an older workspace is dropped as well.
  const auto failing = start(model->mutate("date", datePayload("не дата")));
  model->replaceGeneration();
  ASSERT_TRUE(spinUntil([&] { return failing->done; }));
  EXPECT_EQ(model->error(), std::nullopt);
}

TEST_F(PlanningWorkspace, AFailedChangeShowsItsTextAndLeavesThePlan) {
  loadSample();
  const JSONValue before = model->planner();
  model->setPendingPublication(PendingPublication{JSONValue::object({}), "append", "key-2"});
  EXPECT_FALSE(change("date", datePayload("2026-02-30")));
  EXPECT_EQ(model->error(), std::optional<std::string>("Неверная дата рейса."));
  EXPECT_EQ(model->planner(), before);
  EXPECT_TRUE(model->pendingPublication().has_value());
}

TEST_F(PlanningWorkspace, WithoutAnEngineNothingChanges) {
  model->setEngine(nullptr);
  EXPECT_FALSE(change("load", sampleDay()));
  EXPECT_EQ(model->mutation(), 0);
  EXPECT_EQ(model->planner(), JSONValue(JSONObject{}));
  EXPECT_EQ(model->error(), std::nullopt);
}

TEST_F(PlanningWorkspace, WithoutACacheAChangeStillInstalls) {
  model->setCache(nullptr);
  loadSample();
  EXPECT_TRUE(change("calculate", JSONValue::object({})));
  ASSERT_EQ(model->history().size(), 1u);
  EXPECT_FALSE(model->history()[0]["archive"].isNull());
  EXPECT_EQ(cached("planner"), std::nullopt);
}

TEST_F(PlanningWorkspace, PatchOrderEditsTheOrderByItsIdentifier) {
  loadSample();
  const std::string id = model->orderIDs().at(2);
  EXPECT_FALSE(async::runBlocking(model->patchOrder("нет-такого", JSONValue::object({{"title", "X"}}))));
  EXPECT_TRUE(model->editRevisions().empty());
  const std::int64_t mutations = model->mutation();

  EXPECT_TRUE(async::runBlocking(model->patchOrder(id, JSONValue::object({{"title", "Ресторан у пруда"}}))));
  EXPECT_EQ(model->mutation(), mutations + 1);
  EXPECT_EQ(model->editRevisions().at(id), 1);
  EXPECT_EQ(model->orders().at(2)["title"].string(), "Ресторан у пруда");
  EXPECT_EQ(model->orders().at(0)["title"].string(), "Кофейня");
}

TEST_F(PlanningWorkspace, ANewPlanKeepsVehiclesDepotAndConfigAfterASnapshot) {
  loadSample();
  model->setSelectedOrders({model->orderIDs().at(0)});
  model->setEditRevisions({{model->orderIDs().at(0), 3}});
  model->setDate(DorvikDate::parse("2026-12-01"));
  const JSONValue vehicles = model->planner()["vehicles"];

  async::runBlocking(model->beginNewPlan());
  EXPECT_TRUE(model->orders().empty());
  EXPECT_EQ(model->planner()["vehicles"], vehicles);
  EXPECT_EQ(model->planner()["depot"]["name"].string(), "Склад");
  EXPECT_EQ(model->planner()["routeDate"].string(), "2026-12-01");
  EXPECT_TRUE(model->selectedOrders().empty());
  EXPECT_TRUE(model->editRevisions().empty());
  EXPECT_FALSE(model->busy());
  ASSERT_EQ(model->history().size(), 1u);
  EXPECT_EQ(model->history()[0]["title"].string(), "Перед новым планированием");
  EXPECT_EQ(model->history()[0]["orders"].intValue(), 5);

  // An empty plan saves no snapshot and still begins anew; a busy model does nothing.
  async::runBlocking(model->beginNewPlan());
  EXPECT_EQ(model->history().size(), 1u);
  model->setBusy(true);
  const std::int64_t mutations = model->mutation();
  async::runBlocking(model->beginNewPlan());
  EXPECT_EQ(model->mutation(), mutations);
  EXPECT_TRUE(model->busy());
}
