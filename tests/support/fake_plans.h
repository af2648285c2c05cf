// FakePlans: the server's published plans on a StandInServer, for the suites of the publication and of what is
// published. POST "/plans/import?mode=…" stores the posted routes under the body's "date" in the mode's way:
//   append       the routes are added to the date's;
//   keepStarted  the date's routes without courier marks are replaced, those with marks are kept (a posted route
//                of the same "externalRouteId" as a kept one is not added);
//   replace      the date's routes are replaced; refused (409) while any of them has courier marks.
// GET "/plans/existing?date=…" answers {"routes", "started", "hasActivity"} of what is stored for the date. A post
// under an "Idempotency-Key" already taken is answered as the first was and stores nothing again. Failures on
// demand; every hit stays in the server's record.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "core/json/json_value.h"
#include "support/stand_in_server.h"

namespace dorvik::testing {

class FakePlans {
 public:
  explicit FakePlans(StandInServer& server);

  struct Route {
    JSONValue route;       // as posted
    bool started = false;  // the courier has marked progress on it
  };
  // The routes stored for a date, in the order stored; the dates that have any.
  std::vector<Route> routes(const std::string& date) const;
  std::vector<std::string> dates() const;
  // Imports taken (a repetition under a known key is not one).
  std::size_t imports() const;

  // Courier marks on the stored route of that "externalRouteId": the date then has courier activity.
  void markStarted(const std::string& date, const std::string& externalRouteId);

  // The next import is taken, but its answer is lost: the client sees a network failure.
  void dropNextAnswer();
  // The next check is refused with the status and the server's message.
  void refuseNextCheck(int status, std::string message);
  // Checks are answered only when the test releases them (server.release("/plans/existing")).
  void holdChecks(bool hold);

 private:
  struct State;
  static Answer importPlan(State& state, const Hit& hit);
  std::shared_ptr<State> state_;
};

}  // namespace dorvik::testing
