// The planning parameters: key, title (the settings form and the "Параметры" sheet), default, lowest and highest
// value, and the one message for a value outside its range. The workspace settings page is built from this same
// table (cmake/planning_parameters.cmake reads it): keep the text between the two marker lines plain JSON.
const PLANNING_PARAMETERS = Object.freeze(
// planning-parameters-begin
{
  "parameters": [
    { "key": "CITY_KMH", "title": "Средняя скорость, км/ч", "default": 25, "low": 1, "high": 200 },
    { "key": "ROAD_FACTOR", "title": "Коэффициент дорог", "default": 1.3, "low": 1, "high": 5 },
    { "key": "SERVICE_MIN", "title": "Обслуживание точки, минут", "default": 10, "low": 0, "high": 240 },
    { "key": "LATE_TOL_MIN", "title": "Допуск опоздания, минут", "default": 15, "low": 0, "high": 240 }
  ],
  "rangeMessage": "Скорость: 1–200; коэффициент: 1–5; время: 0–240 минут."
}
// planning-parameters-end
);

// One value per planning parameter, by key, in the table's order.
function planningParameterTable(pick) {
  const table = {};
  for (const parameter of PLANNING_PARAMETERS.parameters) table[parameter.key] = pick(parameter);
  return Object.freeze(table);
}
