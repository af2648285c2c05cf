// Helpers of the suites that drive windows under a display: GTK set up once, the main loop spun, widgets found by
// what the user reads, buttons pressed, and a PNG of a widget written to build/screens/ for a person to look at.
#pragma once

#include <adwaita.h>
#include <gtk/gtk.h>
#include <gtkmm.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

typedef struct _AdwMessageDialog AdwMessageDialog;

namespace dorvik::testing {

// The application's renderer and Russian locale, gtk_init, the gtkmm internals and libadwaita, once per process.
void initDisplay();
// Runs the main loop for a while (lets layout, idle work and posted continuations run).
void spin(std::chrono::milliseconds duration = std::chrono::milliseconds(150));

// The first widget under `root` (itself included, depth first) that matches.
GtkWidget* findWidget(GtkWidget* root, const std::function<bool(GtkWidget*)>& match);
// The first widget under `root` that is a `W` (a gtkmm class of the application: a page, a view), or null.
template <class W>
W* widgetOf(GtkWidget* root) {
  GtkWidget* found = findWidget(root, [](GtkWidget* w) { return dynamic_cast<W*>(Glib::wrap(w)) != nullptr; });
  return found ? dynamic_cast<W*>(Glib::wrap(found)) : nullptr;
}
// The entry row (AdwEntryRow) titled `title` under `within`.
GtkWidget* entryRow(GtkWidget* within, const std::string& title);
// A visible label reading exactly `text`.
GtkWidget* findLabel(GtkWidget* root, const std::string& text);
// The button whose own label or a label inside it reads `text`.
GtkWidget* findButton(GtkWidget* root, const std::string& text);
// Presses the button reading `text`; false when there is none or it is disabled.
bool clickButton(GtkWidget* root, const std::string& text);

// The row of a grouped form (an AdwPreferencesRow: action, entry, combo and text rows) titled `title`, or null.
GtkWidget* formRow(GtkWidget* within, const std::string& title);
// Activates the form row titled `title` (a click or Return on it); false when there is none.
bool activateRow(GtkWidget* within, const std::string& title);
// The top of `widget` in `root`'s coordinates (where it is drawn, top to bottom), or -1 when it is not placed.
double topIn(GtkWidget* widget, GtkWidget* root);

// Picks the entry reading `text` in the first drop-down under `root` that has one; false when none has.
bool pickInDropDown(GtkWidget* root, const std::string& text);

// Chooses the item reading `label` in the menu of a menu button, as a click on that item does (its action with its
// target, activated from the button). False when the menu has no such item or its action is not there.
bool chooseMenuItem(GtkWidget* menuButton, const std::string& label);

// The first shown toplevel window (a sheet, a dialog) that matches, or null.
GtkWidget* findShownWindow(const std::function<bool(GtkWidget*)>& match);
// A shown window (a sheet, a dialog) whose title reads `title`, or null.
GtkWidget* findWindow(const std::string& title);
// The shown confirmation (a message dialog) whose heading reads `heading`, or null.
AdwMessageDialog* shownConfirmation(const std::string& heading);
// Closes every shown toplevel window but `keep` (may be null), then lets the closings run.
void closeShownWindows(GtkWidget* keep);
// What pressing the key (no modifiers) does in `window` when the focused widget leaves it alone: the first
// window-wide (managed or global) shortcut bound to it runs. False when no shortcut takes the key.
bool pressKey(GtkWidget* window, guint keyval, GdkModifierType modifiers = GdkModifierType(0));
// The same with the window's own shortcuts too (a window's undo keys): what the key with `modifiers` does when the
// focused widget leaves it alone.
bool pressShortcut(GtkWidget* window, guint keyval, GdkModifierType modifiers);
// Delivers a key press to the focused widget of `window` the way GTK dispatches it to shortcuts: the shortcut
// controllers along the way from the window to the focus in the capture phase, then back in the bubble phase
// (the window's own managed and global shortcuts at the window), the widgets' key bindings included (Tab moves the
// focus, arrows move in lists, Return activates). Keys that only a text input or a plain key controller takes
// (typing) are not delivered. True when a shortcut took the key.
bool sendKey(GtkWidget* window, guint keyval, GdkModifierType modifiers = GdkModifierType(0));
// Types a key on the display's keyboard: a real press and release through the X server (the XTest extension), with
// the modifiers held around it, into `window`, which is given the display's input focus first. The event takes the
// whole way a typed key takes (the focused widget, a web view's page, a popover's grab). Returns once GTK has
// handled it; false when the display is not an X display or has no key for `keyval`.
bool typeKey(GtkWidget* window, guint keyval, GdkModifierType modifiers = GdkModifierType(0));
// The widget that has the keyboard focus in `window`, or null.
GtkWidget* focusIn(GtkWidget* window);
// Whether `widget` is `ancestor` or inside it.
bool isWithin(GtkWidget* widget, GtkWidget* ancestor);
// Whether `widget` is drawn whole in `top`: inside the allocation of each of its containers, so neither scrolled
// away in a scrolled area nor cut off by what comes after it.
bool drawnWhole(GtkWidget* widget, GtkWidget* top);

// What pressing Return in a text field does: the field's activation (a field that activates its window's default
// presses the default button, which is clicked a moment later: the helper waits for it). False when `field` holds
// no text input.
bool pressReturnIn(GtkWidget* field);

// The icon names of the shown images under `root` that draw no icon of the desktop's theme: a name the theme
// lacks, or "image-missing" (an image made from a file it could not read).
std::vector<std::string> imagesWithoutIcon(GtkWidget* root);

// The controls shown under `root` that a screen reader would read without a name, each as "<type> in <parent's
// type>": buttons, toggles, check boxes, switches, drop-downs, entries and search fields, spin buttons, links,
// menu items, and the rows of lists and tables that take the focus. A control's name is what GTK gives assistive
// technologies: its label, or else the labels of the widgets that label it.
std::vector<std::string> namelessControls(GtkWidget* root);

// The colour drawn at a point of `widget` (in its coordinates), as the widget is drawn now.
GdkRGBA pixelAt(GtkWidget* widget, int x, int y);
// The contrast ratio of two colours (1 to 21), as accessibility guidelines measure it: 4.5 reads as text.
double contrastRatio(const GdkRGBA& a, const GdkRGBA& b);

// Writes build/screens/<name>.png of the widget as it is drawn now (`name` may hold a subfolder).
void savePNG(GtkWidget* widget, const std::string& name);
// Writes build/screens/<name>.png of `window` with its shown popovers and menus over it, where the display shows
// them (savePNG of a window leaves them out: each draws on a surface of its own).
void saveScreenPNG(GtkWidget* window, const std::string& name);

}  // namespace dorvik::testing
