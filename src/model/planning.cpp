// Changes of the planning document. The document belongs to the planner component: every change is one named
// action whose result replaces the whole document, followed by the component's archive written to the workspace
// cache under "planner". Overlapping changes are ordered by the mutation counter: only the one started last is
// installed.
#include <optional>
#include <string>
#include <utility>

#include "core/async/attempt.h"
#include "core/base/dorvik_date.h"
#include "core/cache/encrypted_cache.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"

namespace dorvik {

namespace {
const char* const kCalculateSnapshot = "Расчёт маршрутов";
const char* const kNewPlanSnapshot = "Перед новым планированием";
}  // namespace

async::Task<bool> AppModel::mutate(std::string action, JSONValue payload) {
  auto self = shared_from_this();
  std::optional<JSONValue> installed = co_await change(std::move(action), std::move(payload));
  co_return installed.has_value();
}

async::Task<std::optional<JSONValue>> AppModel::change(std::string action, JSONValue payload) {
  auto self = shared_from_this();
  if (!engine_) co_return std::nullopt;
  const std::int64_t ticket = incrementMutation();
  // A change of an older workspace is dropped silently, its failures too.
  co_await workspaceScope(async::ScopeEnd::quiet);
  std::shared_ptr<PlannerEngine> engine = engine_;

  auto changed = co_await async::attempt(engine->run(action, std::move(payload)));
  if (reportIfFailed(changed)) co_return std::nullopt;
  // A later change began: this result is stale.
  if (mutation_ != ticket) co_return std::nullopt;

  setPendingPublication(std::nullopt);
  std::string status = (*changed)["status"].string();
  JSONValue installed = *changed;
  setPlanner(std::move(*changed));
  // The component's note (a capacity warning, a count) speaks of the change that wrote it: a later change with no
  // note of its own withdraws it (a move taken back leaves no stale warning), unless the line says something else.
  if (!status.empty()) {
    planNote_ = status;
    setStatus(std::move(status));
  } else if (!planNote_.empty() && status_ == planNote_) {
    planNote_.clear();
    setStatus("");
  }

  // The archive is only stored: it travels as the component's JSON text, never as a second copy of the plan. A
  // workspace without a cache (the demo) stores nothing, so asks for none.
  if (std::shared_ptr<EncryptedCache> cache = cache_) {
    auto archive = co_await async::attempt(engine->runText("archive", JSONValue(JSONObject{})));
    if (reportIfFailed(archive)) co_return std::nullopt;
    auto stored = co_await async::attempt(cache->writeText(std::move(*archive), "planner"));
    if (reportIfFailed(stored)) co_return std::nullopt;
  }
  if (action == "calculate") {
    auto saved = co_await async::attempt(saveSnapshot(kCalculateSnapshot));
    if (reportIfFailed(saved)) co_return std::nullopt;
  }
  co_return installed;
}

async::Task<bool> AppModel::patchOrder(std::string nativeID, JSONValue changes) {
  auto self = shared_from_this();
  const std::vector<std::string> ids = orderIDs();
  std::optional<std::size_t> index;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (ids[i] == nativeID) {
      index = i;
      break;
    }
  }
  if (!index) co_return false;
  // Counted before the change runs, and kept when it fails.
  auto revisions = editRevisions_;
  revisions[nativeID] += 1;
  setEditRevisions(std::move(revisions));
  JSONValue payload =
      JSONValue::object({{"index", JSONValue(static_cast<double>(*index))}, {"changes", std::move(changes)}});
  co_return co_await mutate("order", std::move(payload));
}

async::Task<void> AppModel::beginNewPlan() {
  auto self = shared_from_this();
  if (busy() || geocoding() || savingHistory()) co_return;
  co_await workspaceScope(async::ScopeEnd::quiet);
  FlagHold busy = hold(Property::busy);

  auto saved = co_await async::attempt(saveSnapshot(kNewPlanSnapshot));
  if (reportIfFailed(saved)) co_return;
  JSONValue plan = JSONValue::object({
      {"orders", JSONArray{}},
      {"vehicles", planner_["vehicles"]},
      {"depot", planner_["depot"]},
      {"config", planner_["config"]},
      {"routeDate", DorvikDate::day(date_)},
  });
  const bool loaded = co_await mutate("load", std::move(plan));
  if (loaded) {
    setSelectedOrders({});
    setEditRevisions({});
  }
}

}  // namespace dorvik
