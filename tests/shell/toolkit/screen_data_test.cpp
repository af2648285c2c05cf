#include <gtest/gtest.h>

#include <chrono>

#include "core/api/failure.h"
#include "core/api/transport_error.h"
#include "core/async/sleep.h"
#include "core/base/errors.h"
#include "shell/toolkit/screen_data.h"
#include "support/async_helpers.h"

using namespace dorvik;
using namespace std::chrono_literals;
using dorvik::testing::spinUntil;
using dorvik::testing::start;

namespace {

// A gateway whose answers the test hands out one by one, in any order.
struct FakeGateway {
  struct Pending {
    bool done = false;
    std::optional<JSONValue> answer;
    std::exception_ptr error;
    std::string path, method;
    std::optional<JSONValue> body;
  };
  std::vector<std::shared_ptr<Pending>> requests;
  std::string generation = "g1";

  static async::Task<JSONValue> wait(std::shared_ptr<Pending> pending) {
    while (!pending->done) co_await async::sleepFor(1ms);
    if (pending->error) std::rethrow_exception(pending->error);
    co_return *pending->answer;
  }

  ScreenSource source() {
    return ScreenSource{[this] { return generation; },
                        [this](std::string path, std::string method, std::optional<JSONValue> body) {
                          auto pending = std::make_shared<Pending>();
                          pending->path = std::move(path);
                          pending->method = std::move(method);
                          pending->body = std::move(body);
                          requests.push_back(pending);
                          return wait(pending);
                        }};
  }
  void answer(std::size_t i, JSONValue value) {
    requests.at(i)->answer = std::move(value);
    requests.at(i)->done = true;
  }
  void fail(std::size_t i, std::exception_ptr error) {
    requests.at(i)->error = std::move(error);
    requests.at(i)->done = true;
  }
};

std::exception_ptr refusal(const char* text) { return std::make_exception_ptr(DorvikError(text, 400)); }

}  // namespace

TEST(ScreenData, OnlyTheNewestLoadCounts) {
  FakeGateway server;
  auto state = ScreenData::create();
  auto first = start(state->load("/a", server.source()));
  auto second = start(state->load("/a", server.source()));
  ASSERT_TRUE(spinUntil([&] { return server.requests.size() == 2; }));
  EXPECT_EQ(server.requests[0]->method, "GET");
  EXPECT_TRUE(state->loading());
  // The older answer arrives first and is dropped; loading stays on for the newer load.
  server.answer(0, JSONValue("old"));
  ASSERT_TRUE(spinUntil([&] { return first->done; }));
  EXPECT_TRUE(state->value().isNull());
  EXPECT_TRUE(state->loading());
  server.answer(1, JSONValue("new"));
  ASSERT_TRUE(spinUntil([&] { return second->done; }));
  EXPECT_EQ(state->value(), JSONValue("new"));
  EXPECT_FALSE(state->loading());
  // An older failure arriving after the newer answer changes nothing either.
  auto third = start(state->load("/a", server.source()));
  auto fourth = start(state->load("/a", server.source()));
  ASSERT_TRUE(spinUntil([&] { return server.requests.size() == 4; }));
  server.answer(3, JSONValue("newest"));
  ASSERT_TRUE(spinUntil([&] { return fourth->done; }));
  server.fail(2, refusal("Ошибка"));
  ASSERT_TRUE(spinUntil([&] { return third->done; }));
  EXPECT_EQ(state->value(), JSONValue("newest"));
  EXPECT_FALSE(state->issue());
}

TEST(ScreenData, AFailureKeepsTheOldValueAndAReloadKeepsTheOldLine) {
  FakeGateway server;
  auto state = ScreenData::create();
  auto a = start(state->load("/a", server.source()));
  ASSERT_TRUE(spinUntil([&] { return server.requests.size() == 1; }));
  server.answer(0, JSONValue::object({{"photoProof", true}}));
  ASSERT_TRUE(spinUntil([&] { return a->done; }));
  auto b = start(state->load("/a", server.source()));
  ASSERT_TRUE(spinUntil([&] { return server.requests.size() == 2; }));
  server.fail(1, refusal("Сервер недоступен."));
  ASSERT_TRUE(spinUntil([&] { return b->done; }));
  EXPECT_EQ(state->issue(), "Сервер недоступен.");
  EXPECT_TRUE(state->value()["photoProof"].boolValue());
  // Same workspace: the value and the line stay visible while the next load runs.
  auto c = start(state->load("/a", server.source()));
  ASSERT_TRUE(spinUntil([&] { return server.requests.size() == 3; }));
  EXPECT_TRUE(state->loading());
  EXPECT_EQ(state->issue(), "Сервер недоступен.");
  EXPECT_FALSE(state->value().isNull());
  server.answer(2, JSONValue("ok"));
  ASSERT_TRUE(spinUntil([&] { return c->done; }));
  EXPECT_FALSE(state->issue());
}

TEST(ScreenData, OlderGenerationsAreDroppedAndANewWorkspaceStartsEmpty) {
  FakeGateway server;
  auto state = ScreenData::create();
  auto a = start(state->load("/a", server.source()));
  ASSERT_TRUE(spinUntil([&] { return server.requests.size() == 1; }));
  server.answer(0, JSONValue("first"));
  ASSERT_TRUE(spinUntil([&] { return a->done; }));
  state->setIssue("старое");
  // The workspace changes while a load waits: its answer is dropped.
  auto b = start(state->load("/a", server.source()));
  ASSERT_TRUE(spinUntil([&] { return server.requests.size() == 2; }));
  server.generation = "g2";
  server.answer(1, JSONValue("stale"));
  ASSERT_TRUE(spinUntil([&] { return b->done; }));
  EXPECT_EQ(state->value(), JSONValue("first"));
  EXPECT_FALSE(state->loading());
  // A failure of an older generation leaves no line.
  auto c = start(state->load("/a", server.source()));
  ASSERT_TRUE(spinUntil([&] { return server.requests.size() == 3; }));
  // The load under g2 cleared the previous workspace's value and line before sending.
  EXPECT_TRUE(state->value().isNull());
  EXPECT_FALSE(state->issue());
  server.generation = "g3";
  server.fail(2, refusal("Ошибка"));
  ASSERT_TRUE(spinUntil([&] { return c->done; }));
  EXPECT_FALSE(state->issue());
}

TEST(ScreenData, ACancelledLoadShowsNothing) {
  FakeGateway server;
  auto state = ScreenData::create();
  async::CancelToken token;
  auto a = start(state->load("/a", server.source()), token);
  ASSERT_TRUE(spinUntil([&] { return server.requests.size() == 1; }));
  token.cancel();
  ASSERT_TRUE(spinUntil([&] { return a->done; }));
  EXPECT_FALSE(state->issue());
  EXPECT_FALSE(state->loading());
  EXPECT_TRUE(state->value().isNull());
}

TEST(ScreenData, NoWriteWhileSaving) {
  FakeGateway server;
  auto state = ScreenData::create();
  state->setValue(JSONValue("kept"));
  state->setIssue("старое");
  auto first = start(state->write("/d/settings", "PATCH", JSONValue::object({{"photoProof", true}}), server.source()));
  ASSERT_TRUE(spinUntil([&] { return server.requests.size() == 1; }));
  EXPECT_TRUE(state->saving());
  EXPECT_EQ(server.requests[0]->method, "PATCH");
  EXPECT_EQ(*server.requests[0]->body, JSONValue::object({{"photoProof", true}}));
  auto second = start(state->write("/d/settings", "PATCH", JSONValue::object({}), server.source()));
  ASSERT_TRUE(spinUntil([&] { return second->done; }));
  EXPECT_FALSE(*second->value);
  EXPECT_EQ(server.requests.size(), 1u);
  EXPECT_TRUE(state->saving());
  server.answer(0, JSONValue("ignored"));
  ASSERT_TRUE(spinUntil([&] { return first->done; }));
  EXPECT_TRUE(*first->value);
  EXPECT_FALSE(state->saving());
  EXPECT_FALSE(state->issue());
  EXPECT_EQ(state->value(), JSONValue("kept"));
}

TEST(ScreenData, AWriteFailsOrOutlivesItsWorkspace) {
  FakeGateway server;
  auto state = ScreenData::create();
  auto failed = start(state->write("/x", "POST", JSONValue(), server.source()));
  ASSERT_TRUE(spinUntil([&] { return server.requests.size() == 1; }));
  server.fail(0, refusal("Пример доступен только для просмотра."));
  ASSERT_TRUE(spinUntil([&] { return failed->done; }));
  EXPECT_FALSE(*failed->value);
  EXPECT_EQ(state->issue(), "Пример доступен только для просмотра.");
  auto late = start(state->write("/x", "POST", JSONValue(), server.source()));
  ASSERT_TRUE(spinUntil([&] { return server.requests.size() == 2; }));
  server.generation = "g2";
  server.answer(1, JSONValue());
  ASSERT_TRUE(spinUntil([&] { return late->done; }));
  EXPECT_FALSE(*late->value);
  EXPECT_EQ(state->issue(), "Пример доступен только для просмотра.");
  EXPECT_FALSE(state->saving());
}

// A write whose answer was lost may have been stored: it says so, where a request that never reached the server
// (or a refusal) keeps its own message.
TEST(ScreenData, AWriteWhoseAnswerWasLostMayHaveBeenStored) {
  using Code = TransportError::Code;
  const std::pair<std::exception_ptr, std::string> cases[] = {
      {std::make_exception_ptr(TransportError(Code::TimedOut)),
       std::string("Сервер не ответил вовремя. ") + kMaybeSaved},
      {std::make_exception_ptr(TransportError(Code::NetworkConnectionLost)),
       std::string("Соединение с сервером прервалось. ") + kMaybeSaved},
      {std::make_exception_ptr(DorvikError("Сервер перегружен.", 503)),
       std::string("Сервер перегружен. ") + kMaybeSaved},
      {std::make_exception_ptr(TransportError(Code::CannotConnectToHost)), "Не удалось подключиться к серверу."},
      {std::make_exception_ptr(TransportError(Code::NotConnectedToInternet)), "Нет подключения к сети."},
      {refusal("Такая запись уже есть."), "Такая запись уже есть."},
  };
  for (const auto& [failure, message] : cases) {
    FakeGateway server;
    auto state = ScreenData::create();
    auto write = start(state->write("/staff/people", "POST", JSONValue::object({}), server.source()));
    ASSERT_TRUE(spinUntil([&] { return server.requests.size() == 1; }));
    server.fail(0, failure);
    ASSERT_TRUE(spinUntil([&] { return write->done; }));
    EXPECT_EQ(state->issue(), message);
  }
}

TEST(ScreenData, EqualWritesNotifyNobody) {
  auto state = ScreenData::create();
  int count = 0;
  auto connection = state->observe([&](ScreenData::Property) { ++count; });
  state->setValue(JSONValue::object({{"a", 1}}));
  state->setValue(JSONValue::object({{"a", 1}}));
  state->setIssue("x");
  state->setIssue("x");
  EXPECT_EQ(count, 2);
}
