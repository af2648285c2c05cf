// The planner's "Транспорт" tab: the plan's vehicles with "Добавить" and each row's "Изменить".
#include <adwaita.h>

#include "planning/logic/vehicle_rows.h"
#include "planning/planner_pieces.h"
#include "shell/form_widgets.h"
#include "shell/record_table.h"
#include "shell/toolkit/display.h"
#include "shell/toolkit/symbols.h"
#include "widgets/gtk_helpers.h"

namespace dorvik::planning {

namespace {

class VehicleTableView : public Gtk::Box {
 public:
  explicit VehicleTableView(PlannerFrame frame) : Gtk::Box(Gtk::Orientation::VERTICAL), frame_(std::move(frame)) {
    auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    header->set_margin(16);
    auto* title = Gtk::make_managed<Gtk::Label>("Машины из рабочей книги");
    title->add_css_class("heading");
    title->set_hexpand(true);
    title->set_xalign(0);
    header->append(*title);
    auto* add = symbolButton("Добавить", "plus");
    add->set_tooltip_text("Добавить машину");
    PlannerSheets* sheets = frame_.sheets;
    add->signal_clicked().connect([sheets] { sheets->editVehicle(std::nullopt); });
    header->append(*add);
    append(*header);

    table_ = Gtk::make_managed<RecordTable>(RecordTable::Selection::none);
    // Rows are the positions of the plan's vehicles: two equal vehicles are two rows.
    table_->setIdentity([](const Record& row) { return row.fallbackID; });
    table_->addWidgetColumn(
        "На смене", [] { return Gtk::make_managed<Gtk::Image>(); },
        [](Gtk::Widget& widget, const Record& row) {
          auto& image = static_cast<Gtk::Image&>(widget);
          const DutyMark mark = dutyMark(row.value);
          image.set_from_icon_name(std::string(symbolIcon(mark.symbol)));
          image.set_tooltip_text(mark.onDuty ? "На смене" : "Не на смене");
          if (mark.onDuty) {
            image.remove_css_class("dim-label");
            image.add_css_class("success");
          } else {
            image.remove_css_class("success");
            image.add_css_class("dim-label");
          }
        },
        RecordTable::ColumnOptions{.width = 80});
    for (const VehicleColumn& column : vehicleTabColumns()) {
      table_->addColumn(column.title, recordTextCell(column.key), RecordTable::ColumnOptions{.expand = true});
    }
    table_->addButtonColumn("Изменить", "Изменить", [sheets](const Record& row) { sheets->editVehicle(row); });
    append(*table_);

    connection_ = frame_.context.model->observe([this](AppModel::Property property) {
      if (property == AppModel::Property::planner) showRows();
    });
    showRows();
  }

 private:
  void showRows() { table_->setRows(vehicleRows(frame_.context.model->planner())); }

  PlannerFrame frame_;
  RecordTable* table_ = nullptr;
  AppModel::Connection connection_;
};

}  // namespace

Gtk::Widget* makeVehicleTable(const PlannerFrame& frame) { return Gtk::make_managed<VehicleTableView>(frame); }

}  // namespace dorvik::planning
