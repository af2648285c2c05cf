#include "planning/logic/road_refinement.h"

#include <cmath>
#include <exception>
#include <utility>

#include "core/api/failure.h"
#include "core/base/errors.h"
#include "core/cache/encrypted_cache.h"
#include "core/engine/planner_engine.h"

namespace dorvik::planning {

namespace {

async::Task<JSONValue> runOnEngine(std::shared_ptr<PlannerEngine> engine, std::string action, JSONValue payload) {
  if (!engine) throw DorvikError("Каталог ещё загружается.");
  co_return co_await engine->run(std::move(action), std::move(payload));
}

async::Task<std::optional<JSONValue>> readFrom(std::shared_ptr<EncryptedCache> cache, std::string name) {
  if (!cache) co_return std::nullopt;
  co_return co_await cache->read(std::move(name));
}

async::Task<void> writeTo(std::shared_ptr<EncryptedCache> cache, JSONValue value, std::string name) {
  if (!cache) co_return;
  co_await cache->write(std::move(value), std::move(name));
}

std::optional<double> nonNegative(const JSONValue& value) {
  const std::optional<double> number = value.doubleValue();
  if (!number || !std::isfinite(*number) || *number < 0) return std::nullopt;
  return number;
}

}  // namespace

RoadWork modelRoadWork(const std::shared_ptr<AppModel>& model) {
  RoadWork work;
  work.fetch = [model](std::string path, std::string method, std::optional<JSONValue> body) {
    return model->fetch(std::move(path), std::move(method), std::move(body));
  };
  work.mutate = [model](std::string action, JSONValue payload) {
    return model->mutate(std::move(action), std::move(payload));
  };
  work.saveSnapshot = [model](std::string title) { return model->saveSnapshot(std::move(title)); };
  work.hasEngine = [model] { return model->engine() != nullptr; };
  work.runEngine = [model](std::string action, JSONValue payload) {
    return runOnEngine(model->engine(), std::move(action), std::move(payload));
  };
  work.hasCache = [model] { return model->cache() != nullptr; };
  work.readCache = [model](std::string name) { return readFrom(model->cache(), std::move(name)); };
  work.writeCache = [model](JSONValue value, std::string name) {
    return writeTo(model->cache(), std::move(value), std::move(name));
  };
  return work;
}

bool validLeg(const JSONValue& leg) {
  if (!leg.isArray() || leg.size() != 2) return false;
  for (const JSONValue& point : leg.array()) {
    if (!point.isArray() || point.size() != 2) return false;
  }
  return true;
}

JSONValue routeRequest(const JSONValue& leg) {
  JSONArray points;
  for (const JSONValue& point : leg.array()) {
    points.push_back(JSONValue::object({{"lat", point.at(0)}, {"lon", point.at(1)}}));
  }
  return JSONValue::object({{"points", JSONValue(std::move(points))}});
}

std::optional<RoadLeg> acceptedReply(const JSONValue& reply) {
  if (!reply["calculatedByRoads"].boolValue()) return std::nullopt;
  const std::optional<double> km = nonNegative(reply["km"]);
  const std::optional<double> min = nonNegative(reply["min"]);
  if (!km || !min) return std::nullopt;
  return RoadLeg{*km, *min};
}

JSONValue roadsPayload(const JSONValue& leg, RoadLeg road) {
  return JSONValue::object({{"legs", JSONValue::array({JSONValue::object({
                                         {"from", leg.at(0)},
                                         {"to", leg.at(1)},
                                         {"km", JSONValue(road.km)},
                                         {"min", JSONValue(road.min)},
                                     })})}});
}

// RoadRefinement ----------------------------------------------------------------------------------------------

std::shared_ptr<RoadRefinement> RoadRefinement::create(std::shared_ptr<AppModel> model, RoadWork work) {
  return std::shared_ptr<RoadRefinement>(new RoadRefinement(std::move(model), std::move(work)));
}

std::int64_t RoadRefinement::quota() const { return model_->planner()["routingQuota"].intValue(); }

std::string RoadRefinement::legsText() const {
  return "Плеч маршрута к расчёту: " + std::to_string(legs_.size()) +
         ". Каждое плечо использует одно обращение к маршрутизации вашего склада.";
}

std::string RoadRefinement::demoText() const {
  return "Демо-лимит на этом компьютере: " + std::to_string(used_) + " из " + std::to_string(quota()) +
         " обращений. Учёт других устройств здесь не отражается.";
}

double RoadRefinement::progress() const {
  const double total = legs_.empty() ? 1.0 : static_cast<double>(legs_.size());
  return static_cast<double>(done_) / total;
}

bool RoadRefinement::canCalculate() const {
  if (working_ || !loaded_ || legs_.empty() || !model_->canWriteServer()) return false;
  if (!demo_) return true;
  // A run that would reach the quota exactly is allowed; compared wide, so no count can overflow.
  const auto legs = static_cast<__int128>(legs_.size());
  return static_cast<__int128>(used_) + legs <= static_cast<__int128>(quota());
}

async::Task<void> RoadRefinement::load() {
  auto self = shared_from_this();
  if (!work_.hasEngine()) co_return;
  std::exception_ptr failure;
  try {
    async::Task<JSONValue> request = work_.fetch("/integrations/settings", "GET", std::nullopt);
    const JSONValue settings = co_await std::move(request);
    if (!settings["routingKey"]["configured"].boolValue()) {
      issue_ = kRoadsNoKey;
      changed();
      co_return;
    }
    demo_ = settings["isDemo"].boolValue();
    changed();
    std::int64_t used = 0;
    if (work_.hasCache()) {
      async::Task<std::optional<JSONValue>> read = work_.readCache(kRoutingUsage);
      const std::optional<JSONValue> stored = co_await std::move(read);
      if (stored) used = stored->intValue();
    }
    used_ = used;
    changed();
    async::Task<JSONValue> pending = work_.runEngine("pendingLegs", JSONValue(JSONObject{}));
    const JSONValue result = co_await std::move(pending);
    legs_ = result["legs"].array();
    loaded_ = true;
    changed();
  } catch (...) {
    failure = std::current_exception();
  }
  if (!failure) co_return;
  if (isCancellation(failure)) std::rethrow_exception(failure);
  issue_ = failureText(failure);
  changed();
}

void RoadRefinement::calculate() {
  if (working_ || model_->busy()) return;
  working_ = true;
  model_->setBusy(true);
  changed();
  async::spawn(run(shared_from_this(), legs_, model_->generation()));
}

async::Task<void> RoadRefinement::run(std::shared_ptr<RoadRefinement> self, JSONArray legs, std::string generation) {
  AppModel& model = *self->model_;
  const RoadWork& work = self->work_;
  auto sameWorkspace = [&] { return model.generation() == generation; };
  bool finished = false;
  std::exception_ptr failure;
  try {
    bool declined = false;
    for (const JSONValue& leg : legs) {
      const async::CancelToken token = co_await async::currentToken();
      if (!sameWorkspace()) throw CancelledError();
      token.throwIfCancelled();
      if (!validLeg(leg)) throw DorvikError(kRoadsBadLeg);
      // Counted before the request: a request that fails afterwards has still been paid for.
      self->used_ += 1;
      self->changed();
      if (work.hasCache()) {
        async::Task<void> write = work.writeCache(JSONValue(static_cast<double>(self->used_)), kRoutingUsage);
        co_await std::move(write);
      }
      async::Task<JSONValue> request = work.fetch("/geo/route", "POST", routeRequest(leg));
      const JSONValue reply = co_await std::move(request);
      if (!sameWorkspace()) throw CancelledError();
      const std::optional<RoadLeg> road = acceptedReply(reply);
      if (!road) throw DorvikError(kRoadsStraight);
      async::Task<bool> change = work.mutate("roads", roadsPayload(leg, *road));
      if (!co_await std::move(change)) {
        declined = true;
        break;
      }
      self->done_ += 1;
      self->changed();
    }
    if (!declined) {
      async::Task<void> snapshot = work.saveSnapshot(kRoadsSnapshot);
      co_await std::move(snapshot);
      if (!sameWorkspace()) throw CancelledError();
      model.setStatus(kRoadsDone);
      finished = true;
    }
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure && !isCancellation(failure)) {
    self->issue_ = failureText(failure);
    self->changed();
    if (work.hasEngine() && sameWorkspace()) co_await self->reloadLegs();
  }
  self->working_ = false;
  if (sameWorkspace()) model.setBusy(false);
  self->changed();
  if (finished) self->changed(Change::finished);
}

async::Task<void> RoadRefinement::reloadLegs() {
  auto self = shared_from_this();
  try {
    async::Task<JSONValue> pending = work_.runEngine("pendingLegs", JSONValue(JSONObject{}));
    const JSONValue result = co_await std::move(pending);
    legs_ = result["legs"].array();
    done_ = 0;
  } catch (...) {
    // The first message stays.
  }
}

}  // namespace dorvik::planning
