// The batch search over the plan's orders: one lookup per address, four at most in flight, results written in
// batches and never into an order edited meanwhile; stopping keeps what was written; a sign-out leaves the new
// workspace alone.
#include <glib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "geocoding_fixture.h"

using namespace dorvik;
using namespace dorvik::testing;
using namespace std::chrono_literals;

namespace {

bool startsWith(const std::string& text, const std::string& head) { return text.rfind(head, 0) == 0; }

}  // namespace

TEST_F(GeocodingWorkspace, BatchSearchAppliesResultsInBatchesAndSparesAnOrderEditedMeanwhile) {
  std::vector<JSONValue> orders;
  for (int n = 1; n <= 10; ++n) orders.push_back(orderAt("A" + std::to_string(n), street(n)));
  orders.push_back(orderAt("B1", street(1)));  // B1 and B2 share the addresses of A1 and A2
  orders.push_back(orderAt("B2", street(2)));
  orders.push_back(orderAt("C1", "  ab "));  // too short once trimmed
  const std::vector<std::string> ids = loadOrders(orders);
  ASSERT_EQ(ids.size(), 13u);
  const std::string edited = ids[4];  // A5
  answers[street(5)] = houseAnswer(5).held();

  std::vector<std::size_t> batches;
  auto watch = model->observe([&](AppModel::Property p) {
    if (p == AppModel::Property::planner && model->planner().contains("appliedIDs")) {
      batches.push_back(model->planner()["appliedIDs"].size());
    }
  });

  const auto begun = std::chrono::steady_clock::now();
  const auto run = start(model->geocode());
  EXPECT_TRUE(model->geocoding());
  EXPECT_EQ(model->geocodingTotal(), 13);
  EXPECT_EQ(model->status(), "Подготавливаем поиск: 13 заказов…");

  // While A5's address is being looked up, the user edits A5.
  ASSERT_TRUE(spinUntil([&] { return server->held("/geo/clean") == 1u; }));
  ASSERT_TRUE(async::runBlocking(model->patchOrder(edited, JSONValue::object({{"window", "12:00-13:00"}}))));
  server->releaseAll();
  ASSERT_TRUE(spinUntil([&] { return run->done; }, 30s));
  ASSERT_TRUE(run->ok());

  // One lookup per address; the short one is not looked up.
  EXPECT_EQ(server->hits("/geo/clean"), 10u);
  const auto arrivals = geocoderArrivals();
  for (std::size_t i = 0; i < arrivals.size(); ++i) EXPECT_GE(arrivals[i] - begun, i * 350ms) << "request " << i;

  EXPECT_FALSE(model->geocoding());
  EXPECT_EQ(model->geocodingCompleted(), 13);
  EXPECT_EQ(model->geocodingFound(), 11);
  EXPECT_EQ(model->geocodingReview(), 1);
  EXPECT_EQ(model->status(), "Поиск завершён. Проверено 13 из 13. Найдено: 11. Уточнить: 1.");
  EXPECT_EQ(model->error(), std::nullopt);

  for (std::size_t i = 0; i < ids.size(); ++i) {
    const JSONValue& o = order(ids[i]);
    if (ids[i] == edited || i == 12) {
      EXPECT_FALSE(o["lat"].doubleValue().has_value()) << ids[i];
      continue;
    }
    const int house = i < 10 ? static_cast<int>(i) + 1 : static_cast<int>(i) - 9;
    EXPECT_EQ(o["lat"].doubleValue(), streetLat(house)) << ids[i];
    EXPECT_EQ(o["lon"].doubleValue(), streetLon(house)) << ids[i];
    EXPECT_EQ(o["source"].string(), "dadata") << ids[i];
    EXPECT_EQ(o["found"].string(), "г Москва, " + street(house)) << ids[i];
  }
  EXPECT_EQ(order(edited)["window"].string(), "12:00-13:00");

  // Written in batches: the first as soon as eight were accepted, the rest at the end.
  ASSERT_GE(batches.size(), 2u);
  EXPECT_GE(batches.front(), 8u);
  std::size_t applied = 0;
  for (std::size_t size : batches) applied += size;
  EXPECT_EQ(applied, 11u);

  // The accepted addresses are remembered (not A5's) and stored in the workspace cache.
  EXPECT_EQ(model->pendingAddresses().size(), 9u);
  for (const auto& [key, entry] : model->pendingAddresses()) {
    EXPECT_NE(entry["address"].string(), street(5));
    EXPECT_EQ(entry["source"].string(), "dadata");
  }
  const auto stored = async::runBlocking(cache->read("pendingAddresses"));
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->size(), 9u);
  // Then one upload goes out.
  EXPECT_TRUE(spinUntil([&] { return server->hits("/panel/addresses") == 1u; }));
}

TEST_F(GeocodingWorkspace, TheAcceptedOrdersAreTheOnesTheSavedBatchReports) {
  // As soon as a batch is in the plan, another change replaces the document before the batch's own change has
  // finished storing it. The found count and the remembered addresses still follow the batch.
  std::vector<JSONValue> orders;
  for (int n = 1; n <= 8; ++n) orders.push_back(orderAt("A" + std::to_string(n), street(n)));
  loadOrders(orders);
  std::shared_ptr<Outcome<bool>> dated;
  auto watch = model->observe([&](AppModel::Property p) {
    if (p == AppModel::Property::planner && !dated && model->planner()["appliedIDs"].size() > 0) {
      dated = start(model->mutate("date", JSONValue::object({{"date", "2026-12-10"}})));
    }
  });
  const auto run = start(model->geocode());
  ASSERT_TRUE(spinUntil([&] { return run->done; }, 30s));
  ASSERT_TRUE(dated && dated->done);
  EXPECT_EQ(dated->value, std::optional<bool>(true));
  EXPECT_FALSE(model->planner().contains("appliedIDs"));
  EXPECT_EQ(model->planner()["routeDate"].string(), "2026-12-10");
  EXPECT_EQ(model->geocodingFound(), 8);
  EXPECT_EQ(model->pendingAddresses().size(), 8u);
  EXPECT_EQ(model->missingCoordinates(), 0);

  // Nothing left to search: the message stays.
  async::runBlocking(model->geocode());
  EXPECT_EQ(model->status(), "У всех выбранных заказов уже есть координаты.");
  EXPECT_FALSE(model->geocoding());
  // A chosen order is searched again although it has coordinates; its address is now remembered, so the
  // server is not asked.
  const std::size_t asked = server->hits("/geo/clean");
  async::runBlocking(model->geocode(std::vector<std::string>{model->orderIDs()[0]}));
  EXPECT_EQ(model->status(), "Поиск завершён. Проверено 1 из 1. Найдено: 1. Уточнить: 0.");
  EXPECT_EQ(server->hits("/geo/clean"), asked);
}

TEST_F(GeocodingWorkspace, TheFirstRequestLeavesAfterAFewTurnsOfTheMainLoopHoweverLargeThePlan) {
  // A window being drawn makes every turn of the main loop last a frame: the search must not take a turn (a trip
  // to the engine) per order before its first request.
  std::vector<JSONValue> orders;
  for (int n = 1; n <= 400; ++n) orders.push_back(orderAt("A" + std::to_string(n), street(n)));
  loadOrders(orders);
  const auto run = start(model->geocode());
  int turns = 0;
  while (server->hits("/geo/clean") == 0 && turns < 10000) turns += g_main_context_iteration(nullptr, TRUE) ? 1 : 0;
  EXPECT_LT(turns, 150);
  model->stopGeocoding();
  ASSERT_TRUE(spinUntil([&] { return run->done; }, 30s));
}

TEST_F(GeocodingWorkspace, AtMostFourLookupsAreInFlight) {
  std::vector<JSONValue> orders;
  for (int n = 1; n <= 6; ++n) orders.push_back(orderAt("A" + std::to_string(n), street(n)));
  loadOrders(orders);
  for (int n = 1; n <= 4; ++n) answers[street(n)] = houseAnswer(n).held();

  const auto run = start(model->geocode());
  ASSERT_TRUE(spinUntil([&] { return server->held("/geo/clean") == 4u; }));
  // The fifth slot has long come: still nobody else asks while four wait.
  spinFor(1000ms);
  EXPECT_EQ(server->hits("/geo/clean"), 4u);
  EXPECT_EQ(model->geocodingCompleted(), 0);
  server->release("/geo/clean");
  ASSERT_TRUE(spinUntil([&] { return run->done; }, 30s));
  EXPECT_EQ(server->hits("/geo/clean"), 6u);
  EXPECT_EQ(model->geocodingFound(), 6);
}

TEST_F(GeocodingWorkspace, ANetworkFailureDuringTheSearchFallsBackToTheCatalogue) {
  const std::vector<std::string> ids = loadOrders({orderAt("A1", kCatalogueAddress), orderAt("A2", street(7))});
  answers[kCatalogueAddress] = Answer::dropped();
  answers[street(7)] = Answer::dropped();
  const auto run = start(model->geocode());
  ASSERT_TRUE(spinUntil([&] { return run->done; }, 30s));
  EXPECT_TRUE(model->offline());
  EXPECT_EQ(order(ids[0])["lat"].doubleValue(), kCatalogueLat);
  EXPECT_EQ(order(ids[0])["lon"].doubleValue(), kCatalogueLon);
  EXPECT_EQ(order(ids[0])["source"].string(), "osm");
  // The catalogue does not know the second building: it waits for a manual check.
  EXPECT_FALSE(order(ids[1])["lat"].doubleValue().has_value());
  EXPECT_EQ(model->status(), "Поиск завершён. Проверено 2 из 2. Найдено: 1. Уточнить: 1.");
  EXPECT_EQ(model->error(), std::nullopt);
}

TEST_F(GeocodingWorkspace, StopEndsTheSearchAndKeepsWhatWasApplied) {
  std::vector<JSONValue> orders;
  for (int n = 1; n <= 11; ++n) orders.push_back(orderAt("A" + std::to_string(n), street(n)));
  const std::vector<std::string> ids = loadOrders(orders);
  for (int n : {10, 11}) answers[street(n)] = houseAnswer(n).held();

  const auto run = start(model->geocode());
  // Eight results are in the plan and a ninth waits in the buffer when the user stops.
  ASSERT_TRUE(spinUntil([&] { return model->geocodingCompleted() == 9 && server->held("/geo/clean") == 2u; }, 30s));
  EXPECT_EQ(model->geocodingFound(), 8);
  model->stopGeocoding();
  EXPECT_TRUE(model->geocodingStopping());
  EXPECT_EQ(model->status(), "Останавливаем поиск. Сохраняем уже найденные координаты…");
  ASSERT_TRUE(spinUntil([&] { return run->done; }, 30s));

  EXPECT_TRUE(startsWith(model->status(), "Поиск остановлен. Проверено 9 из 11. Найдено: 9.")) << model->status();
  EXPECT_EQ(model->error(), std::nullopt);
  EXPECT_FALSE(model->geocoding());
  EXPECT_FALSE(model->geocodingStopping());
  for (int n = 1; n <= 11; ++n) {
    EXPECT_EQ(order(ids[n - 1])["lat"].doubleValue().has_value(), n <= 9) << n;
  }
  EXPECT_EQ(server->hits("/geo/clean"), 11u);
  EXPECT_EQ(model->pendingAddresses().size(), 9u);
  // A stopped search starts no upload.
  spinFor(300ms);
  EXPECT_EQ(server->hits("/panel/addresses"), 0u);
}

TEST_F(GeocodingWorkspace, ASignOutDuringTheSearchLeavesTheNewWorkspaceAlone) {
  const std::vector<std::string> ids = loadOrders({orderAt("A1", street(1)), orderAt("A2", street(2))});
  for (int n : {1, 2}) answers[street(n)] = houseAnswer(n).delayed(1000ms);
  const JSONValue plan = model->planner();
  const auto run = start(model->geocode());
  ASSERT_TRUE(spinUntil([&] { return server->hits("/geo/clean") >= 1u; }));
  model->replaceGeneration();
  model->setStatus("Новое рабочее место");
  ASSERT_TRUE(spinUntil([&] { return run->done; }, 30s));
  EXPECT_EQ(model->planner(), plan);
  EXPECT_EQ(model->status(), "Новое рабочее место");
  EXPECT_EQ(model->error(), std::nullopt);
  EXPECT_TRUE(model->pendingAddresses().empty());
}
