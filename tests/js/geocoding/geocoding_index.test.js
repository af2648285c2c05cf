// "addressIndex": the server's address list keyed by address key; never fails on what the server or the cache holds.

test("rows are keyed by the address key of their address, unchanged", function () {
  const row = { key: "1001", address: "Москва, Тверская улица, 6", lat: 55.7606, lon: 37.6095, source: "file",
                pinned: false };
  const index = GeocodingCore.addressIndex({ rows: [row] });
  assertEqual(index, { "москва|тверская ул|6": row });
  assertEqual(GeocodingCore.indexEntry("ул. Тверская, д. 6, кв 3"), row);
  assertEqual(GeocodingCore.indexEntry("Тверская 8"), null);
});

test("malformed lists and rows are skipped, never fatal", function () {
  [null, undefined, 7, "rows", {}, { rows: null }, { rows: {} }, { rows: "x" }].forEach(function (payload) {
    assertEqual(GeocodingCore.addressIndex(payload), {}, JSON.stringify(payload));
  });
  const good = { address: "Петровка 12", lat: "55,7635", lon: 37.6185 };
  const index = GeocodingCore.addressIndex({ rows: [
    null, 1, "Тверская 6", [], ["Тверская 6"], {}, { address: null }, { address: {} }, { address: "!!!" },
    { address: "кв. 3" }, good,
  ] });
  assertEqual(index, { "москва|петровка ул|12": good });
});

test("when rows share a key a hand-made row wins, then one with coordinates, then the later one", function () {
  const file = { address: "Тверская 6", lat: 1, lon: 2, source: "file" };
  const bare = { address: "Москва, Тверская улица, 6", source: "file" };
  const manual = { address: "ул. Тверская, 6", lat: 3, lon: 4, source: "manual" };
  const pinned = { address: "Тверская ул 6", lat: 5, lon: 6, pinned: 1 };
  const later = { address: "Тверская, д. 6", lat: 7, lon: 8, source: "file" };
  const key = "москва|тверская ул|6";
  assertEqual(GeocodingCore.addressIndex({ rows: [file, bare] })[key], file, "coordinates beat none");
  assertEqual(GeocodingCore.addressIndex({ rows: [manual, later] })[key], manual, "hand-made beats later");
  assertEqual(GeocodingCore.addressIndex({ rows: [later, pinned, file] })[key], pinned, "pinned counts as hand-made");
  assertEqual(GeocodingCore.addressIndex({ rows: [file, later] })[key], later, "among equals the later");
  assertEqual(GeocodingCore.addressIndex({ rows: [bare, { address: "Тверская 6" }] })[key].address, "Тверская 6");
});

test("the index is valid JSON and replaces the previous one", function () {
  GeocodingCore.addressIndex({ rows: [{ address: "Тверская 6", lat: 1, lon: 2 }] });
  const index = GeocodingCore.addressIndex({ rows: [{ address: "Арбат 10", lat: 1, lon: 2 }] });
  assertEqual(JSON.parse(JSON.stringify(index)), { "москва|арбат ул|10": { address: "Арбат 10", lat: 1, lon: 2 } });
  assertEqual(GeocodingCore.indexEntry("Тверская 6"), null);
});
