#include "support/ui_helpers.h"

#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtkmm.h>
#include <gtkmm/init.h>

#include <cmath>
#include <filesystem>

#include "shell/application.h"
#include "support/async_helpers.h"

namespace dorvik::testing {

void initDisplay() {
  static bool done = false;
  if (done) return;
  done = true;
  chooseRenderer();  // as the application does
  useRussianLocale();
  gtk_init();
  Gtk::init_gtkmm_internals();
  adw_init();
}

void spin(std::chrono::milliseconds duration) { spinFor(duration); }

GtkWidget* findWidget(GtkWidget* root, const std::function<bool(GtkWidget*)>& match) {
  if (match(root)) return root;
  for (GtkWidget* child = gtk_widget_get_first_child(root); child; child = gtk_widget_get_next_sibling(child))
    if (GtkWidget* found = findWidget(child, match)) return found;
  return nullptr;
}

GtkWidget* findLabel(GtkWidget* root, const std::string& text) {
  return findWidget(root, [&](GtkWidget* w) {
    return GTK_IS_LABEL(w) && gtk_widget_is_visible(w) && text == gtk_label_get_text(GTK_LABEL(w));
  });
}

GtkWidget* entryRow(GtkWidget* within, const std::string& title) {
  return findWidget(within, [&](GtkWidget* w) {
    return ADW_IS_ENTRY_ROW(w) && title == adw_preferences_row_get_title(ADW_PREFERENCES_ROW(w));
  });
}

GtkWidget* findButton(GtkWidget* root, const std::string& text) {
  return findWidget(root, [&](GtkWidget* w) { return GTK_IS_BUTTON(w) && findLabel(w, text) != nullptr; });
}

bool clickButton(GtkWidget* root, const std::string& text) {
  GtkWidget* button = findButton(root, text);
  if (!button || !gtk_widget_is_sensitive(button)) return false;
  g_signal_emit_by_name(button, "clicked");
  spin();
  return true;
}

GtkWidget* formRow(GtkWidget* within, const std::string& title) {
  return findWidget(within, [&](GtkWidget* w) {
    return ADW_IS_PREFERENCES_ROW(w) && title == adw_preferences_row_get_title(ADW_PREFERENCES_ROW(w));
  });
}

bool activateRow(GtkWidget* within, const std::string& title) {
  GtkWidget* row = formRow(within, title);
  if (!row || !gtk_widget_is_sensitive(row)) return false;
  gtk_widget_activate(row);
  spin();
  return true;
}

double topIn(GtkWidget* widget, GtkWidget* root) {
  graphene_point_t top;
  const graphene_point_t origin = GRAPHENE_POINT_INIT(0, 0);
  if (!widget || !gtk_widget_compute_point(widget, root, &origin, &top)) return -1;
  return top.y;
}

bool pickInDropDown(GtkWidget* root, const std::string& text) {
  bool picked = false;
  findWidget(root, [&](GtkWidget* w) {
    if (!GTK_IS_DROP_DOWN(w)) return false;
    GListModel* items = gtk_drop_down_get_model(GTK_DROP_DOWN(w));
    for (guint i = 0; items && i < g_list_model_get_n_items(items); ++i) {
      auto* item = GTK_STRING_OBJECT(g_list_model_get_item(items, i));
      const bool match = text == gtk_string_object_get_string(item);
      g_object_unref(item);
      if (match) {
        gtk_drop_down_set_selected(GTK_DROP_DOWN(w), i);
        picked = true;
        return true;
      }
    }
    return false;
  });
  return picked;
}

bool chooseMenuItem(GtkWidget* menuButton, const std::string& label) {
  GMenuModel* menu = gtk_menu_button_get_menu_model(GTK_MENU_BUTTON(menuButton));
  for (gint i = 0; menu && i < g_menu_model_get_n_items(menu); ++i) {
    g_autofree char* text = nullptr;
    g_autofree char* action = nullptr;
    if (!g_menu_model_get_item_attribute(menu, i, G_MENU_ATTRIBUTE_LABEL, "s", &text) || label != text) continue;
    if (!g_menu_model_get_item_attribute(menu, i, G_MENU_ATTRIBUTE_ACTION, "s", &action)) return false;
    GVariant* target = g_menu_model_get_item_attribute_value(menu, i, G_MENU_ATTRIBUTE_TARGET, nullptr);
    const bool ran = gtk_widget_activate_action_variant(menuButton, action, target);
    if (target) g_variant_unref(target);
    spin();
    return ran;
  }
  return false;
}

GtkWidget* findShownWindow(const std::function<bool(GtkWidget*)>& match) {
  GListModel* windows = gtk_window_get_toplevels();
  for (guint i = 0; i < g_list_model_get_n_items(windows); ++i) {
    auto* window = static_cast<GtkWidget*>(g_list_model_get_item(windows, i));
    g_object_unref(window);
    if (gtk_widget_get_visible(window) && match(window)) return window;
  }
  return nullptr;
}

GtkWidget* findWindow(const std::string& title) {
  return findShownWindow([&](GtkWidget* window) {
    const char* shown = gtk_window_get_title(GTK_WINDOW(window));
    return shown && title == shown;
  });
}

AdwMessageDialog* shownConfirmation(const std::string& heading) {
  GtkWidget* found = findShownWindow([&](GtkWidget* window) {
    return ADW_IS_MESSAGE_DIALOG(window) && heading == adw_message_dialog_get_heading(ADW_MESSAGE_DIALOG(window));
  });
  return found ? ADW_MESSAGE_DIALOG(found) : nullptr;
}

void closeShownWindows(GtkWidget* keep) {
  GListModel* windows = gtk_window_get_toplevels();
  for (guint i = g_list_model_get_n_items(windows); i > 0; --i) {
    auto* window = static_cast<GtkWidget*>(g_list_model_get_item(windows, i - 1));
    g_object_unref(window);
    if (window != keep && gtk_widget_get_visible(window)) gtk_window_close(GTK_WINDOW(window));
  }
  spin(std::chrono::milliseconds(50));
}

namespace {
bool runShortcut(GtkWidget* widget, guint keyval, GdkModifierType modifiers, bool isRoot) {
  GListModel* controllers = gtk_widget_observe_controllers(widget);
  bool ran = false;
  for (guint i = 0; i < g_list_model_get_n_items(controllers) && !ran; ++i) {
    auto* controller = static_cast<GtkEventController*>(g_list_model_get_item(controllers, i));
    // Local shortcuts are the focused widget's own; the window runs the managed and global ones.
    // A window's own local shortcuts take every key its focused widgets leave alone.
    if (GTK_IS_SHORTCUT_CONTROLLER(controller) &&
        (isRoot || gtk_shortcut_controller_get_scope(GTK_SHORTCUT_CONTROLLER(controller)) != GTK_SHORTCUT_SCOPE_LOCAL)) {
      GListModel* shortcuts = G_LIST_MODEL(controller);
      for (guint k = 0; k < g_list_model_get_n_items(shortcuts) && !ran; ++k) {
        auto* shortcut = static_cast<GtkShortcut*>(g_list_model_get_item(shortcuts, k));
        GtkShortcutTrigger* trigger = gtk_shortcut_get_trigger(shortcut);
        if (GTK_IS_KEYVAL_TRIGGER(trigger) && gtk_keyval_trigger_get_keyval(GTK_KEYVAL_TRIGGER(trigger)) == keyval &&
            gtk_keyval_trigger_get_modifiers(GTK_KEYVAL_TRIGGER(trigger)) == modifiers)
          ran = gtk_shortcut_action_activate(gtk_shortcut_get_action(shortcut), GTK_SHORTCUT_ACTION_EXCLUSIVE, widget,
                                             gtk_shortcut_get_arguments(shortcut));
        g_object_unref(shortcut);
      }
    }
    g_object_unref(controller);
  }
  g_object_unref(controllers);
  if (ran) return true;
  for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child))
    if (runShortcut(child, keyval, modifiers, false)) return true;
  return false;
}
}  // namespace

bool pressKey(GtkWidget* window, guint keyval, GdkModifierType modifiers) {
  const bool ran = runShortcut(window, keyval, modifiers, false);
  spin();
  return ran;
}

bool pressShortcut(GtkWidget* window, guint keyval, GdkModifierType modifiers) {
  const bool ran = runShortcut(window, keyval, modifiers, true);
  spin();
  return ran;
}

namespace {
bool triggerMatches(GtkShortcutTrigger* trigger, guint keyval, GdkModifierType modifiers) {
  if (GTK_IS_ALTERNATIVE_TRIGGER(trigger))
    return triggerMatches(gtk_alternative_trigger_get_first(GTK_ALTERNATIVE_TRIGGER(trigger)), keyval, modifiers) ||
           triggerMatches(gtk_alternative_trigger_get_second(GTK_ALTERNATIVE_TRIGGER(trigger)), keyval, modifiers);
  return GTK_IS_KEYVAL_TRIGGER(trigger) && gtk_keyval_trigger_get_keyval(GTK_KEYVAL_TRIGGER(trigger)) == keyval &&
         gtk_keyval_trigger_get_modifiers(GTK_KEYVAL_TRIGGER(trigger)) == modifiers;
}

// Runs the first shortcut of `controller` bound to the key; false when none is or its action declines.
bool runController(GtkShortcutController* controller, guint keyval, GdkModifierType modifiers) {
  GtkWidget* widget = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller));
  if (!widget || !gtk_widget_is_sensitive(widget)) return false;
  GListModel* shortcuts = G_LIST_MODEL(controller);
  bool ran = false;
  for (guint k = 0; k < g_list_model_get_n_items(shortcuts) && !ran; ++k) {
    auto* shortcut = static_cast<GtkShortcut*>(g_list_model_get_item(shortcuts, k));
    if (triggerMatches(gtk_shortcut_get_trigger(shortcut), keyval, modifiers))
      ran = gtk_shortcut_action_activate(gtk_shortcut_get_action(shortcut), GTK_SHORTCUT_ACTION_EXCLUSIVE, widget,
                                         gtk_shortcut_get_arguments(shortcut));
    g_object_unref(shortcut);
  }
  return ran;
}

// The shortcut controllers of `widget` itself that run in `phase` with the given scope.
bool runOwn(GtkWidget* widget, GtkPropagationPhase phase, GtkShortcutScope scope, guint keyval,
            GdkModifierType modifiers) {
  GListModel* controllers = gtk_widget_observe_controllers(widget);
  bool ran = false;
  for (guint i = 0; i < g_list_model_get_n_items(controllers) && !ran; ++i) {
    auto* controller = static_cast<GtkEventController*>(g_list_model_get_item(controllers, i));
    if (GTK_IS_SHORTCUT_CONTROLLER(controller) && gtk_event_controller_get_propagation_phase(controller) == phase &&
        gtk_shortcut_controller_get_scope(GTK_SHORTCUT_CONTROLLER(controller)) == scope)
      ran = runController(GTK_SHORTCUT_CONTROLLER(controller), keyval, modifiers);
    g_object_unref(controller);
  }
  g_object_unref(controllers);
  return ran;
}

// The managed shortcuts under a shortcut manager (a window, a popover) that belong to it, or every global one
// under the window.
bool runManaged(GtkWidget* manager, GtkWidget* widget, GtkPropagationPhase phase, bool global, guint keyval,
                GdkModifierType modifiers) {
  if (widget != manager && GTK_IS_SHORTCUT_MANAGER(widget) && !global) return false;
  if (runOwn(widget, phase, global ? GTK_SHORTCUT_SCOPE_GLOBAL : GTK_SHORTCUT_SCOPE_MANAGED, keyval, modifiers))
    return true;
  for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child))
    if (runManaged(manager, child, phase, global, keyval, modifiers)) return true;
  return false;
}

bool dispatchAt(GtkWidget* widget, GtkWidget* window, GtkPropagationPhase phase, guint keyval,
                GdkModifierType modifiers) {
  if (runOwn(widget, phase, GTK_SHORTCUT_SCOPE_LOCAL, keyval, modifiers)) return true;
  if (GTK_IS_SHORTCUT_MANAGER(widget) && runManaged(widget, widget, phase, false, keyval, modifiers)) return true;
  return widget == window && runManaged(widget, widget, phase, true, keyval, modifiers);
}
}  // namespace

GtkWidget* focusIn(GtkWidget* window) { return gtk_root_get_focus(GTK_ROOT(window)); }

bool drawnWhole(GtkWidget* widget, GtkWidget* top) {
  graphene_rect_t own;
  if (!widget || !gtk_widget_get_mapped(widget) || !gtk_widget_compute_bounds(widget, top, &own)) return false;
  for (GtkWidget* up = gtk_widget_get_parent(widget); up && up != top; up = gtk_widget_get_parent(up)) {
    graphene_rect_t bounds;
    if (!gtk_widget_compute_bounds(up, top, &bounds) || !graphene_rect_contains_rect(&bounds, &own)) return false;
  }
  return true;
}

bool isWithin(GtkWidget* widget, GtkWidget* ancestor) {
  return widget && (widget == ancestor || gtk_widget_is_ancestor(widget, ancestor));
}

bool sendKey(GtkWidget* window, guint keyval, GdkModifierType modifiers) {
  std::vector<GtkWidget*> path;  // the focus up to the window
  for (GtkWidget* w = focusIn(window); w; w = gtk_widget_get_parent(w)) path.push_back(w);
  if (path.empty()) path.push_back(window);
  bool ran = false;
  for (auto it = path.rbegin(); it != path.rend() && !ran; ++it)
    ran = dispatchAt(*it, window, GTK_PHASE_CAPTURE, keyval, modifiers);
  for (auto it = path.begin(); it != path.end() && !ran; ++it)
    ran = dispatchAt(*it, window, GTK_PHASE_BUBBLE, keyval, modifiers) ||
          (*it == path.front() && dispatchAt(*it, window, GTK_PHASE_TARGET, keyval, modifiers));
  spin();
  return ran;
}

bool pressReturnIn(GtkWidget* field) {
  GtkWidget* text = findWidget(field, [](GtkWidget* w) { return GTK_IS_TEXT(w); });
  if (!text) return false;
  GtkRoot* root = gtk_widget_get_root(text);
  GtkWidget* pressed = GTK_IS_WINDOW(root) ? gtk_window_get_default_widget(GTK_WINDOW(root)) : nullptr;
  if (pressed) g_object_add_weak_pointer(G_OBJECT(pressed), reinterpret_cast<gpointer*>(&pressed));
  g_signal_emit_by_name(text, "activate");  // what the text input's Return binding emits
  // A default button pressed from the keyboard shows its press for a moment before it is clicked.
  spinUntil([&] { return !pressed || !gtk_widget_has_css_class(pressed, "keyboard-activating"); },
            std::chrono::seconds(5));
  if (pressed) g_object_remove_weak_pointer(G_OBJECT(pressed), reinterpret_cast<gpointer*>(&pressed));
  spin();
  return true;
}

std::vector<std::string> imagesWithoutIcon(GtkWidget* root) {
  std::vector<std::string> missing;
  GtkIconTheme* theme = gtk_icon_theme_get_for_display(gtk_widget_get_display(root));
  findWidget(root, [&](GtkWidget* widget) {
    if (!GTK_IS_IMAGE(widget) || !gtk_widget_get_visible(widget)) return false;
    GtkImage* image = GTK_IMAGE(widget);
    if (gtk_image_get_storage_type(image) != GTK_IMAGE_ICON_NAME) return false;
    // An image made from a file it could not read shows "image-missing".
    const char* name = gtk_image_get_icon_name(image);
    if (name && (std::string_view(name) == "image-missing" || !gtk_icon_theme_has_icon(theme, name)))
      missing.push_back(name);
    return false;
  });
  return missing;
}

namespace {
// The accessible label property of a widget, or "".
std::string accessibleLabel(GtkWidget* widget) {
  if (!gtk_test_accessible_has_property(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_PROPERTY_LABEL)) return "";
  // The check answers the value itself when it differs from the one given.
  char* differs = gtk_test_accessible_check_property(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_PROPERTY_LABEL, "\x01");
  std::string label = differs ? differs : "";
  g_free(differs);
  return label;
}

// The widget under `root` that alone labels `widget`, or null.
GtkWidget* labelledBy(GtkWidget* widget, GtkWidget* root) {
  return findWidget(root, [&](GtkWidget* candidate) {
    char* differs =
        gtk_test_accessible_check_relation(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_RELATION_LABELLED_BY, candidate, NULL);
    g_free(differs);
    return differs == nullptr;
  });
}

bool isControl(GtkWidget* widget) {
  switch (gtk_accessible_get_accessible_role(GTK_ACCESSIBLE(widget))) {
    case GTK_ACCESSIBLE_ROLE_BUTTON:
    case GTK_ACCESSIBLE_ROLE_CHECKBOX:
    case GTK_ACCESSIBLE_ROLE_COMBO_BOX:
    case GTK_ACCESSIBLE_ROLE_LINK:
    case GTK_ACCESSIBLE_ROLE_MENU_ITEM:
    case GTK_ACCESSIBLE_ROLE_MENU_ITEM_CHECKBOX:
    case GTK_ACCESSIBLE_ROLE_MENU_ITEM_RADIO:
    case GTK_ACCESSIBLE_ROLE_RADIO:
    case GTK_ACCESSIBLE_ROLE_SEARCH_BOX:
    case GTK_ACCESSIBLE_ROLE_SLIDER:
    case GTK_ACCESSIBLE_ROLE_SPIN_BUTTON:
    case GTK_ACCESSIBLE_ROLE_SWITCH:
    case GTK_ACCESSIBLE_ROLE_TEXT_BOX:
      return true;
    case GTK_ACCESSIBLE_ROLE_LIST_ITEM:
    case GTK_ACCESSIBLE_ROLE_ROW: {
      // A row the keyboard can reach.
      if (!gtk_widget_get_focusable(widget)) return false;
      for (GtkWidget* up = widget; up; up = gtk_widget_get_parent(up))
        if (!gtk_widget_get_can_focus(up)) return false;
      return true;
    }
    default:
      return false;
  }
}

void collectNameless(GtkWidget* widget, GtkWidget* window, std::vector<std::string>& nameless) {
  if (!gtk_widget_get_mapped(widget)) return;
  if (isControl(widget)) {
    std::string name = accessibleLabel(widget);
    if (name.empty() && gtk_test_accessible_has_relation(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_RELATION_LABELLED_BY)) {
      GtkWidget* label = labelledBy(widget, widget);
      if (!label) label = labelledBy(widget, window);
      name = label ? accessibleLabel(label) : "(labelled by several)";
    }
    if (name.empty()) {
      // The control and the widgets around it, up to the nearest one with a name of its own.
      std::string where = G_OBJECT_TYPE_NAME(widget);
      for (GtkWidget* up = gtk_widget_get_parent(widget); up; up = gtk_widget_get_parent(up)) {
        where += std::string(" in ") + G_OBJECT_TYPE_NAME(up);
        const std::string label = accessibleLabel(up);
        if (!label.empty()) {
          where += " «" + label + "»";
          break;
        }
        if (GTK_IS_WINDOW(up)) break;
      }
      nameless.push_back(where);
    }
  }
  for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child))
    collectNameless(child, window, nameless);
}
}  // namespace

std::vector<std::string> namelessControls(GtkWidget* root) {
  std::vector<std::string> nameless;
  collectNameless(root, root, nameless);
  return nameless;
}

namespace {
// The widget drawn into a texture. On a loaded machine the first layout and frame can take a while: they are
// waited for instead of a fixed time.
GdkTexture* renderTexture(GtkWidget* widget) {
  GskRenderNode* node = nullptr;
  GdkPaintable* paintable = gtk_widget_paintable_new(widget);
  int width = 0, height = 0;
  spinUntil(
      [&] {
        width = gtk_widget_get_width(widget);
        height = gtk_widget_get_height(widget);
        if (width <= 0 || height <= 0 || !gtk_widget_get_mapped(widget)) return false;
        GtkSnapshot* snapshot = gtk_snapshot_new();
        gdk_paintable_snapshot(paintable, snapshot, width, height);
        node = gtk_snapshot_free_to_node(snapshot);
        return node != nullptr;
      },
      std::chrono::seconds(20));
  g_object_unref(paintable);
  if (!node) return nullptr;
  GskRenderer* renderer = gtk_native_get_renderer(gtk_widget_get_native(widget));
  graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, 0, static_cast<float>(width), static_cast<float>(height));
  GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &bounds);
  gsk_render_node_unref(node);
  return texture;
}

double luminance(const GdkRGBA& c) {
  auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * linear(c.red) + 0.7152 * linear(c.green) + 0.0722 * linear(c.blue);
}
}  // namespace

GdkRGBA pixelAt(GtkWidget* widget, int x, int y) {
  GdkRGBA colour{0, 0, 0, 0};
  GdkTexture* texture = renderTexture(widget);
  if (!texture) return colour;
  const int width = gdk_texture_get_width(texture), height = gdk_texture_get_height(texture);
  if (x >= 0 && y >= 0 && x < width && y < height) {
    std::vector<guchar> pixels(static_cast<std::size_t>(width) * height * 4);
    gdk_texture_download(texture, pixels.data(), static_cast<gsize>(width) * 4);  // B, G, R, A, premultiplied
    const guchar* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
    const double alpha = p[3] / 255.0;
    if (alpha > 0) colour = {float(p[2] / 255.0 / alpha), float(p[1] / 255.0 / alpha), float(p[0] / 255.0 / alpha), float(alpha)};
  }
  g_object_unref(texture);
  return colour;
}

double contrastRatio(const GdkRGBA& a, const GdkRGBA& b) {
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

void savePNG(GtkWidget* widget, const std::string& name) {
  GdkTexture* texture = renderTexture(widget);
  ASSERT_NE(texture, nullptr) << name;
  std::filesystem::path path = std::filesystem::path(DORVIK_BINARY_DIR) / "screens" / (name + ".png");
  std::filesystem::create_directories(path.parent_path());
  EXPECT_TRUE(gdk_texture_save_to_png(texture, path.c_str()));
  EXPECT_GT(std::filesystem::file_size(path), 1000u);
  g_object_unref(texture);
}

void saveScreenPNG(GtkWidget* window, const std::string& name) {
  GdkTexture* picture = renderTexture(window);
  ASSERT_NE(picture, nullptr) << name;
  const int width = gdk_texture_get_width(picture), height = gdk_texture_get_height(picture);
  cairo_surface_t* canvas = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_surface_flush(canvas);
  gdk_texture_download(picture, cairo_image_surface_get_data(canvas), cairo_image_surface_get_stride(canvas));
  cairo_surface_mark_dirty(canvas);
  g_object_unref(picture);
  cairo_t* cr = cairo_create(canvas);
  double windowX = 0, windowY = 0;
  gtk_native_get_surface_transform(GTK_NATIVE(window), &windowX, &windowY);
  // Each shown popover where its surface lies over the window's.
  findWidget(window, [&](GtkWidget* w) {
    if (!GTK_IS_POPOVER(w) || !gtk_widget_get_mapped(w)) return false;
    GdkTexture* shown = renderTexture(w);
    if (!shown) return false;
    double popoverX = 0, popoverY = 0;
    gtk_native_get_surface_transform(GTK_NATIVE(w), &popoverX, &popoverY);
    GdkPopup* popup = GDK_POPUP(gtk_native_get_surface(GTK_NATIVE(w)));
    const int w2 = gdk_texture_get_width(shown), h2 = gdk_texture_get_height(shown);
    cairo_surface_t* layer = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w2, h2);
    cairo_surface_flush(layer);
    gdk_texture_download(shown, cairo_image_surface_get_data(layer), cairo_image_surface_get_stride(layer));
    cairo_surface_mark_dirty(layer);
    g_object_unref(shown);
    cairo_set_source_surface(cr, layer, gdk_popup_get_position_x(popup) + popoverX - windowX,
                             gdk_popup_get_position_y(popup) + popoverY - windowY);
    cairo_paint(cr);
    cairo_surface_destroy(layer);
    return false;
  });
  cairo_destroy(cr);
  const std::filesystem::path path = std::filesystem::path(DORVIK_BINARY_DIR) / "screens" / (name + ".png");
  std::filesystem::create_directories(path.parent_path());
  EXPECT_EQ(cairo_surface_write_to_png(canvas, path.c_str()), CAIRO_STATUS_SUCCESS) << name;
  cairo_surface_destroy(canvas);
}

}  // namespace dorvik::testing
