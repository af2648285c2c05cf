// The staff pages over the real application model against the stand-in server: the superadmin lists a company's
// accounts and depots, creates an account, resets its password (the account then signs in with it), creates and
// changes a depot; typed passwords reach neither the log nor the workspace cache. A logist is refused by the server.
#include <gtest/gtest.h>
#include <glib.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "admin/logic/staff.h"
#include "core/cache/encrypted_cache.h"
#include "model/app_model.h"
#include "support/async_helpers.h"
#include "support/fake_staff.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::admin;
using namespace dorvik::testing;

namespace {

// Every message logged while the suite runs, at any level.
std::vector<std::string>& logged() {
  static std::vector<std::string> messages;
  return messages;
}

GLogWriterOutput keepMessage(GLogLevelFlags level, const GLogField* fields, gsize count, gpointer) {
  for (gsize i = 0; i < count; ++i)
    if (g_strcmp0(fields[i].key, "MESSAGE") == 0 && fields[i].value)
      logged().emplace_back(static_cast<const char*>(fields[i].value),
                            fields[i].length < 0 ? std::strlen(static_cast<const char*>(fields[i].value))
                                                 : static_cast<std::size_t>(fields[i].length));
  return g_log_writer_default(level, fields, count, nullptr);
}

class StaffOverTheServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { g_log_set_writer_func(keepMessage, nullptr, nullptr); }

  void SetUp() override {
    desk.companies() = JSONValue::decode(R"([{"id": "c-1", "name": "Альфа"}, {"id": "c2", "name": "Бета"}])");
    desk.depots() = JSONValue::decode(R"([{"id": "d-1", "companyId": "c-1", "name": "Север", "windowFrom": "08:00"},
        {"id": "d-2", "companyId": "c-1", "name": "Юг"}, {"id": "d-3", "companyId": "c2", "name": "Чужой"}])");
  }

  void signIn(const std::string& role) {
    model->setCache(freshCache());
    model->setApi(desk.signIn(role));
    model->setUser(StaffDesk::user(role));
  }

  std::shared_ptr<StaffScreen> screen(PanelPage page) {
    auto made = StaffScreen::create(page, modelGateway(model));
    made->follow();
    auto answered = [](const ScreenData& data) {
      return !data.loading() && (!data.value().isNull() || data.issue().has_value());
    };
    // Done when a company was chosen and its list answered, or when there is no company to choose.
    EXPECT_TRUE(spinUntil([&] {
      if (!answered(*made->companies())) return false;
      if (made->company().empty()) return firstCompany(made->companies()->value()).empty();
      return answered(*made->state());
    }));
    return made;
  }

  std::shared_ptr<StaffEditor> editor(const std::shared_ptr<StaffScreen>& list, const JSONValue& value = {}) {
    std::weak_ptr<StaffScreen> weak = list;
    auto made = StaffEditor::create(
        list->page(), list->company(), value, [weak] { return StaffScreen::reload(weak); }, modelGateway(model));
    made->prepare();
    return made;
  }

  // Runs a sheet's save to its end: true when the sheet asked to close, false once it reported an issue.
  template <class Sheet>
  bool saved(const std::shared_ptr<Sheet>& sheet) {
    bool closed = false;
    bool refused = false;
    auto connection = sheet->observe([&](typename Sheet::Change change) {
      if (change == Sheet::Change::dismissed) closed = true;
    });
    auto issues = sheet->state()->observe([&](ScreenData::Property property) {
      if (property == ScreenData::Property::issue && sheet->state()->issue()) refused = true;
    });
    sheet->save();
    EXPECT_TRUE(spinUntil([&] { return closed || refused; }));
    return closed;
  }

  Hit lastHit(const std::string& method, const std::string& path) const {
    Hit found;
    for (const Hit& hit : server.allHits())
      if (hit.method == method && hit.path == path) found = hit;
    return found;
  }

  StandInServer server;
  StaffDesk desk{server};
  std::shared_ptr<AppModel> model = AppModel::create();
};

}  // namespace

TEST_F(StaffOverTheServer, TheSuperadminCreatesAnAccountResetsItsPasswordAndKeepsDepots) {
  signIn("superadmin");
  const std::string typed = "Первый-пароль 1";
  const std::string renewed = "Второй пароль 2";

  auto people = screen(PanelPage::people);
  EXPECT_EQ(people->company(), "c-1");
  auto created = editor(people);
  ASSERT_TRUE(spinUntil([&] { return created->depotRows().size() == 2; })) << "only the company's depots";
  for (const auto& [key, value] : {std::pair{"fullName", "Пётр Петров"}, std::pair{"login", "petrov"},
                                   std::pair{"phone", "+7 900 000-00-01"}})
    created->value()->set(key, value);
  created->value()->set("password", typed);
  created->setDepot("d-2", true);
  created->setDepot("d-1", true);
  ASSERT_TRUE(saved(created)) << created->state()->issue().value_or("");
  EXPECT_EQ(lastHit("POST", "/staff/people").json(),
            JSONValue::object({{"fullName", "Пётр Петров"}, {"login", "petrov"}, {"phone", "+7 900 000-00-01"},
                               {"password", typed}, {"companyId", "c-1"}, {"role", "logist"},
                               {"depots", JSONValue::array({"d-1", "d-2"})}}));
  ASSERT_EQ(people->rows().size(), 1u) << "the list reloaded before the sheet closed";
  const Record account = people->rows()[0];

  auto reset = PasswordReset::create(account, modelGateway(model));
  reset->setPassword(renewed);
  reset->setRepeated(renewed);
  ASSERT_TRUE(saved(reset)) << reset->state()->issue().value_or("");
  EXPECT_EQ(lastHit("POST", "/staff/people/" + account.id() + "/password").json(),
            JSONValue::object({{"password", renewed}}));
  // The account signs in with its new password, no longer with the first.
  EXPECT_NO_THROW(desk.signIn("petrov", renewed));
  EXPECT_ANY_THROW(desk.signIn("petrov", typed));

  // Depots: a new one with a decimal comma, then a change.
  auto depots = screen(PanelPage::depotsAdmin);
  ASSERT_EQ(depots->rows().size(), 2u);
  auto added = editor(depots);
  added->value()->set("name", "Восток");
  added->value()->set("lat", "55,75");
  added->value()->set("lon", "37.8");
  ASSERT_TRUE(saved(added)) << added->state()->issue().value_or("");
  EXPECT_EQ(lastHit("POST", "/staff/depots").json()["lat"], JSONValue(55.75));
  EXPECT_EQ(depots->rows().size(), 3u);

  auto changed = editor(depots, depots->rows()[0].value);
  changed->value()->set("windowTo", "21:30");
  ASSERT_TRUE(saved(changed)) << changed->state()->issue().value_or("");
  EXPECT_FALSE(lastHit("PATCH", "/staff/depots/d-1").json().contains("id"));
  EXPECT_EQ(depots->rows()[0].value["windowTo"], JSONValue("21:30"));

  // Nothing typed as a password was logged, and only GET answers were cached.
  for (const std::string& message : logged()) {
    EXPECT_EQ(message.find(typed), std::string::npos) << message;
    EXPECT_EQ(message.find(renewed), std::string::npos) << message;
  }
  std::set<std::string> expected;
  for (const std::string& path : {std::string("/staff/companies"), staffListPath(PanelPage::people, "c-1"),
                                  staffListPath(PanelPage::depotsAdmin, "c-1")})
    expected.insert(EncryptedCache::entryFileName(path));
  spinFor(std::chrono::milliseconds(200));  // the cache writes its last entry
  std::set<std::string> cached;
  for (const auto& entry : std::filesystem::directory_iterator(model->cache()->folder()))
    cached.insert(entry.path().filename().string());
  EXPECT_EQ(cached, expected);
}

TEST_F(StaffOverTheServer, ALogistIsRefusedAndKeepsWhatItTyped) {
  signIn("logist");
  auto people = screen(PanelPage::people);
  EXPECT_EQ(people->companies()->issue(), StaffDesk::kForbidden);
  EXPECT_EQ(server.hits("GET", "/staff/people"), 0u) << "no list without a company";
  EXPECT_FALSE(people->canAdd());

  desk.people() = JSONValue::decode(R"([{"id": "p-1", "companyId": "c-1", "login": "petrov"}])");
  auto reset = PasswordReset::create(Record(desk.people().at(0), ""), modelGateway(model));
  reset->setPassword("пароль-логиста");
  reset->setRepeated("пароль-логиста");
  EXPECT_FALSE(saved(reset));
  EXPECT_EQ(reset->state()->issue(), StaffDesk::kForbidden);
  EXPECT_EQ(reset->password(), "пароль-логиста") << "the entries stay";
  EXPECT_EQ(desk.password("p-1"), std::nullopt);
}
