#include "shell/text_picker.h"

#include <adwaita.h>

namespace dorvik {

namespace {

Glib::RefPtr<Gtk::SignalListItemFactory> labels(bool cut) {
  auto factory = Gtk::SignalListItemFactory::create();
  factory->signal_setup().connect([cut](const Glib::RefPtr<Gtk::ListItem>& item) {
    auto* label = Gtk::make_managed<Gtk::Label>();
    label->set_xalign(0);
    if (cut) label->set_ellipsize(Pango::EllipsizeMode::END);
    item->set_child(*label);
  });
  factory->signal_bind().connect([](const Glib::RefPtr<Gtk::ListItem>& item) {
    auto text = std::dynamic_pointer_cast<Gtk::StringObject>(item->get_item());
    if (auto* label = dynamic_cast<Gtk::Label*>(item->get_child()); label && text) label->set_text(text->get_string());
  });
  return factory;
}

}  // namespace

GtkWidget* clampedPicker(Gtk::DropDown& picker, int maximum) {
  picker.set_factory(labels(true));
  picker.set_list_factory(labels(false));
  GtkWidget* clamp = adw_clamp_new();
  adw_clamp_set_maximum_size(ADW_CLAMP(clamp), maximum);
  adw_clamp_set_tightening_threshold(ADW_CLAMP(clamp), maximum);
  gtk_widget_set_halign(clamp, GTK_ALIGN_START);
  adw_clamp_set_child(ADW_CLAMP(clamp), GTK_WIDGET(picker.gobj()));
  return clamp;
}

}  // namespace dorvik
