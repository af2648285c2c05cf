#include "planning/logic/order_rows.h"

#include <glib.h>

#include <unordered_map>
#include <utility>

#include "core/base/dorvik_date.h"
#include "core/base/map_point.h"
#include "core/base/text.h"

namespace dorvik::planning {

std::string orderID(const JSONValue& order) { return order["_nativeID"].string(); }

Record orderRecord(const JSONValue& order) { return Record(order, orderID(order)); }

OrderSearch::OrderSearch(JSONValue orders) : orders_(std::move(orders)) {}

void OrderSearch::index() const {
  if (indexed_) return;
  const JSONArray& list = orders_.array();
  keys_.clear();
  keys_.reserve(list.size());
  // Texts are read in place; other values (a number as the order number) through their text.
  auto text = [](const JSONValue& value, const auto& use) {
    return value.isString() ? use(value.stringView()) : use(value.string());
  };
  const auto fold = [](std::string_view t) { return foldedText(t); };
  const auto exact = [](std::string_view t) { return canonicalText(t); };
  for (const JSONValue& order : list)
    keys_.push_back(Keys{text(order["address"], fold), text(order["title"], fold), text(order["id"], exact)});
  indexed_ = true;
}

std::vector<std::size_t> OrderSearch::matches(std::string_view query) const {
  const std::size_t count = orders_.array().size();
  std::vector<std::size_t> shown;
  if (query.empty()) {
    shown.reserve(count);
    for (std::size_t i = 0; i < count; ++i) shown.push_back(i);
    return shown;
  }
  index();
  const std::string folded = foldedText(query);
  const std::string exact = canonicalText(query);
  for (std::size_t i = 0; i < count; ++i) {
    const Keys& k = keys_[i];
    if (k.address.find(folded) != std::string::npos || k.title.find(folded) != std::string::npos ||
        k.number.find(exact) != std::string::npos)
      shown.push_back(i);
  }
  return shown;
}

std::vector<Record> OrderSearch::rows(std::string_view query) const {
  const JSONArray& list = orders_.array();
  std::vector<Record> rows;
  const std::vector<std::size_t> shown = matches(query);
  rows.reserve(shown.size());
  for (std::size_t i : shown) rows.push_back(orderRecord(list[i]));
  return rows;
}

std::string arrivalText(const JSONValue& order) { return DorvikDate::time(order["_arr"].doubleValue()); }

FoundCell foundCell(const JSONValue& order) {
  if (!MapPoint::from(order)) return {"Уточнить", "exclamationmark.circle", true};
  if (order["source"].isString() && order["source"].stringView() == "manual")
    return {"Вручную", "checkmark.circle", false};
  return {"Да", "checkmark.circle", false};
}

std::set<std::string> menuTargets(const std::set<std::string>& selection, const std::optional<std::string>& clicked) {
  if (!clicked) return {};
  if (selection.count(*clicked)) return selection;
  return {*clicked};
}

std::optional<Record> firstShownRow(const std::set<std::string>& ids, const std::vector<Record>& rows) {
  if (ids.empty()) return std::nullopt;
  const std::string& first = *ids.begin();
  for (const Record& row : rows)
    if (orderID(row.value) == first) return row;
  return std::nullopt;
}

OrderMenu orderMenu(const std::set<std::string>& ids, const std::vector<Record>& rows, const JSONValue& planner,
                    bool busy, bool geocoding) {
  OrderMenu menu;
  menu.target = firstShownRow(ids, rows);
  menu.canDelete = !ids.empty() && !busy && !geocoding;
  menu.canAssign = planner["planned"].boolValue();
  for (const JSONValue& vehicle : planner["vehicles"].array()) menu.couriers.push_back(vehicle["ref"].string());
  return menu;
}

JSONArray orderPositions(const std::set<std::string>& ids, const std::vector<std::string>& orderIDs) {
  std::unordered_map<std::string_view, std::size_t> first;
  first.reserve(orderIDs.size());
  for (std::size_t i = 0; i < orderIDs.size(); ++i) first.emplace(orderIDs[i], i);
  JSONArray positions;
  for (const std::string& id : ids) {
    auto found = first.find(id);
    if (found != first.end()) positions.emplace_back(static_cast<double>(found->second));
  }
  return positions;
}

}  // namespace dorvik::planning
