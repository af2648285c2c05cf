// The readiness checks and the vehicle tables without a display: the lines of the checks over a plan held by the
// model (its counts, the address list of every order without coordinates, the route figures), the one rule that
// decides whether an order has coordinates wherever the planner shows it, the jump of a review line, and the rows
// and cells of the vehicles tab and the transport page.
#include <gtest/gtest.h>

#include <set>

#include "model/app_model.h"
#include "planning/logic/order_details.h"
#include "planning/logic/order_rows.h"
#include "planning/logic/plan_checks.h"
#include "planning/logic/planner_rules.h"
#include "planning/logic/planner_screen.h"
#include "planning/logic/planning_map.h"
#include "planning/logic/vehicle_rows.h"

using namespace dorvik;
using namespace dorvik::planning;

namespace {

JSONValue order(const char* id, const char* title, JSONValue lat, JSONValue lon) {
  return JSONValue::object({{"_nativeID", id},
                            {"id", id},
                            {"title", title},
                            {"address", std::string("Москва, ") + title},
                            {"lat", lat},
                            {"lon", lon}});
}

std::vector<std::string> texts(const std::vector<CheckLine>& lines, CheckLine::Kind kind) {
  std::vector<std::string> out;
  for (const CheckLine& line : lines)
    if (line.kind == kind) out.push_back(line.text + (line.detail.empty() ? "" : " | " + line.detail));
  return out;
}

std::vector<CheckLine> linesOf(const AppModel& model) { return checkLines(model.planner(), model.routes()); }

}  // namespace

TEST(PlanChecks, CountsAndTheAddressListCoverEveryOrderOfThePlan) {
  auto model = AppModel::create();
  model->setPlanner(JSONValue::object(
      {{"orders", JSONValue::array({order("1", "Кофейня", 55.76, 37.6), order("2", "Пекарня", "55,7", "37.61"),
                                    order("3", "Аптека", nullptr, 37.6), order("4", "Офис", 55.7, ""),
                                    order("5", "Склад", 55.7, 37.6), order("6", "Банк", 55.7, 37.6),
                                    order("7", "Кафе", 55.7, 37.6)})},
       {"unassigned", JSONValue::array({1, 2, 3})},
       {"routes",
        JSONValue::array(
            {JSONValue::object({{"vehicle", JSONValue::object({{"ref", "Тарен"}})}, {"over", 12.6}, {"km", 48.26}}),
             JSONValue::object({{"vehicle", JSONValue::object({{"ref", "Ведил"}})}, {"over", "нет"}})})}}));

  const std::vector<CheckLine> lines = linesOf(*model);
  EXPECT_EQ(texts(lines, CheckLine::Kind::section),
            (std::vector<std::string>{"Готовность плана", "Данные заказов", "Нужна проверка адреса",
                                      "Ограничения маршрутов"}));
  EXPECT_EQ(texts(lines, CheckLine::Kind::status),
            (std::vector<std::string>{"Заказов с координатами: 5 из 7", "Укажите склад", "3 заказов не назначено",
                                      "Номера заказов не повторяются, все значения прочитаны"}));
  EXPECT_EQ(lines[1].symbol, "exclamationmark.circle");
  EXPECT_EQ(lines[2].symbol, "exclamationmark.circle");
  EXPECT_EQ(texts(lines, CheckLine::Kind::review),
            (std::vector<std::string>{"Аптека | Москва, Аптека", "Офис | Москва, Офис"}))
      << "a decimal comma reads as a coordinate";
  EXPECT_EQ(texts(lines, CheckLine::Kind::limit),
            (std::vector<std::string>{"Тарен | 13 мин опоздания · 48.3 км", "Ведил | 0 мин опоздания · 0.0 км"}));

  // An empty plan with a depot: nothing missing, the sections stay.
  const std::vector<CheckLine> empty =
      checkLines(JSONValue::object({{"depot", JSONValue::object({{"name", "Склад"}})}}), {});
  EXPECT_EQ(texts(empty, CheckLine::Kind::status),
            (std::vector<std::string>{"Заказов с координатами: 0 из 0", "Склад указан", "0 заказов не назначено",
                                      "Номера заказов не повторяются, все значения прочитаны"}));
  EXPECT_EQ(empty[1].symbol, "checkmark.circle");
  EXPECT_EQ(empty[2].symbol, "checkmark.circle");
  EXPECT_EQ(texts(empty, CheckLine::Kind::section).size(), 4u);
}

// What an import leaves to mend: every problem of every order once, each line tied to its order; an order without
// an address is in the address list with the reason.
TEST(PlanChecks, OrderDataListsEachProblemOnceUnderItsOrder) {
  auto unread = [](const char* key, const char* column, const char* text) {
    return JSONValue::object({{"key", key}, {"column", column}, {"text", text}});
  };
  auto numbered = [](const char* nativeID, const char* id, const char* title, int row) {
    JSONValue made = order(nativeID, title, 55.7, 37.6);
    made.set("id", id);
    made.set("_row", row);
    return made;
  };
  JSONValue noNumber = numbered("c", "", "Без", 8);
  noNumber.set("lat", nullptr);
  noNumber.set("_unread", JSONValue::array({unread("coordinates", "Координаты", "555, 37.6")}));
  JSONValue unreadable = numbered("d", "1003", "Склад", 6);
  unreadable.set("_unread", JSONValue::array({unread("window", "Окно с – Окно до", "18:00-09:00"),
                                              unread("units", "Места", "три")}));
  JSONValue noAddress = numbered("e", "1002", "Офис", 5);
  noAddress.set("address", "  ");
  noAddress.set("lat", nullptr);
  const JSONValue plan = JSONValue::object(
      {{"importSummary", "Загружено заказов: 5; с координатами: 3."},
       {"orders", JSONValue::array({numbered("a", "1001", "Кафе", 3), numbered("b", " 1001", "Дубль", 7), noNumber,
                                    unreadable, noAddress})}});

  const std::vector<CheckLine> lines = checkLines(plan, {});
  EXPECT_EQ(texts(lines, CheckLine::Kind::problem),
            (std::vector<std::string>{"№1001 · Кафе | Строка 3: номер повторяется: заказов с ним — 2",
                                      "№1001 · Дубль | Строка 7: номер повторяется: заказов с ним — 2",
                                      "Без номера · Без | Строка 8: нет номера заказа",
                                      "Без номера · Без | Строка 8: «Координаты»: «555, 37.6» — не прочитано",
                                      "№1003 · Склад | Строка 6: «Окно с – Окно до»: «18:00-09:00» — не прочитано",
                                      "№1003 · Склад | Строка 6: «Места»: «три» — не прочитано"}));
  std::vector<std::string> ids;
  std::set<std::string> keys;
  for (const CheckLine& line : lines) {
    if (line.kind != CheckLine::Kind::problem) continue;
    ids.push_back(line.id);
    keys.insert(line.key);
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"a", "b", "c", "c", "d", "d"}));
  EXPECT_EQ(keys.size(), ids.size()) << "each problem is its own line";
  EXPECT_EQ(texts(lines, CheckLine::Kind::note)[1], "Загружено заказов: 5; с координатами: 3.");
  EXPECT_EQ(texts(lines, CheckLine::Kind::status).back(), "Требуют проверки: 4");
  EXPECT_EQ(texts(lines, CheckLine::Kind::review),
            (std::vector<std::string>{"Без | Москва, Без", "Офис | нет адреса"}));
}

// Whether an order has coordinates is one rule wherever the planner says so: the header's "Уточнить", the checks'
// count and list, the table's "Адрес найден", the inspector and the map's pins all agree, order by order.
TEST(PlanChecks, OneCoordinateRuleDecidesEveryPlaceThatSaysAnOrderHasCoordinates) {
  struct Case {
    JSONValue lat, lon;
    bool located;
  };
  const std::vector<Case> cases{
      {55.75, 37.61, true},    {"55,75", "37.61", true}, {90, -180, true},      {0, 0, true},
      {55.75, nullptr, false}, {nullptr, 37.61, false},  {"nan", 37.61, false}, {55.75, "inf", false},
      {555, 37.61, false},     {55.75, 180.5, false},    {-90.01, 0, false},    {"", "", false},
  };
  for (const Case& c : cases) {
    const std::string where = c.lat.data() + ", " + c.lon.data();
    auto model = AppModel::create();
    model->setPlanner(JSONValue::object({{"orders", JSONValue::array({order("1", "Кофейня", c.lat, c.lon)})}}));
    const JSONValue& shown = model->planner()["orders"].at(0);
    EXPECT_EQ(model->missingCoordinates(), c.located ? 0 : 1) << where;
    EXPECT_EQ(planSummary(model->planner(), model->missingCoordinates()).review, c.located ? "" : "Уточнить: 1")
        << where;
    EXPECT_EQ(foundCell(shown).warning, !c.located) << where;
    EXPECT_EQ(inspectorText(shown).coordinates == "Нужно уточнить", !c.located) << where;
    const std::vector<CheckLine> lines = linesOf(*model);
    EXPECT_EQ(texts(lines, CheckLine::Kind::review).size(), c.located ? 0u : 1u) << where;
    EXPECT_EQ(texts(lines, CheckLine::Kind::status)[0],
              std::string("Заказов с координатами: ") + (c.located ? "1" : "0") + " из 1")
        << where;
    EXPECT_EQ(planningPins(model->planner(), {}, false).size(), c.located ? 1u : 0u) << where;
  }
}

TEST(PlanChecks, FiguresArePrintedWithoutTheProcessLocale) {
  setlocale(LC_NUMERIC, "ru_RU.UTF-8");  // a decimal comma for printf, where installed
  struct Case {
    double value;
    int decimals;
    const char* text;
  };
  for (const Case& c : std::vector<Case>{{12.6, 0, "13"},
                                         {12.5, 0, "12"},  // printf rounds the exact binary value half to even
                                         {13.5, 0, "14"},
                                         {48.26, 1, "48.3"},
                                         {48.25, 1, "48.2"},  // an exact tie, to even as well
                                         {0, 1, "0.0"},
                                         {-0.4, 0, "-0"},
                                         {1e21, 0, "1000000000000000000000"}})
    EXPECT_EQ(fixedDecimals(c.value, c.decimals), c.text) << c.value;
  setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(routeLimit(JSONValue::object({{"over", "7,4"}, {"km", 3}})), "7 мин опоздания · 3.0 км");
}

namespace {
PlannerWork noWork() { return PlannerWork{}; }
}  // namespace

TEST(PlanChecks, AReviewLineSelectsItsOrderAloneOnTheMapWithItsProperties) {
  auto model = AppModel::create();
  model->setSelectedOrders({"1", "2", "5"});
  PlannerScreen screen(model, noWork());
  screen.setTab("check");
  reviewOrder(screen, "3");
  EXPECT_EQ(model->selectedOrders(), std::set<std::string>{"3"});
  EXPECT_EQ(screen.tab(), "map");
  EXPECT_TRUE(screen.inspector());
}

TEST(VehicleTables, RowsAndCells) {
  const JSONValue same = JSONValue::object({{"id", "V1"}, {"ref", "Тарен"}, {"capacity", 12}, {"use", "1"}});
  const JSONValue plan =
      JSONValue::object({{"vehicles", JSONValue::array({same, same, JSONValue::object({{"id", "V2"}, {"use", false}}),
                                                        JSONValue::object({{"id", "V3"}})})}});
  const std::vector<Record> rows = vehicleRows(plan);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_NE(rows[0], rows[1]) << "equal vehicles at two positions are two rows";
  EXPECT_EQ(rows[1].fallbackID, "1");
  EXPECT_TRUE(vehicleRows(JSONValue::object({{"vehicles", "нет"}})).empty());

  EXPECT_EQ(rows[0].value["capacity"].string(), "12");
  EXPECT_TRUE(dutyMark(rows[0].value).onDuty) << "the text \"1\" reads as on duty";
  EXPECT_EQ(dutyMark(rows[0].value).symbol, "checkmark.circle.fill");
  EXPECT_EQ(dutyMark(rows[2].value).symbol, "circle");
  EXPECT_EQ(onDutyText(JSONValue::object({{"use", true}})), "Да");
  EXPECT_EQ(onDutyText(rows[2].value), "Нет");
  EXPECT_EQ(onDutyText(rows[3].value), "—");
}
