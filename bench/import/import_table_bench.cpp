// From the open dialog's answer to the order table shown: a day's order book of N orders (default 2,000; each its
// own address and point) opened through AppModel::importWorkbook with the real planner engine, the planner screen
// on its orders tab in a window. The time runs from the moment the dialog answers with the file to the first frame
// drawn after the table holds every order. Each run opens the same book again; prints each run and the median.
// Needs a display (and, for a workspace cache, a Secret Service):
//   scripts/with-session.sh build/bench/import/import_table_bench [--orders N] [--runs K]
#include <adwaita.h>
#include <gtkmm.h>
#include <gtkmm/init.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/async/task.h"
#include "core/cache/encrypted_cache.h"
#include "core/engine/planner_engine.h"
#include "core/engine/script_context.h"
#include "model/app_model.h"
#include "model/file_dialogs.h"
#include "model/workbook_files.h"
#include "planning/planner_view.h"
#include "shell/shell_context.h"
#include "support/order_books.h"

using namespace dorvik;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Answers the open dialog at once with the book, noting the moment it answers.
class AnsweringDialog : public FileDialogs {
 public:
  explicit AnsweringDialog(std::string path) : path_(std::move(path)) {}
  async::Task<Chosen> openFile(std::vector<std::string>) override {
    answered = Clock::now();
    co_return path_;
  }
  async::Task<Chosen> saveFile(std::string) override { co_return std::nullopt; }
  Clock::time_point answered;

 private:
  std::string path_;
};

GtkWidget* findColumnView(GtkWidget* widget) {
  if (GTK_IS_COLUMN_VIEW(widget)) return widget;
  for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child))
    if (GtkWidget* found = findColumnView(child)) return found;
  return nullptr;
}

guint shownRows(GtkWidget* root) {
  GtkWidget* table = findColumnView(root);
  if (!table) return 0;
  GtkSelectionModel* model = gtk_column_view_get_model(GTK_COLUMN_VIEW(table));
  return model ? g_list_model_get_n_items(G_LIST_MODEL(model)) : 0;
}

void iterate() { g_main_context_iteration(nullptr, FALSE); }

}  // namespace

int main(int argc, char** argv) {
  int orders = 2000, runs = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--orders") orders = std::max(1, std::atoi(argv[i + 1]));
    if (std::string(argv[i]) == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
  }
  ScriptContext::sizeHeapForTheProgram();  // as the program does
  gtk_init();
  Gtk::init_gtkmm_internals();
  adw_init();

  const fs::path book = fs::path(DORVIK_BINARY_DIR) / ("Заказы на среду " + std::to_string(orders) + ".xlsx");
  if (!fs::exists(book)) writeFileAtomically(book.string(), testing::dayBook(orders));

  auto model = AppModel::create();
  model->setEngine(async::runBlocking(PlannerEngine::create()));
  model->setOffline(true);  // no server: the upload after the import stays out of the figures
  try {
    gchar* uuid = g_uuid_string_random();
    model->setCache(async::runBlocking(EncryptedCache::open(std::string("https://bench.test/api|1|") + uuid + "|1")));
    g_free(uuid);
  } catch (const std::exception&) {
    std::printf("no workspace cache (no Secret Service): the plan is not stored\n");
  }
  auto dialog = std::make_shared<AnsweringDialog>(book.string());
  model->setFileDialogs(dialog);

  ShellContext context;
  context.model = model;
  Gtk::Window window;
  auto* view = Gtk::make_managed<planning::PlannerView>(context);
  window.set_child(*view);
  window.set_default_size(1400, 900);
  window.present();
  view->screen()->setTab("orders");
  for (int i = 0; i < 50; ++i) iterate();

  // The first frame drawn once the table holds every order.
  GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(window.gobj()));
  std::optional<Clock::time_point> shown;
  auto* root = GTK_WIDGET(window.gobj());
  const auto watch = [&] {
    if (!shown && static_cast<int>(shownRows(root)) == orders) shown = Clock::now();
  };
  std::function<void()> onPaint = watch;
  g_signal_connect(clock, "after-paint", G_CALLBACK(+[](GdkFrameClock*, gpointer data) {
                     (*static_cast<std::function<void()>*>(data))();
                   }),
                   &onPaint);

  std::printf("book %s: %ju bytes, %d orders\n", book.c_str(), static_cast<std::uintmax_t>(fs::file_size(book)),
              orders);
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    // An empty plan first, so that every run fills the table from nothing.
    async::runBlocking(model->mutate("load", JSONValue::object({{"orders", JSONArray{}}})));
    for (int i = 0; i < 20; ++i) iterate();
    shown.reset();
    auto import = std::make_shared<bool>(false);
    async::spawn([](std::shared_ptr<AppModel> m, std::shared_ptr<bool> done) -> async::Task<void> {
      co_await m->importWorkbook();
      *done = true;
    }(model, import));
    while (!*import) g_main_context_iteration(nullptr, TRUE);
    const auto waitUntil = Clock::now() + std::chrono::seconds(5);
    while (!shown && !model->error() && Clock::now() < waitUntil) g_main_context_iteration(nullptr, FALSE);
    if (model->error() || !shown) {
      if (!model->error()) std::printf("the table never showed %d orders\n", orders);
      else std::printf("error: %s\n", model->error()->c_str());
      return 1;
    }
    const double ms = std::chrono::duration<double, std::milli>(*shown - dialog->answered).count();
    times.push_back(ms);
    std::printf("run %d: %.0f ms from the dialog's answer to the table of %d orders shown\n", run + 1, ms, orders);
  }
  std::sort(times.begin(), times.end());
  std::printf("median %.0f ms\n", times[times.size() / 2]);
  return 0;
}
