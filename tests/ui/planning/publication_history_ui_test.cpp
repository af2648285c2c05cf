// The publication dialog and the plan history page in the main window: the dialog checking, ready and failed
// against the stand-in server's published plans (a PNG of each in build/screens/), a plan sent in the mode picked;
// the history of the demo day searched, saved by hand and a snapshot opened again, which leaves the page.
#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include "model/planning/planning_fixture.h"
#include "support/async_helpers.h"
#include "support/fake_plans.h"
#include "support/workspace_helpers.h"
#include "ui/planning/planner_window.h"

using namespace dorvik;
using namespace dorvik::testing;

namespace {
// A label reading `text` that is on screen (a table keeps the cells of rows gone for reuse, unmapped).
GtkWidget* mappedLabel(GtkWidget* root, const std::string& text) {
  return findWidget(root, [&](GtkWidget* w) {
    return GTK_IS_LABEL(w) && gtk_widget_get_mapped(w) && text == gtk_label_get_text(GTK_LABEL(w));
  });
}
// Sets the check or radio button labelled `label`; false when there is none.
bool check(GtkWidget* root, const std::string& label) {
  GtkWidget* button = findWidget(root, [&](GtkWidget* w) {
    return GTK_IS_CHECK_BUTTON(w) && g_strcmp0(gtk_check_button_get_label(GTK_CHECK_BUTTON(w)), label.c_str()) == 0;
  });
  if (button) gtk_check_button_set_active(GTK_CHECK_BUTTON(button), TRUE);
  return button != nullptr;
}
}  // namespace

TEST_F(PlannerWindow, ThePublicationDialogChecksTheServerThenSendsInTheModePicked) {
  StandInServer server;
  FakePlans plans(server);
  model->setApi(signedInClient(server));
  model->setUser(JSONValue::object({{"id", "u1"}, {"fullName", "Анна Логист"}, {"role", "logist"}}));
  ASSERT_TRUE(async::runBlocking(model->mutate("load", sampleDay())));
  ASSERT_TRUE(async::runBlocking(model->mutate("calculate", JSONValue::object({}))));
  openWindow();
  const std::string title = "Отправить план курьерам";

  // Checking: the answer is held, "Отправить" waits for it; closing meanwhile leaves nothing behind.
  plans.holdChecks(true);
  click("Отправить курьерам");
  GtkWidget* sheet = findWindow(title);
  ASSERT_NE(sheet, nullptr);
  EXPECT_NE(findLabel(sheet, "1 маршрутов · 2026-09-22"), nullptr);
  EXPECT_NE(findLabel(sheet, "Проверяем текущие маршруты…"), nullptr);
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(sheet, "Отправить")));
  EXPECT_TRUE(gtk_widget_is_sensitive(findButton(sheet, "Отмена")));
  spin(300ms);  // the sheet grows to its new content
  savePNG(sheet, "planning-publication-checking");
  EXPECT_TRUE(pressKey(sheet, GDK_KEY_Escape));
  EXPECT_EQ(findWindow(title), nullptr);
  server.releaseAll();
  spin();

  // Ready: the server's routes and the modes; the plan replaces the date's routes.
  plans.holdChecks(false);
  click("Отправить курьерам");
  sheet = findWindow(title);
  ASSERT_NE(sheet, nullptr);
  ASSERT_TRUE(spinUntil([&] { return findLabel(sheet, "На сервере: 0. С отметками курьеров: 0.") != nullptr; }));
  EXPECT_EQ(findLabel(sheet, "Проверяем текущие маршруты…"), nullptr);
  ASSERT_TRUE(check(sheet, "Заменить план на эту дату"));
  spin(300ms);  // the sheet grows to its new content
  savePNG(sheet, "planning-publication-ready");
  ASSERT_TRUE(clickButton(sheet, "Отправить"));
  ASSERT_TRUE(spinUntil([&] { return findWindow(title) == nullptr; }));
  EXPECT_EQ(plans.routes("2026-09-22").size(), model->routes().size());
  EXPECT_EQ(server.hitsOn("/plans/import").at(0).query, "mode=replace");
  EXPECT_EQ(model->status(), "План отправлен курьерам.");

  // Check failed: the message in red and only "Отмена".
  plans.refuseNextCheck(503, "Сервер перегружен. Повторите позже.");
  click("Отправить курьерам");
  sheet = findWindow(title);
  ASSERT_NE(sheet, nullptr);
  ASSERT_TRUE(spinUntil([&] { return findLabel(sheet, "Сервер перегружен. Повторите позже.") != nullptr; }));
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(sheet, "Отправить")));
  spin(300ms);  // the sheet grows to its new content
  savePNG(sheet, "planning-publication-failed");
  ASSERT_TRUE(clickButton(sheet, "Отмена"));
  EXPECT_EQ(findWindow(title), nullptr);
  EXPECT_EQ(server.hitsOn("/plans/import").size(), 1u);

  // A value that could not be read goes out empty only once the user agrees.
  ASSERT_TRUE(async::runBlocking(
      model->patchOrder(model->orderIDs()[0], JSONValue::object({{"units", "три"}}))));
  click("Отправить курьерам");
  sheet = findWindow(title);
  ASSERT_NE(sheet, nullptr);
  ASSERT_TRUE(spinUntil([&] { return findLabel(sheet, "На сервере: 1. С отметками курьеров: 0.") != nullptr; }));
  EXPECT_NE(findLabel(sheet, "№1001 · Кофейня — «Количество мест»: «три»"), nullptr);
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(sheet, "Отправить")));
  ASSERT_TRUE(check(sheet, "Отправить без этих значений"));
  spin(300ms);  // the sheet grows to its new content
  EXPECT_TRUE(gtk_widget_is_sensitive(findButton(sheet, "Отправить")));
  savePNG(sheet, "planning-publication-sent-empty");
  // Mended meanwhile (the sheet follows the plan): nothing left to confirm.
  ASSERT_TRUE(async::runBlocking(model->patchOrder(model->orderIDs()[0], JSONValue::object({{"units", 4}}))));
  spin();
  EXPECT_EQ(findLabel(sheet, "№1001 · Кофейня — «Количество мест»: «три»"), nullptr);
  EXPECT_TRUE(gtk_widget_is_sensitive(findButton(sheet, "Отправить")));
  ASSERT_TRUE(clickButton(sheet, "Отправить"));
  ASSERT_TRUE(spinUntil([&] { return findWindow(title) == nullptr; }));
  EXPECT_EQ(server.hitsOn("/plans/import").size(), 2u);
  expectNoError();
}

TEST_F(PlannerWindow, TheHistoryPageSearchesSavesAndOpensASnapshotAgain) {
  async::runBlocking(model->loadPreview());
  openWindow();
  model->setPage(PanelPage::history);
  spin();
  ASSERT_NE(findLabel(root(), "Пример планирования"), nullptr);
  EXPECT_NE(findLabel(root(),
                      "История этого компьютера сохраняется зашифрованно для выбранного аккаунта и склада. История "
                      "браузера хранится отдельно."),
            nullptr);
  GtkWidget* save = findButton(root(), "Сохранить текущий план");
  ASSERT_NE(save, nullptr);
  EXPECT_TRUE(gtk_widget_is_sensitive(save));
  g_signal_emit_by_name(save, "clicked");
  ASSERT_TRUE(spinUntil([&] { return model->history().size() == 2; }));
  spin();
  EXPECT_EQ(model->history().front()["title"].string(), "Сохранённый план");
  savePNG(root(), "history");

  auto* search = GTK_EDITABLE(findWidget(root(), [](GtkWidget* w) { return GTK_IS_SEARCH_ENTRY(w); }));
  gtk_editable_set_text(search, "ПРИМЕР ПЛАН");  // the demo's title; its file name reads "Пример · …"
  spin();
  EXPECT_NE(mappedLabel(root(), "Пример планирования"), nullptr);
  EXPECT_EQ(mappedLabel(root(), "Сохранённый план"), nullptr);

  EXPECT_EQ(mappedLabel(root(), "Пока нет сохранённых планов"), nullptr);
  gtk_editable_set_text(search, "нет такого плана");
  spin();
  EXPECT_NE(mappedLabel(root(), "Пока нет сохранённых планов"), nullptr);
  EXPECT_EQ(mappedLabel(root(), "Пример планирования"), nullptr);
  savePNG(root(), "history-empty-search");
  gtk_editable_set_text(search, "пример план");
  spin();

  // Opening the demo's first snapshot: confirmed, the current plan saved first, the planning page shown.
  ASSERT_TRUE(clickButton(root(), "Открыть"));
  AdwMessageDialog* confirmation = shownConfirmation("Открыть сохранённый план?");
  ASSERT_NE(confirmation, nullptr);
  EXPECT_STREQ(adw_message_dialog_get_body(confirmation),
               "Текущее планирование будет сохранено отдельным снимком перед заменой.");
  adw_message_dialog_response(confirmation, "confirm");
  ASSERT_TRUE(spinUntil([&] { return model->page() == PanelPage::planning && view() != nullptr; }));
  ASSERT_TRUE(spinUntil([&] {
    return model->status() == "Сохранённое планирование открыто. Публикация курьерам выполняется отдельно.";
  }));
  ASSERT_EQ(model->history().size(), 3u);
  EXPECT_EQ(model->history().front()["title"].string(), "Перед восстановлением истории");
  expectNoError();
}
