// The planning document: the demo plan, archive round trips, damaged input, revisions and the transfer undo.

function demo() {
  return {
    sourceKind: "demo", routeDate: "2026-09-22", fileName: "Пример · локальные данные",
    depot: { name: "Склад", lat: 55.7558, lon: 37.6176, window: "08:00-20:00" },
    vehicles: [
      { id: "V1", ref: "Тарен", shift: "09:00-18:00", use: true, back: false, capacity: 50 },
      { id: "V2", ref: "Ведил", shift: "09:00-18:00", use: true, back: true, capacity: 50 }
    ],
    orders: [
      { id: "1001", title: "Кофейня", address: "Москва, Тверская улица, 6", lat: 55.7606, lon: 37.6095, window: "09:00-12:00", units: 4, qc: "file" },
      { id: "1002", title: "Магазин", address: "Москва, улица Петровка, 12", lat: 55.7635, lon: 37.6185, window: "09:00-13:00", units: 6, qc: "file" },
      { id: "1003", title: "Ресторан", address: "Москва, Мясницкая улица, 20", lat: 55.7632, lon: 37.6363, window: "10:00-14:00", units: 3, qc: "file" },
      { id: "1004", title: "Пекарня", address: "Москва, Покровка, 12", lat: 55.7596, lon: 37.6464, window: "09:00-16:00", units: 8, qc: "file" },
      { id: "1005", title: "Офис", address: "Москва, улица Арбат, 10", lat: 55.7502, lon: 37.5932, window: "11:00-17:00", units: 2, qc: "file" }
    ]
  };
}

// The invariants every reader of the document relies on.
function checkInvariants(doc) {
  const ids = new Set();
  doc.orders.forEach(function (o) {
    assert(typeof o._nativeID === "string" && o._nativeID !== "", "every order has an id");
    assert(!ids.has(o._nativeID), "ids are unique");
    ids.add(o._nativeID);
  });
  const onRoute = new Map();
  doc.routes.forEach(function (r) {
    assert(Number.isInteger(r.ci) && r.ci >= 0 && r.ci < doc.vehicles.length, "ci within vehicles");
    assertEqual(r.stops.map(function (s) { return s.index; }), r.orders, "stops follow the orders");
    assertEqual(r.vehicle.ref, doc.vehicles[r.ci].ref);
    r.orders.forEach(function (i, k) {
      assert(!onRoute.has(i), "order " + i + " on one route only");
      onRoute.set(i, r.ci);
      const o = doc.orders[i];
      assertEqual(o._rt, r.ci);
      assertEqual(o._drv, doc.vehicles[r.ci].ref);
      assertEqual(o._seq, String(k + 1));
      assertEqual(o._arr, r.stops[k].arr);
    });
    [r.km, r.end, r.over].forEach(function (n) { assert(typeof n === "number" && isFinite(n), "finite totals"); });
  });
  const unassigned = [];
  doc.orders.forEach(function (o, i) {
    if (onRoute.has(i)) return;
    unassigned.push(i);
    assertEqual([o._rt, o._drv, o._arr, o._seq], [undefined, undefined, undefined, undefined], "an order on no route has none");
  });
  assertEqual(doc.unassigned, unassigned, "unassigned is every other order");
  if (!doc.planned) assertEqual(doc.routes, []);
  assert(Number.isInteger(doc.revision) && doc.revision > 0, "whole revision");
}

test("the demo plan is calculated with every order routed and no stop late", function () {
  run("load", demo());
  const doc = run("calculate");
  checkInvariants(doc);
  assertEqual(doc.planned, true);
  assertEqual(doc.unassigned, []);
  assertEqual(doc.orders.filter(function (o) { return o._rt !== undefined; }).length, 5);
  doc.routes.forEach(function (r) {
    assertEqual(r.over, 0, "route " + r.ci + " finishes on time");
    r.stops.forEach(function (s) { assertEqual(s.late, 0, "stop of order " + s.index); });
  });
  assert(/^Маршруты рассчитаны: \d+, не назначено заказов: 0\.$/.test(doc.status), doc.status);
  assertEqual(doc.routingQuota, 1000);
  assertEqual(doc.orders[0].source, "file", "file coordinates are marked so");
});

test("calculating twice gives the same routes", function () {
  run("load", demo());
  const a = run("calculate");
  const b = run("calculate");
  assertEqual(b.routes, a.routes);
});

test("archive then load keeps orders, routes and ids and raises the revision", function () {
  run("load", demo());
  const calculated = run("calculate");
  const archive = run("archive");
  assertEqual(archive.format, "planner-archive");
  assertEqual(archive.routeDate, "2026-09-22");
  assertEqual(archive.workbook, "");
  assert(!("status" in archive) && !("routingQuota" in archive), "no transient keys in the archive");
  const loaded = run("load", archive);
  checkInvariants(loaded);
  assertEqual(loaded.orders, calculated.orders);
  assertEqual(loaded.routes, calculated.routes);
  assert(loaded.revision > calculated.revision, "revision grows across a load");
  // A fresh engine gets the same plan from the cached archive.
  assertEqual(run("archive").orders.map(function (o) { return o._nativeID; }), archive.orders.map(function (o) { return o._nativeID; }));
});

test("a damaged archive loads as a salvaged or empty plan without throwing", function () {
  const broken = [
    null, 7, "text", [], { routeDate: "2026-03-05" },
    { orders: "x", vehicles: {}, depot: [], config: 5, routes: 1, planned: "yes", revision: "abc" },
    { orders: [null, 3, { id: "1", lat: "55,75", lon: "37,61" }], planned: true, routes: [{ ci: 9, orders: [0] }] },
    { orders: [{ id: "1", lat: 55.7, lon: 37.6 }], vehicles: [{ id: "V" }], planned: true, routes: [{ ci: 0, orders: [0, 0] }] }
  ];
  broken.forEach(function (input, k) {
    const doc = run("load", input);
    checkInvariants(doc);
    assertEqual(doc.config, { CITY_KMH: 25, ROAD_FACTOR: 1.3, SERVICE_MIN: 10, LATE_TOL_MIN: 15 }, "defaults " + k);
  });
  const salvaged = run("load", broken[6]);
  assertEqual(salvaged.orders.length, 1);
  assertEqual([salvaged.orders[0].lat, salvaged.orders[0].lon], [55.75, 37.61], "decimal commas read");
  assertEqual(salvaged.planned, false, "routes that do not fit are dropped");
  assertEqual(run("load", broken[4]).routeDate, "2026-03-05");
});

test("a plan the component cannot read whole is refused and the current one stays", function () {
  run("load", demo());
  const before = run("archive");
  const unreadable = { routeDate: "2026-03-05" };
  Object.defineProperty(unreadable, "orders", { get: function () { throw new Error("сбой чтения"); } });
  assertThrows(function () { PlannerCore.actions.load(unreadable); },
               "План не удалось прочитать целиком. Текущий план не изменён.");
  assertEqual(run("archive"), before, "the document in use is untouched");
});

test("a new plan keeps vehicles, depot and parameters; ids never repeat", function () {
  run("load", demo());
  const old = run("calculate");
  const fresh = run("load", { orders: [], vehicles: old.vehicles, depot: old.depot, config: null, routeDate: "2026-09-23" });
  assertEqual(fresh.vehicles, old.vehicles);
  assertEqual(fresh.depot, old.depot);
  assertEqual(fresh.config.ROAD_FACTOR, 1.3);
  assertEqual(fresh.routes, []);
  assertEqual(fresh.planned, false);
  const added = run("addOrder", { order: { id: "1", address: "a", _nativeID: "forged" } });
  assert(added.orders[0]._nativeID !== "forged", "the component assigns ids");
  // A stored plan whose counter was lost still never issues an id twice.
  run("load", { planToken: "abc", orders: [{ id: "1", _nativeID: "abc-2" }, { id: "2", _nativeID: "abc-3" }, { id: "3" }] });
  const more = run("addOrder", { order: { id: "4", address: "b" } });
  const ids = more.orders.map(function (o) { return o._nativeID; });
  assertEqual(new Set(ids).size, 4, JSON.stringify(ids));
});

test("every change bumps the revision, reads do not, and a revision never repeats across loads", function () {
  const seen = new Set();
  function fresh(doc) {
    assert(!seen.has(doc.revision), "revision " + doc.revision + " repeats");
    seen.add(doc.revision);
    return doc;
  }
  let doc = fresh(run("load", demo()));
  doc = fresh(run("calculate"));
  const before = doc.revision;
  run("archive"); run("payload"); run("pendingLegs"); run("export", { kind: "working" });
  assertEqual(run("date", { date: "2026-09-22" }).revision, before, "the same day changes nothing");
  assertEqual(run("archive").revision, before, "reads keep the revision");
  fresh(run("date", { date: "2026-09-24" }));
  fresh(run("config", { CITY_KMH: 30, ROAD_FACTOR: 1.2, SERVICE_MIN: 5, LATE_TOL_MIN: 10 }));
  const archive = run("archive");
  fresh(run("load", archive));
  fresh(run("load", archive));
  fresh(run("load", { routeDate: "2026-01-01" }));
});

test("a transfer with a stale revision is refused and its undo restores the routes", function () {
  run("load", demo());
  const planned = run("calculate");
  const from = planned.routes[0];
  const moved = from.orders[0];
  const target = from.ci === 0 ? 1 : 0;
  assertThrows(function () { run("assign", { indices: [moved], vehicle: target, expectedRevision: planned.revision - 1 }); },
    "План изменился. Повторите перенос.");
  const after = run("assign", { indices: [moved], vehicle: target, expectedRevision: planned.revision });
  checkInvariants(after);
  assertEqual(after.orders[moved]._rt, target, "the moved order is on the target vehicle");
  assert(after.revision !== planned.revision);
  const record = { routes: planned.routes, unassigned: planned.unassigned, expectedRevision: after.revision, generation: "g" };
  assertThrows(function () { run("restoreAssignments", Object.assign({}, record, { expectedRevision: after.revision + 100 })); },
    "План изменился. Повторите перенос.");
  const restored = run("restoreAssignments", record);
  checkInvariants(restored);
  assertEqual(restored.routes, planned.routes);
  assertEqual(restored.unassigned, planned.unassigned);
  assertEqual(restored.orders.map(function (o) { return o._rt; }), planned.orders.map(function (o) { return o._rt; }));
  assert(restored.revision > after.revision);
});

test("calculate refuses without a depot point or a vehicle on duty", function () {
  const d = demo();
  d.depot.lon = null;
  run("load", d);
  assertThrows(function () { run("calculate"); }, "Укажите склад с координатами.");
  const e = demo();
  e.vehicles.forEach(function (v) { v.use = false; });
  run("load", e);
  assertThrows(function () { run("calculate"); }, "Нет машин на смене. Добавьте транспорт или включите «На смене».");
  run("load", { routeDate: "2026-09-22" });
  const empty = run("calculate");
  assertEqual([empty.planned, empty.routes], [true, []]);
});
