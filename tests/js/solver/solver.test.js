// The route optimiser (PlannerCore.solve): hard constraints, lateness, determinism, unassigned reasons, quality.

// A problem over points in a plane: node 0 the depot, then one node per job; km = Euclidean distance,
// minutes = km * minPerKm.
function planeProblem(depot, jobs, vehicles, extra) {
  const pts = [depot].concat(jobs.map(function (j) { return j.at; }));
  const n = pts.length, dist = new Float64Array(n * n), time = new Float64Array(n * n);
  const minPerKm = (extra && extra.minPerKm) || 1;
  for (let i = 0; i < n; i++)
    for (let k = 0; k < n; k++) {
      const d = Math.hypot(pts[i][0] - pts[k][0], pts[i][1] - pts[k][1]);
      dist[i * n + k] = d; time[i * n + k] = d * minPerKm;
    }
  const p = {
    n: n, time: time, dist: dist,
    jobs: jobs.map(function (j, k) {
      return { node: j.node !== undefined ? j.node : k + 1, demand: j.demand === undefined ? 1 : j.demand,
        service: j.service || 0, start: j.start || 0, end: j.end === undefined ? Infinity : j.end,
        hard: j.hard !== false, tolerance: j.hard === false ? (j.tolerance || 0) : 0, vehicles: j.vehicles || null };
    }),
    vehicles: vehicles.map(function (v) {
      return { start: v.start || 0, end: v.end === undefined ? Infinity : v.end, capacity: v.capacity === undefined ? Infinity : v.capacity,
        maxKm: v.maxKm === undefined ? Infinity : v.maxKm, returnToDepot: v.returnToDepot !== false, fixedCost: v.fixedCost === undefined ? 1000 : v.fixedCost };
    }),
    costPerKm: 1, costPerMin: 0.1, seed: 7, budgetMs: 200,
    triangle: true,  // straight lines: no detour is shorter than the direct leg
  };
  if (extra) for (const k in extra) if (k !== "minPerKm") p[k] = extra[k];
  return p;
}

// Independent check of a plan: recomputes each route by the arrival rule and lists every broken constraint.
function brokenConstraints(problem, sol) {
  const n = problem.n, out = [], seen = new Array(problem.jobs.length).fill(0);
  assertEqual(sol.routes.length, problem.vehicles.length, "one route per vehicle");
  sol.routes.forEach(function (route, v) {
    const veh = problem.vehicles[v];
    let t = veh.start, prev = 0, load = 0, km = 0;
    route.forEach(function (j) {
      const job = problem.jobs[j];
      seen[j]++;
      if (job.vehicles && job.vehicles.indexOf(v) < 0) out.push("zone " + j);
      const a = t + problem.time[prev * n + job.node];
      if (a > job.end + (job.hard ? 0 : job.tolerance) + 1e-9) out.push("window " + j);
      t = Math.max(a, job.start) + job.service;
      km += problem.dist[prev * n + job.node]; load += job.demand; prev = job.node;
    });
    if (!route.length) return;
    if (veh.returnToDepot) { t += problem.time[prev * n]; km += problem.dist[prev * n]; }
    if (t > veh.end + 1e-9) out.push("shift " + v);
    if (load > veh.capacity) out.push("capacity " + v);
    if (km > veh.maxKm + 1e-9) out.push("mileage " + v);
  });
  sol.unassigned.forEach(function (u) { seen[u.job]++; });
  seen.forEach(function (c, j) { if (c !== 1) out.push("job " + j + " placed " + c + " times"); });
  return out;
}

// Unassigned jobs that some route could still take at some place without breaking anything.
function insertableLeftOut(problem, sol) {
  const out = [];
  sol.unassigned.forEach(function (u) {
    for (let v = 0; v < sol.routes.length; v++) {
      const r = sol.routes[v];
      for (let p = 0; p <= r.length; p++) {
        const routes = sol.routes.slice();
        routes[v] = r.slice(0, p).concat([u.job], r.slice(p));
        const unassigned = sol.unassigned.filter(function (x) { return x.job !== u.job; });
        if (brokenConstraints(problem, { routes: routes, unassigned: unassigned }).length === 0) { out.push(u.job); return; }
      }
    }
  });
  return out;
}

function totalLateness(problem, sol) {
  const n = problem.n;
  let late = 0;
  sol.routes.forEach(function (route, v) {
    let t = problem.vehicles[v].start, prev = 0;
    route.forEach(function (j) {
      const job = problem.jobs[j], a = t + problem.time[prev * n + job.node];
      late += Math.max(0, a - job.end);
      t = Math.max(a, job.start) + job.service; prev = job.node;
    });
  });
  return late;
}

// A seeded generator for the random cases (the tests must not depend on Math.random either).
function lcg(seed) {
  let s = seed >>> 0;
  return function () { s = (Math.imul(s, 1664525) + 1013904223) >>> 0; return s / 4294967296; };
}

// A random day with every kind of constraint: capacities, hard and soft windows, shifts, mileage limits,
// vehicles that do not return, zones.
function randomDay(seed, jobsCount, vehicleCount) {
  const r = lcg(seed), jobs = [], vehicles = [];
  for (let i = 0; i < jobsCount; i++) {
    const start = Math.floor(r() * 300), hard = r() < 0.5;
    jobs.push({ at: [r() * 100, r() * 100], demand: 1 + Math.floor(r() * 5), service: 5 + Math.floor(r() * 10),
      start: start, end: start + 40 + Math.floor(r() * 120), hard: hard, tolerance: hard ? 0 : 15,
      vehicles: r() < 0.1 ? [Math.floor(r() * vehicleCount)] : null });
  }
  for (let v = 0; v < vehicleCount; v++)
    vehicles.push({ start: Math.floor(r() * 60), end: 420 + Math.floor(r() * 120), capacity: 15 + Math.floor(r() * 20),
      maxKm: r() < 0.4 ? 250 : Infinity, returnToDepot: r() < 0.6, fixedCost: 200 });
  return planeProblem([50, 50], jobs, vehicles);
}

// Replaces the clock by one that hardly moves, so the work measure alone ends the search.
function withSteadyClock(fn) {
  const real = Date.now;
  let t = real.call(Date);
  Date.now = function () { t += 0.0005; return t; };
  try { return fn(); } finally { Date.now = real; }
}

test("random days never break a hard constraint", function () {
  for (let seed = 1; seed <= 6; seed++) {
    const p = randomDay(seed, 40 + seed * 10, 6);
    p.budgetMs = 150;
    const sol = PlannerCore.solve(p);
    assertEqual(brokenConstraints(p, sol), [], "seed " + seed);
    assertEqual(insertableLeftOut(p, sol), [], "seed " + seed + ": left out though they fit");
    assertClose(sol.lateness, totalLateness(p, sol), 1e-6, "reported lateness");
    assertEqual(sol.vehiclesUsed, sol.routes.filter(function (r) { return r.length > 0; }).length);
  }
});

test("tight days with too few vehicles leave jobs out with a reason, never a broken constraint", function () {
  const p = randomDay(42, 120, 3);
  const sol = PlannerCore.solve(p);
  assertEqual(brokenConstraints(p, sol), []);
  assertEqual(insertableLeftOut(p, sol), []);
  assert(sol.unassigned.length > 0, "three vehicles cannot take 120 jobs");
  sol.unassigned.forEach(function (u) {
    assert(["capacity", "window", "shift", "mileage", "zone"].indexOf(u.reason) >= 0, "reason " + u.reason);
  });
});

test("the same input gives the same plan", function () {
  withSteadyClock(function () {
    const a = PlannerCore.solve(randomDay(5, 80, 6));
    const b = PlannerCore.solve(randomDay(5, 80, 6));
    assertEqual(a.routes, b.routes);
    assertEqual(a.unassigned, b.unassigned);
    assertEqual(a.distance, b.distance);
  });
});

test("soft windows may be late up to their tolerance, not beyond", function () {
  // 20 km at 1 min/km: the earliest arrival is minute 20.
  const jobs = [
    { at: [20, 0], end: 10, hard: false, tolerance: 15 },   // 10 min late: allowed
    { at: [0, 20], end: 10, hard: false, tolerance: 5 },    // 10 min late: too late
    { at: [0, -20], end: 10 },                              // hard: too late
  ];
  const p = planeProblem([0, 0], jobs, [{}, {}, {}]);
  const sol = PlannerCore.solve(p);
  assertEqual(sol.routes.filter(function (r) { return r.length; }), [[0]]);
  assertClose(sol.lateness, 10, 1e-9);
  assertEqual(sol.unassigned, [{ job: 1, reason: "window" }, { job: 2, reason: "window" }]);
});

test("lateness is avoided when an order of stops without it exists", function () {
  // One vehicle; visiting the near job first makes the far one late, the other way round both are on time.
  const jobs = [
    { at: [10, 0], start: 0, end: 200, hard: false, tolerance: 60 },
    { at: [40, 0], start: 0, end: 45, hard: false, tolerance: 60 },
    { at: [-30, 0], start: 100, end: 300, hard: false, tolerance: 60 },
  ];
  const p = planeProblem([0, 0], jobs, [{ fixedCost: 0 }]);
  const sol = PlannerCore.solve(p);
  assertEqual(brokenConstraints(p, sol), []);
  assertEqual(sol.lateness, 0);
  assertEqual(sol.routes[0].length, 3);
});

test("jobs no vehicle can take come back with the right reason", function () {
  const jobs = [
    { at: [10, 0] },                                  // 0 fine
    { at: [10, 0], demand: 50 },                      // 1 larger than every vehicle
    { at: [30, 0], end: 20 },                         // 2 window closed before anyone gets there
    { at: [10, 10], start: 600, end: 700 },           // 3 opens after every shift ends
    { at: [0, 200] },                                 // 4 farther than the mileage allows
    { at: [5, 5], vehicles: [] },                     // 5 no vehicle allowed
    { at: [5, 5], node: null },                       // 6 no location
    { at: [5, 5], demand: 15, vehicles: [1] },        // 7 only the small vehicle may take it: too large for it
  ];
  const p = planeProblem([0, 0], jobs, [{ capacity: 20, end: 480, maxKm: 300 }, { capacity: 10, end: 480, maxKm: 300 }]);
  const sol = PlannerCore.solve(p);
  assertEqual(sol.unassigned, [
    { job: 1, reason: "capacity" }, { job: 2, reason: "window" }, { job: 3, reason: "shift" },
    { job: 4, reason: "mileage" }, { job: 5, reason: "zone" }, { job: 6, reason: "coordinates" },
    { job: 7, reason: "capacity" },
  ]);
  assertEqual(sol.vehiclesUsed, 1);
  assertEqual(sol.routes[0].concat(sol.routes[1]), [0]);
});

test("zones, shifts without return and mileage limits are kept", function () {
  const jobs = [];
  for (let i = 0; i < 30; i++) jobs.push({ at: [Math.cos(i) * (10 + i), Math.sin(i) * (10 + i)], service: 5, vehicles: i % 5 === 0 ? [2] : null });
  const vehicles = [
    { end: 150, returnToDepot: false, capacity: 12 },
    { end: 400, maxKm: 120, capacity: 12 },
    { end: 400, capacity: 12 },
  ];
  const p = planeProblem([0, 0], jobs, vehicles);
  const sol = PlannerCore.solve(p);
  assertEqual(brokenConstraints(p, sol), []);
  for (let i = 0; i < 30; i += 5) assert(sol.routes[2].indexOf(i) >= 0 || sol.unassigned.some(function (u) { return u.job === i; }), "job " + i + " only on vehicle 2");
});

test("the fewest vehicles are used and each serves its own cluster", function () {
  // Two clusters of five far apart, vehicles of capacity 5: two routes suffice, one per cluster.
  const jobs = [];
  for (let i = 0; i < 5; i++) jobs.push({ at: [100 + i, 0] });
  for (let i = 0; i < 5; i++) jobs.push({ at: [-100, i] });
  const p = planeProblem([0, 0], jobs, [{ capacity: 5 }, { capacity: 5 }, { capacity: 5 }, { capacity: 5 }]);
  const sol = PlannerCore.solve(p);
  assertEqual(sol.vehiclesUsed, 2);
  const used = sol.routes.filter(function (r) { return r.length; }).map(function (r) { return r.slice().sort(function (a, b) { return a - b; }); });
  used.sort(function (a, b) { return a[0] - b[0]; });
  assertEqual(used, [[0, 1, 2, 3, 4], [5, 6, 7, 8, 9]]);
  assertClose(sol.distance, 208 + 104 + Math.hypot(100, 4), 1e-6, "each cluster swept once");
});

// Days built around a known plan of `routes` routes, then shuffled: pairs of jobs whose loads fill a vehicle exactly,
// or chains of jobs whose windows follow one planted route each, with every shift ending when the longest planted
// route comes back, or both at once ("packed": the loads of a chain fill a vehicle of 50 exactly). The windows are
// `width` minutes long (20 unless given). The optimiser starts from one route per job (vehicles are plenty), so every
// route beyond the planted count has to be emptied by the search.
function plantedDay(kind, seed, routes, perRoute, width) {
  width = width || 20;
  const r = lcg(seed), jobs = [], vehicles = [], packed = kind === "packed";
  let longest = 0;
  for (let k = 0; k < routes; k++) {
    let t = 0, at = [0, 0];
    const small = r() < 0.5 ? 3 : 4;
    // The loads of a packed chain: 50 cut at perRoute - 1 distinct places.
    const cuts = [0, 50];
    while (packed && cuts.length <= perRoute) {
      const c = 1 + Math.floor(r() * 49);
      if (cuts.indexOf(c) < 0) cuts.push(c);
    }
    cuts.sort(function (a, b) { return a - b; });
    for (let i = 0; i < perRoute; i++) {
      const next = [r() * 100 - 50, r() * 100 - 50];
      if (kind === "loads") {
        jobs.push({ at: next, demand: i === 0 ? small : 10 - small, service: 2 });
      } else {
        t += Math.hypot(next[0] - at[0], next[1] - at[1]);
        const open = Math.max(0, Math.floor(t - r() * width));
        jobs.push({ at: next, service: 10, start: open, end: open + width, demand: packed ? cuts[i + 1] - cuts[i] : 1 });
        t = Math.max(t, open) + 10;
        at = next;
      }
    }
    longest = Math.max(longest, t + Math.hypot(at[0], at[1]));
  }
  for (let i = jobs.length - 1; i > 0; i--) { const k = Math.floor(r() * (i + 1)); const x = jobs[i]; jobs[i] = jobs[k]; jobs[k] = x; }
  for (let v = 0; v < jobs.length; v++)
    vehicles.push(kind === "loads" ? { capacity: 10, fixedCost: 1000 } :
      { end: Math.ceil(longest), capacity: packed ? 50 : Infinity, fixedCost: 1000 });
  const p = planeProblem([0, 0], jobs, vehicles);
  p.initial = { routes: jobs.map(function (j, k) { return [k]; }) };
  p.budgetMs = 100;
  return p;
}

test("routes beyond what the day needs are emptied: feasible, complete and the same on every run", function () {
  // The day with long routes and wide windows is one where the absences empty a route after the ejection has
  // failed: their plans are checked too. On the packed days the loads of the planted plan leave no room at all.
  const cases = [["loads", 1, 12, 2], ["windows", 3, 8, 8], ["windows", 4, 6, 10], ["windows", 4, 3, 40, 150],
    ["packed", 4, 20, 6, 60], ["packed", 1, 20, 6, 150]];
  withSteadyClock(function () {
    cases.forEach(function (c) {
      const label = c.join(" ");
      const p = plantedDay(c[0], c[1], c[2], c[3], c[4]);
      const sol = PlannerCore.solve(p);
      assertEqual(brokenConstraints(p, sol), [], label);
      assertEqual(sol.unassigned, [], label);
      assert(sol.vehiclesUsed <= c[2], label + ": " + sol.vehiclesUsed + " routes where " + c[2] + " suffice");
      assertEqual(PlannerCore.solve(plantedDay(c[0], c[1], c[2], c[3], c[4])).routes, sol.routes, label + ": another plan");
    });
  });
});

test("a plan given as the start is kept feasible and not made worse", function () {
  const p = randomDay(11, 60, 6);
  const first = PlannerCore.solve(p);
  p.initial = first;
  p.seed = 99;
  const again = PlannerCore.solve(p);
  assertEqual(brokenConstraints(p, again), []);
  assert(again.unassigned.length <= first.unassigned.length, "no more unassigned");
  if (again.unassigned.length === first.unassigned.length)
    assert(again.lateness * 1e6 + again.cost <= first.lateness * 1e6 + first.cost + 1e-6, "no worse: " + again.cost + " vs " + first.cost);
});

test("empty problems, broken matrices and points without a place", function () {
  const empty = PlannerCore.solve(planeProblem([0, 0], [], [{}]));
  assertEqual(empty.routes, [[]]);
  assertEqual(empty.unassigned, []);
  const noVehicles = PlannerCore.solve(planeProblem([0, 0], [{ at: [1, 1] }], []));
  assertEqual(noVehicles.routes, []);
  assertEqual(noVehicles.unassigned, [{ job: 0, reason: "shift" }]);
  // A node whose travel figures are not numbers is a job without a place, not a job reachable at no cost; a single
  // leg without a figure is not driven.
  const p = planeProblem([0, 0], [{ at: [1, 1] }, { at: [2, 2] }, { at: [3, 0] }, { at: [3, 1] }], [{}]);
  for (let i = 0; i < p.n; i++) { p.time[2 * p.n + i] = p.time[i * p.n + 2] = NaN; p.dist[2 * p.n + i] = p.dist[i * p.n + 2] = NaN; }
  p.time[3 * p.n + 4] = p.time[4 * p.n + 3] = Infinity;
  const sol = PlannerCore.solve(p);
  assertEqual(sol.unassigned, [{ job: 1, reason: "coordinates" }]);
  assertEqual(sol.routes[0].slice().sort(), [0, 2, 3]);
  const r = sol.routes[0];
  assert(Math.abs(r.indexOf(2) - r.indexOf(3)) > 1, "jobs 2 and 3 are never driven between: " + r);
  assert(sol.distance < 20, "distance " + sol.distance);
  assertThrows(function () { PlannerCore.solve({ n: 3, time: new Float64Array(4), dist: new Float64Array(4), jobs: [], vehicles: [] }); });
});
