// The route tools opened from the route detail: the GPS track player, the transfer of points to another route and
// adding a point to the route. Each is a sheet over the window of its anchor, which deletes itself once closed.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <string>
#include <vector>

#include "core/async/task.h"
#include "core/json/json_value.h"
#include "shell/shell_context.h"
#include "shell/sheet.h"

namespace dorvik::monitoring {

// The opener's reload, awaited after a successful write before the sheet closes.
using Refresh = std::function<async::Task<void>()>;

Sheet* openRouteTrack(Gtk::Widget& anchor, const ShellContext& context, std::string routeID);
void openRouteTransfer(Gtk::Widget& anchor, const ShellContext& context, std::string routeID, std::string routeDate,
                       std::vector<JSONValue> points, Refresh refresh);
void openRouteAddPoint(Gtk::Widget& anchor, const ShellContext& context, std::string routeID, Refresh refresh);

}  // namespace dorvik::monitoring
