// The planner's editors, vehicles tab, checks and the transport page in the main window over the demo day: each
// editor opened from the page, a refusal shown in its sheet, Escape closing it and Return saving; and a hand-kept
// book's problems in the checks, each opening its order's editor. PNGs of each in build/screens/.
#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include <regex>

#include "model/workbook_files.h"
#include "support/async_helpers.h"
#include "support/order_books.h"
#include "ui/planning/planner_window.h"

using namespace dorvik;
using namespace dorvik::testing;

namespace {

void type(GtkWidget* sheet, const std::string& title, const std::string& text) {
  GtkWidget* row = entryRow(sheet, title);
  ASSERT_NE(row, nullptr) << title;
  gtk_editable_set_text(GTK_EDITABLE(row), text.c_str());
}

// The sheet shows a message reading `text`, within its bounds.
bool showsIssue(GtkWidget* sheet, const std::string& text) {
  return spinUntil([&] {
    GtkWidget* label = findLabel(sheet, text);
    graphene_rect_t bounds;
    if (!label || !gtk_widget_compute_bounds(label, sheet, &bounds) || bounds.size.height <= 0) return false;
    return bounds.origin.y >= 0 && bounds.origin.y + bounds.size.height <= gtk_widget_get_height(sheet);
  });
}

std::string shown(GtkWidget* sheet, const std::string& title) {
  GtkWidget* row = entryRow(sheet, title);
  return row ? gtk_editable_get_text(GTK_EDITABLE(row)) : "<нет поля>";
}

}  // namespace

TEST_F(PlannerWindow, EditorsOfTheDemoDayRefuseInTheSheetCloseOnEscapeAndSaveOnReturn) {
  async::runBlocking(model->loadPreview());
  openWindow();
  ASSERT_NE(view(), nullptr);
  const std::size_t orders = model->orderIDs().size();

  // A new order: refused without an address, closed by Escape with nothing added.
  click("Заказы");
  click("Добавить");
  GtkWidget* sheet = findWindow("Новый заказ");
  ASSERT_NE(sheet, nullptr);
  EXPECT_TRUE(std::regex_match(shown(sheet, "Номер заказа"), std::regex("NEW-[0-9A-F]{8}")));
  EXPECT_EQ(shown(sheet, "Временное окно, 09:00-18:00"), "09:00-18:00");
  ASSERT_TRUE(clickButton(sheet, "Сохранить"));
  EXPECT_TRUE(showsIssue(sheet, "Заполните поле «Адрес»."));
  savePNG(sheet, "planning-order-editor-refused");
  EXPECT_TRUE(pressKey(sheet, GDK_KEY_Escape));
  EXPECT_EQ(findWindow("Новый заказ"), nullptr);
  EXPECT_EQ(model->orderIDs().size(), orders);

  // Typed coordinates, saved with Return: the order joins the plan as placed by hand.
  click("Добавить");
  sheet = findWindow("Новый заказ");
  ASSERT_NE(sheet, nullptr);
  type(sheet, "Адрес", "Москва, Тверская улица, 12");
  type(sheet, "Широта", "55,7651");
  type(sheet, "Долгота", "37.6062");
  EXPECT_TRUE(pressReturnIn(entryRow(sheet, "Долгота")));
  ASSERT_TRUE(spinUntil([&] { return model->orderIDs().size() == orders + 1; }));
  // The sheet closes once the address is remembered too.
  ASSERT_TRUE(spinUntil([&] { return findWindow("Новый заказ") == nullptr; }));
  const JSONValue added = model->planner()["orders"].at(orders);
  EXPECT_EQ(added["lat"], JSONValue(55.7651));
  EXPECT_EQ(added["source"], JSONValue("manual"));

  // An existing order given another order's number: the plan refuses, the sheet shows the refusal of this save and
  // not an older message still on the error line.
  model->setError("Старое сообщение");
  const JSONValue first = model->planner()["orders"].at(0);
  view()->editOrder(first);
  spin();
  sheet = findWindow("Изменить заказ");
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(shown(sheet, "Адрес"), first["address"].string());
  type(sheet, "Номер заказа", model->planner()["orders"].at(1)["id"].string());
  ASSERT_TRUE(clickButton(sheet, "Сохранить"));
  const std::string refusal =
      "Заказ с номером «" + model->planner()["orders"].at(1)["id"].string() + "» уже есть в плане.";
  ASSERT_TRUE(showsIssue(sheet, refusal));
  EXPECT_EQ(findLabel(sheet, "Старое сообщение"), nullptr);
  savePNG(sheet, "planning-order-editor-existing");
  EXPECT_TRUE(pressKey(sheet, GDK_KEY_Escape));
  EXPECT_EQ(findWindow("Изменить заказ"), nullptr);
  EXPECT_EQ(model->planner()["orders"].at(0), first);
  model->setError(std::nullopt);
  spin();

  // The vehicles tab: a new vehicle refused without a login, then added once however often "Сохранить" is pressed.
  click("Транспорт");
  const std::size_t vehicles = model->planner()["vehicles"].array().size();
  click("Добавить");
  sheet = findWindow("Добавить машину");
  ASSERT_NE(sheet, nullptr);
  ASSERT_TRUE(clickButton(sheet, "Сохранить"));
  EXPECT_TRUE(showsIssue(sheet, "Заполните поле «Логин курьера / код машины»."));
  // The refused field takes the focus; its title moves up in an animation that the picture waits out.
  spinFor(std::chrono::milliseconds(400));
  savePNG(sheet, "planning-vehicle-editor-refused");
  type(sheet, "Логин курьера / код машины", "sidorov");
  type(sheet, "Имя", "Сидоров");
  GtkWidget* save = findButton(sheet, "Сохранить");
  g_signal_emit_by_name(save, "clicked");
  g_signal_emit_by_name(save, "clicked");
  ASSERT_TRUE(spinUntil([&] { return findWindow("Добавить машину") == nullptr; }));
  spin();
  ASSERT_EQ(model->planner()["vehicles"].array().size(), vehicles + 1) << "added once";
  EXPECT_EQ(model->planner()["vehicles"].at(vehicles)["ref"], JSONValue("Сидоров"));
  EXPECT_NE(findLabel(page(), "Сидоров"), nullptr) << "the tab follows the plan";

  ASSERT_TRUE(clickButton(page(), "Изменить"));
  sheet = findWindow("Параметры маршрута");
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(shown(sheet, "Логин курьера / код машины"), model->planner()["vehicles"].at(0)["id"].string());
  EXPECT_TRUE(pressKey(sheet, GDK_KEY_Escape));
  EXPECT_EQ(findWindow("Параметры маршрута"), nullptr);

  // The depot: coordinates out of range are refused in the sheet; Escape leaves the plan's depot as it was.
  const JSONValue depot = model->planner()["depot"];
  click(depot["name"].string());
  sheet = findWindow("Склад в этом плане");
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(shown(sheet, "Название"), depot["name"].string());
  type(sheet, "Широта", "95");
  ASSERT_TRUE(clickButton(sheet, "Сохранить"));
  EXPECT_TRUE(showsIssue(sheet, "Координаты вне допустимого диапазона."));
  savePNG(sheet, "planning-depot-editor-refused");
  EXPECT_TRUE(pressKey(sheet, GDK_KEY_Escape));
  EXPECT_EQ(findWindow("Склад в этом плане"), nullptr);
  EXPECT_EQ(model->planner()["depot"], depot);

  // The checks: an address to review, pressed, selects its order alone on the map with its properties.
  const std::string unlocated = model->orderIDs()[2];
  ASSERT_TRUE(async::runBlocking(model->patchOrder(unlocated, JSONValue::object({{"lat", nullptr}}))));
  model->setSelectedOrders({model->orderIDs()[0], model->orderIDs()[1]});
  click("Проверка");
  EXPECT_NE(
      findLabel(page(), "Заказов с координатами: " + std::to_string(orders) + " из " + std::to_string(orders + 1)),
      nullptr);
  EXPECT_NE(findLabel(page(), model->planner()["orders"].at(2)["address"].string()), nullptr);
  savePNG(root(), "planning-check-review");
  GtkWidget* list = findWidget(page(), [](GtkWidget* w) { return GTK_IS_LIST_VIEW(w) && gtk_widget_get_mapped(w); });
  ASSERT_NE(list, nullptr);
  // The first line under "Нужна проверка адреса", after the four lines of "Готовность плана" and the two of
  // "Данные заказов".
  g_signal_emit_by_name(list, "activate", 8u);
  spin();
  EXPECT_EQ(model->selectedOrders(), std::set<std::string>{unlocated});
  EXPECT_EQ(view()->screen()->tab(), "map");
  EXPECT_TRUE(view()->screen()->inspector());
  expectNoError();
}

TEST_F(PlannerWindow, TheTransportPageEditsThePlansVehicles) {
  async::runBlocking(model->loadPreview());
  openWindow();
  model->setPage(PanelPage::transport);
  spin();
  ASSERT_NE(findLabel(root(), "Транспорт текущего планирования: смены, вместимость, геозоны и возврат на склад."),
            nullptr);
  const JSONValue first = model->planner()["vehicles"].at(0);
  EXPECT_NE(findLabel(root(), first["ref"].string()), nullptr);
  savePNG(root(), "transport");

  ASSERT_TRUE(clickButton(root(), "Изменить"));
  GtkWidget* sheet = findWindow("Параметры маршрута");
  ASSERT_NE(sheet, nullptr);
  type(sheet, "Вместимость, мест", "12,5");
  EXPECT_TRUE(pressReturnIn(entryRow(sheet, "Вместимость, мест")));
  ASSERT_TRUE(spinUntil([&] { return findWindow("Параметры маршрута") == nullptr; }));
  EXPECT_EQ(model->planner()["vehicles"].at(0)["capacity"], JSONValue(12.5));
  spin();
  EXPECT_NE(findLabel(root(), "12.5"), nullptr);

  ASSERT_TRUE(clickButton(root(), "Добавить машину"));
  EXPECT_NE(findWindow("Добавить машину"), nullptr);
  EXPECT_TRUE(pressKey(findWindow("Добавить машину"), GDK_KEY_Escape));
  expectNoError();
}

// A hand-kept book opened with Ctrl+O (the window's "open orders" command, which the application binds to it): the
// header counts every row, the status line keeps what the import found, the checks list each problem under its
// order, and pressing one opens that order's editor with the places as typed, which saving refuses until mended.
TEST_F(PlannerWindow, AHandKeptBookOpenedWithCtrlOListsItsProblemsAndEachOpensItsOrder) {
  const std::string file = folder_ + "/День.xlsx";
  writeFileAtomically(file, mistakesBook());
  dialogs->openAnswer = file;
  async::runBlocking(model->loadPreview());
  openWindow();
  ASSERT_NE(view(), nullptr);
  ASSERT_TRUE(gtk_widget_activate_action(root(), "win.open-orders", nullptr));
  ASSERT_TRUE(spinUntil([&] { return model->orderIDs().size() == 6 && !model->busy(); }));
  spin();
  EXPECT_NE(findLabel(page(), "6 заказов"), nullptr) << "every row with a value is an order";
  EXPECT_NE(findLabel(root(), model->status()), nullptr);
  EXPECT_NE(model->status().find("Требуют проверки: 4 — вкладка «Проверка»."), std::string::npos);
  click("Заказы");
  savePNG(root(), "planning-import-problems");

  click("Проверка");
  EXPECT_NE(findLabel(page(), "Загружено заказов: 6; с координатами: 4."), nullptr);
  EXPECT_NE(findLabel(page(), "Требуют проверки: 4"), nullptr);
  for (const char* problem : {"Строка 3: номер повторяется: заказов с ним — 2", "Строка 6: «Места»: «три» — не прочитано",
                              "Строка 8: нет номера заказа", "нет адреса"})
    EXPECT_NE(findLabel(page(), problem), nullptr) << problem;
  savePNG(root(), "planning-check-import");

  // The problem lines begin after the five lines of "Готовность плана", the section's title, the summary and the
  // count: the third is the places of order 1003.
  GtkWidget* list = findWidget(page(), [](GtkWidget* w) { return GTK_IS_LIST_VIEW(w) && gtk_widget_get_mapped(w); });
  ASSERT_NE(list, nullptr);
  g_signal_emit_by_name(list, "activate", 10u);
  GtkWidget* sheet = nullptr;
  ASSERT_TRUE(spinUntil([&] { return (sheet = findWindow("Изменить заказ")) != nullptr; }));
  EXPECT_EQ(shown(sheet, "Номер заказа"), "1003");
  EXPECT_EQ(shown(sheet, "Количество мест"), "три");
  ASSERT_TRUE(clickButton(sheet, "Сохранить"));
  EXPECT_TRUE(showsIssue(sheet, "«Количество мест» должно быть числом."));
  type(sheet, "Количество мест", "3");
  type(sheet, "Временное окно, 09:00-18:00", "09:00-18:00");
  ASSERT_TRUE(clickButton(sheet, "Сохранить"));
  ASSERT_TRUE(spinUntil([&] { return findWindow("Изменить заказ") == nullptr; }));
  EXPECT_EQ(findLabel(page(), "Строка 6: «Места»: «три» — не прочитано"), nullptr) << "mended: off the list";
  EXPECT_NE(findLabel(page(), "Требуют проверки: 3"), nullptr);
  expectNoError();
}
