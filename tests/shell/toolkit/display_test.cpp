#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "shell/toolkit/display.h"

using namespace dorvik;

TEST(Display, EmptyValuesReadAsADashButEmptyInATextCell) {
  EXPECT_EQ(display(JSONValue()), "—");
  EXPECT_EQ(display(JSONValue("")), "—");
  Record row(JSONValue::object({{"a", 1}}), "0");
  EXPECT_EQ(recordCellText(row, "missing.path", display), "—");
  EXPECT_EQ(recordTextCell("missing.path")(row), "");
}

TEST(Display, ObjectsGiveTheirNameOnly) {
  EXPECT_EQ(display(JSONValue::object({{"name", "Склад 1"}, {"status", "done"}})), "Склад 1");
  EXPECT_EQ(display(JSONValue::object({{"status", "done"}})), "");
  EXPECT_EQ(display(JSONValue::object({{"name", "done"}})), "done");  // no lookup for a name
}

TEST(Display, ArraysJoinTheirElementsRecursively) {
  EXPECT_EQ(display(JSONValue::array({})), "");
  EXPECT_EQ(display(JSONValue::array({"done", JSONValue()})), "Выполнен, —");
  EXPECT_EQ(display(JSONValue::array({JSONValue::array({"a", "b"}), "c"})), "a, b, c");
  EXPECT_EQ(display(JSONValue::array({JSONValue::object({{"name", "Иван"}}), 3})), "Иван, 3");
}

TEST(Display, CodesReadAsTheirRussianWordsExactly) {
  EXPECT_EQ(display(JSONValue("active")), "В пути");
  EXPECT_EQ(display(JSONValue("in_progress")), "В пути");
  EXPECT_EQ(display(JSONValue("client_absent")), "Клиент отсутствует");
  EXPECT_EQ(display(JSONValue("never")), "Не было сигнала");
  EXPECT_EQ(display(JSONValue("admin")), "Администратор");
  EXPECT_EQ(display(JSONValue("official")), "Официально");
  EXPECT_EQ(display(JSONValue("Planned")), "Planned");
  EXPECT_EQ(display(JSONValue("superadmin")), "superadmin");
  EXPECT_EQ(display(JSONValue(" done")), " done");
  // Names and identifiers keep their text: only the words go.
  EXPECT_EQ(displayAsIs(JSONValue("admin")), "admin");
  EXPECT_EQ(displayAsIs(JSONValue::array({"done", JSONValue()})), "done, —");
  EXPECT_EQ(displayAsIs(JSONValue::object({{"name", "Иван"}})), "Иван");
  EXPECT_EQ(displayAsIs(JSONValue(true)), "Да");
}

TEST(Display, NumbersAndBooleans) {
  EXPECT_EQ(display(JSONValue(3)), "3");
  EXPECT_EQ(display(JSONValue(2.5)), "2.5");
  EXPECT_EQ(display(JSONValue(true)), "Да");
  EXPECT_EQ(display(JSONValue(false)), "Нет");
  Record row(JSONValue::object({{"use", true}, {"courier", JSONValue::object({{"name", "Пётр"}})}}), "0");
  EXPECT_EQ(recordCell("use", display)(row), "Да");
  EXPECT_EQ(recordTextCell("courier.name")(row), "Пётр");
  EXPECT_EQ(recordTextCell("courier")(row), "");
}

// The order table's columns over pages of several widths and text sizes: the address takes what is left, the
// names widen first and narrow last, nothing goes below its minimum, and the page is filled exactly.
TEST(ColumnWidths, TheAddressTakesWhatIsLeftAndTheNamesWidenFirst) {
  const std::vector<ColumnSpan> orders{{60, 80, 80}, {90, 140, 280}, {200, 300, -1}, {120, 120, 120},
                                       {48, 48, 48}, {80, 120, 240}, {75, 75, 75},   {115, 115, 115}};
  constexpr std::size_t kClient = 1, kAddress = 2, kCourier = 5;
  struct Case {
    int available;
    double scale;
    int client, address, courier;
  };
  for (const Case& c : std::vector<Case>{
           {998, 1.0, 140, 300, 120},         // the ideals exactly
           {1190, 1.0, 236, 300, 216},        // the names widen first, in equal shares
           {1500, 1.0, 280, 542, 240},        // up to twice their width; the address takes the rest
           {950, 1.0, 140, 252, 120},         // the address narrows first
           {850, 1.0, 119, 200, 103},         // then the others, by what each can give
           {1190, 17.0 / 13, 183, 277, 157},  // at the largest text the same page still holds every column
       }) {
    const std::vector<int> widths = columnWidths(orders, c.available, c.scale);
    int sum = 0;
    for (std::size_t i = 0; i < widths.size(); ++i) {
      sum += widths[i];
      EXPECT_GE(widths[i], static_cast<int>(std::lround(orders[i].min * c.scale))) << c.available << " #" << i;
    }
    EXPECT_EQ(sum, c.available) << c.available;
    EXPECT_EQ(widths[kClient], c.client) << c.available;
    EXPECT_EQ(widths[kAddress], c.address) << c.available;
    EXPECT_EQ(widths[kCourier], c.courier) << c.available;
  }
  // Below the minimums every column keeps its minimum (the table scrolls sideways).
  EXPECT_EQ(columnWidths(orders, 500, 1.0), (std::vector<int>{60, 90, 200, 120, 48, 80, 75, 115}));
  // Without a column that widens without end, a wide page leaves room at the end.
  EXPECT_EQ(columnWidths({{50, 100, 100}, {50, 100, 150}}, 400, 1.0), (std::vector<int>{100, 150}));
}
