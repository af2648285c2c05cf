// The server gateway: the one door of the screens and most workflows to the server. Demo answers, the
// per-workspace cache of GET answers (entry name = the request path exactly as passed), and the offline flag.
#include <optional>
#include <string>
#include <utility>

#include "core/api/api_client.h"
#include "core/api/transport_error.h"
#include "core/async/attempt.h"
#include "core/base/errors.h"
#include "core/cache/encrypted_cache.h"
#include "model/app_model.h"
#include "model/preview_data.h"

namespace dorvik {

namespace {
const char* const kPreviewReadOnly = "Пример доступен только для просмотра.";
const char* const kSignInFirst = "Войдите в учётную запись.";
const char* const kMapSettingsFailed = "Не удалось получить настройки карты 2ГИС. Проверьте подключение к серверу.";
}  // namespace

async::Task<JSONValue> AppModel::fetch(std::string path, std::string method, std::optional<JSONValue> body) {
  auto self = shared_from_this();
  if (preview_) {
    // The demo never leaves the machine: no client, no cache, no change of offline.
    if (method == "GET") co_return PreviewData::response(path, planner_);
    throw DorvikError(kPreviewReadOnly, 0);
  }
  if (!api_) throw DorvikError(kSignInFirst, 0);

  co_await workspaceScope();
  std::shared_ptr<APIClient> api = api_;
  std::optional<TransportError> unreachable;
  try {
    JSONValue value = co_await api->request(path, method, body, std::nullopt);
    setOffline(false);
    if (method == "GET" && cache_) {
      std::shared_ptr<EncryptedCache> cache = cache_;
      co_await cache->write(value, path);
    }
    co_return value;
  } catch (const TransportError& e) {
    // Everything else (a refusal, an answer that is not JSON, a cache failure, a cancellation) goes to the
    // caller unchanged and leaves offline alone.
    unreachable = e;
  }

  // A transfer the caller (or the workspace change) cancelled is no sign of the network.
  const async::CancelToken own = co_await async::currentToken();
  if (unreachable->isCancelled() || own.isCancelled()) throw CancelledError();
  setOffline(true);
  if (method == "GET" && cache_) {
    std::shared_ptr<EncryptedCache> cache = cache_;
    std::optional<JSONValue> saved = co_await cache->read(path);
    if (saved) co_return std::move(*saved);
  }
  throw *unreachable;
}

async::Task<void> AppModel::loadMapConfiguration(bool force) {
  auto self = shared_from_this();
  if (loadingMapConfiguration()) co_return;
  if (!force && !mapConfiguration_.isNull()) co_return;
  if (preview_) {
    setMapConfiguration(JSONValue::object({{"configured", false}}));
    co_return;
  }
  co_await workspaceScope(async::ScopeEnd::quiet);
  FlagHold loading = hold(Property::loadingMapConfiguration);
  auto fetched = co_await async::attempt(fetch("/keys/map", "GET", std::nullopt));
  if (fetched) {
    setMapConfiguration(std::move(*fetched));
    setMapIssue(std::nullopt);
  } else {
    // Whatever went wrong, the map shows the one message; the previous settings stay.
    setMapIssue(std::string(kMapSettingsFailed));
  }
}

}  // namespace dorvik
