// Pieces the data screens and their sheets build alike: the gap that pushes a toolbar's buttons to its end, the
// preference groups of a sheet's form, the role picker of the editors, and the model changes after which a screen
// shows again whether it may write to the server.
#pragma once

#include <gtkmm.h>

#include <span>

#include "model/app_model.h"

typedef struct _AdwPreferencesGroup AdwPreferencesGroup;
typedef struct _AdwPreferencesPage AdwPreferencesPage;

namespace dorvik::admin {

// An empty box that takes the spare width of its row.
Gtk::Box* spacer();

// Adds `widget` at the end of the group.
void addWidget(AdwPreferencesGroup* group, Gtk::Widget& widget);
// A new group at the end of `page`, with a title when one is given.
AdwPreferencesGroup* addGroup(AdwPreferencesPage* page, const char* title);

// The "Роль" combo row (named "role" for tests and screen readers) offering `titles`, with nothing chosen yet.
GtkWidget* rolePicker(std::span<const char* const> titles);

// A control that changes server data: enabled as its screen says, and while the signed-in user's role may not make
// the change, the reason (kAdministratorsOnly) as its tooltip.
void offerWrite(Gtk::Widget& control, bool enabled, bool mayWrite);
void offerWrite(GtkWidget* control, bool enabled, bool mayWrite);

// True for the model changes that can allow or forbid writing to the server: the saved copy, the demo, the user.
bool changesServerWrites(AppModel::Property property);

}  // namespace dorvik::admin
