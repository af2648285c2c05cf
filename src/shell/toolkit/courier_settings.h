// Decisions of the courier application settings page (the depot's photo-proof setting).
#pragma once

#include <string>

#include "core/json/json_value.h"

namespace dorvik::CourierSettings {

// "/depots/<depotId>/settings" with the id through the one id encoder; empty when the user has no working depot.
std::string path(const JSONValue& user);
bool hasDepot(const JSONValue& user);
// The depot's setting belongs to its administrators: the server refuses the change from a logist.
bool mayChange(const JSONValue& user);
// The toggle: a loaded document, nothing in flight, the server writable, a user who may change it.
bool canToggle(const JSONValue& loaded, bool loading, bool saving, bool canWriteServer, const JSONValue& user);
// "Сохранить настройку": as the toggle, a running load aside, and only when the edit differs from the server.
bool canSave(const JSONValue& loaded, bool saving, bool canWriteServer, const JSONValue& user, bool photoProof);
// "Обновить".
bool canRefresh(const JSONValue& user, bool loading);
// The write body: {"photoProof": on}.
JSONValue body(bool photoProof);

}  // namespace dorvik::CourierSettings
