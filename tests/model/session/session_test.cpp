// Launch, sign-in, the required password change, workspace entry, sign-out and the depot switch, against the
// stand-in server with the real planner engine, the real encrypted cache and the Secret Service of the test
// session. The server address comes from a settings file of the test's own.
#include <gtest/gtest.h>
#include <glib-object.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/api/api_client.h"
#include "core/api/transport_error.h"
#include "core/async/task.h"
#include "core/base/dorvik_date.h"
#include "core/base/errors.h"
#include "core/cache/encrypted_cache.h"
#include "core/engine/planner_engine.h"
#include "core/settings/user_defaults.h"
#include "core/store/secure_store.h"
#include "model/app_model.h"
#include "support/async_helpers.h"
#include "support/faulty_components.h"
#include "support/locked_keyring.h"
#include "support/session_paths.h"
#include "support/stand_in_server.h"

using namespace dorvik;
using namespace dorvik::testing;

namespace {

constexpr const char* kOpenedOffline = "Нет интернета. Открыт сохранённый рабочий день.";
constexpr const char* kDepotNeedsConnection = "Для смены склада требуется подключение.";
constexpr const char* kSessionRefused = "Сессия больше не действует. Войдите снова.";

// A day of two orders, as a workbook import would load it.
JSONValue sampleDay(const std::string& routeDate) {
  auto order = [](const char* id, const char* address, double lat, double lon) {
    return JSONValue::object({{"id", id},
                              {"title", id},
                              {"address", address},
                              {"lat", lat},
                              {"lon", lon},
                              {"window", "09:00-18:00"},
                              {"units", 1}});
  };
  return JSONValue::object({
      {"routeDate", routeDate},
      {"fileName", "Заказы.xlsx"},
      {"depot", JSONValue::object({{"name", "Склад"}, {"lat", 55.7558}, {"lon", 37.6176}, {"window", "08:00-20:00"}})},
      {"vehicles", JSONValue::array({JSONValue::object(
                       {{"id", "V1"}, {"ref", "Тарен"}, {"shift", "09:00-18:00"}, {"use", true}, {"capacity", 50}})})},
      {"orders", JSONValue::array({order("1001", "Москва, Тверская улица, 6", 55.7606, 37.6095),
                                   order("1002", "Москва, улица Петровка, 12", 55.7635, 37.6185)})},
  });
}

std::optional<std::string> kept(const std::string& account) { return async::runBlocking(SecureStore::read(account)); }

std::int64_t secondsNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

class Session : public ::testing::Test {
 protected:
  void SetUp() override {
    server = std::make_unique<StandInServer>();
    url = server->url();
    // Each test is a company of its own, so no workspace of an earlier test (on a reused port) is found.
    company = randomUUID();
    profile = JSONValue::object(
        {{"id", 7}, {"companyId", company}, {"depotId", "d1"}, {"fullName", "Ирина Логист"}, {"role", "logist"}});
    sessionServer = std::make_unique<SessionServer>(*server, profile);
    forget(url);
    gchar* folder = g_dir_make_tmp("dorvik-settings-XXXXXX", nullptr);
    ASSERT_NE(folder, nullptr);
    settingsFolder = folder;
    g_free(folder);
    settings = settingsFolder + "/settings.ini";
    setServerURL(url);
  }
  void TearDown() override {
    g_remove(settings.c_str());
    g_rmdir(settingsFolder.c_str());
  }

  static void forget(const std::string& base) {
    async::runBlocking(SecureStore::write(std::nullopt, "refresh:" + base));
    async::runBlocking(SecureStore::write(std::nullopt, "profile:" + base));
  }
  void setServerURL(const std::string& value) { ASSERT_TRUE(UserDefaults(settings).set(Settings::serverURL, value)); }
  // A session saved by an earlier run.
  void saveSession() { async::runBlocking(SecureStore::write(std::string("refresh-saved"), "refresh:" + url)); }

  std::shared_ptr<AppModel> launch() {
    auto model = AppModel::create();
    AppModel::LaunchOptions options;
    options.settingsPath = settings;
    async::runBlocking(model->start(options));
    return model;
  }
  void signIn(const std::shared_ptr<AppModel>& model, const std::string& password = "пароль-1") {
    async::runBlocking(model->login("logist", password));
    ASSERT_EQ(model->error(), std::nullopt);
    ASSERT_FALSE(model->user().isNull());
  }
  // Loads a day through the planner, which keeps it in the workspace cache.
  void planDay(const std::shared_ptr<AppModel>& model, const std::string& routeDate) {
    ASSERT_TRUE(async::runBlocking(model->mutate("load", sampleDay(routeDate))));
    ASSERT_EQ(model->orders().size(), 2u);
  }
  void unplug() { server.reset(); }

  std::unique_ptr<StandInServer> server;
  std::unique_ptr<SessionServer> sessionServer;
  std::string url, company, settingsFolder, settings;
  JSONValue profile;
};

TEST_F(Session, LaunchWithoutSavedSessionWaitsForSignInAndLaunchWithOneEntersTheWorkspace) {
  auto signedOut = launch();
  ASSERT_TRUE(signedOut->engine());
  ASSERT_TRUE(signedOut->api());
  EXPECT_EQ(signedOut->api()->baseURL(), url);
  EXPECT_TRUE(signedOut->user().isNull());
  EXPECT_FALSE(signedOut->busy());
  EXPECT_EQ(signedOut->error(), std::nullopt);
  EXPECT_EQ(server->hits("/auth/refresh"), 0u);

  saveSession();
  auto model = launch();
  EXPECT_EQ(model->error(), std::nullopt);
  EXPECT_EQ(model->user(), profile);
  EXPECT_FALSE(model->busy());
  EXPECT_FALSE(model->offline());
  EXPECT_FALSE(model->preview());
  ASSERT_TRUE(model->cache());
  ASSERT_EQ(server->hits("/auth/refresh"), 1u);
  EXPECT_EQ(server->hitsOn("/auth/refresh")[0].json()["refreshToken"].string(), "refresh-saved");
  // A new plan for today, and the profile kept for an offline launch.
  const std::string today = DorvikDate::day(std::chrono::system_clock::now());
  EXPECT_EQ(model->planner()["routeDate"].string(), today);
  EXPECT_EQ(model->date(), DorvikDate::parse(today));
  EXPECT_EQ(kept("profile:" + url), profile.data());
  EXPECT_TRUE(model->canWriteServer());
}

TEST_F(Session, WithTheServerDownTheLastProfileOpensTheSameWorkspaceOffline) {
  saveSession();
  {
    auto online = launch();
    ASSERT_FALSE(online->user().isNull());
    planDay(online, "2026-09-22");
  }
  unplug();

  auto model = launch();
  EXPECT_EQ(model->error(), std::nullopt);
  EXPECT_EQ(model->user(), profile);
  EXPECT_TRUE(model->offline());
  EXPECT_FALSE(model->canWriteServer());
  EXPECT_EQ(model->status(), kOpenedOffline);
  EXPECT_FALSE(model->busy());
  EXPECT_EQ(model->orders().size(), 2u);
  EXPECT_EQ(model->date(), DorvikDate::parse("2026-09-22"));
  // The saved session stays for the next launch.
  EXPECT_TRUE(model->api()->hasSavedSession());

  // Another server that was never reached: no profile kept, the network failure is shown.
  forget(url);
  saveSession();
  auto first = launch();
  EXPECT_TRUE(first->user().isNull());
  EXPECT_FALSE(first->busy());
  ASSERT_TRUE(first->error());
  EXPECT_EQ(*first->error(), TransportError(TransportError::Code::CannotConnectToHost).message());
}

TEST_F(Session, ARestoreTheServerCannotServeIsShownAndKeepsTheSessionForTheNextLaunch) {
  saveSession();
  launch();
  ASSERT_TRUE(kept("profile:" + url));
  server->on("POST", "/auth/refresh", Answer::error(503, "Сервер на обслуживании."));

  auto model = launch();
  EXPECT_EQ(model->error(), "Сервер на обслуживании.");
  EXPECT_TRUE(model->user().isNull());
  EXPECT_FALSE(model->offline());
  EXPECT_FALSE(model->busy());
  EXPECT_EQ(kept("refresh:" + url), "refresh-1");
}

TEST_F(Session, ARefreshTokenRefusedByTheServerEndsTheSessionAndKeepsTheWorkspaceForTheNextSignIn) {
  // At launch: the sign-in screen with the request to sign in again, and no saved session to retry.
  saveSession();
  launch();
  server->on("POST", "/auth/refresh", Answer::error(401, "Токен обновления отозван."));
  auto relaunched = launch();
  EXPECT_EQ(relaunched->error(), kSessionRefused);
  EXPECT_TRUE(relaunched->user().isNull());
  EXPECT_FALSE(relaunched->busy());
  EXPECT_EQ(kept("refresh:" + url), std::nullopt);
  EXPECT_FALSE(launch()->api()->hasSavedSession());

  // In an open workspace: its access token expires and the renewal is refused as reused, while one of the lists
  // meets its 401 only after that.
  SessionServer again(*server, profile);
  auto model = launch();
  signIn(model);
  planDay(model, "2026-09-22");
  model->setOffline(true);
  const std::size_t renewals = server->hits("/auth/refresh");
  server->on("POST", "/auth/refresh", Answer::error(403, "Токен обновления уже использован.").held());
  for (const char* path : {"/depots", "/panel/addresses"}) server->on("GET", path, Answer::error(401, "Токен истёк."));
  server->on("GET", "/panel/zones", Answer::error(401, "Токен доступа истёк.").held());
  auto refreshing = start(model->refreshReferenceData());
  ASSERT_TRUE(spinUntil([&] { return server->held("/auth/refresh") == 1 && server->held("/panel/zones") == 1; }));
  server->release("/auth/refresh");
  // The session ends in one step: the workspace is gone before the saved token is.
  ASSERT_TRUE(spinUntil([&] { return model->user().isNull(); }));
  server->release("/panel/zones");
  ASSERT_TRUE(spinUntil([&] { return refreshing->done; }));
  EXPECT_TRUE(refreshing->ok());
  EXPECT_EQ(model->error(), kSessionRefused);
  EXPECT_FALSE(model->offline());
  EXPECT_EQ(model->status().find("Нет связи"), std::string::npos) << model->status();
  EXPECT_EQ(server->hits("/auth/refresh"), renewals + 1) << "one renewal for the three lists";
  ASSERT_TRUE(spinUntil([&] { return !kept("refresh:" + url) && !model->api()->hasSavedSession(); }));
  EXPECT_EQ(server->hits("/auth/refresh"), renewals + 1);

  // The next sign-in finds the workspace as it was left.
  SessionServer restored(*server, profile);
  model->setError(std::nullopt);
  signIn(model);
  EXPECT_EQ(model->orders().size(), 2u);
}

TEST_F(Session, ABadServerAddressIsReportedAndASignInAfterTheFixCreatesTheClient) {
  setServerURL("адрес сервера");
  auto model = launch();
  EXPECT_EQ(model->error(), "Проверьте адрес сервера в настройках.");
  EXPECT_FALSE(model->api());

  model->setError(std::nullopt);
  async::runBlocking(model->login("logist", "пароль-1"));
  EXPECT_EQ(model->error(), "Проверьте адрес сервера в настройках.");
  EXPECT_FALSE(model->busy());

  // Plain HTTP to another machine is refused by the client.
  setServerURL("http://example.org/api");
  async::runBlocking(model->login("logist", "пароль-1"));
  EXPECT_EQ(model->error(), "Используйте HTTPS для подключения к серверу.");
  EXPECT_FALSE(model->api());

  model->setError(std::nullopt);
  setServerURL(url);
  // The identity is sent without the blanks around it; the password as typed.
  async::runBlocking(model->login(" \u00a0logist\n", " пароль-1 "));
  EXPECT_EQ(model->error(), std::nullopt);
  EXPECT_EQ(model->user(), profile);
  const JSONValue body = server->hitsOn("/auth/login").back().json();
  EXPECT_EQ(body["login"].string(), "logist");
  EXPECT_EQ(body["password"].string(), " пароль-1 ");
}

TEST_F(Session, AProfileThatMustChangeItsPasswordIsHeldUntilItDoes) {
  sessionServer->profile->set("mustChangePassword", true);
  saveSession();
  auto model = launch();
  const std::string held = model->generation();
  EXPECT_EQ(model->error(), std::nullopt);
  EXPECT_TRUE(model->user().isNull());
  EXPECT_TRUE(model->planner().isNull());
  EXPECT_TRUE(model->passwordChangeProfile()["mustChangePassword"].boolValue());
  EXPECT_FALSE(model->cache());
  EXPECT_FALSE(model->busy());
  EXPECT_EQ(kept("profile:" + url), std::nullopt);

  auto refused = [&](std::string password) {
    auto error = failureOf<DorvikError>(model->changeRequiredPassword(std::move(password)));
    return error ? error->message() : std::string();
  };
  const std::string tooShort = "Пароль должен содержать от 8 до 200 знаков.";
  EXPECT_EQ(refused("1234567"), tooShort);
  EXPECT_EQ(refused(std::string(201, 'a')), tooShort);
  // Seven letters, one of them "й" written as "и" and a combining breve: seven characters.
  EXPECT_EQ(refused("мои\xd0\xb8\xcc\x86дом"), tooShort);
  EXPECT_EQ(server->hits("/me/password"), 0u);
  EXPECT_EQ(model->generation(), held);

  async::runBlocking(model->changeRequiredPassword("пароль12"));
  ASSERT_EQ(server->hits("/me/password"), 1u);
  EXPECT_EQ(server->hitsOn("/me/password")[0].json(), JSONValue::object({{"next", "пароль12"}}));
  EXPECT_EQ(server->hitsOn("/me/password")[0].header("Authorization"), "Bearer access-refresh-1");
  EXPECT_EQ(server->hits("/auth/logout"), 1u);
  EXPECT_TRUE(model->passwordChangeProfile().isNull());
  EXPECT_TRUE(model->user().isNull());
  EXPECT_EQ(model->status(), "Пароль изменён. Войдите с новым паролем.");
  EXPECT_FALSE(model->api()->hasSavedSession());
  EXPECT_FALSE(model->busy());

  // Nothing is pending any more.
  EXPECT_EQ(refused("пароль12"), "Войдите заново.");
  signIn(model, "пароль12");
  EXPECT_TRUE(model->cache());
}

TEST_F(Session, DamagedEntriesAreKeptAsideAndTheWorkspaceOpensWithoutThem) {
  auto model = launch();
  signIn(model);
  planDay(model, "2026-09-22");
  async::runBlocking(model->cache()->write(JSONValue::array({"north"}), "zones"));
  const std::string folder = model->cache()->folder();
  async::runBlocking(model->logout());

  // One changed byte in the plan, the zones cut short.
  const std::string planFile = folder + "/" + EncryptedCache::entryFileName("planner");
  const std::string zonesFile = folder + "/" + EncryptedCache::entryFileName("zones");
  gchar* data = nullptr;
  gsize length = 0;
  ASSERT_TRUE(g_file_get_contents(planFile.c_str(), &data, &length, nullptr));
  std::string damagedPlan(data, length);
  g_free(data);
  damagedPlan[20] = static_cast<char>(damagedPlan[20] ^ 0x10);
  ASSERT_TRUE(
      g_file_set_contents(planFile.c_str(), damagedPlan.data(), static_cast<gssize>(damagedPlan.size()), nullptr));
  ASSERT_TRUE(g_file_set_contents(zonesFile.c_str(), "short", 5, nullptr));
  // And a named pipe where the history was.
  const std::string historyFile = folder + "/" + EncryptedCache::entryFileName("history");
  g_unlink(historyFile.c_str());
  ASSERT_EQ(mkfifo(historyFile.c_str(), 0600), 0);

  signIn(model);
  EXPECT_EQ(model->error(), std::nullopt);
  EXPECT_EQ(model->orders().size(), 0u) << "a new plan for today";
  EXPECT_EQ(model->status(),
            "Повреждённые локальные данные отложены в сторону (план, зоны, история); рабочий день открыт без них.");
  // All kept beside the entries, the files byte for byte.
  std::vector<std::string> aside;
  GDir* dir = g_dir_open(folder.c_str(), 0, nullptr);
  while (const gchar* name = g_dir_read_name(dir)) {
    if (std::string(name).find(".damaged-") != std::string::npos) aside.emplace_back(name);
  }
  g_dir_close(dir);
  ASSERT_EQ(aside.size(), 3u);
  for (const std::string& name : aside) {
    if (name.starts_with(EncryptedCache::entryFileName("history"))) {
      EXPECT_TRUE(g_file_test((folder + "/" + name).c_str(), G_FILE_TEST_EXISTS));
      continue;
    }
    ASSERT_TRUE(g_file_get_contents((folder + "/" + name).c_str(), &data, &length, nullptr));
    const std::string kept(data, length);
    g_free(data);
    EXPECT_TRUE(kept == damagedPlan || kept == "short") << name;
  }

  // The workspace works again: what is written now opens at the next entry, with nothing more to set aside.
  planDay(model, "2026-09-23");
  model->setStatus("");
  async::runBlocking(model->logout());
  signIn(model);
  EXPECT_EQ(model->orders().size(), 2u);
  EXPECT_EQ(model->status().find("Повреждённые"), std::string::npos);
}

TEST_F(Session, EachWorkspaceOpensFromItsOwnCache) {
  auto model = launch();
  signIn(model);
  planDay(model, "2026-09-22");
  async::runBlocking(model->logout());

  // Another user of the same company and depot: a workspace of its own.
  sessionServer->profile->set("id", 8);
  signIn(model);
  EXPECT_EQ(model->orders().size(), 0u);
  planDay(model, "2026-09-23");
  async::runBlocking(model->logout());

  // Another company with the same user id and depot.
  sessionServer->profile->set("id", 7);
  sessionServer->profile->set("companyId", randomUUID());
  signIn(model);
  EXPECT_EQ(model->orders().size(), 0u);
  async::runBlocking(model->logout());

  // Another server with the very same profile.
  StandInServer other;
  SessionServer otherSession(other, profile);
  forget(other.url());
  auto elsewhere = AppModel::create();
  {
    AppModel::LaunchOptions options;
    options.settingsPath = settings;
    setServerURL(other.url());
    async::runBlocking(elsewhere->start(options));
  }
  signIn(elsewhere);
  EXPECT_EQ(elsewhere->orders().size(), 0u);

  // Back to the first server: its own day again.
  setServerURL(url);
  sessionServer->profile->set("companyId", company);
  signIn(model);
  EXPECT_EQ(model->orders().size(), 2u);
  EXPECT_EQ(model->planner()["routeDate"].string(), "2026-09-22");
  EXPECT_EQ(model->date(), DorvikDate::parse("2026-09-22"));
}

TEST_F(Session, AKeptPlanTheComponentCannotReadIsKeptAsideAndSurvivesTheNextChange) {
  // The component refuses the kept plan, or (a fault of its own) answers it with an empty plan.
  for (const bool refused : {true, false}) {
    SCOPED_TRACE(refused);
    company = randomUUID();
    sessionServer->profile->set("companyId", company);
    auto model = launch();
    signIn(model);
    planDay(model, "2026-09-22");
    const JSONValue archive = async::runBlocking(model->cache()->read("planner")).value();
    async::runBlocking(model->logout());

    const std::int64_t from = secondsNow();
    {
      FaultyComponents faulty = refused ? FaultyComponents::unreadable("payload.format === 'planner-archive'")
                                        : FaultyComponents::losingStoredPlans();
      signIn(model);
    }
    const std::int64_t to = secondsNow();
    EXPECT_EQ(model->error(), std::nullopt);
    EXPECT_EQ(model->status(),
              "Сохранённый план не удалось прочитать: открыт пустой план, прежний отложен и не будет перезаписан.");
    EXPECT_EQ(model->orders().size(), 0u);
    EXPECT_EQ(model->planner()["routeDate"].string(), "2026-09-22");

    // The next plan change stores the empty plan as "planner"; the archive stays aside, byte for byte.
    ASSERT_TRUE(async::runBlocking(model->mutate("date", JSONValue::object({{"date", "2026-09-23"}}))));
    std::shared_ptr<EncryptedCache> cache = model->cache();
    EXPECT_NE(async::runBlocking(cache->read("planner")), archive);
    std::optional<JSONValue> aside;
    for (std::int64_t second = from; second <= to && !aside; ++second) {
      aside = async::runBlocking(cache->read("planner-unreadable-" + std::to_string(second)));
    }
    ASSERT_TRUE(aside);
    EXPECT_EQ(aside->data(), archive.data());

    // A plan the component reads whole is not kept aside: the next entry opens the new day without that word.
    async::runBlocking(model->logout());
    model->setStatus("");
    signIn(model);
    EXPECT_EQ(model->planner()["routeDate"].string(), "2026-09-23");
    EXPECT_EQ(model->status().find("Сохранённый план"), std::string::npos) << model->status();
    async::runBlocking(model->logout());
  }
}

TEST_F(Session, ADepotSwitchReopensTheWorkspaceOfTheNewDepot) {
  auto model = launch();
  signIn(model);
  planDay(model, "2026-09-22");
  model->setSelectedOrders({"a"});
  // An address upload of the old depot's workspace is still running.
  model->setSyncingAddresses(true);
  const auto firstEngine = model->engine();
  // The window keeps the workspace while the new depot opens.
  bool leftTheWorkspace = false;
  auto watch = model->observe([&](AppModel::Property property) {
    if (property == AppModel::Property::user && model->user().isNull()) leftTheWorkspace = true;
  });

  async::runBlocking(model->switchDepot("d2"));
  EXPECT_FALSE(leftTheWorkspace);
  EXPECT_EQ(server->hitsOn("/auth/depot").back().json(), JSONValue::object({{"depotId", "d2"}}));
  EXPECT_EQ(model->user()["depotId"].string(), "d2");
  EXPECT_EQ(model->orders().size(), 0u);
  EXPECT_TRUE(model->selectedOrders().empty());
  EXPECT_NE(model->engine(), firstEngine);
  EXPECT_FALSE(model->busy());
  EXPECT_FALSE(model->syncingAddresses());
  EXPECT_EQ(kept("profile:" + url), model->user().data());

  async::runBlocking(model->switchDepot("d1"));
  EXPECT_EQ(model->user()["depotId"].string(), "d1");
  EXPECT_EQ(model->orders().size(), 2u);

  // The server refuses the switch: the workspace stays as it was.
  server->on("POST", "/auth/depot", Answer::error(403, "Склад недоступен."));
  model->setSelectedOrders({"1001"});
  const std::string generation = model->generation();
  auto refused = failureOf<DorvikError>(model->switchDepot("d3"));
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->message(), "Склад недоступен.");
  EXPECT_EQ(model->generation(), generation);
  EXPECT_EQ(model->orders().size(), 2u);
  EXPECT_EQ(model->selectedOrders().size(), 1u);
  EXPECT_FALSE(model->busy());

  // The new depot's workspace cannot be opened: signed out, and the reason is shown over the sign-in screen.
  watch.disconnect();
  server->on("POST", "/auth/depot", Answer::json(JSONValue::object({{"ok", true}})));
  server->on("POST", "/auth/refresh", Answer::error(503, "Сервер на обслуживании."));
  auto unavailable = failureOf<DorvikError>(model->switchDepot("d2"));
  ASSERT_TRUE(unavailable);
  EXPECT_EQ(unavailable->message(), "Сервер на обслуживании.");
  EXPECT_EQ(model->error(), "Сервер на обслуживании.");
  EXPECT_TRUE(model->user().isNull());
  EXPECT_FALSE(model->busy());
  EXPECT_EQ(kept("profile:" + url), std::nullopt);
  SessionServer again(*server, profile);
  model->setError(std::nullopt);
  signIn(model);

  // The renewal after the switch is refused: signed out, and asked to sign in again.
  server->on("POST", "/auth/depot", Answer::json(JSONValue::object({{"ok", true}})));
  server->on("POST", "/auth/refresh", Answer::error(401, "Сессия истекла."));
  auto failed = failureOf<DorvikError>(model->switchDepot("d2"));
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->message(), kSessionRefused);
  EXPECT_TRUE(model->user().isNull());
  EXPECT_FALSE(model->cache());
  EXPECT_FALSE(model->busy());
  EXPECT_EQ(kept("profile:" + url), std::nullopt);
}

TEST_F(Session, ADepotSwitchNeedsAnOnlineSignedInWorkspaceAndAnIdleModel) {
  auto model = launch();
  auto refusedWith = [&]() {
    auto error = failureOf<DorvikError>(model->switchDepot("d2"));
    return error ? error->message() : std::string();
  };
  EXPECT_EQ(refusedWith(), kDepotNeedsConnection);  // nobody signed in
  signIn(model);
  model->setOffline(true);
  EXPECT_EQ(refusedWith(), kDepotNeedsConnection);
  model->setOffline(false);
  model->setGeocoding(true);
  EXPECT_EQ(refusedWith(), kDepotNeedsConnection);
  model->setGeocoding(false);
  model->setBusy(true);
  EXPECT_EQ(refusedWith(), kDepotNeedsConnection);
  model->setBusy(false);
  EXPECT_EQ(server->hits("/auth/depot"), 0u);
  EXPECT_EQ(model->user()["depotId"].string(), "d1");

  auto demo = AppModel::create();
  async::runBlocking(demo->loadPreview());
  auto error = failureOf<DorvikError>(demo->switchDepot("d2"));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->message(), kDepotNeedsConnection);
}

// A sign-out that comes after the depot switch's request was answered, at any turn of the main loop until the
// switch reopens the workspace, wins: the switch stops and nothing reopens.
TEST_F(Session, AWorkspaceChangeAtAnyTurnAfterTheDepotRequestStopsTheSwitch) {
  auto model = AppModel::create();
  APIClient::Options transient;
  transient.persist = false;
  model->setApi(async::runBlocking(APIClient::create(url, transient)));
  for (int turns = 0;; ++turns) {
    SCOPED_TRACE(turns);
    async::runBlocking(model->api()->login("logist", "пароль-1"));
    model->setUser(profile);
    const std::size_t renewals = server->hits("/auth/refresh");
    const std::size_t requests = server->hits("/auth/depot");
    const std::string before = model->generation();
    auto switching = start(model->switchDepot("d2"));
    ASSERT_TRUE(spinUntil([&] { return server->hits("/auth/depot") > requests; }));
    for (int i = 0; i < turns && !switching->done && model->generation() == before; ++i)
      g_main_context_iteration(nullptr, TRUE);
    // The switch reached its own workspace change before this turn: every earlier turn was tried.
    if (model->generation() != before) {
      ASSERT_TRUE(spinUntil([&] { return switching->done; }));
      ASSERT_GT(turns, 1);
      break;
    }
    model->replaceGeneration();  // a sign-out (or a sign-in) lands here
    model->setUser(JSONValue());
    ASSERT_TRUE(spinUntil([&] { return switching->done; }));
    EXPECT_TRUE(switching->failedWith<CancelledError>());
    EXPECT_TRUE(model->user().isNull());
    EXPECT_EQ(server->hits("/auth/refresh"), renewals) << "nothing reopened";
    EXPECT_FALSE(model->busy());
    ASSERT_LT(turns, 500);
  }
}

TEST_F(Session, AWorkspaceWhoseKeyIsLostSaysSoOnce) {
  auto model = launch();
  signIn(model);
  planDay(model, "2026-09-22");
  async::runBlocking(model->logout());
  const std::string scope = url + "|" + company + "|7|d1";
  async::runBlocking(SecureStore::write(std::nullopt, EncryptedCache::keyAccount(scope)));

  signIn(model);
  EXPECT_EQ(model->status(), "Ключ шифрования рабочего дня не найден: прежние данные отложены и не открыты.");
  EXPECT_EQ(model->orders().size(), 0u);
  EXPECT_EQ(model->error(), std::nullopt);
  // What this workspace keeps from now on opens at the next entry, without the word.
  planDay(model, "2026-09-23");
  async::runBlocking(model->logout());
  signIn(model);
  EXPECT_EQ(model->status(), "Рабочий день открыт.");
  EXPECT_EQ(model->orders().size(), 2u);
}

// Runs in a session and keyring of its own (started by the test below), whose login keyring it locks: every
// request to unlock it is declined, as by a user who closes the password dialog.
TEST_F(Session, InALockedKeyringChild) {
  if (!g_getenv("DORVIK_SIGN_OUT_CHILD")) GTEST_SKIP() << "runs only as the child of SignOutInALockedKeyring";
  auto model = launch();
  signIn(model);
  planDay(model, "2026-09-22");
  SecretCollection* login = lockLoginKeyring();
  ASSERT_NE(login, nullptr);

  // The sign-out stops with the reason: still signed in, the server not told.
  async::runBlocking(model->logout());
  EXPECT_EQ(model->error(), "Связка ключей заблокирована. Разблокируйте её, чтобы выйти из учётной записи.");
  EXPECT_EQ(model->user(), profile);
  EXPECT_EQ(model->orders().size(), 2u);
  EXPECT_TRUE(model->api()->hasSavedSession());
  EXPECT_EQ(server->hits("/auth/logout"), 0u);

  // The server refuses the session meanwhile: signed out all the same, and the refused token, which stays in the
  // locked keyring, is withdrawn.
  model->setError(std::nullopt);
  const std::size_t renewals = server->hits("/auth/refresh");
  server->on("POST", "/auth/refresh", Answer::error(403, "Токен обновления отозван."));
  server->on("GET", "/depots", Answer::error(401, "Токен доступа истёк."));
  async::runBlocking(model->refreshReferenceData());
  EXPECT_EQ(model->error(), kSessionRefused);
  EXPECT_TRUE(model->user().isNull());
  ASSERT_TRUE(spinUntil([&] { return model->engine() && server->hits("/auth/refresh") == renewals + 1; }));
  spinFor(std::chrono::milliseconds(300));

  // Unlocked at the next login, with the server out of reach: the next start sends nothing and opens nothing, not
  // even offline from the profile that stayed.
  unlockWithPassword(login);
  g_object_unref(login);
  server->on("POST", "/auth/refresh", Answer::dropped());
  auto next = launch();
  EXPECT_TRUE(next->user().isNull());
  EXPECT_EQ(next->error(), std::nullopt);
  EXPECT_EQ(server->hits("/auth/refresh"), renewals + 1);
  EXPECT_EQ(kept("refresh:" + url), std::nullopt);

  // Unlocked, a sign-out leaves nothing behind.
  SessionServer again(*server, profile);
  auto online = launch();
  signIn(online);
  async::runBlocking(online->logout());
  EXPECT_EQ(online->error(), std::nullopt);
  EXPECT_TRUE(online->user().isNull());
  EXPECT_EQ(kept("profile:" + url), std::nullopt);
  EXPECT_EQ(kept("refresh:" + url), std::nullopt);
}

TEST(SignOutInALockedKeyring, RefusesThenLeavesNothingBehind) {
  const auto child = runInOwnKeyring("Session.InALockedKeyringChild", "DORVIK_SIGN_OUT_CHILD");
  EXPECT_TRUE(child.passed) << child.output;
}

TEST_F(Session, SignOutResetsTheModelAndTheClient) {
  auto model = launch();
  signIn(model);
  planDay(model, "2026-09-22");
  const auto client = model->api();
  const auto engine = model->engine();
  model->setSelectedOrders({"1001"});
  model->setPendingAddresses({{"k", JSONValue::object({{"key", "k"}})}});
  ASSERT_TRUE(kept("profile:" + url));
  ASSERT_TRUE(kept("refresh:" + url));

  // A screen holds busy around a long step (an import, a transfer) when the user signs out.
  model->setBusy(true);
  async::runBlocking(model->logout());
  EXPECT_FALSE(model->busy());
  EXPECT_EQ(model->error(), std::nullopt);
  EXPECT_TRUE(model->user().isNull());
  EXPECT_TRUE(model->planner().isNull());
  EXPECT_TRUE(model->selectedOrders().empty());
  EXPECT_TRUE(model->pendingAddresses().empty());
  EXPECT_FALSE(model->cache());
  EXPECT_FALSE(model->preview());
  ASSERT_TRUE(model->engine());
  EXPECT_NE(model->engine(), engine);
  // The same client, signed out here and on the server.
  EXPECT_EQ(model->api(), client);
  EXPECT_FALSE(client->hasSavedSession());
  EXPECT_EQ(server->hits("/auth/logout"), 1u);
  EXPECT_EQ(kept("profile:" + url), std::nullopt);
  EXPECT_EQ(kept("refresh:" + url), std::nullopt);

  // A sign-in is not ignored, and uses that client.
  signIn(model);
  EXPECT_EQ(model->api(), client);
  EXPECT_EQ(model->orders().size(), 2u);
}

TEST_F(Session, ASignOutDuringASignInLeavesTheNextSignInFree) {
  auto model = launch();
  server->on("POST", "/auth/login", Answer::json(sessionAnswer(profile)).held());
  auto first = start(model->login("logist", "пароль-1"));
  ASSERT_TRUE(spinUntil([&] { return server->held("/auth/login") == 1; }));
  EXPECT_TRUE(model->busy());
  // Ignored while the first one runs.
  async::runBlocking(model->login("другой", "пароль-2"));
  EXPECT_EQ(server->hits("/auth/login"), 1u);

  async::runBlocking(model->logout());
  EXPECT_FALSE(model->busy());
  server->releaseAll();
  ASSERT_TRUE(spinUntil([&] { return first->done; }));
  EXPECT_TRUE(model->user().isNull());
  EXPECT_EQ(model->error(), std::nullopt);

  SessionServer again(*server, profile);
  signIn(model);
  EXPECT_FALSE(model->busy());
}

TEST_F(Session, SignOutOfTheDemoTouchesNoServer) {
  auto model = AppModel::create();
  AppModel::LaunchOptions options;
  options.preview = true;
  options.settingsPath = settings;
  async::runBlocking(model->start(options));
  ASSERT_TRUE(model->preview());
  EXPECT_FALSE(model->api());
  const auto engine = model->engine();

  async::runBlocking(model->logout());
  EXPECT_FALSE(model->preview());
  EXPECT_TRUE(model->user().isNull());
  EXPECT_TRUE(model->depots().empty());
  EXPECT_NE(model->engine(), engine);
  EXPECT_EQ(model->error(), std::nullopt);
  EXPECT_TRUE(server->allHits().empty());
}

}  // namespace

TEST_F(Session, TheStatusTellsTheWorkspaceAndItsConnectionAsTheyAreAndOfflineKeepsTheDepots) {
  const JSONValue depots = JSONValue::array({JSONValue::object({{"id", "d1"}, {"name", "Склад Север"}})});
  scriptReferenceLists(*server, depots, JSONValue(JSONArray{}), JSONValue(JSONArray{}));
  saveSession();
  EXPECT_EQ(launch()->status(), "Рабочий день открыт.");

  // The server stops answering: the same workspace opens offline and still names its depot.
  server->on("POST", "/auth/refresh", Answer::dropped());
  auto model = launch();
  ASSERT_TRUE(model->offline());
  EXPECT_EQ(model->status(), kOpenedOffline);
  ASSERT_EQ(model->depots().size(), 1u);
  EXPECT_EQ(model->depots()[0].value, depots.at(0));

  // It answers again: the offline news gives way.
  SessionServer back(*server, profile);
  async::runBlocking(model->refreshReferenceData());
  EXPECT_FALSE(model->offline());
  EXPECT_EQ(model->status(), "Связь с сервером восстановлена.");

  // The signed-out window keeps no news of the workspace, and the next one opens with its own.
  async::runBlocking(model->logout());
  EXPECT_EQ(model->status(), "");
  async::runBlocking(model->loadPreview());
  async::runBlocking(model->logout());
  signIn(model);
  EXPECT_EQ(model->status(), "Рабочий день открыт.");
}

TEST_F(Session, ASignInUsesTheServerAddressTheSettingsHoldThen) {
  auto model = launch();
  const std::shared_ptr<APIClient> first = model->api();
  signIn(model);
  async::runBlocking(model->logout());
  signIn(model);
  EXPECT_EQ(model->api(), first) << "an unchanged address keeps its client";
  async::runBlocking(model->logout());

  StandInServer other;
  SessionServer otherSession(other, profile);
  forget(other.url());
  setServerURL(other.url());
  const std::size_t signIns = server->hits("/auth/login");
  signIn(model);
  EXPECT_EQ(model->api()->baseURL(), other.url());
  EXPECT_EQ(other.hits("/auth/login"), 1u);
  EXPECT_EQ(server->hits("/auth/login"), signIns);
}
