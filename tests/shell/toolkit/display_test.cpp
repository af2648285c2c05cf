#include <gtest/gtest.h>

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
