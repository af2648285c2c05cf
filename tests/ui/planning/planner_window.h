// The main window over the real model and planner components, with the planner page shown: the fixture of the
// planner page's suites under a display.
#pragma once

#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/async/task.h"
#include "core/engine/planner_engine.h"
#include "model/file_dialogs.h"
#include "planning/planner_view.h"
#include "shell/application.h"
#include "shell/root_window.h"
#include "support/ui_helpers.h"

namespace dorvik::testing {

using namespace std::chrono_literals;

// Answers the open dialog with the file set for it.
class PickingDialogs : public FileDialogs {
 public:
  std::optional<std::string> openAnswer;
  async::Task<Chosen> openFile(std::vector<std::string>) override { co_return openAnswer; }
  async::Task<Chosen> saveFile(std::string) override { co_return std::nullopt; }
};

class PlannerWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { initDisplay(); }

  void SetUp() override {
    char folder[] = "/tmp/dorvik-planner-ui-XXXXXX";
    ASSERT_NE(g_mkdtemp(folder), nullptr);
    folder_ = folder;
    context_.model = model;
    context_.workflows = modelWorkflows(model);
    context_.defaults = std::make_shared<UserDefaults>(folder_ + "/settings.ini");
    appearance_ = std::make_unique<Appearance>(context_.defaults);
    model->setEngine(async::runBlocking(PlannerEngine::create()));
    model->setFileDialogs(dialogs);
  }
  void TearDown() override {
    delete window_;
    spin(50ms);
    appearance_.reset();
    std::filesystem::remove_all(folder_);
  }

  void openWindow() {
    window_ = new RootWindow(context_);
    window_->set_default_size(1400, 860);
    window_->present();
    spin();
  }
  GtkWidget* root() { return GTK_WIDGET(window_->gobj()); }
  planning::PlannerView* view() {
    GtkWidget* found =
        findWidget(root(), [](GtkWidget* w) { return dynamic_cast<planning::PlannerView*>(Glib::wrap(w)); });
    return found ? dynamic_cast<planning::PlannerView*>(Glib::wrap(found)) : nullptr;
  }
  GtkWidget* page() { return GTK_WIDGET(view()->gobj()); }
  GtkWidget* button(const std::string& text) { return findButton(page(), text); }
  void click(const std::string& text) {
    GtkWidget* b = button(text);
    ASSERT_NE(b, nullptr) << text;
    ASSERT_TRUE(gtk_widget_is_sensitive(b)) << text;
    g_signal_emit_by_name(b, "clicked");
    spin();
  }
  void expectNoError() {
    EXPECT_EQ(model->error(), std::nullopt);
    EXPECT_EQ(window_->alert(), nullptr);
  }

  std::shared_ptr<AppModel> model = AppModel::create();
  std::shared_ptr<PickingDialogs> dialogs = std::make_shared<PickingDialogs>();
  std::string folder_;
  ShellContext context_;
  std::unique_ptr<Appearance> appearance_;
  RootWindow* window_ = nullptr;
};

}  // namespace dorvik::testing
