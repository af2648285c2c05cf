// The shifts and payroll page ("Смены и выплаты"): one month of one depot. The server sends the month document
// (the depot with its rate per shift, and one row per courier with his rate, pay mode, manual day marks, the days
// his routes worked and the month's adjustments); the page shows a period of that month (a third or the whole
// month), the figures of every courier over it, and the day grid of the selected courier. Every change is one
// request followed by a reload of the month; nothing is patched locally.
//
// The pure rules work on JSON values and plain values (the caller passes the month key, computed from the shown
// date in Moscow days). ShiftsController keeps the page's state for the view and the pay blocks of the selected
// courier.
//
// Main thread only. Tasks hold the controller: a write started before the page closed still updates its state.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "admin/logic/admin_gateway.h"
#include "admin/logic/keyed_task.h"
#include "core/async/task.h"
#include "core/base/observers.h"
#include "core/json/json_value.h"
#include "shell/toolkit/screen_data.h"

namespace dorvik::admin {

// "yyyy-MM" of the Moscow day of `date`.
std::string monthKey(std::chrono::system_clock::time_point date);
// "/panel/shifts?month=<key>".
std::string shiftsPath(std::string_view monthKey);
// The number of days of the Gregorian month "yyyy-MM"; 30 when the key is not such a month.
int lastDay(std::string_view monthKey);
// "<key>-<day, two digits at least>": "2025-03-03".
std::string dateOf(std::string_view monthKey, int day);

// A closed range of days of the month.
struct DayRange {
  int lo = 1;
  int hi = 30;
  bool contains(std::int64_t day) const { return lo <= day && day <= hi; }
  friend bool operator==(const DayRange&, const DayRange&) = default;
};

// The periods of the picker: 0 → 1–10, 1 → 11–20, 2 → 21–last day, 3 → the whole month (the only whole one).
inline constexpr int kWholeMonth = 3;
DayRange periodDays(int period, int lastDay);
// "1–10", "11–20", "21–<last day>", "Месяц" (with an en dash).
std::string periodTitle(int period, int lastDay);

// The figures of one courier row over a range of days. Amounts are rubles, never rounded here.
struct ShiftTotals {
  std::int64_t shifts = 0;
  double extras = 0;
  double fines = 0;
  double accrued = 0;
  double cash = 0;
  bool cashDeferred = false;  // official pay, or monthly pay on a part of the month: no cash figure applies

  // A manual mark of the day (its key the day without leading zeros) wins; without one, whether the route days
  // ("auto") hold the number `day`.
  static bool worked(const JSONValue& row, int day);
  static ShiftTotals calculate(const JSONValue& row, DayRange days, bool wholeMonth);
};

// The sums of the totals line and the export's total row: accrued over all rows, cash over the rows whose cash
// is not deferred; both 0 without rows.
struct SheetTotals {
  double accrued = 0;
  double cash = 0;
};
SheetTotals sheetTotals(const std::vector<Record>& rows, DayRange days, bool wholeMonth);

// An amount rounded to whole rubles (half to even) with its thousands grouped as the locale's LC_NUMERIC says:
// `separator` between groups, `grouping` as localeconv() gives it (sizes from the right, the last repeating;
// CHAR_MAX or an empty text: no grouping). No currency sign; "0" for a negative zero.
std::string money(double value, std::string_view separator, std::string_view grouping);
// The same with the grouping of the process's LC_NUMERIC locale (the user's, once GTK has set it).
std::string money(double value);

// One cell of the selected courier's day grid.
struct DayCell {
  int day = 0;
  bool worked = false;
  bool manual = false;     // the row's marks hold a non-null value for the day
  std::string caption;     // "вручную" or "авто"
  std::string accessible;  // "<day>: смена" or "<day>: выходной"
};
std::vector<DayCell> dayCells(const JSONValue& row, DayRange days);

// The month document.
std::string documentMonth(const JSONValue& document);      // "month" as text
std::string depotName(const JSONValue& document);          // "depot.name" as text
std::string depotRateText(const JSONValue& document);      // "depot.shiftRate" as text ("2500"; "" when missing)
std::vector<Record> shiftRows(const JSONValue& document);  // "rows" as records, in the server's order

// The body of a manual mark: {"courierId", "date": <key>-<dd>, "worked": true, false or null}.
JSONValue markBody(const std::string& courierID, std::string_view monthKey, int day, JSONValue worked);

// Whether the sheet may be written: signed in and online outside the demo, no request of the loader under way,
// and the held document is of the shown month.
bool sheetEditable(bool canWriteServer, bool saving, bool loading, const JSONValue& document,
                   std::string_view monthKey);
// "Сохранить ставку" also needs the user's depot.
bool depotRateSavable(bool editable, std::string_view depotID);

// What a finished load leaves: `keep` the document; `newerMonth` the user moved on meanwhile (the newer load
// sets the screen); `drop` a document of another month, with the message when the load brought an answer.
struct LoadVerdict {
  enum class Action { keep, newerMonth, drop } action = Action::keep;
  std::optional<std::string> message;
};
LoadVerdict judgeLoad(std::string_view requestedMonth, std::string_view shownMonth, const JSONValue& held,
                      bool answered);

inline constexpr const char* kOtherMonthMessage = "Сервер вернул ведомость за другой месяц.";
inline constexpr const char* kNoCourierText = "Выберите курьера для отметок и корректировок.";

class ShiftsController : public std::enable_shared_from_this<ShiftsController> {
 public:
  using TimePoint = std::chrono::system_clock::time_point;
  // document: the held month document changed; busy: loading or saving; date, period, selection; form: one of
  // the form fields (depot rate, the courier's pay settings, the adjustment draft, the pending deletion).
  enum class Change { document, busy, issue, date, period, selection, form };
  using Connection = Observers<Change>::Connection;

  // `depotID`: the signed-in user's "depotId" as text ("" without a depot).
  static std::shared_ptr<ShiftsController> create(AdminGateway gateway, std::function<std::string()> depotID,
                                                  TimePoint date = std::chrono::system_clock::now());
  ShiftsController(const ShiftsController&) = delete;
  ShiftsController& operator=(const ShiftsController&) = delete;
  ~ShiftsController();

  [[nodiscard]] Connection observe(std::function<void(Change)> observer) {
    return observers_.observe(std::move(observer));
  }

  const AdminGateway& gateway() const { return gateway_; }
  const std::shared_ptr<ScreenData>& state() const { return state_; }
  const JSONValue& document() const { return state_->value(); }
  std::vector<Record> rows() const { return shiftRows(document()); }

  // The shown month: any day of it. A day of another month loads that month.
  TimePoint date() const { return date_; }
  void setDate(TimePoint date);
  std::string monthKey() const { return admin::monthKey(date_); }
  int lastDay() const { return admin::lastDay(monthKey()); }

  int period() const { return period_; }
  void setPeriod(int period);
  DayRange days() const { return periodDays(period_, lastDay()); }
  bool wholeMonth() const { return period_ == kWholeMonth; }

  // The selected courier row by its Record id; current() is none when no held row has that id (the id stays).
  // A change of selection is reported as Change::selection.
  const std::optional<std::string>& selected() const { return selected_; }
  void select(std::optional<std::string> id);
  std::optional<Record> current() const;

  // A load runs until its month is judged and the depot-rate field reset; a write until its reload has ended.
  bool loading() const { return loads_ > 0 || state_->loading(); }
  bool saving() const { return writes_ > 0 || state_->saving(); }
  bool editable() const;
  bool canSaveDepotRate() const { return depotRateSavable(editable(), depotID_ ? depotID_() : std::string()); }
  bool canRefresh() const { return !loading() && !saving(); }

  // The form fields of the page: the depot-rate text, and the selected courier's own-rate switch, rate text,
  // pay mode and adjustment draft ({"kind": "extra", "day": 1} at first), and the adjustment awaiting the
  // confirmation of its deletion. Setters report Change::form.
  const std::string& depotRate() const { return depotRate_; }
  void setDepotRate(std::string text);
  bool ownRate() const { return ownRate_; }
  void setOwnRate(bool on);
  const std::string& rate() const { return rate_; }
  void setRate(std::string text);
  const std::string& payMode() const { return payMode_; }
  void setPayMode(std::string mode);
  const JSONValue& adjustment() const { return adjustment_; }
  void setAdjustment(JSONValue draft);
  const std::optional<Record>& deleting() const { return deleting_; }
  void setDeleting(std::optional<Record> adjustment);

  // Loading: follow() runs the page's task for the shown month and workspace (call when the page is shown and
  // whenever the workspace may have changed; the same month and workspace start nothing); the task clears the
  // selection, then loads. refresh(): a further load (the toolbar), the selection kept.
  void follow();
  // The page went away: its month load in flight is cancelled (a load holds the controller until it ends).
  void close() { keyed_.cancel(); }
  void refresh();
  async::Task<void> load();

  // The one way every change is sent: the request, then, when it succeeded in the same workspace, a reload. Returns
  // at once; callers check editable() first. `ofCourier`: the change comes from the selected courier's panel (a
  // day mark, his pay settings, an adjustment), whose failure is then shown there.
  void write(std::string path, std::string method, JSONValue body, bool ofCourier = false);

  // The selected courier's manual mark of `day` (true, false or null to follow the routes again).
  void mark(int day, JSONValue worked);
  // Sends the depot-rate field as the depot's rate per shift: a whole sum from 0 to 10 000 000, else the amount
  // rule's message becomes the issue and nothing is sent.
  void saveDepotRate();

  // Puts a check's message into the page's notice line; `ofCourier` as for write().
  void setIssue(std::string message, bool ofCourier = false);
  // The issue came from the selected courier's panel: the page shows it there, beside the form, while the panel is
  // shown, and at the top of the page otherwise.
  bool issueOfCourier() const { return issueOfCourier_; }

 private:
  ShiftsController(AdminGateway gateway, std::function<std::string()> depotID, TimePoint date);
  static async::Task<void> follow(std::shared_ptr<ShiftsController> self);
  static async::Task<void> runWrite(std::shared_ptr<ShiftsController> self, std::string path, std::string method,
                                    JSONValue body);
  void notify(Change change) { observers_.notify(change); }

  AdminGateway gateway_;
  std::function<std::string()> depotID_;
  std::shared_ptr<ScreenData> state_ = ScreenData::create();
  TimePoint date_;
  int period_ = kWholeMonth;
  std::optional<std::string> selected_;
  std::string rate_;
  std::string depotRate_;
  bool ownRate_ = false;
  std::string payMode_ = "shift";
  JSONValue adjustment_ = JSONValue::object({{"kind", "extra"}, {"day", 1}});
  std::optional<Record> deleting_;
  int loads_ = 0;
  int writes_ = 0;
  bool issueOfCourier_ = false;
  KeyedTask keyed_;
  ScreenData::Connection stateConnection_;
  Observers<Change> observers_;
};

}  // namespace dorvik::admin
