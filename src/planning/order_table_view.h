// The "Заказы" tab of the planner screen: the table of the orders the search shows, its selection mirrored with
// the model's order selection, its context menu and double click, and the empty state; the tab's controls (search
// and "Добавить"); and the order-properties panel the screen shows beside its content.
#pragma once

#include <gtkmm.h>

#include <optional>
#include <set>
#include <string>

#include "planning/planner_pieces.h"
#include "shell/record_table.h"

namespace dorvik::planning {

class OrderTableView : public Gtk::Box {
 public:
  explicit OrderTableView(PlannerFrame frame);
  ~OrderTableView() override;

  RecordTable& table() { return *table_; }
  // Shows the context menu for a click at (x, y) of the table; the menu acts on the returned orders.
  std::set<std::string> openMenu(double x, double y);
  // The menu shown last and its actions (tests read them).
  Gtk::PopoverMenu& menu() { return menu_; }
  const Glib::RefPtr<Gio::SimpleActionGroup>& menuActions() const { return actions_; }

 private:
  void showRows();
  void showSelection();
  void buildMenu(const std::set<std::string>& targets);
  void edit(const std::set<std::string>& targets);

  PlannerFrame frame_;
  Gtk::Overlay overlay_;
  RecordTable* table_ = nullptr;
  Gtk::Widget* empty_ = nullptr;
  Gtk::PopoverMenu menu_;
  Glib::RefPtr<Gio::SimpleActionGroup> actions_;
  PlannerScreen::Connection screenConnection_;
  AppModel::Connection modelConnection_;
};

// The search field "Поиск заказа" and the button "Добавить".
Gtk::Widget* makeOrderControls(const PlannerFrame& frame);

// The order-properties panel: its header with the close button, and the order inspector.
Gtk::Widget* makeOrderProperties(const PlannerFrame& frame);

}  // namespace dorvik::planning
