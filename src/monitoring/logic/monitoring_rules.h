// What the monitoring screens decide, without widgets: the day's routes filtered and searched, their pins, lines
// and metrics; the route detail's sort, pins, bodies and row texts; the photo labels; the transfer's candidates,
// suggestions and requests; the add-point form's check; and the one encoder of ids placed in a request path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/api/path_encoding.h"
#include "core/base/map_point.h"
#include "core/json/json_value.h"
#include "map/map_pin.h"
#include "shell/toolkit/form.h"

namespace dorvik::monitoring {

// ---- Paths

// Ids in paths go through the one encoder of core/api/path_encoding.h.
using dorvik::encodeID;

std::string routesPath(std::string_view day);                                   // the day's routes
std::string routePath(std::string_view routeID);                                // one route
std::string routeOperationPath(std::string_view routeID, std::string_view op);  // POST of an operation
std::string photoPath(std::string_view photoID);                                // photo bytes

// What a route sheet opened without a route (a data row without "routeId") says; it requests and changes nothing.
inline constexpr const char* kNoRouteText = "У записи нет маршрута.";

// ---- The day's routes

// The "routes" array of a routes answer as records (anything else: none).
std::vector<Record> routeRecords(const JSONValue& answer);

// Status filter ("all" or an exact status code) and search (case-folded substring of the courier's name, login
// or the route's external id; the query is not trimmed).
std::vector<Record> filterRoutes(const std::vector<Record>& routes, std::string_view status, std::string_view query);
// The routes of `filtered` shown on the map: all, or the selected one only.
std::vector<Record> shownRoutes(const std::vector<Record>& filtered, const std::optional<std::string>& selection);

// What the map draws for the shown routes, in one pass over their stops: stop pins then the GPS pin, route by
// route (stops without a valid position are left out), and one line per route of its valid stop positions (an
// empty line keeps its place).
struct RouteDrawing {
  std::vector<MapPin> pins;
  std::vector<std::vector<MapPoint>> lines;
};
RouteDrawing routeDrawing(const std::vector<Record>& shown);

struct Metrics {
  std::int64_t routes = 0;
  std::int64_t inProgress = 0;
  std::int64_t points = 0;
  std::int64_t closed = 0;
  std::int64_t problems = 0;
};
// Over all routes of the answer; sums saturate at the 64-bit range.
Metrics dayMetrics(const std::vector<Record>& routes);

// An integer with its thousands grouped by a narrow no-break space, as Russian text writes it ("12 345").
std::string groupedDigits(std::int64_t value);

// The route a clicked pin belongs to: the first of `filtered` whose id followed by ":" begins the pin's id.
std::optional<std::string> routeOfPin(const std::vector<Record>& filtered, std::string_view pinID);

// The texts of a route's row in the list.
struct RouteRowTexts {
  std::string courier;             // or "Курьер не назначен"
  std::string status;              // display of the status code
  std::string externalID;          //
  std::string counts;              // "Точки: 5 / 12 · проблемы: 1"
  std::optional<std::string> gps;  // "GPS: <at>" when the route has a location
};
RouteRowTexts routeRowTexts(const Record& route);

// The placeholder over the list: shown when nothing loads, nothing failed and nothing passes the filter.
bool showsPlaceholder(bool loading, bool hasIssue, std::size_t filteredCount);

// ---- Route detail

// The sort key of a point: "courierOrder", else "stopNumber", else 0; a non-finite number counts as absent.
double pointSortKey(const JSONValue& point);
// The route's "points", stably sorted by their keys.
std::vector<JSONValue> sortedPoints(const JSONValue& route);
// The points moved to the position before `destination` (counted before the move), the moved ones in their
// order; positions outside the list are ignored.
std::vector<JSONValue> movePoints(const std::vector<JSONValue>& points, const std::set<std::size_t>& moved,
                                  std::size_t destination);
// A row of the point list dragged to another place, from the press to the release. The list follows the pointer
// itself rather than taking drops, so only its own rows move it (text or files dragged in from elsewhere are
// nothing to it), and a drag starts as soon as the pointer lies the desktop's drag threshold from the press, however
// fast it got there.
class PointDragging {
 public:
  // The press: on the row at `position`, or on no row (nothing to drag).
  void press(std::optional<std::size_t> position);
  // The pointer lies (dx, dy) from the press: true at the motion that starts the drag.
  bool move(double dx, double dy, double threshold);
  bool dragging() const { return dragging_; }
  // The release: the positions to move, the pressed row with the whole selection when it belongs to it; nothing
  // unless a drag of a row still in the list started. The drag ends either way.
  std::set<std::size_t> release(const std::vector<JSONValue>& points, const std::set<std::string>& selected);

 private:
  std::optional<std::size_t> pressed_;
  bool dragging_ = false;
};
// The couriers the picker offers: role "courier" and not blocked, in list order.
std::vector<Record> offeredCouriers(const std::vector<Record>& couriers);
// One numbered pin per point with a valid position (numbers keep the list position, gaps included).
std::vector<MapPin> pointPins(const std::vector<JSONValue>& points, const std::set<std::string>& selected);
// {"order": [pointId as it came, null when absent]}.
JSONValue reorderBody(const std::vector<JSONValue>& points);
// {"courierId": id}.
JSONValue courierBody(const std::string& courierID);

struct OrderTexts {
  std::string heading;                // "№ 12 · Клиент · Доставлен"
  std::optional<std::string> reason;  // display of "reason" when present and not null
  std::optional<std::string> comment;
  std::string window;  // "Окно: 09:00–18:00 · Мест: 2"
  std::optional<std::string> phones;
};
struct PointTexts {
  std::string address;
  std::string clients;  // the orders' clients joined by ", "
  std::string caption;  // "<status> · план <planned> · факт <arrived>"
  std::vector<OrderTexts> orders;
};
PointTexts pointTexts(const JSONValue& point);

// The title and subtitle of the route detail.
std::string routeTitle(const JSONValue& route);
std::string routeSubtitle(const JSONValue& route);

// The label of a photo's button: its file name, or "Фото " and the first 8 characters of its id.
std::string photoLabel(const Record& photo);
// Said in the photo sheet while a photo downloads, and when its bytes are no picture the system can show (a format
// without a decoder here, or no image at all).
inline constexpr const char* kPhotoLoading = "Загружаем фото…";
inline constexpr const char* kPhotoUnreadable = "Не удалось показать фото: этот формат изображения не поддерживается.";

// ---- Track player

// The fixes of a track answer with a valid position, in order.
std::vector<JSONValue> trackPings(const JSONValue& answer);
// "<count> GPS-сигналов · <marks> отметок курьера. Это записанный путь, а не текущее положение."
std::string trackCaption(std::size_t count, const JSONValue& answer);
// The one pin at the current fix (none without fixes) and the line up to it.
std::vector<MapPin> trackPins(const std::vector<JSONValue>& pings, std::size_t index);
std::vector<MapPoint> trackLine(const std::vector<JSONValue>& pings, std::size_t index);

// ---- Transfer of points

// The day's routes a point may go to: not the route itself, not exactly "finished".
std::vector<Record> transferCandidates(const JSONValue& routesAnswer, std::string_view routeID);
// The first five nearest candidates, unfiltered.
std::vector<Record> nearestSuggestions(const JSONValue& nearestAnswer);
std::string candidateTitle(const Record& route);     // "<courier> · <external id>"
std::string suggestionDistances(const Record& row);  // "До точки: 1.2 км · GPS: — км"
// The nearest query for the first point, or none when there is no point or it has no valid position.
std::optional<std::string> nearestPath(std::string_view routeDate, const std::vector<JSONValue>& points,
                                       std::string_view routeID);
JSONValue moveBody(const std::vector<JSONValue>& points, const std::string& target);
bool transferAllowed(const std::string& target, bool saving, bool canWrite, std::size_t pointCount);

// ---- Adding a point

const std::vector<FieldSpec>& addPointFields();
JSONValue newPointValue();  // the form's starting value
// "HH:MM" of ASCII digits, 00:00 to 23:59, and nothing else.
bool isWindowTime(std::string_view text);
// The request body of the form, or DorvikError (status 0) with the first failing check's message.
JSONValue checkedPoint(const JSONValue& value);
// Stores an edited address; coordinates are cleared when the address changed.
void setPointAddress(JSONValue& value, std::string address);
// Whether a lookup answer still belongs to the form: address and coordinates as when it started.
bool lookupStillCurrent(const JSONValue& snapshot, const JSONValue& current);
// Applies a lookup answer; the message to show when it found nothing unambiguous.
std::optional<std::string> applyLookup(JSONValue& value, const JSONValue& answer);

}  // namespace dorvik::monitoring
