#include "admin/view_parts.h"

#include <adwaita.h>

#include "admin/logic/catalogue.h"

namespace dorvik::admin {

Gtk::Box* spacer() {
  auto* space = Gtk::make_managed<Gtk::Box>();
  space->set_hexpand(true);
  return space;
}

void addWidget(AdwPreferencesGroup* group, Gtk::Widget& widget) { adw_preferences_group_add(group, widget.gobj()); }

AdwPreferencesGroup* addGroup(AdwPreferencesPage* page, const char* title) {
  auto* group = ADW_PREFERENCES_GROUP(adw_preferences_group_new());
  if (title) adw_preferences_group_set_title(group, title);
  adw_preferences_page_add(page, group);
  return group;
}

GtkWidget* rolePicker(std::span<const char* const> titles) {
  GtkWidget* row = adw_combo_row_new();
  gtk_widget_set_name(row, "role");
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row), "Роль");
  GtkStringList* options = gtk_string_list_new(nullptr);
  for (const char* title : titles) gtk_string_list_append(options, title);
  adw_combo_row_set_model(ADW_COMBO_ROW(row), G_LIST_MODEL(options));
  g_object_unref(options);
  return row;
}

void offerWrite(Gtk::Widget& control, bool enabled, bool mayWrite) { offerWrite(control.gobj(), enabled, mayWrite); }

void offerWrite(GtkWidget* control, bool enabled, bool mayWrite) {
  gtk_widget_set_sensitive(control, enabled);
  gtk_widget_set_tooltip_text(control, mayWrite ? nullptr : kAdministratorsOnly);
}

bool changesServerWrites(AppModel::Property property) {
  return property == AppModel::Property::offline || property == AppModel::Property::preview ||
         property == AppModel::Property::user;
}

}  // namespace dorvik::admin
