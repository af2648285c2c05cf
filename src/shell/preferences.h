// The settings window: appearance and accessibility, connection and local address data, about.
#pragma once

#include <gtkmm.h>

#include "shell/shell_context.h"

namespace dorvik {

// Presents the one settings window of the run (creating it when needed), over `parent` when given.
void showPreferences(const ShellContext& context, Gtk::Window* parent);

}  // namespace dorvik
