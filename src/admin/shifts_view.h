// The shifts and payroll page ("Смены и выплаты"): the month and period pickers, the depot row with its rate,
// the couriers' figures of the period, the selected courier's day grid with its marks, and the totals line. Beside
// the grid the selected courier's panel holds the pay blocks (pay settings, adjustments), appended into
// payBlocks(); the toolbar reloads the month and exports the pay sheet of the period.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <memory>
#include <vector>

#include "admin/logic/shifts.h"
#include "shell/record_table.h"
#include "shell/shell_context.h"

namespace dorvik {
class MoscowDatePicker;
}  // namespace dorvik

namespace dorvik::admin {

class ShiftsView : public Gtk::Box {
 public:
  explicit ShiftsView(const ShellContext& context);
  ShiftsView(const ShellContext& context, AdminGateway gateway);
  ~ShiftsView() override;

  const std::shared_ptr<ShiftsController>& controller() const { return controller_; }
  // Where the selected courier's pay blocks stand, beside the day grid; shown only while a courier is shown.
  Gtk::Box& payBlocks() { return payBlocks_; }

  // What the screen shows (tests): the day cells of the grid, the table, the totals line.
  std::vector<Gtk::MenuButton*> dayButtons() const;
  RecordTable& table() { return table_; }
  std::string totalsText() const;

 private:
  Gtk::Widget& buildToolbar();
  Gtk::Widget& buildHeader();
  Gtk::Widget& buildDepotRow();
  Gtk::Widget& buildTable();
  Gtk::Widget& buildPanel();
  Gtk::Widget& buildTotals();
  void showDocument();
  void showPeriod();
  void showPanel();
  void showState();

  ShellContext context_;
  std::shared_ptr<ShiftsController> controller_;

  Gtk::Button* refresh_ = nullptr;
  Gtk::Button* export_ = nullptr;
  MoscowDatePicker* month_ = nullptr;
  std::vector<Gtk::ToggleButton*> periods_;
  Gtk::Label depotName_;
  Gtk::Entry depotRate_;
  Gtk::Button saveRate_{"Сохранить ставку"};
  RecordTable table_{RecordTable::Selection::single};
  Gtk::Label placeholder_;
  Gtk::Box panel_{Gtk::Orientation::VERTICAL};
  Gtk::Box* panelColumns_ = nullptr;  // the day grid beside the courier's forms
  Gtk::Box pageNotice_;     // the loader's notice line under the depot row
  Gtk::Box courierNotice_;  // the same line beside the courier's form, for what his panel did
  Gtk::Label courierName_;
  Gtk::FlowBox grid_;
  Gtk::Box payBlocks_{Gtk::Orientation::VERTICAL, 16};
  Gtk::Label accrued_;
  Gtk::Label cash_;
  bool syncing_ = false;
  ShiftsController::Connection controllerConnection_;
  AppModel::Connection modelConnection_;
};

Gtk::Widget* makeShiftsView(const ShellContext& context);

}  // namespace dorvik::admin
