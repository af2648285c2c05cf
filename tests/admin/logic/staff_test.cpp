// The staff pages without a display: the editor's checks, a changed depot's body, the password sheet's limits, and
// the list screen's two keyed loads (company list, then the chosen company's list) over a scripted gateway. The
// sheets' writes run against the stand-in server (tests/admin/server).
#include <gtest/gtest.h>

#include <tuple>

#include "admin/logic/fake_gateway.h"
#include "admin/logic/staff.h"
#include "core/base/errors.h"

using namespace dorvik;
using namespace dorvik::admin;
using namespace dorvik::admin::testing;

namespace {

std::string repeat(const std::string& unit, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += unit;
  return out;
}

// The body of a save, or the message that refuses it.
struct Outcome {
  std::optional<JSONValue> body;
  std::string message;
};
Outcome saveOf(PanelPage page, const JSONValue& value, const std::set<std::string>& selected = {}) {
  try {
    return {staffBody(page, value, "c-1", selected), ""};
  } catch (const DorvikError& e) {
    return {std::nullopt, e.message()};
  }
}

JSONValue depot(const char* lat, const char* lon) {
  JSONValue value = staffStartObject();
  value.set("name", "Склад Север");
  value.set("lat", lat);
  value.set("lon", lon);
  return value;
}

JSONValue person(const std::string& password) {
  JSONValue value = staffStartObject();
  value.set("fullName", "Пётр Петров");
  value.set("login", "petrov");
  value.set("phone", "+7 900 000-00-00");
  value.set("password", password);
  return value;
}

}  // namespace

TEST(StaffEditorChecks, DepotCoordinatesBothOrNeitherAndAnAccountsPasswordAndDepot) {
  JSONValue nameless = person("12345678");
  nameless.set("login", " ");
  const std::tuple<PanelPage, JSONValue, std::set<std::string>, std::string> cases[] = {
      {PanelPage::depotsAdmin, depot("-90", "180"), {}, ""},
      {PanelPage::depotsAdmin, depot("55.7", ""), {}, kBothCoordinates},
      {PanelPage::depotsAdmin, depot("90.0001", "37"), {}, kBothCoordinates},
      {PanelPage::depotsAdmin, depot("55", "180.5"), {}, kBothCoordinates},
      {PanelPage::depotsAdmin, depot("север", ""), {}, "«Широта» должно быть числом."},
      {PanelPage::people, person("   \n "), {"d1"}, "Заполните поле «Пароль от 8 знаков»."},
      {PanelPage::people, person("1234567"), {"d1"}, kPasswordOrDepot},
      {PanelPage::people, person("12345678"), {}, kPasswordOrDepot},
      {PanelPage::people, person(repeat("e\u0301", 7)), {"d1"}, kPasswordOrDepot},  // 14 code points, 7 characters
      {PanelPage::people, person(repeat("👩‍👩‍👧", 8)), {"d1"}, ""},
      {PanelPage::people, nameless, {}, "Заполните поле «Логин»."},  // the form's checks first
  };
  for (const auto& [page, value, selected, message] : cases)
    EXPECT_EQ(saveOf(page, value, selected).message, message) << value.json();
  EXPECT_TRUE((*saveOf(PanelPage::depotsAdmin, depot("", "")).body)["lat"].isNull());
  EXPECT_EQ(staffRoleChoice(JSONValue::object({{"role", "superadmin"}})), std::nullopt) << "not offered";

  // A changed depot sends the six form members and the company; its id and other members stay behind.
  JSONValue existing = depot("55,1", "37.2");
  existing.set("id", "d-1");
  existing.set("timezone", "Europe/Moscow");
  existing.set("address", "Москва, Тверская, 1");
  EXPECT_EQ(*saveOf(PanelPage::depotsAdmin, existing).body,
            JSONValue::decode(R"({"name": "Склад Север", "address": "Москва, Тверская, 1", "lat": 55.1,
      "lon": 37.2, "windowFrom": "08:00", "windowTo": "20:00", "companyId": "c-1"})"));
}

// The save takes 8 to 200 characters typed the same twice; while it cannot, the sheet says why under the entries.
TEST(StaffPasswordSheet, EightToTwoHundredCharactersTypedTwice) {
  const std::string shortWord = "Пароль должен быть не короче 8 знаков.";
  const std::tuple<std::string, std::string, bool, std::optional<std::string>> cases[] = {
      {"", "", false, std::nullopt},  // nothing typed yet: nothing to say
      {repeat("a", 7), repeat("a", 7), false, shortWord},
      {repeat("a", 7), "", false, shortWord},
      {repeat("ж", 200), repeat("ж", 200), true, std::nullopt},
      {repeat("ж", 201), repeat("ж", 201), false, "Пароль должен быть не длиннее 200 знаков."},
      {repeat("e\u0301", 200), repeat("e\u0301", 200), true, std::nullopt},  // 400 code points
      {repeat("a", 8), "", false, "Повторите пароль во втором поле."},
      {repeat("a", 8), repeat("a", 9), false, "Пароли не совпадают."},
      {repeat("é", 8), repeat("e\u0301", 8), true, std::nullopt},  // the same text, composed and decomposed
  };
  for (const auto& [password, repeated, acceptable, problem] : cases) {
    EXPECT_EQ(passwordAcceptable(password, repeated), acceptable) << password;
    EXPECT_EQ(passwordProblem(password, repeated), problem) << password;
  }
}

// The list screen's keyed loads: an answer for a company no longer chosen is dropped.
class StaffFlows : public GatewayTest {};

// The password sheet tells its view when sending starts (a busy «Сохранить») and when it ends: after a failure the
// button is offered again at once, with nothing typed anew.
TEST_F(StaffFlows, ThePasswordSheetTellsItsViewWhenSendingStartsAndEnds) {
  auto reset =
      PasswordReset::create(Record(JSONValue::object({{"id", "p1"}, {"fullName", "Пётр"}}), ""), fake.gateway());
  std::vector<bool> offered;  // what «Сохранить» shows at each word to the view
  auto connection = reset->observe([&](PasswordReset::Change change) {
    if (change == PasswordReset::Change::busy) offered.push_back(reset->canSave());
  });
  reset->setPassword("пароль-123");
  reset->setRepeated("пароль-123");
  ASSERT_EQ(offered, (std::vector<bool>{false, true}));
  reset->save();
  ASSERT_EQ(fake.log(), std::vector<std::string>{"POST /staff/people/p1/password"});
  EXPECT_EQ(offered.back(), false) << "sending started";
  FakeGateway::fail(fake.last(), "Сервер недоступен.", 400);
  ASSERT_TRUE(spinUntil([&] { return !reset->state()->saving(); }));
  EXPECT_EQ(offered.back(), true) << "sending ended";
}

TEST_F(StaffFlows, OnlyTheChosenCompanysListIsShown) {
  auto screen = StaffScreen::create(PanelPage::people, fake.gateway());
  screen->follow();
  FakeGateway::finish(fake.last(), JSONValue::decode(
                                       R"({"companies": [{"id": "c-1", "name": "Альфа"}, {"id": "c2", "name": "Бета"}]})"));
  ASSERT_TRUE(spinUntil([&] { return fake.calls.size() == 2; }));
  auto first = fake.last();

  screen->setCompany("c2");
  ASSERT_TRUE(spinUntil([&] { return fake.calls.size() == 3; }));
  FakeGateway::finish(first, JSONValue::decode(R"({"people": [{"id": "old"}]})"));
  spinFor(20ms);
  EXPECT_TRUE(screen->rows().empty()) << "the answer for the previous company is dropped";
  FakeGateway::finish(fake.last(), JSONValue::decode(R"({"people": [{"id": "p1", "role": "owner"}]})"));
  ASSERT_TRUE(spinUntil([&] { return screen->rows().size() == 1; }));

  // A workspace change reloads the companies and keeps the chosen company without reloading its list.
  fake.generation = "g2";
  screen->follow();
  ASSERT_TRUE(spinUntil([&] { return fake.calls.size() == 4; }));
  FakeGateway::finish(fake.last(), JSONValue::decode(R"({"companies": [{"id": "c-1", "name": "Альфа"}]})"));
  spinFor(20ms);
  EXPECT_EQ(screen->company(), "c2");

  // "Выберите компанию" empties the table and asks nothing, refresh included.
  screen->setCompany("");
  screen->refresh();
  spinFor(20ms);
  EXPECT_TRUE(screen->rows().empty());
  EXPECT_EQ(fake.calls.size(), 4u);
}
