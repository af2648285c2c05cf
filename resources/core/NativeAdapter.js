// NativeAdapter: the single entry point `Native.run(text)`. It reads {"action", "payload"}, hands the payload to
// the component that owns the action and returns the result as JSON text.
//
// Inside the components a refusal meant for the user is one type only, `NativePrelude.UserError` (thrown by
// `NativePrelude.fail`). Anything else that reaches this point is a fault of a component, and its text is shown
// with the action's name. Every exception that leaves `run` is a non-empty plain string: the Russian message.
(function () {
  "use strict";

  const P = globalThis.NativePrelude;
  const ADDRESS_ACTIONS = ["addressIdentity", "addressStorageKey", "catalogKey", "catalogMatch", "addressIndex"];

  function messageOf(error, action) {
    if (error instanceof P.UserError && error.message) return error.message;
    const detail = error && typeof error === "object" && "message" in error ? String(error.message) : String(error);
    return "Ошибка расчёта (" + action + "): " + (detail || "неизвестная ошибка");
  }

  function dispatch(action, payload) {
    if (ADDRESS_ACTIONS.indexOf(action) >= 0) {
      const G = globalThis.GeocodingCore;
      if (!G || typeof G[action] !== "function") {
        // The index must never fail a workspace entry: without the address component it is simply empty.
        if (action === "addressIndex") return {};
        P.fail("Компонент адресов не загружен: действие «" + action + "» недоступно.");
      }
      if (action === "addressIndex") {
        try {
          const index = G.addressIndex(payload);
          return index !== null && typeof index === "object" && !Array.isArray(index) ? index : {};
        } catch (e) {
          return {};
        }
      }
      return G[action](payload);
    }
    const planner = globalThis.PlannerCore;
    if (!planner || !planner.actions || !Object.prototype.hasOwnProperty.call(planner.actions, action)) {
      P.fail("Неизвестное действие: " + action + ".");
    }
    return planner.actions[action](payload);
  }

  function run(text) {
    let action = "";
    try {
      let request;
      try {
        request = JSON.parse(String(text));
      } catch (e) {
        P.fail("Некорректный запрос к расчёту.");
      }
      if (request === null || typeof request !== "object") P.fail("Некорректный запрос к расчёту.");
      action = typeof request.action === "string" ? request.action : String(request.action);
      let payload = request.payload;
      if (payload === null || typeof payload !== "object" || Array.isArray(payload)) payload = {};
      const result = dispatch(action, payload);
      // Results hold finite numbers only: the components build every number they return from finite inputs
      // (a walk over a 5,000-order plan to check it again would cost a good part of the time budget).
      return JSON.stringify(result === undefined ? {} : result);
    } catch (error) {
      throw messageOf(error, action);
    }
  }

  globalThis.Native = Object.freeze({ run: run });
})();
