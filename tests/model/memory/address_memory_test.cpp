// The address memory with the real planner components: who may replace an entry, the learned names, the hand
// correction of a plan order, and what reaches the workspace cache.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "model/planning/planning_fixture.h"
#include "support/async_helpers.h"

namespace dorvik::testing {
namespace {

const std::string kAddress = "Москва, Тверская улица, 6, кв. 5";

class AddressMemory : public PlanningWorkspace {
 protected:
  std::string key(const std::string& address) { return async::runBlocking(model->addressKey(address)); }
  void remember(const std::string& address, double lat, double lon, const std::string& source,
                const std::string& name = "", bool persist = false) {
    async::runBlocking(model->remember(address, lat, lon, source, name, false, persist));
  }
  JSONValue pending(const std::string& address) {
    auto found = model->pendingAddresses().find(key(address));
    return found == model->pendingAddresses().end() ? JSONValue() : found->second;
  }
};

TEST_F(AddressMemory, AHandMadeEntryIsReplacedOnlyByAnotherHandCorrection) {
  remember(kAddress, 55.76, 37.60, "manual", "Кофейня");
  JSONValue manual = pending(kAddress);
  EXPECT_EQ(manual["quality"].string(), "manual");
  EXPECT_TRUE(manual["pinned"].boolValue());
  // The stored key is the storage key (the full folded text); the map key is the address identity.
  const JSONValue storage =
      async::runBlocking(model->engine()->run("addressStorageKey", JSONValue::object({{"address", kAddress}})));
  EXPECT_EQ(manual["key"].string(), storage["key"].string());
  EXPECT_NE(manual["key"].string(), key(kAddress));

  remember(kAddress, 1, 2, "file");
  EXPECT_EQ(pending(kAddress), manual);
  remember(kAddress, 55.77, 37.61, "manual", "Офис");
  EXPECT_EQ(pending(kAddress)["lat"].doubleValue(), 55.77);

  // With nothing pending, the server's copy decides.
  const std::string other = "Москва, улица Арбат, 10";
  model->setAddressIndex({{key(other), JSONValue::object({{"source", "manual"}, {"pinned", false}})}});
  remember(other, 1, 2, "file");
  EXPECT_TRUE(pending(other).isNull());
  model->setAddressIndex({{key(other), JSONValue::object({{"source", "file"}, {"pinned", false}})}});
  remember(other, 55.75, 37.59, "file");
  EXPECT_EQ(pending(other)["quality"].string(), "0");
  EXPECT_FALSE(pending(other)["pinned"].boolValue());
}

TEST_F(AddressMemory, ClientNamesAreMergedSortedAndWithoutBlanksOrRepeats) {
  remember(kAddress, 55.76, 37.60, "osm", "Б");
  remember(kAddress, 55.76, 37.60, "osm", "А");
  remember(kAddress, 55.76, 37.60, "osm", "");
  remember(kAddress, 55.76, 37.60, "osm", "А");
  remember(kAddress, 55.76, 37.60, "osm", " ");
  EXPECT_EQ(pending(kAddress)["clientNames"], JSONValue::array({" ", "А", "Б"}));
  EXPECT_EQ(pending(kAddress)["clientName"].string(), " ");

  remember("Москва, улица Петровка, 12", 55.76, 37.61, "osm", "");
  EXPECT_EQ(pending("Москва, улица Петровка, 12")["clientNames"], JSONValue(JSONArray{}));
}

// A found address whose storage key is still being computed when a hand correction of the same address lands must
// not overwrite that correction afterwards.
TEST_F(AddressMemory, AHandCorrectionMadeDuringTheStorageKeyWaitIsNotOverwritten) {
  // The engine answers in order: the correction's identity, the search's identity, the correction's storage key
  // (written at once), then the search's storage key, which arrives after the correction is stored.
  auto corrected = start(model->remember(kAddress, 55.76, 37.60, "manual", "", false, false));
  auto found = start(model->remember(kAddress, 1, 2, "osm", "Найдено", false, false));
  ASSERT_TRUE(spinUntil([&] { return corrected->done && found->done; }));
  const JSONValue entry = pending(kAddress);
  EXPECT_EQ(entry["source"].string(), "manual");
  EXPECT_EQ(entry["lat"].doubleValue(), 55.76);
}

TEST_F(AddressMemory, AHandCorrectionMovesTheOrderAndRemembersItsAddressInTheCache) {
  loadSample();
  const std::string id = model->orderIDs().at(0);
  async::runBlocking(model->correctCoordinate(id, 90, -180));
  EXPECT_EQ(model->orders().at(0).value["lat"].doubleValue(), 90);
  EXPECT_EQ(model->status(), "Координаты исправлены. Адрес заказа сохранён.");
  const JSONValue entry = pending("Москва, Тверская улица, 6");
  EXPECT_EQ(entry["clientNames"], JSONValue::array({"Кофейня"}));
  EXPECT_EQ(entry["source"].string(), "manual");
  std::optional<JSONValue> stored = cached("pendingAddresses");
  ASSERT_TRUE(stored);
  EXPECT_EQ(*stored, model->pendingAddressesValue());

  // Outside the globe, not a number, or not in the plan: nothing happens.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (auto [lat, lon] : {std::pair{90.0001, 0.0}, {nan, 0.0}, {0.0, INFINITY}}) {
    async::runBlocking(model->correctCoordinate(id, lat, lon));
  }
  async::runBlocking(model->correctCoordinate("not-in-plan", 55, 37));
  EXPECT_EQ(model->orders().at(0).value["lat"].doubleValue(), 90);
  EXPECT_EQ(model->editRevisions().at(id), 1);
  EXPECT_FALSE(model->error()) << *model->error();
}

TEST_F(AddressMemory, AnOrderWithoutAnAddressIsMovedButNothingIsRemembered) {
  JSONValue day = sampleDay();
  day.member("orders").mutableArray().at(0).set("address", "");
  ASSERT_TRUE(change("load", day));
  async::runBlocking(model->correctCoordinate(model->orderIDs().at(0), 55.7, 37.5));
  EXPECT_EQ(model->orders().at(0).value["found"].string(), "");
  EXPECT_TRUE(model->pendingAddresses().empty());
  EXPECT_EQ(model->status(), "Координаты исправлены. Адрес заказа сохранён.");
}

TEST_F(AddressMemory, PersistingWithoutACacheIsQuiet) {
  model->setCache(nullptr);
  remember(kAddress, 55.76, 37.60, "manual", "", true);
  EXPECT_FALSE(pending(kAddress).isNull());
  EXPECT_FALSE(model->error());
}

}  // namespace
}  // namespace dorvik::testing
