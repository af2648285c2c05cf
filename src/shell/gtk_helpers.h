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

// Scrolls the nearest scrolled window around `widget` so that all of it is in view. A widget just shown has its
// place only after the next layout, so this runs over the next few frames.
inline void scrollIntoView(GtkWidget* widget) {
  gtk_widget_add_tick_callback(
      widget,
      [](GtkWidget* w, GdkFrameClock*, gpointer data) -> gboolean {
        int& frames = *static_cast<int*>(data);
        GtkWidget* scroller = gtk_widget_get_ancestor(w, GTK_TYPE_SCROLLED_WINDOW);
        GtkWidget* view = scroller ? gtk_scrolled_window_get_child(GTK_SCROLLED_WINDOW(scroller)) : nullptr;
        double x = 0, y = 0;
        if (view && gtk_widget_get_mapped(w) && gtk_widget_translate_coordinates(w, view, 0, 0, &x, &y)) {
          GtkAdjustment* adjustment = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scroller));
          const double page = gtk_adjustment_get_page_size(adjustment);
          const double bottom = y + gtk_widget_get_height(w);
          double shift = bottom > page ? bottom - page : 0;
          if (y - shift < 0) shift = y;  // taller than the view: its top first
          if (shift != 0) gtk_adjustment_set_value(adjustment, gtk_adjustment_get_value(adjustment) + shift);
        }
        return ++frames < 3 ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
      },
      new int(0), [](gpointer data) { delete static_cast<int*>(data); });
}

inline void setAccessibleLabel(Gtk::Widget& widget, const std::string& text) {
  gtk_accessible_update_property(GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, text.c_str(), -1);
}

}  // namespace dorvik
