#include "shell/keyboard.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

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

namespace {

// The items of a shown menu, in order: what takes the focus in it and reads as a menu item.
std::vector<GtkWidget*> menuItems(GtkWidget* menu) {
  std::vector<GtkWidget*> items;
  std::function<void(GtkWidget*)> walk = [&](GtkWidget* widget) {
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
      if (!gtk_widget_get_mapped(child)) continue;
      const GtkAccessibleRole role = gtk_accessible_get_accessible_role(GTK_ACCESSIBLE(child));
      const bool item = role == GTK_ACCESSIBLE_ROLE_MENU_ITEM || role == GTK_ACCESSIBLE_ROLE_MENU_ITEM_CHECKBOX ||
                        role == GTK_ACCESSIBLE_ROLE_MENU_ITEM_RADIO;
      if (item && gtk_widget_get_focusable(child) && gtk_widget_is_sensitive(child))
        items.push_back(child);
      else
        walk(child);
    }
  };
  walk(menu);
  return items;
}

// The keys of an open menu, before anything inside it or around it sees them: the arrows (and Tab) move between
// its items, round from the last to the first, Home and End go to the ends, Return and the space bar choose the
// item with the focus, Escape closes the menu. The table behind the menu never sees them.
bool menuKey(GtkWidget* menu, guint keyval, GdkModifierType modifiers) {
  const std::vector<GtkWidget*> items = menuItems(menu);
  GtkRoot* root = gtk_widget_get_root(menu);
  GtkWidget* focus = root ? gtk_root_get_focus(root) : nullptr;
  const auto at = std::find_if(items.begin(), items.end(),
                               [&](GtkWidget* item) { return focus == item || (focus && gtk_widget_is_ancestor(focus, item)); });
  const long index = at == items.end() ? -1 : at - items.begin();
  const long count = static_cast<long>(items.size());
  auto go = [&](long to) {
    if (count > 0) gtk_widget_grab_focus(items[static_cast<std::size_t>((to % count + count) % count)]);
    return true;
  };
  const bool shift = modifiers & GDK_SHIFT_MASK;
  switch (keyval) {
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down:
      return go(index + 1);
    case GDK_KEY_Tab:
    case GDK_KEY_KP_Tab:
      return go(shift ? (index < 0 ? count - 1 : index - 1) : index + 1);
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up:
    case GDK_KEY_ISO_Left_Tab:
      return go(index < 0 ? count - 1 : index - 1);
    case GDK_KEY_Home:
    case GDK_KEY_KP_Home:
      return go(0);
    case GDK_KEY_End:
    case GDK_KEY_KP_End:
      return go(count - 1);
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
    case GDK_KEY_space:
      if (index >= 0 && !gtk_widget_activate(items[static_cast<std::size_t>(index)]))
        g_signal_emit_by_name(items[static_cast<std::size_t>(index)], "clicked");
      return true;
    case GDK_KEY_Escape:
      gtk_popover_popdown(GTK_POPOVER(menu));
      return true;
    default:
      return false;
  }
}

}  // namespace

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
  static const char* const kKeys = "dorvik-menu-keys";
  if (!menu.get_data(kKeys)) {
    menu.set_data(kKeys, &menu);
    auto keys = Gtk::EventControllerKey::create();
    keys->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    keys->signal_key_pressed().connect(
        [&menu](guint keyval, guint, Gdk::ModifierType modifiers) {
          return menuKey(GTK_WIDGET(menu.gobj()), keyval, static_cast<GdkModifierType>(modifiers));
        },
        false);
    menu.add_controller(keys);
  }
  menu.set_pointing_to(at);
  menu.popup();
  // The menu has the keyboard: its first item takes the focus unless one has it already.
  const std::vector<GtkWidget*> items = menuItems(GTK_WIDGET(menu.gobj()));
  GtkWidget* now = root ? gtk_root_get_focus(root->gobj()) : nullptr;
  if (!items.empty() && !(now && gtk_widget_is_ancestor(now, GTK_WIDGET(menu.gobj())))) gtk_widget_grab_focus(items[0]);
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
