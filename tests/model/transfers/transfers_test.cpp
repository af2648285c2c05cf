// Transfers of orders between couriers on a calculated plan, through the real planner components and cache: the
// move after a snapshot, its undo while the plan is unchanged, and the silent refusals of a plan that moved.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "model/app_model.h"
#include "model/planning/planning_fixture.h"
#include "support/async_helpers.h"

using namespace dorvik;
using namespace dorvik::testing;

namespace {

class Transfers : public PlanningWorkspace {
 protected:
  void SetUp() override {
    PlanningWorkspace::SetUp();
    loadSample();
    ASSERT_TRUE(change("calculate", JSONValue::object({})));
    model->setStatus("");
  }

  std::int64_t revision() const { return model->planner()["revision"].intValue(); }
  // The vehicle index whose route holds the order, -1 when it is on none.
  std::int64_t routeOf(const std::string& id) const {
    for (const JSONValue& order : model->planner()["orders"].array()) {
      if (order["_nativeID"].string() == id) return order["_rt"].doubleValue() ? order["_rt"].intValue() : -1;
    }
    ADD_FAILURE() << "no order " << id;
    return -1;
  }
  std::string nativeID(std::size_t index) const { return model->orderIDs().at(index); }
  std::int64_t otherVehicle(const std::string& id) const { return routeOf(id) == 0 ? 1 : 0; }

  std::optional<JSONValue> transfer(std::vector<std::string> ids, std::int64_t vehicle) {
    return transferSeeing(std::move(ids), vehicle, revision());
  }
  std::optional<JSONValue> transferSeeing(std::vector<std::string> ids, std::int64_t vehicle, std::int64_t seen) {
    return async::runBlocking(model->transferPlanningOrders(std::move(ids), vehicle, seen));
  }
  bool undo(const JSONValue& record) { return async::runBlocking(model->undoPlanningTransfer(record)); }
};

}  // namespace

TEST_F(Transfers, AMoveFollowsASnapshotAndItsUndoRestoresTheRoutes) {
  const JSONValue before = model->planner();
  const std::size_t snapshots = model->history().size();
  const std::string moved = nativeID(0);
  const std::string stays = nativeID(1);
  const std::int64_t target = otherVehicle(moved);

  const auto record = transfer({moved}, target);
  ASSERT_TRUE(record);
  EXPECT_EQ(routeOf(moved), target);
  ASSERT_EQ(model->history().size(), snapshots + 1);
  EXPECT_EQ(model->history()[0]["title"].string(), "Перед передачей заказов курьеру");
  EXPECT_EQ(model->history()[0]["routes"].intValue(), static_cast<std::int64_t>(before["routes"].size()));
  EXPECT_EQ(model->status(), "Передано заказов: 1. План сохранён. Для отправки нажмите «Отправить курьерам».");
  EXPECT_EQ(model->selectedOrders(), std::set<std::string>{moved});
  EXPECT_FALSE(model->busy());
  EXPECT_EQ(model->error(), std::nullopt);

  // The record: the routes before the move, the revision the move produced, the workspace in upper case.
  EXPECT_EQ(record->object().size(), 4u);
  EXPECT_EQ((*record)["routes"], before["routes"]);
  EXPECT_EQ((*record)["unassigned"], before["unassigned"]);
  EXPECT_EQ((*record)["expectedRevision"], model->planner()["revision"]);
  EXPECT_NE((*record)["expectedRevision"], before["revision"]);
  std::string generation = model->generation();
  for (char& c : generation) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ((*record)["generation"].string(), generation);
  // The cache holds the plan after the move.
  EXPECT_EQ((*cached("planner"))["revision"], model->planner()["revision"]);

  EXPECT_TRUE(undo(*record));
  EXPECT_EQ(model->planner()["routes"], before["routes"]);
  EXPECT_EQ(model->planner()["unassigned"], before["unassigned"]);
  EXPECT_EQ(routeOf(moved), before["orders"].at(0)["_rt"].intValue());
  EXPECT_EQ(routeOf(stays), before["orders"].at(1)["_rt"].intValue());
  EXPECT_EQ(model->status(), "Передача отменена. Прежний порядок маршрутов восстановлен.");
  EXPECT_FALSE(model->busy());
  // An undo saves no snapshot; the same record does not apply twice.
  EXPECT_EQ(model->history().size(), snapshots + 1);
  EXPECT_FALSE(undo(*record));
}

TEST_F(Transfers, AnUndoIsRefusedOnceThePlanOrTheWorkspaceChanged) {
  const std::string first = nativeID(0);
  const auto firstRecord = transfer({first}, otherVehicle(first));
  ASSERT_TRUE(firstRecord);
  const JSONValue afterFirst = model->planner();
  const std::string second = nativeID(2);
  const auto secondRecord = transfer({second}, otherVehicle(second));
  ASSERT_TRUE(secondRecord);
  const JSONValue afterSecond = model->planner();

  model->setStatus("");
  const std::int64_t changes = model->mutation();
  EXPECT_FALSE(undo(*firstRecord));
  EXPECT_EQ(model->planner(), afterSecond);
  EXPECT_EQ(model->mutation(), changes);
  EXPECT_EQ(model->status(), "");
  EXPECT_EQ(model->error(), std::nullopt);

  EXPECT_TRUE(undo(*secondRecord));
  EXPECT_EQ(model->planner()["routes"], afterFirst["routes"]);

  // Any other change of the plan moves its revision too.
  const std::string third = nativeID(3);
  const auto thirdRecord = transfer({third}, otherVehicle(third));
  ASSERT_TRUE(thirdRecord);
  ASSERT_TRUE(change("date", JSONValue::object({{"date", "2026-09-25"}})));
  EXPECT_FALSE(undo(*thirdRecord));

  // A record kept across a change of workspace is refused even when the revision still matches.
  const std::string fourth = nativeID(4);
  const std::int64_t target = otherVehicle(fourth);
  const auto fourthRecord = transfer({fourth}, target);
  ASSERT_TRUE(fourthRecord);
  model->replaceGeneration();
  ASSERT_EQ(model->planner()["revision"], (*fourthRecord)["expectedRevision"]);
  EXPECT_FALSE(undo(*fourthRecord));
  EXPECT_EQ(routeOf(fourth), target);
}

TEST_F(Transfers, RefusalsAreSilentAndSaveNoSnapshot) {
  const JSONValue plan = model->planner();
  const std::size_t snapshots = model->history().size();
  const std::int64_t changes = model->mutation();
  const std::string a = nativeID(0), b = nativeID(1);
  const std::int64_t target = otherVehicle(a);
  const std::int64_t vehicles = static_cast<std::int64_t>(plan["vehicles"].size());

  EXPECT_FALSE(transfer({}, target));
  EXPECT_FALSE(transfer({a, a}, target));
  EXPECT_FALSE(transfer({a, "нет такого"}, target));
  EXPECT_FALSE(transfer({a}, vehicles));
  EXPECT_FALSE(transfer({a}, -1));
  EXPECT_FALSE(transferSeeing({a}, target, revision() - 1));
  model->setBusy(true);
  EXPECT_FALSE(transfer({a}, target));
  model->setBusy(false);
  model->setSavingHistory(true);
  EXPECT_FALSE(transfer({a}, target));
  model->setSavingHistory(false);

  EXPECT_EQ(model->planner(), plan);
  EXPECT_EQ(model->history().size(), snapshots);
  EXPECT_EQ(model->mutation(), changes);
  EXPECT_EQ(model->status(), "");
  EXPECT_EQ(model->error(), std::nullopt);

  // Every order already on the vehicle: only the status line says so.
  const std::int64_t home = routeOf(a);
  ASSERT_GE(home, 0) << "the sample day puts every order on a route";
  EXPECT_FALSE(transfer({a}, home));
  EXPECT_EQ(model->status(), "Эти заказы уже назначены выбранному курьеру.");
  EXPECT_EQ(model->history().size(), snapshots);
  EXPECT_EQ(model->mutation(), changes);
  EXPECT_FALSE(model->busy());

  // One order elsewhere is enough to go on, and the status counts every id passed.
  const std::string elsewhere = b;
  if (routeOf(b) == home) {
    ASSERT_TRUE(transfer({b}, home == 0 ? 1 : 0));
  }
  ASSERT_NE(routeOf(b), home);
  const auto record = transfer({a, elsewhere}, home);
  ASSERT_TRUE(record);
  EXPECT_EQ(routeOf(elsewhere), home);
  EXPECT_EQ(model->status(), "Передано заказов: 2. План сохранён. Для отправки нажмите «Отправить курьерам».");
  EXPECT_EQ(model->selectedOrders(), (std::set<std::string>{a, elsewhere}));

  // A plan that is not calculated has no routes to move orders onto.
  loadSample();
  ASSERT_FALSE(model->planner()["planned"].boolValue());
  const std::size_t before = model->history().size();
  EXPECT_FALSE(transfer({a}, 0));
  EXPECT_EQ(model->history().size(), before);
}

TEST_F(Transfers, APlanThatMovesDuringTheSnapshotIsNotTransferred) {
  const std::string id = nativeID(0);
  const std::int64_t seen = revision();
  const std::int64_t changes = model->mutation();
  const std::size_t snapshots = model->history().size();
  const auto moving = start(model->transferPlanningOrders({id}, otherVehicle(id), seen));
  ASSERT_TRUE(spinUntil([&] { return model->savingHistory() || moving->done; }));
  ASSERT_FALSE(moving->done);
  // Another screen installs a plan of another revision while the snapshot is being written.
  JSONValue moved = model->planner();
  moved.set("revision", static_cast<double>(seen + 100));
  model->setPlanner(moved);
  ASSERT_TRUE(spinUntil([&] { return moving->done; }));
  EXPECT_TRUE(moving->value && !*moving->value);
  EXPECT_EQ(model->history().size(), snapshots + 1);
  EXPECT_EQ(model->mutation(), changes);
  EXPECT_FALSE(model->busy());
  EXPECT_EQ(model->error(), std::nullopt);
}

TEST_F(Transfers, TheRecordCarriesTheRevisionOfItsOwnMove) {
  // A change that lands while the move is still being archived: the record keeps the move's revision, so its
  // undo is refused rather than wiping that change out.
  const std::string id = nativeID(0);
  const std::int64_t seen = revision();
  const auto moving = start(model->transferPlanningOrders({id}, otherVehicle(id), seen));
  std::optional<JSONValue> installedRevision;
  std::shared_ptr<Outcome<bool>> later;
  ASSERT_TRUE(spinUntil([&] {
    if (!later && model->planner()["revision"].intValue() != seen) {
      installedRevision = model->planner()["revision"];
      later = start(model->mutate("date", JSONValue::object({{"date", "2026-09-30"}})));
    }
    return moving->done && later && later->done;
  }));
  ASSERT_TRUE(installedRevision);
  ASSERT_EQ(later->value, std::optional<bool>(true));
  ASSERT_TRUE(moving->value && *moving->value);
  const JSONValue record = **moving->value;
  EXPECT_EQ(record["expectedRevision"], *installedRevision);
  EXPECT_NE(model->planner()["revision"], *installedRevision);
  const JSONValue plan = model->planner();
  EXPECT_FALSE(undo(record));
  EXPECT_EQ(model->planner(), plan);
}
