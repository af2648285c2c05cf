// The fixture of the suites that drive a window under a display: GTK set up once per suite, a fresh model with its
// own settings file in a temporary folder, the window opened by the test, and everything taken down after it.
//
// Adopting it in a new suite:
//
//   class ShiftsWindow : public dorvik::testing::WindowFixture<> {        // the main window (RootWindow)
//    protected:
//     void SetUp() override {
//       WindowFixture::SetUp();
//       model->setApi(...);                                          // whatever the suite needs besides
//     }
//   };
//   TEST_F(ShiftsWindow, ...) {
//     openMainWindow();                                              // 1280×800 unless told
//     model->setPage(PanelPage::shifts);
//     auto* view = widgetOf<ShiftsView>(root());
//     click(root(), "Обновить");
//     savePNG(root(), "admin-shifts");
//   }
//
// A suite that shows one page without the main window derives from WindowFixture<Gtk::Window> and calls
// `host(*Gtk::make_managed<Page>(...), width, height)`; the free-standing windows such a page opens (its sheets)
// are closed before the window goes, as they delete themselves once closed.
//
// What the fixture holds: `model` (a fresh AppModel), `context_` (the model, its workflows and the settings of
// `folder_`), `appearance_` (follows the "appearance" setting), `window_` (null until opened; deleted after the
// test), `folder_` (removed after the test).
#pragma once

#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "app/page_catalogue.h"
#include "core/settings/user_defaults.h"
#include "shell/application.h"
#include "shell/root_window.h"
#include "shell/shell_context.h"
#include "support/ui_helpers.h"

namespace dorvik::testing {

template <class Window = RootWindow>
class WindowFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { initDisplay(); }

  void SetUp() override {
    char folder[] = "/tmp/dorvik-window-XXXXXX";
    ASSERT_NE(g_mkdtemp(folder), nullptr);
    folder_ = folder;
    context_.model = model;
    context_.workflows = modelWorkflows(model);
    context_.defaults = std::make_shared<UserDefaults>(folder_ + "/settings.ini");
    context_.screens = makePanelContent;
    appearance_ = std::make_unique<Appearance>(context_.defaults);
  }
  void TearDown() override {
    if (hosted_) closeShownWindows(window_ ? GTK_WIDGET(window_->gobj()) : nullptr);
    delete window_;
    window_ = nullptr;
    spin(std::chrono::milliseconds(50));
    appearance_.reset();
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
  }

  // The main window over the fixture's context, shown at the size given.
  Window* openMainWindow(int width = 1280, int height = 800)
    requires std::is_same_v<Window, RootWindow>
  {
    window_ = new RootWindow(context_);
    window_->set_default_size(width, height);
    window_->present();
    spin();
    return window_;
  }
  // A plain window with `page` (made managed) as its only child, shown at the size given.
  template <class Page>
  Page& host(Page& page, int width, int height)
    requires std::is_same_v<Window, Gtk::Window>
  {
    hosted_ = true;
    window_ = new Gtk::Window();
    window_->set_default_size(width, height);
    window_->set_child(page);
    window_->present();
    spin();
    return page;
  }

  GtkWidget* root() { return GTK_WIDGET(window_->gobj()); }
  // Presses the button reading `text` under `within`, which must be there and enabled, and lets it run.
  void click(GtkWidget* within, const std::string& text) {
    GtkWidget* button = findButton(within, text);
    ASSERT_NE(button, nullptr) << text;
    ASSERT_TRUE(gtk_widget_is_sensitive(button)) << text;
    g_signal_emit_by_name(button, "clicked");
    spin();
  }

  std::shared_ptr<AppModel> model = AppModel::create();
  std::string folder_;
  ShellContext context_;
  std::unique_ptr<Appearance> appearance_;
  Window* window_ = nullptr;

 private:
  bool hosted_ = false;
};

}  // namespace dorvik::testing
