// What the period reports decide, without widgets: the period that may be asked for (on Moscow calendar days),
// the presets of the period menu, the report's slices and their columns, the total tiles, the rows of an export
// and the geometry of the daily chart.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/json/json_value.h"
#include "shell/toolkit/display.h"

namespace dorvik::monitoring {

using Instant = std::chrono::system_clock::time_point;

// "/reports/summary?from=<day>&to=<day>", both Moscow days "yyyy-MM-dd".
std::string reportPath(Instant from, Instant to);

// Whether the period may be asked for: the Moscow day of `from` is not after that of `to`, and the period holds at
// most 366 calendar days (both ends included). Days are compared as calendar days, never as seconds, so a period
// across an old daylight-saving change counts the same as any other.
bool validRange(Instant from, Instant to);
// The number of Moscow calendar days from the day of `from` to the day of `to` (negative when reversed).
long daysBetween(Instant from, Instant to);

// The presets of the period menu, on Moscow calendar days: today; the 7 days ending today; the 30 days ending
// today. `from` is noon Moscow of its day; `to` is `now`.
enum class Preset { today, week, month };
struct Period {
  Instant from;
  Instant to;
};
Period presetPeriod(Preset preset, Instant now);

// The three slices: "couriers", "daily", "exceptions".
inline constexpr std::array<const char*, 3> kReportTabs = {"couriers", "daily", "exceptions"};
inline constexpr std::array<const char*, 3> kReportTabTitles = {"Курьеры", "По дням", "Проблемы и опоздания"};

// The nine columns of a slice: the exceptions' own list for "exceptions"; otherwise the courier list, whose first
// column is the date for "daily".
const std::vector<DataColumn>& reportColumns(std::string_view tab);
// Narrowest width in pixels and the most lines of a cell text (0: no limit), by column position 0…8.
int reportColumnWidth(std::size_t position);
int reportColumnLines(std::size_t position);

// The slice's rows: the member named by `tab` taken as an array (anything else gives none), in answer order.
std::vector<Record> reportRows(const JSONValue& answer, std::string_view tab);

// The five total tiles: display() of the "totals" member at each key, with its caption.
struct Tile {
  std::string value;
  std::string caption;
};
std::vector<Tile> reportTiles(const JSONValue& answer);
// "Данные: <range.from> — <range.to>" (absent texts empty).
std::string rangeCaption(const JSONValue& answer);

// The workbook of a slice: the column titles, then per row the raw value at each column key (numbers stay
// numbers, codes stay codes, absent values are null).
JSONArray reportExport(const std::vector<Record>& rows, std::string_view tab);
// "Отчёт-<tab>": the sheet's name (the model keeps its first 31 characters) and, with ".xlsx", the file's.
std::string reportExportName(std::string_view tab);

// The route a primary action on the rows `ids` opens: only in "exceptions", the first row in order whose id is
// acted on; its "routeId" and "date" texts.
struct RouteToOpen {
  std::string routeID;
  std::string routeDate;
};
std::optional<RouteToOpen> routeToOpen(std::string_view tab, const std::vector<Record>& rows,
                                       const std::set<std::string>& ids);

// ---- Daily chart

inline constexpr double kChartHeight = 70;    // the frame of the bars
inline constexpr double kBarWidth = 12;       //
inline constexpr double kBarSpacing = 3;      // between the green and the red bar
inline constexpr double kColumnSpacing = 12;  // between days
inline constexpr double kBarFloor = 2;        // no bar is lower

struct DayColumn {
  std::string id;          // Record id of the row
  std::string label;       // the last 5 characters of "date"
  std::string accessible;  // "<date>: доставлено d, проблем p"
  double delivered = 0;    // bar heights in points, within [kBarFloor, kChartHeight]
  double problems = 0;
};
struct DailyChart {
  double scale = 1;  // the busiest day's orders, at least 1
  std::vector<DayColumn> columns;
};
// The chart of the answer's "daily" rows. A value that is absent or not a finite number counts as 0; bars taller
// than the frame (more delivered than ordered) are cut at its top.
DailyChart dailyChart(const JSONValue& answer);
// The height of a bar of `value` on `scale`.
double barHeight(double value, double scale);

}  // namespace dorvik::monitoring
