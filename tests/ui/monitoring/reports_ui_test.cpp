// The period reports page over the real model against the stand-in server: ten days of routes reported, each
// slice shown with its chart in light and dark style (PNGs in build/screens/), a period refused, and a problem
// row opening its route's sheet while a courier row opens nothing.
#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include <string>

#include "core/async/task.h"
#include "core/base/dorvik_date.h"
#include "monitoring/reports_view.h"
#include "support/async_helpers.h"
#include "support/fake_monitoring.h"
#include "support/fake_reports.h"
#include "support/stand_in_server.h"
#include "support/window_fixture.h"
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

class ReportsWindow : public WindowFixture<Gtk::Window> {};

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

  auto* view = &host(*Gtk::make_managed<ReportsView>(context_), 1200, 820);
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
