#include "admin/logic/payroll.h"

#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "core/api/path_encoding.h"
#include "core/base/errors.h"
#include "core/base/text.h"
#include "shell/toolkit/display.h"

namespace dorvik::admin {

namespace {

constexpr double kMostRubles = 10'000'000;
constexpr std::size_t kMostNoteCharacters = 500;

locale_t cNumericLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

bool isCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool isFine(const JSONValue& adjustment) { return adjustment["kind"].string() == "fine"; }

}  // namespace

// ---- Amounts

std::string amountMessage(bool positive) {
  return std::string("Укажите целую сумму ") + (positive ? "от 1" : "от 0") + " до 10 000 000 ₽.";
}

double amount(std::string_view text, bool positive) {
  if (text.empty() || isCSpace(text.front())) throw DorvikError(amountMessage(positive));
  const std::string buffer(text);
  char* end = nullptr;
  const double value = strtod_l(buffer.c_str(), &end, cNumericLocale());
  // A NUL inside the text also stops the reading short of the end.
  if (end != buffer.c_str() + buffer.size()) throw DorvikError(amountMessage(positive));
  if (!std::isfinite(value) || value != std::round(value) || value < (positive ? 1 : 0) || value > kMostRubles) {
    throw DorvikError(amountMessage(positive));
  }
  return value == 0 ? 0.0 : value;  // "-0" is sent as 0
}

// ---- The selected courier's forms

JSONValue newAdjustment(int firstDay) { return JSONValue::object({{"kind", "extra"}, {"day", firstDay}}); }

std::string draftText(const JSONValue& draft, std::string_view key) { return draft[key].string(); }

void setDraftText(JSONValue& draft, std::string_view key, std::string text) { draft.set(key, std::move(text)); }

std::string courierPayPath(std::string_view courierID) { return "/panel/shifts/courier/" + encodeID(courierID); }

JSONValue payBody(bool ownRate, std::string_view rate, std::string_view payMode) {
  JSONValue shiftRate = ownRate ? JSONValue(amount(rate, false)) : JSONValue();
  return JSONValue::object({{"shiftRate", std::move(shiftRate)}, {"payMode", std::string(payMode)}});
}

std::optional<int> parseDay(std::string_view text, int lastDay) {
  std::string_view digits = text;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
  if (digits.empty()) return std::nullopt;
  for (char c : digits)
    if (c < '0' || c > '9') return std::nullopt;
  std::int64_t day = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), day);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;  // beyond 64 bits
  if (text.front() == '-') day = -day;
  if (day < 1 || day > lastDay) return std::nullopt;
  return static_cast<int>(day);
}

bool noteFits(std::string_view note) { return characterCount(note) <= kMostNoteCharacters; }

JSONValue adjustmentBody(std::string_view courierID, std::string_view monthKey, const JSONValue& draft, int lastDay) {
  const std::optional<int> day = parseDay(draftText(draft, "day"), lastDay);
  if (!day) throw DorvikError(kDayOrNoteMessage);
  std::string note = draftText(draft, "note");
  if (!noteFits(note)) throw DorvikError(kDayOrNoteMessage);
  const double sum = amount(draftText(draft, "amount"), true);
  return JSONValue::object({{"courierId", std::string(courierID)},
                            {"date", dateOf(monthKey, *day)},
                            {"kind", draft["kind"]},
                            {"amount", sum},
                            {"note", std::move(note)}});
}

std::string adjustmentPath(std::string_view adjustmentID) {
  return std::string(kAdjustPath) + "/" + encodeID(adjustmentID);
}

// ---- Adjustments of the shown period

std::vector<Record> adjustmentsInPeriod(const JSONValue& row, DayRange days) {
  std::vector<Record> kept;
  for (const JSONValue& adjustment : row["adjust"].array()) {
    const std::int64_t day = adjustment["day"].intValue();
    if (days.contains(day)) kept.emplace_back(adjustment, std::to_string(kept.size()));
  }
  return kept;
}

std::string adjustmentRowText(const JSONValue& adjustment) {
  return std::to_string(adjustment["day"].intValue()) + " · " + (isFine(adjustment) ? "Штраф" : "Доплата") + " · " +
         adjustment["amount"].string() + " ₽";
}

std::string commentsCell(const JSONValue& row, DayRange days) {
  std::string out;
  for (const Record& adjustment : adjustmentsInPeriod(row, days)) {
    if (!out.empty()) out += "; ";
    out += std::to_string(adjustment.value["day"].intValue()) + ": " +
           (isFine(adjustment.value) ? "штраф" : "доплата") + " " + adjustment.value["amount"].string() + " · " +
           adjustment.value["note"].string();
  }
  return out;
}

// ---- The pay sheet

JSONArray paySheetTable(const std::vector<Record>& rows, DayRange days, bool wholeMonth) {
  JSONArray table;
  table.reserve(rows.size() + 2);
  table.push_back(JSONValue::array({"Курьер", "Смены", "Ставка", "Допы", "Штрафы", "Начислено", "Наличными",
                                    "Режим оплаты", "Комментарии"}));
  std::int64_t shifts = 0;
  double extras = 0, fines = 0, accrued = 0, cash = 0;
  for (const Record& row : rows) {
    const ShiftTotals totals = ShiftTotals::calculate(row.value, days, wholeMonth);
    shifts += totals.shifts;
    extras += totals.extras;
    fines += totals.fines;
    accrued += totals.accrued;
    if (!totals.cashDeferred) cash += totals.cash;
    table.push_back(JSONValue::array({row.value["fullName"], static_cast<long long>(totals.shifts),
                                      row.value["rate"], totals.extras, totals.fines, totals.accrued,
                                      totals.cashDeferred ? JSONValue() : JSONValue(totals.cash),
                                      display(row.value["payMode"]), commentsCell(row.value, days)}));
  }
  table.push_back(JSONValue::array({"Итого", static_cast<long long>(shifts), JSONValue(), extras, fines, accrued,
                                    cash, JSONValue(), JSONValue()}));
  return table;
}

std::string paySheetFileName(std::string_view monthKey, DayRange days) {
  return "Смены-" + std::string(monthKey) + "-" + std::to_string(days.lo) + "-" + std::to_string(days.hi);
}

// ---- The page's pay actions

void setDraft(ShiftsController& page) {
  const std::optional<Record> row = page.current();
  if (!row) return;
  page.setOwnRate(row->value["ownRate"].boolValue());
  page.setRate(row->value["rate"].string());
  page.setPayMode(row->value["payMode"].string());
  page.setAdjustment(newAdjustment(page.days().lo));
}

void saveCourier(ShiftsController& page) {
  const std::optional<Record> row = page.current();
  if (!row) return;
  JSONValue body;
  try {
    body = payBody(page.ownRate(), page.rate(), page.payMode());
  } catch (const DorvikError& e) {
    page.setIssue(e.message(), true);
    return;
  }
  if (page.editable()) page.write(courierPayPath(row->id()), "PATCH", std::move(body), true);
}

void addAdjustment(ShiftsController& page) {
  const std::optional<Record> row = page.current();
  if (!row) return;
  JSONValue body;
  try {
    body = adjustmentBody(row->id(), page.monthKey(), page.adjustment(), page.lastDay());
  } catch (const DorvikError& e) {
    page.setIssue(e.message(), true);
    return;
  }
  if (page.editable()) page.write(kAdjustPath, "POST", std::move(body), true);
}

void confirmDeletion(ShiftsController& page) {
  if (const std::optional<Record> adjustment = page.deleting(); adjustment && page.editable())
    page.write(adjustmentPath(adjustment->id()), "DELETE", JSONValue(), true);
  page.setDeleting(std::nullopt);
}

bool canExportPaySheet(const ShiftsController& page) { return !page.document()["rows"].array().empty(); }

void exportPaySheet(ShiftsController& page) {
  if (!page.gateway().exportRows || !canExportPaySheet(page)) return;
  JSONArray table = paySheetTable(page.rows(), page.days(), page.wholeMonth());
  auto run = [](std::shared_ptr<ShiftsController> page, JSONArray table) -> async::Task<void> {
    // The name follows the month and period shown when the export runs; the rows are those of the press.
    co_await page->gateway().exportRows(std::move(table), paySheetFileName(page->monthKey(), page->days()), "");
  };
  async::spawn(run(page.shared_from_this(), std::move(table)));
}

}  // namespace dorvik::admin
