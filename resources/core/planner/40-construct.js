// A construction solver: cheapest insertion that never breaks a hard constraint (capacity, hard window, soft window
// beyond its tolerance, shift end, mileage). It is a pure function of the problem; the optimiser may replace it.

const CI_LATE_WEIGHT = 1000;       // cost of one minute of lateness against one unit of travel cost
const CI_GLOBAL_LIMIT = 1500;      // above this many jobs, jobs are inserted in a fixed order instead of globally

// One route under construction: its jobs and, per position, the arrival, departure and latest feasible arrival.
function ciRouteState() {
  return { jobs: [], arr: [], dep: [], latest: [], load: 0, km: 0, end: 0 };
}

function ciJobBound(job) {
  return job.hard ? job.end : job.end + (job.tolerance > 0 ? job.tolerance : 0);
}

// Recomputes a route's times forward and its latest arrivals backward. False when a hard constraint breaks.
function ciRefreshRoute(problem, vehicle, rs) {
  const n = problem.n, time = problem.time, dist = problem.dist, jobs = problem.jobs;
  const len = rs.jobs.length;
  let t = vehicle.start, prev = 0, km = 0, load = 0, ok = true;
  for (let k = 0; k < len; k++) {
    const job = jobs[rs.jobs[k]];
    const a = t + time[prev * n + job.node];
    km += dist[prev * n + job.node];
    rs.arr[k] = a;
    if (a > ciJobBound(job) + 1e-9) ok = false;
    t = Math.max(a, job.start) + job.service;
    rs.dep[k] = t;
    load += job.demand;
    prev = job.node;
  }
  if (len && vehicle.returnToDepot) {
    t += time[prev * n];
    km += dist[prev * n];
  }
  rs.arr.length = rs.dep.length = rs.latest.length = len;
  rs.load = load;
  rs.km = km;
  rs.end = len ? t : vehicle.start;
  let latest = vehicle.end;
  for (let k = len - 1; k >= 0; k--) {
    const job = jobs[rs.jobs[k]];
    const next = k === len - 1 ? (vehicle.returnToDepot ? time[job.node * n] : 0)
      : time[job.node * n + jobs[rs.jobs[k + 1]].node];
    latest = Math.min(ciJobBound(job), latest - job.service - next);
    rs.latest[k] = latest;
  }
  if (load > vehicle.capacity || km > vehicle.maxKm + 1e-9 || rs.end > vehicle.end + 1e-9) ok = false;
  return ok;
}

// The cheapest feasible position of job j in route rs: {cost, pos} or null.
function ciBestInsertion(problem, vehicle, rs, j) {
  const job = problem.jobs[j];
  if (rs.load + job.demand > vehicle.capacity) return null;
  const n = problem.n, time = problem.time, dist = problem.dist, jobs = problem.jobs;
  const len = rs.jobs.length, node = job.node, bound = ciJobBound(job);
  let best = null;
  for (let p = 0; p <= len; p++) {
    const prev = p === 0 ? 0 : jobs[rs.jobs[p - 1]].node;
    const prevDep = p === 0 ? vehicle.start : rs.dep[p - 1];
    const a = prevDep + time[prev * n + node];
    if (a > bound + 1e-9) continue;
    const dep = Math.max(a, job.start) + job.service;
    let dKm, dMin;
    if (p < len) {
      const next = jobs[rs.jobs[p]].node;
      const nextArr = dep + time[node * n + next];
      if (nextArr > rs.latest[p] + 1e-9) continue;
      dKm = dist[prev * n + node] + dist[node * n + next] - dist[prev * n + next];
      dMin = Math.max(0, nextArr - rs.arr[p]);
    } else {
      let end = dep;
      dKm = dist[prev * n + node];
      if (vehicle.returnToDepot) {
        end += time[node * n];
        dKm += dist[node * n] - (len ? dist[prev * n] : 0);
      }
      if (end > vehicle.end + 1e-9) continue;
      dMin = end - rs.end;
    }
    if (rs.km + dKm > vehicle.maxKm + 1e-9) continue;
    const late = Math.max(0, a - job.end);
    let cost = problem.costPerKm * dKm + problem.costPerMin * dMin + CI_LATE_WEIGHT * late;
    if (len === 0) cost += vehicle.fixedCost;
    if (best === null || cost < best.cost - 1e-12) best = { cost: cost, pos: p };
  }
  return best;
}

function ciAllowed(job, v) { return job.vehicles === null || job.vehicles === undefined || job.vehicles.indexOf(v) >= 0; }

// Why a job stays out: judged on each allowed vehicle as if its route held nothing else.
function ciUnassignedReason(problem, states, j) {
  const job = problem.jobs[j];
  const n = problem.n;
  let reason = null, any = false;
  for (let v = 0; v < problem.vehicles.length; v++) {
    if (!ciAllowed(job, v)) continue;
    any = true;
    const veh = problem.vehicles[v];
    let r;
    const a = veh.start + problem.time[job.node];
    const dep = Math.max(a, job.start) + job.service;
    const km = problem.dist[job.node] + (veh.returnToDepot ? problem.dist[job.node * n] : 0);
    const end = dep + (veh.returnToDepot ? problem.time[job.node * n] : 0);
    if (job.demand > veh.capacity) r = "capacity";
    else if (a > ciJobBound(job) + 1e-9) r = "window";
    else if (end > veh.end + 1e-9) r = "shift";
    else if (km > veh.maxKm + 1e-9) r = "mileage";
    else r = states[v].load + job.demand > veh.capacity ? "capacity" : "window";
    if (reason === null) reason = r;
  }
  return any ? reason : "zone";
}

// Figures of a plan: cost, distance, lateness, vehicles used.
function ciPlanFigures(problem, routes) {
  let cost = 0, distance = 0, lateness = 0, used = 0;
  for (let v = 0; v < routes.length; v++) {
    if (!routes[v].length) continue;
    const veh = problem.vehicles[v];
    const rs = ciRouteState();
    rs.jobs = routes[v].slice();
    ciRefreshRoute(problem, veh, rs);
    used++;
    distance += rs.km;
    for (let k = 0; k < rs.jobs.length; k++) lateness += Math.max(0, rs.arr[k] - problem.jobs[rs.jobs[k]].end);
    cost += veh.fixedCost + problem.costPerKm * rs.km + problem.costPerMin * (rs.end - veh.start);
  }
  return { cost: cost, distance: distance, lateness: lateness, vehiclesUsed: used };
}

function constructionSolve(problem) {
  const V = problem.vehicles.length, J = problem.jobs.length;
  const states = [];
  for (let v = 0; v < V; v++) states.push(ciRouteState());
  const placed = new Uint8Array(J);
  // Start from a given solution, keeping each of its routes only while it breaks no hard constraint.
  if (problem.initial && Array.isArray(problem.initial.routes)) {
    for (let v = 0; v < V && v < problem.initial.routes.length; v++) {
      const list = (problem.initial.routes[v] || []).filter(function (j) {
        return Number.isInteger(j) && j >= 0 && j < J && !placed[j] && ciAllowed(problem.jobs[j], v);
      });
      states[v].jobs = list;
      if (ciRefreshRoute(problem, problem.vehicles[v], states[v])) {
        for (const j of list) placed[j] = 1;
      } else {
        states[v].jobs = [];
        ciRefreshRoute(problem, problem.vehicles[v], states[v]);
      }
    }
  }
  const pending = [];
  for (let j = 0; j < J; j++) if (!placed[j]) pending.push(j);

  if (pending.length <= CI_GLOBAL_LIMIT) {
    // Global cheapest insertion: best[j][v] cached, refreshed only for the route that changed.
    const best = new Array(pending.length * V);
    for (let i = 0; i < pending.length; i++) {
      for (let v = 0; v < V; v++) {
        best[i * V + v] = ciAllowed(problem.jobs[pending[i]], v)
          ? ciBestInsertion(problem, problem.vehicles[v], states[v], pending[i]) : null;
      }
    }
    const open = new Uint8Array(pending.length).fill(1);
    for (;;) {
      let pick = -1, pickV = -1, pickCost = Infinity;
      for (let i = 0; i < pending.length; i++) {
        if (!open[i]) continue;
        for (let v = 0; v < V; v++) {
          const b = best[i * V + v];
          if (b !== null && b.cost < pickCost - 1e-12) { pick = i; pickV = v; pickCost = b.cost; }
        }
      }
      if (pick < 0) break;
      const rs = states[pickV];
      rs.jobs.splice(best[pick * V + pickV].pos, 0, pending[pick]);
      ciRefreshRoute(problem, problem.vehicles[pickV], rs);
      open[pick] = 0;
      placed[pending[pick]] = 1;
      for (let i = 0; i < pending.length; i++) {
        if (open[i] && ciAllowed(problem.jobs[pending[i]], pickV)) {
          best[i * V + pickV] = ciBestInsertion(problem, problem.vehicles[pickV], rs, pending[i]);
        }
      }
    }
  } else {
    // Many jobs: each job in turn (tightest window first) goes to its cheapest feasible position.
    pending.sort(function (a, b) {
      const ea = ciJobBound(problem.jobs[a]), eb = ciJobBound(problem.jobs[b]);
      if (ea !== eb) return ea < eb ? -1 : 1;
      return a - b;
    });
    for (const j of pending) {
      let bestV = -1, bestPos = 0, bestCost = Infinity;
      for (let v = 0; v < V; v++) {
        if (!ciAllowed(problem.jobs[j], v)) continue;
        const b = ciBestInsertion(problem, problem.vehicles[v], states[v], j);
        if (b !== null && b.cost < bestCost - 1e-12) { bestV = v; bestPos = b.pos; bestCost = b.cost; }
      }
      if (bestV < 0) continue;
      states[bestV].jobs.splice(bestPos, 0, j);
      ciRefreshRoute(problem, problem.vehicles[bestV], states[bestV]);
      placed[j] = 1;
    }
  }

  const routes = states.map(function (s) { return s.jobs.slice(); });
  const unassigned = [];
  for (let j = 0; j < J; j++) {
    if (!placed[j]) unassigned.push({ job: j, reason: ciUnassignedReason(problem, states, j) });
  }
  const figures = ciPlanFigures(problem, routes);
  return {
    routes: routes, unassigned: unassigned, cost: figures.cost, distance: figures.distance,
    lateness: figures.lateness, vehiclesUsed: figures.vehiclesUsed
  };
}

PlannerCore.solve = constructionSolve;
