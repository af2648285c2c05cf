// Publication of the plan to the couriers: the planner component builds the body, the server's plan import takes
// it in one of three modes under an idempotency key. Until the server confirms, body, mode and key stay pending, so
// that a retry in the same mode sends the very same body under the very same key and the server can recognise the
// repetition. Every installed plan change forgets the pending publication, so the next one is built afresh.
//
// The request goes to the API client directly: a publication is never answered from the cache and never switches
// the model's offline state.
#include <cctype>
#include <optional>
#include <string>
#include <utility>

#include "core/api/api_client.h"
#include "core/base/errors.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"

namespace dorvik {

namespace {

const char* const kSignInFirst = "Войдите в учётную запись.";
const char* const kChooseMode = "Выберите действие для плана.";
const char* const kPublished = "План отправлен курьерам.";

bool knownMode(const std::string& mode) { return mode == "append" || mode == "keepStarted" || mode == "replace"; }

// "mac-" and a new random UUID in upper case: the prefix is the one the server knows for this client's keys.
std::string publicationKey() {
  std::string uuid = randomUUID();
  for (char& c : uuid) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return "mac-" + uuid;
}

}  // namespace

async::Task<void> AppModel::publishPlan(std::string mode) {
  auto self = shared_from_this();
  if (!engine_ || !api_ || preview_ || user_.isNull()) throw DorvikError(kSignInFirst, 0);
  if (!knownMode(mode)) throw DorvikError(kChooseMode, 0);
  co_await workspaceScope();
  std::shared_ptr<PlannerEngine> engine = engine_;
  std::shared_ptr<APIClient> api = api_;

  JSONValue body;
  std::string key;
  if (pendingPublication_ && pendingPublication_->mode == mode) {
    // A retry: the same body under the same key, nothing asked of the engine.
    body = pendingPublication_->payload;
    key = pendingPublication_->key;
  } else {
    std::string action = "payload";
    JSONValue none = JSONValue(JSONObject{});
    JSONValue built = co_await engine->run(std::move(action), std::move(none));
    body = built["payload"];
    key = publicationKey();
    setPendingPublication(PendingPublication{body, mode, key});
  }

  // A failure leaves the publication pending, ready for a retry.
  std::string path = "/plans/import?mode=" + mode;
  std::string method = "POST";
  co_await api->request(std::move(path), std::move(method), body, key);

  // Only the publication just confirmed is forgotten; one that replaced it meanwhile stays.
  if (pendingPublication_ && pendingPublication_->key == key) setPendingPublication(std::nullopt);
  setStatus(kPublished);
}

}  // namespace dorvik
