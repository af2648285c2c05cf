// The three address keys. They differ in strictness on purpose:
//
// - The address key ("addressIdentity", "москва|тверская ул|6") is the most lenient: it groups every spelling of
//   one building, so the batch search looks each building up once and a remembered correction is found whatever
//   the spelling, flats and offices included ("ул. Тверская, д. 6, кв 3" = "Москва, Тверская улица, 6"). It keeps
//   the city, with Moscow (the depot's city) when none is named, so the same street in two towns stays apart.
//   "" when nothing searchable is left: the order then goes to review without a lookup.
// - The storage key ("addressStorageKey") is the folded text itself: case, "ё", punctuation and spaces only. It
//   names a row of the company's address list on the server, which other clients and later versions share, so it
//   must not depend on the parser's reading of the address (a better parser would otherwise orphan stored rows);
//   and it keeps what the user typed, flat and office included, so the list shows one row per text remembered.
//   Lookups never use it: the address key finds the row (the address index is keyed by it).
// - The catalogue key ("catalogKey", "тверская ул|6") is the address key without the city: the catalogue rows
//   carry their city in a column of their own, and "catalogMatch" checks it, so a missing or differently written
//   city never hides a building. An address without a house gives the street alone ("тверская ул|"), which finds
//   only street rows of the catalogue (rows without a house); "" when no street is found, so an unreadable address
//   never matches unrelated rows.
// Same text → same key, for all three: they are pure functions of the text.

function identityKey(text) {
  const address = readText(text);
  if (!hasLetterOrDigit(foldLetters(address))) return "";
  const parsed = parseAddress(address);
  if (parsed.empty) return "";
  return (parsed.city || DEFAULT_CITY) + "|" + parsed.street + "|" + parsed.house;
}

function storageKey(text) {
  return foldWords(readText(text), false);
}

function catalogueKey(text) {
  const parsed = parseAddress(readText(text));
  if (parsed.street === "") return "";
  return parsed.street + "|" + parsed.house;
}

// The address text of a catalogue row whose catalogue key is stored in address_key: "<street>, <house>", or the
// street alone for a street row. The catalogue builder and "catalogMatch" both go through it.
function catalogueRowAddress(street, house) {
  const s = readText(street), h = readText(house);
  return h.trim() === "" ? s : s + ", " + h;
}

GeocodingCore.addressIdentity = function (payload) {
  return { key: identityKey(payloadAddress(payload)) };
};

GeocodingCore.addressStorageKey = function (payload) {
  return { key: storageKey(payloadAddress(payload)) };
};

GeocodingCore.catalogKey = function (payload) {
  return { key: catalogueKey(payloadAddress(payload)) };
};

GeocodingCore.catalogRowAddress = catalogueRowAddress;
