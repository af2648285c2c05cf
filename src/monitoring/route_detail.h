// The route detail sheet of one published route: its points in driving order with their orders, a numbered pin per
// point, and the route's operations (another courier, new arrival times, the order of the points, finishing), the
// photos, and the route tools (adding a point, transferring points, the GPS track). Every successful write reloads
// the whole route from the server.
#pragma once

#include <gtkmm.h>

#include <set>
#include <string>

#include "shell/shell_context.h"
#include "shell/sheet.h"

namespace dorvik::monitoring {

// Opens the sheet over the window of `anchor` for the route `routeID` ("routeId" of a monitoring or report row) of
// the day `routeDate` ("yyyy-MM-dd"); returns the sheet, which deletes itself once closed.
Sheet* openRouteDetail(Gtk::Widget& anchor, const ShellContext& context, std::string routeID, std::string routeDate);

// What a drag of rows does in the sheet `window`: the rows at `positions` go before the row `destination` (counted
// before the move), locally. False when the window holds no route detail.
bool dropRows(Gtk::Window& window, const std::set<std::size_t>& positions, std::size_t destination);

}  // namespace dorvik::monitoring
