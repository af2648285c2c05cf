// The period reports' decisions: the period that may be asked for, the presets, the slices and their export, the
// tiles and the daily chart's geometry.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/base/dorvik_date.h"
#include "monitoring/logic/report_rules.h"

using namespace dorvik;
using namespace dorvik::monitoring;
using std::chrono::hours;
using std::chrono::minutes;

namespace {

Instant at(const char* day, hours h = hours{0}, minutes m = minutes{0}) { return DorvikDate::parse(day) + h + m; }

JSONValue answer() {
  return JSONValue::decode(R"({
    "range": {"from": "2026-09-01", "to": "2026-09-30"},
    "totals": {"routes": 12, "delivered": 340, "problems": 7, "slaPercent": 93.5},
    "couriers": [{"name": "Тарен", "routes": 3, "slaPercent": 94}],
    "daily": [{"date": "2026-09-21", "orders": 40, "delivered": 20, "problems": 0},
              {"date": "2026-09-22", "orders": 10, "delivered": 55, "problems": 3.9}],
    "exceptions": [{"date": "2026-09-21", "courier": "Тарен", "orderId": "A-1", "status": "failed",
                    "reason": null, "routeId": "R-1", "pointId": "P1"},
                   {"date": "2026-09-22", "orderId": "A-2", "status": "failed", "routeId": "R-2", "pointId": "P2"}],
    "weird": {"not": "an array"}
  })");
}

}  // namespace

TEST(ReportRules, PeriodsAreCountedInMoscowCalendarDays) {
  struct Case {
    Instant from, to;
    bool valid;
  } cases[] = {
      {at("2026-09-22", hours{0}), at("2026-09-22", hours{23}, minutes{59}), true},  // one day, any times
      {at("2026-09-22", hours{23}), at("2026-09-22", hours{1}), true},               // same day, later time first
      {at("2025-01-01"), at("2026-01-01"), true},                                    // 365 days apart
      {at("2025-01-01"), at("2026-01-02"), false},                                   // 366 days apart
      {at("2024-01-01"), at("2024-12-31", hours{23}), true},                         // a leap year, whole
      {at("2026-09-23"), at("2026-09-22", hours{23}), false},                        // reversed
      // Across Moscow's last clock change (+03:00 to +04:00 in 2011) the seconds fall an hour short of 366 days:
      // still 366 calendar days apart, so refused.
      {at("2010-12-01"), at("2011-12-02"), false},
      {at("2010-12-01"), at("2011-12-01"), true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(validRange(c.from, c.to), c.valid) << DorvikDate::day(c.from) << " → " << DorvikDate::day(c.to);
  EXPECT_EQ(reportPath(at("2026-09-01", hours{23}, minutes{30}), at("2026-09-22", hours{0}, minutes{10})),
            "/reports/summary?from=2026-09-01&to=2026-09-22");
}

TEST(ReportRules, PresetsEndTodayOnMoscowDays) {
  // 00:30 in Moscow is still the day before in UTC: the presets count Moscow's days.
  for (const Instant now : {at("2026-09-22", hours{0}, minutes{30}), at("2026-09-22", hours{23}, minutes{50})}) {
    const Period today = presetPeriod(Preset::today, now);
    EXPECT_EQ(today.from, now);
    EXPECT_EQ(today.to, now);
    const Period week = presetPeriod(Preset::week, now);
    EXPECT_EQ(DorvikDate::day(week.from), "2026-09-16");
    EXPECT_EQ(week.to, now);
    const Period month = presetPeriod(Preset::month, now);
    EXPECT_EQ(DorvikDate::day(month.from), "2026-08-24");
    EXPECT_EQ(DorvikDate::day(month.to), "2026-09-22");
    EXPECT_EQ(daysBetween(month.from, month.to), 29);
  }
}

TEST(ReportRules, SlicesTilesAndTheRouteAPrimaryActionOpens) {
  const JSONValue a = answer();
  EXPECT_EQ(reportColumns("couriers").front().key, "name");
  EXPECT_EQ(reportColumns("daily").front().title, "Дата");
  EXPECT_EQ(reportColumns("something").front().title, "Курьер");
  EXPECT_EQ(reportColumns("exceptions").back().key, "externalRouteId");
  for (const char* tab : kReportTabs) EXPECT_EQ(reportColumns(tab).size(), 9u);

  EXPECT_EQ(reportRows(a, "daily").size(), 2u);
  EXPECT_TRUE(reportRows(a, "weird").empty());
  EXPECT_TRUE(reportRows(a, "missing").empty());

  const std::vector<Tile> tiles = reportTiles(a);
  ASSERT_EQ(tiles.size(), 5u);
  EXPECT_EQ(tiles[0].value, "12");
  EXPECT_EQ(tiles[0].caption, "Рейсы");
  EXPECT_EQ(tiles[3].value, "93.5");
  EXPECT_EQ(tiles[4].value, "—");  // absent
  EXPECT_EQ(tiles[4].caption, "Километры");
  EXPECT_EQ(rangeCaption(a), "Данные: 2026-09-01 — 2026-09-30");
  EXPECT_EQ(rangeCaption(JSONValue()), "Данные:  — ");

  const auto rows = reportRows(a, "exceptions");
  const std::set<std::string> second{rows[1].id()}, both{rows[1].id(), rows[0].id()};
  EXPECT_EQ(routeToOpen("couriers", rows, second), std::nullopt);
  EXPECT_EQ(routeToOpen("exceptions", rows, {"unknown"}), std::nullopt);
  auto open = routeToOpen("exceptions", rows, second);
  ASSERT_TRUE(open);
  EXPECT_EQ(open->routeID, "R-2");
  EXPECT_EQ(open->routeDate, "2026-09-22");
  EXPECT_EQ(routeToOpen("exceptions", rows, both)->routeID, "R-1");  // the first in row order
}

TEST(ReportRules, ExportKeepsRawValuesUnderTheTitles) {
  const JSONValue a = answer();
  const JSONArray table = reportExport(reportRows(a, "exceptions"), "exceptions");
  ASSERT_EQ(table.size(), 3u);
  ASSERT_EQ(table[0].size(), 9u);
  EXPECT_EQ(table[0].at(0).string(), "Дата");
  EXPECT_EQ(table[0].at(8).string(), "Маршрут");
  EXPECT_EQ(table[1].at(4), JSONValue("failed"));  // the code, not its Russian word
  EXPECT_TRUE(table[1].at(5).isNull());            // null stays null
  EXPECT_TRUE(table[2].at(1).isNull());            // absent is null
  const JSONArray couriers = reportExport(reportRows(a, "couriers"), "couriers");
  EXPECT_EQ(couriers[1].at(5), JSONValue(94));  // a number stays a number
  EXPECT_EQ(reportExportName("exceptions"), "Отчёт-exceptions");
  EXPECT_EQ(reportExport({}, "daily").size(), 1u);
}

TEST(ReportRules, ChartBarsAreScaledToTheBusiestDayAndKeptInTheFrame) {
  const DailyChart chart = dailyChart(answer());
  EXPECT_EQ(chart.scale, 40);
  ASSERT_EQ(chart.columns.size(), 2u);
  EXPECT_DOUBLE_EQ(chart.columns[0].delivered, 35);  // 20 of 40
  EXPECT_DOUBLE_EQ(chart.columns[0].problems, kBarFloor);
  EXPECT_DOUBLE_EQ(chart.columns[1].delivered, kChartHeight);  // 55 delivered of 40: cut at the frame
  EXPECT_EQ(chart.columns[1].label, "09-22");
  EXPECT_EQ(chart.columns[1].accessible, "2026-09-22: доставлено 55, проблем 3");

  // No busy day, absent and non-finite values.
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  JSONValue odd = JSONValue::object(
      {{"daily", JSONValue::array({JSONValue::object({{"date", "день-9"}, {"orders", 0.5}, {"delivered", 1}}),
                                   JSONValue::object({{"orders", nan}, {"delivered", inf}, {"problems", -4}})})}});
  const DailyChart small = dailyChart(odd);
  EXPECT_EQ(small.scale, 1);
  EXPECT_DOUBLE_EQ(small.columns[0].delivered, kChartHeight);
  EXPECT_EQ(small.columns[0].label, "ень-9");  // characters, not bytes
  EXPECT_DOUBLE_EQ(small.columns[1].delivered, kBarFloor);
  EXPECT_DOUBLE_EQ(small.columns[1].problems, kBarFloor);
  EXPECT_EQ(small.columns[1].accessible, ": доставлено 0, проблем -4");
  EXPECT_EQ(dailyChart(JSONValue()).columns.size(), 0u);
  EXPECT_EQ(dailyChart(JSONValue()).scale, 1);
  EXPECT_DOUBLE_EQ(barHeight(nan, 40), kBarFloor);
}
