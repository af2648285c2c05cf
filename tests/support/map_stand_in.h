// A stand-in of the 2GIS map library for map pages under test (never shipped): the library as the page sees it,
// recording what the page asks of it in window.__stub; the map loads at once, and a screen point (x, y) unprojects
// to (37 + x/1000, 55 - y/1000).
#pragma once

#include <webkit/webkit.h>

#include <chrono>
#include <string>
#include <utility>

#include "support/async_helpers.h"

namespace dorvik::testing {

extern const char* const kMapLibraryStandIn;

// Runs a script in a page and answers its result as text ("error: …" when it fails, "" when it never answers).
// Header-only, so that only the suites that show web views need WebKit.
inline std::string evaluateInPage(WebKitWebView* view, const std::string& script,
                                  std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  std::pair<bool, std::string> result;  // answered, the text
  auto answer = [](GObject* source, GAsyncResult* res, gpointer data) {
    auto* out = static_cast<std::pair<bool, std::string>*>(data);
    GError* error = nullptr;
    if (JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, &error)) {
      g_autofree char* text = jsc_value_to_string(value);
      out->second = text ? text : "";
      g_object_unref(value);
    } else {
      out->second = std::string("error: ") + (error ? error->message : "");
      g_clear_error(&error);
    }
    out->first = true;
  };
  webkit_web_view_evaluate_javascript(view, script.c_str(), -1, nullptr, nullptr, nullptr, answer, &result);
  spinUntil([&] { return result.first; }, timeout);
  return result.second;
}

}  // namespace dorvik::testing
