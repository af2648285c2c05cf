#include "planning/planner_view.h"

#include <adwaita.h>

#include "core/base/dorvik_date.h"
#include "planning/logic/planner_rules.h"
#include "planning/order_table_view.h"
#include "shell/fits_or_wraps.h"
#include "shell/toolkit/symbols.h"
#include "widgets/gtk_helpers.h"

namespace dorvik::planning {

namespace {

const char* const kNewPlanQuestion = "Начать новое планирование?";
const char* const kNewPlanMessage =
    "Текущая работа сохранится в истории. Транспорт, склад и параметры расчёта останутся для нового дня.";
const char* const kDeletionQuestion = "Удалить выбранные заказы из планирования?";

// A title with its symbol, the content of every button of the bar.
AdwButtonContent* buttonContent(const std::string& title, const std::string& symbol) {
  GtkWidget* content = adw_button_content_new();
  adw_button_content_set_icon_name(ADW_BUTTON_CONTENT(content), std::string(symbolIcon(symbol)).c_str());
  adw_button_content_set_label(ADW_BUTTON_CONTENT(content), title.c_str());
  return ADW_BUTTON_CONTENT(content);
}

Gtk::Box* spacer() {
  auto* space = Gtk::make_managed<Gtk::Box>();
  space->set_hexpand(true);
  return space;
}

}  // namespace

PlannerView::PlannerView(const ShellContext& context) : Gtk::Box(Gtk::Orientation::VERTICAL), model_(context.model) {
  frame_.context = context;
  frame_.screen = std::make_shared<PlannerScreen>(model_, modelWork(model_));
  frame_.sheets = this;

  auto actions = Gio::SimpleActionGroup::create();
  actions->add_action("export-working", [this] { frame_.screen->exportWorkbook("working"); });
  actions->add_action("export-routes", [this] { frame_.screen->exportWorkbook("routes"); });
  insert_action_group("planner", actions);

  append(buildHeader());
  append(buildActions());
  append(buildGeocodingBar());
  append(buildTabs());
  append(*Gtk::make_managed<Gtk::Separator>());
  content_ = Gtk::make_managed<Gtk::Stack>();
  content_->set_hexpand(true);
  content_->set_vexpand(true);
  area_ = Gtk::make_managed<InspectorArea>(*content_, *makeOrderProperties(frame_));
  append(*area_);

  screenConnection_ = frame_.screen->observe([this](PlannerScreen::Change change) {
    if (change == PlannerScreen::Change::tab) showTab();
    if (change == PlannerScreen::Change::inspector) area_->setPaneShown(frame_.screen->inspector());
  });
  modelConnection_ = model_->observe([this](AppModel::Property property) { modelChanged(property); });
  date_.setDate(model_->date());
  showSummary();
  showActions();
  showGeocoding();
  showTab();
}

PlannerView::~PlannerView() {
  modelConnection_.disconnect();
  screenConnection_.disconnect();
}

Gtk::Widget& PlannerView::buildHeader() {
  auto* summary = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 4);
  title_.add_css_class("heading");
  title_.set_ellipsize(Pango::EllipsizeMode::MIDDLE);
  title_.set_single_line_mode(true);
  title_.set_xalign(0);
  summary->append(title_);
  auto* counts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 14);
  counts->set_halign(Gtk::Align::START);
  for (Gtk::Label* count : {&orderCount_, &routeCount_}) {
    count->add_css_class("dim-label");
    counts->append(*count);
  }
  review_.add_css_class("dorvik-orange");
  review_.append(*icon(std::string(symbolIcon("mappin.slash"))));
  review_.append(reviewText_);
  counts->append(review_);
  summary->append(*counts);

  auto* controls = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
  date_.set_size_request(130, -1);
  setAccessibleLabel(date_, "Дата рейса");
  date_.signalPicked().connect([this](MoscowDatePicker::TimePoint picked) {
    // The same day again changes nothing; another day is the model's new date, and the screen follows the model.
    if (DorvikDate::day(picked) != DorvikDate::day(model_->date())) model_->setDate(picked);
  });
  controls->append(date_);
  depotContent_ = buttonContent("", "building.2");
  gtk_button_set_child(depot_.gobj(), GTK_WIDGET(depotContent_));
  depot_.set_tooltip_text("Координаты склада и время работы");
  depot_.signal_clicked().connect([this] { editDepot(); });
  controls->append(depot_);

  auto* header = Gtk::make_managed<FitsOrWraps>(*summary, *controls, 20, 12, true);
  header->set_margin(20);
  return *header;
}

Gtk::Button& PlannerView::actionButton(Gtk::Box& group, const std::string& title, const std::string& symbol,
                                       AdwButtonContent** content) {
  auto* button = Gtk::make_managed<Gtk::Button>();
  AdwButtonContent* made = buttonContent(title, symbol);
  gtk_button_set_child(button->gobj(), GTK_WIDGET(made));
  if (content) *content = made;
  group.append(*button);
  return *button;
}

Gtk::Widget& PlannerView::buildActions() {
  auto* primary = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  auto* secondary = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  std::shared_ptr<PlannerScreen> screen = frame_.screen;

  open_ = &actionButton(*primary, "Открыть Excel", "folder");
  open_->signal_clicked().connect([screen] { screen->importWorkbook(); });
  geocode_ = &actionButton(*primary, "Геокодирование", "mappin.and.ellipse", &geocodeContent_);
  geocode_->set_tooltip_text("Найти координаты адресов через настроенный геокодер или локальный каталог");
  geocode_->signal_clicked().connect([screen] { screen->geocode(); });
  calculate_ = &actionButton(*primary, "Рассчитать", "point.topleft.down.to.point.bottomright.curvepath");
  calculate_->signal_clicked().connect([screen] { screen->calculate(); });

  newPlan_ = &actionButton(*secondary, "Новый план", "doc.badge.plus");
  newPlan_->signal_clicked().connect([this, screen] {
    confirm(*this, kNewPlanQuestion, kNewPlanMessage, "Начать новый план", false, [screen] { screen->beginNewPlan(); });
  });
  roads_ = &actionButton(*secondary, "По дорогам", "road.lanes");
  roads_->signal_clicked().connect([this] { refineRoads(); });

  gtk_menu_button_set_child(exportMenu_.gobj(), GTK_WIDGET(buttonContent("Экспорт", "square.and.arrow.up")));
  setAccessibleLabel(exportMenu_, "Экспорт");
  auto items = Gio::Menu::create();
  items->append("Рабочая книга Excel", "planner.export-working");
  items->append("Маршрутные листы", "planner.export-routes");
  exportMenu_.set_menu_model(items);
  secondary->append(exportMenu_);

  send_ = &actionButton(*secondary, "Отправить курьерам", "paperplane");
  send_->add_css_class("suggested-action");
  send_->signal_clicked().connect([this] { publish(); });

  auto* bar = Gtk::make_managed<FitsOrWraps>(*primary, *secondary, 8, 8, false);
  bar->set_margin_start(20);
  bar->set_margin_end(20);
  bar->set_margin_bottom(14);
  return *bar;
}

Gtk::Widget& PlannerView::buildGeocodingBar() {
  progress_.set_size_request(120, -1);
  progress_.set_valign(Gtk::Align::CENTER);
  setAccessibleLabel(progress_, "Геокодирование адресов");
  progressText_.add_css_class("numeric");
  stop_.set_tooltip_text("Сохранить найденные координаты и остановить поиск");
  std::shared_ptr<PlannerScreen> screen = frame_.screen;
  stop_.signal_clicked().connect([screen] { screen->stopGeocoding(); });
  geocodingBar_.append(progress_);
  geocodingBar_.append(progressText_);
  geocodingBar_.append(*spacer());
  geocodingBar_.append(stop_);
  geocodingBar_.set_margin_start(20);
  geocodingBar_.set_margin_end(20);
  geocodingBar_.set_margin_bottom(14);
  return geocodingBar_;
}

Gtk::Widget& PlannerView::buildTabs() {
  auto* segments = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL);
  segments->add_css_class("linked");
  setAccessibleLabel(*segments, "Раздел планирования");
  Gtk::ToggleButton* group = nullptr;
  for (const PlanTab& tab : planTabs()) {
    auto* button = Gtk::make_managed<Gtk::ToggleButton>(tab.title);
    if (group) button->set_group(*group);
    group = button;
    const std::string key = tab.key;
    button->signal_toggled().connect([this, button, key] {
      if (!showingTab_ && button->get_active()) frame_.screen->setTab(key);
    });
    segments->append(*button);
    tabButtons_[key] = button;
  }
  auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
  scroller->set_policy(Gtk::PolicyType::EXTERNAL, Gtk::PolicyType::NEVER);
  scroller->set_propagate_natural_width(true);
  scroller->set_propagate_natural_height(true);
  scroller->set_child(*segments);

  auto* inspector = Gtk::make_managed<Gtk::Button>();
  gtk_button_set_child(inspector->gobj(), GTK_WIDGET(buttonContent("Свойства", "sidebar.right")));
  inspector->set_tooltip_text("Свойства заказа");
  setAccessibleLabel(*inspector, "Свойства заказа");
  std::shared_ptr<PlannerScreen> screen = frame_.screen;
  inspector->signal_clicked().connect([screen] { screen->setInspector(!screen->inspector()); });

  auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
  row->append(*scroller);
  row->append(*inspector);

  orderControls_.append(*makeOrderControls(frame_));
  orderControls_.append(*spacer());

  auto* tabs = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 10);
  tabs->append(*row);
  tabs->append(orderControls_);
  tabs->set_margin_start(20);
  tabs->set_margin_end(20);
  tabs->set_margin_bottom(14);
  return *tabs;
}

void PlannerView::modelChanged(AppModel::Property property) {
  using P = AppModel::Property;
  switch (property) {
    case P::planner:
      showSummary();
      showActions();
      break;
    case P::busy:
    case P::preview:
    case P::offline:
    case P::user:
    case P::generation:
      showActions();
      break;
    case P::geocoding:
      showActions();
      showGeocoding();
      break;
    case P::geocodingTotal:
    case P::geocodingCompleted:
    case P::geocodingStopping:
      showGeocoding();
      break;
    case P::date:
      date_.setDate(model_->date());
      break;
    default:
      break;
  }
}

void PlannerView::showSummary() {
  const PlanSummary summary = planSummary(model_->planner(), model_->missingCoordinates());
  title_.set_text(summary.title);
  title_.set_tooltip_text(summary.title);
  orderCount_.set_text(summary.orders);
  routeCount_.set_text(summary.routes);
  reviewText_.set_text(summary.review);
  review_.set_visible(!summary.review.empty());
  adw_button_content_set_label(depotContent_, summary.depot.c_str());
}

void PlannerView::showActions() {
  const PlanActions actions = planActions(planFacts(*model_));
  open_->set_sensitive(actions.open);
  geocode_->set_sensitive(actions.geocode);
  adw_button_content_set_label(geocodeContent_, actions.geocodeTitle.c_str());
  calculate_->set_sensitive(actions.calculate);
  newPlan_->set_sensitive(actions.newPlan);
  roads_->set_sensitive(actions.roads);
  exportMenu_.set_sensitive(actions.exportMenu);
  send_->set_sensitive(actions.publish);
}

void PlannerView::showGeocoding() {
  geocodingBar_.set_visible(model_->geocoding());
  const GeocodingBar bar =
      geocodingBar(model_->geocodingCompleted(), model_->geocodingTotal(), model_->geocodingStopping());
  progress_.set_fraction(bar.fraction);
  progressText_.set_text(bar.progress);
  stop_.set_label(bar.stopTitle);
  stop_.set_sensitive(bar.stopEnabled);
}

void PlannerView::showTab() {
  const std::string& tab = frame_.screen->tab();
  const std::string shown(shownTab(tab));
  showingTab_ = true;
  if (auto button = tabButtons_.find(tab); button != tabButtons_.end()) button->second->set_active(true);
  showingTab_ = false;
  orderControls_.set_visible(tab == "orders");

  if (!tabContent_.count(shown)) {
    Gtk::Widget* page = nullptr;
    if (shown == "orders") {
      orderTable_ = Gtk::make_managed<OrderTableView>(frame_);
      page = orderTable_;
    } else if (shown == "vehicles") {
      auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
      Gtk::Widget* vehicles = makeVehicleTable(frame_);
      vehicles->set_halign(Gtk::Align::FILL);
      column->append(*vehicles);
      page = column;
    } else if (shown == "routes") {
      page = makeRoutesView(frame_);
    } else if (shown == "windows") {
      page = makeWindowsView(frame_);
    } else if (shown == "check") {
      page = makeChecks(frame_);
    } else {
      page = makePlannerMap(frame_);
    }
    content_->add(*page, shown);
    tabContent_[shown] = page;
  }
  content_->set_visible_child(shown);
}

void PlannerView::present(const std::function<Sheet*()>& open) {
  if (sheet_) return;
  Sheet* sheet = open();
  if (!sheet) return;
  sheet_ = sheet;
  sheet->signalClosed().connect([weak = link_.weak()] {
    if (PlannerView* view = lockView(weak)) view->sheet_ = nullptr;
  });
}

void PlannerView::editOrder(std::optional<JSONValue> order) {
  const JSONValue edited = order.value_or(JSONValue());
  present([&] { return openOrderEditor(*this, frame_, edited); });
}

void PlannerView::editVehicle(std::optional<Record> vehicle) {
  const JSONValue edited = vehicle ? vehicle->value : JSONValue();
  const std::int64_t index = vehicle ? vehicleEditorIndex(model_->planner(), *vehicle) : -1;
  present([&] { return openVehicleEditor(*this, frame_, edited, index); });
}

void PlannerView::editDepot() {
  present([&] { return openDepotEditor(*this, frame_); });
}

void PlannerView::publish() {
  present([&] { return openPublication(*this, frame_); });
}

void PlannerView::refineRoads() {
  present([&] { return openRoadRefinement(*this, frame_); });
}

void PlannerView::confirmDeletion() {
  std::shared_ptr<PlannerScreen> screen = frame_.screen;
  confirm(*this, kDeletionQuestion, "", "Удалить", true, [screen] { screen->deleteOffered(); });
}

Gtk::Widget* makePlannerView(const ShellContext& context) { return Gtk::make_managed<PlannerView>(context); }

}  // namespace dorvik::planning
