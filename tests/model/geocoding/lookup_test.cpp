// The single coordinate lookup: the address memory first, then the local catalogue, then the server's geocoder
// with its spacing; an unreachable server falls back to the catalogue, a workspace change cancels.
#include <gtest/gtest.h>

#include <glib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/api/api_client.h"
#include "core/async/sleep.h"
#include "core/base/errors.h"
#include "geocoding_fixture.h"

using namespace dorvik;
using namespace dorvik::testing;
using namespace std::chrono_literals;

namespace {

JSONValue lookup(AppModel& model, const std::string& address, bool rateLimited = false) {
  return async::runBlocking(model.lookup(address, rateLimited));
}

std::string keyOf(AppModel& model, const std::string& address) { return async::runBlocking(model.addressKey(address)); }

}  // namespace

TEST_F(GeocodingWorkspace, LookupAsksTheMemoryThenTheCatalogueThenTheServer) {
  // A pending hand correction answers without the catalogue or the server.
  const std::string corrected = street(1);
  const JSONValue entry = JSONValue::object({{"address", corrected}, {"lat", 55.1}, {"lon", 37.1}, {"pinned", true}});
  model->setPendingAddresses({{keyOf(*model, corrected), entry}});
  const JSONValue remembered = JSONValue::object({{"lat", 55.1}, {"lon", 37.1}, {"value", corrected}, {"qc", "0"}});
  EXPECT_EQ(lookup(*model, corrected, true), JSONValue::object({{"found", remembered}, {"provider", "manual"}}));

  // The server's copy counts too; a decimal comma is a number, and the text is passed on as it stands.
  const std::string known = street(2);
  model->setAddressIndex(
      {{keyOf(*model, known), JSONValue::object({{"address", known}, {"lat", "55,75"}, {"lon", 37.5}})}});
  const JSONValue saved = lookup(*model, known, true);
  EXPECT_EQ(saved["provider"].string(), "saved");
  EXPECT_EQ(saved["found"]["lat"], JSONValue("55,75"));
  EXPECT_EQ(server->hits("/geo/clean"), 0u);

  // A pending entry without a usable point hides the server's copy: the geocoder is asked, and its answer is
  // passed on unchanged, the address untrimmed.
  auto pending = model->pendingAddresses();
  pending[keyOf(*model, known)] = JSONValue::object({{"address", known}, {"lat", nullptr}, {"lon", 37.5}});
  model->setPendingAddresses(pending);
  answers[known] = Answer::json(geocoderAnswer(55.2, 37.2, "из геокодера"));
  EXPECT_EQ(lookup(*model, known), geocoderAnswer(55.2, 37.2, "из геокодера"));
  ASSERT_EQ(server->hits("/geo/clean"), 1u);
  EXPECT_EQ(server->hitsOn("/geo/clean")[0].json(), JSONValue::object({{"query", known}}));

  // Online the server's answer wins even where the catalogue knows the building; offline the catalogue answers,
  // and the spacing of server requests does not move.
  answers[kCatalogueAddress] = Answer::json(geocoderAnswer(55.3, 37.3, "сервер"));
  EXPECT_EQ(lookup(*model, kCatalogueAddress)["found"]["value"].string(), "сервер");
  model->setOffline(true);
  const auto slot = model->nextGeocodingRequest();
  const JSONValue offline = lookup(*model, kCatalogueAddress, true);
  EXPECT_EQ(offline["provider"].string(), "osm");
  EXPECT_EQ(offline["found"]["lat"].doubleValue(), kCatalogueLat);
  EXPECT_EQ(offline["found"]["lon"].doubleValue(), kCatalogueLon);
  EXPECT_EQ(model->nextGeocodingRequest(), slot);
  EXPECT_EQ(server->hits("/geo/clean"), 2u);
}

TEST_F(GeocodingWorkspace, ACatalogueThatCannotBeReadFailsTheLookupBeforeTheServerIsAsked) {
  gchar* folder = g_dir_make_tmp("dorvik-catalogue-XXXXXX", nullptr);
  ASSERT_NE(folder, nullptr);
  const std::filesystem::path empty = std::filesystem::path(folder) / "geocoder.sqlite";
  g_free(folder);
  std::fclose(std::fopen(empty.c_str(), "w"));
  model->setEngine(async::runBlocking(PlannerEngine::create(empty)));
  try {
    lookup(*model, street(3), true);
    ADD_FAILURE() << "the lookup did not fail";
  } catch (const DorvikError& e) {
    EXPECT_EQ(e.message(), "Не удалось прочитать каталог адресов.");
  }
  EXPECT_EQ(server->hits("/geo/clean"), 0u);
  std::filesystem::remove_all(empty.parent_path());

  model->setEngine(nullptr);
  try {
    lookup(*model, street(3));
    ADD_FAILURE() << "the lookup did not fail";
  } catch (const DorvikError& e) {
    EXPECT_EQ(e.message(), "Каталог ещё загружается.");
  }
}

TEST_F(GeocodingWorkspace, AnUnreachableServerFallsBackToTheCatalogueAndARefusalDoesNot) {
  // The connection is closed without an answer.
  answers[kCatalogueAddress] = Answer::dropped();
  const JSONValue dropped = lookup(*model, kCatalogueAddress, true);
  EXPECT_EQ(dropped["provider"].string(), "osm");
  EXPECT_EQ(dropped["found"]["lat"].doubleValue(), kCatalogueLat);
  EXPECT_TRUE(model->offline());
  // Later lookups answer from the catalogue without trying the server.
  EXPECT_EQ(lookup(*model, kCatalogueAddress, true)["provider"].string(), "osm");
  EXPECT_EQ(server->hits("/geo/clean"), 1u);

  // A time-out: the geocoder session of this client gives up after half a second.
  model->setOffline(false);
  APIClient::Options options;
  options.persist = false;
  options.geocodingTimeouts = HttpTimeouts{std::chrono::seconds(1), 500ms};
  auto impatient = async::runBlocking(APIClient::create(server->url(), options));
  async::runBlocking(impatient->login("logist", "пароль"));
  model->setApi(impatient);
  answers[kCatalogueAddress] = Answer::json(geocoderAnswer(1, 1, "поздно")).held();
  EXPECT_EQ(lookup(*model, kCatalogueAddress)["provider"].string(), "osm");
  EXPECT_TRUE(model->offline());

  // The same failure after a sign-out is a cancellation, and the old workspace's answer is never returned.
  model->setOffline(false);
  const auto late = start(model->lookup(kCatalogueAddress, false));
  ASSERT_TRUE(spinUntil([&] { return server->hits("/geo/clean") == 3u; }));
  model->replaceGeneration();
  ASSERT_TRUE(spinUntil([&] { return late->done; }));
  EXPECT_TRUE(late->failedWith<CancelledError>());
  EXPECT_FALSE(model->offline());

  // A refusal is the server's word: it fails the lookup although the catalogue knows the building.
  answers[kCatalogueAddress] = Answer::error(500, "Геокодер недоступен");
  try {
    lookup(*model, kCatalogueAddress);
    ADD_FAILURE() << "the lookup did not fail";
  } catch (const DorvikError& e) {
    EXPECT_EQ(e.status(), 500);
    EXPECT_EQ(e.message(), "Геокодер недоступен");
  }
  server->releaseAll();
}

TEST_F(GeocodingWorkspace, RateLimitedLookupsLeaveAtLeast350MillisecondsApart) {
  const auto before = std::chrono::steady_clock::now();
  model->setNextGeocodingRequest(async::Clock::now());
  std::vector<std::shared_ptr<Outcome<JSONValue>>> lookups;
  for (int n = 1; n <= 4; ++n) lookups.push_back(start(model->lookup(street(n), true)));
  ASSERT_TRUE(spinUntil([&] {
    for (const auto& l : lookups) {
      if (!l->done) return false;
    }
    return true;
  }));
  for (int n = 1; n <= 4; ++n) {
    ASSERT_TRUE(lookups[n - 1]->ok());
    EXPECT_EQ((*lookups[n - 1]->value)["found"]["lat"].doubleValue(), streetLat(n));
  }
  // Each request leaves no earlier than its slot: 0, 350, 700 and 1050 ms after the start.
  const auto arrivals = geocoderArrivals();
  ASSERT_EQ(arrivals.size(), 4u);
  for (std::size_t i = 0; i < arrivals.size(); ++i) EXPECT_GE(arrivals[i] - before, i * 350ms) << "request " << i;
  EXPECT_GE(model->nextGeocodingRequest() - before, 1400ms);

  // A lookup cancelled while it waits for its slot never reaches the server, and its slot stays taken.
  const auto taken = model->nextGeocodingRequest();
  async::CancelToken token;
  const auto cancelled = start(model->lookup(street(5), true), token);
  ASSERT_TRUE(spinUntil([&] { return model->nextGeocodingRequest() > taken; }));
  token.cancel();
  ASSERT_TRUE(spinUntil([&] { return cancelled->done; }));
  EXPECT_TRUE(cancelled->failedWith<CancelledError>());
  spinFor(700ms);
  EXPECT_EQ(server->hits("/geo/clean"), 4u);
  EXPECT_EQ(model->nextGeocodingRequest() - taken, 350ms);
}
