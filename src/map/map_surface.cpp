#include "map/map_surface.h"

#include "core/async/task.h"
#include "widgets/gtk_helpers.h"

namespace dorvik {

namespace {

void center(Gtk::Widget& widget) {
  widget.set_halign(Gtk::Align::CENTER);
  widget.set_valign(Gtk::Align::CENTER);
}

void margins(Gtk::Widget& widget, int margin) {
  widget.set_margin_top(margin);
  widget.set_margin_bottom(margin);
  widget.set_margin_start(margin);
  widget.set_margin_end(margin);
}

}  // namespace

TwoGISSurface::TwoGISSurface(std::shared_ptr<AppModel> model, std::shared_ptr<UserDefaults> defaults,
                             MapContent content, InteractionHandler onInteraction, MapPageOptions page)
    : model_(std::move(model)),
      defaults_(std::move(defaults)),
      content_(std::move(content)),
      onInteraction_(std::move(onInteraction)),
      page_(std::move(page)) {
  add_css_class("background");
  set_hexpand(true);
  set_vexpand(true);
  set_overflow(Gtk::Overflow::HIDDEN);

  mapLayer_.set_hexpand(true);
  mapLayer_.set_vexpand(true);
  set_child(mapLayer_);

  // "Подключаем 2ГИС…" while the settings have not arrived.
  auto* spinner = Gtk::make_managed<Gtk::Spinner>();
  spinner->set_spinning(true);
  connecting_.append(*spinner);
  connecting_.append(*centredLabel(kMapConnecting, "dim-label"));
  center(connecting_);
  connecting_.set_hexpand(true);

  // The unavailable view: no key, the demo, or settings that failed to load.
  auto* icon = Gtk::make_managed<Gtk::Image>();
  icon->set_from_icon_name("find-location-symbolic");
  icon->set_pixel_size(48);
  icon->add_css_class("dim-label");
  unavailable_.append(*icon);
  unavailable_.append(*centredLabel(kMapTitle, "title-2"));
  unavailableText_ = centredLabel("", "dim-label");
  unavailableText_->set_max_width_chars(50);
  unavailable_.append(*unavailableText_);
  center(unavailable_);
  unavailable_.set_hexpand(true);
  margins(unavailable_, 12);

  // The loading card over the page.
  auto* loadingSpinner = Gtk::make_managed<Gtk::Spinner>();
  loadingSpinner->set_spinning(true);
  loadingCard_.append(*loadingSpinner);
  loadingCard_.append(*centredLabel(kMapLoading));
  auto* loadingFrame = Gtk::make_managed<Gtk::Box>();
  loadingFrame->add_css_class("card");
  loadingFrame->add_css_class("map-card");
  margins(loadingCard_, 20);
  loadingFrame->append(loadingCard_);
  center(*loadingFrame);
  add_overlay(*loadingFrame);

  // The zoom group, top right, once the page is ready.
  controls_.add_css_class("linked");
  controls_.add_css_class("osd");
  for (const MapZoomButton& zoom : kMapZoomButtons) {
    auto* face = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    auto* image = Gtk::make_managed<Gtk::Image>();
    image->set_from_icon_name(zoom.icon);
    face->append(*image);
    face->append(*Gtk::make_managed<Gtk::Label>(zoom.title));
    auto* button = Gtk::make_managed<Gtk::Button>();
    button->set_child(*face);
    button->set_tooltip_text(zoom.tooltip);
    const char* kind = zoom.kind;
    button->signal_clicked().connect([this, kind] { press(kind); });
    controls_.append(*button);
  }
  controls_.set_halign(Gtk::Align::END);
  controls_.set_valign(Gtk::Align::START);
  margins(controls_, 12);
  add_overlay(controls_);

  // The issue panel: the message and "Повторить".
  panelText_ = centredLabel("");
  panelText_->set_max_width_chars(42);
  panel_.append(*panelText_);
  auto* retryButton = Gtk::make_managed<Gtk::Button>(kMapRetry);
  retryButton->set_halign(Gtk::Align::CENTER);
  retryButton->signal_clicked().connect([this] { retry(); });
  panel_.append(*retryButton);
  margins(panel_, 24);
  panelFrame_ = Gtk::make_managed<Gtk::Box>();
  panelFrame_->add_css_class("card");
  panelFrame_->add_css_class("map-card");
  panelFrame_->append(panel_);
  center(*panelFrame_);
  margins(*panelFrame_, 12);
  add_overlay(*panelFrame_);

  modelConnection_ = model_->observe([this](AppModel::Property p) {
    switch (p) {
      case AppModel::Property::generation:
        if (shown_) loadSettings(false);
        [[fallthrough]];
      case AppModel::Property::mapConfiguration:
      case AppModel::Property::mapIssue:
      case AppModel::Property::preview:
        refresh();
        schedulePush();
        break;
      default:
        break;
    }
  });
  if (defaults_) {
    defaultsObserver_ = defaults_->observe([this](const std::string& key) {
      if (key == "extraMotion") schedulePush();
    });
  }
  if (auto settings = Gtk::Settings::get_default()) {
    animationsConnection_ =
        settings->property_gtk_enable_animations().signal_changed().connect([this] { schedulePush(); });
  }
  // The settings load when the surface first appears.
  signal_map().connect([this] {
    if (shown_) return;
    shown_ = true;
    loadSettings(false);
  });
  refresh();
}

TwoGISSurface::~TwoGISSurface() {
  webView_.reset();
  animationsConnection_.disconnect();
  if (defaults_ && defaultsObserver_) defaults_->unobserve(defaultsObserver_);
}

MapSurfaceState::Look TwoGISSurface::look() const {
  return state_.look(MapSettings{model_->mapConfiguration(), model_->mapIssue(), model_->preview()});
}

bool TwoGISSurface::reduceMotion() const {
  auto settings = Gtk::Settings::get_default();
  const bool systemReduces = settings && !settings->property_gtk_enable_animations().get_value();
  return mapReduceMotion(systemReduces, defaults_ ? defaults_->boolean("extraMotion", true) : true);
}

MapView TwoGISSurface::describe() {
  MapView view;
  view.configuration = model_->mapConfiguration();
  view.generation = model_->generation();
  view.content = content_;
  view.reduceMotion = reduceMotion();
  view.command = state_.command();
  std::weak_ptr<int> alive = alive_;
  // Interactions reach the screen on the next turn of the loop, so that a screen may replace or drop the map in
  // its handler without pulling the web view away under its own signal.
  view.onInteraction = [this, alive](const MapInteraction& interaction) {
    Glib::signal_idle().connect_once([this, alive, interaction] {
      if (!alive.expired() && onInteraction_) onInteraction_(interaction);
    });
  };
  view.onStatus = [this](const std::string& state) { onStatus(state); };
  return view;
}

void TwoGISSurface::refresh() {
  const MapSurfaceState::Look look = this->look();

  const bool wantsMap = look.layer == MapSurfaceState::Layer::map;
  if (webView_ && (!wantsMap || madeFor_ != state_.reloadID())) {
    gtk_box_remove(mapLayer_.gobj(), webView_->widget());
    webView_.reset();
  }
  if (wantsMap && !webView_) {
    webView_ = std::make_unique<TwoGISWebView>(describe(), page_);
    madeFor_ = state_.reloadID();
    gtk_box_append(mapLayer_.gobj(), webView_->widget());
  }
  auto place = [this](Gtk::Widget& widget, bool wanted) {
    const bool present = widget.get_parent() == &mapLayer_;
    if (wanted && !present) mapLayer_.append(widget);
    if (!wanted && present) mapLayer_.remove(widget);
  };
  place(connecting_, look.layer == MapSurfaceState::Layer::connecting);
  place(unavailable_, look.layer == MapSurfaceState::Layer::unavailable);
  unavailableText_->set_text(look.unavailableText);
  // The issue panel says it already: the view behind it does not repeat the same text.
  unavailableText_->set_visible(!(look.panel && *look.panel == look.unavailableText));

  loadingCard_.get_parent()->set_visible(look.loadingCard);
  controls_.set_visible(look.controls);
  panelFrame_->set_visible(look.panel.has_value());
  // Over the unavailable view the panel keeps to the bottom edge, so the view's own text stays readable.
  panelFrame_->set_valign(look.layer == MapSurfaceState::Layer::unavailable ? Gtk::Align::END : Gtk::Align::CENTER);
  panelText_->set_text(look.panel.value_or(""));
}

void TwoGISSurface::schedulePush() {
  if (!webView_) return;
  webView_->setParent(describe());
  if (pushScheduled_) return;
  pushScheduled_ = true;
  std::weak_ptr<int> alive = alive_;
  Glib::signal_idle().connect_once([this, alive] {
    if (alive.expired()) return;
    pushScheduled_ = false;
    if (webView_) webView_->sendLatest();
  });
}

void TwoGISSurface::loadSettings(bool force) { async::spawn(model_->loadMapConfiguration(force)); }

void TwoGISSurface::onStatus(const std::string& state) {
  state_.onStatus(state);
  refresh();
}

void TwoGISSurface::press(const char* kind) {
  state_.send(kind);
  schedulePush();
}

void TwoGISSurface::retry() {
  state_.retry();
  refresh();  // a new web view for the new identity
  loadSettings(true);
}

void TwoGISSurface::setContent(MapContent content) {
  content_ = std::move(content);
  schedulePush();
}

void TwoGISSurface::setPins(std::vector<MapPin> pins) {
  content_.pins = std::move(pins);
  schedulePush();
}

void TwoGISSurface::setLines(std::vector<std::vector<MapPoint>> lines) {
  content_.lines = std::move(lines);
  schedulePush();
}

void TwoGISSurface::setLineColors(std::vector<std::string> colors) {
  content_.lineColors = std::move(colors);
  schedulePush();
}

void TwoGISSurface::setPolygons(std::vector<std::vector<MapPoint>> polygons) {
  content_.polygons = std::move(polygons);
  schedulePush();
}

void TwoGISSurface::setModes(bool editing, bool drawing, bool transferring) {
  content_.editing = editing;
  content_.drawing = drawing;
  content_.transferring = transferring;
  schedulePush();
}

void TwoGISSurface::setPlanRevision(std::int64_t revision) {
  content_.planRevision = revision;
  schedulePush();
}

void TwoGISSurface::setVehicles(std::vector<std::int64_t> vehicles) {
  content_.vehicles = std::move(vehicles);
  schedulePush();
}

}  // namespace dorvik
