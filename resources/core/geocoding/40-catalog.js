// "catalogMatch": the best of the catalogue rows found under the address's catalogue key (at most 101, in query
// order; each {id, city, street, house: text or null, lat, lon: numbers, a NULL coordinate read as 0}).
//
// A row counts only when its own street and house read as the address's (so a row that merely shares the stored
// key, or a test's arbitrary row, is never taken) and its point is usable: finite, within ±90/±180 and not (0, 0),
// which is what a NULL coordinate turns into. Rows of one building lie close together (entrances, the outline's
// nodes); rows more than 50 m apart are different buildings. Only one building of the right city with the right
// house is exact (qc "0"); everything less keeps its own code (see the top of 00-core.js) and is never "0".

const SAME_BUILDING_METRES = 50;

function usablePoint(lat, lon) {
  return lat !== null && lon !== null && Math.abs(lat) <= 90 && Math.abs(lon) <= 180 && !(lat === 0 && lon === 0);
}

function metresBetween(a, b) {
  const rad = Math.PI / 180;
  const x = (b.lon - a.lon) * rad * Math.cos((a.lat + b.lat) / 2 * rad);
  const y = (b.lat - a.lat) * rad;
  return Math.sqrt(x * x + y * y) * 6371000;
}

// The city of a catalogue row as the parser names cities ("г. Москва", "Москва г", "москва" → "москва"); "" when
// the row has none.
function rowCity(value) {
  const text = readText(value);
  if (!hasLetterOrDigit(foldLetters(text))) return "";
  const words = foldWords(text, false).split(" ").filter(function (w) { return !(w in CITY_MARKERS); });
  return cityName(words);
}

function buildings(rows) {
  const groups = [];
  for (const row of rows) {
    const group = groups.find(function (g) { return metresBetween(g[0], row) < SAME_BUILDING_METRES; });
    if (group) group.push(row);
    else groups.push([row]);
  }
  return groups;
}

function catalogAnswer(groups, qc) {
  const first = groups[0][0];
  const value = [first.city, first.street, first.house].filter(function (part) {
    return part.trim() !== "";
  }).join(", ");
  const found = { lat: first.lat, lon: first.lon, qc: qc, value: value, address: value, id: first.id };
  if (groups.length > 1) found.candidates = groups.length;
  return { found: found, provider: "osm" };
}

GeocodingCore.catalogMatch = function (payload) {
  const none = { found: null, provider: "osm" };
  const address = payloadAddress(payload);
  const key = catalogueKey(address);
  const rows = isPlainObject(payload) && Array.isArray(payload.rows) ? payload.rows.slice(0, 101) : [];
  if (key === "" || rows.length === 0) return none;
  const bar = key.indexOf("|");
  const street = key.slice(0, bar), house = key.slice(bar + 1);
  const city = parseAddress(address).city;
  const wantedCity = city || DEFAULT_CITY;

  const houses = [], streets = [], elsewhere = [];
  const rowKeys = new Map();  // the rows of one building repeat their street and house
  function rowKeyOf(row) {
    const text = catalogueRowAddress(row.street, row.house);
    if (!rowKeys.has(text)) rowKeys.set(text, catalogueKey(text));
    return rowKeys.get(text);
  }
  for (const raw of rows) {
    if (!isPlainObject(raw)) continue;
    const lat = readNumber(raw.lat), lon = readNumber(raw.lon);
    if (!usablePoint(lat, lon)) continue;
    const row = { id: readText(raw.id), city: readText(raw.city), street: readText(raw.street),
                  house: readText(raw.house), lat: lat, lon: lon };
    const rowKey = rowKeyOf(row);
    const bar2 = rowKey.indexOf("|");
    if (rowKey === "" || rowKey.slice(0, bar2) !== street) continue;
    const rowHouse = rowKey.slice(bar2 + 1);
    const kind = house !== "" && rowHouse === house ? "house" : rowHouse === "" ? "street" : null;
    if (kind === null) continue;
    const thisCity = rowCity(row.city);
    // A row without a city lies in the catalogue's own area, Moscow.
    if (thisCity === wantedCity || (thisCity === "" && wantedCity === DEFAULT_CITY)) {
      (kind === "house" ? houses : streets).push(row);
    } else if (city === null && kind === "house") {
      elsewhere.push(row);
    }
  }
  if (houses.length > 0) {
    const groups = buildings(houses);
    return catalogAnswer(groups, groups.length === 1 ? "0" : "1");
  }
  if (streets.length > 0) return catalogAnswer(buildings(streets), "2");
  if (elsewhere.length > 0) return catalogAnswer(buildings(elsewhere), "3");
  return none;
};
