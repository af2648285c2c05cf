// Pieces of the planner screen not built yet: the vehicles and checks tabs, and the order, vehicle and depot
// editors and the publication sheet. Each function moves to a file of its own when it is built; until then a
// tab shows its title and a sheet shows nothing.
#include "planning/placeholder_pieces.h"
#include "planning/planner_pieces.h"

namespace dorvik::planning {

Gtk::Widget* makeVehicleTable(const PlannerFrame&) { return placeholderTab("shippingbox", "Транспорт"); }

Gtk::Widget* makeChecks(const PlannerFrame&) { return placeholderTab("checkmark.circle", "Проверка"); }

Sheet* openOrderEditor(Gtk::Widget&, const PlannerFrame&, const JSONValue&) { return nullptr; }

Sheet* openVehicleEditor(Gtk::Widget&, const PlannerFrame&, const JSONValue&, std::int64_t) { return nullptr; }

Sheet* openDepotEditor(Gtk::Widget&, const PlannerFrame&) { return nullptr; }

Sheet* openPublication(Gtk::Widget&, const PlannerFrame&) { return nullptr; }

}  // namespace dorvik::planning
