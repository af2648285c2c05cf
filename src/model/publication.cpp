// Publication of the plan to the couriers: the planner component builds the body, the server's plan import takes
// it in one of three modes under an idempotency key. Until the server confirms, body, mode and key stay pending, so
// that a retry in the same mode sends the very same body under the very same key and the server can recognise the
// repetition. Every installed plan change forgets the pending publication, so the next one is built afresh.
//
// The request goes to the API client directly: a publication is never answered from the cache and never switches
// the model's offline state.
#include <cctype>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/api/api_client.h"
#include "core/base/errors.h"
#include "core/base/text.h"
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

// The server takes no plan whose order numbers repeat or are missing, and answers with a text that names them by
// their place in the body. The body is checked first, so that the user learns which numbers to mend before anything
// is sent. Throws DorvikError naming them.
void checkOrderNumbers(const JSONValue& body) {
  std::map<std::string, int> counts;
  std::vector<std::string> repeated;
  int missing = 0;
  for (const JSONValue& route : body["routes"].array()) {
    for (const JSONValue& point : route["points"].array()) {
      for (const JSONValue& order : point["orders"].array()) {
        const std::string number = trimmed(order["orderId"].string());
        if (number.empty()) ++missing;
        else if (++counts[number] == 2) repeated.push_back(number);
      }
    }
  }
  if (repeated.empty() && missing == 0) return;
  std::string message = "План не отправлен:";
  if (!repeated.empty()) {
    message += " повторяются номера заказов ";
    constexpr std::size_t kNamed = 10;
    for (std::size_t i = 0; i < repeated.size() && i < kNamed; ++i) {
      message += (i ? ", «" : "«") + repeated[i] + "» (" + std::to_string(counts[repeated[i]]) + ")";
    }
    if (repeated.size() > kNamed) message += " и ещё " + std::to_string(repeated.size() - kNamed);
    message += missing ? ";" : ".";
  }
  if (missing) message += " заказов без номера: " + std::to_string(missing) + ".";
  throw DorvikError(message + " Исправьте номера в карточках заказов (вкладка «Проверка») и отправьте план снова.", 0);
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
    checkOrderNumbers(body);
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
