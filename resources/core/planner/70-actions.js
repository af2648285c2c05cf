// The actions on the planning document, apart from the calculation, the workbooks and the publication.

const A = PlannerCore.actions;
const EDITABLE_VEHICLE_KEYS = ["id", "ref", "shift", "zone", "capacity", "mileage", "use", "back"];

function sameJSON(a, b) {
  if (a === b) return true;
  if (a === undefined) a = null;
  if (b === undefined) b = null;
  if (a === null || b === null || typeof a !== "object" || typeof b !== "object") return a === b;
  return canonicalJSON(a) === canonicalJSON(b);
}
function canonicalJSON(v) {
  if (Array.isArray(v)) return "[" + v.map(canonicalJSON).join(",") + "]";
  if (v !== null && typeof v === "object") {
    return "{" + Object.keys(v).sort().map(function (k) { return JSON.stringify(k) + ":" + canonicalJSON(v[k]); }).join(",") + "}";
  }
  return JSON.stringify(v === undefined ? null : v);
}

// An index into a list as the screens send it: a whole number within the list, else null.
function indexIn(value, length) {
  return Number.isInteger(value) && value >= 0 && value < length ? value : null;
}

// The opt-in check of the order ids sent beside the indices: a mismatch means the program's copy lags behind.
function checkIDs(doc, ids, indices) {
  if (!Array.isArray(ids)) return;
  if (ids.length !== indices.length) refuse(MSG.stale);
  for (let k = 0; k < ids.length; k++) {
    if (doc.orders[indices[k]]._nativeID !== ids[k]) refuse(MSG.stale);
  }
}

function orderLabel(o) {
  const id = Prelude.string(o.id).trim();
  return id ? "№" + id : "«" + Prelude.string(o.address).trim() + "»";
}

function unchanged(doc, extra) { return publicDocument(doc, extra); }

function duplicateNumber(doc, id, except) {
  const text = Prelude.string(id).trim();
  if (text === "") return false;
  for (let i = 0; i < doc.orders.length; i++) {
    if (i !== except && Prelude.string(doc.orders[i].id).trim() === text) return true;
  }
  return false;
}
function refuseDuplicate(id) {
  refuse("Заказ с номером «" + Prelude.string(id).trim() + "» уже есть в плане.");
}

function droppedStatus(doc, dropped) {
  if (!dropped.length) return "";
  return "Сняты с маршрута без координат: " + dropped.map(function (i) { return orderLabel(doc.orders[i]); }).join(", ") + ".";
}

// Values of an order that cannot be read: `_unread`, a list of {key, column, text} in the order of the columns,
// at most one per member. The member itself stays empty (null for a number; a window keeps its text, which the
// planner reads as no window), while the list keeps the text as typed for the checks, the working workbook and the
// publication. The import notes them; a change of a member settles its entry: a value that reads removes it, one
// that does not is noted in its place.
const UNREAD_KEYS = ["window", "units", "lat", "lon", "coordinates", "hardWindow", "serviceS", "sharedS"];
const UNREAD_NUMBERS = new Set(["units", "lat", "lon", "serviceS", "sharedS"]);
const UNREAD_TITLES = {
  window: "Временное окно", units: "Количество мест", lat: "Широта", lon: "Долгота", coordinates: "Координаты",
  hardWindow: "Строгое временное окно", serviceS: "Обслуживание заказа, секунд", sharedS: "Общее время на адресе, секунд"
};
const NO_WORDS = new Set(["нет", "0", "false", "no", "-", "н", "n"]);

function unreadEntries(o) { return Array.isArray(o._unread) ? o._unread : []; }

function noteUnread(o, key, column, text) {
  const list = unreadEntries(o).filter(function (e) { return e.key !== key; });
  list.push({ key: key, column: Prelude.string(column).trim() || UNREAD_TITLES[key], text: Prelude.string(text) });
  list.sort(function (a, b) { return UNREAD_KEYS.indexOf(a.key) - UNREAD_KEYS.indexOf(b.key); });
  o._unread = list;
}

function dropUnread(o, key) {
  const list = unreadEntries(o).filter(function (e) { return e.key !== key; });
  if (list.length) o._unread = list; else delete o._unread;
}

// Whether a member's value reads: a number or nothing for the numbers, a window or nothing for the window, and
// for the strict window also a yes or a no.
function readableValue(key, value) {
  if (value === null || value === undefined) return true;
  if (UNREAD_NUMBERS.has(key)) return typeof value === "number" || Prelude.string(value).trim() === "" || Prelude.double(value) !== null;
  if (key !== "window" && key !== "hardWindow") return true;
  const text = Prelude.string(value).trim();
  if (text === "") return true;
  if (key === "hardWindow" && (isYes(value) || NO_WORDS.has(Prelude.fold(text)))) return true;
  let readable = windowReadable.get(text);
  if (readable === undefined) {
    // Window texts repeat a lot: each is read once (the cache is let go when it grows large).
    if (windowReadable.size > 20000) windowReadable.clear();
    const w = Prelude.parseWindow(text);
    readable = w === null || !w.invalid;
    windowReadable.set(text, readable);
  }
  return readable;
}
const windowReadable = new Map();

// Settles the entries of the members `changes` sets on the changed order `o` (the values as they were given).
function settleUnread(o, changes) {
  for (const key of UNREAD_KEYS) {
    if (!(key in changes)) continue;
    dropUnread(o, key);
    if ((key === "lat" || key === "lon") && hasPoint(o)) dropUnread(o, "coordinates");
    if (!readableValue(key, changes[key])) noteUnread(o, key, UNREAD_TITLES[key], Prelude.string(changes[key]).trim());
  }
}

A.identity = function (payload) {
  plannerState.identity = {
    companyId: payload.companyId === undefined ? null : payload.companyId,
    author: payload.author === undefined ? null : payload.author
  };
  return {};
};

A.zones = function (payload) {
  plannerState.zones = Array.isArray(payload.zones) ? payload.zones : [];
  return {};
};

A.load = function (payload) {
  let doc;
  try {
    doc = readDocument(payload);
    recompute(doc);
  } catch (e) {
    // A plan that cannot be read whole is refused and the current one stays: an empty plan in its place would be
    // taken for the one asked for (and stored over it). The workspace entry keeps such an archive aside itself.
    refuse(MSG.unreadable);
  }
  bump(doc);
  plannerState.doc = doc;
  return publicDocument(doc);
};

A.archive = function () {
  return archiveOf(current());
};

A.date = function (payload) {
  const doc = current();
  if (!Prelude.isDay(payload.date)) refuse(MSG.badDate);
  if (payload.date === doc.routeDate) return unchanged(doc);
  doc.routeDate = payload.date;
  return commit(doc);
};

A.depot = function (payload) {
  const doc = current();
  const lat = Prelude.double(payload.lat), lon = Prelude.double(payload.lon);
  if ((lat !== null && !validLat(lat)) || (lon !== null && !validLon(lon))) refuse(MSG.depotRange);
  doc.depot = { name: Prelude.string(payload.name), lat: lat, lon: lon, window: Prelude.string(payload.window) };
  return commit(doc);
};

A.config = function (payload) {
  const doc = current();
  const next = {};
  for (const key of Object.keys(CONFIG_RANGES)) {
    const v = Prelude.double(payload[key]);
    const range = CONFIG_RANGES[key];
    if (v === null || v < range[0] || v > range[1]) refuse(MSG.config);
    next[key] = v;
  }
  doc.config = next;
  return commit(doc);
};

A.vehicle = function (payload) {
  const doc = current();
  const index = payload.index;
  const given = isObject(payload.vehicle) ? payload.vehicle : {};
  const edited = {};
  for (const key of EDITABLE_VEHICLE_KEYS) edited[key] = given[key];
  const clean = readVehicle(edited);
  if (index === -1) {
    doc.vehicles.push(clean);
  } else {
    const i = indexIn(index, doc.vehicles.length);
    if (i === null) refuse(MSG.vehicleMissing);
    const v = Object.assign({}, doc.vehicles[i]);
    for (const key of EDITABLE_VEHICLE_KEYS) v[key] = clean[key];
    doc.vehicles[i] = v;
  }
  return commit(doc);
};

A.order = function (payload) {
  const doc = current();
  const i = indexIn(payload.index, doc.orders.length);
  if (i === null) refuse(MSG.orderMissing);
  if (payload.id !== undefined && payload.id !== null && doc.orders[i]._nativeID !== payload.id) refuse(MSG.stale);
  const changes = isObject(payload.changes) ? payload.changes : {};
  const old = doc.orders[i];
  if ("id" in changes && Prelude.string(changes.id).trim() !== Prelude.string(old.id).trim() &&
      duplicateNumber(doc, changes.id, i)) refuseDuplicate(changes.id);
  const o = Object.assign({}, old);
  for (const key of Object.keys(changes)) {
    if (key.charAt(0) === "_") continue;      // the component's own members (and "__proto__")
    o[key] = changes[key];
  }
  if ("lat" in changes) o.lat = Prelude.double(changes.lat);
  if ("lon" in changes) o.lon = Prelude.double(changes.lon);
  for (const key of ["units", "serviceS", "sharedS"]) {
    if (key in changes && typeof changes[key] !== "number") o[key] = Prelude.double(changes[key]);
  }
  settleUnread(o, changes);
  doc.orders[i] = o;
  return commit(doc, function (dropped) { return { status: droppedStatus(doc, dropped) }; });
};

A.addOrder = function (payload) {
  const doc = current();
  const given = isObject(payload.order) ? payload.order : {};
  const o = {};
  for (const key of Object.keys(given)) if (key.charAt(0) !== "_") o[key] = given[key];
  if (duplicateNumber(doc, o.id, -1)) refuseDuplicate(o.id);
  const order = readOrder(o);
  settleUnread(order, given);
  order._nativeID = newID(doc);
  doc.orders.push(order);
  return commit(doc);
};

A.deleteOrders = function (payload) {
  const doc = current();
  const indices = Array.isArray(payload.indices) ? payload.indices : [];
  const gone = new Uint8Array(doc.orders.length);
  for (const v of indices) {
    const i = indexIn(v, doc.orders.length);
    if (i === null) refuse(MSG.stale);
    gone[i] = 1;
  }
  checkIDs(doc, payload.ids, indices);
  if (!indices.length) return unchanged(doc);
  const renumber = new Int32Array(doc.orders.length);
  const kept = [];
  for (let i = 0; i < doc.orders.length; i++) {
    if (gone[i]) { renumber[i] = -1; continue; }
    renumber[i] = kept.length;
    kept.push(doc.orders[i]);
  }
  const routes = membershipsOf(doc).map(function (r) {
    return { ci: r.ci, orders: r.orders.filter(function (i) { return !gone[i]; }).map(function (i) { return renumber[i]; }) };
  });
  doc.orders = kept;
  setRoutes(doc, routes);
  return commit(doc, { status: "Удалено заказов: " + (renumber.length - kept.length) + "." });
};

// Cheapest position of an order in a route by driving time (manual moves ignore windows and capacity).
function cheapestPosition(doc, list, index) {
  const depot = depotPoint(doc);
  const o = doc.orders[index];
  const at = function (k) { return k < 0 || k >= list.length ? depot : doc.orders[list[k]]; };
  let best = list.length, bestCost = Infinity;
  for (let p = 0; p <= list.length; p++) {
    const prev = at(p - 1), next = p < list.length ? at(p) : null;
    let cost = 0;
    if (prev) cost += travel(doc, prev, o).min;
    if (next) cost += travel(doc, o, next).min - (prev ? travel(doc, prev, next).min : 0);
    if (cost < bestCost - 1e-9) { bestCost = cost; best = p; }
  }
  return best;
}

A.assign = function (payload) {
  const doc = current();
  if (payload.expectedRevision !== undefined && payload.expectedRevision !== null &&
      Prelude.int(payload.expectedRevision) !== doc.revision) refuse(MSG.staleTransfer);
  const target = payload.vehicle === -1 ? -1 : indexIn(payload.vehicle, doc.vehicles.length);
  if (target === null) refuse(MSG.vehicleMissing);
  const indices = Array.isArray(payload.indices) ? payload.indices : [];
  for (const v of indices) if (indexIn(v, doc.orders.length) === null) refuse(MSG.orderMissing);
  checkIDs(doc, payload.ids, indices);
  if (!indices.length) return unchanged(doc);
  if (!doc.planned) refuse(MSG.notPlanned);

  const routes = membershipsOf(doc);
  const routeOf = new Map();
  routes.forEach(function (r) { r.orders.forEach(function (i) { routeOf.set(i, r); }); });
  let targetRoute = target >= 0 ? routes.find(function (r) { return r.ci === target; }) : null;
  if (target >= 0 && !targetRoute) { targetRoute = { ci: target, orders: [] }; routes.push(targetRoute); }
  const skipped = [];
  for (const i of indices) {
    if (target >= 0 && !hasPoint(doc.orders[i])) { skipped.push(i); continue; }
    const from = routeOf.get(i);
    if (from && from === targetRoute) continue;
    if (from) from.orders.splice(from.orders.indexOf(i), 1);
    routeOf.delete(i);
    if (targetRoute) {
      targetRoute.orders.splice(cheapestPosition(doc, targetRoute.orders, i), 0, i);
      routeOf.set(i, targetRoute);
    }
  }
  setRoutes(doc, routes);
  const notes = [];
  if (skipped.length) notes.push("Без координат, не назначены: " + skipped.map(function (i) { return orderLabel(doc.orders[i]); }).join(", ") + ".");
  if (target >= 0) {
    const v = doc.vehicles[target];
    if (!Prelude.bool(v.use)) notes.push("Машина «" + Prelude.string(v.ref) + "» не на смене.");
    if (typeof v.capacity === "number") {
      let load = 0;
      for (const i of targetRoute.orders) load += typeof doc.orders[i].units === "number" ? doc.orders[i].units : 1;
      if (load > v.capacity) notes.push("Превышена вместимость машины «" + Prelude.string(v.ref) + "».");
    }
  }
  return commit(doc, { status: notes.join(" ") });
};

A.reorder = function (payload) {
  const doc = current();
  const route = doc.planned ? doc.routes.find(function (r) { return sameJSON(r.ci, payload.vehicle); }) : null;
  const indices = Array.isArray(payload.indices) ? payload.indices : null;
  if (!route || !indices || indices.length !== route.orders.length) refuse(MSG.reorder);
  const members = new Set(route.orders);
  const seen = new Set();
  for (const i of indices) {
    if (!members.has(i) || seen.has(i)) refuse(MSG.reorder);
    seen.add(i);
  }
  if (indices.every(function (v, k) { return v === route.orders[k]; })) return unchanged(doc);
  const routes = membershipsOf(doc);
  routes.find(function (r) { return r.ci === route.ci; }).orders = indices.slice();
  setRoutes(doc, routes);
  return commit(doc, { status: "Порядок маршрута изменён." });
};

A.restoreAssignments = function (payload) {
  const doc = current();
  if (!sameJSON(payload.expectedRevision, doc.revision)) refuse(MSG.staleTransfer);
  const memberships = readRoutes(payload.routes, doc);
  if (!memberships) refuse(MSG.stale);
  doc.planned = true;
  setRoutes(doc, memberships);
  return commit(doc);
};

function readPair(value) {
  if (!Array.isArray(value) || value.length !== 2) return null;
  const lat = Prelude.double(value[0]), lon = Prelude.double(value[1]);
  return lat !== null && lon !== null && validLat(lat) && validLon(lon) ? { lat: lat, lon: lon } : null;
}

A.roads = function (payload) {
  const doc = current();
  const legs = Array.isArray(payload.legs) ? payload.legs : [];
  const found = [];
  for (const leg of legs) {
    const from = isObject(leg) ? readPair(leg.from) : null, to = isObject(leg) ? readPair(leg.to) : null;
    const km = isObject(leg) ? Prelude.double(leg.km) : null, min = isObject(leg) ? Prelude.double(leg.min) : null;
    if (!from || !to || km === null || min === null || km < 0 || min < 0) refuse("Некорректные данные плеча маршрута.");
    found.push([legKey(from, to), { km: km, min: min }]);
  }
  if (!found.length) return unchanged(doc);
  for (const pair of found) doc.roadLegs[pair[0]] = pair[1];
  doc.roadLegCount = 1;
  return commit(doc);
};

A.pendingLegs = function () {
  const doc = current();
  const legs = [];
  if (!doc.planned) return { legs: legs };
  const depot = depotPoint(doc);
  const listed = new Set();
  const add = function (a, b) {
    if (!a || !b || samePoint(a, b)) return;
    const key = legKey(a, b);
    if (listed.has(key) || doc.roadLegs[key]) return;
    listed.add(key);
    legs.push([[a.lat, a.lon], [b.lat, b.lon]]);
  };
  for (const r of doc.routes) {
    let prev = depot;
    for (const i of r.orders) {
      const o = doc.orders[i];
      add(prev, o);
      prev = o;
    }
    if (Prelude.bool(doc.vehicles[r.ci].back)) add(prev, depot);
  }
  return { legs: legs };
};

A.geocodeBatch = function (payload) {
  const doc = current();
  const edits = Array.isArray(payload.edits) ? payload.edits : [];
  const byID = new Map();
  doc.orders.forEach(function (o, i) { byID.set(o._nativeID, i); });
  const applied = [];
  for (const edit of edits) {
    if (!isObject(edit) || typeof edit.id !== "string" || !byID.has(edit.id)) continue;
    const i = byID.get(edit.id);
    const o = doc.orders[i];
    if (!sameJSON(o.address, edit.address)) continue;
    const expected = Array.isArray(edit.expected) ? edit.expected : null;
    if (!expected || expected.length !== 3) continue;
    if (!sameJSON(o.lat, expected[0]) || !sameJSON(o.lon, expected[1]) || !sameJSON(o.source, expected[2])) continue;
    const changes = isObject(edit.changes) ? edit.changes : {};
    const next = Object.assign({}, o);
    for (const key of ["lat", "lon", "source", "qc", "found"]) {
      if (key in changes) next[key] = key === "lat" || key === "lon" ? Prelude.double(changes[key]) : changes[key];
    }
    if (hasPoint(next)) settleUnread(next, { lat: next.lat, lon: next.lon });
    doc.orders[i] = next;
    if (applied.indexOf(edit.id) < 0) applied.push(edit.id);
  }
  if (!applied.length) return unchanged(doc, { appliedIDs: [] });
  return commit(doc, function (dropped) { return { appliedIDs: applied, status: droppedStatus(doc, dropped) }; });
};
