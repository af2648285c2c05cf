// The stand-in content of a planner tab whose own screen is not built yet: its symbol and title.
#pragma once

#include <gtkmm.h>

#include <string>

namespace dorvik::planning {

Gtk::Widget* placeholderTab(const std::string& symbol, const std::string& title);

}  // namespace dorvik::planning
