#include "model/app_model.h"

#include <glib.h>

#include <stdexcept>

#include "core/api/failure.h"
#include "core/base/map_point.h"

namespace dorvik {

namespace {
const char* const kConnectionRestored = "Связь с сервером восстановлена.";
const char* const kIndexFailed =
    "Не удалось подготовить адреса компании: поиск координат недоступен, пока справочники не обновятся";
}  // namespace

std::string randomUUID() {
  gchar* text = g_uuid_string_random();
  std::string uuid(text);
  g_free(text);
  return uuid;
}

AppModel::AppModel()
    : nextGeocodingRequest_(async::Clock::now()), date_(std::chrono::system_clock::now()), generation_(randomUUID()) {}

AppModel::~AppModel() = default;

void AppModel::notify(Property property) { observers_.notify(property); }

void AppModel::setFlag(Flag& flag, bool value, Property property) {
  bool before = flagSet(flag);
  flag.on = value;
  flag.generation = generation_;
  if (before != value) notify(property);
}

AppModel::Flag& AppModel::flagOf(Property property) {
  switch (property) {
    case Property::busy:
      return busy_;
    case Property::geocoding:
      return geocoding_;
    case Property::savingHistory:
      return savingHistory_;
    case Property::syncingAddresses:
      return syncingAddresses_;
    case Property::loadingMapConfiguration:
      return loadingMapConfiguration_;
    default:
      break;
  }
  throw std::logic_error("not a workflow flag");
}

AppModel::FlagHold::FlagHold(AppModel& model, Property flag)
    : model_(model), flag_(flag), generation_(model.generation_) {
  model_.setFlag(model_.flagOf(flag_), true, flag_);
}

AppModel::FlagHold::~FlagHold() {
  if (model_.generation_ == generation_) model_.setFlag(model_.flagOf(flag_), false, flag_);
}

void AppModel::report(const std::exception_ptr& failure) {
  if (std::optional<std::string> text = failureText(failure)) setError(std::move(text));
}

void AppModel::setPage(std::optional<PanelPage> value) { assign(page_, value, Property::page); }
void AppModel::setUser(JSONValue value) {
  if (user_ == value) return;
  user_ = std::move(value);
  // The page an earlier profile left open is never shown to a role that does not see it: planning stands in.
  const bool hidden = page_ && !user_.isNull() && !pageShownTo(*page_, user_["role"].string());
  if (hidden) page_ = PanelPage::planning;
  notify(Property::user);
  if (hidden) notify(Property::page);
}
void AppModel::setPasswordChangeProfile(JSONValue value) {
  assign(passwordChangeProfile_, std::move(value), Property::passwordChangeProfile);
}
void AppModel::setPlanner(JSONValue value) { assign(planner_, std::move(value), Property::planner); }
void AppModel::setDepots(std::vector<Record> value) { assign(depots_, std::move(value), Property::depots); }
void AppModel::setAddresses(std::vector<JSONValue> value) { assign(addresses_, std::move(value), Property::addresses); }
void AppModel::setAddressIndex(std::map<std::string, JSONValue> value) {
  assign(addressIndex_, std::move(value), Property::addressIndex);
}
void AppModel::installAddressIndex(const async::Outcome<JSONValue>& built) {
  if (built) {
    addressIndexFailure_.reset();
    std::map<std::string, JSONValue> index;
    for (const auto& [key, value] : built->object()) index.emplace(key, value);
    setAddressIndex(std::move(index));
    return;
  }
  addressIndexFailure_ = failureText(built.failure()).value_or(std::string());
  setAddressIndex({});
  setError(std::string(kIndexFailed) + " (" + *addressIndexFailure_ + ")");
}
void AppModel::setZones(std::vector<JSONValue> value) { assign(zones_, std::move(value), Property::zones); }
void AppModel::setPendingAddresses(std::map<std::string, JSONValue> value) {
  assign(pendingAddresses_, std::move(value), Property::pendingAddresses);
}
void AppModel::setPendingAddress(const std::string& key, JSONValue entry) {
  auto [slot, inserted] = pendingAddresses_.try_emplace(key, entry);
  if (!inserted) {
    if (slot->second == entry) return;
    slot->second = std::move(entry);
  }
  notify(Property::pendingAddresses);
}
void AppModel::setGeocodingTotal(std::int64_t value) { assign(geocodingTotal_, value, Property::geocodingTotal); }
void AppModel::setGeocodingCompleted(std::int64_t value) {
  assign(geocodingCompleted_, value, Property::geocodingCompleted);
}
void AppModel::setGeocodingFound(std::int64_t value) { assign(geocodingFound_, value, Property::geocodingFound); }
void AppModel::setGeocodingReview(std::int64_t value) { assign(geocodingReview_, value, Property::geocodingReview); }
void AppModel::setGeocodingStopping(bool value) { assign(geocodingStopping_, value, Property::geocodingStopping); }
void AppModel::setOffline(bool value) {
  // The server answering again in a signed-in workspace is news of its own: whatever the status said of the lost
  // connection no longer holds.
  const bool restored = offline_ && !value && !user_.isNull() && !preview_;
  assign(offline_, value, Property::offline);
  if (restored) setStatus(kConnectionRestored);
}
void AppModel::setPreview(bool value) { assign(preview_, value, Property::preview); }
void AppModel::setError(std::optional<std::string> value) { assign(error_, std::move(value), Property::error); }
void AppModel::setStatus(std::string value) { assign(status_, std::move(value), Property::status); }
void AppModel::setDate(TimePoint value) { assign(date_, value, Property::date); }
void AppModel::setSelectedOrders(std::set<std::string> value) {
  assign(selectedOrders_, std::move(value), Property::selectedOrders);
}
void AppModel::setCatalogCount(std::int64_t value) { assign(catalogCount_, value, Property::catalogCount); }
void AppModel::setHistory(std::vector<JSONValue> value) { assign(history_, std::move(value), Property::history); }
void AppModel::setMapConfiguration(JSONValue value) {
  assign(mapConfiguration_, std::move(value), Property::mapConfiguration);
}
void AppModel::setMapIssue(std::optional<std::string> value) {
  assign(mapIssue_, std::move(value), Property::mapIssue);
}
void AppModel::setEditRevisions(std::map<std::string, std::int64_t> value) {
  assign(editRevisions_, std::move(value), Property::editRevisions);
}

const std::string& AppModel::replaceGeneration() {
  bool flagsBefore[] = {busy(), geocoding(), savingHistory(), syncingAddresses(), loadingMapConfiguration()};
  // The workflows of the old workspace end at their next await.
  workspace_.cancel();
  workspace_ = async::CancelToken();
  generation_ = randomUUID();
  notify(Property::generation);
  // Flags of the old workspace now read as clear.
  const Property flags[] = {Property::busy, Property::geocoding, Property::savingHistory, Property::syncingAddresses,
                            Property::loadingMapConfiguration};
  for (int i = 0; i < 5; ++i) {
    if (flagsBefore[i]) notify(flags[i]);
  }
  return generation_;
}

// The handles have no equality: every write notifies.
void AppModel::setEngine(std::shared_ptr<PlannerEngine> value) {
  engine_ = std::move(value);
  notify(Property::engine);
}
void AppModel::setApi(std::shared_ptr<APIClient> value) {
  api_ = std::move(value);
  notify(Property::api);
}
void AppModel::setCache(std::shared_ptr<EncryptedCache> value) {
  cache_ = std::move(value);
  notify(Property::cache);
}
void AppModel::setPendingPublication(std::optional<PendingPublication> value) {
  pendingPublication_ = std::move(value);
  notify(Property::pendingPublication);
}

std::int64_t AppModel::incrementMutation() {
  ++mutation_;
  notify(Property::mutation);
  return mutation_;
}

std::vector<Record> AppModel::orders() const {
  std::vector<Record> rows;
  for (const auto& order : planner_["orders"].array()) rows.emplace_back(order, order["_nativeID"].string());
  return rows;
}

std::vector<std::string> AppModel::orderIDs() const {
  std::vector<std::string> ids;
  for (const auto& order : planner_["orders"].array()) ids.push_back(order["_nativeID"].string());
  return ids;
}

std::vector<Record> AppModel::routes() const {
  std::vector<Record> rows;
  for (const auto& route : planner_["routes"].array()) rows.emplace_back(route, route["ci"].string());
  return rows;
}

std::int64_t AppModel::missingCoordinates() const {
  std::int64_t missing = 0;
  for (const auto& order : planner_["orders"].array()) {
    if (!MapPoint::from(order)) ++missing;
  }
  return missing;
}

}  // namespace dorvik
