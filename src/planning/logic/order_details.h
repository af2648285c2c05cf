// The order inspector and the delivery-windows tab of the planner screen, without widgets: which order the
// inspector shows and what its rows read, and the windows table's columns.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/json/json_value.h"
#include "shell/toolkit/display.h"

namespace dorvik::planning {

// The order the inspector shows: the first order of the plan (in plan order) that is selected.
std::optional<JSONValue> inspectedOrder(const JSONValue& planner, const std::set<std::string>& selected);

// Where an order's coordinates came from, by its "source" (exact match).
std::string sourceLabel(std::string_view source);

inline constexpr const char* kInspectorEmptyTitle = "Выберите заказ";
inline constexpr const char* kInspectorEmptyText = "Нажмите точку на карте или строку в таблице.";

struct InspectorText {
  std::string heading;  // the client, else "Заказ <id>"
  std::string address;
  std::string number;
  std::string window;
  std::string courier;
  std::string arrival;  // hours and minutes, "—" when not calculated
  std::string phone;
  std::string comments;     // no row when empty
  std::string coordinates;  // "%.6f, %.6f", or "Нужно уточнить"
  std::string source;
};
// The coordinates show only when latitude and longitude both read as finite numbers: a missing longitude is not
// shown as a made-up 0.
InspectorText inspectorText(const JSONValue& order);

// One column of the windows tab.
struct WindowsColumn {
  std::string title;
  CellText cell;
  int width;     // pixels: fixed, or the least width of an expanding column
  bool fixed;    // false: the column takes a share of the remaining width
  bool numeric;  // tabular digits
  int lines;     // text lines before the cell is cut
};
const std::vector<WindowsColumn>& windowsColumns();

}  // namespace dorvik::planning
