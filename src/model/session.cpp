// Launch, sign-in, the required password change and the entry into a workspace; sign-out and the depot switch.
//
// Launch: the planner engine with its catalogue, then either the demo workspace (the "--preview" argument) or
// the way to the server: a client for the address of the settings, the saved session restored and the user's
// workspace entered. When the server cannot be reached, the profile last kept for that server opens the same
// workspace offline.
//
// A workspace is one server, company, user and depot: its scope names its encrypted cache, so each opens from
// its own files. An entry builds the new engine and cache aside, fills them from the cache, and installs them in
// one step only while it is still the latest workspace change.
#include <glib.h>

#include <chrono>
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
const char* const kSignInAgain = "Войдите заново.";
const char* const kPasswordLength = "Пароль должен содержать от 8 до 200 знаков.";
const char* const kPasswordChanged = "Пароль изменён. Войдите с новым паролем.";
const char* const kDepotNeedsConnection = "Для смены склада требуется подключение.";

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

std::map<std::string, JSONValue> members(const JSONValue& value) {
  const JSONObject& object = value.object();
  return std::map<std::string, JSONValue>(object.begin(), object.end());
}

}  // namespace

AppModel::BusyHold AppModel::holdBusy() {
  setBusy(true);
  return std::make_shared<std::string>(generation_);
}

void AppModel::releaseBusy(const BusyHold& hold) {
  if (generation_ == *hold) setBusy(false);
}

async::Task<std::shared_ptr<APIClient>> AppModel::makeClient() {
  const UserDefaults defaults = launch_.settingsPath ? UserDefaults(*launch_.settingsPath) : UserDefaults();
  std::string address = defaults.get(Settings::serverURL);
  if (!formsURL(address)) throw DorvikError(kCheckServerAddress, 0);
  std::shared_ptr<APIClient> client = co_await APIClient::create(std::move(address));
  co_return client;
}

async::Task<void> AppModel::start(LaunchOptions options) {
  auto self = shared_from_this();
  launch_ = options;
  auto report = [this](std::exception_ptr failure) {
    if (std::optional<std::string> text = failureText(failure)) setError(std::move(text));
  };

  std::exception_ptr failure;
  try {
    std::shared_ptr<PlannerEngine> engine = co_await PlannerEngine::create(options.catalogPath);
    setEngine(engine);
    const int count = co_await engine->catalogCount();
    setCatalogCount(count);
    // The demo consults neither the server address nor a saved session.
    if (options.preview) co_await loadPreview();
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) report(failure);
  if (failure || options.preview) co_return;

  std::shared_ptr<APIClient> api;
  try {
    api = co_await makeClient();
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    report(failure);
    co_return;
  }
  setApi(api);
  // No saved session: the sign-in screen, without a message.
  if (!api->hasSavedSession()) co_return;

  BusyHold hold = holdBusy();
  try {
    JSONValue profile = co_await api->restore();
    co_await acceptProfile(std::move(profile), false, hold);
  } catch (...) {
    failure = std::current_exception();
  }
  // A refusal of the server (or anything but an unreachable server) ends on the sign-in screen with its message;
  // the saved session stays for the next launch.
  if (failure && !isTransportFailure(failure)) {
    report(failure);
    failure = nullptr;
  }
  // A sign-out that came meanwhile keeps the model signed out.
  if (failure && generation_ != *hold) failure = nullptr;
  if (failure) {
    // The server cannot be reached: the profile last kept for it opens the same workspace offline.
    const std::exception_ptr unreachable = failure;
    failure = nullptr;
    std::optional<std::string> saved;
    try {
      std::string account = profileAccount(api->baseURL());
      saved = co_await SecureStore::read(std::move(account));
      if (saved) {
        JSONValue profile = JSONValue::decode(*saved);
        co_await acceptProfile(std::move(profile), true, hold);
      }
    } catch (...) {
      failure = std::current_exception();
    }
    if (failure) {
      report(failure);
    } else if (!saved) {
      report(unreachable);
    }
  }
  releaseBusy(hold);
}

async::Task<void> AppModel::login(std::string identity, std::string password) {
  auto self = shared_from_this();
  if (busy()) co_return;
  BusyHold hold = holdBusy();
  std::exception_ptr failure;
  try {
    if (!api_) {
      std::shared_ptr<APIClient> created = co_await makeClient();
      setApi(created);
    }
    std::shared_ptr<APIClient> api = api_;
    if (!api) throw DorvikError(kServerNotConfigured, 0);
    JSONValue profile = co_await api->login(trimmed(identity), std::move(password));
    co_await acceptProfile(std::move(profile), false, hold);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    if (std::optional<std::string> text = failureText(failure)) setError(std::move(text));
  }
  releaseBusy(hold);
}

async::Task<void> AppModel::acceptProfile(JSONValue profile, bool offlineOnly, BusyHold hold) {
  auto self = shared_from_this();
  if (profile["mustChangePassword"].boolValue()) {
    // Held until the password is replaced: no workspace opens and nothing is kept for offline use. The client
    // keeps the tokens of this sign-in; the password change is sent with them.
    *hold = replaceGeneration();
    setBusy(true);
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
  const std::string token = replaceGeneration();
  // The session operation that runs the entry keeps `busy` in the new workspace until it ends.
  *hold = token;
  setBusy(true);
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
  std::optional<JSONValue> cachedPlan = co_await cache->read("planner");
  const JSONValue loadInput =
      cachedPlan ? std::move(*cachedPlan)
                 : JSONValue::object({{"routeDate", DorvikDate::day(std::chrono::system_clock::now())}});
  JSONValue plan = co_await engine->run("load", loadInput);
  std::optional<JSONValue> cachedAddresses = co_await cache->read("addresses");
  const JSONValue addresses = cachedAddresses ? std::move(*cachedAddresses) : JSONValue(JSONArray{});
  JSONValue rows = JSONValue::object({{"rows", addresses}});
  JSONValue index = co_await engine->run("addressIndex", std::move(rows));
  std::optional<JSONValue> cachedPending = co_await cache->read("pendingAddresses");
  const JSONValue pending = cachedPending ? std::move(*cachedPending) : JSONValue(JSONObject{});
  std::optional<JSONValue> cachedZones = co_await cache->read("zones");
  const JSONValue zones = cachedZones ? std::move(*cachedZones) : JSONValue(JSONArray{});
  std::optional<JSONValue> cachedHistory = co_await cache->read("history");
  const JSONValue history = cachedHistory ? std::move(*cachedHistory) : JSONValue(JSONArray{});
  JSONValue zoneInput = JSONValue::object({{"zones", zones}});
  co_await engine->run("zones", std::move(zoneInput));

  if (generation_ != token) throw CancelledError();

  setEngine(engine);
  setCache(cache);
  setUser(profile);
  setPlanner(std::move(plan));
  setDate(DorvikDate::parse(loadInput["routeDate"].string()));
  setAddresses(addresses.array());
  setAddressIndex(members(index));
  setPendingAddresses(members(pending));
  setOffline(offlineOnly);
  setPreview(false);
  setZones(zones.array());
  setHistory(history.array());
  setSelectedOrders({});
  setEditRevisions({});

  if (offlineOnly) {
    // Nothing is asked of the server and the kept profile stays as it is.
    setStatus(kOpenedOffline);
    co_return;
  }
  std::string kept = profile.data();
  co_await SecureStore::write(std::move(kept), profileAccount(api->baseURL()));
  co_await refreshReferenceData();
}

async::Task<void> AppModel::changeRequiredPassword(std::string password) {
  auto self = shared_from_this();
  if (passwordChangeProfile_.isNull() || !api_ || busy()) throw DorvikError(kSignInAgain, 0);
  const std::size_t length = characterCount(password);
  if (length < 8 || length > 200) throw DorvikError(kPasswordLength, 0);

  BusyHold hold = holdBusy();
  const std::string token = generation_;
  std::shared_ptr<APIClient> api = api_;
  std::exception_ptr failure;
  try {
    JSONValue body = JSONValue::object({{"next", std::move(password)}});
    (void)co_await api->request("/me/password", "POST", std::move(body), std::nullopt);
    if (generation_ != token) throw CancelledError();
    co_await api->logout();
    setPasswordChangeProfile(JSONValue());
    setStatus(kPasswordChanged);
  } catch (...) {
    failure = std::current_exception();
  }
  releaseBusy(hold);
  if (failure) std::rethrow_exception(failure);
}

async::Task<void> AppModel::logout() {
  auto self = shared_from_this();
  const std::string token = replaceGeneration();
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

  if (std::shared_ptr<APIClient> api = api_) {
    // The session ends on the server even when the kept profile cannot be removed; that failure is shown and
    // the engine is left as it is.
    std::exception_ptr storeFailure;
    try {
      std::string account = profileAccount(api->baseURL());
      co_await SecureStore::write(std::nullopt, std::move(account));
    } catch (...) {
      storeFailure = std::current_exception();
    }
    std::exception_ptr failure;
    try {
      co_await api->logout();
    } catch (...) {
      failure = std::current_exception();
    }
    if (storeFailure) failure = storeFailure;
    if (failure) {
      if (std::optional<std::string> text = failureText(failure)) setError(std::move(text));
      co_return;
    }
  }

  // A fresh script context for the next user, unless a new workspace has already installed its own engine.
  if (generation_ != token) co_return;
  std::exception_ptr failure;
  try {
    std::shared_ptr<PlannerEngine> engine = co_await PlannerEngine::create(launch_.catalogPath);
    if (generation_ == token) setEngine(engine);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    if (std::optional<std::string> text = failureText(failure)) setError(std::move(text));
  }
}

async::Task<void> AppModel::switchDepot(std::string depotId) {
  auto self = shared_from_this();
  if (busy() || geocoding() || !canWriteServer() || !api_) throw DorvikError(kDepotNeedsConnection, 0);

  BusyHold hold = holdBusy();
  const std::string token = generation_;
  std::shared_ptr<APIClient> api = api_;
  std::exception_ptr failure;
  try {
    JSONValue body = JSONValue::object({{"depotId", std::move(depotId)}});
    (void)co_await api->request("/auth/depot", "POST", std::move(body), std::nullopt);
    if (generation_ != token) throw CancelledError();
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    // The workspace stays open and unchanged.
    releaseBusy(hold);
    std::rethrow_exception(failure);
  }

  *hold = replaceGeneration();
  setBusy(true);
  setUser(JSONValue());
  setPlanner(JSONValue());
  setSelectedOrders({});
  setPendingPublication(std::nullopt);
  try {
    // The renewed session names the new depot; its profile selects the workspace.
    JSONValue profile = co_await api->restore();
    co_await enter(std::move(profile), false, hold);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    // Signed out, unless another workspace change (a sign-out, and perhaps a new sign-in) came meanwhile: that one
    // is left alone.
    if (generation_ == *hold) co_await logout();
    std::rethrow_exception(failure);
  }
  releaseBusy(hold);
}

}  // namespace dorvik
