// The transport page: the vehicles of the current planning day as a page of its own, edited through the vehicle
// editor. Nothing here talks to the server: the editor changes the plan.
#include <adwaita.h>

#include "planning/editor_sheets.h"
#include "planning/logic/planner_rules.h"
#include "planning/logic/vehicle_rows.h"
#include "planning/panel_pages.h"
#include "shell/form_widgets.h"
#include "shell/record_table.h"
#include "shell/toolkit/display.h"
#include "shell/toolkit/symbols.h"
#include "widgets/gtk_helpers.h"

namespace dorvik::planning {

namespace {

class TransportView : public Gtk::Box {
 public:
  explicit TransportView(const ShellContext& context) : Gtk::Box(Gtk::Orientation::VERTICAL), model_(context.model) {
    auto* top = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
    top->set_margin(20);
    auto* note = Gtk::make_managed<Gtk::Label>(
        "Транспорт текущего планирования: смены, вместимость, геозоны и возврат на склад.");
    note->add_css_class("dim-label");
    note->set_wrap(true);
    note->set_xalign(0);
    note->set_hexpand(true);
    top->append(*note);
    auto* add = symbolButton("Добавить машину", "plus");
    add->set_valign(Gtk::Align::CENTER);
    add->signal_clicked().connect([this] { edit(std::nullopt); });
    top->append(*add);
    append(*top);

    table_ = Gtk::make_managed<RecordTable>(RecordTable::Selection::none);
    // Rows are the positions of the plan's vehicles: two equal vehicles are two rows.
    table_->setIdentity([](const Record& row) { return row.fallbackID; });
    for (const VehicleColumn& column : transportColumns()) {
      table_->addColumn(column.title, recordTextCell(column.key), RecordTable::ColumnOptions{.expand = true});
    }
    table_->addColumn("На смене", [](const Record& row) { return onDutyText(row.value); });
    table_->addButtonColumn("Править", "Изменить", [this](const Record& row) { edit(row); });
    append(*table_);

    connection_ = model_->observe([this](AppModel::Property property) {
      if (property == AppModel::Property::planner) showRows();
    });
    showRows();
  }

 private:
  void showRows() { table_->setRows(vehicleRows(model_->planner())); }

  // The editor for a row (its position in the plan as it is now, -1 once it is gone), or for a new vehicle.
  void edit(const std::optional<Record>& row) {
    if (sheet_) return;
    const JSONValue vehicle = row ? row->value : JSONValue();
    const std::int64_t index = row ? vehicleEditorIndex(model_->planner(), *row) : -1;
    sheet_ = openVehicleSheet(*this, model_, vehicle, index);
    sheet_->signalClosed().connect([weak = link_.weak()] {
      if (TransportView* view = lockView(weak)) view->sheet_ = nullptr;
    });
  }

  std::shared_ptr<AppModel> model_;
  RecordTable* table_ = nullptr;
  Sheet* sheet_ = nullptr;
  AppModel::Connection connection_;
  ViewLink<TransportView> link_{this};
};

}  // namespace

Gtk::Widget* makeTransportView(const ShellContext& context) { return Gtk::make_managed<TransportView>(context); }

}  // namespace dorvik::planning
