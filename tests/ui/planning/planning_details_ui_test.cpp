// The planner screen's map, routes, windows and inspector under a display, over the demo day and the real planner
// component: what each tab shows (PNGs in build/screens/), a correction taken back and redone through the window's
// undo keys while a focused text field keeps its own, a stop dragged and reassigned through the routes tab; and the
// road refinement sheet against the stand-in server, from "По дорогам" to its closing.
#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include <string>

#include "core/async/task.h"
#include "core/engine/planner_engine.h"
#include "model/planning/planning_fixture.h"
#include "planning/planner_map_view.h"
#include "planning/planner_view.h"
#include "planning/planning_routes_view.h"
#include "shell/sheet.h"
#include "shell/window_undo.h"
#include "support/async_helpers.h"
#include "support/fake_planning.h"
#include "support/stand_in_server.h"
#include "support/window_fixture.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::testing;
using namespace std::chrono_literals;
using planning::PlannerMapView;
using planning::PlannerView;
using planning::PlanningMapMode;
using planning::PlanningRoutesView;

namespace {

Sheet* shownSheet() {
  GtkWidget* found = findShownWindow([](GtkWidget* window) { return dynamic_cast<Sheet*>(Glib::wrap(window)); });
  return found ? dynamic_cast<Sheet*>(Glib::wrap(found)) : nullptr;
}

class PlanningDetailsWindow : public WindowFixture<> {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    model->setEngine(async::runBlocking(PlannerEngine::create()));
  }
  void openWindow() { openMainWindow(1400, 860); }
  GtkWidget* page() { return GTK_WIDGET(widgetOf<PlannerView>(root())->gobj()); }
  void click(const std::string& text) {
    ASSERT_TRUE(clickButton(page(), text)) << text;
    spin(200ms);
  }
  MapPoint pointOf(const std::string& id) {
    for (const JSONValue& order : model->planner()["orders"].array()) {
      if (order["_nativeID"].string() == id) return MapPoint::from(order).value_or(MapPoint{});
    }
    return {};
  }
};

}  // namespace

TEST_F(PlanningDetailsWindow, TheDemoDayOnTheMapRoutesWindowsAndInspectorTabs) {
  async::runBlocking(model->loadPreview());
  openWindow();
  const std::vector<std::string> ids = model->orderIDs();
  ASSERT_EQ(ids.size(), 5u);

  // The map: without a signed-in workspace the surface says why there is no map.
  click("Карта");
  auto* map = widgetOf<PlannerMapView>(page());
  ASSERT_NE(map, nullptr);
  GtkWidget* mapRoot = GTK_WIDGET(map->gobj());
  EXPECT_NE(findLabel(mapRoot, "Карта 2ГИС"), nullptr);
  EXPECT_NE(findLabel(mapRoot, "2ГИС · Линии показывают порядок остановок"), nullptr);
  EXPECT_EQ(findLabel(mapRoot, "Ctrl+Z — отменить исправление"), nullptr);
  EXPECT_EQ(map->surface().content().pins.size(), 6u) << "five orders and the depot";
  savePNG(root(), "planning-map-unavailable");

  // Transfer mode: the bar follows the selection.
  map->map()->setMode(PlanningMapMode::transfer);
  spin();
  EXPECT_NE(findLabel(mapRoot, "Выбрано: 0"), nullptr);
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(mapRoot, "Снять выбор")));
  EXPECT_FALSE(map->actions()->get_action_enabled("assign"));
  model->setSelectedOrders({ids[0], ids[2]});
  spin();
  EXPECT_NE(findLabel(mapRoot, "Выбрано: 2"), nullptr);
  EXPECT_TRUE(map->actions()->get_action_enabled("assign"));
  EXPECT_TRUE(gtk_widget_is_sensitive(findButton(mapRoot, "Снять выбор")));
  EXPECT_TRUE(map->surface().content().pins[2].selected);
  savePNG(root(), "planning-map-transfer");
  ASSERT_TRUE(clickButton(mapRoot, "Снять выбор"));
  EXPECT_TRUE(model->selectedOrders().empty());

  // A correction from the map, taken back and redone by the window's keys.
  map->map()->setMode(PlanningMapMode::coordinates);
  spin();
  EXPECT_NE(findLabel(mapRoot, "Ctrl+Z — отменить исправление"), nullptr);
  EXPECT_TRUE(map->surface().content().editing);
  const MapPoint before = pointOf(ids[1]);
  const MapPoint target{before.lat + 0.001, before.lon - 0.002};
  map->map()->interact(MapInteraction::move(ids[1], target), windowUndoStack(*map));
  ASSERT_TRUE(spinUntil([&] { return pointOf(ids[1]) == target && windowUndoStack(*map)->canUndo(); }));
  EXPECT_EQ(model->selectedOrders(), std::set<std::string>{ids[1]});
  EXPECT_EQ(windowUndoStack(*map)->undoName(), "Изменение координат");

  // A text field with the focus keeps Ctrl+Z for its own typing.
  click("Заказы");
  auto* search = dynamic_cast<Gtk::SearchEntry*>(
      Glib::wrap(findWidget(page(), [](GtkWidget* w) { return GTK_IS_SEARCH_ENTRY(w); })));
  ASSERT_NE(search, nullptr);
  search->grab_focus();
  spin();
  EXPECT_FALSE(windowUndoKey(*window_, false));
  EXPECT_EQ(pointOf(ids[1]), target);
  window_->unset_focus();
  click("Карта");
  ASSERT_TRUE(windowUndoKey(*window_, false));
  ASSERT_TRUE(spinUntil([&] { return pointOf(ids[1]) == before; }));
  ASSERT_TRUE(windowUndoKey(*window_, true));
  ASSERT_TRUE(spinUntil([&] { return pointOf(ids[1]) == target; }));
  EXPECT_EQ(model->error(), std::nullopt);

  // The inspector shows the first selected order of the plan.
  model->setSelectedOrders({ids[3], ids[1]});
  click("Свойства");
  const JSONValue shown = model->planner()["orders"].at(1);
  EXPECT_NE(findLabel(page(), shown["title"].string()), nullptr);
  EXPECT_NE(findLabel(page(), "Исправлено вручную"), nullptr);
  EXPECT_TRUE(gtk_widget_is_sensitive(findButton(page(), "Найти адрес")));
  savePNG(root(), "planning-inspector");
  click("Свойства");

  // Routes: nothing highlighted at first, the first route shown; a drag of the last stop to the top reorders it.
  click("Маршруты");
  auto* routes = widgetOf<PlanningRoutesView>(page());
  ASSERT_NE(routes, nullptr);
  EXPECT_EQ(routes->routeList().get_selected_row(), nullptr);
  EXPECT_NE(findLabel(GTK_WIDGET(routes->gobj()), "Смена: 09:00-18:00"), nullptr);
  savePNG(root(), "planning-routes-view");
  context_.defaults->setString("appearance", "dark");
  spin(250ms);
  savePNG(root(), "planning-routes-view-dark");
  context_.defaults->setString("appearance", "light");
  const JSONValue route = model->planner()["routes"].at(0);
  const JSONArray order = route["orders"].array();
  ASSERT_GE(order.size(), 3u);
  ASSERT_TRUE(routes->moveStop(order.size() - 1, 0));
  ASSERT_TRUE(spinUntil([&] { return model->planner()["routes"].at(0)["orders"].at(0) == order.back(); }));
  spin();
  // The rows follow the plan; the first row's menu takes its order off the route.
  auto* first = routes->stopList().get_row_at_index(0);
  ASSERT_NE(first, nullptr);
  const std::size_t routed = model->planner()["routes"].at(0)["orders"].array().size();
  ASSERT_TRUE(gtk_widget_activate_action(GTK_WIDGET(first->gobj()), "stop.assign", "x", gint64{-1}));
  ASSERT_TRUE(spinUntil([&] { return model->planner()["routes"].at(0)["orders"].array().size() == routed - 1; }));
  // Blocked while a coordinate search runs.
  model->setGeocoding(true);
  spin();
  EXPECT_FALSE(routes->stopList().is_sensitive());
  EXPECT_TRUE(routes->routeList().is_sensitive());
  model->setGeocoding(false);

  click("Окна");
  for (const char* title : {"Заказ", "Клиент", "Курьер", "Окно доставки", "Прибытие", "Обслуживание, сек", "Адрес"}) {
    EXPECT_NE(findLabel(page(), title), nullptr) << title;
  }
  savePNG(root(), "planning-windows-view");
  EXPECT_EQ(model->error(), std::nullopt);
}

class RoadsWindow : public PlanningDetailsWindow {
 protected:
  void SetUp() override {
    PlanningDetailsWindow::SetUp();
    model->setApi(signedInClient(server));
    model->setUser(JSONValue::object({{"id", "u1"}, {"fullName", "Анна Логист"}, {"role", "logist"}}));
    model->setCache(freshCache());
    ASSERT_TRUE(async::runBlocking(model->mutate("load", sampleDay())));
    ASSERT_TRUE(async::runBlocking(model->mutate("calculate", JSONValue(JSONObject{}))));
  }
  StandInServer server;
  RoutingDesk desk{server};
};

TEST_F(RoadsWindow, TheSheetFromItsButtonToItsClosing) {
  desk.setKey(true, true);
  openWindow();
  // Signed in, but the server gives no web map settings: the map tab says so.
  ASSERT_TRUE(spinUntil([&] { return model->mapIssue().has_value() && !model->loadingMapConfiguration(); }));
  spin();
  EXPECT_NE(findLabel(page(), "Карта 2ГИС"), nullptr);
  savePNG(root(), "planning-map-no-settings");
  // The retry card keeps clear of the unavailable view's heading.
  GtkWidget* retry = findButton(page(), "Повторить");
  ASSERT_NE(retry, nullptr);
  GtkWidget* card = gtk_widget_get_parent(gtk_widget_get_parent(retry));
  graphene_rect_t cardBounds, headingBounds;
  ASSERT_TRUE(gtk_widget_compute_bounds(card, root(), &cardBounds));
  ASSERT_TRUE(gtk_widget_compute_bounds(findLabel(page(), "Карта 2ГИС"), root(), &headingBounds));
  EXPECT_FALSE(graphene_rect_intersection(&cardBounds, &headingBounds, nullptr));
  // The failure is said once, on the card.
  int shown = 0;
  findWidget(page(), [&](GtkWidget* w) {
    if (GTK_IS_LABEL(w) && gtk_widget_is_drawable(w) &&
        std::string(gtk_label_get_text(GTK_LABEL(w))).starts_with("Не удалось получить настройки карты"))
      ++shown;
    return false;
  });
  EXPECT_EQ(shown, 1);
  click("По дорогам");
  Sheet* sheet = shownSheet();
  ASSERT_NE(sheet, nullptr);
  GtkWidget* content = GTK_WIDGET(sheet->gobj());
  ASSERT_TRUE(spinUntil(
      [&] { return findLabel(content, "Рассчитать") && gtk_widget_is_sensitive(findButton(content, "Рассчитать")); }));
  const std::size_t legs =
      async::runBlocking(model->engine()->run("pendingLegs", JSONValue(JSONObject{})))["legs"].array().size();
  EXPECT_NE(findLabel(content, "Плеч маршрута к расчёту: " + std::to_string(legs) +
                                   ". Каждое плечо использует одно обращение к маршрутизации вашего склада."),
            nullptr);
  EXPECT_NE(findLabel(content,
                      "Демо-лимит на этом компьютере: 0 из 1000 обращений. Учёт других устройств здесь не "
                      "отражается."),
            nullptr);
  savePNG(content, "planning-roads");
  // Return does not spend routing requests: "Рассчитать" is not the sheet's default.
  EXPECT_EQ(gtk_window_get_default_widget(GTK_WINDOW(sheet->gobj())), nullptr);

  // While the run works the sheet cannot be dismissed.
  desk.queue(Answer::json(JSONValue::object({{"calculatedByRoads", true}, {"km", 1}, {"min", 2}})).delayed(400ms));
  ASSERT_TRUE(clickButton(content, "Рассчитать"));
  EXPECT_TRUE(model->busy());
  EXPECT_FALSE(sheet->dismissible());
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(content, "Закрыть")));
  sheet->close();
  spin();
  EXPECT_EQ(shownSheet(), sheet);
  savePNG(content, "planning-roads-working");
  ASSERT_TRUE(spinUntil([&] { return shownSheet() == nullptr; }));
  EXPECT_EQ(model->status(), "Время и расстояния уточнены по дорогам 2ГИС.");
  EXPECT_EQ(desk.routeHits().size(), legs);
  EXPECT_FALSE(model->busy());
  EXPECT_EQ(model->error(), std::nullopt);
}
