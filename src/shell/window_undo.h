// The undo stack of a window and its keys: Ctrl+Z runs the newest undo step, Ctrl+Shift+Z (or Ctrl+Y) the newest
// redo step, unless a text field has the focus: it keeps Ctrl+Z for its own typing.
#pragma once

#include <gtkmm.h>

#include <memory>

#include "shell/toolkit/undo_stack.h"

namespace dorvik {

// The stack of the window `widget` stands in, made with its keys on first use; none while the widget is in no
// window. The stack lives as long as the window.
std::shared_ptr<UndoStack> windowUndoStack(Gtk::Widget& widget);

// What the keys do in `window`: nothing while a text field has the focus, else the newest step of the window's
// stack (redo for Ctrl+Shift+Z and Ctrl+Y). True when a step ran.
bool windowUndoKey(Gtk::Window& window, bool redo);

}  // namespace dorvik
