// What every window and screen of the shell is handed: the one model of the run, the workflows it calls, the
// user's settings and the window-level commands.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/async/task.h"
#include "core/json/json_value.h"
#include "model/app_model.h"
#include "shell/toolkit/screen_data.h"
#include "core/settings/user_defaults.h"

namespace Gtk {
class Widget;
}

namespace dorvik {

class Sheet;
struct ShellContext;

// The monitoring screens' route sheets, for the screens of other families that open them (the day's routes,
// orders and trackers among the reference lists). The page switch fills them in; empty, nothing opens.
struct RouteSheets {
  std::function<Sheet*(Gtk::Widget& anchor, const ShellContext& context, std::string routeID, std::string routeDate)>
      detail;
  std::function<Sheet*(Gtk::Widget& anchor, const ShellContext& context, std::string routeID)> track;
};

// The page catalogue: the screen of a panel page, a managed widget built afresh for every page change. The program
// fills it in with its screen families; empty (a shell on its own), a page shows nothing.
using PanelScreens = std::function<Gtk::Widget*(PanelPage page, const ShellContext& context)>;

// The tabs of the settings window.
enum class PreferencesTab { appearance, connection, about };

// The model's workflows as the screens call them. The application forwards them to AppModel; tests put a
// scripted stand-in behind the same calls.
class Workflows {
 public:
  virtual ~Workflows() = default;
  virtual async::Task<void> start(AppModel::LaunchOptions options) = 0;
  virtual async::Task<void> login(std::string identity, std::string password) = 0;
  virtual async::Task<void> changeRequiredPassword(std::string password) = 0;
  virtual async::Task<void> loadPreview() = 0;
  virtual async::Task<void> logout() = 0;
  virtual async::Task<void> switchDepot(std::string depotId) = 0;
  virtual async::Task<void> refreshReferenceData() = 0;
  virtual async::Task<JSONValue> fetch(std::string path, std::string method, std::optional<JSONValue> body) = 0;
  virtual async::Task<bool> mutate(std::string action, JSONValue payload) = 0;
  virtual async::Task<void> importWorkbook() = 0;
  virtual async::Task<void> exportWorkbook(std::string kind) = 0;
};

// The workflows of the model itself.
std::shared_ptr<Workflows> modelWorkflows(std::shared_ptr<AppModel> model);

struct ShellContext {
  std::shared_ptr<AppModel> model;
  std::shared_ptr<Workflows> workflows;
  std::shared_ptr<UserDefaults> defaults;
  // Presents the settings window on a tab: the appearance for the menu and the workspace's links, the connection
  // for the sign-in screen's "Настройки подключения".
  std::function<void(PreferencesTab)> openPreferences;
  RouteSheets routeSheets;
  PanelScreens screens;

  // The loader source of a screen: the model's generation and the workflows' gateway.
  ScreenSource screenSource() const {
    std::weak_ptr<AppModel> weakModel = model;
    std::shared_ptr<Workflows> flows = workflows;
    return ScreenSource{[weakModel] {
                          auto m = weakModel.lock();
                          return m ? m->generation() : std::string();
                        },
                        [flows](std::string path, std::string method, std::optional<JSONValue> body) {
                          return flows->fetch(std::move(path), std::move(method), std::move(body));
                        }};
  }
};

// A weak handle on a view for tasks that outlive it: the view resets it when destroyed, so a task that resumes
// later finds it empty instead of touching a destroyed widget.
template <class View>
class ViewLink {
 public:
  explicit ViewLink(View* view) : link_(std::make_shared<View*>(view)) {}
  ~ViewLink() { *link_ = nullptr; }
  ViewLink(const ViewLink&) = delete;
  ViewLink& operator=(const ViewLink&) = delete;
  std::weak_ptr<View*> weak() const { return link_; }

 private:
  std::shared_ptr<View*> link_;
};

template <class View>
View* lockView(const std::weak_ptr<View*>& weak) {
  auto link = weak.lock();
  return link ? *link : nullptr;
}

}  // namespace dorvik
