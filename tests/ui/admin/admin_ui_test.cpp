// The data screens in the main window under a display. The demo workspace page by page: each data page loaded
// (build/screens/admin-<page>.png), the search, the readable record sheet, and the record editor of each writable
// page (admin-<page>-editor.png) whose save the demo keeps busy. Then an administrator against the stand-in server
// adds a client through the editor's own fields and buttons, and draws a zone; opens a document's details and a
// courier's files, deleting one file after the confirmation; and opens a day's route from the live page and a
// tracker's route track (admin-live-route-detail.png, admin-trackers-route-track.png), and rows without a route.
// The card over each map of the window reads in dark (map-card-dark-*.png).
#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include <functional>
#include <memory>
#include <string>

#include "admin/data_screen_view.h"
#include "admin/integrations_view.h"
#include "admin/record_editor_view.h"
#include "admin/pay_panel.h"
#include "admin/logic/payroll.h"
#include "admin/shifts_view.h"
#include "shell/screen_notice.h"
#include "core/async/task.h"
#include "core/base/dorvik_date.h"
#include "core/engine/planner_engine.h"
#include "map/map_surface.h"
#include "support/async_helpers.h"
#include "support/fake_admin.h"
#include "support/fake_monitoring.h"
#include "support/fake_shifts.h"
#include "support/stand_in_server.h"
#include "support/window_fixture.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::testing;
using namespace std::chrono_literals;
using admin::DataScreenView;
using admin::RecordEditorView;
using admin::ShiftsView;

namespace {

class AdminWindow : public WindowFixture<> {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    model->setEngine(async::runBlocking(PlannerEngine::create()));
  }

  void openWindow() { openMainWindow(); }
  DataScreenView* view() { return widgetOf<DataScreenView>(root()); }
  // Shows a page and waits for its list.
  DataScreenView* show(PanelPage page) {
    model->setPage(page);
    spin();
    DataScreenView* shown = view();
    EXPECT_NE(shown, nullptr) << rawValue(page);
    if (!shown) return nullptr;
    EXPECT_TRUE(spinUntil([&] { return !shown->controller()->loading(); }));
    spin();
    return shown;
  }
  GtkWidget* sheetOf(Sheet* sheet) { return sheet ? GTK_WIDGET(sheet->gobj()) : nullptr; }
  // The detail sheet of `page` once `ready` holds for it, settled for a screenshot; null if it never does.
  GtkWidget* detailWhen(DataScreenView* page, const std::function<bool(GtkWidget*)>& ready) {
    GtkWidget* sheet = nullptr;
    if (!spinUntil([&] { return (sheet = sheetOf(page->detailSheet())) && ready(sheet); })) return nullptr;
    spin(200ms);
    return sheet;
  }
  void signIn(AdminDesk& desk, const std::string& role) {
    model->setApi(desk.signIn(role));
    model->setUser(AdminDesk::user(role));
    model->setCache(freshCache());
  }
  // The shifts page of a logist, loaded and editable.
  ShiftsView* openShifts(AdminDesk& desk) {
    signIn(desk, "logist");
    openWindow();
    model->setPage(PanelPage::shifts);
    spin();
    auto* page = widgetOf<ShiftsView>(root());
    if (!page || !spinUntil([&] { return page->controller()->editable(); })) return nullptr;
    spin();
    return page;
  }
  // Scrolls the sheet's form to its end (the parts below the fields).
  void scrollToEnd(GtkWidget* within) {
    GtkWidget* scrolled = findWidget(within, [](GtkWidget* w) { return GTK_IS_SCROLLED_WINDOW(w); });
    ASSERT_NE(scrolled, nullptr);
    GtkAdjustment* adjustment = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scrolled));
    gtk_adjustment_set_value(adjustment, gtk_adjustment_get_upper(adjustment));
    spin();
  }
};

}  // namespace

TEST_F(AdminWindow, TheDemoDataPagesTheirSheetsAndTheEditorOfEachWritablePage) {
  async::runBlocking(model->loadPreview());
  openWindow();
  for (PanelPage page :
       {PanelPage::live, PanelPage::orders, PanelPage::trackers, PanelPage::vehicles, PanelPage::clients,
        PanelPage::addresses, PanelPage::zones, PanelPage::documents, PanelPage::companies}) {
    const std::string raw(rawValue(page));
    DataScreenView* screen = show(page);
    ASSERT_NE(screen, nullptr);
    const auto& controller = screen->controller();
    EXPECT_FALSE(controller->rows().empty()) << raw << ": the demo lists something";
    EXPECT_EQ(controller->issue(), std::nullopt) << raw;
    EXPECT_NE(findLabel(root(), controller->countText()), nullptr) << raw;
    EXPECT_NE(findLabel(root(), "Сохранённая копия"), nullptr) << raw << ": the demo is offline";
    // The day picker stands on the dated pages only.
    GtkWidget* picker = findWidget(GTK_WIDGET(screen->gobj()), [](GtkWidget* w) { return GTK_IS_MENU_BUTTON(w); });
    EXPECT_EQ(picker != nullptr && gtk_widget_get_parent(picker) != nullptr && gtk_widget_is_visible(picker) &&
                  gtk_widget_get_mapped(picker),
              admin::isDated(page))
        << raw;
    savePNG(root(), "admin-" + raw);
    EXPECT_EQ(window_->alert(), nullptr) << raw;

    if (!controller->writable()) continue;
    // The editor of the first row (documents open their details on a double click: edit through the menu).
    controller->edit({controller->filtered()[0].id()});
    spin(300ms);
    GtkWidget* sheet = sheetOf(screen->editorSheet());
    ASSERT_NE(sheet, nullptr) << raw;
    EXPECT_NE(findLabel(sheet, "Изменить · " + std::string(title(page))), nullptr) << raw;
    EXPECT_FALSE(gtk_widget_is_sensitive(findButton(sheet, "Сохранить"))) << raw << ": the demo cannot save";
    savePNG(sheet, "admin-" + raw + "-editor");
    click(sheet, "Отмена");
    spin();
    EXPECT_EQ(screen->editorSheet(), nullptr) << raw;
    EXPECT_FALSE(controller->editing()) << raw;
  }

  // Search and the readable record sheet on the clients page.
  DataScreenView* clients = show(PanelPage::clients);
  const std::size_t all = clients->controller()->rows().size();
  GtkWidget* search =
      findWidget(root(), [](GtkWidget* w) { return GTK_IS_SEARCH_ENTRY(w) && gtk_widget_is_visible(w); });
  ASSERT_NE(search, nullptr);
  gtk_editable_set_text(GTK_EDITABLE(search), "ничего такого нет");
  ASSERT_TRUE(spinUntil([&] { return clients->controller()->filtered().empty(); }));
  spin();
  EXPECT_NE(findLabel(root(), "0 записей"), nullptr);
  EXPECT_NE(findLabel(root(), "По этому запросу ничего не найдено."), nullptr);
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(root(), "Экспорт")));
  savePNG(root(), "admin-clients-empty-search");
  gtk_editable_set_text(GTK_EDITABLE(search), "");
  ASSERT_TRUE(spinUntil([&] { return clients->controller()->filtered().size() == all; }));
  const Record first = clients->controller()->filtered()[0];
  clients->controller()->open({first.id()});
  spin(300ms);
  GtkWidget* record = sheetOf(clients->detailSheet());
  ASSERT_NE(record, nullptr);
  EXPECT_NE(findLabel(record, "Библиотека"), nullptr);
  EXPECT_NE(findLabel(record, "Примечание"), nullptr);
  savePNG(record, "admin-clients-record");
  click(record, "Закрыть");
  spin();
  EXPECT_EQ(clients->detailSheet(), nullptr);
  EXPECT_FALSE(clients->controller()->detail());

  // The add sheet of a new courier shows the role picker on "Курьер" and no delete button.
  DataScreenView* couriers = show(PanelPage::vehicles);
  click(root(), "Добавить");
  spin(300ms);
  GtkWidget* added = sheetOf(couriers->editorSheet());
  ASSERT_NE(added, nullptr);
  EXPECT_NE(findLabel(added, "Добавить · Курьеры"), nullptr);
  GtkWidget* role = findWidget(added, [](GtkWidget* w) { return ADW_IS_COMBO_ROW(w); });
  ASSERT_NE(role, nullptr);
  EXPECT_EQ(adw_combo_row_get_selected(ADW_COMBO_ROW(role)), 0u);
  EXPECT_EQ(findWidget(added,
                       [](GtkWidget* w) {
                         return GTK_IS_BUTTON(w) && gtk_widget_is_visible(w) &&
                                g_strcmp0(gtk_widget_get_tooltip_text(w), "Удалить запись") == 0;
                       }),
            nullptr);
  savePNG(added, "admin-vehicles-add");
  click(added, "Отмена");

  // The demo courier's files: the empty list shows its placeholder, and nothing can be attached.
  couriers->controller()->open({couriers->controller()->filtered()[0].id()});
  GtkWidget* files = detailWhen(couriers, [](GtkWidget* sheet) {
    GtkWidget* placeholder = findWidget(sheet, [](GtkWidget* w) {
      return ADW_IS_STATUS_PAGE(w) &&
             g_strcmp0(adw_status_page_get_title(ADW_STATUS_PAGE(w)), "Файлы не прикреплены") == 0;
    });
    return placeholder && gtk_widget_is_visible(placeholder);
  });
  ASSERT_NE(files, nullptr);
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(files, "Прикрепить файл…")));
  savePNG(files, "admin-courier-files-demo");
  click(files, "Закрыть");

  // The demo's integration settings: no key set, the first lookup order shown whole, and no button to press.
  model->setPage(PanelPage::integrations);
  spin();
  auto* integrations = widgetOf<admin::IntegrationsView>(root());
  ASSERT_NE(integrations, nullptr);
  ASSERT_TRUE(spinUntil([&] { return !integrations->controller()->data().isNull(); }));
  spin();
  for (const char* line : {"Ключ DaData не задан", "Ключ карты не задан", "Ключ маршрутизации не задан"})
    EXPECT_NE(findLabel(root(), line), nullptr) << line;
  for (const char* button : {"Проверить ключ 2ГИС", "Сохранить настройки", "Очистить ключи склада"})
    EXPECT_FALSE(gtk_widget_is_sensitive(findButton(root(), button))) << button;
  GtkWidget* lookup = findWidget(root(), [](GtkWidget* w) { return ADW_IS_COMBO_ROW(w); });
  ASSERT_NE(lookup, nullptr);
  const auto shownWhole = [](GtkWidget* within) {
    GtkWidget* option = findLabel(within, "OpenStreetMap, затем DaData");
    return option && !pango_layout_is_ellipsized(gtk_label_get_layout(GTK_LABEL(option)));
  };
  EXPECT_TRUE(shownWhole(lookup));
  savePNG(root(), "admin-integrations-demo");
  gtk_widget_activate(lookup);  // its open list too
  spin(300ms);
  GtkWidget* list = findWidget(lookup, [](GtkWidget* w) { return GTK_IS_POPOVER(w); });
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(shownWhole(list));
  savePNG(list, "admin-integrations-lookup-demo");
  gtk_popover_popdown(GTK_POPOVER(list));
  EXPECT_EQ(window_->alert(), nullptr);
}

// The card a map shows over itself when its settings cannot be read, in dark, on every map of the window: the
// planner's map tab, the dashboard, the monitoring map and the zone editor (build/screens/map-card-dark-*.png).
TEST_F(AdminWindow, TheMapCardReadsInDarkOnEveryMap) {
  async::runBlocking(model->loadPreview());
  openWindow();
  ASSERT_TRUE(context_.defaults->setString("appearance", "dark"));
  model->setMapIssue(std::string("Не удалось загрузить настройки карты. Проверьте соединение."));
  auto cardReads = [&](GtkWidget* within, const std::string& name) {
    spin(300ms);
    GtkWidget* card = findWidget(within, [](GtkWidget* w) {
      return gtk_widget_has_css_class(w, "map-card") && gtk_widget_get_mapped(w);
    });
    ASSERT_NE(card, nullptr) << name;
    GtkWidget* text = findLabel(card, "Не удалось загрузить настройки карты. Проверьте соединение.");
    ASSERT_NE(text, nullptr) << name;
    graphene_rect_t bounds;
    ASSERT_TRUE(gtk_widget_compute_bounds(card, within, &bounds));
    GdkRGBA foreground;
    gtk_style_context_get_color(gtk_widget_get_style_context(text), &foreground);
    const GdkRGBA background = pixelAt(within, static_cast<int>(bounds.origin.x) + 8,
                                       static_cast<int>(bounds.origin.y + bounds.size.height / 2));
    EXPECT_GE(contrastRatio(foreground, background), 4.5) << name;
    savePNG(within, "map-card-dark-" + name);
  };
  model->setPage(PanelPage::planning);
  spin();
  click(root(), "Карта");
  cardReads(root(), "planning");
  for (PanelPage page : {PanelPage::overview, PanelPage::monitorMap}) {
    model->setPage(page);
    cardReads(root(), std::string(rawValue(page)));
  }
  DataScreenView* zones = show(PanelPage::zones);
  ASSERT_NE(zones, nullptr);
  zones->controller()->edit({zones->controller()->filtered()[0].id()});
  spin(300ms);
  GtkWidget* sheet = sheetOf(zones->editorSheet());
  ASSERT_NE(sheet, nullptr);
  scrollToEnd(sheet);
  cardReads(sheet, "zone-editor");
}

TEST_F(AdminWindow, AnAdministratorAddsAClientAndDrawsAZoneThroughTheEditor) {
  StandInServer server;
  AdminDesk desk(server);
  model->setApi(desk.signIn("admin"));
  model->setUser(AdminDesk::user("admin"));
  model->setCache(freshCache());
  openWindow();

  DataScreenView* clients = show(PanelPage::clients);
  ASSERT_NE(clients, nullptr);
  EXPECT_NE(findLabel(root(), "Пока нет записей"), nullptr);
  EXPECT_EQ(findLabel(root(), "Сохранённая копия"), nullptr);
  click(root(), "Добавить");
  spin(300ms);
  GtkWidget* sheet = sheetOf(clients->editorSheet());
  ASSERT_NE(sheet, nullptr);
  click(sheet, "Сохранить");
  EXPECT_NE(findLabel(sheet, "Заполните поле «Название»."), nullptr);
  GtkWidget* name = entryRow(sheet, "Название");
  ASSERT_NE(name, nullptr);
  gtk_editable_set_text(GTK_EDITABLE(name), "Кофейня «Зёрна»");
  gtk_editable_set_text(GTK_EDITABLE(entryRow(sheet, "Телефоны через запятую")), "+7 900, +7 901");
  click(sheet, "Добавить адрес");
  spin();
  GtkWidget* address = entryRow(sheet, "Адрес");
  ASSERT_NE(address, nullptr);
  gtk_editable_set_text(GTK_EDITABLE(address), "Москва, Тверская, 6");
  scrollToEnd(sheet);
  savePNG(sheet, "admin-clients-add");
  click(sheet, "Сохранить");
  ASSERT_TRUE(spinUntil([&] { return clients->editorSheet() == nullptr; }));
  spin();
  ASSERT_EQ(server.hits("POST", "/panel/clients"), 1u);
  JSONValue body;
  for (const Hit& hit : server.hitsOn("/panel/clients"))
    if (hit.method == "POST") body = hit.json();
  EXPECT_EQ(body["name"], JSONValue("Кофейня «Зёрна»"));
  EXPECT_EQ(body["phones"], JSONValue::array({"+7 900", "+7 901"}));
  EXPECT_EQ(body["addresses"].at(0)["address"], JSONValue("Москва, Тверская, 6"));
  EXPECT_NE(findLabel(root(), "1 записей"), nullptr);
  EXPECT_NE(findLabel(root(), "Кофейня «Зёрна»"), nullptr);
  savePNG(root(), "admin-clients-added");

  DataScreenView* zones = show(PanelPage::zones);
  click(root(), "Добавить");
  spin(300ms);
  GtkWidget* zoneSheet = sheetOf(zones->editorSheet());
  ASSERT_NE(zoneSheet, nullptr);
  auto* editor = dynamic_cast<RecordEditorView*>(Glib::wrap(
      findWidget(zoneSheet, [](GtkWidget* w) { return dynamic_cast<RecordEditorView*>(Glib::wrap(w)) != nullptr; })));
  ASSERT_NE(editor, nullptr);
  ASSERT_NE(editor->map(), nullptr);
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(zoneSheet, "Отменить точку")));
  gtk_editable_set_text(GTK_EDITABLE(entryRow(zoneSheet, "Название")), "Центр");
  // Clicks on the map reach the editor as added vertices.
  for (MapPoint point : {MapPoint{55.75, 37.60}, MapPoint{55.76, 37.64}, MapPoint{55.73, 37.63}, MapPoint{55.7, 37.7}})
    editor->controller()->onMapInteraction(MapInteraction::addVertex(point));
  spin();
  EXPECT_NE(findLabel(zoneSheet, "Вершин: 4"), nullptr);
  EXPECT_EQ(editor->map()->content().pins.size(), 4u);
  click(zoneSheet, "Отменить точку");
  EXPECT_NE(findLabel(zoneSheet, "Вершин: 3"), nullptr);
  scrollToEnd(zoneSheet);
  savePNG(zoneSheet, "admin-zones-add");
  click(zoneSheet, "Сохранить");
  ASSERT_TRUE(spinUntil([&] { return zones->editorSheet() == nullptr; }));
  EXPECT_EQ(server.hits("PUT", "/panel/zones"), 1u);
  ASSERT_EQ(desk.list("zones").size(), 1u);
  EXPECT_EQ(desk.list("zones").at(0)["points"].size(), 3u);
  EXPECT_EQ(window_->alert(), nullptr);

  // A second zone of the same name: Return on its row opens it, not the first.
  JSONValue twin = desk.list("zones").at(0);
  twin.set("color", "#2E7D32");
  desk.list("zones").mutableArray().push_back(twin);
  zones->controller()->refresh();
  ASSERT_TRUE(spinUntil([&] { return zones->controller()->rows().size() == 2u; }));
  spin();
  Gtk::ColumnView& table = zones->table().view();
  gtk_selection_model_select_item(table.get_model()->gobj(), 1, TRUE);
  g_signal_emit_by_name(table.gobj(), "activate", 1u);
  ASSERT_TRUE(spinUntil([&] { return zones->editorSheet() != nullptr; }));
  spin(300ms);
  EXPECT_EQ(std::string(gtk_editable_get_text(GTK_EDITABLE(entryRow(sheetOf(zones->editorSheet()), "Цвет #RRGGBB")))),
            "#2E7D32");
  savePNG(root(), "admin-zones-duplicate");
  zones->editorSheet()->dismiss();
}

namespace {
// A month of two couriers at a depot's rate of 2500: Иванов by routes on days 2–4 with an extra of 1500 on the 4th,
// Сидорова monthly at her own 3200 on days 1–3.
void seedMonth(ShiftsDesk& shifts, const std::string& month) {
  shifts.setDepot("Склад «Северный»", 2500);
  shifts.addCourier("k-1", "Иванов Пётр");
  shifts.addCourier("k-2", "Сидорова Анна", 3200, "monthly");
  shifts.setRouteDays("k-1", month, {2, 3, 4});
  shifts.setRouteDays("k-2", month, {1, 2, 3});
  shifts.addAdjustment("k-1", month + "-04", "extra", 1500, "выход в выходной");
}
}  // namespace

// The shifts page of a logist against the stand-in server: the month with its figures, a courier's day grid, and a
// day marked through its cell's menu (checked in the server's log). Screens: payroll-month.png, payroll-sheet.png.
TEST_F(AdminWindow, ALogistMarksAShiftOnTheShiftsPage) {
  StandInServer server;
  AdminDesk desk(server);
  ShiftsDesk shifts(server);
  const std::string month = admin::monthKey(std::chrono::system_clock::now());
  seedMonth(shifts, month);
  shifts.addCourier("k-3", "Петров Олег", std::nullopt, "official");
  shifts.setRouteDays("k-3", month, {5, 6});
  ShiftsView* page = openShifts(desk);
  ASSERT_NE(page, nullptr);
  const auto& controller = page->controller();
  EXPECT_EQ(page->table().rows().size(), 3u);
  EXPECT_NE(findLabel(root(), admin::kNoCourierText), nullptr);
  EXPECT_TRUE(page->dayButtons().empty());
  EXPECT_EQ(page->totalsText(), "Начислено: " + admin::money(3 * 2500 + 1500 + 3 * 3200 + 2 * 2500) +
                                    " ₽ | Наличными: " + admin::money(3 * 2500 + 1500 + 3 * 3200) + " ₽");
  savePNG(root(), "payroll-month");

  page->table().setSelectedIds({"k-1"});
  controller->select("k-1");
  spin();
  const std::vector<Gtk::MenuButton*> days = page->dayButtons();
  ASSERT_EQ(static_cast<int>(days.size()), controller->lastDay());
  EXPECT_TRUE(days[0]->get_parent()->get_parent()->is_sensitive());

  // Day 3 worked by routes: "Не работал" in its menu.
  ASSERT_TRUE(gtk_widget_activate_action(GTK_WIDGET(days[2]->gobj()), "shift.mark", "s", "3:off"));
  ASSERT_TRUE(spinUntil([&] { return server.hits("POST", "/panel/shifts/mark") == 1 && controller->editable(); }));
  spin();
  EXPECT_EQ(server.hitsOn("/panel/shifts/mark").back().json(),
            JSONValue::object({{"courierId", "k-1"}, {"date", month + "-03"}, {"worked", false}}));
  EXPECT_EQ(controller->selected(), std::optional<std::string>("k-1"));
  ASSERT_FALSE(page->dayButtons().empty());
  EXPECT_NE(findLabel(GTK_WIDGET(page->dayButtons()[2]->gobj()), "вручную"), nullptr);

  clickButton(root(), "1–10");  // the first ten days
  spin();
  EXPECT_EQ(page->dayButtons().size(), 10u);
  savePNG(root(), "payroll-sheet");
  window_->set_default_size(1440, 900);
  spin();
  savePNG(root(), "payroll-sheet-1440");
}

TEST_F(AdminWindow, ALogistSetsACouriersPayAndAdjustsItOnTheShiftsPage) {
  StandInServer server;
  AdminDesk desk(server);
  ShiftsDesk shifts(server);
  const std::string month = admin::monthKey(std::chrono::system_clock::now());
  seedMonth(shifts, month);
  ShiftsView* page = openShifts(desk);
  ASSERT_NE(page, nullptr);
  const auto& controller = page->controller();
  auto* pay = widgetOf<admin::PayPanel>(root());
  ASSERT_NE(pay, nullptr);
  const auto writes = [&] {
    std::vector<std::string> out;
    for (const Hit& hit : server.allHits())
      if (hit.method != "GET" && hit.path.starts_with("/panel/")) out.push_back(hit.method + " " + hit.path);
    return out;
  };
  const auto settles = [&](std::size_t count) {
    return spinUntil([&] { return writes().size() == count && controller->editable(); });
  };

  // Selecting the courier fills his pay settings: the depot's rate in the disabled field, his pay mode.
  page->table().setSelectedIds({"k-1"});
  controller->select("k-1");
  spin();
  EXPECT_FALSE(pay->ownRateSwitch().get_active());
  EXPECT_EQ(pay->rateEntry().get_text(), "2500");
  EXPECT_FALSE(pay->rateEntry().is_sensitive());
  EXPECT_EQ(pay->adjustmentTexts(), std::vector<std::string>{"4 · Доплата · 1500 ₽"});

  // His own rate, paid for the month.
  pay->ownRateSwitch().set_active(true);
  pay->rateEntry().set_text("3000");
  pay->payModePicker().set_selected(1);
  click(root(), "Сохранить");
  ASSERT_TRUE(settles(1));
  EXPECT_EQ(writes()[0], "PATCH /panel/shifts/courier/k-1");
  EXPECT_EQ(shifts.ownRate("k-1"), JSONValue(3000));
  EXPECT_EQ(shifts.payMode("k-1"), "monthly");

  // A fine typed into the add row: Return in a field sends nothing, "Добавить" does.
  pay->dayEntry().set_text("3");
  pay->kindPicker().set_selected(1);
  pay->amountEntry().set_text("700");
  pay->noteEntry().set_text("опоздание");
  pressReturnIn(GTK_WIDGET(pay->amountEntry().gobj()));
  pressReturnIn(GTK_WIDGET(pay->noteEntry().gobj()));
  spin();
  EXPECT_EQ(writes().size(), 1u);
  click(root(), "Добавить");
  ASSERT_TRUE(settles(2));
  spin();
  EXPECT_EQ(server.hitsOn("/panel/shifts/adjust").back().json(),
            JSONValue::object({{"courierId", "k-1"}, {"date", month + "-03"}, {"kind", "fine"}, {"amount", 700},
                               {"note", "опоздание"}}));
  EXPECT_EQ(pay->adjustmentTexts(), (std::vector<std::string>{"4 · Доплата · 1500 ₽", "3 · Штраф · 700 ₽"}));
  savePNG(root(), "payroll-pay");

  // At 1440 × 900 with two adjustments, at the standard text size and at «Крупный», the courier's pay settings and
  // add form are in view unscrolled, and a day beyond the month is refused beside the form before anything is
  // sent; the notice under the depot row stays for the page's own news.
  window_->set_default_size(1440, 900);
  for (const double size : {13.0, 17.0}) {
    context_.defaults->set(Settings::textSize, size);
    if (size > 13) context_.defaults->setString("appearance", "dark");
    spin();
    pay->dayEntry().set_text("32");
    click(root(), "Добавить");
    spin();
    GtkWidget* refusal = findLabel(root(), admin::kDayOrNoteMessage);
    ASSERT_NE(refusal, nullptr);
    EXPECT_EQ(writes().size(), 2u);
    GtkWidget* add = findButton(GTK_WIDGET(pay->gobj()), "Добавить");
    graphene_rect_t form, message;
    ASSERT_TRUE(gtk_widget_compute_bounds(add, root(), &form) && gtk_widget_compute_bounds(refusal, root(), &message));
    const float below = message.origin.y - (form.origin.y + form.size.height);
    EXPECT_TRUE(below >= 0 && below < 60) << below << ": the refusal stands right under the form";
    for (GtkWidget* shown : {refusal, add, GTK_WIDGET(pay->ownRateSwitch().gobj()), GTK_WIDGET(pay->dayEntry().gobj()),
                             findButton(GTK_WIDGET(pay->gobj()), "Сохранить")})
      EXPECT_TRUE(drawnWhole(shown, root())) << size << ": " << G_OBJECT_TYPE_NAME(shown);
    savePNG(root(), size > 13 ? "payroll-form-two-adjustments-dark-large" : "payroll-form-two-adjustments");
  }
  GtkWidget* notice = findWidget(root(), [](GtkWidget* w) { return dynamic_cast<ScreenNotice*>(Glib::wrap(w)); });
  ASSERT_NE(notice, nullptr);
  int lowest = 0, widest = 0;
  gtk_widget_measure(notice, GTK_ORIENTATION_VERTICAL, -1, &lowest, nullptr, nullptr, nullptr);
  gtk_widget_measure(notice, GTK_ORIENTATION_VERTICAL, 1 << 20, &widest, nullptr, nullptr, nullptr);
  EXPECT_EQ(lowest, widest) << "the notice line is as tall for any width (GTK's size check holds)";
  context_.defaults->set(Settings::textSize, 13.0);
  context_.defaults->setString("appearance", "light");
  window_->set_default_size(1280, 800);
  spin();

  // Deleting asks first: cancelled, nothing is sent; confirmed, the extra goes.
  for (const char* answer : {"cancel", "confirm"}) {
    ASSERT_EQ(pay->deleteButtons().size(), 2u);
    g_signal_emit_by_name(pay->deleteButtons()[0]->gobj(), "clicked");
    spin();
    AdwMessageDialog* question = shownConfirmation("Удалить корректировку?");
    ASSERT_NE(question, nullptr);
    adw_message_dialog_response(question, answer);
    spin();
  }
  ASSERT_TRUE(settles(3));
  spin();
  EXPECT_EQ(writes()[2], "DELETE /panel/shifts/adjust/adj-1");
  EXPECT_EQ(pay->adjustmentTexts(), std::vector<std::string>{"3 · Штраф · 700 ₽"});
}

TEST_F(AdminWindow, TheDocumentDetailsAndTheCourierFilesSheets) {
  StandInServer server;
  AdminDesk desk(server);
  signIn(desk, "admin");
  desk.list("documents") = JSONValue::array({JSONValue::object({{"id", "d-1"}, {"title", "Памятка курьеру"}})});
  desk.setDocument("d-1", JSONValue::object({{"id", "d-1"},
                                             {"body", "Перед выездом проверьте адреса, окна доставки и заряд "
                                                      "телефона. Оплату наличными принимайте только по чеку."},
                                             {"isActive", true},
                                             {"hasFile", true},
                                             {"fileName", "памятка.pdf"}}));
  const auto courier = [](const char* id, const char* name, const char* phone) {
    return JSONValue::object({{"id", id}, {"fullName", name}, {"phone", phone}});
  };
  JSONValue acked = courier("c-1", "Пётр Курьеров", "+7 900 000-00-01");
  acked.set("ackedAt", "2026-03-05 09:12");
  desk.setAcks(
      "d-1",
      JSONValue::object({{"acked", 1},
                         {"total", 2},
                         {"couriers", JSONValue::array({acked, courier("c-2", "Ян Доставкин", "+7 900 000-00-02")})}}));
  JSONValue withLogin = courier("c-1", "Пётр Курьеров", "+7 900 000-00-01");
  withLogin.set("login", "petr");
  withLogin.set("role", "courier");
  // Two staff accounts whose logins are also role codes: the table shows the logins as they are.
  JSONValue administrator = courier("u-1", "Анна Админова", "+7 900 000-00-03");
  administrator.set("login", "admin");
  administrator.set("role", "admin");
  JSONValue logist = courier("u-2", "Лев Логистов", "+7 900 000-00-04");
  logist.set("login", "logist");
  logist.set("role", "logist");
  desk.list("couriers") = JSONValue::array({withLogin, administrator, logist});
  desk.courierFiles("c-1") = JSONArray{
      JSONValue::object({{"id", "cf-1"},
                         {"name", "Договор подряда.pdf"},
                         {"note", "Подписан 1 марта"},
                         {"bytes", 183500},
                         {"createdAt", "2026-03-01 12:30"},
                         {"data", "x"}}),
      JSONValue::object({{"id", "cf-2"}, {"name", "Паспорт.jpg"}, {"bytes", 1023}, {"createdAt", "2026-03-02 08:05"}}),
  };
  openWindow();

  DataScreenView* documents = show(PanelPage::documents);
  ASSERT_NE(documents, nullptr);
  documents->controller()->open({"d-1"});
  GtkWidget* details = detailWhen(documents, [](GtkWidget* sheet) {
    return findLabel(sheet, "1 из 2") && findLabel(sheet, "Ещё нет") && findLabel(sheet, "2026-03-05 09:12");
  });
  ASSERT_NE(details, nullptr);
  GtkWidget* attachment = findButton(details, "Сохранить вложение · памятка.pdf");
  ASSERT_NE(attachment, nullptr);
  EXPECT_TRUE(gtk_widget_is_sensitive(attachment));
  savePNG(details, "admin-document-details");
  EXPECT_TRUE(pressKey(details, GDK_KEY_Escape));
  ASSERT_TRUE(spinUntil([&] { return documents->detailSheet() == nullptr; }));

  DataScreenView* couriers = show(PanelPage::vehicles);
  ASSERT_NE(couriers, nullptr);
  for (const char* cell : {"admin", "logist", "Администратор", "Логист", "Курьер"})
    EXPECT_NE(findLabel(GTK_WIDGET(couriers->gobj()), cell), nullptr) << cell;
  savePNG(root(), "admin-couriers-logins");
  couriers->controller()->open({"c-1"});
  GtkWidget* files = detailWhen(couriers, [](GtkWidget* sheet) {
    return findLabel(sheet, "Договор подряда.pdf") && findLabel(sheet, "petr · +7 900 000-00-01") &&
           findLabel(sheet, "179 КБ · 2026-03-01 12:30") && findLabel(sheet, "0 КБ · 2026-03-02 08:05");
  });
  ASSERT_NE(files, nullptr);
  EXPECT_TRUE(gtk_widget_is_sensitive(findButton(files, "Прикрепить файл…")));
  savePNG(files, "admin-courier-files");

  // Deleting asks first; the confirmed deletion reaches the server and the list follows.
  click(files, "Удалить");
  AdwMessageDialog* question = shownConfirmation("Удалить файл курьера?");
  ASSERT_NE(question, nullptr);
  adw_message_dialog_response(question, "confirm");
  ASSERT_TRUE(spinUntil([&] { return findLabel(files, "Договор подряда.pdf") == nullptr; }));
  EXPECT_EQ(server.hits("DELETE", "/admin/courier-files/cf-1"), 1u);
  EXPECT_EQ(desk.courierFiles("c-1").size(), 1u);
  click(files, "Закрыть");
  EXPECT_EQ(couriers->detailSheet(), nullptr);
  EXPECT_EQ(window_->alert(), nullptr);
}

// Long texts: a file comment of 2,000 characters is cut to a few lines and its row keeps its buttons on the sheet;
// a note of 3,000 characters scrolls inside its field and the editor keeps its height. Screens:
// admin-long-file-comment.png, admin-long-note-editor.png.
TEST_F(AdminWindow, LongTextsAreCutInListsAndScrollInEditors) {
  StandInServer server;
  AdminDesk desk(server);
  signIn(desk, "admin");
  // 2,000 and more letters, a long address of the scanned copy among them.
  std::string comment = "Скан: https://files.example/" + std::string(160, 'x') + " ";
  while (comment.size() < 4000) comment += "Договор продлён до конца года, копия у бухгалтера; ";
  std::string note;
  while (note.size() < 6000) note += "Въезд со двора через шлагбаум, звонить за десять минут. ";
  desk.list("couriers") =
      JSONValue::array({JSONValue::object({{"id", "c-1"}, {"fullName", "Пётр Курьеров"}, {"login", "petr"}})});
  desk.courierFiles("c-1") = JSONArray{JSONValue::object(
      {{"id", "cf-1"}, {"name", "Договор.pdf"}, {"note", comment}, {"bytes", 2048}, {"createdAt", "2026-03-01"}})};
  desk.list("clients") = JSONValue::array({JSONValue::object({{"id", "k-1"}, {"name", "Зёрна"}, {"note", note}})});
  openWindow();

  DataScreenView* couriers = show(PanelPage::vehicles);
  ASSERT_NE(couriers, nullptr);
  couriers->controller()->open({"c-1"});
  GtkWidget* files = detailWhen(couriers, [](GtkWidget* sheet) { return findLabel(sheet, "Договор.pdf"); });
  ASSERT_NE(files, nullptr);
  const int sheetWidth = gtk_widget_get_width(files);
  for (const char* title : {"Сохранить…", "Удалить"}) {
    graphene_rect_t bounds;
    ASSERT_TRUE(gtk_widget_compute_bounds(findButton(files, title), files, &bounds)) << title;
    EXPECT_LE(bounds.origin.x + bounds.size.width, sheetWidth) << title << ": on the sheet";
  }
  GtkWidget* cut = findLabel(files, comment);
  ASSERT_NE(cut, nullptr);
  EXPECT_LT(gtk_widget_get_height(cut), 80) << "a few lines";
  EXPECT_EQ(gtk_widget_get_width(files), 720);
  savePNG(files, "admin-long-file-comment");
  files = nullptr;
  couriers->detailSheet()->dismiss();
  ASSERT_TRUE(spinUntil([&] { return couriers->detailSheet() == nullptr; }));

  DataScreenView* clients = show(PanelPage::clients);
  ASSERT_NE(clients, nullptr);
  clients->controller()->edit({"k-1"});
  ASSERT_TRUE(spinUntil([&] { return clients->editorSheet() != nullptr; }));
  spin(300ms);
  GtkWidget* editor = sheetOf(clients->editorSheet());
  GtkWidget* field = findWidget(editor, [](GtkWidget* w) { return GTK_IS_TEXT_VIEW(w); });
  ASSERT_NE(field, nullptr);
  GtkWidget* scroll = gtk_widget_get_ancestor(field, GTK_TYPE_SCROLLED_WINDOW);
  ASSERT_NE(scroll, nullptr);
  EXPECT_LE(gtk_widget_get_height(scroll), 210) << "the note scrolls inside its field";
  EXPECT_LE(gtk_widget_get_height(editor), 710) << "the editor keeps its height";
  savePNG(editor, "admin-long-note-editor");
}

TEST_F(AdminWindow, ALiveRowOpensItsRouteAndATrackerRowItsTrack) {
  StandInServer server;
  AdminDesk desk(server);
  MonitoringDesk routes(server);  // serves the day's routes, each route and its track
  signIn(desk, "admin");
  auto point = [](const char* id, const char* address, double lat, const char* client) {
    return JSONValue::object(
        {{"pointId", id},
         {"address", address},
         {"status", "pending"},
         {"plannedArrival", "10:30"},
         {"coordinates", JSONValue::object({{"lat", lat}, {"lon", 37.62}})},
         {"orders", JSONValue::array({JSONValue::object({{"orderId", id}, {"client", client}})})}});
  };
  routes.seedRoute("2026-09-22",
                   JSONValue::object({{"routeId", "R-7/ю"},
                                      {"externalRouteId", "Север · утро"},
                                      {"status", "in_progress"},
                                      {"courier", JSONValue::object({{"name", "Пётр Курьеров"}})},
                                      {"points", JSONValue::array({point("P1", "ул. Лесная, 5", 55.75, "Аптека"),
                                                                   point("P2", "пр. Мира, 12", 55.78, "Кофейня")})}}));
  routes.seedRoute("2026-09-22",
                   JSONValue::object({{"routeId", "7"},
                                      {"externalRouteId", "Юг"},
                                      {"points", JSONValue::array({point("P3", "ул. Садовая, 1", 55.70, "Склад"),
                                                                   point("P4", "ул. Речная, 3", 55.71, "Офис"),
                                                                   point("P5", "ул. Полевая, 9", 55.72, "Кафе")})}}));
  // The first tracker names its route by a number; the second has no route, nor has the order.
  desk.setDayList("trackers", "2026-09-22",
                  JSONValue::array({JSONValue::object({{"courierId", "c-1"},
                                                       {"courier", JSONValue::object({{"name", "Ян Доставкин"}})},
                                                       {"routeId", 7},
                                                       {"pingCount", 3}}),
                                    JSONValue::object({{"courierId", "c-2"}, {"pingCount", 0}})}));
  desk.setDayList("orders", "2026-09-22", JSONValue::array({JSONValue::object({{"orderId", "o-1"}})}));
  openWindow();
  // A page on the day, with its rows loaded.
  const auto showDay = [&](PanelPage page, std::size_t rows) {
    DataScreenView* shown = show(page);
    if (!shown) return shown;
    shown->controller()->setDate(DorvikDate::parse("2026-09-22") + 12h);
    return spinUntil([&] { return shown->controller()->rows().size() == rows; }) ? shown : nullptr;
  };

  DataScreenView* live = showDay(PanelPage::live, 2);
  ASSERT_NE(live, nullptr);
  live->controller()->activate({"R-7/ю"});
  GtkWidget* detail = detailWhen(live, [](GtkWidget* sheet) {
    return findLabel(sheet, "Север · утро") && findLabel(sheet, "пр. Мира, 12") && findLabel(sheet, "ул. Лесная, 5") &&
           findLabel(sheet, "Пётр Курьеров");
  });
  ASSERT_NE(detail, nullptr);
  EXPECT_EQ(server.hits("GET", "/monitoring/routes/R-7/ю"), 1u);
  EXPECT_EQ(imagesWithoutIcon(detail), std::vector<std::string>{});
  savePNG(detail, "admin-live-route-detail");
  click(detail, "Закрыть");
  ASSERT_TRUE(spinUntil([&] { return live->detailSheet() == nullptr; }));

  DataScreenView* trackers = showDay(PanelPage::trackers, 2);
  ASSERT_NE(trackers, nullptr);
  trackers->controller()->activate({"7"});  // the row is known by its route
  GtkWidget* track = detailWhen(trackers, [](GtkWidget* sheet) {
    GtkWidget* play = findButton(sheet, "Воспроизвести");  // loaded, not playing
    return play && gtk_widget_is_sensitive(play) && findLabel(sheet, "10:14") &&
           findLabel(sheet, "3 GPS-сигналов · 1 отметок курьера. Это записанный путь, а не текущее положение.");
  });
  ASSERT_NE(track, nullptr);
  EXPECT_EQ(server.hits("GET", "/monitoring/routes/7/track"), 1u);
  savePNG(track, "admin-trackers-route-track");
  EXPECT_TRUE(pressKey(track, GDK_KEY_Escape));
  ASSERT_TRUE(spinUntil([&] { return trackers->detailSheet() == nullptr; }));

  // Without a route the sheets open, say so, and neither ask the server nor offer its operations.
  auto routeHits = [&] {
    std::size_t n = 0;
    for (const Hit& hit : server.allHits()) n += hit.path.starts_with("/monitoring/routes/");
    return n;
  };
  const std::size_t before = routeHits();
  const auto noRoute = [](GtkWidget* sheet) { return findLabel(sheet, "У записи нет маршрута.") != nullptr; };
  trackers->controller()->activate({"c-2"});
  ASSERT_NE(track = detailWhen(trackers, noRoute), nullptr);
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(track, "Воспроизвести")));
  click(track, "Закрыть");
  DataScreenView* orders = showDay(PanelPage::orders, 1);
  ASSERT_NE(orders, nullptr);
  orders->controller()->activate({orders->controller()->rows()[0].id()});
  ASSERT_NE(detail = detailWhen(orders, noRoute), nullptr);
  for (const char* button : {"Завершить маршрут", "Фото"})
    EXPECT_FALSE(gtk_widget_is_sensitive(findButton(detail, button))) << button;
  EXPECT_EQ(routeHits(), before);
  click(detail, "Закрыть");
  EXPECT_EQ(window_->alert(), nullptr);
}
