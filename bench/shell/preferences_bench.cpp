// Opening the preferences: in a fresh process with the main window shown (the sign-in screen, as at a fresh start),
// the time the window is blocked by the first opening of the preferences, from the command up to the first frame
// of the preferences window drawn, then the same for a second opening after closing it. Each run is a process of
// its own (what a fresh start costs happens once per process); prints each run and the medians. The renderer is the
// program's choice unless GSK_RENDERER names one (GSK_RENDERER=ngl: OpenGL whatever the computer has); Mesa keeps
// compiled shaders in a cache on disk, which MESA_SHADER_CACHE_DISABLE=true leaves out.
//   scripts/with-session.sh build/bench/shell/preferences_bench [--runs K]
#include <adwaita.h>
#include <gtkmm.h>
#include <gtkmm/init.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "shell/application.h"
#include "shell/preferences.h"
#include "shell/root_window.h"
#include "smoke.h"

using namespace dorvik;
using Clock = std::chrono::steady_clock;

namespace {

void iterate() { g_main_context_iteration(nullptr, FALSE); }

// Runs the main loop until the window has drawn a frame.
void untilDrawn(GtkWidget* window) {
  bool drawn = false;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (!gtk_widget_get_mapped(window) && Clock::now() < deadline) g_main_context_iteration(nullptr, TRUE);
  GdkFrameClock* clock = gtk_widget_get_frame_clock(window);
  if (!clock) return;
  const gulong handler = g_signal_connect(
      clock, "after-paint", G_CALLBACK(+[](GdkFrameClock*, gpointer done) { *static_cast<bool*>(done) = true; }),
      &drawn);
  gtk_widget_queue_draw(window);
  while (!drawn && Clock::now() < deadline) g_main_context_iteration(nullptr, TRUE);
  g_signal_handler_disconnect(clock, handler);
}

GtkWidget* preferencesWindow() {
  GtkWidget* found = nullptr;
  GListModel* windows = gtk_window_get_toplevels();
  for (guint i = 0; i < g_list_model_get_n_items(windows); ++i) {
    auto* window = static_cast<GtkWidget*>(g_list_model_get_item(windows, i));
    if (ADW_IS_PREFERENCES_WINDOW(window)) found = window;
    g_object_unref(window);
  }
  return found;
}

// One opening: milliseconds from the command to the first frame of the preferences drawn.
double open(ShellContext& context, RootWindow& main) {
  const auto start = Clock::now();
  showPreferences(context, &main, PreferencesTab::appearance);
  GtkWidget* window = preferencesWindow();
  if (window) untilDrawn(window);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  if (!window) std::printf("no preferences window\n");
  return ms;
}

int child() {
  char folder[] = "/tmp/dorvik-bench-XXXXXX";
  if (!g_mkdtemp(folder)) return 1;
  chooseRenderer();  // as the program starts
  useRussianLocale();
  gtk_init();
  Gtk::init_gtkmm_internals();
  adw_init();
  ShellContext context;
  context.model = AppModel::create();
  context.workflows = modelWorkflows(context.model);
  context.defaults = std::make_shared<UserDefaults>(std::string(folder) + "/settings.ini");
  Appearance appearance(context.defaults);
  auto* main = new RootWindow(context);
  main->present();
  untilDrawn(GTK_WIDGET(main->gobj()));
  for (int i = 0; i < 20; ++i) iterate();

  const double first = open(context, *main);
  gtk_window_destroy(GTK_WINDOW(preferencesWindow()));
  for (int i = 0; i < 20; ++i) iterate();
  const double second = open(context, *main);
  std::printf("%.1f %.1f\n", first, second);
  gtk_window_destroy(GTK_WINDOW(preferencesWindow()));
  delete main;
  std::filesystem::remove_all(folder);
  return 0;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--child") return child();
  int runs = bench::sized(7, 1);
  for (int i = 1; i + 1 < argc; i += 2)
    if (std::string(argv[i]) == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
  std::vector<double> firsts, seconds;
  for (int run = 0; run < runs; ++run) {
    std::string command = std::string("'") + argv[0] + "' --child";
    FILE* pipe = popen(command.c_str(), "r");
    double first = -1, second = -1;
    if (!pipe || std::fscanf(pipe, "%lf %lf", &first, &second) != 2) {
      std::printf("ERROR OCCURRED: run %d gave no figures\n", run + 1);
      if (pipe) pclose(pipe);
      return 1;
    }
    pclose(pipe);
    std::printf("run %d: first opening %.1f ms, second %.1f ms\n", run + 1, first, second);
    firsts.push_back(first);
    seconds.push_back(second);
  }
  std::printf("median: first opening %.1f ms, second %.1f ms\n", median(firsts), median(seconds));
  return 0;
}
