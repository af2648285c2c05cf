// Fixtures of the planner benchmarks, evaluated in the same context as the components.

// A deterministic plan of n orders over Moscow, already routed, that can be published: each of the v vehicles
// takes a run of consecutive orders around a point of its own (a neighbourhood of about a kilometre), so every
// route ends within its day.
function benchPlan(n, v) {
  let seed = 7;
  const rnd = function () { seed = (seed * 1103515245 + 12345) % 2147483648; return seed / 2147483648; };
  const vehicles = [], routes = [], centres = [];
  for (let k = 0; k < v; k++) {
    vehicles.push({ id: "courier" + k, ref: "Курьер " + k, shift: "08:00-20:00", zone: "", capacity: null, mileage: null,
      use: true, back: k % 2 === 0 });
    routes.push({ ci: k, orders: [] });
    centres.push([55.6 + rnd() * 0.3, 37.45 + rnd() * 0.35]);
  }
  const windows = ["09:00-18:00", "10:00-14:00", "12:00-16:00", "14:00-19:00", ""];
  const perVehicle = Math.ceil(n / v);
  const orders = [];
  for (let i = 0; i < n; i++) {
    const k = Math.floor(i / perVehicle);
    orders.push({ id: String(100000 + i), title: "Клиент " + i, address: "Москва, улица " + (i % 700) + ", " + (i % 50 + 1),
      phone: "+7 900 " + (1000000 + i), window: windows[i % windows.length], units: 1 + i % 5,
      lat: centres[k][0] + (rnd() - 0.5) * 0.01, lon: centres[k][1] + (rnd() - 0.5) * 0.016, hardWindow: "",
      serviceS: null, sharedS: null, comments: "", instructions: "Позвонить за час", source: "file", qc: "file" });
    routes[k].orders.push(i);
  }
  return { routeDate: "2026-09-22", fileName: "Заказы.xlsx", depot: { name: "Склад", lat: 55.75, lon: 37.6, window: "08:00-20:00" },
    vehicles: vehicles, orders: orders, routes: routes, planned: true, revision: 1 };
}

function benchLoadPlan(n, v) {
  return Native.run(JSON.stringify({ action: "load", payload: benchPlan(n, v) })).length;
}

// The request text of the next call of an action on the current plan; alternates so that each call changes it.
let benchTurn = 0;
function benchRequest(action) {
  benchTurn++;
  const req = function (payload) { return JSON.stringify({ action: action, payload: payload }); };
  switch (action) {
    case "archive": case "payload": case "pendingLegs": return req({});
    case "date": return req({ date: benchTurn % 2 ? "2026-09-23" : "2026-09-22" });
    case "depot": return req({ name: "Склад", lat: 55.75, lon: benchTurn % 2 ? 37.6 : 37.61, window: "08:00-20:00" });
    case "config": return req({ CITY_KMH: benchTurn % 2 ? 25 : 30, ROAD_FACTOR: 1.3, SERVICE_MIN: 10, LATE_TOL_MIN: 15 });
    case "vehicle": return req({ index: 3, vehicle: { id: "courier3", ref: "Курьер " + benchTurn, shift: "08:00-20:00", zone: "",
      capacity: null, mileage: null, use: true, back: false } });
    case "order": return req({ index: 17, changes: { title: "Клиент " + benchTurn, comments: "правка" } });
    case "assign": return req({ indices: [1, 2, 3, 4, 5], vehicle: benchTurn % 2 ? 7 : 9 });
    case "addOrder": return req({ order: { id: "NEW-" + benchTurn, title: "Новый", address: "Москва, Арбат, 10", phone: "",
      window: "09:00-18:00", units: 1, lat: 55.7502, lon: 37.5932, hardWindow: "", serviceS: null, sharedS: null, comments: "", instructions: "" } });
    case "deleteOrders": return req({ indices: [benchState().orders.length - 1] });
    case "reorder": {
      const r = benchState().routes[0];
      return req({ vehicle: r.ci, indices: r.orders.slice().reverse() });
    }
    case "restoreAssignments": {
      const doc = benchState();
      return req({ routes: doc.routes, unassigned: doc.unassigned, expectedRevision: doc.revision, generation: "bench" });
    }
    case "roads": {
      const legs = JSON.parse(Native.run(JSON.stringify({ action: "pendingLegs", payload: {} }))).legs;
      return req({ legs: [{ from: legs[0][0], to: legs[0][1], km: 1.5, min: 4 }] });
    }
    case "geocodeBatch": {
      const doc = benchState();
      const edits = [];
      for (let k = 0; k < 12; k++) {
        const o = doc.orders[100 + k];
        edits.push({ id: o._nativeID, address: o.address, expected: [o.lat, o.lon, o.source === undefined ? null : o.source],
          changes: { lat: o.lat, lon: o.lon + (benchTurn % 2 ? 1e-5 : -1e-5), source: "osm", qc: "0", found: o.address } });
      }
      return req({ edits: edits });
    }
    case "sheet": {
      const rows = [["Номер", "Клиент", "Адрес", "Телефон", "Окно", "Мест", "Широта", "Долгота"]];
      for (let i = 0; i < 500; i++) rows.push([String(i), "Клиент " + i, "Москва, улица " + i, "+7 900", "09:00-18:00", 2, 55.7, 37.6]);
      return req({ rows: rows, name: "Заказы", fileName: "Заказы.xlsx" });
    }
    case "zones": return req({ zones: [{ name: "Центр", vehicle: "courier1", color: "#ff0000", isHidden: false,
      points: [[55.7, 37.5], [55.8, 37.5], [55.8, 37.7], [55.7, 37.7]] }] });
    case "identity": return req({ companyId: "c-1", author: "Иванова Анна" });
    case "load": return req(benchState());
  }
  throw new Error("no request for " + action);
}

// The current plan as the archive gives it.
function benchState() {
  return JSON.parse(Native.run(JSON.stringify({ action: "archive", payload: {} })));
}

// An order workbook of about `bytes` bytes, stored without compression (the size the open panel allows is what a
// file on disk may have), as Base64.
function benchWorkbook(bytes) {
  const make = function (rows) {
    const aoa = [["Номер заказа", "Клиент", "Адрес", "Телефон", "Временное окно", "Количество мест", "Широта", "Долгота",
      "Комментарий логиста", "Инструкция курьеру"]];
    for (let i = 0; i < rows; i++) {
      aoa.push([String(200000 + i), "ООО Клиент " + i, "Москва, улица " + (i % 900) + ", дом " + (i % 70 + 1) + ", офис " + (i % 30),
        "+7 (900) " + (1000000 + i), "09:00-18:00", 1 + i % 7, 55.55 + (i % 4000) / 10000, 37.35 + (i % 5500) / 10000,
        "Комментарий к заказу " + i, "Позвонить за час до приезда"]);
    }
    const wb = XLSX.utils.book_new();
    XLSX.utils.book_append_sheet(wb, XLSX.utils.aoa_to_sheet(aoa), "Заказы");
    return XLSX.write(wb, { type: "base64", bookType: "xlsx", compression: false });
  };
  let rows = 2000;
  let b64 = make(rows);
  const size = function (t) { return Math.floor(t.length * 3 / 4); };
  rows = Math.floor(rows * bytes / size(b64) * 0.98);
  b64 = make(rows);
  while (size(b64) > bytes) { rows = Math.floor(rows * 0.99); b64 = make(rows); }
  return b64;
}
