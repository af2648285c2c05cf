#include "planning/logic/planner_rules.h"

#include <algorithm>

#include "core/base/dorvik_date.h"
#include "model/app_model.h"

namespace dorvik::planning {

const std::vector<PlanTab>& planTabs() {
  static const std::vector<PlanTab> tabs{{"map", "Карта"},       {"orders", "Заказы"}, {"vehicles", "Транспорт"},
                                         {"routes", "Маршруты"}, {"windows", "Окна"},  {"check", "Проверка"}};
  return tabs;
}

std::string_view shownTab(std::string_view tab) {
  for (const PlanTab& known : planTabs())
    if (tab == known.key) return known.key;
  return "map";
}

PlanSummary planSummary(const JSONValue& planner, std::int64_t missingCoordinates) {
  PlanSummary summary;
  const JSONValue& fileName = planner["fileName"];
  summary.title = fileName.isString() && !fileName.stringView().empty() ? fileName.string() : "Новый рабочий день";
  summary.orders = std::to_string(planner["orders"].array().size()) + " заказов";
  summary.routes = std::to_string(planner["routes"].array().size()) + " маршрутов";
  if (missingCoordinates >= 1) summary.review = "Уточнить: " + std::to_string(missingCoordinates);
  const JSONValue& depotName = planner["depot"]["name"];
  summary.depot = depotName.isString() && !depotName.stringView().empty() ? depotName.string() : "Указать склад";
  return summary;
}

GeocodingBar geocodingBar(std::int64_t completed, std::int64_t total, bool stopping) {
  GeocodingBar bar;
  const double whole = static_cast<double>(std::max<std::int64_t>(total, 1));
  bar.fraction = std::clamp(static_cast<double>(completed) / whole, 0.0, 1.0);
  bar.progress = "Проверено " + std::to_string(completed) + " из " + std::to_string(total);
  bar.stopTitle = stopping ? "Останавливаем…" : "Остановить";
  bar.stopEnabled = !stopping;
  return bar;
}

PlanFacts planFacts(const AppModel& model) {
  PlanFacts facts;
  facts.busy = model.busy();
  facts.geocoding = model.geocoding();
  facts.preview = model.preview();
  facts.offline = model.offline();
  facts.canWriteServer = model.canWriteServer();
  facts.planned = model.planner()["planned"].boolValue();
  facts.orders = model.planner()["orders"].array().size();
  facts.routes = model.planner()["routes"].array().size();
  return facts;
}

PlanActions planActions(const PlanFacts& f) {
  PlanActions a;
  const bool empty = f.orders == 0;
  a.open = !(f.busy || f.geocoding);
  a.geocode = !(empty || f.geocoding || f.busy);
  a.calculate = !(empty || f.busy || f.geocoding);
  a.newPlan = !(f.busy || f.geocoding);
  const bool working = f.busy || f.geocoding;
  a.roads = f.planned && f.routes > 0 && !working && f.canWriteServer;
  a.exportMenu = !empty;
  a.publish = f.planned && !f.preview && !f.offline && !working;
  a.geocodeTitle = f.geocoding ? "Геокодирование…" : "Геокодирование";
  return a;
}

InspectorLayout inspectorLayout(bool shown, int areaWidth) {
  if (!shown) return {};
  if (areaWidth >= 900) return {InspectorPlace::side, 300};
  return {InspectorPlace::overlay, std::min(std::max(areaWidth, 260), 320)};
}

std::int64_t vehicleEditorIndex(const JSONValue& planner, const Record& vehicle) {
  const std::vector<Record> vehicles = JSONValue::records(planner["vehicles"].array());
  for (std::size_t i = 0; i < vehicles.size(); ++i)
    if (vehicles[i] == vehicle) return static_cast<std::int64_t>(i);
  return -1;
}

std::optional<JSONValue> dateChange(const JSONValue& planner, std::chrono::system_clock::time_point date) {
  std::string day = DorvikDate::day(date);
  if (planner["routeDate"].isString() && planner["routeDate"].stringView() == day) return std::nullopt;
  return JSONValue::object({{"date", std::move(day)}});
}

}  // namespace dorvik::planning
