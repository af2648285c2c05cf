// NativePrelude: the helpers shared by our script components. It defines one global, `NativePrelude`, and a silent
// `console` only when the context has none. It deliberately defines no platform stand-ins (TextDecoder, atob,
// setTimeout, Buffer, ...): the workbook library picks its code paths by `typeof` and a partial stand-in breaks it.
(function () {
  "use strict";

  if (typeof globalThis.console === "undefined") {
    const quiet = function () {};
    globalThis.console = { log: quiet, info: quiet, warn: quiet, error: quiet, debug: quiet };
  }

  // A refusal meant for the user: its message is the Russian text shown unchanged.
  function UserError(message) {
    this.message = String(message);
  }
  UserError.prototype.toString = function () { return this.message; };

  function fail(message) { throw new UserError(message); }

  // Lenient readings with the rules of the program's JSON value.
  function double(v) {
    if (typeof v === "number") return isFinite(v) ? v : null;
    if (typeof v === "boolean") return v ? 1 : 0;
    if (typeof v === "string") {
      const t = v.trim().replace(",", ".");
      if (t === "" || !/^[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?$/.test(t)) return null;
      const n = Number(t);
      return isFinite(n) ? n : null;
    }
    return null;
  }
  function int(v) {
    const d = double(v);
    return d === null ? null : Math.trunc(d);
  }
  function bool(v) {
    if (v === true) return true;
    if (typeof v === "number") return v !== 0 && isFinite(v);
    if (typeof v === "string") {
      const d = double(v);
      return d !== null && d !== 0;
    }
    return false;
  }
  function string(v) {
    if (v === null || v === undefined || typeof v === "object") return "";
    if (typeof v === "number") {
      if (!isFinite(v)) return "";
      return Number.isInteger(v) ? v.toFixed(0) : String(v);
    }
    return String(v);
  }

  // Letter folding for comparisons: lower case, ё as е.
  function fold(text) {
    return string(text).toLowerCase().replace(/ё/g, "е");
  }

  // "HH:MM" texts and minutes since the start of the route day. Minutes past a day print as 25:00 and so on.
  function pad2(n) { return n < 10 ? "0" + n : String(n); }
  function formatTime(minutes) {
    if (typeof minutes !== "number" || !isFinite(minutes)) return "";
    const m = Math.max(0, Math.round(minutes));
    return pad2(Math.floor(m / 60)) + ":" + pad2(m % 60);
  }
  // "9", "9:30", "09.30": an hour alone, or hours and minutes with ":" or "."; null when unreadable.
  function parseTime(text) {
    const t = string(text).trim();
    const m = /^(\d{1,2})(?:[:.](\d{2}))?$/.exec(t);
    if (!m) return null;
    const h = Number(m[1]), min = m[2] === undefined ? 0 : Number(m[2]);
    if (h > 24 || min > 59 || (h === 24 && min > 0)) return null;
    return h * 60 + min;
  }
  // A window text: two times separated by "-", "–", "—" or " до "; one side may be missing (open on that side).
  // Gives {start, end} in minutes (null for an open side), `null` for "" (no window) and
  // {invalid: true} for a text that cannot be read.
  function parseWindow(text) {
    const t = string(text).trim();
    if (t === "") return null;
    let parts = t.split(/\s*[-–—]\s*|\s+до\s+/i);
    if (parts.length === 1) {
      const s = /^с\s+(.+)$/i.exec(t);
      if (s) parts = [s[1], ""]; else return { invalid: true };
    }
    if (parts.length !== 2) return { invalid: true };
    const a = parts[0].replace(/^с\s+/i, "").trim(), b = parts[1].trim();
    const start = a === "" ? null : parseTime(a);
    const end = b === "" ? null : parseTime(b);
    if ((a !== "" && start === null) || (b !== "" && end === null)) return { invalid: true };
    if (start === null && end === null) return { start: null, end: null };
    if (start !== null && end !== null && end < start) return { invalid: true };
    return { start: start, end: end };
  }

  // A calendar day "yyyy-MM-dd" that exists.
  function isDay(text) {
    if (typeof text !== "string") return false;
    const m = /^(\d{4})-(\d{2})-(\d{2})$/.exec(text);
    if (!m) return false;
    const y = Number(m[1]), mo = Number(m[2]), d = Number(m[3]);
    if (mo < 1 || mo > 12 || d < 1) return false;
    const days = [31, (y % 4 === 0 && (y % 100 !== 0 || y % 400 === 0)) ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31];
    return d <= days[mo - 1];
  }

  // A short token that tells plans apart in ids: base 36 of the clock and of a random number.
  function token() {
    return Date.now().toString(36) + Math.floor(Math.random() * 36 * 36 * 36 * 36).toString(36);
  }

  function isPlainObject(v) { return v !== null && typeof v === "object" && !Array.isArray(v); }

  globalThis.NativePrelude = Object.freeze({
    UserError: UserError,
    fail: fail,
    double: double,
    int: int,
    bool: bool,
    string: string,
    fold: fold,
    formatTime: formatTime,
    parseTime: parseTime,
    parseWindow: parseWindow,
    isDay: isDay,
    token: token,
    isPlainObject: isPlainObject
  });
})();
