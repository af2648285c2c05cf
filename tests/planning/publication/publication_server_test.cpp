// The publication dialog's logic over the real model, planner components and API client, against the stand-in
// server's published plans: each mode in turn as the server's answer allows it, and a send whose answer was lost
// sent again without publishing anything twice.
#include <gtest/gtest.h>

#include "model/planning/planning_fixture.h"
#include "planning/logic/publication.h"
#include "support/async_helpers.h"
#include "support/fake_plans.h"
#include "support/stand_in_server.h"

using namespace dorvik;
using namespace dorvik::planning;
using namespace dorvik::testing;

namespace {

class PublishingDay : public PlanningWorkspace {
 protected:
  void SetUp() override {
    PlanningWorkspace::SetUp();
    model->setApi(signedInClient(server));
    model->setUser(JSONValue::object({{"id", "u1"}, {"role", "logist"}, {"fullName", "Анна Логист"}}));
    loadSample();
    ASSERT_TRUE(change("calculate", JSONValue::object({})));
    // One order on the second courier: two routes to publish.
    ASSERT_TRUE(change("assign", JSONValue::object({{"indices", JSONValue::array({4})}, {"vehicle", 1}})));
    routes = model->routes().size();
    ASSERT_GE(routes, 2u);
  }

  // The dialog as shown: its check has answered.
  std::shared_ptr<Publication> open() {
    auto dialog = Publication::create(publicationWork(model));
    dialog->check(model->planner()["routeDate"].string());
    EXPECT_TRUE(spinUntil([&] { return !dialog->busy(); }));
    return dialog;
  }
  // Sends in the mode; true when the dialog closed on success.
  bool send(const std::shared_ptr<Publication>& dialog, const std::string& mode) {
    bool closed = false;
    auto connection = dialog->observe([&](Publication::Change c) { closed |= c == Publication::Change::dismissed; });
    dialog->setMode(mode);
    EXPECT_EQ(dialog->mode(), mode);
    dialog->send();
    EXPECT_TRUE(spinUntil([&] { return !dialog->busy(); }));
    return closed;
  }
  static std::vector<std::string> offered(const Publication& dialog) {
    std::vector<std::string> tags;
    for (const PublicationMode& mode : offeredModes(dialog.existing())) tags.push_back(mode.tag);
    return tags;
  }

  StandInServer server;
  FakePlans plans{server};
  std::size_t routes = 0;
  const std::string date = "2026-09-22";
};

}  // namespace

TEST_F(PublishingDay, EachModeAsTheServersAnswerAllowsIt) {
  auto dialog = open();
  EXPECT_EQ(serverLine(dialog->existing()), "На сервере: 0. С отметками курьеров: 0.");
  EXPECT_EQ(offered(*dialog), (std::vector<std::string>{"append", "keepStarted", "replace"}));
  ASSERT_TRUE(send(dialog, "replace"));
  EXPECT_EQ(plans.routes(date).size(), routes);
  EXPECT_EQ(model->status(), "План отправлен курьерам.");

  dialog = open();
  EXPECT_EQ(serverLine(dialog->existing()), "На сервере: " + std::to_string(routes) + ". С отметками курьеров: 0.");
  ASSERT_TRUE(send(dialog, "append"));
  EXPECT_EQ(plans.routes(date).size(), 2 * routes) << "appended beside the routes already there";

  // A courier marks progress on the first route (both copies carry its name): replacing is no longer offered,
  // keeping the started routes is.
  const std::string started = plans.routes(date)[0].route["externalRouteId"].string();
  plans.markStarted(date, started);
  dialog = open();
  EXPECT_EQ(serverLine(dialog->existing()), "На сервере: " + std::to_string(2 * routes) + ". С отметками курьеров: 2.");
  EXPECT_EQ(offered(*dialog), (std::vector<std::string>{"append", "keepStarted"}));
  dialog->setMode("replace");
  EXPECT_EQ(dialog->mode(), "append");
  ASSERT_TRUE(send(dialog, "keepStarted"));
  const std::vector<FakePlans::Route> kept = plans.routes(date);
  ASSERT_EQ(kept.size(), 2 + routes - 1) << "the started routes stay, the others are the plan's";
  EXPECT_TRUE(kept[0].started && kept[1].started);
  for (std::size_t i = 2; i < kept.size(); ++i) EXPECT_NE(kept[i].route["externalRouteId"].string(), started);

  for (const Hit& hit : server.hitsOn("/plans/existing")) EXPECT_EQ(hit.query, "date=" + date);
}

TEST_F(PublishingDay, ASendWhoseAnswerWasLostIsSentAgainWithoutPublishingTwice) {
  plans.dropNextAnswer();
  auto dialog = open();
  EXPECT_FALSE(send(dialog, "append"));
  ASSERT_TRUE(dialog->issue().has_value()) << "the lost answer is a failure to the user";
  EXPECT_EQ(dialog->phase(), Publication::Phase::ready);
  EXPECT_EQ(dialog->mode(), "append");
  EXPECT_EQ(plans.imports(), 1u) << "the server took it nonetheless";

  EXPECT_TRUE(send(dialog, "append"));
  EXPECT_EQ(plans.imports(), 1u);
  EXPECT_EQ(plans.routes(date).size(), routes) << "nothing published twice";
  const std::vector<Hit> posts = server.hitsOn("/plans/import");
  ASSERT_EQ(posts.size(), 2u);
  EXPECT_EQ(posts[0].header("Idempotency-Key"), posts[1].header("Idempotency-Key"));
  EXPECT_EQ(posts[0].body, posts[1].body);
}
