#include "planning/order_table_view.h"

#include <adwaita.h>

#include "planning/logic/order_rows.h"
#include "shell/form_widgets.h"
#include "shell/toolkit/display.h"
#include "shell/toolkit/symbols.h"
#include "widgets/gtk_helpers.h"

namespace dorvik::planning {

namespace {

// The "Адрес найден" cell: a symbol and a word, orange while the address still has to be found.
Gtk::Widget* makeFoundCell() {
  auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 4);
  box->append(*Gtk::make_managed<Gtk::Image>());
  box->append(*Gtk::make_managed<Gtk::Label>());
  return box;
}

void bindFoundCell(Gtk::Widget& widget, const Record& row) {
  const FoundCell found = foundCell(row.value);
  auto* image = static_cast<Gtk::Image*>(widget.get_first_child());
  auto* label = static_cast<Gtk::Label*>(image->get_next_sibling());
  image->set_from_icon_name(std::string(symbolIcon(found.symbol)));
  label->set_text(found.text);
  if (found.warning) {
    widget.remove_css_class("dim-label");
    widget.add_css_class("dorvik-orange");
  } else {
    widget.remove_css_class("dorvik-orange");
    widget.add_css_class("dim-label");
  }
}

}  // namespace

OrderTableView::OrderTableView(PlannerFrame frame) : Gtk::Box(Gtk::Orientation::VERTICAL), frame_(std::move(frame)) {
  table_ = Gtk::make_managed<RecordTable>(RecordTable::Selection::multiple);
  // Rows are made by orderRecord: the fallback identity is the order's "_nativeID".
  table_->setIdentity([](const Record& row) { return row.fallbackID; });
  using Options = RecordTable::ColumnOptions;
  // The columns share the page at every text size, so the last one never leaves it: the address takes what is
  // left, narrowing first (the others follow down to their minimums before the table scrolls sideways); on a wide
  // page the client and courier names widen first, up to twice their width.
  table_->addColumn("№", recordTextCell("id"), Options{.minWidth = 60, .digits = true, .ideal = 80});
  table_->addColumn("Клиент", recordTextCell("title"), Options{.minWidth = 90, .ideal = 140, .maxWidth = 140});
  table_->addColumn("Адрес", recordTextCell("address"),
                    Options{.minWidth = 200, .lines = 2, .ideal = 300, .maxWidth = -1});
  // Wide enough for "09:00-18:00", and the last one for its title, in the desktop's text size.
  table_->addColumn("Окно", recordTextCell("window"), Options{.width = 120, .digits = true});
  table_->addColumn("Мест", recordTextCell("units"), Options{.width = 48});
  table_->addColumn("Курьер", recordTextCell("_drv"), Options{.minWidth = 80, .ideal = 120, .maxWidth = 120});
  table_->addColumn(
      "Прибытие", [](const Record& row) { return arrivalText(row.value); }, Options{.width = 75, .digits = true});
  table_->addWidgetColumn("Адрес найден", makeFoundCell, bindFoundCell, Options{.width = 115});

  GtkWidget* empty = adw_status_page_new();
  adw_status_page_set_icon_name(ADW_STATUS_PAGE(empty), std::string(symbolIcon("shippingbox")).c_str());
  adw_status_page_set_title(ADW_STATUS_PAGE(empty), "Добавьте заказы");
  adw_status_page_set_description(ADW_STATUS_PAGE(empty), "Откройте рабочую книгу Excel или добавьте заказ вручную.");
  empty_ = Glib::wrap(empty);
  empty_->set_can_target(false);

  overlay_.set_child(*table_);
  overlay_.add_overlay(*empty_);
  overlay_.set_vexpand(true);
  overlay_.set_hexpand(true);
  append(overlay_);

  actions_ = Gio::SimpleActionGroup::create();
  insert_action_group("orders", actions_);
  menu_.set_parent(*this);
  menu_.set_has_arrow(false);

  table_->signalContextMenu().connect([this](double x, double y) { openMenu(x, y); });

  table_->signalSelectionChanged().connect(
      [this](const std::set<std::string>& ids) { frame_.screen->model()->setSelectedOrders(ids); });
  table_->signalActivate().connect([this](const Record& row) {
    const std::string id = orderID(row.value);
    std::set<std::string> selected = table_->selectedIds();
    edit(selected.count(id) ? selected : std::set<std::string>{id});
  });

  screenConnection_ = frame_.screen->observe([this](PlannerScreen::Change change) {
    if (change == PlannerScreen::Change::rows) showRows();
  });
  modelConnection_ = frame_.screen->model()->observe([this](AppModel::Property property) {
    if (property == AppModel::Property::selectedOrders) showSelection();
  });
  showRows();
  showSelection();
}

OrderTableView::~OrderTableView() {
  modelConnection_.disconnect();
  screenConnection_.disconnect();
  menu_.unparent();
}

void OrderTableView::showRows() {
  const std::vector<Record>& rows = frame_.screen->rows();
  table_->setRows(rows);
  empty_->set_visible(rows.empty());
}

void OrderTableView::showSelection() {
  const std::set<std::string>& selected = frame_.screen->model()->selectedOrders();
  if (selected != table_->selectedIds()) table_->setSelectedIds(selected);
}

void OrderTableView::edit(const std::set<std::string>& targets) {
  if (targets.empty()) return;
  if (std::optional<Record> row = firstShownRow(targets, frame_.screen->rows())) frame_.sheets->editOrder(row->value);
}

std::set<std::string> OrderTableView::openMenu(double x, double y) {
  std::optional<std::string> clicked;
  if (std::optional<Record> row = table_->rowAt(x, y)) clicked = orderID(row->value);
  std::set<std::string> targets = menuTargets(table_->selectedIds(), clicked);
  buildMenu(targets);
  table_->popupRowMenu(menu_, x, y);
  return targets;
}

void OrderTableView::buildMenu(const std::set<std::string>& targets) {
  const std::shared_ptr<AppModel>& model = frame_.screen->model();
  const OrderMenu offer =
      orderMenu(targets, frame_.screen->rows(), model->planner(), model->busy(), model->geocoding());
  for (const char* name : {"edit", "geocode", "delete", "assign", "assign-unavailable"}) actions_->remove_action(name);

  auto menu = Gio::Menu::create();
  if (offer.target) {
    auto first = Gio::Menu::create();
    first->append("Изменить заказ", "orders.edit");
    first->append("Найти координаты", "orders.geocode");
    menu->append_section(first);
    JSONValue order = offer.target->value;
    actions_->add_action("edit", [this, order] { frame_.sheets->editOrder(order); });
    std::string id = orderID(order);
    actions_->add_action("geocode", [this, id] { frame_.screen->geocode(std::vector<std::string>{id}); });
  }

  auto second = Gio::Menu::create();
  second->append("Удалить выбранные заказы", "orders.delete");
  auto remove = actions_->add_action("delete", [this, targets] {
    frame_.screen->offerDeletion(targets);
    frame_.sheets->confirmDeletion();
  });
  remove->set_enabled(offer.canDelete);
  if (offer.canAssign) {
    auto couriers = Gio::Menu::create();
    for (std::size_t i = 0; i < offer.couriers.size(); ++i) {
      auto item = plainMenuItem(offer.couriers[i]);
      item->set_action_and_target("orders.assign", Glib::Variant<gint64>::create(static_cast<gint64>(i)));
      couriers->append_item(item);
    }
    auto off = Gio::MenuItem::create("Снять с маршрута", "");
    off->set_action_and_target("orders.assign", Glib::Variant<gint64>::create(-1));
    couriers->append_item(off);
    second->append_submenu("Назначить курьеру", couriers);
    actions_->add_action_with_parameter(
        "assign", Glib::VARIANT_TYPE_INT64, [this, targets](const Glib::VariantBase& parameter) {
          auto vehicle = Glib::VariantBase::cast_dynamic<Glib::Variant<gint64>>(parameter);
          frame_.screen->assign(targets, vehicle.get());
        });
  } else {
    // Not calculated yet: the submenu shows, unavailable.
    second->append("Назначить курьеру", "orders.assign-unavailable");
    actions_->add_action("assign-unavailable")->set_enabled(false);
  }
  menu->append_section(second);
  menu_.set_menu_model(menu);
}

Gtk::Widget* makeOrderControls(const PlannerFrame& frame) {
  auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  auto* search = Gtk::make_managed<Gtk::SearchEntry>();
  setPlaceholder(*search, "Поиск заказа");
  search->set_size_request(150, -1);
  search->set_width_chars(12);
  search->set_max_width_chars(14);
  search->set_text(frame.screen->query());
  std::shared_ptr<PlannerScreen> screen = frame.screen;
  search->signal_changed().connect([screen, search] { screen->setQuery(search->get_text()); });
  row->append(*search);

  auto* add = symbolButton("Добавить", "plus");
  add->set_tooltip_text("Добавить заказ");
  PlannerSheets* sheets = frame.sheets;
  add->signal_clicked().connect([sheets] { sheets->editOrder(std::nullopt); });
  row->append(*add);
  return row;
}

Gtk::Widget* makeOrderProperties(const PlannerFrame& frame) {
  auto* pane = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL);
  pane->add_css_class("background");
  pane->append(*Gtk::make_managed<Gtk::Separator>(Gtk::Orientation::VERTICAL));
  auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
  column->set_hexpand(true);

  auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL);
  header->set_margin(12);
  auto* title = Gtk::make_managed<Gtk::Label>("Свойства заказа");
  title->add_css_class("heading");
  title->set_hexpand(true);
  title->set_xalign(0);
  header->append(*title);
  auto* close = Gtk::make_managed<Gtk::Button>();
  close->set_icon_name(std::string(symbolIcon("xmark")));
  close->add_css_class("flat");
  close->set_tooltip_text("Закрыть свойства заказа");
  setAccessibleLabel(*close, "Закрыть");
  std::shared_ptr<PlannerScreen> screen = frame.screen;
  close->signal_clicked().connect([screen] { screen->setInspector(false); });
  header->append(*close);
  column->append(*header);
  column->append(*Gtk::make_managed<Gtk::Separator>());

  Gtk::Widget* inspector = makeOrderInspector(frame);
  inspector->set_vexpand(true);
  inspector->set_hexpand(true);
  column->append(*inspector);
  pane->append(*column);
  return pane;
}

}  // namespace dorvik::planning
