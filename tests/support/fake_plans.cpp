#include "support/fake_plans.h"

#include <glib.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>

namespace dorvik::testing {

struct FakePlans::State {
  std::map<std::string, std::vector<Route>> plans;  // by date
  std::map<std::string, Answer> answered;           // by idempotency key
  std::size_t imports = 0;
  bool dropNext = false;
  std::optional<Answer> checkRefusal;
  bool holdChecks = false;
};

namespace {

// A parameter of a query, decoded; "" when absent.
std::string parameter(const std::string& query, const char* name) {
  std::string value;
  GHashTable* params = g_uri_parse_params(query.c_str(), -1, "&", G_URI_PARAMS_NONE, nullptr);
  if (!params) return value;
  if (auto* found = static_cast<const char*>(g_hash_table_lookup(params, name))) value = found;
  g_hash_table_unref(params);
  return value;
}

}  // namespace

Answer FakePlans::importPlan(State& state, const Hit& hit) {
  const std::string mode = parameter(hit.query, "mode");
  if (mode != "append" && mode != "keepStarted" && mode != "replace")
    return Answer::error(400, "Неизвестный режим публикации.");
  const JSONValue body = hit.json();
  const std::string date = body["date"].string();
  std::vector<FakePlans::Route>& stored = state.plans[date];
  const bool activity = std::any_of(stored.begin(), stored.end(), [](const auto& r) { return r.started; });
  if (mode == "replace" && activity) return Answer::error(409, "На эту дату у курьеров уже есть отметки.");

  std::set<std::string> kept;
  if (mode == "replace") stored.clear();
  if (mode == "keepStarted") {
    std::erase_if(stored, [](const FakePlans::Route& r) { return !r.started; });
    for (const FakePlans::Route& r : stored) kept.insert(r.route["externalRouteId"].string());
  }
  for (const JSONValue& route : body["routes"].array())
    if (!kept.count(route["externalRouteId"].string())) stored.push_back({route, false});
  if (stored.empty()) state.plans.erase(date);
  ++state.imports;
  return Answer::json(JSONValue::object({{"accepted", true}, {"routes", static_cast<double>(stored.size())}}));
}

FakePlans::FakePlans(StandInServer& server) : state_(std::make_shared<State>()) {
  server.on("POST", "/plans/import", [state = state_](const Hit& hit) {
    State& s = *state;
    const std::string key = hit.header("Idempotency-Key");
    if (!key.empty()) {
      if (auto known = s.answered.find(key); known != s.answered.end()) return known->second;
    }
    Answer answer = importPlan(s, hit);
    if (!key.empty() && answer.status < 300) s.answered.emplace(key, answer);
    if (s.dropNext && answer.status < 300) {
      s.dropNext = false;
      return Answer::dropped();
    }
    return answer;
  });
  server.on("GET", "/plans/existing", [state = state_](const Hit& hit) {
    State& s = *state;
    if (s.checkRefusal) {
      Answer refusal = *s.checkRefusal;
      s.checkRefusal.reset();
      return refusal;
    }
    std::size_t started = 0, routes = 0;
    if (auto plan = s.plans.find(parameter(hit.query, "date")); plan != s.plans.end()) {
      routes = plan->second.size();
      for (const Route& r : plan->second) started += r.started;
    }
    Answer answer = Answer::json(JSONValue::object({{"routes", static_cast<double>(routes)},
                                                    {"started", static_cast<double>(started)},
                                                    {"hasActivity", started > 0}}));
    if (s.holdChecks) answer.held();
    return answer;
  });
}

std::vector<FakePlans::Route> FakePlans::routes(const std::string& date) const {
  auto plan = state_->plans.find(date);
  return plan == state_->plans.end() ? std::vector<Route>{} : plan->second;
}

std::vector<std::string> FakePlans::dates() const {
  std::vector<std::string> out;
  for (const auto& [date, routes] : state_->plans) out.push_back(date);
  return out;
}

std::size_t FakePlans::imports() const { return state_->imports; }

void FakePlans::markStarted(const std::string& date, const std::string& externalRouteId) {
  for (Route& r : state_->plans[date])
    if (r.route["externalRouteId"].string() == externalRouteId) r.started = true;
}

void FakePlans::dropNextAnswer() { state_->dropNext = true; }

void FakePlans::refuseNextCheck(int status, std::string message) {
  state_->checkRefusal = Answer::error(status, message);
}

void FakePlans::holdChecks(bool hold) { state_->holdChecks = hold; }

}  // namespace dorvik::testing
