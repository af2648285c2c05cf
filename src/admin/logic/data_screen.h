// DataScreenController: the generic data screen of a panel page (couriers, clients, addresses, zones, documents,
// companies, and the day's routes, orders and trackers). It loads the page's list for the chosen day, keeps the
// rows of the last accepted answer, narrows them by the search text, and decides what the header, the toolbar,
// the rows' commands and the export do; the view binds widgets to it.
//
// Loading: one run keyed by page, day and workspace (a new key cancels the run in flight), plus the extra runs
// of "Обновить", "Повторить" and the editor's refresh. An answer or a failure for an endpoint that is no longer
// the current one (the day changed meanwhile), or of an older workspace, is dropped; a cancellation is never
// shown. `loading` holds while any run waits.
//
// Main thread only. Runs hold the controller weakly: a screen that went away drops their outcome.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "admin/logic/admin_gateway.h"
#include "admin/logic/catalogue.h"
#include "admin/logic/editor_rules.h"
#include "admin/logic/keyed_task.h"
#include "core/base/observers.h"
#include "core/json/json_value.h"
#include "model/panel_page.h"

namespace dorvik::admin {

// The rows of a list answer: the collection member read as an array (anything else gives no rows).
std::vector<Record> listRows(const JSONValue& answer, std::string_view collection);

// The route of a row of the day's routes, orders or trackers, as the route sheets take it: the text of its "routeId"
// member (a number as its integer text), "" when it has none.
std::string routeIDOf(const Record& record);

// The search over one list: a row passes when a cell text contains the query regardless of letter case (composed
// and decomposed letters alike). The empty query passes every row; the query is used as typed. The cells are
// folded once, at the first search, and reused for every later query of the same rows.
class RowSearch {
 public:
  RowSearch() = default;
  RowSearch(std::vector<Record> rows, std::span<const DataColumn> columns);

  const std::vector<Record>& rows() const { return rows_; }
  // Positions (in answer order) of the rows the query passes.
  std::vector<std::size_t> matches(std::string_view query) const;

 private:
  std::vector<Record> rows_;
  std::vector<DataColumn> columns_;
  mutable std::vector<std::string> folded_;  // rows × columns, filled at the first search
};

// The workbook of an export: the column titles, then the cell texts of each row, all as JSON strings.
JSONArray exportTable(const std::vector<Record>& rows, std::span<const DataColumn> columns);
// "<title>-<day>.xlsx".
std::string exportFileName(PanelPage page, std::string_view day);

// "<n> записей".
std::string countText(std::size_t rows);

class DataScreenController : public std::enable_shared_from_this<DataScreenController> {
 public:
  using TimePoint = std::chrono::system_clock::time_point;
  enum class Change { rows, loading, issue, date, sheets };
  using Connection = Observers<Change>::Connection;

  static std::shared_ptr<DataScreenController> create(PanelPage page, AdminGateway gateway,
                                                      TimePoint date = std::chrono::system_clock::now());
  DataScreenController(const DataScreenController&) = delete;
  DataScreenController& operator=(const DataScreenController&) = delete;

  [[nodiscard]] Connection observe(std::function<void(Change)> observer) {
    return observers_.observe(std::move(observer));
  }

  PanelPage page() const { return page_; }
  const AdminGateway& gateway() const { return gateway_; }
  TimePoint date() const { return date_; }
  // Another working day (dated pages): the list is loaded for it.
  void setDate(TimePoint date);
  // The working day, "yyyy-MM-dd" in Moscow.
  std::string day() const;
  DataScreen configuration() const;

  // The last accepted answer (null before the first), its rows and the rows the search passes.
  const JSONValue& data() const { return data_; }
  const std::vector<Record>& rows() const { return search_.rows(); }
  const std::vector<Record>& filtered() const { return filtered_; }
  bool loading() const { return inFlight_ > 0; }
  const std::optional<std::string>& issue() const { return issue_; }

  const std::string& query() const { return query_; }
  void setQuery(std::string query);
  const std::set<std::string>& selection() const { return selection_; }
  void setSelection(std::set<std::string> ids) { selection_ = std::move(ids); }

  // Loading. follow(): the keyed run for the current page, day and workspace (call when the screen is shown and
  // whenever the workspace may have changed; the same key starts nothing). In another workspace the rows of the
  // last one go at once: they are not shown, opened, edited or exported while its own list loads. refresh(): a
  // further run.
  void follow();
  void refresh();
  // A run that the caller awaits (the editor's refresh); nothing when the screen has gone.
  static async::Task<void> reload(std::weak_ptr<DataScreenController> screen);
  // After a write whose answer was lost: the list is read again every `period` until a read reaches the server
  // (so it shows whether the record was stored), then no more. Several calls make one such wait.
  static constexpr std::chrono::seconds kReconnectPeriod{10};
  void reloadWhenOnline(std::chrono::milliseconds period = kReconnectPeriod);

  // Header.
  // Empty while the first answer is awaited: no count stands beside «Загружаем данные…».
  std::string countText() const;
  bool offline() const { return gateway_.offline && gateway_.offline(); }
  enum class Overlay { none, loading, empty };
  Overlay overlay() const;
  std::string emptyDescription() const;

  // Toolbar.
  bool canRefresh() const { return !loading(); }
  bool canExport() const { return !filtered_.empty(); }
  bool writable() const { return configuration().writable; }
  // The signed-in user may change this page's records (see mayWrite in the catalogue).
  bool mayWrite() const { return admin::mayWrite(gateway_, page_); }
  bool canAdd() const;
  std::optional<SelectionAction> selectionAction() const { return admin::selectionAction(page_); }
  bool canRunSelectionAction() const { return selection_.size() == 1; }
  // Opens the details of the one selected record (nothing when the search hides it).
  void runSelectionAction();
  // Starts the export of the rows on screen; the rows are taken now.
  void exportShown();

  // A row's identity on this screen: its Record id, with its position in the answer added where several rows of
  // the list share that id (two zones of one name), so that each row is selected, opened and edited as itself.
  std::string rowKey(const Record& row) const;
  // Where a row stood in the answer: the list as read and its position (what the editor of a zone needs).
  std::optional<ListedRecord> listed(const Record& row) const;
  // What the editor of a new record is given: the list as shown (a record it creates is one not among these).
  ListedRecord shownList() const { return ListedRecord{data_[configuration().collection].array(), 0}; }

  // Rows' commands over a set of row keys: each acts on the first shown row whose key is in the set. A user who
  // may not change the page's records gets the details where the editor would open.
  std::optional<Record> recordFor(const std::set<std::string>& ids) const;
  void open(const std::set<std::string>& ids);
  void edit(const std::set<std::string>& ids);
  void activate(const std::set<std::string>& ids);
  void add();

  // The sheets: the record in the editor, a new record in the editor, the record in the detail sheet. Closing a
  // sheet clears its state.
  const std::optional<Record>& editing() const { return editing_; }
  bool adding() const { return adding_; }
  const std::optional<Record>& detail() const { return detail_; }
  void closeEditing();
  void closeAdding();
  void closeDetail();

 private:
  DataScreenController(PanelPage page, AdminGateway gateway, TimePoint date);
  static async::Task<void> run(std::weak_ptr<DataScreenController> screen);
  static async::Task<void> awaitConnection(std::weak_ptr<DataScreenController> screen,
                                           std::chrono::milliseconds period);
  void accept(JSONValue answer, std::string generation);
  void refilter();
  void setIssue(std::optional<std::string> issue);
  void notify(Change change) { observers_.notify(change); }

  PanelPage page_;
  AdminGateway gateway_;
  TimePoint date_;
  JSONValue data_;
  std::string dataGeneration_;  // the workspace `data_` came from
  std::string followedGeneration_;  // the workspace of the last follow()
  RowSearch search_;
  std::set<std::string> sharedIds_;  // Record ids that several rows of the answer carry
  std::vector<Record> filtered_;
  int inFlight_ = 0;
  bool awaitingConnection_ = false;
  std::optional<std::string> issue_;
  std::string query_;
  std::set<std::string> selection_;
  std::optional<Record> editing_;
  bool adding_ = false;
  std::optional<Record> detail_;
  KeyedTask keyed_;
  Observers<Change> observers_;
};

}  // namespace dorvik::admin
