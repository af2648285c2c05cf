// The "Карта" tab of the planner screen: the mode picker and the map's display menu, the mode's hint, the transfer
// bar, the map surface and its footer. The tab's state and decisions are a PlanningMap; coordinate corrections
// go to the undo stack of the window the tab stands in.
#pragma once

#include <gtkmm.h>

#include <memory>

#include "map/map_surface.h"
#include "planning/logic/planning_map.h"
#include "planning/planner_pieces.h"

namespace dorvik::planning {

class PlannerMapView : public Gtk::Box {
 public:
  explicit PlannerMapView(const PlannerFrame& frame, MapPageOptions page = {});
  ~PlannerMapView() override;

  const std::shared_ptr<PlanningMap>& map() const { return map_; }
  TwoGISSurface& surface() { return *surface_; }
  // The actions of the display menu and of "Назначить курьеру" ("zones", "quality", "assign").
  const Glib::RefPtr<Gio::SimpleActionGroup>& actions() const { return actions_; }

 private:
  Gtk::Widget& buildControls();
  Gtk::Widget& buildFooter();
  void modelChanged(AppModel::Property property);
  // Brings every control and the surface in line with the map's state and the model.
  void show();
  void showAssignMenu();

  std::shared_ptr<AppModel> model_;
  std::shared_ptr<PlanningMap> map_;
  Glib::RefPtr<Gio::SimpleActionGroup> actions_;
  Glib::RefPtr<Gio::SimpleAction> zones_, quality_, assign_;

  Gtk::DropDown* modes_ = nullptr;
  Gtk::Label hint_;
  Gtk::Box transferBar_{Gtk::Orientation::HORIZONTAL, 12};
  Gtk::Label selected_;
  Gtk::MenuButton assignMenu_;
  std::vector<std::string> assignTitles_;
  Gtk::Button clear_{"Снять выбор"};
  Gtk::Button undoTransfer_{"Отменить перенос"};
  TwoGISSurface* surface_ = nullptr;
  Gtk::Label undoHint_;
  bool showing_ = false;

  PlanningMap::Connection mapConnection_;
  PlannerScreen::Connection shownConnection_;
  AppModel::Connection modelConnection_;
};

}  // namespace dorvik::planning
