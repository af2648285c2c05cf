// The bridge between a map surface and its page, without the web view: the payload pushed into the page, the
// guards every page message passes, and the navigation rule. The WebKit layer (map_web_view.h) feeds it the web
// view's events; tests feed it directly.
//
// Outward: the whole state of the map goes to "window.DorvikMap.update(payload)" as one JSON object whenever it
// differs from the last one handed over, and only once the page has finished loading.
// Inward: the page posts objects to the handler "dorvikMap"; each carries the generation of the last payload and a
// type ("status", "select", "move", "transfer", "addVertex"). Anything that is not from the page, too large,
// malformed, of another workspace or not allowed in the current modes is dropped silently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json/json_value.h"
#include "map/map_pin.h"

namespace dorvik {

// What a screen asks the map to show, and which interactions it accepts.
struct MapContent {
  std::vector<MapPin> pins;
  std::vector<std::vector<MapPoint>> lines;     // route polylines
  std::vector<std::string> lineColors;          // by line index; empty lets the page choose
  std::vector<std::vector<MapPoint>> polygons;  // zones
  bool editing = false;                         // movable pins may be dragged (move)
  bool drawing = false;                         // clicks add polygon vertices (addVertex)
  bool transferring = false;                    // pins may be handed to another vehicle (transfer)
  std::int64_t planRevision = 0;
  std::vector<std::int64_t> vehicles;  // vehicle indexes a transfer may target

  friend bool operator==(const MapContent&, const MapContent&) = default;
};

// One description of the hosted page: the screen's content plus what the surface adds.
struct MapView {
  JSONValue configuration;  // the web map's settings: "key" and "styleId"
  std::string generation;   // the workspace generation (any case; the page receives it upper-case)
  MapContent content;
  bool reduceMotion = false;
  JSONValue command;  // null, or {id, kind} of the last zoom/fit button press
  std::function<void(const MapInteraction&)> onInteraction;
  std::function<void(const std::string& state)> onStatus;  // "ready", "loading", "error"
};

// The payload handed to the page as JSON text: the 14 members key, style, generation, pins, lines, lineColors,
// polygons, editing, drawing, reduceMotion, command, transferring, planRevision, vehicles, in this order, each
// pin as MapPin::json() with its members in the order documented there. Throws JSONEncodeError for a number that
// is not finite.
std::string payloadText(const MapView& view);
// The same into `out` (replacing its content, keeping its buffer).
void writePayload(std::string& out, const MapView& view);

// A text with its ASCII letters upper-cased (UUIDs travel upper-case to the page).
std::string upperCased(std::string_view text);

// Inbound messages must serialise to fewer bytes than this.
inline constexpr std::size_t kMessageLimit = 8192;

// A page message as the web view saw it.
struct PageMessage {
  bool fromPage = true;             // the view still shows the page's own file URL
  bool objectOrArray = true;        // the body is a JSON object or array
  std::optional<std::string> json;  // the body serialised compactly; none when that failed
};

// Where a navigation may go: stay (the page itself), nowhere, or to the desktop's browser.
enum class NavigationDecision { allow, cancel, openExternally };

// The map vendor's web domains; https links to them or their subdomains open in the browser.
const std::vector<std::string>& mapVendorDomains();

// The rule for every navigation: an activated https link to a vendor domain (or a subdomain) opens in the
// browser; otherwise only a main-frame navigation to the page's own file URL (compared as files, no query or
// fragment) is allowed; everything else is cancelled.
NavigationDecision decideNavigation(std::string_view url, bool mainFrame, bool linkActivated, std::string_view pageURL,
                                    const std::vector<std::string>& vendorDomains = mapVendorDomains());
// Two file URLs naming the same file (standardised: percent escapes, "." and ".." resolved); false for any other
// URL, or one with a fragment.
bool sameFileURL(std::string_view a, std::string_view b);

// The bridge state behind one web view: the latest description, whether the page has loaded, whether the view is
// gone, and the last payload handed over. Main thread only.
class MapBridge {
 public:
  // Hands one payload text to the page.
  using Sender = std::function<void(const std::string& payloadText)>;

  explicit MapBridge(MapView parent) : parent_(std::move(parent)) {}

  void setSender(Sender sender) { sender_ = std::move(sender); }
  const MapView& parent() const { return parent_; }
  // Replaces the description; the page learns of it with the next sendLatest().
  void setParent(MapView view) { parent_ = std::move(view); }
  // setParent, then sendLatest.
  void update(MapView view);
  // Hands the current payload to the page when it has loaded, the view is not gone, and the payload differs
  // (as JSON) from the last one handed over. A payload that cannot be written as JSON is neither sent nor
  // remembered.
  void sendLatest();

  // Web view events.
  void loadStarted();   // a new load: an earlier failure no longer counts
  void loadFinished();  // counts as loaded unless this load failed
  // A failed load reports "error", except a navigation our own policy stopped.
  void loadFailed(bool stoppedByPolicy);
  void processEnded();  // the page's process is gone: nothing more is sent, "error"
  void callFailed();    // the page's update call failed: "error" unless the view is gone
  void stop();          // the view is dismantled: nothing more is sent or delivered

  enum class Outcome { dropped, status, interaction };
  // Runs the guards over one message, in order, and delivers a status or an interaction to the parent's
  // callbacks. The first failed guard drops the message without a word.
  Outcome receive(const PageMessage& message);

  bool loaded() const { return loaded_; }
  bool stopped() const { return stopped_; }

 private:
  // What the last payload was built from.
  struct Sent {
    JSONValue key, style;
    std::string generation;
    MapContent content;
    bool reduceMotion = false;
    JSONValue command;
    static Sent of(const MapView& view);
    // The payload of `view` would equal the one sent.
    bool matches(const MapView& view) const;
  };

  void status(const std::string& state);

  MapView parent_;
  Sender sender_;
  bool loaded_ = false;
  bool stopped_ = false;
  bool failed_ = false;  // the current load failed: a "finished" after it does not count
  std::optional<Sent> last_;
  std::string buffer_;  // the payload text, its memory kept from one payload to the next
};

}  // namespace dorvik
