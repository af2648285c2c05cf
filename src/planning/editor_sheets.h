// The vehicle editor as a sheet of its own, for the screens outside the planner (the transport page).
#pragma once

#include <gtkmm.h>

#include <cstdint>
#include <memory>

#include "core/json/json_value.h"
#include "model/app_model.h"
#include "shell/sheet.h"

namespace dorvik::planning {

// The vehicle editor for the vehicle at `index` of the plan, or for a new one (null and -1).
Sheet* openVehicleSheet(Gtk::Widget& anchor, const std::shared_ptr<AppModel>& model, const JSONValue& vehicle,
                        std::int64_t index);

}  // namespace dorvik::planning
