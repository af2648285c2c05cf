#include "support/fake_integrations.h"

namespace dorvik::testing {

namespace {

constexpr const char* kKeys[] = {"dadataToken", "routingKey", "mapKey"};

// What the server shows of a stored key: its first and last two characters (bytes suffice for the ASCII keys of
// the tests).
std::string masked(const std::string& key) {
  if (key.size() <= 4) return "…";
  return key.substr(0, 2) + "…" + key.substr(key.size() - 2);
}

}  // namespace

IntegrationsDesk::IntegrationsDesk(StandInServer& server) : server_(server) {
  settings_ = JSONValue::object({{"geocoder", "auto"}, {"styleId", ""}, {"isDemo", false}});
  server_.on("GET", "/integrations/settings", [this](const Hit& hit) {
    if (auto refused = gate(hit)) return *refused;
    return Answer::json(document());
  });
  server_.on("PATCH", "/integrations/settings", [this](const Hit& hit) {
    if (auto refused = gate(hit)) return *refused;
    const JSONValue changes = hit.json();
    if (!changes.isObject()) return Answer::error(400, "Нужен объект настроек.");
    for (const auto& [member, value] : changes.object()) {
      if (member == "dadataToken" || member == "routingKey" || member == "mapKey") {
        if (value.isNull()) {
          keys_.erase(member);
        } else if (value.isString()) {
          keys_[member] = value.string();
        } else {
          return Answer::error(400, "Ключ должен быть строкой.");
        }
      } else if (member == "geocoder" || member == "styleId" || member == "isDemo") {
        settings_.set(member, value.isNull() && member == "isDemo" ? JSONValue(false) : value);
      } else {
        return Answer::error(400, "Неизвестная настройка: " + member);
      }
    }
    return Answer::json(document());
  });
  server_.on("POST", "/integrations/2gis/test", [this](const Hit& hit) {
    if (auto refused = gate(hit)) return *refused;
    const JSONValue body = hit.json();
    const std::string tried = body["routingKey"].isString() ? body["routingKey"].string() : key("routingKey");
    if (tried.empty()) return Answer::error(400, kNoKey);
    if (tried != workingKey_) return Answer::error(400, kRefusedKey);
    return Answer::json(JSONValue::object({{"ok", true}}));
  });
}

std::string IntegrationsDesk::key(const std::string& member) const {
  auto found = keys_.find(member);
  return found == keys_.end() ? std::string() : found->second;
}

JSONValue IntegrationsDesk::document() const {
  JSONValue out = settings_;
  for (const char* member : kKeys) {
    const std::string stored = key(member);
    out.set(member, stored.empty() ? JSONValue::object({{"configured", false}})
                                   : JSONValue::object({{"configured", true}, {"masked", masked(stored)}}));
  }
  return out;
}

void IntegrationsDesk::failNext(const std::string& method, const std::string& path, int status,
                                const std::string& message) {
  failures_[method + " " + path].push_back(Answer::error(status, message));
}

std::optional<Answer> IntegrationsDesk::gate(const Hit& hit) {
  auto queued = failures_.find(hit.method + " " + hit.path);
  if (queued != failures_.end() && !queued->second.empty()) {
    Answer failure = queued->second.front();
    queued->second.pop_front();
    return failure;
  }
  if (hit.header("Authorization").rfind("Bearer token-", 0) != 0)
    return Answer::error(401, "Войдите в учётную запись.");
  // The settings are changed only by an administrator; a logist reads them and tests the routing key.
  if (hit.method == "PATCH" && hit.header("Authorization") != "Bearer token-admin")
    return Answer::error(403, "Это действие доступно только администратору.");
  return std::nullopt;
}

}  // namespace dorvik::testing
