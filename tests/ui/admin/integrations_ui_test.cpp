// The integrations page in the main window under a display, against the stand-in server: the stored keys only in
// the status lines (the key fields start empty), an unknown lookup order shown as no option and sent back as it
// came, the clearing confirmation cancelled without a request, and a key typed into its field saved
// (build/screens/admin-integrations.png before, admin-integrations-saved.png and its dark form after); a logist
// offered no write (admin-integrations-logist.png, its dark form and "Крупный").
#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include "admin/integrations_view.h"
#include "admin/logic/catalogue.h"
#include "support/async_helpers.h"
#include "support/fake_admin.h"
#include "support/fake_integrations.h"
#include "support/window_fixture.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::testing;
using namespace std::chrono_literals;
using admin::IntegrationsView;

namespace {

class IntegrationsWindow : public WindowFixture<> {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    model->setApi(desk.signIn("admin"));
    model->setUser(AdminDesk::user("admin"));
    model->setCache(freshCache());
  }

  GtkWidget* row(const std::string& title) {
    return findWidget(root(), [&](GtkWidget* w) {
      return ADW_IS_PREFERENCES_ROW(w) && title == adw_preferences_row_get_title(ADW_PREFERENCES_ROW(w));
    });
  }
  using WindowFixture::click;
  void click(const std::string& text) { click(root(), text); }

  StandInServer server;
  AdminDesk desk{server};
  IntegrationsDesk keys{server};
};

}  // namespace

TEST_F(IntegrationsWindow, StoredKeysShowOnlyMaskedAndATypedKeyIsSaved) {
  keys.setKey("mapKey", "map-stored-0042");
  keys.settings().set("geocoder", "yandex");
  keys.settings().set("styleId", "depot-style");
  openMainWindow();
  model->setPage(PanelPage::integrations);
  spin();
  auto* view = widgetOf<IntegrationsView>(root());
  ASSERT_NE(view, nullptr) << "the page switch shows the integrations screen";
  ASSERT_TRUE(spinUntil([&] { return !view->controller()->data().isNull(); }));
  spin();

  EXPECT_NE(findLabel(root(), "Карта: ma…42"), nullptr);
  for (const char* title : {"Новый ключ DaData", "Новый ключ маршрутизации", "Новый ключ карты"}) {
    GtkWidget* field = row(title);
    ASSERT_NE(field, nullptr) << title;
    EXPECT_TRUE(ADW_IS_PASSWORD_ENTRY_ROW(field)) << title;
    EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(field)), "") << title << ": never filled with a stored key";
  }
  EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(row("Стиль карты"))), "depot-style");
  EXPECT_EQ(adw_combo_row_get_selected(ADW_COMBO_ROW(row("Поиск адресов"))), GTK_INVALID_LIST_POSITION);
  // The form keeps to the leading edge of a page wider than it.
  GtkWidget* form = findWidget(root(), [](GtkWidget* w) { return ADW_IS_CLAMP(w); });
  ASSERT_NE(form, nullptr);
  graphene_rect_t bounds;
  ASSERT_TRUE(gtk_widget_compute_bounds(form, GTK_WIDGET(view->gobj()), &bounds));
  EXPECT_LT(bounds.origin.x, 50.0f);
  EXPECT_GT(gtk_widget_get_width(GTK_WIDGET(view->gobj())), gtk_widget_get_width(form) + 100);
  savePNG(root(), "admin-integrations");

  // Cancelling the clearing sends nothing.
  click("Очистить ключи склада");
  AdwMessageDialog* confirmation = shownConfirmation("Очистить ключи этого склада?");
  ASSERT_NE(confirmation, nullptr);
  adw_message_dialog_response(confirmation, "cancel");
  spin();
  EXPECT_EQ(server.hits("PATCH", "/integrations/settings"), 0u);

  gtk_editable_set_text(GTK_EDITABLE(row("Новый ключ маршрутизации")), "route-typed-9911");
  click("Сохранить настройки");
  ASSERT_TRUE(spinUntil([&] { return !view->controller()->busy(); }));
  spin();
  EXPECT_EQ(keys.key("routingKey"), "route-typed-9911");
  EXPECT_EQ(keys.settings()["geocoder"], JSONValue("yandex")) << "the unknown lookup order went back unchanged";
  EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(row("Новый ключ маршрутизации"))), "");
  EXPECT_NE(findLabel(root(), "Маршрутизация: ro…11"), nullptr);
  savePNG(root(), "admin-integrations-saved");
  context_.defaults->setString("appearance", "dark");
  spin();
  savePNG(root(), "admin-integrations-saved-dark");
  EXPECT_EQ(window_->alert(), nullptr);
}

// The server takes the settings only from an administrator: a logist finds every field and both writes disabled,
// each saying why.
TEST_F(IntegrationsWindow, ALogistReadsTheSettingsAndIsToldWhyNothingIsEditable) {
  model->setApi(desk.signIn("logist"));
  model->setUser(AdminDesk::user("logist"));
  keys.setKey("routingKey", "route-stored-7001");
  openMainWindow(1440, 900);
  model->setPage(PanelPage::integrations);
  auto* view = widgetOf<IntegrationsView>(root());
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(spinUntil([&] { return !view->controller()->data().isNull(); }));
  spin();
  std::vector<GtkWidget*> writes = {findButton(root(), "Сохранить настройки"),
                                    findButton(root(), "Очистить ключи склада")};
  for (const char* title : {"Поиск адресов", "Новый ключ DaData", "Новый ключ маршрутизации", "Новый ключ карты",
                            "Стиль карты", "Демо-ключ: учитывать локальный лимит обращений"})
    writes.push_back(row(title));
  for (GtkWidget* control : writes) {
    ASSERT_NE(control, nullptr);
    EXPECT_FALSE(gtk_widget_is_sensitive(control)) << G_OBJECT_TYPE_NAME(control);
    EXPECT_STREQ(gtk_widget_get_tooltip_text(control), admin::kAdministratorsOnly) << G_OBJECT_TYPE_NAME(control);
  }
  EXPECT_TRUE(gtk_widget_is_sensitive(findButton(root(), "Проверить ключ 2ГИС")));
  savePNG(root(), "admin-integrations-logist");
  context_.defaults->setString("appearance", "dark");
  context_.defaults->set(Settings::textSize, 17.0);
  spin();
  savePNG(root(), "admin-integrations-logist-dark-large");
}
