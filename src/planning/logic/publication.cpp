#include "planning/logic/publication.h"

#include <exception>
#include <utility>

#include "core/api/failure.h"
#include "core/api/path_encoding.h"
#include "model/app_model.h"
#include "planning/logic/plan_checks.h"

namespace dorvik::planning {

const std::vector<PublicationMode>& publicationModes() {
  static const std::vector<PublicationMode> modes{{"append", "Добавить новые маршруты"},
                                                  {"keepStarted", "Обновить только не начатые"},
                                                  {"replace", "Заменить план на эту дату"}};
  return modes;
}

std::vector<PublicationMode> offeredModes(const JSONValue& existing) {
  std::vector<PublicationMode> offered;
  for (const PublicationMode& mode : publicationModes())
    if (std::string_view(mode.tag) != "replace" || !existing["hasActivity"].boolValue()) offered.push_back(mode);
  return offered;
}

std::string existingPlansPath(const std::string& routeDate) {
  return "/plans/existing?date=" + encodePathComponent(routeDate);
}

std::string publicationSummary(std::size_t routes, const std::string& routeDate) {
  return std::to_string(routes) + " маршрутов · " + routeDate;
}

std::string serverLine(const JSONValue& existing) {
  return "На сервере: " + std::to_string(existing["routes"].intValue()) +
         ". С отметками курьеров: " + std::to_string(existing["started"].intValue()) + ".";
}

std::vector<std::string> valuesSentEmpty(const JSONValue& planner) {
  std::vector<std::string> values;
  const JSONArray& orders = planner["orders"].array();
  for (const JSONValue& route : planner["routes"].array()) {
    for (const JSONValue& index : route["orders"].array()) {
      const std::optional<double> at = index.doubleValue();
      if (!at || *at < 0 || *at >= static_cast<double>(orders.size())) continue;
      const JSONValue& order = orders[static_cast<std::size_t>(*at)];
      for (const UnreadValue& value : unreadValues(order))
        values.push_back(orderLabel(order) + " — «" + value.column + "»: «" + value.text + "»");
    }
  }
  return values;
}

PublicationWork publicationWork(const std::shared_ptr<AppModel>& model) {
  PublicationWork work;
  work.fetch = [model](std::string path) { return model->fetch(std::move(path), "GET"); };
  work.publish = [model](std::string mode) { return model->publishPlan(std::move(mode)); };
  return work;
}

std::shared_ptr<Publication> Publication::create(PublicationWork work) {
  return std::shared_ptr<Publication>(new Publication(std::move(work)));
}

Publication::Phase Publication::phase() const {
  if (existing_.isNull()) return busy_ ? Phase::checking : Phase::checkFailed;
  return busy_ ? Phase::sending : Phase::ready;
}

void Publication::setMode(const std::string& mode) {
  if (mode == mode_) return;
  for (const PublicationMode& offered : offeredModes(existing_)) {
    if (mode == offered.tag) {
      mode_ = mode;
      notify(Change::mode);
      return;
    }
  }
}

void Publication::setSentEmpty(std::vector<std::string> values) {
  if (values == sentEmpty_) return;
  sentEmpty_ = std::move(values);
  confirmed_ = false;
  notify(Change::confirmation);
}

void Publication::setConfirmed(bool confirmed) {
  if (confirmed == confirmed_) return;
  confirmed_ = confirmed;
  notify(Change::confirmation);
}

void Publication::setIssue(std::optional<std::string> issue) {
  issue_ = std::move(issue);
  notify(Change::issue);
}

void Publication::setBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  notify(Change::busy);
}

void Publication::check(const std::string& routeDate) {
  async::spawn(runCheck(shared_from_this(), existingPlansPath(routeDate), checkToken_), checkToken_);
}

async::Task<void> Publication::runCheck(std::shared_ptr<Publication> self, std::string path, async::CancelToken token) {
  JSONValue answer;
  std::exception_ptr failure;
  try {
    async::Task<JSONValue> fetch = self->work_.fetch(std::move(path));
    answer = co_await std::move(fetch);
  } catch (...) {
    failure = std::current_exception();
  }
  if (token.isCancelled()) co_return;
  if (failure) {
    // A cancelled check (the workspace changed) shows nothing: the dialog only waits for "Отмена".
    if (std::optional<std::string> text = failureText(failure)) self->setIssue(std::move(text));
  } else {
    // An empty answer reads as a date with nothing published.
    self->existing_ = answer.isNull() ? JSONValue(JSONObject{}) : std::move(answer);
    self->notify(Change::existing);
  }
  self->setBusy(false);
}

void Publication::send() {
  if (!canSend()) return;
  // Busy before anything is awaited: a second press finds the button disabled.
  setBusy(true);
  async::spawn(runSend(shared_from_this(), mode_));
}

async::Task<void> Publication::runSend(std::shared_ptr<Publication> self, std::string mode) {
  std::exception_ptr failure;
  try {
    async::Task<void> publish = self->work_.publish(std::move(mode));
    co_await std::move(publish);
  } catch (...) {
    failure = std::current_exception();
  }
  if (!failure) {
    self->notify(Change::dismissed);
  } else if (std::optional<std::string> text = failureText(failure)) {
    if (outcomeUnknown(failure)) *text += std::string(" ") + kOutcomeUnknown;
    self->setIssue(std::move(text));
  }
  self->setBusy(false);
}

void Publication::close() { checkToken_.cancel(); }

}  // namespace dorvik::planning
