// PlannerScreen: the planner screen's own state (selected tab, order-properties pane, order search) with the
// orders its search shows, and the commands of the screen. Everything the screen shows of the plan comes from the
// application model; every change of the plan goes through the model's workflows (PlannerWork).
//
// While it exists it follows the model: a new planning document refreshes the shown orders, and every change of
// the model's date (picked on screen or set by a workflow) moves the plan to that day.
//
// Main thread only. Commands start their work detached and return at once; the work keeps what it needs (the
// model, the workflows) and never the screen.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/async/task.h"
#include "core/base/observers.h"
#include "core/json/json_value.h"
#include "model/app_model.h"
#include "planning/logic/order_rows.h"

namespace dorvik::planning {

// The model's workflows that the planner screen starts: the model's own, or a test's stand-ins.
struct PlannerWork {
  std::function<async::Task<bool>(std::string action, JSONValue input)> mutate;
  std::function<async::Task<void>(std::string title)> saveSnapshot;
  std::function<async::Task<void>(std::optional<std::vector<std::string>> ids)> geocode;
  std::function<async::Task<void>()> importWorkbook;
  std::function<async::Task<void>(std::string kind)> exportWorkbook;
  std::function<async::Task<void>()> beginNewPlan;
};
PlannerWork modelWork(const std::shared_ptr<AppModel>& model);

class PlannerScreen {
 public:
  enum class Change { tab, inspector, query, rows };
  using Connection = Observers<Change>::Connection;

  PlannerScreen(std::shared_ptr<AppModel> model, PlannerWork work);
  ~PlannerScreen();
  PlannerScreen(const PlannerScreen&) = delete;
  PlannerScreen& operator=(const PlannerScreen&) = delete;

  [[nodiscard]] Connection observe(std::function<void(Change)> observer) {
    return observers_.observe(std::move(observer));
  }
  // Calls `shown` each time the content of tab `key` comes back into view after another tab's: a tab's content
  // lives as long as the screen, yet starts afresh whenever the user returns to it.
  [[nodiscard]] Connection whenShownAgain(std::string key, std::function<void()> shown);

  const std::shared_ptr<AppModel>& model() const { return model_; }

  // The key of the selected tab ("map" at first).
  const std::string& tab() const { return tab_; }
  void setTab(std::string tab);
  // The order-properties pane is shown.
  bool inspector() const { return inspector_; }
  void setInspector(bool shown);
  // The order search text, kept across tabs.
  const std::string& query() const { return query_; }
  void setQuery(std::string query);
  // The orders of the plan the search shows, in plan order.
  const std::vector<Record>& rows() const { return rows_; }

  // Action bar.
  void importWorkbook();
  // Every order without coordinates when `ids` is none.
  void geocode(std::optional<std::vector<std::string>> ids = std::nullopt);
  void stopGeocoding();
  // Holds the model busy from now until the calculation has ended.
  void calculate();
  void exportWorkbook(std::string kind);
  void beginNewPlan();

  // Order table.
  // Moves the orders onto the route of the plan's vehicle at `vehicle`, or off every route for -1.
  void assign(const std::set<std::string>& ids, std::int64_t vehicle);
  // The orders the deletion confirmation offers to delete.
  const std::set<std::string>& deletionIDs() const { return deletionIDs_; }
  void offerDeletion(std::set<std::string> ids) { deletionIDs_ = std::move(ids); }
  // The confirmation's "Удалить": a history snapshot first, then the orders still in the plan are deleted and the
  // selection cleared. A failed snapshot deletes nothing and shows its message.
  void deleteOffered();

 private:
  void refreshRows();
  void notify(Change change) { observers_.notify(change); }

  std::shared_ptr<AppModel> model_;
  PlannerWork work_;
  std::string tab_ = "map";
  bool inspector_ = false;
  std::string query_;
  OrderSearch search_;
  std::vector<Record> rows_;
  std::set<std::string> deletionIDs_;
  Observers<Change> observers_;
  AppModel::Connection modelConnection_;
};

}  // namespace dorvik::planning
