// The monitoring side of the company's server on a stand-in: the plan import turns a published plan into the
// day's routes, and the monitoring endpoints serve and change them (routes of a day, one route, couriers, the
// four route operations, photos and their bytes, the GPS track, the nearest routes, moving and adding points).
// Any request can be made to fail on demand; every request stays in the server's log.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/json/json_value.h"
#include "support/stand_in_server.h"

namespace dorvik::testing {

// One of the desk's couriers has a name far longer than a picker is wide.
inline constexpr const char* kLongCourierName = "Константин Константинопольский-Преображенский (резерв, вечерняя смена)";

class MonitoringDesk {
 public:
  explicit MonitoringDesk(StandInServer& server);

  // A route of `day` made directly (the monitoring form: routeId, externalRouteId, status, courier, points).
  void seedRoute(const std::string& day, JSONValue route);
  // The route as the server holds it now (null when unknown).
  JSONValue route(const std::string& routeID) const;
  std::vector<std::string> routeIDs() const;
  // The day of a route ("" when unknown).
  std::string dayOf(const std::string& routeID) const;

  // The next request of `method` to `path` (decoded, without query) gets `answer` instead.
  void failNext(const std::string& method, const std::string& path, Answer answer);

  // The photo ids of a route: a PNG picture, and "broken" answers bytes that are no image.
  static constexpr const char* kPicture = "photo-picture-1";
  static constexpr const char* kNotAnImage = "photo-broken-2";

 private:
  struct State;
  void installRoute(const std::string& routeID);
  StandInServer& server_;
  std::shared_ptr<State> state_;
};

}  // namespace dorvik::testing
