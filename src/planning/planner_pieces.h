// The pieces of the planner screen that are screens of their own: the tab contents, the order inspector and the
// sheets the screen presents. The planner screen builds each through the function named here and hands it the
// PlannerFrame; each lives in a file of its own.
//
// Tab contents and the inspector are managed widgets that live as long as the screen. A sheet opener shows its
// sheet over `anchor`'s window and returns it (the screen presents one sheet at a time and learns of its closing
// through Sheet::signalClosed), or returns nullptr when it has nothing to show.
#pragma once

#include <gtkmm.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "core/json/json_value.h"
#include "planning/logic/planner_screen.h"
#include "shell/shell_context.h"
#include "shell/sheet.h"

namespace dorvik::planning {

// The sheets and the deletion confirmation of the planner screen, presented by the screen (one sheet at a time).
class PlannerSheets {
 public:
  virtual ~PlannerSheets() = default;
  // The order editor for an order object of the plan, or for a new order (none).
  virtual void editOrder(std::optional<JSONValue> order) = 0;
  // The vehicle editor for a vehicle record of the plan (its index found in the plan), or for a new one (none).
  virtual void editVehicle(std::optional<Record> vehicle) = 0;
  virtual void editDepot() = 0;
  virtual void publish() = 0;
  virtual void refineRoads() = 0;
  // The confirmation that deletes the orders the screen offers for deletion (PlannerScreen::deletionIDs).
  virtual void confirmDeletion() = 0;
};

// What the planner screen hands its pieces.
struct PlannerFrame {
  ShellContext context;
  // The screen's state (tab, properties pane, order search and the rows it shows) and its commands.
  std::shared_ptr<PlannerScreen> screen;
  // Good while the screen exists; the pieces are the screen's children.
  PlannerSheets* sheets = nullptr;
};

// Tab contents and the inspector.
Gtk::Widget* makePlannerMap(const PlannerFrame& frame);
Gtk::Widget* makeVehicleTable(const PlannerFrame& frame);
Gtk::Widget* makeRoutesView(const PlannerFrame& frame);
Gtk::Widget* makeWindowsView(const PlannerFrame& frame);
Gtk::Widget* makeChecks(const PlannerFrame& frame);
Gtk::Widget* makeOrderInspector(const PlannerFrame& frame);

// Sheets.
Sheet* openOrderEditor(Gtk::Widget& anchor, const PlannerFrame& frame, const JSONValue& order);  // null: new
Sheet* openVehicleEditor(Gtk::Widget& anchor, const PlannerFrame& frame, const JSONValue& vehicle,
                         std::int64_t index);  // null and -1: new
Sheet* openDepotEditor(Gtk::Widget& anchor, const PlannerFrame& frame);
Sheet* openPublication(Gtk::Widget& anchor, const PlannerFrame& frame);
Sheet* openRoadRefinement(Gtk::Widget& anchor, const PlannerFrame& frame);

}  // namespace dorvik::planning
