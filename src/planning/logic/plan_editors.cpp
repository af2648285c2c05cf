#include "planning/logic/plan_editors.h"

#include <cmath>
#include <exception>
#include <utility>

#include "core/api/failure.h"
#include "core/base/errors.h"

namespace dorvik::planning {

namespace {
using Kind = FieldSpec::Kind;
}

const std::vector<FieldSpec>& vehicleFields() {
  static const std::vector<FieldSpec> fields{
      {"id", "Логин курьера / код машины", Kind::text, true},
      {"ref", "Имя", Kind::text, true},
      {"shift", "Смена, 09:00-18:00", Kind::text, true},
      {"zone", "Геозона", Kind::text, false},
      {"capacity", "Вместимость, мест", Kind::number, false},
      {"mileage", "Максимум километров", Kind::number, false},
      {"use", "На смене", Kind::toggle, false},
      {"back", "Вернуться на склад", Kind::toggle, false},
  };
  return fields;
}

const char* vehicleEditorHeading(std::int64_t index) { return index >= 0 ? "Параметры маршрута" : "Добавить машину"; }

JSONValue vehicleDraft(const JSONValue& vehicle) {
  if (!vehicle.isNull()) return vehicle;
  return JSONValue::object({{"use", true}, {"back", false}, {"shift", "09:00-18:00"}});
}

JSONValue vehicleChange(const JSONValue& draft, std::int64_t index) {
  return JSONValue::object(
      {{"index", JSONValue(static_cast<double>(index))}, {"vehicle", validated(draft, vehicleFields(), false)}});
}

const std::vector<FieldSpec>& depotFields() {
  static const std::vector<FieldSpec> fields{
      {"name", "Название", Kind::text, true},
      {"lat", "Широта", Kind::number, true},
      {"lon", "Долгота", Kind::number, true},
      {"window", "Часы работы, 08:00-20:00", Kind::text, false},
  };
  return fields;
}

JSONValue depotChange(const JSONValue& draft) {
  JSONValue depot = validated(draft, depotFields(), false);
  const std::optional<double> lat = depot["lat"].doubleValue();
  const std::optional<double> lon = depot["lon"].doubleValue();
  if (!lat || !lon || !(std::fabs(*lat) <= 90) || !(std::fabs(*lon) <= 180)) throw DorvikError(kDepotRangeMessage);
  return depot;
}

std::shared_ptr<PlanEditor> PlanEditor::create(JSONValue draft, std::string action, Prepare prepare,
                                               PlanChange change) {
  return std::shared_ptr<PlanEditor>(
      new PlanEditor(std::move(draft), std::move(action), std::move(prepare), std::move(change)));
}

PlanEditor::PlanEditor(JSONValue draft, std::string action, Prepare prepare, PlanChange change)
    : value_(std::make_shared<JSONValue>(std::move(draft))),
      action_(std::move(action)),
      prepare_(std::move(prepare)),
      change_(std::move(change)) {}

void PlanEditor::setBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  observers_.notify(Change::busy);
}

void PlanEditor::save() {
  if (busy_) return;
  JSONValue input;
  try {
    input = prepare_(*value_);
  } catch (...) {
    issue_ = failureText(std::current_exception());
    observers_.notify(Change::issue);
    return;
  }
  // Set before the change starts: a second press meanwhile finds the editor busy.
  setBusy(true);
  async::spawn(runSave(shared_from_this(), std::move(input)));
}

async::Task<void> PlanEditor::runSave(std::shared_ptr<PlanEditor> self, JSONValue input) {
  // A refused change answers false: the model has put the reason on its error line.
  bool applied = false;
  std::exception_ptr failure;
  try {
    async::Task<bool> change = self->change_(self->action_, std::move(input));
    applied = co_await std::move(change);
  } catch (...) {
    failure = std::current_exception();
  }
  self->setBusy(false);
  if (std::optional<std::string> text = failure ? failureText(failure) : std::nullopt) {
    self->issue_ = std::move(text);
    self->observers_.notify(Change::issue);
  }
  if (applied) self->observers_.notify(Change::dismissed);
}

std::shared_ptr<PlanEditor> makeVehicleEditor(const JSONValue& vehicle, std::int64_t index, PlanChange change) {
  return PlanEditor::create(
      vehicleDraft(vehicle), "vehicle", [index](const JSONValue& draft) { return vehicleChange(draft, index); },
      std::move(change));
}

std::shared_ptr<PlanEditor> makeDepotEditor(const JSONValue& planner, PlanChange change) {
  return PlanEditor::create(planner["depot"], "depot", depotChange, std::move(change));
}

}  // namespace dorvik::planning
