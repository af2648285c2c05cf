// Decisions of the courier application settings page (the depot's photo-proof setting).
#pragma once

#include <string>

#include "core/json/json_value.h"

namespace dorvik::CourierSettings {

// "/depots/<depotId>/settings" with the id percent-encoded; empty when the user has no working depot.
std::string path(const JSONValue& user);
bool hasDepot(const JSONValue& user);
// The toggle: a loaded document, nothing in flight, the server writable.
bool canToggle(const JSONValue& loaded, bool loading, bool saving, bool canWriteServer);
// "Сохранить настройку": as the toggle, a running load aside, and only when the edit differs from the server.
bool canSave(const JSONValue& loaded, bool saving, bool canWriteServer, bool photoProof);
// "Обновить".
bool canRefresh(const JSONValue& user, bool loading);
// The write body: {"photoProof": on}.
JSONValue body(bool photoProof);

}  // namespace dorvik::CourierSettings
