#include "shell/date_picker.h"

#include <cstdio>
#include <string>

#include "core/base/dorvik_date.h"

namespace dorvik {

MoscowDatePicker::MoscowDatePicker() {
  popover_.set_child(calendar_);
  set_popover(popover_);
  set_always_show_arrow(true);
  calendar_.signal_day_selected().connect([this] {
    if (showing_) return;
    Glib::DateTime picked = calendar_.get_date();
    char day[16];
    std::snprintf(day, sizeof day, "%04d-%02d-%02d", picked.get_year(), picked.get_month(), picked.get_day_of_month());
    showDay(day);
    popover_.popdown();
    picked_.emit(DorvikDate::parse(day) + std::chrono::hours(12));
  });
  setDate(std::chrono::system_clock::now());
}

void MoscowDatePicker::setDate(TimePoint instant) { showDay(DorvikDate::day(instant)); }

void MoscowDatePicker::showDay(const std::string& day) {
  // "yyyy-MM-dd" shown as "dd.MM.yyyy".
  if (day.size() != 10) return;
  set_label(day.substr(8, 2) + "." + day.substr(5, 2) + "." + day.substr(0, 4));
  showing_ = true;
  calendar_.select_day(Glib::DateTime::create_local(std::stoi(day.substr(0, 4)), std::stoi(day.substr(5, 2)),
                                                    std::stoi(day.substr(8, 2)), 12, 0, 0.0));
  showing_ = false;
}

}  // namespace dorvik
