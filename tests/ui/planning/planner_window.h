// The main window over the real model and planner components, with the planner page shown: the fixture of the
// planner page's suites under a display.
#pragma once

#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/async/task.h"
#include "core/engine/planner_engine.h"
#include "model/file_dialogs.h"
#include "planning/planner_view.h"
#include "support/window_fixture.h"

namespace dorvik::testing {

using namespace std::chrono_literals;

// Answers the open dialog with the file set for it.
class PickingDialogs : public FileDialogs {
 public:
  std::optional<std::string> openAnswer;
  async::Task<Chosen> openFile(std::vector<std::string>) override { co_return openAnswer; }
  async::Task<Chosen> saveFile(std::string) override { co_return std::nullopt; }
};

class PlannerWindow : public WindowFixture<> {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    model->setEngine(async::runBlocking(PlannerEngine::create()));
    model->setFileDialogs(dialogs);
  }

  void openWindow() { openMainWindow(1400, 860); }
  planning::PlannerView* view() { return widgetOf<planning::PlannerView>(root()); }
  GtkWidget* page() { return GTK_WIDGET(view()->gobj()); }
  GtkWidget* button(const std::string& text) { return findButton(page(), text); }
  using WindowFixture::click;
  void click(const std::string& text) { click(page(), text); }
  void expectNoError() {
    EXPECT_EQ(model->error(), std::nullopt);
    EXPECT_EQ(window_->alert(), nullptr);
  }

  std::shared_ptr<PickingDialogs> dialogs = std::make_shared<PickingDialogs>();
};

}  // namespace dorvik::testing
