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

  // A request may hold a very long text as a member of its payload (the Base64 of a workbook, tens of megabytes).
  // JSON.parse would copy it; it is taken as a part of the request text instead, which the engine holds anyway
  // while the action runs. Only plain literals (no escapes) are taken so: their text is their value. Anything
  // unexpected leaves the request to JSON.parse whole.
  const LONG_TEXT = 1 << 20;
  function parseRequest(text) {
    if (text.length < LONG_TEXT) return JSON.parse(text);
    const mark = "\u0000" + P.token() + ":";
    const parts = [], long = [];
    let from = 0;
    for (let i = text.indexOf("\"", 0); i >= 0; i = text.indexOf("\"", i + 1)) {
      // i opens a literal; its end is the next quote not escaped by an odd run of backslashes.
      let end = text.indexOf("\"", i + 1);
      for (;;) {
        if (end < 0) return JSON.parse(text);  // not JSON: the parser says so
        let slashes = 0;
        while (text.charCodeAt(end - 1 - slashes) === 92) slashes++;
        if (slashes % 2 === 0) break;
        end = text.indexOf("\"", end + 1);
      }
      if (end - i - 1 >= LONG_TEXT && text.lastIndexOf("\\", end) < i) {
        parts.push(text.slice(from, i + 1), JSON.stringify(mark + long.length).slice(1, -1));
        long.push(text.slice(i + 1, end));
        from = end;
      }
      i = end;
    }
    if (!long.length) return JSON.parse(text);
    parts.push(text.slice(from));
    const request = JSON.parse(parts.join(""));
    const payload = request !== null && typeof request === "object" ? request.payload : null;
    let placed = 0;
    if (payload !== null && typeof payload === "object" && !Array.isArray(payload)) {
      for (const key of Object.keys(payload)) {
        const value = payload[key];
        if (typeof value === "string" && value.startsWith(mark)) {
          payload[key] = long[Number(value.slice(mark.length))];
          placed++;
        }
      }
    }
    return placed === long.length ? request : JSON.parse(text);
  }

  function dispatch(action, payload) {
    if (ADDRESS_ACTIONS.indexOf(action) >= 0) {
      const G = globalThis.GeocodingCore;
      if (!G || typeof G[action] !== "function") {
        P.fail("Компонент адресов не загружен: действие «" + action + "» недоступно.");
      }
      return G[action](payload);
    }
    const planner = globalThis.PlannerCore;
    if (!planner || !planner.actions || !Object.prototype.hasOwnProperty.call(planner.actions, action)) {
      P.fail("Неизвестное действие: " + action + ".");
    }
    return planner.actions[action](payload);
  }

  // A large answer (a plan of thousands of orders) may leave in parts, when the caller takes them (`run(text, true)`):
  // `run` gives the first, `more` each next one and "" once none is left. Together they are the very text
  // JSON.stringify would give, cut where an element of a long array ends, so that the whole text is never made
  // here: for the largest plans it would be a hundred megabytes at once, and as much again while it grows.
  const LONG_ARRAY = 2000, BLOCK = 1000;
  let pending = null;

  function* answerParts(value) {
    let part = "{", first = true;
    for (const key of Object.keys(value)) {
      const member = value[key];
      if (!Array.isArray(member) || member.length <= LONG_ARRAY) {
        const text = JSON.stringify(member);
        if (text === undefined) continue;  // left out, as JSON.stringify leaves it out
        part += (first ? "" : ",") + JSON.stringify(key) + ":" + text;
        first = false;
        continue;
      }
      yield part + (first ? "" : ",") + JSON.stringify(key) + ":[";
      first = false;
      // A block of elements at a time, written as JSON.stringify writes them, without the block's own brackets.
      for (let i = 0; i < member.length; i += BLOCK) {
        const block = JSON.stringify(member.slice(i, i + BLOCK));
        yield (i ? "," : "") + block.slice(1, -1);
      }
      part = "]";
    }
    yield part + "}";
  }

  function isLarge(value) {
    if (value === null || typeof value !== "object" || Array.isArray(value)) return false;
    return Object.keys(value).some(function (key) { return Array.isArray(value[key]) && value[key].length > LONG_ARRAY; });
  }

  function more() {
    if (!pending) return "";
    try {
      const next = pending.next();
      if (next.done) { pending = null; return ""; }
      return next.value;
    } catch (error) {
      pending = null;
      throw messageOf(error, "answer");
    }
  }

  function run(text, inParts) {
    let action = "";
    pending = null;
    try {
      let request;
      try {
        request = parseRequest(String(text));
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
      if (inParts !== true || !isLarge(result)) return JSON.stringify(result === undefined ? {} : result);
      pending = answerParts(result);
      return more();
    } catch (error) {
      throw messageOf(error, action);
    }
  }

  globalThis.Native = Object.freeze({ run: run, more: more });
})();
