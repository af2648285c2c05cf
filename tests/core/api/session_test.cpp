// Sign-in, session restore, the one token renewal in flight, the sign-in generation and sign-out.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <vector>

#include "core/api/api_test_helpers.h"

using namespace dorvik;
using namespace dorvik::testing;
using namespace std::chrono_literals;

namespace {

constexpr const char* kRoleRefused =
    "В панель может войти администратор или логист. Для курьера используйте приложение курьера.";

// Answers a request with the given token and refuses every other one with 401.
StandInServer::Handler acceptOnly(std::string token, JSONValue value = JSONValue::object({{"ok", true}})) {
  return [token = std::move(token), value](const Hit& hit) {
    return hit.header("Authorization") == "Bearer " + token ? Answer::json(value) : Answer::error(401, "Токен устарел");
  };
}

}  // namespace

TEST(SignIn, EachPanelRoleGetsASession) {
  for (const char* role : {"admin", "superadmin", "logist"}) {
    StandInServer server;
    server.on("POST", "/auth/login", Answer::json(sessionAnswer(role, "access-1", "refresh-1")));
    server.on("GET", "/me", acceptOnly("access-1"));
    auto client = makeClient(server.url() + "/", APIClient::Options{});

    const JSONValue user = async::runBlocking(client->login("+7 900 000-00-00", "пароль"));
    EXPECT_EQ(user["role"].string(), role);
    EXPECT_EQ(user["name"].string(), "Ирина");
    EXPECT_TRUE(client->hasSavedSession());
    EXPECT_EQ(storedRefresh(*client), "refresh-1");
    EXPECT_EQ(client->refreshAccount(), "refresh:" + server.url() + "/") << "the base URL exactly as given";
    EXPECT_TRUE(async::runBlocking(client->request("/me"))["ok"].boolValue());

    const Hit login = server.hitsOn("/auth/login").at(0);
    EXPECT_EQ(login.body, R"({"appVersion":"1.0.0","login":"+7 900 000-00-00","password":"пароль",)"
                          R"("phone":"+7 900 000-00-00","platform":"macos"})");
    EXPECT_FALSE(login.hasHeader("Authorization"));
    EXPECT_FALSE(login.hasHeader("Idempotency-Key"));
    async::runBlocking(client->logout());
  }
}

TEST(SignIn, OtherRolesAndIncompleteAnswersAreRefusedAndStoreNothing) {
  StandInServer server;
  std::map<std::string, JSONValue> answers = {
      {"courier", sessionAnswer("courier", "a", "r")},
      {"upper", sessionAnswer("Admin", "a", "r")},
      {"blank", sessionAnswer("", "a", "r")},
      {"nouser", JSONValue::object({{"accessToken", "a"}, {"refreshToken", "r"}})},
      {"userText", JSONValue::object({{"accessToken", "a"}, {"refreshToken", "r"}, {"user", "admin"}})},
      {"emptyRefresh", sessionAnswer("admin", "a", "")},
      {"noAccess", JSONValue::object({{"refreshToken", "r"}, {"user", JSONValue::object({{"role", "admin"}})}})},
  };
  server.on("POST", "/auth/login",
            [&](const Hit& hit) { return Answer::json(answers.at(hit.json()["login"].string())); });
  server.on("GET", "/me", Answer::json(true));
  auto client = makeClient(server.url(), APIClient::Options{});

  for (const char* who : {"courier", "upper", "blank", "nouser", "userText"}) {
    const DorvikError e = dorvikErrorOf(client->login(who, "x"));
    EXPECT_EQ(e.message(), kRoleRefused) << who;
    EXPECT_EQ(e.status(), 403) << who;
  }
  for (const char* who : {"emptyRefresh", "noAccess"}) {
    const DorvikError e = dorvikErrorOf(client->login(who, "x"));
    EXPECT_EQ(e.message(), "Не удалось подтвердить сессию.") << who;
    EXPECT_EQ(e.status(), 0) << who;
  }
  EXPECT_FALSE(client->hasSavedSession());
  EXPECT_EQ(storedRefresh(*client), std::nullopt);
  async::runBlocking(client->request("/me"));
  EXPECT_FALSE(server.hitsOn("/me").at(0).hasHeader("Authorization"));
}

TEST(SignIn, AWrongPasswordIsReportedAtOnceWithoutRenewal) {
  StandInServer server;
  server.on("POST", "/auth/login", Answer::error(401, "Неверный логин или пароль"));
  auto client = makeClient(server.url(), transient());
  const DorvikError e = dorvikErrorOf(client->login("ivan", "wrong"));
  EXPECT_EQ(e.message(), "Неверный логин или пароль");
  EXPECT_EQ(e.status(), 401);
  EXPECT_EQ(server.hits("/auth/refresh"), 0u);
}

TEST(SavedSession, TheRefreshTokenOutlivesTheClient) {
  StandInServer server;
  server.on("POST", "/api/auth/login", Answer::json(sessionAnswer("logist", "a1", "r1")));
  server.on("POST", "/api/auth/refresh", Answer::json(sessionAnswer("logist", "a2", "r2")));
  server.on("POST", "/api/auth/logout", Answer::empty(204));
  server.on("GET", "/api/me", acceptOnly("a2"));
  const std::string base = server.url() + "/api/";
  {
    auto first = makeClient(base, APIClient::Options{});
    EXPECT_FALSE(first->hasSavedSession());
    async::runBlocking(first->login("ivan", "secret"));
  }
  auto second = makeClient(base, APIClient::Options{});
  EXPECT_TRUE(second->hasSavedSession());
  EXPECT_EQ(async::runBlocking(second->restore())["role"].string(), "logist");
  EXPECT_EQ(server.hitsOn("/api/auth/refresh").at(0).body, R"({"refreshToken":"r1"})");
  EXPECT_EQ(storedRefresh(*second), "r2");
  EXPECT_TRUE(async::runBlocking(second->request("/me"))["ok"].boolValue());

  // Another spelling of the base URL is another account.
  auto other = makeClient(server.url() + "/api", APIClient::Options{});
  EXPECT_FALSE(other->hasSavedSession());

  async::runBlocking(second->logout());
  EXPECT_EQ(storedRefresh(*second), std::nullopt);
  EXPECT_FALSE(makeClient(base, APIClient::Options{})->hasSavedSession());
}

TEST(SavedSession, WithoutPersistenceNothingIsStoredAndRestoreAsksForSignIn) {
  StandInServer server;
  server.on("POST", "/auth/login", Answer::json(sessionAnswer("admin", "a1", "r1")));
  auto client = makeClient(server.url(), transient());
  async::runBlocking(client->login("ivan", "secret"));
  EXPECT_TRUE(client->hasSavedSession());
  EXPECT_EQ(storedRefresh(*client), std::nullopt);
  EXPECT_FALSE(makeClient(server.url(), APIClient::Options{})->hasSavedSession());

  auto fresh = makeClient(server.url(), transient());
  const DorvikError e = dorvikErrorOf(fresh->restore());
  EXPECT_EQ(e.message(), "Войдите в свою учётную запись.");
  EXPECT_EQ(e.status(), 401);
  EXPECT_EQ(server.hits("/auth/refresh"), 0u);
}

TEST(Renewal, TwentyRefusalsAtOnceShareOneRenewalAndRepeatOnceEach) {
  StandInServer server;
  server.on("POST", "/auth/login", Answer::json(sessionAnswer("admin", "a1", "r1")));
  server.on("POST", "/auth/refresh", Answer::json(sessionAnswer("admin", "a2", "r2")).held());
  server.on("POST", "/orders", acceptOnly("a2"));
  auto client = makeClient(server.url(), APIClient::Options{});
  async::runBlocking(client->login("ivan", "secret"));

  std::vector<std::shared_ptr<Outcome<JSONValue>>> outcomes;
  for (int i = 0; i < 20; ++i) {
    JSONValue body = JSONValue::object({{"n", i}});
    outcomes.push_back(start(client->request("/orders", "POST", body, "key-" + std::to_string(i))));
  }
  ASSERT_TRUE(spinUntil([&] { return server.hits("/orders") == 20 && server.held("/auth/refresh") == 1; }));
  spinFor(200ms);  // every refusal reaches the client while the renewal is held
  EXPECT_EQ(server.hits("/orders"), 20u) << "nothing repeats before the renewal ends";
  server.release("/auth/refresh");
  ASSERT_TRUE(
      spinUntil([&] { return std::all_of(outcomes.begin(), outcomes.end(), [](const auto& o) { return o->done; }); }));

  EXPECT_EQ(server.hits("POST", "/auth/refresh"), 1u);
  EXPECT_EQ(server.hitsOn("/auth/refresh").at(0).body, R"({"refreshToken":"r1"})");
  EXPECT_FALSE(server.hitsOn("/auth/refresh").at(0).hasHeader("Authorization"));
  for (const auto& o : outcomes) {
    ASSERT_TRUE(o->ok());
    EXPECT_TRUE((*o->value)["ok"].boolValue());
  }
  // Each request went out twice: with the old token, then once more with the new one and the same key.
  std::map<std::string, std::vector<std::string>> byKey;
  for (const Hit& hit : server.hitsOn("/orders"))
    byKey[hit.header("Idempotency-Key")].push_back(hit.header("Authorization"));
  ASSERT_EQ(byKey.size(), 20u);
  for (const auto& [key, tokens] : byKey) {
    EXPECT_EQ(tokens, (std::vector<std::string>{"Bearer a1", "Bearer a2"})) << key;
  }
  EXPECT_EQ(storedRefresh(*client), "r2");
  async::runBlocking(client->logout());
}

TEST(Renewal, ASecondRefusalIsTheCallersAndRenewsNoMore) {
  StandInServer server;
  server.on("POST", "/auth/login", Answer::json(sessionAnswer("admin", "a1", "r1")));
  server.on("POST", "/auth/refresh", Answer::json(sessionAnswer("admin", "a2", "r2")));
  server.on("GET", "/files/7", Answer::error(401, "Нет прав на файл"));
  auto client = makeClient(server.url(), transient());
  async::runBlocking(client->login("ivan", "secret"));

  const DorvikError e = dorvikErrorOf(client->download("/files/7"));
  EXPECT_EQ(e.message(), "Нет прав на файл");
  EXPECT_EQ(e.status(), 401);
  EXPECT_EQ(server.hits("/files/7"), 2u);
  EXPECT_EQ(server.hits("/auth/refresh"), 1u);
}

TEST(Renewal, RefusalsThatArriveAfterTheRenewalRepeatWithTheNewTokenWithoutRenewingAgain) {
  StandInServer server;
  server.on("POST", "/auth/login", Answer::json(sessionAnswer("admin", "a1", "r1")));
  server.on("POST", "/auth/refresh", Answer::json(sessionAnswer("admin", "a2", "r2")));
  // The expired token's refusals come back over half a second, most of them after the renewal has ended.
  int refused = 0;
  server.on("GET", "/orders", [&refused](const Hit& hit) {
    if (hit.header("Authorization") == "Bearer a2") return Answer::json(JSONValue::object({{"ok", true}}));
    return Answer::error(401, "Токен устарел").delayed(std::chrono::milliseconds(25 * refused++));
  });
  auto client = makeClient(server.url(), transient());
  async::runBlocking(client->login("ivan", "secret"));

  std::vector<std::shared_ptr<Outcome<JSONValue>>> outcomes;
  for (int i = 0; i < 20; ++i) outcomes.push_back(start(client->request("/orders")));
  ASSERT_TRUE(
      spinUntil([&] { return std::all_of(outcomes.begin(), outcomes.end(), [](const auto& o) { return o->done; }); }));
  for (const auto& o : outcomes) EXPECT_TRUE(o->ok());
  EXPECT_EQ(server.hits("/auth/refresh"), 1u);
  EXPECT_EQ(server.hits("/orders"), 40u) << "each request once with the old token and once with the new one";
}

TEST(Renewal, AServerErrorFailsEveryWaiterAndKeepsTheSession) {
  StandInServer server;
  server.on("POST", "/auth/login", Answer::json(sessionAnswer("admin", "a1", "r1")));
  server.on("POST", "/auth/refresh", Answer::error(503, "Сервер перегружен").held());
  server.on("GET", "/orders", acceptOnly("a2"));
  auto client = makeClient(server.url(), APIClient::Options{});
  async::runBlocking(client->login("ivan", "secret"));

  std::vector<std::shared_ptr<Outcome<JSONValue>>> outcomes;
  for (int i = 0; i < 20; ++i) outcomes.push_back(start(client->request("/orders")));
  ASSERT_TRUE(spinUntil([&] { return server.hits("/orders") == 20 && server.held("/auth/refresh") == 1; }));
  spinFor(200ms);
  server.release("/auth/refresh");
  ASSERT_TRUE(
      spinUntil([&] { return std::all_of(outcomes.begin(), outcomes.end(), [](const auto& o) { return o->done; }); }));
  for (const auto& o : outcomes) {
    DorvikError e("");
    ASSERT_TRUE(o->failedWith(&e));
    EXPECT_EQ(e.message(), "Сервер перегружен");
    EXPECT_EQ(e.status(), 503);
  }
  EXPECT_EQ(server.hits("/auth/refresh"), 1u);
  EXPECT_EQ(server.hits("/orders"), 20u) << "no repetition after a failed renewal";
  EXPECT_TRUE(client->hasSavedSession());
  EXPECT_EQ(storedRefresh(*client), "r1");

  // The failed renewal is over: the next refusal starts a new one.
  server.on("POST", "/auth/refresh", Answer::empty(502));
  const DorvikError again = dorvikErrorOf(client->request("/orders"));
  EXPECT_EQ(again.message(), "Сервер ответил 502.");
  EXPECT_EQ(server.hits("/auth/refresh"), 2u);
  async::runBlocking(client->logout());
}

TEST(Renewal, ARefreshTokenRefusedAsRevokedOrReusedEndsTheSessionInOneStep) {
  // 401 and 403 alike; a keyring that stays locked keeps the refused token, withdrawn.
  for (const auto& [status, removal] : {std::pair{401, MemoryTokens::Removal::works},
                                        std::pair{403, MemoryTokens::Removal::works},
                                        std::pair{401, MemoryTokens::Removal::locked}}) {
    SCOPED_TRACE(status);
    StandInServer server;
    server.on("POST", "/auth/login", Answer::json(sessionAnswer("admin", "a1", "r1")));
    server.on("POST", "/auth/refresh", Answer::error(status, "Токен обновления отозван").held());
    server.on("GET", "/orders", acceptOnly("a2"));
    server.on("GET", "/late", Answer::error(401, "Токен устарел").held());
    auto tokens = std::make_shared<MemoryTokens>();
    tokens->removal = removal;
    APIClient::Options options;
    options.tokenStore = MemoryTokens::of(tokens);
    auto client = makeClient(server.url(), options);
    std::vector<std::optional<std::string>> savedWhenTold;
    client->onSessionEnded([&] { savedWhenTold.push_back(tokens->saved); });
    async::runBlocking(client->login("ivan", "secret"));

    std::vector<std::shared_ptr<Outcome<JSONValue>>> outcomes;
    for (int i = 0; i < 5; ++i) outcomes.push_back(start(client->request("/orders")));
    auto restoring = start(client->restore());
    // A request whose 401 comes back only after the refusal: it meets no session, and says nothing of a sign-in.
    auto late = start(client->request("/late"));
    ASSERT_TRUE(spinUntil([&] { return server.hits("/orders") == 5 && server.held("/late") == 1; }));
    spinFor(100ms);
    server.release("/auth/refresh");
    ASSERT_TRUE(spinUntil([&] { return restoring->done; }));
    server.release("/late");
    ASSERT_TRUE(spinUntil([&] {
      return late->done && std::all_of(outcomes.begin(), outcomes.end(), [](const auto& o) { return o->done; });
    }));
    for (const auto& o : outcomes) EXPECT_TRUE(o->failedWith<CancelledError>());
    EXPECT_TRUE(late->failedWith<CancelledError>());
    DorvikError e("");
    ASSERT_TRUE(restoring->failedWith(&e));
    EXPECT_EQ(e.message(), "Сессия больше не действует. Войдите снова.");
    EXPECT_EQ(e.status(), 401);
    // Told once, at once: the saved token was still there.
    EXPECT_EQ(savedWhenTold, std::vector<std::optional<std::string>>{"r1"});
    EXPECT_FALSE(client->hasSavedSession());
    if (removal == MemoryTokens::Removal::works) {
      EXPECT_EQ(tokens->saved, std::nullopt);
      EXPECT_EQ(tokens->withdrawn, std::nullopt);
    } else {
      EXPECT_EQ(tokens->saved, "r1");
      EXPECT_EQ(tokens->withdrawn, "r1");
    }

    // Later requests go out without the dead tokens and send no further renewal.
    const DorvikError later = dorvikErrorOf(client->request("/orders"));
    EXPECT_EQ(later.message(), "Войдите в свою учётную запись.");
    EXPECT_FALSE(server.hitsOn("/orders").back().hasHeader("Authorization"));
    EXPECT_EQ(server.hits("/auth/refresh"), 1u);
    EXPECT_EQ(savedWhenTold.size(), 1u);
  }
}

TEST(Renewal, ASavedSessionWithoutAnAccessTokenRenewsBeforeItsFirstRequest) {
  StandInServer server;
  server.on("POST", "/auth/refresh", Answer::json(sessionAnswer("logist", "a2", "r2")));
  server.on("GET", "/orders", acceptOnly("a2"));
  server.on("GET", "/depots", acceptOnly("a2"));
  APIClient::Options options;
  auto tokens = std::make_shared<MemoryTokens>();
  tokens->saved = "r1";
  options.tokenStore = MemoryTokens::of(tokens);
  // As after a start without network: the refresh token was read, the session never restored.
  auto client = makeClient(server.url(), options);
  ASSERT_TRUE(client->hasSavedSession());

  auto orders = start(client->request("/orders"));
  auto depots = start(client->request("/depots"));
  ASSERT_TRUE(spinUntil([&] { return orders->done && depots->done; }));
  EXPECT_TRUE(orders->ok());
  EXPECT_TRUE(depots->ok());
  EXPECT_EQ(server.hits("/auth/refresh"), 1u);
  for (const char* path : {"/orders", "/depots"}) {
    ASSERT_EQ(server.hits(path), 1u) << path;
    EXPECT_EQ(server.hitsOn(path).at(0).header("Authorization"), "Bearer a2") << path;
  }
  EXPECT_EQ(tokens->saved, "r2");
}

TEST(Renewal, AWaiterThatGivesUpDoesNotStopTheRenewal) {
  StandInServer server;
  server.on("POST", "/auth/login", Answer::json(sessionAnswer("admin", "a1", "r1")));
  server.on("POST", "/auth/refresh", Answer::json(sessionAnswer("admin", "a2", "r2")).held());
  server.on("GET", "/orders", acceptOnly("a2"));
  auto client = makeClient(server.url(), transient());
  async::runBlocking(client->login("ivan", "secret"));

  async::CancelToken token;
  auto impatient = start(client->request("/orders"), token);
  auto patient = start(client->request("/orders"));
  ASSERT_TRUE(spinUntil([&] { return server.held("/auth/refresh") == 1 && server.hits("/orders") == 2; }));
  spinFor(100ms);
  token.cancel();
  ASSERT_TRUE(spinUntil([&] { return impatient->done; }));
  EXPECT_TRUE(impatient->failedWith<CancelledError>());
  server.release("/auth/refresh");
  ASSERT_TRUE(spinUntil([&] { return patient->done; }));
  EXPECT_TRUE(patient->ok());
  EXPECT_EQ(server.hits("/auth/refresh"), 1u);
}

TEST(SignOut, DuringARenewalCancelsItsWaitersAndStoresNothing) {
  StandInServer server;
  server.on("POST", "/auth/login", Answer::json(sessionAnswer("admin", "a1", "r1")));
  server.on("POST", "/auth/refresh", Answer::json(sessionAnswer("admin", "a2", "r2")).held());
  server.on("POST", "/auth/logout", Answer::json(JSONValue::object({{"ok", true}})));
  server.on("GET", "/orders", acceptOnly("a2"));
  auto client = makeClient(server.url(), APIClient::Options{});
  async::runBlocking(client->login("ivan", "secret"));

  std::vector<std::shared_ptr<Outcome<JSONValue>>> waiters;
  for (int i = 0; i < 5; ++i) waiters.push_back(start(client->request("/orders")));
  auto restoring = start(client->restore());
  ASSERT_TRUE(spinUntil([&] { return server.held("/auth/refresh") == 1 && server.hits("/orders") == 5; }));
  spinFor(100ms);

  async::runBlocking(client->logout());
  ASSERT_TRUE(spinUntil([&] {
    return restoring->done && std::all_of(waiters.begin(), waiters.end(), [](const auto& o) { return o->done; });
  }));
  for (const auto& o : waiters) EXPECT_TRUE(o->failedWith<CancelledError>());
  EXPECT_FALSE(restoring->ok());
  server.releaseAll();  // the renewal's answer, should it still find a listener
  spinFor(100ms);

  EXPECT_FALSE(client->hasSavedSession());
  EXPECT_EQ(storedRefresh(*client), std::nullopt);
  EXPECT_EQ(server.hits("/auth/refresh"), 1u);
  EXPECT_EQ(server.hits("/orders"), 5u);
  EXPECT_EQ(server.hitsOn("/auth/logout").at(0).body, R"({"refreshToken":"r1"})");
  // Signed out: the next refusal finds nothing to renew with, and nothing carries the old token.
  const DorvikError after = dorvikErrorOf(client->request("/orders"));
  EXPECT_EQ(after.message(), "Войдите в свою учётную запись.");
  EXPECT_EQ(after.status(), 401);
  EXPECT_FALSE(server.hitsOn("/orders").back().hasHeader("Authorization"));
}

TEST(Generation, AnAnswerOfAnEarlierSignInIsDropped) {
  StandInServer server;
  server.on("POST", "/auth/login", [](const Hit& hit) {
    const std::string who = hit.json()["login"].string();
    Answer a = Answer::json(sessionAnswer("admin", "access-" + who, "refresh-" + who));
    if (who == "slow") a.held();
    return a;
  });
  server.on("GET", "/report", Answer::json(JSONValue::object({{"owner", "first"}})).held());
  auto client = makeClient(server.url(), APIClient::Options{});
  async::runBlocking(client->login("first", "x"));

  // A request of the first sign-in is answered after the second one.
  auto report = start(client->request("/report"));
  ASSERT_TRUE(spinUntil([&] { return server.held("/report") == 1; }));
  async::runBlocking(client->login("second", "x"));
  server.release("/report");
  ASSERT_TRUE(spinUntil([&] { return report->done; }));
  EXPECT_TRUE(report->failedWith<CancelledError>());

  // A sign-in overtaken by another one stores nothing.
  auto slow = start(client->login("slow", "x"));
  ASSERT_TRUE(spinUntil([&] { return server.held("/auth/login") == 1; }));
  async::runBlocking(client->login("third", "x"));
  server.release("/auth/login");
  ASSERT_TRUE(spinUntil([&] { return slow->done; }));
  EXPECT_TRUE(slow->failedWith<CancelledError>());
  EXPECT_EQ(storedRefresh(*client), "refresh-third");
  server.on("GET", "/me", acceptOnly("access-third"));
  EXPECT_TRUE(async::runBlocking(client->request("/me"))["ok"].boolValue());
  EXPECT_GE(client->generation(), 4);
  async::runBlocking(client->logout());
}

TEST(SignOut, WithoutATokenSendsNothing) {
  StandInServer server;
  auto client = makeClient(server.url(), APIClient::Options{});
  async::runBlocking(client->logout());
  EXPECT_EQ(server.allHits().size(), 0u);
  EXPECT_FALSE(client->hasSavedSession());
}

TEST(SignOut, WithoutNetworkStillSignsOut) {
  auto server = std::make_unique<StandInServer>();
  server->on("POST", "/auth/login", Answer::json(sessionAnswer("admin", "a1", "r1")));
  auto client = makeClient(server->url(), APIClient::Options{});
  async::runBlocking(client->login("ivan", "secret"));
  server.reset();
  async::runBlocking(client->logout());
  EXPECT_FALSE(client->hasSavedSession());
  EXPECT_EQ(storedRefresh(*client), std::nullopt);
}

TEST(SignOut, WhileTheSavedTokenCannotBeRemovedNothingChanges) {
  StandInServer server;
  server.on("POST", "/auth/login", Answer::json(sessionAnswer("admin", "a1", "r1")));
  server.on("POST", "/auth/logout", Answer::empty(204));
  server.on("GET", "/me", Answer::json(true));
  auto tokens = std::make_shared<MemoryTokens>();
  APIClient::Options options;
  options.tokenStore = MemoryTokens::of(tokens);
  auto client = makeClient(server.url(), options);
  async::runBlocking(client->login("ivan", "secret"));
  const std::int64_t generation = client->generation();

  for (const auto& [removal, message] :
       {std::pair{MemoryTokens::Removal::locked, APIClient::kKeyringLocked},
        std::pair{MemoryTokens::Removal::fails, "Не удалось удалить сохранённый вход (-2)."}}) {
    tokens->removal = removal;
    EXPECT_EQ(dorvikErrorOf(client->logout()).message(), message);
    // Still signed in, the token still saved, the server not told.
    EXPECT_EQ(tokens->saved, "r1");
    EXPECT_TRUE(client->hasSavedSession());
    EXPECT_EQ(client->generation(), generation);
    EXPECT_EQ(server.hits("/auth/logout"), 0u);
    async::runBlocking(client->request("/me"));
    EXPECT_EQ(server.hitsOn("/me").back().header("Authorization"), "Bearer a1");
  }

  // Unlocked: signed out here, then the server is told.
  tokens->removal = MemoryTokens::Removal::works;
  async::runBlocking(client->logout());
  EXPECT_EQ(tokens->saved, std::nullopt);
  EXPECT_EQ(server.hitsOn("/auth/logout").at(0).body, R"({"refreshToken":"r1"})");
  async::runBlocking(client->request("/me"));
  EXPECT_FALSE(server.hitsOn("/me").back().hasHeader("Authorization"));
}
