#include "admin/logic/shifts.h"

#include <cfenv>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>

#include "admin/logic/payroll.h"
#include "core/base/dorvik_date.h"
#include "core/base/errors.h"

namespace dorvik::admin {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string monthKey(std::chrono::system_clock::time_point date) { return DorvikDate::day(date).substr(0, 7); }

std::string shiftsPath(std::string_view monthKey) { return "/panel/shifts?month=" + std::string(monthKey); }

int lastDay(std::string_view key) {
  const bool shaped = key.size() == 7 && key[4] == '-' && isDigit(key[0]) && isDigit(key[1]) && isDigit(key[2]) &&
                      isDigit(key[3]) && isDigit(key[5]) && isDigit(key[6]);
  if (!shaped) return 30;
  const int year = std::stoi(std::string(key.substr(0, 4)));
  const unsigned month = static_cast<unsigned>(std::stoi(std::string(key.substr(5, 2))));
  const std::chrono::year_month_day_last last{std::chrono::year{year} / std::chrono::month{month} / std::chrono::last};
  if (!last.ok()) return 30;
  return static_cast<int>(static_cast<unsigned>(last.day()));
}

std::string dateOf(std::string_view monthKey, int day) {
  char text[16];
  std::snprintf(text, sizeof text, "-%02d", day);
  return std::string(monthKey) + text;
}

DayRange periodDays(int period, int lastDay) {
  switch (period) {
    case 0:
    case 1:
      return {period * 10 + 1, period * 10 + 10};
    case 2:
      return {21, lastDay};
    default:
      return {1, lastDay};
  }
}

std::string periodTitle(int period, int lastDay) {
  switch (period) {
    case 0:
      return "1–10";
    case 1:
      return "11–20";
    case 2:
      return "21–" + std::to_string(lastDay);
    default:
      return "Месяц";
  }
}

bool ShiftTotals::worked(const JSONValue& row, int day) {
  const JSONValue& mark = row["marks"][std::to_string(day)];
  if (!mark.isNull()) return mark.boolValue();
  for (const JSONValue& element : row["auto"].array())
    if (element.isNumber() && element == JSONValue(day)) return true;
  return false;
}

ShiftTotals ShiftTotals::calculate(const JSONValue& row, DayRange days, bool wholeMonth) {
  ShiftTotals totals;
  for (int day = days.lo; day <= days.hi; ++day)
    if (worked(row, day)) ++totals.shifts;
  for (const JSONValue& adjustment : row["adjust"].array()) {
    if (!days.contains(adjustment["day"].intValue())) continue;
    const double amount = adjustment["amount"].doubleValue().value_or(0.0);
    if (adjustment["kind"].string() == "fine")
      totals.fines += amount;
    else
      totals.extras += amount;
  }
  const double rate = row["rate"].doubleValue().value_or(0.0);
  totals.accrued = (totals.extras + rate * static_cast<double>(totals.shifts)) - totals.fines;
  const std::string mode = row["payMode"].string();
  if (mode == "official" || (mode == "monthly" && !wholeMonth)) {
    totals.cash = 0;
    totals.cashDeferred = true;
  } else {
    totals.cash = totals.accrued;
  }
  return totals;
}

SheetTotals sheetTotals(const std::vector<Record>& rows, DayRange days, bool wholeMonth) {
  SheetTotals sums;
  for (const Record& row : rows) {
    const ShiftTotals totals = ShiftTotals::calculate(row.value, days, wholeMonth);
    sums.accrued += totals.accrued;
    if (!totals.cashDeferred) sums.cash += totals.cash;
  }
  return sums;
}

std::string money(double value, std::string_view separator, std::string_view grouping) {
  if (!std::isfinite(value)) return std::isnan(value) ? "NaN" : (value > 0 ? "∞" : "-∞");
  const int previous = std::fegetround();
  std::fesetround(FE_TONEAREST);
  double whole = std::nearbyint(value);
  std::fesetround(previous);
  if (whole == 0) whole = 0;  // no "-0"
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.0f", std::fabs(whole));
  const std::string digits = buffer;
  // Group from the right: each size of `grouping` in turn, the last one repeating; CHAR_MAX or 0 ends grouping.
  std::vector<std::string> groups;
  std::size_t end = digits.size();
  std::size_t index = 0;
  int size = 0;
  while (end > 0) {
    if (index < grouping.size()) size = static_cast<unsigned char>(grouping[index++]);
    if (size <= 0 || size == CHAR_MAX || separator.empty() || static_cast<std::size_t>(size) >= end) {
      groups.push_back(digits.substr(0, end));
      break;
    }
    groups.push_back(digits.substr(end - size, size));
    end -= size;
  }
  std::string text = whole < 0 ? "-" : "";
  for (auto it = groups.rbegin(); it != groups.rend(); ++it) {
    if (it != groups.rbegin()) text += separator;
    text += *it;
  }
  return text;
}

std::string money(double value) {
  const std::lconv* conv = std::localeconv();
  return money(value, conv && conv->thousands_sep ? conv->thousands_sep : "",
               conv && conv->grouping ? conv->grouping : "");
}

std::vector<DayCell> dayCells(const JSONValue& row, DayRange days) {
  std::vector<DayCell> cells;
  for (int day = days.lo; day <= days.hi; ++day) {
    DayCell cell;
    cell.day = day;
    cell.worked = ShiftTotals::worked(row, day);
    cell.manual = !row["marks"][std::to_string(day)].isNull();
    cell.caption = cell.manual ? "вручную" : "авто";
    cell.accessible = std::to_string(day) + (cell.worked ? ": смена" : ": выходной");
    cells.push_back(std::move(cell));
  }
  return cells;
}

std::string documentMonth(const JSONValue& document) { return document["month"].string(); }
std::string depotName(const JSONValue& document) { return document["depot"]["name"].string(); }
std::string depotRateText(const JSONValue& document) { return document["depot"]["shiftRate"].string(); }
std::vector<Record> shiftRows(const JSONValue& document) { return JSONValue::records(document["rows"].array()); }

JSONValue markBody(const std::string& courierID, std::string_view monthKey, int day, JSONValue worked) {
  return JSONValue::object({{"courierId", courierID}, {"date", dateOf(monthKey, day)}, {"worked", std::move(worked)}});
}

bool sheetEditable(bool canWriteServer, bool saving, bool loading, const JSONValue& document,
                   std::string_view monthKey) {
  return canWriteServer && !saving && !loading && documentMonth(document) == monthKey;
}

bool depotRateSavable(bool editable, std::string_view depotID) { return editable && !depotID.empty(); }

LoadVerdict judgeLoad(std::string_view requestedMonth, std::string_view shownMonth, const JSONValue& held,
                      bool answered) {
  if (requestedMonth != shownMonth) return {LoadVerdict::Action::newerMonth, std::nullopt};
  if (!held.isNull() && documentMonth(held) != requestedMonth)
    return {LoadVerdict::Action::drop, answered ? std::optional<std::string>(kOtherMonthMessage) : std::nullopt};
  return {};
}

// The controller.

std::shared_ptr<ShiftsController> ShiftsController::create(AdminGateway gateway, std::function<std::string()> depotID,
                                                           TimePoint date) {
  return std::shared_ptr<ShiftsController>(new ShiftsController(std::move(gateway), std::move(depotID), date));
}

ShiftsController::ShiftsController(AdminGateway gateway, std::function<std::string()> depotID, TimePoint date)
    : gateway_(std::move(gateway)), depotID_(std::move(depotID)), date_(date) {
  stateConnection_ = state_->observe([this](ScreenData::Property property) {
    switch (property) {
      case ScreenData::Property::value:
        notify(Change::document);
        break;
      case ScreenData::Property::issue:
        notify(Change::issue);
        break;
      default:
        notify(Change::busy);
        break;
    }
  });
}

ShiftsController::~ShiftsController() { stateConnection_.disconnect(); }

void ShiftsController::setDate(TimePoint date) {
  if (date == date_) return;
  date_ = date;
  notify(Change::date);
  follow();
}

void ShiftsController::setPeriod(int period) {
  if (period < 0 || period > kWholeMonth || period == period_) return;
  period_ = period;
  notify(Change::period);
}

void ShiftsController::select(std::optional<std::string> id) {
  if (id == selected_) return;
  selected_ = std::move(id);
  notify(Change::selection);
}

std::optional<Record> ShiftsController::current() const {
  if (!selected_) return std::nullopt;
  for (Record& row : rows())
    if (row.id() == *selected_) return std::move(row);
  return std::nullopt;
}

bool ShiftsController::editable() const {
  const bool canWrite = gateway_.canWriteServer && gateway_.canWriteServer();
  return sheetEditable(canWrite, saving(), loading(), document(), monthKey());
}

void ShiftsController::setDepotRate(std::string text) {
  if (text == depotRate_) return;
  depotRate_ = std::move(text);
  notify(Change::form);
}

void ShiftsController::setOwnRate(bool on) {
  if (on == ownRate_) return;
  ownRate_ = on;
  notify(Change::form);
}

void ShiftsController::setRate(std::string text) {
  if (text == rate_) return;
  rate_ = std::move(text);
  notify(Change::form);
}

void ShiftsController::setPayMode(std::string mode) {
  if (mode == payMode_) return;
  payMode_ = std::move(mode);
  notify(Change::form);
}

void ShiftsController::setAdjustment(JSONValue draft) {
  if (draft == adjustment_ && draft.kind() == adjustment_.kind()) return;
  adjustment_ = std::move(draft);
  notify(Change::form);
}

void ShiftsController::setDeleting(std::optional<Record> adjustment) {
  if (adjustment == deleting_) return;
  deleting_ = std::move(adjustment);
  notify(Change::form);
}

void ShiftsController::follow() {
  const std::string generation = gateway_.generation ? gateway_.generation() : std::string();
  std::shared_ptr<ShiftsController> self = shared_from_this();
  keyed_.run(shiftsPath(monthKey()) + generation, [self] { return follow(self); });
}

async::Task<void> ShiftsController::follow(std::shared_ptr<ShiftsController> self) {
  self->select(std::nullopt);
  co_await self->load();
}

void ShiftsController::refresh() {
  auto run = [](std::shared_ptr<ShiftsController> self) -> async::Task<void> { co_await self->load(); };
  async::spawn(run(shared_from_this()));
}

namespace {

// The gateway's fetch, noting whether the server answered (a failure or a cancellation leaves the note unset).
async::Task<JSONValue> noting(ScreenSource::Fetch fetch, std::shared_ptr<bool> answered, std::string path,
                              std::string method, std::optional<JSONValue> body) {
  JSONValue answer = co_await fetch(std::move(path), std::move(method), std::move(body));
  *answered = true;
  co_return answer;
}

}  // namespace

async::Task<void> ShiftsController::load() {
  std::shared_ptr<ShiftsController> self = shared_from_this();
  ++self->loads_;
  // Counted down on every way out, a cancellation included.
  struct Done {
    std::shared_ptr<ShiftsController> self;
    ~Done() {
      if (--self->loads_ == 0) self->notify(Change::busy);
    }
  } done{self};
  const std::string requested = monthKey();
  auto answered = std::make_shared<bool>(false);
  ScreenSource source = screenSource(self->gateway_);
  source.fetch = [fetch = source.fetch, answered](std::string path, std::string method, std::optional<JSONValue> body) {
    return noting(fetch, answered, std::move(path), std::move(method), std::move(body));
  };
  co_await self->state_->load(shiftsPath(requested), std::move(source));
  // A failed load is the page's own news, not the panel's.
  if (!*answered && self->state_->issue()) self->issueOfCourier_ = false;
  const LoadVerdict verdict = judgeLoad(requested, self->monthKey(), self->document(), *answered);
  switch (verdict.action) {
    case LoadVerdict::Action::newerMonth:
      co_return;
    case LoadVerdict::Action::drop:
      self->state_->setValue(JSONValue());
      if (verdict.message) self->state_->setIssue(*verdict.message);
      co_return;
    case LoadVerdict::Action::keep:
      break;
  }
  // The field shows the server's rate again after every load, a failed one included.
  self->setDepotRate(depotRateText(self->document()));
}

void ShiftsController::write(std::string path, std::string method, JSONValue body, bool ofCourier) {
  issueOfCourier_ = ofCourier;
  async::spawn(runWrite(shared_from_this(), std::move(path), std::move(method), std::move(body)));
}

void ShiftsController::setIssue(std::string message, bool ofCourier) {
  issueOfCourier_ = ofCourier;
  state_->setIssue(std::move(message));
  notify(Change::issue);
}

async::Task<void> ShiftsController::runWrite(std::shared_ptr<ShiftsController> self, std::string path,
                                             std::string method, JSONValue body) {
  ++self->writes_;
  struct Done {
    std::shared_ptr<ShiftsController> self;
    ~Done() {
      if (--self->writes_ == 0) self->notify(Change::busy);
    }
  } done{self};
  const bool written =
      co_await self->state_->write(std::move(path), std::move(method), std::move(body), screenSource(self->gateway_));
  if (written) co_await self->load();
}

void ShiftsController::mark(int day, JSONValue worked) {
  const std::optional<Record> row = current();
  if (!row) return;
  JSONValue body = markBody(row->id(), monthKey(), day, std::move(worked));
  if (editable()) write("/panel/shifts/mark", "POST", std::move(body), true);
}

void ShiftsController::saveDepotRate() {
  double rate = 0;
  try {
    rate = amount(depotRate_, false);
  } catch (const DorvikError& refused) {
    setIssue(refused.message());
    return;
  }
  JSONValue body = JSONValue::object({{"shiftRate", rate}});
  if (editable()) write("/panel/shifts/rate", "PATCH", std::move(body));
}

}  // namespace dorvik::admin
