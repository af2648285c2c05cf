// TwoGISSurface: the one map view of the application, a widget that screens embed.
//
// A screen hands it what to draw and which interactions it accepts, and receives each accepted interaction:
//
//   MapContent content;
//   content.pins = {...};              // MapPin: id, label, number, point, movable, selected, color, vehicle
//   content.lines = {...};             // route polylines, content.lineColors by line index (empty: page's own)
//   content.polygons = {...};          // zones
//   content.editing = true;            // movable pins may be dragged      -> MapInteraction::Move
//   content.drawing = false;           // map clicks add vertices          -> MapInteraction::AddVertex
//   content.transferring = false;      // pins may go to another vehicle   -> MapInteraction::Transfer
//   content.planRevision = revision;   // a transfer must name it
//   content.vehicles = {0, 1, 2};      // vehicle indexes a transfer may target
//   auto* map = Gtk::make_managed<TwoGISSurface>(model, defaults, content,
//                                                [](const MapInteraction& i) { ... });  // select on every pin click
//   ...
//   map->setContent(next);             // or setPins, setLines, setLineColors, setPolygons, setModes, ...
//
// Each setter is a view update: the page receives the new state once per turn of the main loop, and only when it
// changed. Interactions arrive on the main thread, one loop turn after the page posted them, already checked
// against the pins and modes in force when they arrived (see MapInteraction::parse).
//
// Everything else is the surface's own: it loads the web map settings through the model (GET "/keys/map") when
// first shown and at each workspace change, shows why there is no map (demo, no key, settings not loaded), the
// page's loading card, its zoom and fit buttons once the page is ready, and a panel with "Повторить" when the page
// or the settings failed; the retry rebuilds the web view and forces a new settings load. Several surfaces may
// live at once; each fits an area 260 px high. Main thread only.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <memory>
#include <vector>

#include "core/settings/user_defaults.h"
#include "map/map_bridge.h"
#include "map/map_surface_state.h"
#include "map/map_web_view.h"
#include "model/app_model.h"

namespace dorvik {

class TwoGISSurface : public Gtk::Overlay {
 public:
  using InteractionHandler = std::function<void(const MapInteraction&)>;

  // `defaults` gives the user default "extraMotion" (none: true). `page` chooses another page file or browser
  // opener (tests).
  TwoGISSurface(std::shared_ptr<AppModel> model, std::shared_ptr<UserDefaults> defaults, MapContent content = {},
                InteractionHandler onInteraction = {}, MapPageOptions page = {});
  ~TwoGISSurface() override;

  const MapContent& content() const { return content_; }
  void setContent(MapContent content);
  void setPins(std::vector<MapPin> pins);
  void setLines(std::vector<std::vector<MapPoint>> lines);
  void setLineColors(std::vector<std::string> colors);
  void setPolygons(std::vector<std::vector<MapPoint>> polygons);
  void setModes(bool editing, bool drawing, bool transferring);
  void setPlanRevision(std::int64_t revision);
  void setVehicles(std::vector<std::int64_t> vehicles);
  void setOnInteraction(InteractionHandler handler) { onInteraction_ = std::move(handler); }

  // What the surface shows now, and the hosted page (none while the map layer is not the map).
  const MapSurfaceState& state() const { return state_; }
  MapSurfaceState::Look look() const;
  TwoGISWebView* webView() const { return webView_.get(); }

 private:
  MapView describe();
  bool reduceMotion() const;
  // Brings the widgets in line with the state and the model's settings; makes or drops the web view.
  void refresh();
  // The page learns of the current description on the next turn of the loop.
  void schedulePush();
  void loadSettings(bool force);
  void onStatus(const std::string& state);
  void press(const char* kind);
  void retry();

  std::shared_ptr<AppModel> model_;
  std::shared_ptr<UserDefaults> defaults_;
  MapContent content_;
  InteractionHandler onInteraction_;
  MapPageOptions page_;
  MapSurfaceState state_;
  std::string madeFor_;  // the reload identity of the current web view
  std::unique_ptr<TwoGISWebView> webView_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // expires with the surface: deferred work checks it
  bool pushScheduled_ = false;
  bool shown_ = false;

  Gtk::Box mapLayer_;
  Gtk::Box connecting_{Gtk::Orientation::VERTICAL, 12};
  Gtk::Box unavailable_{Gtk::Orientation::VERTICAL, 8};
  Gtk::Label* unavailableText_ = nullptr;
  Gtk::Box loadingCard_{Gtk::Orientation::HORIZONTAL, 10};
  Gtk::Box controls_;
  Gtk::Box panel_{Gtk::Orientation::VERTICAL, 14};
  Gtk::Label* panelText_ = nullptr;
  Gtk::Box* panelFrame_ = nullptr;

  AppModel::Connection modelConnection_;
  std::uint64_t defaultsObserver_ = 0;
  sigc::connection animationsConnection_;
};

}  // namespace dorvik
