// Moscow calendar days and the hours-and-minutes text.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/base/dorvik_date.h"

namespace dorvik {
namespace {

using namespace std::chrono;
using Instant = system_clock::time_point;

Instant utc(int y, unsigned m, unsigned d, int hour, int minute, int second = 0) {
  return sys_days{year{y} / month{m} / day{d}} + hours{hour} + minutes{minute} + seconds{second};
}

TEST(DorvikDateDay, MoscowDayTurnsAt21Utc) {
  EXPECT_EQ(DorvikDate::day(utc(2025, 12, 31, 21, 30)), "2026-01-01");
  EXPECT_EQ(DorvikDate::day(utc(2025, 12, 31, 21, 0)), "2026-01-01");
  EXPECT_EQ(DorvikDate::day(utc(2025, 12, 31, 20, 59, 59)), "2025-12-31");
  EXPECT_EQ(DorvikDate::day(utc(2025, 12, 31, 20, 59, 59) + milliseconds{999}), "2025-12-31");
  EXPECT_EQ(DorvikDate::day(utc(2024, 2, 28, 21, 0)), "2024-02-29");
  EXPECT_EQ(DorvikDate::day(utc(2026, 3, 5, 9, 15)), "2026-03-05");
  // Before 1970 (negative counts) and in 2011, when Moscow kept +04:00 all year.
  EXPECT_EQ(DorvikDate::day(utc(1969, 12, 31, 21, 0)), "1970-01-01");
  EXPECT_EQ(DorvikDate::day(utc(1969, 12, 31, 20, 59)), "1969-12-31");
  EXPECT_EQ(DorvikDate::day(utc(2011, 6, 1, 20, 30)), "2011-06-02");
}

TEST(DorvikDateParse, ReadsDaysAsMoscowMidnight) {
  EXPECT_EQ(DorvikDate::parse("2026-01-01"), utc(2025, 12, 31, 21, 0));
  EXPECT_EQ(DorvikDate::parse("2024-02-29"), utc(2024, 2, 28, 21, 0));
  EXPECT_EQ(DorvikDate::parse("2011-06-02"), utc(2011, 6, 1, 20, 0));
  // Whatever day() writes reads back as the midnight that starts it.
  for (Instant t = utc(2025, 12, 30, 0, 7); t < utc(2026, 1, 3, 0, 0); t += minutes{53}) {
    const std::string text = DorvikDate::day(t);
    const Instant midnight = DorvikDate::parse(text);
    EXPECT_LE(midnight, t) << text;
    EXPECT_GT(midnight + hours{24}, t) << text;
    EXPECT_EQ(DorvikDate::day(midnight), text);
  }
}

TEST(DorvikDateParse, UnreadableTextGivesNow) {
  const char* texts[] = {"",           "garbage",    "2026-1-5",   " 2026-01-05",      "2026-01-05 ",    "2026/01/05",
                         "2026-02-30", "2026-13-01", "2026-00-10", "2026-01-05T00:00", "２０２６-01-05", "20260105",
                         "1500-01-01", "2300-01-01"};
  for (const char* text : texts) {
    const Instant before = system_clock::now();
    const Instant read = DorvikDate::parse(text);
    const Instant after = system_clock::now();
    EXPECT_GE(read, before) << text;
    EXPECT_LE(read, after) << text;
  }
}

TEST(DorvikDateTime, HoursAndMinutes) {
  const std::pair<std::optional<double>, const char*> cases[] = {
      {std::nullopt, "—"},
      {0.0, "00:00"},
      {59.5, "01:00"},
      {59.4, "00:59"},
      {1439.0, "23:59"},
      {1440.0, "24:00"},
      {540.0, "09:00"},
      {75.4, "01:15"},
      {1500.0, "25:00"},
      {-30.0, "00:30"},
      {-90.0, "-1:30"},
      {-29.5, "00:30"},  // halves away from zero: -30
      {-0.4, "00:00"},
      {2.5, "00:03"},
      {6e17, "10000000000000000:00"},
      {std::nan(""), "—"},
      {std::numeric_limits<double>::infinity(), "—"},
      {-std::numeric_limits<double>::infinity(), "—"},
      {1e30, "—"},
  };
  for (const auto& [minutes, text] : cases) {
    EXPECT_EQ(DorvikDate::time(minutes), text) << (minutes ? std::to_string(*minutes) : "none");
  }
}

TEST(UtcTimestamp, WholeSecondsInUTCInBothForms) {
  using namespace std::chrono;
  const auto instant = sys_days(year(2026) / 3 / 5) + hours(7) + minutes(30) + milliseconds(999);
  EXPECT_EQ(utcTimestamp(instant), "2026-03-05T07:30:00Z");
  EXPECT_EQ(utcTimestamp(instant, true), "20260305T073000Z");
  // Before 1970 the fraction still goes down to the whole second before.
  EXPECT_EQ(utcTimestamp(sys_days(year(1969) / 12 / 31) + hours(23) + minutes(59) + seconds(59) + milliseconds(500)),
            "1969-12-31T23:59:59Z");
}

}  // namespace
}  // namespace dorvik
