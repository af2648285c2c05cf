// The routes tab, the order inspector and the windows tab without a display: which route and order they show, what
// their rows read (also under a locale with a decimal comma), and the plan changes a stop's drag and its menu send.
#include <gtest/gtest.h>

#include <clocale>

#include "planning/logic/order_details.h"
#include "planning/logic/planning_routes.h"
#include "support/async_helpers.h"

using namespace dorvik;
using namespace dorvik::planning;
using dorvik::testing::spinFor;
using namespace std::chrono_literals;

namespace {

// The texts must not follow a process locale that writes a decimal comma.
class CommaLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::setlocale(LC_NUMERIC, nullptr);
    for (const char* name : {"ru_RU.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8"}) {
      if (std::setlocale(LC_NUMERIC, name)) break;
    }
  }
  void TearDown() override { std::setlocale(LC_NUMERIC, previous_.c_str()); }

 private:
  std::string previous_;
};

JSONValue route(JSONValue ci, JSONArray orders, JSONArray stops) {
  return JSONValue::object({{"ci", ci},
                            {"vehicle", JSONValue::object({{"ref", "Тарен"}, {"shift", "09:00-18:00"}})},
                            {"orders", JSONValue(std::move(orders))},
                            {"stops", JSONValue(std::move(stops))},
                            {"km", 12.345},
                            {"end", 1020},
                            {"over", 0}});
}

JSONValue stop(JSONValue index, double arr = 600, int wait = 0, int late = 0) {
  return JSONValue::object({{"index", index}, {"arr", arr}, {"wait", wait}, {"late", late}});
}

const JSONValue kPlanner = JSONValue::object({
    {"orders", JSONValue::array({
                   JSONValue::object({{"_nativeID", "A"},
                                      {"id", "1001"},
                                      {"title", "Аптека"},
                                      {"address", "Тверская, 6"},
                                      {"window", "09:00-12:00"}}),
                   JSONValue::object({{"_nativeID", "B"}, {"id", 42}, {"title", ""}, {"address", "Арбат, 10"}}),
                   JSONValue::object({{"_nativeID", "C"}, {"id", "1003"}, {"title", "Кафе"}}),
               })},
    {"vehicles", JSONValue::array({JSONValue::object({{"ref", "Тарен"}}), JSONValue::object({{"ref", "Ведил"}})})},
});

async::Task<bool> recordChange(std::shared_ptr<std::vector<std::string>> sent, std::string action, JSONValue payload) {
  sent->push_back(action + " " + payload.data());
  co_return true;
}

}  // namespace

using RoutesText = CommaLocale;

TEST_F(RoutesText, CurrentRouteRowsAndStops) {
  std::vector<Record> routes = JSONValue::records({route(0, {}, {}), route(1, {}, {})});
  routes[0].fallbackID = "0";
  routes[1].fallbackID = "1";
  EXPECT_EQ(currentRoute({}, std::nullopt), std::nullopt);
  EXPECT_EQ(currentRoute(routes, std::nullopt)->fallbackID, "0") << "nothing clicked: the first route";
  EXPECT_EQ(currentRoute(routes, "1")->fallbackID, "1");
  EXPECT_EQ(currentRoute(routes, "7")->fallbackID, "0") << "the chosen route is gone: the first";

  const Record shown(route(0, {0, 1, 2}, {}), "0");
  const RouteRowText row = routeRowText(shown);
  EXPECT_EQ(row.courier, "Тарен");
  EXPECT_EQ(row.summary, "3 заказов · 12.3 км");
  EXPECT_EQ(row.finish, "Финиш 17:00 · опоздание 0 мин") << "the lateness shows also at 0";
  const RouteRowText bare = routeRowText(Record(JSONValue::object({{"km", "много"}}), "0"));
  EXPECT_EQ(bare.summary, "0 заказов · 0.0 км");
  EXPECT_EQ(bare.finish, "Финиш — · опоздание 0 мин");
  EXPECT_EQ(routeHeaderText(shown).shift, "Смена: 09:00-18:00");

  const StopRowText first = stopRowText(stop(0, 605, 3, 0), kPlanner);
  EXPECT_TRUE(first.shown);
  EXPECT_EQ(first.arrival, "10:05");
  EXPECT_EQ(first.title, "Аптека");
  EXPECT_EQ(first.address, "Тверская, 6");
  EXPECT_EQ(first.detail, "Окно 09:00-12:00 · ожидание 3 мин · опоздание 0 мин");
  EXPECT_FALSE(first.late);
  EXPECT_TRUE(stopRowText(stop(1, 600, 0, 1), kPlanner).late);
  for (const JSONValue& index : {JSONValue(-1), JSONValue(3), JSONValue(1e300), JSONValue("x")}) {
    EXPECT_EQ(stopRowText(stop(index), kPlanner).shown, index.isString()) << index.data();
  }
  EXPECT_EQ(assignItems(kPlanner), (std::vector<std::string>{"Тарен", "Ведил"}));
}

TEST(RoutesChanges, MovesByOffsetsAndThePayloadsSent) {
  const JSONArray orders{4, 7, 2, 9};
  EXPECT_EQ(movedByOffsets(orders, {3}, 0), (JSONArray{9, 4, 7, 2})) << "the last stop to the top";
  EXPECT_EQ(movedByOffsets(orders, {0}, 4), (JSONArray{7, 2, 9, 4}));
  EXPECT_EQ(movedByOffsets(orders, {0}, 2), (JSONArray{7, 4, 2, 9}));
  EXPECT_EQ(movedByOffsets(orders, {1}, 1), orders);
  EXPECT_EQ(movedByOffsets(orders, {0, 2}, 4), (JSONArray{7, 9, 4, 2}));
  EXPECT_EQ(movedByOffsets(orders, {4}, 0), std::nullopt);
  EXPECT_EQ(movedByOffsets(orders, {0}, 5), std::nullopt);

  const Record matching(route("2", {4, 7, 2}, {stop(4), stop(7), stop(2)}), "2");
  EXPECT_EQ(reorderPayload(matching, {2}, 0)->data(), R"({"indices":[2,4,7],"vehicle":"2"})")
      << "the route's ci goes back as it stands";
  const Record noCI(JSONValue::object({{"orders", JSONValue::array({1, 0})}, {"stops", JSONValue::array({1, 2})}}),
                    "0");
  EXPECT_EQ(reorderPayload(noCI, {1}, 0)->data(), R"({"indices":[0,1],"vehicle":null})");
  // The stop list and the orders differ in length: the offsets would move other orders than the ones dragged.
  const Record mismatched(route(0, {4, 7, 2}, {stop(4), stop(7)}), "0");
  EXPECT_EQ(reorderPayload(mismatched, {1}, 0), std::nullopt);

  EXPECT_EQ(assignPayload(stop("5"), -1).data(), R"({"indices":["5"],"vehicle":-1})");
  EXPECT_EQ(assignPayload(stop(2), 1).data(), R"({"indices":[2],"vehicle":1})");
}

TEST(RoutesChanges, TheTabSendsThroughTheModelAndNothingWhileBlocked) {
  auto model = AppModel::create();
  JSONValue planner = kPlanner;
  planner.set("routes", JSONValue::array({route(0, {0, 1}, {stop(0), stop(1)}), route(1, {2}, {stop(2), stop(5)})}));
  model->setPlanner(planner);
  auto sent = std::make_shared<std::vector<std::string>>();
  RoutesTab tab(model, [sent](std::string action, JSONValue payload) {
    return recordChange(sent, std::move(action), std::move(payload));
  });
  EXPECT_EQ(tab.current()->value["ci"], JSONValue(0));
  EXPECT_TRUE(tab.move(1, 0));
  EXPECT_FALSE(tab.move(0, 0)) << "dropped where it stood";
  tab.assign(stop(1), 1);
  tab.select("1");
  EXPECT_FALSE(tab.move(1, 0)) << "orders and stops differ in length";
  model->setGeocoding(true);
  EXPECT_FALSE(tab.stopsEnabled());
  tab.select(std::nullopt);
  EXPECT_FALSE(tab.move(1, 0));
  tab.assign(stop(1), -1);
  spinFor(20ms);
  EXPECT_EQ(*sent, (std::vector<std::string>{R"(reorder {"indices":[1,0],"vehicle":0})",
                                             R"(assign {"indices":[1],"vehicle":1})"}));
}

using InspectorText_ = CommaLocale;

TEST_F(InspectorText_, TheFirstSelectedOrderInPlanOrderAndItsTexts) {
  EXPECT_EQ(inspectedOrder(kPlanner, {}), std::nullopt);
  EXPECT_EQ(inspectedOrder(kPlanner, {"zz"}), std::nullopt);
  EXPECT_EQ((*inspectedOrder(kPlanner, {"C", "A"}))["_nativeID"].string(), "A");
  EXPECT_EQ((*inspectedOrder(kPlanner, {"C", "B"}))["_nativeID"].string(), "B");

  JSONValue order = JSONValue::object({{"id", 42}, {"title", ""}, {"lat", 55.75}, {"comments", ""}, {"_arr", 615}});
  InspectorText text = inspectorText(order);
  EXPECT_EQ(text.heading, "Заказ 42");
  EXPECT_EQ(text.arrival, "10:15");
  EXPECT_EQ(text.comments, "");
  // Without a longitude the point is not shown as a made-up 0.
  EXPECT_EQ(text.coordinates, "Нужно уточнить");
  order.set("lon", "37,6");
  EXPECT_EQ(inspectorText(order).coordinates, "55.750000, 37.600000");
  order.erase("lat");
  EXPECT_EQ(inspectorText(order).coordinates, "Нужно уточнить");
  order.set("lat", "inf");
  EXPECT_EQ(inspectorText(order).coordinates, "Нужно уточнить");
  EXPECT_EQ(inspectorText(JSONValue::object({{"_arr", nullptr}})).arrival, "—");

  const std::vector<std::pair<JSONValue, std::string>> sources{
      {"manual", "Исправлено вручную"},
      {"osm", "OpenStreetMap"},
      {"dadata", "DaData"},
      {"saved", "Справочник склада"},
      {"file", "Из файла"},
      {"Manual", "Координаты не подтверждены"},
      {"", "Координаты не подтверждены"},
      {nullptr, "Координаты не подтверждены"},
  };
  for (const auto& [source, label] : sources) {
    EXPECT_EQ(inspectorText(JSONValue::object({{"source", source}})).source, label) << source.data();
  }
}

TEST(WindowsColumns, TitlesAndCells) {
  const auto& columns = windowsColumns();
  std::vector<std::string> titles;
  for (const WindowsColumn& column : columns) titles.push_back(column.title);
  EXPECT_EQ(titles, (std::vector<std::string>{"Заказ", "Клиент", "Курьер", "Окно доставки", "Прибытие",
                                              "Обслуживание, сек", "Адрес"}));
  auto cells = [&](const JSONValue& order) {
    std::vector<std::string> out;
    for (const WindowsColumn& column : columns) out.push_back(column.cell(Record(order, "")));
    return out;
  };
  EXPECT_EQ(cells(JSONValue::object({})), (std::vector<std::string>{"", "", "", "", "—", "—", ""}));
  EXPECT_EQ(cells(JSONValue::object({{"id", 7},
                                     {"title", "Аптека"},
                                     {"_drv", "Тарен"},
                                     {"window", "09:00-12:00"},
                                     {"_arr", 545.4},
                                     {"serviceS", 300},
                                     {"address", "Тверская, 6"}})),
            (std::vector<std::string>{"7", "Аптека", "Тарен", "09:00-12:00", "09:05", "300", "Тверская, 6"}));
  EXPECT_EQ(columns.back().lines, 2);
}
