#include "planning/planning_routes_view.h"

#include <adwaita.h>

#include "shell/toolkit/symbols.h"
#include "widgets/gtk_helpers.h"

namespace dorvik::planning {

namespace {

constexpr int kListMin = 230;
constexpr int kListIdeal = 270;
constexpr int kListMax = 360;

Gtk::Label* line(const std::string& text, std::initializer_list<const char*> classes) {
  auto* label = Gtk::make_managed<Gtk::Label>(text);
  label->set_xalign(0);
  label->set_wrap(true);
  label->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
  for (const char* css : classes) label->add_css_class(css);
  return label;
}

Gtk::Box* spacer() {
  auto* space = Gtk::make_managed<Gtk::Box>();
  space->set_hexpand(true);
  return space;
}

}  // namespace

PlanningRoutesView::PlanningRoutesView(const PlannerFrame& frame)
    : Gtk::Paned(Gtk::Orientation::HORIZONTAL),
      model_(frame.context.model),
      tab_(model_, [model = model_](std::string action, JSONValue payload) {
        return model->mutate(std::move(action), std::move(payload));
      }) {
  set_hexpand(true);
  set_vexpand(true);

  routes_.set_selection_mode(Gtk::SelectionMode::SINGLE);
  routes_.add_css_class("navigation-sidebar");
  setAccessibleLabel(routes_, "Маршруты");
  routes_.signal_row_selected().connect([this](Gtk::ListBoxRow* row) {
    if (showingRoutes_ || !row) return;
    const auto index = static_cast<std::size_t>(row->get_index());
    if (index < routeIDs_.size()) tab_.select(routeIDs_[index]);
    showDetail();
  });
  auto* list = Gtk::make_managed<Gtk::ScrolledWindow>();
  list->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
  list->set_child(routes_);
  list->set_size_request(kListMin, -1);
  set_start_child(*list);
  set_resize_start_child(false);
  set_shrink_start_child(false);
  set_position(kListIdeal);
  property_position().signal_changed().connect([this] {
    if (get_position() > kListMax) set_position(kListMax);
    if (get_position() < kListMin) set_position(kListMin);
  });

  GtkWidget* empty = adw_status_page_new();
  adw_status_page_set_icon_name(ADW_STATUS_PAGE(empty),
                                std::string(symbolIcon("point.topleft.down.to.point.bottomright.curvepath")).c_str());
  adw_status_page_set_title(ADW_STATUS_PAGE(empty), "Рассчитайте маршруты");
  detail_.add(*Glib::wrap(empty), "empty");

  auto* route = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
  route->set_size_request(400, -1);
  auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  header->set_margin(16);
  courier_.add_css_class("title-3");
  courier_.set_xalign(0);
  courier_.set_ellipsize(Pango::EllipsizeMode::END);
  shift_.add_css_class("dim-label");
  header->append(courier_);
  header->append(*spacer());
  header->append(shift_);
  route->append(*header);
  auto* hint = line(kRoutesHint, {"dim-label"});
  hint->set_margin_start(16);
  hint->set_margin_end(16);
  hint->set_margin_bottom(12);
  route->append(*hint);
  stops_.set_selection_mode(Gtk::SelectionMode::NONE);
  stops_.add_css_class("rich-list");
  setAccessibleLabel(stops_, "Остановки маршрута");
  auto* stops = Gtk::make_managed<Gtk::ScrolledWindow>();
  stops->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
  stops->set_vexpand(true);
  stops->set_child(stops_);
  route->append(*Gtk::make_managed<Gtk::Separator>());
  route->append(*stops);
  detail_.add(*route, "route");
  detail_.set_hexpand(true);
  set_end_child(detail_);
  set_shrink_end_child(false);

  connection_ = model_->observe([this](AppModel::Property property) {
    using P = AppModel::Property;
    if (property == P::planner) show();
    if (property == P::busy || property == P::geocoding || property == P::generation) {
      stops_.set_sensitive(tab_.stopsEnabled());
    }
  });
  shownConnection_ = frame.screen->whenShownAgain("routes", [this] {
    tab_.shownAgain();
    show();
  });
  show();
}

PlanningRoutesView::~PlanningRoutesView() { connection_.disconnect(); }

void PlanningRoutesView::show() {
  showRoutes();
  showDetail();
}

void PlanningRoutesView::showRoutes() {
  showingRoutes_ = true;
  while (Gtk::Widget* child = routes_.get_first_child()) routes_.remove(*child);
  routeIDs_.clear();
  Gtk::ListBoxRow* selected = nullptr;
  for (const Record& route : model_->routes()) {
    const RouteRowText text = routeRowText(route);
    auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
    box->set_margin_top(8);
    box->set_margin_bottom(8);
    box->append(*line(text.courier, {"heading"}));
    box->append(*line(text.summary, {}));
    box->append(*line(text.finish, {"caption", "dim-label"}));
    auto* row = Gtk::make_managed<Gtk::ListBoxRow>();
    row->set_child(*box);
    routes_.append(*row);
    routeIDs_.push_back(route.id());
    if (tab_.selection() == route.id() && !selected) selected = row;
  }
  // The highlight follows the user's choice only: nothing is highlighted before the first click.
  if (selected) {
    routes_.select_row(*selected);
  } else {
    routes_.unselect_all();
  }
  showingRoutes_ = false;
}

void PlanningRoutesView::showDetail() {
  while (Gtk::Widget* child = stops_.get_first_child()) stops_.remove(*child);
  const std::optional<Record> route = tab_.current();
  if (!route) {
    detail_.set_visible_child("empty");
    return;
  }
  const RouteHeaderText header = routeHeaderText(*route);
  courier_.set_text(header.courier);
  shift_.set_text(header.shift);
  const JSONArray& stops = (*route)["stops"].array();
  for (std::size_t i = 0; i < stops.size(); ++i) stops_.append(*stopRow(stops[i], i, stops.size()));
  stops_.set_sensitive(tab_.stopsEnabled());
  detail_.set_visible_child("route");
}

Gtk::Widget* PlanningRoutesView::stopRow(const JSONValue& stop, std::size_t position, std::size_t count) {
  auto* row = Gtk::make_managed<Gtk::ListBoxRow>();
  row->set_activatable(false);
  const StopRowText text = stopRowText(stop, model_->planner());

  // Every row takes drops, an empty one too: offsets count every row of the list.
  auto target = Gtk::DropTarget::create(Glib::Value<int>::value_type(), Gdk::DragAction::MOVE);
  target->signal_drop().connect(
      [this, row, position](const Glib::ValueBase& value, double, double y) {
        Glib::Value<int> source;
        source.init(value.gobj());
        const std::size_t destination = y < row->get_height() / 2.0 ? position : position + 1;
        return source.get() >= 0 && moveStop(static_cast<std::size_t>(source.get()), destination);
      },
      false);
  row->add_controller(target);
  if (!text.shown) return row;

  auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 14);
  box->set_margin_top(8);
  box->set_margin_bottom(8);
  auto* arrival = line(text.arrival, {"heading", "numeric"});
  arrival->set_valign(Gtk::Align::START);
  arrival->set_wrap(false);
  box->append(*arrival);
  auto* lines = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 5);
  lines->set_hexpand(true);
  lines->append(*line(text.title, {"heading"}));
  lines->append(*line(text.address, {}));
  lines->append(*line(text.detail, {"caption", text.late ? "dorvik-orange" : "dim-label"}));
  box->append(*lines);

  auto* assign = Gtk::make_managed<Gtk::MenuButton>();
  assign->set_label("Назначить");
  setAccessibleLabel(*assign, "Назначить");
  assign->set_valign(Gtk::Align::START);
  auto menu = Gio::Menu::create();
  const std::vector<std::string> items = assignItems(model_->planner());
  for (std::size_t k = 0; k < items.size(); ++k) {
    auto item = plainMenuItem(items[k]);
    item->set_action_and_target("stop.assign", Glib::Variant<gint64>::create(static_cast<gint64>(k)));
    menu->append_item(item);
  }
  auto off = Gio::MenuItem::create(kUnassignItem, "");
  off->set_action_and_target("stop.assign", Glib::Variant<gint64>::create(-1));
  menu->append_item(off);
  assign->set_menu_model(menu);
  box->append(*assign);
  row->set_child(*box);

  // The stop's "index" stays with the row as the plan gave it.
  auto actions = Gio::SimpleActionGroup::create();
  actions->add_action_with_parameter("assign", Glib::VARIANT_TYPE_INT64, [this, stop](const Glib::VariantBase& p) {
    tab_.assign(stop, Glib::VariantBase::cast_dynamic<Glib::Variant<gint64>>(p).get());
  });
  row->insert_action_group("stop", actions);

  auto source = Gtk::DragSource::create();
  source->set_actions(Gdk::DragAction::MOVE);
  source->signal_prepare().connect(
      [position](double, double) {
        Glib::Value<int> value;
        value.init(Glib::Value<int>::value_type());
        value.set(static_cast<int>(position));
        return Gdk::ContentProvider::create(value);
      },
      false);
  Gtk::DragSource* dragged = source.get();
  source->signal_drag_begin().connect(
      [dragged, row](const Glib::RefPtr<Gdk::Drag>&) { dragged->set_icon(Gtk::WidgetPaintable::create(*row), 0, 0); });
  row->add_controller(source);

  // The keyboard's way to reorder: Alt+Up and Alt+Down on a focused row.
  row->set_focusable(true);
  auto keys = Gtk::ShortcutController::create();
  auto moveBy = [this, position, count](bool up) {
    return Gtk::CallbackAction::create([this, position, count, up](Gtk::Widget&, const Glib::VariantBase&) {
      if (up) return position > 0 && moveStop(position, position - 1);
      return position + 1 < count && moveStop(position, position + 2);
    });
  };
  keys->add_shortcut(Gtk::Shortcut::create(Gtk::ShortcutTrigger::parse_string("<Alt>Up"), moveBy(true)));
  keys->add_shortcut(Gtk::Shortcut::create(Gtk::ShortcutTrigger::parse_string("<Alt>Down"), moveBy(false)));
  row->add_controller(keys);
  return row;
}

Gtk::Widget* makeRoutesView(const PlannerFrame& frame) { return Gtk::make_managed<PlanningRoutesView>(frame); }

}  // namespace dorvik::planning
