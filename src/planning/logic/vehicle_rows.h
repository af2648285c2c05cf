// The vehicles of the planning day as table rows: the planner's vehicles tab and the transport page.
#pragma once

#include <string>
#include <vector>

#include "core/json/json_value.h"

namespace dorvik::planning {

// The plan's "vehicles" as records, each with its position as fallback identity (none when not an array). Two
// equal vehicles at different positions are different rows.
std::vector<Record> vehicleRows(const JSONValue& planner);

// The "На смене" cell of the vehicles tab: a filled green check when the vehicle is on duty, else a grey circle.
struct DutyMark {
  std::string symbol;
  bool onDuty = false;
};
DutyMark dutyMark(const JSONValue& vehicle);

// A text column of a vehicle table: its title and the member it shows as text.
struct VehicleColumn {
  const char* title;
  const char* key;
};
// The vehicles tab's text columns after "На смене": "Код", "Курьер", "Смена", "Вместимость", "Зона".
const std::vector<VehicleColumn>& vehicleTabColumns();
// The transport page's text columns: "Логин / код", "Курьер", "Смена", "Мест", "Геозона".
const std::vector<VehicleColumn>& transportColumns();
// The transport page's "На смене": "Да", "Нет", or "—" when the vehicle does not say.
std::string onDutyText(const JSONValue& vehicle);

}  // namespace dorvik::planning
