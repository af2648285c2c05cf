#include "monitoring/logic/report_rules.h"

#include <glib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/base/dorvik_date.h"
#include "shell/toolkit/display.h"

namespace dorvik::monitoring {

namespace {

using namespace std::chrono;

// The Moscow calendar day of an instant as a day number.
sys_days moscowDay(Instant instant) {
  const std::string text = DorvikDate::day(instant);  // "yyyy-MM-dd" (a year beyond four digits is longer)
  const auto second = text.rfind('-');
  const auto first = second == std::string::npos || second == 0 ? std::string::npos : text.rfind('-', second - 1);
  int y = 0;
  unsigned m = 0, d = 0;
  if (first != std::string::npos) {
    std::from_chars(text.data(), text.data() + first, y);
    std::from_chars(text.data() + first + 1, text.data() + second, m);
    std::from_chars(text.data() + second + 1, text.data() + text.size(), d);
  }
  return sys_days{year_month_day{year{y}, month{m}, day{d}}};
}

std::string dayText(sys_days day) {
  const year_month_day date{day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()));
  return text;
}

std::vector<DataColumn> courierColumns(const char* firstKey, const char* firstTitle) {
  return {
      {firstKey, firstTitle},   {"routes", "Маршруты"},   {"orders", "Заказы"}, {"delivered", "Доставлены"},
      {"problems", "Проблемы"}, {"slaPercent", "SLA, %"}, {"points", "Точки"},  {"completionPercent", "Завершено, %"},
      {"plannedKm", "Км"}};
}

constexpr int kWidths[] = {130, 90, 85, 100, 90, 90, 85, 100, 85};
constexpr int kLines[] = {0, 0, 0, 2, 0, 3, 0, 0, 0};

// A chart value: the number at `key`, 0 when absent or not finite.
double chartValue(const Record& row, std::string_view key) {
  const double v = row[key].doubleValue().value_or(0);
  return std::isfinite(v) ? v : 0;
}

// A count spoken for a day: the whole number of the value, 0 when absent or not finite.
std::int64_t count(const Record& row, std::string_view key) {
  return std::isfinite(row[key].doubleValue().value_or(0)) ? row[key].intValue() : 0;
}

// The last `count` characters of a text (code points; bytes when it is not valid UTF-8).
std::string lastCharacters(const std::string& text, long count) {
  if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
    return text.size() <= static_cast<std::size_t>(count) ? text : text.substr(text.size() - count);
  const long length = g_utf8_strlen(text.data(), static_cast<gssize>(text.size()));
  if (length <= count) return text;
  const char* start = g_utf8_offset_to_pointer(text.data(), length - count);
  return std::string(start, text.data() + text.size());
}

}  // namespace

std::string reportPath(Instant from, Instant to) {
  return "/reports/summary?from=" + DorvikDate::day(from) + "&to=" + DorvikDate::day(to);
}

long daysBetween(Instant from, Instant to) { return static_cast<long>((moscowDay(to) - moscowDay(from)).count()); }

bool validRange(Instant from, Instant to) {
  const long days = daysBetween(from, to);
  return days >= 0 && days <= 365;
}

Period presetPeriod(Preset preset, Instant now) {
  const long back = preset == Preset::week ? 6 : preset == Preset::month ? 29 : 0;
  if (back == 0) return {now, now};
  const sys_days first = moscowDay(now) - days{back};
  return {DorvikDate::parse(dayText(first)) + hours{12}, now};
}

const std::vector<DataColumn>& reportColumns(std::string_view tab) {
  static const std::vector<DataColumn> couriers = courierColumns("name", "Курьер");
  static const std::vector<DataColumn> daily = courierColumns("date", "Дата");
  // Names and identifiers show as they are; the result and the reason are codes.
  static const std::vector<DataColumn> exceptions = {{"date", "Дата"},
                                                     {"courier", "Курьер"},
                                                     {"orderId", "Заказ"},
                                                     {"address", "Адрес"},
                                                     {"status", "Результат", display},
                                                     {"reason", "Причина", display},
                                                     {"at", "Факт"},
                                                     {"lateMinutes", "Опоздание, мин"},
                                                     {"externalRouteId", "Маршрут"}};
  if (tab == "exceptions") return exceptions;
  if (tab == "daily") return daily;
  return couriers;
}

int reportColumnWidth(std::size_t position) { return position < std::size(kWidths) ? kWidths[position] : 85; }
int reportColumnLines(std::size_t position) { return position < std::size(kLines) ? kLines[position] : 0; }

std::vector<Record> reportRows(const JSONValue& answer, std::string_view tab) {
  const JSONValue& member = answer[tab];
  return member.isArray() ? JSONValue::records(member.array()) : std::vector<Record>{};
}

std::vector<Tile> reportTiles(const JSONValue& answer) {
  static constexpr std::pair<const char*, const char*> kTiles[] = {{"routes", "Рейсы"},
                                                                   {"delivered", "Доставлены"},
                                                                   {"problems", "Проблемы"},
                                                                   {"slaPercent", "SLA, %"},
                                                                   {"plannedKm", "Километры"}};
  std::vector<Tile> tiles;
  const JSONValue& totals = answer["totals"];
  for (const auto& [key, caption] : kTiles) tiles.push_back({display(totals[key]), caption});
  return tiles;
}

std::string rangeCaption(const JSONValue& answer) {
  const JSONValue& range = answer["range"];
  return "Данные: " + range["from"].string() + " — " + range["to"].string();
}

JSONArray reportExport(const std::vector<Record>& rows, std::string_view tab) {
  const auto& columns = reportColumns(tab);
  JSONArray table;
  table.reserve(rows.size() + 1);
  JSONArray header;
  for (const DataColumn& column : columns) header.emplace_back(column.title);
  table.emplace_back(std::move(header));
  for (const Record& row : rows) {
    JSONArray cells;
    cells.reserve(columns.size());
    for (const DataColumn& column : columns) cells.push_back(row[column.key]);
    table.emplace_back(std::move(cells));
  }
  return table;
}

std::string reportExportName(std::string_view tab) { return "Отчёт-" + std::string(tab); }

std::optional<RouteToOpen> routeToOpen(std::string_view tab, const std::vector<Record>& rows,
                                       const std::set<std::string>& ids) {
  if (tab != "exceptions") return std::nullopt;
  for (const Record& row : rows)
    if (ids.count(row.id())) return RouteToOpen{row["routeId"].string(), row["date"].string()};
  return std::nullopt;
}

double barHeight(double value, double scale) {
  if (!std::isfinite(value) || !std::isfinite(scale) || scale < 1) return kBarFloor;
  return std::clamp(value * kChartHeight / scale, kBarFloor, kChartHeight);
}

DailyChart dailyChart(const JSONValue& answer) {
  DailyChart chart;
  const std::vector<Record> rows = reportRows(answer, "daily");
  for (const Record& row : rows) chart.scale = std::max(chart.scale, chartValue(row, "orders"));
  chart.columns.reserve(rows.size());
  for (const Record& row : rows) {
    const std::string date = row["date"].string();
    DayColumn column;
    column.id = row.id();
    column.label = lastCharacters(date, 5);
    column.accessible = date + ": доставлено " + std::to_string(count(row, "delivered")) + ", проблем " +
                        std::to_string(count(row, "problems"));
    column.delivered = barHeight(chartValue(row, "delivered"), chart.scale);
    column.problems = barHeight(chartValue(row, "problems"), chart.scale);
    chart.columns.push_back(std::move(column));
  }
  return chart;
}

}  // namespace dorvik::monitoring
