// The settings window: appearance and accessibility, connection and local address data, about.
#pragma once

#include <gtkmm.h>

#include "shell/shell_context.h"

namespace dorvik {

// Presents the one settings window of the run (creating it when needed) on `tab`, over `parent` when given.
void showPreferences(const ShellContext& context, Gtk::Window* parent, PreferencesTab tab = PreferencesTab::appearance);

}  // namespace dorvik
