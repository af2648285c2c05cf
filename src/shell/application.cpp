#include "shell/application.h"

#include <adwaita.h>
#include <langinfo.h>

#include <clocale>
#include <string_view>

#include "build_info.h"
#include "shell/file_dialogs_gtk.h"
#include "shell/preferences.h"
#include "shell/root_window.h"
#include "shell/sign_in_views.h"
#include "shell/toolkit/shell_rules.h"
#include "widgets/gtk_helpers.h"

namespace dorvik {

void useRussianLocale() {
  static bool done = false;
  if (done) return;
  done = true;
  // Neither GTK nor glibmm sets the locale again from the environment.
  gtk_disable_setlocale();
  Glib::set_init_to_users_preferred_locale(false);
  std::setlocale(LC_ALL, "");
  // Messages and time names in Russian; without a Russian locale on the computer, messages still are (the
  // catalogues are chosen by LANGUAGE under any locale but "C").
  bool russian = false;
  for (const char* name : {"ru_RU.UTF-8", "ru_RU.utf8", "ru_RU"}) {
    if (std::setlocale(LC_MESSAGES, name)) {
      std::setlocale(LC_TIME, name);
      russian = true;
      break;
    }
  }
  if (!russian) std::setlocale(LC_MESSAGES, "C.UTF-8");
  g_setenv("LANGUAGE", "ru", TRUE);
  // Russian texts need a UTF-8 character set (a desktop without a locale runs in plain "C").
  if (std::string_view(nl_langinfo(CODESET)) != "UTF-8") std::setlocale(LC_CTYPE, "C.UTF-8");
}

void chooseRenderer() {
  if (g_getenv("GSK_RENDERER")) return;
  bool device = false;
  if (GDir* dri = g_dir_open("/dev/dri", 0, nullptr)) {
    while (const char* name = g_dir_read_name(dri))
      if (g_str_has_prefix(name, "renderD") || g_str_has_prefix(name, "card")) device = true;
    g_dir_close(dri);
  }
  const char* software = g_getenv("LIBGL_ALWAYS_SOFTWARE");
  if (device && !(software && *software && std::string_view(software) != "0")) return;
  g_setenv("GSK_RENDERER", "cairo", FALSE);
}

Appearance::Appearance(std::shared_ptr<UserDefaults> defaults) : defaults_(std::move(defaults)) {
  provider_ = Gtk::CssProvider::create();
  Gtk::StyleContext::add_provider_for_display(Gdk::Display::get_default(), provider_,
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  observer_ = defaults_->observe([this](const std::string& key) {
    if (key == Settings::appearance.key || key == Settings::accent.key || key == Settings::textSize.key) apply();
  });
  darkHandler_ = g_signal_connect(
      adw_style_manager_get_default(), "notify::dark",
      callback([](GObject*, GParamSpec*, gpointer self) { static_cast<Appearance*>(self)->apply(); }), this);
  apply();
}

Appearance::~Appearance() {
  defaults_->unobserve(observer_);
  if (auto display = Gdk::Display::get_default()) Gtk::StyleContext::remove_provider_for_display(display, provider_);
  g_signal_handler_disconnect(adw_style_manager_get_default(), darkHandler_);
}

void Appearance::apply() {
  AdwStyleManager* manager = adw_style_manager_get_default();
  std::string appearance = defaults_->get(Settings::appearance);
  adw_style_manager_set_color_scheme(manager, appearance == "dark"    ? ADW_COLOR_SCHEME_FORCE_DARK
                                              : appearance == "light" ? ADW_COLOR_SCHEME_FORCE_LIGHT
                                                                      : ADW_COLOR_SCHEME_DEFAULT);
  provider_->load_from_data(shellStyleSheet(defaults_->get(Settings::accent), defaults_->get(Settings::textSize),
                                            adw_style_manager_get_dark(manager)));
}

DorvikApp::DorvikApp(PanelScreens screens, bool preview, std::shared_ptr<Workflows> workflows,
                     std::string applicationId)
    : preview_(preview),
      applicationId_(applicationId.empty() ? std::string(BuildInfo::kApplicationId) : std::move(applicationId)) {
  context_.model = AppModel::create();
  context_.workflows = workflows ? std::move(workflows) : modelWorkflows(context_.model);
  context_.defaults = std::make_shared<UserDefaults>();
  context_.screens = std::move(screens);
}

int DorvikApp::run(int argc, char** argv) {
  chooseRenderer();
  useRussianLocale();
  app_ = Gtk::Application::create(applicationId_, Gio::Application::Flags::DEFAULT_FLAGS);
  // The workbook dialogs open over the main window.
  Gtk::Application* app = app_.get();
  context_.model->setFileDialogs(std::make_shared<GtkFileDialogs>([app] { return app->get_active_window(); }));
  app_->signal_startup().connect([this] {
    adw_init();
    if (useApplicationIcon()) Gtk::Window::set_default_icon_name(BuildInfo::kApplicationId);
    appearance_ = std::make_unique<Appearance>(context_.defaults);
    app_->set_accels_for_action("win.open-orders", {"<Control>o"});
    app_->set_accels_for_action("win.save-excel", {"<Control>s"});
    app_->set_accels_for_action("win.preferences", {"<Control>comma"});
  });
  app_->signal_activate().connect([this] { activate(); });
  app_->signal_shutdown().connect([this] { appearance_.reset(); });
  return app_->run(argc, argv);
}

void DorvikApp::activate() {
  // Launched again while running: the window there is raised (and the model started, should its start have
  // failed to make the planner engine).
  if (window_) {
    window_->present();
    startModel();
    return;
  }
  Gtk::Application* app = app_.get();
  ShellContext context = context_;
  context.openPreferences = [context = context_, app](PreferencesTab tab) {
    ShellContext copy = context;
    showPreferences(copy, app->get_active_window(), tab);
  };
  auto* window = new RootWindow(context);
  window->set_application(app_);
  window_ = window;
  window->signal_hide().connect([this, window] {
    if (window_ == window) window_ = nullptr;
    delete window;
  });
  window->present();
  startModel();
}

void DorvikApp::startModel() {
  // A model that has its planner engine has started; one whose start could not make it is started again each time
  // a window shows, never twice at once.
  if (*starting_ || context_.model->engine()) return;
  *starting_ = true;
  AppModel::LaunchOptions options;
  options.preview = preview_;
  async::spawn([](std::shared_ptr<Workflows> workflows, AppModel::LaunchOptions options,
                  std::shared_ptr<bool> starting) -> async::Task<void> {
    struct Done {
      std::shared_ptr<bool> flag;
      ~Done() { *flag = false; }
    } done{starting};
    co_await workflows->start(options);
  }(context_.workflows, options, starting_));
}

}  // namespace dorvik
