// The publication dialog's logic over the real model, planner components and API client, against the stand-in
// server's published plans: each mode in turn as the server's answer allows it, a send whose answer was lost sent
// again without publishing anything twice, and a hand-kept book checked and published once mended.
#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "core/base/dorvik_date.h"
#include "model/file_dialogs.h"
#include "model/planning/planning_fixture.h"
#include "model/workbook_files.h"
#include "planning/logic/plan_checks.h"
#include "planning/logic/publication.h"
#include "support/async_helpers.h"
#include "support/fake_plans.h"
#include "support/order_books.h"
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

namespace {

// Picks one file in the open dialog.
class ChosenBook : public FileDialogs {
 public:
  explicit ChosenBook(std::string path) : path_(std::move(path)) {}
  async::Task<Chosen> openFile(std::vector<std::string>) override { co_return path_; }
  async::Task<Chosen> saveFile(std::string) override { co_return std::nullopt; }

 private:
  std::string path_;
};

std::vector<std::string> problems(const std::vector<CheckLine>& lines) {
  std::vector<std::string> out;
  for (const CheckLine& line : lines)
    if (line.kind == CheckLine::Kind::problem) out.push_back(line.text + " | " + line.detail);
  return out;
}

}  // namespace

// A hand-kept book from import to publication: the checks list each problem once under its order, publication is
// refused while a number repeats and asks to confirm the values that would go out empty, and once the number is
// mended and the values confirmed the plan goes out with them empty.
TEST_F(PlanningWorkspace, AHandKeptBookIsCheckedThenPublishedOnlyOnceMendedAndConfirmed) {
  StandInServer server;
  FakePlans plans{server};
  model->setApi(signedInClient(server));
  model->setUser(JSONValue::object({{"id", "u1"}, {"role", "logist"}}));
  model->setDate(DorvikDate::parse("2026-09-22"));
  loadSample();  // the vehicles and the depot the book has not
  char folder[] = "/tmp/dorvik-book-XXXXXX";
  const std::string file = std::string(g_mkdtemp(folder)) + "/День.xlsx";
  writeFileAtomically(file, mistakesBook());
  model->setFileDialogs(std::make_shared<ChosenBook>(file));
  async::runBlocking(model->importWorkbook());
  std::filesystem::remove_all(folder);
  ASSERT_EQ(model->error(), std::nullopt);
  ASSERT_EQ(model->orders().size(), 6u);

  EXPECT_EQ(problems(orderDataLines(model->planner())),
            (std::vector<std::string>{"№1001 · Кафе | Строка 3: номер повторяется: заказов с ним — 2",
                                      "№1003 · Склад | Строка 6: «Окно с – Окно до»: «18:00-09:00» — не прочитано",
                                      "№1003 · Склад | Строка 6: «Места»: «три» — не прочитано",
                                      "№1001 · Дубль | Строка 7: номер повторяется: заказов с ним — 2",
                                      "Без номера · Без номера | Строка 8: нет номера заказа",
                                      "Без номера · Без номера | Строка 8: «Координаты»: «555, 37.6» — не прочитано"}));

  ASSERT_TRUE(change("calculate", JSONValue::object({})));
  auto dialog = Publication::create(publicationWork(model));
  dialog->setSentEmpty(valuesSentEmpty(model->planner()));
  dialog->check("2026-09-22");
  ASSERT_TRUE(spinUntil([&] { return !dialog->busy(); }));
  EXPECT_EQ(dialog->sentEmpty(), (std::vector<std::string>{"№1003 · Склад — «Окно с – Окно до»: «18:00-09:00»",
                                                           "№1003 · Склад — «Места»: «три»"}));
  EXPECT_FALSE(dialog->canSend()) << "not before the empty values are confirmed";
  dialog->setConfirmed(true);
  dialog->send();
  ASSERT_TRUE(spinUntil([&] { return !dialog->busy(); }));
  EXPECT_EQ(dialog->issue(), "План не отправлен: повторяются номера заказов «1001» (2). Исправьте номера в карточках "
                             "заказов (вкладка «Проверка») и отправьте план снова.");
  EXPECT_EQ(plans.imports(), 0u) << "nothing sent";

  ASSERT_TRUE(async::runBlocking(model->patchOrder(model->orderIDs()[3], JSONValue::object({{"id", "1004"}}))));
  dialog->setSentEmpty(valuesSentEmpty(model->planner()));
  EXPECT_TRUE(dialog->confirmed()) << "the same values, confirmed already";
  dialog->send();
  ASSERT_TRUE(spinUntil([&] { return !dialog->busy(); }));
  ASSERT_EQ(plans.imports(), 1u);
  int sentEmpty = 0;
  for (const FakePlans::Route& route : plans.routes("2026-09-22"))
    for (const JSONValue& point : route.route["points"].array())
      for (const JSONValue& order : point["orders"].array())
        sentEmpty += order["orderId"].string() == "1003" && order["places"].isNull() && order["window"]["from"].isNull();
  EXPECT_EQ(sentEmpty, 1);
}
