// The plan history page: the snapshot title and "Сохранить текущий план", the search, the note and the table of
// snapshots with "Открыть" behind a confirmation.
#include <adwaita.h>

#include "planning/logic/plan_history.h"
#include "planning/panel_pages.h"
#include "shell/form_widgets.h"
#include "shell/record_table.h"
#include "shell/sheet.h"
#include "shell/toolkit/display.h"
#include "shell/toolkit/symbols.h"
#include "widgets/gtk_helpers.h"

namespace dorvik::planning {

namespace {

class PlanHistoryView : public Gtk::Box {
 public:
  explicit PlanHistoryView(const ShellContext& context) : Gtk::Box(Gtk::Orientation::VERTICAL), model_(context.model) {
    auto* top = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    top->set_margin(20);
    setPlaceholder(title_, "Название снимка");
    title_.set_text(kDefaultSnapshotTitle);
    title_.set_hexpand(true);
    top->append(title_);
    save_ = symbolButton("Сохранить текущий план", "tray.and.arrow.down");
    save_->signal_clicked().connect([this] { saveSnapshot(model_, title_.get_text()); });
    top->append(*save_);
    setPlaceholder(search_, "Поиск в истории");
    search_.set_hexpand(true);
    search_.signal_changed().connect([this] { showRows(); });
    top->append(search_);
    append(*top);

    auto* note = Gtk::make_managed<Gtk::Label>(kHistoryNote);
    note->add_css_class("caption");
    note->add_css_class("dim-label");
    note->set_wrap(true);
    note->set_xalign(0);
    note->set_margin_start(20);
    note->set_margin_end(20);
    note->set_margin_bottom(12);
    append(*note);

    table_ = Gtk::make_managed<RecordTable>(RecordTable::Selection::none);
    using Options = RecordTable::ColumnOptions;
    table_->addColumn("План", recordTextCell("title"), Options{.width = 180, .expand = true});
    table_->addColumn("Дата рейса", recordTextCell("date"), Options{.width = 120, .numeric = true});
    table_->addColumn("Файл", recordTextCell("fileName"), Options{.width = 220, .expand = true, .lines = 2});
    table_->addColumn("Заказов", recordTextCell("orders"), Options{.width = 65, .numeric = true});
    table_->addColumn("Маршрутов", recordTextCell("routes"), Options{.width = 95, .numeric = true});
    table_->addColumn("Сохранён", recordTextCell("createdAt"), Options{.width = 215});
    table_->addButtonColumn("Открыть", "Открыть", [this](const Record& row) { confirmRestore(row); });

    GtkWidget* empty = adw_status_page_new();
    adw_status_page_set_icon_name(ADW_STATUS_PAGE(empty), std::string(symbolIcon("clock.arrow.circlepath")).c_str());
    adw_status_page_set_title(ADW_STATUS_PAGE(empty), kHistoryEmptyTitle);
    adw_status_page_set_description(ADW_STATUS_PAGE(empty), kHistoryEmptyDescription);
    empty_ = Glib::wrap(empty);
    empty_->set_can_target(false);
    overlay_.set_child(*table_);
    overlay_.add_overlay(*empty_);
    overlay_.set_vexpand(true);
    append(overlay_);

    connection_ = model_->observe([this](AppModel::Property property) {
      using P = AppModel::Property;
      if (property == P::history) showRows();
      if (property == P::planner || property == P::savingHistory || property == P::busy || property == P::geocoding ||
          property == P::generation)
        showSaving();
    });
    showRows();
    showSaving();
  }

 private:
  void showRows() {
    std::vector<Record> rows = historyRows(model_->history(), search_.get_text().raw());
    empty_->set_visible(rows.empty());
    table_->setRows(std::move(rows));
  }

  void showSaving() { save_->set_sensitive(canSaveSnapshot(*model_)); }

  // The confirmation holds the model alone: opening a snapshot switches to the planning page, and this page goes.
  void confirmRestore(const Record& row) {
    std::shared_ptr<AppModel> model = model_;
    JSONValue entry = row.value;
    confirm(*this, kRestoreQuestion, kRestoreMessage, "Открыть", false,
            [model, entry] { restoreSnapshot(model, entry); });
  }

  std::shared_ptr<AppModel> model_;
  Gtk::Entry title_;
  Gtk::Button* save_ = nullptr;
  Gtk::SearchEntry search_;
  Gtk::Overlay overlay_;
  RecordTable* table_ = nullptr;
  Gtk::Widget* empty_ = nullptr;
  AppModel::Connection connection_;
};

}  // namespace

Gtk::Widget* makePlanHistoryView(const ShellContext& context) { return Gtk::make_managed<PlanHistoryView>(context); }

}  // namespace dorvik::planning
