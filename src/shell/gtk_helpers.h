// Small helpers over the GTK API: a captureless lambda as a signal callback, an icon of the theme.
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

}  // namespace dorvik
