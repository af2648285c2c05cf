// The publication dialog without a display: its states over stand-ins of the gateway and the publication, the
// modes it offers for the server's answer, and the lines it shows.
#include <gtest/gtest.h>

#include "core/api/failure.h"
#include "core/api/transport_error.h"
#include "core/base/errors.h"
#include "planning/logic/publication.h"
#include "support/async_helpers.h"

using namespace dorvik;
using namespace dorvik::planning;
using dorvik::testing::spinUntil;

namespace {

struct Server {
  std::vector<std::string> fetched;
  bool answered = false;
  JSONValue existing = JSONValue::object({{"routes", 3}, {"started", 1}, {"hasActivity", false}});
  std::optional<std::string> checkFailure;
  std::vector<std::string> published;
  std::exception_ptr sendFailure;
};

async::Task<JSONValue> serverFetch(std::shared_ptr<Server> server, std::string path) {
  server->fetched.push_back(path);
  while (!server->answered) co_await async::yield();
  if (server->checkFailure) throw DorvikError(*server->checkFailure, 503);
  co_return server->existing;
}

async::Task<void> serverPublish(std::shared_ptr<Server> server, std::string mode) {
  server->published.push_back(mode);
  co_await async::yield();
  if (server->sendFailure) std::rethrow_exception(server->sendFailure);
}

class PublicationDialog : public ::testing::Test {
 protected:
  void open(const std::string& date = "2026-09-22") {
    PublicationWork work;
    work.fetch = [s = server](std::string path) { return serverFetch(s, std::move(path)); };
    work.publish = [s = server](std::string mode) { return serverPublish(s, std::move(mode)); };
    dialog = Publication::create(std::move(work));
    connection = dialog->observe([this](Publication::Change c) { dismissed += c == Publication::Change::dismissed; });
    dialog->check(date);
  }
  bool settled() {
    return spinUntil([&] { return !dialog->busy(); });
  }
  std::vector<std::string> offered() {
    std::vector<std::string> tags;
    for (const PublicationMode& mode : offeredModes(dialog->existing())) tags.push_back(mode.tag);
    return tags;
  }

  std::shared_ptr<Server> server = std::make_shared<Server>();
  std::shared_ptr<Publication> dialog;
  Publication::Connection connection;
  int dismissed = 0;
};

}  // namespace

TEST_F(PublicationDialog, ChecksThenSendsInTheChosenModeAndRetriesAFailedSend) {
  open();
  EXPECT_EQ(dialog->phase(), Publication::Phase::checking);
  EXPECT_FALSE(dialog->canSend());
  dialog->send();
  server->answered = true;
  ASSERT_TRUE(settled());
  EXPECT_EQ(server->fetched, std::vector<std::string>{"/plans/existing?date=2026-09-22"});
  EXPECT_EQ(dialog->phase(), Publication::Phase::ready);
  EXPECT_TRUE(server->published.empty()) << "nothing is sent before the answer";
  EXPECT_EQ(serverLine(dialog->existing()), "На сервере: 3. С отметками курьеров: 1.");
  EXPECT_EQ(offered(), (std::vector<std::string>{"append", "keepStarted", "replace"}));
  EXPECT_EQ(dialog->mode(), "append");

  dialog->setMode("keepStarted");
  server->sendFailure = std::make_exception_ptr(DorvikError("Маршрут без машины.", 422));
  dialog->send();
  EXPECT_EQ(dialog->phase(), Publication::Phase::sending);
  EXPECT_FALSE(dialog->canPickMode());
  dialog->send();
  ASSERT_TRUE(settled());
  EXPECT_EQ(server->published, std::vector<std::string>{"keepStarted"}) << "one send while busy";
  EXPECT_EQ(dialog->issue(), "Маршрут без машины.") << "a refusal: nothing reached the couriers";
  EXPECT_EQ(dialog->phase(), Publication::Phase::ready);
  EXPECT_EQ(dialog->mode(), "keepStarted");
  EXPECT_EQ(dismissed, 0);

  server->sendFailure = nullptr;
  dialog->send();
  ASSERT_TRUE(spinUntil([&] { return dismissed == 1; }));
  EXPECT_EQ(server->published, (std::vector<std::string>{"keepStarted", "keepStarted"}));
}

// A send whose answer was lost may have published the plan: the dialog says so, and that "Отправить" again is safe.
TEST_F(PublicationDialog, ASendWhoseOutcomeIsUnknownSaysThePlanMayHaveArrived) {
  server->answered = true;
  open();
  ASSERT_TRUE(settled());
  struct Case {
    std::exception_ptr failure;
    bool unknown;
  };
  const std::vector<Case> cases{
      {std::make_exception_ptr(DorvikError("Внутренняя ошибка сервера.", 500)), true},
      {std::make_exception_ptr(TransportError(TransportError::Code::NetworkConnectionLost)), true},
      {std::make_exception_ptr(DorvikError("Нет прав.", 403)), false},
      {std::make_exception_ptr(TransportError(TransportError::Code::CannotConnectToHost)), false},
  };
  for (const Case& c : cases) {
    server->sendFailure = c.failure;
    dialog->send();
    ASSERT_TRUE(settled());
    const std::string message = *failureText(c.failure);
    EXPECT_EQ(dialog->issue(), c.unknown ? message + " " + kOutcomeUnknown : message);
    EXPECT_EQ(dialog->phase(), Publication::Phase::ready) << message;
  }
}

TEST_F(PublicationDialog, AFailedCheckLeavesOnlyCancel) {
  server->checkFailure = "Сервер перегружен.";
  server->answered = true;
  open();
  ASSERT_TRUE(settled());
  EXPECT_EQ(dialog->phase(), Publication::Phase::checkFailed);
  EXPECT_EQ(dialog->issue(), "Сервер перегружен.");
  EXPECT_FALSE(dialog->canSend());
  dialog->send();
  EXPECT_TRUE(server->published.empty());
  EXPECT_EQ(server->fetched.size(), 1u) << "not asked again while open";
}

TEST_F(PublicationDialog, CourierActivityWithdrawsReplaceAndAnAnswerMayLackItsNumbers) {
  server->existing = JSONValue::object({{"hasActivity", "1"}});
  server->answered = true;
  open();
  ASSERT_TRUE(settled());
  EXPECT_EQ(offered(), (std::vector<std::string>{"append", "keepStarted"}));
  EXPECT_EQ(serverLine(dialog->existing()), "На сервере: 0. С отметками курьеров: 0.");
  dialog->setMode("replace");
  EXPECT_EQ(dialog->mode(), "append") << "a mode not offered is not taken";

  server->existing = nullptr;
  open();
  ASSERT_TRUE(settled());
  EXPECT_EQ(dialog->phase(), Publication::Phase::ready) << "an empty answer: nothing published yet";
  EXPECT_EQ(offered().size(), 3u);
}

// Values the import could not read go out empty only once confirmed: the dialog lists those of the routed orders
// and keeps "Отправить" disabled until the user agrees; a changed list asks again.
TEST_F(PublicationDialog, ValuesSentEmptyAreListedAndMustBeConfirmed) {
  auto unread = [](const char* key, const char* column, const char* text) {
    return JSONValue::object({{"key", key}, {"column", column}, {"text", text}});
  };
  const JSONValue plan = JSONValue::object(
      {{"orders",
        JSONValue::array(
            {JSONValue::object({{"id", "1001"}, {"title", "Кафе"}}),
             JSONValue::object({{"id", "1002"}, {"_unread", JSONValue::array({unread("units", "Места", "два")})}}),
             JSONValue::object({{"id", "1003"},
                                {"title", "Склад"},
                                {"_unread", JSONValue::array({unread("window", "Окно", "18:00-09:00"),
                                                              unread("units", "Места", "три")})}})})},
       {"routes", JSONValue::array({JSONValue::object({{"orders", JSONValue::array({2, 0})}})})},
       {"unassigned", JSONValue::array({1})}});
  const std::vector<std::string> values = valuesSentEmpty(plan);
  EXPECT_EQ(values,
            (std::vector<std::string>{"№1003 · Склад — «Окно»: «18:00-09:00»", "№1003 · Склад — «Места»: «три»"}))
      << "only orders on a route are sent";

  server->answered = true;
  open();
  dialog->setSentEmpty(values);
  ASSERT_TRUE(settled());
  EXPECT_FALSE(dialog->canSend());
  dialog->send();
  EXPECT_TRUE(server->published.empty());
  dialog->setConfirmed(true);
  EXPECT_TRUE(dialog->canSend());
  dialog->setSentEmpty({values[0]});
  EXPECT_FALSE(dialog->confirmed()) << "another list is confirmed again";
  dialog->setSentEmpty({});
  EXPECT_TRUE(dialog->canSend()) << "nothing sent empty: nothing to confirm";
  dialog->send();
  ASSERT_TRUE(spinUntil([&] { return dismissed == 1; }));
}

TEST(PublicationLines, TheDateIsEncodedAndTheSummaryCountsRoutes) {
  EXPECT_EQ(existingPlansPath("2026-09-22"), "/plans/existing?date=2026-09-22");
  EXPECT_EQ(existingPlansPath("2026-09-22&mode=replace#x"), "/plans/existing?date=2026-09-22%26mode%3Dreplace%23x");
  EXPECT_EQ(existingPlansPath("22 сентября"),
            "/plans/existing?date=22%20%D1%81%D0%B5%D0%BD%D1%82%D1%8F%D0%B1%D1%80%D1%8F");
  EXPECT_EQ(publicationSummary(0, "2026-09-22"), "0 маршрутов · 2026-09-22");
  EXPECT_EQ(publicationSummary(2, ""), "2 маршрутов · ");
}
