#include "admin/logic/integrations.h"

#include <utility>

#include "core/api/failure.h"
#include "model/app_model.h"

namespace dorvik::admin {

namespace {

// Members of the document that the edited settings carry over unchanged.
constexpr std::string_view kCopied[] = {"geocoder", "styleId", "isDemo"};
// Key members in the order a save looks at them.
constexpr IntegrationKey kKeys[] = {IntegrationKey::dadata, IntegrationKey::routing, IntegrationKey::map};

const char* const kSaved = "Настройки сохранены.";
const char* const kRoutingWorks = "Ключ маршрутизации 2ГИС работает.";

}  // namespace

std::string_view keyMember(IntegrationKey key) {
  switch (key) {
    case IntegrationKey::dadata:
      return "dadataToken";
    case IntegrationKey::routing:
      return "routingKey";
    case IntegrationKey::map:
      return "mapKey";
  }
  return "";
}

std::string keyStatus(const JSONValue& document, IntegrationKey key) {
  const JSONValue& member = document[keyMember(key)];
  const bool configured = member["configured"].boolValue();
  const std::string masked = member["masked"].string();
  switch (key) {
    case IntegrationKey::dadata:
      return configured ? "Ключ DaData настроен: " + masked : "Ключ DaData не задан";
    case IntegrationKey::routing:
      return configured ? "Маршрутизация: " + masked : "Ключ маршрутизации не задан";
    case IntegrationKey::map:
      return configured ? "Карта: " + masked : "Ключ карты не задан";
  }
  return "";
}

std::string catalogText(std::int64_t count) {
  return "Локальный каталог: " + std::to_string(count) + " адресов. Сохранённые исправления используются первыми.";
}

std::optional<std::size_t> geocoderChoice(const JSONValue& value) {
  const JSONValue& geocoder = value["geocoder"];
  if (!geocoder.isString()) return std::nullopt;
  for (std::size_t i = 0; i < std::size(kGeocoderOptions); ++i)
    if (geocoder.string() == kGeocoderOptions[i].code) return i;
  return std::nullopt;
}

JSONValue editedSettings(const JSONValue& document) {
  JSONValue value = JSONValue::object({});
  for (std::string_view member : kCopied) value.set(member, document[member]);
  return value;
}

JSONValue settingsBody(const JSONValue& value) {
  JSONValue body = value.isObject() ? value : JSONValue::object({});
  for (IntegrationKey key : kKeys)
    if (body[keyMember(key)].string().empty()) body.erase(keyMember(key));
  return body;
}

JSONValue routingTestBody(const JSONValue& value) {
  const JSONValue& typed = value[keyMember(IntegrationKey::routing)];
  if (typed.string().empty()) return JSONValue::object({});
  return JSONValue::object({{keyMember(IntegrationKey::routing), typed}});
}

JSONValue clearingBody() {
  return JSONValue::object({{"mapKey", JSONValue()},
                            {"routingKey", JSONValue()},
                            {"dadataToken", JSONValue()},
                            {"styleId", JSONValue()},
                            {"isDemo", false}});
}

IntegrationsGateway integrationsGateway(const std::shared_ptr<AppModel>& model) {
  IntegrationsGateway gateway;
  gateway.admin = modelGateway(model);
  std::weak_ptr<AppModel> weak = model;
  gateway.setStatus = [weak](std::string text) {
    if (auto m = weak.lock()) m->setStatus(std::move(text));
  };
  gateway.withdrawStatus = [weak](std::string text) {
    auto m = weak.lock();
    if (m && m->status() == text) m->setStatus("");
  };
  gateway.loadMapConfiguration = [model](bool force) { return model->loadMapConfiguration(force); };
  return gateway;
}

std::shared_ptr<IntegrationsController> IntegrationsController::create(IntegrationsGateway gateway) {
  return std::shared_ptr<IntegrationsController>(new IntegrationsController(std::move(gateway)));
}

IntegrationsController::IntegrationsController(IntegrationsGateway gateway) : gateway_(std::move(gateway)) {}

void IntegrationsController::follow() {
  if (!loads_) return;
  const std::string generation = gateway_.admin.generation ? gateway_.admin.generation() : std::string();
  if (loads_->key() && *loads_->key() != generation) {
    // Another workspace (perhaps another depot): nothing of the previous one is shown or sent back, nor confirmed.
    withdraw(kSaved);
    withdraw(kRoutingWorks);
    data_ = JSONValue();
    *value_ = JSONValue();
    setIssue(std::nullopt);
    notify(Change::data);
    notify(Change::value);
  }
  std::weak_ptr<IntegrationsController> weak = weak_from_this();
  loads_->run(generation, [weak] { return runLoad(weak); });
}

async::Task<void> IntegrationsController::runLoad(std::weak_ptr<IntegrationsController> screen) {
  AdminGateway gateway;
  std::string generation;
  {
    auto self = screen.lock();
    if (!self) co_return;
    gateway = self->gateway_.admin;
    generation = gateway.generation ? gateway.generation() : std::string();
  }
  std::optional<JSONValue> answer;
  std::exception_ptr failure;
  try {
    answer = co_await gateway.fetch(std::string(kIntegrationsPath), "GET", std::nullopt);
  } catch (...) {
    failure = std::current_exception();
  }
  auto self = screen.lock();
  if (!self) co_return;
  // An answer for an older workspace is no outcome, nor is a cancellation.
  if ((gateway.generation ? gateway.generation() : std::string()) != generation) co_return;
  if (!answer) {
    self->fail(failure);
    co_return;
  }
  self->data_ = std::move(*answer);
  *self->value_ = editedSettings(self->data_);
  self->setIssue(std::nullopt);
  self->notify(Change::data);
  self->notify(Change::value);
}

void IntegrationsController::close() {
  loads_.reset();
  withdraw(kSaved);
  withdraw(kRoutingWorks);
}

void IntegrationsController::chooseGeocoder(std::size_t option) {
  if (option >= std::size(kGeocoderOptions)) return;
  value_->set("geocoder", kGeocoderOptions[option].code);
  notify(Change::value);
}

void IntegrationsController::setDemoKey(bool on) {
  value_->set("isDemo", on);
  notify(Change::value);
}

bool IntegrationsController::mayWrite() const { return admin::mayWrite(gateway_.admin, PanelPage::integrations); }

bool IntegrationsController::canWrite() const {
  return !busy_ && gateway_.admin.canWriteServer && gateway_.admin.canWriteServer() && mayWrite();
}

bool IntegrationsController::canTest() const { return !(gateway_.admin.offline && gateway_.admin.offline()); }

void IntegrationsController::save() {
  if (!canWrite()) return;
  setBusy(true);
  async::spawn(runSave(shared_from_this(), settingsBody(*value_), kSaved));
}

void IntegrationsController::clearKeys() {
  if (!canWrite()) return;
  setBusy(true);
  async::spawn(runSave(shared_from_this(), clearingBody(), ""));
}

async::Task<void> IntegrationsController::runSave(std::shared_ptr<IntegrationsController> self, JSONValue body,
                                                  std::string status) {
  // A new routing key, or none any more: what the key test confirmed no longer holds once this is stored.
  const bool routingChanged = body.contains("routingKey");
  std::exception_ptr failure;
  try {
    async::Task<JSONValue> request =
        self->gateway_.admin.fetch(std::string(kIntegrationsPath), "PATCH", std::move(body));
    co_await std::move(request);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    // Everything typed stays in the form, and an earlier "saved" no longer reads as this write's outcome; a lost
    // answer may still have stored it.
    self->withdraw(kSaved);
    if (std::optional<std::string> text = writeFailureText(failure)) self->setIssue(std::move(text));
    self->setBusy(false);
    co_return;
  }
  if (routingChanged) self->withdraw(kRoutingWorks);
  if (!status.empty() && self->gateway_.setStatus) self->gateway_.setStatus(std::move(status));
  // The map takes up the new key and style; then the screen shows what the server holds now.
  if (self->gateway_.loadMapConfiguration) {
    async::Task<void> map = self->gateway_.loadMapConfiguration(true);
    co_await std::move(map);
  }
  co_await runLoad(self);
  self->setBusy(false);
}

void IntegrationsController::testRoutingKey() {
  if (!canTest()) return;
  async::spawn(runTest(shared_from_this(), routingTestBody(*value_)));
}

async::Task<void> IntegrationsController::runTest(std::shared_ptr<IntegrationsController> self, JSONValue body) {
  std::exception_ptr failure;
  try {
    async::Task<JSONValue> request = self->gateway_.admin.fetch(std::string(kRoutingTestPath), "POST", std::move(body));
    co_await std::move(request);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    self->withdraw(kRoutingWorks);
    self->fail(failure);
  } else if (self->gateway_.setStatus) {
    self->gateway_.setStatus(kRoutingWorks);
  }
}

void IntegrationsController::fail(std::exception_ptr failure) {
  if (std::optional<std::string> text = failureText(failure)) setIssue(std::move(text));
}

void IntegrationsController::withdraw(const char* confirmation) {
  if (gateway_.withdrawStatus) gateway_.withdrawStatus(confirmation);
}

void IntegrationsController::setIssue(std::optional<std::string> text) {
  if (issue_ == text) return;
  issue_ = std::move(text);
  notify(Change::issue);
}

void IntegrationsController::setBusy(bool on) {
  if (busy_ == on) return;
  busy_ = on;
  notify(Change::busy);
}

}  // namespace dorvik::admin
