// Actions that edit the plan by index, the address batch, road legs and the editors' payloads.

function plan() {
  run("load", {
    routeDate: "2026-09-22",
    depot: { name: "Склад", lat: 55.7558, lon: 37.6176, window: "08:00-20:00" },
    vehicles: [
      { id: "V1", ref: "Тарен", shift: "09:00-18:00", use: true, back: true, capacity: 50, extra: "kept" },
      { id: "V2", ref: "Ведил", shift: "09:00-18:00", use: true, back: false, capacity: 50 }
    ],
    orders: [
      { id: "1", address: "a1", lat: 55.7606, lon: 37.6095, window: "09:00-12:00", units: 4 },
      { id: "2", address: "a2", lat: 55.7635, lon: 37.6185, window: "09:00-13:00", units: 6 },
      { id: "3", address: "a3", lat: 55.7632, lon: 37.6363, window: "10:00-14:00", units: 3 },
      { id: "4", address: "a4", lat: null, lon: null, window: "", units: 1 },
      { id: "5", address: "a5", lat: 55.7502, lon: 37.5932, window: "11:00-17:00", units: 2 }
    ]
  });
  return run("calculate");
}

function routeOf(doc, i) { return doc.routes.find(function (r) { return r.orders.indexOf(i) >= 0; }); }

test("deleteOrders renumbers routes, stops and the unassigned list", function () {
  const before = plan();
  const ids = before.orders.map(function (o) { return o._nativeID; });
  const doc = run("deleteOrders", { indices: [0, 2] });
  assertEqual(doc.orders.map(function (o) { return o._nativeID; }), [ids[1], ids[3], ids[4]]);
  assertEqual(doc.unassigned, [1], "the order without coordinates is now index 1");
  const all = [].concat.apply([], doc.routes.map(function (r) { return r.orders; })).sort();
  assertEqual(all, [0, 2]);
  doc.routes.forEach(function (r) { assertEqual(r.stops.map(function (s) { return s.index; }), r.orders); });
});

test("an out-of-range index refuses the whole call", function () {
  const before = plan();
  assertThrows(function () { run("deleteOrders", { indices: [0, 5] }); }, "План изменился. Обновите и повторите.");
  assertThrows(function () { run("deleteOrders", { indices: [1.5] }); }, "План изменился. Обновите и повторите.");
  assertThrows(function () { run("assign", { indices: [0, 9], vehicle: 1 }); }, "Заказ не найден в плане. Обновите план.");
  assertThrows(function () { run("assign", { indices: [0], vehicle: 2 }); }, "Машина не найдена в плане.");
  assertThrows(function () { run("order", { index: 7, changes: {} }); }, "Заказ не найден в плане. Обновите план.");
  assertThrows(function () { run("deleteOrders", { indices: [0], ids: ["other"] }); }, "План изменился. Обновите и повторите.");
  assertEqual(run("archive").orders.length, 5, "nothing was deleted");
  assertEqual(run("archive").revision, before.revision);
});

test("assign moves orders, takes them off with -1 and drops emptied routes", function () {
  const before = plan();
  const moved = run("assign", { indices: [0, 1, 2, 4], vehicle: 1 });
  assertEqual(moved.routes.length, 1);
  assertEqual(moved.routes[0].ci, 1);
  assertEqual(moved.routes[0].orders.slice().sort(), [0, 1, 2, 4]);
  const off = run("assign", { indices: [1], vehicle: -1 });
  assertEqual(off.orders[1]._rt, undefined);
  assertEqual(off.unassigned, [1, 3]);
  const noPoint = run("assign", { indices: [3], vehicle: 0 });
  assertEqual(noPoint.orders[3]._rt, undefined, "an order without coordinates stays where it is");
  assert(/Без координат/.test(noPoint.status), noPoint.status);
  assertEqual(run("assign", { indices: [], vehicle: 0 }).revision, noPoint.revision, "empty indices change nothing");
  run("load", { orders: [{ id: "1", lat: 55.7, lon: 37.6 }], vehicles: [{ id: "V" }] });
  assertThrows(function () { run("assign", { indices: [0], vehicle: 0 }); }, "Сначала рассчитайте маршруты.");
});

test("reorder accepts only a permutation of the route", function () {
  const doc = plan();
  const r = doc.routes[0];
  assert(r.orders.length >= 2, "a route with two stops");
  assertThrows(function () { run("reorder", { vehicle: r.ci, indices: r.orders.slice(1) }); }, "Порядок маршрута изменился. Повторите.");
  assertThrows(function () { run("reorder", { vehicle: r.ci, indices: [r.orders[0]].concat(r.orders.slice(0, -1)) }); }, "Порядок маршрута изменился. Повторите.");
  assertThrows(function () { run("reorder", { vehicle: null, indices: r.orders }); }, "Порядок маршрута изменился. Повторите.");
  const reversed = r.orders.slice().reverse();
  const after = run("reorder", { vehicle: r.ci, indices: reversed });
  const route = after.routes.find(function (x) { return x.ci === r.ci; });
  assertEqual(route.orders, reversed);
  assertEqual(after.orders[reversed[0]]._seq, "1");
});

test("vehicle -1 adds; a replace keeps the vehicle's other members and its route", function () {
  const doc = plan();
  run("assign", { indices: [0], vehicle: 0 });
  const edited = { id: "V1", ref: "Новое имя", shift: "08:00-17:00", zone: "", capacity: null, mileage: 40, use: true, back: true };
  const after = run("vehicle", { index: 0, vehicle: edited });
  assertEqual(after.vehicles[0].extra, "kept");
  assertEqual(after.vehicles[0].ref, "Новое имя");
  const r0 = after.routes.find(function (r) { return r.ci === 0; });
  assert(r0, "the first vehicle keeps its route");
  assertEqual(r0.vehicle.ref, "Новое имя");
  assertEqual(after.orders[r0.orders[0]]._drv, "Новое имя");
  const added = run("vehicle", { index: -1, vehicle: { id: "V3", ref: "Третий", shift: "09:00-18:00", zone: "", capacity: null, mileage: null, use: true, back: false } });
  assertEqual(added.vehicles.length, 3);
  assertThrows(function () { run("vehicle", { index: 3, vehicle: edited }); }, "Машина не найдена в плане.");
  assert(doc.routes.length > 0);
});

test("an order edit keeps the id and route; losing coordinates takes it off the route", function () {
  const doc = plan();
  const r = routeOf(doc, 0);
  const corrected = run("order", { index: 0, changes: { lat: 55.761, lon: 37.61, source: "manual", qc: "manual", found: "a1", _rt: 5 } });
  assertEqual([corrected.orders[0].lat, corrected.orders[0].lon], [55.761, 37.61]);
  assertEqual(corrected.orders[0]._nativeID, doc.orders[0]._nativeID);
  assertEqual(corrected.orders[0]._rt, r.ci, "the assignment stays");
  const lost = run("order", { index: 0, changes: { lat: null, lon: null } });
  assertEqual(lost.orders[0]._rt, undefined);
  assert(lost.unassigned.indexOf(0) >= 0);
  assert(/№1/.test(lost.status), lost.status);
  assertThrows(function () { run("order", { index: 1, changes: { id: "3" } }); }, "Заказ с номером «3» уже есть в плане.");
  assertThrows(function () { run("addOrder", { order: { id: "5", address: "x" } }); }, "Заказ с номером «5» уже есть в плане.");
  const added = run("addOrder", { order: { id: "NEW-1", address: "x", lat: null, lon: null } });
  assertEqual(added.orders.length, 6);
  assert(added.unassigned.indexOf(5) >= 0, "a new order starts unassigned");
});

// A value that could not be read stays noted on its order until an edit settles it: a value that reads clears the
// note, one that does not replaces it, emptying it on purpose clears it; coordinates found for the address clear
// the coordinate notes. A plan stored with such values (an older archive) is noted on loading.
test("an edit settles what could not be read on the order", function () {
  function notes(doc, i) { return (doc.orders[i]._unread || []).map(function (e) { return e.key + "=" + e.text; }); }
  let doc = run("load", { routeDate: "2026-09-22", orders: [
    { id: "1", address: "a1", lat: "55,7x", lon: 37.6, window: "18:00-09:00", units: "три", hardWindow: "строго" },
    { id: "2", address: "a2", lat: null, lon: null, window: "09:00-12:00",
      _unread: [{ key: "coordinates", column: "Координаты", text: "55.7 37.6 12" }, { key: "bogus", column: "x", text: "y" }] }
  ] });
  assertEqual(notes(doc, 0), ["window=18:00-09:00", "units=три", "lat=55,7x"], "in the order of the columns");
  assertEqual([doc.orders[0].units, doc.orders[0].lat], [null, null]);
  assertEqual(notes(doc, 1), ["coordinates=55.7 37.6 12"], "only sound notes are kept");

  const edit = function (i, changes) { return run("order", { index: i, changes: changes }); };
  doc = edit(0, { window: "09:00-18:00" });
  assertEqual(notes(doc, 0), ["units=три", "lat=55,7x"], "a window that reads clears its note");
  doc = edit(0, { window: "25:00-26:00", units: 4 });
  assertEqual(notes(doc, 0), ["window=25:00-26:00", "lat=55,7x"], "another unreadable window replaces the note");
  doc = edit(0, { lat: null, lon: null });
  assertEqual(notes(doc, 0), ["window=25:00-26:00"], "emptied on purpose");
  doc = edit(1, { lat: null, lon: null, title: "Кафе" });
  assertEqual(notes(doc, 1), ["coordinates=55.7 37.6 12"], "the coordinates note waits for a point");
  doc = run("geocodeBatch", { edits: [{ id: doc.orders[1]._nativeID, address: "a2", expected: [null, null, null],
    changes: { lat: 55.76, lon: 37.61, source: "osm", qc: "0" } }] });
  assert(!("_unread" in doc.orders[1]), "a point found for the address settles it");
  doc = run("addOrder", { order: { id: "3", address: "a3", window: "с утра", units: "пять", _unread: "x" } });
  assertEqual(notes(doc, 2), ["window=с утра", "units=пять"], "a new order is noted the same way");
});

test("geocodeBatch applies only matching edits and appliedIDs stays in its own result", function () {
  const doc = plan();
  const o3 = doc.orders[3], o0 = doc.orders[0];
  const edits = [
    { id: o3._nativeID, address: "a4", expected: [null, null, null], changes: { lat: 55.75, lon: 37.62, source: "osm", qc: "0", found: "Москва, a4" } },
    { id: o0._nativeID, address: "a1", expected: [1, 2, "file"], changes: { lat: 1, lon: 2, source: "osm", qc: "0", found: "x" } },
    { id: "missing", address: "a1", expected: [null, null, null], changes: { lat: 1, lon: 2 } },
    { id: doc.orders[1]._nativeID, address: "другой", expected: [doc.orders[1].lat, doc.orders[1].lon, doc.orders[1].source], changes: { lat: 1, lon: 2 } }
  ];
  const after = run("geocodeBatch", { edits: edits });
  assertEqual(after.appliedIDs, [o3._nativeID]);
  assertEqual([after.orders[3].lat, after.orders[3].source, after.orders[3].found], [55.75, "osm", "Москва, a4"]);
  assertEqual(after.orders[0].lat, o0.lat, "an edit whose expectation failed is left out");
  const next = run("date", { date: "2026-09-23" });
  assert(!("appliedIDs" in next) && !("status" in next), "transient keys do not outlive their action");
  assert(!("appliedIDs" in run("archive")));
  const none = run("geocodeBatch", { edits: [null, 5, {}] });
  assertEqual(none.appliedIDs, []);
  assertEqual(none.revision, next.revision, "nothing applied, nothing changed");
});

test("pendingLegs lists each unrefined leg once and roads removes it", function () {
  const doc = plan();
  const legs = run("pendingLegs").legs;
  assert(legs.length > 0);
  legs.forEach(function (leg) {
    assertEqual(leg.length, 2);
    leg.forEach(function (p) { assert(p.length === 2 && typeof p[0] === "number" && typeof p[1] === "number"); });
  });
  const first = legs[0];
  const after = run("roads", { legs: [{ from: first[0], to: first[1], km: 42, min: 99 }] });
  const remaining = run("pendingLegs").legs;
  assertEqual(remaining.length, legs.length - 1);
  assert(!remaining.some(function (l) { return JSON.stringify(l) === JSON.stringify(first); }));
  // The first leg listed is the drive from the depot to the first stop of a route.
  const route = after.routes.find(function (r) {
    const o = after.orders[r.orders[0]];
    return o.lat === first[1][0] && o.lon === first[1][1];
  });
  assert(route, "a route begins with the measured leg");
  assert(route.km >= 42, "the measured leg counts in the route's km");
  assert(after.revision > doc.revision);
  assertThrows(function () { run("roads", { legs: [{ from: [1], to: [2, 3], km: 1, min: 1 }] }); });
  run("load", run("archive"));
  assertEqual(run("pendingLegs").legs.length, legs.length - 1, "refined legs survive the archive");
});

test("pendingLegs names a leg that several routes drive only once", function () {
  run("load", {
    routeDate: "2026-09-22",
    depot: { name: "Склад", lat: 55.7558, lon: 37.6176, window: "08:00-20:00" },
    vehicles: [
      { id: "V1", ref: "Тарен", shift: "09:00-18:00", use: true, back: true, capacity: 50 },
      { id: "V2", ref: "Ведил", shift: "09:00-18:00", use: true, back: true, capacity: 50 }
    ],
    orders: [
      { id: "1", address: "a1", lat: 55.7606, lon: 37.6095, window: "09:00-18:00", units: 1 },
      { id: "2", address: "a1", lat: 55.7606, lon: 37.6095, window: "09:00-18:00", units: 1 }
    ]
  });
  run("calculate");
  run("assign", { indices: [0], vehicle: 0 });
  const doc = run("assign", { indices: [1], vehicle: 1 });
  assertEqual(doc.routes.length, 2, "one order on each route");
  const legs = run("pendingLegs").legs;
  const keys = legs.map(function (l) { return JSON.stringify(l); });
  assertEqual(keys.length, new Set(keys).size, "no leg is listed twice");
  assertEqual(legs.length, 2, "out from the depot and back, each once");
  run("roads", { legs: [{ from: legs[0][0], to: legs[0][1], km: 3, min: 9 }] });
  assertEqual(run("pendingLegs").legs, [legs[1]], "one refinement serves both routes");
});

test("depot and config are read leniently and checked", function () {
  plan();
  const d = run("depot", { name: "Склад 2", lat: "55,70", window: "-" });
  assertEqual(d.depot, { name: "Склад 2", lat: 55.7, lon: null, window: "-" });
  assertThrows(function () { run("calculate"); }, "Укажите склад с координатами.");
  assertThrows(function () { run("depot", { name: "x", lat: 91, lon: 10, window: "" }); }, "Координаты склада вне допустимого диапазона.");
  const c = run("config", { CITY_KMH: 200, ROAD_FACTOR: 5, SERVICE_MIN: 0, LATE_TOL_MIN: 240 });
  assertEqual(c.config, { CITY_KMH: 200, ROAD_FACTOR: 5, SERVICE_MIN: 0, LATE_TOL_MIN: 240 });
  assertThrows(function () { run("config", { CITY_KMH: 25, ROAD_FACTOR: 5.1, SERVICE_MIN: 0, LATE_TOL_MIN: 0 }); }, "Скорость: 1–200; коэффициент: 1–5; время: 0–240 минут.");
});
