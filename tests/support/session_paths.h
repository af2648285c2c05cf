// The server paths of a session on the stand-in server: sign-in, session renewal, sign-out, the depot switch and
// the reference lists a workspace fetches when it opens online.
#pragma once

#include <memory>
#include <string>

#include "core/json/json_value.h"
#include "support/stand_in_server.h"

namespace dorvik::testing {

// What the server answers to a sign-in or a renewal: tokens and the profile.
JSONValue sessionAnswer(const JSONValue& user, const std::string& refreshToken = "refresh-1");

// A server whose signed-in profile can change between calls (a depot switch changes its "depotId").
struct SessionServer {
  std::shared_ptr<JSONValue> profile;

  // Scripts POST "/auth/login", "/auth/refresh" (both answer the current profile with fresh tokens),
  // "/auth/logout", "/auth/depot" (stores the body's "depotId" in the profile) and "/me/password" (clears
  // "mustChangePassword"), and the reference lists with empty answers.
  SessionServer(StandInServer& server, JSONValue user);
};

// GET "/depots", "/panel/addresses?limit=20000" and "/panel/zones" answered with these lists.
void scriptReferenceLists(StandInServer& server, const JSONValue& depots, const JSONValue& addresses,
                          const JSONValue& zones);

}  // namespace dorvik::testing
