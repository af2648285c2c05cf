#include "core/base/map_point.h"

#include <cmath>

namespace dorvik {

std::optional<MapPoint> MapPoint::from(const JSONValue& value) {
  // A coordinates object of its own is read in one walk over its few members; a larger one (an order) by lookup.
  const JSONValue* latitude = nullptr;
  const JSONValue* longitude = nullptr;
  if (value.size() <= 4) {
    for (const auto& [name, member] : value.object()) {
      const std::string_view key = name;
      if (key == "lat") latitude = &member;
      if (key == "lon") longitude = &member;
    }
    if (!latitude || !longitude) return std::nullopt;
  } else {
    latitude = &value["lat"];
    longitude = &value["lon"];
  }
  const std::optional<double> lat = latitude->doubleValue();
  const std::optional<double> lon = longitude->doubleValue();
  if (!lat || !lon) return std::nullopt;
  if (!std::isfinite(*lat) || !std::isfinite(*lon)) return std::nullopt;
  if (std::fabs(*lat) > 90 || std::fabs(*lon) > 180) return std::nullopt;
  return MapPoint{*lat, *lon};
}

MapPoint MapPoint::decode(const JSONValue& value) {
  if (!value.isObject()) throw JSONDecodeError("Координаты должны быть объектом с полями «lat» и «lon».");
  auto coordinate = [&](const char* key) {
    const JSONValue& member = value[key];
    if (!member.isNumber()) {
      throw JSONDecodeError(std::string("Координата «") + key + "» отсутствует или не является числом.");
    }
    return *member.doubleValue();
  };
  const double lat = coordinate("lat");
  const double lon = coordinate("lon");
  return MapPoint{lat, lon};
}

JSONValue MapPoint::toJSON() const { return JSONValue::object({{"lat", lat}, {"lon", lon}}); }

}  // namespace dorvik
