#include "planning/logic/order_editor.h"

#include <cctype>
#include <cmath>
#include <exception>
#include <utility>

#include "core/api/failure.h"
#include "core/base/errors.h"
#include "planning/logic/plan_checks.h"

namespace dorvik::planning {

namespace {

using Kind = FieldSpec::Kind;

const char* const kManual = "manual";

}  // namespace

const std::vector<FieldSpec>& orderFields() {
  static const std::vector<FieldSpec> fields{
      {"id", "Номер заказа", Kind::text, true},
      {"title", "Клиент", Kind::text, false},
      {"address", "Адрес", Kind::text, true},
      {"phone", "Телефон", Kind::text, false},
      {"window", "Временное окно, 09:00-18:00", Kind::text, false},
      {"units", "Количество мест", Kind::number, false},
      {"lat", "Широта", Kind::number, false},
      {"lon", "Долгота", Kind::number, false},
      {"hardWindow", "Строгое временное окно", Kind::text, false},
      {"serviceS", "Обслуживание заказа, секунд", Kind::number, false},
      {"sharedS", "Общее время на адресе, секунд", Kind::number, false},
      {"comments", "Комментарий логиста", Kind::longText, false},
      {"instructions", "Инструкция курьеру", Kind::longText, false},
  };
  return fields;
}

JSONValue newOrder() {
  std::string digits = randomUUID().substr(0, 8);
  for (char& c : digits) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return JSONValue::object({{"id", "NEW-" + digits}, {"window", "09:00-18:00"}});
}

std::optional<JSONValue> acceptedLookup(const std::string& address, const JSONValue& result) {
  const JSONValue& found = result["found"];
  const std::optional<double> lat = found["lat"].doubleValue();
  const std::optional<double> lon = found["lon"].doubleValue();
  if (!lat || !lon || !std::isfinite(*lat) || !std::isfinite(*lon) || found["qc"].string() != "0") return std::nullopt;
  const JSONValue& provider = result["provider"];
  return JSONValue::object({{"address", address},
                            {"lat", *lat},
                            {"lon", *lon},
                            {"source", provider},
                            {"qc", provider.string() == kManual ? kManual : "0"},
                            {"found", found["address"]}});
}

ErrorWatch::ErrorWatch(AppModel& model) {
  connection_ = model.observe([raised = raised_, &model](AppModel::Property property) {
    if (property == AppModel::Property::error && model.error()) *raised = model.error();
  });
}

namespace {

async::Task<ChangeOutcome> saveOrder(std::shared_ptr<AppModel> model, std::optional<std::string> nativeID,
                                     JSONValue patch) {
  ErrorWatch watch(*model);
  bool applied = false;
  if (nativeID) {
    async::Task<bool> change = model->patchOrder(*nativeID, std::move(patch));
    applied = co_await std::move(change);
  } else {
    async::Task<bool> change = model->mutate("addOrder", JSONValue::object({{"order", std::move(patch)}}));
    applied = co_await std::move(change);
  }
  co_return ChangeOutcome{applied, applied ? std::nullopt : watch.raised()};
}

}  // namespace

OrderEditorWork orderEditorWork(const std::shared_ptr<AppModel>& model) {
  OrderEditorWork work;
  work.lookup = [model](std::string address) { return model->lookup(std::move(address), false); };
  work.save = [model](std::optional<std::string> nativeID, JSONValue patch) {
    return saveOrder(model, std::move(nativeID), std::move(patch));
  };
  work.remember = [model](std::string address, double lat, double lon, std::string source, std::string name) {
    return model->remember(std::move(address), lat, lon, std::move(source), std::move(name), true, true);
  };
  return work;
}

JSONValue OrderEditor::changes(const JSONValue& original, const JSONValue& draft, const JSONValue& resolution) {
  JSONValue patch = validated(draft, orderFields(), true);
  const std::optional<double> lat = patch["lat"].doubleValue();
  const std::optional<double> lon = patch["lon"].doubleValue();
  if (lat.has_value() != lon.has_value() || (lat && (std::fabs(*lat) > 90 || std::fabs(*lon) > 180)))
    throw DorvikError(kCoordinatePairMessage);
  const bool coordinatesChanged = lat != original["lat"].doubleValue() || lon != original["lon"].doubleValue();
  const auto provenance = [&patch](JSONValue source, JSONValue qc, JSONValue found) {
    patch.set("source", std::move(source));
    patch.set("qc", std::move(qc));
    patch.set("found", std::move(found));
    return patch;
  };

  // Coordinates of an accepted search for this very address.
  if (lat && resolution["address"] == patch["address"] && resolution["lat"].isNumber() &&
      resolution["lon"].isNumber() && resolution["lat"].doubleValue() == lat && resolution["lon"].doubleValue() == lon)
    return provenance(resolution["source"], resolution["qc"], resolution["found"]);
  // An address edited without new coordinates has to be located again. The texts are compared, so an address the
  // plan keeps in another type reads as unchanged when its text is.
  if (!original.isNull() && !coordinatesChanged &&
      !canonicallyEqual(patch["address"].string(), original["address"].string())) {
    patch.set("lat", nullptr);
    patch.set("lon", nullptr);
    return provenance(nullptr, nullptr, nullptr);
  }
  if (!lat) return provenance(nullptr, nullptr, nullptr);
  if (coordinatesChanged || original.isNull()) return provenance(kManual, kManual, patch["address"]);
  return provenance(original["source"], original["qc"], original["found"]);
}

std::shared_ptr<OrderEditor> OrderEditor::create(JSONValue order, OrderEditorWork work) {
  return std::shared_ptr<OrderEditor>(new OrderEditor(std::move(order), std::move(work)));
}

namespace {

// The form's values of an order: a number the import could not read shows as it was typed (the order holds no
// value for it), so that saving asks for a number, or for the field to be emptied on purpose.
JSONValue formValues(const JSONValue& order) {
  JSONValue values = order;
  for (const UnreadValue& unread : unreadValues(order)) {
    for (const FieldSpec& field : orderFields()) {
      if (field.key == unread.key && field.kind == Kind::number && order[field.key].isNull())
        values.set(field.key, unread.text);
    }
  }
  return values;
}

}  // namespace

OrderEditor::OrderEditor(JSONValue order, OrderEditorWork work)
    : order_(std::move(order)),
      work_(std::move(work)),
      value_(std::make_shared<JSONValue>(order_.isNull() ? newOrder() : formValues(order_))) {}

void OrderEditor::setIssue(std::optional<std::string> issue) {
  issue_ = std::move(issue);
  notify(Change::issue);
}

void OrderEditor::setBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  notify(Change::busy);
}

void OrderEditor::search() {
  if (busy_) return;
  const JSONValue& value = *value_;
  async::CancelToken token;
  lookupToken_ = token;
  setBusy(true);
  async::spawn(runSearch(shared_from_this(), value["address"].string(), value["lat"], value["lon"], token), token);
}

async::Task<void> OrderEditor::runSearch(std::shared_ptr<OrderEditor> self, std::string address, JSONValue lat,
                                         JSONValue lon, async::CancelToken token) {
  JSONValue result;
  std::exception_ptr failure;
  try {
    async::Task<JSONValue> lookup = self->work_.lookup(address);
    result = co_await std::move(lookup);
  } catch (...) {
    failure = std::current_exception();
  }
  if (token.isCancelled() || (failure && isCancellation(failure))) {
    self->setIssue(kSearchStoppedMessage);
  } else if (failure) {
    self->setIssue(failureText(failure));
  } else {
    JSONValue& value = *self->value_;
    // Typing while the search ran wins over its answer.
    if (value["address"].string() == address && value["lat"] == lat && value["lon"] == lon) {
      if (std::optional<JSONValue> accepted = acceptedLookup(address, result)) {
        value.set("lat", (*accepted)["lat"]);
        value.set("lon", (*accepted)["lon"]);
        self->resolution_ = std::move(*accepted);
        self->notify(Change::value);
        self->setIssue(std::nullopt);
      } else {
        self->setIssue(kNoExactAddressMessage);
      }
    }
  }
  self->lookupToken_.reset();
  self->setBusy(false);
}

void OrderEditor::stopSearch() {
  if (lookupToken_) lookupToken_->cancel();
}

void OrderEditor::close() { stopSearch(); }

void OrderEditor::save() {
  if (busy_) return;
  JSONValue patch;
  try {
    patch = changes(order_, *value_, resolution_);
  } catch (...) {
    setIssue(failureText(std::current_exception()));
    return;
  }
  setBusy(true);
  async::spawn(runSave(shared_from_this(), std::move(patch)));
}

async::Task<void> OrderEditor::runSave(std::shared_ptr<OrderEditor> self, JSONValue patch) {
  std::optional<std::string> nativeID;
  if (!self->order_.isNull()) nativeID = self->order_["_nativeID"].string();
  ChangeOutcome outcome;
  std::exception_ptr failure;
  try {
    async::Task<ChangeOutcome> change = self->work_.save(std::move(nativeID), patch);
    outcome = co_await std::move(change);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure || !outcome.applied) {
    self->setBusy(false);
    if (failure) {
      if (std::optional<std::string> text = failureText(failure)) self->setIssue(std::move(text));
    } else {
      self->setIssue(outcome.error.value_or(kOrderChangedMessage));
    }
    co_return;
  }
  const JSONValue& lat = patch["lat"];
  const JSONValue& lon = patch["lon"];
  if (lat.isNumber() && lon.isNumber()) {
    try {
      async::Task<void> remember =
          self->work_.remember(patch["address"].string(), *lat.doubleValue(), *lon.doubleValue(),
                               patch["source"].string(), patch["title"].string());
      co_await std::move(remember);
    } catch (...) {
      // The address memory reports its own failures; the order is saved either way.
    }
  }
  self->setBusy(false);
  self->notify(Change::dismissed);
}

}  // namespace dorvik::planning
