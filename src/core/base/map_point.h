// A coordinate pair (latitude, longitude in degrees) as every map receives it for a pin or a vertex.
#pragma once

#include <optional>

#include "core/json/json_value.h"

namespace dorvik {

struct MapPoint {
  double lat = 0;
  double lon = 0;

  // The point of an object's "lat" and "lon" members, read leniently (numbers, or texts with a decimal point
  // or comma); none when either is missing or unreadable, not finite, or out of range (|lat| <= 90,
  // |lon| <= 180, bounds included). (0, 0) is a point.
  static std::optional<MapPoint> from(const JSONValue& value);

  // Strict reading of the stored form {"lat": number, "lon": number}: throws JSONDecodeError when the value is
  // not an object or either member is missing or not a number. The range is not checked.
  static MapPoint decode(const JSONValue& value);

  // {"lat": lat, "lon": lon}.
  JSONValue toJSON() const;

  friend bool operator==(const MapPoint& a, const MapPoint& b) = default;  // IEEE comparison of both fields
};

}  // namespace dorvik
