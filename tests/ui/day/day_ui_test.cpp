// A working day of a depot end to end, through the main window's own widgets, over the real model, planner
// components, Secret Service and WebKit map page (with the test's stand-in of the map library), against the
// loopback stand-in server: a logist plans, corrects, publishes and watches the day, then reports on it; an
// administrator adds reference data; the workspace opens offline from its cache and refuses writes until the
// server is back. Each step writes build/screens/day/NN-name.png in order, so a person can page through the day.
#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtkmm.h>
#include <webkit/webkit.h>

#include <cmath>
#include <filesystem>
#include <set>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/async/task.h"
#include "core/base/files.h"
#include "core/engine/planner_engine.h"
#include "core/engine/script_context.h"
#include "core/store/secure_store.h"
#include "admin/data_screen_view.h"
#include "admin/logic/payroll.h"
#include "admin/pay_panel.h"
#include "admin/record_editor_view.h"
#include "admin/shifts_view.h"
#include "admin/staff_view.h"
#include "map/map_surface.h"
#include "monitoring/monitoring_view.h"
#include "monitoring/reports_view.h"
#include "monitoring/route_detail.h"
#include "map/map_web_view.h"
#include "model/file_dialogs.h"
#include "model/workbook_files.h"
#include "planning/planner_map_view.h"
#include "planning/planner_view.h"
#include "planning/logic/road_refinement.h"
#include "planning/planning_routes_view.h"
#include "shell/application.h"
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
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::testing;
using namespace std::chrono_literals;

namespace {

constexpr int kOrders = 200;
// The houses the company's address memory does not know yet: the server's geocoder finds them, one request at a
// time as the client spaces them.
constexpr int kUnknown = 16;
const char* const kStreet = "Москва, Учебная улица, ";

// Where the server's geocoder puts house n of the street: a grid of 20 × 10 houses north-west of the depot.
// Rounded to whole micro-degrees, as a geocoder answers, so the tables show "55.772" rather than binary noise.
double latOf(int n) { return std::round((55.70 + (n % 20) * 0.004) * 1e6) / 1e6; }
double lonOf(int n) { return std::round((37.50 + (n / 20) * 0.006) * 1e6) / 1e6; }

// The desktop's open and save dialogs, answered with the files the test sets.
class AnsweringDialogs : public FileDialogs {
 public:
  std::optional<std::string> openAnswer;
  std::optional<std::string> saveAnswer;
  std::vector<std::string> suggested;
  async::Task<Chosen> openFile(std::vector<std::string>) override { co_return openAnswer; }
  async::Task<Chosen> saveFile(std::string name) override {
    suggested.push_back(name);
    co_return saveAnswer;
  }
};

// The order workbook of the day as a dispatcher's spreadsheet holds it, written by the workbook library: the
// orders without coordinates, and the couriers of the day on the "Транспорт" sheet.
std::string orderWorkbookOnThisThread() {
  JSONArray orders{JSONValue::array({"Номер заказа", "Клиент", "Адрес", "Временное окно", "Количество мест"})};
  for (int n = 1; n <= kOrders; ++n)
    orders.push_back(JSONValue::array({"Z-" + std::to_string(1000 + n), "Клиент " + std::to_string(n),
                                       kStreet + std::to_string(n), n % 3 ? "09:00-18:00" : "10:00-16:00", 1}));
  JSONArray vehicles{JSONValue::array({"Логин курьера / код машины", "Имя", "Смена", "Вместимость, мест", "На смене"})};
  for (const auto& [login, name] : std::vector<std::pair<std::string, std::string>>{
           {"ivanov", "Иванов"}, {"petrov", "Петров"}, {"sidorov", "Сидоров"}, {"orlov", "Орлов"}, {"belov", "Белов"},
           {"zuev", "Зуев"}})
    vehicles.push_back(JSONValue::array({login, name, "08:00-20:00", 60, "да"}));
  ScriptContext script;
  script.evaluateFile(*PlannerEngine::bundleResources() / "xlsx.full.min.js", "xlsx.full.min");
  const std::string base64 = script.evaluate(
      "(function () { const book = XLSX.utils.book_new();"
      " XLSX.utils.book_append_sheet(book, XLSX.utils.aoa_to_sheet(" +
      JSONValue(std::move(orders)).json() +
      "), 'Заказы');"
      " XLSX.utils.book_append_sheet(book, XLSX.utils.aoa_to_sheet(" +
      JSONValue(std::move(vehicles)).json() +
      "), 'Транспорт');"
      " return XLSX.write(book, {type: 'base64', bookType: 'xlsx'}); })()");
  return decodeBase64(base64).value();
}

// The workbook library runs on a thread of its own, as the planner components do: a script context on the main
// thread before the first web view keeps WebKit's pages from ever loading in this process.
std::string orderWorkbook() {
  std::string bytes;
  std::thread writer([&] { bytes = orderWorkbookOnThisThread(); });
  writer.join();
  return bytes;
}

// The address memory on the server: every house of the street but the first kUnknown.
JSONValue knownAddresses() {
  JSONArray rows;
  for (int n = kUnknown + 1; n <= kOrders; ++n)
    rows.push_back(JSONValue::object(
        {{"address", kStreet + std::to_string(n)}, {"lat", latOf(n)}, {"lon", lonOf(n)}, {"source", "dadata"}}));
  return JSONValue(std::move(rows));
}

// A label on screen whose text starts with `prefix` (a count, a progress line), or null.
GtkWidget* labelStarting(GtkWidget* root, const std::string& prefix) {
  return findWidget(root, [&](GtkWidget* w) {
    return GTK_IS_LABEL(w) && gtk_widget_get_mapped(w) &&
           std::string(gtk_label_get_text(GTK_LABEL(w))).rfind(prefix, 0) == 0;
  });
}

// Runs a script in a web view and answers its result as text ("" on failure).
std::string evaluate(WebKitWebView* view, const std::string& script) {
  struct Result {
    bool done = false;
    std::string text;
  } result;
  webkit_web_view_evaluate_javascript(
      view, script.c_str(), -1, nullptr, nullptr, nullptr,
      [](GObject* source, GAsyncResult* res, gpointer data) {
        auto* out = static_cast<Result*>(data);
        GError* error = nullptr;
        JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, &error);
        if (value) {
          g_autofree char* text = jsc_value_to_string(value);
          out->text = text ? text : "";
          g_object_unref(value);
        } else {
          out->text = std::string("error: ") + (error ? error->message : "");
          g_clear_error(&error);
        }
        out->done = true;
      },
      &result);
  spinUntil([&] { return result.done; }, 10s);
  return result.text;
}

// The index of a pin on a map surface (-1 when it shows none of that id).
int pinIndex(planning::PlannerMapView& map, const std::string& id) {
  const auto& pins = map.surface().content().pins;
  for (std::size_t i = 0; i < pins.size(); ++i)
    if (pins[i].id == id) return static_cast<int>(i);
  return -1;
}

// A pointer drag of a pin in the page, from the pin to the point (lat, lon) of the stand-in library's projection.
std::string pageDrag(WebKitWebView* web, int index, double lat, double lon) {
  return evaluate(web, "(function () { var el = document.querySelector('.pin[data-index=\"" + std::to_string(index) +
                           "\"]'); if (!el) return 'no pin';"
                           " var area = document.getElementById('map').getBoundingClientRect();"
                           " var at = el.getBoundingClientRect();"
                           " var x = area.left + " + std::to_string((lon - 37) * 1000) +
                           ", y = area.top + " + std::to_string((55 - lat) * 1000) + ";"
                           " function send(target, type, cx, cy) { target.dispatchEvent(new PointerEvent(type, {"
                           "bubbles: true, cancelable: true, button: 0, pointerId: 7, clientX: cx, clientY: cy})); }"
                           " send(el, 'pointerdown', at.left + 2, at.top + 2);"
                           " send(document, 'pointermove', x, y); send(document, 'pointerup', x, y); return 'ok'; })()");
}

// A click on a pin in the page, with Ctrl held when `adding`.
std::string pageClick(WebKitWebView* web, int index, bool adding) {
  return evaluate(web, "(function () { var el = document.querySelector('.pin[data-index=\"" + std::to_string(index) +
                           "\"]'); if (!el) return 'no pin';"
                           " el.dispatchEvent(new MouseEvent('click', {bubbles: true, cancelable: true, ctrlKey: " +
                           (adding ? "true" : "false") + "})); return 'ok'; })()");
}

class WorkingDay : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Containers run the tests as root, where WebKit's sandbox cannot start. The program never does this.
    if (geteuid() == 0) g_setenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "1", TRUE);
    initDisplay();
    addMapPageScript(kMapLibraryStandIn);
  }

  void SetUp() override {
    char folder[] = "/tmp/dorvik-day-XXXXXX";
    ASSERT_NE(g_mkdtemp(folder), nullptr);
    folder_ = folder;
    std::filesystem::remove_all(std::filesystem::path(DORVIK_BINARY_DIR) / "screens" / "day");
  }
  void TearDown() override {
    closeWindow();
    std::filesystem::remove_all(folder_);
  }

  // The application's window over a model of its own, as the application makes them, with the file dialogs
  // answered by the test; started as a launch starts it.
  void launch() {
    context_.model = AppModel::create();
    context_.workflows = modelWorkflows(context_.model);
    context_.defaults = std::make_shared<UserDefaults>(folder_ + "/settings.ini");
    ASSERT_TRUE(context_.defaults->set(Settings::serverURL, server_->url()));
    context_.openPreferences = [this](PreferencesTab tab) { showPreferences(context_, window_, tab); };
    context_.model->setFileDialogs(dialogs_);
    appearance_ = std::make_unique<Appearance>(context_.defaults);
    window_ = new RootWindow(context_);
    window_->set_default_size(1400, 880);
    window_->present();
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
    appearance_.reset();
  }

  AppModel& model() { return *context_.model; }
  GtkWidget* root() { return GTK_WIDGET(window_->gobj()); }
  planning::PlannerView* planner() { return widgetOf<planning::PlannerView>(root()); }
  GtkWidget* plannerPage() { return GTK_WIDGET(planner()->gobj()); }

  // The next picture of the day: build/screens/day/NN-name.png.
  void shot(const std::string& name, GtkWidget* widget = nullptr) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d", ++shots_);
    savePNG(widget ? widget : root(), std::string("day/") + number + "-" + name);
  }
  void expectNoAlert(const std::string& step) {
    EXPECT_EQ(window_->alert(), nullptr) << step << ": " << model().error().value_or("");
  }
  bool idle(std::chrono::milliseconds timeout = 30s) {
    const bool done = spinUntil([&] { return !model().busy(); }, timeout);
    spin();
    return done;
  }
  // Presses the button reading `text` under `within` (the window when null); it must be there and enabled.
  void click(const std::string& text, GtkWidget* within = nullptr) {
    GtkWidget* button = findButton(within ? within : root(), text);
    ASSERT_NE(button, nullptr) << text;
    ASSERT_TRUE(gtk_widget_is_sensitive(button)) << text;
    g_signal_emit_by_name(button, "clicked");
    spin();
  }
  bool enabled(const std::string& text, GtkWidget* within = nullptr) {
    GtkWidget* button = findButton(within ? within : root(), text);
    return button && gtk_widget_is_sensitive(button);
  }
  // The server's next sign-in: the profile of that role, with the tokens the administrator's desk lets through.
  void signInAs(const std::string& role) {
    JSONValue user = role == "logist" ? *session_->profile : StaffDesk::user(role);
    server_->on("POST", "/auth/login", Answer::json(JSONValue::object(
                                          {{"accessToken", "token-" + role}, {"refreshToken", "refresh-" + role}, {"user", user}})));
    server_->on("POST", "/auth/refresh", Answer::json(JSONValue::object(
                                            {{"accessToken", "token-" + role}, {"refreshToken", "refresh-" + role}, {"user", user}})));
  }
  // Shows a data page and waits for its list.
  admin::DataScreenView* showData(PanelPage page) {
    openPage(page);
    admin::DataScreenView* shown = widgetOf<admin::DataScreenView>(root());
    if (!shown || !spinUntil([&] { return !shown->controller()->loading(); })) return nullptr;
    spin();
    return shown;
  }
  // Types into the entry row titled `title` under `within`.
  void type(GtkWidget* within, const std::string& title, const std::string& text) {
    GtkWidget* row = entryRow(within, title);
    ASSERT_NE(row, nullptr) << title;
    gtk_editable_set_text(GTK_EDITABLE(row), text.c_str());
  }
  // The body of the last request of that method to the path, as JSON.
  JSONValue lastBody(const std::string& method, const std::string& path) {
    JSONValue body;
    for (const Hit& hit : server_->hitsOn(path))
      if (hit.method == method) body = hit.json();
    return body;
  }
  // Chooses a page through its sidebar row.
  void openPage(PanelPage page) {
    const std::string raw(rawValue(page));
    GtkWidget* row =
        findWidget(root(), [&](GtkWidget* w) { return GTK_IS_LIST_BOX_ROW(w) && raw == gtk_widget_get_name(w); });
    ASSERT_NE(row, nullptr) << raw;
    gtk_list_box_select_row(GTK_LIST_BOX(gtk_widget_get_parent(row)), GTK_LIST_BOX_ROW(row));
    ASSERT_TRUE(spinUntil([&] { return model().page() == page; })) << raw;
    spin(200ms);
  }
  // Types into the sign-in screen's fields (login, then password) and presses "Войти".
  void signIn(const std::string& login, const std::string& password) {
    GtkWidget* loginField = findWidget(root(), [](GtkWidget* w) { return GTK_IS_ENTRY(w) && gtk_widget_is_visible(w); });
    GtkWidget* passwordField =
        findWidget(root(), [](GtkWidget* w) { return GTK_IS_PASSWORD_ENTRY(w) && gtk_widget_is_visible(w); });
    ASSERT_TRUE(loginField && passwordField);
    gtk_editable_set_text(GTK_EDITABLE(loginField), login.c_str());
    gtk_editable_set_text(GTK_EDITABLE(passwordField), password.c_str());
    click("Войти");
    ASSERT_TRUE(spinUntil([&] { return window_->screenKind() == 2 && !model().busy(); }, 60s))
        << model().error().value_or("");
    spin(200ms);
  }
  void signOut() {
    GtkWidget* logout = findWidget(root(), [](GtkWidget* w) {
      const char* tip = gtk_widget_get_tooltip_text(w);
      return GTK_IS_BUTTON(w) && tip && std::string(tip) == "Выйти";
    });
    ASSERT_NE(logout, nullptr);
    g_signal_emit_by_name(logout, "clicked");
    ASSERT_TRUE(spinUntil([&] { return window_->screenKind() == 0 && !model().busy(); }));
    spin();
  }

  // The server's side of the day.
  void scriptServer() {
    server_ = std::make_unique<StandInServer>();
    // The reference lists an administrator edits; the session, the day's routes and the rest scripted after them
    // take their paths.
    admin_ = std::make_unique<AdminDesk>(*server_);
    staff_ = std::make_unique<StaffDesk>(*server_);
    shifts_ = std::make_unique<ShiftsDesk>(*server_);
    shifts_->setDepot("Склад Север", 2500);
    shifts_->addCourier("k-1", "Иванов Пётр");
    session_ = std::make_unique<SessionServer>(
        *server_, JSONValue::object({{"id", 11},
                                     {"companyId", "c-day"},
                                     {"depotId", "d1"},
                                     {"fullName", "Ирина Логист"},
                                     {"role", "logist"}}));
    scriptReferenceLists(*server_,
                         JSONValue::array({JSONValue::object({{"id", "d1"},
                                                              {"name", "Склад Север"},
                                                              {"lat", 55.74},
                                                              {"lon", 37.55},
                                                              {"windowFrom", "08:00"},
                                                              {"windowTo", "21:00"}})}),
                         knownAddresses(), JSONValue(JSONArray{}));
    scriptMapSettings(*server_, JSONValue::object({{"key", "test-key"}}));
    scriptAddressUpload(*server_);
    server_->on("POST", "/geo/clean", [](const Hit& hit) {
      const std::string query = hit.json()["query"].string();
      if (query.rfind(kStreet, 0) != 0)
        return Answer::json(JSONValue::object({{"found", nullptr}, {"provider", "dadata"}}));
      const int n = std::stoi(query.substr(std::string(kStreet).size()));
      JSONValue found =
          JSONValue::object({{"lat", latOf(n)}, {"lon", lonOf(n)}, {"value", "г " + query}, {"qc", "0"}});
      return Answer::json(JSONValue::object({{"found", found}, {"provider", "dadata"}})).delayed(5ms);
    });
    monitoring_ = std::make_unique<MonitoringDesk>(*server_);
    async::runBlocking(SecureStore::write(std::nullopt, "refresh:" + server_->url()));
    async::runBlocking(SecureStore::write(std::nullopt, "profile:" + server_->url()));
  }

  std::string folder_;
  std::unique_ptr<StandInServer> server_;
  std::unique_ptr<SessionServer> session_;
  std::unique_ptr<AdminDesk> admin_;
  std::unique_ptr<StaffDesk> staff_;
  std::unique_ptr<ShiftsDesk> shifts_;
  std::unique_ptr<MonitoringDesk> monitoring_;
  std::shared_ptr<AnsweringDialogs> dialogs_ = std::make_shared<AnsweringDialogs>();
  ShellContext context_;
  std::unique_ptr<Appearance> appearance_;
  RootWindow* window_ = nullptr;
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
  signIn(" logist ", "пароль-логиста");
  EXPECT_EQ(server_->hitsOn("/auth/login").at(0).json()["login"].string(), "logist");
  EXPECT_NE(findLabel(root(), "Ирина Логист"), nullptr);
  EXPECT_NE(findLabel(root(), "Подключено"), nullptr);
  EXPECT_EQ(server_->hits("GET", "/depots"), 1u);
  openPage(PanelPage::planning);
  ASSERT_NE(planner(), nullptr);
  ASSERT_TRUE(spinUntil([&] { return findLabel(plannerPage(), "Склад Север") != nullptr; }))
      << "the plan starts from the user's depot";
  EXPECT_FALSE(enabled("Геокодирование", plannerPage())) << "no orders yet";
  shot("planning-empty");
  expectNoAlert("sign-in");

  // The workbook: 200 orders without coordinates and the couriers of the day.
  click("Открыть Excel", plannerPage());
  ASSERT_TRUE(spinUntil([&] { return model().orderIDs().size() == std::size_t(kOrders) && !model().busy(); }, 60s))
      << model().error().value_or("");
  spin();
  EXPECT_NE(findLabel(plannerPage(), "Заказы на среду.xlsx"), nullptr);
  EXPECT_NE(findLabel(plannerPage(), "200 заказов"), nullptr);
  EXPECT_NE(findLabel(plannerPage(), "Уточнить: 200"), nullptr);
  EXPECT_EQ(model().planner()["vehicles"].array().size(), 6u);
  EXPECT_FALSE(enabled("Отправить курьерам", plannerPage())) << "not calculated";
  shot("workbook-opened");
  expectNoAlert("workbook");

  // The coordinates: the bar shows the search's progress and its stop button until every address is found.
  click("Геокодирование", plannerPage());
  GtkWidget* progress = nullptr;
  ASSERT_TRUE(spinUntil([&] {
    progress = labelStarting(plannerPage(), "Проверено ");
    return progress && std::string(gtk_label_get_text(GTK_LABEL(progress))) != "Проверено 0 из 200";
  }));
  EXPECT_NE(std::string(gtk_label_get_text(GTK_LABEL(progress))).find(" из 200"), std::string::npos);
  EXPECT_NE(findButton(plannerPage(), "Остановить"), nullptr);
  EXPECT_FALSE(enabled("Рассчитать", plannerPage()));
  shot("geocoding");
  ASSERT_TRUE(spinUntil([&] { return !model().geocoding(); }, 60s))
      << server_->hits("POST", "/geo/clean") << " of " << kOrders << " looked up, "
      << gtk_label_get_text(GTK_LABEL(progress));

  ASSERT_TRUE(idle());
  EXPECT_EQ(findButton(plannerPage(), "Остановить"), nullptr) << "the bar goes with the search";
  EXPECT_EQ(server_->hits("POST", "/geo/clean"), std::size_t(kUnknown)) << "the others are known addresses";
  EXPECT_EQ(model().missingCoordinates(), 0);
  EXPECT_EQ(labelStarting(plannerPage(), "Уточнить: "), nullptr);
  expectNoAlert("geocoding");

  // The routes.
  click("Рассчитать", plannerPage());
  ASSERT_TRUE(spinUntil([&] { return !model().busy() && model().planner()["planned"].boolValue(); }, 120s))
      << model().error().value_or("");
  spin();
  const std::size_t routes = model().routes().size();
  EXPECT_GE(routes, 2u);
  EXPECT_NE(findLabel(plannerPage(), std::to_string(routes) + " маршрутов"), nullptr);
  EXPECT_TRUE(enabled("Отправить курьерам", plannerPage()));
  EXPECT_TRUE(enabled("По дорогам", plannerPage()));
  shot("calculated");
  expectNoAlert("calculation");

  // The map: a pin dragged where the house really stands, then taken back with Ctrl+Z.
  click("Карта", plannerPage());
  auto* map = widgetOf<planning::PlannerMapView>(plannerPage());
  ASSERT_NE(map, nullptr);
  GtkWidget* mapRoot = GTK_WIDGET(map->gobj());
  ASSERT_TRUE(pickInDropDown(mapRoot, "Исправить координаты"));
  spin();
  EXPECT_NE(findLabel(mapRoot, "Ctrl+Z — отменить исправление"), nullptr);
  ASSERT_TRUE(spinUntil([&] { return map->surface().state().ready() && map->surface().webView(); }, 60s))
      << "layer " << int(map->surface().look().layer) << " panel " << map->surface().look().panel.value_or("-")
      << " issue " << model().mapIssue().value_or("-") << " config " << model().mapConfiguration().json()
      << " web " << (map->surface().webView() ? evaluate(map->surface().webView()->webView(), "String(typeof window.mapgl) + ' ' + String(window.__stub && window.__stub.maps.length) + ' ' + document.readyState") : "none");
  WebKitWebView* web = map->surface().webView()->webView();
  const std::size_t pins = map->surface().content().pins.size();
  EXPECT_EQ(pins, std::size_t(kOrders) + 1) << "the orders and the depot";
  ASSERT_TRUE(spinUntil([&] { return evaluate(web, "document.querySelectorAll('.pin').length") == std::to_string(pins); }))
      << "the page draws every pin";
  const JSONValue first = model().planner()["orders"].at(0);
  const std::string movedID = first["_nativeID"].string();
  const double lat = first["lat"].doubleValue().value_or(0), lon = first["lon"].doubleValue().value_or(0);
  EXPECT_EQ(pageDrag(web, pinIndex(*map, movedID), 55.80, 37.45), "ok");
  auto pointOf = [&](const std::string& id) {
    for (const JSONValue& order : model().planner()["orders"].array())
      if (order["_nativeID"].string() == id) return std::make_pair(order["lat"].doubleValue().value_or(0), order["lon"].doubleValue().value_or(0));
    return std::make_pair(0.0, 0.0);
  };
  ASSERT_TRUE(spinUntil([&] { return std::abs(pointOf(movedID).first - 55.80) < 0.002; }))
      << "the drag reaches the plan";
  EXPECT_NEAR(pointOf(movedID).second, 37.45, 0.002);
  EXPECT_EQ(model().selectedOrders(), std::set<std::string>{movedID});
  ASSERT_TRUE(spinUntil([&] { return windowUndoStack(*map)->canUndo() && !model().busy(); }));
  EXPECT_EQ(windowUndoStack(*map)->undoName(), "Изменение координат");
  spin();
  shot("map-pin-moved");
  ASSERT_TRUE(pressShortcut(root(), GDK_KEY_z, GDK_CONTROL_MASK));
  ASSERT_TRUE(spinUntil([&] { return pointOf(movedID) == std::make_pair(lat, lon); })) << "Ctrl+Z puts it back";
  ASSERT_TRUE(idle());
  expectNoAlert("map correction");

  // The map's transfer: two pins of one courier picked on the map and handed to another.
  auto courierOf = [&](const std::string& id) {
    for (const JSONValue& order : model().planner()["orders"].array())
      if (order["_nativeID"].string() == id) return order["_drv"].string();
    return std::string();
  };
  const std::string from = courierOf(movedID);
  std::vector<std::string> picked;
  std::string to;
  for (const JSONValue& order : model().planner()["orders"].array()) {
    if (order["_drv"].string() == from && picked.size() < 2) picked.push_back(order["_nativeID"].string());
    if (to.empty() && !order["_drv"].string().empty() && order["_drv"].string() != from) to = order["_drv"].string();
  }
  ASSERT_EQ(picked.size(), 2u);
  ASSERT_FALSE(to.empty());
  ASSERT_TRUE(pickInDropDown(mapRoot, "Передать курьеру"));
  spin();
  EXPECT_NE(findLabel(mapRoot, "Выбрано: 1"), nullptr) << "the corrected order stays picked";
  EXPECT_EQ(pageClick(web, pinIndex(*map, picked[0]), false), "ok");
  EXPECT_EQ(pageClick(web, pinIndex(*map, picked[1]), true), "ok");
  ASSERT_TRUE(spinUntil([&] { return model().selectedOrders().size() == 2; }));
  spin();
  EXPECT_NE(findLabel(mapRoot, "Выбрано: 2"), nullptr);
  GtkWidget* assign = findWidget(mapRoot, [](GtkWidget* w) { return GTK_IS_MENU_BUTTON(w) && findLabel(w, "Назначить курьеру"); });
  ASSERT_NE(assign, nullptr);
  ASSERT_TRUE(gtk_widget_is_sensitive(assign));
  ASSERT_TRUE(chooseMenuItem(assign, to));
  ASSERT_TRUE(spinUntil([&] { return courierOf(picked[0]) == to && courierOf(picked[1]) == to && !model().busy(); }));
  spin();
  EXPECT_TRUE(enabled("Отменить перенос", mapRoot));
  shot("map-transfer");
  expectNoAlert("map transfer");

  // The routes view: the first stop of a route handed to another courier through its menu.
  click("Маршруты", plannerPage());
  auto* routesView = widgetOf<planning::PlanningRoutesView>(plannerPage());
  ASSERT_NE(routesView, nullptr);
  Gtk::ListBoxRow* routeRow = routesView->routeList().get_row_at_index(0);
  ASSERT_NE(routeRow, nullptr);
  routesView->routeList().select_row(*routeRow);
  spin();
  Gtk::ListBoxRow* stopRow = nullptr;
  ASSERT_TRUE(spinUntil([&] { return (stopRow = routesView->stopList().get_row_at_index(0)) != nullptr; }));
  const std::size_t before = model().planner()["routes"].at(0)["orders"].array().size();
  GtkWidget* stopMenu = findWidget(GTK_WIDGET(stopRow->gobj()), [](GtkWidget* w) { return GTK_IS_MENU_BUTTON(w); });
  ASSERT_NE(stopMenu, nullptr);
  const std::string routeCourier = model().planner()["vehicles"].at(0)["ref"].string();
  std::string other;
  for (const JSONValue& vehicle : model().planner()["vehicles"].array())
    if (other.empty() && vehicle["ref"].string() != routeCourier) other = vehicle["ref"].string();
  ASSERT_TRUE(chooseMenuItem(stopMenu, other));
  ASSERT_TRUE(spinUntil([&] {
    return model().planner()["routes"].at(0)["orders"].array().size() < before && !model().busy();
  })) << "the stop leaves the route";
  spin();
  shot("routes-reassigned");
  expectNoAlert("routes transfer");

  // Road refinement: the pending legs asked of the server one by one, each applied at once; the server's routing
  // quota runs out after twenty, and the plan keeps what was refined (a second look lists only the rest).
  RoutingDesk roads(*server_);
  constexpr std::size_t kRefined = 20;
  for (std::size_t i = 0; i < kRefined; ++i)
    roads.queue(Answer::json(JSONValue::object({{"calculatedByRoads", true}, {"km", 2.5}, {"min", 6}})));
  const std::string quota = "Превышен дневной лимит обращений к маршрутизации.";
  roads.refuseNext(429, quota);
  click("Транспорт", plannerPage());
  auto openRoads = [&]() -> std::pair<GtkWidget*, std::size_t> {
    click("По дорогам", plannerPage());
    GtkWidget* sheet = nullptr;
    const std::string lead = "Плеч маршрута к расчёту: ";
    if (!spinUntil([&] { return (sheet = findWindow(planning::kRoadsTitle)) && enabled("Рассчитать", sheet); }))
      return {sheet, 0};
    GtkWidget* line = labelStarting(sheet, lead);
    if (!line) return {sheet, 0};
    return {sheet, std::stoul(std::string(gtk_label_get_text(GTK_LABEL(line))).substr(lead.size()))};
  };
  auto [sheet, legs] = openRoads();
  ASSERT_NE(sheet, nullptr);
  EXPECT_GT(legs, std::size_t(kOrders) / 2);
  shot("roads", sheet);
  click("Рассчитать", sheet);
  ASSERT_TRUE(spinUntil([&] { return findLabel(sheet, quota) != nullptr; }, 60s));
  ASSERT_TRUE(idle());
  EXPECT_EQ(roads.routeHits().size(), kRefined + 1);
  shot("roads-interrupted", sheet);
  click("Закрыть", sheet);
  ASSERT_TRUE(spinUntil([&] { return findWindow(planning::kRoadsTitle) == nullptr; }));
  auto [again, rest] = openRoads();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(rest, legs - kRefined) << "the refined legs are kept";
  click("Закрыть", again);
  ASSERT_TRUE(spinUntil([&] { return findWindow(planning::kRoadsTitle) == nullptr; }));
  EXPECT_EQ(roads.routeHits().size(), kRefined + 1) << "looking asks nothing";
  expectNoAlert("roads");

  // History: the plan saved by hand, then opened again from the history page (confirmed, the current plan kept).
  openPage(PanelPage::history);
  const std::size_t snapshots = model().history().size();
  click("Сохранить текущий план");
  ASSERT_TRUE(spinUntil([&] { return model().history().size() == snapshots + 1; }));
  spin();
  EXPECT_EQ(model().history().front()["title"].string(), "Сохранённый план");
  EXPECT_NE(findLabel(root(), "Сохранённый план"), nullptr);
  shot("history");
  click("Открыть");
  AdwMessageDialog* confirmation = nullptr;
  ASSERT_TRUE(spinUntil([&] { return (confirmation = shownConfirmation("Открыть сохранённый план?")) != nullptr; }));
  adw_message_dialog_response(confirmation, "confirm");
  ASSERT_TRUE(spinUntil([&] { return model().page() == PanelPage::planning && planner() != nullptr && !model().busy(); }));
  ASSERT_TRUE(spinUntil([&] {
    return model().status() == "Сохранённое планирование открыто. Публикация курьерам выполняется отдельно.";
  }));
  spin();
  EXPECT_EQ(model().history().front()["title"].string(), "Перед восстановлением истории");
  EXPECT_EQ(model().orderIDs().size(), std::size_t(kOrders));
  EXPECT_EQ(model().routes().size(), routes);
  shot("history-reopened");
  expectNoAlert("history");

  // Publication: the server's routes of the date checked first, then the plan sent.
  server_->on("GET", "/plans/existing", [this](const Hit&) {
    return Answer::json(JSONValue::object(
        {{"routes", static_cast<double>(monitoring_->routeIDs().size())}, {"started", 0}, {"hasActivity", false}}));
  });
  ASSERT_TRUE(enabled("Отправить курьерам", plannerPage()));
  click("Отправить курьерам", plannerPage());
  const std::string publishTitle = "Отправить план курьерам";
  GtkWidget* publication = nullptr;
  ASSERT_TRUE(spinUntil([&] { return (publication = findWindow(publishTitle)) != nullptr; }));
  ASSERT_TRUE(spinUntil([&] { return findLabel(publication, "На сервере: 0. С отметками курьеров: 0.") != nullptr; }));
  ASSERT_TRUE(spinUntil([&] { return enabled("Отправить", publication); }));
  spin(300ms);  // the sheet grows to its new content
  shot("publication", publication);
  click("Отправить", publication);
  ASSERT_TRUE(spinUntil([&] { return findWindow(publishTitle) == nullptr && !model().busy(); }));
  EXPECT_EQ(model().status(), "План отправлен курьерам.");
  ASSERT_EQ(server_->hits("POST", "/plans/import"), 1u);
  const JSONValue posted = server_->hitsOn("/plans/import").at(0).json();
  EXPECT_EQ(posted["routes"].array().size(), routes);
  std::size_t postedStops = 0;
  for (const JSONValue& route : posted["routes"].array()) postedStops += route["points"].array().size();
  EXPECT_GT(postedStops, 0u);
  EXPECT_EQ(monitoring_->routeIDs().size(), routes);
  const std::string day = posted["date"].string();
  expectNoAlert("publication");

  // Monitoring: the published routes on the dashboard; one route's sheet, its last point moved first and saved.
  openPage(PanelPage::overview);
  auto* watch = widgetOf<monitoring::MonitoringView>(root());
  ASSERT_NE(watch, nullptr);
  ASSERT_TRUE(spinUntil([&] { return !watch->state()->loading() && watch->filtered().size() == routes; }, 30s));
  spin();
  GtkWidget* watchPage = GTK_WIDGET(watch->gobj());
  const std::string routeID = monitoring_->routeIDs().front();
  const std::string routeTitle = monitoring_->route(routeID)["externalRouteId"].string();
  EXPECT_NE(findLabel(watchPage, routeTitle), nullptr);
  EXPECT_NE(findLabel(watchPage, std::to_string(routes)), nullptr) << "the tile of routes";
  bool askedForTheDay = false;
  for (const Hit& hit : server_->hitsOn("/monitoring/routes")) askedForTheDay |= hit.query == "date=" + day;
  EXPECT_TRUE(askedForTheDay);
  shot("monitoring");
  GtkWidget* list = findWidget(watchPage, [](GtkWidget* w) { return GTK_IS_COLUMN_VIEW(w); });
  ASSERT_NE(list, nullptr);
  gtk_selection_model_select_item(gtk_column_view_get_model(GTK_COLUMN_VIEW(list)), 0, TRUE);
  spin();
  ASSERT_EQ(watch->selection(), std::optional<std::string>(routeID));
  click("Открыть маршрут", watchPage);
  GtkWidget* detail = nullptr;
  ASSERT_TRUE(spinUntil([&] { return (detail = findWindow("Маршрут")) != nullptr; }));
  ASSERT_TRUE(spinUntil([&] { return findLabel(detail, routeTitle) && enabled("Сохранить порядок", detail); }));
  const JSONValue pointsBefore = monitoring_->route(routeID)["points"];
  const std::size_t points = pointsBefore.size();
  ASSERT_GE(points, 3u);
  ASSERT_TRUE(monitoring::dropRows(*Glib::wrap(GTK_WINDOW(detail)), {points - 1}, 0));
  spin();
  ASSERT_TRUE(spinUntil([&] { return enabled("Сохранить порядок", detail); }));
  shot("route-reordered", detail);
  const std::string reorderPath = "/monitoring/routes/" + routeID + "/reorder";
  click("Сохранить порядок", detail);
  ASSERT_TRUE(spinUntil([&] { return server_->hits("POST", reorderPath) == 1; }));
  JSONArray expected{pointsBefore.at(points - 1)["pointId"]};
  for (std::size_t i = 0; i + 1 < points; ++i) expected.push_back(pointsBefore.at(i)["pointId"]);
  EXPECT_EQ(server_->hitsOn(reorderPath).at(0).json(), JSONValue::object({{"order", JSONValue(expected)}}));
  ASSERT_TRUE(spinUntil([&] { return monitoring_->route(routeID)["points"].at(0)["pointId"] == expected[0]; }));
  ASSERT_TRUE(spinUntil([&] { return enabled("Сохранить порядок", detail); })) << "the route is loaded again";
  gtk_window_close(GTK_WINDOW(detail));
  ASSERT_TRUE(spinUntil([&] { return findWindow("Маршрут") == nullptr; }));
  expectNoAlert("monitoring");

  // The period report of today: the day's routes summed up by the server, exported through the save dialog.
  ReportsDesk reports(*server_, *monitoring_);
  openPage(PanelPage::reports);
  auto* report = widgetOf<monitoring::ReportsView>(root());
  ASSERT_NE(report, nullptr);
  ASSERT_TRUE(spinUntil([&] { return server_->hits("/reports/summary") >= 1 && !report->state()->loading(); }));
  spin();
  EXPECT_EQ(server_->hitsOn("/reports/summary").back().query, "from=" + day + "&to=" + day);
  EXPECT_FALSE(report->rows().empty());
  EXPECT_EQ(findLabel(root(), "Нет данных за период"), nullptr);
  shot("report");
  const std::string exported = folder_ + "/отчёт.xlsx";
  dialogs_->saveAnswer = exported;
  click("Экспорт Excel", GTK_WIDGET(report->gobj()));
  ASSERT_TRUE(spinUntil([&] { return std::filesystem::exists(exported) && !model().busy(); }));
  EXPECT_GT(std::filesystem::file_size(exported), 1000u);
  ASSERT_FALSE(dialogs_->suggested.empty());
  expectNoAlert("report");

  // Signing out leaves the sign-in screen and tells the server.
  signOut();
  EXPECT_TRUE(spinUntil([&] { return server_->hits("POST", "/auth/logout") == 1; })) << "the server hears of it";
  shot("signed-out");

  // An administrator adds a client, an address and a zone through the data pages' editors.
  AdminDesk& admin = *admin_;
  signInAs("admin");
  server_->on("GET", "/panel/zones", [&admin](const Hit&) {
    return Answer::json(JSONValue::object({{"zones", admin.list("zones")}}));
  });
  signIn("admin", "пароль-администратора");
  EXPECT_NE(findLabel(root(), "Анна Администратор"), nullptr);
  admin::DataScreenView* data = showData(PanelPage::clients);
  ASSERT_NE(data, nullptr);
  click("Добавить", GTK_WIDGET(data->gobj()));
  GtkWidget* editor = nullptr;
  ASSERT_TRUE(spinUntil([&] { return (editor = data->editorSheet() ? GTK_WIDGET(data->editorSheet()->gobj()) : nullptr); }));
  type(editor, "Название", "Кофейня «Зёрна»");
  shot("client-editor", editor);
  click("Сохранить", editor);
  ASSERT_TRUE(spinUntil([&] { return data->editorSheet() == nullptr && !data->controller()->loading(); }));
  spin();
  ASSERT_EQ(server_->hits("POST", "/panel/clients"), 1u);
  EXPECT_EQ(lastBody("POST", "/panel/clients")["name"], JSONValue("Кофейня «Зёрна»"));
  EXPECT_NE(findLabel(root(), "Кофейня «Зёрна»"), nullptr);
  shot("client-added");
  expectNoAlert("client");

  data = showData(PanelPage::addresses);
  ASSERT_NE(data, nullptr);
  const std::size_t uploads = server_->hits("POST", "/panel/addresses");
  click("Добавить", GTK_WIDGET(data->gobj()));
  ASSERT_TRUE(spinUntil([&] { return (editor = data->editorSheet() ? GTK_WIDGET(data->editorSheet()->gobj()) : nullptr); }));
  type(editor, "Адрес", "Москва, Новая улица, 5");
  type(editor, "Широта", "55.76");
  type(editor, "Долгота", "37.61");
  click("Сохранить", editor);
  ASSERT_TRUE(spinUntil([&] { return data->editorSheet() == nullptr; }));
  ASSERT_TRUE(spinUntil([&] { return server_->hits("POST", "/panel/addresses") > uploads; }))
      << "the address memory uploads the new address";
  const JSONValue upload = lastBody("POST", "/panel/addresses");
  bool uploaded = false;
  for (const JSONValue& row : upload["addresses"].array())
    uploaded |= row["address"].string() == "Москва, Новая улица, 5" && row["lat"] == JSONValue(55.76);
  EXPECT_TRUE(uploaded) << upload.json();
  spin();
  shot("address-added");
  expectNoAlert("address");

  data = showData(PanelPage::zones);
  ASSERT_NE(data, nullptr);
  click("Добавить", GTK_WIDGET(data->gobj()));
  ASSERT_TRUE(spinUntil([&] { return (editor = data->editorSheet() ? GTK_WIDGET(data->editorSheet()->gobj()) : nullptr); }));
  type(editor, "Название", "Север");
  auto* zoneEditor = widgetOf<admin::RecordEditorView>(editor);
  ASSERT_NE(zoneEditor, nullptr);
  ASSERT_NE(zoneEditor->map(), nullptr);
  ASSERT_TRUE(spinUntil([&] { return zoneEditor->map()->state().ready() && zoneEditor->map()->webView(); }, 60s));
  // Three clicks on the map, as the map library reports them to the page.
  WebKitWebView* zoneWeb = zoneEditor->map()->webView()->webView();
  for (const auto& [vertexLat, vertexLon] : std::vector<std::pair<double, double>>{{55.80, 37.50}, {55.80, 37.60}, {55.74, 37.55}}) {
    EXPECT_EQ(evaluate(zoneWeb, "(function () { var map = __stub.maps[__stub.maps.length - 1];"
                                " (map.handlers.click || []).forEach(function (h) { h({lngLat: [" +
                                    std::to_string(vertexLon) + ", " + std::to_string(vertexLat) +
                                    "]}); }); return 'ok'; })()"),
              "ok");
  }
  ASSERT_TRUE(spinUntil([&] { return findLabel(editor, "Вершин: 3") != nullptr; }));
  shot("zone-editor", editor);
  click("Сохранить", editor);
  ASSERT_TRUE(spinUntil([&] { return data->editorSheet() == nullptr; }));
  ASSERT_EQ(server_->hits("PUT", "/panel/zones"), 1u);
  ASSERT_EQ(admin.list("zones").size(), 1u);
  EXPECT_EQ(admin.list("zones").at(0)["name"], JSONValue("Север"));
  EXPECT_EQ(admin.list("zones").at(0)["points"].size(), 3u);
  spin();
  shot("zone-added");
  expectNoAlert("zone");

  // A courier's fine for a day of this month, added on the shifts page.
  openPage(PanelPage::shifts);
  auto* shiftsPage = widgetOf<admin::ShiftsView>(root());
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
  const std::string month = admin::monthKey(std::chrono::system_clock::now());
  EXPECT_EQ(lastBody("POST", "/panel/shifts/adjust"),
            JSONValue::object({{"courierId", "k-1"}, {"date", month + "-03"}, {"kind", "fine"}, {"amount", 700},
                               {"note", "опоздание"}}));
  EXPECT_EQ(pay->adjustmentTexts(), std::vector<std::string>{"3 · Штраф · 700 ₽"});
  shot("pay-adjustment");
  expectNoAlert("pay adjustment");
  signOut();

  // The superadmin adds a staff member to the company's depot.
  staff_->companies() = JSONValue::decode(R"([{"id": "c-day", "name": "ООО «День доставки»"}])");
  staff_->depots() = JSONValue::decode(
      R"([{"id": "d1", "companyId": "c-day", "name": "Склад Север", "address": "Москва, Учебная улица, 1", "windowFrom": "08:00", "windowTo": "21:00"}])");
  signInAs("superadmin");
  signIn("superadmin", "пароль-суперадминистратора");
  openPage(PanelPage::people);
  auto* people = widgetOf<admin::StaffView>(root());
  ASSERT_NE(people, nullptr);
  ASSERT_TRUE(spinUntil([&] { return !people->screen()->state()->loading(); }));
  people->companyPicker().set_selected(1);
  ASSERT_TRUE(spinUntil([&] { return people->screen()->company() == "c-day" && !people->screen()->state()->loading(); }));
  click("Добавить", GTK_WIDGET(people->gobj()));
  ASSERT_TRUE(spinUntil([&] { return people->editorSheet() != nullptr; }));
  editor = GTK_WIDGET(people->editorSheet()->gobj());
  ASSERT_TRUE(spinUntil([&] { return findLabel(editor, "Склад Север") != nullptr; }));
  type(editor, "Имя", "Пётр Петров");
  type(editor, "Логин", "petrov");
  type(editor, "Телефон", "+7 900 000-00-01");
  type(editor, "Пароль от 8 знаков", "пароль-петрова");
  GtkWidget* depotSwitch = findWidget(editor, [](GtkWidget* w) { return GTK_IS_SWITCH(w); });
  ASSERT_NE(depotSwitch, nullptr);
  gtk_switch_set_active(GTK_SWITCH(depotSwitch), TRUE);
  spin();
  shot("staff-editor", editor);
  ASSERT_TRUE(pressReturnIn(entryRow(editor, "Пароль от 8 знаков")));
  ASSERT_TRUE(spinUntil([&] { return people->editorSheet() == nullptr; }));
  ASSERT_EQ(server_->hits("POST", "/staff/people"), 1u);
  const JSONValue person = lastBody("POST", "/staff/people");
  EXPECT_EQ(person["login"], JSONValue("petrov"));
  EXPECT_EQ(person["depots"], JSONValue::array({"d1"}));
  ASSERT_TRUE(spinUntil([&] { return people->table().rows().size() == 1; }));
  spin();
  EXPECT_NE(findLabel(root(), "Пётр Петров"), nullptr);
  shot("staff-added");
  expectNoAlert("staff");
  signOut();

  // Offline: the logist's workspace opened again while the server is away shows the cached plan and refuses a
  // write with the client's message; with the server back, the next write goes through.
  signInAs("logist");
  signIn("logist", "пароль-логиста");
  openPage(PanelPage::planning);
  ASSERT_TRUE(spinUntil([&] { return model().orderIDs().size() == std::size_t(kOrders); }));
  closeWindow();
  server_->stop();
  launch();
  ASSERT_TRUE(spinUntil([&] { return window_->screenKind() == 2 && !model().busy(); }, 60s))
      << "the saved session opens its workspace";
  EXPECT_TRUE(model().offline());
  EXPECT_NE(findLabel(root(), "Нет интернета. Открыт сохранённый рабочий день."), nullptr);
  EXPECT_NE(findLabel(root(), "Нет соединения"), nullptr);
  EXPECT_NE(findLabel(root(), "Локальные данные"), nullptr);
  openPage(PanelPage::planning);
  ASSERT_NE(planner(), nullptr);
  EXPECT_EQ(model().orderIDs().size(), std::size_t(kOrders)) << "the cached plan";
  EXPECT_NE(findLabel(plannerPage(), "200 заказов"), nullptr);
  EXPECT_NE(findLabel(plannerPage(), std::to_string(routes) + " маршрутов"), nullptr);
  EXPECT_FALSE(enabled("Отправить курьерам", plannerPage())) << "no publication offline";
  EXPECT_FALSE(enabled("По дорогам", plannerPage()));
  shot("offline-plan");
  data = showData(PanelPage::clients);
  ASSERT_NE(data, nullptr);
  EXPECT_NE(findLabel(root(), "Сохранённая копия"), nullptr);
  EXPECT_FALSE(enabled("Добавить", GTK_WIDGET(data->gobj()))) << "no new records offline";
  shot("offline-clients");

  // The day's routes and a route's sheet from the cache, its writes disabled; nothing reaches the server.
  const std::size_t hitsBefore = server_->allHits().size();
  openPage(PanelPage::overview);
  watch = widgetOf<monitoring::MonitoringView>(root());
  ASSERT_NE(watch, nullptr);
  ASSERT_TRUE(spinUntil([&] { return !watch->state()->loading() && watch->filtered().size() == routes; }, 30s));
  spin();
  watchPage = GTK_WIDGET(watch->gobj());
  list = findWidget(watchPage, [](GtkWidget* w) { return GTK_IS_COLUMN_VIEW(w); });
  ASSERT_NE(list, nullptr);
  gtk_selection_model_select_item(gtk_column_view_get_model(GTK_COLUMN_VIEW(list)), 0, TRUE);
  spin();
  ASSERT_EQ(watch->selection(), std::optional<std::string>(routeID));
  click("Открыть маршрут", watchPage);
  ASSERT_TRUE(spinUntil([&] { return (detail = findWindow("Маршрут")) != nullptr; }));
  ASSERT_TRUE(spinUntil([&] { return findLabel(detail, routeTitle) && findButton(detail, "Сохранить порядок"); }));
  spin(300ms);
  EXPECT_FALSE(enabled("Сохранить порядок", detail)) << "no writes offline";
  EXPECT_FALSE(enabled("Назначить", detail));
  EXPECT_EQ(server_->allHits().size(), hitsBefore) << "nothing reached the stopped server";
  shot("offline-route", detail);
  gtk_window_close(GTK_WINDOW(detail));
  ASSERT_TRUE(spinUntil([&] { return findWindow("Маршрут") == nullptr; }));

  // The server back: a refresh finds it, and the next write goes through.
  server_->resume();
  click("Обновить", watchPage);
  ASSERT_TRUE(spinUntil([&] { return !model().offline() && !watch->state()->loading(); }, 30s));
  spin();
  EXPECT_NE(findLabel(root(), "Подключено"), nullptr);
  gtk_selection_model_select_item(gtk_column_view_get_model(GTK_COLUMN_VIEW(list)), 0, TRUE);
  spin();
  click("Открыть маршрут", watchPage);
  ASSERT_TRUE(spinUntil([&] { return (detail = findWindow("Маршрут")) != nullptr; }));
  ASSERT_TRUE(spinUntil([&] { return findLabel(detail, routeTitle) && enabled("Сохранить порядок", detail); }));
  const JSONValue current = monitoring_->route(routeID)["points"];
  ASSERT_TRUE(monitoring::dropRows(*Glib::wrap(GTK_WINDOW(detail)), {points - 1}, 0));
  spin();
  click("Сохранить порядок", detail);
  ASSERT_TRUE(spinUntil([&] { return server_->hits("POST", reorderPath) == 2; }));
  EXPECT_EQ(server_->hitsOn(reorderPath).at(1).json()["order"].at(0), current.at(points - 1)["pointId"]);
  ASSERT_TRUE(spinUntil([&] { return monitoring_->route(routeID)["points"].at(0)["pointId"] == current.at(points - 1)["pointId"]; }));
  ASSERT_TRUE(spinUntil([&] { return enabled("Сохранить порядок", detail); }));
  shot("online-again", detail);
  expectNoAlert("offline");
}

