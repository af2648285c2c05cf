// The routes tab of the planner screen, without widgets: which route the detail shows, what the route list and the
// stop rows read, and the plan changes a drag of a stop and the "Назначить" menu send to the planner component.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/async/task.h"
#include "core/json/json_value.h"
#include "model/app_model.h"

namespace dorvik::planning {

// The route the detail shows: the one whose identity is `selection`, else the first; none without routes.
std::optional<Record> currentRoute(const std::vector<Record>& routes, const std::optional<std::string>& selection);

// One row of the route list.
struct RouteRowText {
  std::string courier;  // "vehicle.ref"
  std::string summary;  // "<orders> заказов · <km> км"
  std::string finish;   // "Финиш <end> · опоздание <over> мин"
};
RouteRowText routeRowText(const Record& route);

// The detail's header.
struct RouteHeaderText {
  std::string courier;  // "vehicle.ref"
  std::string shift;    // "Смена: <vehicle.shift>"
};
RouteHeaderText routeHeaderText(const Record& route);
inline constexpr const char* kRoutesHint =
    "Перетащите строки для изменения порядка. Назначение другому курьеру доступно в меню заказа.";

// One stop row; an empty row when the stop's order position lies outside the plan.
struct StopRowText {
  bool shown = false;
  std::string arrival;  // the stop's "arr" as hours and minutes
  std::string title;
  std::string address;
  std::string detail;  // "Окно <window> · ожидание <wait> мин · опоздание <late> мин"
  bool late = false;   // the detail line is orange
};
StopRowText stopRowText(const JSONValue& stop, const JSONValue& planner);

// "Назначить": one item per vehicle of the plan (its "ref"), then "Снять с маршрута".
std::vector<std::string> assignItems(const JSONValue& planner);
inline constexpr const char* kUnassignItem = "Снять с маршрута";

// The payload of "assign" for one stop: {"indices": [the stop's "index" as it stands], "vehicle": vehicle}
// (-1 takes the order off its route).
JSONValue assignPayload(const JSONValue& stop, std::int64_t vehicle);

// The order of `orders` after moving the elements at `sources` to the insertion offset `destination` (offsets of
// the list before the move, as a list's drag reports them); none when any offset lies outside the list.
std::optional<JSONArray> movedByOffsets(const JSONArray& orders, const std::vector<std::size_t>& sources,
                                        std::size_t destination);
// The payload of "reorder" for a drag within the stop list of `route`: {"vehicle": its "ci" as it stands (null when
// missing), "indices": its "orders" moved}. None when the route's orders and stops differ in length or an offset
// lies outside them: the offsets of the stop list would then move the wrong orders.
std::optional<JSONValue> reorderPayload(const Record& route, const std::vector<std::size_t>& sources,
                                        std::size_t destination);

// The tab's state and its two plan changes. Main thread only; the changes keep the model, never the tab.
class RoutesTab {
 public:
  using Mutate = std::function<async::Task<bool>(std::string action, JSONValue payload)>;
  RoutesTab(std::shared_ptr<AppModel> model, Mutate mutate) : model_(std::move(model)), mutate_(std::move(mutate)) {}

  const std::optional<std::string>& selection() const { return selection_; }
  void select(std::optional<std::string> id) { selection_ = std::move(id); }
  // The tab comes back into view: no route chosen, the first one shown.
  void shownAgain() { selection_.reset(); }
  std::optional<Record> current() const { return currentRoute(model_->routes(), selection_); }
  // The stop list takes drags and menus.
  bool stopsEnabled() const { return !model_->busy() && !model_->geocoding(); }

  // A stop dragged from `source` to the insertion offset `destination` of the current route's stop list.
  // False when nothing was sent.
  bool move(std::size_t source, std::size_t destination);
  // A vehicle of the "Назначить" menu of a stop (-1: "Снять с маршрута").
  void assign(const JSONValue& stop, std::int64_t vehicle);

 private:
  std::shared_ptr<AppModel> model_;
  Mutate mutate_;
  std::optional<std::string> selection_;
};

}  // namespace dorvik::planning
