// The order editor sheet over an OrderEditor: the order form, the address search row and the footer.
#include <adwaita.h>

#include "planning/editor_form.h"
#include "planning/logic/order_editor.h"
#include "planning/planner_pieces.h"

namespace dorvik::planning {

namespace {

class OrderEditorView : public EditorForm {
 public:
  OrderEditorView(Sheet& sheet, std::shared_ptr<OrderEditor> editor)
      : EditorForm(sheet, editor->heading()), editor_(std::move(editor)) {
    rows_ = addValueFields(group(), orderFields(), editor_->value());

    auto* search = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    search->set_margin_top(12);
    search->append(searchButton_);
    spinner_.set_valign(Gtk::Align::CENTER);
    search->append(spinner_);
    stop_.set_label("Остановить поиск");
    search->append(stop_);
    addRow(*search);
    finish("Сохранить", [editor = editor_] { editor->save(); });

    searchButton_.signal_clicked().connect([editor = editor_] { editor->search(); });
    stop_.signal_clicked().connect([editor = editor_] { editor->stopSearch(); });
    sheet.signalClosed().connect([editor = editor_] { editor->close(); });
    connection_ = editor_->observe([this](OrderEditor::Change change) {
      switch (change) {
        case OrderEditor::Change::value:
          rows_.refresh(*editor_->value(), "lat");
          rows_.refresh(*editor_->value(), "lon");
          break;
        case OrderEditor::Change::issue:
          showIssue(editor_->issue());
          break;
        case OrderEditor::Change::busy:
          update();
          break;
        case OrderEditor::Change::dismissed:
          dismiss();
          break;
      }
    });
    update();
  }

 private:
  void update() {
    const bool searching = editor_->searching();
    searchButton_.set_label(searching ? "Ищем координаты…" : "Найти координаты по адресу");
    searchButton_.set_sensitive(!editor_->busy());
    spinner_.set_visible(searching);
    spinner_.set_spinning(searching);
    stop_.set_visible(searching);
    setBusy(editor_->busy());
  }

  std::shared_ptr<OrderEditor> editor_;
  ValueFieldRows rows_;
  Gtk::Button searchButton_;
  Gtk::Spinner spinner_;
  Gtk::Button stop_;
  OrderEditor::Connection connection_;
};

}  // namespace

Sheet* openOrderEditor(Gtk::Widget& anchor, const PlannerFrame& frame, const JSONValue& order) {
  auto editor = OrderEditor::create(order, orderEditorWork(frame.context.model));
  Sheet* sheet = Sheet::open(anchor, editor->heading(), 550, 600);
  sheet->set_size_request(550, 420);
  Gtk::make_managed<OrderEditorView>(*sheet, std::move(editor));
  sheet->present();
  return sheet;
}

}  // namespace dorvik::planning
