// The keyboard as every screen uses it, in one place: a list or a table is one Tab stop (arrows move inside it),
// Shift+F10 and the Menu key open the context menu where a right click does, and Ctrl+F goes to the page's
// search field.
#pragma once

#include <gtkmm.h>

#include <functional>

namespace dorvik {

// Tab and Shift+Tab (Ctrl too) leave `widget` for the next or previous control outside it when the focus is
// inside it; the focus enters it where it last was (a list's selected row).
void makeOneTabStop(Gtk::Widget& widget);

// Shift+F10 and the Menu key run `open` while the focus is inside `widget`; it answers whether a menu opened.
void addContextMenuKeys(Gtk::Widget& widget, std::function<bool()> open);

// Opens a context menu pointing at `at` (in the coordinates of its parent), with the keyboard in it: its first item
// takes the focus, the arrows move between the items, Return chooses one and Escape closes the menu. When it closes,
// the focus goes back to where it was (the row the menu was opened for).
void popupMenu(Gtk::Popover& menu, const Gdk::Rectangle& at);

// Ctrl+F anywhere in the window of `area` puts the focus into the first search field shown inside `area`.
void addFindShortcut(Gtk::Widget& area);

// The first shown, enabled search field under `root`, or null.
Gtk::Widget* shownSearchField(Gtk::Widget& root);

}  // namespace dorvik
