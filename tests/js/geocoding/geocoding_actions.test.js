// The address actions through the entry point, as the engine calls them: one JSON text in, one JSON text out.
test("address keys through the entry point", function () {
  assertEqual(run("addressIdentity", { address: "ул. Тверская, д. 6, кв 3" }), { key: "москва|тверская ул|6" });
  assertEqual(run("addressIdentity", { address: "Москва, Тверская улица, 6" }), { key: "москва|тверская ул|6" });
  assertEqual(run("addressIdentity", { address: ", ." }), { key: "" });
  assertEqual(run("addressStorageKey", { address: " Тверская, 6 " }), { key: "тверская 6" });
  assertEqual(run("catalogKey", { address: "Москва, Покровка, 12" }), { key: "покровка ул|12" });
  assertEqual(run("catalogKey", {}), { key: "" });
});

test("catalogue match through the entry point", function () {
  const rows = [{ id: "sample-1", city: "Москва", street: "Тверская улица", house: "6", lat: 55.7606, lon: 37.6095 }];
  const answer = run("catalogMatch", { address: "Москва, Тверская улица, 6", rows: rows });
  assertEqual(answer.found.qc, "0");
  assertEqual(answer.provider, "osm");
  assertEqual(run("catalogMatch", { address: "Тверская 8", rows: rows }), { found: null, provider: "osm" });
});

test("address index through the entry point", function () {
  assertEqual(run("addressIndex", { rows: null }), {});
  assertEqual(run("addressIndex", { rows: [null, { address: "Арбат 10", lat: 1, lon: 2 }] }),
              { "москва|арбат ул|10": { address: "Арбат 10", lat: 1, lon: 2 } });
});
