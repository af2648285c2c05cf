// "addressIndex": the company's address list as a map from address key to the server's row, unchanged.
//
// The list arrives as the server sent it or as cached (null, any JSON): anything but an array is an empty list, and
// a row that is not an object or has no address text with a key is skipped. Anything else that goes wrong is a
// failure of the whole index, never an index with rows silently missing. When rows share a key, a hand-made row ("pinned" true or
// "source" "manual", the rows the address memory protects) wins over the others, then a row with both
// coordinates over one without; among equals the later row wins, as the later upload replaced the earlier one.

let currentIndex = Object.create(null);

function indexRank(row) {
  const handMade = readBool(row.pinned) || row.source === "manual";
  const located = readNumber(row.lat) !== null && readNumber(row.lon) !== null;
  return (handMade ? 2 : 0) + (located ? 1 : 0);
}

GeocodingCore.addressIndex = function (payload) {
  const rows = isPlainObject(payload) && Array.isArray(payload.rows) ? payload.rows : [];
  const index = Object.create(null), ranks = Object.create(null);
  for (const row of rows) {
    if (!isPlainObject(row)) continue;
    const key = identityKey(readText(row.address));
    if (key === "") continue;
    const rank = indexRank(row);
    if (!(key in ranks) || rank >= ranks[key]) {
      index[key] = row;
      ranks[key] = rank;
    }
  }
  currentIndex = index;
  return index;
};

GeocodingCore.indexEntry = function (address) {
  const key = identityKey(address);
  return key !== "" && key in currentIndex ? currentIndex[key] : null;
};
