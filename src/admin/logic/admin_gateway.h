// What the data screens and the record editor use of the application model: the server gateway, the workspace
// state that gates writes, and the few workflows they start. The application hands the model's own; tests hand
// stand-ins that record the calls and finish them in any order.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/async/task.h"
#include "core/json/json_value.h"

namespace dorvik {
class AppModel;
}

namespace dorvik::admin {

struct AdminGateway {
  std::function<async::Task<JSONValue>(std::string path, std::string method, std::optional<JSONValue> body)> fetch;
  std::function<std::string()> generation;
  std::function<bool()> offline;
  std::function<bool()> preview;
  std::function<bool()> canWriteServer;
  // A one-sheet workbook of `rows` (the header first) named `name`, offered for saving as `fileName`.
  std::function<async::Task<void>(JSONArray rows, std::string name, std::string fileName)> exportRows;
  std::function<async::Task<void>()> refreshReferenceData;
  // A hand-corrected address into the local address memory, saved and synchronised by the model.
  std::function<async::Task<void>(std::string address, double lat, double lon)> rememberAddress;
  std::function<async::Task<JSONValue>(std::string address)> lookup;
};

AdminGateway modelGateway(const std::shared_ptr<AppModel>& model);

}  // namespace dorvik::admin
