// The generic data screen without a display: rows of odd answers, the search, the export, the reload rules (stale
// answers and failures dropped, cancellations never shown), and the commands over the selection.
#include <gtest/gtest.h>

#include "admin/logic/fake_gateway.h"
#include "admin/logic/data_screen.h"
#include "core/base/dorvik_date.h"

using namespace dorvik;
using namespace dorvik::admin;
using namespace dorvik::admin::testing;

namespace {

JSONValue clientsAnswer() {
  return JSONValue::object(
      {{"clients",
        JSONValue::array({
            JSONValue::object(
                {{"id", "c1"}, {"name", "Кофейня «Зёрна»"}, {"phones", JSONValue::array({"+7 900", "+7 901"})}}),
            JSONValue::object({{"id", "c2"}, {"name", "Аптека № 12"}, {"note", "Вход со двора"}}),
            JSONValue::object({{"id", "c3"}, {"name", "ООО Север"}, {"note", "звонить заранее"}}),
        })}});
}

std::set<std::string> ids(const std::vector<Record>& rows) {
  std::set<std::string> out;
  for (const Record& row : rows) out.insert(row.id());
  return out;
}

DataScreenController::TimePoint dayOf(const char* day) { return DorvikDate::parse(day) + std::chrono::hours(12); }

}  // namespace

TEST(DataScreenRows, OddAnswersGiveNoRowsAndRowsWithoutKeysArePositions) {
  EXPECT_TRUE(listRows(JSONValue::object({{"other", JSONValue::array({1})}}), "clients").empty());
  EXPECT_TRUE(listRows(JSONValue::array({JSONValue::object({{"id", "x"}})}), "clients").empty());
  EXPECT_TRUE(listRows(JSONValue::object({{"clients", "text"}}), "clients").empty());
  EXPECT_TRUE(listRows(JSONValue(), "clients").empty());
  auto rows = listRows(
      JSONValue::object(
          {{"clients", JSONValue::array({JSONValue::object({{"note", "a"}}), JSONValue::object({{"id", "k"}})})}}),
      "clients");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].id(), "0");
  EXPECT_EQ(rows[1].id(), "k");
}

TEST(DataScreenRows, SearchFoldsCaseAndCompositionOverEveryColumnsCellText) {
  const DataScreen live = DataScreen::configuration(PanelPage::live, "2026-03-05");
  const JSONValue answer = JSONValue::object(
      {{"routes", JSONValue::array({
                      JSONValue::object({{"routeId", "r1"},
                                         {"externalRouteId", "М-1"},
                                         {"courier", JSONValue::object({{"name", "Йосиф Петров"}})},
                                         {"status", "active"}}),
                      JSONValue::object({{"routeId", "r2"},
                                         {"externalRouteId", "М-2"},
                                         {"courier", JSONValue::object({{"name", "Анна"}})},
                                         {"problem", JSONValue::array({"опоздание", "брак"})}}),
                      JSONValue::object({{"routeId", "r3"}, {"externalRouteId", "Б3"}, {"courier", "Ира"}}),
                  })}});
  const RowSearch search(listRows(answer, live.collection), live.columns);
  struct Case {
    std::string query;
    std::vector<std::size_t> rows;
  };
  const Case cases[] = {
      {"", {0, 1, 2}},
      {" ", {0, 1}},              // "Йосиф Петров" and the joined problems
      {"й", {0}},                 // composed query, composed text
      {"\xD0\xB8\xCC\x86", {0}},  // "и" + combining breve finds "Й"
      {"ПЕТРОВ", {0}},            // case
      {"анна", {1}},              // nested courier.name
      {"брак", {1}},              // array joined
      {"опоздание, брак", {1}},   // joined with ", "
      {"м-", {0, 1}},
      {"ира", {}},  // a courier given as text has no name: its cell is "—"
      {"нет такого", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(search.matches(c.query), c.rows) << c.query;
  EXPECT_EQ(live.columns[5].text(listRows(answer, "routes")[1]), "опоздание, брак");
  EXPECT_EQ(live.columns[1].text(listRows(answer, "routes")[2]), "—");
}

TEST(DataScreenRows, TheRouteOfARowIsTheTextOfItsRouteId) {
  const struct {
    JSONValue row;
    std::string routeID;
  } cases[] = {
      {JSONValue::object({{"routeId", "R-1/ю"}, {"id", "other"}}), "R-1/ю"},
      {JSONValue::object({{"routeId", 42}}), "42"},
      {JSONValue::object({{"routeId", 7.0}}), "7"},
      {JSONValue::object({{"routeId", nullptr}}), ""},
      {JSONValue::object({{"courier", JSONValue::object({{"routeId", "nested"}})}}), ""},
      {JSONValue::object({}), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(routeIDOf(Record(c.row, "0")), c.routeID) << "expected " << c.routeID;
}

TEST(DataScreenRows, ExportWritesTheHeaderAndTheShownCellsAsTexts) {
  const DataScreen orders = DataScreen::configuration(PanelPage::orders, "2026-09-22");
  const std::vector<Record> rows = JSONValue::records(
      JSONValue::array({JSONValue::object({{"orderId", 17}, {"status", "delivered"}}),
                        JSONValue::object({{"orderId", "A-2"}, {"client", JSONValue::object({{"name", "Зёрна"}})}})})
          .array());
  const JSONArray table = exportTable(rows, orders.columns);
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[0], JSONValue::array({"Заказ", "Клиент", "Адрес", "Курьер", "Статус", "Плановое время"}));
  EXPECT_EQ(table[1].at(0), JSONValue("17"));
  EXPECT_EQ(table[1].at(1), JSONValue("—"));
  EXPECT_EQ(table[2].at(1), JSONValue("Зёрна"));
  EXPECT_EQ(exportFileName(PanelPage::orders, "2026-09-22"), "Заказы-2026-09-22.xlsx");
  EXPECT_EQ(countText(0), "0 записей");
}

// Names and identifiers read as they are wherever the list shows them; only the code columns read as words. The
// logins "admin" and "logist" are no roles: the table, the search and the export all carry the login itself.
TEST(DataScreenRows, LoginsAndNamesShowAsTheyAreAndOnlyCodesReadAsWords) {
  const DataScreen couriers = DataScreen::configuration(PanelPage::vehicles, "");
  const std::vector<Record> rows = JSONValue::records(
      JSONValue::array({JSONValue::object({{"id", "u1"},
                                           {"fullName", "courier"},
                                           {"login", "admin"},
                                           {"phone", "+7 900"},
                                           {"role", "admin"}}),
                        JSONValue::object({{"id", "u2"}, {"fullName", "Ольга"}, {"login", "logist"}, {"role", "courier"}})})
          .array());
  const std::vector<std::string> first{"courier", "admin", "+7 900", "Администратор", "—"};
  for (std::size_t c = 0; c < first.size(); ++c) EXPECT_EQ(couriers.columns[c].text(rows[0]), first[c]) << c;
  EXPECT_EQ(couriers.columns[1].text(rows[1]), "logist");
  EXPECT_EQ(couriers.columns[3].text(rows[1]), "Курьер");

  const RowSearch search(rows, couriers.columns);
  EXPECT_EQ(search.matches("admin"), (std::vector<std::size_t>{0}));
  EXPECT_EQ(search.matches("LOGIST"), (std::vector<std::size_t>{1}));
  EXPECT_EQ(search.matches("Администратор"), (std::vector<std::size_t>{0}));
  EXPECT_EQ(search.matches("Логист"), (std::vector<std::size_t>{}));

  const JSONArray table = exportTable(rows, couriers.columns);
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[1], JSONValue::array({"courier", "admin", "+7 900", "Администратор", "—"}));
  EXPECT_EQ(table[2].at(1), JSONValue("logist"));
}

class DataScreenScreen : public GatewayTest {
 protected:
  std::shared_ptr<DataScreenController> screen(PanelPage page, const char* day = "2026-03-05") {
    return DataScreenController::create(page, fake.gateway(), dayOf(day));
  }
};

TEST_F(DataScreenScreen, AcceptsTheCurrentAnswerAndDropsStaleAnswersFailuresAndCancellations) {
  auto live = screen(PanelPage::live);
  live->follow();
  ASSERT_EQ(fake.log(), std::vector<std::string>{"GET /monitoring/routes?date=2026-03-05"});
  EXPECT_TRUE(live->loading());
  EXPECT_EQ(live->overlay(), DataScreenController::Overlay::loading);
  EXPECT_EQ(live->countText(), "") << "no «0 записей» beside «Загружаем данные…»";
  live->follow();  // the same key starts nothing
  EXPECT_EQ(fake.calls.size(), 1u);

  // "Обновить" on the 5th, then another day: the keyed run of the 5th is cancelled, the extra one is not.
  live->refresh();
  live->setDate(dayOf("2026-03-06"));
  ASSERT_EQ(fake.calls.size(), 3u);
  ASSERT_TRUE(spinUntil([&] { return fake.calls[0]->cancelled; }));
  EXPECT_TRUE(live->loading());
  EXPECT_EQ(live->issue(), std::nullopt) << "a cancellation is never shown";

  // The extra run's answer for the 5th arrives after the change: dropped.
  FakeGateway::finish(fake.calls[1],
                      JSONValue::object({{"routes", JSONValue::array({JSONValue::object({{"routeId", "old"}})})}}));
  spinFor(20ms);
  EXPECT_TRUE(live->data().isNull());
  EXPECT_TRUE(live->loading()) << "the run of the 6th still waits";
  EXPECT_EQ(live->overlay(), DataScreenController::Overlay::loading);

  FakeGateway::finish(fake.calls[2],
                      JSONValue::object({{"routes", JSONValue::array({JSONValue::object({{"routeId", "r6"}})})}}));
  ASSERT_TRUE(spinUntil([&] { return !live->loading(); }));
  EXPECT_EQ(ids(live->filtered()), std::set<std::string>{"r6"});

  // A failure of the current list keeps the rows under the banner; a stale failure is dropped; success clears it.
  live->refresh();
  live->refresh();
  FakeGateway::fail(fake.calls[3], "Сервер недоступен.", 502);
  ASSERT_TRUE(spinUntil([&] { return live->issue().has_value(); }));
  EXPECT_EQ(*live->issue(), "Сервер недоступен.");
  EXPECT_EQ(live->filtered().size(), 1u);
  EXPECT_EQ(live->overlay(), DataScreenController::Overlay::none);
  live->setDate(dayOf("2026-03-07"));
  FakeGateway::fail(fake.calls[4], "Старая ошибка.");
  FakeGateway::finish(fake.last(), JSONValue::object({{"routes", JSONArray{}}}));
  ASSERT_TRUE(spinUntil([&] { return !live->loading(); }));
  EXPECT_EQ(live->issue(), std::nullopt);
  EXPECT_TRUE(live->filtered().empty());
  EXPECT_EQ(live->overlay(), DataScreenController::Overlay::empty);
  EXPECT_EQ(live->emptyDescription(), "Выберите другую дату или добавьте запись.");

  // A new workspace is a new key: the old workspace's rows go at once, and its answer is dropped.
  live->refresh();
  FakeGateway::finish(fake.last(),
                      JSONValue::object({{"routes", JSONValue::array({JSONValue::object({{"routeId", "g1"}})})}}));
  ASSERT_TRUE(spinUntil([&] { return !live->loading(); }));
  live->setSelection({"g1"});
  live->refresh();
  fake.generation = "g2";
  live->follow();
  EXPECT_TRUE(live->data().isNull());
  EXPECT_TRUE(live->filtered().empty());
  EXPECT_EQ(live->recordFor({"g1"}), std::nullopt);
  EXPECT_EQ(live->overlay(), DataScreenController::Overlay::loading);
  FakeGateway::finish(fake.calls[fake.calls.size() - 2],
                      JSONValue::object({{"routes", JSONValue::array({JSONValue::object({{"routeId", "g1"}})})}}));
  FakeGateway::finish(fake.last(),
                      JSONValue::object({{"routes", JSONValue::array({JSONValue::object({{"routeId", "g2"}})})}}));
  ASSERT_TRUE(spinUntil([&] { return !live->loading(); }));
  EXPECT_EQ(ids(live->filtered()), std::set<std::string>{"g2"});
  EXPECT_EQ(live->countText(), "1 записей");

  // The failure of a workspace whose list never came goes with it too.
  fake.generation = "g3";
  live->follow();
  FakeGateway::fail(fake.last(), "Сервер недоступен.", 502);
  ASSERT_TRUE(spinUntil([&] { return live->issue().has_value(); }));
  fake.generation = "g4";
  live->follow();
  EXPECT_EQ(live->issue(), std::nullopt);
}

TEST_F(DataScreenScreen, TheIntegrationsPageLoadsNothingAndAScreenThatWentAwayDropsItsAnswer) {
  screen(PanelPage::integrations)->follow();
  EXPECT_TRUE(fake.calls.empty());
  std::weak_ptr<DataScreenController> gone;
  {
    auto clients = screen(PanelPage::clients);
    clients->refresh();
    gone = clients;
  }
  EXPECT_TRUE(gone.expired()) << "a load in flight does not keep its screen alive";
  ASSERT_EQ(fake.calls.size(), 1u);
  // The answer then finds no screen to update (a sanitizer build would report a touch of the freed one).
  FakeGateway::finish(fake.calls[0], clientsAnswer());
  spinFor(20ms);
}

TEST_F(DataScreenScreen, CommandsActOnTheFirstShownRowOfTheSelection) {
  fake.autoAnswer = [](const FakeCall&) -> std::optional<JSONValue> { return clientsAnswer(); };
  auto clients = screen(PanelPage::clients);
  clients->follow();
  ASSERT_TRUE(spinUntil([&] { return clients->rows().size() == 3; }));
  EXPECT_EQ(clients->countText(), "3 записей");

  clients->activate({"c2", "c3"});
  ASSERT_TRUE(clients->editing());
  EXPECT_EQ(clients->editing()->id(), "c2") << "first in answer order";
  clients->closeEditing();
  clients->open({"c3"});
  EXPECT_EQ(clients->detail()->id(), "c3");
  clients->closeDetail();
  clients->setQuery("двор");
  EXPECT_EQ(ids(clients->filtered()), std::set<std::string>{"c2"});
  clients->activate({"c3"});  // hidden by the search
  EXPECT_FALSE(clients->editing());
  clients->setQuery("ничего");
  EXPECT_FALSE(clients->canExport());
  EXPECT_EQ(clients->emptyDescription(), "По этому запросу ничего не найдено.");
  clients->add();
  EXPECT_TRUE(clients->adding());

  // Documents open their details on activation; live routes too (and never the editor).
  fake.autoAnswer = [](const FakeCall&) -> std::optional<JSONValue> {
    return JSONValue::object({{"documents", JSONValue::array({JSONValue::object({{"id", "d1"}})})},
                              {"routes", JSONValue::array({JSONValue::object({{"routeId", "r1"}})})}});
  };
  for (PanelPage page : {PanelPage::documents, PanelPage::live}) {
    auto other = screen(page);
    other->follow();
    ASSERT_TRUE(spinUntil([&] { return other->rows().size() == 1; }));
    const std::string id = other->rows()[0].id();
    other->activate({id});
    EXPECT_TRUE(other->detail());
    EXPECT_FALSE(other->editing());
    other->edit({id});
    EXPECT_EQ(other->editing().has_value(), page == PanelPage::documents);
  }
}

TEST_F(DataScreenScreen, TheSelectionActionNeedsOneSelectedIdAndOpensOnlyAShownRow) {
  fake.autoAnswer = [](const FakeCall&) -> std::optional<JSONValue> {
    return JSONValue::object(
        {{"couriers", JSONValue::array({JSONValue::object({{"id", "k1"}, {"fullName", "Тарен"}}),
                                        JSONValue::object({{"id", "k2"}, {"fullName", "Ведил"}})})}});
  };
  auto couriers = screen(PanelPage::vehicles);
  couriers->follow();
  ASSERT_TRUE(spinUntil([&] { return couriers->rows().size() == 2; }));
  EXPECT_STREQ(couriers->selectionAction()->title, "Файлы курьера");
  couriers->setSelection({"k1", "k2"});
  EXPECT_FALSE(couriers->canRunSelectionAction());
  couriers->setSelection({"k2"});
  EXPECT_TRUE(couriers->canRunSelectionAction());
  couriers->setQuery("тарен");
  EXPECT_TRUE(couriers->canRunSelectionAction());
  couriers->runSelectionAction();
  EXPECT_FALSE(couriers->detail()) << "the selected row is hidden by the search";
  couriers->setQuery("");
  couriers->runSelectionAction();
  ASSERT_TRUE(couriers->detail());
  EXPECT_EQ(couriers->detail()->id(), "k2");
}

TEST_F(DataScreenScreen, AddFollowsTheConnectionAndExportTakesTheShownRowsAtOnce) {
  fake.autoAnswer = [](const FakeCall&) -> std::optional<JSONValue> { return clientsAnswer(); };
  auto clients = screen(PanelPage::clients, "2026-03-05");
  clients->follow();
  ASSERT_TRUE(spinUntil([&] { return clients->rows().size() == 3; }));
  fake.offline = true;
  EXPECT_FALSE(clients->canAdd());
  EXPECT_TRUE(clients->offline());
  fake.preview = true;
  EXPECT_TRUE(clients->canAdd());
  fake.preview = false;
  EXPECT_TRUE(screen(PanelPage::addresses)->canAdd());

  clients->setQuery("с");  // "Вход со двора" and "ООО Север"
  ASSERT_EQ(clients->filtered().size(), 2u);
  clients->exportShown();
  clients->setQuery("");
  auto exports = fake.of("export");
  ASSERT_EQ(exports.size(), 1u);
  EXPECT_EQ(exports[0]->path, "Библиотека-2026-03-05.xlsx");
  EXPECT_EQ((*exports[0]->body)["name"], JSONValue("Библиотека"));
  const JSONValue& rows = (*exports[0]->body)["rows"];
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows.at(0).at(0), JSONValue("Клиент"));
  EXPECT_EQ(rows.at(1), JSONValue::array({"Аптека № 12", "—", "Вход со двора", "—"}));
  EXPECT_EQ(rows.at(2).at(0), JSONValue("ООО Север"));
}
