// Pieces of the planner screen not built yet: the publication sheet. It moves to a file of its own when it is
// built; until then it shows nothing.
#include "planning/planner_pieces.h"

namespace dorvik::planning {

Sheet* openPublication(Gtk::Widget&, const PlannerFrame&) { return nullptr; }

}  // namespace dorvik::planning
