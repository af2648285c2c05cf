// RecordEditorController: the record editor of a writable data page (couriers, clients, addresses, zones,
// documents, companies) — the working copy the form edits, the page's own parts (role, phones and client addresses
// with their coordinate lookup, zone vertices, document attachment), and the save and delete with their checks.
//
// One busy flag (`saving`) covers a save and a delete alike: while either runs, neither can start again, so a
// double click sends one request and a zone's list is never read and written back by two runs at once.
//
// Main thread only. A save, delete or lookup runs on after its sheet has closed and still updates the controller;
// the view learns of every change through observe(), and of the end of a successful save or delete through
// Change::dismissed.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "admin/logic/admin_gateway.h"
#include "admin/logic/catalogue.h"
#include "admin/logic/editor_rules.h"
#include "core/async/cancel_token.h"
#include "core/base/observers.h"
#include "map/map_pin.h"

namespace dorvik::admin {

class RecordEditorController : public std::enable_shared_from_this<RecordEditorController> {
 public:
  // addresses: rows added or removed; coordinates: a lookup wrote a row's "lat" and "lon"; lookup: one started or
  // ended.
  // resend: a create whose answer was lost is not in the list read since; the view asks before it goes again.
  enum class Change { value, issue, busy, addresses, coordinates, lookup, polygon, attachment, resend, dismissed };
  using Connection = Observers<Change>::Connection;
  using Refresh = std::function<async::Task<void>()>;

  // `record`: the row as listed, or null for a new record; `listed`: where it stood in the list the screen read
  // (what tells apart two zones of one name). `refresh` reloads the calling screen's list.
  static std::shared_ptr<RecordEditorController> create(PanelPage page, JSONValue record, DataScreen configuration,
                                                        Refresh refresh, AdminGateway gateway,
                                                        std::optional<ListedRecord> listed = std::nullopt);
  RecordEditorController(const RecordEditorController&) = delete;
  RecordEditorController& operator=(const RecordEditorController&) = delete;

  [[nodiscard]] Connection observe(std::function<void(Change)> observer) {
    return observers_.observe(std::move(observer));
  }

  // Fills the working copy, the phones, the client addresses and the vertices from the record; an existing
  // document is then loaded whole (its listed row stays the working copy when that fails).
  void prepare();

  PanelPage page() const { return page_; }
  const JSONValue& record() const { return record_; }
  bool isNew() const { return record_.isNull(); }
  std::string heading() const { return editorHeading(page_, isNew()); }
  // The working copy, shared with the form's rows that edit it.
  const std::shared_ptr<JSONValue>& value() const { return value_; }
  std::span<const FieldSpec> fields() const { return configuration_.fields; }
  const std::optional<std::string>& issue() const { return issue_; }
  bool saving() const { return saving_; }

  bool showsDelete() const { return !isNew() && deletable(page_); }
  // The signed-in user may change the page's records; else the save and delete stay disabled.
  bool mayWrite() const;
  bool canDelete() const;
  bool footerBusy() const;

  // Couriers.
  bool showsRolePicker() const { return admin::showsRolePicker(page_, record_); }
  std::optional<std::size_t> roleChoice() const { return admin::roleChoice(*value_); }
  void chooseRole(std::size_t option);

  // Clients.
  const std::string& phones() const { return phones_; }
  void setPhones(std::string text) { phones_ = std::move(text); }
  // Each row shared with the form's rows that edit it.
  const std::vector<std::shared_ptr<JSONValue>>& clientAddresses() const { return clientAddresses_; }
  void addClientAddress();
  void removeClientAddress(std::size_t index);
  bool canChangeAddresses() const { return !lookupToken_ && !saving_; }
  void lookup(std::size_t index);
  // Asks the running lookup to stop; it then reports "Поиск остановлен.".
  void stopLookup();
  const std::optional<std::size_t>& lookupIndex() const { return lookupIndex_; }

  // Zones.
  const std::vector<MapPoint>& polygon() const { return polygon_; }
  std::vector<MapPin> vertexPins() const { return admin::vertexPins(polygon_); }
  void addVertex(MapPoint point);
  void undoVertex();
  // The map's interactions: a vertex added by a click; everything else changes nothing.
  void onMapInteraction(const MapInteraction& interaction);

  // Documents.
  const JSONValue& attachment() const { return attachment_; }
  std::string attachmentName() const { return admin::attachmentName(attachment_, record_); }
  bool showsRemoveAttachment() const { return record_["hasFile"].boolValue(); }
  bool removeAttachment() const { return removeAttachment_; }
  void setRemoveAttachment(bool on) { removeAttachment_ = on; }
  // A file chosen in the open dialog; a refused or unreadable file leaves the attachment as it was, and a file
  // taken then withdraws that refusal.
  void attach(const std::string& path);

  // The footer's save, and the confirmed deletion. A write whose answer was lost says the record may be stored
  // ("Запись могла сохраниться: …") and calls `reloadWhenOnline`, which has the list read again once the server
  // is reached. After such a create, the next save reads the list first: when the record is there the editor
  // follows it (the sheet closes over the list, or the changes made since go to that record); when it is not,
  // nothing is sent until `resend()` (Change::resend asks the user).
  void save();
  void resend();
  void remove();
  void onOutcomeUnknown(std::function<void()> reloadWhenOnline) { outcomeUnknown_ = std::move(reloadWhenOnline); }

 private:
  RecordEditorController(PanelPage page, JSONValue record, DataScreen configuration, Refresh refresh,
                         AdminGateway gateway, std::optional<ListedRecord> listed);
  EditorInput input() const;
  static async::Task<void> runLoadDocument(std::shared_ptr<RecordEditorController> self);
  static async::Task<void> runLookup(std::shared_ptr<RecordEditorController> self, std::size_t index,
                                     async::CancelToken token);
  static async::Task<void> runSave(std::shared_ptr<RecordEditorController> self, JSONValue body);
  // What a save does after a create whose answer was lost, given the list read since: send (nothing was lost, the
  // user agreed to send it again, or the record is there and `body` changes it), stored (it is there as it is), or
  // ask. A found record becomes the one edited. Throws when the list came from the saved copy.
  enum class Resend { send, stored, ask };
  Resend followStoredCreate(const JSONArray& rows, const JSONValue& body);
  static async::Task<void> runDelete(std::shared_ptr<RecordEditorController> self);
  // Reloads the screen, then ends the busy state and closes the sheet.
  static async::Task<void> finish(std::shared_ptr<RecordEditorController> self);
  // Shows a failure; `sent`: the failed request was the write itself, whose outcome may be unknown.
  void fail(std::exception_ptr failure, bool sent = false);
  void setIssue(std::string text);
  void setSaving(bool on);
  void notify(Change change) { observers_.notify(change); }

  PanelPage page_;
  JSONValue record_;
  std::optional<ListedRecord> listed_;
  DataScreen configuration_;
  Refresh refresh_;
  std::function<void()> outcomeUnknown_;
  AdminGateway gateway_;
  std::shared_ptr<JSONValue> value_ = std::make_shared<JSONValue>();
  std::optional<std::string> issue_;
  std::optional<std::string> fileRefusal_;  // the issue a refused file set, while it is shown
  bool saving_ = false;
  JSONValue attachment_;
  bool removeAttachment_ = false;
  std::string phones_;
  std::vector<std::shared_ptr<JSONValue>> clientAddresses_;
  std::vector<MapPoint> polygon_;
  // A create whose answer was lost: the body sent, until the record is found or the user sends it again.
  std::optional<JSONValue> unconfirmed_;
  bool resendAgreed_ = false;
  std::optional<async::CancelToken> lookupToken_;
  std::optional<std::size_t> lookupIndex_;
  Observers<Change> observers_;
};

}  // namespace dorvik::admin
