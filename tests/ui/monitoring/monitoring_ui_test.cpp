// The monitoring pages and route sheets over the real model: a plan calculated and published to the stand-in
// server, its routes watched on the dashboard, and one route worked on through its sheet (a courier assigned, the
// points reordered and saved, two points transferred, a point added, the photos and the GPS track opened), each
// write checked in the server's log; and the demo workspace's three monitoring pages. PNGs go to build/screens/.
#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include <string>

#include "core/async/task.h"
#include "core/base/dorvik_date.h"
#include "core/engine/planner_engine.h"
#include "model/planning/planning_fixture.h"
#include "map/map_surface.h"
#include "monitoring/monitoring_view.h"
#include "monitoring/route_detail.h"
#include "monitoring/route_tools.h"
#include "shell/sheet.h"
#include "core/store/secure_store.h"
#include "support/async_helpers.h"
#include "support/fake_monitoring.h"
#include "support/session_paths.h"
#include "support/stand_in_server.h"
#include "support/window_fixture.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::testing;
using namespace std::chrono_literals;
using monitoring::MonitoringView;

namespace {

class MonitoringWindow : public WindowFixture<Gtk::Window> {
 protected:
  MonitoringView* open(PanelPage page) { return &host(*Gtk::make_managed<MonitoringView>(page, context_), 1300, 820); }
};

// Where the user looks: the widget lies inside `window`, on no scrolled part of it.
bool inView(GtkWidget* widget, GtkWidget* window) {
  graphene_rect_t bounds;
  if (!widget || !gtk_widget_compute_bounds(widget, window, &bounds)) return false;
  for (GtkWidget* w = widget; w && w != window; w = gtk_widget_get_parent(w))
    if (GTK_IS_SCROLLED_WINDOW(w)) return false;
  return bounds.origin.y >= 0 && bounds.origin.y + bounds.size.height <= gtk_widget_get_height(window);
}

// The top of a widget in `window`'s coordinates.
float topOf(GtkWidget* widget, GtkWidget* window) {
  graphene_rect_t bounds;
  return widget && gtk_widget_compute_bounds(widget, window, &bounds) ? bounds.origin.y : -1;
}

}  // namespace

TEST_F(MonitoringWindow, APublishedPlanWatchedAndOneRouteWorkedOn) {
  StandInServer server;
  MonitoringDesk desk(server);
  scriptMapSettings(server, JSONValue::object({}));
  model->setApi(signedInClient(server));
  model->setUser(JSONValue::object({{"id", "u1"}, {"fullName", "Анна Логист"}, {"role", "logist"}}));
  model->setCache(freshCache());
  model->setEngine(async::runBlocking(PlannerEngine::create()));
  server.on("POST", "/geo/clean", [](const Hit&) {
    JSONValue found = JSONValue::object({{"lat", 55.77}, {"lon", 37.66}, {"value", "г Москва"}, {"qc", "0"}});
    return Answer::json(JSONValue::object({{"found", found}, {"provider", "dadata"}}));
  });

  // The plan of the day, calculated and published; the server adds a route of another courier and a finished one.
  ASSERT_TRUE(async::runBlocking(model->mutate("load", sampleDay())));
  ASSERT_TRUE(async::runBlocking(model->mutate("calculate", JSONValue::object({}))));
  async::runBlocking(model->publishPlan("replace"));
  ASSERT_FALSE(desk.routeIDs().empty());
  const std::string routeID = desk.routeIDs().front();
  EXPECT_EQ(routeID, "R-1/ю");
  desk.seedRoute("2026-09-22", JSONValue::object({{"routeId", "R-extra"},
                                                  {"externalRouteId", "Резерв"},
                                                  {"status", "in_progress"},
                                                  {"courier", JSONValue::object({{"name", "Олег Смирнов"}})},
                                                  {"points", JSONArray{}}}));
  desk.seedRoute("2026-09-22", JSONValue::object({{"routeId", "R-done"},
                                                  {"status", "finished"},
                                                  {"courier", JSONValue::object({{"name", "Виктор"}})}}));
  const std::size_t published = desk.routeIDs().size() - 2;
  const std::string title = desk.route(routeID)["externalRouteId"].string();
  EXPECT_EQ(title.rfind("2026-09-22 · ", 0), 0u) << title;

  MonitoringView* view = open(PanelPage::overview);
  view->pickDay(DorvikDate::parse("2026-09-22") + 12h);
  ASSERT_TRUE(spinUntil([&] { return !view->state()->loading() && !view->filtered().empty(); }));
  spin();
  GtkWidget* page = GTK_WIDGET(view->gobj());
  EXPECT_EQ(view->filtered().size(), published + 2);
  EXPECT_NE(findLabel(page, title), nullptr);
  EXPECT_NE(findLabel(page, "Резерв"), nullptr);
  EXPECT_NE(findLabel(page, std::to_string(published + 2)), nullptr) << "the tile of routes";
  std::size_t dayLoads = 0;
  for (const Hit& hit : server.hitsOn("/monitoring/routes")) dayLoads += hit.query == "date=2026-09-22";
  EXPECT_EQ(dayLoads, 1u) << "the picked day loads once, after today's first load";
  EXPECT_EQ(imagesWithoutIcon(page), std::vector<std::string>{});
  savePNG(page, "monitoring/monitoring-overview");

  // A route picked in the list narrows the map to it and stays picked across a reload.
  GtkWidget* list = findWidget(page, [](GtkWidget* w) { return GTK_IS_COLUMN_VIEW(w); });
  ASSERT_NE(list, nullptr);
  gtk_selection_model_select_item(gtk_column_view_get_model(GTK_COLUMN_VIEW(list)), 0, TRUE);
  spin();
  ASSERT_EQ(view->selection(), std::optional<std::string>(routeID));
  ASSERT_FALSE(view->map()->content().pins.empty());
  for (const MapPin& pin : view->map()->content().pins) EXPECT_EQ(pin.id.rfind(routeID + ":", 0), 0u) << pin.id;
  click(page, "Обновить");
  ASSERT_TRUE(spinUntil([&] { return !view->state()->loading(); }));
  spin();
  EXPECT_EQ(view->selection(), std::optional<std::string>(routeID));
  GtkBitset* picked = gtk_selection_model_get_selection(gtk_column_view_get_model(GTK_COLUMN_VIEW(list)));
  EXPECT_TRUE(gtk_bitset_contains(picked, 0)) << "the row stays selected";
  gtk_bitset_unref(picked);
  click(page, "Показать все");
  EXPECT_EQ(view->selection(), std::nullopt);

  // The route's sheet.
  click(page, "Открыть маршрут");
  GtkWidget* detail = nullptr;
  ASSERT_TRUE(spinUntil([&] { return (detail = findWindow("Маршрут")) != nullptr; }));
  ASSERT_TRUE(spinUntil([&] { return findLabel(detail, title) != nullptr; }));
  ASSERT_TRUE(spinUntil([&] { return gtk_widget_is_sensitive(findButton(detail, "Сохранить порядок")); }));
  const std::size_t points = desk.route(routeID)["points"].size();
  ASSERT_GE(points, 3u);
  EXPECT_NE(findLabel(detail, "Выбрано: 0"), nullptr);
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(detail, "Передать точки"))) << "no point selected";

  // Another courier: the offered list leaves out the blocked one and the logist.
  EXPECT_FALSE(pickInDropDown(detail, "Виктор Блок"));
  EXPECT_FALSE(pickInDropDown(detail, "Анна Логист"));
  // A long name is cut in the picker, which stays at most 330 wide.
  ASSERT_TRUE(pickInDropDown(detail, kLongCourierName));
  spin();
  GtkWidget* longName = findLabel(detail, kLongCourierName);
  ASSERT_NE(longName, nullptr);
  int natural = 0;
  gtk_widget_measure(longName, GTK_ORIENTATION_HORIZONTAL, -1, nullptr, &natural, nullptr, nullptr);
  EXPECT_LT(gtk_widget_get_width(longName), natural) << "the name is cut in the button";
  EXPECT_LE(gtk_widget_get_width(gtk_widget_get_ancestor(longName, GTK_TYPE_DROP_DOWN)), 330);
  ASSERT_TRUE(pickInDropDown(detail, "Олег Смирнов"));
  click(detail, "Назначить");
  ASSERT_TRUE(spinUntil([&] {
    return server.hits("GET", "/monitoring/routes/" + routeID) == 2 &&
           gtk_widget_is_sensitive(findButton(detail, "Сохранить порядок"));
  })) << "the route is loaded again after the write";
  EXPECT_EQ(desk.route(routeID)["courier"]["name"].string(), "Олег Смирнов");
  auto courierHits = server.hitsOn("/monitoring/routes/" + routeID + "/courier");
  ASSERT_EQ(courierHits.size(), 1u);
  EXPECT_EQ(courierHits[0].json(), JSONValue::object({{"courierId", "c-oleg"}}));
  savePNG(detail, "monitoring/monitoring-route-detail");

  // The last point first, then the order saved.
  const JSONValue before = desk.route(routeID)["points"];
  ASSERT_TRUE(monitoring::dropRows(*Glib::wrap(GTK_WINDOW(detail)), {points - 1}, 0));
  spin();
  ASSERT_TRUE(spinUntil([&] { return gtk_widget_is_sensitive(findButton(detail, "Сохранить порядок")); }));
  // The first attempt is refused: the message shows, the local order stays for the second.
  const std::string reorderPath = "/monitoring/routes/" + routeID + "/reorder";
  desk.failNext("POST", reorderPath, Answer::error(409, "Маршрут изменён на сервере."));
  click(detail, "Сохранить порядок");
  ASSERT_TRUE(spinUntil([&] { return findLabel(detail, "Маршрут изменён на сервере.") != nullptr; }));
  EXPECT_EQ(server.hits("GET", "/monitoring/routes/" + routeID), 2u) << "a failed write reloads nothing";
  ASSERT_TRUE(spinUntil([&] { return gtk_widget_is_sensitive(findButton(detail, "Сохранить порядок")); }));
  click(detail, "Сохранить порядок");
  ASSERT_TRUE(spinUntil([&] { return server.hits("POST", reorderPath) == 2; }));
  JSONArray expected{before.at(points - 1)["pointId"]};
  for (std::size_t i = 0; i + 1 < points; ++i) expected.push_back(before.at(i)["pointId"]);
  for (const Hit& hit : server.hitsOn(reorderPath))
    EXPECT_EQ(hit.json(), JSONValue::object({{"order", JSONValue(expected)}}));
  ASSERT_TRUE(spinUntil([&] { return findLabel(detail, "Маршрут изменён на сервере.") == nullptr; }))
      << "the reload after the saved order clears the message";
  ASSERT_TRUE(spinUntil([&] { return desk.route(routeID)["points"].at(0)["pointId"] == expected[0]; }));

  // Two points to the reserve route, chosen among the nearest suggestions.
  ASSERT_TRUE(spinUntil([&] { return gtk_widget_is_sensitive(findButton(detail, "Сохранить порядок")); }));
  GtkWidget* table = findWidget(detail, [](GtkWidget* w) { return GTK_IS_COLUMN_VIEW(w); });
  ASSERT_NE(table, nullptr);
  GtkSelectionModel* selection = gtk_column_view_get_model(GTK_COLUMN_VIEW(table));
  gtk_selection_model_select_item(selection, 0, TRUE);
  gtk_selection_model_select_item(selection, 1, FALSE);
  spin();
  EXPECT_NE(findLabel(detail, "Выбрано: 2"), nullptr);
  const JSONValue moving = desk.route(routeID)["points"];
  click(detail, "Передать точки");
  GtkWidget* transfer = nullptr;
  ASSERT_TRUE(spinUntil([&] { return (transfer = findWindow("Передать точки")) != nullptr; }));
  EXPECT_NE(findLabel(transfer, "2 точек · 2026-09-22"), nullptr);
  ASSERT_TRUE(spinUntil([&] { return findButton(transfer, "Олег Смирнов") != nullptr; })) << "a suggestion";
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(transfer, "Передать"))) << "no destination yet";
  click(transfer, "Олег Смирнов");
  savePNG(transfer, "monitoring/monitoring-transfer");
  click(transfer, "Передать");
  ASSERT_TRUE(spinUntil([&] { return findWindow("Передать точки") == nullptr; }));
  const auto nearest = server.hitsOn("/monitoring/nearest");
  ASSERT_EQ(nearest.size(), 1u);
  EXPECT_NE(nearest[0].query.find("date=2026-09-22&lat="), std::string::npos) << nearest[0].query;
  const auto moves = server.hitsOn("/monitoring/routes/" + routeID + "/move");
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0].json(),
            JSONValue::object({{"pointIds", JSONValue::array({moving.at(0)["pointId"], moving.at(1)["pointId"]})},
                               {"toRouteId", "R-extra"}}));
  EXPECT_EQ(desk.route("R-extra")["points"].size(), 2u);
  ASSERT_TRUE(spinUntil([&] { return findLabel(detail, "Выбрано: 0") != nullptr; })) << "the refresh forgot it";

  // A point added, its coordinates found by the address search.
  ASSERT_TRUE(spinUntil([&] { return gtk_widget_is_sensitive(findButton(detail, "Добавить заказ")); }));
  click(detail, "Добавить заказ");
  GtkWidget* add = nullptr;
  ASSERT_TRUE(spinUntil([&] { return (add = findWindow("Добавить заказ")) != nullptr; }));
  // The form in its order, and a refusal said right under it, where the user looks, however long the form.
  EXPECT_LT(topOf(findLabel(add, "Комментарий"), add), topOf(findButton(add, "Найти координаты"), add));
  EXPECT_LT(topOf(findButton(add, "Найти координаты"), add), topOf(findLabel(add, "Положение"), add));
  click(add, "Добавить заказ");
  EXPECT_TRUE(inView(findLabel(add, "Заполните поле «Клиент»."), add));
  savePNG(add, "monitoring/monitoring-add-point-refused");
  gtk_editable_set_text(GTK_EDITABLE(entryRow(add, "Клиент")), "Аптека");
  gtk_editable_set_text(GTK_EDITABLE(entryRow(add, "Адрес")), "Москва, Покровка, 20");
  gtk_editable_set_text(GTK_EDITABLE(entryRow(add, "Окно до, ЧЧ:ММ")), "24:00");
  click(add, "Добавить заказ");
  EXPECT_TRUE(inView(findLabel(add, "Время должно быть в формате ЧЧ:ММ."), add));
  gtk_editable_set_text(GTK_EDITABLE(entryRow(add, "Окно до, ЧЧ:ММ")), "17:30");
  click(add, "Найти координаты");
  auto latitude = [&] { return std::string(gtk_editable_get_text(GTK_EDITABLE(entryRow(add, "Широта")))); };
  ASSERT_TRUE(spinUntil([&] { return !latitude().empty(); })) << "the found coordinates fill the rows";
  const std::string foundLat = latitude();
  savePNG(add, "monitoring/monitoring-add-point");
  click(add, "Добавить заказ");
  ASSERT_TRUE(spinUntil([&] { return findWindow("Добавить заказ") == nullptr; }));
  const auto adds = server.hitsOn("/monitoring/routes/" + routeID + "/points");
  ASSERT_EQ(adds.size(), 1u);
  EXPECT_EQ(adds[0].json()["client"].string(), "Аптека");
  EXPECT_EQ(adds[0].json()["windowTo"].string(), "17:30");
  EXPECT_EQ(adds[0].json()["lat"].string(), foundLat);
  EXPECT_EQ(adds[0].json()["position"].string(), "best");
  ASSERT_TRUE(spinUntil([&] { return findLabel(detail, "Москва, Покровка, 20") != nullptr; }));

  // The photos, one sheet for two quick presses: a picture; a failed download said in the sheet, with its progress
  // before; bytes that are no picture the system can show, said so.
  GtkWidget* photoButton = findButton(detail, "Фото");
  g_signal_emit_by_name(photoButton, "clicked");
  g_signal_emit_by_name(photoButton, "clicked");
  GtkWidget* photos = nullptr;
  ASSERT_TRUE(spinUntil([&] { return (photos = findWindow("Фото доставки")) != nullptr; }));
  spin();
  EXPECT_EQ(server.hits("GET", "/monitoring/routes/" + routeID + "/photos"), 1u) << "one list, one sheet";
  click(photos, "дверь.png");
  auto picture = [&] { return findWidget(photos, [](GtkWidget* w) { return GTK_IS_PICTURE(w); }); };
  ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_visible(picture()); }));
  savePNG(photos, "monitoring/monitoring-photos");
  const std::string picturePath = std::string("/monitoring/photos/") + MonitoringDesk::kPicture;
  desk.failNext("GET", picturePath, Answer::error(503, "Хранилище фото недоступно.").delayed(400ms));
  click(photos, "дверь.png");
  EXPECT_NE(findLabel(photos, "Загружаем фото…"), nullptr);
  ASSERT_TRUE(spinUntil([&] { return findLabel(photos, "Хранилище фото недоступно.") != nullptr; }));
  EXPECT_EQ(findLabel(photos, "Загружаем фото…"), nullptr);
  EXPECT_TRUE(gtk_widget_get_visible(picture())) << "the picture shown before stays";
  savePNG(photos, "monitoring/monitoring-photo-failed");
  click(photos, "Фото photo-br");
  ASSERT_TRUE(spinUntil([&] { return !gtk_widget_get_visible(picture()); }));
  EXPECT_NE(findLabel(photos, "Не удалось показать фото: этот формат изображения не поддерживается."), nullptr);
  EXPECT_EQ(server.hits("GET", std::string("/monitoring/photos/") + MonitoringDesk::kNotAnImage), 1u);
  click(photos, "Закрыть");
  ASSERT_TRUE(spinUntil([&] { return gtk_widget_is_sensitive(photoButton); })) << "the next press opens again";

  // The track: the fixes with a position, played from the first.
  click(detail, "GPS-трек");
  GtkWidget* track = nullptr;
  ASSERT_TRUE(spinUntil([&] { return (track = findWindow("GPS-трек маршрута")) != nullptr; }));
  const std::size_t fixes = desk.route(routeID)["points"].size();
  const std::string caption =
      std::to_string(fixes) + " GPS-сигналов · 1 отметок курьера. Это записанный путь, а не текущее положение.";
  ASSERT_TRUE(spinUntil([&] { return findLabel(track, caption) != nullptr; }));
  ASSERT_TRUE(spinUntil([&] { return gtk_widget_is_sensitive(findButton(track, "Воспроизвести")); }));
  const std::size_t lastMinute = 7 * (fixes - 1);
  const std::string lastFix = "10:" + std::string(lastMinute < 10 ? "0" : "") + std::to_string(lastMinute);
  EXPECT_NE(findLabel(track, lastFix), nullptr) << "opens on the last fix";
  click(track, "Воспроизвести");
  EXPECT_NE(findLabel(track, "Пауза"), nullptr);
  EXPECT_NE(findLabel(track, "10:00"), nullptr) << "from the first fix";
  ASSERT_TRUE(spinUntil([&] { return findLabel(track, "10:07") != nullptr; }, 3s));
  savePNG(track, "monitoring/monitoring-track");
  click(track, "Закрыть");

  // Finishing, after the confirmation.
  click(detail, "Завершить маршрут");
  GtkWidget* question = nullptr;
  ASSERT_TRUE(spinUntil([&] {
    question = findShownWindow([](GtkWidget* window) { return ADW_IS_MESSAGE_DIALOG(window); });
    return question != nullptr;
  }));
  adw_message_dialog_response(ADW_MESSAGE_DIALOG(question), "confirm");
  spin();
  ASSERT_TRUE(spinUntil([&] { return desk.route(routeID)["status"].string() == "finished"; }));
  EXPECT_EQ(server.hitsOn("/monitoring/routes/" + routeID + "/finish").size(), 1u);
  EXPECT_EQ(server.hits("POST", "/monitoring/routes/" + routeID + "/eta"), 0u);
}

// Thirty points handed over at once: their addresses scroll, the destination and the footer stay on a 900-point high
// screen.
TEST_F(MonitoringWindow, TheTransferSheetOfThirtyPointsScrollsItsAddresses) {
  StandInServer server;
  MonitoringDesk desk(server);
  model->setApi(signedInClient(server));
  model->setUser(JSONValue::object({{"id", "u1"}, {"fullName", "Анна Логист"}, {"role", "logist"}}));
  std::vector<JSONValue> points;
  for (int n = 1; n <= 30; ++n)
    points.push_back(JSONValue::object(
        {{"pointId", "P" + std::to_string(n)},
         {"address", "Москва, Учебная улица, " + std::to_string(n) + ", подъезд 2, домофон " + std::to_string(n)},
         {"coordinates", JSONValue::object({{"lat", 55.7 + n / 1000.0}, {"lon", 37.6}})}}));
  desk.seedRoute("2026-09-22", JSONValue::object({{"routeId", "R-30"},
                                                  {"externalRouteId", "Север"},
                                                  {"status", "in_progress"},
                                                  {"courier", JSONValue::object({{"name", "Тарен"}})},
                                                  {"points", JSONValue(JSONArray(points.begin(), points.end()))}}));
  desk.seedRoute("2026-09-22", JSONValue::object({{"routeId", "R-extra"},
                                                  {"externalRouteId", "Резерв"},
                                                  {"status", "in_progress"},
                                                  {"courier", JSONValue::object({{"name", "Олег Смирнов"}})},
                                                  {"points", JSONArray{}}}));
  auto& anchor = host(*Gtk::make_managed<Gtk::Box>(), 1440, 900);
  monitoring::openRouteTransfer(anchor, context_, "R-30", "2026-09-22", points,
                                []() -> async::Task<void> { co_return; });
  GtkWidget* transfer = nullptr;
  ASSERT_TRUE(spinUntil([&] { return (transfer = findWindow("Передать точки")) != nullptr; }));
  ASSERT_TRUE(spinUntil([&] { return findButton(transfer, "Олег Смирнов") != nullptr; }));
  click(transfer, "Олег Смирнов");
  spin();
  EXPECT_LE(gtk_widget_get_height(transfer), 900);
  EXPECT_TRUE(inView(findButton(transfer, "Передать"), transfer));
  EXPECT_TRUE(gtk_widget_is_sensitive(findButton(transfer, "Передать")));
  EXPECT_TRUE(inView(findButton(transfer, "Отмена"), transfer));
  GtkWidget* last = findLabel(transfer, points.back()["address"].string());
  ASSERT_NE(last, nullptr);
  EXPECT_NE(gtk_widget_get_ancestor(last, GTK_TYPE_SCROLLED_WINDOW), nullptr) << "the addresses scroll";
  savePNG(transfer, "monitoring/monitoring-transfer-30");
}

TEST_F(MonitoringWindow, TheDemoDayOnTheThreePages) {
  async::runBlocking(model->loadPreview());
  for (PanelPage page : {PanelPage::overview, PanelPage::monitorMap, PanelPage::crew}) {
    MonitoringView* view = open(page);
    ASSERT_TRUE(spinUntil([&] { return !view->state()->loading() && !view->filtered().empty(); }));
    spin();
    EXPECT_EQ(view->map() == nullptr, page == PanelPage::crew);
    GtkWidget* root = GTK_WIDGET(view->gobj());
    EXPECT_FALSE(gtk_widget_is_sensitive(findButton(root, "Показать все")));
    const char* names[] = {"monitoring/monitoring-demo-overview", "monitoring/monitoring-demo-map",
                           "monitoring/monitoring-demo-crew"};
    savePNG(root, names[page == PanelPage::overview ? 0 : page == PanelPage::monitorMap ? 1 : 2]);
    window_->close();
    delete window_;
    window_ = nullptr;
    spin(50ms);
  }
}

// The route sheets over the main window, signed in to the stand-in server: every sheet and question belongs to the
// workspace it was opened in, so a depot switch closes them all, and so does the sign-out the server forces.
class RouteSheetsOfAWorkspace : public WindowFixture<> {};

TEST_F(RouteSheetsOfAWorkspace, CloseWhenTheWorkspaceChanges) {
  StandInServer server;
  const JSONValue profile = JSONValue::object(
      {{"id", 31}, {"companyId", randomUUID()}, {"depotId", "d1"}, {"fullName", "Анна Логист"}, {"role", "logist"}});
  SessionServer session(server, profile);
  MonitoringDesk desk(server);
  scriptMapSettings(server, JSONValue::object({}));
  const std::string today = DorvikDate::day(std::chrono::system_clock::now());
  auto point = [](const char* id, const char* address, double lat) {
    return JSONValue::object({{"pointId", id},
                              {"address", address},
                              {"status", "pending"},
                              {"coordinates", JSONValue::object({{"lat", lat}, {"lon", 37.61}})},
                              {"orders", JSONValue::array({JSONValue::object({{"id", id}})})}});
  };
  desk.seedRoute(today, JSONValue::object({{"routeId", "R-7"},
                                           {"externalRouteId", "Маршрут 7"},
                                           {"status", "in_progress"},
                                           {"courier", JSONValue::object({{"name", "Олег Смирнов"}})},
                                           {"points", JSONValue::array({point("P1", "Тверская, 6", 55.76),
                                                                        point("P2", "Арбат, 10", 55.75)})}}));
  async::runBlocking(SecureStore::write(std::nullopt, "refresh:" + server.url()));
  async::runBlocking(SecureStore::write(std::nullopt, "profile:" + server.url()));
  ASSERT_TRUE(context_.defaults->set(Settings::serverURL, server.url()));
  AppModel::LaunchOptions options;
  options.settingsPath = context_.defaults->path();
  async::runBlocking(model->start(options));
  async::runBlocking(model->login("logist", "пароль-логиста"));
  ASSERT_FALSE(model->user().isNull()) << model->error().value_or("");
  openMainWindow();

  // The route's sheet, its track player over it, and the question before finishing the route.
  auto openSheets = [&] {
    monitoring::openRouteDetail(*window_, context_, "R-7", today);
    GtkWidget* detail = nullptr;
    ASSERT_TRUE(spinUntil([&] { return (detail = findWindow("Маршрут")) != nullptr; }));
    ASSERT_TRUE(spinUntil([&] { return findLabel(detail, "Маршрут 7") != nullptr; }));
    click(detail, "GPS-трек");
    ASSERT_TRUE(spinUntil([&] { return findWindow("GPS-трек маршрута") != nullptr; }));
    click(detail, "Завершить маршрут");
    ASSERT_TRUE(spinUntil([&] { return shownConfirmation("Завершить маршрут?") != nullptr; }));
    EXPECT_EQ(sheetsOver(*window_), 3);
  };

  openSheets();
  async::runBlocking(model->switchDepot("d2"));
  spin();
  EXPECT_EQ(model->user()["depotId"].string(), "d2");
  EXPECT_EQ(sheetsOver(*window_), 0);
  EXPECT_EQ(findWindow("Маршрут"), nullptr);
  EXPECT_EQ(server.hits("POST", "/monitoring/routes/R-7/finish"), 0u) << "the question counts as declined";

  // The server refuses the session: the sign-in screen with the reason, and no sheet left over it.
  openSheets();
  server.on("POST", "/auth/refresh", Answer::error(403, "Токен обновления отозван."));
  server.on("GET", "/monitoring/routes/R-7", Answer::error(401, "Токен доступа истёк."));
  auto reload = start(model->fetch("/monitoring/routes/R-7"));
  ASSERT_TRUE(spinUntil([&] { return reload->done && model->user().isNull(); }));
  spin();
  EXPECT_EQ(sheetsOver(*window_), 0);
  EXPECT_EQ(window_->screenKind(), 0);
  EXPECT_EQ(model->error(), "Сессия больше не действует. Войдите снова.");
  EXPECT_NE(window_->alert(), nullptr);
  EXPECT_EQ(server.hits("POST", "/monitoring/routes/R-7/finish"), 0u);
  savePNG(root(), "monitoring/forced-sign-out");
}
