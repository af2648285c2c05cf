#include "shell/keyboard.h"

#include <memory>

#include "widgets/gtk_helpers.h"

namespace dorvik {

namespace {

void addKeys(Gtk::Widget& widget, Gtk::PropagationPhase phase,
             std::initializer_list<std::pair<guint, Gdk::ModifierType>> keys,
             const Glib::RefPtr<Gtk::ShortcutAction>& action, Gtk::ShortcutScope scope = Gtk::ShortcutScope::LOCAL) {
  auto controller = Gtk::ShortcutController::create();
  controller->set_propagation_phase(phase);
  controller->set_scope(scope);
  for (auto [keyval, modifiers] : keys)
    controller->add_shortcut(Gtk::Shortcut::create(Gtk::KeyvalTrigger::create(keyval, modifiers), action));
  widget.add_controller(controller);
}

}  // namespace

void makeOneTabStop(Gtk::Widget& widget) {
  using M = Gdk::ModifierType;
  const M none{}, shift = M::SHIFT_MASK, control = M::CONTROL_MASK;
  auto forward = Gtk::CallbackAction::create(
      [&widget](Gtk::Widget&, const Glib::VariantBase&) { return leaveFocus(widget.gobj(), GTK_DIR_TAB_FORWARD); });
  auto backward = Gtk::CallbackAction::create(
      [&widget](Gtk::Widget&, const Glib::VariantBase&) { return leaveFocus(widget.gobj(), GTK_DIR_TAB_BACKWARD); });
  // Before the widgets inside see the key: a list moves its focus from row to row on Tab.
  addKeys(widget, Gtk::PropagationPhase::CAPTURE,
          {{GDK_KEY_Tab, none}, {GDK_KEY_KP_Tab, none}, {GDK_KEY_Tab, control}, {GDK_KEY_KP_Tab, control}}, forward);
  addKeys(widget, Gtk::PropagationPhase::CAPTURE,
          {{GDK_KEY_Tab, shift},
           {GDK_KEY_KP_Tab, shift},
           {GDK_KEY_ISO_Left_Tab, shift},
           {GDK_KEY_Tab, shift | control},
           {GDK_KEY_ISO_Left_Tab, shift | control}},
          backward);
}

void addContextMenuKeys(Gtk::Widget& widget, std::function<bool()> open) {
  auto action = Gtk::CallbackAction::create(
      [open = std::move(open)](Gtk::Widget&, const Glib::VariantBase&) { return open && open(); });
  addKeys(widget, Gtk::PropagationPhase::BUBBLE, {{GDK_KEY_F10, Gdk::ModifierType::SHIFT_MASK}, {GDK_KEY_Menu, {}}},
          action);
}

void popupMenu(Gtk::Popover& menu, const Gdk::Rectangle& at) {
  Gtk::Root* root = menu.get_root();
  Gtk::Widget* focus = root ? root->get_focus() : nullptr;
  if (focus) {
    // The widget may go while the menu is open (its row refreshed): held weakly.
    auto held = std::shared_ptr<GWeakRef>(new GWeakRef, [](GWeakRef* ref) {
      g_weak_ref_clear(ref);
      delete ref;
    });
    g_weak_ref_init(held.get(), focus->gobj());
    auto connection = std::make_shared<sigc::connection>();
    *connection = menu.signal_closed().connect([held, connection] {
      connection->disconnect();
      if (auto* widget = static_cast<GtkWidget*>(g_weak_ref_get(held.get()))) {
        if (gtk_widget_get_mapped(widget)) gtk_widget_grab_focus(widget);
        g_object_unref(widget);
      }
    });
  }
  menu.set_pointing_to(at);
  menu.popup();
}

Gtk::Widget* shownSearchField(Gtk::Widget& root) {
  if (!root.get_mapped() || !root.is_sensitive()) return nullptr;
  if (GTK_IS_SEARCH_ENTRY(root.gobj())) return &root;
  for (Gtk::Widget* child = root.get_first_child(); child; child = child->get_next_sibling())
    if (Gtk::Widget* found = shownSearchField(*child)) return found;
  return nullptr;
}

void addFindShortcut(Gtk::Widget& area) {
  auto action = Gtk::CallbackAction::create([&area](Gtk::Widget&, const Glib::VariantBase&) {
    Gtk::Widget* field = shownSearchField(area);
    return field && field->grab_focus();
  });
  addKeys(area, Gtk::PropagationPhase::BUBBLE, {{GDK_KEY_f, Gdk::ModifierType::CONTROL_MASK}}, action,
          Gtk::ShortcutScope::MANAGED);
}

}  // namespace dorvik
