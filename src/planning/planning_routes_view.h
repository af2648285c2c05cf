// The "Маршруты" tab of the planner screen: the day's routes on the left, the stops of the chosen route on the
// right, reordered by dragging a row within the list (or Alt+Up / Alt+Down on a focused row), each with its
// "Назначить" menu. The tab's decisions are a RoutesTab; the plan changes go through the model.
#pragma once

#include <gtkmm.h>

#include <memory>
#include <string>
#include <vector>

#include "planning/logic/planning_routes.h"
#include "planning/planner_pieces.h"

namespace dorvik::planning {

class PlanningRoutesView : public Gtk::Paned {
 public:
  explicit PlanningRoutesView(const PlannerFrame& frame);
  ~PlanningRoutesView() override;

  RoutesTab& tab() { return tab_; }
  Gtk::ListBox& routeList() { return routes_; }
  Gtk::ListBox& stopList() { return stops_; }
  // What a drop of the stop at `source` onto the insertion offset `destination` does (the drag's end).
  bool moveStop(std::size_t source, std::size_t destination) { return tab_.move(source, destination); }

 private:
  void show();
  void showRoutes();
  void showDetail();
  Gtk::Widget* stopRow(const JSONValue& stop, std::size_t position, std::size_t count);

  std::shared_ptr<AppModel> model_;
  RoutesTab tab_;
  Gtk::ListBox routes_;
  std::vector<std::string> routeIDs_;
  bool showingRoutes_ = false;
  Gtk::Stack detail_;
  Gtk::Label courier_;
  Gtk::Label shift_;
  Gtk::ListBox stops_;
  AppModel::Connection connection_;
  PlannerScreen::Connection shownConnection_;
};

}  // namespace dorvik::planning
