// The vehicle and depot editors without a display: what each sends for an edited object, what it refuses, and a
// sheet that saves once however often its button is pressed while the change runs.
#include <gtest/gtest.h>

#include "core/base/errors.h"
#include "planning/logic/plan_editors.h"
#include "support/async_helpers.h"

using namespace dorvik;
using namespace dorvik::planning;
using dorvik::testing::spinUntil;

namespace {

template <class F>
std::string refusal(F&& prepare) {
  try {
    prepare();
  } catch (const DorvikError& e) {
    return e.message();
  }
  return "<принято>";
}

}  // namespace

TEST(VehicleEditor, WhatASaveSends) {
  EXPECT_STREQ(vehicleEditorHeading(-1), "Добавить машину");
  EXPECT_STREQ(vehicleEditorHeading(0), "Параметры маршрута");
  const JSONValue fresh = vehicleDraft(nullptr);
  EXPECT_EQ(fresh, JSONValue::object({{"use", true}, {"back", false}, {"shift", "09:00-18:00"}}));
  EXPECT_EQ(refusal([&] { vehicleChange(fresh, -1); }), "Заполните поле «Логин курьера / код машины».");

  JSONValue edited = JSONValue::object({{"id", " ivanov "},
                                        {"ref", "Иванов"},
                                        {"shift", "10:00-19:00"},
                                        {"capacity", "12,5"},
                                        {"mileage", ""},
                                        {"use", "1"},
                                        {"_planned", 3},
                                        {"color", "#ff0000"}});
  EXPECT_EQ(vehicleChange(edited, 0), JSONValue::object({{"index", 0},
                                                         {"vehicle", JSONValue::object({{"id", " ivanov "},
                                                                                        {"ref", "Иванов"},
                                                                                        {"shift", "10:00-19:00"},
                                                                                        {"zone", ""},
                                                                                        {"capacity", 12.5},
                                                                                        {"mileage", nullptr},
                                                                                        {"use", true},
                                                                                        {"back", false}})}}))
      << "the form's eight members only, untrimmed texts, numbers or null";
  EXPECT_EQ(vehicleChange(edited, -1)["index"], JSONValue(-1));
  edited.set("shift", "  ");
  EXPECT_EQ(refusal([&] { vehicleChange(edited, 0); }), "Заполните поле «Смена, 09:00-18:00».");
  edited.set("shift", "09:00-18:00");
  edited.set("mileage", "сто");
  EXPECT_EQ(refusal([&] { vehicleChange(edited, 0); }), "«Максимум километров» должно быть числом.");
}

TEST(DepotEditor, WhatASaveSendsAndTheCoordinateBounds) {
  EXPECT_EQ(refusal([] { depotChange(JSONValue()); }), "Заполните поле «Название».") << "a plan without a depot";
  const JSONValue depot = JSONValue::object(
      {{"name", "Склад Юг"}, {"lat", "55,70"}, {"lon", 37.6}, {"window", ""}, {"id", "d1"}, {"address", "Москва"}});
  EXPECT_EQ(depotChange(depot), JSONValue::object({{"name", "Склад Юг"}, {"lat", 55.7}, {"lon", 37.6}, {"window", ""}}))
      << "an empty window is sent as the empty text, other members not at all";

  struct Bound {
    JSONValue lat, lon;
    bool accepted;
  };
  for (const Bound& b : std::vector<Bound>{
           {90, 180, true}, {-90, -180, true}, {90.5, 0, false}, {0, 180.5, false}, {"-90.0001", 0, false}}) {
    JSONValue edited = depot;
    edited.set("lat", b.lat);
    edited.set("lon", b.lon);
    EXPECT_EQ(refusal([&] { depotChange(edited); }), b.accepted ? "<принято>" : kDepotRangeMessage)
        << b.lat.string() << " " << b.lon.string();
  }
}

namespace {

struct Changes {
  std::vector<std::string> sent;
  bool applies = true;
};

async::Task<bool> applyChange(std::shared_ptr<Changes> changes, std::string action, JSONValue input) {
  changes->sent.push_back(action + " " + input.data());
  co_await async::yield();
  co_await async::yield();
  co_return changes->applies;
}

}  // namespace

TEST(PlanEditorSheet, SavesOnceWhileBusyStaysOpenWhenRefusedAndClosesWhenApplied) {
  auto changes = std::make_shared<Changes>();
  PlanChange change = [changes](std::string action, JSONValue input) {
    return applyChange(changes, std::move(action), std::move(input));
  };
  auto editor = makeVehicleEditor(nullptr, -1, change);
  int dismissed = 0;
  auto connection = editor->observe([&](PlanEditor::Change c) { dismissed += c == PlanEditor::Change::dismissed; });

  editor->save();
  EXPECT_EQ(editor->issue(), "Заполните поле «Логин курьера / код машины».");
  EXPECT_FALSE(editor->busy());
  editor->value()->set("id", "V3");
  editor->value()->set("ref", "Сидоров");

  changes->applies = false;
  editor->save();
  editor->save();
  EXPECT_TRUE(editor->busy());
  ASSERT_TRUE(spinUntil([&] { return !editor->busy(); }));
  ASSERT_EQ(changes->sent.size(), 1u) << "two quick presses add the vehicle once";
  EXPECT_EQ(changes->sent[0],
            R"(vehicle {"index":-1,"vehicle":{"back":false,"capacity":null,"id":"V3","mileage":null,"ref":"Сидоров",)"
            R"("shift":"09:00-18:00","use":true,"zone":""}})");
  EXPECT_EQ(dismissed, 0) << "a refused change keeps the sheet";
  EXPECT_EQ((*editor->value())["ref"], JSONValue("Сидоров"));

  changes->applies = true;
  editor->save();
  ASSERT_TRUE(spinUntil([&] { return dismissed == 1; }));
  EXPECT_EQ(changes->sent.size(), 2u);

  auto depot = makeDepotEditor(
      JSONValue::object({{"depot", JSONValue::object({{"name", "Склад"}, {"lat", 95}, {"lon", 37}})}}), change);
  depot->save();
  EXPECT_EQ(depot->issue(), kDepotRangeMessage);
  EXPECT_EQ(changes->sent.size(), 2u);
}
