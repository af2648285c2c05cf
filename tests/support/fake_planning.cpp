#include "support/fake_planning.h"

#include <cmath>

namespace dorvik::testing {

RoutingDesk::RoutingDesk(StandInServer& server) : server_(server), settings_(std::make_shared<JSONValue>()) {
  setKey(true, false);
  server_.on("GET", "/integrations/settings", [settings = settings_](const Hit&) { return Answer::json(*settings); });
  server_.on("POST", "/geo/route", [answers = answers_](const Hit& hit) {
    if (!answers->empty()) {
      Answer next = answers->front();
      answers->pop_front();
      return next;
    }
    const double km = kmFor(hit.json());
    return Answer::json(JSONValue::object({{"calculatedByRoads", true}, {"km", km}, {"min", km * 2}}));
  });
}

void RoutingDesk::setKey(bool configured, bool demo) {
  *settings_ = JSONValue::object({
      {"routingKey", JSONValue::object({{"configured", configured}, {"masked", configured ? "••••a1b2" : ""}})},
      {"isDemo", demo},
  });
}

void RoutingDesk::queue(Answer answer) { answers_->push_back(std::move(answer)); }

void RoutingDesk::refuseNext(int status, std::string message) { queue(Answer::error(status, message)); }

void RoutingDesk::straightNext() {
  queue(Answer::json(JSONValue::object({{"calculatedByRoads", false}, {"km", 3.2}, {"min", 6}})));
}

double RoutingDesk::kmFor(const JSONValue& body) {
  const JSONValue& from = body["points"].at(0);
  const JSONValue& to = body["points"].at(1);
  const double degrees = std::fabs(to["lat"].doubleValue().value_or(0) - from["lat"].doubleValue().value_or(0)) +
                         std::fabs(to["lon"].doubleValue().value_or(0) - from["lon"].doubleValue().value_or(0));
  return std::round(degrees * 1000) / 10;
}

std::vector<Hit> RoutingDesk::routeHits() const {
  std::vector<Hit> hits;
  for (const Hit& hit : server_.hitsOn("/geo/route")) {
    if (hit.method == "POST") hits.push_back(hit);
  }
  return hits;
}

std::vector<JSONValue> RoutingDesk::routeBodies() const {
  std::vector<JSONValue> bodies;
  for (const Hit& hit : routeHits()) bodies.push_back(hit.json());
  return bodies;
}

}  // namespace dorvik::testing
