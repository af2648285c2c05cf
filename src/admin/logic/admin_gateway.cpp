#include "admin/logic/admin_gateway.h"

#include "admin/logic/catalogue.h"
#include "core/api/api_client.h"
#include "core/api/failure.h"
#include "model/app_model.h"

namespace dorvik::admin {

namespace {
// A coroutine of its own, so that the client it holds does not depend on the lambda that started it.
async::Task<std::optional<std::string>> download(std::shared_ptr<APIClient> api, std::string path) {
  if (!api) co_return std::nullopt;
  co_return co_await api->download(std::move(path));
}
}  // namespace

AdminGateway modelGateway(const std::shared_ptr<AppModel>& model) {
  AdminGateway gateway;
  gateway.fetch = [model](std::string path, std::string method, std::optional<JSONValue> body) {
    return model->fetch(std::move(path), std::move(method), std::move(body));
  };
  gateway.generation = [model] { return model->generation(); };
  gateway.offline = [model] { return model->offline(); };
  gateway.preview = [model] { return model->preview(); };
  gateway.canWriteServer = [model] { return model->canWriteServer(); };
  gateway.role = [model] { return model->user()["role"].string(); };
  gateway.exportRows = [model](JSONArray rows, std::string name, std::string fileName) {
    return model->exportRows(std::move(rows), std::move(name), std::move(fileName));
  };
  gateway.refreshReferenceData = [model] { return model->refreshReferenceData(); };
  gateway.rememberAddress = [model](std::string address, double lat, double lon) {
    return model->remember(std::move(address), lat, lon, "manual", "", true, true);
  };
  gateway.lookup = [model](std::string address) { return model->lookup(std::move(address), false); };
  gateway.download = [model](std::string path) { return download(model->api(), std::move(path)); };
  gateway.saveFile = [model](std::string bytes, std::string name) {
    model->saveFile(std::move(bytes), std::move(name));
  };
  return gateway;
}

bool mayWrite(const AdminGateway& gateway, PanelPage page) {
  return mayWrite(page, gateway.role ? gateway.role() : std::string());
}

ScreenSource screenSource(const AdminGateway& gateway) { return ScreenSource{gateway.generation, gateway.fetch}; }

}  // namespace dorvik::admin

namespace dorvik::admin {

async::Task<void> offerDownload(AdminGateway gateway, std::string path, std::function<std::string()> name,
                                std::shared_ptr<ScreenData> issueTo) {
  const std::string generation = gateway.generation();
  std::optional<std::string> bytes;
  std::exception_ptr failure;
  try {
    bytes = co_await gateway.download(std::move(path));
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    if (std::optional<std::string> text = failureText(failure)) issueTo->setIssue(std::move(*text));
    co_return;
  }
  if (!bytes || gateway.generation() != generation) co_return;
  gateway.saveFile(std::move(*bytes), name());
}

}  // namespace dorvik::admin
