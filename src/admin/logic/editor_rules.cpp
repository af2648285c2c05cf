#include "admin/logic/editor_rules.h"

#include <cmath>

#include "admin/logic/upload_files.h"
#include "core/api/path_encoding.h"
#include "core/base/base64.h"
#include "core/base/errors.h"
#include "core/base/text.h"
#include "shell/toolkit/form.h"

namespace dorvik::admin {

namespace {

const char* const kCheckCoordinates = "Проверьте координаты адресов.";
const char* const kCoordinatePair = "Введите корректную пару координат.";
const char* const kShortPassword = "Пароль должен содержать минимум 8 символов.";
const char* const kFewVertices = "У зоны должно быть минимум три вершины.";
const char* const kFileTooLarge = "Файл должен быть не больше 8 МБ.";

// A coordinate of a client address row: null when its text is empty, else the number it reads as.
JSONValue coordinate(const JSONValue& value) {
  if (value.string().empty()) return JSONValue();
  std::optional<double> number = value.doubleValue();
  if (!number || !std::isfinite(*number)) throw DorvikError(kCheckCoordinates);
  return *number;
}

}  // namespace

JSONValue newRecord() { return JSONValue::object({{"role", "courier"}, {"isActive", true}, {"requiresAck", true}}); }

std::string editorHeading(PanelPage page, bool isNew) {
  return std::string(isNew ? "Добавить · " : "Изменить · ") + std::string(title(page));
}

bool showsRolePicker(PanelPage page, const JSONValue& record) {
  return page == PanelPage::vehicles && record["role"].string() != "admin";
}

std::optional<std::size_t> roleChoice(const JSONValue& value) {
  const std::string role = value["role"].string();
  for (std::size_t i = 0; i < std::size(kRoleCodes); ++i)
    if (role == kRoleCodes[i]) return i;
  return std::nullopt;
}

std::string phonesText(const JSONValue& value) {
  std::string text;
  bool first = true;
  for (const JSONValue& phone : value["phones"].array()) {
    if (!first) text += ", ";
    first = false;
    text += phone.string();
  }
  return text;
}

JSONArray phonesArray(std::string_view text) {
  JSONArray phones;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    std::string_view piece = text.substr(start, comma - start);
    while (!piece.empty() && (piece.front() == ' ' || piece.front() == '\t')) piece.remove_prefix(1);
    while (!piece.empty() && (piece.back() == ' ' || piece.back() == '\t')) piece.remove_suffix(1);
    if (!piece.empty()) phones.emplace_back(std::string(piece));
    start = comma + 1;
  }
  return phones;
}

std::span<const FieldSpec> clientAddressFields() {
  using Kind = FieldSpec::Kind;
  static const std::vector<FieldSpec> fields{
      {"label", "Метка", Kind::text, false},         {"address", "Адрес", Kind::text, true},
      {"lat", "Широта", Kind::number, false},        {"lon", "Долгота", Kind::number, false},
      {"comment", "Комментарий", Kind::text, false}, {"isPrimary", "Основной", Kind::toggle, false},
  };
  return fields;
}

JSONValue newClientAddress(bool first) { return JSONValue::object({{"address", ""}, {"isPrimary", first}}); }

JSONArray checkedClientAddresses(const std::vector<JSONValue>& rows) {
  JSONArray out;
  out.reserve(rows.size());
  for (const JSONValue& row : rows) {
    JSONValue lat = coordinate(row["lat"]);
    JSONValue lon = coordinate(row["lon"]);
    if (lat.isNull() != lon.isNull()) throw DorvikError(kCoordinatePair);
    if (!lat.isNull() && (std::fabs(*lat.doubleValue()) > 90 || std::fabs(*lon.doubleValue()) > 180))
      throw DorvikError(kCoordinatePair);
    JSONValue checked = row;
    checked.set("lat", std::move(lat));
    checked.set("lon", std::move(lon));
    out.push_back(std::move(checked));
  }
  return out;
}

std::vector<MapPoint> polygonOf(const JSONValue& value) {
  std::vector<MapPoint> polygon;
  for (const JSONValue& pair : value["points"].array()) {
    if (!pair.isArray() || pair.size() != 2) continue;
    std::optional<MapPoint> point = MapPoint::from(JSONValue::object({{"lat", pair.at(0)}, {"lon", pair.at(1)}}));
    if (point) polygon.push_back(*point);
  }
  return polygon;
}

std::vector<MapPin> vertexPins(const std::vector<MapPoint>& polygon) {
  std::vector<MapPin> pins;
  pins.reserve(polygon.size());
  for (std::size_t i = 0; i < polygon.size(); ++i) {
    const std::string number = std::to_string(i + 1);
    pins.emplace_back(std::to_string(i), "Вершина " + number, number, polygon[i]);
  }
  return pins;
}

JSONArray pointsOf(const std::vector<MapPoint>& polygon) {
  JSONArray points;
  points.reserve(polygon.size());
  for (const MapPoint& point : polygon) points.push_back(JSONValue::array({point.lat, point.lon}));
  return points;
}

std::string vertexCountText(std::size_t vertices) { return "Вершин: " + std::to_string(vertices); }

std::string attachmentName(const JSONValue& attachment, const JSONValue& record) {
  std::string name = attachment["name"].string();
  return name.empty() ? record["fileName"].string() : name;
}

JSONValue attachmentOf(const std::string& path) {
  UploadFile file = readUploadFile(path, kFileTooLarge);
  return JSONValue::object(
      {{"name", std::move(file.name)}, {"mime", std::move(file.mime)}, {"dataBase64", encodeBase64(file.bytes)}});
}

JSONValue saveBody(const EditorInput& input) {
  JSONValue body = validated(input.value, std::vector<FieldSpec>(input.fields.begin(), input.fields.end()), false);
  const bool isNew = input.record.isNull();
  switch (input.page) {
    case PanelPage::vehicles:
      if (showsRolePicker(input.page, input.record)) body.set("role", input.value["role"]);
      if (isNew && characterCount(body["password"].string()) < 8) throw DorvikError(kShortPassword);
      break;
    case PanelPage::clients:
      body.set("phones", phonesArray(input.phones));
      body.set("addresses", checkedClientAddresses(input.clientAddresses));
      break;
    case PanelPage::zones:
      if (input.polygon.size() < 3) throw DorvikError(kFewVertices);
      body.set("points", pointsOf(input.polygon));
      break;
    case PanelPage::documents:
      if (!input.attachment.isNull()) {
        body.set("file", input.attachment);
      } else if (input.removeAttachment) {
        body.set("file", JSONValue());
      }
      break;
    default:
      break;
  }
  return body;
}

std::optional<MapPoint> addressPoint(const JSONValue& body) {
  std::optional<double> lat = body["lat"].doubleValue();
  std::optional<double> lon = body["lon"].doubleValue();
  if (!lat || !lon || !std::isfinite(*lat) || !std::isfinite(*lon)) return std::nullopt;
  if (std::fabs(*lat) > 90 || std::fabs(*lon) > 180) return std::nullopt;
  return MapPoint{*lat, *lon};
}

namespace {

// The position of the edited zone in the list the server holds now.
std::size_t editedZone(const JSONArray& zones, const JSONValue& record, const std::optional<ListedRecord>& listed) {
  if (listed && zones != listed->list) throw DorvikError(kZonesChanged);
  const JSONValue& id = record["id"];
  std::optional<std::size_t> found;
  if (!id.string().empty()) {
    for (std::size_t i = 0; i < zones.size() && !found; ++i)
      if (zones[i]["id"] == id) found = i;
  } else if (listed) {
    if (listed->position < zones.size() && zones[listed->position] == record) found = listed->position;
  } else {
    for (std::size_t i = 0; i < zones.size() && !found; ++i)
      if (zones[i] == record) found = i;
  }
  if (!found) throw DorvikError(kZonesChanged);
  return *found;
}

}  // namespace

JSONArray zonesAfterSave(const JSONValue& answer, const JSONValue& record, const JSONValue& body,
                         const std::optional<ListedRecord>& listed) {
  JSONArray zones = answer["zones"].array();
  JSONValue saved = body;
  if (!record.isNull()) {
    const std::size_t at = editedZone(zones, record, listed);
    // The edited zone as the server holds it, with the form's fields and the vertices over it.
    JSONValue base = std::move(zones[at]);
    zones.erase(zones.begin() + static_cast<std::ptrdiff_t>(at));
    for (const auto& [key, member] : body.object()) base.set(key, member);
    saved = std::move(base);
  }
  zones.push_back(std::move(saved));
  return zones;
}

JSONArray zonesAfterDelete(const JSONValue& answer, const JSONValue& record,
                           const std::optional<ListedRecord>& listed) {
  JSONArray zones = answer["zones"].array();
  zones.erase(zones.begin() + static_cast<std::ptrdiff_t>(editedZone(zones, record, listed)));
  return zones;
}

std::optional<std::size_t> storedCreate(const JSONArray& rows, const JSONValue& body,
                                        const std::optional<ListedRecord>& shownBefore) {
  auto shown = [&](const JSONValue& row) {
    if (!shownBefore) return false;
    const std::string id = row["id"].string();
    for (const JSONValue& before : shownBefore->list)
      if (id.empty() ? before == row : before["id"].string() == id) return true;
    return false;
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const JSONValue& row = rows[i];
    if (!row.isObject() || shown(row)) continue;
    std::size_t compared = 0;
    bool same = true;
    for (const auto& [key, sent] : body.object()) {
      const bool plain = sent.isString() || sent.isNumber() || sent.isBool();
      if (!plain || key == "password" || !row.contains(key)) continue;
      ++compared;
      if (row[key] != sent) {
        same = false;
        break;
      }
    }
    if (same && compared > 0) return i;
  }
  return std::nullopt;
}

std::string recordPath(std::string_view endpoint, const JSONValue& record) {
  return std::string(endpoint) + "/" + encodeID(record["id"].string());
}

bool lookupApplies(const std::vector<JSONValue>& rows, std::size_t index, std::string_view address,
                   const JSONValue& lat, const JSONValue& lon) {
  if (index >= rows.size()) return false;
  const JSONValue& row = rows[index];
  return row["address"].string() == address && row["lat"] == lat && row["lon"] == lon;
}

}  // namespace dorvik::admin
