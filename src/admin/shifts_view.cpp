#include "admin/shifts_view.h"

#include "admin/logic/admin_gateway.h"
#include "admin/logic/payroll.h"
#include "admin/pay_panel.h"
#include "shell/date_picker.h"
#include "shell/form_widgets.h"
#include "shell/screen_notice.h"
#include "shell/toolkit/display.h"
#include "widgets/gtk_helpers.h"

namespace dorvik::admin {

namespace {

constexpr int kMargin = 16;

Gtk::Box* gap() {
  auto* box = Gtk::make_managed<Gtk::Box>();
  box->set_hexpand(true);
  return box;
}

// The face of a day cell: the day's number over "вручную" or "авто", green when worked, dim otherwise.
Gtk::Widget* dayFace(const DayCell& cell) {
  auto* face = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 3);
  face->set_margin_top(5);
  face->set_margin_bottom(5);
  face->set_hexpand(true);
  auto* number = Gtk::make_managed<Gtk::Label>(std::to_string(cell.day));
  number->add_css_class("numeric");
  auto* caption = Gtk::make_managed<Gtk::Label>(cell.caption);
  caption->add_css_class("caption");
  for (Gtk::Label* label : {number, caption}) {
    label->add_css_class(cell.worked ? "success" : "dim-label");
    face->append(*label);
  }
  return face;
}

Glib::RefPtr<Gio::MenuItem> markItem(const char* title, int day, const char* state) {
  auto item = Gio::MenuItem::create(title, "");
  item->set_action_and_target("shift.mark",
                              Glib::Variant<Glib::ustring>::create(std::to_string(day) + ":" + state));
  return item;
}

}  // namespace

ShiftsView::ShiftsView(const ShellContext& context) : ShiftsView(context, modelGateway(context.model)) {}

ShiftsView::ShiftsView(const ShellContext& context, AdminGateway gateway)
    : Gtk::Box(Gtk::Orientation::VERTICAL), context_(context) {
  std::weak_ptr<AppModel> model = context_.model;
  controller_ = ShiftsController::create(std::move(gateway), [model] {
    auto m = model.lock();
    return m ? m->user()["depotId"].string() : std::string();
  });

  auto actions = Gio::SimpleActionGroup::create();
  actions->add_action_with_parameter("mark", Glib::VARIANT_TYPE_STRING, [this](const Glib::VariantBase& parameter) {
    const std::string text = Glib::VariantBase::cast_dynamic<Glib::Variant<Glib::ustring>>(parameter).get();
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) return;
    const int day = std::stoi(text.substr(0, colon));
    const std::string state = text.substr(colon + 1);
    controller_->mark(day, state == "routes" ? JSONValue() : JSONValue(state == "worked"));
  });
  insert_action_group("shift", actions);

  append(buildToolbar());
  append(buildHeader());
  append(buildDepotRow());
  pageNotice_.append(*Gtk::make_managed<ScreenNotice>(controller_->state()));
  append(pageNotice_);
  append(buildTable());
  append(buildPanel());
  append(buildTotals());

  controllerConnection_ = controller_->observe([this](ShiftsController::Change change) {
    switch (change) {
      case ShiftsController::Change::document:
        showDocument();
        break;
      case ShiftsController::Change::period:
        showPeriod();
        break;
      case ShiftsController::Change::date:
        month_->setDate(controller_->date());
        showPeriod();
        break;
      case ShiftsController::Change::selection:
        // The pay forms follow the newly selected courier.
        setDraft(*controller_);
        syncing_ = true;
        table_.setSelectedIds(controller_->selected() ? std::set<std::string>{*controller_->selected()}
                                                      : std::set<std::string>{});
        syncing_ = false;
        showPanel();
        break;
      case ShiftsController::Change::form:
        if (depotRate_.get_text().raw() != controller_->depotRate()) {
          syncing_ = true;
          depotRate_.set_text(controller_->depotRate());
          syncing_ = false;
        }
        break;
      default:
        break;
    }
    showState();
  });
  // A new workspace reloads the month (and clears the selection).
  modelConnection_ = context_.model->observe([this](AppModel::Property property) {
    if (property == AppModel::Property::generation) controller_->follow();
    if (property == AppModel::Property::offline || property == AppModel::Property::preview ||
        property == AppModel::Property::user)
      showState();
  });
  attachPayroll(*this);
  month_->setDate(controller_->date());
  showPeriod();
  showDocument();
  controller_->follow();
}

ShiftsView::~ShiftsView() {
  controllerConnection_.disconnect();
  modelConnection_.disconnect();
  controller_->close();
}

Gtk::Widget& ShiftsView::buildToolbar() {
  auto* bar = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  bar->set_margin_top(12);
  bar->set_margin_start(20);
  bar->set_margin_end(20);
  bar->append(*gap());
  refresh_ = symbolButton("Обновить", "arrow.clockwise");
  refresh_->signal_clicked().connect([this] { controller_->refresh(); });
  bar->append(*refresh_);
  export_ = symbolButton("Выгрузить ведомость", "square.and.arrow.up");
  export_->signal_clicked().connect([this] { exportPaySheet(*controller_); });
  bar->append(*export_);
  return *bar;
}

Gtk::Widget& ShiftsView::buildHeader() {
  auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  row->set_margin(kMargin);
  row->append(*Gtk::make_managed<Gtk::Label>("Месяц"));
  month_ = Gtk::make_managed<MoscowDatePicker>();
  month_->set_size_request(150, -1);
  setAccessibleLabel(*month_, "Месяц");
  month_->signalPicked().connect([this](ShiftsController::TimePoint picked) { controller_->setDate(picked); });
  row->append(*month_);
  row->append(*gap());
  row->append(*Gtk::make_managed<Gtk::Label>("Период"));
  auto* group = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL);
  group->add_css_class("linked");
  setAccessibleLabel(*group, "Период");
  for (int period = 0; period <= kWholeMonth; ++period) {
    auto* button = Gtk::make_managed<Gtk::ToggleButton>();
    if (!periods_.empty()) button->set_group(*periods_.front());
    button->signal_toggled().connect([this, button, period] {
      if (button->get_active() && !syncing_) controller_->setPeriod(period);
    });
    periods_.push_back(button);
    group->append(*button);
  }
  row->append(*group);
  return *row;
}

Gtk::Widget& ShiftsView::buildDepotRow() {
  auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  row->set_margin_start(kMargin);
  row->set_margin_end(kMargin);
  depotName_.add_css_class("heading");
  depotName_.set_xalign(0);
  depotName_.set_ellipsize(Pango::EllipsizeMode::END);
  row->append(depotName_);
  row->append(*gap());
  setPlaceholder(depotRate_, "Ставка склада, ₽");
  depotRate_.set_size_request(160, -1);
  depotRate_.signal_changed().connect([this] {
    if (!syncing_) controller_->setDepotRate(depotRate_.get_text().raw());
  });
  row->append(depotRate_);
  saveRate_.signal_clicked().connect([this] { controller_->saveDepotRate(); });
  row->append(saveRate_);
  return *row;
}

Gtk::Widget& ShiftsView::buildTable() {
  auto totals = [this](const Record& row) {
    return ShiftTotals::calculate(row.value, controller_->days(), controller_->wholeMonth());
  };
  table_.addColumn("Курьер", recordTextCell("fullName"), {.width = 220, .minWidth = 150, .expand = true});
  table_.addColumn("Смены", [totals](const Record& row) { return std::to_string(totals(row).shifts); },
                   {.width = 60, .numeric = true});
  table_.addColumn("Ставка, ₽", recordTextCell("rate"), {.width = 85, .numeric = true});
  table_.addColumn("Допы, ₽", [totals](const Record& row) { return money(totals(row).extras); },
                   {.width = 80, .numeric = true});
  table_.addColumn("Штрафы, ₽", [totals](const Record& row) { return money(totals(row).fines); },
                   {.width = 95, .numeric = true});
  table_.addColumn("Начислено, ₽", [totals](const Record& row) { return money(totals(row).accrued); },
                   {.width = 110, .numeric = true});
  table_.addColumn("Наличными, ₽",
                   [totals](const Record& row) {
                     const ShiftTotals t = totals(row);
                     return t.cashDeferred ? std::string("—") : money(t.cash);
                   },
                   {.width = 110, .numeric = true});
  table_.set_size_request(-1, 170);
  table_.set_vexpand(true);
  table_.signalSelectionChanged().connect([this](const std::set<std::string>& ids) {
    if (syncing_) return;
    controller_->select(ids.empty() ? std::nullopt : std::optional<std::string>(*ids.begin()));
  });
  return table_;
}

Gtk::Widget& ShiftsView::buildPanel() {
  auto* holder = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
  placeholder_.set_text(kNoCourierText);
  placeholder_.add_css_class("dim-label");
  placeholder_.set_margin(20);
  placeholder_.set_wrap(true);
  holder->append(placeholder_);

  panel_.append(*Gtk::make_managed<Gtk::Separator>());
  // The panel takes the height the table leaves (the table keeps its 170 and scrolls). The day grid scrolls on the
  // left; the courier's pay settings, adjustments and add form stand in a column of their own on the right, with
  // the message of what they did right under them, so they are in view whatever the grid's height or the text size.
  auto* columns = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL);
  panelColumns_ = columns;
  auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
  scroller->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
  scroller->set_min_content_height(190);
  scroller->set_propagate_natural_height(true);
  scroller->set_hexpand(true);
  auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 16);
  content->set_margin(20);
  courierName_.add_css_class("title-3");
  courierName_.set_xalign(0);
  content->append(courierName_);
  auto* hint = Gtk::make_managed<Gtk::Label>(
      "Выберите день: отметить смену, снять её или вернуть расчёт по маршрутам.");
  hint->add_css_class("dim-label");
  hint->set_xalign(0);
  hint->set_wrap(true);
  content->append(*hint);
  grid_.set_selection_mode(Gtk::SelectionMode::NONE);
  grid_.set_homogeneous(true);
  grid_.set_min_children_per_line(1);
  grid_.set_max_children_per_line(31);
  grid_.set_row_spacing(8);
  grid_.set_column_spacing(8);
  setAccessibleLabel(grid_, "Дни месяца");
  content->append(grid_);
  scroller->set_child(*content);
  columns->append(*scroller);
  columns->append(*Gtk::make_managed<Gtk::Separator>(Gtk::Orientation::VERTICAL));
  auto* forms = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
  forms->set_margin(20);
  forms->set_hexpand(false);  // the comment field's wish to widen stops here: the grid takes the spare width
  forms->append(payBlocks_);
  courierNotice_.append(*Gtk::make_managed<ScreenNotice>(controller_->state()));
  forms->append(courierNotice_);
  columns->append(*forms);
  panel_.append(*columns);
  holder->append(panel_);
  return *holder;
}

Gtk::Widget& ShiftsView::buildTotals() {
  auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  row->set_margin(kMargin);
  for (Gtk::Label* label : {&accrued_, &cash_}) {
    label->add_css_class("heading");
    label->add_css_class("numeric");
  }
  row->append(accrued_);
  row->append(*gap());
  row->append(cash_);
  return *row;
}

void ShiftsView::showDocument() {
  const JSONValue& document = controller_->document();
  depotName_.set_text(depotName(document));
  syncing_ = true;
  table_.setRows(controller_->rows());
  table_.setSelectedIds(controller_->selected() ? std::set<std::string>{*controller_->selected()}
                                                : std::set<std::string>{});
  syncing_ = false;
  const SheetTotals sums = sheetTotals(controller_->rows(), controller_->days(), controller_->wholeMonth());
  accrued_.set_text("Начислено: " + money(sums.accrued) + " ₽");
  cash_.set_text("Наличными: " + money(sums.cash) + " ₽");
  showPanel();
}

void ShiftsView::showPeriod() {
  const int last = controller_->lastDay();
  syncing_ = true;
  for (std::size_t i = 0; i < periods_.size(); ++i) {
    periods_[i]->set_label(periodTitle(static_cast<int>(i), last));
    if (static_cast<int>(i) == controller_->period()) periods_[i]->set_active(true);
  }
  // The figures of every row follow the period: the rows are put in afresh so each cell is computed again.
  table_.setRows({});
  syncing_ = false;
  showDocument();
}

void ShiftsView::showPanel() {
  const std::optional<Record> current = controller_->current();
  placeholder_.set_visible(!current);
  panel_.set_visible(current.has_value());
  table_.set_vexpand(!current);
  panelColumns_->set_vexpand(current.has_value());
  while (Gtk::Widget* child = grid_.get_first_child()) grid_.remove(*child);
  if (!current) return;
  const std::string name = Glib::Markup::escape_text(current->value["fullName"].string());
  courierName_.set_markup("<span weight=\"semibold\">" + name + "</span>");
  for (const DayCell& cell : dayCells(current->value, controller_->days())) {
    auto* button = Gtk::make_managed<Gtk::MenuButton>();
    button->set_always_show_arrow(false);
    button->set_size_request(56, -1);
    button->set_child(*dayFace(cell));
    auto menu = Gio::Menu::create();
    menu->append_item(markItem("Работал", cell.day, "worked"));
    menu->append_item(markItem("Не работал", cell.day, "off"));
    menu->append_item(markItem("По маршрутам", cell.day, "routes"));
    button->set_menu_model(menu);
    setAccessibleLabel(*button, cell.accessible);
    grid_.append(*button);
  }
  showState();
}

void ShiftsView::showState() {
  // What the courier's panel did is reported beside his form while the panel shows; the rest under the depot row.
  const bool besideForm = controller_->issueOfCourier() && controller_->state()->issue() && panel_.get_visible();
  pageNotice_.set_visible(!besideForm);
  courierNotice_.set_visible(besideForm);
  const bool editable = controller_->editable();
  grid_.set_sensitive(editable);
  payBlocks_.set_sensitive(editable);
  saveRate_.set_sensitive(controller_->canSaveDepotRate());
  refresh_->set_sensitive(controller_->canRefresh());
  export_->set_sensitive(canExportPaySheet(*controller_));
}

std::vector<Gtk::MenuButton*> ShiftsView::dayButtons() const {
  std::vector<Gtk::MenuButton*> out;
  if (!panel_.get_visible()) return out;
  for (Gtk::Widget* child = const_cast<Gtk::FlowBox&>(grid_).get_first_child(); child;
       child = child->get_next_sibling()) {
    auto* flowChild = dynamic_cast<Gtk::FlowBoxChild*>(child);
    if (auto* button = flowChild ? dynamic_cast<Gtk::MenuButton*>(flowChild->get_child()) : nullptr)
      out.push_back(button);
  }
  return out;
}

std::string ShiftsView::totalsText() const { return accrued_.get_text().raw() + " | " + cash_.get_text().raw(); }

Gtk::Widget* makeShiftsView(const ShellContext& context) { return Gtk::make_managed<ShiftsView>(context); }

}  // namespace dorvik::admin
