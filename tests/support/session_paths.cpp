#include "support/session_paths.h"

#include <utility>

namespace dorvik::testing {

JSONValue sessionAnswer(const JSONValue& user, const std::string& refreshToken) {
  return JSONValue::object({{"accessToken", "access-" + refreshToken}, {"refreshToken", refreshToken}, {"user", user}});
}

SessionServer::SessionServer(StandInServer& server, JSONValue user)
    : profile(std::make_shared<JSONValue>(std::move(user))) {
  auto current = profile;
  auto serial = std::make_shared<int>(0);
  auto session = [current, serial](const Hit&) {
    return Answer::json(sessionAnswer(*current, "refresh-" + std::to_string(++*serial)));
  };
  server.on("POST", "/auth/login", session);
  server.on("POST", "/auth/refresh", session);
  server.on("POST", "/auth/logout", Answer::empty(204));
  server.on("POST", "/auth/depot", [current](const Hit& hit) {
    current->set("depotId", hit.json()["depotId"]);
    return Answer::json(JSONValue::object({{"ok", true}}));
  });
  server.on("POST", "/me/password", [current](const Hit&) {
    current->set("mustChangePassword", false);
    return Answer::json(JSONValue::object({{"ok", true}}));
  });
  scriptReferenceLists(server, JSONValue(JSONArray{}), JSONValue(JSONArray{}), JSONValue(JSONArray{}));
}

void scriptReferenceLists(StandInServer& server, const JSONValue& depots, const JSONValue& addresses,
                          const JSONValue& zones) {
  server.on("GET", "/depots", Answer::json(JSONValue::object({{"depots", depots}})));
  server.on("GET", "/panel/addresses?limit=20000", Answer::json(JSONValue::object({{"addresses", addresses}})));
  server.on("GET", "/panel/zones", Answer::json(JSONValue::object({{"zones", zones}})));
}

}  // namespace dorvik::testing
