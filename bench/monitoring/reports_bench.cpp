// The period reports page's work on an answer of a whole year: 365 days, 50 couriers and 5,000 problem rows; the
// answer decoded, the tiles, the rows of all three slices with every cell text of the table, the daily chart and the
// export rows of the largest slice (target: at most 50 ms).
//   build/bench/monitoring/reports_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "monitoring/logic/report_rules.h"
#include "shell/toolkit/display.h"

namespace {

using namespace dorvik;
using namespace dorvik::monitoring;

JSONValue row(std::string_view key, std::string label, int n) {
  return JSONValue::object({{key, std::move(label)},
                            {"routes", 40 + n % 7},
                            {"orders", 900 + n % 50},
                            {"delivered", 850 + n % 40},
                            {"problems", 12 + n % 9},
                            {"slaPercent", 93.5 + (n % 10) / 10.0},
                            {"points", 700 + n % 30},
                            {"completionPercent", 98.2},
                            {"plannedKm", 1234.5 + n}});
}

std::string yearAnswer() {
  JSONArray couriers, daily, exceptions;
  for (int c = 0; c < 50; ++c) couriers.push_back(row("name", "Курьер Иванов " + std::to_string(c), c));
  for (int d = 0; d < 365; ++d) {
    char day[16];
    std::snprintf(day, sizeof day, "2025-%02d-%02d", d / 28 % 12 + 1, d % 28 + 1);
    daily.push_back(row("date", day, d));
  }
  for (int e = 0; e < 5000; ++e)
    exceptions.push_back(JSONValue::object({{"date", "2025-06-14"},
                                            {"courier", "Курьер Иванов " + std::to_string(e % 50)},
                                            {"orderId", "A-" + std::to_string(e)},
                                            {"address", "Москва, Профсоюзная улица, дом " + std::to_string(e % 200)},
                                            {"status", e % 3 ? "failed" : "late"},
                                            {"reason", e % 2 ? JSONValue("no_answer") : JSONValue()},
                                            {"at", "2025-06-14T12:30:00Z"},
                                            {"lateMinutes", e % 90},
                                            {"externalRouteId", "Юг-" + std::to_string(e % 300)},
                                            {"routeId", "R-" + std::to_string(e % 300)},
                                            {"pointId", "P-" + std::to_string(e)}}));
  return JSONValue::object({{"range", JSONValue::object({{"from", "2025-01-01"}, {"to", "2025-12-31"}})},
                            {"totals", row("name", "", 0)},
                            {"couriers", JSONValue(std::move(couriers))},
                            {"daily", JSONValue(std::move(daily))},
                            {"exceptions", JSONValue(std::move(exceptions))}})
      .data();
}

void YearReport(benchmark::State& state) {
  const std::string text = yearAnswer();
  for (auto _ : state) {
    const JSONValue answer = JSONValue::decode(text);
    benchmark::DoNotOptimize(reportTiles(answer));
    benchmark::DoNotOptimize(rangeCaption(answer));
    std::size_t cells = 0;
    for (const char* tab : kReportTabs) {
      const std::vector<Record> rows = reportRows(answer, tab);
      for (const Record& r : rows)
        for (const auto& column : reportColumns(tab)) cells += display(r[column.key]).size();
    }
    benchmark::DoNotOptimize(cells);
    benchmark::DoNotOptimize(dailyChart(answer));
    benchmark::DoNotOptimize(reportExport(reportRows(answer, "exceptions"), "exceptions"));
  }
}

}  // namespace

BENCHMARK(YearReport)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
