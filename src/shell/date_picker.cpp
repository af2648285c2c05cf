#include "shell/date_picker.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/base/dorvik_date.h"

namespace dorvik {

namespace {

// The calendar's day label with the given state (focused: where the keyboard is; selected: the calendar's own
// choice), or null.
Gtk::Widget* dayLabel(Gtk::Widget& calendar, Gtk::StateFlags state) {
  std::vector<Gtk::Widget*> pending{&calendar};
  while (!pending.empty()) {
    Gtk::Widget* widget = pending.back();
    pending.pop_back();
    if (widget->has_css_class("day-number") && (widget->get_state_flags() & state) == state) return widget;
    for (Gtk::Widget* child = widget->get_first_child(); child; child = child->get_next_sibling())
      pending.push_back(child);
  }
  return nullptr;
}

}  // namespace

MoscowDatePicker::MoscowDatePicker() {
  popover_.set_child(calendar_);
  set_popover(popover_);
  set_always_show_arrow(true);
  popover_.signal_show().connect([this] { showCalendarDay(); });

  // A click on a day picks it (before the calendar's own handling of the press, which only selects).
  auto click = Gtk::GestureClick::create();
  click->set_button(GDK_BUTTON_PRIMARY);
  click->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
  click->signal_pressed().connect([this](int presses, double x, double y) {
    if (presses == 1) pickLabel(calendar_.pick(x, y, Gtk::PickFlags::DEFAULT));
  });
  calendar_.add_controller(click);

  // Return on the days picks the focused day (or the selected one before the keyboard moved); on the paging
  // buttons it presses them.
  auto keys = Gtk::ShortcutController::create();
  keys->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
  auto pickFocused = Gtk::CallbackAction::create([this](Gtk::Widget&, const Glib::VariantBase&) {
    if (!calendar_.is_focus()) return false;
    Gtk::Widget* label = dayLabel(calendar_, Gtk::StateFlags::FOCUSED);
    return pickLabel(label ? label : dayLabel(calendar_, Gtk::StateFlags::SELECTED));
  });
  for (guint key : {GDK_KEY_Return, GDK_KEY_KP_Enter, GDK_KEY_ISO_Enter})
    keys->add_shortcut(Gtk::Shortcut::create(Gtk::KeyvalTrigger::create(key), pickFocused));
  calendar_.add_controller(keys);

  setDate(std::chrono::system_clock::now());
}

void MoscowDatePicker::setDate(TimePoint instant) { showDay(DorvikDate::day(instant)); }

void MoscowDatePicker::showDay(const std::string& day) {
  // "yyyy-MM-dd" shown as "dd.MM.yyyy".
  if (day.size() != 10) return;
  day_ = day;
  set_label(day.substr(8, 2) + "." + day.substr(5, 2) + "." + day.substr(0, 4));
  showCalendarDay();
}

void MoscowDatePicker::showCalendarDay() {
  if (day_.size() != 10) return;
  calendar_.select_day(Glib::DateTime::create_utc(std::atoi(day_.substr(0, 4).c_str()),
                                                  std::atoi(day_.substr(5, 2).c_str()),
                                                  std::atoi(day_.substr(8, 2).c_str()), 12, 0, 0.0));
}

bool MoscowDatePicker::pickLabel(Gtk::Widget* widget) {
  auto* label = dynamic_cast<Gtk::Label*>(widget);
  if (!label || !label->has_css_class("day-number")) return false;
  const int dayOfMonth = std::atoi(label->get_text().c_str());
  if (dayOfMonth < 1 || dayOfMonth > 31) return false;
  // The calendar's selection stays in the month it shows, whatever paging did to its day.
  Glib::DateTime month = calendar_.get_date();
  month = Glib::DateTime::create_utc(month.get_year(), month.get_month(), 1, 12, 0, 0.0);
  // Days of the neighbouring months fill the first row (the month before: 23rd and later) and the last ones.
  if (label->has_css_class("other-month")) month = month.add_months(dayOfMonth > 15 ? -1 : 1);
  char day[16];
  std::snprintf(day, sizeof day, "%04d-%02d-%02d", month.get_year(), month.get_month(), dayOfMonth);
  showDay(day);
  popover_.popdown();
  picked_.emit(DorvikDate::parse(day) + std::chrono::hours(12));
  return true;
}

}  // namespace dorvik
