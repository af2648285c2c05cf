// The order table's rules without a display: the search, the computed cells, the context menu and the positions
// that the plan changes receive.
#include <gtest/gtest.h>

#include "planning/logic/order_rows.h"

using namespace dorvik;
using namespace dorvik::planning;

namespace {

JSONValue order(const char* nativeID, const char* number, const char* title, const char* address) {
  return JSONValue::object({{"_nativeID", nativeID}, {"id", number}, {"title", title}, {"address", address}});
}

std::vector<std::string> ids(const std::vector<Record>& rows) {
  std::vector<std::string> out;
  for (const Record& row : rows) out.push_back(orderID(row.value));
  return out;
}

const JSONValue kOrders = JSONValue::array({
    order("n1", "A-17", "Кофейня «Зерно»", "Москва, Тверская улица, 6"),
    order("n2", "b-20", "ООО Ёлка", "Москва, улица Петровка, 12"),
    // "й" written as "и" and a combining breve.
    order("n3", "1003", "Пекарня", "Москва, Хорошёвское шоссе, 3, корпус Ии\xCC\x86"),
});

}  // namespace

TEST(OrderSearch, LettersIgnoreCaseInAddressAndClientButTheNumberMatchesAsTyped) {
  const OrderSearch search(kOrders);
  struct Case {
    const char* query;
    std::vector<std::string> shown;
  };
  for (const Case& c : std::vector<Case>{
           {"", {"n1", "n2", "n3"}},
           {"ТВЕРСКАЯ", {"n1"}},       // address, another case
           {"зерно", {"n1"}},          // client
           {"ёлка", {"n2"}},           // Ё folds like any letter
           {"корпус ий", {"n3"}},      // composed query, decomposed text
           {"a-17", {}},               // the number is case-sensitive
           {"A-17", {"n1"}},           // ... and found as typed
           {"b-2", {"n2"}},            // containment in the number
           {" ", {"n1", "n2", "n3"}},  // not trimmed: a space is a search
           {"Мясницкая", {}},
       }) {
    EXPECT_EQ(ids(search.rows(c.query)), c.shown) << c.query;
  }
  EXPECT_TRUE(OrderSearch(JSONValue("none")).rows("").empty()) << "a plan whose orders are not a list";
}

TEST(OrderCells, ArrivalAndAddressFoundReadTheirOwnMembersOnly) {
  EXPECT_EQ(arrivalText(JSONValue::object({{"_arr", 545}})), "09:05");
  EXPECT_EQ(arrivalText(JSONValue::object({{"_arr", "545"}})), "09:05");
  EXPECT_EQ(arrivalText(JSONValue::object({})), "—");
  EXPECT_EQ(arrivalText(JSONValue::object({{"_arr", "скоро"}})), "—");

  struct Case {
    JSONValue order;
    const char* text;
    bool warning;
  };
  for (const Case& c : std::vector<Case>{
           {JSONValue::object({}), "Уточнить", true},
           {JSONValue::object({{"lat", nullptr}, {"lon", 37.6}, {"source", "manual"}}), "Уточнить", true},
           {JSONValue::object({{"lat", 55.7}}), "Уточнить", true},  // no longitude: no pin either
           {JSONValue::object({{"lat", "55,7"}, {"lon", 37.6}, {"source", "dadata"}}), "Да", false},
           {JSONValue::object({{"lat", 55.7}, {"lon", 37.6}, {"source", "manual"}}), "Вручную", false},
           {JSONValue::object({{"lat", 55.7}, {"lon", 37.6}, {"source", "Manual"}}), "Да", false},
       }) {
    const FoundCell cell = foundCell(c.order);
    EXPECT_EQ(cell.text, c.text) << c.order.data();
    EXPECT_EQ(cell.warning, c.warning) << c.order.data();
    EXPECT_EQ(cell.symbol, c.warning ? "exclamationmark.circle" : "checkmark.circle");
  }
}

TEST(OrderMenu, TheMenuActsOnTheSelectionOnlyWhenTheClickedRowBelongsToIt) {
  const std::set<std::string> selection{"n1", "n2"};
  EXPECT_EQ(menuTargets(selection, std::string("n2")), selection);
  EXPECT_EQ(menuTargets(selection, std::string("n3")), (std::set<std::string>{"n3"}));
  EXPECT_EQ(menuTargets(selection, std::nullopt), std::set<std::string>{}) << "outside every row";
}

TEST(OrderMenu, ItemsFollowTheTargetsThePlanAndTheModel) {
  const std::vector<Record> rows = OrderSearch(kOrders).rows("");
  JSONValue plan = JSONValue::object(
      {{"orders", kOrders},
       {"planned", true},
       {"vehicles", JSONValue::array({JSONValue::object({{"ref", "Тарен"}}), JSONValue::object({{"id", "V2"}})})}});

  OrderMenu menu = orderMenu({"n2", "n3"}, rows, plan, false, false);
  ASSERT_TRUE(menu.target);
  EXPECT_EQ(orderID(menu.target->value), "n2") << "the first identifier of the set";
  EXPECT_TRUE(menu.canDelete);
  EXPECT_TRUE(menu.canAssign);
  EXPECT_EQ(menu.couriers, (std::vector<std::string>{"Тарен", ""}));

  menu = orderMenu({}, rows, plan, false, false);
  EXPECT_FALSE(menu.target);
  EXPECT_FALSE(menu.canDelete) << "nothing to delete";
  EXPECT_TRUE(menu.canAssign) << "the submenu stays, with nothing to move";

  menu = orderMenu({"n1"}, rows, plan, false, true);
  EXPECT_FALSE(menu.canDelete) << "while geocoding";
  EXPECT_TRUE(menu.canAssign) << "assignment works during a search";
  EXPECT_FALSE(orderMenu({"n1"}, rows, plan, true, false).canDelete) << "while busy";

  // The first target filtered out by the search: no edit, no coordinate search.
  menu = orderMenu({"n1", "n2"}, OrderSearch(kOrders).rows("Ёлка"), plan, false, false);
  EXPECT_FALSE(menu.target);
  EXPECT_FALSE(firstShownRow({"n1", "n2"}, OrderSearch(kOrders).rows("Ёлка")));

  plan.set("planned", "0");
  EXPECT_FALSE(orderMenu({"n1"}, rows, plan, false, false).canAssign) << "not calculated";
}

TEST(OrderMenu, PositionsFollowTheSetAndSkipOrdersNoLongerInThePlan) {
  const std::vector<std::string> plan{"n3", "n1", "n2", "n1"};
  EXPECT_EQ(orderPositions({"n2", "gone", "n1"}, plan), (JSONArray{1, 2})) << "set order: n1 before n2";
  EXPECT_EQ(orderPositions({}, plan), JSONArray{});
  EXPECT_EQ(orderPositions({"n3"}, {}), JSONArray{});
}
