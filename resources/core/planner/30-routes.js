// Route derivation: from each route's vehicle and ordered orders, the stops' times and the orders' derived keys
// ("_rt", "_drv", "_arr", "_seq"), the route totals and the unassigned list.

const YES_WORDS = new Set(["да", "1", "true", "yes", "строго", "+", "y", "д"]);

function isYes(value) {
  if (value === true) return true;
  if (typeof value === "number") return value !== 0 && isFinite(value);
  return YES_WORDS.has(Prelude.fold(value).trim());
}

// The window an order is planned with: {start, end (minutes or null), hard, invalid}. Window texts repeat a lot
// in a plan, so their readings are remembered.
const windowReadings = new Map();
let windowReadingCount = 0;
function orderWindow(o) {
  const text = typeof o.window === "string" ? o.window : Prelude.string(o.window);
  const strict = typeof o.hardWindow === "string" ? o.hardWindow : Prelude.string(o.hardWindow);
  let byStrict = windowReadings.get(text);
  if (byStrict === undefined) {
    if (windowReadingCount > 20000) { windowReadings.clear(); windowReadingCount = 0; }
    byStrict = new Map();
    windowReadings.set(text, byStrict);
  }
  let w = byStrict.get(strict);
  if (w === undefined) {
    w = Object.freeze(readOrderWindow({ window: text, hardWindow: strict }));
    byStrict.set(strict, w);
    windowReadingCount++;
  }
  return w;
}
function readOrderWindow(o) {
  const strict = Prelude.parseWindow(o.hardWindow);
  if (strict && !strict.invalid && (strict.start !== null || strict.end !== null)) {
    return { start: strict.start, end: strict.end, hard: true, invalid: false };
  }
  const w = Prelude.parseWindow(o.window);
  const hard = isYes(o.hardWindow);
  if (!w) return { start: null, end: null, hard: hard, invalid: false };
  if (w.invalid) return { start: null, end: null, hard: hard, invalid: true };
  return { start: w.start, end: w.end, hard: hard, invalid: false };
}

function serviceMinutes(o, config) {
  const s = typeof o.serviceS === "number" && isFinite(o.serviceS) && o.serviceS >= 0 ? o.serviceS / 60 : null;
  return s === null ? config.SERVICE_MIN : s;
}
function sharedMinutes(o) {
  return typeof o.sharedS === "number" && isFinite(o.sharedS) && o.sharedS > 0 ? o.sharedS / 60 : 0;
}

// A vehicle's working time: from the later of the shift start and the depot opening to the shift end; a vehicle
// that comes back to the depot must be back before the depot closes.
function vehicleTimes(doc, v) {
  let shift = Prelude.parseWindow(v.shift);
  if (!shift || shift.invalid) shift = Prelude.parseWindow(DEFAULT_SHIFT);
  let depotWindow = doc.depot ? Prelude.parseWindow(doc.depot.window) : null;
  if (depotWindow && depotWindow.invalid) depotWindow = null;
  const open = depotWindow && depotWindow.start !== null ? depotWindow.start : 0;
  const close = depotWindow && depotWindow.end !== null ? depotWindow.end : Infinity;
  const start = Math.max(shift.start === null ? 0 : shift.start, open);
  let end = shift.end === null ? Infinity : shift.end;
  if (Prelude.bool(v.back) && close < end) end = close;
  return { start: start, end: end };
}

function depotPoint(doc) {
  return doc.depot && hasPoint(doc.depot) ? { lat: doc.depot.lat, lon: doc.depot.lon } : null;
}

function round2(x) { return Math.round(x * 100) / 100; }

// Times of one route. Consecutive stops at one point share their "sharedS" once, at the first of them.
function deriveRoute(doc, ci, list) {
  const v = doc.vehicles[ci];
  const times = vehicleTimes(doc, v);
  const depot = depotPoint(doc);
  const len = list.length;
  const lats = new Float64Array(len), lons = new Float64Array(len);
  const ilat = new Float64Array(len), ilon = new Float64Array(len);
  for (let k = 0; k < len; k++) {
    const o = doc.orders[list[k]];
    lats[k] = o.lat; lons[k] = o.lon;
    ilat[k] = Math.round(o.lat * 1e6); ilon[k] = Math.round(o.lon * 1e6);
  }
  const ref = Prelude.string(v.ref);
  let t = times.start, km = 0, over = 0;
  const stops = new Array(len);
  for (let k = 0; k < len; k++) {
    const o = doc.orders[list[k]];
    let arr = t;
    if (k > 0) {
      if (ilat[k] !== ilat[k - 1] || ilon[k] !== ilon[k - 1]) {
        const leg = travelXY(doc, lats[k - 1], lons[k - 1], lats[k], lons[k]);
        km += leg.km;
        arr = t + leg.min;
      }
    } else if (depot) {
      const leg = travelXY(doc, depot.lat, depot.lon, lats[k], lons[k]);
      km += leg.km;
      arr = t + leg.min;
    }
    // The time given for an order is when its service begins: never before its window opens (the courier who comes
    // early waits), and after the window's end only as a late arrival.
    const w = orderWindow(o);
    const begin = w.start !== null ? Math.max(arr, w.start) : arr;
    const at = Math.round(begin);
    const late = w.end !== null ? Math.max(0, at - w.end) : 0;
    let service = serviceMinutes(o, doc.config);
    if (k === 0 || ilat[k] !== ilat[k - 1] || ilon[k] !== ilon[k - 1]) {
      let shared = 0;
      for (let j = k; j < len && ilat[j] === ilat[k] && ilon[j] === ilon[k]; j++) {
        shared = Math.max(shared, sharedMinutes(doc.orders[list[j]]));
      }
      service += shared;
    }
    stops[k] = { index: list[k], arr: at, wait: Math.round(begin - arr), late: late };
    over += late;
    o._rt = ci;
    o._drv = ref;
    o._arr = at;
    o._seq = String(k + 1);
    t = begin + service;
  }
  if (v.back && depot && len) {
    const leg = travelXY(doc, lats[len - 1], lons[len - 1], depot.lat, depot.lon);
    km += leg.km;
    t += leg.min;
  }
  if (isFinite(times.end)) over += Math.max(0, Math.round(t - times.end));
  return {
    ci: ci,
    vehicle: { id: Prelude.string(v.id), ref: ref, shift: Prelude.string(v.shift) },
    orders: list.slice(),
    stops: stops,
    km: round2(km),
    end: Math.round(t),
    over: over
  };
}

// Sets route memberships ([{ci, orders}]) without deriving anything yet.
function setRoutes(doc, memberships) {
  doc.routes = memberships.map(function (r) { return { ci: r.ci, orders: r.orders.slice() }; });
}

// Recomputes every derived value from the routes' memberships. Orders that lost their coordinates leave their
// route; routes left empty are removed. Returns the indices of the orders that left a route.
function recompute(doc) {
  const dropped = [];
  const onRoute = new Uint8Array(doc.orders.length);
  const routes = [];
  if (doc.planned) {
    const sorted = doc.routes.slice().sort(function (a, b) { return a.ci - b.ci; });
    for (const r of sorted) {
      const list = [];
      for (const i of r.orders) {
        if (hasPoint(doc.orders[i])) list.push(i); else dropped.push(i);
      }
      if (!list.length) continue;
      routes.push(deriveRoute(doc, r.ci, list));
      for (const i of list) onRoute[i] = 1;
    }
  }
  doc.routes = routes;
  const unassigned = [];
  for (let i = 0; i < doc.orders.length; i++) {
    if (onRoute[i]) continue;
    const o = doc.orders[i];
    // An order on no route has none of them: the members stay (the objects keep their shape) but are left out of
    // the plan's text, which for a day of a hundred thousand orders saves a fifth of its members.
    o._rt = o._drv = o._arr = o._seq = undefined;
    unassigned.push(i);
  }
  doc.unassigned = unassigned;
  return dropped;
}

function membershipsOf(doc) {
  return doc.routes.map(function (r) { return { ci: r.ci, orders: r.orders.slice() }; });
}
