#include "shell/toolkit/courier_settings.h"

#include "core/api/path_encoding.h"
#include "model/panel_page.h"

namespace dorvik::CourierSettings {

bool hasDepot(const JSONValue& user) { return !user["depotId"].string().empty(); }

std::string path(const JSONValue& user) {
  if (!hasDepot(user)) return {};
  return "/depots/" + encodeID(user["depotId"].string()) + "/settings";
}

bool mayChange(const JSONValue& user) { return isAdministrator(user["role"].string()); }

bool canToggle(const JSONValue& loaded, bool loading, bool saving, bool canWriteServer, const JSONValue& user) {
  return !loaded.isNull() && !loading && !saving && canWriteServer && mayChange(user);
}

bool canSave(const JSONValue& loaded, bool saving, bool canWriteServer, const JSONValue& user, bool photoProof) {
  return !loaded.isNull() && !saving && canWriteServer && mayChange(user) &&
         photoProof != loaded["photoProof"].boolValue();
}

bool canRefresh(const JSONValue& user, bool loading) { return hasDepot(user) && !loading; }

JSONValue body(bool photoProof) { return JSONValue::object({{"photoProof", JSONValue(photoProof)}}); }

}  // namespace dorvik::CourierSettings
