#include "monitoring/reports_view.h"

#include <adwaita.h>

#include "core/async/task.h"
#include "monitoring/route_detail.h"
#include "shell/date_picker.h"
#include "shell/screen_notice.h"
#include "shell/toolkit/display.h"
#include "shell/toolkit/symbols.h"
#include "widgets/gtk_helpers.h"

namespace dorvik::monitoring {

namespace {

// The bars' colours follow the light or dark style through the theme's named colours.
void installChartStyle() {
  static bool installed = false;
  auto display = Gdk::Display::get_default();
  if (installed || !display) return;
  installed = true;
  auto provider = Gtk::CssProvider::create();
  provider->load_from_data(
      ".dorvik-bar-delivered { background-color: @success_bg_color; min-width: 0; min-height: 0; }\n"
      ".dorvik-bar-problems { background-color: @error_bg_color; min-width: 0; min-height: 0; }\n");
  Gtk::StyleContext::add_provider_for_display(display, provider, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

Gtk::Label* label(const std::string& text, std::initializer_list<const char*> classes = {}) {
  auto* l = Gtk::make_managed<Gtk::Label>(text);
  l->set_xalign(0);
  for (const char* c : classes) l->add_css_class(c);
  return l;
}

Gtk::Button* titledButton(const std::string& title, const std::string& symbol) {
  auto* button = Gtk::make_managed<Gtk::Button>();
  GtkWidget* content = adw_button_content_new();
  adw_button_content_set_label(ADW_BUTTON_CONTENT(content), title.c_str());
  adw_button_content_set_icon_name(ADW_BUTTON_CONTENT(content), std::string(symbolIcon(symbol)).c_str());
  gtk_button_set_child(button->gobj(), content);
  return button;
}

Gtk::Widget* bar(double height, const char* cssClass) {
  auto* box = Gtk::make_managed<Gtk::Box>();
  box->set_size_request(static_cast<int>(kBarWidth), static_cast<int>(height + 0.5));
  box->set_valign(Gtk::Align::END);
  box->add_css_class(cssClass);
  return box;
}

// One day of the chart: its two bars in a frame of fixed height, and the day under them; one element for a
// screen reader, named by the day and its counts.
Gtk::Widget* dayColumn(const DayColumn& day) {
  auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 5);
  column->set_valign(Gtk::Align::END);
  auto* frame = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, static_cast<int>(kBarSpacing));
  frame->set_size_request(-1, static_cast<int>(kChartHeight));
  frame->set_halign(Gtk::Align::CENTER);
  frame->append(*bar(day.delivered, "dorvik-bar-delivered"));
  frame->append(*bar(day.problems, "dorvik-bar-problems"));
  column->append(*frame);
  auto* name = Gtk::make_managed<Gtk::Label>(day.label);
  name->add_css_class("caption");
  column->append(*name);
  for (Gtk::Widget* child : {static_cast<Gtk::Widget*>(frame), static_cast<Gtk::Widget*>(name)})
    gtk_accessible_update_state(GTK_ACCESSIBLE(child->gobj()), GTK_ACCESSIBLE_STATE_HIDDEN, TRUE, -1);
  setAccessibleLabel(*column, day.accessible);
  return column;
}

}  // namespace

ReportsView::ReportsView(ShellContext context) : Gtk::Box(Gtk::Orientation::VERTICAL), context_(std::move(context)) {
  installChartStyle();
  append(buildToolbar());
  append(buildHeader());
  invalid_.add_css_class("error");
  invalid_.set_margin(8);
  append(invalid_);
  append(*Gtk::make_managed<ScreenNotice>(state_));
  append(buildTiles());
  append(buildTabs());

  chart_.set_margin_start(20);
  chart_.set_margin_end(20);
  chart_.set_margin_bottom(12);
  chart_.append(*label("Доставлено · зелёный. Проблемы · красный.", {"caption", "dim-label"}));
  auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
  scroller->set_policy(Gtk::PolicyType::AUTOMATIC, Gtk::PolicyType::NEVER);
  chartRow_.set_valign(Gtk::Align::END);
  chartRow_.set_margin_bottom(6);
  scroller->set_child(chartRow_);
  chart_.append(*scroller);
  append(chart_);

  auto* overlay = Gtk::make_managed<Gtk::Overlay>();
  overlay->set_vexpand(true);
  table_.set_vexpand(true);
  table_.signalActivate().connect([this](const Record& row) { open(row); });
  overlay->set_child(table_);
  GtkWidget* empty = adw_status_page_new();
  adw_status_page_set_title(ADW_STATUS_PAGE(empty), "Нет данных за период");
  adw_status_page_set_icon_name(ADW_STATUS_PAGE(empty), std::string(symbolIcon("chart.bar.xaxis")).c_str());
  empty_ = Gtk::manage(Glib::wrap(empty));
  empty_->set_can_target(false);
  overlay->add_overlay(*empty_);
  append(*overlay);

  stateConnection_ = state_->observe([this](ScreenData::Property p) {
    if (p == ScreenData::Property::value || p == ScreenData::Property::loading) update();
  });
  // Loads when first shown and again for every new workspace generation.
  modelConnection_ = context_.model->observe([this](AppModel::Property p) {
    if (p != AppModel::Property::generation || context_.model->generation() == loadedGeneration_) return;
    generationPending_ = true;
    if (get_mapped()) load();
  });
  signal_map().connect([this] {
    if (generationPending_ || context_.model->generation() != loadedGeneration_) load();
  });
  showPeriod();
  showTable();
  update();
}

ReportsView::~ReportsView() {
  stateConnection_.disconnect();
  modelConnection_.disconnect();
}

Gtk::Widget& ReportsView::buildToolbar() {
  auto* bar = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  bar->set_margin_top(12);
  bar->set_margin_start(20);
  bar->set_margin_end(20);
  auto* gap = Gtk::make_managed<Gtk::Box>();
  gap->set_hexpand(true);
  bar->append(*gap);
  export_ = titledButton("Экспорт Excel", "square.and.arrow.up");
  export_->signal_clicked().connect([this] { exportShown(); });
  bar->append(*export_);
  return *bar;
}

Gtk::Widget& ReportsView::buildHeader() {
  auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  row->set_margin(20);
  row->set_halign(Gtk::Align::CENTER);
  auto picker = [&](const char* caption, auto assign) {
    row->append(*Gtk::make_managed<Gtk::Label>(caption));
    auto* p = Gtk::make_managed<MoscowDatePicker>();
    p->set_size_request(135, -1);
    setAccessibleLabel(*p, caption);
    p->signalPicked().connect([this, assign](Instant picked) {
      assign(picked);
      showPeriod();
    });
    row->append(*p);
    return p;
  };
  fromPicker_ = picker("С", [this](Instant i) { from_ = i; });
  toPicker_ = picker("по", [this](Instant i) { to_ = i; });

  auto actions = Gio::SimpleActionGroup::create();
  actions->add_action("today", [this] { applyPreset(Preset::today); });
  actions->add_action("week", [this] { applyPreset(Preset::week); });
  actions->add_action("month", [this] { applyPreset(Preset::month); });
  insert_action_group("reports", actions);
  auto menu = Gio::Menu::create();
  menu->append("Сегодня", "reports.today");
  menu->append("7 дней", "reports.week");
  menu->append("30 дней", "reports.month");
  auto* presets = Gtk::make_managed<Gtk::MenuButton>();
  presets->set_label("Период");
  setAccessibleLabel(*presets, "Период");
  presets->set_menu_model(menu);
  row->append(*presets);

  build_ = Gtk::make_managed<Gtk::Button>("Построить");
  build_->add_css_class("suggested-action");
  build_->signal_clicked().connect([this] { build(); });
  row->append(*build_);
  return *row;
}

Gtk::Widget& ReportsView::buildTiles() {
  auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 24);
  for (const Tile& t : reportTiles(JSONValue())) {
    auto* tile = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
    auto* value = label(t.value, {"title-2", "numeric"});
    value->set_markup("<span weight=\"semibold\">—</span>");
    tile->append(*value);
    tile->append(*label(t.caption, {"caption", "dim-label"}));
    tileValues_.push_back(value);
    row->append(*tile);
  }
  tiles_.set_margin_start(20);
  tiles_.set_margin_end(20);
  tiles_.set_margin_bottom(16);
  tiles_.set_spacing(6);
  tiles_.append(*row);
  range_.set_xalign(0);
  range_.add_css_class("caption");
  range_.add_css_class("dim-label");
  tiles_.append(range_);
  return tiles_;
}

Gtk::Widget& ReportsView::buildTabs() {
  auto* group = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL);
  group->add_css_class("linked");
  group->set_halign(Gtk::Align::CENTER);
  group->set_margin(16);
  setAccessibleLabel(*group, "Разрез отчёта");
  for (std::size_t i = 0; i < kReportTabs.size(); ++i) {
    auto* button = Gtk::make_managed<Gtk::ToggleButton>(kReportTabTitles[i]);
    if (!tabButtons_.empty()) button->set_group(*tabButtons_.front());
    button->set_active(kReportTabs[i] == tab_);
    const std::string tab = kReportTabs[i];
    button->signal_toggled().connect([this, button, tab] {
      if (button->get_active()) chooseTab(tab);
    });
    tabButtons_.push_back(button);
    group->append(*button);
  }
  return *group;
}

void ReportsView::pickPeriod(Instant from, Instant to) {
  from_ = from;
  to_ = to;
  showPeriod();
}

void ReportsView::applyPreset(Preset preset) {
  const Period period = presetPeriod(preset, std::chrono::system_clock::now());
  pickPeriod(period.from, period.to);
}

void ReportsView::chooseTab(const std::string& tab) {
  if (tab == tab_) return;
  tab_ = tab;
  for (std::size_t i = 0; i < tabButtons_.size(); ++i)
    if (kReportTabs[i] == tab_ && !tabButtons_[i]->get_active()) tabButtons_[i]->set_active(true);
  showTable();
  update();
}

void ReportsView::build() {
  if (!validRange(from_, to_) || state_->loading()) return;
  load();
}

void ReportsView::load() {
  generationPending_ = false;
  loadedGeneration_ = context_.model->generation();
  auto run = [](std::shared_ptr<ScreenData> state, std::string path, ScreenSource source) -> async::Task<void> {
    co_await state->load(std::move(path), std::move(source));
  };
  async::spawn(run(state_, reportPath(from_, to_), context_.screenSource()));
}

void ReportsView::showPeriod() {
  fromPicker_->setDate(from_);
  toPicker_->setDate(to_);
  invalid_.set_visible(!validRange(from_, to_));
  build_->set_sensitive(validRange(from_, to_) && !state_->loading());
}

void ReportsView::showTable() {
  table_.clearColumns();
  const auto& columns = reportColumns(tab_);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const int lines = reportColumnLines(i);
    table_.addColumn(columns[i].title, recordCell(columns[i].key, columns[i].format),
                     {.minWidth = reportColumnWidth(i),
                      .expand = i == 3 || i == 5 || (i == 0 && tab_ != "exceptions"),
                      .lines = lines == 0 ? 1 : lines});
  }
  table_.setRows({});
}

void ReportsView::update() {
  const JSONValue& answer = state_->value();
  rows_ = reportRows(answer, tab_);
  table_.setRows(rows_);
  tiles_.set_visible(!answer.isNull());
  const std::vector<Tile> tiles = reportTiles(answer);
  for (std::size_t i = 0; i < tileValues_.size() && i < tiles.size(); ++i)
    tileValues_[i]->set_markup("<span weight=\"semibold\">" + Glib::Markup::escape_text(tiles[i].value) + "</span>");
  range_.set_text(rangeCaption(answer));
  empty_->set_visible(rows_.empty() && !state_->loading());
  export_->set_sensitive(!rows_.empty());
  build_->set_sensitive(validRange(from_, to_) && !state_->loading());
  showChart();
}

void ReportsView::showChart() {
  while (Gtk::Widget* child = chartRow_.get_first_child()) chartRow_.remove(*child);
  const DailyChart chart = tab_ == "daily" ? dailyChart(state_->value()) : DailyChart{};
  for (const DayColumn& day : chart.columns) chartRow_.append(*dayColumn(day));
  chart_.set_visible(!chart.columns.empty());
}

std::vector<Gtk::Widget*> ReportsView::chartColumns() const {
  std::vector<Gtk::Widget*> columns;
  if (!chart_.get_visible()) return columns;
  for (auto* child = const_cast<Gtk::Box&>(chartRow_).get_first_child(); child; child = child->get_next_sibling())
    columns.push_back(child);
  return columns;
}

void ReportsView::exportShown() {
  if (rows_.empty()) return;
  // The rows are taken now; the workbook and the save dialog follow in a task of their own.
  async::spawn(context_.model->exportRows(reportExport(rows_, tab_), reportExportName(tab_)));
}

void ReportsView::open(const Record& row) {
  std::optional<RouteToOpen> route = routeToOpen(tab_, rows_, {row.id()});
  if (!route) return;
  openRouteDetail(*this, context_, route->routeID, route->routeDate);
}

Gtk::Widget* makeReportsView(const ShellContext& context) { return Gtk::make_managed<ReportsView>(context); }

}  // namespace dorvik::monitoring
