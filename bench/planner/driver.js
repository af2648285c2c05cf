// Benchmark driver, evaluated after the core bundle in the harness's JavaScriptCore context. It builds solver
// problems (classic VRPTW instances, generated city days around Moscow), calls PlannerCore.solve, checks the plan
// with a checker of its own and returns one JSON text per run.

// ---- independent plan checker -----------------------------------------------------------------------------------
// Recomputes every route from the problem and returns the list of broken hard constraints (empty when none).
function benchCheck(problem, solution) {
  const n = problem.n, faults = [], seen = new Uint8Array(problem.jobs.length);
  let km = 0, late = 0, minutes = 0;
  solution.routes.forEach(function (route, v) {
    const veh = problem.vehicles[v];
    let t = veh.start, prev = 0, load = 0, dist = 0;
    route.forEach(function (j) {
      const job = problem.jobs[j];
      if (seen[j]) faults.push("job " + j + " twice");
      seen[j] = 1;
      if (job.vehicles && job.vehicles.indexOf(v) < 0) faults.push("job " + j + " outside its vehicles");
      const a = t + problem.time[prev * n + job.node];
      const limit = job.end + (job.hard ? 0 : job.tolerance);
      if (a > limit + 1e-6) faults.push("job " + j + " arrives " + a.toFixed(2) + " after " + limit);
      if (a > job.end) late += a - job.end;
      t = Math.max(a, job.start) + job.service;
      dist += problem.dist[prev * n + job.node];
      load += job.demand;
      prev = job.node;
    });
    if (route.length === 0) return;
    if (veh.returnToDepot) { t += problem.time[prev * n]; dist += problem.dist[prev * n]; }
    if (t > veh.end + 1e-6) faults.push("vehicle " + v + " ends " + t.toFixed(2) + " after its shift " + veh.end);
    if (load > veh.capacity + 1e-9) faults.push("vehicle " + v + " carries " + load + " over " + veh.capacity);
    if (dist > veh.maxKm + 1e-6) faults.push("vehicle " + v + " drives " + dist.toFixed(2) + " over " + veh.maxKm);
    km += dist;
    minutes += t - veh.start;
  });
  solution.unassigned.forEach(function (u) { if (seen[u.job]) faults.push("job " + u.job + " both routed and unassigned"); seen[u.job] = 1; });
  seen.forEach(function (s, j) { if (!s) faults.push("job " + j + " missing"); });
  return { faults: faults, km: km, late: late, minutes: minutes };
}

// ---- classic VRPTW instances ------------------------------------------------------------------------------------
// rows: [[number, x, y, demand, ready, due, service], ...], the depot first. Unrounded Euclidean distances,
// travel time = distance. A large fixed cost per vehicle makes the vehicle count the first aim.
function benchSolomon(rows, fleet, capacity, budgetMs, seed) {
  const n = rows.length, time = new Float64Array(n * n);
  for (let i = 0; i < n; i++)
    for (let j = 0; j < n; j++) time[i * n + j] = Math.sqrt(Math.pow(rows[i][1] - rows[j][1], 2) + Math.pow(rows[i][2] - rows[j][2], 2));
  const jobs = [];
  for (let k = 1; k < n; k++)
    jobs.push({ node: k, demand: rows[k][3], service: rows[k][6], start: rows[k][4], end: rows[k][5], hard: true, tolerance: 0, vehicles: null });
  const vehicles = [];
  for (let v = 0; v < fleet; v++)
    vehicles.push({ start: rows[0][4], end: rows[0][5], capacity: capacity, maxKm: Infinity, returnToDepot: true, fixedCost: 100000 });
  const problem = { n: n, time: time, dist: time, jobs: jobs, vehicles: vehicles, costPerKm: 1, costPerMin: 0, seed: seed, budgetMs: budgetMs,
    triangle: true };
  return benchRun(problem);
}

function benchRun(problem) {
  const t0 = Date.now();
  const solution = PlannerCore.solve(problem);
  const seconds = (Date.now() - t0) / 1000;
  const check = benchCheck(problem, solution);
  const reasons = {};
  solution.unassigned.forEach(function (u) { reasons[u.reason] = (reasons[u.reason] || 0) + 1; });
  return JSON.stringify({
    vehicles: solution.vehiclesUsed, distance: solution.distance, lateness: solution.lateness, seconds: seconds,
    unassigned: solution.unassigned.length, reasons: reasons, faults: check.faults.slice(0, 5), faultCount: check.faults.length,
    checkedKm: check.km,
  });
}

// ---- generated city days around Moscow --------------------------------------------------------------------------
// A day of `orders` orders as a planning document (the keys the planner document uses): a depot in the south-east,
// orders scattered over the city in a few dense districts and the spread in between, windows of two to four hours
// (a third of them hard), a few places each, vehicles with shifts, capacities, some with a mileage limit, some
// returning to the depot. Deterministic for a given seed.
function benchCityDay(orders, seed) {
  let s = seed >>> 0 || 1;
  function rnd() { s = (Math.imul(s, 1664525) + 1013904223) >>> 0; return s / 4294967296; }
  function hhmm(m) { const h = Math.floor(m / 60), mm = Math.round(m % 60); return (h < 10 ? "0" : "") + h + ":" + (mm < 10 ? "0" : "") + mm; }
  const centre = { lat: 55.7522, lon: 37.6156 };
  const districts = [];
  for (let i = 0; i < 8; i++) {
    const r = 0.04 + 0.12 * rnd(), a = 2 * Math.PI * rnd();
    districts.push({ lat: centre.lat + r * Math.sin(a) * 0.6, lon: centre.lon + r * Math.cos(a), spread: 0.01 + 0.02 * rnd() });
  }
  const list = [];
  for (let i = 0; i < orders; i++) {
    let lat, lon;
    if (rnd() < 0.7) {
      const d = districts[Math.floor(rnd() * districts.length)];
      lat = d.lat + (rnd() - 0.5) * d.spread * 1.2; lon = d.lon + (rnd() - 0.5) * d.spread * 2;
    } else {
      const r = 0.18 * Math.sqrt(rnd()), a = 2 * Math.PI * rnd();
      lat = centre.lat + r * Math.sin(a) * 0.6; lon = centre.lon + r * Math.cos(a);
    }
    const startMin = 9 * 60 + 30 * Math.floor(rnd() * 16), width = 120 + 60 * Math.floor(rnd() * 3);
    const endMin = Math.min(startMin + width, 21 * 60);
    list.push({ id: "G-" + (i + 1), title: "Клиент " + (i + 1), address: "Москва, адрес " + (i + 1), lat: +lat.toFixed(6), lon: +lon.toFixed(6),
      window: hhmm(startMin) + "-" + hhmm(endMin), hardWindow: rnd() < 0.33 ? "Да" : "", units: 1 + Math.floor(rnd() * 4),
      serviceS: rnd() < 0.2 ? 300 + 60 * Math.floor(rnd() * 20) : null });
  }
  const vehicleCount = Math.max(2, Math.ceil(orders / 14));
  const vehicles = [];
  for (let v = 0; v < vehicleCount; v++) {
    const early = rnd() < 0.5;
    vehicles.push({ id: "courier" + (v + 1), ref: "Курьер " + (v + 1), shift: early ? "08:00-20:00" : "09:00-21:00",
      capacity: 30 + 10 * Math.floor(rnd() * 4), mileage: rnd() < 0.3 ? 200 : null, use: true, back: rnd() < 0.5, zone: "" });
  }
  return { depot: { name: "Склад", lat: 55.6900, lon: 37.7400, window: "07:00-22:00" }, vehicles: vehicles, orders: list,
    config: { CITY_KMH: 25, ROAD_FACTOR: 1.3, SERVICE_MIN: 10, LATE_TOL_MIN: 15 } };
}

// The checker's own model of a city day, written apart from the planner's: great-circle km times the road factor,
// minutes at the average city speed, one node per order, job k = order k, vehicle v = the document's vehicle v.
function benchCityProblem(doc, budgetMs, seed) {
  const cfg = doc.config, pts = [doc.depot].concat(doc.orders), n = pts.length;
  const dist = new Float64Array(n * n), time = new Float64Array(n * n);
  const rad = Math.PI / 180;
  for (let i = 0; i < n; i++)
    for (let j = i + 1; j < n; j++) {
      const dLat = (pts[j].lat - pts[i].lat) * rad, dLon = (pts[j].lon - pts[i].lon) * rad;
      const h = Math.pow(Math.sin(dLat / 2), 2) + Math.cos(pts[i].lat * rad) * Math.cos(pts[j].lat * rad) * Math.pow(Math.sin(dLon / 2), 2);
      const km = 2 * 6371 * Math.asin(Math.min(1, Math.sqrt(h))) * cfg.ROAD_FACTOR;
      dist[i * n + j] = dist[j * n + i] = km;
      time[i * n + j] = time[j * n + i] = km / cfg.CITY_KMH * 60;
    }
  function minutes(text) { const p = text.split(":"); return +p[0] * 60 + +p[1]; }
  const jobs = doc.orders.map(function (o, k) {
    const w = o.window.split("-"), hard = o.hardWindow === "Да";
    return { node: k + 1, demand: o.units == null ? 1 : o.units, service: o.serviceS != null ? o.serviceS / 60 : cfg.SERVICE_MIN,
      start: minutes(w[0]), end: minutes(w[1]), hard: hard, tolerance: hard ? 0 : cfg.LATE_TOL_MIN, vehicles: null };
  });
  const open = minutes(doc.depot.window.split("-")[0]), close = minutes(doc.depot.window.split("-")[1]);
  // A courier who comes back is back before the depot closes.
  const vehicles = doc.vehicles.map(function (v) {
    const w = v.shift.split("-");
    return { start: Math.max(minutes(w[0]), open), end: Math.min(minutes(w[1]), v.back ? close : Infinity),
      capacity: v.capacity == null ? Infinity : v.capacity,
      maxKm: v.mileage == null ? Infinity : v.mileage, returnToDepot: !!v.back, fixedCost: 1000 };
  });
  return { n: n, time: time, dist: dist, jobs: jobs, vehicles: vehicles, costPerKm: 1, costPerMin: 0.5, seed: seed, budgetMs: budgetMs };
}

// The generation seed of a city day of `orders` orders.
function benchCitySeed(orders) { return 20240601 + orders; }

// The "load" payload of a generated day: the planning document as the program hands it over.
function benchCityPayload(orders) {
  const day = benchCityDay(orders, benchCitySeed(orders));
  day.routeDate = "2026-12-09";
  day.fileName = "bench-" + orders + ".json";
  return JSON.stringify(day);
}

// Checks the document "calculate" returned against the generated day: the routes are read from the document's own
// "routes" (vehicle "ci", order indices in visiting order) and replayed on the checker's model.
function benchCityCheck(orders, result) {
  const day = benchCityDay(orders, benchCitySeed(orders));
  const problem = benchCityProblem(day, 0, 1);
  const faults = [];
  if (!Array.isArray(result.routes) || !Array.isArray(result.orders) || result.orders.length !== day.orders.length)
    faults.push("the document does not hold the day's orders");
  if (result.planned !== true) faults.push("the plan is not marked calculated");
  const routes = problem.vehicles.map(function () { return []; });
  const routed = new Uint8Array(problem.jobs.length);
  let routeCount = 0;
  (result.routes || []).forEach(function (r) {
    if (!Number.isInteger(r.ci) || r.ci < 0 || r.ci >= routes.length) { faults.push("route of unknown vehicle " + r.ci); return; }
    if (routes[r.ci].length) faults.push("vehicle " + r.ci + " has two routes");
    if (r.orders.length) routeCount++;
    r.orders.forEach(function (k) {
      if (!Number.isInteger(k) || k < 0 || k >= problem.jobs.length) { faults.push("unknown order " + k); return; }
      routes[r.ci].push(k);
      routed[k] = 1;
    });
  });
  const unassigned = [];
  routed.forEach(function (x, j) { if (!x) unassigned.push({ job: j, reason: "" }); });
  const check = benchCheck(problem, { routes: routes, unassigned: unassigned });
  const listed = Array.isArray(result.unassigned) ? result.unassigned.length : -1;
  if (listed !== unassigned.length) faults.push("the document lists " + listed + " unassigned, " + unassigned.length + " are not routed");
  const all = faults.concat(check.faults);
  // The plan's cost with the weights "calculate" plans with (its own problem of the current document): a fixed
  // cost per courier, route minutes from the shift start, kilometres.
  const weights = PlannerCore.buildProblem().problem;
  const fixed = weights.vehicles.length ? weights.vehicles[0].fixedCost : 0;
  const cost = fixed * routeCount + weights.costPerMin * check.minutes + weights.costPerKm * check.km;
  return JSON.stringify({ routes: routeCount, fleet: problem.vehicles.length, unassigned: unassigned.length, km: check.km,
    late: check.late, cost: cost, faults: all.slice(0, 5), faultCount: all.length, status: String(result.status || "") });
}
