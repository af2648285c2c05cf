// The application object: the one model of the run, the main window, the settings window, the shortcuts and
// the appearance (colour scheme through the style manager, accent and text size through one stylesheet).
#pragma once

#include <gtkmm.h>

#include "shell/shell_context.h"

namespace dorvik {

// The interface speaks Russian whatever the desktop's language: GTK's and libadwaita's own texts and the
// calendar's month and weekday names are Russian; numbers keep the desktop's conventions (they are parsed and
// printed without the process locale). Call before GTK and glibmm are initialised; they then leave it alone.
void useRussianLocale();

// On a computer without a graphics device GTK's OpenGL renderer runs on Mesa's software driver, which compiles the
// renderer's shaders again for every window it opens (the preferences, each sheet, each dialog: a quarter to half a
// second each while nothing answers). There the windows are drawn with cairo, which compiles nothing. A renderer
// the user chose (GSK_RENDERER) is kept. Call before GTK is initialised.
void chooseRenderer();

class Appearance {
 public:
  explicit Appearance(std::shared_ptr<UserDefaults> defaults);
  ~Appearance();
  // Applies the stored colour scheme, accent and text size (again after any change of them).
  void apply();

 private:
  std::shared_ptr<UserDefaults> defaults_;
  Glib::RefPtr<Gtk::CssProvider> provider_;
  std::uint64_t observer_ = 0;
  unsigned long darkHandler_ = 0;
};

// One instance per user: a second launch (same application id, same session bus) only raises the first one's
// window and ends; the two never open one workspace at once.
class DorvikApp {
 public:
  // `screens`: the page catalogue of the workspace. `workflows` null: the model's own. `applicationId` empty: the
  // application's own id; tests that run applications side by side give each an id of its own.
  DorvikApp(PanelScreens screens, bool preview, std::shared_ptr<Workflows> workflows = nullptr,
            std::string applicationId = {});
  int run(int argc, char** argv);

 private:
  void activate();
  void startModel();

  bool preview_;
  std::shared_ptr<bool> starting_ = std::make_shared<bool>(false);
  std::string applicationId_;
  Gtk::Window* window_ = nullptr;  // the main window while it is shown
  Glib::RefPtr<Gtk::Application> app_;
  ShellContext context_;
  std::unique_ptr<Appearance> appearance_;
};

}  // namespace dorvik
