// Pieces of the planner screen not built yet: the map, routes and windows tabs, the order inspector and the road
// refinement sheet. Each function moves to a file of its own when it is built; until then a tab shows its
// title, the inspector is empty and the sheet shows nothing.
#include "planning/placeholder_pieces.h"

#include "planning/planner_pieces.h"

namespace dorvik::planning {

Gtk::Widget* makePlannerMap(const PlannerFrame&) { return placeholderTab("map", "Карта"); }

Gtk::Widget* makeRoutesView(const PlannerFrame&) {
  return placeholderTab("point.topleft.down.to.point.bottomright.curvepath", "Маршруты");
}

Gtk::Widget* makeWindowsView(const PlannerFrame&) { return placeholderTab("clock", "Окна"); }

Gtk::Widget* makeOrderInspector(const PlannerFrame&) {
  auto* empty = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
  empty->set_vexpand(true);
  empty->set_hexpand(true);
  return empty;
}

Sheet* openRoadRefinement(Gtk::Widget&, const PlannerFrame&) { return nullptr; }

}  // namespace dorvik::planning
