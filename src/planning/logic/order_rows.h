// The order table's decisions: which orders a search shows, what the computed cells read, what the context menu
// offers for a set of orders, and the positions the plan changes receive for them. Orders are the objects of the
// plan's "orders" array; on screen they are identified by their "_nativeID".
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/json/json_value.h"

namespace dorvik::planning {

// The identity of an order on screen: the text of its "_nativeID" (empty when it has none).
std::string orderID(const JSONValue& order);
// An order as a table row: the order object with its identity as the fallback identity.
Record orderRecord(const JSONValue& order);

// The search over one list of orders. A query shows an order when its address or its client contains the query
// regardless of letter case (composed and decomposed letters alike), or when its number contains the query
// exactly as typed. The empty query shows every order; the query is not trimmed.
class OrderSearch {
 public:
  OrderSearch() = default;
  // `orders`: the plan's "orders" value (anything but an array holds no orders).
  explicit OrderSearch(JSONValue orders);

  // Positions (in plan order) of the orders the query shows.
  std::vector<std::size_t> matches(std::string_view query) const;
  // The orders the query shows, as rows.
  std::vector<Record> rows(std::string_view query) const;

 private:
  struct Keys {
    std::string address;  // folded
    std::string title;    // folded
    std::string number;   // canonical, case kept
  };
  void index() const;
  JSONValue orders_;
  mutable std::vector<Keys> keys_;
  mutable bool indexed_ = false;
};

// The "Прибытие" cell: the planned arrival ("_arr", minutes) as hours and minutes, "—" when there is none.
std::string arrivalText(const JSONValue& order);

// The "Адрес найден" cell. An order has coordinates by the one rule of the map's pins (MapPoint): both "lat" and
// "lon" read as finite numbers within range; anything else still has to be found.
struct FoundCell {
  std::string text;      // "Уточнить", "Вручную" or "Да"
  std::string symbol;    // "exclamationmark.circle" or "checkmark.circle"
  bool warning = false;  // orange when the address still has to be found
};
FoundCell foundCell(const JSONValue& order);

// The orders a context menu acts on: the selection when the clicked row belongs to it, else the clicked row, and
// nothing when the click missed every row.
std::set<std::string> menuTargets(const std::set<std::string>& selection, const std::optional<std::string>& clicked);

// The row of `rows` whose identity is the first of `ids` (in the set's order), if shown.
std::optional<Record> firstShownRow(const std::set<std::string>& ids, const std::vector<Record>& rows);

// The context menu for a set of orders.
struct OrderMenu {
  std::optional<Record> target;  // "Изменить заказ" and "Найти координаты" act on it; none: both absent
  bool canDelete = false;             // "Удалить выбранные заказы"
  bool canAssign = false;             // the submenu "Назначить курьеру"
  std::vector<std::string> couriers;  // its items before "Снять с маршрута": each vehicle's "ref", in order
};
OrderMenu orderMenu(const std::set<std::string>& ids, const std::vector<Record>& rows, const JSONValue& planner,
                    bool busy, bool geocoding);

// The positions in `orderIDs` of the given orders, in the set's order; orders no longer in the plan are left out.
JSONArray orderPositions(const std::set<std::string>& ids, const std::vector<std::string>& orderIDs);

}  // namespace dorvik::planning
