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
#include "model/panel_page.h"
#include "shell/toolkit/screen_data.h"

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
  // The signed-in user's role ("admin", "superadmin", "logist"; "" when signed out).
  std::function<std::string()> role;
  // A one-sheet workbook of `rows` (the header first) named `name`, offered for saving as `fileName`.
  std::function<async::Task<void>(JSONArray rows, std::string name, std::string fileName)> exportRows;
  std::function<async::Task<void>()> refreshReferenceData;
  // A hand-corrected address into the local address memory, saved and synchronised by the model.
  std::function<async::Task<void>(std::string address, double lat, double lon)> rememberAddress;
  std::function<async::Task<JSONValue>(std::string address)> lookup;
  // The raw bytes of a stored file (GET through the signed-in client, not JSON); none without a client.
  std::function<async::Task<std::optional<std::string>>(std::string path)> download;
  // Offers bytes for saving under a suggested name (the save dialog); returns at once.
  std::function<void(std::string bytes, std::string name)> saveFile;
};

// Whether the signed-in user may change the records of `page` (the catalogue's mayWrite over the gateway's role).
bool mayWrite(const AdminGateway& gateway, PanelPage page);

// The loader source of the gateway: its generation and its fetch.
ScreenSource screenSource(const AdminGateway& gateway);

// Downloads a stored file and offers it for saving under name(), read once the bytes arrived. A failure's text goes
// to `issueTo`; without a signed-in client, or when the workspace changed meanwhile, it ends without a word.
async::Task<void> offerDownload(AdminGateway gateway, std::string path, std::function<std::string()> name,
                                std::shared_ptr<ScreenData> issueTo);

AdminGateway modelGateway(const std::shared_ptr<AppModel>& model);

}  // namespace dorvik::admin
