// Small helpers over the GTK API: a captureless lambda as a signal callback, an icon of the theme, a centred text,
// the name a screen reader gives a widget.
#pragma once

#include <glib-object.h>
#include <gtkmm.h>

#include <string>

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

// A wrapped, centred label, with a style class when given.
inline Gtk::Label* centredLabel(const std::string& text, const char* cssClass = nullptr) {
  auto* label = Gtk::make_managed<Gtk::Label>(text);
  label->set_wrap(true);
  label->set_justify(Gtk::Justification::CENTER);
  if (cssClass) label->add_css_class(cssClass);
  return label;
}

inline void setAccessibleLabel(Gtk::Widget& widget, const std::string& text) {
  gtk_accessible_update_property(GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, text.c_str(), -1);
}

}  // namespace dorvik
