// The planner screen's state and commands over the application model, with its workflows played by a recorder:
// what each command sends, in which order, and what it leaves in the model when a step fails.
#include <gtest/gtest.h>

#include "core/base/dorvik_date.h"
#include "core/base/errors.h"
#include "planning/logic/planner_screen.h"
#include "planning/logic/planning_map.h"
#include "planning/logic/planning_routes.h"
#include "support/async_helpers.h"

using namespace dorvik;
using namespace dorvik::planning;
using dorvik::testing::spinFor;
using dorvik::testing::spinUntil;

namespace {

// Plays the model's workflows: records each call and answers as told.
struct Recorder {
  std::vector<std::string> calls;  // "mutate <action> <input>", "snapshot <title>", "geocode <ids>"
  bool changeApplies = true;
  std::optional<std::string> snapshotFailure;
  std::function<void()> duringChange;  // runs inside every change, before it answers
};

async::Task<bool> recordChange(std::shared_ptr<Recorder> r, std::string action, JSONValue input) {
  r->calls.push_back("mutate " + action + " " + input.data());
  co_await async::yield();
  if (r->duringChange) r->duringChange();
  co_return r->changeApplies;
}

async::Task<void> recordSnapshot(std::shared_ptr<Recorder> r, std::string title) {
  r->calls.push_back("snapshot " + title);
  co_await async::yield();
  if (r->snapshotFailure) throw DorvikError(*r->snapshotFailure);
}

async::Task<void> recordGeocode(std::shared_ptr<Recorder> r, std::optional<std::vector<std::string>> ids) {
  std::string list = ids ? "" : "all";
  if (ids)
    for (const std::string& id : *ids) list += id + ";";
  r->calls.push_back("geocode " + list);
  co_return;
}

async::Task<void> recordCall(std::shared_ptr<Recorder> r, std::string call) {
  r->calls.push_back(std::move(call));
  co_return;
}

PlannerWork recordedWork(const std::shared_ptr<Recorder>& r) {
  PlannerWork work;
  work.mutate = [r](std::string action, JSONValue input) {
    return recordChange(r, std::move(action), std::move(input));
  };
  work.saveSnapshot = [r](std::string title) { return recordSnapshot(r, std::move(title)); };
  work.geocode = [r](std::optional<std::vector<std::string>> ids) { return recordGeocode(r, std::move(ids)); };
  work.importWorkbook = [r] { return recordCall(r, "import"); };
  work.exportWorkbook = [r](std::string kind) { return recordCall(r, "export " + kind); };
  work.beginNewPlan = [r] { return recordCall(r, "new plan"); };
  return work;
}

JSONValue order(const char* nativeID, const char* number, const char* address) {
  return JSONValue::object({{"_nativeID", nativeID}, {"id", number}, {"title", "Клиент"}, {"address", address}});
}

class PlannerScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    model->setPlanner(JSONValue::object(
        {{"routeDate", "2026-09-22"},
         {"planned", true},
         {"orders", JSONValue::array({order("n1", "1001", "Тверская, 6"), order("n2", "1002", "Петровка, 12"),
                                      order("n3", "1003", "Арбат, 10")})}}));
    screen = std::make_unique<PlannerScreen>(model, recordedWork(recorder));
  }
  bool waitForCalls(std::size_t n) {
    return spinUntil([&] { return recorder->calls.size() >= n; });
  }

  std::shared_ptr<AppModel> model = AppModel::create();
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  std::unique_ptr<PlannerScreen> screen;
};

std::vector<std::string> rowIDs(const PlannerScreen& screen) {
  std::vector<std::string> ids;
  for (const Record& row : screen.rows()) ids.push_back(orderID(row.value));
  return ids;
}

}  // namespace

TEST_F(PlannerScreenTest, RowsFollowThePlanAndTheSearchWhichTabsKeep) {
  EXPECT_EQ(rowIDs(*screen), (std::vector<std::string>{"n1", "n2", "n3"}));
  int rowChanges = 0;
  auto connection = screen->observe([&](PlannerScreen::Change c) { rowChanges += c == PlannerScreen::Change::rows; });
  screen->setTab("orders");
  screen->setQuery("петровка");
  EXPECT_EQ(rowIDs(*screen), std::vector<std::string>{"n2"});
  screen->setTab("map");
  screen->setTab("orders");
  EXPECT_EQ(screen->query(), "петровка");

  JSONValue plan = model->planner();
  plan.mutableObject()["orders"].push(order("n4", "1004", "Петровка, 20"));
  model->setPlanner(plan);
  EXPECT_EQ(rowIDs(*screen), (std::vector<std::string>{"n2", "n4"})) << "a new plan is searched again";
  EXPECT_EQ(rowChanges, 2);
}

// Tab contents live as long as the screen, yet the map and the routes start afresh each time the user comes back
// to them: the map in view mode (no pin dragged by surprise), the routes with none chosen.
TEST_F(PlannerScreenTest, ComingBackToTheMapOrTheRoutesStartsThemAfresh) {
  std::shared_ptr<PlanningMap> map = PlanningMap::create(model, MapWork{});
  RoutesTab routes(model, {});
  auto mapShown = screen->whenShownAgain("map", [&] { map->shownAgain(); });
  auto routesShown = screen->whenShownAgain("routes", [&] { routes.shownAgain(); });

  map->setMode(PlanningMapMode::coordinates);
  map->setShowZones(true);
  screen->setTab("bogus");  // an unknown tab shows the map: the map never left
  EXPECT_EQ(map->mode(), PlanningMapMode::coordinates);
  screen->setTab("check");
  EXPECT_EQ(map->mode(), PlanningMapMode::coordinates) << "leaving changes nothing";
  screen->setTab("map");
  EXPECT_EQ(map->mode(), PlanningMapMode::view);
  EXPECT_TRUE(map->showZones()) << "the view toggles stay";

  screen->setTab("routes");
  routes.select("1");
  map->setMode(PlanningMapMode::transfer);
  screen->setTab("routes");  // already shown
  EXPECT_EQ(routes.selection(), std::optional<std::string>("1"));
  screen->setTab("windows");
  screen->setTab("routes");
  EXPECT_EQ(routes.selection(), std::nullopt);
  EXPECT_EQ(map->mode(), PlanningMapMode::transfer) << "only the tab shown again starts afresh";
}

TEST_F(PlannerScreenTest, AssignmentSendsThePositionsOfTheSetAndTheVehicle) {
  screen->assign({"n3", "gone", "n1"}, 1);
  ASSERT_TRUE(waitForCalls(1));
  EXPECT_EQ(recorder->calls[0], R"(mutate assign {"indices":[0,2],"vehicle":1})") << "set order: gone, n1, n3";
  screen->assign({}, -1);
  ASSERT_TRUE(waitForCalls(2));
  EXPECT_EQ(recorder->calls[1], R"(mutate assign {"indices":[],"vehicle":-1})");
}

TEST_F(PlannerScreenTest, DeletionSavesASnapshotFirstThenDeletesThePositionsOfTheConfirmationAndClearsTheSelection) {
  model->setSelectedOrders({"n1", "n3"});
  screen->offerDeletion({"n1", "n3"});
  screen->deleteOffered();
  // The plan changes while the snapshot is saved: the positions stay those of the confirmation.
  JSONValue plan = model->planner();
  plan.mutableObject()["orders"].mutableArray().erase(plan.mutableObject()["orders"].mutableArray().begin());
  model->setPlanner(plan);
  ASSERT_TRUE(waitForCalls(2));
  EXPECT_EQ(recorder->calls,
            (std::vector<std::string>{"snapshot Перед удалением заказов", R"(mutate deleteOrders {"indices":[0,2]})"}));
  ASSERT_TRUE(spinUntil([&] { return model->selectedOrders().empty(); }));

  // A refused deletion keeps the selection (the model has reported it).
  recorder->calls.clear();
  recorder->changeApplies = false;
  model->setSelectedOrders({"n2"});
  screen->offerDeletion({"n2"});
  screen->deleteOffered();
  ASSERT_TRUE(waitForCalls(2));
  spinFor(std::chrono::milliseconds(20));
  EXPECT_EQ(model->selectedOrders(), std::set<std::string>{"n2"});
}

TEST_F(PlannerScreenTest, AFailedSnapshotDeletesNothingAndShowsItsMessage) {
  recorder->snapshotFailure = "Дождитесь сохранения текущего снимка.";
  model->setSelectedOrders({"n2"});
  screen->offerDeletion({"n2"});
  screen->deleteOffered();
  ASSERT_TRUE(spinUntil([&] { return model->error().has_value(); }));
  spinFor(std::chrono::milliseconds(20));
  EXPECT_EQ(model->error(), "Дождитесь сохранения текущего снимка.");
  EXPECT_EQ(recorder->calls, std::vector<std::string>{"snapshot Перед удалением заказов"});
  EXPECT_EQ(model->selectedOrders(), std::set<std::string>{"n2"});
}

TEST_F(PlannerScreenTest, CalculationHoldsBusyFromTheClickToItsEndWhateverItsOutcome) {
  for (bool applies : {true, false}) {
    recorder->calls.clear();
    recorder->changeApplies = applies;
    bool busyDuringChange = false;
    recorder->duringChange = [&] { busyDuringChange = model->busy(); };
    screen->calculate();
    EXPECT_TRUE(model->busy()) << "set before the click returns";
    ASSERT_TRUE(spinUntil([&] { return !model->busy(); }));
    EXPECT_TRUE(busyDuringChange);
    EXPECT_EQ(recorder->calls, std::vector<std::string>{"mutate calculate {}"});
  }

  // A workspace change while it runs: the new workspace's busy flag is not the calculation's to clear.
  recorder->duringChange = [&] {
    model->replaceGeneration();
    model->setBusy(true);
  };
  screen->calculate();
  ASSERT_TRUE(waitForCalls(2));
  spinFor(std::chrono::milliseconds(20));
  EXPECT_TRUE(model->busy());
}

TEST_F(PlannerScreenTest, EveryChangeOfTheModelsDateToAnotherDayMovesThePlanOnce) {
  model->setDate(DorvikDate::parse("2026-09-22") + std::chrono::hours(12));
  spinFor(std::chrono::milliseconds(20));
  EXPECT_TRUE(recorder->calls.empty()) << "the plan is already on that day";

  model->setDate(DorvikDate::parse("2026-09-24") + std::chrono::hours(12));
  ASSERT_TRUE(waitForCalls(1));
  spinFor(std::chrono::milliseconds(20));
  EXPECT_EQ(recorder->calls, std::vector<std::string>{R"(mutate date {"date":"2026-09-24"})"});
}

TEST_F(PlannerScreenTest, CommandsStartTheModelsWorkflows) {
  screen->geocode();
  screen->geocode(std::vector<std::string>{"n2"});
  screen->importWorkbook();
  screen->exportWorkbook("routes");
  screen->beginNewPlan();
  ASSERT_TRUE(waitForCalls(5));
  std::sort(recorder->calls.begin(), recorder->calls.end());
  EXPECT_EQ(recorder->calls,
            (std::vector<std::string>{"export routes", "geocode all", "geocode n2;", "import", "new plan"}));
}
