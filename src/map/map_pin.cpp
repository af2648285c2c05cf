#include "map/map_pin.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "core/cache/sealed_file.h"

namespace dorvik {

std::string coordinateText(double x) {
  if (x == 0) return std::signbit(x) ? "-0.0" : "0.0";
  if (std::isnan(x)) return "nan";
  if (std::isinf(x)) return x < 0 ? "-inf" : "inf";
  // The shortest round-trip digits with their exponent: "-1.2345e+01".
  char buffer[48];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::scientific);
  const std::string_view scientific(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const double magnitude = std::fabs(x);
  if (magnitude < 1e-4 || magnitude > 18014398509481984.0) return std::string(scientific);  // beyond [1e-4, 2^54]

  const std::size_t e = scientific.find('e');
  int exponent = 0;
  std::from_chars(scientific.data() + e + 1 + (scientific[e + 1] == '+' ? 1 : 0), scientific.data() + scientific.size(),
                  exponent);
  std::string digits;
  for (char c : scientific.substr(0, e)) {
    if (c >= '0' && c <= '9') digits += c;
  }
  std::string text = x < 0 ? "-" : "";
  if (exponent < 0) {
    text += "0.";
    text.append(static_cast<std::size_t>(-exponent - 1), '0');
    text += digits;
    return text;
  }
  const auto whole = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= whole) {
    text += digits;
    text.append(whole - digits.size(), '0');
    text += ".0";
  } else {
    text += digits.substr(0, whole);
    text += '.';
    text += digits.substr(whole);
  }
  return text;
}

std::string MapPin::revision() const {
  std::string text;
  text.reserve(id.size() + label.size() + 48);
  text += id;
  text += '|';
  text += label;
  text += '|';
  text += coordinateText(point.lat);
  text += '|';
  text += coordinateText(point.lon);
  return cache::sha256Hex(text);
}

JSONValue MapPin::json() const {
  return JSONValue::object({{"id", id},
                            {"label", label},
                            {"number", number},
                            {"lat", point.lat},
                            {"lon", point.lon},
                            {"movable", movable},
                            {"selected", selected},
                            {"revision", revision()},
                            {"color", color},
                            {"vehicle", vehicle ? JSONValue(*vehicle) : JSONValue()}});
}

JSONValue MapPin::encoded() const {
  JSONValue value = JSONValue::object({{"id", id},
                                       {"label", label},
                                       {"number", number},
                                       {"point", point.toJSON()},
                                       {"movable", movable},
                                       {"selected", selected},
                                       {"color", color}});
  if (vehicle) value.set("vehicle", *vehicle);
  return value;
}

MapPin MapPin::decode(const JSONValue& value) {
  if (!value.isObject()) throw JSONDecodeError("Точка карты должна быть объектом.");
  auto member = [&](const char* key, bool (JSONValue::*is)() const noexcept) -> const JSONValue& {
    const JSONValue& m = value[key];
    if (!(m.*is)())
      throw JSONDecodeError(std::string("Поле «") + key + "» точки карты отсутствует или неверного типа.");
    return m;
  };
  MapPin pin;
  pin.id = member("id", &JSONValue::isString).string();
  pin.label = member("label", &JSONValue::isString).string();
  pin.number = member("number", &JSONValue::isString).string();
  pin.point = MapPoint::decode(value["point"]);
  pin.movable = member("movable", &JSONValue::isBool).boolValue();
  pin.selected = member("selected", &JSONValue::isBool).boolValue();
  pin.color = member("color", &JSONValue::isString).string();
  const JSONValue& vehicle = value["vehicle"];
  if (!vehicle.isNull()) {
    const double number = *member("vehicle", &JSONValue::isNumber).doubleValue();
    if (number != std::trunc(number) || std::fabs(number) > 9007199254740992.0)
      throw JSONDecodeError("Поле «vehicle» точки карты должно быть целым числом.");
    pin.vehicle = static_cast<std::int64_t>(number);
  }
  return pin;
}

}  // namespace dorvik
