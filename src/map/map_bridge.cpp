#include "map/map_bridge.h"

#include <glib.h>

#include <cstring>
#include <utility>

namespace dorvik {

namespace {

void appendFlag(std::string& out, bool flag) { out += flag ? "true" : "false"; }

// A JSON array of the items, each written by `write`.
template <class T, class Write>
void appendList(std::string& out, const std::vector<T>& items, Write write) {
  out += '[';
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += ',';
    write(items[i]);
  }
  out += ']';
}

void appendPoints(std::string& out, const std::vector<std::vector<MapPoint>>& lists) {
  appendList(out, lists, [&](const std::vector<MapPoint>& points) {
    appendList(out, points, [&](const MapPoint& p) {
      out += "{\"lat\":";
      appendJSON(out, p.lat);
      out += ",\"lon\":";
      appendJSON(out, p.lon);
      out += '}';
    });
  });
}

void appendPin(std::string& out, const MapPin& pin) {
  out += "{\"id\":";
  appendJSON(out, pin.id);
  out += ",\"label\":";
  appendJSON(out, pin.label);
  out += ",\"number\":";
  appendJSON(out, pin.number);
  out += ",\"lat\":";
  appendJSON(out, pin.point.lat);
  out += ",\"lon\":";
  appendJSON(out, pin.point.lon);
  out += ",\"movable\":";
  appendFlag(out, pin.movable);
  out += ",\"selected\":";
  appendFlag(out, pin.selected);
  out += ",\"revision\":\"";
  out += pin.revision();
  out += "\",\"color\":";
  appendJSON(out, pin.color);
  out += ",\"vehicle\":";
  if (pin.vehicle) {
    appendJSON(out, static_cast<double>(*pin.vehicle));
  } else {
    out += "null";
  }
  out += '}';
}

// Doubles with the same bits: a pin's coordinates also stand in its revision, where 0.0 and -0.0 differ.
bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool samePins(const std::vector<MapPin>& a, const std::vector<MapPin>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const MapPin& x = a[i];
    const MapPin& y = b[i];
    if (x.id != y.id || x.label != y.label || x.number != y.number || !sameBits(x.point.lat, y.point.lat) ||
        !sameBits(x.point.lon, y.point.lon) || x.movable != y.movable || x.selected != y.selected ||
        x.color != y.color || x.vehicle != y.vehicle)
      return false;
  }
  return true;
}

// The host of an https URL, lower-cased; none for any other URL.
std::optional<std::string> httpsHost(std::string_view url) {
  GUri* uri = g_uri_parse(std::string(url).c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!uri) return std::nullopt;
  std::optional<std::string> host;
  const char* scheme = g_uri_get_scheme(uri);
  const char* name = g_uri_get_host(uri);
  if (scheme && g_ascii_strcasecmp(scheme, "https") == 0 && name && *name) {
    gchar* lower = g_ascii_strdown(name, -1);
    host = lower;
    g_free(lower);
  }
  g_uri_unref(uri);
  return host;
}

// The canonical file name of a file URL; none for other URLs and for file URLs with a fragment or a host.
std::optional<std::string> fileOf(std::string_view url) {
  gchar* hostname = nullptr;
  gchar* filename = g_filename_from_uri(std::string(url).c_str(), &hostname, nullptr);
  if (!filename) return std::nullopt;
  std::optional<std::string> result;
  if (!hostname || !*hostname || g_strcmp0(hostname, "localhost") == 0) {
    gchar* canonical = g_canonicalize_filename(filename, nullptr);
    result = canonical;
    g_free(canonical);
  }
  g_free(filename);
  g_free(hostname);
  return result;
}

}  // namespace

std::string upperCased(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string payloadText(const MapView& view) {
  std::string out;
  writePayload(out, view);
  return out;
}

void writePayload(std::string& out, const MapView& view) {
  const MapContent& c = view.content;
  // Reserved once: a day of 5,000 pins writes more than a megabyte.
  std::size_t size = 512;
  for (const MapPin& pin : c.pins)
    size += 260 + pin.id.size() + pin.label.size() + pin.number.size() + pin.color.size();
  for (const auto& line : c.lines) size += 2 + line.size() * 48;
  for (const auto& polygon : c.polygons) size += 2 + polygon.size() * 48;
  out.clear();
  out.reserve(size);
  out += "{\"key\":";
  out += view.configuration["key"].data();
  out += ",\"style\":";
  out += view.configuration["styleId"].data();
  out += ",\"generation\":";
  appendJSON(out, upperCased(view.generation));
  out += ",\"pins\":";
  appendList(out, c.pins, [&](const MapPin& pin) { appendPin(out, pin); });
  out += ",\"lines\":";
  appendPoints(out, c.lines);
  out += ",\"lineColors\":";
  appendList(out, c.lineColors, [&](const std::string& color) { appendJSON(out, color); });
  out += ",\"polygons\":";
  appendPoints(out, c.polygons);
  out += ",\"editing\":";
  appendFlag(out, c.editing);
  out += ",\"drawing\":";
  appendFlag(out, c.drawing);
  out += ",\"reduceMotion\":";
  appendFlag(out, view.reduceMotion);
  out += ",\"command\":";
  out += view.command.data();
  out += ",\"transferring\":";
  appendFlag(out, c.transferring);
  out += ",\"planRevision\":";
  appendJSON(out, static_cast<double>(c.planRevision));
  out += ",\"vehicles\":";
  appendList(out, c.vehicles, [&](std::int64_t vehicle) { appendJSON(out, static_cast<double>(vehicle)); });
  out += '}';
}

MapBridge::Sent MapBridge::Sent::of(const MapView& view) {
  return Sent{view.configuration["key"],   view.configuration["styleId"],
              upperCased(view.generation), view.content,
              view.reduceMotion,           view.command};
}

bool MapBridge::Sent::matches(const MapView& view) const {
  // The payload built from `view` would be structurally equal to the one sent: each member compared as its JSON
  // form compares (pins to the bit, since their coordinates also make their revision).
  const MapContent& c = view.content;
  return generation == upperCased(view.generation) && key == view.configuration["key"] &&
         style == view.configuration["styleId"] && reduceMotion == view.reduceMotion && command == view.command &&
         samePins(content.pins, c.pins) && content.lines == c.lines && content.lineColors == c.lineColors &&
         content.polygons == c.polygons && content.editing == c.editing && content.drawing == c.drawing &&
         content.transferring == c.transferring && content.planRevision == c.planRevision &&
         content.vehicles == c.vehicles;
}

const std::vector<std::string>& mapVendorDomains() {
  static const std::vector<std::string> domains = {"2gis.com", "2gis.ru"};
  return domains;
}

bool sameFileURL(std::string_view a, std::string_view b) {
  const auto first = fileOf(a);
  if (!first) return false;
  const auto second = fileOf(b);
  return second && *first == *second;
}

NavigationDecision decideNavigation(std::string_view url, bool mainFrame, bool linkActivated, std::string_view pageURL,
                                    const std::vector<std::string>& vendorDomains) {
  if (linkActivated) {
    if (const auto host = httpsHost(url)) {
      for (const std::string& domain : vendorDomains) {
        if (*host == domain || (host->size() > domain.size() && host->ends_with(domain) &&
                                (*host)[host->size() - domain.size() - 1] == '.')) {
          return NavigationDecision::openExternally;
        }
      }
    }
  }
  if (mainFrame && sameFileURL(url, pageURL)) return NavigationDecision::allow;
  return NavigationDecision::cancel;
}

// The coordinator ---------------------------------------------------------------------------------------------

void MapBridge::update(MapView view) {
  setParent(std::move(view));
  sendLatest();
}

void MapBridge::sendLatest() {
  if (!loaded_ || stopped_ || !sender_) return;
  if (last_ && last_->matches(parent_)) return;
  try {
    writePayload(buffer_, parent_);
  } catch (const JSONEncodeError&) {
    return;  // not remembered: the next update tries again
  }
  last_ = Sent::of(parent_);
  sender_(buffer_);
}

void MapBridge::loadStarted() { failed_ = false; }

void MapBridge::loadFinished() {
  if (failed_ || stopped_) return;
  loaded_ = true;
  sendLatest();
}

void MapBridge::loadFailed(bool stoppedByPolicy) {
  if (stoppedByPolicy || stopped_) return;
  failed_ = true;
  status("error");
}

void MapBridge::processEnded() {
  loaded_ = false;
  if (!stopped_) status("error");
}

void MapBridge::callFailed() {
  if (!stopped_) status("error");
}

void MapBridge::stop() { stopped_ = true; }

void MapBridge::status(const std::string& state) {
  if (parent_.onStatus) parent_.onStatus(state);
}

MapBridge::Outcome MapBridge::receive(const PageMessage& message) {
  if (stopped_ || !message.fromPage || !message.objectOrArray) return Outcome::dropped;
  if (!message.json || message.json->size() >= kMessageLimit) return Outcome::dropped;
  JSONValue body;
  try {
    body = JSONValue::decode(*message.json);
  } catch (const JSONDecodeError&) {
    return Outcome::dropped;
  }
  const std::string generation = body["generation"].string();
  if (generation.empty() || generation != upperCased(parent_.generation)) return Outcome::dropped;
  if (body["type"].string() == "status") {
    const std::string state = body["state"].string();
    if (state == "ready" || state == "loading" || state == "error") {
      status(state);
      return Outcome::status;
    }
  }
  const MapContent& c = parent_.content;
  std::optional<MapInteraction> interaction =
      MapInteraction::parse(body, c.pins, c.editing, c.drawing, c.transferring, c.planRevision, c.vehicles);
  if (!interaction) return Outcome::dropped;
  if (parent_.onInteraction) parent_.onInteraction(*interaction);
  return Outcome::interaction;
}

}  // namespace dorvik
