// The program's page catalogue: which screen each panel page shows. It is the one place that knows every screen
// family; the shell asks it through ShellContext::screens and knows none of them.
#pragma once

#include <gtkmm.h>

#include "shell/shell_context.h"

namespace dorvik {

// A managed widget holding the page's screen. The screens get the context with the route sheets filled in.
Gtk::Widget* makePanelContent(PanelPage page, const ShellContext& context);

}  // namespace dorvik
