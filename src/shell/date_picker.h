// MoscowDatePicker: a button showing a calendar day of Moscow that opens a calendar. A picked day is reported as
// noon, Moscow time, of that day, so the instant reads as the same day in every time zone the model converts it in.
#pragma once

#include <gtkmm.h>

#include <chrono>

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
  Gtk::Popover popover_;
  Gtk::Calendar calendar_;
  bool showing_ = false;
  sigc::signal<void(TimePoint)> picked_;
};

}  // namespace dorvik
