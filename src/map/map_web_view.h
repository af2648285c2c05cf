// TwoGISWebView: one WebKitGTK web view hosting the map page "Map.html", with its coordinator (a MapBridge).
//
//  - Nothing outlives the view: the web view runs in an ephemeral network session.
//  - The page's messages arrive through the script message handler "dorvikMap". A WebKitGTK script message does
//    not say which frame sent it, so a message counts as the page's own while the view still shows the page's
//    file URL; the navigation policy keeps every other document out of the view.
//  - Navigation: only the page itself loads; an https link to the map vendor's sites opens in the desktop's
//    browser; new windows, frames and every other link are refused.
//  - A missing page file, a failed load, a failed page call and the end of the page's process report "error".
//  - From the keyboard the map is one stop of its window's Tab order: Tab and Shift+Tab go on to the window's next
//    or previous control (the page keeps arrows and plain keys), and keys with Ctrl or Alt reach the window's
//    shortcuts first.
//
// Replacing the map (a retry) means destroying this object and making a new one. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "map/map_bridge.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;

namespace dorvik {

struct MapPageOptions {
  // The page file; empty for the application bundle's "Resources/Map/Map.html".
  std::string pagePath;
  // Opens a vendor link; empty for the desktop's browser.
  std::function<void(const std::string& uri)> openExternally;
  // Scripts run at the start of each page load before the page's own (tests put stand-ins here).
  std::vector<std::string> userScripts;
};

// The application bundle's map page ("Dorvik_DorvikApp.bundle/Resources/Map/Map.html" beside the executable, or
// in the build tree); empty when there is none.
std::string mapPagePath();

// A script every map page of the process runs at the start of each load, before the options' own and the page's
// (a test puts its stand-in of the map library here for windows that make their maps themselves). Main thread only.
void addMapPageScript(std::string source);

class TwoGISWebView {
 public:
  TwoGISWebView(MapView view, MapPageOptions options = {});
  ~TwoGISWebView();  // dismantles: nothing more is sent or delivered
  TwoGISWebView(const TwoGISWebView&) = delete;
  TwoGISWebView& operator=(const TwoGISWebView&) = delete;

  // The web view widget, to be placed in a container (the container does not own it).
  GtkWidget* widget() const;
  WebKitWebView* webView() const;
  // The page's file URL (empty when the page file is missing).
  const std::string& pageURI() const;

  // A new description: the page receives its payload when it differs from the last one handed over.
  void update(MapView view);
  // A new description without sending; sendLatest() sends.
  void setParent(MapView view);
  void sendLatest();
  const MapBridge& bridge() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace dorvik
