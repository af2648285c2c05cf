// The superadmin's staff pages in the main window against the stand-in server: the accounts of the first company
// (build/screens/admin-staff.png), a new account typed into the editor and saved with Return
// (admin-staff-editor.png), a password set through the password sheet (admin-password-reset.png) and the depots page
// (admin-depots.png, admin-depots-dark.png, and a depot in its editor: admin-depot-editor.png), whose buttons but
// "Обновить" go off with the connection.
#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include <string>

#include "admin/staff_view.h"
#include "core/async/task.h"
#include "support/async_helpers.h"
#include "support/fake_staff.h"
#include "support/window_fixture.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::testing;
using namespace std::chrono_literals;
using admin::StaffView;

namespace {

class StaffWindow : public WindowFixture<> {
 protected:
  StaffView* show(PanelPage page) {
    model->setPage(page);
    spin();
    auto* view = widgetOf<StaffView>(root());
    EXPECT_NE(view, nullptr) << rawValue(page);
    if (!view) return nullptr;
    EXPECT_TRUE(spinUntil([&] {
      return !view->screen()->company().empty() && !view->screen()->state()->loading() &&
             !view->screen()->state()->value().isNull();
    }));
    spin();
    return view;
  }
  GtkWidget* passwordEntry(GtkWidget* within, const std::string& placeholder) {
    return findWidget(within, [&](GtkWidget* w) {
      if (!GTK_IS_PASSWORD_ENTRY(w)) return false;
      gchar* text = nullptr;
      g_object_get(w, "placeholder-text", &text, nullptr);
      const bool same = text && placeholder == text;
      g_free(text);
      return same;
    });
  }
};

}  // namespace

TEST_F(StaffWindow, TheSuperadminAddsAnAccountSetsItsPasswordAndSeesTheDepots) {
  StandInServer server;
  StaffDesk desk(server);
  desk.companies() = JSONValue::decode(R"([{"id": "c-1", "name": "ООО «Альфа доставка»"},
      {"id": "c2", "name": "Бета — компания с очень длинным названием, которое не помещается в поле выбора целиком"}])");
  desk.depots() = JSONValue::decode(R"([
      {"id": "d-1", "companyId": "c-1", "name": "Север", "address": "Москва, Дмитровское шоссе, 100, строение 2, вход со стороны двора, третий подъезд от угла", "windowFrom": "08:00", "windowTo": "20:00"},
      {"id": "d-2", "companyId": "c-1", "name": "Юг", "address": "Москва, Варшавское шоссе, 1", "windowFrom": "09:00", "windowTo": "21:00"}])");
  desk.people() = JSONValue::decode(R"([
      {"id": "p-1", "companyId": "c-1", "fullName": "Ольга Смирнова", "login": "smirnova", "phone": "+7 900 111-22-33", "role": "owner"},
      {"id": "p-2", "companyId": "c-1", "fullName": "Иван Курьеров", "login": "ivan", "phone": "+7 900 444-55-66", "role": "courier"}])");
  model->setApi(desk.signIn("superadmin"));
  model->setUser(StaffDesk::user("superadmin"));
  model->setCache(freshCache());
  openMainWindow();

  StaffView* people = show(PanelPage::people);
  ASSERT_NE(people, nullptr);
  EXPECT_EQ(people->table().rows().size(), 2u);
  EXPECT_NE(findLabel(root(), "owner"), nullptr) << "a code without a word of its own is shown as it is";
  EXPECT_NE(findLabel(root(), "Курьер"), nullptr);
  savePNG(root(), "admin-staff");

  // The picker cuts a long name instead of growing with it; "Выберите компанию" disables the actions.
  Gtk::DropDown& picker = people->companyPicker();
  picker.set_selected(2);
  spin();
  GtkWidget* longName = findLabel(GTK_WIDGET(picker.gobj()), desk.companies().at(1)["name"].string());
  ASSERT_NE(longName, nullptr);
  int natural = 0;
  gtk_widget_measure(longName, GTK_ORIENTATION_HORIZONTAL, -1, nullptr, &natural, nullptr, nullptr);
  EXPECT_LT(gtk_widget_get_width(longName), natural) << "the name is cut in the button";
  EXPECT_LE(picker.get_width(), 420);
  picker.set_selected(0);
  spin();
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(root(), "Добавить")));
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(root(), "Обновить")));
  picker.set_selected(1);
  ASSERT_TRUE(spinUntil([&] { return people->table().rows().size() == 2; }));

  ASSERT_TRUE(clickButton(root(), "Добавить"));
  ASSERT_TRUE(spinUntil([&] { return people->editorSheet() != nullptr; }));
  GtkWidget* sheet = GTK_WIDGET(people->editorSheet()->gobj());
  ASSERT_TRUE(spinUntil([&] { return findLabel(sheet, "Юг") != nullptr; }));
  for (const auto& [row, text] : {std::pair{"Имя", "Пётр Петров"}, std::pair{"Логин", "petrov"},
                                  std::pair{"Телефон", "+7 900 000-00-01"}})
    gtk_editable_set_text(GTK_EDITABLE(entryRow(sheet, row)), text);
  GtkWidget* password = entryRow(sheet, "Пароль от 8 знаков");
  ASSERT_NE(password, nullptr);
  gtk_editable_set_text(GTK_EDITABLE(password), "пароль-петрова");
  // Return before a depot is ticked: the combined message, nothing sent.
  ASSERT_TRUE(pressReturnIn(password));
  spin();
  EXPECT_NE(findLabel(sheet, "Укажите пароль от 8 знаков и хотя бы один склад."), nullptr);
  EXPECT_EQ(server.hits("POST", "/staff/people"), 0u);
  GtkWidget* toggle = findWidget(sheet, [](GtkWidget* w) { return GTK_IS_SWITCH(w); });
  ASSERT_NE(toggle, nullptr);
  gtk_switch_set_active(GTK_SWITCH(toggle), TRUE);
  spin();
  savePNG(sheet, "admin-staff-editor");
  ASSERT_TRUE(pressReturnIn(password));
  ASSERT_TRUE(spinUntil([&] { return people->editorSheet() == nullptr; }));
  EXPECT_EQ(server.hits("POST", "/staff/people"), 1u);
  ASSERT_TRUE(spinUntil([&] { return people->table().rows().size() == 3; }));
  spin();

  // The password sheet: disabled, saying why, until both entries agree; then Return saves.
  GtkWidget* table = GTK_WIDGET(people->table().gobj());
  ASSERT_TRUE(clickButton(table, "Задать новый"));
  ASSERT_TRUE(spinUntil([&] { return people->passwordSheet() != nullptr; }));
  GtkWidget* passwordSheet = GTK_WIDGET(people->passwordSheet()->gobj());
  spin();
  EXPECT_NE(findLabel(passwordSheet, "Новый пароль · Ольга Смирнова"), nullptr);
  GtkWidget* first = passwordEntry(passwordSheet, "Новый пароль");
  GtkWidget* second = passwordEntry(passwordSheet, "Повторите пароль");
  ASSERT_TRUE(first && second);
  gtk_editable_set_text(GTK_EDITABLE(first), "новый пароль 2026");
  gtk_editable_set_text(GTK_EDITABLE(second), "новый пароль 202");
  spin();
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(passwordSheet, "Сохранить")));
  EXPECT_NE(findLabel(passwordSheet, "Пароли не совпадают."), nullptr) << "the reason stands under the entries";
  gtk_editable_set_text(GTK_EDITABLE(second), "новый пароль 2026");
  spin();
  EXPECT_TRUE(gtk_widget_is_sensitive(findButton(passwordSheet, "Сохранить")));
  savePNG(passwordSheet, "admin-password-reset");
  ASSERT_TRUE(pressReturnIn(second));
  ASSERT_TRUE(spinUntil([&] { return people->passwordSheet() == nullptr; }));
  EXPECT_EQ(desk.password("p-1"), "новый пароль 2026");
  // Escape closes the sheet and sends nothing.
  ASSERT_TRUE(clickButton(table, "Задать новый"));
  ASSERT_TRUE(spinUntil([&] { return people->passwordSheet() != nullptr; }));
  spin();
  EXPECT_TRUE(pressKey(GTK_WIDGET(people->passwordSheet()->gobj()), GDK_KEY_Escape));
  ASSERT_TRUE(spinUntil([&] { return people->passwordSheet() == nullptr; }));
  EXPECT_EQ(server.hits("POST", "/staff/people/p-1/password"), 1u);

  StaffView* depots = show(PanelPage::depotsAdmin);
  ASSERT_NE(depots, nullptr);
  EXPECT_EQ(depots->table().rows().size(), 2u);
  savePNG(root(), "admin-depots");
  context_.defaults->setString("appearance", "dark");
  spin();
  savePNG(root(), "admin-depots-dark");
  context_.defaults->setString("appearance", "light");

  // A depot opens in its editor with the stored values; Escape closes it and sends nothing.
  ASSERT_TRUE(clickButton(root(), "Изменить"));
  ASSERT_TRUE(spinUntil([&] { return depots->editorSheet() != nullptr; }));
  GtkWidget* depotSheet = GTK_WIDGET(depots->editorSheet()->gobj());
  spin(200ms);
  EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(entryRow(depotSheet, "Название"))), "Север");
  EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(entryRow(depotSheet, "Открытие, ЧЧ:ММ"))), "08:00");
  savePNG(depotSheet, "admin-depot-editor");
  EXPECT_TRUE(pressKey(depotSheet, GDK_KEY_Escape));
  ASSERT_TRUE(spinUntil([&] { return depots->editorSheet() == nullptr; }));
  EXPECT_EQ(server.hits("PATCH", "/staff/depots/d-1"), 0u);

  // Offline: only "Обновить" stays available, the rows' buttons included.
  model->setOffline(true);
  spin();
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(root(), "Изменить")));
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(root(), "Добавить")));
  EXPECT_TRUE(gtk_widget_is_sensitive(findButton(root(), "Обновить")));
  EXPECT_EQ(window_->alert(), nullptr);
}
