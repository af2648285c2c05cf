#include "planning/logic/order_details.h"

#include <glib.h>

#include <cmath>

#include "core/base/map_point.h"
#include "planning/logic/order_rows.h"
#include "shell/toolkit/display.h"

namespace dorvik::planning {

namespace {

std::string sixDecimals(double value) {
  char text[G_ASCII_DTOSTR_BUF_SIZE];
  return g_ascii_formatd(text, sizeof text, "%.6f", value);
}

std::string member(const JSONValue& order, const char* key) { return order[key].string(); }

}  // namespace

std::optional<JSONValue> inspectedOrder(const JSONValue& planner, const std::set<std::string>& selected) {
  if (selected.empty()) return std::nullopt;
  for (const JSONValue& order : planner["orders"].array()) {
    if (selected.count(orderID(order))) return order;
  }
  return std::nullopt;
}

std::string sourceLabel(std::string_view source) {
  if (source == "manual") return "Исправлено вручную";
  if (source == "osm") return "OpenStreetMap";
  if (source == "dadata") return "DaData";
  if (source == "saved") return "Справочник склада";
  if (source == "file") return "Из файла";
  return "Координаты не подтверждены";
}

InspectorText inspectorText(const JSONValue& order) {
  InspectorText text;
  text.heading = member(order, "title");
  if (text.heading.empty()) text.heading = "Заказ " + member(order, "id");
  text.address = member(order, "address");
  text.number = member(order, "id");
  text.window = member(order, "window");
  text.courier = member(order, "_drv");
  text.arrival = arrivalText(order);
  text.phone = member(order, "phone");
  text.comments = member(order, "comments");
  if (const std::optional<MapPoint> point = MapPoint::from(order)) {
    text.coordinates = sixDecimals(point->lat) + ", " + sixDecimals(point->lon);
  } else {
    text.coordinates = "Нужно уточнить";
  }
  text.source = sourceLabel(order["source"].stringView());
  return text;
}

const std::vector<WindowsColumn>& windowsColumns() {
  static const std::vector<WindowsColumn> columns{
      {"Заказ", recordTextCell("id"), 70, false, false, 1},
      {"Клиент", recordTextCell("title"), 130, false, false, 1},
      {"Курьер", recordTextCell("_drv"), 110, false, false, 1},
      {"Окно доставки", recordTextCell("window"), 120, true, true, 1},
      {"Прибытие", [](const Record& row) { return arrivalText(row.value); }, 90, true, true, 1},
      {"Обслуживание, сек", recordCell("serviceS", display), 140, true, false, 1},
      {"Адрес", recordTextCell("address"), 200, false, false, 2},
  };
  return columns;
}

}  // namespace dorvik::planning
