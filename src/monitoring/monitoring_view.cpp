#include "monitoring/monitoring_view.h"

#include <adwaita.h>

#include "core/async/task.h"
#include "core/base/dorvik_date.h"
#include "map/map_surface.h"
#include "monitoring/route_detail.h"
#include "shell/date_picker.h"
#include "shell/form_widgets.h"
#include "shell/screen_notice.h"
#include "shell/toolkit/symbols.h"
#include "widgets/gtk_helpers.h"

namespace dorvik::monitoring {

namespace {

// The route list beside the map: its ideal and widest width.
constexpr int kListIdeal = 330;
constexpr int kListMax = 450;

struct StatusChoice {
  const char* tag;
  const char* title;
};
constexpr StatusChoice kStatuses[] = {
    {"all", "Все маршруты"}, {"pending", "Ожидают"}, {"in_progress", "В пути"}, {"finished", "Завершены"}};

const char* const kTileTitles[] = {"Маршруты", "В пути", "Точки", "Закрыто", "Проблемы"};

Gtk::Label* label(const std::string& text, std::initializer_list<const char*> classes = {}) {
  auto* l = Gtk::make_managed<Gtk::Label>(text);
  l->set_xalign(0);
  for (const char* c : classes) l->add_css_class(c);
  return l;
}

// One route of the list: courier and status, external id, counts, last GPS, and the link that opens it.
class RouteRow : public Gtk::Box {
 public:
  explicit RouteRow(std::function<void(const Record&)> open)
      : Gtk::Box(Gtk::Orientation::VERTICAL, 7), open_(std::move(open)) {
    set_margin_top(8);
    set_margin_bottom(8);
    auto* top = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    courier_.add_css_class("heading");
    courier_.set_xalign(0);
    courier_.set_hexpand(true);
    courier_.set_ellipsize(Pango::EllipsizeMode::END);
    status_.add_css_class("caption");
    status_.add_css_class("dim-label");
    top->append(courier_);
    top->append(status_);
    append(*top);
    for (Gtk::Label* l : {&external_, &counts_, &gps_}) {
      l->set_xalign(0);
      append(*l);
    }
    external_.add_css_class("dim-label");
    gps_.add_css_class("caption");
    gps_.add_css_class("dim-label");
    link_.set_label("Открыть маршрут");
    link_.add_css_class("link");
    link_.add_css_class("flat");
    link_.set_halign(Gtk::Align::START);
    link_.signal_clicked().connect([this] { open_(route_); });
    append(link_);
  }

  void bind(const Record& route) {
    route_ = route;
    const RouteRowTexts t = routeRowTexts(route);
    courier_.set_text(t.courier);
    status_.set_text(t.status);
    external_.set_text(t.externalID);
    counts_.set_text(t.counts);
    gps_.set_text(t.gps.value_or(""));
    gps_.set_visible(t.gps.has_value());
  }

 private:
  std::function<void(const Record&)> open_;
  Record route_;
  Gtk::Label courier_, status_, external_, counts_, gps_;
  Gtk::Button link_;
};

}  // namespace

MonitoringView::MonitoringView(PanelPage page, ShellContext context)
    : Gtk::Box(Gtk::Orientation::VERTICAL), page_(page), context_(std::move(context)) {
  generation_ = context_.model->generation();
  buildFilterBar();
  if (page_ == PanelPage::overview) buildTiles();
  append(*Gtk::make_managed<ScreenNotice>(state_));

  auto* overlay = Gtk::make_managed<Gtk::Overlay>();
  overlay->set_vexpand(true);
  if (page_ == PanelPage::crew) {
    Gtk::Widget* list = buildList();
    list->set_size_request(280, -1);
    list->set_hexpand(true);
    overlay->set_child(*list);
  } else {
    auto* split = Gtk::make_managed<Gtk::Paned>(Gtk::Orientation::HORIZONTAL);
    Gtk::Widget* list = buildList();
    list->set_size_request(280, -1);
    split->set_start_child(*list);
    split->set_resize_start_child(false);
    split->set_shrink_start_child(false);
    split->set_position(kListIdeal);
    // The list pane opens at its ideal width and is dragged no wider than its maximum.
    split->property_position().signal_changed().connect([split] {
      if (split->get_position() > kListMax) split->set_position(kListMax);
    });
    MapContent content;
    map_ =
        Gtk::make_managed<TwoGISSurface>(context_.model, context_.defaults, content, [this](const MapInteraction& i) {
          // Only a pin's click counts; it selects the pin's route.
          if (auto* s = i.as<MapInteraction::Select>())
            if (auto id = routeOfPin(filtered_, s->id)) select(*id);
        });
    map_->set_size_request(300, -1);
    split->set_end_child(*map_);
    split->set_shrink_end_child(false);
    overlay->set_child(*split);
  }
  GtkWidget* empty = adw_status_page_new();
  adw_status_page_set_title(ADW_STATUS_PAGE(empty), "Маршрутов нет");
  adw_status_page_set_icon_name(ADW_STATUS_PAGE(empty), std::string(symbolIcon("map.fill")).c_str());
  adw_status_page_set_description(ADW_STATUS_PAGE(empty), "Выберите дату или опубликуйте план курьерам.");
  placeholder_ = Gtk::manage(Glib::wrap(empty));
  placeholder_->set_can_target(false);
  overlay->add_overlay(*placeholder_);
  append(*overlay);

  auto* bottom = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
  bottom->set_margin(12);
  showAll_.signal_clicked().connect([this] { select(std::nullopt); });
  bottom->append(showAll_);
  auto* gap = Gtk::make_managed<Gtk::Box>();
  gap->set_hexpand(true);
  bottom->append(*gap);
  automaticCheck_.set_active(true);
  automaticCheck_.signal_toggled().connect([this] { automatic_ = automaticCheck_.get_active(); });
  bottom->append(automaticCheck_);
  append(*bottom);

  loop_ = std::make_unique<RefreshLoop>(
      mainLoopScheduler(), [this](std::function<void()> done) { loadOnce(std::move(done)); },
      [this] { return automatic_; }, [this] { select(std::nullopt); });
  stateConnection_ = state_->observe([this](ScreenData::Property) { update(); });
  modelConnection_ = context_.model->observe([this](AppModel::Property p) {
    if (p != AppModel::Property::generation || context_.model->generation() == generation_) return;
    generation_ = context_.model->generation();
    if (loop_->running()) startLoop();
  });
  signal_map().connect([this] { startLoop(); });
  signal_unmap().connect([this] { loop_->stop(); });
  update();
}

MonitoringView::~MonitoringView() { loop_.reset(); }

void MonitoringView::buildFilterBar() {
  auto* bar = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  bar->set_margin(16);
  datePicker_ = Gtk::make_managed<MoscowDatePicker>();
  datePicker_->setDate(date_);
  datePicker_->set_size_request(135, -1);
  datePicker_->set_tooltip_text("Дата");
  setAccessibleLabel(*datePicker_, "Дата");
  datePicker_->signalPicked().connect([this](auto instant) { pickDay(instant); });
  bar->append(*datePicker_);

  std::vector<Glib::ustring> titles;
  for (const auto& s : kStatuses) titles.emplace_back(s.title);
  statusPicker_ = Gtk::make_managed<Gtk::DropDown>(titles);
  statusPicker_->set_size_request(180, -1);
  statusPicker_->set_tooltip_text("Статус");
  setAccessibleLabel(*statusPicker_, "Статус");
  statusPicker_->property_selected().signal_changed().connect([this] {
    const guint at = statusPicker_->get_selected();
    status_ = at < std::size(kStatuses) ? kStatuses[at].tag : "all";
    update();
  });
  bar->append(*statusPicker_);

  setPlaceholder(search_, "Курьер или маршрут");
  search_.set_size_request(100, -1);
  search_.set_hexpand(true);
  search_.signal_search_changed().connect([this] {
    query_ = search_.get_text();
    update();
  });
  bar->append(search_);

  refresh_ = symbolButton("Обновить", "arrow.clockwise");
  refresh_->signal_clicked().connect([this] { loadOnce({}); });
  bar->append(*refresh_);
  append(*bar);
}

void MonitoringView::buildTiles() {
  auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 28);
  row->set_margin_start(20);
  row->set_margin_end(20);
  row->set_margin_bottom(16);
  for (const char* title : kTileTitles) {
    auto* tile = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 4);
    auto* value = label("0", {"title-2", "numeric"});
    tile->append(*value);
    tile->append(*label(title, {"dim-label"}));
    tiles_.push_back(value);
    row->append(*tile);
  }
  append(*row);
}

Gtk::Widget* MonitoringView::buildList() {
  list_.addWidgetColumn(
      "Маршрут", [this] { return Gtk::make_managed<RouteRow>([this](const Record& route) { openDetail(route); }); },
      [](Gtk::Widget& w, const Record& route) { static_cast<RouteRow&>(w).bind(route); }, {.expand = true});
  list_.view().set_show_column_separators(false);
  list_.setTitlesVisible(false);  // one column of route cards: no header
  list_.signalSelectionChanged().connect([this](const std::set<std::string>& ids) {
    select(ids.empty() ? std::nullopt : std::optional<std::string>(*ids.begin()));
  });
  return &list_;
}

std::string MonitoringView::day() const { return DorvikDate::day(date_); }

void MonitoringView::pickDay(std::chrono::system_clock::time_point day) {
  date_ = day;
  datePicker_->setDate(day);
  if (get_mapped()) startLoop();
}

void MonitoringView::startLoop() { loop_->start(routesPath(day()) + context_.model->generation()); }

void MonitoringView::loadOnce(std::function<void()> done) {
  auto run = [](std::shared_ptr<ScreenData> state, std::string path, ScreenSource source,
                std::function<void()> done) -> async::Task<void> {
    co_await state->load(std::move(path), std::move(source));
    if (done) done();
  };
  async::spawn(run(state_, routesPath(day()), context_.screenSource(), std::move(done)));
}

void MonitoringView::select(std::optional<std::string> id) {
  selection_ = std::move(id);
  list_.setSelectedIds(selection_ ? std::set<std::string>{*selection_} : std::set<std::string>{});
  showAll_.set_sensitive(selection_.has_value());
  updateMap();
}

void MonitoringView::update() {
  routes_ = routeRecords(state_->value());
  filtered_ = filterRoutes(routes_, status_, query_);
  list_.setRows(filtered_);
  if (!tiles_.empty()) {
    const Metrics m = dayMetrics(routes_);
    const std::int64_t values[] = {m.routes, m.inProgress, m.points, m.closed, m.problems};
    for (std::size_t i = 0; i < tiles_.size(); ++i) tiles_[i]->set_text(groupedDigits(values[i]));
  }
  placeholder_->set_visible(showsPlaceholder(state_->loading(), state_->issue().has_value(), filtered_.size()));
  refresh_->set_sensitive(!state_->loading());
  showAll_.set_sensitive(selection_.has_value());
  updateMap();
}

void MonitoringView::updateMap() {
  if (!map_) return;
  const auto shown = shownRoutes(filtered_, selection_);
  RouteDrawing drawing = routeDrawing(shown);
  MapContent content;
  content.pins = std::move(drawing.pins);
  content.lines = std::move(drawing.lines);
  map_->setContent(std::move(content));
}

void MonitoringView::openDetail(const Record& route) {
  openRouteDetail(*this, context_, route["routeId"].string(), day());
}

Gtk::Widget* makeMonitoringView(PanelPage page, const ShellContext& context) {
  return Gtk::make_managed<MonitoringView>(page, context);
}

}  // namespace dorvik::monitoring
