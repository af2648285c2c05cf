// Transfers on the planner's map: a group of orders moved onto one vehicle's route of a calculated plan, after a
// history snapshot, and the move taken back while nothing else has changed the plan since. Both refuse a plan that
// moved under the caller: the caller passes the revision it saw, and the undo record carries the revision the move
// produced. Refusals are silent; the map simply does nothing.
#include <cctype>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "model/app_model.h"

namespace dorvik {

namespace {

const char* const kAlreadyAssigned = "Эти заказы уже назначены выбранному курьеру.";
const char* const kBeforeTransfer = "Перед передачей заказов курьеру";
const char* const kTransferUndone = "Передача отменена. Прежний порядок маршрутов восстановлен.";

std::string transferredText(std::size_t count) {
  return "Передано заказов: " + std::to_string(count) + ". План сохранён. Для отправки нажмите «Отправить курьерам».";
}

// The generation as an undo record carries it: the canonical upper-case UUID text.
std::string recordGeneration(std::string generation) {
  for (char& c : generation) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return generation;
}

}  // namespace

async::Task<std::optional<JSONValue>> AppModel::transferPlanningOrders(std::vector<std::string> ids,
                                                                       std::int64_t vehicle, std::int64_t revision) {
  auto self = shared_from_this();
  if (busy() || geocoding() || savingHistory()) co_return std::nullopt;
  if (!planner_["planned"].boolValue()) co_return std::nullopt;
  if (planner_["revision"].intValue() != revision) co_return std::nullopt;
  if (ids.empty()) co_return std::nullopt;
  if (std::set<std::string>(ids.begin(), ids.end()).size() != ids.size()) co_return std::nullopt;

  const std::vector<std::string> known = orderIDs();
  std::vector<std::size_t> indices;
  indices.reserve(ids.size());
  for (const std::string& id : ids) {
    std::size_t at = 0;
    while (at < known.size() && known[at] != id) ++at;
    if (at == known.size()) co_return std::nullopt;
    indices.push_back(at);
  }
  const auto vehicleCount = static_cast<std::int64_t>(planner_["vehicles"].array().size());
  if (vehicle < 0 || vehicle >= vehicleCount) co_return std::nullopt;

  // Nothing to move when every order already rides on that vehicle.
  const JSONArray& orders = planner_["orders"].array();
  bool allThere = true;
  for (std::size_t index : indices) {
    const std::optional<double> route = orders[index]["_rt"].doubleValue();
    if (!route || *route != static_cast<double>(vehicle)) {
      allThere = false;
      break;
    }
  }
  if (allThere) {
    setStatus(kAlreadyAssigned);
    co_return std::nullopt;
  }

  // A transfer of an older workspace moves nothing and answers no record.
  co_await workspaceScope(async::ScopeEnd::quiet);
  FlagHold busy = hold(Property::busy);
  const JSONValue before = planner_;

  std::string title = kBeforeTransfer;
  auto saved = co_await async::attempt(saveSnapshot(std::move(title)));
  if (reportIfFailed(saved)) co_return std::nullopt;
  if (planner_["revision"].intValue() != revision) co_return std::nullopt;

  JSONArray positions;
  positions.reserve(indices.size());
  for (std::size_t index : indices) positions.emplace_back(static_cast<double>(index));
  JSONValue payload = JSONValue::object({
      {"indices", JSONValue(std::move(positions))},
      {"vehicle", JSONValue(static_cast<double>(vehicle))},
      {"expectedRevision", JSONValue(static_cast<double>(revision))},
  });
  // The revision comes from the document this very change installed: a change that lands while this one is
  // still being archived must not lend the record its revision, or the undo would wipe that change out.
  std::string action = "assign";
  std::optional<JSONValue> moved = co_await change(std::move(action), std::move(payload));
  if (!moved) co_return std::nullopt;
  setSelectedOrders(std::set<std::string>(ids.begin(), ids.end()));
  setStatus(transferredText(ids.size()));
  co_return JSONValue::object({
      {"routes", before["routes"]},
      {"unassigned", before["unassigned"]},
      {"expectedRevision", (*moved)["revision"]},
      {"generation", recordGeneration(generation_)},
  });
}

async::Task<bool> AppModel::undoPlanningTransfer(JSONValue record) {
  auto self = shared_from_this();
  if (busy() || geocoding() || savingHistory()) co_return false;
  if (record["generation"].string() != recordGeneration(generation_)) co_return false;
  if (!(record["expectedRevision"] == planner_["revision"])) co_return false;

  co_await workspaceScope(async::ScopeEnd::quiet);
  FlagHold busy = hold(Property::busy);
  std::string action = "restoreAssignments";
  const bool restored = co_await mutate(std::move(action), std::move(record));
  if (restored) setStatus(kTransferUndone);
  co_return restored;
}

}  // namespace dorvik
