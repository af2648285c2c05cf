// The "Окна" tab of the planner screen: a read-only table setting each order's delivery window beside its planned
// arrival and service time.
#include "planning/logic/order_details.h"
#include "planning/planner_pieces.h"
#include "shell/record_table.h"

namespace dorvik::planning {

namespace {

class PlanningWindowsView : public RecordTable {
 public:
  explicit PlanningWindowsView(std::shared_ptr<AppModel> model)
      : RecordTable(Selection::none), model_(std::move(model)) {
    // Rows are the model's orders: the fallback identity is the order's "_nativeID", unique within a plan, where
    // the order number may repeat.
    setIdentity([](const Record& row) { return row.fallbackID; });
    for (const WindowsColumn& column : windowsColumns()) {
      addColumn(
          column.title, column.cell,
          // A column that grows has its width as a minimum only: a fixed width would also be the width its
          // rows are measured at, leaving rows whose text wrapped there taller than their one line once grown.
          ColumnOptions{.width = column.fixed ? column.width : -1,
                        .minWidth = column.fixed ? -1 : column.width,
                        .expand = !column.fixed,
                        .lines = column.lines,
                        .digits = column.numeric});
    }
    view().set_reorderable(false);
    connection_ = model_->observe([this](AppModel::Property property) {
      if (property == AppModel::Property::planner) setRows(model_->orders());
    });
    setRows(model_->orders());
  }
  ~PlanningWindowsView() override { connection_.disconnect(); }

 private:
  std::shared_ptr<AppModel> model_;
  AppModel::Connection connection_;
};

}  // namespace

Gtk::Widget* makeWindowsView(const PlannerFrame& frame) {
  return Gtk::make_managed<PlanningWindowsView>(frame.context.model);
}

}  // namespace dorvik::planning
