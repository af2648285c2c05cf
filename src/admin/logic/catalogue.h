// The data screens' catalogue: for each panel page, the server list it shows (endpoint and collection), the
// table's columns, the record editor's fields and whether records may be added and changed; beside it, the
// per-page behaviour of the screen and the editor (dated pages, the detail sheet, the toolbar's extra action,
// the save strategy, deletion and the add and busy rules). Constant data and pure functions.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "model/panel_page.h"
#include "shell/toolkit/display.h"
#include "shell/toolkit/form.h"

namespace dorvik::admin {

// One page's description. The columns and fields are the catalogue's own constant lists.
struct DataScreen {
  std::string endpoint;    // path and query of the list request
  std::string collection;  // member of the answer holding the rows
  std::span<const DataColumn> columns;
  std::span<const FieldSpec> fields;
  bool writable = false;

  // The page's description for a working day ("yyyy-MM-dd", inserted into dated endpoints as it is). Pages
  // without an entry of their own get the default one ("/integrations/settings", nothing to show).
  static DataScreen configuration(PanelPage page, std::string_view day);
};

// Per-page behaviour ------------------------------------------------------------------------------------------

// The list depends on the day: the screen shows a date picker.
bool isDated(PanelPage page);

// What opens for a record's details.
enum class DetailKind { routeDetail, routeTrack, courierFiles, documentDetails, readable };
DetailKind detailKind(PanelPage page);

// Double click or Return on a row opens the editor (writable pages but documents), else the details.
bool activationEdits(PanelPage page);

// The toolbar's button acting on the one selected record: "Файлы курьера" (couriers) and "Ознакомление"
// (documents); none on other pages.
struct SelectionAction {
  const char* title;
  const char* symbol;
};
std::optional<SelectionAction> selectionAction(PanelPage page);

// The courier accounts, documents and companies are kept by the server's administration endpoints ("/admin/…",
// "/staff/…"), which take changes only from an administrator: for a logist their write controls are disabled and
// say why. The other pages (clients, zones, the local address memory) are the logist's own work.
bool mayWrite(PanelPage page, std::string_view role);
inline constexpr const char* kAdministratorsOnly = "Это действие доступно только администратору.";

// "Добавить" is enabled: the address memory works offline, and the demo shows the editor (whose save is busy).
bool canAdd(PanelPage page, bool offline, bool preview);

// How the editor stores a record.
enum class SaveStrategy {
  request,        // POST to the endpoint (new) or PATCH of endpoint/id
  zoneList,       // the whole zone list read and written back
  addressMemory,  // the local address memory, synchronised by the model
};
SaveStrategy saveStrategy(PanelPage page);

// The editor offers deletion of existing records (not of addresses or companies).
bool deletable(PanelPage page);

// The editor's save button is busy: while saving, in the demo, and without a server to write to (but for the
// address memory, which needs none).
bool editorBusy(PanelPage page, bool saving, bool preview, bool canWriteServer);

}  // namespace dorvik::admin
