#include "planning/logic/plan_history.h"

#include <exception>
#include <utility>

#include "core/api/failure.h"
#include "model/app_model.h"
#include "core/base/text.h"
#include "planning/logic/order_rows.h"

namespace dorvik::planning {

namespace {

async::Task<void> reportFailure(std::shared_ptr<AppModel> model, async::Task<void> work) {
  std::exception_ptr failure;
  try {
    co_await std::move(work);
  } catch (...) {
    failure = std::current_exception();
  }
  if (std::optional<std::string> text = failure ? failureText(failure) : std::nullopt) model->setError(std::move(text));
}

}  // namespace

std::vector<Record> historyRows(const std::vector<JSONValue>& history, std::string_view query) {
  std::vector<Record> rows = JSONValue::records(history);
  if (query.empty()) return rows;
  const std::string folded = foldedText(query);
  std::vector<Record> shown;
  for (Record& row : rows) {
    for (const char* key : {"title", "date", "fileName"}) {
      if (foldedText(row.value.path(key).string()).find(folded) != std::string::npos) {
        shown.push_back(std::move(row));
        break;
      }
    }
  }
  return shown;
}

bool canSaveSnapshot(const AppModel& model) {
  return !model.orders().empty() && !model.savingHistory() && !model.busy() && !model.geocoding();
}

void saveSnapshot(const std::shared_ptr<AppModel>& model, std::string title) {
  async::spawn(reportFailure(model, model->saveSnapshot(std::move(title))));
}

void restoreSnapshot(const std::shared_ptr<AppModel>& model, JSONValue entry) {
  async::spawn(reportFailure(model, model->restoreSnapshot(std::move(entry))));
}

}  // namespace dorvik::planning
