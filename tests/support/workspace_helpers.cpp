#include "support/workspace_helpers.h"

#include <glib.h>

#include "core/async/task.h"

namespace dorvik::testing {

std::shared_ptr<APIClient> signedInClient(StandInServer& server) {
  server.on("POST", "/auth/login",
            Answer::json(JSONValue::object({{"accessToken", "access-1"},
                                            {"refreshToken", "refresh-1"},
                                            {"user", JSONValue::object({{"role", "logist"}, {"name", "Ирина"}})}})));
  APIClient::Options options;
  options.persist = false;
  auto client = async::runBlocking(APIClient::create(server.url(), options));
  async::runBlocking(client->login("logist", "пароль"));
  return client;
}

void scriptMapSettings(StandInServer& server, const JSONValue& settings) {
  server.on("GET", "/keys/map", Answer::json(settings));
}

PlanImportDesk::PlanImportDesk(StandInServer& server) : server_(server) {
  server_.on("POST", "/plans/import", [failures = failures_](const Hit&) {
    if (failures->empty()) return Answer::json(JSONValue::object({{"accepted", true}}));
    Answer next = failures->front();
    failures->pop_front();
    return next;
  });
}

void PlanImportDesk::dropNext() { failures_->push_back(Answer::dropped()); }

void PlanImportDesk::refuseNext(int status, std::string message) {
  failures_->push_back(Answer::error(status, message));
}

std::vector<PlanImportDesk::Post> PlanImportDesk::posts() const {
  std::vector<Post> out;
  for (const Hit& hit : server_.hitsOn("/plans/import")) {
    if (hit.method != "POST") continue;
    std::string mode = hit.query.starts_with("mode=") ? hit.query.substr(5) : std::string();
    out.push_back(Post{std::move(mode), hit.json(), hit.header("Idempotency-Key")});
  }
  return out;
}

std::shared_ptr<EncryptedCache> freshCache() {
  gchar* uuid = g_uuid_string_random();
  std::string scope = std::string("https://model.test/api|1|") + uuid + "|1";
  g_free(uuid);
  return async::runBlocking(EncryptedCache::open(scope));
}

void scriptReferenceData(StandInServer& server, const JSONValue& depots, const JSONValue& addresses,
                         const JSONValue& zones) {
  server.on("GET", "/depots", Answer::json(JSONValue::object({{"depots", depots}})));
  server.on("GET", "/panel/addresses?limit=20000", Answer::json(JSONValue::object({{"addresses", addresses}})));
  server.on("GET", "/panel/zones", Answer::json(JSONValue::object({{"zones", zones}})));
}

void scriptAddressUpload(StandInServer& server) {
  server.on("POST", "/panel/addresses", Answer::json(JSONValue::object({{"ok", true}})));
  server.on("POST", "/panel/clients/learn", Answer::json(JSONValue::object({{"ok", true}})));
}

}  // namespace dorvik::testing
