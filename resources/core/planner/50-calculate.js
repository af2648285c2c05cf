// "calculate": the solver problem built from the document, the solver called, the routes written back.

const COST_PER_MIN = 1;
const COST_PER_KM = 0.001;      // time decides; kilometres only break ties
// The engine has no time limit and every other call waits behind "calculate", so the solver stops on a budget
// that grows with the day: about 4 s for 200 orders, 16 s for 1,000, never more than 30 s. A large day uses most of
// it; a small one stops sooner.
const SOLVE_BUDGET_MIN_MS = 1000;
const SOLVE_BUDGET_PER_ORDER_MS = 15;
const SOLVE_BUDGET_MAX_MS = 30000;
// Bringing in one more courier costs as much as an hour of route time: a vehicle is added when windows or
// capacity need it, or when it saves the others at least that much driving and waiting.
const VEHICLE_FIXED_COST = 60;
const SOLVE_SEED = 1;

const REASON_TEXT = Object.freeze({
  coordinates: "нет координат", capacity: "не помещается", window: "окно", shift: "смена",
  mileage: "пробег", zone: "геозона"
});

// Zones that can be used for planning: a name, a courier login and a polygon of at least three valid points.
function planningZones(zones) {
  const out = [];
  for (const z of Array.isArray(zones) ? zones : []) {
    if (!isObject(z) || !Array.isArray(z.points)) continue;
    const ring = [];
    for (const p of z.points) {
      if (!Array.isArray(p) || p.length < 2) continue;
      const lat = Prelude.double(p[0]), lon = Prelude.double(p[1]);
      if (lat !== null && lon !== null && validLat(lat) && validLon(lon)) ring.push([lat, lon]);
    }
    if (ring.length < 3) continue;
    out.push({ name: Prelude.fold(z.name).trim(), vehicle: Prelude.string(z.vehicle).trim(), ring: ring });
  }
  return out;
}

function insidePolygon(lat, lon, ring) {
  let inside = false;
  for (let i = 0, j = ring.length - 1; i < ring.length; j = i++) {
    const yi = ring[i][0], xi = ring[i][1], yj = ring[j][0], xj = ring[j][1];
    if ((yi > lat) !== (yj > lat) && lon < (xj - xi) * (lat - yi) / (yj - yi) + xi) inside = !inside;
  }
  return inside;
}

function zoneBound(zone, vehicle) {
  const name = Prelude.fold(vehicle.zone).trim();
  const id = Prelude.string(vehicle.id).trim();
  return (name !== "" && name === zone.name) || (id !== "" && zone.vehicle !== "" && zone.vehicle === id);
}

// Builds the solver problem. `built` keeps what is needed to write the answer back: which order each job is,
// which document vehicle each problem vehicle is, the orders left out before solving and the zone preferences.
function buildProblem(doc) {
  const depot = depotPoint(doc);
  if (!depot) refuse(MSG.noDepot);
  const vehicleIndex = [];
  const vehicles = [];
  for (let i = 0; i < doc.vehicles.length; i++) {
    const v = doc.vehicles[i];
    if (!Prelude.bool(v.use)) continue;
    const times = vehicleTimes(doc, v);
    vehicleIndex.push(i);
    vehicles.push({
      start: times.start,
      end: times.end,
      capacity: typeof v.capacity === "number" && v.capacity >= 0 ? v.capacity : Infinity,
      maxKm: typeof v.mileage === "number" && v.mileage >= 0 ? v.mileage : Infinity,
      returnToDepot: Prelude.bool(v.back),
      fixedCost: VEHICLE_FIXED_COST
    });
  }
  if (!vehicles.length) refuse(MSG.noVehicles);

  // Nodes: the depot, then one node per distinct point; the service of a point covers its largest "sharedS".
  const points = [depot];
  const nodeOf = new Map([[pointKey(depot.lat, depot.lon), 0]]);
  const sharedAt = [0];
  const jobOrders = [], skipped = [], badWindows = [];
  const jobs = [];
  for (let i = 0; i < doc.orders.length; i++) {
    const o = doc.orders[i];
    if (!hasPoint(o)) { skipped.push(i); continue; }
    const key = pointKey(o.lat, o.lon);
    let node = nodeOf.get(key);
    if (node === undefined) {
      node = points.length;
      nodeOf.set(key, node);
      points.push({ lat: o.lat, lon: o.lon });
      sharedAt.push(0);
    }
    sharedAt[node] = Math.max(sharedAt[node], sharedMinutes(o));
    const w = orderWindow(o);
    if (w.invalid) badWindows.push(i);
    const units = typeof o.units === "number" && o.units >= 0 ? o.units : 1;
    jobOrders.push(i);
    jobs.push({
      node: node, demand: units, service: serviceMinutes(o, doc.config),
      start: w.start === null ? 0 : w.start, end: w.end === null ? Infinity : w.end,
      hard: w.hard, tolerance: w.hard ? 0 : doc.config.LATE_TOL_MIN, vehicles: null
    });
  }
  for (const job of jobs) job.service += sharedAt[job.node];

  const n = points.length;
  const time = new Float64Array(n * n), dist = new Float64Array(n * n);
  for (let a = 0; a < n; a++) {
    for (let b = 0; b < n; b++) {
      if (a === b) continue;
      const leg = travel(doc, points[a], points[b]);
      time[a * n + b] = leg.min;
      dist[a * n + b] = leg.km;
    }
  }

  // Zones: an order inside a zone bound to vehicles on duty goes to one of them; the other orders go first to the
  // vehicles bound to no zone. Both preferences are relaxed for what cannot be placed that way.
  const zones = planningZones(plannerState.zones);
  const preferred = [];
  if (zones.length) {
    const boundTo = zones.map(function (z) {
      const list = [];
      for (let v = 0; v < vehicleIndex.length; v++) if (zoneBound(z, doc.vehicles[vehicleIndex[v]])) list.push(v);
      return list;
    });
    const free = [];
    for (let v = 0; v < vehicleIndex.length; v++) {
      if (!boundTo.some(function (list) { return list.indexOf(v) >= 0; })) free.push(v);
    }
    for (let j = 0; j < jobs.length; j++) {
      const o = doc.orders[jobOrders[j]];
      const set = new Set();
      for (let z = 0; z < zones.length; z++) {
        if (boundTo[z].length && insidePolygon(o.lat, o.lon, zones[z].ring)) boundTo[z].forEach(function (v) { set.add(v); });
      }
      if (set.size) jobs[j].vehicles = Array.from(set).sort(function (a, b) { return a - b; });
      else if (free.length && free.length < vehicleIndex.length) jobs[j].vehicles = free.slice();
      if (jobs[j].vehicles) preferred.push(j);
    }
  }

  const problem = {
    n: n, time: time, dist: dist, jobs: jobs, vehicles: vehicles,
    costPerKm: COST_PER_KM, costPerMin: COST_PER_MIN, seed: SOLVE_SEED, triangle: !hasRoadLegs(doc),
    budgetMs: Math.min(SOLVE_BUDGET_MAX_MS, SOLVE_BUDGET_MIN_MS + SOLVE_BUDGET_PER_ORDER_MS * jobs.length)
  };
  return { problem: problem, jobOrders: jobOrders, vehicleIndex: vehicleIndex, skipped: skipped,
    badWindows: badWindows, preferred: preferred };
}

// Calls the solver; zone preferences that left jobs out are relaxed and the solver runs again from its answer.
// Both runs share the one budget: the relaxed run gets a quarter of it.
function solveBuilt(built) {
  const budget = built.problem.budgetMs;
  const first = built.preferred.length ? Object.assign({}, built.problem, { budgetMs: budget * 0.75 }) : built.problem;
  let solution = PlannerCore.solve(first);
  if (built.preferred.length && solution.unassigned.length) {
    const out = new Set(solution.unassigned.map(function (u) { return u.job; }));
    const relax = built.preferred.filter(function (j) { return out.has(j); });
    if (relax.length) {
      const jobs = built.problem.jobs.map(function (job, j) {
        return relax.indexOf(j) >= 0 ? Object.assign({}, job, { vehicles: null }) : job;
      });
      const again = Object.assign({}, built.problem, { jobs: jobs, initial: solution, budgetMs: budget * 0.25 });
      const second = PlannerCore.solve(again);
      if (second.unassigned.length <= solution.unassigned.length) solution = second;
    }
  }
  return solution;
}

// Writes a solution into the document: the routes' memberships, "planned"; returns the status text.
// Derived keys are computed by `commit` afterwards.
function writeRoutes(doc, built, solution) {
  const memberships = [];
  const routes = Array.isArray(solution.routes) ? solution.routes : [];
  const seen = new Set();
  for (let v = 0; v < built.vehicleIndex.length; v++) {
    const list = [];
    for (const j of routes[v] || []) {
      if (!Number.isInteger(j) || j < 0 || j >= built.jobOrders.length || seen.has(j)) continue;
      seen.add(j);
      list.push(built.jobOrders[j]);
    }
    if (list.length) memberships.push({ ci: built.vehicleIndex[v], orders: list });
  }
  doc.planned = true;
  setRoutes(doc, memberships);

  const counts = {};
  if (built.skipped.length) counts.coordinates = built.skipped.length;
  for (const u of solution.unassigned || []) {
    if (!seen.has(u.job)) counts[u.reason] = (counts[u.reason] || 0) + 1;
  }
  const unassigned = doc.orders.length - seen.size;
  let status = "Маршруты рассчитаны: " + memberships.length + ", не назначено заказов: " + unassigned;
  const reasons = Object.keys(counts).map(function (r) { return (REASON_TEXT[r] || r) + " — " + counts[r]; });
  if (unassigned && reasons.length) status += " (" + reasons.join(", ") + ")";
  status += ".";
  if (built.badWindows.length) {
    status += " Окно не распознано: " + built.badWindows.slice(0, 5).map(function (i) {
      return "№" + Prelude.string(doc.orders[i].id);
    }).join(", ") + (built.badWindows.length > 5 ? " и ещё " + (built.badWindows.length - 5) : "") + ".";
  }
  return status;
}

PlannerCore.actions.calculate = function () {
  const doc = current();
  if (!doc.orders.length) {
    doc.planned = true;
    setRoutes(doc, []);
    return commit(doc, { status: "В плане нет заказов." });
  }
  const built = buildProblem(doc);
  const solution = solveBuilt(built);
  const status = writeRoutes(doc, built, solution);
  return commit(doc, { status: status });
};

// For benchmarks and the optimiser's tests: the problem of a document, and the writing back of an answer.
PlannerCore.readDocument = readDocument;
PlannerCore.buildProblem = function (input) { return buildProblem(input === undefined ? current() : readDocument(input)); };
PlannerCore.writeRoutes = function (built, solution, input) {
  const doc = input === undefined ? current() : readDocument(input);
  const status = writeRoutes(doc, built, solution);
  recompute(doc);
  return publicDocument(doc, { status: status });
};
