// Launch, sign-in, the required password change and the entry into a workspace; sign-out and the depot switch.
//
// Launch: the planner engine with its catalogue, then either the demo workspace (the "--preview" argument) or
// the way to the server: a client for the address of the settings, the saved session restored and the user's
// workspace entered. When the server cannot be reached, the profile last kept for that server opens the same
// workspace offline.
//
// A workspace is one server, company, user and depot: its scope names its encrypted cache, so each opens from
// its own files. An entry builds the new engine and cache aside, fills them from the cache, and installs them in
// one step only while it is still the latest workspace change. A kept plan that the planner component cannot read
// whole is first kept aside under a cache entry of its own, so that the empty plan it opens as is never stored
// over it.
#include <glib.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/api/api_client.h"
#include "core/api/failure.h"
#include "core/api/transport_error.h"
#include "core/async/attempt.h"
#include "core/base/dorvik_date.h"
#include "core/base/errors.h"
#include "core/base/text.h"
#include "core/cache/encrypted_cache.h"
#include "core/engine/planner_engine.h"
#include "core/settings/user_defaults.h"
#include "core/store/secure_store.h"
#include "model/app_model.h"

namespace dorvik {

namespace {

const char* const kCheckServerAddress = "Проверьте адрес сервера в настройках.";
const char* const kServerNotConfigured = "Сервер не настроен.";
const char* const kOpenedOffline = "Нет интернета. Открыт сохранённый рабочий день.";
const char* const kOpened = "Рабочий день открыт.";
const char* const kSignInAgain = "Войдите заново.";
const char* const kPasswordLength = "Пароль должен содержать от 8 до 200 знаков.";
const char* const kPasswordChanged = "Пароль изменён. Войдите с новым паролем.";
const char* const kDepotNeedsConnection = "Для смены склада требуется подключение.";
const char* const kPlanKeptAside =
    "Сохранённый план не удалось прочитать: открыт пустой план, прежний отложен и не будет перезаписан.";
const char* const kKeyLost = "Ключ шифрования рабочего дня не найден: прежние данные отложены и не открыты.";
const char* const kSessionRefused = "Сессия больше не действует. Войдите снова.";
const char* const kSwitchingDepot = "Открываем рабочий день склада…";

// The secret store account of the last profile signed in on a server.
std::string profileAccount(const std::string& baseURL) { return "profile:" + baseURL; }

// An absolute URL: a scheme, and nothing a URL cannot hold (no blanks, no control characters).
bool formsURL(const std::string& text) {
  return !text.empty() && g_uri_is_valid(text.c_str(), G_URI_FLAGS_NONE, nullptr);
}

bool isTransportFailure(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const TransportError&) {
    return true;
  } catch (...) {
    return false;
  }
}

// What the user reads for each entry a workspace opens with.
const std::map<std::string, std::string>& entryTitles() {
  static const std::map<std::string, std::string> titles = {
      {"planner", "план"}, {"addresses", "адреса"}, {"pendingAddresses", "неотправленные адреса"},
      {"zones", "зоны"},   {"history", "история"},  {"depots", "склады"}};
  return titles;
}

// Whether a failed read means the entry itself is bad for good: cut short, altered, sealed with another key, no
// JSON inside, or something other than a file in its place. A failure of the disk or of the system (no
// permission, too many open files, an I/O error) says nothing of the entry, which is left where it is.
bool damagedEntry(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const CacheError& e) {
    return e.kind() != CacheError::Kind::FileSystem || e.code() == EINVAL || e.code() == EISDIR;
  } catch (const JSONDecodeError&) {
    return true;
  } catch (...) {
    return false;
  }
}

// The entries a workspace opens with, read one by one. A damaged entry would keep the workspace closed at every
// sign-in: it is moved aside in the cache's folder, kept, and counts as never written; its title joins
// `setAside`. Other failures end the entry as before.
async::Task<std::optional<JSONValue>> readOrSetAside(std::shared_ptr<EncryptedCache> cache, std::string name,
                                                     std::shared_ptr<std::vector<std::string>> setAside) {
  std::exception_ptr failure;
  try {
    std::optional<JSONValue> value = co_await cache->read(name);
    co_return value;
  } catch (...) {
    failure = std::current_exception();
  }
  if (!damagedEntry(failure)) std::rethrow_exception(failure);
  co_await cache->setAside(name);
  setAside->push_back(entryTitles().at(name));
  co_return std::nullopt;
}

std::map<std::string, JSONValue> members(const JSONValue& value) {
  const JSONObject& object = value.object();
  return std::map<std::string, JSONValue>(object.begin(), object.end());
}

// The elements of a list that are objects; none for anything but a list.
std::size_t objectsIn(const JSONValue& list) {
  if (!list.isArray()) return 0;
  std::size_t count = 0;
  for (const JSONValue& element : list.array()) count += element.isObject() ? 1 : 0;
  return count;
}

// Whether the plan the component loaded from a kept archive holds the whole archive: it keeps every order and
// vehicle object of a readable archive, and its depot.
bool holdsArchive(const JSONValue& archive, const JSONValue& plan) {
  if (!archive.isObject()) return false;
  return objectsIn(archive["orders"]) == plan["orders"].size() &&
         objectsIn(archive["vehicles"]) == plan["vehicles"].size() &&
         (!archive["depot"].isObject() || plan["depot"].isObject());
}

// Keeps an archive the component could not read under a cache entry of its own, which nothing ever writes again:
// "planner-unreadable-" and the time in seconds since 1970, with "-2", "-3", … added while that name is taken. When
// it cannot be kept, the entry fails and the workspace does not open over it.
async::Task<void> keepUnreadablePlan(std::shared_ptr<EncryptedCache> cache, JSONValue archive) {
  const auto now =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
  const std::string stem = "planner-unreadable-" + std::to_string(now.count());
  std::string name = stem;
  for (int copy = 2;; ++copy) {
    // An entry that cannot be read is taken as well.
    auto taken = co_await async::attempt(cache->read(name));
    if (taken && !*taken) break;
    name = stem + "-" + std::to_string(copy);
  }
  co_await cache->write(std::move(archive), std::move(name));
}

}  // namespace

AppModel::SessionBusy::SessionBusy(AppModel& model) : model_(model), generation_(model.generation_) {
  model_.setBusy(true);
}

AppModel::SessionBusy::~SessionBusy() {
  if (current()) model_.setBusy(false);
}

void AppModel::SessionBusy::moveTo(const std::string& generation) {
  generation_ = generation;
  model_.setBusy(true);
}

std::string AppModel::serverAddress() const {
  const UserDefaults defaults = launch_.settingsPath ? UserDefaults(*launch_.settingsPath) : UserDefaults();
  return defaults.get(Settings::serverURL);
}

async::Task<std::shared_ptr<APIClient>> AppModel::makeClient() {
  std::string address = serverAddress();
  if (!formsURL(address)) throw DorvikError(kCheckServerAddress, 0);
  std::shared_ptr<APIClient> client = co_await APIClient::create(std::move(address));
  // Told before any request waiting on the refused renewal resumes, so none of them reports the workspace as
  // offline meanwhile.
  client->onSessionEnded([weak = weak_from_this(), raw = client.get()] {
    std::shared_ptr<AppModel> model = weak.lock();
    if (model && model->api_.get() == raw) model->sessionRefused();
  });
  co_return client;
}

async::Task<void> AppModel::start(LaunchOptions options) {
  auto self = shared_from_this();
  launch_ = options;
  auto engine = co_await async::attempt(PlannerEngine::create(options.catalogPath));
  if (reportIfFailed(engine)) co_return;
  setEngine(*engine);
  unusedEngine_ = *engine;
  const int count = co_await (*engine)->catalogCount();
  setCatalogCount(count);
  // The demo consults neither the server address nor a saved session.
  if (options.preview) {
    auto opened = co_await async::attempt(loadPreview());
    reportIfFailed(opened);
    co_return;
  }

  auto created = co_await async::attempt(makeClient());
  if (reportIfFailed(created)) co_return;
  std::shared_ptr<APIClient> api = *created;
  setApi(api);
  // No saved session: the sign-in screen, without a message.
  if (!api->hasSavedSession()) co_return;

  BusyHold hold = holdBusy();
  auto opened = co_await async::attempt(openRestored(api, hold, true));
  if (opened) co_return;
  const std::exception_ptr failure = opened.failure();
  // A refusal of the server (or anything but an unreachable server) ends on the sign-in screen with its message;
  // the saved session stays for the next launch.
  if (!isTransportFailure(failure)) co_return report(failure);
  // A sign-out that came meanwhile keeps the model signed out.
  if (!hold->current()) co_return;
  // The server cannot be reached: the profile last kept for it opens the same workspace offline.
  auto kept = co_await async::attempt(enterKeptProfile(api, hold));
  if (reportIfFailed(kept)) co_return;
  if (!*kept) report(failure);
}

async::Task<void> AppModel::openRestored(std::shared_ptr<APIClient> api, BusyHold hold, bool divert) {
  auto self = shared_from_this();
  JSONValue profile = co_await api->restore();
  if (divert) {
    co_await acceptProfile(std::move(profile), false, std::move(hold));
  } else {
    co_await enter(std::move(profile), false, std::move(hold));
  }
}

async::Task<bool> AppModel::enterKeptProfile(std::shared_ptr<APIClient> api, BusyHold hold) {
  auto self = shared_from_this();
  std::string account = profileAccount(api->baseURL());
  std::optional<std::string> saved = co_await SecureStore::read(std::move(account));
  if (!saved) co_return false;
  JSONValue profile = JSONValue::decode(*saved);
  co_await acceptProfile(std::move(profile), true, std::move(hold));
  co_return true;
}

async::Task<void> AppModel::login(std::string identity, std::string password) {
  auto self = shared_from_this();
  if (busy()) co_return;
  BusyHold hold = holdBusy();
  // A server address changed in the settings since the client was made applies from this sign-in on.
  if (!api_ || api_->baseURL() != serverAddress()) {
    auto created = co_await async::attempt(makeClient());
    if (reportIfFailed(created)) co_return;
    setApi(*created);
  }
  std::shared_ptr<APIClient> api = api_;
  if (!api) co_return setError(std::string(kServerNotConfigured));
  auto profile = co_await async::attempt(api->login(trimmed(identity), std::move(password)));
  if (reportIfFailed(profile)) co_return;
  auto entered = co_await async::attempt(acceptProfile(std::move(*profile), false, hold));
  reportIfFailed(entered);
}

async::Task<void> AppModel::acceptProfile(JSONValue profile, bool offlineOnly, BusyHold hold) {
  auto self = shared_from_this();
  if (profile["mustChangePassword"].boolValue()) {
    // Held until the password is replaced: no workspace opens and nothing is kept for offline use. The client
    // keeps the tokens of this sign-in; the password change is sent with them.
    hold->moveTo(replaceGeneration());
    setUser(JSONValue());
    setPlanner(JSONValue());
    setPasswordChangeProfile(std::move(profile));
    setPreview(false);
    co_return;
  }
  setPasswordChangeProfile(JSONValue());
  co_await enter(std::move(profile), offlineOnly, std::move(hold));
}

async::Task<void> AppModel::enter(JSONValue profile, bool offlineOnly, BusyHold hold) {
  auto self = shared_from_this();
  // The session operation that runs the entry keeps `busy` in the new workspace until it ends.
  hold->moveTo(replaceGeneration());
  co_await workspaceScope();
  setSavingHistory(false);
  setMapConfiguration(JSONValue());
  setMapIssue(std::nullopt);
  setLoadingMapConfiguration(false);

  std::shared_ptr<APIClient> api = api_;
  if (!api) throw DorvikError(kSignInAgain, 0);

  // Built and filled aside; installed below only while this is still the latest workspace change.
  std::shared_ptr<PlannerEngine> engine = co_await PlannerEngine::create(launch_.catalogPath);
  const std::string scope = api->baseURL() + "|" + profile["companyId"].string() + "|" + profile["id"].string() + "|" +
                            profile["depotId"].string();
  std::shared_ptr<EncryptedCache> cache = co_await EncryptedCache::open(scope);

  JSONValue identity = JSONValue::object({{"companyId", profile["companyId"]}, {"author", profile["fullName"]}});
  co_await engine->run("identity", std::move(identity));
  auto setAside = std::make_shared<std::vector<std::string>>();
  std::optional<JSONValue> cachedPlan = co_await readOrSetAside(cache, "planner", setAside);
  const JSONValue loadInput =
      cachedPlan ? *cachedPlan : JSONValue::object({{"routeDate", DorvikDate::day(std::chrono::system_clock::now())}});
  auto loaded = co_await async::attempt(engine->run("load", loadInput));
  // The component refuses a kept plan it cannot read whole (a fault of its own may also answer it with fewer
  // orders): the workspace opens with an empty plan of that day, and since the next plan change would store that
  // over the kept one, the kept one goes aside first.
  const bool unreadable = cachedPlan && (!loaded || !holdsArchive(*cachedPlan, *loaded));
  if (!loaded && !unreadable) std::rethrow_exception(loaded.failure());
  if (unreadable) co_await keepUnreadablePlan(cache, std::move(*cachedPlan));
  cachedPlan.reset();
  if (!loaded) {
    const std::string day = loadInput["routeDate"].string();
    JSONValue fresh =
        JSONValue::object({{"routeDate", day.empty() ? DorvikDate::day(std::chrono::system_clock::now()) : day}});
    loaded = co_await async::attempt(engine->run("load", std::move(fresh)));
    if (!loaded) std::rethrow_exception(loaded.failure());
  }
  JSONValue plan = std::move(*loaded);
  std::optional<JSONValue> cachedAddresses = co_await readOrSetAside(cache, "addresses", setAside);
  const JSONValue addresses = cachedAddresses ? std::move(*cachedAddresses) : JSONValue(JSONArray{});
  JSONValue rows = JSONValue::object({{"rows", addresses}});
  // An index that cannot be built keeps no workspace closed: it is said, and the batch search waits for the next.
  auto index = co_await async::attempt(engine->run("addressIndex", std::move(rows)));
  std::optional<JSONValue> cachedPending = co_await readOrSetAside(cache, "pendingAddresses", setAside);
  const JSONValue pending = cachedPending ? std::move(*cachedPending) : JSONValue(JSONObject{});
  std::optional<JSONValue> cachedZones = co_await readOrSetAside(cache, "zones", setAside);
  const JSONValue zones = cachedZones ? std::move(*cachedZones) : JSONValue(JSONArray{});
  std::optional<JSONValue> cachedHistory = co_await readOrSetAside(cache, "history", setAside);
  const JSONValue history = cachedHistory ? std::move(*cachedHistory) : JSONValue(JSONArray{});
  // The depots the last reference refresh kept, so that an offline workspace still names its depot.
  std::optional<JSONValue> cachedDepots = co_await readOrSetAside(cache, "depots", setAside);
  const JSONValue depots = cachedDepots ? std::move(*cachedDepots) : JSONValue(JSONArray{});
  JSONValue zoneInput = JSONValue::object({{"zones", zones}});
  co_await engine->run("zones", std::move(zoneInput));

  setEngine(engine);
  setCache(cache);
  setUser(profile);
  setPlanner(std::move(plan));
  setDate(DorvikDate::parse(loadInput["routeDate"].string()));
  setAddresses(addresses.array());
  installAddressIndex(index);
  setPendingAddresses(members(pending));
  setOffline(offlineOnly);
  setPreview(false);
  setZones(zones.array());
  setHistory(history.array());
  setDepots(JSONValue::records(depots.array()));
  setSelectedOrders({});
  setEditRevisions({});

  // What the user is told of the local data the workspace opened without.
  std::string notice;
  auto note = [&notice](const std::string& text) { notice += (notice.empty() ? "" : " ") + text; };
  if (cache->keptAsideForLostKey()) note(kKeyLost);
  if (unreadable) note(kPlanKeptAside);
  if (!setAside->empty()) {
    std::string titles;
    for (const std::string& title : *setAside) titles += (titles.empty() ? "" : ", ") + title;
    note("Повреждённые локальные данные отложены в сторону (" + titles + "); рабочий день открыт без них.");
  }
  if (offlineOnly) {
    // Nothing is asked of the server and the kept profile stays as it is.
    setStatus(notice.empty() ? std::string(kOpenedOffline) : std::string(kOpenedOffline) + " " + notice);
    co_return;
  }
  // Whatever the status said before (the demo, the password change, another workspace) is no longer news.
  setStatus(notice.empty() ? std::string(kOpened) : notice);
  std::string kept = profile.data();
  co_await SecureStore::write(std::move(kept), profileAccount(api->baseURL()));
  co_await refreshReferenceData();
  // The refresh may have written its own news over it.
  if (!notice.empty()) setStatus(std::move(notice));
}

async::Task<void> AppModel::changeRequiredPassword(std::string password) {
  auto self = shared_from_this();
  if (passwordChangeProfile_.isNull() || !api_ || busy()) throw DorvikError(kSignInAgain, 0);
  const std::size_t length = characterCount(password);
  if (length < 8 || length > 200) throw DorvikError(kPasswordLength, 0);

  BusyHold hold = holdBusy();
  co_await workspaceScope();
  std::shared_ptr<APIClient> api = api_;
  JSONValue body = JSONValue::object({{"next", std::move(password)}});
  (void)co_await api->request("/me/password", "POST", std::move(body), std::nullopt);
  co_await api->logout();
  setPasswordChangeProfile(JSONValue());
  setStatus(kPasswordChanged);
}

async::Task<void> AppModel::logout() {
  auto self = shared_from_this();
  std::shared_ptr<APIClient> api = api_;
  std::optional<std::string> held;
  // The saved session goes first. While it cannot be removed (a keyring that stays locked, a store that fails)
  // the user stays signed in and is told why: a sign-out that left it behind would sign them back in at the next
  // start. The demo holds no session of its own: leaving it asks nothing of the keyring, unless a session of the
  // server is still saved from before.
  if (api && (!preview_ || api->hasSavedSession())) {
    auto forgotten = co_await async::attempt(SecureStore::remove(profileAccount(api->baseURL())));
    if (reportIfFailed(forgotten)) co_return;
    if (*forgotten == SecureStore::Removal::locked) co_return setError(std::string(APIClient::kKeyringLocked));
    auto signedOut = co_await async::attempt(api->signOutHere());
    if (reportIfFailed(signedOut)) co_return;
    held = std::move(*signedOut);
  }
  async::CancelToken signedOut = leaveWorkspace();
  co_await freshEngine(std::move(signedOut));
  // The server is told last, whatever it answers: the session has already ended here.
  if (api && held) co_await api->tellServerSignedOut(std::move(*held));
}

void AppModel::sessionRefused() {
  if (preview_) return;
  std::shared_ptr<APIClient> api = api_;
  async::CancelToken signedOut = leaveWorkspace();
  setError(std::string(kSessionRefused));
  async::spawn(forgetRefusedSession(std::move(api), std::move(signedOut)));
}

async::Task<void> AppModel::forgetRefusedSession(std::shared_ptr<APIClient> api, async::CancelToken signedOut) {
  auto self = shared_from_this();
  // The client has already dropped the refused token (or withdrawn it, in a locked keyring): without it no start
  // opens the kept profile, so a profile that cannot be removed now only waits for the next sign-out.
  if (api) {
    auto forgotten = co_await async::attempt(SecureStore::remove(profileAccount(api->baseURL())));
    if (!forgotten || *forgotten == SecureStore::Removal::locked)
      g_warning("the profile of a refused session stays in the secret store until the next sign-out");
  }
  co_await freshEngine(std::move(signedOut));
}

async::CancelToken AppModel::leaveWorkspace() {
  replaceGeneration();
  // Whatever held `busy` (an import, a transfer, a session step) belonged to the workspace that is gone; a sign-in
  // must not be ignored because of it.
  setBusy(false);
  if (geocodingTask_) {
    geocodingTask_->cancel();
    geocodingTask_.reset();
  }

  setSyncingAddresses(false);
  setGeocoding(false);
  setGeocodingStopping(false);
  setAddressIndex({});
  addressIndexFailure_.reset();
  setUser(JSONValue());
  setPasswordChangeProfile(JSONValue());
  setPlanner(JSONValue());
  setSelectedOrders({});
  setAddresses({});
  setPendingAddresses({});
  setZones({});
  setHistory({});
  setSavingHistory(false);
  setDepots({});
  setCache(nullptr);
  setPendingPublication(std::nullopt);
  setMapConfiguration(JSONValue());
  setMapIssue(std::nullopt);
  setLoadingMapConfiguration(false);
  setPreview(false);
  // Whether the server answered belongs to the workspace that is gone, as does its status.
  setOffline(false);
  setStatus({});
  // The signed-out workspace this sign-out opens; a sign-in may replace it while the session ends on the server.
  return workspace_;
}

async::Task<void> AppModel::freshEngine(async::CancelToken signedOut) {
  auto self = shared_from_this();
  // A fresh script context for the next user, unless a new workspace came meanwhile: it has an engine of its own.
  auto engine = co_await async::attempt(PlannerEngine::create(launch_.catalogPath));
  if (signedOut.isCancelled() || reportIfFailed(engine)) co_return;
  setEngine(*engine);
  unusedEngine_ = *engine;
}

async::Task<void> AppModel::switchDepot(std::string depotId) {
  auto self = shared_from_this();
  if (busy() || geocoding() || !canWriteServer() || !api_) throw DorvikError(kDepotNeedsConnection, 0);

  BusyHold hold = holdBusy();
  std::shared_ptr<APIClient> api = api_;
  JSONValue body = JSONValue::object({{"depotId", std::move(depotId)}});
  // Refused, or another workspace meanwhile: the workspace stays open and unchanged.
  (void)co_await async::within(workspace_, api->request("/auth/depot", "POST", std::move(body), std::nullopt));
  // `within` looked at the workspace before handing its answer on: a sign-out that came in between is seen here.
  if (!hold->current()) throw CancelledError();

  hold->moveTo(replaceGeneration());
  // The window keeps the workspace, busy, while the new depot opens: the user stays, and what belonged to the old
  // depot goes (its plan, the selection, the publication waiting, and its cache, so that no answer of the new
  // depot is kept under the old one's name).
  setPlanner(JSONValue());
  setSelectedOrders({});
  setPendingPublication(std::nullopt);
  setCache(nullptr);
  setStatus(kSwitchingDepot);
  // The renewed session names the new depot; its profile selects the workspace.
  auto opened = co_await async::attempt(openRestored(api, hold, false));
  if (opened) co_return;
  // Signed out, with the reason shown over the sign-in screen, unless another workspace change (a sign-out, and
  // perhaps a new sign-in) came meanwhile: that one is left alone.
  if (hold->current()) {
    report(opened.failure());
    co_await logout();
  }
  std::rethrow_exception(opened.failure());
}

}  // namespace dorvik
