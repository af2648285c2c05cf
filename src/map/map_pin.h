// The two values that cross the map surface: a pin a screen wants drawn, and what the user did on the map.
// Plain values over JSONValue; no widget or web view here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/base/map_point.h"
#include "core/json/json_value.h"

namespace dorvik {

// One marker on the map.
struct MapPin {
  MapPin() = default;
  // A pin from its identity, caption, number and position; the other fields take their defaults.
  MapPin(std::string id, std::string label, std::string number, MapPoint point)
      : id(std::move(id)), label(std::move(label)), number(std::move(number)), point(point) {}

  std::string id;      // messages from the page name pins by it (with duplicates, the first one counts)
  std::string label;   // caption
  std::string number;  // short text drawn on the pin (a route stop's number)
  MapPoint point;
  bool movable = false;   // may be dragged while editing, and may take part in a transfer
  bool selected = false;  // drawn as selected; selected movable pins are the selection a transfer must match
  std::string color = "#2d3e46";
  std::optional<std::int64_t> vehicle;  // the route (vehicle index) the pin belongs to

  // The content fingerprint the page echoes back with a drag: lowercase hex SHA-256 of
  // "id|label|<lat text>|<lon text>" (see coordinateText). Number, colour, flags and vehicle take no part.
  std::string revision() const;
  // The pin as the page receives it: {id, label, number, lat, lon, movable, selected, revision, color,
  // vehicle (number or null)}.
  JSONValue json() const;

  // The keyed stored form: {id, label, number, point: {lat, lon}, movable, selected, color[, vehicle]}; vehicle
  // only when present, no revision.
  JSONValue encoded() const;
  // Reads the stored form: a missing or null vehicle is none; every other member is required with its type.
  // Throws JSONDecodeError.
  static MapPin decode(const JSONValue& value);

  // All eight fields; coordinates by IEEE comparison (0.0 == -0.0, NaN never equal).
  friend bool operator==(const MapPin& a, const MapPin& b) = default;
};

// The text of a coordinate inside a pin's revision: the shortest digits that read back as the same double, laid
// out plain with at least one fraction digit for 1e-4 <= |x| <= 2^54 ("55.0", "0.0001", "-12.5"), in exponent
// form otherwise ("5e-05", "1.5e-05", "1e+20"); zero "0.0", negative zero "-0.0".
std::string coordinateText(double x);

// What the user did on the map, already validated against the pins and modes of the surface.
struct MapInteraction {
  struct Select {
    std::string id;
    bool additive = false;  // extend the selection instead of replacing it
    friend bool operator==(const Select&, const Select&) = default;
  };
  struct Move {
    std::string id;
    MapPoint point;
    friend bool operator==(const Move&, const Move&) = default;
  };
  struct AddVertex {
    MapPoint point;
    friend bool operator==(const AddVertex&, const AddVertex&) = default;
  };
  struct Transfer {
    std::vector<std::string> ids;  // in the page's order
    std::int64_t vehicle = 0;      // target vehicle index
    std::int64_t revision = 0;     // the plan revision the surface was showing
    friend bool operator==(const Transfer&, const Transfer&) = default;
  };
  std::variant<Select, Move, AddVertex, Transfer> value;

  static MapInteraction select(std::string id, bool additive) { return {Select{std::move(id), additive}}; }
  static MapInteraction move(std::string id, MapPoint point) { return {Move{std::move(id), point}}; }
  static MapInteraction addVertex(MapPoint point) { return {AddVertex{point}}; }
  static MapInteraction transfer(std::vector<std::string> ids, std::int64_t vehicle, std::int64_t revision) {
    return {Transfer{std::move(ids), vehicle, revision}};
  }

  template <class Case>
  const Case* as() const {
    return std::get_if<Case>(&value);
  }

  // The interaction a decoded page message asks for under the surface's pins and modes, or none (see
  // map_interaction.cpp for the rules of each message type).
  static std::optional<MapInteraction> parse(const JSONValue& message, const std::vector<MapPin>& pins, bool editing,
                                             bool drawing, bool transferring, std::int64_t planRevision,
                                             const std::vector<std::int64_t>& vehicles);

  friend bool operator==(const MapInteraction&, const MapInteraction&) = default;
};

}  // namespace dorvik
