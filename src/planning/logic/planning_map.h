// The map tab of the planner screen, without widgets: what the map surface draws of the planning day (pins, route
// lines and their colours, zones), the three map modes and their texts, and PlanningMap, the tab's own state with
// what each map interaction and button does.
//
// Every change of the plan goes through the model's workflows (MapWork). Work started here (a coordinate correction,
// a transfer, their undo) keeps the model, the window's undo stack (weakly) and plain values; the map's state is
// reached only through a weak link, so the work may outlive the tab.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/async/task.h"
#include "core/base/map_point.h"
#include "core/base/observers.h"
#include "core/json/json_value.h"
#include "map/map_bridge.h"
#include "map/map_pin.h"
#include "model/app_model.h"
#include "shell/toolkit/undo_stack.h"

namespace dorvik::planning {

enum class PlanningMapMode { view, coordinates, transfer };

// The modes in picker order, each with its on-screen label.
const std::vector<PlanningMapMode>& planningMapModes();
std::string modeLabel(PlanningMapMode mode);
// The mode whose label is exactly `label`.
std::optional<PlanningMapMode> planningMapMode(std::string_view label);

// Colours as the surface receives them.
inline constexpr const char* kUnroutedColor = "#2d3e46";
inline constexpr const char* kManualSourceColor = "#357243";
inline constexpr const char* kOtherSourceColor = "#24659B";
// The route palette entry of a route (vehicle) index: the absolute value of the truncated remainder by 6.
std::string routeColor(std::int64_t index);

// The pins: one per order with a valid point, in plan order, then the depot's (when it has a point).
std::vector<MapPin> planningPins(const JSONValue& planner, const std::set<std::string>& selected, bool qualityColors);
// One point list per route of the plan, in order: the valid points of its orders in driving order (kept empty).
// Orders are placed by the same point rule as the pins, so every pin of a route has its vertex.
std::vector<std::vector<MapPoint>> routeLines(const JSONValue& planner);
// One colour per route: the palette entry of its "ci".
std::vector<std::string> lineColors(const JSONValue& planner);
// One polygon per shown zone, in order (kept empty): its [latitude, longitude] pairs with valid points.
std::vector<std::vector<MapPoint>> zonePolygons(const std::vector<JSONValue>& zones);

// Pins may be dragged: the coordinates mode while nothing blocks.
bool mapEditing(PlanningMapMode mode, bool busy);
// Orders may go to another courier: the transfer mode of a calculated plan while nothing blocks.
bool mapTransferring(PlanningMapMode mode, bool planned, bool busy, bool geocoding);

// The line under the mode picker.
std::string mapHint(PlanningMapMode mode, bool planned);
inline constexpr const char* kMapFooter = "2ГИС · Линии показывают порядок остановок";
inline constexpr const char* kMapUndoFooter = "Ctrl+Z — отменить исправление";
// The name of a coordinate correction in the window's undo stack.
inline constexpr const char* kCoordinateUndoName = "Изменение координат";

// The workflows the map starts: the model's own, or a test's.
struct MapWork {
  std::function<async::Task<void>(std::string id, double latitude, double longitude)> correctCoordinate;
  std::function<async::Task<std::optional<JSONValue>>(std::vector<std::string> ids, std::int64_t vehicle,
                                                      std::int64_t revision)>
      transferOrders;
  std::function<async::Task<bool>(JSONValue record)> undoTransfer;
};
MapWork modelMapWork(const std::shared_ptr<AppModel>& model);

// Records one coordinate correction of order `id` (from `old` to `now`) in `stack`. Undoing it, while the workspace
// is still `generation` and the order still stands exactly at `now`, records the opposite step (the redo) and starts
// the correction back to `old` without waiting for it; otherwise it does nothing.
void registerCoordinateUndo(const std::shared_ptr<UndoStack>& stack, const std::shared_ptr<AppModel>& model,
                            const MapWork& work, const std::string& id, MapPoint old, MapPoint now,
                            const std::string& generation);

// The map tab's state. Main thread only.
class PlanningMap : public std::enable_shared_from_this<PlanningMap> {
 public:
  using Connection = Observers<int>::Connection;

  static std::shared_ptr<PlanningMap> create(std::shared_ptr<AppModel> model, MapWork work);

  // Told after any of the map's own state changed (mode, toggles, the transfer undo record).
  [[nodiscard]] Connection observe(std::function<void()> observer) {
    return observers_.observe([observer = std::move(observer)](int) { observer(); });
  }

  PlanningMapMode mode() const { return mode_; }
  void setMode(PlanningMapMode mode);
  // The tab comes back into view: it starts in view mode, so no pin moves by surprise. The view toggles and the
  // last transfer's undo record stay.
  void shownAgain() { setMode(PlanningMapMode::view); }
  bool showZones() const { return showZones_; }
  void setShowZones(bool on);
  bool qualityColors() const { return qualityColors_; }
  void setQualityColors(bool on);
  // The record of the last transfer made from this map (null when none).
  const JSONValue& transferUndo() const { return transferUndo_; }

  bool editing() const;
  bool transferring() const;
  // Everything the surface draws and accepts now.
  MapContent content() const;

  // The mode picker is usable.
  bool canPickMode() const;
  // "Выбрано: N".
  std::string selectionText() const;
  // "Назначить курьеру": enabled, and its items (each vehicle's "ref", in plan order).
  bool canAssign() const;
  std::vector<std::string> assignTitles() const;
  bool canClearSelection() const;
  bool canUndoTransfer() const;

  // An interaction the surface reported. `undo` is the window's undo stack (none: corrections are not recorded).
  void interact(const MapInteraction& interaction, const std::shared_ptr<UndoStack>& undo);
  // The item at `position` of "Назначить курьеру": the selected orders, in plan order, to that vehicle.
  void assignSelection(std::int64_t position);
  void clearSelection();
  // Starts a transfer; its undo record replaces the kept one when the model answers one.
  void transfer(std::vector<std::string> ids, std::int64_t vehicle, std::int64_t revision);
  // "Отменить перенос".
  void undoTransfer();

 private:
  PlanningMap(std::shared_ptr<AppModel> model, MapWork work) : model_(std::move(model)), work_(std::move(work)) {}
  void changed() { observers_.notify(0); }

  std::shared_ptr<AppModel> model_;
  MapWork work_;
  PlanningMapMode mode_ = PlanningMapMode::view;
  JSONValue transferUndo_;
  bool showZones_ = false;
  bool qualityColors_ = false;
  Observers<int> observers_;
};

}  // namespace dorvik::planning
