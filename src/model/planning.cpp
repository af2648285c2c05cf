// Changes of the planning document. The document belongs to the planner component: every change is one named
// action whose result replaces the whole document, followed by the component's archive written to the workspace
// cache under "planner". Overlapping changes are ordered by the mutation counter: only the one started last is
// installed.
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "core/base/dorvik_date.h"
#include "core/base/errors.h"
#include "core/cache/encrypted_cache.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"
#include "core/api/failure.h"

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
  const std::string token = generation_;
  std::shared_ptr<PlannerEngine> engine = engine_;

  // A failure is shown only while the workspace is still the one the change was made for.
  auto report = [this, &token](std::exception_ptr failure) {
    if (generation_ != token) return;
    if (auto text = failureText(failure)) setError(std::move(*text));
  };

  std::exception_ptr failure;
  JSONValue result;
  try {
    result = co_await engine->run(action, std::move(payload));
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    report(failure);
    co_return std::nullopt;
  }
  // A later change began, or the workspace changed: this result is stale.
  if (generation_ != token || mutation_ != ticket) co_return std::nullopt;

  setPendingPublication(std::nullopt);
  std::string status = result["status"].string();
  JSONValue installed = result;
  setPlanner(std::move(result));
  if (!status.empty()) setStatus(std::move(status));

  // The archive is only stored: it travels as the component's JSON text, never as a second copy of the plan.
  OwnedText archive;
  try {
    archive = co_await engine->runText("archive", JSONValue(JSONObject{}));
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    report(failure);
    co_return std::nullopt;
  }
  if (generation_ != token) co_return std::nullopt;

  if (std::shared_ptr<EncryptedCache> cache = cache_) {
    try {
      co_await cache->writeText(std::move(archive), "planner");
    } catch (...) {
      failure = std::current_exception();
    }
    if (failure) {
      report(failure);
      co_return std::nullopt;
    }
    if (generation_ != token) co_return std::nullopt;
  }

  if (action == "calculate") {
    try {
      co_await saveSnapshot(kCalculateSnapshot);
    } catch (...) {
      failure = std::current_exception();
    }
    if (failure) {
      report(failure);
      co_return std::nullopt;
    }
  }
  if (generation_ != token) co_return std::nullopt;
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
  setBusy(true);
  const std::string token = generation_;

  std::exception_ptr failure;
  try {
    co_await saveSnapshot(kNewPlanSnapshot);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    if (generation_ == token) {
      if (auto text = failureText(failure)) setError(std::move(*text));
    }
  } else if (generation_ == token) {
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
  if (generation_ == token) setBusy(false);
}

}  // namespace dorvik
