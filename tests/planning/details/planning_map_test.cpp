// The planning map without a display: what the surface is given for a planning document (pins, route lines, their
// colours, zones) over the awkward values a document can hold, and what each map interaction and button does to the
// model, the window's undo stack and the kept transfer record, with the model's workflows played by a stand-in.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "planning/logic/planning_map.h"
#include "support/async_helpers.h"

using namespace dorvik;
using namespace dorvik::planning;
using dorvik::testing::spinFor;
using dorvik::testing::spinUntil;
using namespace std::chrono_literals;

namespace {

JSONValue order(const char* id, JSONValue lat, JSONValue lon, JSONValue route = nullptr) {
  return JSONValue::object(
      {{"_nativeID", id}, {"title", std::string("Клиент ") + id}, {"lat", lat}, {"lon", lon}, {"_rt", route}});
}

std::vector<std::string> ids(const std::vector<MapPin>& pins) {
  std::vector<std::string> out;
  for (const MapPin& pin : pins) out.push_back(pin.id);
  return out;
}

}  // namespace

TEST(PlanningMapContent, OnePointRuleForPinsAndLinesOverBadCoordinates) {
  const JSONValue planner = JSONValue::object({
      {"orders", JSONValue::array({
                     order("ok", 55.75, 37.61),
                     order("comma", "55,70", "37,50"),  // numeric text: a pin, so also a vertex
                     order("missing", nullptr, 37.6),
                     order("text", "рядом", 37.6),
                     order("nan", "nan", 37.6),
                     order("far", 91, 37.6),
                     order("lon", 55.7, 180.5),
                 })},
      {"routes", JSONValue::array({
                     JSONValue::object({{"ci", 0}, {"orders", JSONValue::array({0, -1, 2, 1, 7, 6})}}),
                     JSONValue::object({{"ci", 1}, {"orders", JSONValue::array({3, 4})}}),
                     JSONValue::object({{"ci", 2}}),
                 })},
  });
  const std::vector<MapPin> pins = planningPins(planner, {}, false);
  EXPECT_EQ(ids(pins), (std::vector<std::string>{"ok", "comma"}));
  const auto lines = routeLines(planner);
  ASSERT_EQ(lines.size(), 3u) << "every route is passed, also an empty one";
  EXPECT_EQ(lines[0], (std::vector<MapPoint>{{55.75, 37.61}, {55.70, 37.50}}));
  EXPECT_TRUE(lines[1].empty());
  EXPECT_TRUE(lines[2].empty());
  // Every pin on a route has its vertex.
  for (const MapPin& pin : pins) {
    EXPECT_NE(std::find(lines[0].begin(), lines[0].end(), pin.point), lines[0].end()) << pin.id;
  }
}

TEST(PlanningMapContent, PaletteLabelsNumbersAndTheDepotPin) {
  struct Case {
    JSONValue route;
    std::string color;
    std::optional<std::int64_t> vehicle;
  };
  const std::vector<Case> cases{
      {0, "#B34B16", 0},
      {7, "#24659B", 7},
      {-1, "#24659B", -1},
      {-6, "#B34B16", -6},
      {"2", "#357243", 2},
      {nullptr, "#2d3e46", std::nullopt},
      // Out of every integer range: read without stopping the program.
      {1e300, routeColor(std::numeric_limits<std::int64_t>::max()), std::numeric_limits<std::int64_t>::max()},
      {"nan", "#B34B16", 0},
  };
  for (const Case& c : cases) {
    JSONValue planner = JSONValue::object({{"orders", JSONValue::array({order("a", 55, 37, c.route)})}});
    const std::vector<MapPin> pins = planningPins(planner, {}, false);
    ASSERT_EQ(pins.size(), 1u) << c.route.data();
    EXPECT_EQ(pins[0].color, c.color) << c.route.data();
    EXPECT_EQ(pins[0].vehicle, c.vehicle) << c.route.data();
  }
  EXPECT_EQ(lineColors(JSONValue::object(
                {{"routes", JSONValue::array({JSONValue::object({{"ci", 13}}), JSONValue::object({})})}})),
            (std::vector<std::string>{"#24659B", "#B34B16"}));

  JSONValue planner = JSONValue::object({
      {"orders", JSONValue::array({
                     JSONValue::object({{"_nativeID", "a"},
                                        {"lat", 55},
                                        {"lon", 37},
                                        {"_seq", "3"},
                                        {"_rt", 1},
                                        {"_drv", "Тарен"},
                                        {"title", "Аптека"},
                                        {"address", "Тверская, 6"},
                                        {"source", "manual"}}),
                     JSONValue::object({{"_nativeID", "b"},
                                        {"lat", 55},
                                        {"lon", 37},
                                        {"title", "Аптека"},
                                        {"address", "Тверская, 6"},
                                        {"source", "Manual"},
                                        {"_rt", 0}}),
                     JSONValue::object({{"_nativeID", "c"}, {"lat", 55}, {"lon", 37}}),
                 })},
      {"depot", JSONValue::object({{"name", "Склад"}, {"lat", "55,7"}, {"lon", 37.6}})},
  });
  std::vector<MapPin> pins = planningPins(planner, {"b", "depot"}, false);
  ASSERT_EQ(pins.size(), 4u);
  EXPECT_EQ(pins[0].label, "Тарен · Аптека · Тверская, 6");
  EXPECT_EQ(pins[0].number, "3");
  EXPECT_EQ(pins[1].label, "Аптека · Тверская, 6");
  EXPECT_EQ(pins[1].number, "•");
  EXPECT_EQ(pins[2].label, "");
  EXPECT_TRUE(pins[1].selected);
  EXPECT_FALSE(pins[0].selected);
  EXPECT_TRUE(pins[0].movable);
  const MapPin& depot = pins.back();
  EXPECT_EQ(depot.id, "depot");
  EXPECT_EQ(depot.number, "\u0421");
  EXPECT_EQ(depot.label, "Склад");
  EXPECT_FALSE(depot.movable);
  EXPECT_FALSE(depot.selected) << "the depot is never selected";
  EXPECT_EQ(depot.point, (MapPoint{55.7, 37.6}));
  EXPECT_EQ(depot.vehicle, std::nullopt);

  // Colour by source: the route plays no part, the vehicle stays; the depot keeps its colour.
  pins = planningPins(planner, {}, true);
  EXPECT_EQ(pins[0].color, "#357243");
  EXPECT_EQ(pins[1].color, "#24659B") << "the source is compared exactly";
  EXPECT_EQ(pins[2].color, "#24659B");
  EXPECT_EQ(pins[0].vehicle, 1);
  EXPECT_EQ(pins.back().color, "#2d3e46");

  for (const JSONValue& depotValue :
       {JSONValue(), JSONValue::object({{"name", "Склад"}}), JSONValue::object({{"lat", 95}, {"lon", 37}})}) {
    planner.set("depot", depotValue);
    EXPECT_EQ(planningPins(planner, {}, false).size(), 3u) << depotValue.data();
  }
}

TEST(PlanningMapContent, ZonePolygonsSkipHiddenZonesAndMalformedPoints) {
  const std::vector<JSONValue> zones{
      JSONValue::object({{"points", JSONValue::array({JSONValue::array({55.7, 37.5}), JSONValue::array({"55,8", 37.6}),
                                                      JSONValue::array({55.7, 37.5, 1}),
                                                      JSONValue::object({{"lat", 55}, {"lon", 37}}),
                                                      JSONValue::array({95, 37}), JSONValue::array({55.9})})}}),
      JSONValue::object({{"isHidden", true}, {"points", JSONValue::array({JSONValue::array({55.7, 37.5})})}}),
      JSONValue::object({{"isHidden", 0}, {"points", JSONValue::array({JSONValue::array({"x", 37.5})})}}),
  };
  const auto polygons = zonePolygons(zones);
  ASSERT_EQ(polygons.size(), 2u);
  EXPECT_EQ(polygons[0], (std::vector<MapPoint>{{55.7, 37.5}, {55.8, 37.6}}));
  EXPECT_TRUE(polygons[1].empty()) << "a zone without a valid point still yields its polygon";
}

TEST(PlanningMapModes, LabelsHintsAndFlags) {
  EXPECT_EQ(planningMapMode("Исправить координаты"), PlanningMapMode::coordinates);
  EXPECT_EQ(planningMapMode("исправить координаты"), std::nullopt);
  EXPECT_EQ(planningMapMode("Передать курьеру "), std::nullopt);
  for (PlanningMapMode mode : planningMapModes()) EXPECT_EQ(planningMapMode(modeLabel(mode)), mode);
  EXPECT_NE(mapHint(PlanningMapMode::view, false).find("Ctrl или Shift"), std::string::npos);
  EXPECT_NE(mapHint(PlanningMapMode::transfer, false), mapHint(PlanningMapMode::transfer, true));
  EXPECT_TRUE(mapEditing(PlanningMapMode::coordinates, false));
  EXPECT_FALSE(mapEditing(PlanningMapMode::coordinates, true));
  EXPECT_FALSE(mapEditing(PlanningMapMode::view, false));
  EXPECT_TRUE(mapTransferring(PlanningMapMode::transfer, true, false, false));
  EXPECT_FALSE(mapTransferring(PlanningMapMode::transfer, false, false, false));
  EXPECT_FALSE(mapTransferring(PlanningMapMode::transfer, true, true, false));
  EXPECT_FALSE(mapTransferring(PlanningMapMode::transfer, true, false, true));
  EXPECT_FALSE(mapTransferring(PlanningMapMode::coordinates, true, false, false));
}

// The model's map workflows played on the model's own planning document.
struct MapDesk {
  std::shared_ptr<AppModel> model;
  std::vector<std::string> calls;
  // How a correction ends: applied as asked, moved a little (the model rounded it), or refused.
  enum class Correction { applied, shifted, refused } correction = Correction::applied;
  std::optional<JSONValue> transferAnswer;
  bool undoAnswer = true;
  int pendingCorrections = 0;
};

async::Task<void> playCorrection(std::shared_ptr<MapDesk> desk, std::string id, double lat, double lon) {
  desk->calls.push_back("correct " + id + " " + JSONValue(lat).data() + " " + JSONValue(lon).data());
  ++desk->pendingCorrections;
  co_await async::yield();
  co_await async::yield();
  --desk->pendingCorrections;
  if (desk->correction == MapDesk::Correction::refused) co_return;
  if (desk->correction == MapDesk::Correction::shifted) lat += 1e-7;
  JSONValue planner = desk->model->planner();
  for (JSONValue& o : planner.member("orders").mutableArray()) {
    if (o["_nativeID"].string() != id) continue;
    o.set("lat", lat);
    o.set("lon", lon);
  }
  desk->model->setPlanner(std::move(planner));
}

async::Task<std::optional<JSONValue>> playTransfer(std::shared_ptr<MapDesk> desk, std::vector<std::string> ids,
                                                   std::int64_t vehicle, std::int64_t revision) {
  std::string list;
  for (const std::string& id : ids) list += id + ";";
  desk->calls.push_back("transfer " + list + " " + std::to_string(vehicle) + " " + std::to_string(revision));
  co_await async::yield();
  co_return desk->transferAnswer;
}

async::Task<bool> playUndo(std::shared_ptr<MapDesk> desk, JSONValue record) {
  desk->calls.push_back("undo " + record["expectedRevision"].data());
  co_await async::yield();
  co_return desk->undoAnswer;
}

MapWork playedWork(const std::shared_ptr<MapDesk>& desk) {
  MapWork work;
  work.correctCoordinate = [desk](std::string id, double lat, double lon) {
    return playCorrection(desk, std::move(id), lat, lon);
  };
  work.transferOrders = [desk](std::vector<std::string> ids, std::int64_t vehicle, std::int64_t revision) {
    return playTransfer(desk, std::move(ids), vehicle, revision);
  };
  work.undoTransfer = [desk](JSONValue record) { return playUndo(desk, std::move(record)); };
  return work;
}

class PlanningMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    desk->model = model;
    model->replaceGeneration();
    model->setPlanner(JSONValue::object({
        {"orders", JSONValue::array({order("a", 55.1, 37.1, 0), order("b", 55.2, 37.2, 1), order("c", 55.3, 37.3, 2)})},
        {"vehicles", JSONValue::array({JSONValue::object({{"ref", "Тарен"}}), JSONValue::object({{"ref", "Ведил"}}),
                                       JSONValue::object({{"ref", ""}})})},
        {"depot", JSONValue::object({{"name", "Склад"}, {"lat", 55}, {"lon", 37}})},
        {"planned", true},
        {"revision", 12},
    }));
  }
  bool settled() {
    return spinUntil([&] { return desk->pendingCorrections == 0; }) && (spinFor(20ms), true);
  }
  MapPoint pointOf(const char* id) {
    for (const JSONValue& o : model->planner()["orders"].array()) {
      if (o["_nativeID"].string() == id) return *MapPoint::from(o);
    }
    return {};
  }

  std::shared_ptr<AppModel> model = AppModel::create();
  std::shared_ptr<MapDesk> desk = std::make_shared<MapDesk>();
  std::shared_ptr<PlanningMap> map = PlanningMap::create(model, playedWork(desk));
  std::shared_ptr<UndoStack> undo = std::make_shared<UndoStack>();
};

TEST_F(PlanningMapTest, SelectionTakesOnlyOrdersAndAdditiveSelectionToggles) {
  map->interact(MapInteraction::select("b", false), undo);
  EXPECT_EQ(model->selectedOrders(), std::set<std::string>{"b"});
  map->interact(MapInteraction::select("depot", false), undo);
  map->interact(MapInteraction::select("zz", true), undo);
  EXPECT_EQ(model->selectedOrders(), std::set<std::string>{"b"});
  map->interact(MapInteraction::select("a", true), undo);
  EXPECT_EQ(model->selectedOrders(), (std::set<std::string>{"a", "b"}));
  map->interact(MapInteraction::select("b", true), undo);
  EXPECT_EQ(model->selectedOrders(), std::set<std::string>{"a"});
  map->interact(MapInteraction::addVertex({55, 37}), undo);
  EXPECT_EQ(model->selectedOrders(), std::set<std::string>{"a"});
}

TEST_F(PlanningMapTest, MovesActOnlyWhileEditingAndSelectTheDraggedOrderAtOnce) {
  model->setSelectedOrders({"c"});
  map->interact(MapInteraction::move("a", {56, 38}), undo);  // view mode
  map->setMode(PlanningMapMode::coordinates);
  map->interact(MapInteraction::move("depot", {56, 38}), undo);
  map->interact(MapInteraction::move("zz", {56, 38}), undo);
  model->setBusy(true);
  EXPECT_FALSE(map->content().editing);
  map->interact(MapInteraction::move("a", {56, 38}), undo);
  model->setBusy(false);
  EXPECT_TRUE(desk->calls.empty());
  EXPECT_EQ(model->selectedOrders(), std::set<std::string>{"c"});

  EXPECT_TRUE(map->content().editing);
  map->interact(MapInteraction::move("a", {56, 38}), undo);
  EXPECT_EQ(model->selectedOrders(), std::set<std::string>{"a"}) << "selected before the correction completes";
  ASSERT_TRUE(settled());
  EXPECT_EQ(desk->calls, std::vector<std::string>{"correct a 56 38"});
  EXPECT_EQ(undo->undoName(), kCoordinateUndoName);
}

TEST_F(PlanningMapTest, UndoAndRedoAlternateWhileTheOrderStaysWhereTheLastStepPutIt) {
  map->setMode(PlanningMapMode::coordinates);
  map->interact(MapInteraction::move("a", {56, 38}), undo);
  ASSERT_TRUE(settled());
  EXPECT_EQ(pointOf("a"), (MapPoint{56, 38}));

  ASSERT_TRUE(undo->undo());
  EXPECT_EQ(undo->redoCount(), 1u) << "the undo recorded its redo at once";
  ASSERT_TRUE(settled());
  EXPECT_EQ(pointOf("a"), (MapPoint{55.1, 37.1}));
  ASSERT_TRUE(undo->redo());
  ASSERT_TRUE(settled());
  EXPECT_EQ(pointOf("a"), (MapPoint{56, 38}));
  EXPECT_EQ(undo->undoCount(), 1u);
  EXPECT_EQ(undo->redoCount(), 0u);

  // A new correction forgets the redo steps.
  ASSERT_TRUE(undo->undo());
  ASSERT_TRUE(settled());
  map->interact(MapInteraction::move("b", {57, 39}), undo);
  ASSERT_TRUE(settled());
  EXPECT_EQ(undo->redoCount(), 0u);
  EXPECT_EQ(undo->undoCount(), 1u);

  // The order was corrected again elsewhere: its undo step does nothing and leaves no redo.
  desk->calls.clear();
  JSONValue planner = model->planner();
  planner.member("orders").mutableArray()[1].set("lat", 50.0);
  model->setPlanner(planner);
  ASSERT_TRUE(undo->undo());
  ASSERT_TRUE(settled());
  EXPECT_TRUE(desk->calls.empty());
  EXPECT_FALSE(undo->canRedo());
}

TEST_F(PlanningMapTest, CorrectionsThatDidNotLandAndOlderWorkspacesRecordNothing) {
  map->setMode(PlanningMapMode::coordinates);
  desk->correction = MapDesk::Correction::refused;
  map->interact(MapInteraction::move("a", {56, 38}), undo);
  ASSERT_TRUE(settled());
  desk->correction = MapDesk::Correction::shifted;
  map->interact(MapInteraction::move("a", {56, 38}), undo);
  ASSERT_TRUE(settled());
  EXPECT_FALSE(undo->canUndo());
  EXPECT_EQ(desk->calls.size(), 2u);

  // Two quick drags of one order: only the one whose target the order ends at records a step.
  desk->correction = MapDesk::Correction::applied;
  map->interact(MapInteraction::move("b", {57, 39}), undo);
  map->interact(MapInteraction::move("b", {58, 40}), undo);
  ASSERT_TRUE(settled());
  EXPECT_EQ(pointOf("b"), (MapPoint{58, 40}));
  EXPECT_EQ(undo->undoCount(), 1u);

  // A workspace change makes the steps inert, also one whose correction was still running.
  map->interact(MapInteraction::move("c", {59, 41}), undo);
  model->replaceGeneration();
  ASSERT_TRUE(settled());
  EXPECT_EQ(undo->undoCount(), 1u);
  desk->calls.clear();
  ASSERT_TRUE(undo->undo());
  spinFor(20ms);
  EXPECT_TRUE(desk->calls.empty());
  EXPECT_FALSE(undo->canRedo());
}

TEST_F(PlanningMapTest, SurfaceArgumentsFollowTheDocumentAndTheToggles) {
  model->setZones({JSONValue::object({{"points", JSONValue::array({JSONValue::array({55, 37})})}})});
  MapContent content = map->content();
  EXPECT_EQ(content.vehicles, (std::vector<std::int64_t>{0, 1, 2}));
  EXPECT_EQ(content.planRevision, 12);
  EXPECT_FALSE(content.drawing);
  EXPECT_TRUE(content.polygons.empty()) << "zones only on request";
  map->setShowZones(true);
  EXPECT_EQ(map->content().polygons.size(), 1u);
  map->setQualityColors(true);
  EXPECT_EQ(map->content().pins[0].color, "#24659B");
  map->setMode(PlanningMapMode::transfer);
  EXPECT_TRUE(map->content().transferring);
  model->setGeocoding(true);
  EXPECT_FALSE(map->content().transferring);
  EXPECT_FALSE(map->canPickMode());
}

TEST_F(PlanningMapTest, TransfersFromTheMenuAndTheMapAndTheirOneStepUndo) {
  const JSONValue record = JSONValue::object({{"expectedRevision", 13}, {"generation", model->generation()}});
  desk->transferAnswer = record;
  model->setSelectedOrders({"c", "a"});
  EXPECT_FALSE(map->canAssign()) << "not the transfer mode";
  map->assignSelection(1);
  map->interact(MapInteraction::transfer({"a"}, 1, 12), undo);
  spinFor(20ms);
  EXPECT_TRUE(desk->calls.empty());

  map->setMode(PlanningMapMode::transfer);
  EXPECT_EQ(map->assignTitles(), (std::vector<std::string>{"Тарен", "Ведил", ""}));
  EXPECT_EQ(map->selectionText(), "Выбрано: 2");
  ASSERT_TRUE(map->canAssign());
  map->assignSelection(1);
  ASSERT_TRUE(spinUntil([&] { return !map->transferUndo().isNull(); }));
  EXPECT_EQ(desk->calls, std::vector<std::string>{"transfer a;c; 1 12"}) << "orders in plan order";
  EXPECT_FALSE(map->canUndoTransfer()) << "the document is still at the old revision";
  JSONValue planner = model->planner();
  planner.set("revision", 13);
  model->setPlanner(planner);
  EXPECT_TRUE(map->canUndoTransfer());
  model->setBusy(true);
  EXPECT_FALSE(map->canUndoTransfer());
  model->setBusy(false);
  // A refused transfer keeps the record; a later revision disables its undo.
  desk->transferAnswer.reset();
  map->interact(MapInteraction::transfer({"b"}, 0, 13), undo);
  ASSERT_TRUE(spinUntil([&] { return desk->calls.size() == 2; }));
  spinFor(20ms);
  EXPECT_EQ(map->transferUndo(), record);

  desk->undoAnswer = false;
  map->undoTransfer();
  ASSERT_TRUE(spinUntil([&] { return desk->calls.size() == 3; }));
  spinFor(20ms);
  EXPECT_TRUE(map->canUndoTransfer());
  desk->undoAnswer = true;
  map->undoTransfer();
  ASSERT_TRUE(spinUntil([&] { return map->transferUndo().isNull(); }));
  EXPECT_FALSE(map->canUndoTransfer());

  model->setSelectedOrders({});
  map->assignSelection(0);
  spinFor(20ms);
  EXPECT_EQ(desk->calls.size(), 4u) << "nothing selected, nothing sent";

  // After a depot switch the new workspace's plan may stand at the same revision: still nothing to take back.
  desk->transferAnswer = record;
  model->setSelectedOrders({"a"});
  map->assignSelection(0);
  ASSERT_TRUE(spinUntil([&] { return map->canUndoTransfer(); }));
  model->replaceGeneration();
  EXPECT_FALSE(map->canUndoTransfer());
}

TEST_F(PlanningMapTest, WorkOutlivesTheMapWithoutTouchingIt) {
  desk->transferAnswer = JSONValue::object({{"expectedRevision", 13}});
  map->setMode(PlanningMapMode::transfer);
  model->setSelectedOrders({"a"});
  map->assignSelection(2);
  map->setMode(PlanningMapMode::coordinates);
  map->interact(MapInteraction::move("a", {56, 38}), undo);
  map.reset();
  std::weak_ptr<UndoStack> weakUndo = undo;
  undo.reset();  // the window went too
  ASSERT_TRUE(spinUntil([&] { return desk->calls.size() == 2 && desk->pendingCorrections == 0; }));
  spinFor(20ms);
  EXPECT_EQ(pointOf("a"), (MapPoint{56, 38})) << "the correction itself is the model's and completes";
  EXPECT_TRUE(weakUndo.expired());
}
