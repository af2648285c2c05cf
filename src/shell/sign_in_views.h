// The sign-in screen and the required password change.
#pragma once

#include <gtkmm.h>

#include "shell/shell_context.h"

namespace dorvik {

// Makes the application's icon findable through the default display's icon theme: the icons of the application's
// resource bundle join the theme's search path (once), so a run from the build folder finds them as an installed
// program finds its own in the usual XDG place. True when the theme has the icon.
bool useApplicationIcon();

// The application's icon mark of `size` pixels, or an empty hidden widget when the icon is missing.
Gtk::Widget* makeBrandMark(int size);

class LoginView : public Gtk::Box {
 public:
  explicit LoginView(ShellContext context);

 private:
  void update();
  void signIn();
  void openPreview();
  static async::Task<void> runSignIn(std::weak_ptr<LoginView*> view, ShellContext context, std::string login,
                                     std::string password);
  static async::Task<void> runPreview(ShellContext context);

  ShellContext context_;
  Gtk::Label status_;
  Gtk::Entry login_;
  Gtk::PasswordEntry password_;
  Gtk::Button signInButton_;
  Gtk::Spinner spinner_;
  Gtk::Button previewButton_{"Посмотреть пример"};
  AppModel::Connection connection_;
  ViewLink<LoginView> link_{this};
};

class RequiredPasswordView : public Gtk::Box {
 public:
  explicit RequiredPasswordView(ShellContext context);

 private:
  void update();
  void save();
  static async::Task<void> runSave(std::weak_ptr<RequiredPasswordView*> view, ShellContext context,
                                   std::string password);

  ShellContext context_;
  Gtk::PasswordEntry password_;
  Gtk::PasswordEntry repeated_;
  Gtk::Label issue_;
  Gtk::Button saveButton_{"Сохранить пароль"};
  Gtk::Button backButton_{"Вернуться к входу"};
  AppModel::Connection connection_;
  ViewLink<RequiredPasswordView> link_{this};
};

}  // namespace dorvik
