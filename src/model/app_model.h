// AppModel: the one observable object of the application. It holds what the main window shows and every handle
// the workflows need; the workflows themselves are operations of this object, kept in files by workflow
// (session, gateway, addresses, geocoding, planning, history, publication, workbooks, transfers).
//
// Bound to the main thread: every read and write happens there. Observers learn of a property's change after it
// is stored; writing a value equal to the stored one notifies nobody, except for the three service handles and the
// pending publication, which notify on every write, and the mutation counter, which notifies on every increment.
//
// Two rules guard every workflow that waits:
//  - generation: replaced exactly when the workspace changes (demo, password-change profile, workspace entry,
//    sign-out, depot switch), and with it the workspace's cancellation token, which the change cancels. A
//    workflow enters the workspace's scope (`co_await workspaceScope();`) before its first wait: a workspace
//    change then ends it at its next await, so no result of an older workspace is installed. It ends by
//    CancelledError, or quietly (ScopeEnd::quiet) where its callers expect an empty answer (false, none).
//  - mutation: every plan change increments it before handing its action to the engine; only the change whose
//    token is still current (and whose workspace is unchanged) installs its result.
//
// The workflow flags (busy, geocoding, savingHistory, syncingAddresses, loadingMapConfiguration) are stored with
// the generation that set them: a flag set for an older workspace reads as clear, so no flag can stay stuck after a
// workspace change. A workflow that changes the generation itself sets its flag again afterwards.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/async/attempt.h"
#include "core/async/cancel_token.h"
#include "core/async/sleep.h"
#include "core/async/task.h"
#include "core/base/observers.h"
#include "core/json/json_value.h"
#include "model/panel_page.h"

namespace dorvik {

class PlannerEngine;
class APIClient;
class EncryptedCache;
class FileDialogs;

// A publication sent but not yet confirmed by the server; a retry in the same mode reuses body and key.
struct PendingPublication {
  JSONValue payload;
  std::string mode;
  std::string key;
};

class AppModel : public std::enable_shared_from_this<AppModel> {
 public:
  enum class Property {
    page,
    user,
    passwordChangeProfile,
    planner,
    depots,
    addresses,
    addressIndex,
    zones,
    pendingAddresses,
    busy,
    geocoding,
    geocodingTotal,
    geocodingCompleted,
    geocodingFound,
    geocodingReview,
    geocodingStopping,
    offline,
    preview,
    error,
    status,
    date,
    selectedOrders,
    catalogCount,
    history,
    savingHistory,
    mapConfiguration,
    mapIssue,
    loadingMapConfiguration,
    generation,
    engine,
    api,
    cache,
    editRevisions,
    mutation,
    syncingAddresses,
    pendingPublication,
  };

  using TimePoint = std::chrono::system_clock::time_point;

  using Observer = Observers<Property>::Observer;
  using Connection = Observers<Property>::Connection;

  static std::shared_ptr<AppModel> create() { return std::shared_ptr<AppModel>(new AppModel()); }
  AppModel(const AppModel&) = delete;
  AppModel& operator=(const AppModel&) = delete;
  ~AppModel();

  [[nodiscard]] Connection observe(Observer observer) { return observers_.observe(std::move(observer)); }

  // Stored properties ------------------------------------------------------------------------------------
  const std::optional<PanelPage>& page() const { return page_; }
  void setPage(std::optional<PanelPage> value);
  const JSONValue& user() const { return user_; }
  void setUser(JSONValue value);
  const JSONValue& passwordChangeProfile() const { return passwordChangeProfile_; }
  void setPasswordChangeProfile(JSONValue value);
  const JSONValue& planner() const { return planner_; }
  void setPlanner(JSONValue value);
  const std::vector<Record>& depots() const { return depots_; }
  void setDepots(std::vector<Record> value);
  const std::vector<JSONValue>& addresses() const { return addresses_; }
  void setAddresses(std::vector<JSONValue> value);
  const std::map<std::string, JSONValue>& addressIndex() const { return addressIndex_; }
  void setAddressIndex(std::map<std::string, JSONValue> value);
  // Why the workspace's address index could not be built (none while it stands). The batch search does not run
  // without it: it would miss the company's remembered addresses and could upload over their hand corrections.
  const std::optional<std::string>& addressIndexFailure() const { return addressIndexFailure_; }
  // Installs the index the engine answered, or, for a failure, an empty one with the failure shown and kept.
  void installAddressIndex(const async::Outcome<JSONValue>& built);
  const std::vector<JSONValue>& zones() const { return zones_; }
  void setZones(std::vector<JSONValue> value);
  const std::map<std::string, JSONValue>& pendingAddresses() const { return pendingAddresses_; }
  void setPendingAddresses(std::map<std::string, JSONValue> value);
  // Stores one entry of pendingAddresses, comparing only that entry (a workbook remembers thousands in a row).
  void setPendingAddress(const std::string& key, JSONValue entry);
  // pendingAddresses as one object (member name = address key), the form of the cache entry "pendingAddresses".
  JSONValue pendingAddressesValue() const;

  bool busy() const { return flagSet(busy_); }
  void setBusy(bool value) { setFlag(busy_, value, Property::busy); }
  bool geocoding() const { return flagSet(geocoding_); }
  void setGeocoding(bool value) { setFlag(geocoding_, value, Property::geocoding); }
  bool savingHistory() const { return flagSet(savingHistory_); }
  void setSavingHistory(bool value) { setFlag(savingHistory_, value, Property::savingHistory); }
  bool syncingAddresses() const { return flagSet(syncingAddresses_); }
  void setSyncingAddresses(bool value) { setFlag(syncingAddresses_, value, Property::syncingAddresses); }
  bool loadingMapConfiguration() const { return flagSet(loadingMapConfiguration_); }
  void setLoadingMapConfiguration(bool value) {
    setFlag(loadingMapConfiguration_, value, Property::loadingMapConfiguration);
  }

  std::int64_t geocodingTotal() const { return geocodingTotal_; }
  void setGeocodingTotal(std::int64_t value);
  std::int64_t geocodingCompleted() const { return geocodingCompleted_; }
  void setGeocodingCompleted(std::int64_t value);
  std::int64_t geocodingFound() const { return geocodingFound_; }
  void setGeocodingFound(std::int64_t value);
  std::int64_t geocodingReview() const { return geocodingReview_; }
  void setGeocodingReview(std::int64_t value);
  bool geocodingStopping() const { return geocodingStopping_; }
  void setGeocodingStopping(bool value);

  // The running batch search: cancelling its token stops it (not tracked).
  const std::optional<async::CancelToken>& geocodingTask() const { return geocodingTask_; }
  void setGeocodingTask(std::optional<async::CancelToken> task) { geocodingTask_ = std::move(task); }
  // Earliest start of the next rate-limited server geocoding request (not tracked).
  async::Clock::time_point nextGeocodingRequest() const { return nextGeocodingRequest_; }
  void setNextGeocodingRequest(async::Clock::time_point value) { nextGeocodingRequest_ = value; }
  // Spacing of the rate-limited server geocoding requests (350 ms, the server's rule); benchmarks take it out.
  void setGeocodingSpacing(std::chrono::milliseconds value) { geocodingSpacing_ = value; }

  bool offline() const { return offline_; }
  void setOffline(bool value);
  bool preview() const { return preview_; }
  void setPreview(bool value);
  const std::optional<std::string>& error() const { return error_; }
  void setError(std::optional<std::string> value);
  const std::string& status() const { return status_; }
  void setStatus(std::string value);
  TimePoint date() const { return date_; }
  void setDate(TimePoint value);
  const std::set<std::string>& selectedOrders() const { return selectedOrders_; }
  void setSelectedOrders(std::set<std::string> value);
  std::int64_t catalogCount() const { return catalogCount_; }
  void setCatalogCount(std::int64_t value);
  const std::vector<JSONValue>& history() const { return history_; }
  void setHistory(std::vector<JSONValue> value);
  const JSONValue& mapConfiguration() const { return mapConfiguration_; }
  void setMapConfiguration(JSONValue value);
  const std::optional<std::string>& mapIssue() const { return mapIssue_; }
  void setMapIssue(std::optional<std::string> value);

  const std::string& generation() const { return generation_; }
  // Replaces the generation with a fresh random UUID (a workspace change), cancels the workspace's token and
  // gives the new workspace a token of its own; returns the new generation.
  const std::string& replaceGeneration();
  // The current workspace's token: cancelled when the workspace changes.
  const async::CancelToken& workspaceToken() const { return workspace_; }
  // `co_await workspaceScope();` links the awaiting workflow's token with the current workspace's token: a
  // workspace change ends the workflow at its next await, by CancelledError or (ScopeEnd::quiet) quietly.
  async::JoinScope workspaceScope(async::ScopeEnd end = async::ScopeEnd::cancellation) const {
    return async::joinScope(workspace_, end);
  }

  // Shows a failure's Russian text on the error line; a cancellation shows nothing.
  void report(const std::exception_ptr& failure);
  // Reports the failure of an outcome, if it is one, and answers whether it was:
  // `if (reportIfFailed(saved)) co_return;`
  template <class T>
  bool reportIfFailed(const async::Outcome<T>& outcome) {
    if (outcome) return false;
    report(outcome.failure());
    return true;
  }

  // A workflow flag (busy, geocoding, savingHistory, syncingAddresses, loadingMapConfiguration) set for the
  // current workspace and cleared when the hold goes, however the workflow ends, unless the workspace changed
  // meanwhile: the flag then belongs to the new workspace. `auto busy = hold(Property::busy);`
  class FlagHold {
   public:
    FlagHold(AppModel& model, Property flag);
    ~FlagHold();
    FlagHold(const FlagHold&) = delete;
    FlagHold& operator=(const FlagHold&) = delete;

   private:
    AppModel& model_;
    Property flag_;
    std::string generation_;
  };
  [[nodiscard]] FlagHold hold(Property flag) { return FlagHold(*this, flag); }

  const std::shared_ptr<PlannerEngine>& engine() const { return engine_; }
  void setEngine(std::shared_ptr<PlannerEngine> value);
  const std::shared_ptr<APIClient>& api() const { return api_; }
  void setApi(std::shared_ptr<APIClient> value);
  const std::shared_ptr<EncryptedCache>& cache() const { return cache_; }
  void setCache(std::shared_ptr<EncryptedCache> value);

  const std::map<std::string, std::int64_t>& editRevisions() const { return editRevisions_; }
  void setEditRevisions(std::map<std::string, std::int64_t> value);
  std::int64_t mutation() const { return mutation_; }
  // Increments the plan change counter and returns the new value.
  std::int64_t incrementMutation();
  const std::optional<PendingPublication>& pendingPublication() const { return pendingPublication_; }
  void setPendingPublication(std::optional<PendingPublication> value);

  // Workflows ---------------------------------------------------------------------------------------------
  // Each lives in the file of its workflow (session.cpp, gateway.cpp, addresses.cpp, geocoding.cpp,
  // planning.cpp, history.cpp, publication.cpp, workbooks.cpp, transfers.cpp, preview.cpp). Operations started
  // by a button or at launch throw no failure: failures go to error(), progress to status(); only the
  // cancellation of their caller's own token ends them by CancelledError. Operations whose caller needs the
  // outcome throw DorvikError (shown), TransportError (shown by its text) or CancelledError (never shown). Every
  // coroutine keeps the model alive through shared_from_this().

  // Session and workspace (start-up, sign-in, password change, demo, sign-out, depot switch).
  struct LaunchOptions {
    bool preview = false;                     // the process argument "--preview"
    std::optional<std::string> catalogPath;   // another catalogue than the bundle's (tests)
    std::optional<std::string> settingsPath;  // another settings file than the user's (tests)
  };
  async::Task<void> start(LaunchOptions options);
  async::Task<void> login(std::string identity, std::string password);
  async::Task<void> changeRequiredPassword(std::string password);
  async::Task<void> loadPreview();
  async::Task<void> logout();
  async::Task<void> switchDepot(std::string depotId);
  async::Task<void> refreshReferenceData();

  // Server gateway: demo answers, the per-workspace cache of GET answers, the offline flag.
  async::Task<JSONValue> fetch(std::string path, std::string method = "GET", std::optional<JSONValue> body = {});
  async::Task<void> loadMapConfiguration(bool force = false);

  // Planning document changes and history.
  async::Task<bool> mutate(std::string action, JSONValue payload);
  // The same change, answering the document this very change installed (none when it was not installed), so
  // that a caller reads its members even after later changes replaced the current document.
  async::Task<std::optional<JSONValue>> change(std::string action, JSONValue payload);
  async::Task<bool> patchOrder(std::string nativeID, JSONValue changes);
  async::Task<void> beginNewPlan();
  async::Task<void> saveSnapshot(std::string title);
  async::Task<void> restoreSnapshot(JSONValue entry);

  // Addresses and geocoding.
  // The address key of a text (engine action "addressIdentity"); throws without an engine.
  async::Task<std::string> addressKey(std::string address);
  // The address keys of several texts, in one trip to the engine.
  async::Task<std::vector<std::string>> addressKeys(std::vector<std::string> addresses);
  // The hand correction of one plan order's point (the map's pin drag, its undo and redo).
  async::Task<void> correctCoordinate(std::string id, double latitude, double longitude);
  // Uploads the waiting address entries with their learned client names; throws no failure.
  async::Task<void> flushAddresses();
  async::Task<JSONValue> lookup(std::string address, bool rateLimited);
  // The same for an address whose key the caller has already computed (the batch search, when grouping).
  async::Task<JSONValue> lookup(std::string address, std::string key, bool rateLimited);
  async::Task<void> remember(std::string address, double lat, double lon, std::string source, std::string name,
                             bool synchronize, bool persist);
  // A point found for an address, or set by hand (source "manual").
  struct FoundAddress {
    std::string address;
    double lat = 0;
    double lon = 0;
    std::string source;
    std::string name;
  };
  // Remembers several points as remember() does each, their keys computed in one trip to the engine; the cache
  // write and the upload (when asked for) happen once for all.
  async::Task<void> rememberAll(std::vector<FoundAddress> found, bool synchronize, bool persist);
  async::Task<void> geocode(std::optional<std::vector<std::string>> ids = std::nullopt);
  void stopGeocoding();

  // Workbooks and publication.
  // The open and save dialogs of the workbook import and export (the desktop's, or a test's).
  const std::shared_ptr<FileDialogs>& fileDialogs() const { return fileDialogs_; }
  void setFileDialogs(std::shared_ptr<FileDialogs> dialogs) { fileDialogs_ = std::move(dialogs); }
  // Largest workbook the import reads, in bytes (40 MiB).
  static constexpr std::int64_t kWorkbookLimit = 41943040;
  // Opens an order workbook as the new planning day and remembers the coordinates it carries. Ends when the
  // dialog was cancelled or the import has ended; throws no failure.
  async::Task<void> importWorkbook();
  async::Task<void> exportWorkbook(std::string kind);
  // A one-sheet workbook of a table (rows of cells) whose sheet is named by the first 31 characters of `name`,
  // offered for saving as `fileName` (name + ".xlsx" when empty).
  async::Task<void> exportRows(JSONArray rows, std::string name, std::string fileName = {});
  // Offers bytes for saving under a suggested name; returns once the dialog is shown, writes atomically.
  void saveFile(std::string bytes, std::string name);
  async::Task<void> publishPlan(std::string mode);

  // Planning transfers: orders moved onto one vehicle's route of a calculated plan, and the move taken back.
  // The transfer answers its undo record (none when nothing moved); the undo answers whether it restored.
  async::Task<std::optional<JSONValue>> transferPlanningOrders(std::vector<std::string> ids, std::int64_t vehicle,
                                                               std::int64_t revision);
  async::Task<bool> undoPlanningTransfer(JSONValue record);

  // Derived from the planning document on every read --------------------------------------------------
  std::vector<Record> orders() const;
  std::vector<std::string> orderIDs() const;
  std::vector<Record> routes() const;
  // Orders without coordinates by the map pins' rule (MapPoint::from: both finite and within range).
  std::int64_t missingCoordinates() const;
  // Signed in, not the demo, not offline.
  bool canWriteServer() const { return !user_.isNull() && !preview_ && !offline_; }

 private:
  AppModel();
  // Runs a component action that renders a workbook, and offers the answer's bytes for saving.
  async::Task<void> renderWorkbook(std::string action, JSONValue payload);

  struct Flag {
    bool on = false;
    std::string generation;
  };
  bool flagSet(const Flag& flag) const { return flag.on && flag.generation == generation_; }
  void setFlag(Flag& flag, bool value, Property property);
  Flag& flagOf(Property property);
  void notify(Property property);
  template <class T>
  void assign(T& slot, T value, Property property) {
    if (slot == value) return;
    slot = std::move(value);
    notify(property);
  }

  std::optional<PanelPage> page_ = PanelPage::planning;
  JSONValue user_;
  JSONValue passwordChangeProfile_;
  JSONValue planner_ = JSONValue(JSONObject{});
  std::vector<Record> depots_;
  std::vector<JSONValue> addresses_;
  std::map<std::string, JSONValue> addressIndex_;
  std::optional<std::string> addressIndexFailure_;
  std::vector<JSONValue> zones_;
  std::map<std::string, JSONValue> pendingAddresses_;
  Flag busy_, geocoding_, savingHistory_, syncingAddresses_, loadingMapConfiguration_;
  std::int64_t geocodingTotal_ = 0, geocodingCompleted_ = 0, geocodingFound_ = 0, geocodingReview_ = 0;
  bool geocodingStopping_ = false;
  std::optional<async::CancelToken> geocodingTask_;
  async::Clock::time_point nextGeocodingRequest_;
  std::chrono::milliseconds geocodingSpacing_{350};
  bool offline_ = false;
  bool preview_ = false;
  std::optional<std::string> error_;
  std::string status_;
  std::string planNote_;  // the status the last change of the plan wrote, while it stands
  TimePoint date_;
  std::set<std::string> selectedOrders_;
  std::int64_t catalogCount_ = 0;
  std::vector<JSONValue> history_;
  JSONValue mapConfiguration_;
  std::optional<std::string> mapIssue_;
  std::string generation_;
  async::CancelToken workspace_;
  std::shared_ptr<PlannerEngine> engine_;
  std::shared_ptr<APIClient> api_;
  std::shared_ptr<EncryptedCache> cache_;
  std::map<std::string, std::int64_t> editRevisions_;
  std::int64_t mutation_ = 0;
  std::optional<PendingPublication> pendingPublication_;
  std::shared_ptr<FileDialogs> fileDialogs_;

  // Session and workspace entry, sign-out and depot switch (session.cpp) ----------------------------------
  // `busy` held by a running session operation, with the generation it belongs to. The entry the operation runs
  // replaces the generation and carries `busy` into the new one (moveTo); when the last copy of the hold goes,
  // however the operation ends, `busy` is released only while the generation is still the one held, never a flag
  // of a later sign-in.
  class SessionBusy {
   public:
    explicit SessionBusy(AppModel& model);
    ~SessionBusy();
    SessionBusy(const SessionBusy&) = delete;
    SessionBusy& operator=(const SessionBusy&) = delete;
    // Whether the workspace is still the one the hold belongs to.
    bool current() const { return model_.generation_ == generation_; }
    // Holds `busy` in the generation just made.
    void moveTo(const std::string& generation);

   private:
    AppModel& model_;
    std::string generation_;
  };
  using BusyHold = std::shared_ptr<SessionBusy>;
  BusyHold holdBusy() { return std::make_shared<SessionBusy>(*this); }
  // The server address of the settings (the default server when none is set), read afresh at each call.
  std::string serverAddress() const;
  // A client for the server address of the settings.
  async::Task<std::shared_ptr<APIClient>> makeClient();
  // Diverts a profile that must change its password; enters the workspace of any other.
  async::Task<void> acceptProfile(JSONValue profile, bool offlineOnly, BusyHold hold);
  // Opens the profile's workspace: a new engine and the cache of its scope, filled from the cached state.
  async::Task<void> enter(JSONValue profile, bool offlineOnly, BusyHold hold);
  // Restores the client's session and opens the workspace of its profile; with `divert`, a profile that must
  // change its password is held instead (acceptProfile).
  async::Task<void> openRestored(std::shared_ptr<APIClient> api, BusyHold hold, bool divert);
  // The workspace of the profile last kept for the client's server, opened offline; false when none is kept.
  async::Task<bool> enterKeptProfile(std::shared_ptr<APIClient> api, BusyHold hold);
  // Forgets the workspace at once under a new generation; returns the signed-out workspace's scope.
  async::CancelToken leaveWorkspace();
  // Installs a fresh engine for the next user while the signed-out workspace is still the current one.
  async::Task<void> freshEngine(async::CancelToken signedOut);
  // The server refused the session's refresh token: signed out at once, asked to sign in again; the workspace's
  // files stay.
  void sessionRefused();
  async::Task<void> forgetRefusedSession(std::shared_ptr<APIClient> api, async::CancelToken signedOut);
  // The engine made at launch or after a sign-out while no workspace has used it yet: the demo may take it.
  std::weak_ptr<PlannerEngine> unusedEngine_;
  // The launch options, kept for the engines and clients made after launch.
  LaunchOptions launch_;

  Observers<Property> observers_;
};

// A fresh random UUID text (lowercase, 36 characters).
std::string randomUUID();

}  // namespace dorvik
