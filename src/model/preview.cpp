// The demo workspace: a fixed user, a built-in day of five orders loaded and calculated by the planner component,
// the demo depots and one history snapshot, all without a server. From then on the gateway answers from the demo
// data and refuses writes.
//
// The demo holds `busy` while it opens, so a second request is ignored, and it opens inside its own workspace's
// scope: when another workspace took over meanwhile (a sign-in, a sign-out), it ends at its next wait. Whenever it
// ends before it is complete (that, or a failure such as a demo day the planner cannot read), it takes back
// whatever demo state it had already shown, so demo and real data never mix and no demo stays half open.
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/base/errors.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"
#include "model/preview_data.h"

namespace dorvik {

namespace {

const char* const kPreviewStatus = "Пример. Эти заказы не отправляются курьерам.";
const char* const kPreviewSnapshot = "Пример планирования";

// The built-in demo day, kept as the compact text the planner component receives.
constexpr std::string_view kPreviewWorkbook =
    R"({"sourceKind":"demo","routeDate":"2026-09-22","fileName":"Пример · локальные данные",)"
    R"("depot":{"name":"Склад","lat":55.7558,"lon":37.6176,"window":"08:00-20:00"},)"
    R"("vehicles":[)"
    R"({"id":"V1","ref":"Тарен","shift":"09:00-18:00","use":true,"back":false,"capacity":50},)"
    R"({"id":"V2","ref":"Ведил","shift":"09:00-18:00","use":true,"back":true,"capacity":50}],)"
    R"("orders":[)"
    R"({"id":"1001","title":"Кофейня","address":"Москва, Тверская улица, 6","lat":55.7606,"lon":37.6095,)"
    R"("window":"09:00-12:00","units":4,"qc":"file"},)"
    R"({"id":"1002","title":"Магазин","address":"Москва, улица Петровка, 12","lat":55.7635,"lon":37.6185,)"
    R"("window":"09:00-13:00","units":6,"qc":"file"},)"
    R"({"id":"1003","title":"Ресторан","address":"Москва, Мясницкая улица, 20","lat":55.7632,"lon":37.6363,)"
    R"("window":"10:00-14:00","units":3,"qc":"file"},)"
    R"({"id":"1004","title":"Пекарня","address":"Москва, Покровка, 12","lat":55.7596,"lon":37.6464,)"
    R"("window":"09:00-16:00","units":8,"qc":"file"},)"
    R"({"id":"1005","title":"Офис","address":"Москва, улица Арбат, 10","lat":55.7502,"lon":37.5932,)"
    R"("window":"11:00-17:00","units":2,"qc":"file"}]})";

JSONValue previewUser() {
  return JSONValue::object({
      {"id", "preview"},
      {"fullName", "Пример рабочего дня"},
      {"companyId", "preview"},
      {"role", "admin"},
      {"depotId", "preview-depot"},
  });
}

// When the demo ends before it is complete (a failure, or another workspace change that has not yet shown its own
// state), puts back the signed-out model the demo found: never a half-open demo, never demo and real data mixed.
class DemoRollback {
 public:
  explicit DemoRollback(AppModel& model)
      : model_(model),
        planner_(model.planner()),
        depots_(model.depots()),
        history_(model.history()),
        offline_(model.offline()),
        status_(model.status()) {}
  ~DemoRollback() {
    if (complete_ || !model_.preview() || model_.user() != previewUser()) return;
    model_.setPreview(false);
    model_.setUser(JSONValue());
    model_.setOffline(offline_);
    model_.setPlanner(planner_);
    model_.setDepots(depots_);
    model_.setHistory(history_);
    model_.setStatus(status_);
  }
  DemoRollback(const DemoRollback&) = delete;
  DemoRollback& operator=(const DemoRollback&) = delete;
  void complete() { complete_ = true; }

 private:
  AppModel& model_;
  bool complete_ = false;
  JSONValue planner_;
  std::vector<Record> depots_;
  std::vector<JSONValue> history_;
  bool offline_;
  std::string status_;
};

}  // namespace

async::Task<void> AppModel::loadPreview() {
  auto self = shared_from_this();
  // Only from the signed-out state, and only once at a time.
  if (!user_.isNull() || !passwordChangeProfile_.isNull() || busy()) co_return;

  replaceGeneration();
  co_await workspaceScope();
  FlagHold opening = hold(Property::busy);
  // What the signed-out model showed, put back if another workspace takes over before the demo is complete.
  DemoRollback rollback(*this);

  // A script context no workspace has used (the one made at launch or after a sign-out), or a new one: the
  // demo's zones, identity and plan never meet a user's. A sign-out whose server request is still out has not
  // made its own yet.
  std::shared_ptr<PlannerEngine> engine = unusedEngine_.lock();
  unusedEngine_.reset();
  if (!engine || engine != engine_) {
    engine = co_await PlannerEngine::create(launch_.catalogPath);
    setEngine(engine);
  }
  const int count = co_await engine->catalogCount();
  setCatalogCount(count);

  setPreview(true);
  setUser(previewUser());
  setOffline(true);

  JSONValue workbook = JSONValue::decode(kPreviewWorkbook);
  JSONValue loaded = co_await engine->run("load", std::move(workbook));
  setPlanner(std::move(loaded));
  JSONValue calculated = co_await engine->run("calculate", JSONValue(JSONObject{}));
  setPlanner(std::move(calculated));

  const JSONValue answer = PreviewData::response("/depots", planner_);
  setDepots(JSONValue::records(answer["depots"].array()));
  setHistory({});
  co_await saveSnapshot(kPreviewSnapshot);
  setStatus(kPreviewStatus);
  rollback.complete();
}

}  // namespace dorvik
