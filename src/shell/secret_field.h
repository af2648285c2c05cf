// Password and key fields whose typed text stays out of reach of assistive technologies. GTK hands an entry's
// text, and every character typed into it, to them even while the entry hides the text; a secret field answers
// them with masking characters, as the screen shows them (the typed text once the user reveals it). The program
// reads what was typed with secretText().
#pragma once

#include <gtkmm.h>

#include <string>

namespace dorvik {

// Makes `field` (a GtkPasswordEntry or an AdwPasswordEntryRow) a secret field, keeping what it holds.
void keepSecret(GtkWidget* field);
inline void keepSecret(Gtk::Widget& field) { keepSecret(field.gobj()); }

// What was typed into a secret field (any other field: its text).
std::string secretText(GtkWidget* field);
inline std::string secretText(Gtk::Widget& field) { return secretText(field.gobj()); }

}  // namespace dorvik
