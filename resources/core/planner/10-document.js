// The planning document: reading any stored or given shape leniently, ids, revisions, the archive.

function isObject(v) { return Prelude.isPlainObject(v); }

function validLat(v) { return typeof v === "number" && isFinite(v) && v >= -90 && v <= 90; }
function validLon(v) { return typeof v === "number" && isFinite(v) && v >= -180 && v <= 180; }
function hasPoint(o) { return o !== null && typeof o === "object" && validLat(o.lat) && validLon(o.lon); }

// A coordinate member read with the decimal-comma rule; null when it has no numeric reading.
function coordinate(v) { return Prelude.double(v); }

function readConfig(value) {
  const c = {};
  const src = isObject(value) ? value : {};
  for (const key of Object.keys(DEFAULT_CONFIG)) {
    const v = Prelude.double(src[key]);
    const range = CONFIG_RANGES[key];
    c[key] = v !== null && v >= range[0] && v <= range[1] ? v : DEFAULT_CONFIG[key];
  }
  return c;
}

function readDepot(value) {
  if (!isObject(value)) return null;
  const d = Object.assign({}, value);
  d.name = Prelude.string(value.name);
  d.lat = coordinate(value.lat);
  d.lon = coordinate(value.lon);
  d.window = Prelude.string(value.window);
  return d;
}

function readVehicle(value) {
  const v = Object.assign({}, value);
  for (const key of ["id", "ref", "zone"]) v[key] = Prelude.string(value[key]);
  v.shift = value.shift === undefined || value.shift === null ? DEFAULT_SHIFT : Prelude.string(value.shift);
  for (const key of ["capacity", "mileage"]) {
    const n = Prelude.double(value[key]);
    v[key] = n === null ? null : n;
  }
  v.use = value.use === undefined ? true : Prelude.bool(value.use);
  v.back = Prelude.bool(value.back);
  return v;
}

// Makes an order's stored members sound: numbers for coordinates and quantities, a sound list of the values that
// could not be read (a value given as a text that does not read as a number joins it). The object is changed in
// place: every caller hands a fresh one (just parsed, or built for the call).
function readOrder(o) {
  if ("_unread" in o) {
    const list = Array.isArray(o._unread) ? o._unread.filter(function (e) {
      return isObject(e) && UNREAD_KEYS.indexOf(e.key) >= 0 && typeof e.column === "string" && typeof e.text === "string";
    }) : [];
    if (list.length) o._unread = list; else delete o._unread;
  }
  for (const key of ["lat", "lon", "units", "serviceS", "sharedS"]) {
    if (!(key in o) || (typeof o[key] === "number" && isFinite(o[key]))) continue;
    if (!readableValue(key, o[key])) noteUnread(o, key, UNREAD_TITLES[key], Prelude.string(o[key]).trim());
    o[key] = Prelude.double(o[key]);
  }
  for (const key of ["window", "hardWindow"]) {
    if (!readableValue(key, o[key]) && !unreadEntries(o).some(function (e) { return e.key === key; })) {
      noteUnread(o, key, UNREAD_TITLES[key], Prelude.string(o[key]).trim());
    }
  }
  if (!("lat" in o)) o.lat = null;
  if (!("lon" in o)) o.lon = null;
  return o;
}

function newID(doc) {
  doc.nextOrderNo += 1;
  return doc.planToken + "-" + doc.nextOrderNo;
}

// Gives every order a unique, non-empty "_nativeID"; ids already given are kept (the first holder keeps a duplicate).
// The counter first moves past every id of the plan's token, so that no id is issued twice.
function ensureIDs(doc) {
  const prefix = doc.planToken + "-";
  for (const o of doc.orders) {
    if (typeof o._nativeID !== "string" || o._nativeID.indexOf(prefix) !== 0) continue;
    const n = Number(o._nativeID.slice(prefix.length));
    if (Number.isInteger(n) && n > doc.nextOrderNo && n < 9007199254740991) doc.nextOrderNo = n;
  }
  const seen = new Set();
  for (const o of doc.orders) {
    const id = typeof o._nativeID === "string" ? o._nativeID : "";
    if (id !== "" && !seen.has(id)) { seen.add(id); continue; }
    let fresh;
    do { fresh = newID(doc); } while (seen.has(fresh));
    o._nativeID = fresh;
    seen.add(fresh);
  }
}

function emptyDocument(routeDate) {
  return {
    orders: [], vehicles: [], depot: null, config: readConfig(null), routes: [], unassigned: [], planned: false,
    revision: 0, routeDate: Prelude.isDay(routeDate) ? routeDate : "", fileName: "", sourceKind: "",
    roadLegs: {}, planToken: Prelude.token(), nextOrderNo: 0, workbook: "", workbookRef: "", importSummary: ""
  };
}

// The next revision: never repeats within this engine, also across loads.
function bump(doc) {
  doc.revision = Math.max(doc.revision, plannerState.lastRevision) + 1;
  plannerState.lastRevision = doc.revision;
}

// Reads any shape the program may hand to "load" and never throws on content: an archive of any version, a new
// plan, the demo workbook, a bare {"routeDate"}. What cannot be used is dropped.
// The name of a workspace cache entry that holds a source workbook (the program stores it there once).
const WORKBOOK_REF = /^history-workbook-[0-9a-f]{64}$/;

function readDocument(input) {
  const src = isObject(input) ? input : {};
  const doc = emptyDocument(typeof src.routeDate === "string" ? src.routeDate : "");
  doc.fileName = Prelude.string(src.fileName);
  doc.sourceKind = Prelude.string(src.sourceKind);
  // The source workbook travels inline, or as the name of the cache entry that holds it (then never inline too).
  doc.workbookRef = typeof src.workbookRef === "string" && WORKBOOK_REF.test(src.workbookRef) ? src.workbookRef : "";
  doc.workbook = !doc.workbookRef && typeof src.workbook === "string" ? src.workbook : "";
  doc.importSummary = Prelude.string(src.importSummary);
  if (typeof src.planToken === "string" && /^[0-9a-z]+$/.test(src.planToken)) doc.planToken = src.planToken;
  const counter = Prelude.int(src.nextOrderNo);
  if (counter !== null && counter > 0 && counter < 9007199254740991) doc.nextOrderNo = counter;
  doc.orders = Array.isArray(src.orders) ? src.orders.filter(isObject).map(readOrder) : [];
  // Coordinates that came with the plan itself (the demo, older plans) are the file's.
  for (const o of doc.orders) {
    if (hasPoint(o) && (o.source === undefined || o.source === null || o.source === "")) o.source = "file";
  }
  doc.vehicles = Array.isArray(src.vehicles) ? src.vehicles.filter(isObject).map(readVehicle) : [];
  doc.depot = readDepot(src.depot);
  doc.config = readConfig(src.config);
  if (isObject(src.roadLegs)) {
    for (const key of Object.keys(src.roadLegs)) {
      const leg = src.roadLegs[key];
      if (!isObject(leg)) continue;
      const km = Prelude.double(leg.km), min = Prelude.double(leg.min);
      if (km !== null && min !== null && km >= 0 && min >= 0) doc.roadLegs[key] = { km: km, min: min };
    }
  }
  ensureIDs(doc);
  const rev = Prelude.int(src.revision);
  doc.revision = rev !== null && rev > 0 && rev < 9007199254740000 ? rev : 0;
  // Routes are kept only when they fit the orders and vehicles exactly; otherwise the plan is not calculated.
  const memberships = Prelude.bool(src.planned) ? readRoutes(src.routes, doc) : null;
  if (memberships) {
    doc.planned = true;
    setRoutes(doc, memberships);
  } else {
    doc.planned = false;
    setRoutes(doc, []);
  }
  return doc;
}

// Route memberships [{ci, orders}] from stored routes, or null when any of them does not fit the document.
function readRoutes(routes, doc) {
  if (!Array.isArray(routes)) return null;
  const used = new Set(), cis = new Set();
  const out = [];
  for (const r of routes) {
    if (!isObject(r) || !Array.isArray(r.orders)) return null;
    const ci = r.ci;
    if (!Number.isInteger(ci) || ci < 0 || ci >= doc.vehicles.length || cis.has(ci)) return null;
    cis.add(ci);
    const list = [];
    for (const i of r.orders) {
      if (!Number.isInteger(i) || i < 0 || i >= doc.orders.length || used.has(i)) return null;
      if (!hasPoint(doc.orders[i])) return null;
      used.add(i);
      list.push(i);
    }
    if (list.length) out.push({ ci: ci, orders: list });
  }
  return out;
}

// The document as the program sees it. Transient members are added by the caller of one action only.
function publicDocument(doc, extra) {
  const out = {
    orders: doc.orders,
    vehicles: doc.vehicles,
    depot: doc.depot,
    config: doc.config,
    routes: doc.routes,
    unassigned: doc.unassigned,
    planned: doc.planned,
    revision: doc.revision,
    routeDate: doc.routeDate,
    fileName: doc.fileName,
    routingQuota: ROUTING_QUOTA
  };
  if (doc.sourceKind) out.sourceKind = doc.sourceKind;
  // What the import of the plan's workbook found, for the checks.
  if (doc.importSummary) out.importSummary = doc.importSummary;
  if (extra) {
    for (const key of Object.keys(extra)) {
      if (extra[key] !== undefined && extra[key] !== "") out[key] = extra[key];
    }
  }
  return out;
}

function archiveOf(doc) {
  return {
    format: ARCHIVE_FORMAT,
    version: ARCHIVE_VERSION,
    routeDate: doc.routeDate,
    fileName: doc.fileName,
    sourceKind: doc.sourceKind,
    orders: doc.orders,
    vehicles: doc.vehicles,
    depot: doc.depot,
    config: doc.config,
    // Memberships are enough: "load" derives the rest again.
    routes: doc.routes.map(function (r) { return { ci: r.ci, orders: r.orders }; }),
    unassigned: doc.unassigned,
    planned: doc.planned,
    revision: doc.revision,
    roadLegs: doc.roadLegs,
    planToken: doc.planToken,
    nextOrderNo: doc.nextOrderNo,
    workbook: doc.workbook,
    workbookRef: doc.workbookRef || undefined,
    importSummary: doc.importSummary
  };
}

// The current document; a fresh engine starts with an empty plan so that no action meets a missing one.
function current() {
  if (!plannerState.doc) plannerState.doc = emptyDocument("");
  return plannerState.doc;
}

// Installs a changed document: recomputes every derived value, bumps the revision, returns the public document.
// `extra` holds the transient result members, or is a function of the orders that left their routes giving them.
function commit(doc, extra) {
  const dropped = recompute(doc);
  bump(doc);
  plannerState.doc = doc;
  return publicDocument(doc, typeof extra === "function" ? extra(dropped) : extra);
}
