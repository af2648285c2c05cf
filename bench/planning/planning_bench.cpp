// The planner screen over a day of 5,000 orders (Cyrillic clients and addresses, calculated: every order has a
// courier and an arrival).
//   Order search (no display): a query over the plan's orders, the first after a new plan (the letters folded
//   once) and the next ones.
//   Order table (display): the planner screen shown on its orders tab, the model's plan replaced by one in which
//   one order changed, or every order (a recalculation); the time is the main thread's whole reaction to the new
//   plan, up to the table's model updated in place.
//     scripts/with-session.sh build/bench/planning/planning_bench
#include <adwaita.h>
#include <benchmark/benchmark.h>
#include <gtkmm.h>
#include <gtkmm/init.h>

#include <memory>
#include <random>
#include <string>

#include "model/app_model.h"
#include "planning/logic/order_rows.h"
#include "planning/planner_view.h"

namespace {

using namespace dorvik;

constexpr int kOrders = 5000;

JSONValue day(int shift) {
  static const char* const kStreets[] = {"Тверская улица",       "Ленинский проспект", "улица Большая Якиманка",
                                         "Кутузовский проспект", "Профсоюзная улица",  "Варшавское шоссе"};
  static const char* const kClients[] = {"ООО «Ромашка»", "ИП Иванов Пётр Сергеевич", "АО «Север-Логистик»",
                                         "Кофейня «Зёрна»", "Аптека № 12"};
  static const char* const kCouriers[] = {"Тарен", "Ведил", "Арсений", "Мирон", "Кира", "Злата"};
  std::mt19937 random(7);
  JSONArray orders;
  orders.reserve(kOrders);
  for (int i = 0; i < kOrders; ++i) {
    const std::string n = std::to_string(i);
    orders.push_back(JSONValue::object({
        {"_nativeID", "n-" + n},
        {"id", std::to_string(100000 + i)},
        {"title", std::string(kClients[random() % 5]) + " " + n},
        {"address", "Москва, " + std::string(kStreets[random() % 6]) + ", " + std::to_string(1 + random() % 120)},
        {"window", "09:00-18:00"},
        {"units", static_cast<int>(1 + random() % 9)},
        {"lat", 55.6 + (random() % 1000) / 5000.0},
        {"lon", 37.4 + (random() % 1000) / 3000.0},
        {"source", i % 7 == 0 ? "manual" : "dadata"},
        {"_drv", kCouriers[(i + shift) % 6]},
        {"_arr", 540 + (i * 7 + shift) % 480},
    }));
  }
  return JSONValue::object({{"routeDate", "2026-10-06"}, {"planned", true}, {"orders", JSONValue(std::move(orders))}});
}

// The same day with one order moved to another courier.
JSONValue withOneChange(JSONValue plan, int shift) {
  JSONValue& order = plan.mutableObject()["orders"].mutableArray()[kOrders / 2];
  order.set("_drv", shift % 2 ? "Ведил" : "Тарен");
  return plan;
}

void BM_OrderSearchAfterANewPlan(benchmark::State& state) {
  const JSONValue orders = day(0)["orders"];
  for (auto _ : state) {
    planning::OrderSearch search(orders);
    benchmark::DoNotOptimize(search.rows("тверская"));
  }
}

void BM_OrderSearch(benchmark::State& state) {
  const planning::OrderSearch search(day(0)["orders"]);
  search.rows("x");
  const char* const queries[] = {"тверская", "зёрна", "1004", "ромашка 12"};
  int k = 0;
  for (auto _ : state) benchmark::DoNotOptimize(search.rows(queries[k++ % 4]));
}

struct Screen {
  std::shared_ptr<AppModel> model = AppModel::create();
  Gtk::Window window;
  planning::PlannerView* view = nullptr;

  Screen() {
    model->setPlanner(day(0));
    ShellContext context;
    context.model = model;
    view = Gtk::make_managed<planning::PlannerView>(context);
    window.set_child(*view);
    window.set_default_size(1400, 900);
    window.present();
    view->screen()->setTab("orders");
    settle();
  }
  static void settle() {
    for (int i = 0; i < 50; ++i) g_main_context_iteration(nullptr, FALSE);
  }
};

Screen& screen() {
  static Screen* shown = new Screen();
  return *shown;
}

void BM_OrderTableAfterOneOrderChanged(benchmark::State& state) {
  Screen& s = screen();
  const JSONValue base = day(0);
  const JSONValue plans[2] = {withOneChange(base, 0), withOneChange(base, 1)};
  int k = 0;
  for (auto _ : state) {
    s.model->setPlanner(plans[k++ % 2]);
    state.PauseTiming();
    Screen::settle();
    state.ResumeTiming();
  }
}

void BM_OrderTableAfterARecalculation(benchmark::State& state) {
  Screen& s = screen();
  const JSONValue plans[2] = {day(1), day(2)};
  int k = 0;
  for (auto _ : state) {
    s.model->setPlanner(plans[k++ % 2]);
    state.PauseTiming();
    Screen::settle();
    state.ResumeTiming();
  }
}

BENCHMARK(BM_OrderSearchAfterANewPlan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrderSearch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrderTableAfterOneOrderChanged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrderTableAfterARecalculation)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  gtk_init();
  Gtk::init_gtkmm_internals();
  adw_init();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
