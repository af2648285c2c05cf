// A stand-in of the 2GIS map library for map pages under test (never shipped): the library as the page sees it,
// recording what the page asks of it in window.__stub; the map loads at once, and a screen point (x, y) unprojects
// to (37 + x/1000, 55 - y/1000).
#pragma once

namespace dorvik::testing {

extern const char* const kMapLibraryStandIn;

}  // namespace dorvik::testing
