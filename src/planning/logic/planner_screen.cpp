#include "planning/logic/planner_screen.h"

#include <exception>
#include <utility>

#include "core/api/failure.h"
#include "planning/logic/planner_rules.h"

namespace dorvik::planning {

namespace {

const char* const kBeforeDeletion = "Перед удалением заказов";

// A failure that reaches the user through the model's alert (a cancellation shows nothing).
void report(AppModel& model, std::exception_ptr failure) {
  if (auto text = failureText(failure)) model.setError(std::move(*text));
}

async::Task<void> runChange(std::shared_ptr<AppModel> model, PlannerWork work, std::string action, JSONValue input) {
  std::exception_ptr failure;
  try {
    async::Task<bool> change = work.mutate(std::move(action), std::move(input));
    co_await std::move(change);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) report(*model, failure);
}

async::Task<void> runCalculation(std::shared_ptr<AppModel> model, PlannerWork work, std::string generation) {
  std::exception_ptr failure;
  try {
    async::Task<bool> change = work.mutate("calculate", JSONValue(JSONObject{}));
    co_await std::move(change);
  } catch (...) {
    failure = std::current_exception();
  }
  // Only the workspace the calculation was started in: another one's flag is not ours to clear.
  if (model->generation() != generation) co_return;
  if (failure) report(*model, failure);
  model->setBusy(false);
}

async::Task<void> runDeletion(std::shared_ptr<AppModel> model, PlannerWork work, JSONArray positions) {
  std::exception_ptr failure;
  try {
    async::Task<void> snapshot = work.saveSnapshot(kBeforeDeletion);
    co_await std::move(snapshot);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    report(*model, failure);
    co_return;
  }
  bool deleted = false;
  try {
    JSONValue input = JSONValue::object({{"indices", JSONValue(std::move(positions))}});
    async::Task<bool> change = work.mutate("deleteOrders", std::move(input));
    deleted = co_await std::move(change);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    report(*model, failure);
    co_return;
  }
  if (deleted) model->setSelectedOrders({});
}

// A workflow that reports its own failures; only an escaped one is shown here.
async::Task<void> runWorkflow(std::shared_ptr<AppModel> model, std::function<async::Task<void>()> start) {
  std::exception_ptr failure;
  try {
    async::Task<void> task = start();
    co_await std::move(task);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) report(*model, failure);
}

}  // namespace

PlannerWork modelWork(const std::shared_ptr<AppModel>& model) {
  PlannerWork work;
  work.mutate = [model](std::string action, JSONValue input) {
    return model->mutate(std::move(action), std::move(input));
  };
  work.saveSnapshot = [model](std::string title) { return model->saveSnapshot(std::move(title)); };
  work.geocode = [model](std::optional<std::vector<std::string>> ids) { return model->geocode(std::move(ids)); };
  work.importWorkbook = [model] { return model->importWorkbook(); };
  work.exportWorkbook = [model](std::string kind) { return model->exportWorkbook(std::move(kind)); };
  work.beginNewPlan = [model] { return model->beginNewPlan(); };
  return work;
}

PlannerScreen::PlannerScreen(std::shared_ptr<AppModel> model, PlannerWork work)
    : model_(std::move(model)), work_(std::move(work)) {
  modelConnection_ = model_->observe([this](AppModel::Property property) {
    if (property == AppModel::Property::planner) {
      refreshRows();
    } else if (property == AppModel::Property::date) {
      if (std::optional<JSONValue> input = dateChange(model_->planner(), model_->date()))
        async::spawn(runChange(model_, work_, "date", std::move(*input)));
    }
  });
  refreshRows();
}

PlannerScreen::~PlannerScreen() = default;

void PlannerScreen::setTab(std::string tab) {
  if (tab == tab_) return;
  tab_ = std::move(tab);
  notify(Change::tab);
}

PlannerScreen::Connection PlannerScreen::whenShownAgain(std::string key, std::function<void()> shown) {
  auto showing = std::make_shared<bool>(shownTab(tab_) == key);
  return observe([this, key = std::move(key), shown = std::move(shown), showing](Change change) {
    if (change != Change::tab) return;
    const bool now = shownTab(tab_) == key;
    if (now && !*showing) shown();
    *showing = now;
  });
}

void PlannerScreen::setInspector(bool shown) {
  if (shown == inspector_) return;
  inspector_ = shown;
  notify(Change::inspector);
}

void PlannerScreen::setQuery(std::string query) {
  if (query == query_) return;
  query_ = std::move(query);
  notify(Change::query);
  rows_ = search_.rows(query_);
  notify(Change::rows);
}

void PlannerScreen::refreshRows() {
  search_ = OrderSearch(model_->planner()["orders"]);
  rows_ = search_.rows(query_);
  notify(Change::rows);
}

void PlannerScreen::importWorkbook() {
  auto start = work_.importWorkbook;
  async::spawn(runWorkflow(model_, std::move(start)));
}

void PlannerScreen::geocode(std::optional<std::vector<std::string>> ids) {
  auto start = [search = work_.geocode, ids = std::move(ids)] { return search(ids); };
  async::spawn(runWorkflow(model_, std::move(start)));
}

void PlannerScreen::stopGeocoding() { model_->stopGeocoding(); }

void PlannerScreen::calculate() {
  // Set before the click returns, so that the disabled buttons keep a second calculation from starting.
  model_->setBusy(true);
  async::spawn(runCalculation(model_, work_, model_->generation()));
}

void PlannerScreen::exportWorkbook(std::string kind) {
  auto start = [render = work_.exportWorkbook, kind = std::move(kind)] { return render(kind); };
  async::spawn(runWorkflow(model_, std::move(start)));
}

void PlannerScreen::beginNewPlan() {
  auto start = work_.beginNewPlan;
  async::spawn(runWorkflow(model_, std::move(start)));
}

void PlannerScreen::assign(const std::set<std::string>& ids, std::int64_t vehicle) {
  JSONValue input = JSONValue::object({{"indices", JSONValue(orderPositions(ids, model_->orderIDs()))},
                                       {"vehicle", JSONValue(static_cast<double>(vehicle))}});
  async::spawn(runChange(model_, work_, "assign", std::move(input)));
}

void PlannerScreen::deleteOffered() {
  // The positions are those of the plan at the moment of the confirmation.
  async::spawn(runDeletion(model_, work_, orderPositions(deletionIDs_, model_->orderIDs())));
}

}  // namespace dorvik::planning
