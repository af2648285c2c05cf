// A working day of a depot end to end, through the main window's own widgets, over the real model, planner
// components, Secret Service and WebKit map page (with the test's stand-in of the map library), against the
// loopback stand-in server: a logist plans, corrects, publishes and watches the day, then reports on it; an
// administrator adds reference data; the workspace opens offline from its cache and refuses writes until the
// server is back. Each step writes build/screens/day/NN-name.png in order, so a person can page through the day.
#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtkmm.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "admin/data_screen_view.h"
#include "admin/logic/payroll.h"
#include "admin/pay_panel.h"
#include "admin/record_editor_view.h"
#include "admin/shifts_view.h"
#include "admin/staff_view.h"
#include "core/base/base64.h"
#include "core/base/files.h"
#include "core/engine/planner_engine.h"
#include "core/engine/script_context.h"
#include "core/store/secure_store.h"
#include "map/map_surface.h"
#include "map/map_web_view.h"
#include "model/file_dialogs.h"
#include "model/workbook_files.h"
#include "monitoring/monitoring_view.h"
#include "monitoring/reports_view.h"
#include "monitoring/route_detail.h"
#include "planning/logic/road_refinement.h"
#include "planning/planner_map_view.h"
#include "planning/planner_view.h"
#include "planning/planning_routes_view.h"
#include "shell/preferences.h"
#include "shell/root_window.h"
#include "shell/window_undo.h"
#include "support/async_helpers.h"
#include "support/fake_admin.h"
#include "support/fake_monitoring.h"
#include "support/fake_planning.h"
#include "support/fake_reports.h"
#include "support/fake_shifts.h"
#include "support/fake_staff.h"
#include "support/map_stand_in.h"
#include "support/session_paths.h"
#include "support/stand_in_server.h"
#include "support/ui_helpers.h"
#include "support/window_fixture.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::testing;
using namespace std::chrono_literals;

namespace {

constexpr int kOrders = 200;
// The houses the company's address memory does not know yet: the server's geocoder finds them.
constexpr int kUnknown = 16;
const char* const kStreet = "Москва, Учебная улица, ";

// Where the server's geocoder puts house n: a grid of 20 × 10 houses, rounded to micro-degrees as a geocoder answers.
double latOf(int n) { return std::round((55.70 + (n % 20) * 0.004) * 1e6) / 1e6; }
double lonOf(int n) { return std::round((37.50 + (n / 20) * 0.006) * 1e6) / 1e6; }

// The desktop's open and save dialogs, answered with the files the test sets.
class AnsweringDialogs : public FileDialogs {
 public:
  std::optional<std::string> openAnswer, saveAnswer;
  async::Task<Chosen> openFile(std::vector<std::string>) override { co_return openAnswer; }
  async::Task<Chosen> saveFile(std::string) override { co_return saveAnswer; }
};

// The day's order workbook written by the workbook library: orders without coordinates, and the couriers on the
// "Транспорт" sheet. On a thread of its own, as the planner components run: a script context on the main thread
// before the first web view keeps WebKit's pages from ever loading in this process.
std::string orderWorkbook() {
  JSONArray orders{JSONValue::array({"Номер заказа", "Клиент", "Адрес", "Временное окно", "Количество мест"})};
  for (int n = 1; n <= kOrders; ++n)
    orders.push_back(JSONValue::array({"Z-" + std::to_string(1000 + n), "Клиент " + std::to_string(n),
                                       kStreet + std::to_string(n), n % 3 ? "09:00-18:00" : "10:00-16:00", 1}));
  JSONArray vehicles{JSONValue::array({"Логин курьера / код машины", "Имя", "Смена", "Вместимость, мест", "На смене"})};
  for (const auto& [login, name] : std::vector<std::pair<std::string, std::string>>{
           {"ivanov", "Иванов"}, {"petrov", "Петров"}, {"sidorov", "Сидоров"}, {"orlov", "Орлов"}, {"belov", "Белов"},
           {"zuev", "Зуев"}})
    vehicles.push_back(JSONValue::array({login, name, "08:00-20:00", 60, "да"}));
  std::string bytes;
  std::thread([&] {
    ScriptContext script;
    script.evaluateFile(*PlannerEngine::bundleResources() / "xlsx.full.min.js", "xlsx.full.min");
    bytes = decodeBase64(script.evaluate("(function () { const book = XLSX.utils.book_new();"
                                         " XLSX.utils.book_append_sheet(book, XLSX.utils.aoa_to_sheet(" +
                                         JSONValue(std::move(orders)).json() +
                                         "), 'Заказы'); XLSX.utils.book_append_sheet(book, XLSX.utils.aoa_to_sheet(" +
                                         JSONValue(std::move(vehicles)).json() +
                                         "), 'Транспорт'); return XLSX.write(book, {type: 'base64', bookType: 'xlsx'}); })()"))
                .value();
  }).join();
  return bytes;
}

// A label on screen whose text starts with `prefix` (a count, a progress line), or null.
GtkWidget* labelStarting(GtkWidget* root, const std::string& prefix) {
  return findWidget(root, [&](GtkWidget* w) {
    return GTK_IS_LABEL(w) && gtk_widget_get_mapped(w) &&
           std::string(gtk_label_get_text(GTK_LABEL(w))).rfind(prefix, 0) == 0;
  });
}

// A pointer event on the pin of `id` in the page: a click (Ctrl held when `adding`), or, with a point, a drag to
// that (lat, lon) of the stand-in library's projection.
std::string onPin(planning::PlannerMapView& map, const std::string& id, bool adding,
                  std::optional<std::pair<double, double>> dragTo = std::nullopt) {
  const auto& pins = map.surface().content().pins;
  std::size_t index = 0;
  while (index < pins.size() && pins[index].id != id) ++index;
  std::string script = "(function () { var el = document.querySelector('.pin[data-index=\"" + std::to_string(index) +
                       "\"]'); if (!el) return 'no pin';";
  if (dragTo)
    script += " var area = document.getElementById('map').getBoundingClientRect(), at = el.getBoundingClientRect();"
              " var x = area.left + " + std::to_string((dragTo->second - 37) * 1000) +
              ", y = area.top + " + std::to_string((55 - dragTo->first) * 1000) +
              "; function send(target, type, cx, cy) { target.dispatchEvent(new PointerEvent(type, {bubbles: true,"
              " cancelable: true, button: 0, pointerId: 7, clientX: cx, clientY: cy})); }"
              " send(el, 'pointerdown', at.left + 2, at.top + 2); send(document, 'pointermove', x, y);"
              " send(document, 'pointerup', x, y);";
  else
    script += std::string(" el.dispatchEvent(new MouseEvent('click', {bubbles: true, cancelable: true, ctrlKey: ") +
              (adding ? "true" : "false") + "}));";
  return evaluateInPage(map.surface().webView()->webView(), script + " return 'ok'; })()");
}

class WorkingDay : public WindowFixture<> {
 protected:
  static void SetUpTestSuite() {
    // Containers run the tests as root, where WebKit's sandbox cannot start. The program never does this.
    if (geteuid() == 0) g_setenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "1", TRUE);
    initDisplay();
    addMapPageScript(kMapLibraryStandIn);
  }
  void SetUp() override {
    WindowFixture::SetUp();
    std::filesystem::remove_all(std::filesystem::path(DORVIK_BINARY_DIR) / "screens" / "day");
  }
  void TearDown() override {
    closeWindow();
    WindowFixture::TearDown();
  }

  // The application's window over a fresh model, with the test's file dialogs, started as a launch starts it.
  void launch() {
    context_.model = model = AppModel::create();
    context_.workflows = modelWorkflows(model);
    ASSERT_TRUE(context_.defaults->set(Settings::serverURL, server_->url()));
    context_.openPreferences = [this](PreferencesTab tab) { showPreferences(context_, window_, tab); };
    model->setFileDialogs(dialogs_);
    openMainWindow(1400, 880);
    AppModel::LaunchOptions options;
    options.settingsPath = context_.defaults->path();
    auto outcome = start(context_.workflows->start(options));
    ASSERT_TRUE(spinUntil([&] { return outcome->done; }, 60s));
    outcome->rethrow();
    spin();
  }
  void closeWindow() {
    if (!window_) return;
    closeShownWindows(root());
    delete window_;
    window_ = nullptr;
    spin(50ms);
  }

  planning::PlannerView* planner() { return widgetOf<planning::PlannerView>(root()); }
  GtkWidget* plannerPage() { return GTK_WIDGET(planner()->gobj()); }

  // Ends a step: no alert is up, and the next picture of the day is build/screens/day/NN-name.png.
  void shot(const std::string& name, GtkWidget* widget = nullptr) {
    EXPECT_EQ(window_->alert(), nullptr) << name << ": " << model->error().value_or("");
    char number[16];
    std::snprintf(number, sizeof number, "%02d", ++shots_);
    savePNG(widget ? widget : root(), std::string("day/") + number + "-" + name);
  }
  bool idle(std::chrono::milliseconds timeout = 30s) {
    const bool done = spinUntil([&] { return !model->busy(); }, timeout);
    spin();
    return done;
  }
  // Presses the button reading `text` under `within` (the window when null); it must be there and enabled.
  void click(const std::string& text, GtkWidget* within = nullptr) {
    ASSERT_TRUE(clickButton(within ? within : root(), text)) << text;
    spin();
  }
  bool enabled(const std::string& text, GtkWidget* within = nullptr) {
    GtkWidget* button = findButton(within ? within : root(), text);
    return button && gtk_widget_is_sensitive(button);
  }
  // Signs in through the sign-in screen's fields, the server answering with the profile of `role`.
  void signIn(const std::string& role, const std::string& password) {
    JSONValue user = role == "logist" ? *session_->profile : StaffDesk::user(role);
    for (const char* path : {"/auth/login", "/auth/refresh"})
      server_->on("POST", path, Answer::json(JSONValue::object(
                                    {{"accessToken", "token-" + role}, {"refreshToken", "refresh-" + role}, {"user", user}})));
    GtkWidget* loginField = findWidget(root(), [](GtkWidget* w) { return GTK_IS_ENTRY(w) && gtk_widget_is_visible(w); });
    GtkWidget* passwordField =
        findWidget(root(), [](GtkWidget* w) { return GTK_IS_PASSWORD_ENTRY(w) && gtk_widget_is_visible(w); });
    ASSERT_TRUE(loginField && passwordField);
    gtk_editable_set_text(GTK_EDITABLE(loginField), role.c_str());
    gtk_editable_set_text(GTK_EDITABLE(passwordField), password.c_str());
    click("Войти");
    ASSERT_TRUE(spinUntil([&] { return window_->screenKind() == 2 && !model->busy(); }, 60s))
        << model->error().value_or("");
    spin(200ms);
  }
  void signOut() {
    GtkWidget* logout = findWidget(root(), [](GtkWidget* w) {
      const char* tip = gtk_widget_get_tooltip_text(w);
      return GTK_IS_BUTTON(w) && tip && std::string(tip) == "Выйти";
    });
    ASSERT_NE(logout, nullptr);
    g_signal_emit_by_name(logout, "clicked");
    ASSERT_TRUE(spinUntil([&] { return window_->screenKind() == 0 && !model->busy(); }));
    spin();
  }
  // Chooses a page through its sidebar row; `W`, the page's view, is then shown.
  template <class W = Gtk::Widget>
  W* openPage(PanelPage page) {
    const std::string raw(rawValue(page));
    GtkWidget* row =
        findWidget(root(), [&](GtkWidget* w) { return GTK_IS_LIST_BOX_ROW(w) && raw == gtk_widget_get_name(w); });
    EXPECT_NE(row, nullptr) << raw;
    if (!row) return nullptr;
    g_signal_emit_by_name(row, "activate");  // a click or Return on the row
    EXPECT_TRUE(spinUntil([&] { return model->page() == page; })) << raw;
    spin(200ms);
    return widgetOf<W>(root());
  }
  // Shows a data page, waits for its list and opens its editor for a new record (null when any of it fails).
  std::pair<admin::DataScreenView*, GtkWidget*> addRecord(PanelPage page) {
    auto* data = openPage<admin::DataScreenView>(page);
    if (!data || !spinUntil([&] { return !data->controller()->loading(); })) return {data, nullptr};
    spin();
    click("Добавить", GTK_WIDGET(data->gobj()));
    spinUntil([&] { return data->editorSheet() != nullptr; });
    return {data, data->editorSheet() ? GTK_WIDGET(data->editorSheet()->gobj()) : nullptr};
  }
  // Types into the entry rows titled as the keys under `within`.
  void type(GtkWidget* within, const std::vector<std::pair<std::string, std::string>>& fields) {
    for (const auto& [title, text] : fields) {
      GtkWidget* row = entryRow(within, title);
      ASSERT_NE(row, nullptr) << title;
      gtk_editable_set_text(GTK_EDITABLE(row), text.c_str());
    }
  }
  // The body of the last request of that method to the path, as JSON.
  JSONValue lastBody(const std::string& method, const std::string& path) {
    JSONValue body;
    for (const Hit& hit : server_->hitsOn(path))
      if (hit.method == method) body = hit.json();
    return body;
  }
  // Picks the first route of the monitoring page and opens its sheet, once it shows the route and its save button.
  GtkWidget* openFirstRoute(monitoring::MonitoringView* watch, const std::string& title) {
    GtkWidget* list = findWidget(GTK_WIDGET(watch->gobj()), [](GtkWidget* w) { return GTK_IS_COLUMN_VIEW(w); });
    if (!list) return nullptr;
    gtk_selection_model_select_item(gtk_column_view_get_model(GTK_COLUMN_VIEW(list)), 0, TRUE);
    spin();
    click("Открыть маршрут", GTK_WIDGET(watch->gobj()));
    GtkWidget* detail = nullptr;
    spinUntil([&] { return (detail = findWindow("Маршрут")) && findLabel(detail, title) && findButton(detail, "Сохранить порядок"); });
    return detail;
  }
  void closeRoute(GtkWidget* detail) {
    gtk_window_close(GTK_WINDOW(detail));
    ASSERT_TRUE(spinUntil([&] { return findWindow("Маршрут") == nullptr; }));
  }
  // The order of the plan with that id.
  JSONValue order(const std::string& id) {
    for (const JSONValue& one : model->planner()["orders"].array())
      if (one["_nativeID"].string() == id) return one;
    return JSONValue();
  }

  // The server's side of the day.
  void scriptServer() {
    server_ = std::make_unique<StandInServer>();
    // The reference lists an administrator edits; the session, the day's routes and the rest take their paths after.
    admin_ = std::make_unique<AdminDesk>(*server_);
    staff_ = std::make_unique<StaffDesk>(*server_);
    shifts_ = std::make_unique<ShiftsDesk>(*server_);
    shifts_->setDepot("Склад Север", 2500);
    shifts_->addCourier("k-1", "Иванов Пётр");
    session_ = std::make_unique<SessionServer>(
        *server_, JSONValue::object({{"id", 11}, {"companyId", "c-day"}, {"depotId", "d1"},
                                     {"fullName", "Ирина Логист"}, {"role", "logist"}}));
    JSONArray known;  // the address memory: every house of the street but the first kUnknown
    for (int n = kUnknown + 1; n <= kOrders; ++n)
      known.push_back(JSONValue::object(
          {{"address", kStreet + std::to_string(n)}, {"lat", latOf(n)}, {"lon", lonOf(n)}, {"source", "dadata"}}));
    scriptReferenceLists(*server_,
                         JSONValue::array({JSONValue::object({{"id", "d1"}, {"name", "Склад Север"}, {"lat", 55.74},
                                                              {"lon", 37.55}, {"windowFrom", "08:00"}, {"windowTo", "21:00"}})}),
                         JSONValue(std::move(known)), JSONValue(JSONArray{}));
    scriptMapSettings(*server_, JSONValue::object({{"key", "test-key"}}));
    scriptAddressUpload(*server_);
    server_->on("POST", "/geo/clean", [](const Hit& hit) {
      const std::string query = hit.json()["query"].string();
      if (query.rfind(kStreet, 0) != 0) return Answer::json(JSONValue::object({{"found", nullptr}, {"provider", "dadata"}}));
      const int n = std::stoi(query.substr(std::string(kStreet).size()));
      JSONValue found = JSONValue::object({{"lat", latOf(n)}, {"lon", lonOf(n)}, {"value", "г " + query}, {"qc", "0"}});
      return Answer::json(JSONValue::object({{"found", found}, {"provider", "dadata"}})).delayed(5ms);
    });
    monitoring_ = std::make_unique<MonitoringDesk>(*server_);
    async::runBlocking(SecureStore::write(std::nullopt, "refresh:" + server_->url()));
    async::runBlocking(SecureStore::write(std::nullopt, "profile:" + server_->url()));
  }

  std::unique_ptr<StandInServer> server_;
  std::unique_ptr<SessionServer> session_;
  std::unique_ptr<AdminDesk> admin_;
  std::unique_ptr<StaffDesk> staff_;
  std::unique_ptr<ShiftsDesk> shifts_;
  std::unique_ptr<MonitoringDesk> monitoring_;
  std::shared_ptr<AnsweringDialogs> dialogs_ = std::make_shared<AnsweringDialogs>();
  int shots_ = 0;
};

}  // namespace

TEST_F(WorkingDay, ALogistPlansPublishesAndWatchesTheDayThenAnAdministratorAndOffline) {
  scriptServer();
  const std::string workbook = folder_ + "/Заказы на среду.xlsx";
  writeFileAtomically(workbook, orderWorkbook());
  dialogs_->openAnswer = workbook;

  // Sign in as a logist: the workspace opens with the depot of the profile.
  launch();
  ASSERT_EQ(window_->screenKind(), 0);
  shot("sign-in");
  signIn("logist", "пароль-логиста");
  EXPECT_EQ(server_->hitsOn("/auth/login").at(0).json()["login"].string(), "logist");
  EXPECT_NE(findLabel(root(), "Ирина Логист"), nullptr);
  EXPECT_NE(findLabel(root(), "Подключено"), nullptr);
  ASSERT_NE(openPage<planning::PlannerView>(PanelPage::planning), nullptr);
  ASSERT_TRUE(spinUntil([&] { return findLabel(plannerPage(), "Склад Север") != nullptr; })) << "the user's depot";
  EXPECT_FALSE(enabled("Геокодирование", plannerPage())) << "no orders yet";
  shot("planning-empty");

  // The workbook: 200 orders without coordinates and the couriers of the day.
  click("Открыть Excel", plannerPage());
  ASSERT_TRUE(spinUntil([&] { return model->orderIDs().size() == std::size_t(kOrders) && !model->busy(); }, 60s))
      << model->error().value_or("");
  spin();
  for (const char* text : {"Заказы на среду.xlsx", "200 заказов", "Уточнить: 200"})
    EXPECT_NE(findLabel(plannerPage(), text), nullptr) << text;
  EXPECT_EQ(model->planner()["vehicles"].array().size(), 6u);
  shot("workbook-opened");

  // The coordinates: the bar shows the search's progress and its stop button until every address is found; only
  // the addresses the server's memory lacks are looked up.
  click("Геокодирование", plannerPage());
  GtkWidget* progress = nullptr;
  ASSERT_TRUE(spinUntil([&] {
    progress = labelStarting(plannerPage(), "Проверено ");
    return progress && std::string(gtk_label_get_text(GTK_LABEL(progress))) != "Проверено 0 из 200";
  }));
  EXPECT_NE(findButton(plannerPage(), "Остановить"), nullptr);
  EXPECT_FALSE(enabled("Рассчитать", plannerPage()));
  shot("geocoding");
  ASSERT_TRUE(spinUntil([&] { return !model->geocoding(); }, 60s));
  ASSERT_TRUE(idle());
  EXPECT_EQ(findButton(plannerPage(), "Остановить"), nullptr) << "the bar goes with the search";
  EXPECT_EQ(server_->hits("POST", "/geo/clean"), std::size_t(kUnknown));
  EXPECT_EQ(labelStarting(plannerPage(), "Уточнить: "), nullptr);

  // The routes.
  click("Рассчитать", plannerPage());
  ASSERT_TRUE(spinUntil([&] { return !model->busy() && model->planner()["planned"].boolValue(); }, 120s))
      << model->error().value_or("");
  spin();
  std::size_t routes = model->routes().size();
  ASSERT_GE(routes, 2u);
  EXPECT_NE(findLabel(plannerPage(), std::to_string(routes) + " маршрутов"), nullptr);
  EXPECT_TRUE(enabled("Отправить курьерам", plannerPage()));
  EXPECT_TRUE(enabled("По дорогам", plannerPage()));
  shot("calculated");

  // The map: a pin dragged where the house really stands, then taken back with Ctrl+Z.
  click("Карта", plannerPage());
  auto* map = widgetOf<planning::PlannerMapView>(plannerPage());
  ASSERT_NE(map, nullptr);
  GtkWidget* mapRoot = GTK_WIDGET(map->gobj());
  ASSERT_TRUE(pickInDropDown(mapRoot, "Исправить координаты"));
  spin();
  EXPECT_NE(findLabel(mapRoot, "Ctrl+Z — отменить исправление"), nullptr);
  ASSERT_TRUE(spinUntil([&] { return map->surface().state().ready() && map->surface().webView(); }, 60s));
  WebKitWebView* web = map->surface().webView()->webView();
  const std::string pins = std::to_string(kOrders + 1);  // the orders and the depot
  ASSERT_TRUE(spinUntil([&] { return evaluateInPage(web, "document.querySelectorAll('.pin').length") == pins; }));
  const std::string movedID = model->planner()["orders"].at(0)["_nativeID"].string();
  auto pointOf = [&](const std::string& id) {
    return std::make_pair(order(id)["lat"].doubleValue().value_or(0), order(id)["lon"].doubleValue().value_or(0));
  };
  const auto where = pointOf(movedID);
  EXPECT_EQ(onPin(*map, movedID, false, std::make_pair(55.80, 37.45)), "ok");
  ASSERT_TRUE(spinUntil([&] { return std::abs(pointOf(movedID).first - 55.80) < 0.002; })) << "the drag reaches the plan";
  ASSERT_TRUE(spinUntil([&] { return windowUndoStack(*map)->canUndo() && !model->busy(); }));
  spin();
  shot("map-pin-moved");
  ASSERT_TRUE(pressShortcut(root(), GDK_KEY_z, GDK_CONTROL_MASK));
  ASSERT_TRUE(spinUntil([&] { return pointOf(movedID) == where; })) << "Ctrl+Z puts it back";
  ASSERT_TRUE(idle());

  // The map's transfer: two pins of one courier picked on the map and handed to another.
  auto courierOf = [&](const std::string& id) { return order(id)["_drv"].string(); };
  const std::string from = courierOf(movedID);
  std::vector<std::string> picked;
  std::string to;
  for (const JSONValue& one : model->planner()["orders"].array()) {
    const std::string courier = one["_drv"].string();
    if (courier == from && picked.size() < 2) picked.push_back(one["_nativeID"].string());
    if (to.empty() && !courier.empty() && courier != from) to = courier;
  }
  ASSERT_EQ(picked.size(), 2u);
  ASSERT_FALSE(to.empty());
  ASSERT_TRUE(pickInDropDown(mapRoot, "Передать курьеру"));
  spin();
  EXPECT_EQ(onPin(*map, picked[0], false), "ok");
  EXPECT_EQ(onPin(*map, picked[1], true), "ok");
  ASSERT_TRUE(spinUntil([&] { return model->selectedOrders().size() == 2; }));
  spin();
  EXPECT_NE(findLabel(mapRoot, "Выбрано: 2"), nullptr);
  GtkWidget* assign = findWidget(mapRoot, [](GtkWidget* w) { return GTK_IS_MENU_BUTTON(w) && findLabel(w, "Назначить курьеру"); });
  ASSERT_TRUE(assign && gtk_widget_is_sensitive(assign));
  ASSERT_TRUE(chooseMenuItem(assign, to));
  ASSERT_TRUE(spinUntil([&] { return courierOf(picked[0]) == to && courierOf(picked[1]) == to && !model->busy(); }));
  spin();
  shot("map-transfer");

  // The routes view: the first stop of a route handed to another courier through its menu.
  click("Маршруты", plannerPage());
  auto* routesView = widgetOf<planning::PlanningRoutesView>(plannerPage());
  ASSERT_NE(routesView, nullptr);
  ASSERT_NE(routesView->routeList().get_row_at_index(0), nullptr);
  routesView->routeList().select_row(*routesView->routeList().get_row_at_index(0));
  Gtk::ListBoxRow* stopRow = nullptr;
  ASSERT_TRUE(spinUntil([&] { return (stopRow = routesView->stopList().get_row_at_index(0)) != nullptr; }));
  auto firstRouteSize = [&] { return model->planner()["routes"].at(0)["orders"].array().size(); };
  const std::size_t before = firstRouteSize();
  GtkWidget* stopMenu = findWidget(GTK_WIDGET(stopRow->gobj()), [](GtkWidget* w) { return GTK_IS_MENU_BUTTON(w); });
  ASSERT_NE(stopMenu, nullptr);
  // Handed to the courier of the second route: the plan's shape (which vans stay idle) is the optimiser's choice.
  const std::string second = model->routes().at(1)["vehicle.ref"].string();
  ASSERT_NE(second, model->routes().at(0)["vehicle.ref"].string());
  ASSERT_TRUE(chooseMenuItem(stopMenu, second));
  ASSERT_TRUE(spinUntil([&] { return firstRouteSize() < before && !model->busy(); })) << "the stop leaves the route";
  spin();
  shot("routes-reassigned");
  routes = model->routes().size();  // the map's transfer may have emptied a route

  // Road refinement: the pending legs asked of the server one by one; the server's routing quota runs out after
  // twenty, and the plan keeps what was refined (a second look lists only the rest and asks nothing).
  RoutingDesk roads(*server_);
  constexpr std::size_t kRefined = 20;
  for (std::size_t i = 0; i < kRefined; ++i)
    roads.queue(Answer::json(JSONValue::object({{"calculatedByRoads", true}, {"km", 2.5}, {"min", 6}})));
  const std::string quota = "Превышен дневной лимит обращений к маршрутизации.";
  roads.refuseNext(429, quota);
  click("Транспорт", plannerPage());
  GtkWidget* sheet = nullptr;
  auto pendingLegs = [&]() -> std::size_t {
    click("По дорогам", plannerPage());
    const std::string lead = "Плеч маршрута к расчёту: ";
    GtkWidget* line = nullptr;
    if (!spinUntil([&] {
          return (sheet = findWindow(planning::kRoadsTitle)) && enabled("Рассчитать", sheet) &&
                 (line = labelStarting(sheet, lead));
        }))
      return 0;
    return std::stoul(std::string(gtk_label_get_text(GTK_LABEL(line))).substr(lead.size()));
  };
  auto closeRoads = [&] {
    click("Закрыть", sheet);
    ASSERT_TRUE(spinUntil([&] { return findWindow(planning::kRoadsTitle) == nullptr; }));
  };
  const std::size_t legs = pendingLegs();
  EXPECT_GT(legs, std::size_t(kOrders) / 2);
  shot("roads", sheet);
  click("Рассчитать", sheet);
  ASSERT_TRUE(spinUntil([&] { return findLabel(sheet, quota) != nullptr; }, 60s));
  ASSERT_TRUE(idle());
  EXPECT_EQ(roads.routeHits().size(), kRefined + 1);
  shot("roads-interrupted", sheet);
  closeRoads();
  EXPECT_EQ(pendingLegs(), legs - kRefined) << "the refined legs are kept";
  closeRoads();
  EXPECT_EQ(roads.routeHits().size(), kRefined + 1) << "looking asks nothing";

  // History: the plan saved by hand, then opened again from the history page (confirmed, the current plan kept).
  openPage(PanelPage::history);
  const std::size_t snapshots = model->history().size();
  click("Сохранить текущий план");
  ASSERT_TRUE(spinUntil([&] { return model->history().size() == snapshots + 1; }));
  spin();
  EXPECT_NE(findLabel(root(), "Сохранённый план"), nullptr);
  shot("history");
  click("Открыть");
  AdwMessageDialog* confirmation = nullptr;
  ASSERT_TRUE(spinUntil([&] { return (confirmation = shownConfirmation("Открыть сохранённый план?")) != nullptr; }));
  adw_message_dialog_response(confirmation, "confirm");
  ASSERT_TRUE(spinUntil([&] {
    return model->page() == PanelPage::planning && planner() && !model->busy() &&
           model->status() == "Сохранённое планирование открыто. Публикация курьерам выполняется отдельно.";
  }));
  spin();
  EXPECT_EQ(model->routes().size(), routes);
  shot("history-reopened");

  // Publication: the server's routes of the date checked first, then the plan sent.
  server_->on("GET", "/plans/existing", [this](const Hit&) {
    return Answer::json(JSONValue::object(
        {{"routes", static_cast<double>(monitoring_->routeIDs().size())}, {"started", 0}, {"hasActivity", false}}));
  });
  click("Отправить курьерам", plannerPage());
  const std::string publishTitle = "Отправить план курьерам";
  GtkWidget* publication = nullptr;
  ASSERT_TRUE(spinUntil([&] {
    return (publication = findWindow(publishTitle)) &&
           findLabel(publication, "На сервере: 0. С отметками курьеров: 0.") && enabled("Отправить", publication);
  }));
  spin(300ms);  // the sheet grows to its new content
  shot("publication", publication);
  click("Отправить", publication);
  ASSERT_TRUE(spinUntil([&] { return findWindow(publishTitle) == nullptr && !model->busy(); }));
  EXPECT_EQ(model->status(), "План отправлен курьерам.");
  ASSERT_EQ(server_->hits("POST", "/plans/import"), 1u);
  const JSONValue posted = server_->hitsOn("/plans/import").at(0).json();
  EXPECT_EQ(posted["routes"].array().size(), routes);
  const std::string day = posted["date"].string();

  // Monitoring: the published routes on the dashboard; one route's sheet, its last point moved first and saved.
  auto* watch = openPage<monitoring::MonitoringView>(PanelPage::overview);
  ASSERT_NE(watch, nullptr);
  ASSERT_TRUE(spinUntil([&] { return !watch->state()->loading() && watch->filtered().size() == routes; }));
  spin();
  GtkWidget* watchPage = GTK_WIDGET(watch->gobj());
  const std::string routeID = monitoring_->routeIDs().front();
  const std::string routeTitle = monitoring_->route(routeID)["externalRouteId"].string();
  EXPECT_NE(findLabel(watchPage, routeTitle), nullptr);
  EXPECT_NE(findLabel(watchPage, std::to_string(routes)), nullptr) << "the tile of routes";
  const auto hits = server_->hitsOn("/monitoring/routes");
  EXPECT_TRUE(std::any_of(hits.begin(), hits.end(), [&](const Hit& hit) { return hit.query == "date=" + day; }));
  shot("monitoring");
  // Moves the route's last point first and saves; the server receives the new order and the sheet reloads.
  const std::string reorderPath = "/monitoring/routes/" + routeID + "/reorder";
  auto moveLastFirst = [&](GtkWidget* detail, const char* shotBefore) {
    const JSONValue current = monitoring_->route(routeID)["points"];
    const std::size_t points = current.size();
    ASSERT_GE(points, 3u);
    const std::size_t saved = server_->hits("POST", reorderPath);
    ASSERT_TRUE(monitoring::dropRows(*Glib::wrap(GTK_WINDOW(detail)), {points - 1}, 0));
    ASSERT_TRUE(spinUntil([&] { return enabled("Сохранить порядок", detail); }));
    if (shotBefore) shot(shotBefore, detail);
    click("Сохранить порядок", detail);
    ASSERT_TRUE(spinUntil([&] { return server_->hits("POST", reorderPath) == saved + 1; }));
    JSONArray expected{current.at(points - 1)["pointId"]};
    for (std::size_t i = 0; i + 1 < points; ++i) expected.push_back(current.at(i)["pointId"]);
    EXPECT_EQ(server_->hitsOn(reorderPath).at(saved).json(), JSONValue::object({{"order", JSONValue(expected)}}));
    ASSERT_TRUE(spinUntil([&] { return monitoring_->route(routeID)["points"].at(0)["pointId"] == expected[0]; }));
    ASSERT_TRUE(spinUntil([&] { return enabled("Сохранить порядок", detail); })) << "the route is loaded again";
  };
  GtkWidget* detail = openFirstRoute(watch, routeTitle);
  ASSERT_NE(detail, nullptr);
  ASSERT_TRUE(spinUntil([&] { return enabled("Сохранить порядок", detail); }));
  moveLastFirst(detail, "route-reordered");
  closeRoute(detail);

  // The period report of today: the day's routes summed up by the server, exported through the save dialog.
  ReportsDesk reports(*server_, *monitoring_);
  auto* report = openPage<monitoring::ReportsView>(PanelPage::reports);
  ASSERT_NE(report, nullptr);
  ASSERT_TRUE(spinUntil([&] { return server_->hits("/reports/summary") >= 1 && !report->state()->loading(); }));
  spin();
  EXPECT_EQ(server_->hitsOn("/reports/summary").back().query, "from=" + day + "&to=" + day);
  EXPECT_FALSE(report->rows().empty());
  shot("report");
  dialogs_->saveAnswer = folder_ + "/отчёт.xlsx";
  click("Экспорт Excel", GTK_WIDGET(report->gobj()));
  ASSERT_TRUE(spinUntil([&] { return std::filesystem::exists(*dialogs_->saveAnswer) && !model->busy(); }));
  EXPECT_GT(std::filesystem::file_size(*dialogs_->saveAnswer), 1000u);

  // Signing out leaves the sign-in screen and tells the server.
  signOut();
  EXPECT_TRUE(spinUntil([&] { return server_->hits("POST", "/auth/logout") == 1; })) << "the server hears of it";
  shot("signed-out");

  // An administrator adds a client, an address and a zone through the data pages' editors.
  AdminDesk& admin = *admin_;
  server_->on("GET", "/panel/zones", [&admin](const Hit&) {
    return Answer::json(JSONValue::object({{"zones", admin.list("zones")}}));
  });
  signIn("admin", "пароль-администратора");
  EXPECT_NE(findLabel(root(), "Анна Администратор"), nullptr);
  admin::DataScreenView* data = nullptr;
  GtkWidget* editor = nullptr;
  std::tie(data, editor) = addRecord(PanelPage::clients);
  ASSERT_NE(editor, nullptr);
  type(editor, {{"Название", "Кофейня «Зёрна»"}});
  shot("client-editor", editor);
  click("Сохранить", editor);
  ASSERT_TRUE(spinUntil([&] { return data->editorSheet() == nullptr && !data->controller()->loading(); }));
  spin();
  EXPECT_EQ(lastBody("POST", "/panel/clients")["name"], JSONValue("Кофейня «Зёрна»"));
  EXPECT_NE(findLabel(root(), "Кофейня «Зёрна»"), nullptr);
  shot("client-added");

  const std::size_t uploads = server_->hits("POST", "/panel/addresses");
  std::tie(data, editor) = addRecord(PanelPage::addresses);
  ASSERT_NE(editor, nullptr);
  type(editor, {{"Адрес", "Москва, Новая улица, 5"}, {"Широта", "55.76"}, {"Долгота", "37.61"}});
  click("Сохранить", editor);
  ASSERT_TRUE(spinUntil([&] { return data->editorSheet() == nullptr && server_->hits("POST", "/panel/addresses") > uploads; }))
      << "the address memory uploads the new address";
  bool uploaded = false;
  const JSONValue upload = lastBody("POST", "/panel/addresses");
  for (const JSONValue& row : upload["addresses"].array())
    uploaded |= row["address"].string() == "Москва, Новая улица, 5" && row["lat"] == JSONValue(55.76);
  EXPECT_TRUE(uploaded);
  spin();
  shot("address-added");

  std::tie(data, editor) = addRecord(PanelPage::zones);
  ASSERT_NE(editor, nullptr);
  type(editor, {{"Название", "Север"}});
  auto* zoneEditor = widgetOf<admin::RecordEditorView>(editor);
  ASSERT_TRUE(zoneEditor && zoneEditor->map());
  ASSERT_TRUE(spinUntil([&] { return zoneEditor->map()->state().ready() && zoneEditor->map()->webView(); }, 60s));
  // Three clicks on the map, as the map library reports them to the page.
  for (const char* vertex : {"37.50, 55.80", "37.60, 55.80", "37.55, 55.74"})
    EXPECT_EQ(evaluateInPage(zoneEditor->map()->webView()->webView(),
                             std::string("(function () { var map = __stub.maps[__stub.maps.length - 1];"
                                         " (map.handlers.click || []).forEach(function (h) { h({lngLat: [") +
                                 vertex + "]}); }); return 'ok'; })()"),
              "ok");
  ASSERT_TRUE(spinUntil([&] { return findLabel(editor, "Вершин: 3") != nullptr; }));
  shot("zone-editor", editor);
  click("Сохранить", editor);
  ASSERT_TRUE(spinUntil([&] { return data->editorSheet() == nullptr; }));
  ASSERT_EQ(admin.list("zones").size(), 1u);
  EXPECT_EQ(admin.list("zones").at(0)["name"], JSONValue("Север"));
  EXPECT_EQ(admin.list("zones").at(0)["points"].size(), 3u);
  spin();
  shot("zone-added");

  // A courier's fine for a day of this month, added on the shifts page.
  auto* shiftsPage = openPage<admin::ShiftsView>(PanelPage::shifts);
  ASSERT_NE(shiftsPage, nullptr);
  ASSERT_TRUE(spinUntil([&] { return shiftsPage->controller()->editable(); }));
  auto* pay = widgetOf<admin::PayPanel>(root());
  ASSERT_NE(pay, nullptr);
  shiftsPage->table().setSelectedIds({"k-1"});
  shiftsPage->controller()->select("k-1");
  spin();
  EXPECT_EQ(pay->rateEntry().get_text(), "2500") << "the depot's rate";
  pay->dayEntry().set_text("3");
  pay->kindPicker().set_selected(1);
  pay->amountEntry().set_text("700");
  pay->noteEntry().set_text("опоздание");
  click("Добавить", GTK_WIDGET(pay->gobj()));
  ASSERT_TRUE(spinUntil([&] { return server_->hits("POST", "/panel/shifts/adjust") == 1 && shiftsPage->controller()->editable(); }));
  spin();
  EXPECT_EQ(lastBody("POST", "/panel/shifts/adjust"),
            JSONValue::object({{"courierId", "k-1"}, {"date", admin::monthKey(std::chrono::system_clock::now()) + "-03"},
                               {"kind", "fine"}, {"amount", 700}, {"note", "опоздание"}}));
  EXPECT_EQ(pay->adjustmentTexts(), std::vector<std::string>{"3 · Штраф · 700 ₽"});
  shot("pay-adjustment");
  signOut();

  // The superadmin adds a staff member to the company's depot.
  staff_->companies() = JSONValue::decode(R"([{"id": "c-day", "name": "ООО «День доставки»"}])");
  staff_->depots() = JSONValue::decode(
      R"([{"id": "d1", "companyId": "c-day", "name": "Склад Север", "address": "Москва, Учебная улица, 1", "windowFrom": "08:00", "windowTo": "21:00"}])");
  signIn("superadmin", "пароль-суперадминистратора");
  auto* people = openPage<admin::StaffView>(PanelPage::people);
  ASSERT_NE(people, nullptr);
  ASSERT_TRUE(spinUntil([&] { return !people->screen()->state()->loading(); }));
  people->companyPicker().set_selected(1);
  ASSERT_TRUE(spinUntil([&] { return people->screen()->company() == "c-day" && !people->screen()->state()->loading(); }));
  click("Добавить", GTK_WIDGET(people->gobj()));
  ASSERT_TRUE(spinUntil([&] { return people->editorSheet() != nullptr; }));
  editor = GTK_WIDGET(people->editorSheet()->gobj());
  ASSERT_TRUE(spinUntil([&] { return findLabel(editor, "Склад Север") != nullptr; }));
  type(editor, {{"Имя", "Пётр Петров"}, {"Логин", "petrov"}, {"Телефон", "+7 900 000-00-01"},
                {"Пароль от 8 знаков", "пароль-петрова"}});
  GtkWidget* depotSwitch = findWidget(editor, [](GtkWidget* w) { return GTK_IS_SWITCH(w); });
  ASSERT_NE(depotSwitch, nullptr);
  gtk_switch_set_active(GTK_SWITCH(depotSwitch), TRUE);
  spin();
  shot("staff-editor", editor);
  ASSERT_TRUE(pressReturnIn(entryRow(editor, "Пароль от 8 знаков")));
  ASSERT_TRUE(spinUntil([&] { return people->editorSheet() == nullptr && people->table().rows().size() == 1; }));
  const JSONValue person = lastBody("POST", "/staff/people");
  EXPECT_EQ(person["login"], JSONValue("petrov"));
  EXPECT_EQ(person["depots"], JSONValue::array({"d1"}));
  shot("staff-added");
  signOut();

  // Offline: the logist's workspace opened again while the server is away shows the cached plan and refuses
  // writes with the client's message; nothing reaches the stopped server.
  signIn("logist", "пароль-логиста");
  openPage(PanelPage::planning);
  ASSERT_TRUE(spinUntil([&] { return model->orderIDs().size() == std::size_t(kOrders); }));
  closeWindow();
  server_->stop();
  launch();
  ASSERT_TRUE(spinUntil([&] { return window_->screenKind() == 2 && !model->busy(); }, 60s))
      << "the saved session opens its workspace";
  EXPECT_TRUE(model->offline());
  for (const char* text : {"Нет интернета. Открыт сохранённый рабочий день.", "Нет соединения", "Локальные данные"})
    EXPECT_NE(findLabel(root(), text), nullptr) << text;
  ASSERT_NE(openPage<planning::PlannerView>(PanelPage::planning), nullptr);
  EXPECT_NE(findLabel(plannerPage(), "200 заказов"), nullptr) << "the cached plan";
  EXPECT_NE(findLabel(plannerPage(), std::to_string(routes) + " маршрутов"), nullptr);
  EXPECT_FALSE(enabled("Отправить курьерам", plannerPage())) << "no publication offline";
  EXPECT_FALSE(enabled("По дорогам", plannerPage()));
  shot("offline-plan");
  auto* clients = openPage<admin::DataScreenView>(PanelPage::clients);
  ASSERT_TRUE(clients && spinUntil([&] { return !clients->controller()->loading(); }));
  spin();
  EXPECT_NE(findLabel(root(), "Сохранённая копия"), nullptr);
  EXPECT_FALSE(enabled("Добавить", GTK_WIDGET(clients->gobj()))) << "no new records offline";
  shot("offline-clients");

  const std::size_t hitsBefore = server_->allHits().size();
  watch = openPage<monitoring::MonitoringView>(PanelPage::overview);
  ASSERT_NE(watch, nullptr);
  ASSERT_TRUE(spinUntil([&] { return !watch->state()->loading() && watch->filtered().size() == routes; }));
  spin();
  ASSERT_NE(detail = openFirstRoute(watch, routeTitle), nullptr);
  spin(300ms);
  EXPECT_FALSE(enabled("Сохранить порядок", detail)) << "no writes offline";
  EXPECT_FALSE(enabled("Назначить", detail));
  EXPECT_EQ(server_->allHits().size(), hitsBefore) << "nothing reached the stopped server";
  shot("offline-route", detail);
  closeRoute(detail);

  // The server back: a refresh finds it, and the next write goes through.
  server_->resume();
  click("Обновить", GTK_WIDGET(watch->gobj()));
  ASSERT_TRUE(spinUntil([&] { return !model->offline() && !watch->state()->loading(); }));
  spin();
  EXPECT_NE(findLabel(root(), "Подключено"), nullptr);
  ASSERT_NE(detail = openFirstRoute(watch, routeTitle), nullptr);
  ASSERT_TRUE(spinUntil([&] { return enabled("Сохранить порядок", detail); }));
  moveLastFirst(detail, nullptr);
  shot("online-again", detail);
}
