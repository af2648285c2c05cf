// The route optimiser, entry point: PlannerCore.solve(problem) -> solution.
//
// Same input, same plan: every random choice comes from a generator seeded by problem.seed, and the search stops on
// a measure of work done (insertion positions examined, route stops recomputed), not on the clock. The work allowed is
// the time budget times a rate measured on the development machine (vrpWorkPerMs: the larger the travel matrices, the
// fewer units per millisecond, as they no longer fit in the caches), so the search usually ends a little before
// the budget, and at most VRP_WORK_PER_JOB per job, as a small day needs less. The clock is a safety stop for slower
// machines and very large days, where the plan can then differ from run to run; each phase has its share of the
// clock as of the work, and the cooling follows whichever of the two is further on. A large day is searched by copies
// alongside as well when the host has them (vrpSolveAlongside): the plan is then the same for the same number of
// copies, which the host sets by the computer's cores.

function vrpWorkPerMs(S) {
  // What slows the search down as the day grows is reading the travel matrices: their size is what counts. Times
  // and distances kept apart are read apart too. Since the routes keep their legs and the insertion test reads a
  // job's own row (vrpUpdateRoute, vrpBestInsertion), the same work took less processor time the larger the day,
  // side by side with the version before, one search, work only: 6 % on days of 100 jobs, 10 % at 200, 21 to 24 %
  // at 1,000 (one matrix for times and distances), 15 % on the city days of 1,000 and 2,000 orders (two matrices).
  // The slowdown with the size is less by as much, a little less than measured.
  const apart = S.time !== S.dist, bytes = 8 * S.n * S.n * (apart ? 2 : 1);
  return (apart ? 200000 : 225000) / Math.pow(1 + bytes / 4e6, apart ? 0.35 : 0.25);
}
const VRP_WORK_PER_JOB = 1.2e7;
// Without a budget the caller gets a few seconds; a given budget is kept as it is (the caller sets the cap).
const VRP_DEFAULT_BUDGET_MS = 5000;
const VRP_STAGES = ["capacity", "window", "shift", "mileage"];

// Why job j cannot be served even alone: null when some allowed vehicle can take it, else the reason of the
// vehicle that got furthest through the checks capacity, window, shift, mileage.
function vrpAloneReason(S, j) {
  if (S.jBad[j]) return "coordinates";
  const n = S.n, T = S.time, D = S.dist, nd = S.jNode[j];
  let reached = -1, anyVehicle = false;
  for (let v = 0; v < S.nv; v++) {
    if (!vrpAllowed(S, j, v)) continue;
    anyVehicle = true;
    let stage = 0;
    if (S.jDemand[j] <= S.vCap[v]) {
      stage = 1;
      const a = S.vStart[v] + T[nd];
      if (a <= S.jDeadline[j]) {
        stage = 2;
        const end = Math.max(a, S.jReady[j]) + S.jService[j] + (S.vReturn[v] ? T[nd * n] : 0);
        if (end <= S.vEnd[v]) {
          stage = 3;
          if (D[nd] + (S.vReturn[v] ? D[nd * n] : 0) <= S.vMaxKm[v]) return null;
        }
      }
    }
    if (stage > reached) reached = stage;
  }
  // No vehicle at all is no vehicle on shift; vehicles that all exclude the job are its zone.
  if (!anyVehicle) return S.nv === 0 ? "shift" : "zone";
  return VRP_STAGES[reached];
}

// Why job j, which some vehicle could serve alone, found no room in the plan.
function vrpLeftReason(S, j) {
  const n = S.n, T = S.time, D = S.dist, nj = S.jNode[j];
  let capOnly = true, km = false, window = false, shift = false;
  for (let v = 0; v < S.nv; v++) {
    if (!vrpAllowed(S, j, v)) continue;
    const L = S.rLen[v];
    if (S.rLoad[v][L + 1] + S.jDemand[j] > S.vCap[v]) continue;
    capOnly = false;
    const node = S.rNode[v], dep = S.rDep[v], la = S.rLA[v];
    for (let p = 0; p <= L; p++) {
      const a = dep[p] + T[node[p] * n + nj];
      if (a > S.jDeadline[j]) { window = true; continue; }
      const nx = node[p + 1];
      const a2 = Math.max(a, S.jReady[j]) + S.jService[j] + (nx < 0 ? 0 : T[nj * n + nx]);
      if (a2 > la[p + 1]) { shift = true; continue; }
      km = true;
    }
  }
  if (capOnly) return "capacity";
  if (km) return "mileage";
  if (shift) return "shift";
  return window ? "window" : "shift";
}

// Puts the routes of an earlier plan in place, keeping only what is valid and feasible.
function vrpLoadInitial(S, initial) {
  if (!initial || !Array.isArray(initial.routes)) return;
  const seen = new Uint8Array(S.nj);
  for (let v = 0; v < S.nv && v < initial.routes.length; v++) {
    const r = initial.routes[v];
    if (!Array.isArray(r)) continue;
    for (const j of r) {
      if (!Number.isInteger(j) || j < 0 || j >= S.nj || seen[j] || S.jRoute[j] >= 0 || S.unPos[j] < 0) continue;
      if (!vrpAllowed(S, j, v)) continue;
      seen[j] = 1;
      vrpInsertRaw(S, v, j, S.rLen[v] + 1);
    }
    vrpUpdateRoute(S, v);
    // Drop stops from the end until the route keeps every hard constraint.
    while (S.rLen[v] > 0 && !S.rFeasible[v]) {
      vrpRemoveRangeRaw(S, v, S.rLen[v], S.rLen[v]);
      vrpUpdateRoute(S, v);
    }
  }
}

function vrpSolve(problem) {
  // A copy run alongside starts its clock where the caller's started (elapsedMs before it).
  const startedAt = vrpNow() - (problem && problem.elapsedMs > 0 ? problem.elapsedMs : 0);
  if (!problem || typeof problem !== "object") refuse("Нет данных для расчёта маршрутов.");
  const n = problem.n | 0;
  if (n < 1 || !problem.time || !problem.dist || problem.time.length < n * n || problem.dist.length < n * n)
    refuse("Неполная матрица расстояний для расчёта маршрутов.");
  let budget = vrpNum(problem.budgetMs, VRP_DEFAULT_BUDGET_MS);
  if (!(budget > 0)) budget = VRP_DEFAULT_BUDGET_MS;
  const S = vrpPrepare(problem);
  // A little is kept back for the last polish and for handing the plan over.
  S.deadline = startedAt + budget - Math.min(50, budget * 0.05);
  const phaseEnd = function (share) { return Math.min(S.deadline, startedAt + budget * share); };
  S.phaseDeadline = S.deadline;
  // A small day needs less search than its budget allows.
  const workLimit = Math.min(budget * vrpWorkPerMs(S), VRP_WORK_PER_JOB * Math.max(1, S.nj));

  const reasons = new Array(S.nj).fill(null);
  S.jImpossible = new Uint8Array(S.nj);
  for (let j = 0; j < S.nj; j++) {
    reasons[j] = vrpAloneReason(S, j);
    if (reasons[j] !== null) S.jImpossible[j] = 1;
    else vrpUnassignedAdd(S, j);
  }
  vrpLoadInitial(S, problem.initial);
  vrpConstruct(S);

  if (S.nj > 1 && vrpAssignedCount(S) > 0) {
    vrpInitSearch(S);
    vrpBuildNeighbours(S, Math.min(100, S.nj));
    S.phaseDeadline = phaseEnd(0.15);
    vrpLocalSearch(S, S.work + workLimit * 0.05, 20);
    vrpSetTemperature(S);
    let best = vrpSnapshot(S);
    // The clock's share of a phase follows its share of the work: a phase given a part of the work left is given the
    // same part of the time left, so that on a slower machine every phase still has its turn.
    const until = function (workEnd) {
      const left = workLimit - S.work, now = vrpNow();
      const share = left > 0 ? Math.min(1, (workEnd - S.work) / left) : 1;
      S.phaseDeadline = Math.min(S.deadline, now + (S.deadline - now) * share);
      return workEnd;
    };
    // When a vehicle costs more than driving a whole route, fewer vehicles come first: routes are eliminated
    // before the annealing. Otherwise only after it, from a good plan that the short schedules then polish.
    const vehiclesFirst = vrpVehiclesFirst(S);
    if (vehiclesFirst) {
      best = vrpFewerRoutes(S, best, until(S.work + workLimit * VRP_ELIMINATION_SHARE),
        workLimit * VRP_ELIMINATION_PATIENCE);
    }
    // The cooling schedule takes most of what is left. When vehicles come first, routes are eliminated once more
    // halfway through it, from the best plan so far, with a third of the patience: a plan half annealed gives up
    // routes that the first plan kept. Then routes are eliminated once more, from a good plan, and the search goes on
    // at the final temperature until the work is spent or it has stopped improving: VRP_PATIENCE of the work without
    // the best plan gaining VRP_GAIN of its cost.
    const annealWork = Math.max(1, workLimit - S.work);
    const scheduleEnd = S.work + annealWork * VRP_SCHEDULE;
    if (vehiclesFirst) {
      const half = S.work + (scheduleEnd - S.work) / 2;
      const tempHalf = S.tempStart * Math.pow(S.tempEnd / S.tempStart, 0.5);
      best = vrpAnneal(S, S.tempStart, tempHalf, half - S.work, until(half), best, VRP_INF);
      vrpRestore(S, best);
      best = vrpFewerRoutes(S, best, until(S.work + workLimit * VRP_MIDWAY_ELIMINATION),
        workLimit * VRP_ELIMINATION_PATIENCE / 3);
      best = vrpAnneal(S, tempHalf, S.tempEnd, scheduleEnd - S.work, until(scheduleEnd), best, VRP_INF);
    } else best = vrpAnneal(S, S.tempStart, S.tempEnd, scheduleEnd - S.work, until(scheduleEnd), best, VRP_INF);
    vrpRestore(S, best);
    const rest = Math.max(0, workLimit - S.work);
    best = vrpFewerRoutes(S, best, until(S.work + rest * VRP_LAST_ELIMINATION),
      workLimit * (vehiclesFirst ? VRP_ELIMINATION_PATIENCE : VRP_ELIMINATION_PATIENCE / 3));
    until(workLimit);
    best = vrpAnneal(S, S.tempEnd, S.tempEnd, 1, workLimit, best, annealWork * VRP_PATIENCE);
    vrpRestore(S, best);
    S.phaseDeadline = startedAt + budget - Math.min(20, budget * 0.02);
    vrpLocalSearch(S, VRP_INF, 30);
    // The reinsertion skips places at random: a job left out may still fit somewhere.
    for (let i = S.nUn - 1; i >= 0; i--) {
      const j = S.unassigned[i];
      if (vrpCheapest(S, j, 0, true) < VRP_INF) vrpInsert(S, S.candV, j, S.candPos);
    }
  }
  return vrpResult(S, reasons);
}

// Route elimination on a complete plan when vehicles cost something, then a descent; the result is kept when it is
// better than best, else the plan in S goes back to best. Returns the better of the two.
function vrpFewerRoutes(S, best, workEnd, patience) {
  if (S.nUn > 0 || S.maxFixed <= 0) return best;
  vrpEliminateRoutes(S, workEnd, patience);
  vrpLocalSearch(S, workEnd, 20);
  const after = vrpSnapshot(S);
  if (vrpBetter(after.nUn, after.obj, best.nUn, best.obj)) return after;
  vrpRestore(S, best);
  return best;
}

// Whether the fixed cost of a vehicle outweighs the rest of the cost of the mean route.
function vrpVehiclesFirst(S) {
  let used = 0, variable = 0;
  for (let v = 0; v < S.nv; v++) if (S.rLen[v] > 0) { used++; variable += S.rCost[v] - S.vFixed[v]; }
  return used > 0 && S.maxFixed > variable / used;
}

// Shares of the work allowed: route elimination before the annealing (at most); the elimination halfway through the
// cooling (at most); the work without a smaller pool after which an elimination attempt is given up; the cooling
// schedule (of what is left after the first elimination); the last elimination (of what the schedule leaves, at
// most); the work after which the search at the final temperature ends when the best plan has not gained VRP_GAIN
// of its cost. The search at the final temperature gains little (800 jobs, four seeds: 0.03 % when it runs to the
// end of the work), so the slower cooling is given nearly all of it: 0.95 of the work instead of 0.85 gave, at 800
// jobs over six seeds, distances 0.15 % shorter at equal vehicle counts, and in the city day of 1,000 orders a cost
// 1.3 % lower.
const VRP_ELIMINATION_SHARE = 0.4;
const VRP_MIDWAY_ELIMINATION = 0.1;
const VRP_ELIMINATION_PATIENCE = 0.1;
const VRP_SCHEDULE = 0.95;
const VRP_LAST_ELIMINATION = 0.8;
const VRP_PATIENCE = 0.03;
const VRP_GAIN = 0.001;

function vrpAssignedCount(S) {
  let c = 0;
  for (let v = 0; v < S.nv; v++) c += S.rLen[v];
  return c;
}

// Temperatures of the annealing, in cost units: from one and a half mean legs down to a hundredth of a leg. Routes
// of more than VRP_TEMP_JOBS jobs on average are annealed hotter, in proportion, up to VRP_TEMP_LONG times: their
// legs are short against what a ruin of several strings moves. Measured on the long-route classes of the 100-, 200-
// and 800-customer sets (routes of 30 to 55 jobs): better distances at the same work, the short ones unchanged.
function vrpSetTemperature(S) {
  let legs = 0, cost = 0, used = 0;
  for (let v = 0; v < S.nv; v++) {
    const L = S.rLen[v];
    if (L === 0) continue;
    used++;
    legs += L + 1;
    cost += S.rCost[v] - S.vFixed[v];
  }
  const mean = legs > 0 && cost > 0 ? cost / legs : 1;
  const jobs = used > 0 ? legs / used - 1 : 0;
  const hotter = Math.min(VRP_TEMP_LONG, Math.max(1, jobs / VRP_TEMP_JOBS));
  S.tempStart = VRP_TEMP_START * hotter * mean;
  S.tempEnd = VRP_TEMP_END * hotter * mean;
}

const VRP_TEMP_START = 1.5;
const VRP_TEMP_END = 0.01;
const VRP_TEMP_JOBS = 12;
const VRP_TEMP_LONG = 2.5;

function vrpResult(S, reasons) {
  const routes = [];
  let distance = 0, late = 0, cost = 0, used = 0;
  for (let v = 0; v < S.nv; v++) {
    const L = S.rLen[v];
    routes.push(Array.from(S.rJob[v].subarray(1, L + 1)));
    if (L === 0) continue;
    used++;
    distance += S.rKm[v][L + 1];
    late += S.rLate[v];
    cost += S.rCost[v];
  }
  const unassigned = [];
  for (let j = 0; j < S.nj; j++) {
    if (S.jRoute[j] >= 0) continue;
    unassigned.push({ job: j, reason: reasons[j] !== null ? reasons[j] : vrpLeftReason(S, j) });
  }
  return { routes, unassigned, cost, distance, lateness: late, vehiclesUsed: used };
}

// ---- copies alongside ---------------------------------------------------------------------------------------------
// When the host runs copies of the optimiser on threads of their own (the global PlannerThreads), a day of
// VRP_ALONGSIDE_JOBS jobs or more is solved here and by the copies at once, each copy with a seed of its own, within
// the one budget; the best plan of all is kept (fewer jobs left out, then the lower cost; this context's plan of
// equal ones). A copy that fails gives no plan, and this context's own plan stands.
const VRP_ALONGSIDE_JOBS = 200;

function vrpSolveAlongside(problem) {
  const host = typeof PlannerThreads === "object" && PlannerThreads !== null ? PlannerThreads : null;
  if (!host || !problem || !Array.isArray(problem.jobs) || problem.jobs.length < VRP_ALONGSIDE_JOBS ||
      !(problem.time instanceof Float64Array) || !(problem.dist instanceof Float64Array)) return vrpSolve(problem);
  const shared = Object.assign({}, problem, { time: null, dist: null });
  const started = host.start(vrpPack(shared), problem.time, problem.dist);
  let best, answers = [];
  try {
    best = vrpSolve(problem);
  } finally {
    if (started > 0) answers = host.finish();
  }
  for (let i = 0; i < answers.length; i++) {
    if (!answers[i]) continue;
    const other = vrpUnpack(answers[i]);
    if (!other || !Array.isArray(other.routes) || !Array.isArray(other.unassigned)) continue;
    const a = other.unassigned.length, b = best.unassigned.length;
    if (a < b || (a === b && other.cost < best.cost - 1e-9)) best = other;
  }
  return best;
}

// One copy: the problem as vrpPack wrote it, the shared matrices, the copy's number (its seed follows from it) and
// the time the caller has already spent. Answers the plan as vrpPack writes it.
function vrpSolveCopy(text, time, dist, index, elapsedMs) {
  const problem = vrpUnpack(text);
  problem.time = time; problem.dist = dist;
  problem.seed = ((vrpNum(problem.seed, 1) | 0) + 7919 * index) | 0;
  problem.elapsedMs = elapsedMs;
  return vrpPack(vrpSolve(problem));
}

// JSON that keeps the numbers JSON has no form for (an unlimited mileage is Infinity).
function vrpPack(value) {
  return JSON.stringify(value, function (key, v) {
    return typeof v === "number" && !isFinite(v) ? { $number: String(v) } : v;
  });
}

function vrpUnpack(text) {
  return JSON.parse(text, function (key, v) {
    return v !== null && typeof v === "object" && typeof v.$number === "string" && Object.keys(v).length === 1 ?
      Number(v.$number) : v;
  });
}

PlannerCore.solve = vrpSolveAlongside;
PlannerCore.solveCopy = vrpSolveCopy;
