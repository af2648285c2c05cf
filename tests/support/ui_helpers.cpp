#include "support/ui_helpers.h"

#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtkmm.h>
#include <gtkmm/init.h>

#include <filesystem>

#include "support/async_helpers.h"

namespace dorvik::testing {

void initDisplay() {
  static bool done = false;
  if (done) return;
  done = true;
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

void savePNG(GtkWidget* widget, const std::string& name) {
  // On a loaded machine the first layout and frame can take a while: wait for them instead of a fixed time.
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
  ASSERT_GT(width, 0) << name;
  ASSERT_NE(node, nullptr) << name;
  GskRenderer* renderer = gtk_native_get_renderer(gtk_widget_get_native(widget));
  graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, 0, static_cast<float>(width), static_cast<float>(height));
  GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &bounds);
  std::filesystem::path path = std::filesystem::path(DORVIK_BINARY_DIR) / "screens" / (name + ".png");
  std::filesystem::create_directories(path.parent_path());
  EXPECT_TRUE(gdk_texture_save_to_png(texture, path.c_str()));
  EXPECT_GT(std::filesystem::file_size(path), 1000u);
  g_object_unref(texture);
  gsk_render_node_unref(node);
  g_object_unref(paintable);
}

}  // namespace dorvik::testing
