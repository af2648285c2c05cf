// The travel model shared by the calculation, the route times and the list of legs to refine by road: the
// straight line times ROAD_FACTOR driven at CITY_KMH, replaced leg by leg by measured road legs.

const EARTH_KM = 6371.0088;

// Points are the same when they agree to six decimals; stored road legs are keyed by both points so written.
function pointKey(lat, lon) { return lat.toFixed(6) + "," + lon.toFixed(6); }
function legKey(a, b) { return pointKey(a.lat, a.lon) + "|" + pointKey(b.lat, b.lon); }
function samePoint(a, b) {
  return Math.round(a.lat * 1e6) === Math.round(b.lat * 1e6) && Math.round(a.lon * 1e6) === Math.round(b.lon * 1e6);
}
function hasRoadLegs(doc) {
  for (const key in doc.roadLegs) return true;
  return false;
}

function straightKm(lat1, lon1, lat2, lon2) {
  const rad = Math.PI / 180;
  const dLat = (lat2 - lat1) * rad, dLon = (lon2 - lon1) * rad;
  const s = Math.sin(dLat / 2) ** 2 + Math.cos(lat1 * rad) * Math.cos(lat2 * rad) * Math.sin(dLon / 2) ** 2;
  return 2 * EARTH_KM * Math.asin(Math.min(1, Math.sqrt(s)));
}

const NO_TRAVEL = Object.freeze({ km: 0, min: 0, road: false });

// {km, min, road} of the leg between two points given by their coordinates.
function travelXY(doc, lat1, lon1, lat2, lon2) {
  if (Math.round(lat1 * 1e6) === Math.round(lat2 * 1e6) && Math.round(lon1 * 1e6) === Math.round(lon2 * 1e6)) return NO_TRAVEL;
  if (doc.roadLegCount === undefined) doc.roadLegCount = hasRoadLegs(doc) ? 1 : 0;
  if (doc.roadLegCount) {
    const road = doc.roadLegs[pointKey(lat1, lon1) + "|" + pointKey(lat2, lon2)];
    if (road) return { km: road.km, min: road.min, road: true };
  }
  const km = straightKm(lat1, lon1, lat2, lon2) * doc.config.ROAD_FACTOR;
  return { km: km, min: km / doc.config.CITY_KMH * 60, road: false };
}

// {km, min, road} of the leg from a to b (both {lat, lon}); a leg within one point costs nothing.
function travel(doc, a, b) { return travelXY(doc, a.lat, a.lon, b.lat, b.lon); }
