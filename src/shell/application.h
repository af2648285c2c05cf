// The application object: the one model of the run, the main window, the settings window, the shortcuts and
// the appearance (colour scheme through the style manager, accent and text size through one stylesheet).
#pragma once

#include <gtkmm.h>

#include "shell/shell_context.h"

namespace dorvik {

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

class DorvikApp {
 public:
  // `workflows` null: the model's own.
  DorvikApp(bool preview, std::shared_ptr<Workflows> workflows = nullptr);
  int run(int argc, char** argv);

 private:
  void activate();

  bool preview_;
  Glib::RefPtr<Gtk::Application> app_;
  ShellContext context_;
  std::unique_ptr<Appearance> appearance_;
};

}  // namespace dorvik
