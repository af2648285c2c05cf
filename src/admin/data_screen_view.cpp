#include "admin/data_screen_view.h"

#include <adwaita.h>

#include "admin/detail_sheets.h"
#include "admin/record_editor_view.h"
#include "admin/view_parts.h"
#include "shell/fits_or_wraps.h"
#include "shell/toolkit/display.h"
#include "shell/toolkit/shell_rules.h"
#include "shell/toolkit/symbols.h"
#include "widgets/gtk_helpers.h"

namespace dorvik::admin {

namespace {

AdwButtonContent* buttonContent(const std::string& title, const std::string& symbol) {
  GtkWidget* content = adw_button_content_new();
  adw_button_content_set_icon_name(ADW_BUTTON_CONTENT(content), std::string(symbolIcon(symbol)).c_str());
  adw_button_content_set_label(ADW_BUTTON_CONTENT(content), title.c_str());
  return ADW_BUTTON_CONTENT(content);
}

// The rows a context menu acts on: the selection when the clicked row is part of it, else the clicked row.
std::set<std::string> actedOn(const std::set<std::string>& selection, const std::string& clicked) {
  if (selection.count(clicked)) return selection;
  return {clicked};
}

}  // namespace

DataScreenView::DataScreenView(PanelPage page, const ShellContext& context)
    : DataScreenView(page, context, modelGateway(context.model)) {}

DataScreenView::DataScreenView(PanelPage page, const ShellContext& context, AdminGateway gateway)
    : Gtk::Box(Gtk::Orientation::VERTICAL), context_(context) {
  controller_ = DataScreenController::create(page, std::move(gateway));
  append(buildToolbar());
  append(buildHeader());
  append(buildBanner());
  append(buildTable());

  controllerConnection_ = controller_->observe([this](DataScreenController::Change change) {
    switch (change) {
      case DataScreenController::Change::rows:
        showRows();
        break;
      case DataScreenController::Change::sheets:
        showSheets();
        break;
      case DataScreenController::Change::date:
        date_.setDate(controller_->date());
        break;
      default:
        break;
    }
    showState();
  });
  modelConnection_ = context_.model->observe([this](AppModel::Property property) {
    if (property == AppModel::Property::generation) controller_->follow();
    if (changesServerWrites(property))
      showState();
  });
  showRows();
  showState();
  controller_->follow();
}

DataScreenView::~DataScreenView() {
  controllerConnection_.disconnect();
  modelConnection_.disconnect();
  menu_.unparent();
  if (editor_) editor_->dismiss();
  if (detailSheet_) detailSheet_->dismiss();
}

Gtk::Button& DataScreenView::toolbarButton(const std::string& title, const std::string& symbol) {
  auto* button = Gtk::make_managed<Gtk::Button>();
  gtk_button_set_child(button->gobj(), GTK_WIDGET(buttonContent(title, symbol)));
  return *button;
}

Gtk::Widget& DataScreenView::buildToolbar() {
  auto* bar = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  bar->set_margin_top(12);
  bar->set_margin_start(20);
  bar->set_margin_end(20);
  bar->append(*spacer());
  std::shared_ptr<DataScreenController> screen = controller_;
  refresh_ = &toolbarButton("Обновить", "arrow.clockwise");
  refresh_->signal_clicked().connect([screen] { screen->refresh(); });
  bar->append(*refresh_);
  export_ = &toolbarButton("Экспорт", "square.and.arrow.up");
  export_->signal_clicked().connect([screen] { screen->exportShown(); });
  bar->append(*export_);
  if (std::optional<SelectionAction> action = controller_->selectionAction()) {
    selectionAction_ = &toolbarButton(action->title, action->symbol);
    selectionAction_->signal_clicked().connect([screen] { screen->runSelectionAction(); });
    bar->append(*selectionAction_);
  }
  if (controller_->writable()) {
    add_ = &toolbarButton("Добавить", "plus");
    add_->add_css_class("suggested-action");
    add_->signal_clicked().connect([screen] { screen->add(); });
    bar->append(*add_);
  }
  return *bar;
}

Gtk::Widget& DataScreenView::buildHeader() {
  auto* counts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
  count_.add_css_class("dim-label");
  count_.add_css_class("numeric");
  counts->append(count_);
  offlineBadge_.add_css_class("dorvik-orange");
  offlineBadge_.append(*icon(std::string(symbolIcon("wifi.slash"))));
  offlineBadge_.append(*Gtk::make_managed<Gtk::Label>("Сохранённая копия"));
  counts->append(offlineBadge_);
  counts->set_valign(Gtk::Align::CENTER);

  auto* filters = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  if (isDated(controller_->page())) {
    date_.set_size_request(135, -1);
    date_.setDate(controller_->date());
    setAccessibleLabel(date_, "Дата");
    std::weak_ptr<DataScreenController> weak = controller_;
    date_.signalPicked().connect([weak](MoscowDatePicker::TimePoint picked) {
      if (auto screen = weak.lock()) screen->setDate(picked);
    });
    filters->append(date_);
  }
  setPlaceholder(search_, "Поиск");
  search_.set_size_request(220, -1);
  search_.signal_search_changed().connect([this] { controller_->setQuery(search_.get_text()); });
  filters->append(search_);

  auto* header = Gtk::make_managed<FitsOrWraps>(*counts, *filters, 10, 12, true);
  header->set_margin(20);
  return *header;
}

Gtk::Widget& DataScreenView::buildBanner() {
  banner_.add_css_class("dorvik-banner");
  auto* inner = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  inner->set_margin_top(8);
  inner->set_margin_bottom(8);
  inner->set_margin_start(20);
  inner->set_margin_end(20);
  auto* warning = icon(std::string(symbolIcon("exclamationmark.circle")));
  warning->add_css_class("dorvik-orange");
  inner->append(*warning);
  bannerText_.set_wrap(true);
  bannerText_.set_xalign(0);
  bannerText_.set_selectable(true);
  inner->append(bannerText_);
  inner->append(*spacer());
  auto* retry = Gtk::make_managed<Gtk::Button>("Повторить");
  std::shared_ptr<DataScreenController> screen = controller_;
  retry->signal_clicked().connect([screen] { screen->refresh(); });
  inner->append(*retry);
  banner_.append(*inner);
  inner->set_hexpand(true);
  return banner_;
}

Gtk::Widget& DataScreenView::buildTable() {
  const DataScreen screen = controller_->configuration();
  const std::size_t shown = std::min<std::size_t>(screen.columns.size(), 6);
  for (std::size_t i = 0; i < shown; ++i) {
    const DataColumn& column = screen.columns[i];
    TableColumnOptions options;
    options.width = column.idealWidth();
    options.minWidth = column.minimumWidth();
    // The columns share the width the page has beyond their ideal widths, so the table fills the page.
    options.expand = true;
    options.lines = 2;
    table_.addColumn(column.title, recordCell(column.key, column.format), options);
  }
  std::weak_ptr<DataScreenController> weak = controller_;
  table_.setIdentity([weak](const Record& row) {
    auto screen = weak.lock();
    return screen ? screen->rowKey(row) : row.id();
  });
  table_.signalSelectionChanged().connect([this](const std::set<std::string>& ids) {
    controller_->setSelection(ids);
    showState();
  });
  table_.signalActivate().connect([this](const Record& record) {
    controller_->activate(actedOn(controller_->selection(), controller_->rowKey(record)));
  });

  auto actions = Gio::SimpleActionGroup::create();
  actions->add_action("open", [this] { controller_->open(menuTargets_); });
  editAction_ = actions->add_action("edit", [this] { controller_->edit(menuTargets_); });
  insert_action_group("row", actions);
  auto items = Gio::Menu::create();
  items->append("Открыть", "row.open");
  if (controller_->writable()) items->append("Изменить", "row.edit");
  menu_.set_menu_model(items);
  menu_.set_has_arrow(false);
  menu_.set_parent(table_);
  // The cell tooltip would stand over the menu it was hovering when the menu opened.
  menu_.signal_closed().connect([this] { table_.setTooltipsShown(true); });
  table_.signalContextMenu().connect([this](double x, double y) { openMenu(x, y); });

  overlay_.set_child(table_);
  loadingView_.set_halign(Gtk::Align::CENTER);
  loadingView_.set_valign(Gtk::Align::CENTER);
  auto* spinner = Gtk::make_managed<Gtk::Spinner>();
  spinner->start();
  loadingView_.append(*spinner);
  loadingView_.append(*Gtk::make_managed<Gtk::Label>("Загружаем данные…"));
  overlay_.add_overlay(loadingView_);
  emptyView_ = adw_status_page_new();
  adw_status_page_set_icon_name(ADW_STATUS_PAGE(emptyView_), std::string(iconName(controller_->page())).c_str());
  adw_status_page_set_title(ADW_STATUS_PAGE(emptyView_), "Пока нет записей");
  gtk_widget_set_can_target(emptyView_, FALSE);
  gtk_overlay_add_overlay(overlay_.gobj(), emptyView_);
  overlay_.set_vexpand(true);
  return overlay_;
}

void DataScreenView::openMenu(double x, double y) {
  std::optional<Record> row = table_.rowAt(x, y);
  if (!row) return;
  const std::string id = controller_->rowKey(*row);
  if (!controller_->selection().count(id)) {
    controller_->setSelection({id});
    table_.setSelectedIds({id});
  }
  menuTargets_ = actedOn(controller_->selection(), id);
  if (!controller_->recordFor(menuTargets_)) return;
  table_.setTooltipsShown(false);
  table_.popupRowMenu(menu_, x, y);
  showState();
}

void DataScreenView::showRows() { table_.setRows(controller_->filtered()); }

void DataScreenView::showState() {
  refresh_->set_sensitive(controller_->canRefresh());
  export_->set_sensitive(controller_->canExport());
  if (selectionAction_) selectionAction_->set_sensitive(controller_->canRunSelectionAction());
  // A write the server takes only from an administrator is offered to a logist disabled, saying why.
  const bool mayWrite = controller_->mayWrite();
  if (add_) offerWrite(*add_, controller_->canAdd(), mayWrite);
  editAction_->set_enabled(mayWrite);
  count_.set_text(controller_->countText());
  offlineBadge_.set_visible(controller_->offline());
  const std::optional<std::string>& issue = controller_->issue();
  bannerText_.set_text(issue.value_or(""));
  banner_.set_visible(issue.has_value());
  const DataScreenController::Overlay overlay = controller_->overlay();
  loadingView_.set_visible(overlay == DataScreenController::Overlay::loading);
  gtk_widget_set_visible(emptyView_, overlay == DataScreenController::Overlay::empty);
  adw_status_page_set_description(ADW_STATUS_PAGE(emptyView_), controller_->emptyDescription().c_str());
}

void DataScreenView::showSheets() {
  const DataScreenController& screen = *controller_;
  std::weak_ptr<DataScreenController> weak = controller_;
  auto refresh = [weak]() { return DataScreenController::reload(weak); };
  const bool wantsEditor = screen.editing() || screen.adding();
  if (wantsEditor && !editor_) {
    editorForNew_ = !screen.editing();
    JSONValue record = screen.editing() ? screen.editing()->value : JSONValue();
    auto editor = RecordEditorController::create(screen.page(), std::move(record), screen.configuration(), refresh,
                                                 screen.gateway(),
                                                 screen.editing() ? screen.listed(*screen.editing())
                                                                  : std::optional(screen.shownList()));
    editor->onOutcomeUnknown([weak] {
      if (auto owner = weak.lock()) owner->reloadWhenOnline();
    });
    editor_ = openRecordEditor(*this, std::move(editor), context_);
    editor_->signalClosed().connect([weak, this, forNew = editorForNew_] {
      editor_ = nullptr;
      if (auto owner = weak.lock()) forNew ? owner->closeAdding() : owner->closeEditing();
    });
  }
  if (screen.detail() && !detailSheet_) {
    DetailRequest request{screen.page(),          screen.day(), *screen.detail(),
                          screen.configuration(), context_,     screen.gateway()};
    detailSheet_ = openDetailSheet(*this, request);
    detailSheet_->signalClosed().connect([weak, this] {
      detailSheet_ = nullptr;
      if (auto owner = weak.lock()) owner->closeDetail();
    });
  }
}

Gtk::Widget* makeDataScreen(PanelPage page, const ShellContext& context) {
  return Gtk::make_managed<DataScreenView>(page, context);
}

}  // namespace dorvik::admin
