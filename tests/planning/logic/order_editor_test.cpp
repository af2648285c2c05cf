// The order editor without a display: the patch it sends with the provenance of the coordinates, the search result
// it accepts, and the sheet's state over stand-ins of the model's workflows (a search that the test answers when
// it likes, a save that answers as told).
#include <gtest/gtest.h>

#include <regex>

#include "core/base/errors.h"
#include "model/app_model.h"
#include "planning/logic/order_editor.h"
#include "support/async_helpers.h"

using namespace dorvik;
using namespace dorvik::planning;
using dorvik::testing::spinUntil;

namespace {

JSONValue located() {
  return JSONValue::object({{"_nativeID", "n1"},
                            {"id", "1001"},
                            {"title", "Кофейня"},
                            {"address", "Москва, Тверская улица, 6"},
                            {"lat", 55.7606},
                            {"lon", 37.6095},
                            {"source", "dadata"},
                            {"qc", "0"},
                            {"found", "г Москва, ул Тверская, д 6"}});
}

JSONValue with(JSONValue value, std::initializer_list<std::pair<std::string_view, JSONValue>> members) {
  for (const auto& [key, member] : members) value.set(key, member);
  return value;
}

std::string errorOf(const JSONValue& original, const JSONValue& draft, const JSONValue& resolution = {}) {
  try {
    OrderEditor::changes(original, draft, resolution);
  } catch (const DorvikError& e) {
    return e.message();
  }
  return "<принято>";
}

}  // namespace

TEST(OrderEditorChanges, TheProvenanceOfTheCoordinates) {
  const JSONValue order = located();
  const JSONValue unlocated = with(order, {{"lat", nullptr}, {"lon", nullptr}});
  const JSONValue fresh = JSONValue::object({{"id", "NEW-1"}, {"address", "Москва, Арбат, 10"}});
  const JSONValue search = JSONValue::object({{"address", "Москва, Арбат, 10"},
                                              {"lat", 55.75},
                                              {"lon", 37.59},
                                              {"source", "dadata"},
                                              {"qc", "0"},
                                              {"found", "г Москва, ул Арбат, д 10"}});
  struct Case {
    const char* name;
    JSONValue original, draft, resolution;
    JSONValue lat, lon, source, qc, found;
  };
  const std::vector<Case> cases{
      {"a new order without coordinates", nullptr, fresh, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
      {"a new order with typed coordinates", nullptr, with(fresh, {{"lat", "55,75"}, {"lon", "37.59"}}), nullptr, 55.75,
       37.59, "manual", "manual", "Москва, Арбат, 10"},
      {"an address edited alone must be found again", order, with(order, {{"address", "Москва, Тверская, 8"}}), nullptr,
       nullptr, nullptr, nullptr, nullptr, nullptr},
      {"an address edited with new coordinates", order,
       with(order, {{"address", "Москва, Тверская, 8"}, {"lat", "55.761"}, {"lon", "37.61"}}), nullptr, 55.761, 37.61,
       "manual", "manual", "Москва, Тверская, 8"},
      {"nothing changed keeps the provenance", order, with(order, {{"title", "Кофейня на углу"}}), nullptr, 55.7606,
       37.6095, "dadata", "0", "г Москва, ул Тверская, д 6"},
      {"an order without coordinates", unlocated, unlocated, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
      {"an accepted search", nullptr, with(fresh, {{"lat", 55.75}, {"lon", 37.59}}), search, 55.75, 37.59, "dadata",
       "0", "г Москва, ул Арбат, д 10"},
      {"a search corrected by hand", nullptr, with(fresh, {{"lat", "55.751"}, {"lon", 37.59}}), search, 55.751, 37.59,
       "manual", "manual", "Москва, Арбат, 10"},
      {"the bounds are valid", order, with(order, {{"lat", "90"}, {"lon", "-180"}}), nullptr, 90.0, -180.0, "manual",
       "manual", "Москва, Тверская улица, 6"},
      // An address the plan keeps as a number reads as unchanged while its text is.
      {"an address of another type", with(order, {{"address", 12}}), with(order, {{"address", "12"}}), nullptr, 55.7606,
       37.6095, "dadata", "0", "г Москва, ул Тверская, д 6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const JSONValue patch = OrderEditor::changes(c.original, c.draft, c.resolution);
    EXPECT_EQ(patch["lat"], c.lat);
    EXPECT_EQ(patch["lon"], c.lon);
    EXPECT_EQ(patch["source"], c.source);
    EXPECT_EQ(patch["qc"], c.qc);
    EXPECT_EQ(patch["found"], c.found);
    // The form's 13 members and the 3 of the provenance, nothing else (no "_nativeID").
    EXPECT_EQ(patch.size(), 16u);
    for (const char* key : {"source", "qc", "found", "lat", "lon"}) EXPECT_TRUE(patch.contains(key)) << key;
  }
}

TEST(OrderEditorChanges, RefusalsNameTheFieldOrTheCoordinatePair) {
  const JSONValue order = located();
  EXPECT_EQ(errorOf(nullptr, newOrder()), "Заполните поле «Адрес».");
  EXPECT_EQ(errorOf(order, with(order, {{"lat", "90.0001"}})), kCoordinatePairMessage);
  EXPECT_EQ(errorOf(order, with(order, {{"lon", "-180.5"}})), kCoordinatePairMessage);
  EXPECT_EQ(errorOf(order, with(order, {{"lon", ""}})), kCoordinatePairMessage) << "a latitude alone";
  EXPECT_EQ(errorOf(order, with(order, {{"units", "два"}})), "«Количество мест» должно быть числом.");
}

TEST(OrderEditorChanges, ANewOrderAndTheSearchResultItAccepts) {
  const JSONValue fresh = newOrder();
  EXPECT_TRUE(std::regex_match(fresh["id"].string(), std::regex("NEW-[0-9A-F]{8}"))) << fresh["id"].string();
  EXPECT_EQ(fresh["window"].string(), "09:00-18:00");
  EXPECT_NE(newOrder()["id"], fresh["id"]);

  const std::string address = "Москва, Арбат, 10";
  auto hit = [](JSONValue qc, const char* provider) {
    return JSONValue::object(
        {{"found", JSONValue::object({{"lat", 55.75}, {"lon", "37,59"}, {"qc", qc}, {"address", "г Москва"}})},
         {"provider", provider}});
  };
  std::optional<JSONValue> accepted = acceptedLookup(address, hit("0", "dadata"));
  ASSERT_TRUE(accepted);
  EXPECT_EQ(*accepted, JSONValue::object({{"address", address},
                                          {"lat", 55.75},
                                          {"lon", 37.59},
                                          {"source", "dadata"},
                                          {"qc", "0"},
                                          {"found", "г Москва"}}));
  EXPECT_EQ((*acceptedLookup(address, hit(0, "manual")))["qc"], JSONValue("manual")) << "a pinned address";
  EXPECT_FALSE(acceptedLookup(address, hit("1", "dadata"))) << "an inexact hit";
  EXPECT_FALSE(acceptedLookup(address, JSONValue::object({{"found", nullptr}, {"provider", "catalog"}})));
  const JSONValue remembered =
      JSONValue::object({{"found", JSONValue::object({{"lat", 55.7}, {"lon", 37.6}, {"value", "x"}, {"qc", "0"}})},
                         {"provider", "saved"}});
  EXPECT_EQ((*acceptedLookup(address, remembered))["found"], JSONValue()) << "a hit without an address";
}

TEST(ErrorWatch, CountsOnlyTheMessagesSetWhileItLives) {
  auto model = AppModel::create();
  model->setError("Старая ошибка, не закрытая");
  ErrorWatch watch(*model);
  EXPECT_EQ(watch.raised(), std::nullopt);
  model->setError(std::nullopt);
  EXPECT_EQ(watch.raised(), std::nullopt);
  model->setError("Номер заказа уже есть в плане.");
  EXPECT_EQ(watch.raised(), "Номер заказа уже есть в плане.");
}

namespace {

// Stand-ins of the model's workflows: the search waits until the test answers it.
struct Desk {
  std::vector<std::string> lookups;
  bool answered = false;
  JSONValue answer;
  std::optional<std::string> lookupFailure;
  std::vector<std::pair<std::optional<std::string>, JSONValue>> saves;
  ChangeOutcome outcome{true, std::nullopt};
  std::vector<std::string> remembered;
};

async::Task<JSONValue> deskLookup(std::shared_ptr<Desk> desk, std::string address) {
  desk->lookups.push_back(address);
  while (!desk->answered) co_await async::yield();
  if (desk->lookupFailure) throw DorvikError(*desk->lookupFailure);
  co_return desk->answer;
}

async::Task<ChangeOutcome> deskSave(std::shared_ptr<Desk> desk, std::optional<std::string> id, JSONValue patch) {
  desk->saves.emplace_back(std::move(id), std::move(patch));
  co_await async::yield();
  co_return desk->outcome;
}

async::Task<void> deskRemember(std::shared_ptr<Desk> desk, std::string line) {
  desk->remembered.push_back(std::move(line));
  co_return;
}

OrderEditorWork deskWork(const std::shared_ptr<Desk>& desk) {
  OrderEditorWork work;
  work.lookup = [desk](std::string address) { return deskLookup(desk, std::move(address)); };
  work.save = [desk](std::optional<std::string> id, JSONValue patch) {
    return deskSave(desk, std::move(id), std::move(patch));
  };
  work.remember = [desk](std::string address, double lat, double lon, std::string source, std::string name) {
    return deskRemember(
        desk, address + " " + JSONValue(lat).string() + " " + JSONValue(lon).string() + " " + source + " " + name);
  };
  return work;
}

JSONValue exactHit() {
  return JSONValue::object(
      {{"found", JSONValue::object({{"lat", 55.75}, {"lon", 37.59}, {"qc", "0"}, {"address", "г Москва, Арбат, 10"}})},
       {"provider", "dadata"}});
}

class OrderEditorSheet : public ::testing::Test {
 protected:
  std::shared_ptr<OrderEditor> open(JSONValue order) {
    editor = OrderEditor::create(std::move(order), deskWork(desk));
    connection = editor->observe([this](OrderEditor::Change change) { changes.push_back(change); });
    return editor;
  }
  void type(const char* key, JSONValue text) { editor->value()->set(key, std::move(text)); }
  bool idle() {
    return spinUntil([&] { return !editor->busy(); });
  }

  std::shared_ptr<Desk> desk = std::make_shared<Desk>();
  std::shared_ptr<OrderEditor> editor;
  OrderEditor::Connection connection;
  std::vector<OrderEditor::Change> changes;
};

}  // namespace

TEST_F(OrderEditorSheet, ASearchFillsTheCoordinatesAndTheSaveCarriesItsProvenance) {
  open(nullptr);
  EXPECT_STREQ(editor->heading(), "Новый заказ");
  type("address", "Москва, Арбат, 10");
  editor->search();
  EXPECT_TRUE(editor->busy());
  EXPECT_TRUE(editor->searching());
  editor->save();  // disabled while the search runs
  desk->answer = exactHit();
  desk->answered = true;
  ASSERT_TRUE(idle());
  EXPECT_TRUE(desk->saves.empty());
  EXPECT_FALSE(editor->searching());
  EXPECT_EQ((*editor->value())["lat"], JSONValue(55.75));
  EXPECT_EQ(editor->issue(), std::nullopt);
  EXPECT_EQ(std::count(changes.begin(), changes.end(), OrderEditor::Change::value), 1);

  type("title", "Ресторан");
  editor->save();
  editor->save();
  ASSERT_TRUE(spinUntil([&] { return std::count(changes.begin(), changes.end(), OrderEditor::Change::dismissed); }));
  ASSERT_EQ(desk->saves.size(), 1u) << "a second press while saving does nothing";
  EXPECT_EQ(desk->saves[0].first, std::nullopt) << "a new order is added";
  EXPECT_EQ(desk->saves[0].second["source"], JSONValue("dadata"));
  EXPECT_EQ(desk->remembered, std::vector<std::string>{"Москва, Арбат, 10 55.75 37.59 dadata Ресторан"});
}

TEST_F(OrderEditorSheet, ASearchAnswerThatComesTooLateOrWrongChangesNothingOrSaysWhy) {
  open(located());
  // Typing while the search runs wins over the answer.
  editor->search();
  type("lat", "55.8");
  desk->answer = exactHit();
  desk->answered = true;
  ASSERT_TRUE(idle());
  EXPECT_EQ((*editor->value())["lat"], JSONValue("55.8"));
  EXPECT_EQ(editor->issue(), std::nullopt) << "dropped silently";

  desk->answer = JSONValue::object({{"found", nullptr}, {"provider", "catalog"}});
  editor->search();
  ASSERT_TRUE(idle());
  EXPECT_EQ(editor->issue(), kNoExactAddressMessage);

  desk->lookupFailure = "Каталог ещё загружается.";
  editor->search();
  ASSERT_TRUE(idle());
  EXPECT_EQ(editor->issue(), "Каталог ещё загружается.");

  desk->answered = false;
  desk->lookupFailure.reset();
  editor->search();
  ASSERT_EQ(desk->lookups.size(), 4u);
  editor->close();  // the sheet goes while the search runs
  ASSERT_TRUE(idle());
  EXPECT_EQ(editor->issue(), kSearchStoppedMessage);
  EXPECT_EQ((*editor->value())["lat"], JSONValue("55.8"));
}

TEST_F(OrderEditorSheet, ARefusedSaveShowsItsOwnFailureAndKeepsTheSheet) {
  open(located());
  type("address", "");
  editor->save();
  EXPECT_EQ(editor->issue(), "Заполните поле «Адрес».");
  EXPECT_TRUE(desk->saves.empty());

  type("address", "Москва, Тверская, 8");
  desk->outcome = ChangeOutcome{false, "Номер заказа 1001 уже есть в плане."};
  editor->save();
  ASSERT_TRUE(idle());
  ASSERT_EQ(desk->saves.size(), 1u);
  EXPECT_EQ(desk->saves[0].first, "n1");
  EXPECT_EQ(editor->issue(), "Номер заказа 1001 уже есть в плане.");

  desk->outcome = ChangeOutcome{false, std::nullopt};
  editor->save();
  ASSERT_TRUE(idle());
  EXPECT_EQ(editor->issue(), kOrderChangedMessage) << "a change dropped without a message of its own";
  EXPECT_EQ(std::count(changes.begin(), changes.end(), OrderEditor::Change::dismissed), 0);
  EXPECT_EQ((*editor->value())["address"], JSONValue("Москва, Тверская, 8"));
  EXPECT_TRUE(desk->remembered.empty());
}
