// The record editor's decisions, free of state: the working copy of a new record, what the page-specific parts of
// the form show, the checks and the body a save sends, the zone list a save or delete writes back, and the record's
// path on the server.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "admin/logic/catalogue.h"
#include "core/base/map_point.h"
#include "core/json/json_value.h"
#include "map/map_pin.h"
#include "model/panel_page.h"

namespace dorvik::admin {

// The working copy of a new record on every page: {"role": "courier", "isActive": true, "requiresAck": true}.
JSONValue newRecord();

// The editor's heading: "Добавить · <page title>" for a new record, "Изменить · <page title>" otherwise.
std::string editorHeading(PanelPage page, bool isNew);

// Couriers: the role picker shows unless the listed record is an administrator's.
bool showsRolePicker(PanelPage page, const JSONValue& record);
// The picker's options in order, and which one the working copy's role selects (none for another code).
inline constexpr const char* kRoleTitles[] = {"Курьер", "Логист"};
inline constexpr const char* kRoleCodes[] = {"courier", "logist"};
std::optional<std::size_t> roleChoice(const JSONValue& value);

// Clients: the phone numbers as one text ("a, b"), and the text split back into the array sent.
std::string phonesText(const JSONValue& value);
JSONArray phonesArray(std::string_view text);
// The fields of a client's address row.
std::span<const FieldSpec> clientAddressFields();
// The row "Добавить адрес" appends: primary when the list was empty.
JSONValue newClientAddress(bool first);
// The rows as sent: coordinates read as numbers (empty ones null), every other member unchanged. Throws
// DorvikError "Проверьте координаты адресов." or "Введите корректную пару координат." for the first bad row.
JSONArray checkedClientAddresses(const std::vector<JSONValue>& rows);

// Zones: the valid [lat, lon] pairs of the working copy's "points", in order; the pins of the vertices; the
// vertices as sent.
std::vector<MapPoint> polygonOf(const JSONValue& value);
std::vector<MapPin> vertexPins(const std::vector<MapPoint>& polygon);
JSONArray pointsOf(const std::vector<MapPoint>& polygon);
std::string vertexCountText(std::size_t vertices);

// Documents: the attachment's name shown (the chosen file's, else the stored file's).
std::string attachmentName(const JSONValue& attachment, const JSONValue& record);
// An attachment object of a chosen file: {"name", "mime", "dataBase64"}.
JSONValue attachmentOf(const std::string& path);

// Everything a save reads.
struct EditorInput {
  PanelPage page = PanelPage::clients;
  JSONValue record;  // null for a new record
  JSONValue value;   // the working copy
  std::span<const FieldSpec> fields;
  std::string phones;
  std::vector<JSONValue> clientAddresses;
  std::vector<MapPoint> polygon;
  JSONValue attachment;  // null when no file was chosen
  bool removeAttachment = false;
};
// The body of a save, after the page's checks in order; throws DorvikError (status 0) with the first failure's
// message.
JSONValue saveBody(const EditorInput& input);

// The coordinates of an address record, when both are numbers within range.
std::optional<MapPoint> addressPoint(const JSONValue& body);

// Where a listed record stood: the list as the screen read it, and the record's position in it.
struct ListedRecord {
  JSONArray list;
  std::size_t position = 0;
};

// Zones are stored as one list that is read and written back whole, and several zones may share a name. The edited
// zone is the one whose "id" equals the record's where the server gives ids, else the one at the position it was
// listed at; a write is refused ("Список геозон на сервере изменился. Обновите список и повторите.") when the list
// the server holds now is not the one the screen read, or the zone is no longer in it. Without a listed position
// (an editor opened on a record alone) the first zone equal to the record is the edited one.
inline constexpr const char* kZonesChanged = "Список геозон на сервере изменился. Обновите список и повторите.";
// The zone list written back after saving `body`: the server's list without the edited zone, the saved zone last.
// An edited zone keeps the members the server holds that the form does not show.
JSONArray zonesAfterSave(const JSONValue& answer, const JSONValue& record, const JSONValue& body,
                         const std::optional<ListedRecord>& listed = std::nullopt);
// The zone list without the edited zone.
JSONArray zonesAfterDelete(const JSONValue& answer, const JSONValue& record,
                           const std::optional<ListedRecord>& listed = std::nullopt);

// After a create whose answer was lost: the position of the record sent in a list read since, when it is there — a
// row that the list shown before did not hold (by "id", or whole for rows without one) and whose plain members
// (texts, numbers, yes/no) that the body also has are the ones sent. A password is never listed and is not compared.
std::optional<std::size_t> storedCreate(const JSONArray& rows, const JSONValue& body,
                                        const std::optional<ListedRecord>& shownBefore);

// The record's own path: the endpoint, "/" and the record's "id" through the one id encoder (letters, marks and
// digits stay; everything else, a hyphen included, is percent-encoded).
std::string recordPath(std::string_view endpoint, const JSONValue& record);

// A lookup may still write its coordinates: the row is there, its address and coordinates unchanged.
bool lookupApplies(const std::vector<JSONValue>& rows, std::size_t index, std::string_view address,
                   const JSONValue& lat, const JSONValue& lon);

}  // namespace dorvik::admin
