// Road refinement without a display or a server: the sheet's state over the model, with the gateway, the planner
// engine, the plan changes and the workspace cache played by a stand-in that keeps the legs still to refine.
#include <gtest/gtest.h>

#include <deque>

#include "core/base/errors.h"
#include "planning/logic/road_refinement.h"
#include "support/async_helpers.h"

using namespace dorvik;
using namespace dorvik::planning;
using dorvik::testing::spinFor;
using dorvik::testing::spinUntil;
using namespace std::chrono_literals;

namespace {

JSONValue leg(double a, double b) { return JSONValue::array({JSONValue::array({a, a}), JSONValue::array({b, b})}); }

// The services as the refinement sees them. The engine lists the legs of `pending` that no "roads" change took.
struct RoadDesk {
  std::shared_ptr<AppModel> model;
  JSONValue settings =
      JSONValue::object({{"routingKey", JSONValue::object({{"configured", true}})}, {"isDemo", false}});
  std::optional<std::string> settingsFailure;
  JSONArray pending;
  bool engine = true;
  bool cache = true;
  std::optional<JSONValue> usage;
  // Answers of "/geo/route" in turn; once they run out every leg is answered 2 km, 5 min. A failure answers with
  // its message.
  std::deque<std::variant<JSONValue, std::string>> replies;
  std::function<void()> onRequest;  // runs as a request is sent
  bool changesApply = true;
  std::optional<std::string> snapshotFailure;
  std::vector<std::string> calls;
};

async::Task<JSONValue> deskFetch(std::shared_ptr<RoadDesk> d, std::string path, std::string method,
                                 std::optional<JSONValue> body) {
  d->calls.push_back(method + " " + path + (body ? " " + body->data() : ""));
  co_await async::yield();
  if (path == "/integrations/settings") {
    if (d->settingsFailure) throw DorvikError(*d->settingsFailure, 500);
    co_return d->settings;
  }
  if (d->onRequest) d->onRequest();
  if (d->replies.empty()) co_return JSONValue::object({{"calculatedByRoads", true}, {"km", 2}, {"min", 5}});
  auto reply = d->replies.front();
  d->replies.pop_front();
  if (auto* failure = std::get_if<std::string>(&reply)) throw DorvikError(*failure, 502);
  co_return std::get<JSONValue>(reply);
}

async::Task<bool> deskMutate(std::shared_ptr<RoadDesk> d, std::string action, JSONValue payload) {
  d->calls.push_back("mutate " + action + " " + payload.data());
  co_await async::yield();
  if (!d->changesApply) co_return false;
  const JSONValue& done = payload["legs"].at(0);
  JSONArray left;
  for (const JSONValue& l : d->pending) {
    if (!(l.at(0) == done["from"] && l.at(1) == done["to"])) left.push_back(l);
  }
  d->pending = std::move(left);
  co_return true;
}

async::Task<void> deskSnapshot(std::shared_ptr<RoadDesk> d, std::string title) {
  d->calls.push_back("snapshot " + title);
  co_await async::yield();
  if (d->snapshotFailure) throw DorvikError(*d->snapshotFailure);
}

async::Task<JSONValue> deskEngine(std::shared_ptr<RoadDesk> d, std::string action, JSONValue) {
  d->calls.push_back("engine " + action);
  co_await async::yield();
  co_return JSONValue::object({{"legs", JSONValue(d->pending)}});
}

async::Task<std::optional<JSONValue>> deskRead(std::shared_ptr<RoadDesk> d, std::string) {
  co_await async::yield();
  co_return d->usage;
}

async::Task<void> deskWrite(std::shared_ptr<RoadDesk> d, JSONValue value, std::string name) {
  d->calls.push_back("cache " + name + " " + value.data());
  co_await async::yield();
  d->usage = value;
}

RoadWork deskWork(const std::shared_ptr<RoadDesk>& d) {
  RoadWork work;
  work.fetch = [d](std::string path, std::string method, std::optional<JSONValue> body) {
    return deskFetch(d, std::move(path), std::move(method), std::move(body));
  };
  work.mutate = [d](std::string action, JSONValue payload) {
    return deskMutate(d, std::move(action), std::move(payload));
  };
  work.saveSnapshot = [d](std::string title) { return deskSnapshot(d, std::move(title)); };
  work.hasEngine = [d] { return d->engine; };
  work.runEngine = [d](std::string action, JSONValue payload) { return deskEngine(d, std::move(action), payload); };
  work.hasCache = [d] { return d->cache; };
  work.readCache = [d](std::string name) { return deskRead(d, std::move(name)); };
  work.writeCache = [d](JSONValue value, std::string name) { return deskWrite(d, std::move(value), std::move(name)); };
  return work;
}

class RoadRefinementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    desk->model = model;
    model->replaceGeneration();
    model->setUser(JSONValue::object({{"id", "u1"}, {"role", "logist"}}));
    model->setPlanner(JSONValue::object({{"planned", true}, {"routingQuota", 10}}));
    for (int i = 1; i <= 5; ++i) desk->pending.push_back(leg(i, i + 1));
  }
  std::shared_ptr<RoadRefinement> loaded() {
    auto state = RoadRefinement::create(model, deskWork(desk));
    async::runBlocking(state->load());
    return state;
  }
  bool ran(const std::shared_ptr<RoadRefinement>& state) {
    state->calculate();
    return spinUntil([&] { return !state->working(); });
  }
  std::size_t count(const std::string& prefix) const {
    std::size_t n = 0;
    for (const std::string& call : desk->calls) n += call.rfind(prefix, 0) == 0;
    return n;
  }

  std::shared_ptr<AppModel> model = AppModel::create();
  std::shared_ptr<RoadDesk> desk = std::make_shared<RoadDesk>();
};

}  // namespace

TEST_F(RoadRefinementTest, LoadingReadsTheKeyTheCounterAndTheLegs) {
  desk->usage = JSONValue(7.0);
  auto state = loaded();
  EXPECT_TRUE(state->loaded());
  EXPECT_EQ(state->used(), 7);
  EXPECT_EQ(state->legs().size(), 5u);
  EXPECT_EQ(state->legsText(),
            "Плеч маршрута к расчёту: 5. Каждое плечо использует одно обращение к маршрутизации вашего склада.");
  EXPECT_TRUE(state->canCalculate());

  struct Case {
    JSONValue settings;
    std::optional<std::string> failure;
    bool engine;
    std::optional<std::string> issue;
  };
  const std::vector<Case> cases{
      {JSONValue::object({{"isDemo", true}}), {}, true, kRoadsNoKey},
      {JSONValue::object({{"routingKey", JSONValue::object({{"configured", false}})}}), {}, true, kRoadsNoKey},
      {JSONValue::object({{"routingKey", JSONValue::object({{"configured", "1"}})}}), {}, true, std::nullopt},
      {desk->settings, std::string("Нет доступа к настройкам."), true, std::string("Нет доступа к настройкам.")},
      {desk->settings, {}, false, std::nullopt},  // no engine: nothing loads, nothing is said
  };
  for (const Case& c : cases) {
    desk->settings = c.settings;
    desk->settingsFailure = c.failure;
    desk->engine = c.engine;
    auto other = loaded();
    EXPECT_EQ(other->issue(), c.issue) << c.settings.data();
    EXPECT_EQ(other->loaded(), c.engine && !c.issue) << c.settings.data();
    EXPECT_FALSE(other->demo()) << c.settings.data();
    if (!other->loaded()) {
      EXPECT_FALSE(other->canCalculate());
    }
  }
}

TEST_F(RoadRefinementTest, TheDemoQuotaGatesTheRun) {
  desk->settings.set("isDemo", true);
  desk->usage = JSONValue(7.0);
  desk->pending.resize(3);
  auto state = loaded();
  EXPECT_TRUE(state->demo());
  EXPECT_EQ(state->demoText(),
            "Демо-лимит на этом компьютере: 7 из 10 обращений. Учёт других устройств здесь не отражается.");
  EXPECT_TRUE(state->canCalculate()) << "7 + 3 reaches the quota exactly";
  desk->pending.push_back(leg(1, 2));
  EXPECT_FALSE(loaded()->canCalculate()) << "7 + 4 exceeds it";
  model->setPlanner(JSONValue::object({{"planned", true}}));
  desk->pending.resize(1);
  EXPECT_FALSE(loaded()->canCalculate()) << "no quota in the plan reads 0";
  desk->usage = JSONValue(9.3e18);  // both saturate to the largest count
  model->setPlanner(JSONValue::object({{"routingQuota", 9.3e18}}));
  EXPECT_FALSE(loaded()->canCalculate()) << "huge counts compare without overflowing";

  desk->settings.set("isDemo", false);
  EXPECT_TRUE(loaded()->canCalculate()) << "a paid key ignores the quota";
  model->setOffline(true);
  EXPECT_FALSE(loaded()->canCalculate()) << "the server cannot be written";
  model->setOffline(false);
  desk->pending.clear();
  EXPECT_FALSE(loaded()->canCalculate()) << "nothing to refine";
}

TEST_F(RoadRefinementTest, ARunAppliesEachLegSavesASnapshotAndFinishes) {
  desk->replies.push_back(JSONValue::object({{"calculatedByRoads", "1"}, {"km", "12,5"}, {"min", 18}}));
  desk->pending.resize(2);
  auto state = loaded();
  bool finished = false;
  auto connection =
      state->observe([&](RoadRefinement::Change c) { finished |= c == RoadRefinement::Change::finished; });
  desk->calls.clear();
  state->calculate();
  EXPECT_TRUE(model->busy());
  EXPECT_FALSE(state->canClose());
  ASSERT_TRUE(spinUntil([&] { return !state->working(); }));
  EXPECT_TRUE(finished);
  EXPECT_FALSE(model->busy());
  EXPECT_EQ(model->status(), kRoadsDone);
  EXPECT_EQ(state->done(), 2);
  EXPECT_EQ(desk->calls, (std::vector<std::string>{
                             "cache routingUsage 1",
                             R"(POST /geo/route {"points":[{"lat":1,"lon":1},{"lat":2,"lon":2}]})",
                             R"(mutate roads {"legs":[{"from":[1,1],"km":12.5,"min":18,"to":[2,2]}]})",
                             "cache routingUsage 2",
                             R"(POST /geo/route {"points":[{"lat":2,"lon":2},{"lat":3,"lon":3}]})",
                             R"(mutate roads {"legs":[{"from":[2,2],"km":2,"min":5,"to":[3,3]}]})",
                             "snapshot Уточнение по дорогам",
                         }));
}

TEST_F(RoadRefinementTest, AFailureOnTheThirdOfFiveLegsKeepsTheFirstTwoAndListsTheRest) {
  desk->replies = {JSONValue::object({{"calculatedByRoads", true}, {"km", 1}, {"min", 1}}),
                   JSONValue::object({{"calculatedByRoads", true}, {"km", 1}, {"min", 1}}),
                   std::string("Сервис маршрутов недоступен.")};
  desk->usage = JSONValue(4.0);
  auto state = loaded();
  ASSERT_TRUE(ran(state));
  EXPECT_EQ(count("mutate roads"), 2u);
  EXPECT_EQ(state->used(), 7) << "the failed request is counted";
  EXPECT_EQ(desk->usage, JSONValue(7.0));
  EXPECT_EQ(state->issue(), "Сервис маршрутов недоступен.");
  EXPECT_EQ(state->legs().size(), 3u);
  EXPECT_EQ(state->done(), 0);
  EXPECT_EQ(count("snapshot"), 0u);
  EXPECT_FALSE(model->busy());
  EXPECT_TRUE(state->canCalculate());

  // The next run starts from the legs listed now; the message stays while the sheet is open.
  ASSERT_TRUE(ran(state));
  EXPECT_EQ(count("mutate roads"), 5u);
  EXPECT_EQ(state->done(), 3);
  EXPECT_EQ(state->issue(), "Сервис маршрутов недоступен.");
}

TEST_F(RoadRefinementTest, BadLegsAndStraightLineAnswersStopTheRun) {
  // A leg of three points: stopped before its request, not counted.
  desk->pending[1] = JSONValue::array({JSONValue::array({7, 7}), JSONValue::array({8, 8}), JSONValue::array({9, 9})});
  auto state = loaded();
  ASSERT_TRUE(ran(state));
  EXPECT_EQ(state->issue(), kRoadsBadLeg);
  EXPECT_EQ(state->used(), 1);
  EXPECT_EQ(count("mutate roads"), 1u);
  EXPECT_EQ(state->legs().size(), 4u) << "the first leg stays applied, the list is read again";

  const std::vector<JSONValue> refused{
      JSONValue::object({{"calculatedByRoads", false}, {"km", 1}, {"min", 1}}),
      JSONValue::object({{"calculatedByRoads", true}, {"km", -1}, {"min", 1}}),
      JSONValue::object({{"calculatedByRoads", true}, {"km", 1}}),
      JSONValue::object({{"calculatedByRoads", true}, {"km", "nan"}, {"min", 1}}),
      JSONValue::object({{"calculatedByRoads", 0}, {"km", 1}, {"min", 1}}),
  };
  for (const JSONValue& reply : refused) {
    desk->pending = {leg(1, 2)};
    desk->replies = {reply};
    auto other = loaded();
    const std::int64_t before = other->used();
    ASSERT_TRUE(ran(other));
    EXPECT_EQ(other->issue(), kRoadsStraight) << reply.data();
    EXPECT_EQ(other->used(), before + 1) << reply.data();
    EXPECT_EQ(desk->pending.size(), 1u) << reply.data();
  }
  EXPECT_EQ(acceptedReply(JSONValue::object({{"calculatedByRoads", true}, {"km", 0}, {"min", "0,0"}}))->km, 0);
}

TEST_F(RoadRefinementTest, DeclinedChangesRefusedSnapshotsAndBlockedClicks) {
  desk->pending.resize(2);
  desk->changesApply = false;
  auto state = loaded();
  ASSERT_TRUE(ran(state));
  EXPECT_EQ(count("mutate roads"), 1u) << "a declined change ends the run";
  EXPECT_EQ(state->issue(), std::nullopt);
  EXPECT_EQ(count("engine pendingLegs"), 1u) << "no reload";
  EXPECT_EQ(count("snapshot"), 0u);

  desk->changesApply = true;
  desk->snapshotFailure = "Дождитесь сохранения текущего снимка.";
  bool finished = false;
  auto connection =
      state->observe([&](RoadRefinement::Change c) { finished |= c == RoadRefinement::Change::finished; });
  ASSERT_TRUE(ran(state));
  EXPECT_EQ(state->issue(), "Дождитесь сохранения текущего снимка.");
  EXPECT_EQ(model->status(), "");
  EXPECT_FALSE(finished);

  // Another operation holds the model busy: a click does nothing.
  model->setBusy(true);
  desk->calls.clear();
  state->calculate();
  spinFor(20ms);
  EXPECT_TRUE(desk->calls.empty());
  EXPECT_FALSE(state->working());

  // Without a cache the counter still grows, and nothing is stored.
  model->setBusy(false);
  desk->cache = false;
  desk->snapshotFailure.reset();
  desk->pending = {leg(1, 2)};
  auto uncached = loaded();
  EXPECT_EQ(uncached->used(), 0);
  ASSERT_TRUE(ran(uncached));
  EXPECT_EQ(uncached->used(), 1);
  EXPECT_EQ(count("cache"), 0u);
}

TEST_F(RoadRefinementTest, AWorkspaceChangeMidRunStopsSilentlyAndLeavesTheNewWorkspacesFlag) {
  auto state = loaded();
  desk->onRequest = [&] {
    if (count("POST /geo/route") == 2) {
      model->replaceGeneration();
      model->setBusy(true);  // the new workspace's own operation
    }
  };
  ASSERT_TRUE(ran(state));
  EXPECT_EQ(count("mutate roads"), 1u);
  EXPECT_EQ(count("engine pendingLegs"), 1u) << "no reload for another workspace";
  EXPECT_EQ(state->issue(), std::nullopt);
  EXPECT_TRUE(model->busy());
  EXPECT_EQ(state->done(), 1);
}
