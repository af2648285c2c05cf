// IntegrationsDesk: the server side of the integrations screen on a StandInServer — the depot's settings document
// (keys kept whole, answered only as {"configured", "masked"}), its PATCH (a null key, style or flag clears it),
// the 2GIS routing key test (a PATCH only from an administrator), and failures on demand. Sign-in and the map settings come from AdminDesk on the same
// server; every request is kept in the server's hit log as usual.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>

#include "core/json/json_value.h"
#include "support/stand_in_server.h"

namespace dorvik::testing {

class IntegrationsDesk {
 public:
  explicit IntegrationsDesk(StandInServer& server);

  // The key the depot holds under "dadataToken", "routingKey" or "mapKey" ("" when none).
  std::string key(const std::string& member) const;
  void setKey(const std::string& member, std::string key) { keys_[member] = std::move(key); }
  // The other members as stored: "geocoder", "styleId", "isDemo".
  JSONValue& settings() { return settings_; }
  // The routing key the 2GIS test accepts.
  void setWorkingRoutingKey(std::string key) { workingKey_ = std::move(key); }

  // The next request of that method and path is refused with the status and message.
  void failNext(const std::string& method, const std::string& path, int status, const std::string& message);

  static constexpr const char* kRefusedKey = "2ГИС не принял ключ маршрутизации.";
  static constexpr const char* kNoKey = "Ключ маршрутизации не задан.";

 private:
  JSONValue document() const;
  std::optional<Answer> gate(const Hit& hit);

  StandInServer& server_;
  std::map<std::string, std::string> keys_;
  JSONValue settings_;
  std::string workingKey_;
  std::map<std::string, std::deque<Answer>> failures_;  // "METHOD path"
};

}  // namespace dorvik::testing
