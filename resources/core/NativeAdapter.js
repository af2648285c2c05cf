// NativeAdapter: the single entry point `Native.run(text)`. It reads {"action", "payload"}, hands the payload to
// the component that owns the action and returns the result as JSON text. Every exception that leaves `run` is a
// non-empty plain string holding the Russian message.
(function () {
  "use strict";

  const ADDRESS_ACTIONS = ["addressIdentity", "addressStorageKey", "catalogKey", "catalogMatch", "addressIndex"];

  function messageOf(error, action) {
    const P = globalThis.NativePrelude;
    if (P && error instanceof P.UserError && error.message) return error.message;
    if (typeof error === "string" && error !== "") return error;
    const detail = error && typeof error === "object" && "message" in error ? String(error.message) : String(error);
    return "Ошибка расчёта (" + action + "): " + (detail || "неизвестная ошибка");
  }

  function dispatch(action, payload) {
    if (ADDRESS_ACTIONS.indexOf(action) >= 0) {
      const G = globalThis.GeocodingCore;
      if (!G || typeof G[action] !== "function") {
        // The index must never fail a workspace entry: without the address component it is simply empty.
        if (action === "addressIndex") return {};
        throw "Компонент адресов не загружен: действие «" + action + "» недоступно.";
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
    const P = globalThis.PlannerCore;
    if (!P || !P.actions || !Object.prototype.hasOwnProperty.call(P.actions, action)) {
      throw "Неизвестное действие: " + action + ".";
    }
    return P.actions[action](payload);
  }

  function run(text) {
    let action = "";
    try {
      let request;
      try {
        request = JSON.parse(String(text));
      } catch (e) {
        throw "Некорректный запрос к расчёту.";
      }
      if (request === null || typeof request !== "object") throw "Некорректный запрос к расчёту.";
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
