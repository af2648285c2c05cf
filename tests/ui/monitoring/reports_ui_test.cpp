// The period reports page over the real model against the stand-in server: ten days of routes reported, each
// slice shown with its chart in light and dark style (PNGs in build/screens/), a period refused, and a problem
// row opening its route's sheet while a courier row opens nothing.
#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include <filesystem>
#include <memory>
#include <string>

#include "core/async/task.h"
#include "core/base/dorvik_date.h"
#include "monitoring/reports_view.h"
#include "shell/application.h"
#include "support/async_helpers.h"
#include "support/fake_monitoring.h"
#include "support/fake_reports.h"
#include "support/stand_in_server.h"
#include "support/ui_helpers.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::testing;
using namespace std::chrono_literals;
using monitoring::ReportsView;

namespace {

JSONValue dayRoute(int n) {
  JSONArray points;
  for (int p = 1; p <= n % 4 + 2; ++p) {
    const bool failed = p == 1 && n % 3 == 0;
    points.push_back(JSONValue::object(
        {{"pointId", "P" + std::to_string(n) + "-" + std::to_string(p)},
         {"address", "Москва, Мясницкая улица, " + std::to_string(p)},
         {"status", failed ? "failed" : "delivered"},
         {"orders",
          JSONValue::array({JSONValue::object({{"orderId", "A" + std::to_string(n * 10 + p)},
                                               {"status", failed ? "failed" : "delivered"},
                                               {"reason", failed ? JSONValue("client_absent") : JSONValue()}})})}}));
  }
  return JSONValue::object({{"routeId", "R-" + std::to_string(n)},
                            {"externalRouteId", "Юг-" + std::to_string(n)},
                            {"status", "finished"},
                            {"plannedKm", 20.5},
                            {"courier", JSONValue::object({{"name", n % 2 ? "Тарен" : "Олег Смирнов"}})},
                            {"points", JSONValue(std::move(points))}});
}

class ReportsWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { initDisplay(); }
  void SetUp() override {
    char folder[] = "/tmp/dorvik-reports-ui-XXXXXX";
    ASSERT_NE(g_mkdtemp(folder), nullptr);
    folder_ = folder;
    context_.model = model;
    context_.workflows = modelWorkflows(model);
    context_.defaults = std::make_shared<UserDefaults>(folder_ + "/settings.ini");
    appearance_ = std::make_unique<Appearance>(context_.defaults);
  }
  void TearDown() override {
    GListModel* windows = gtk_window_get_toplevels();
    for (guint i = g_list_model_get_n_items(windows); i > 0; --i) {
      auto* window = static_cast<GtkWindow*>(g_list_model_get_item(windows, i - 1));
      g_object_unref(window);
      if (window_ && window == window_->gobj()) continue;
      if (gtk_widget_get_visible(GTK_WIDGET(window))) gtk_window_close(window);
    }
    spin(50ms);
    delete window_;
    spin(50ms);
    appearance_.reset();
    std::filesystem::remove_all(folder_);
  }

  std::shared_ptr<AppModel> model = AppModel::create();
  std::string folder_;
  ShellContext context_;
  std::unique_ptr<Appearance> appearance_;
  Gtk::Window* window_ = nullptr;
};

}  // namespace

TEST_F(ReportsWindow, TenDaysInEverySliceAPeriodRefusedAndAProblemRowOpened) {
  StandInServer server;
  MonitoringDesk routes(server);
  ReportsDesk reports(server, routes);
  for (int d = 0; d < 10; ++d) {
    char day[16];
    std::snprintf(day, sizeof day, "2026-09-%02d", 13 + d);
    routes.seedRoute(day, dayRoute(d));
  }
  model->setApi(signedInClient(server));
  model->setUser(JSONValue::object({{"id", "u1"}, {"fullName", "Анна Логист"}, {"role", "logist"}}));
  model->setCache(freshCache());

  window_ = new Gtk::Window();
  window_->set_default_size(1200, 820);
  auto* view = Gtk::make_managed<ReportsView>(context_);
  window_->set_child(*view);
  window_->present();
  // The first showing loads today's report: nothing for today.
  ASSERT_TRUE(spinUntil([&] { return server.hits("/reports/summary") == 1 && !view->state()->loading(); }));
  GtkWidget* page = GTK_WIDGET(view->gobj());
  EXPECT_NE(findLabel(page, "Нет данных за период"), nullptr);

  // A period of 366 days apart is refused before any request.
  view->pickPeriod(DorvikDate::parse("2025-01-01") + 12h, DorvikDate::parse("2026-01-02") + 12h);
  spin();
  EXPECT_TRUE(gtk_widget_get_visible(findLabel(page, "Выберите период от 1 до 366 дней.")));
  EXPECT_FALSE(gtk_widget_is_sensitive(findButton(page, "Построить")));

  view->pickPeriod(DorvikDate::parse("2026-09-13") + 12h, DorvikDate::parse("2026-09-22") + 12h);
  spin();
  EXPECT_FALSE(gtk_widget_get_visible(findLabel(page, "Выберите период от 1 до 366 дней.")));
  ASSERT_TRUE(clickButton(page, "Построить"));
  ASSERT_TRUE(spinUntil([&] { return server.hits("/reports/summary") == 2 && !view->state()->loading(); }));
  spin();
  EXPECT_EQ(server.hitsOn("/reports/summary")[1].query, "from=2026-09-13&to=2026-09-22");
  EXPECT_NE(findLabel(page, "Данные: 2026-09-13 — 2026-09-22"), nullptr);
  EXPECT_NE(findLabel(page, "Рейсы"), nullptr);
  EXPECT_EQ(view->rows().size(), 2u);  // two couriers
  EXPECT_TRUE(view->chartColumns().empty());

  for (const char* tab : {"couriers", "daily", "exceptions"}) {
    ASSERT_TRUE(clickButton(page, tab == std::string("couriers") ? "Курьеры"
                                  : tab == std::string("daily")  ? "По дням"
                                                                 : "Проблемы и опоздания"));
    spin();
    EXPECT_EQ(view->tab(), tab);
    context_.defaults->setString("appearance", "light");
    spin();
    savePNG(GTK_WIDGET(window_->gobj()), std::string("monitoring/reports-") + tab);
    context_.defaults->setString("appearance", "dark");
    spin();
    savePNG(GTK_WIDGET(window_->gobj()), std::string("monitoring/reports-") + tab + "-dark");
  }
  EXPECT_EQ(server.hits("/reports/summary"), 2u) << "switching the slice never reloads";
  context_.defaults->setString("appearance", "light");

  view->chooseTab("daily");
  spin();
  EXPECT_EQ(view->rows().size(), 10u);
  EXPECT_EQ(view->chartColumns().size(), 10u);
  EXPECT_NE(findLabel(page, "09-22"), nullptr);

  // A courier row opens nothing; a problem row opens its route.
  GtkWidget* table = findWidget(page, [](GtkWidget* w) { return GTK_IS_COLUMN_VIEW(w); });
  ASSERT_NE(table, nullptr);
  view->chooseTab("couriers");
  spin();
  g_signal_emit_by_name(table, "activate", 0u);
  spin();
  EXPECT_EQ(findWindow("Маршрут"), nullptr);
  view->chooseTab("exceptions");
  spin();
  ASSERT_FALSE(view->rows().empty());
  const std::string routeID = view->rows().front()["routeId"].string();
  g_signal_emit_by_name(table, "activate", 0u);
  ASSERT_TRUE(spinUntil([&] { return server.hits("/monitoring/routes/" + routeID) > 0; }));
  EXPECT_NE(findWindow("Маршрут"), nullptr);
}
