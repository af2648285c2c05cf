// The company server as road refinement meets it: GET "/integrations/settings" (is a routing key configured, is it
// a demo key) and POST "/geo/route" (one leg's road distance and driving time). Scripted answers and failures on
// demand; every route request stays readable.
#pragma once

#include <deque>
#include <memory>
#include <vector>

#include "core/json/json_value.h"
#include "support/stand_in_server.h"

namespace dorvik::testing {

class RoutingDesk {
 public:
  // Scripts both paths: a configured paid key, every leg answered along roads.
  explicit RoutingDesk(StandInServer& server);

  // The settings answer.
  void setKey(bool configured, bool demo);
  // The next route requests meet these answers in turn; once none is left, each leg is answered along roads with
  // kmFor(body) kilometres and twice as many minutes.
  void queue(Answer answer);
  // The next route request is refused with the status and the server's message.
  void refuseNext(int status, std::string message);
  // The next route request is answered as a straight-line estimate.
  void straightNext();

  // The distance the desk answers for a request body: 100 × (|Δlat| + |Δlon|) of its two points, rounded to 0.1.
  static double kmFor(const JSONValue& body);
  // The bodies of the route requests, in order.
  std::vector<JSONValue> routeBodies() const;
  std::vector<Hit> routeHits() const;

 private:
  StandInServer& server_;
  std::shared_ptr<JSONValue> settings_;
  std::shared_ptr<std::deque<Answer>> answers_ = std::make_shared<std::deque<Answer>>();
};

}  // namespace dorvik::testing
