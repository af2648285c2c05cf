#include "planning/planner_map_view.h"

#include "shell/window_undo.h"
#include "widgets/gtk_helpers.h"

namespace dorvik::planning {

namespace {

Gtk::Box* spacer() {
  auto* space = Gtk::make_managed<Gtk::Box>();
  space->set_hexpand(true);
  return space;
}

}  // namespace

PlannerMapView::PlannerMapView(const PlannerFrame& frame, MapPageOptions page)
    : Gtk::Box(Gtk::Orientation::VERTICAL), model_(frame.context.model) {
  map_ = PlanningMap::create(model_, modelMapWork(model_));
  set_hexpand(true);
  set_vexpand(true);

  actions_ = Gio::SimpleActionGroup::create();
  zones_ = actions_->add_action_bool("zones", false);
  zones_->signal_activate().connect([this](const Glib::VariantBase&) { map_->setShowZones(!map_->showZones()); });
  quality_ = actions_->add_action_bool("quality", false);
  quality_->signal_activate().connect(
      [this](const Glib::VariantBase&) { map_->setQualityColors(!map_->qualityColors()); });
  assign_ = actions_->add_action_with_parameter("assign", Glib::VARIANT_TYPE_INT64, [this](const Glib::VariantBase& p) {
    map_->assignSelection(Glib::VariantBase::cast_dynamic<Glib::Variant<gint64>>(p).get());
  });
  insert_action_group("map", actions_);

  append(buildControls());
  append(*Gtk::make_managed<Gtk::Separator>());
  std::weak_ptr<PlanningMap> weakMap = map_;
  surface_ = Gtk::make_managed<TwoGISSurface>(
      model_, frame.context.defaults, map_->content(),
      [this, weakMap](const MapInteraction& interaction) {
        // Corrections are recorded in the stack of the window the map stands in at the moment of the drag.
        if (auto map = weakMap.lock()) map->interact(interaction, windowUndoStack(*this));
      },
      std::move(page));
  append(*surface_);
  append(buildFooter());

  mapConnection_ = map_->observe([this] { show(); });
  shownConnection_ = frame.screen->whenShownAgain("map", [map = map_] { map->shownAgain(); });
  modelConnection_ = model_->observe([this](AppModel::Property property) { modelChanged(property); });
  show();
}

PlannerMapView::~PlannerMapView() {
  modelConnection_.disconnect();
  mapConnection_.disconnect();
}

Gtk::Widget& PlannerMapView::buildControls() {
  auto* block = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
  block->set_margin(12);

  auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
  std::vector<Glib::ustring> labels;
  for (PlanningMapMode mode : planningMapModes()) labels.emplace_back(modeLabel(mode));
  modes_ = Gtk::make_managed<Gtk::DropDown>(Gtk::StringList::create(labels));
  modes_->set_size_request(240, -1);
  modes_->set_valign(Gtk::Align::CENTER);
  setAccessibleLabel(*modes_, "Действие на карте");
  modes_->property_selected().signal_changed().connect([this] {
    if (showing_) return;
    const guint selected = modes_->get_selected();
    if (selected < planningMapModes().size()) map_->setMode(planningMapModes()[selected]);
  });
  row->append(*modes_);
  row->append(*spacer());
  auto* view = Gtk::make_managed<Gtk::MenuButton>();
  view->set_label("Вид карты");
  setAccessibleLabel(*view, "Вид карты");
  auto items = Gio::Menu::create();
  items->append("Геозоны", "map.zones");
  items->append("Цвет по источнику координат", "map.quality");
  view->set_menu_model(items);
  row->append(*view);
  block->append(*row);

  hint_.set_wrap(true);
  hint_.set_xalign(0);
  hint_.add_css_class("dim-label");
  block->append(hint_);

  selected_.add_css_class("numeric");
  transferBar_.append(selected_);
  assignMenu_.set_label("Назначить курьеру");
  setAccessibleLabel(assignMenu_, "Назначить курьеру");
  transferBar_.append(assignMenu_);
  clear_.signal_clicked().connect([this] { map_->clearSelection(); });
  transferBar_.append(clear_);
  transferBar_.append(*spacer());
  undoTransfer_.signal_clicked().connect([this] { map_->undoTransfer(); });
  transferBar_.append(undoTransfer_);
  block->append(transferBar_);
  return *block;
}

Gtk::Widget& PlannerMapView::buildFooter() {
  auto* footer = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  footer->set_margin(10);
  auto* credit = Gtk::make_managed<Gtk::Label>(kMapFooter);
  for (Gtk::Label* label : {credit, &undoHint_}) {
    label->add_css_class("caption");
    label->add_css_class("dim-label");
  }
  footer->append(*credit);
  footer->append(*spacer());
  undoHint_.set_text(kMapUndoFooter);
  footer->append(undoHint_);
  return *footer;
}

void PlannerMapView::modelChanged(AppModel::Property property) {
  using P = AppModel::Property;
  switch (property) {
    case P::planner:
    case P::selectedOrders:
    case P::zones:
    case P::busy:
    case P::geocoding:
    case P::generation:
      show();
      break;
    default:
      break;
  }
}

void PlannerMapView::showAssignMenu() {
  std::vector<std::string> titles = map_->assignTitles();
  if (titles == assignTitles_ && assignMenu_.get_menu_model()) return;
  assignTitles_ = std::move(titles);
  auto menu = Gio::Menu::create();
  for (std::size_t i = 0; i < assignTitles_.size(); ++i) {
    auto item = plainMenuItem(assignTitles_[i]);
    item->set_action_and_target("map.assign", Glib::Variant<gint64>::create(static_cast<gint64>(i)));
    menu->append_item(item);
  }
  assignMenu_.set_menu_model(menu);
}

void PlannerMapView::show() {
  showing_ = true;
  const PlanningMapMode mode = map_->mode();
  const auto& modes = planningMapModes();
  for (guint i = 0; i < modes.size(); ++i) {
    if (modes[i] == mode && modes_->get_selected() != i) modes_->set_selected(i);
  }
  showing_ = false;
  modes_->set_sensitive(map_->canPickMode());
  zones_->change_state(map_->showZones());
  quality_->change_state(map_->qualityColors());

  hint_.set_text(mapHint(mode, model_->planner()["planned"].boolValue()));
  transferBar_.set_visible(mode == PlanningMapMode::transfer);
  selected_.set_text(map_->selectionText());
  showAssignMenu();
  const bool canAssign = map_->canAssign();
  assign_->set_enabled(canAssign);
  assignMenu_.set_sensitive(canAssign);
  clear_.set_sensitive(map_->canClearSelection());
  undoTransfer_.set_sensitive(map_->canUndoTransfer());
  undoHint_.set_visible(map_->editing());
  surface_->setContent(map_->content());
}

Gtk::Widget* makePlannerMap(const PlannerFrame& frame) { return Gtk::make_managed<PlannerMapView>(frame); }

}  // namespace dorvik::planning
