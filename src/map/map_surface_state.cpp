#include "map/map_surface_state.h"

#include "map/map_bridge.h"
#include "model/app_model.h"

namespace dorvik {

std::string MapSurfaceState::newID() { return upperCased(randomUUID()); }

std::string MapSurfaceState::key(const JSONValue& configuration) { return configuration["key"].string(); }

MapSurfaceState::Look MapSurfaceState::look(const MapSettings& settings) const {
  Look look;
  if (!key(settings.configuration).empty()) {
    look.layer = Layer::map;
    look.controls = ready_;
    look.loadingCard = !ready_ && !issue_;
  } else if (settings.configuration.isNull() && !settings.issue) {
    look.layer = Layer::connecting;
  } else {
    look.layer = Layer::unavailable;
    look.unavailableText = settings.preview ? kMapPreviewText : settings.issue ? *settings.issue : kMapNoKeyText;
  }
  look.panel = issue_ ? issue_ : settings.issue;
  return look;
}

void MapSurfaceState::onStatus(std::string_view state) {
  if (state == "ready") {
    ready_ = true;
    issue_.reset();
  } else if (state == "loading") {
    ready_ = false;
    issue_.reset();
  } else if (state == "error") {
    ready_ = false;
    issue_ = kMapPageFailed;
  }
}

void MapSurfaceState::send(std::string_view kind) { command_ = JSONValue::object({{"id", newID()}, {"kind", kind}}); }

void MapSurfaceState::retry() {
  issue_.reset();
  ready_ = false;
  reloadID_ = newID();
}

}  // namespace dorvik
