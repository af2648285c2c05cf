#include "shell/root_window.h"

#include <adwaita.h>

#include "shell/sheet.h"
#include "shell/sign_in_views.h"
#include "shell/workspace_view.h"
#include "widgets/gtk_helpers.h"

namespace dorvik {

RootWindow::RootWindow(ShellContext context) : context_(std::move(context)) {
  set_title("Dorvik");
  set_default_size(1440, 900);
  set_size_request(960, 640);
  add_css_class("dorvik-main");

  GtkWidget* header = adw_header_bar_new();
  auto* menuButton = Gtk::make_managed<Gtk::MenuButton>();
  menuButton->set_icon_name("open-menu-symbolic");
  menuButton->set_tooltip_text("Главное меню");
  setAccessibleLabel(*menuButton, "Главное меню");
  auto menu = Gio::Menu::create();
  auto file = Gio::Menu::create();
  file->append("Открыть заказы…", "win.open-orders");
  file->append("Сохранить Excel…", "win.save-excel");
  menu->append_section(file);
  auto settings = Gio::Menu::create();
  settings->append("Настройки", "win.preferences");
  menu->append_section(settings);
  menuButton->set_menu_model(menu);
  adw_header_bar_pack_end(ADW_HEADER_BAR(header), GTK_WIDGET(menuButton->gobj()));
  gtk_window_set_titlebar(GTK_WINDOW(gobj()), header);

  openAction_ = add_action("open-orders", [this] { async::spawn(context_.workflows->importWorkbook()); });
  saveAction_ = add_action("save-excel", [this] { async::spawn(context_.workflows->exportWorkbook("working")); });
  add_action("preferences", [this] {
    if (context_.openPreferences) context_.openPreferences(PreferencesTab::appearance);
  });

  set_child(root_);
  connection_ = context_.model->observe([this](AppModel::Property property) {
    using P = AppModel::Property;
    switch (property) {
      case P::user:
      case P::passwordChangeProfile:
        chooseScreen();
        updateActions();
        break;
      case P::error:
        updateAlert();
        break;
      case P::busy:
      case P::geocoding:
      case P::planner:
      case P::generation:
        updateActions();
        break;
      default:
        break;
    }
  });
  // Whatever a sheet showed belonged to the workspace it was opened in.
  sheets_ = closeSheetsOnWorkspaceChange(*this, *context_.model);
  chooseScreen();
  updateActions();
  updateAlert();
}

RootWindow::~RootWindow() {
  connection_.disconnect();
  sheets_.disconnect();
  if (alert_) gtk_window_destroy(GTK_WINDOW(alert_));
}

void RootWindow::chooseScreen() {
  const AppModel& model = *context_.model;
  int kind = !model.user().isNull() ? 2 : model.passwordChangeProfile().isNull() ? 0 : 1;
  // The sign-in screens are built afresh whenever they are entered; the workspace stays while signed in.
  if (kind == shownKind_) return;
  if (screen_) root_.remove(*screen_);
  shownKind_ = kind;
  if (kind == 0)
    screen_ = Gtk::make_managed<LoginView>(context_);
  else if (kind == 1)
    screen_ = Gtk::make_managed<RequiredPasswordView>(context_);
  else
    screen_ = Gtk::make_managed<WorkspaceView>(context_, *this);
  screen_->set_vexpand(true);
  root_.append(*screen_);
  if (kind != 2) set_title("Dorvik");
}

void RootWindow::updateActions() {
  const AppModel& model = *context_.model;
  openAction_->set_enabled(!model.user().isNull() && !model.busy() && !model.geocoding());
  saveAction_->set_enabled(!model.orders().empty());
}

void RootWindow::updateAlert() {
  const auto& error = context_.model->error();
  if (!error) {
    if (alert_) {
      GtkWindow* window = GTK_WINDOW(alert_);
      alert_ = nullptr;
      gtk_window_destroy(window);
    }
    return;
  }
  if (alert_) {
    adw_message_dialog_set_body(alert_, error->c_str());
    return;
  }
  GtkWidget* dialog = adw_message_dialog_new(GTK_WINDOW(gobj()), "Не удалось завершить действие", error->c_str());
  alert_ = ADW_MESSAGE_DIALOG(dialog);
  adw_message_dialog_add_response(alert_, "close", "Понятно");
  adw_message_dialog_set_close_response(alert_, "close");
  adw_message_dialog_set_default_response(alert_, "close");
  // Any dismissal (the button, Escape) clears the model's error; the dialog then closes itself.
  g_signal_connect(dialog, "response", callback([](AdwMessageDialog*, const char*, gpointer self) {
                     auto* root = static_cast<RootWindow*>(self);
                     root->alert_ = nullptr;
                     root->context_.model->setError(std::nullopt);
                   }),
                   this);
  g_signal_connect(dialog, "destroy", callback([](GtkWidget* widget, gpointer self) {
                     auto* root = static_cast<RootWindow*>(self);
                     if (root->alert_ == ADW_MESSAGE_DIALOG(widget)) root->alert_ = nullptr;
                   }),
                   this);
  gtk_window_present(GTK_WINDOW(dialog));
}

}  // namespace dorvik
