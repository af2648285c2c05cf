#include "shell/toolkit/courier_settings.h"

#include "core/api/path_encoding.h"

namespace dorvik::CourierSettings {

bool hasDepot(const JSONValue& user) { return !user["depotId"].string().empty(); }

std::string path(const JSONValue& user) {
  if (!hasDepot(user)) return {};
  return "/depots/" + encodePathComponent(user["depotId"].string()) + "/settings";
}

bool canToggle(const JSONValue& loaded, bool loading, bool saving, bool canWriteServer) {
  return !loaded.isNull() && !loading && !saving && canWriteServer;
}

bool canSave(const JSONValue& loaded, bool saving, bool canWriteServer, bool photoProof) {
  return !loaded.isNull() && !saving && canWriteServer && photoProof != loaded["photoProof"].boolValue();
}

bool canRefresh(const JSONValue& user, bool loading) { return hasDepot(user) && !loading; }

JSONValue body(bool photoProof) { return JSONValue::object({{"photoProof", JSONValue(photoProof)}}); }

}  // namespace dorvik::CourierSettings
