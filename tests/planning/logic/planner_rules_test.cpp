// The planner screen's frame without a display: which commands the action bar offers in each state of the day,
// the header and geocoding-bar texts, where the properties pane goes, and the inputs of the vehicle editor and
// the date change.
#include <gtest/gtest.h>

#include "core/base/dorvik_date.h"
#include "model/app_model.h"
#include "planning/logic/planner_rules.h"

using namespace dorvik;
using namespace dorvik::planning;

namespace {

struct ActionCase {
  const char* name;
  PlanFacts facts;
  // open, geocode, calculate, new plan, roads, export, publish
  std::array<bool, 7> enabled;
};

std::array<bool, 7> enabledOf(const PlanActions& a) {
  return {a.open, a.geocode, a.calculate, a.newPlan, a.roads, a.exportMenu, a.publish};
}

PlanFacts facts(std::size_t orders, bool planned, bool canWriteServer, bool offline = false, bool preview = false,
                bool busy = false, bool geocoding = false, std::size_t routes = 2) {
  PlanFacts f;
  f.orders = orders;
  f.planned = planned;
  f.routes = planned ? routes : 0;
  f.canWriteServer = canWriteServer;
  f.offline = offline;
  f.preview = preview;
  f.busy = busy;
  f.geocoding = geocoding;
  return f;
}

}  // namespace

TEST(PlannerActions, EachCommandFollowsThePlanAndTheModel) {
  const std::vector<ActionCase> cases{
      {"empty plan", facts(0, false, true), {true, false, false, true, false, false, false}},
      {"orders, not calculated", facts(5, false, true), {true, true, true, true, false, true, false}},
      {"calculated, online", facts(5, true, true), {true, true, true, true, true, true, true}},
      {"demo", facts(5, true, false, true, true), {true, true, true, true, false, true, false}},
      {"offline", facts(5, true, false, true), {true, true, true, true, false, true, false}},
      // Nothing sends a plan that a calculation, an import, a new plan or a coordinate search is changing.
      {"busy", facts(5, true, true, false, false, true), {false, false, false, false, false, true, false}},
      {"geocoding", facts(5, true, true, false, false, false, true), {false, false, false, false, false, true, false}},
      {"calculated without routes",
       facts(5, true, true, false, false, false, false, 0),
       {true, true, true, true, false, true, true}},
  };
  for (const ActionCase& c : cases) {
    const PlanActions actions = planActions(c.facts);
    EXPECT_EQ(enabledOf(actions), c.enabled) << c.name;
    EXPECT_EQ(actions.geocodeTitle, c.facts.geocoding ? "Геокодирование…" : "Геокодирование") << c.name;
  }
}

TEST(PlannerActions, FactsReadPlannedLenientlyAndCountTheOrders) {
  auto model = AppModel::create();
  model->setPlanner(JSONValue::object({{"planned", "1"},
                                       {"orders", JSONValue::array({JSONValue::object({})})},
                                       {"routes", JSONValue::array({JSONValue::object({})})}}));
  model->setUser(JSONValue::object({{"role", "logist"}}));
  PlanFacts f = planFacts(*model);
  EXPECT_TRUE(f.planned);
  EXPECT_EQ(f.orders, 1u);
  EXPECT_EQ(f.routes, 1u);
  EXPECT_TRUE(f.canWriteServer);
  model->setPlanner(JSONValue::object({{"orders", "none"}}));
  f = planFacts(*model);
  EXPECT_FALSE(f.planned) << "a missing member is false";
  EXPECT_EQ(f.orders, 0u);
}

TEST(PlannerHeader, SummaryFallsBackForAMissingNameOrDepotAndShowsReviewOnlyWhenNeeded) {
  const JSONValue named = JSONValue::object({{"fileName", "Заказы.xlsx"},
                                             {"depot", JSONValue::object({{"name", "Склад Север"}})},
                                             {"orders", JSONValue::array({1, 2, 3})},
                                             {"routes", JSONValue::array({1})}});
  PlanSummary s = planSummary(named, 2);
  EXPECT_EQ(s.title, "Заказы.xlsx");
  EXPECT_EQ(s.depot, "Склад Север");
  EXPECT_EQ(s.orders, "3 заказов");
  EXPECT_EQ(s.routes, "1 маршрутов");
  EXPECT_EQ(s.review, "Уточнить: 2");

  for (const JSONValue& plan :
       {JSONValue::object({}), JSONValue::object({{"fileName", ""}, {"depot", JSONValue::object({{"name", ""}})}}),
        JSONValue::object({{"fileName", 42}, {"depot", nullptr}})}) {
    s = planSummary(plan, 0);
    EXPECT_EQ(s.title, "Новый рабочий день") << plan.data();
    EXPECT_EQ(s.depot, "Указать склад") << plan.data();
    EXPECT_EQ(s.orders, "0 заказов");
    EXPECT_EQ(s.review, "") << "nothing to review at 0";
  }
}

TEST(PlannerHeader, GeocodingBarNeverDividesByZeroAndTheStopButtonWaitsWhileStopping) {
  GeocodingBar bar = geocodingBar(0, 0, false);
  EXPECT_EQ(bar.fraction, 0.0);
  EXPECT_EQ(bar.progress, "Проверено 0 из 0");
  EXPECT_EQ(bar.stopTitle, "Остановить");
  EXPECT_TRUE(bar.stopEnabled);

  bar = geocodingBar(3, 4, true);
  EXPECT_DOUBLE_EQ(bar.fraction, 0.75);
  EXPECT_EQ(bar.progress, "Проверено 3 из 4");
  EXPECT_EQ(bar.stopTitle, "Останавливаем…");
  EXPECT_FALSE(bar.stopEnabled);
  EXPECT_EQ(geocodingBar(5, 4, false).fraction, 1.0);
}

TEST(PlannerLayout, ThePropertiesPaneSitsBesideWideContentAndOverNarrowContent) {
  struct Case {
    bool shown;
    int width;
    InspectorPlace place;
    int paneWidth;
  };
  for (const Case& c : std::vector<Case>{{true, 1400, InspectorPlace::side, 300},
                                         {true, 900, InspectorPlace::side, 300},
                                         {true, 899, InspectorPlace::overlay, 320},
                                         {true, 300, InspectorPlace::overlay, 300},
                                         {true, 250, InspectorPlace::overlay, 260},
                                         {false, 1400, InspectorPlace::hidden, 0}}) {
    const InspectorLayout layout = inspectorLayout(c.shown, c.width);
    EXPECT_EQ(layout.place, c.place) << c.width;
    EXPECT_EQ(layout.width, c.paneWidth) << c.width;
  }
}

TEST(PlannerTabs, UnknownTabsShowTheMapAndTheSegmentsKeepTheirOrder) {
  std::vector<std::string> titles;
  for (const PlanTab& tab : planTabs()) titles.push_back(tab.title);
  EXPECT_EQ(titles, (std::vector<std::string>{"Карта", "Заказы", "Транспорт", "Маршруты", "Окна", "Проверка"}));
  EXPECT_EQ(shownTab("check"), "check");
  EXPECT_EQ(shownTab("history"), "map");
  EXPECT_EQ(shownTab(""), "map");
}

TEST(PlannerSheets, TheVehicleEditorGetsThePositionOfTheFirstEqualRecord) {
  const JSONValue a = JSONValue::object({{"id", "V1"}, {"ref", "Тарен"}});
  const JSONValue b = JSONValue::object({{"id", "V2"}, {"ref", "Ведил"}});
  const JSONValue plan = JSONValue::object({{"vehicles", JSONValue::array({a, b, b})}});
  EXPECT_EQ(vehicleEditorIndex(plan, Record(b, "1")), 1);
  EXPECT_EQ(vehicleEditorIndex(plan, Record(b, "2")), 2) << "the fallback identity is part of the record";
  EXPECT_EQ(vehicleEditorIndex(plan, Record(JSONValue::object({{"id", "V1"}, {"ref", "Старое"}}), "0")), -1)
      << "a record edited away meanwhile";
  EXPECT_EQ(vehicleEditorIndex(JSONValue::object({}), Record(a, "0")), -1);
}

TEST(PlannerDate, AnotherDayMovesThePlanAndTheSameDayChangesNothing) {
  const JSONValue plan = JSONValue::object({{"routeDate", "2026-09-22"}});
  // 23:30 in Moscow on the 22nd is still the plan's day.
  EXPECT_EQ(dateChange(plan, DorvikDate::parse("2026-09-22") + std::chrono::minutes(23 * 60 + 30)), std::nullopt);
  std::optional<JSONValue> next = dateChange(plan, DorvikDate::parse("2026-09-23") + std::chrono::hours(12));
  ASSERT_TRUE(next);
  EXPECT_EQ(*next, JSONValue::object({{"date", "2026-09-23"}}));
  EXPECT_TRUE(dateChange(JSONValue::object({}), DorvikDate::parse("2026-09-22"))) << "a plan without a day";
}
