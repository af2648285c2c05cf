// Decisions of the workspace settings page: the planning parameters form and what its buttons may do.
#pragma once

#include <string>
#include <vector>

#include "core/json/json_value.h"
#include "shell/toolkit/form.h"

namespace dorvik::WorkspaceSettings {

// The four planning parameters, in form order.
const std::vector<FieldSpec>& planningFields();

// The parameter object to hand to the planner's "config" action: the four keys as numbers within their ranges.
// Throws DorvikError: the form's messages for empty or non-numeric entries, one range message otherwise.
JSONValue checked(const JSONValue& config);

// "Переключить склад": a depot chosen, not the current one, nothing blocking, and the server writable.
bool canSwitchDepot(const std::string& chosen, const JSONValue& user, bool busy, bool geocoding, bool canWriteServer);
// "Обновить справочники".
bool canRefreshReferenceData(bool preview, bool busy);
// "Применить к планированию".
bool canApply(bool busy, bool geocoding);

// The build text: the build number when the program carries one, otherwise "Разработка".
std::string buildText();

}  // namespace dorvik::WorkspaceSettings
