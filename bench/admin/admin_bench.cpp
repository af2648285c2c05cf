// The addresses data page over 20,000 addresses (Cyrillic streets, coordinates, sources), the largest list a data
// page asks for.
//   Search (no display): the first query over a new answer (every cell's text made and folded once), and the next.
//   Page (display): the screen given a new answer of 20,000 other addresses, timed from the answer's arrival to the
//   table's model holding the rows shown: with no search, and with a search in force; and a new search over the
//   rows already loaded.
//     scripts/with-session.sh build/bench/admin/admin_bench
#include <adwaita.h>
#include <benchmark/benchmark.h>
#include <gtkmm.h>
#include <gtkmm/init.h>

#include <memory>
#include <random>
#include <string>

#include "admin/data_screen_view.h"
#include "admin/logic/data_screen.h"
#include "model/app_model.h"

namespace {

using namespace dorvik;
using namespace dorvik::admin;

constexpr int kAddresses = 20000;

JSONValue answer(int generation) {
  static const char* const kStreets[] = {"Тверская улица",       "Ленинский проспект", "улица Большая Якиманка",
                                         "Кутузовский проспект", "Профсоюзная улица",  "Варшавское шоссе"};
  static const char* const kSources[] = {"manual", "dadata", "file", "catalog"};
  std::mt19937 random(static_cast<unsigned>(generation + 7));
  JSONArray rows;
  rows.reserve(kAddresses);
  for (int i = 0; i < kAddresses; ++i) {
    rows.push_back(JSONValue::object({
        {"key", "a" + std::to_string(generation) + "-" + std::to_string(i)},
        {"address", "Москва, " + std::string(kStreets[random() % 6]) + ", " + std::to_string(1 + random() % 120) +
                        ", корпус " + std::to_string(1 + random() % 4)},
        {"lat", 55.6 + (random() % 100000) / 500000.0},
        {"lon", 37.4 + (random() % 100000) / 300000.0},
        {"source", kSources[random() % 4]},
        {"pinned", random() % 5 == 0},
    }));
  }
  return JSONValue::object({{"addresses", JSONValue(std::move(rows))}});
}

void BM_AddressSearchFirstQuery(benchmark::State& state) {
  const DataScreen screen = DataScreen::configuration(PanelPage::addresses, "");
  const std::vector<Record> rows = listRows(answer(0), "addresses");
  for (auto _ : state) {
    RowSearch search(rows, screen.columns);
    benchmark::DoNotOptimize(search.matches("тверская улица, 1"));
  }
}

void BM_AddressSearchNextQuery(benchmark::State& state) {
  const DataScreen screen = DataScreen::configuration(PanelPage::addresses, "");
  const RowSearch search(listRows(answer(0), "addresses"), screen.columns);
  search.matches("x");
  const char* const queries[] = {"тверская", "КОРПУС 3", "55.7", "dadata"};
  int k = 0;
  for (auto _ : state) benchmark::DoNotOptimize(search.matches(queries[k++ % 4]));
}

// The page in a window; each new answer arrives through its gateway when the test hands it one.
struct Page {
  std::shared_ptr<AppModel> model = AppModel::create();
  Gtk::Window window;
  DataScreenView* view = nullptr;
  std::shared_ptr<JSONValue> next = std::make_shared<JSONValue>();

  Page() {
    ShellContext context;
    context.model = model;
    AdminGateway gateway = modelGateway(model);
    std::shared_ptr<JSONValue> pending = next;
    gateway.fetch = [pending](std::string, std::string, std::optional<JSONValue>) -> async::Task<JSONValue> {
      co_return *pending;
    };
    *next = answer(0);
    view = Gtk::make_managed<DataScreenView>(PanelPage::addresses, context, gateway);
    window.set_child(*view);
    window.set_default_size(1280, 800);
    window.present();
    settle();
  }
  // Hands the page an answer and runs the main loop until the table shows it.
  void deliver(const JSONValue& list) {
    *next = list;
    view->controller()->refresh();
    while (view->controller()->loading()) g_main_context_iteration(nullptr, FALSE);
  }
  static void settle() {
    for (int i = 0; i < 50; ++i) g_main_context_iteration(nullptr, FALSE);
  }
};

Page& page() {
  static Page* shown = new Page();
  return *shown;
}

void pageAnswers(benchmark::State& state, const char* query) {
  Page& p = page();
  const JSONValue lists[2] = {answer(1), answer(2)};
  p.view->controller()->setQuery(query);
  Page::settle();
  int k = 0;
  for (auto _ : state) {
    p.deliver(lists[k++ % 2]);
    state.PauseTiming();
    Page::settle();
    state.ResumeTiming();
  }
  state.counters["shown"] = static_cast<double>(p.view->table().rows().size());
}

void BM_AddressPageAnswerShown(benchmark::State& state) { pageAnswers(state, ""); }
void BM_AddressPageAnswerFilteredShown(benchmark::State& state) { pageAnswers(state, "тверская улица, 1"); }

void BM_AddressPageNewSearch(benchmark::State& state) {
  Page& p = page();
  p.view->controller()->setQuery("");
  p.deliver(answer(3));
  Page::settle();
  const char* const queries[] = {"тверская", "корпус 3"};
  int k = 0;
  for (auto _ : state) {
    p.view->controller()->setQuery(queries[k++ % 2]);
    state.PauseTiming();
    Page::settle();
    state.ResumeTiming();
  }
}

BENCHMARK(BM_AddressSearchFirstQuery)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddressSearchNextQuery)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddressPageAnswerShown)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddressPageAnswerFilteredShown)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddressPageNewSearch)->Unit(benchmark::kMillisecond);

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
