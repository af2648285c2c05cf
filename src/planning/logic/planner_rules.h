// Decisions of the planner screen's frame: the header texts, the geocoding bar, the tabs, which actions of the
// action bar are available, where the order-properties pane goes, and the inputs of the plan changes the frame
// starts. Plain functions over the planning document and the model's flags; no widgets.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json/json_value.h"

namespace dorvik {
class AppModel;
}

namespace dorvik::planning {

// The tabs of the planner screen, in order: key and title.
struct PlanTab {
  const char* key;
  const char* title;
};
const std::vector<PlanTab>& planTabs();
// The key of the tab whose content shows for `tab`: an unknown key shows the map.
std::string_view shownTab(std::string_view tab);

// The header: the plan's name, its counts and the depot button's text.
struct PlanSummary {
  std::string title;   // the file name, or "Новый рабочий день"
  std::string orders;  // "N заказов"
  std::string routes;  // "M маршрутов"
  std::string review;  // "Уточнить: K"; empty when no order lacks coordinates
  std::string depot;   // the depot's name, or "Указать склад"
};
PlanSummary planSummary(const JSONValue& planner, std::int64_t missingCoordinates);

// The bar of a running coordinate search.
struct GeocodingBar {
  double fraction = 0;   // completed of the total (a total of 0 counts as 1), at most 1
  std::string progress;  // "Проверено X из Y"
  std::string stopTitle;
  bool stopEnabled = true;
};
GeocodingBar geocodingBar(std::int64_t completed, std::int64_t total, bool stopping);

// What the action bar reads of the model.
struct PlanFacts {
  bool busy = false;
  bool geocoding = false;
  bool preview = false;
  bool offline = false;
  bool canWriteServer = false;
  bool planned = false;    // the plan's "planned", read leniently
  std::size_t orders = 0;  // orders of the plan
  std::size_t routes = 0;  // routes of the plan
};
PlanFacts planFacts(const AppModel& model);

// Which commands of the action bar are available, and the geocoding button's title. Nothing that sends the plan
// (to the couriers, or its legs to the paid routing) is offered while a workflow is changing it: the user would send
// a plan not yet seen, or one being emptied.
struct PlanActions {
  bool open = false;
  bool geocode = false;
  bool calculate = false;
  bool newPlan = false;
  bool roads = false;
  bool exportMenu = false;
  bool publish = false;
  std::string geocodeTitle;
};
PlanActions planActions(const PlanFacts& facts);

// Where the order-properties pane goes in a content area of the given width.
enum class InspectorPlace { hidden, side, overlay };
struct InspectorLayout {
  InspectorPlace place = InspectorPlace::hidden;
  int width = 0;  // of the pane
};
InspectorLayout inspectorLayout(bool shown, int areaWidth);

// The position of the first vehicle of the plan equal to `vehicle` (value and fallback identity), else -1.
std::int64_t vehicleEditorIndex(const JSONValue& planner, const Record& vehicle);

// The input of the "date" change for the model's date, or none when the plan already is on that day (the change
// would leave the plan as it is).
std::optional<JSONValue> dateChange(const JSONValue& planner, std::chrono::system_clock::time_point date);

}  // namespace dorvik::planning
