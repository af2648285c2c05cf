// The main window: the sign-in screen, the required-password screen or the workspace (sidebar of panel pages,
// the selected page's screen, status strip), with the one error alert over all three.
#pragma once

#include <gtkmm.h>

#include "shell/shell_context.h"

typedef struct _AdwMessageDialog AdwMessageDialog;

namespace dorvik {

class RootWindow : public Gtk::ApplicationWindow {
 public:
  explicit RootWindow(ShellContext context);
  ~RootWindow() override;

  // Which screen is shown now (for tests): 0 sign-in, 1 required password, 2 workspace.
  int screenKind() const { return shownKind_; }
  // The error alert shown now, if any (for tests).
  AdwMessageDialog* alert() const { return alert_; }

 private:
  void chooseScreen();
  void updateAlert();
  void updateActions();

  ShellContext context_;
  Gtk::Box root_{Gtk::Orientation::VERTICAL};
  Gtk::Widget* screen_ = nullptr;
  int shownKind_ = -1;
  AdwMessageDialog* alert_ = nullptr;
  Glib::RefPtr<Gio::SimpleAction> openAction_, saveAction_;
  AppModel::Connection connection_;
  AppModel::Connection sheets_;
};

}  // namespace dorvik
