// The shifts page without a display: month lengths and periods, the worked days and totals of worked months, money
// as shown, and the controller's load, write-and-reload and editability rules over a scripted gateway.
#include <gtest/gtest.h>

#include "admin/logic/fake_gateway.h"
#include "admin/logic/shifts.h"
#include "core/base/dorvik_date.h"
#include "model/preview_data.h"
#include "support/async_helpers.h"

using namespace dorvik;
using namespace dorvik::admin;
using dorvik::admin::testing::FakeCall;
using dorvik::admin::testing::FakeGateway;
using dorvik::testing::spinUntil;

namespace {

ShiftsController::TimePoint dayOf(const char* day) { return DorvikDate::parse(day) + std::chrono::hours(12); }

JSONValue row(JSONValue marks, JSONValue autoDays, JSONValue adjust = JSONArray{}, JSONValue rate = 2000,
              const char* payMode = "shift") {
  return JSONValue::object({{"id", "k1"},
                            {"fullName", "Иванов Пётр"},
                            {"rate", std::move(rate)},
                            {"payMode", payMode},
                            {"marks", std::move(marks)},
                            {"auto", std::move(autoDays)},
                            {"adjust", std::move(adjust)}});
}

JSONValue adjustment(JSONValue day, const char* kind, double amount) {
  return JSONValue::object({{"id", "a"}, {"day", std::move(day)}, {"kind", kind}, {"amount", amount}});
}

JSONValue monthDocument(const char* month, JSONArray rows, JSONValue depotRate = 2500) {
  return JSONValue::object({{"month", month},
                            {"depot", JSONValue::object({{"name", "Склад"}, {"shiftRate", std::move(depotRate)}})},
                            {"rows", JSONValue(std::move(rows))}});
}

}  // namespace

TEST(ShiftsMonth, MonthLengthsPeriodsAndDates) {
  struct Case {
    const char* key;
    int last;
    const char* third;
  };
  for (const Case& c : {Case{"2024-02", 29, "21–29"}, Case{"2025-02", 28, "21–28"}, Case{"2025-12", 31, "21–31"},
                        Case{"2026-04", 30, "21–30"}, Case{"1900-02", 28, "21–28"}, Case{"2000-02", 29, "21–29"},
                        Case{"garbage", 30, "21–30"}, Case{"2025-13", 30, "21–30"}}) {
    EXPECT_EQ(lastDay(c.key), c.last) << c.key;
    EXPECT_EQ(periodTitle(2, lastDay(c.key)), c.third) << c.key;
  }
  EXPECT_EQ(periodDays(0, 31), (DayRange{1, 10}));
  EXPECT_EQ(periodDays(1, 31), (DayRange{11, 20}));
  EXPECT_EQ(periodDays(2, 28), (DayRange{21, 28}));
  EXPECT_EQ(periodDays(3, 31), (DayRange{1, 31}));
  EXPECT_EQ(periodTitle(0, 31), "1–10");
  EXPECT_EQ(periodTitle(3, 31), "Месяц");
  EXPECT_EQ(dateOf("2025-03", 3), "2025-03-03");
  EXPECT_EQ(dateOf("2025-03", 31), "2025-03-31");
  // The month of the Moscow day: 21:30 UTC on 31 March is already 1 April in Moscow.
  using namespace std::chrono;
  EXPECT_EQ(monthKey(sys_days{year{2026} / 3 / 31} + hours(21) + minutes(30)), "2026-04");
  EXPECT_EQ(monthKey(sys_days{year{2026} / 3 / 31} + hours(20) + minutes(30)), "2026-03");
  EXPECT_EQ(shiftsPath("2026-03"), "/panel/shifts?month=2026-03");
}

TEST(ShiftsMonth, ManualMarksWinOverRouteDaysAndOnlyPlainDayKeysAndNumbersMatch) {
  const JSONValue r = row(
      JSONValue::object(
          {{"5", false}, {"7", true}, {"8", JSONValue()}, {"09", true}, {"2025-03-10", true}, {"11", "1"}, {"12", 0}}),
      JSONValue::array({5, 6, 8, "9", 13.0}));
  struct Case {
    int day;
    bool worked;
  };
  for (const Case& c : {Case{5, false}, Case{6, true}, Case{7, true}, Case{8, true}, Case{9, false}, Case{10, false},
                        Case{11, true}, Case{12, false}, Case{13, true}, Case{14, false}})
    EXPECT_EQ(ShiftTotals::worked(r, c.day), c.worked) << c.day;

  const std::vector<DayCell> cells = dayCells(r, {5, 8});
  ASSERT_EQ(cells.size(), 4u);
  EXPECT_EQ(cells[0].caption, "вручную");
  EXPECT_FALSE(cells[0].worked);
  EXPECT_EQ(cells[0].accessible, "5: выходной");
  EXPECT_EQ(cells[1].caption, "авто");
  EXPECT_EQ(cells[1].accessible, "6: смена");
  EXPECT_EQ(cells[3].caption, "авто") << "a null mark is no manual mark";
}

TEST(ShiftsMonth, TotalsOfAWorkedMonthByPayModeAndPeriod) {
  // rate 2000, days 2, 3 and 4 worked, an extra of 500 and a fine of 300 in the first ten days.
  const JSONArray adjust = {adjustment(2, "extra", 500), adjustment(4, "fine", 300)};
  struct Case {
    const char* mode;
    bool whole;
    double cash;
    bool deferred;
  };
  for (const Case& c :
       {Case{"shift", true, 6200, false}, Case{"shift", false, 6200, false}, Case{"official", true, 0, true},
        Case{"monthly", true, 6200, false}, Case{"monthly", false, 0, true}, Case{"", false, 6200, false},
        Case{"weekly", false, 6200, false}}) {
    const ShiftTotals t =
        ShiftTotals::calculate(row(JSONObject{}, JSONValue::array({2, 3, 4}), adjust, 2000, c.mode), {1, 10}, c.whole);
    EXPECT_EQ(t.shifts, 3) << c.mode;
    EXPECT_EQ(t.extras, 500);
    EXPECT_EQ(t.fines, 300);
    EXPECT_EQ(t.accrued, 6200) << c.mode;
    EXPECT_EQ(t.cash, c.cash) << c.mode << c.whole;
    EXPECT_EQ(t.cashDeferred, c.deferred) << c.mode << c.whole;
  }
}

TEST(ShiftsMonth, AdjustmentsCountOnlyWithinThePeriodAndAnyKindButFineIsAnExtra) {
  const JSONValue r = row(
      JSONObject{}, JSONArray{},
      JSONValue::array({adjustment(10, "fine", 100), adjustment(11, "fine", 1000), adjustment(JSONValue(), "extra", 7),
                        adjustment("3", "bonus", 40), JSONValue::object({{"day", 5}, {"amount", "2,5"}}),
                        JSONValue::object({{"day", 6}, {"kind", "fine"}, {"amount", "x"}})}),
      JSONValue());
  const ShiftTotals first = ShiftTotals::calculate(r, {1, 10}, false);
  EXPECT_EQ(first.fines, 100);
  EXPECT_EQ(first.extras, 42.5);
  EXPECT_EQ(first.shifts, 0);
  EXPECT_EQ(first.accrued, -57.5) << "a courier without a rate earns only his adjustments; negatives stay";
  EXPECT_EQ(first.cash, -57.5);
  EXPECT_EQ(ShiftTotals::calculate(r, {11, 20}, false).fines, 1000);
}

TEST(ShiftsMonth, A31DayMonthAndAPartialMonthSumUpOverAllRows) {
  // March 2025: one courier worked every day by routes, one has manual marks only, one is paid officially.
  JSONArray everyDay;
  for (int d = 1; d <= 31; ++d) everyDay.push_back(d);
  const std::vector<Record> rows =
      JSONValue::records({row(JSONObject{}, JSONValue(everyDay), JSONArray{}, 1000),
                          row(JSONValue::object({{"31", true}, {"1", true}}), JSONArray{},
                              JSONValue::array({adjustment(31, "extra", 250)}), 1500, "monthly"),
                          row(JSONObject{}, JSONValue::array({1, 2}), JSONArray{}, 3000, "official")});
  const DayRange month = periodDays(3, lastDay("2025-03"));
  const SheetTotals whole = sheetTotals(rows, month, true);
  EXPECT_EQ(whole.accrued, 31000 + 3250 + 6000);
  EXPECT_EQ(whole.cash, 31000 + 3250);
  const SheetTotals last = sheetTotals(rows, periodDays(2, 31), false);
  EXPECT_EQ(last.accrued, 11000 + 1750);
  EXPECT_EQ(last.cash, 11000) << "monthly and official pay give no cash on a part of the month";
  EXPECT_EQ(sheetTotals({}, month, true).accrued, 0);
  EXPECT_EQ(sheetTotals({}, month, true).cash, 0);
}

TEST(ShiftsMoney, RoundsHalfToEvenAndGroupsAsTheLocaleSays) {
  const std::string nbsp = "\u00a0";
  struct Case {
    double value;
    const char* grouping;
    const char* expected;
  };
  for (const Case& c :
       {Case{0, "\3", "0"}, Case{-0.4, "\3", "0"}, Case{2.5, "\3", "2"}, Case{3.5, "\3", "4"}, Case{999, "\3", "999"},
        Case{1000, "\3", "1 000"}, Case{-1234567.5, "\3", "-1 234 568"}, Case{12345678, "\3\2", "1 23 45 678"},
        Case{1234567, "", "1234567"}, Case{1234567, "\177", "1234567"}})
    EXPECT_EQ(money(c.value, nbsp, c.grouping), [&] {
      std::string s = c.expected;
      for (std::size_t at; (at = s.find(' ')) != std::string::npos;) s.replace(at, 1, nbsp);
      return s;
    }()) << c.value;
  EXPECT_EQ(money(1234567, "", "\3"), "1234567");
}

TEST(ShiftsState, EditabilityAndTheVerdictOfAFinishedLoad) {
  const JSONValue march = monthDocument("2026-03", {});
  EXPECT_TRUE(sheetEditable(true, false, false, march, "2026-03"));
  EXPECT_FALSE(sheetEditable(false, false, false, march, "2026-03"));
  EXPECT_FALSE(sheetEditable(true, true, false, march, "2026-03"));
  EXPECT_FALSE(sheetEditable(true, false, true, march, "2026-03"));
  EXPECT_FALSE(sheetEditable(true, false, false, march, "2026-04"));
  EXPECT_FALSE(sheetEditable(true, false, false, JSONValue(), "2026-03"));
  EXPECT_FALSE(depotRateSavable(true, ""));
  EXPECT_TRUE(depotRateSavable(true, "d1"));

  using A = LoadVerdict::Action;
  EXPECT_EQ(judgeLoad("2026-03", "2026-04", march, true).action, A::newerMonth);
  EXPECT_EQ(judgeLoad("2026-03", "2026-03", march, true).action, A::keep);
  EXPECT_EQ(judgeLoad("2026-03", "2026-03", JSONValue(), false).action, A::keep);
  const LoadVerdict other = judgeLoad("2026-04", "2026-04", march, true);
  EXPECT_EQ(other.action, A::drop);
  EXPECT_EQ(other.message, std::optional<std::string>(kOtherMonthMessage));
  const LoadVerdict failed = judgeLoad("2026-04", "2026-04", march, false);
  EXPECT_EQ(failed.action, A::drop);
  EXPECT_FALSE(failed.message) << "a failed load keeps the failure's message";
  EXPECT_EQ(judgeLoad("2026-04", "2026-04", JSONValue::object({{"rows", JSONArray{}}}), true).action, A::drop);
}

class ShiftsControllerTest : public ::testing::Test {
 protected:
  std::shared_ptr<ShiftsController> controller(const char* day) {
    auto made = ShiftsController::create(
        fake.gateway(), [this] { return depot; }, dayOf(day));
    made->follow();
    return made;
  }
  std::shared_ptr<FakeCall> waitCall(std::size_t count) {
    EXPECT_TRUE(spinUntil([&] { return fake.calls.size() >= count; }));
    return fake.calls.size() >= count ? fake.calls[count - 1] : nullptr;
  }

  FakeGateway fake;
  std::string depot = "d1";
};

TEST_F(ShiftsControllerTest, AMarkIsSentThenTheMonthReloadsKeepingTheSelection) {
  auto page = controller("2025-03-03");
  auto load = waitCall(1);
  EXPECT_EQ(load->path, "/panel/shifts?month=2025-03");
  EXPECT_FALSE(page->editable()) << "nothing is written while loading";
  FakeGateway::finish(load, monthDocument("2025-03", {row(JSONObject{}, JSONValue::array({3}))}, 2500));
  ASSERT_TRUE(spinUntil([&] { return !page->loading(); }));
  EXPECT_EQ(page->depotRate(), "2500");
  EXPECT_TRUE(page->editable());

  page->select("k1");
  ASSERT_TRUE(page->current());
  page->setDepotRate("9999");
  page->mark(3, JSONValue(false));
  auto mark = waitCall(2);
  EXPECT_EQ(mark->method + " " + mark->path, "POST /panel/shifts/mark");
  EXPECT_EQ(*mark->body, JSONValue::object({{"courierId", "k1"}, {"date", "2025-03-03"}, {"worked", false}}));
  EXPECT_FALSE(page->editable()) << "saving";
  page->mark(4, JSONValue(true));
  FakeGateway::finish(mark, JSONValue::object({{"ok", true}}));
  auto reload = waitCall(3);
  EXPECT_EQ(reload->method + " " + reload->path, "GET /panel/shifts?month=2025-03");
  FakeGateway::finish(reload,
                      monthDocument("2025-03", {row(JSONValue::object({{"3", false}}), JSONValue::array({3}))}, 2600));
  ASSERT_TRUE(spinUntil([&] { return page->editable(); }));
  EXPECT_EQ(fake.calls.size(), 3u) << "the mark made while saving was refused";
  EXPECT_EQ(page->selected(), std::optional<std::string>("k1"));
  EXPECT_FALSE(ShiftTotals::worked(page->current()->value, 3));
  EXPECT_EQ(page->depotRate(), "2600") << "the reload puts the server's rate back";

  // A failed write shows its message and does not reload.
  page->mark(3, JSONValue());
  auto refused = waitCall(4);
  EXPECT_EQ(refused->body->path("worked"), JSONValue());
  FakeGateway::fail(refused, "Нет прав.");
  ASSERT_TRUE(spinUntil([&] { return !page->saving(); }));
  EXPECT_EQ(page->state()->issue(), std::optional<std::string>("Нет прав."));
  EXPECT_EQ(fake.calls.size(), 4u);

  // The depot rate: whole sums from 0; anything else is refused with the amount message and sends nothing.
  for (const char* refused : {"2500.5", "-1", "10000001", "2500,0", "2 500", " 2500", ""}) {
    page->setDepotRate(refused);
    page->saveDepotRate();
    EXPECT_EQ(page->state()->issue(),
              std::optional<std::string>("Укажите целую сумму от 0 до 10 000 000 ₽."))
        << refused;
  }
  EXPECT_EQ(fake.calls.size(), 4u);
  page->setDepotRate("0");
  page->saveDepotRate();
  auto rate = waitCall(5);
  EXPECT_EQ(rate->method + " " + rate->path, "PATCH /panel/shifts/rate");
  EXPECT_EQ(*rate->body, JSONValue::object({{"shiftRate", 0}}));
  FakeGateway::fail(rate, "Нет связи.", 0);
  ASSERT_TRUE(spinUntil([&] { return !page->saving(); }));

  // Offline nothing is sent.
  fake.canWrite = false;
  page->mark(5, JSONValue(true));
  page->setDepotRate("100");
  page->saveDepotRate();
  EXPECT_EQ(fake.calls.size(), 5u);
}

TEST_F(ShiftsControllerTest, AnotherMonthClearsTheSelectionAndAWrongOrFailedMonthDropsTheDocument) {
  auto page = controller("2026-03-10");
  FakeGateway::finish(waitCall(1), monthDocument("2026-03", {row(JSONObject{}, JSONArray{})}, 2500));
  ASSERT_TRUE(spinUntil([&] { return !page->loading(); }));
  page->select("k1");
  page->setDepotRate("typed");

  // Another day of the same month loads nothing.
  page->setDate(dayOf("2026-03-20"));
  page->follow();
  EXPECT_EQ(fake.calls.size(), 1u);

  // April: the selection is cleared; the server cannot be reached and April is not cached.
  page->setDate(dayOf("2026-04-02"));
  auto april = waitCall(2);
  EXPECT_EQ(april->path, "/panel/shifts?month=2026-04");
  EXPECT_FALSE(page->selected());
  EXPECT_EQ(page->rows().size(), 1u) << "March stays on screen while April loads";
  FakeGateway::fail(april, "Нет связи с сервером.", 0);
  ASSERT_TRUE(spinUntil([&] { return !page->loading(); }));
  EXPECT_TRUE(page->document().isNull()) << "March is dropped";
  EXPECT_EQ(page->state()->issue(), std::optional<std::string>("Нет связи с сервером."));

  // The server answers another month.
  page->refresh();
  FakeGateway::finish(waitCall(3), monthDocument("2026-05", {row(JSONObject{}, JSONArray{})}));
  ASSERT_TRUE(spinUntil([&] { return !page->loading(); }));
  EXPECT_TRUE(page->document().isNull());
  EXPECT_EQ(page->state()->issue(), std::optional<std::string>(kOtherMonthMessage));
  EXPECT_EQ(page->depotRate(), "typed") << "a dropped document leaves the field alone";
  EXPECT_FALSE(page->editable());

  // A new workspace reloads the same month.
  fake.generation = "g2";
  page->follow();
  FakeGateway::finish(waitCall(4), monthDocument("2026-04", {}, JSONValue()));
  ASSERT_TRUE(spinUntil([&] { return !page->loading(); }));
  EXPECT_EQ(page->depotRate(), "");
  EXPECT_TRUE(page->editable());
  EXPECT_TRUE(page->canSaveDepotRate());
  depot.clear();
  EXPECT_FALSE(page->canSaveDepotRate());
}

TEST(ShiftsState, TheDemoMonthIsAcceptedForTheMonthAsked) {
  const JSONValue demo = PreviewData::response("/panel/shifts?month=2026-03", JSONValue());
  EXPECT_EQ(judgeLoad("2026-03", "2026-03", demo, true).action, LoadVerdict::Action::keep);
  const std::vector<Record> rows = shiftRows(demo);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_FALSE(rows[0].id().empty());
  EXPECT_EQ(depotRateText(demo), "4000");
  EXPECT_EQ(sheetTotals(rows, periodDays(kWholeMonth, 31), true).accrued, 2 * 4000);
}
