// The integrations page in the main window under a display, against the stand-in server: the stored keys only in
// the status lines (the key fields start empty), an unknown lookup order shown as no option and sent back as it
// came, the clearing confirmation cancelled without a request, and a key typed into its field saved
// (build/screens/admin-integrations.png before, admin-integrations-saved.png and its dark form after).
#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include "admin/integrations_view.h"
#include "support/async_helpers.h"
#include "support/fake_admin.h"
#include "support/fake_integrations.h"
#include "support/workspace_helpers.h"
#include "ui/planning/planner_window.h"

using namespace dorvik;
using namespace dorvik::testing;
using namespace std::chrono_literals;
using admin::IntegrationsView;

namespace {

class IntegrationsWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { initDisplay(); }

  void SetUp() override {
    char folder[] = "/tmp/dorvik-integrations-ui-XXXXXX";
    ASSERT_NE(g_mkdtemp(folder), nullptr);
    folder_ = folder;
    context_.model = model;
    context_.workflows = modelWorkflows(model);
    context_.defaults = std::make_shared<UserDefaults>(folder_ + "/settings.ini");
    appearance_ = std::make_unique<Appearance>(context_.defaults);
    model->setApi(desk.signIn("admin"));
    model->setUser(AdminDesk::user("admin"));
    model->setCache(freshCache());
  }
  void TearDown() override {
    delete window_;
    spin(50ms);
    appearance_.reset();
    std::filesystem::remove_all(folder_);
  }

  GtkWidget* root() { return GTK_WIDGET(window_->gobj()); }
  GtkWidget* row(const std::string& title) {
    return findWidget(root(), [&](GtkWidget* w) {
      return ADW_IS_PREFERENCES_ROW(w) && title == adw_preferences_row_get_title(ADW_PREFERENCES_ROW(w));
    });
  }
  void click(const std::string& text) {
    GtkWidget* b = findButton(root(), text);
    ASSERT_NE(b, nullptr) << text;
    ASSERT_TRUE(gtk_widget_is_sensitive(b)) << text;
    g_signal_emit_by_name(b, "clicked");
    spin();
  }

  StandInServer server;
  AdminDesk desk{server};
  IntegrationsDesk keys{server};
  std::shared_ptr<AppModel> model = AppModel::create();
  std::string folder_;
  ShellContext context_;
  std::unique_ptr<Appearance> appearance_;
  RootWindow* window_ = nullptr;
};

}  // namespace

TEST_F(IntegrationsWindow, StoredKeysShowOnlyMaskedAndATypedKeyIsSaved) {
  keys.setKey("mapKey", "map-stored-0042");
  keys.settings().set("geocoder", "yandex");
  keys.settings().set("styleId", "depot-style");
  window_ = new RootWindow(context_);
  window_->set_default_size(1280, 800);
  window_->present();
  model->setPage(PanelPage::integrations);
  spin();
  auto* view = dynamic_cast<IntegrationsView*>(Glib::wrap(
      findWidget(root(), [](GtkWidget* w) { return dynamic_cast<IntegrationsView*>(Glib::wrap(w)) != nullptr; })));
  ASSERT_NE(view, nullptr) << "the page switch shows the integrations screen";
  ASSERT_TRUE(spinUntil([&] { return !view->controller()->data().isNull(); }));
  spin();

  EXPECT_NE(findLabel(root(), "Карта: ma…42"), nullptr);
  EXPECT_NE(findLabel(root(), "Ключ маршрутизации не задан"), nullptr);
  EXPECT_NE(findLabel(root(), "Ключ DaData не задан"), nullptr);
  for (const char* title : {"Новый ключ DaData", "Новый ключ маршрутизации", "Новый ключ карты"}) {
    GtkWidget* field = row(title);
    ASSERT_NE(field, nullptr) << title;
    EXPECT_TRUE(ADW_IS_PASSWORD_ENTRY_ROW(field)) << title;
    EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(field)), "") << title << ": never filled with a stored key";
  }
  EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(row("Стиль карты"))), "depot-style");
  EXPECT_EQ(adw_combo_row_get_selected(ADW_COMBO_ROW(row("Поиск адресов"))), GTK_INVALID_LIST_POSITION);
  GtkWidget* form = findWidget(root(), [](GtkWidget* w) { return ADW_IS_CLAMP(w); });
  ASSERT_NE(form, nullptr);
  EXPECT_LE(gtk_widget_get_width(form), 850);
  savePNG(root(), "admin-integrations");

  // Cancelling the clearing sends nothing.
  click("Очистить ключи склада");
  AdwMessageDialog* confirmation = shownConfirmation("Очистить ключи этого склада?");
  ASSERT_NE(confirmation, nullptr);
  EXPECT_STREQ(adw_message_dialog_get_body(confirmation),
               "Если на сервере настроены общие ключи, склад вернётся к ним.");
  adw_message_dialog_response(confirmation, "cancel");
  spin();
  EXPECT_EQ(server.hits("PATCH", "/integrations/settings"), 0u);

  gtk_editable_set_text(GTK_EDITABLE(row("Новый ключ маршрутизации")), "route-typed-9911");
  click("Сохранить настройки");
  ASSERT_TRUE(spinUntil([&] { return !view->controller()->busy(); }));
  spin();
  ASSERT_EQ(server.hits("PATCH", "/integrations/settings"), 1u);
  EXPECT_EQ(keys.key("routingKey"), "route-typed-9911");
  EXPECT_EQ(keys.settings()["geocoder"], JSONValue("yandex")) << "the unknown lookup order went back unchanged";
  EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(row("Новый ключ маршрутизации"))), "");
  EXPECT_NE(findLabel(root(), "Маршрутизация: ro…11"), nullptr);
  EXPECT_EQ(model->status(), "Настройки сохранены.");
  savePNG(root(), "admin-integrations-saved");
  context_.defaults->setString("appearance", "dark");
  spin();
  savePNG(root(), "admin-integrations-saved-dark");
  EXPECT_EQ(window_->alert(), nullptr);
}
