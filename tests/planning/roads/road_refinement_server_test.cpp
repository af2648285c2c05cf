// Road refinement end to end against the stand-in server: a calculated day of the real planner component, its legs
// refined one request each through the model's gateway, the request bodies and headers, the workspace's usage
// counter, and the refined legs kept in the archive so that a restart does not pay for them again.
#include <gtest/gtest.h>

#include "model/planning/planning_fixture.h"
#include "planning/logic/road_refinement.h"
#include "support/async_helpers.h"
#include "support/fake_planning.h"

using namespace dorvik;
using namespace dorvik::planning;
using namespace dorvik::testing;

namespace {

class RoadRefinementServer : public PlanningWorkspace {
 protected:
  void SetUp() override {
    PlanningWorkspace::SetUp();
    model->setApi(signedInClient(server));
    model->setUser(JSONValue::object({{"id", "u1"}, {"role", "logist"}}));
    loadSample();
    ASSERT_TRUE(change("calculate", JSONValue(JSONObject{})));
    ASSERT_TRUE(model->planner()["planned"].boolValue());
  }
  std::shared_ptr<RoadRefinement> loaded() {
    auto state = RoadRefinement::create(model, modelRoadWork(model));
    async::runBlocking(state->load());
    return state;
  }
  bool ran(const std::shared_ptr<RoadRefinement>& state) {
    state->calculate();
    return spinUntil([&] { return !state->working(); });
  }
  // The legs a fresh engine lists for the plan archived in the workspace cache.
  std::size_t pendingAfterRestart() {
    auto engine = async::runBlocking(PlannerEngine::create());
    std::optional<JSONValue> archive = cached("planner");
    EXPECT_TRUE(archive.has_value());
    async::runBlocking(engine->run("load", archive.value_or(JSONValue(JSONObject{}))));
    return async::runBlocking(engine->run("pendingLegs", JSONValue(JSONObject{})))["legs"].array().size();
  }

  StandInServer server;
  RoutingDesk desk{server};
};

}  // namespace

TEST_F(RoadRefinementServer, EveryListedLegIsRefinedByOneRequestAndCounted) {
  desk.setKey(true, true);
  auto state = loaded();
  ASSERT_TRUE(state->loaded()) << state->issue().value_or("");
  EXPECT_TRUE(state->demo());
  const JSONArray legs = state->legs();
  ASSERT_GE(legs.size(), 5u) << "five orders on two routes, each back to the depot";
  ASSERT_TRUE(state->canCalculate());

  const double kmBefore = model->planner()["routes"].at(0)["km"].doubleValue().value_or(0);
  ASSERT_TRUE(ran(state));
  EXPECT_EQ(state->issue(), std::nullopt);
  EXPECT_EQ(model->status(), kRoadsDone);
  EXPECT_FALSE(model->busy());
  EXPECT_EQ(model->history().front()["title"].string(), kRoadsSnapshot);

  // One request per listed leg, in the listed order, with the listed values as they stand.
  const std::vector<Hit> hits = desk.routeHits();
  ASSERT_EQ(hits.size(), legs.size());
  for (std::size_t i = 0; i < legs.size(); ++i) {
    EXPECT_EQ(hits[i].body, routeRequest(legs[i]).data()) << i;
    EXPECT_EQ(hits[i].header("Content-Type"), "application/json");
    EXPECT_EQ(hits[i].header("Authorization"), "Bearer access-1");
  }
  EXPECT_EQ(cached(kRoutingUsage), JSONValue(static_cast<double>(legs.size())));
  EXPECT_NE(model->planner()["routes"].at(0)["km"].doubleValue().value_or(0), kmBefore)
      << "the road distances replaced the estimates";

  // Nothing is left to pay for, now or after a restart; the next sheet reads the counter.
  EXPECT_EQ(pendingAfterRestart(), 0u);
  auto again = loaded();
  EXPECT_TRUE(again->legs().empty());
  EXPECT_EQ(again->used(), static_cast<std::int64_t>(legs.size()));
  EXPECT_FALSE(again->canCalculate());
}

TEST_F(RoadRefinementServer, AServerFailureOnTheThirdLegKeepsTwoInTheArchive) {
  auto state = loaded();
  const std::size_t listed = state->legs().size();
  desk.queue(Answer::json(JSONValue::object({{"calculatedByRoads", true}, {"km", "4,5"}, {"min", 9}})));
  desk.queue(Answer::json(JSONValue::object({{"calculatedByRoads", true}, {"km", 3}, {"min", 7}})));
  desk.refuseNext(503, "Маршрутизация 2ГИС временно недоступна.");
  ASSERT_TRUE(ran(state));
  EXPECT_EQ(state->issue(), "Маршрутизация 2ГИС временно недоступна.");
  EXPECT_EQ(desk.routeHits().size(), 3u);
  EXPECT_EQ(cached(kRoutingUsage), JSONValue(3.0)) << "the refused request was paid for too";
  EXPECT_EQ(state->legs().size(), listed - 2);
  EXPECT_EQ(state->done(), 0);
  EXPECT_EQ(pendingAfterRestart(), listed - 2);
  EXPECT_FALSE(model->busy());

  // A straight-line answer stops the next run at its first leg.
  desk.straightNext();
  ASSERT_TRUE(ran(state));
  EXPECT_EQ(state->issue(), kRoadsStraight);
  EXPECT_EQ(cached(kRoutingUsage), JSONValue(4.0));
  EXPECT_EQ(state->legs().size(), listed - 2);
}

TEST_F(RoadRefinementServer, WithoutARoutingKeyNothingIsSent) {
  desk.setKey(false, false);
  auto state = loaded();
  EXPECT_EQ(state->issue(), kRoadsNoKey);
  EXPECT_FALSE(state->canCalculate());
  EXPECT_EQ(server.hits("GET", "/integrations/settings"), 1u);
  EXPECT_TRUE(desk.routeHits().empty());
}
