// The planner page in the main window over the real model and planner components: the demo day tab by tab (a PNG
// of each in build/screens/), the order selection mirrored both ways, the context menu's assignment and deletion;
// and a working day driven through the page's own buttons against the stand-in server: a workbook opened, its
// addresses found by the server's geocoder, the routes calculated.
#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include <filesystem>
#include <memory>
#include <string>

#include "core/async/task.h"
#include "core/base/base64.h"
#include "core/base/dorvik_date.h"
#include "core/engine/planner_engine.h"
#include "model/file_dialogs.h"
#include "model/workbook_files.h"
#include "planning/order_table_view.h"
#include "planning/planner_view.h"
#include "shell/application.h"
#include "shell/root_window.h"
#include "support/async_helpers.h"
#include "support/stand_in_server.h"
#include "support/ui_helpers.h"
#include "support/workspace_helpers.h"
#include "ui/planning/planner_window.h"

using namespace dorvik;
using namespace dorvik::testing;
using namespace std::chrono_literals;
using planning::OrderTableView;
using planning::PlannerView;

TEST_F(PlannerWindow, TheDemoDayTabByTabWithTheSelectionMirroredAndTheContextMenusChanges) {
  async::runBlocking(model->loadPreview());
  openWindow();
  ASSERT_NE(view(), nullptr);
  EXPECT_NE(findLabel(page(), "Пример · локальные данные"), nullptr);
  EXPECT_NE(findLabel(page(), "5 заказов"), nullptr);
  EXPECT_NE(findLabel(page(), "Склад"), nullptr);
  // The demo is calculated but sends nothing and refines nothing.
  EXPECT_TRUE(gtk_widget_is_sensitive(button("Рассчитать")));
  EXPECT_FALSE(gtk_widget_is_sensitive(button("Отправить курьерам")));
  EXPECT_FALSE(gtk_widget_is_sensitive(button("По дорогам")));

  for (const auto& [title, key] : std::vector<std::pair<std::string, std::string>>{{"Карта", "map"},
                                                                                   {"Заказы", "orders"},
                                                                                   {"Транспорт", "vehicles"},
                                                                                   {"Маршруты", "routes"},
                                                                                   {"Окна", "windows"},
                                                                                   {"Проверка", "check"}}) {
    click(title);
    spin(250ms);
    EXPECT_EQ(view()->screen()->tab(), key);
    EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button(title)))) << title;
    // The search row belongs to the orders tab.
    EXPECT_EQ(
        findWidget(page(), [](GtkWidget* w) { return GTK_IS_SEARCH_ENTRY(w) && gtk_widget_is_visible(w); }) != nullptr,
        key == "orders")
        << title;
    savePNG(root(), "planning-" + key);
  }
  click("Заказы");
  OrderTableView* orders = view()->orderTable();
  ASSERT_NE(orders, nullptr);
  auto selection = orders->table().view().get_model();
  ASSERT_EQ(g_list_model_get_n_items(G_LIST_MODEL(selection->gobj())), 5u);
  const std::vector<std::string> ids = model->orderIDs();

  // The user's choice reaches the model; the model's choice shows in the table, without coming back.
  selection->select_item(0, true);
  EXPECT_EQ(model->selectedOrders(), std::set<std::string>{ids[0]});
  model->setSelectedOrders({ids[1], ids[2]});
  spin();
  EXPECT_FALSE(selection->is_selected(0));
  EXPECT_TRUE(selection->is_selected(1));
  EXPECT_TRUE(selection->is_selected(2));
  EXPECT_EQ(model->selectedOrders(), (std::set<std::string>{ids[1], ids[2]}));

  click("Свойства");
  EXPECT_NE(findLabel(page(), "Свойства заказа"), nullptr);
  savePNG(root(), "planning-orders-properties");
  context_.defaults->setString("appearance", "dark");
  spin(250ms);
  savePNG(root(), "planning-orders-properties-dark");
  context_.defaults->setString("appearance", "light");
  GtkWidget* close = findWidget(page(), [](GtkWidget* w) {
    return GTK_IS_BUTTON(w) && g_strcmp0(gtk_widget_get_tooltip_text(w), "Закрыть свойства заказа") == 0;
  });
  ASSERT_NE(close, nullptr);
  g_signal_emit_by_name(close, "clicked");
  spin();
  EXPECT_EQ(findLabel(page(), "Свойства заказа"), nullptr) << "the pane's own close button";

  // The search narrows the rows (the selection stays) and shows the empty state when nothing matches.
  auto* search = dynamic_cast<Gtk::SearchEntry*>(
      Glib::wrap(findWidget(page(), [](GtkWidget* w) { return GTK_IS_SEARCH_ENTRY(w); })));
  ASSERT_NE(search, nullptr);
  search->set_text("ТВЕРСКАЯ");
  spin();
  EXPECT_EQ(g_list_model_get_n_items(G_LIST_MODEL(selection->gobj())), 1u);
  EXPECT_EQ(findLabel(page(), "Добавьте заказы"), nullptr);
  search->set_text("Нет такого адреса");
  spin();
  EXPECT_NE(findLabel(page(), "Добавьте заказы"), nullptr);
  savePNG(root(), "planning-orders-empty-search");
  search->set_text("");
  spin();
  EXPECT_EQ(g_list_model_get_n_items(G_LIST_MODEL(selection->gobj())), 5u);
  EXPECT_TRUE(selection->is_selected(1));

  // A right click on an unselected row acts on that row alone: it moves to the second courier.
  GtkWidget* cell = findLabel(GTK_WIDGET(orders->table().gobj()), model->planner()["orders"].at(4)["id"].string());
  ASSERT_NE(cell, nullptr);
  graphene_point_t at;
  const graphene_point_t centre = GRAPHENE_POINT_INIT(4, 4);
  ASSERT_TRUE(gtk_widget_compute_point(cell, GTK_WIDGET(orders->table().gobj()), &centre, &at));
  EXPECT_EQ(orders->openMenu(at.x, at.y), std::set<std::string>{ids[4]});
  auto actions = orders->menuActions();
  EXPECT_TRUE(actions->has_action("edit"));
  EXPECT_TRUE(actions->get_action_enabled("delete"));
  EXPECT_TRUE(actions->get_action_enabled("assign"));
  const std::string before = model->planner()["orders"].at(4)["_drv"].string();
  const std::string target = before == "Ведил" ? "Тарен" : "Ведил";
  const gint64 vehicle = target == "Тарен" ? 0 : 1;
  orders->menu().popdown();
  actions->activate_action("assign", Glib::Variant<gint64>::create(vehicle));
  ASSERT_TRUE(spinUntil([&] { return model->planner()["orders"].at(4)["_drv"].string() == target; }));
  spin();
  EXPECT_NE(findLabel(GTK_WIDGET(orders->table().gobj()), target), nullptr);

  // A right click outside the rows: nothing to delete.
  EXPECT_TRUE(orders->openMenu(10, orders->table().get_height() - 5).empty());
  EXPECT_FALSE(actions->has_action("edit"));
  EXPECT_FALSE(actions->get_action_enabled("delete"));
  orders->menu().popdown();

  // Deleting the selection: confirmed, snapshot first, the selection cleared.
  ASSERT_NE(findLabel(GTK_WIDGET(orders->table().gobj()), model->planner()["orders"].at(1)["id"].string()), nullptr);
  GtkWidget* selectedCell =
      findLabel(GTK_WIDGET(orders->table().gobj()), model->planner()["orders"].at(1)["id"].string());
  ASSERT_TRUE(gtk_widget_compute_point(selectedCell, GTK_WIDGET(orders->table().gobj()), &centre, &at));
  EXPECT_EQ(orders->openMenu(at.x, at.y), (std::set<std::string>{ids[1], ids[2]}));
  orders->menu().popdown();
  actions->activate_action("delete");
  spin();
  AdwMessageDialog* confirmation = shownConfirmation("Удалить выбранные заказы из планирования?");
  ASSERT_NE(confirmation, nullptr);
  adw_message_dialog_response(confirmation, "confirm");
  ASSERT_TRUE(spinUntil([&] { return model->orderIDs().size() == 3; }));
  ASSERT_TRUE(spinUntil([&] { return model->selectedOrders().empty(); }));
  EXPECT_EQ(model->history().front()["title"].string(), "Перед удалением заказов");
  spin();
  EXPECT_EQ(g_list_model_get_n_items(G_LIST_MODEL(selection->gobj())), 3u);
  EXPECT_NE(findLabel(page(), "3 заказов"), nullptr);
  expectNoError();

  // At 1440×900, and at the largest text, the columns share the page: none runs past it, names are not cut short.
  JSONValue plan = model->planner();
  JSONArray& named = plan.mutableObject()["orders"].mutableArray();
  named[0].set("title", "ООО «Кофейня на Тверской»");
  named[0].set("_drv", "Газель 05 (Константин)");
  named[1].set("address", "Москва, улица Петровка, 12, строение 3, подъезд 2, вход со двора");
  model->setPlanner(plan);
  window_->set_default_size(1440, 900);
  for (const auto& [size, name] : {std::pair{13.0, "planning-orders-1440"}, std::pair{17.0, "planning-orders-large"}}) {
    context_.defaults->set(Settings::textSize, size);
    spin(400ms);
    Gtk::ColumnView& columns = orders->table().view();
    EXPECT_LE(columns.get_width(), orders->table().get_width()) << name;
    savePNG(root(), name);
  }
  context_.defaults->set(Settings::textSize, 13.0);
  // The titles sort nothing, so they do not light up under the pointer.
  GtkWidget* title = gtk_widget_get_parent(findLabel(GTK_WIDGET(orders->table().gobj()), "Клиент"));
  const auto titleColor = [&] {
    GdkRGBA color;
    gtk_style_context_get_color(gtk_widget_get_style_context(title), &color);
    return color.alpha;
  };
  const float resting = titleColor();
  gtk_widget_set_state_flags(gtk_widget_get_parent(title), GTK_STATE_FLAG_PRELIGHT, false);
  EXPECT_FLOAT_EQ(titleColor(), resting);
}

TEST_F(PlannerWindow, AWorkingDayThroughThePagesButtons) {
  StandInServer server;
  model->setApi(signedInClient(server));
  model->setUser(JSONValue::object({{"id", "u1"}, {"fullName", "Анна Логист"}, {"role", "logist"}}));
  model->setCache(freshCache());
  model->setDate(DorvikDate::parse("2026-10-06") + 12h);
  scriptAddressUpload(server);
  // House n of the street lies at (55.7 + n/1000, 37.6 + n/1000); each answer takes a moment.
  server.on("POST", "/geo/clean", [](const Hit& hit) {
    const std::string query = hit.json()["query"].string();
    const std::string prefix = "Москва, Учебная улица, ";
    if (query.rfind(prefix, 0) != 0)
      return Answer::json(JSONValue::object({{"found", nullptr}, {"provider", "dadata"}}));
    const int n = std::stoi(query.substr(prefix.size()));
    JSONValue found = JSONValue::object(
        {{"lat", 55.7 + n / 1000.0}, {"lon", 37.6 + n / 1000.0}, {"value", "г " + query}, {"qc", "0"}});
    return Answer::json(JSONValue::object({{"found", found}, {"provider", "dadata"}})).delayed(150ms);
  });
  // Yesterday's vehicles and depot stay for the new workbook.
  ASSERT_TRUE(async::runBlocking(model->mutate(
      "load", JSONValue::object(
                  {{"routeDate", "2026-10-06"},
                   {"depot", JSONValue::object(
                                 {{"name", "Склад Юг"}, {"lat", 55.70}, {"lon", 37.60}, {"window", "08:00-20:00"}})},
                   {"vehicles",
                    JSONValue::array({JSONValue::object(
                        {{"id", "V1"}, {"ref", "Тарен"}, {"shift", "09:00-18:00"}, {"use", true}, {"capacity", 50}})})},
                   {"orders", JSONArray{}}}))));

  // The workbook: three orders without coordinates.
  JSONArray rows{JSONValue::array({"Номер заказа", "Клиент", "Адрес", "Временное окно"})};
  for (int n = 1; n <= 3; ++n)
    rows.push_back(JSONValue::array({"Z-" + std::to_string(n), "Клиент " + std::to_string(n),
                                     "Москва, Учебная улица, " + std::to_string(n), "09:00-18:00"}));
  JSONValue book = async::runBlocking(model->engine()->run(
      "sheet",
      JSONValue::object({{"rows", JSONValue(std::move(rows))}, {"name", "Заказы"}, {"fileName", "Вторник.xlsx"}})));
  const std::string file = folder_ + "/Вторник.xlsx";
  writeFileAtomically(file, decodeBase64(book["base64"].stringView()).value());
  dialogs->openAnswer = file;

  openWindow();
  ASSERT_NE(view(), nullptr);
  EXPECT_NE(findLabel(page(), "Склад Юг"), nullptr);
  EXPECT_FALSE(gtk_widget_is_sensitive(button("Геокодирование"))) << "no orders yet";

  click("Открыть Excel");
  ASSERT_TRUE(spinUntil([&] { return model->orderIDs().size() == 3 && !model->busy(); }));
  spin();
  EXPECT_NE(findLabel(page(), "Вторник.xlsx"), nullptr);
  EXPECT_NE(findLabel(page(), "Уточнить: 3"), nullptr);
  EXPECT_FALSE(gtk_widget_is_sensitive(button("Отправить курьерам"))) << "not calculated";

  click("Геокодирование");
  ASSERT_TRUE(spinUntil([&] { return model->geocoding(); }));
  spin();
  GtkWidget* busyGeocode = button("Геокодирование…");
  ASSERT_NE(busyGeocode, nullptr);
  EXPECT_FALSE(gtk_widget_is_sensitive(busyGeocode));
  EXPECT_FALSE(gtk_widget_is_sensitive(button("Рассчитать")));
  EXPECT_NE(button("Остановить"), nullptr);
  savePNG(root(), "planning-geocoding");
  ASSERT_TRUE(spinUntil([&] { return !model->geocoding(); }, 20s));
  spin();
  EXPECT_EQ(button("Остановить"), nullptr) << "the bar goes with the search";
  EXPECT_EQ(server.hits("POST", "/geo/clean"), 3u);
  EXPECT_EQ(model->missingCoordinates(), 0);
  EXPECT_EQ(findLabel(page(), "Уточнить: 3"), nullptr);

  click("Рассчитать");
  ASSERT_TRUE(spinUntil([&] { return !model->busy() && model->planner()["planned"].boolValue(); }, 20s));
  spin();
  EXPECT_EQ(model->routes().size(), 1u);
  EXPECT_NE(findLabel(page(), "1 маршрутов"), nullptr);
  EXPECT_EQ(model->history().front()["title"].string(), "Расчёт маршрутов");
  EXPECT_TRUE(gtk_widget_is_sensitive(button("Отправить курьерам")));
  EXPECT_TRUE(gtk_widget_is_sensitive(button("По дорогам")));
  click("Заказы");
  EXPECT_NE(findLabel(page(), "Тарен"), nullptr) << "the courier column after the calculation";
  savePNG(root(), "planning-calculated");
  expectNoError();
}
