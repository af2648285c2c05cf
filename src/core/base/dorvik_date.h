// Calendar days and times of day as the planning workflow writes them. A planning day is a calendar day in
// Moscow ("Europe/Moscow"), written "yyyy-MM-dd" in the proleptic Gregorian calendar; times inside a plan are
// minutes, shown as hours and minutes.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace dorvik {

class DorvikDate {
 public:
  DorvikDate() = delete;

  // The Moscow calendar day on which the instant falls, "yyyy-MM-dd".
  static std::string day(std::chrono::system_clock::time_point instant);

  // 00:00 Moscow time of the day written "yyyy-MM-dd" (four-digit year, two-digit month and day, nothing
  // around them); the current instant when the text is not such a day. Never fails.
  static std::chrono::system_clock::time_point parse(std::string_view text);

  // Minutes as "%02d:%02d" hours and minutes: rounded half away from zero, no wrap at midnight (1500 gives
  // "25:00"), a negative hour keeps its sign ("-1:30"), the minutes never do (-30 gives "00:30"). None, NaN,
  // the infinities and counts beyond the 64-bit range give "—".
  static std::string time(std::optional<double> minutes);
};

// The instant in UTC with whole seconds (the fraction dropped), as an internet date-time, "2026-03-05T07:30:00Z",
// or in the basic form without separators, "20260305T073000Z", where a file name is made of it.
std::string utcTimestamp(std::chrono::system_clock::time_point instant, bool basic = false);

}  // namespace dorvik
