// The planner's readiness checks: what still stands between the plan and a good calculation, as the lines of one
// list in four sections ("Готовность плана", "Данные заказов", "Нужна проверка адреса", "Ограничения маршрутов").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/json/json_value.h"

namespace dorvik::planning {

class PlannerScreen;

struct CheckLine {
  enum class Kind {
    section,  // a section's title
    status,   // a line of the default colour, with its symbol when it has one
    note,     // explanatory text (secondary)
    review,   // an order whose address needs checking: title, address underneath; pressing it opens the order
    limit,    // a route's courier and its lateness and length
    problem,  // an order whose data needs mending: the order, the problem underneath; pressing it opens the editor
  };
  Kind kind = Kind::note;
  std::string key;     // the line's identity in the list
  std::string id;      // the order's "_nativeID" of a review or problem line
  std::string text;    // the section title, the line's text, the order's title or the route's courier
  std::string detail;  // the order's address; the route's "N мин опоздания · K км"
  std::string symbol;  // status lines

  friend bool operator==(const CheckLine&, const CheckLine&) = default;
};

// The lines of the checks over every order of the plan: the count of orders with coordinates and the review list
// (each order without them, with its address or "нет адреса") follow the one rule of the map's pins, so the list
// holds exactly the orders the count leaves out, whatever the order table's search shows. The order data
// (orderDataLines) follow the first section.
std::vector<CheckLine> checkLines(const JSONValue& planner, const std::vector<Record>& routes);

// A value of an order that the import (or an edit) could not read, as the planner component notes it on the order
// ("_unread"): the member, the column as the book titles it, the text as typed.
struct UnreadValue {
  std::string key;
  std::string column;
  std::string text;
};
std::vector<UnreadValue> unreadValues(const JSONValue& order);

// An order as the lists name it: "№1001 · Кафе", "Без номера · Кафе", or "Заказ без номера" with neither.
std::string orderLabel(const JSONValue& order);
// "«Места»: «три» — не прочитано".
std::string unreadText(const UnreadValue& value);

// The section "Данные заказов": the summary of the workbook's import, then one line per problem of an order that
// needs mending before the plan is published: no number, a number that repeats, a value that could not be read.
std::vector<CheckLine> orderDataLines(const JSONValue& planner);

// "%.0f мин опоздания · %.1f км" of a route's "over" and "km" (0 for what does not read as a number).
std::string routeLimit(const JSONValue& route);

// A number with a fixed count of decimals as printf("%.Nf") writes it in the C locale, whatever the process
// locale.
std::string fixedDecimals(double value, int decimals);

// Pressing a review line: that order alone selected, the map tab shown with the order's properties.
void reviewOrder(PlannerScreen& screen, const std::string& id);

}  // namespace dorvik::planning
