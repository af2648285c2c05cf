// The vehicle and depot editor sheets over a PlanEditor: the form and the footer, busy while a save runs.
#include <adwaita.h>

#include "planning/editor_form.h"
#include "planning/editor_sheets.h"
#include "planning/logic/plan_editors.h"
#include "planning/planner_pieces.h"

namespace dorvik::planning {

namespace {

class PlanEditorView : public EditorForm {
 public:
  PlanEditorView(Sheet& sheet, const std::string& heading, const std::vector<FieldSpec>& fields,
                 std::shared_ptr<PlanEditor> editor)
      : EditorForm(sheet, heading), editor_(std::move(editor)) {
    addValueFields(group(), fields, editor_->value());
    finish("Сохранить", [editor = editor_] { editor->save(); });
    connection_ = editor_->observe([this](PlanEditor::Change change) {
      switch (change) {
        case PlanEditor::Change::issue:
          showIssue(editor_->issue());
          break;
        case PlanEditor::Change::busy:
          setBusy(editor_->busy());
          break;
        case PlanEditor::Change::dismissed:
          dismiss();
          break;
      }
    });
  }

 private:
  std::shared_ptr<PlanEditor> editor_;
  PlanEditor::Connection connection_;
};

PlanChange modelChange(const std::shared_ptr<AppModel>& model) {
  return [model](std::string action, JSONValue input) { return model->mutate(std::move(action), std::move(input)); };
}

// At least `height` high, taller when the form's rows need it (the desktop's rows are taller than the sizes
// assume).
Sheet* openPlanEditor(Gtk::Widget& anchor, const std::string& heading, int width, int height,
                      const std::vector<FieldSpec>& fields, std::shared_ptr<PlanEditor> editor) {
  Sheet* sheet = Sheet::open(anchor, heading, width, -1);
  sheet->set_size_request(width, height);
  sheet->set_resizable(false);
  Gtk::make_managed<PlanEditorView>(*sheet, heading, fields, std::move(editor));
  sheet->present();
  return sheet;
}

}  // namespace

Sheet* openVehicleSheet(Gtk::Widget& anchor, const std::shared_ptr<AppModel>& model, const JSONValue& vehicle,
                        std::int64_t index) {
  return openPlanEditor(anchor, vehicleEditorHeading(index), 500, 580, vehicleFields(),
                        makeVehicleEditor(vehicle, index, modelChange(model)));
}

Sheet* openVehicleEditor(Gtk::Widget& anchor, const PlannerFrame& frame, const JSONValue& vehicle, std::int64_t index) {
  return openVehicleSheet(anchor, frame.context.model, vehicle, index);
}

Sheet* openDepotEditor(Gtk::Widget& anchor, const PlannerFrame& frame) {
  const std::shared_ptr<AppModel>& model = frame.context.model;
  return openPlanEditor(anchor, "Склад в этом плане", 470, 370, depotFields(),
                        makeDepotEditor(model->planner(), modelChange(model)));
}

}  // namespace dorvik::planning
