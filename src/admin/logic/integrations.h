// IntegrationsController: the outside services of the user's depot — the 2GIS routing and map keys with the map
// style and the demo-key flag, the DaData key and the order of address lookups. The settings are one document on
// the server; the screen reads it, lets the user type new keys, tests a routing key, saves and clears the depot's
// own keys.
//
// The client never holds a stored key: the document gives only whether each key is set and a masked form for the
// status lines. The edited settings (`value`) start as the document's geocoder, style and demo flag; a key is sent
// only when the user typed one, and nothing typed is written to a log or the workspace cache (writes are never
// cached).
//
// Main thread only. The load runs keyed by the workspace and holds the controller weakly; a save, test or clearing
// holds it until it ends (its status message and the map's new settings still apply after the screen has gone).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "admin/logic/admin_gateway.h"
#include "admin/logic/keyed_task.h"
#include "core/base/observers.h"
#include "core/json/json_value.h"

namespace dorvik::admin {

inline constexpr std::string_view kIntegrationsPath = "/integrations/settings";
inline constexpr std::string_view kRoutingTestPath = "/integrations/2gis/test";

// The three keys of the document, each {"configured", "masked"} there and a typed text in the edited settings.
enum class IntegrationKey { dadata, routing, map };
std::string_view keyMember(IntegrationKey key);

// The status line of a key: its masked form when the document says it is configured (read leniently: true, a
// non-zero number, or a text reading as one), else the "не задан" line.
std::string keyStatus(const JSONValue& document, IntegrationKey key);
// "Локальный каталог: N адресов. ..."
std::string catalogText(std::int64_t count);

// The order of address lookups: the picker's options and the codes they stand for.
struct GeocoderOption {
  const char* title;
  const char* code;
};
inline constexpr GeocoderOption kGeocoderOptions[] = {
    {"OpenStreetMap, затем DaData", "auto"}, {"Только OpenStreetMap", "osm"}, {"Только DaData", "dadata"}};
// The option the edited settings name; none for any other value (which is then sent back unchanged).
std::optional<std::size_t> geocoderChoice(const JSONValue& value);

// The edited settings after a load: the document's "geocoder", "styleId" and "isDemo", unchanged (null when
// missing).
JSONValue editedSettings(const JSONValue& document);
// What a save sends: the edited settings less each key member whose text is empty; always an object.
JSONValue settingsBody(const JSONValue& value);
// What the routing key test sends: {} when no routing key is typed, else the typed text unchanged.
JSONValue routingTestBody(const JSONValue& value);
// What clearing the depot's own keys sends.
JSONValue clearingBody();

// What the integrations screen needs of the application model beyond the data screens' gateway.
struct IntegrationsGateway {
  AdminGateway admin;
  std::function<void(std::string)> setStatus;
  // Takes a confirmation back from the status strip, unless another one has replaced it since.
  std::function<void(std::string)> withdrawStatus;
  std::function<async::Task<void>(bool force)> loadMapConfiguration;
};
IntegrationsGateway integrationsGateway(const std::shared_ptr<AppModel>& model);

class IntegrationsController : public std::enable_shared_from_this<IntegrationsController> {
 public:
  enum class Change { data, value, issue, busy };
  using Connection = Observers<Change>::Connection;

  static std::shared_ptr<IntegrationsController> create(IntegrationsGateway gateway);
  IntegrationsController(const IntegrationsController&) = delete;
  IntegrationsController& operator=(const IntegrationsController&) = delete;

  [[nodiscard]] Connection observe(std::function<void(Change)> observer) {
    return observers_.observe(std::move(observer));
  }

  // Loads the document for the current workspace; again only when the workspace changed (a new workspace starts
  // from nothing loaded). The screen calls it when shown and on every workspace change.
  void follow();
  // The screen has gone: the load in flight stops, and its confirmations leave the status strip.
  void close();

  // The document as last loaded (the status lines read it).
  const JSONValue& data() const { return data_; }
  // The edited settings, shared with the form's fields that write into them.
  const std::shared_ptr<JSONValue>& value() const { return value_; }
  const std::optional<std::string>& issue() const { return issue_; }
  bool busy() const { return busy_; }

  std::string status(IntegrationKey key) const { return keyStatus(data_, key); }
  std::optional<std::size_t> geocoder() const { return geocoderChoice(*value_); }
  void chooseGeocoder(std::size_t option);
  bool demoKey() const { return (*value_)["isDemo"].boolValue(); }
  void setDemoKey(bool on);

  // The server takes the settings only from an administrator: for anyone else the form's fields and both write
  // buttons stand disabled (the key test, which changes nothing, stays).
  bool mayWrite() const;
  // "Сохранить настройки" and "Очистить ключи склада".
  bool canWrite() const;
  // "Проверить ключ 2ГИС".
  bool canTest() const;

  void save();
  void testRoutingKey();
  // The confirmed clearing of the depot's own keys.
  void clearKeys();

 private:
  explicit IntegrationsController(IntegrationsGateway gateway);
  static async::Task<void> runLoad(std::weak_ptr<IntegrationsController> screen);
  static async::Task<void> runSave(std::shared_ptr<IntegrationsController> self, JSONValue body, std::string status);
  static async::Task<void> runTest(std::shared_ptr<IntegrationsController> self, JSONValue body);
  void fail(std::exception_ptr failure);
  void withdraw(const char* confirmation);
  void setIssue(std::optional<std::string> text);
  void setBusy(bool on);
  void notify(Change change) { observers_.notify(change); }

  IntegrationsGateway gateway_;
  JSONValue data_;
  std::shared_ptr<JSONValue> value_ = std::make_shared<JSONValue>();
  std::optional<std::string> issue_;
  bool busy_ = false;
  std::unique_ptr<KeyedTask> loads_ = std::make_unique<KeyedTask>();
  Observers<Change> observers_;
};

}  // namespace dorvik::admin
