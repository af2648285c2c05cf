// Pieces the application-model suites share: a signed-in client on the stand-in server, a workspace cache of a
// scope of its own, and the server paths the model's gateway sends besides the screens' own.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "core/api/api_client.h"
#include "core/cache/encrypted_cache.h"
#include "core/json/json_value.h"
#include "support/stand_in_server.h"

namespace dorvik::testing {

// Scripts POST "/auth/login" (a logist's session) and signs a client in on the server; the refresh token is not
// kept in the secret store.
std::shared_ptr<APIClient> signedInClient(StandInServer& server);

// Scripts GET "/keys/map" with the web map's settings.
void scriptMapSettings(StandInServer& server, const JSONValue& settings);

// Scripts POST "/plans/import" (every mode): each post meets the next failure queued here, and is accepted with
// {"accepted": true} once none is left. Every post stays readable: mode, body and "Idempotency-Key".
class PlanImportDesk {
 public:
  explicit PlanImportDesk(StandInServer& server);
  // The next post loses its connection: the client sees a network failure.
  void dropNext();
  // The next post is refused with the status and the server's message.
  void refuseNext(int status, std::string message);

  struct Post {
    std::string mode;
    JSONValue body;
    std::string idempotencyKey;
  };
  std::vector<Post> posts() const;

 private:
  StandInServer& server_;
  std::shared_ptr<std::deque<Answer>> failures_ = std::make_shared<std::deque<Answer>>();
};

// The cache of a fresh workspace scope (real Secret Service).
std::shared_ptr<EncryptedCache> freshCache();

// Reference data and address upload.
// Scripts GET "/depots", "/panel/addresses?limit=20000" and "/panel/zones" with the three lists.
void scriptReferenceData(StandInServer& server, const JSONValue& depots, const JSONValue& addresses,
                         const JSONValue& zones);
// Scripts POST "/panel/addresses" and "/panel/clients/learn", both accepted.
void scriptAddressUpload(StandInServer& server);

}  // namespace dorvik::testing
