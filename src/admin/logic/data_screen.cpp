#include "admin/logic/data_screen.h"

#include <charconv>
#include <utility>

#include "core/api/failure.h"
#include "core/async/sleep.h"
#include "core/base/dorvik_date.h"
#include "core/base/text.h"
#include "shell/toolkit/display.h"

namespace dorvik::admin {

std::vector<Record> listRows(const JSONValue& answer, std::string_view collection) {
  const JSONValue& list = answer[collection];
  if (!list.isArray()) return {};
  return JSONValue::records(list.array());
}

std::string routeIDOf(const Record& record) { return record.value.path("routeId").string(); }

RowSearch::RowSearch(std::vector<Record> rows, std::span<const DataColumn> columns)
    : rows_(std::move(rows)), columns_(columns.begin(), columns.end()) {}

std::vector<std::size_t> RowSearch::matches(std::string_view query) const {
  std::vector<std::size_t> out;
  out.reserve(rows_.size());
  if (query.empty()) {
    for (std::size_t i = 0; i < rows_.size(); ++i) out.push_back(i);
    return out;
  }
  const std::size_t width = columns_.size();
  if (folded_.empty() && width > 0) {
    folded_.reserve(rows_.size() * width);
    for (const Record& row : rows_)
      for (const DataColumn& column : columns_) folded_.push_back(foldedText(column.text(row)));
  }
  const std::string folded = foldedText(query);
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    for (std::size_t c = 0; c < width; ++c) {
      if (folded_[i * width + c].find(folded) != std::string::npos) {
        out.push_back(i);
        break;
      }
    }
  }
  return out;
}

JSONArray exportTable(const std::vector<Record>& rows, std::span<const DataColumn> columns) {
  JSONArray table;
  table.reserve(rows.size() + 1);
  JSONArray header;
  for (const DataColumn& column : columns) header.emplace_back(column.title);
  table.emplace_back(std::move(header));
  for (const Record& row : rows) {
    JSONArray cells;
    cells.reserve(columns.size());
    for (const DataColumn& column : columns) cells.emplace_back(column.text(row));
    table.emplace_back(std::move(cells));
  }
  return table;
}

std::string exportFileName(PanelPage page, std::string_view day) {
  return std::string(title(page)) + "-" + std::string(day) + ".xlsx";
}

// The same word for every number, as the page has always written it.
std::string countText(std::size_t rows) { return std::to_string(rows) + " записей"; }

std::shared_ptr<DataScreenController> DataScreenController::create(PanelPage page, AdminGateway gateway,
                                                                   TimePoint date) {
  return std::shared_ptr<DataScreenController>(new DataScreenController(page, std::move(gateway), date));
}

DataScreenController::DataScreenController(PanelPage page, AdminGateway gateway, TimePoint date)
    : page_(page), gateway_(std::move(gateway)), date_(date) {}

void DataScreenController::setDate(TimePoint date) {
  if (date == date_) return;
  date_ = date;
  notify(Change::date);
  follow();
}

std::string DataScreenController::day() const { return DorvikDate::day(date_); }

DataScreen DataScreenController::configuration() const { return DataScreen::configuration(page_, day()); }

void DataScreenController::setQuery(std::string query) {
  if (query == query_) return;
  query_ = std::move(query);
  refilter();
}

void DataScreenController::follow() {
  const std::string generation = gateway_.generation ? gateway_.generation() : std::string();
  // Another workspace: nothing of the previous one stays, neither its rows nor the failure of a list that never came.
  const bool otherWorkspace = generation != followedGeneration_;
  followedGeneration_ = generation;
  if ((!data_.isNull() && generation != dataGeneration_) || (issue_ && otherWorkspace)) {
    data_ = JSONValue();
    search_ = RowSearch();
    selection_.clear();
    setIssue(std::nullopt);
    refilter();
  }
  std::string key = std::string(rawValue(page_)) + "|" + day() + "|" + generation;
  std::weak_ptr<DataScreenController> weak = weak_from_this();
  keyed_.run(std::move(key), [weak] { return run(weak); });
}

void DataScreenController::refresh() { async::spawn(run(weak_from_this())); }

async::Task<void> DataScreenController::reload(std::weak_ptr<DataScreenController> screen) {
  co_await run(std::move(screen));
}

async::Task<void> DataScreenController::run(std::weak_ptr<DataScreenController> screen) {
  std::string endpoint, generation;
  AdminGateway gateway;
  {
    auto self = screen.lock();
    if (!self || self->page_ == PanelPage::integrations) co_return;
    endpoint = self->configuration().endpoint;
    gateway = self->gateway_;
    generation = gateway.generation ? gateway.generation() : std::string();
    if (self->inFlight_++ == 0) self->notify(Change::loading);
  }
  std::optional<JSONValue> answer;
  std::exception_ptr failure;
  try {
    answer = co_await gateway.fetch(endpoint, "GET", std::nullopt);
  } catch (...) {
    failure = std::current_exception();
  }
  auto self = screen.lock();
  if (!self) co_return;
  // Only an outcome for the list on screen counts: the same endpoint (the day may have changed meanwhile) in the
  // same workspace. A cancellation is no outcome.
  const bool current = self->configuration().endpoint == endpoint &&
                       (gateway.generation ? gateway.generation() : std::string()) == generation;
  if (current) {
    if (answer) {
      self->accept(std::move(*answer), std::move(generation));
    } else if (std::optional<std::string> text = failureText(failure)) {
      self->setIssue(std::move(text));
    }
  }
  if (--self->inFlight_ == 0) self->notify(Change::loading);
}

void DataScreenController::reloadWhenOnline(std::chrono::milliseconds period) {
  if (awaitingConnection_) return;
  awaitingConnection_ = true;
  async::spawn(awaitConnection(weak_from_this(), period));
}

async::Task<void> DataScreenController::awaitConnection(std::weak_ptr<DataScreenController> screen,
                                                        std::chrono::milliseconds period) {
  for (;;) {
    co_await async::sleepFor(period);
    if (screen.expired()) co_return;
    // A read that reaches the server clears the offline state; one answered from the saved copy leaves it.
    co_await run(screen);
    auto self = screen.lock();
    if (!self) co_return;
    if (!self->offline()) {
      self->awaitingConnection_ = false;
      co_return;
    }
  }
}

void DataScreenController::accept(JSONValue answer, std::string generation) {
  data_ = std::move(answer);
  dataGeneration_ = std::move(generation);
  search_ = RowSearch(listRows(data_, configuration().collection), configuration().columns);
  std::set<std::string> seen;
  sharedIds_.clear();
  for (const Record& row : search_.rows())
    if (!seen.insert(row.id()).second) sharedIds_.insert(row.id());
  setIssue(std::nullopt);
  refilter();
}

void DataScreenController::refilter() {
  std::vector<Record> shown;
  const std::vector<Record>& all = search_.rows();
  if (query_.empty()) {
    shown = all;
  } else {
    const std::vector<std::size_t> positions = search_.matches(query_);
    shown.reserve(positions.size());
    for (std::size_t i : positions) shown.push_back(all[i]);
  }
  filtered_ = std::move(shown);
  notify(Change::rows);
}

void DataScreenController::setIssue(std::optional<std::string> issue) {
  if (issue == issue_) return;
  issue_ = std::move(issue);
  notify(Change::issue);
}

std::string DataScreenController::countText() const {
  return overlay() == Overlay::loading ? std::string() : admin::countText(filtered_.size());
}

DataScreenController::Overlay DataScreenController::overlay() const {
  if (loading() && data_.isNull()) return Overlay::loading;
  if (filtered_.empty() && !issue_) return Overlay::empty;
  return Overlay::none;
}

std::string DataScreenController::emptyDescription() const {
  return query_.empty() ? "Выберите другую дату или добавьте запись." : "По этому запросу ничего не найдено.";
}

bool DataScreenController::canAdd() const {
  return mayWrite() && admin::canAdd(page_, offline(), gateway_.preview && gateway_.preview());
}

void DataScreenController::runSelectionAction() {
  if (!canRunSelectionAction()) return;
  open(selection_);
}

void DataScreenController::exportShown() {
  if (!gateway_.exportRows) return;
  const DataScreen screen = configuration();
  JSONArray table = exportTable(filtered_, screen.columns);
  async::spawn(gateway_.exportRows(std::move(table), std::string(title(page_)), exportFileName(page_, day())));
}

std::string DataScreenController::rowKey(const Record& row) const {
  std::string id = row.id();
  if (sharedIds_.count(id)) id += "#" + row.fallbackID;
  return id;
}

std::optional<ListedRecord> DataScreenController::listed(const Record& row) const {
  const JSONValue& list = data_[configuration().collection];
  std::size_t position = 0;
  const auto [end, error] =
      std::from_chars(row.fallbackID.data(), row.fallbackID.data() + row.fallbackID.size(), position);
  if (error != std::errc() || end != row.fallbackID.data() + row.fallbackID.size()) return std::nullopt;
  if (position >= list.size() || list.at(position) != row.value) return std::nullopt;
  return ListedRecord{list.array(), position};
}

std::optional<Record> DataScreenController::recordFor(const std::set<std::string>& ids) const {
  if (ids.empty()) return std::nullopt;
  for (const Record& row : filtered_)
    if (ids.count(rowKey(row))) return row;
  return std::nullopt;
}

void DataScreenController::open(const std::set<std::string>& ids) {
  std::optional<Record> record = recordFor(ids);
  if (!record) return;
  detail_ = std::move(record);
  notify(Change::sheets);
}

void DataScreenController::edit(const std::set<std::string>& ids) {
  if (!writable() || !mayWrite()) return;
  std::optional<Record> record = recordFor(ids);
  if (!record) return;
  editing_ = std::move(record);
  notify(Change::sheets);
}

void DataScreenController::activate(const std::set<std::string>& ids) {
  if (activationEdits(page_) && mayWrite()) {
    edit(ids);
  } else {
    open(ids);
  }
}

void DataScreenController::add() {
  if (!writable() || !canAdd()) return;
  adding_ = true;
  notify(Change::sheets);
}

void DataScreenController::closeEditing() {
  if (!editing_) return;
  editing_.reset();
  notify(Change::sheets);
}

void DataScreenController::closeAdding() {
  if (!adding_) return;
  adding_ = false;
  notify(Change::sheets);
}

void DataScreenController::closeDetail() {
  if (!detail_) return;
  detail_.reset();
  notify(Change::sheets);
}

}  // namespace dorvik::admin
