// Small helpers over the GTK API: a captureless lambda as a signal callback, an icon of the theme, a centred text,
// scrolling a widget into view, the measure of a child, moving the focus out of a widget, the name a screen reader
// gives a widget.
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

// Scrolls the nearest scrolled window around `widget` so that all of it is in view (its top first when it is
// taller than the view). A widget just shown, a new page or a new text size settle over several frames, so this
// runs at each frame until the widget's place has held for a few frames, about a second at the most; the callback
// goes with the widget.
inline void scrollIntoView(GtkWidget* widget) {
  struct Settling {
    double top = -1, bottom = -1, page = -1;
    int steady = 0, frames = 0;
  };
  gtk_widget_add_tick_callback(
      widget,
      [](GtkWidget* w, GdkFrameClock*, gpointer data) -> gboolean {
        Settling& settling = *static_cast<Settling*>(data);
        GtkWidget* scroller = gtk_widget_get_ancestor(w, GTK_TYPE_SCROLLED_WINDOW);
        if (!scroller || ++settling.frames > 60) return G_SOURCE_REMOVE;
        // The widget's place in the scroller's visible area.
        graphene_rect_t bounds;
        const double page = gtk_widget_get_height(scroller);
        if (page <= 0 || !gtk_widget_get_mapped(w) || !gtk_widget_compute_bounds(w, scroller, &bounds))
          return G_SOURCE_CONTINUE;
        const double top = bounds.origin.y;
        const double bottom = top + bounds.size.height;
        double shift = bottom > page ? bottom - page : 0;
        if (top - shift < 0) shift = top;
        if (shift != 0) {
          GtkAdjustment* adjustment = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scroller));
          gtk_adjustment_set_value(adjustment, gtk_adjustment_get_value(adjustment) + shift);
        }
        const bool same = top == settling.top && bottom == settling.bottom && page == settling.page;
        settling = {top, bottom, page, same ? settling.steady + 1 : 0, settling.frames};
        return settling.steady < 3 ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
      },
      new Settling, [](gpointer data) { delete static_cast<Settling*>(data); });
}

// The size a child asks for in one orientation (for `forSize` in the other, -1 for any); nothing when hidden. For
// the layouts that place their children themselves.
inline void measureVisible(const Gtk::Widget& child, Gtk::Orientation orientation, int forSize, int& minimum,
                           int& natural) {
  minimum = natural = 0;
  if (!child.get_visible()) return;
  int minimumBaseline = -1, naturalBaseline = -1;
  child.measure(orientation, forSize, minimum, natural, minimumBaseline, naturalBaseline);
}

// Moves the focus out of `widget`, to the control after it (or before it) in its window's Tab order: the window's own
// focus chain, walked with `widget` closed to the focus for the moment. False when the focus is not inside `widget`;
// with no other control to go to, the focus stays where it was.
inline bool leaveFocus(GtkWidget* widget, GtkDirectionType direction) {
  GtkRoot* root = gtk_widget_get_root(widget);
  GtkWidget* focus = root ? gtk_root_get_focus(root) : nullptr;
  if (!focus || (focus != widget && !gtk_widget_is_ancestor(focus, widget))) return false;
  g_object_ref(focus);
  gtk_widget_set_can_focus(widget, FALSE);
  const bool moved = gtk_widget_child_focus(GTK_WIDGET(root), direction);
  gtk_widget_set_can_focus(widget, TRUE);
  if (!moved) gtk_widget_grab_focus(focus);
  g_object_unref(focus);
  return true;
}

// A menu item showing `text` as it is: menus read "_" as the mark of the next letter's mnemonic, so each is doubled
// ("ГАЗ_01" stays "ГАЗ_01", not "ГАЗ01").
inline Glib::RefPtr<Gio::MenuItem> plainMenuItem(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '_') escaped += '_';
    escaped += c;
  }
  return Gio::MenuItem::create(escaped, "");
}

// Makes `button` its window's default (what Return in a field that activates the default presses) whenever it is
// shown, and gives the default up when it is hidden or taken out. The window keeps no reference to its default, and
// a screen taken out and destroyed at once can leave it pointing at a freed button.
inline void makeDefaultOnMap(Gtk::Button& button) {
  button.signal_map().connect([&button] {
    if (auto* window = dynamic_cast<Gtk::Window*>(button.get_root())) window->set_default_widget(button);
  });
  button.signal_unmap().connect([&button] {
    auto* window = dynamic_cast<Gtk::Window*>(button.get_root());
    if (window && window->get_default_widget() == &button) window->unset_default_widget();
  });
}

// The texts of the labels inside `widget`, joined by spaces.
inline std::string shownText(GtkWidget* widget) {
  std::string text = GTK_IS_LABEL(widget) ? gtk_label_get_text(GTK_LABEL(widget)) : "";
  for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
    const std::string inner = shownText(child);
    if (!inner.empty()) text += (text.empty() ? "" : " ") + inner;
  }
  return text;
}

// The name a screen reader reads for a control. A menu button or a drop-down takes the focus on a button of its
// own, which is named too, unless it shows that name already (a screen reader reads the name and what the button
// shows: "Дата рейса 09.12.2026", not "Экспорт Экспорт").
inline void setAccessibleLabel(Gtk::Widget& widget, const std::string& text) {
  gtk_accessible_update_property(GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, text.c_str(), -1);
  if (GTK_IS_MENU_BUTTON(widget.gobj()) || GTK_IS_DROP_DOWN(widget.gobj())) {
    for (GtkWidget* child = gtk_widget_get_first_child(widget.gobj()); child; child = gtk_widget_get_next_sibling(child))
      if (GTK_IS_BUTTON(child) && shownText(child) != text)
        gtk_accessible_update_property(GTK_ACCESSIBLE(child), GTK_ACCESSIBLE_PROPERTY_LABEL, text.c_str(), -1);
  }
}

// A text field's placeholder, which is its name for screen readers too (GTK does not read a placeholder as one).
inline void setPlaceholder(Gtk::Widget& field, const std::string& text) {
  g_object_set(field.gobj(), "placeholder-text", text.c_str(), nullptr);
  setAccessibleLabel(field, text);
}

}  // namespace dorvik
