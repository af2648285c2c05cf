// "catalogMatch": the catalogue answer the lookups hand on. Only one building of the right city with the right
// house is exact ("0"); everything less carries its own code and never "0".

function row(id, city, street, house, lat, lon) {
  return { id: id, city: city, street: street, house: house, lat: lat, lon: lon };
}
function match(address, rows) { return GeocodingCore.catalogMatch({ address: address, rows: rows }); }

const TVERSKAYA_6 = row("w1", "Москва", "Тверская улица", "6", 55.7606, 37.6095);

test("an exact house gives qc 0 with the row's point and address", function () {
  assertEqual(match("ул. Тверская, д. 6, кв 3", [TVERSKAYA_6]), {
    found: { lat: 55.7606, lon: 37.6095, qc: "0", value: "Москва, Тверская улица, 6",
             address: "Москва, Тверская улица, 6", id: "w1" },
    provider: "osm",
  });
  // Entrances of one building (closer than 50 m) are still one building.
  const entrance = row("n2", "Москва", "Тверская улица", "6", 55.7608, 37.6097);
  assertEqual(match("Тверская 6", [TVERSKAYA_6, entrance]).found.qc, "0");
  // A row without a city is taken as the catalogue's own area.
  assertEqual(match("Тверская 6", [row("w3", null, "Тверская улица", "6", 55.7606, 37.6095)]).found.qc, "0");
});

test("two buildings with one street and house are ambiguous, never exact", function () {
  const far = row("w9", "Москва", "Тверская улица", "6", 55.7000, 37.7000);
  const answer = match("Тверская 6", [TVERSKAYA_6, far]);
  assertEqual(answer.found.qc, "1");
  assertEqual(answer.found.candidates, 2);
  assertEqual([answer.found.lat, answer.found.lon], [55.7606, 37.6095], "the first building in query order");
  assertEqual(answer.provider, "osm");
});

test("a street without a house is marked street only", function () {
  const street = row("w5", "Москва", "Тверская улица", null, 55.7620, 37.6070);
  const answer = match("Москва, Тверская улица", [street]);
  assertEqual(answer.found.qc, "2");
  assertEqual(answer.found.value, "Москва, Тверская улица");
  // With a house asked for, a street row is still only the street.
  assertEqual(match("Тверская 6", [street]).found.qc, "2");
  // and a house row wins over it.
  assertEqual(match("Тверская 6", [street, TVERSKAYA_6]).found.qc, "0");
});

test("the city decides", function () {
  const khimki = row("w7", "Химки", "улица Ленина", "5", 55.8890, 37.4440);
  // An address naming another city takes only that city's rows.
  assertEqual(match("Москва, Ленина 5", [khimki]), { found: null, provider: "osm" });
  assertEqual(match("г. Химки, ул. Ленина, д. 5", [khimki]).found.qc, "0");
  // A row without a city lies in Moscow, never in the town the address names.
  const unknown = row("w6", null, "улица Ленина", "5", 55.70, 37.60);
  assertEqual(match("г. Химки, ул. Ленина, д. 5", [unknown]), { found: null, provider: "osm" });
  assertEqual(match("Москва, Ленина 5", [unknown]).found.qc, "0");
  // An address naming no city means Moscow: a building found only elsewhere must be checked by hand.
  assertEqual(match("Ленина 5", [khimki]).found.qc, "3");
  const moscow = row("w8", "г. Москва", "улица Ленина", "5", 55.70, 37.60);
  assertEqual(match("Ленина 5", [khimki, moscow]).found.id, "w8");
  assertEqual(match("Ленина 5", [khimki, moscow]).found.qc, "0");
});

test("no match gives found null", function () {
  const none = { found: null, provider: "osm" };
  assertEqual(match("Тверская 6", []), none);
  assertEqual(match("Тверская 8", [TVERSKAYA_6]), none, "another house of the street is no answer");
  assertEqual(match("Тверская 6 к1", [TVERSKAYA_6]), none, "another corpus");
  assertEqual(match("Петровка 6", [TVERSKAYA_6]), none, "another street");
  assertEqual(match("!!!", [TVERSKAYA_6]), none, "an address without a catalogue key");
  assertEqual(GeocodingCore.catalogMatch({}), none);
  assertEqual(GeocodingCore.catalogMatch(null), none);
  assertEqual(GeocodingCore.catalogMatch({ address: "Тверская 6", rows: "w1" }), none);
});

test("rows without a usable point are never an answer", function () {
  const none = { found: null, provider: "osm" };
  // A NULL coordinate reaches the match as 0.
  assertEqual(match("Тверская 6", [row("w1", "Москва", "Тверская улица", "6", 0, 0)]), none);
  assertEqual(match("Тверская 6", [row("w1", "Москва", "Тверская улица", "6", 95, 37.6)]), none);
  assertEqual(match("Тверская 6", [row("w1", "Москва", "Тверская улица", "6", "x", 37.6)]), none);
  assertEqual(match("Тверская 6", [null, 7, [], row("w1", "Москва", "Тверская улица", "6", 0, 0), TVERSKAYA_6]).found.qc,
              "0");
});

test("only the first 101 rows count", function () {
  const rows = [];
  for (let i = 0; i < 101; i++) rows.push(row("w" + i, "Москва", "Тверская улица", "6", 55.7606, 37.6095));
  rows.push(row("far", "Москва", "Тверская улица", "6", 55.70, 37.70));
  assertEqual(match("Тверская 6", rows).found.qc, "0");
});

test("demo addresses match catalogue rows of their buildings", function () {
  [
    ["Москва, Тверская улица, 6", "Тверская улица", "6"],
    ["Москва, улица Петровка, 12", "улица Петровка", "12"],
    ["Москва, Мясницкая улица, 20", "Мясницкая улица", "20"],
    ["Москва, Покровка, 12", "улица Покровка", "12"],
    ["Москва, улица Арбат, 10", "улица Арбат", "10"],
  ].forEach(function (demo) {
    const rowKey = GeocodingCore.catalogKey({ address: GeocodingCore.catalogRowAddress(demo[1], demo[2]) }).key;
    assertEqual(GeocodingCore.catalogKey({ address: demo[0] }).key, rowKey, demo[0]);
    assertEqual(match(demo[0], [row("w", "Москва", demo[1], demo[2], 55.75, 37.6)]).found.qc, "0", demo[0]);
  });
});
