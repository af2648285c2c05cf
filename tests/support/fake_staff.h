// StaffDesk: the server side of the superadmin's staff pages on a StandInServer — the companies, each company's
// access accounts and depots with their writes, and password resets. Only the superadmin may read or write any of
// it; an administrator or a logist is refused. Sign-in knows the three fixed users ("superadmin", "admin",
// "logist") and every account created here with its current password. Every hit stays in the server's log as usual.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/api/api_client.h"
#include "core/json/json_value.h"
#include "support/stand_in_server.h"

namespace dorvik::testing {

class StaffDesk {
 public:
  explicit StaffDesk(StandInServer& server);

  // A client signed in on the server as one of the fixed users (or as an account with its password); the user
  // object a fixed user was given.
  std::shared_ptr<APIClient> signIn(const std::string& login, const std::string& password = "");
  static JSONValue user(const std::string& role);

  // The server's records, each an array of objects; accounts and depots carry their "companyId".
  JSONValue& companies() { return companies_; }
  JSONValue& people() { return people_; }
  JSONValue& depots() { return depots_; }
  // The current password of an account (none for an unknown id).
  std::optional<std::string> password(const std::string& personId) const;

  static constexpr const char* kForbidden = "Доступно только суперадминистратору.";

 private:
  std::optional<Answer> gate(const Hit& hit);
  JSONValue listOf(const JSONValue& rows, const Hit& hit) const;

  StandInServer& server_;
  JSONValue companies_ = JSONValue(JSONArray{});
  JSONValue people_ = JSONValue(JSONArray{});
  JSONValue depots_ = JSONValue(JSONArray{});
  std::map<std::string, std::string> passwords_;  // account id -> password
  int next_ = 1;
};

}  // namespace dorvik::testing
