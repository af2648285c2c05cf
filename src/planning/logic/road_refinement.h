// Road refinement, without widgets: the sheet "Уточнить по дорогам 2ГИС" replaces the estimated legs of the
// calculated routes, one by one, with road distances and times from the company server ("/geo/route"). Each answer
// is applied to the plan at once (planner action "roads"), so an interrupted run keeps what it obtained, and the
// planner lists only the legs still to refine ("pendingLegs"). A demo routing key is metered against the plan's
// "routingQuota" with the workspace's counter "routingUsage".
//
// RoadRefinement is the sheet's state. The run holds it (not the sheet), so it may outlive the sheet; it holds the
// model busy from start to end and stops silently when the workspace changes. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/async/cancel_token.h"
#include "core/async/task.h"
#include "core/base/observers.h"
#include "core/json/json_value.h"
#include "model/app_model.h"

namespace dorvik::planning {

inline constexpr const char* kRoadsTitle = "Уточнить по дорогам 2ГИС";
inline constexpr const char* kRoadsReuse =
    "Ранее рассчитанные плечи используются повторно. При ошибке уже полученные результаты сохраняются.";
inline constexpr const char* kRoadsNoKey = "Добавьте ключ маршрутизации 2ГИС в разделе «Интеграции».";
inline constexpr const char* kRoadsBadLeg = "Некорректное плечо маршрута.";
inline constexpr const char* kRoadsStraight = "Сервер вернул оценку по прямой. Проверьте ключ маршрутизации 2ГИС.";
inline constexpr const char* kRoadsSnapshot = "Уточнение по дорогам";
inline constexpr const char* kRoadsDone = "Время и расстояния уточнены по дорогам 2ГИС.";
inline constexpr const char* kRoutingUsage = "routingUsage";

// What the refinement uses of the model's services: the model's own, or a test's.
struct RoadWork {
  std::function<async::Task<JSONValue>(std::string path, std::string method, std::optional<JSONValue> body)> fetch;
  std::function<async::Task<bool>(std::string action, JSONValue payload)> mutate;
  std::function<async::Task<void>(std::string title)> saveSnapshot;
  // The planner engine of the workspace: present, and one of its actions.
  std::function<bool()> hasEngine;
  std::function<async::Task<JSONValue>(std::string action, JSONValue payload)> runEngine;
  // The workspace cache: present, an entry (none when absent), and a write.
  std::function<bool()> hasCache;
  std::function<async::Task<std::optional<JSONValue>>(std::string name)> readCache;
  std::function<async::Task<void>(JSONValue value, std::string name)> writeCache;
};
RoadWork modelRoadWork(const std::shared_ptr<AppModel>& model);

// A leg as the planner lists it: two points of two values each.
bool validLeg(const JSONValue& leg);
// The body of POST "/geo/route" for a leg: {"points": [{"lat", "lon"}, {"lat", "lon"}]}, the values as listed.
JSONValue routeRequest(const JSONValue& leg);
// The distance and time of an answer computed along roads (finite, 0 or more), else none.
struct RoadLeg {
  double km = 0;
  double min = 0;
};
std::optional<RoadLeg> acceptedReply(const JSONValue& reply);
// The change "roads" for one refined leg: {"legs": [{"from", "to", "km", "min"}]}.
JSONValue roadsPayload(const JSONValue& leg, RoadLeg road);

class RoadRefinement : public std::enable_shared_from_this<RoadRefinement> {
 public:
  enum class Change { state, finished };
  using Connection = Observers<Change>::Connection;

  static std::shared_ptr<RoadRefinement> create(std::shared_ptr<AppModel> model, RoadWork work);

  [[nodiscard]] Connection observe(std::function<void(Change)> observer) {
    return observers_.observe(std::move(observer));
  }

  const JSONArray& legs() const { return legs_; }
  const std::optional<std::string>& issue() const { return issue_; }
  bool working() const { return working_; }
  bool loaded() const { return loaded_; }
  std::int64_t done() const { return done_; }
  std::int64_t used() const { return used_; }
  bool demo() const { return demo_; }
  // The plan's demo quota ("routingQuota"; 0 when absent).
  std::int64_t quota() const;

  // "Плеч маршрута к расчёту: N. …".
  std::string legsText() const;
  // The demo line (shown only while demo()).
  std::string demoText() const;
  // The progress bar's fraction while working.
  double progress() const;
  // "Рассчитать".
  bool canCalculate() const;
  // "Закрыть", Escape and the window's close button.
  bool canClose() const { return !working_; }

  // Loads the settings, the counter and the legs (once, when the sheet shows). Never throws but by cancellation.
  async::Task<void> load();
  // Starts a run unless one runs or the model is busy. The run ends with Change::finished when every leg was
  // applied and the snapshot saved: the sheet then closes.
  void calculate();

 private:
  RoadRefinement(std::shared_ptr<AppModel> model, RoadWork work) : model_(std::move(model)), work_(std::move(work)) {}
  static async::Task<void> run(std::shared_ptr<RoadRefinement> self, JSONArray legs, std::string generation);
  // The legs still to refine, listed again after a failure; its own failure is ignored.
  async::Task<void> reloadLegs();
  void changed(Change change = Change::state) { observers_.notify(change); }

  std::shared_ptr<AppModel> model_;
  RoadWork work_;
  JSONArray legs_;
  std::optional<std::string> issue_;
  bool working_ = false;
  bool loaded_ = false;
  std::int64_t done_ = 0;
  std::int64_t used_ = 0;
  bool demo_ = false;
  Observers<Change> observers_;
};

}  // namespace dorvik::planning
