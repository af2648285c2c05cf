// MoscowDatePicker: a button showing a calendar day of Moscow that opens a calendar. A picked day is reported as
// noon, Moscow time, of that day, so the instant reads as the same day in every time zone the model converts it in.
//
// Only a day the user clicks, or Return on the calendar's focused day, is a pick: paging through months and years
// moves the calendar's own selection, which is never taken for one. Each opening shows the button's day.
#pragma once

#include <gtkmm.h>

#include <chrono>
#include <string>

namespace dorvik {

class MoscowDatePicker : public Gtk::MenuButton {
 public:
  using TimePoint = std::chrono::system_clock::time_point;

  MoscowDatePicker();
  // Shows the Moscow day of `instant` without reporting it.
  void setDate(TimePoint instant);
  // A day picked by the user.
  sigc::signal<void(TimePoint)>& signalPicked() { return picked_; }

 private:
  void showDay(const std::string& day);
  // Puts the calendar on the button's day.
  void showCalendarDay();
  // Picks the day a day label of the calendar shows ("other-month" labels belong to the month before or after).
  bool pickLabel(Gtk::Widget* label);

  Gtk::Popover popover_;
  Gtk::Calendar calendar_;
  std::string day_;  // "yyyy-MM-dd" on the button
  sigc::signal<void(TimePoint)> picked_;
};

}  // namespace dorvik
