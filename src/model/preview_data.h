// PreviewData: the demo workspace's stand-in for the server. Every GET path a screen sends in the demo is answered
// here, from two fixed samples (a courier and a route) and from the orders of the current planning document.
// Nothing is stored or sent; every answer is a fresh value.
#pragma once

#include <string_view>

#include "core/json/json_value.h"

namespace dorvik {

class PreviewData {
 public:
  PreviewData() = delete;

  // The sample courier and the sample route (built once, never changed).
  static const JSONValue& courier();
  static const JSONValue& route();

  // The demo answer for a GET path (possibly with a query; percent-encoded segments are decoded before matching).
  // Throws DorvikError "Для этого раздела в примере нет данных." for a path the demo has no data for.
  static JSONValue response(std::string_view path, const JSONValue& planner);
};

}  // namespace dorvik
