#include "core/base/dorvik_date.h"

#include <glib.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace dorvik {

namespace {

using Clock = std::chrono::system_clock;

// Moscow's zone from the system's time zone data; a fixed +03:00 (Moscow's offset since 2014) when the data
// cannot be loaded. GTimeZone is immutable and may be shared between threads.
GTimeZone* moscow() {
  static GTimeZone* const zone = [] {
    GTimeZone* tz = g_time_zone_new_identifier("Europe/Moscow");
    return tz ? tz : g_time_zone_new_offset(3 * 3600);
  }();
  return zone;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int digits(std::string_view text) {
  int value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  return value;
}

}  // namespace

std::string DorvikDate::day(Clock::time_point instant) {
  const std::int64_t seconds = std::chrono::floor<std::chrono::seconds>(instant.time_since_epoch()).count();
  GTimeZone* zone = moscow();
  const int interval = g_time_zone_find_interval(zone, G_TIME_TYPE_UNIVERSAL, seconds);
  const std::int64_t local = seconds + g_time_zone_get_offset(zone, interval < 0 ? 0 : interval);
  const std::chrono::sys_days days{std::chrono::days{floorDiv(local, 86400)}};
  const std::chrono::year_month_day date{days};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()));
  return text;
}

Clock::time_point DorvikDate::parse(std::string_view text) {
  const bool shaped = text.size() == 10 && text[4] == '-' && text[7] == '-' && isDigit(text[0]) && isDigit(text[1]) &&
                      isDigit(text[2]) && isDigit(text[3]) && isDigit(text[5]) && isDigit(text[6]) &&
                      isDigit(text[8]) && isDigit(text[9]);
  if (!shaped) return Clock::now();
  const std::chrono::year_month_day date{std::chrono::year{digits(text.substr(0, 4))},
                                         std::chrono::month{static_cast<unsigned>(digits(text.substr(5, 2)))},
                                         std::chrono::day{static_cast<unsigned>(digits(text.substr(8, 2)))}};
  if (!date.ok()) return Clock::now();  // 2025-02-30, month 13, ...
  gint64 local = static_cast<gint64>(std::chrono::sys_days{date}.time_since_epoch().count()) * 86400;
  GTimeZone* zone = moscow();
  // Midnight read as Moscow time; a midnight that a clock change skipped moves to the first instant after it.
  const int interval = g_time_zone_adjust_time(zone, G_TIME_TYPE_STANDARD, &local);
  const std::int64_t utc = local - g_time_zone_get_offset(zone, interval < 0 ? 0 : interval);
  // The clock counts nanoseconds: days before 1678 or after 2261 cannot be instants of it.
  constexpr auto kMax = std::chrono::duration_cast<std::chrono::seconds>(Clock::duration::max()).count() - 1;
  constexpr auto kMin = std::chrono::duration_cast<std::chrono::seconds>(Clock::duration::min()).count() + 1;
  if (utc > kMax || utc < kMin) return Clock::now();
  return Clock::time_point{std::chrono::duration_cast<Clock::duration>(std::chrono::seconds{utc})};
}

std::string DorvikDate::time(std::optional<double> minutes) {
  static const std::string kNone = "—";
  if (!minutes) return kNone;
  const double rounded = std::round(*minutes);      // halves away from zero
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (!std::isfinite(rounded) || rounded >= kLimit || rounded < -kLimit) return kNone;
  const auto m = static_cast<std::int64_t>(rounded);
  const std::int64_t h = m / 60;  // truncates toward zero
  const std::int64_t r = m - 60 * h;
  char text[48];
  std::snprintf(text, sizeof text, "%02" PRId64 ":%02" PRId64, h, r < 0 ? -r : r);
  return text;
}

std::string utcTimestamp(Clock::time_point instant, bool basic) {
  const std::int64_t seconds = std::chrono::floor<std::chrono::seconds>(instant.time_since_epoch()).count();
  GDateTime* at = g_date_time_new_from_unix_utc(seconds);
  if (!at) return {};  // beyond the years 1 to 9999
  gchar* text = g_date_time_format(at, basic ? "%Y%m%dT%H%M%SZ" : "%Y-%m-%dT%H:%M:%SZ");
  std::string result(text ? text : "");
  g_free(text);
  g_date_time_unref(at);
  return result;
}

}  // namespace dorvik
