// GeocodingCore: the address rules of the planner engine.
//
// Assembled with the other files of this folder, in name order, inside one function scope: private helpers are
// shared by the files, and only the global `GeocodingCore` leaks out. Nothing here runs failing work at load time.
//
// Actions (the adapter passes the payload object and returns the result object as JSON):
//   addressIdentity({address})    -> {key}  the address key: groups the spellings of one building (memory, batch
//                                           search grouping, the address index). "" = the text cannot be searched.
//   addressStorageKey({address})  -> {key}  the key stored with a remembered address on the company's server.
//   catalogKey({address})         -> {key}  the key matched against osm_addresses.address_key of the catalogue.
//   catalogMatch({address, rows}) -> {found: {lat, lon, qc, value, address, id[, candidates]} | null,
//                                     provider: "osm"}
//   addressIndex({rows})          -> {<address key>: <the server's address row, unchanged>, ...}
// Lookups over the index for the other components (the index of the last "addressIndex" call lives here, since
// every engine keeps its state in its own context):
//   GeocodingCore.indexEntry(address) -> the remembered row for the address's key, or null.
// Helpers exposed for the catalogue builder and the tests:
//   GeocodingCore.KEY_VERSION          the version of the three key algorithms (stored in the catalogue).
//   GeocodingCore.parseAddress(text)   the parsed parts {city (null when none is named), street, house, empty}.
//   GeocodingCore.catalogRowAddress(street, house)  the text whose catalogKey a catalogue row is stored under.
//
// The three keys are pure functions of the text: no context state, no clock, no locale (no Intl: the letter
// folding is our own). They persist (the pending addresses are cached by address key, the server keeps storage
// keys, the catalogue is built with catalogue keys), so any change to them must raise KEY_VERSION and come with a
// migration of what is stored.
//
// Quality codes of catalogMatch ("qc"; callers accept only "0" without a manual check):
//   "0" one building of the named city has exactly this street and house;
//   "1" several buildings more than 50 m apart carry this street and house ("candidates" = their number);
//   "2" only the street is known (the address names no house, or the catalogue row has none);
//   "3" the address names no city and the street and house exist only outside Moscow.
const GeocodingCore = {};
globalThis.GeocodingCore = GeocodingCore;

GeocodingCore.KEY_VERSION = 1;

// The city meant when an address names none: the depot's city, which is also the catalogue's area.
const DEFAULT_CITY = "москва";

// Lenient readings, as the program reads JSON values: a text with a decimal comma reads as a number; a boolean is
// true, a non-zero number, or a text that reads as a non-zero number.
function readText(value) {
  if (typeof value === "string") return value;
  if (typeof value === "number" && isFinite(value)) return String(value);
  if (typeof value === "boolean") return value ? "true" : "false";
  return "";
}

function readNumber(value) {
  if (typeof value === "number") return isFinite(value) ? value : null;
  if (typeof value !== "string") return null;
  const text = value.trim().replace(",", ".");
  if (!/^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/.test(text)) return null;
  const number = Number(text);
  return isFinite(number) ? number : null;
}

function readBool(value) {
  if (value === true) return true;
  if (typeof value === "number") return value !== 0 && !isNaN(value);
  const number = readNumber(value);
  return number !== null && number !== 0;
}

function isPlainObject(value) {
  return value !== null && typeof value === "object" && !Array.isArray(value);
}

function payloadAddress(payload) {
  return isPlainObject(payload) ? readText(payload.address) : "";
}
