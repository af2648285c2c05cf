// The staff pages without a display: identifiers in paths, the editor's checks and bodies, the password sheet's
// limits, and the list screen's two keyed loads (company list, then the chosen company's list) over a scripted
// gateway. The sheets' writes run against the stand-in server (tests/admin/server).
#include <gtest/gtest.h>

#include "admin/logic/fake_gateway.h"
#include "admin/logic/staff.h"
#include "core/api/path_encoding.h"
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
Outcome saveOf(PanelPage page, const JSONValue& value, const std::set<std::string>& selected = {"d1"}) {
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

TEST(StaffPaths, IdentifiersKeepOnlyLettersMarksAndDigits) {
  const std::pair<std::string, std::string> cases[] = {
      {"doc 1/2", "doc%201%2F2"}, {"ООО-1", "ООО%2D1"},       {"a.b_c~d", "a%2Eb%5Fc%7Ed"},
      {"и\u0306", "и\u0306"},     {"x?y#z%", "x%3Fy%23z%25"}, {"\xff", ""},
  };
  for (const auto& [id, encoded] : cases) EXPECT_EQ(encodeID(id), encoded) << id;

  EXPECT_EQ(staffListPath(PanelPage::people, "c-1"), "/staff/people?companyId=c%2D1");
  EXPECT_EQ(staffListPath(PanelPage::depotsAdmin, "Ромашка"), "/staff/depots?companyId=Ромашка");
  EXPECT_EQ(staffListPath(PanelPage::people, "\xff"), "/staff/people?companyId=");
  EXPECT_EQ(staffWritePath(PanelPage::depotsAdmin, JSONValue()), "/staff/depots");
  EXPECT_EQ(staffWritePath(PanelPage::people, JSONValue()), "/staff/people");
  EXPECT_EQ(staffWritePath(PanelPage::depotsAdmin, JSONValue::object({{"id", "d-7/8"}})), "/staff/depots/d%2D7%2F8");
  EXPECT_EQ(passwordPath(Record(JSONValue::object({{"id", "p 1"}}), "")), "/staff/people/p%201/password");
}

TEST(StaffLists, CompanyOptionsRowsAndRoles) {
  const JSONValue companies = JSONValue::decode(
      R"({"companies": [{"id": "c-2", "name": "Бета"}, {"id": "c-1", "name": "Альфа"}]})");
  const std::vector<CompanyOption> options = companyOptions(companies);
  ASSERT_EQ(options.size(), 3u);
  EXPECT_EQ(options[0].title, "Выберите компанию");
  EXPECT_EQ(options[0].id, "");
  EXPECT_EQ(options[1].title + options[1].id, "Бетаc-2") << "the server's order is kept";
  EXPECT_EQ(firstCompany(companies), "c-2");
  EXPECT_EQ(firstCompany(JSONValue::object({{"companies", "none"}})), "");
  EXPECT_EQ(companyOptions(JSONValue()).size(), 1u);

  const JSONValue answer = JSONValue::decode(R"({"people": [{"id": "p1"}], "depots": [{"id": "d1"}, {"id": "d2"}]})");
  EXPECT_EQ(staffRows(PanelPage::people, answer).size(), 1u);
  EXPECT_EQ(staffRows(PanelPage::depotsAdmin, answer).size(), 2u);
  EXPECT_TRUE(staffRows(PanelPage::people, JSONValue::object({{"people", 3}})).empty());

  EXPECT_EQ(staffRoleChoice(staffStartObject()), 0u);
  EXPECT_EQ(staffRoleChoice(JSONValue::object({{"role", "owner"}})), 1u);
  EXPECT_EQ(staffRoleChoice(JSONValue::object({{"role", "superadmin"}})), std::nullopt);
}

TEST(StaffEditorChecks, DepotCoordinatesAndTheFormsOwnChecks) {
  struct Case {
    const char* lat;
    const char* lon;
    std::string message;  // "" when accepted
  };
  const Case cases[] = {
      {"", "", ""},
      {"55,75", "37.6", ""},
      {"90", "-180", ""},
      {"-90", "180", ""},
      {"55.7", "", kBothCoordinates},
      {"", "37.6", kBothCoordinates},
      {"90.0001", "37", kBothCoordinates},
      {"55", "180.5", kBothCoordinates},
      {"", "восток", "«Долгота» должно быть числом."},
      {"север", "", "«Широта» должно быть числом."},
  };
  for (const Case& c : cases) {
    const Outcome out = saveOf(PanelPage::depotsAdmin, depot(c.lat, c.lon));
    EXPECT_EQ(out.message, c.message) << c.lat << " / " << c.lon;
  }
  EXPECT_EQ(saveOf(PanelPage::depotsAdmin, JSONValue::object({})).message, "Заполните поле «Название».");

  const JSONValue both = *saveOf(PanelPage::depotsAdmin, depot("", "")).body;
  EXPECT_TRUE(both["lat"].isNull());
  EXPECT_TRUE(both["lon"].isNull());
  EXPECT_EQ((*saveOf(PanelPage::depotsAdmin, depot("55,75", "37.6")).body)["lat"], JSONValue(55.75));

  // A changed depot sends the six form members and the company; its id and other members stay behind.
  JSONValue existing = depot("55.1", "37.2");
  existing.set("id", "d-1");
  existing.set("timezone", "Europe/Moscow");
  existing.set("address", "Москва, Тверская, 1");
  const JSONValue body = *saveOf(PanelPage::depotsAdmin, existing).body;
  EXPECT_EQ(body, JSONValue::decode(R"({"name": "Склад Север", "address": "Москва, Тверская, 1", "lat": 55.1,
      "lon": 37.2, "windowFrom": "08:00", "windowTo": "20:00", "companyId": "c-1"})"));
}

TEST(StaffEditorChecks, AccountPasswordDepotsAndRole) {
  const std::string required = "Заполните поле «Пароль от 8 знаков».";
  struct Case {
    std::string password;
    std::set<std::string> selected;
    std::string message;
  };
  const Case cases[] = {
      {"", {"d1"}, required},
      {"   \n ", {"d1"}, required},
      {"1234567", {"d1"}, kPasswordOrDepot},
      {"12345678", {}, kPasswordOrDepot},
      {"абвгдежз", {"d1"}, ""},
      {repeat("e\u0301", 7), {"d1"}, kPasswordOrDepot},  // 14 code points, 7 characters
      {repeat("👩‍👩‍👧", 8), {"d1"}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(saveOf(PanelPage::people, person(c.password), c.selected).message, c.message)
      << c.password;

  JSONValue untouched = person(" пароль 123 ");
  untouched.set("note", "не отправляется");
  const JSONValue body = *saveOf(PanelPage::people, untouched, {"д-2", "d-10", "d-9", "D-1"}).body;
  EXPECT_EQ(body, JSONValue::decode(R"({"fullName": "Пётр Петров", "login": "petrov", "phone": "+7 900 000-00-00",
      "password": " пароль 123 ", "companyId": "c-1", "role": "logist", "depots": ["D-1", "d-10", "d-9", "д-2"]})"));
  EXPECT_EQ(saveOf(PanelPage::people, person("12345678")).message, "");
  JSONValue nameless = person("12345678");
  nameless.set("login", " ");
  EXPECT_EQ(saveOf(PanelPage::people, nameless, {}).message, "Заполните поле «Логин».") << "the form's checks first";
}

TEST(StaffPasswordSheet, EightToTwoHundredCharactersTypedTwice) {
  struct Case {
    std::string password;
    std::string repeated;
    bool acceptable;
  };
  const Case cases[] = {
      {repeat("a", 7), repeat("a", 7), false},
      {repeat("a", 8), repeat("a", 8), true},
      {repeat("ж", 200), repeat("ж", 200), true},
      {repeat("ж", 201), repeat("ж", 201), false},
      {repeat("e\u0301", 200), repeat("e\u0301", 200), true},  // 400 code points
      {repeat("a", 8), repeat("a", 9), false},
      {repeat("é", 8), repeat("e\u0301", 8), true},  // the same text, composed and decomposed
      {"", "", false},
  };
  for (const Case& c : cases) EXPECT_EQ(passwordAcceptable(c.password, c.repeated), c.acceptable) << c.password;
}

class StaffFlows : public GatewayTest {
 protected:
  std::vector<std::string> gets() const {
    std::vector<std::string> out;
    for (const auto& call : fake.of("GET")) out.push_back(call->path);
    return out;
  }
};

TEST_F(StaffFlows, TheFirstCompanyIsChosenAndAChangeOfCompanyShowsOnlyItsOwnList) {
  auto screen = StaffScreen::create(PanelPage::people, fake.gateway());
  screen->follow();
  EXPECT_FALSE(screen->canAdd());
  EXPECT_FALSE(screen->canRefresh());
  ASSERT_EQ(gets(), std::vector<std::string>{"/staff/companies"});
  FakeGateway::finish(fake.last(), JSONValue::decode(
                                       R"({"companies": [{"id": "c-1", "name": "Альфа"}, {"id": "c2", "name": "Бета"}]})"));
  ASSERT_TRUE(spinUntil([&] { return fake.calls.size() == 2; }));
  EXPECT_EQ(screen->company(), "c-1");
  EXPECT_EQ(fake.last()->path, "/staff/people?companyId=c%2D1");
  EXPECT_TRUE(screen->canAdd());
  EXPECT_FALSE(screen->canRefresh()) << "while the list loads";
  auto first = fake.last();

  screen->setCompany("c2");
  EXPECT_TRUE(screen->rows().empty());
  ASSERT_TRUE(spinUntil([&] { return fake.calls.size() == 3; }));
  FakeGateway::finish(first, JSONValue::decode(R"({"people": [{"id": "old"}]})"));
  spinFor(20ms);
  EXPECT_TRUE(screen->rows().empty()) << "the answer for the previous company is dropped";
  FakeGateway::finish(fake.last(), JSONValue::decode(R"({"people": [{"id": "p1", "role": "owner"}]})"));
  ASSERT_TRUE(spinUntil([&] { return screen->rows().size() == 1; }));
  EXPECT_EQ(screen->rows()[0].id(), "p1");

  // A workspace change reloads the companies and keeps the chosen company without reloading its list.
  fake.generation = "g2";
  screen->follow();
  ASSERT_TRUE(spinUntil([&] { return fake.calls.size() == 4; }));
  FakeGateway::finish(fake.last(), JSONValue::decode(R"({"companies": [{"id": "c-1", "name": "Альфа"}]})"));
  spinFor(20ms);
  EXPECT_EQ(screen->company(), "c2");
  EXPECT_EQ(fake.calls.size(), 4u);

  // "Выберите компанию" empties the table and asks nothing.
  screen->setCompany("");
  spinFor(20ms);
  EXPECT_TRUE(screen->rows().empty());
  EXPECT_EQ(fake.calls.size(), 4u);
  screen->refresh();
  spinFor(20ms);
  EXPECT_EQ(fake.calls.size(), 4u);
}

TEST_F(StaffFlows, NoCompaniesOrNoWritingLeaveOnlyWhatIsAllowed) {
  auto screen = StaffScreen::create(PanelPage::depotsAdmin, fake.gateway());
  screen->follow();
  FakeGateway::fail(fake.last(), "Сервер недоступен.");
  spinFor(20ms);
  EXPECT_EQ(screen->companies()->issue(), "Сервер недоступен.");
  EXPECT_EQ(screen->company(), "");
  EXPECT_EQ(fake.calls.size(), 1u) << "no list request without a company";
  EXPECT_FALSE(screen->canAdd());
  EXPECT_FALSE(screen->canRefresh());

  screen->setCompany("c1");
  ASSERT_TRUE(spinUntil([&] { return fake.calls.size() == 2; }));
  EXPECT_EQ(fake.last()->path, "/staff/depots?companyId=c1");
  FakeGateway::finish(fake.last(), JSONValue::decode(R"({"depots": [{"id": "d1", "name": "Север"}]})"));
  ASSERT_TRUE(spinUntil([&] { return screen->rows().size() == 1; }));
  fake.canWrite = false;  // offline or the demo
  EXPECT_FALSE(screen->canAdd());
  EXPECT_FALSE(screen->canWrite());
  EXPECT_TRUE(screen->canRefresh());
  screen->add();
  screen->edit(screen->rows()[0]);
  EXPECT_FALSE(screen->adding());
  EXPECT_FALSE(screen->editing());
  fake.canWrite = true;
  screen->edit(screen->rows()[0]);
  EXPECT_EQ(screen->editing()->id(), "d1");
  screen->closeEditing();
  EXPECT_FALSE(screen->editing());
}
