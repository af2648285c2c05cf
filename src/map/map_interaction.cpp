// MapInteraction::parse: the rules a page message must meet before it reaches a screen. Members are read
// leniently: texts with string() (a number reads as its text, a missing member as ""), numbers with
// doubleValue() (a numeric text counts), flags with boolValue(), positions with MapPoint::from.
#include <cmath>
#include <set>

#include "map/map_pin.h"

namespace dorvik {

namespace {

const MapPin* firstPin(const std::vector<MapPin>& pins, const std::string& id) {
  for (const MapPin& pin : pins) {
    if (pin.id == id) return &pin;
  }
  return nullptr;
}

std::optional<MapInteraction> parseTransfer(const JSONValue& message, const std::vector<MapPin>& pins,
                                            std::int64_t planRevision, const std::vector<std::int64_t>& vehicles) {
  std::vector<std::string> ids;
  for (const JSONValue& element : message["ids"].array()) ids.push_back(element.string());
  const std::set<std::string> idSet(ids.begin(), ids.end());
  if (ids.empty() || idSet.size() != ids.size()) return std::nullopt;

  const std::optional<double> revision = message["planRevision"].doubleValue();
  if (!revision || *revision != static_cast<double>(planRevision)) return std::nullopt;

  const std::optional<double> vehicle = message["vehicle"].doubleValue();
  if (!vehicle || !std::isfinite(*vehicle) || *vehicle != std::trunc(*vehicle)) return std::nullopt;
  const std::int64_t* target = nullptr;
  for (const std::int64_t& v : vehicles) {
    if (static_cast<double>(v) == *vehicle) {
      target = &v;
      break;
    }
  }
  if (!target) return std::nullopt;

  std::set<std::string> selection;
  for (const MapPin& pin : pins) {
    if (pin.selected && pin.movable) selection.insert(pin.id);
  }
  for (const std::string& id : ids) {
    bool movable = false;
    for (const MapPin& pin : pins) {
      if (pin.id == id && pin.movable) {
        movable = true;
        break;
      }
    }
    if (!movable) return std::nullopt;
  }
  const bool wholeSelection = idSet == selection;
  const bool singleOutside = ids.size() == 1 && !selection.count(ids.front());
  if (!wholeSelection && !singleOutside) return std::nullopt;
  return MapInteraction::transfer(std::move(ids), *target, planRevision);
}

}  // namespace

std::optional<MapInteraction> MapInteraction::parse(const JSONValue& message, const std::vector<MapPin>& pins,
                                                    bool editing, bool drawing, bool transferring,
                                                    std::int64_t planRevision,
                                                    const std::vector<std::int64_t>& vehicles) {
  const std::string type = message["type"].string();
  if (type == "select") {
    const std::string id = message["id"].string();
    if (!firstPin(pins, id)) return std::nullopt;
    return select(id, message["additive"].boolValue());
  }
  if (type == "move") {
    if (!editing) return std::nullopt;
    const MapPin* pin = firstPin(pins, message["id"].string());
    if (!pin || !pin->movable || pin->revision() != message["revision"].string()) return std::nullopt;
    const std::optional<MapPoint> point = MapPoint::from(message);
    if (!point) return std::nullopt;
    return move(pin->id, *point);
  }
  if (type == "transfer") {
    if (!transferring || editing || drawing) return std::nullopt;
    return parseTransfer(message, pins, planRevision, vehicles);
  }
  if (type == "addVertex") {
    if (!drawing) return std::nullopt;
    const std::optional<MapPoint> point = MapPoint::from(message);
    if (!point) return std::nullopt;
    return addVertex(*point);
  }
  return std::nullopt;
}

}  // namespace dorvik
