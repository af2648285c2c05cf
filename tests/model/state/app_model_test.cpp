#include <gtest/gtest.h>

#include <vector>

#include "model/app_model.h"

using namespace dorvik;
using Property = AppModel::Property;

namespace {
struct Recorder {
  std::vector<Property> seen;
  AppModel::Connection connection;
  explicit Recorder(AppModel& model) {
    connection = model.observe([this](Property p) { seen.push_back(p); });
  }
  int count(Property p) const { return static_cast<int>(std::count(seen.begin(), seen.end(), p)); }
};
}  // namespace

TEST(AppModelState, StartsEmpty) {
  auto model = AppModel::create();
  EXPECT_EQ(model->page(), PanelPage::planning);
  EXPECT_TRUE(model->planner().isObject());
  EXPECT_EQ(model->planner().size(), 0u);
  EXPECT_TRUE(model->user().isNull());
  EXPECT_EQ(model->status(), "");
  EXPECT_FALSE(model->error());
  EXPECT_FALSE(model->busy() || model->geocoding() || model->offline() || model->preview());
  EXPECT_EQ(model->mutation(), 0);
  EXPECT_EQ(model->engine(), nullptr);
  EXPECT_EQ(model->generation().size(), 36u);
  EXPECT_NE(AppModel::create()->generation(), model->generation());
}

TEST(AppModelState, NotifiesOnlyRealChangesExceptHandlesAndTheCounter) {
  auto model = AppModel::create();
  Recorder rec(*model);
  model->setStatus("Готово");
  model->setStatus("Готово");
  EXPECT_EQ(rec.count(Property::status), 1);
  model->setPlanner(JSONValue::object({{"orders", JSONValue::array({})}}));
  model->setPlanner(JSONValue::object({{"orders", JSONValue::array({})}}));
  EXPECT_EQ(rec.count(Property::planner), 1);
  model->setPage(std::nullopt);
  EXPECT_EQ(model->page(), std::nullopt);
  model->setEngine(nullptr);
  model->setEngine(nullptr);
  EXPECT_EQ(rec.count(Property::engine), 2);
  model->incrementMutation();
  model->incrementMutation();
  EXPECT_EQ(model->mutation(), 2);
  EXPECT_EQ(rec.count(Property::mutation), 2);
}

TEST(AppModelState, AFlagOfAnOlderWorkspaceReadsAsClear) {
  auto model = AppModel::create();
  Recorder rec(*model);
  model->setBusy(true);
  model->setGeocoding(true);
  EXPECT_TRUE(model->busy());
  model->replaceGeneration();
  EXPECT_FALSE(model->busy());
  EXPECT_FALSE(model->geocoding());
  EXPECT_EQ(rec.count(Property::busy), 2) << "set, then cleared by the workspace change";
  // A late release by the old workflow changes nothing for the new workspace.
  model->setBusy(true);
  EXPECT_TRUE(model->busy());
}

TEST(AppModelState, DerivedPlanValues) {
  auto model = AppModel::create();
  model->setPlanner(JSONValue::decode(R"({
    "orders": [
      {"_nativeID": "a", "lat": "55,75", "lon": 37.6},
      {"lat": 55.7, "lon": null},
      {"_nativeID": "c", "orderId": "X-1", "lat": 200, "lon": 37}
    ],
    "routes": [{"ci": 3}, {"name": "R"}]
  })"));
  EXPECT_EQ(model->orderIDs(), (std::vector<std::string>{"a", "", "c"}));
  auto orders = model->orders();
  ASSERT_EQ(orders.size(), 3u);
  EXPECT_EQ(orders[0].id(), "a");
  EXPECT_EQ(orders[2].id(), "//X-1");
  EXPECT_EQ(model->missingCoordinates(), 2) << "the order whose lon is null and the one out of range: the pins' rule";
  auto routes = model->routes();
  EXPECT_EQ(routes[0].fallbackID, "3");
  EXPECT_EQ(routes[1].fallbackID, "");

  model->setPlanner(JSONValue("not a plan"));
  EXPECT_TRUE(model->orders().empty());
  EXPECT_EQ(model->missingCoordinates(), 0);
}

TEST(AppModelState, CanWriteServerNeedsAUserOnlineOutsideTheDemo) {
  auto model = AppModel::create();
  EXPECT_FALSE(model->canWriteServer());
  model->setUser(JSONValue::object({{"id", 1}}));
  EXPECT_TRUE(model->canWriteServer());
  model->setOffline(true);
  EXPECT_FALSE(model->canWriteServer());
  model->setOffline(false);
  model->setPreview(true);
  EXPECT_FALSE(model->canWriteServer());
}

TEST(AppModelState, AnObserverMayDisconnectWhileBeingTold) {
  auto model = AppModel::create();
  int calls = 0;
  AppModel::Connection connection;
  connection = model->observe([&](Property) {
    ++calls;
    connection.disconnect();
  });
  model->setStatus("a");
  model->setStatus("b");
  EXPECT_EQ(calls, 1);
}

TEST(AppModelState, APageTheNewProfileCannotSeeGivesWayToPlanning) {
  struct Case {
    PanelPage page;
    const char* role;
    PanelPage shown;
  };
  for (const Case& c :
       {Case{PanelPage::people, "superadmin", PanelPage::people}, Case{PanelPage::people, "admin", PanelPage::planning},
        Case{PanelPage::companies, "logist", PanelPage::planning},
        Case{PanelPage::depotsAdmin, "Superadmin", PanelPage::planning},
        Case{PanelPage::reports, "logist", PanelPage::reports}}) {
    auto model = AppModel::create();
    model->setUser(JSONValue::object({{"role", "superadmin"}}));
    model->setPage(c.page);
    // The next profile (after a sign-out, which keeps the page) decides.
    model->setUser(JSONValue());
    Recorder rec(*model);
    PanelPage toldWith = PanelPage::settings;
    auto told = model->observe([&](Property p) {
      if (p == Property::user) toldWith = model->page().value_or(PanelPage::settings);
    });
    model->setUser(JSONValue::object({{"role", c.role}}));
    EXPECT_EQ(model->page(), c.shown) << c.role;
    // Whoever learns of the new profile already finds the page it may show.
    EXPECT_EQ(toldWith, c.shown) << c.role;
    EXPECT_EQ(rec.count(Property::page), c.shown == c.page ? 0 : 1);
  }
}

TEST(AppModelState, TheServerAnsweringAgainIsTheNewsOfASignedInWorkspaceOnly) {
  struct Case {
    bool signedIn;
    bool preview;
    bool wasOffline;
    const char* status;
  };
  for (const Case& c : {Case{true, false, true, "Связь с сервером восстановлена."},
                        Case{true, false, false, "Нет связи с сервером. Работаем с сохранёнными адресами."},
                        Case{false, false, true, "Нет связи с сервером. Работаем с сохранёнными адресами."},
                        Case{true, true, true, "Нет связи с сервером. Работаем с сохранёнными адресами."}}) {
    auto model = AppModel::create();
    if (c.signedIn) model->setUser(JSONValue::object({{"role", "logist"}}));
    model->setPreview(c.preview);
    model->setOffline(c.wasOffline);
    model->setStatus("Нет связи с сервером. Работаем с сохранёнными адресами.");
    model->setOffline(false);
    EXPECT_EQ(model->status(), c.status) << c.signedIn << c.preview << c.wasOffline;
  }
}
