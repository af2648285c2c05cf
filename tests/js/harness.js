// A small test harness for the script components, evaluated before each test file.
// test(name, fn) registers a case; the helpers throw on failure with a readable text.
var __tests = [];
function test(name, fn) { __tests.push({ name: name, fn: fn }); }

function __canon(v) {
  if (Array.isArray(v)) return "[" + v.map(__canon).join(",") + "]";
  if (v && typeof v === "object") {
    return "{" + Object.keys(v).sort().map(function (k) { return JSON.stringify(k) + ":" + __canon(v[k]); }).join(",") + "}";
  }
  if (typeof v === "number" && !isFinite(v)) return String(v);
  return JSON.stringify(v);
}
function assert(cond, message) { if (!cond) throw new Error("assertion failed" + (message ? ": " + message : "")); }
function assertEqual(actual, expected, message) {
  var a = __canon(actual), e = __canon(expected);
  if (a !== e) throw new Error((message ? message + ": " : "") + "expected " + e + " but got " + a);
}
function assertNotEqual(actual, other, message) {
  if (__canon(actual) === __canon(other)) throw new Error((message ? message + ": " : "") + "both are " + __canon(actual));
}
function assertClose(actual, expected, tolerance, message) {
  if (!(Math.abs(actual - expected) <= tolerance))
    throw new Error((message ? message + ": " : "") + "expected " + expected + " ± " + tolerance + " but got " + actual);
}
// Runs fn, which must throw; returns the thrown text (the way the engine reads it) and checks it when given.
function assertThrows(fn, expectedText, message) {
  var text = null;
  try { fn(); } catch (e) { text = (e && typeof e === "object" && "message" in e) ? String(e.message) : String(e); }
  if (text === null) throw new Error((message ? message + ": " : "") + "expected a throw" + (expectedText ? " of " + JSON.stringify(expectedText) : ""));
  if (expectedText !== undefined && text !== expectedText)
    throw new Error((message ? message + ": " : "") + "expected the text " + JSON.stringify(expectedText) + " but got " + JSON.stringify(text));
  return text;
}
// Bytes as standard Base64, and a text as its UTF-8 bytes (the bare context has neither btoa nor TextEncoder).
function bytesBase64(bytes) {
  const alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const out = [];
  for (let i = 0; i < bytes.length; i += 3) {
    const n = (bytes[i] << 16) | ((bytes[i + 1] || 0) << 8) | (bytes[i + 2] || 0);
    out.push(alphabet[n >> 18], alphabet[(n >> 12) & 63], i + 1 < bytes.length ? alphabet[(n >> 6) & 63] : "=",
      i + 2 < bytes.length ? alphabet[n & 63] : "=");
  }
  return out.join("");
}
function textBytes(text) {
  const binary = unescape(encodeURIComponent(text));
  const out = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) out[i] = binary.charCodeAt(i);
  return out;
}
// Calls an action exactly as the engine does: one JSON text in, one JSON text out.
function run(action, payload) {
  var text = Native.run(JSON.stringify({ action: action, payload: payload === undefined ? {} : payload }));
  if (typeof text !== "string") throw new Error("Native.run returned " + typeof text + ", not a JSON text");
  return JSON.parse(text);
}
function __runTest(name) {
  for (var i = 0; i < __tests.length; i++) if (__tests[i].name === name) { __tests[i].fn(); return "ok"; }
  throw new Error("no test named " + name);
}
// Runs one case after checking that the file registered exactly the cases its text lists, in that order.
function __runListed(listed, name) {
  var registered = __tests.map(function (t) { return t.name; });
  if (JSON.stringify(registered) !== JSON.stringify(listed))
    throw new Error("the file registers " + JSON.stringify(registered) + " but its lines beginning with test(\"…\" list " +
      JSON.stringify(listed) + ": register every case at the start of a line, with its name written out");
  return __runTest(name);
}
