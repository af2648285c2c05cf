// The monitoring pages ("Дашборд", "Карта", "Курьеры"): the day's published routes as a searchable list with a
// status filter, their stops and last GPS positions on the map, the day's metric tiles on the dashboard, and the
// route detail sheet opened from a row. The list reloads 30 seconds after each load while automatic refresh is on.
#pragma once

#include <gtkmm.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/panel_page.h"
#include "monitoring/logic/monitoring_rules.h"
#include "monitoring/logic/timers.h"
#include "shell/record_table.h"
#include "shell/shell_context.h"

namespace dorvik {
class MoscowDatePicker;
class TwoGISSurface;
}  // namespace dorvik

namespace dorvik::monitoring {

class MonitoringView : public Gtk::Box {
 public:
  MonitoringView(PanelPage page, ShellContext context);
  ~MonitoringView() override;

  // What the screen shows now (tests).
  const std::vector<Record>& filtered() const { return filtered_; }
  const std::optional<std::string>& selection() const { return selection_; }
  const std::shared_ptr<ScreenData>& state() const { return state_; }
  TwoGISSurface* map() const { return map_; }
  // The day shown, as picked by the user.
  void pickDay(std::chrono::system_clock::time_point day);

 private:
  void buildFilterBar();
  void buildTiles();
  Gtk::Widget* buildList();
  void startLoop();
  void loadOnce(std::function<void()> done);
  void update();
  void updateMap();
  void select(std::optional<std::string> id);
  void openDetail(const Record& route);
  std::string day() const;

  PanelPage page_;
  ShellContext context_;
  std::shared_ptr<ScreenData> state_ = ScreenData::create();
  std::chrono::system_clock::time_point date_ = std::chrono::system_clock::now();
  std::string query_;
  std::string status_ = "all";
  std::optional<std::string> selection_;
  bool automatic_ = true;
  std::vector<Record> routes_;
  std::vector<Record> filtered_;
  std::unique_ptr<RefreshLoop> loop_;

  MoscowDatePicker* datePicker_ = nullptr;
  Gtk::DropDown* statusPicker_ = nullptr;
  Gtk::SearchEntry search_;
  Gtk::Button* refresh_ = nullptr;
  std::vector<Gtk::Label*> tiles_;
  RecordTable list_{RecordTable::Selection::single};
  TwoGISSurface* map_ = nullptr;
  Gtk::Widget* placeholder_ = nullptr;
  Gtk::Button showAll_{"Показать все"};
  Gtk::CheckButton automaticCheck_{"Обновлять каждые 30 секунд"};
  ScreenData::Connection stateConnection_;
  AppModel::Connection modelConnection_;
  std::string generation_;
};

// The screen of one monitoring page.
Gtk::Widget* makeMonitoringView(PanelPage page, const ShellContext& context);

}  // namespace dorvik::monitoring
