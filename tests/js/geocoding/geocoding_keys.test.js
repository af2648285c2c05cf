// Address keys: one building is one key whatever the spelling; two buildings never share one.

function identity(address) { return GeocodingCore.addressIdentity({ address: address }).key; }
function storage(address) { return GeocodingCore.addressStorageKey({ address: address }).key; }
function catalogue(address) { return GeocodingCore.catalogKey({ address: address }).key; }

// Each group: spellings of one building, with the identity key they must all give.
const SAME_PLACE = [
  ["москва|тверская ул|6", [
    "Москва, Тверская улица, 6", "ул. Тверская, д. 6, кв 3", "г. Москва, ул.Тверская, д.6", "Тверская 6",
    "  тверская   ул  6  ", "ТВЕРСКАЯ УЛ., Д. 6, ОФИС 12", "Тверская улица, дом 6, подъезд 2, этаж 3",
    "125009, Россия, Москва, Тверская ул., 6", "Москва г, Тверская 6", "Тверская 6, Москва", "д. 6, ул. Тверская",
    "Москва, ЦАО, Тверская, 6", "Tверскaя 6", "Тверская 6, вход со двора",
  ]],
  ["москва|тверская ул|12а", ["Тверская 12А", "Тверская 12 а", "Тверская, 12-а", "Тверская 12a"]],
  ["москва|тверская ул|12к2с1", [
    "ул Тверская 12 к2 с1", "Тверская, 12, корп. 2, стр. 1", "Тверская д.12 корпус 2 строение 1", "Тверская 12к2с1",
  ]],
  ["москва|тверская ул|12/3", ["Тверская 12/3", "Тверская, д. 12/3, кв. 7"]],
  ["москва|1 тверская ямская ул|10", ["Москва, 1-я Тверская-Ямская ул., 10", "Тверская-Ямская 1-я, 10"]],
  ["москва|ленинский пр-кт|30", ["Ленинский пр-т, 30", "проспект Ленинский 30", "Ленинский просп. д 30",
                                 "Ленинский пр. 30"]],
  ["москва|б никитская ул|12", ["улица Большая Никитская, 12", "Б. Никитская 12"]],
  ["москва|смоленский б-р|4", ["Смоленский бульвар 4", "б-р Смоленский, 4"]],
  ["москва|кутузовский пр-кт|2/1с1", ["Кутузовский проспект, 2/1 стр. 1", "Кутузовский пр-т 2/1с1"]],
  ["москва|1905 года ул|5", ["ул. 1905 года, д. 5", "улица 1905 Года 5"]],
  ["химки|ленина ул|5", ["Московская обл., г. Химки, ул. Ленина, д. 5", "Химки, Ленина, 5", "г Химки Ленина 5"]],
  ["сколково|нов ул|100", ["д. Сколково, ул. Новая, д. 100", "деревня Сколково Новая 100"]],
  ["сколково||5", ["д Сколково 5", "д. Сколково, д. 5"]],
  ["москва|береговой пр-д|2с1", ["Береговой проезд 2 стр 1", "Береговой пр-д, 2с1"]],
  ["москва|ореховый пр-д|15", ["Ореховый проезд, 15", "Ореховы\u0438\u0306 пр-д 15"]],  // "й" typed as и + breve
  ["москва|елецкая ул|10", ["Елецкая 10", "Ёлецкая улица 10"]],
  ["москва|кривоколенный пер|5", ["Кривоколенный пер., 5", "переулок Кривоколенный, дом 5"]],
  ["москва|ленинградское ш|16с3", ["Ленинградское ш. 16 стр 3", "Ленинградское шоссе, д. 16, строение 3"]],
  ["москва|пречистенская наб|45", ["Пречистенская наб 45", "набережная Пречистенская, 45"]],
  ["москва|манежная пл|1", ["Манежная пл., 1", "площадь Манежная д1"]],
  ["москва|тверская ул|", ["Тверская улица", "Тверская, офис Ромашка", "ул. Тверская, кв. Б"]],  // no house
];

test("spellings of one building give one identity key", function () {
  SAME_PLACE.forEach(function (group) {
    group[1].forEach(function (address) { assertEqual(identity(address), group[0], address); });
  });
});

test("the catalogue key is the identity key without the city", function () {
  SAME_PLACE.forEach(function (group) {
    const parts = group[0].split("|");
    const expected = parts[1] === "" ? "" : parts[1] + "|" + parts[2];  // no street, no catalogue key
    group[1].forEach(function (address) { assertEqual(catalogue(address), expected, address); });
  });
});

// Near pairs: two different buildings.
const OTHER_PLACE = [
  ["Тверская 6", "Тверская 8"],                       // other house
  ["Тверская 6", "Тверская 16"],
  ["Тверская 6", "Тверская 6А"],                      // letter
  ["Тверская 12 г", "Тверская 12"],                   // the letter г is not the city marker
  ["Тверская 6 к1", "Тверская 6 к2"],                 // other corpus
  ["Тверская 6 к1", "Тверская 6"],
  ["Тверская 6 к1", "Тверская 6 с1"],                 // corpus is not building
  ["Тверская 6 с1", "Тверская 6 с2"],
  ["Тверская 12 стр. 1А", "Тверская 12А стр 1"],       // the letter belongs to the building, not the house
  ["Тверская 12 к 2 а", "Тверская 12 к2"],
  ["Тверская 6/1", "Тверская 6, 1"],                  // a fraction is not a flat without its marker
  ["Тверская 6/1", "Тверская 61"],
  ["Тверская 6 лит А", "Тверская 6А"],
  ["Тверская 6", "Тверская площадь 6"],               // other street type
  ["Тверская улица 6", "Тверской бульвар 6"],         // other street
  ["Мясницкая 20", "Петровка 20"],
  ["1-я Тверская-Ямская 10", "2-я Тверская-Ямская 10"],
  ["ул. 8 Марта, 4", "ул. 8 Марта, 8"],
  ["Химки, Ленина 5", "Москва, Ленина 5"],            // other city
  ["Ленина 5", "Химки, Ленина 5"],                    // no city means Moscow
  ["Баумана 5", "Баумана 5, Казань"],                 // a city written after the house
  ["Тверская 6-12", "Тверская 6"],
  ["д. Сколково, ул. Новая, д. 100", "ул. Новая, д. 100"],  // a village is not Moscow
];

test("near but different buildings never share a key", function () {
  OTHER_PLACE.forEach(function (pair) {
    const label = pair[0] + " / " + pair[1];
    assertNotEqual(identity(pair[0]), identity(pair[1]), label);
    assertNotEqual(storage(pair[0]), storage(pair[1]), label);
  });
  // The catalogue key leaves the city out (the match checks it), so only pairs within one city must differ.
  OTHER_PLACE.filter(function (pair) { return !/Химки|Казань|Сколково/.test(pair.join()); }).forEach(function (pair) {
    assertNotEqual(catalogue(pair[0]), catalogue(pair[1]), pair.join(" / "));
  });
});

test("nothing searchable gives the empty key", function () {
  ["", "   ", "!!!", ", . - /", "кв. 3", "офис 12"].forEach(function (address) {
    assertEqual(identity(address), "", JSON.stringify(address));
    assertEqual(catalogue(address), "", JSON.stringify(address));
  });
  assertEqual(storage("!!!"), "");
  // A payload without an address, or with another type, is an address that cannot be searched, never a throw.
  [{}, { address: null }, { address: [] }, { address: { a: 1 } }, null].forEach(function (payload) {
    assertEqual(GeocodingCore.addressIdentity(payload), { key: "" });
    assertEqual(GeocodingCore.catalogKey(payload), { key: "" });
  });
});

test("the catalogue key needs a street and keeps a street without a house apart", function () {
  assertEqual(catalogue("Тверская улица"), "тверская ул|");
  assertEqual(catalogue("Зеленоград, корп. 1106"), "");
  assertEqual(identity("Зеленоград, корп. 1106"), "зеленоград||к1106");
  assertNotEqual(catalogue("Тверская улица"), catalogue("Тверская улица, 6"));
});

test("the storage key is the folded text, flat included", function () {
  assertEqual(storage("  Москва,  ул. Тверская, д.6, кв. 3 "), "москва ул тверская д 6 кв 3");
  assertEqual(storage("Ёлецкая\u00a0ул.,\tд.10"), "елецкая ул д 10");
  assertNotEqual(storage("Тверская 6 кв 3"), storage("Тверская 6 кв 4"));
  assertEqual(identity("Тверская 6 кв 3"), identity("Тверская 6 кв 4"));
});

test("the keys are pure: the same text gives the same key after other calls and an index", function () {
  const before = identity("Москва, Покровка, 12");
  GeocodingCore.addressIndex({ rows: [{ address: "Покровка 12", lat: 1, lon: 2 }] });
  catalogue("Петровка 12");
  assertEqual(identity("Москва, Покровка, 12"), before);
  assertEqual(before, "москва|покровка ул|12");
});
