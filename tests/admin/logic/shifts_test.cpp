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

TEST(ShiftsMonth, MonthLengthsPeriodsAndTheMoscowMonth) {
  struct Case {
    const char* key;
    int last;
    const char* third;
  };
  for (const Case& c : {Case{"2024-02", 29, "21–29"}, Case{"2025-02", 28, "21–28"}, Case{"2025-12", 31, "21–31"},
                        Case{"1900-02", 28, "21–28"}, Case{"2000-02", 29, "21–29"}, Case{"garbage", 30, "21–30"},
                        Case{"2025-13", 30, "21–30"}}) {
    EXPECT_EQ(lastDay(c.key), c.last) << c.key;
    EXPECT_EQ(periodTitle(2, lastDay(c.key)), c.third) << c.key;
  }
  EXPECT_EQ(periodDays(3, 31), (DayRange{1, 31})) << "the fourth period is the whole month";
  // 21:30 UTC on 31 March is already 1 April in Moscow.
  using namespace std::chrono;
  EXPECT_EQ(monthKey(sys_days{year{2026} / 3 / 31} + hours(21) + minutes(30)), "2026-04");
  EXPECT_EQ(monthKey(sys_days{year{2026} / 3 / 31} + hours(20) + minutes(30)), "2026-03");
}

TEST(ShiftsMonth, ManualMarksWinOverRouteDaysAndOnlyPlainDayKeysAndNumbersMatch) {
  const JSONValue r = row(
      JSONValue::object(
          {{"5", false}, {"7", true}, {"8", JSONValue()}, {"09", true}, {"2025-03-10", true}, {"11", "1"}, {"12", 0}}),
      JSONValue::array({5, 6, 8, "9", 13.0}));
  for (const auto& [day, worked] : {std::pair{5, false},
                                    {6, true},
                                    {7, true},
                                    {8, true},
                                    {9, false},
                                    {10, false},
                                    {11, true},
                                    {12, false},
                                    {13, true},
                                    {14, false}})
    EXPECT_EQ(ShiftTotals::worked(r, day), worked) << day;
  const std::vector<DayCell> cells = dayCells(r, {5, 8});
  ASSERT_EQ(cells.size(), 4u);
  EXPECT_EQ(cells[0].caption + " " + cells[0].accessible, "вручную 5: выходной");
  EXPECT_EQ(cells[3].caption, "авто") << "a null mark is no manual mark";
}

TEST(ShiftsMonth, TotalsByPayModePeriodAndAdjustments) {
  // rate 2000, days 2, 3 and 4 worked, an extra of 500 and a fine of 300 in the first ten days.
  const JSONArray adjust = {adjustment(2, "extra", 500), adjustment(4, "fine", 300), adjustment(11, "fine", 1000)};
  struct Case {
    const char* mode;
    bool whole;
    double cash;
  };
  for (const Case& c : {Case{"shift", false, 6200}, Case{"official", true, 0}, Case{"monthly", true, 6200},
                        Case{"monthly", false, 0}, Case{"", false, 6200}}) {
    const ShiftTotals t =
        ShiftTotals::calculate(row(JSONObject{}, JSONValue::array({2, 3, 4}), adjust, 2000, c.mode), {1, 10}, c.whole);
    EXPECT_EQ(t.accrued, 6200) << c.mode;
    EXPECT_EQ(t.cash, c.cash) << c.mode << c.whole;
    EXPECT_EQ(t.cashDeferred, c.cash == 0) << c.mode << c.whole;
  }
  // Without a rate only adjustments count, negatives stay; any kind but a fine is an extra; bad amounts are skipped.
  const JSONValue r =
      row(JSONObject{}, JSONArray{},
          JSONValue::array({adjustment(10, "fine", 100), adjustment(JSONValue(), "extra", 7),
                            adjustment("3", "bonus", 40), JSONValue::object({{"day", 5}, {"amount", "2,5"}}),
                            JSONValue::object({{"day", 6}, {"kind", "fine"}, {"amount", "x"}})}),
          JSONValue());
  const ShiftTotals first = ShiftTotals::calculate(r, {1, 10}, false);
  EXPECT_EQ(first.extras, 42.5);
  EXPECT_EQ(first.fines, 100);
  EXPECT_EQ(first.cash, -57.5);
}

TEST(ShiftsMoney, RoundsHalfToEvenAndGroupsAsTheLocaleSays) {
  const std::string nbsp = "\u00a0";
  struct Case {
    double value;
    const char* grouping;
    const char* expected;
  };
  for (const Case& c : {Case{-0.4, "\3", "0"}, Case{2.5, "\3", "2"}, Case{3.5, "\3", "4"}, Case{999, "\3", "999"},
                        Case{-1234567.5, "\3", "-1 234 568"}, Case{12345678, "\3\2", "1 23 45 678"},
                        Case{1234567, "", "1234567"}, Case{1234567, "\177", "1234567"}}) {
    std::string expected = c.expected;
    for (std::size_t at; (at = expected.find(' ')) != std::string::npos;) expected.replace(at, 1, nbsp);
    EXPECT_EQ(money(c.value, nbsp, c.grouping), expected) << c.value;
  }
}

TEST(ShiftsState, EditabilityAndTheVerdictOfAFinishedLoad) {
  const JSONValue march = monthDocument("2026-03", {});
  EXPECT_TRUE(sheetEditable(true, false, false, march, "2026-03"));
  EXPECT_FALSE(sheetEditable(true, false, false, march, "2026-04")) << "not while another month is shown";

  using A = LoadVerdict::Action;
  EXPECT_EQ(judgeLoad("2026-03", "2026-04", march, true).action, A::newerMonth);
  EXPECT_EQ(judgeLoad("2026-03", "2026-03", JSONValue(), false).action, A::keep);
  EXPECT_EQ(judgeLoad("2026-04", "2026-04", march, true).message, std::optional<std::string>(kOtherMonthMessage));
  const LoadVerdict failed = judgeLoad("2026-04", "2026-04", march, false);
  EXPECT_EQ(failed.action, A::drop);
  EXPECT_FALSE(failed.message) << "a failed load keeps the failure's message";
  EXPECT_EQ(judgeLoad("2026-04", "2026-04", JSONValue::object({{"rows", JSONArray{}}}), true).action, A::drop);
  // The demo month is accepted for the month asked.
  const JSONValue demo = PreviewData::response("/panel/shifts?month=2026-03", JSONValue());
  EXPECT_EQ(judgeLoad("2026-03", "2026-03", demo, true).action, A::keep);
  EXPECT_EQ(sheetTotals(shiftRows(demo), periodDays(kWholeMonth, 31), true).accrued, 2 * 4000);
}

// What the stand-in-server test cannot time: a write while another is saving, a failed month load, offline.
TEST(ShiftsController, WritesOneAtATimeSendsNothingOfflineAndDropsAFailedMonth) {
  FakeGateway fake;
  auto page = ShiftsController::create(fake.gateway(), [] { return std::string("d1"); }, dayOf("2025-03-03"));
  page->follow();
  const auto call = [&](std::size_t count) {
    EXPECT_TRUE(spinUntil([&] { return fake.calls.size() >= count; }));
    return fake.calls.size() >= count ? fake.calls[count - 1] : nullptr;
  };
  FakeGateway::finish(call(1), monthDocument("2025-03", {row(JSONObject{}, JSONValue::array({3}))}));
  ASSERT_TRUE(spinUntil([&] { return page->editable(); }));
  page->select("k1");
  page->setDepotRate("typed");
  page->mark(3, JSONValue(false));
  auto mark = call(2);
  page->mark(4, JSONValue(true));
  FakeGateway::finish(mark, JSONValue::object({{"ok", true}}));
  FakeGateway::finish(call(3), monthDocument("2025-03", {row(JSONValue::object({{"3", false}}), JSONArray{})}, 2600));
  ASSERT_TRUE(spinUntil([&] { return page->editable(); }));
  EXPECT_EQ(fake.calls.size(), 3u) << "the mark made while saving was refused";
  EXPECT_EQ(page->depotRate(), "2600") << "the reload puts the server's rate back";

  fake.canWrite = false;
  page->mark(5, JSONValue(true));
  page->saveDepotRate();
  EXPECT_EQ(fake.calls.size(), 3u) << "offline nothing is sent";

  // April cannot be reached: March is dropped, not shown as April.
  page->setDate(dayOf("2026-04-02"));
  EXPECT_EQ(page->rows().size(), 1u) << "March stays on screen while April loads";
  FakeGateway::fail(call(4), "Нет связи с сервером.", 0);
  ASSERT_TRUE(spinUntil([&] { return !page->loading(); }));
  EXPECT_TRUE(page->document().isNull());
  EXPECT_FALSE(page->editable());

  // Leaving the page cancels the month it was loading.
  page->setDate(dayOf("2026-05-02"));
  auto may = call(5);
  page->close();
  ASSERT_TRUE(spinUntil([&] { return may->cancelled; }));
  EXPECT_TRUE(spinUntil([&] { return !page->loading(); }));
}
