#include "planning/logic/vehicle_rows.h"

#include "shell/toolkit/display.h"

namespace dorvik::planning {

std::vector<Record> vehicleRows(const JSONValue& planner) { return JSONValue::records(planner["vehicles"].array()); }

DutyMark dutyMark(const JSONValue& vehicle) {
  const bool onDuty = vehicle["use"].boolValue();
  return DutyMark{onDuty ? "checkmark.circle.fill" : "circle", onDuty};
}

const std::vector<VehicleColumn>& vehicleTabColumns() {
  static const std::vector<VehicleColumn> columns{
      {"Код", "id"}, {"Курьер", "ref"}, {"Смена", "shift"}, {"Вместимость", "capacity"}, {"Зона", "zone"}};
  return columns;
}

const std::vector<VehicleColumn>& transportColumns() {
  static const std::vector<VehicleColumn> columns{
      {"Логин / код", "id"}, {"Курьер", "ref"}, {"Смена", "shift"}, {"Мест", "capacity"}, {"Геозона", "zone"}};
  return columns;
}

std::string onDutyText(const JSONValue& vehicle) { return display(vehicle["use"]); }

}  // namespace dorvik::planning
