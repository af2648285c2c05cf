// Small helpers over the GTK API: a captureless lambda as a signal callback, an icon of the theme, a button with
// a symbol and a title, the name a screen reader gives a widget.
#pragma once

#include <adwaita.h>
#include <glib-object.h>
#include <gtkmm.h>

#include <string>

#include "shell/toolkit/symbols.h"

namespace dorvik {

template <class F>
GCallback callback(F function) {
  return reinterpret_cast<GCallback>(+function);
}

inline Gtk::Image* icon(const std::string& name) {
  auto* image = Gtk::make_managed<Gtk::Image>();
  image->set_from_icon_name(name);
  return image;
}

// A managed button showing the symbol's icon before its title.
inline Gtk::Button* symbolButton(const std::string& title, const std::string& symbol) {
  auto* button = Gtk::make_managed<Gtk::Button>();
  GtkWidget* content = adw_button_content_new();
  adw_button_content_set_icon_name(ADW_BUTTON_CONTENT(content), std::string(symbolIcon(symbol)).c_str());
  adw_button_content_set_label(ADW_BUTTON_CONTENT(content), title.c_str());
  gtk_button_set_child(button->gobj(), content);
  return button;
}

inline void setAccessibleLabel(Gtk::Widget& widget, const std::string& text) {
  gtk_accessible_update_property(GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, text.c_str(), -1);
}

}  // namespace dorvik
