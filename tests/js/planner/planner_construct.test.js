// The construction solver and the problem "calculate" builds: hard limits are never broken, zones are honoured.

// A problem on a line: node k sits k kilometres from the depot, one minute per kilometre.
function lineProblem(points, jobs, vehicles) {
  const n = points + 1;
  const time = new Float64Array(n * n), dist = new Float64Array(n * n);
  for (let a = 0; a < n; a++) for (let b = 0; b < n; b++) { time[a * n + b] = Math.abs(a - b); dist[a * n + b] = Math.abs(a - b); }
  return { n: n, time: time, dist: dist, costPerKm: 1, costPerMin: 1, seed: 1, budgetMs: 1000,
    jobs: jobs.map(function (j) {
      return Object.assign({ demand: 1, service: 0, start: 0, end: Infinity, hard: true, tolerance: 0, vehicles: null }, j);
    }),
    vehicles: vehicles.map(function (v) {
      return Object.assign({ start: 0, end: Infinity, capacity: Infinity, maxKm: Infinity, returnToDepot: false, fixedCost: 0 }, v);
    }) };
}

// Replays a solution with the arrival rule and checks every hard limit.
function checkHard(problem, solution) {
  const n = problem.n;
  const seen = new Set();
  solution.routes.forEach(function (route, v) {
    const veh = problem.vehicles[v];
    let t = veh.start, prev = 0, km = 0, load = 0;
    route.forEach(function (j) {
      assert(!seen.has(j), "job " + j + " once");
      seen.add(j);
      const job = problem.jobs[j];
      if (job.vehicles) assert(job.vehicles.indexOf(v) >= 0, "job " + j + " on an allowed vehicle");
      const a = t + problem.time[prev * n + job.node];
      km += problem.dist[prev * n + job.node];
      assert(a <= job.end + (job.hard ? 0 : job.tolerance) + 1e-9, "job " + j + " within its window");
      t = Math.max(a, job.start) + job.service;
      load += job.demand;
      prev = job.node;
    });
    if (route.length && veh.returnToDepot) { t += problem.time[prev * n]; km += problem.dist[prev * n]; }
    assert(load <= veh.capacity, "capacity of vehicle " + v);
    assert(km <= veh.maxKm + 1e-9, "mileage of vehicle " + v);
    assert(t <= veh.end + 1e-9, "shift of vehicle " + v);
  });
  solution.unassigned.forEach(function (u) { assert(!seen.has(u.job), "unassigned job " + u.job + " is not routed"); seen.add(u.job); });
  assertEqual(seen.size, problem.jobs.length, "every job is routed or named unassigned");
}

test("capacity, windows, shift and mileage are never broken and the reasons are named", function () {
  const p = lineProblem(10, [
    { node: 1, demand: 3 }, { node: 2, demand: 3 }, { node: 3, demand: 3 },        // 9 units for 2 vehicles of 5
    { node: 9, end: 5 },                                                          // unreachable in time
    { node: 4, demand: 6 },                                                       // larger than every vehicle
    { node: 10, start: 100 },                                                     // after every shift
    { node: 5, end: 3, hard: false, tolerance: 3 }                                // reachable only with lateness
  ], [{ capacity: 5, end: 60 }, { capacity: 5, end: 60, returnToDepot: true, maxKm: 12 }]);
  const s = PlannerCore.solve(p);
  checkHard(p, s);
  const reasons = {};
  s.unassigned.forEach(function (u) { reasons[u.job] = u.reason; });
  assertEqual(reasons[3], "window");
  assertEqual(reasons[4], "capacity");
  assertEqual(reasons[5], "shift");
  assert(!(6 in reasons), "a soft window within its tolerance is served");
  assertEqual(s.unassigned.length, 4, "one of the three 3-unit jobs cannot fit");
  assertEqual(s.vehiclesUsed, 2);
});

test("allowed vehicle lists are obeyed and an empty list leaves the job out", function () {
  const p = lineProblem(4, [{ node: 1, vehicles: [1] }, { node: 2, vehicles: [0] }, { node: 3, vehicles: [] }],
    [{}, {}]);
  const s = PlannerCore.solve(p);
  checkHard(p, s);
  assertEqual(s.routes, [[1], [0]]);
  assertEqual(s.unassigned, [{ job: 2, reason: "zone" }]);
});

test("an initial solution is kept and completed", function () {
  const p = lineProblem(5, [{ node: 5 }, { node: 1 }, { node: 2 }], [{}, {}]);
  p.initial = { routes: [[], [0]] };
  const s = PlannerCore.solve(p);
  checkHard(p, s);
  assert(s.routes[1].indexOf(0) >= 0, "the given route is kept");
  assertEqual(s.unassigned, []);
});

test("many jobs are placed in a fixed order without breaking a limit", function () {
  const jobs = [];
  for (let j = 0; j < 1600; j++) jobs.push({ node: 1 + (j * 7) % 40, end: 200 + (j % 50) * 10, service: 0.1 });
  const p = lineProblem(40, jobs, [{ capacity: 700, end: 600 }, { capacity: 700, end: 600, returnToDepot: true }, { capacity: 100 }]);
  const s = PlannerCore.solve(p);
  checkHard(p, s);
  assertEqual(s.unassigned.filter(function (u) { return u.reason !== "capacity"; }), []);
});

function zonePlan() {
  return {
    routeDate: "2026-09-22",
    depot: { name: "Склад", lat: 55.75, lon: 37.6, window: "" },
    vehicles: [{ id: "north", ref: "Север", shift: "09:00-18:00", zone: "", use: true },
               { id: "south", ref: "Юг", shift: "09:00-18:00", zone: "Южная", use: true }],
    orders: [{ id: "1", address: "a", lat: 55.70, lon: 37.60, window: "" },
             { id: "2", address: "b", lat: 55.80, lon: 37.60, window: "" },
             { id: "3", address: "c", lat: 55.71, lon: 37.61, window: "" }]
  };
}

test("orders inside a zone go to its vehicles and the others to the free vehicles", function () {
  run("zones", { zones: [
    { name: "южная", vehicle: "", color: "#ff0000", isHidden: true, points: [[55.65, 37.5], [55.73, 37.5], [55.73, 37.7], [55.65, 37.7]] },
    { name: "Пустая", vehicle: "north", points: [[1, 1], [2, 2]] }
  ] });
  run("load", zonePlan());
  const doc = run("calculate");
  assertEqual([doc.orders[0]._rt, doc.orders[1]._rt, doc.orders[2]._rt], [1, 0, 1]);
  run("zones", { zones: [{ name: "Северная", vehicle: "north", points: [[55.78, 37.5], [55.9, 37.5], [55.9, 37.7], [55.78, 37.7]] }] });
  const bound = run("calculate");
  assertEqual(bound.orders[1]._rt, 0, "a zone bound by the courier login");
  assertEqual([bound.orders[0]._rt, bound.orders[2]._rt], [1, 1], "orders outside go to the unbound vehicle first");
});

test("a zone preference gives way when its vehicles cannot take the order", function () {
  run("zones", { zones: [{ name: "Южная", points: [[55.65, 37.5], [55.73, 37.5], [55.73, 37.7], [55.65, 37.7]] }] });
  const plan = zonePlan();
  plan.vehicles[1].capacity = 1;
  run("load", plan);
  const doc = run("calculate");
  assertEqual(doc.unassigned, [], "the second southern order goes to the other vehicle");
  assertEqual(doc.orders.filter(function (o) { return o._rt === 1; }).length, 1);
});

test("calculate keeps hard windows and names orders without coordinates", function () {
  run("load", {
    routeDate: "2026-09-22", depot: { name: "Склад", lat: 55.75, lon: 37.6, window: "08:00-20:00" },
    config: { CITY_KMH: 20, ROAD_FACTOR: 1.3, SERVICE_MIN: 10, LATE_TOL_MIN: 0 },
    vehicles: [{ id: "v", ref: "В", shift: "09:00-10:00", use: true, back: true }],
    orders: [{ id: "1", address: "a", lat: 55.76, lon: 37.61, window: "09:00-09:05", hardWindow: "да" },
             { id: "2", address: "b", lat: 55.9, lon: 37.9, window: "09:00-09:10", hardWindow: "да" },
             { id: "3", address: "c", lat: null, lon: null },
             { id: "4", address: "d", lat: 55.751, lon: 37.601, window: "утром" }]
  });
  const doc = run("calculate");
  assertEqual(doc.orders[1]._rt, undefined, "a hard window out of reach is not broken");
  assertEqual(doc.orders[2]._rt, undefined);
  doc.routes.forEach(function (r) { assertEqual(r.over, 0); r.stops.forEach(function (s) { assertEqual(s.late, 0); }); });
  assert(/не назначено заказов: 2 \(/.test(doc.status) && /нет координат — 1/.test(doc.status), doc.status);
  assert(/Окно не распознано: №4/.test(doc.status), doc.status);
});

test("a vehicle that comes back is back before the depot closes; one that stays out keeps its shift", function () {
  function day(back) {
    return {
      routeDate: "2026-09-22", depot: { name: "Склад", lat: 55.75, lon: 37.6, window: "08:00-12:00" },
      vehicles: [{ id: "v", ref: "В", shift: "09:00-18:00", use: true, back: back }],
      orders: [{ id: "1", address: "a", lat: 55.76, lon: 37.61, window: "09:00-10:00" },
               { id: "2", address: "b", lat: 55.761, lon: 37.611, window: "13:00-15:00" }]
    };
  }
  run("load", day(true));
  let doc = run("calculate");
  assertEqual([doc.orders[0]._rt, doc.orders[1]._rt], [0, undefined]);
  assert(/смена — 1/.test(doc.status), doc.status);
  assert(doc.routes[0].end <= 12 * 60, "back at " + doc.routes[0].end);
  // Put on the route by hand, the order makes the route end after the depot has closed, and the route says by how much.
  doc = run("assign", { indices: [1], vehicle: 0 });
  assertEqual(doc.routes[0].over, doc.routes[0].end - 12 * 60);
  assert(doc.routes[0].over > 60, "over by " + doc.routes[0].over);

  run("load", day(false));
  doc = run("calculate");
  assertEqual([doc.orders[0]._rt, doc.orders[1]._rt, doc.routes[0].over], [0, 0, 0]);
});
