// The vehicle and depot editors: their forms, the objects they start from, the input of the plan change each
// sends, and the state of an editor sheet that saves through one change of the plan.
//
// Main thread only. A save runs detached and keeps the editor alive while it waits.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/async/task.h"
#include "core/base/observers.h"
#include "core/json/json_value.h"
#include "shell/toolkit/form.h"

namespace dorvik::planning {

inline constexpr const char* kDepotRangeMessage = "Координаты вне допустимого диапазона.";

// A change of the planning document: action and input; true when the change was installed.
using PlanChange = std::function<async::Task<bool>(std::string action, JSONValue input)>;

// Vehicle editor ------------------------------------------------------------------------------------------
const std::vector<FieldSpec>& vehicleFields();
// "Параметры маршрута" for a vehicle of the plan (index 0 or more), "Добавить машину" for a new one.
const char* vehicleEditorHeading(std::int64_t index);
// What the editor shows: the vehicle with all its members, or a new vehicle on duty with the shift 09:00-18:00.
JSONValue vehicleDraft(const JSONValue& vehicle);
// The input of the "vehicle" change: {"index", "vehicle"} with the form's eight members only. Throws DorvikError.
JSONValue vehicleChange(const JSONValue& draft, std::int64_t index);

// Depot editor ---------------------------------------------------------------------------------------------
const std::vector<FieldSpec>& depotFields();
// The input of the "depot" change: name, lat, lon and window of the form, the coordinates within ±90 and ±180.
// Throws DorvikError.
JSONValue depotChange(const JSONValue& draft);

// An editor sheet that saves with one change of the plan. Only one save runs at a time (the save button is busy
// meanwhile), so a new vehicle pressed twice is added once; a refused change leaves the sheet open with the
// edited values, the model's alert telling why.
class PlanEditor : public std::enable_shared_from_this<PlanEditor> {
 public:
  enum class Change { issue, busy, dismissed };
  using Connection = Observers<Change>::Connection;
  // Turns the edited object into the change's input; throws DorvikError for the issue line.
  using Prepare = std::function<JSONValue(const JSONValue& draft)>;

  static std::shared_ptr<PlanEditor> create(JSONValue draft, std::string action, Prepare prepare, PlanChange change);

  [[nodiscard]] Connection observe(std::function<void(Change)> observer) {
    return observers_.observe(std::move(observer));
  }

  // The edited object, shared with the form's rows.
  const std::shared_ptr<JSONValue>& value() const { return value_; }
  const std::optional<std::string>& issue() const { return issue_; }
  bool busy() const { return busy_; }

  void save();

 private:
  PlanEditor(JSONValue draft, std::string action, Prepare prepare, PlanChange change);
  static async::Task<void> runSave(std::shared_ptr<PlanEditor> self, JSONValue input);
  void setBusy(bool busy);

  std::shared_ptr<JSONValue> value_;
  std::string action_;
  Prepare prepare_;
  PlanChange change_;
  std::optional<std::string> issue_;
  bool busy_ = false;
  Observers<Change> observers_;
};

std::shared_ptr<PlanEditor> makeVehicleEditor(const JSONValue& vehicle, std::int64_t index, PlanChange change);
// Starts from the plan's depot (empty fields when it has none).
std::shared_ptr<PlanEditor> makeDepotEditor(const JSONValue& planner, PlanChange change);

}  // namespace dorvik::planning
