#include "admin/logic/admin_gateway.h"

#include "model/app_model.h"

namespace dorvik::admin {

AdminGateway modelGateway(const std::shared_ptr<AppModel>& model) {
  AdminGateway gateway;
  gateway.fetch = [model](std::string path, std::string method, std::optional<JSONValue> body) {
    return model->fetch(std::move(path), std::move(method), std::move(body));
  };
  gateway.generation = [model] { return model->generation(); };
  gateway.offline = [model] { return model->offline(); };
  gateway.preview = [model] { return model->preview(); };
  gateway.canWriteServer = [model] { return model->canWriteServer(); };
  gateway.exportRows = [model](JSONArray rows, std::string name, std::string fileName) {
    return model->exportRows(std::move(rows), std::move(name), std::move(fileName));
  };
  gateway.refreshReferenceData = [model] { return model->refreshReferenceData(); };
  gateway.rememberAddress = [model](std::string address, double lat, double lon) {
    return model->remember(std::move(address), lat, lon, "manual", "", true, true);
  };
  gateway.lookup = [model](std::string address) { return model->lookup(std::move(address), false); };
  return gateway;
}

}  // namespace dorvik::admin
