// The shell's own pages: the workspace settings, the courier application's settings and the help. The screen
// families build the other pages; the program's page catalogue puts them together.
#pragma once

#include <gtkmm.h>

#include "shell/shell_context.h"

namespace dorvik {

// Each returns a managed widget, built afresh for every page change.
Gtk::Widget* makeWorkspaceSettingsPage(const ShellContext& context);
Gtk::Widget* makeCourierAppSettingsPage(const ShellContext& context);
Gtk::Widget* makeHelpPage(const ShellContext& context);

}  // namespace dorvik
