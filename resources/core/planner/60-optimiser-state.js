// The route optimiser's state: problem preparation, the seeded generator, the route state with its
// forward (arrival, departure, load, km) and backward (latest feasible arrival, waiting slack) arrays, and the O(1)
// insertion test every search move is built on.
//
// Objective, in order: fewest unassigned jobs; no hard constraint ever broken (every move is tested before it is
// made); least lateness; then least cost = fixed cost of each used vehicle + costPerKm * km + costPerMin * minutes.
// Unassigned jobs are compared as a count, before anything else. Lateness is weighted far above cost (vrpLateWeight):
// a minute late outweighs any vehicle's fixed cost, which keeps the order "lateness, then cost" in one number.

const VRP_INF = Infinity;
const VRP_NO_LEG = 1e9;

// mulberry32: small, fast, good enough for a search; the state is a 32-bit integer kept in the solver state.
function vrpRandom(S) {
  let t = (S.rng = (S.rng + 0x6D2B79F5) | 0);
  t = Math.imul(t ^ (t >>> 15), t | 1);
  t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
  return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
}

function vrpNum(value, fallback) {
  const x = typeof value === "number" ? value : Number(value);
  return value === null || value === undefined || Number.isNaN(x) ? fallback : x;
}

// Builds the solver state from the problem: flat typed arrays, one slot per job and per vehicle.
function vrpPrepare(problem) {
  const n = problem.n | 0;
  const jobs = Array.isArray(problem.jobs) ? problem.jobs : [];
  const vehicles = Array.isArray(problem.vehicles) ? problem.vehicles : [];
  const nj = jobs.length, nv = vehicles.length;
  const S = {
    n, nj, nv, time: problem.time, dist: problem.dist,
    cpk: Math.max(0, vrpNum(problem.costPerKm, 1)), cpm: Math.max(0, vrpNum(problem.costPerMin, 0)),
    rng: (vrpNum(problem.seed, 1) | 0) ^ 0x5bd1e995,
    jNode: new Int32Array(nj), jDemand: new Float64Array(nj), jService: new Float64Array(nj),
    jReady: new Float64Array(nj), jDue: new Float64Array(nj), jDeadline: new Float64Array(nj),
    jBad: new Uint8Array(nj), jAllowAll: new Uint8Array(nj), jAllowed: null,
    vStart: new Float64Array(nv), vEnd: new Float64Array(nv), vCap: new Float64Array(nv), vMaxKm: new Float64Array(nv),
    vReturn: new Uint8Array(nv), vFixed: new Float64Array(nv), vOpen: new Uint8Array(nv), vClass: new Int32Array(nv),
    classes: [], hasSoft: false, maxFixed: 0,
    work: 0, deadline: 0, usedRoutes: 0, emptyEpoch: 0,
  };
  // A node that cannot be reached from the depot or back (travel figures that are not finite numbers: a point
  // without a place) cannot be visited. Any other leg without a finite figure is made too long to drive, on a copy.
  const nodeBad = new Uint8Array(n);
  let broken = false;
  for (let i = 0; i < n * n && !broken; i++) {
    const a = problem.time[i], b = problem.dist[i];
    if (!(a - a === 0) || !(b - b === 0)) broken = true;
  }
  if (broken) {
    const time = new Float64Array(n * n), dist = new Float64Array(n * n);
    for (let i = 0; i < n * n; i++) {
      const a = +problem.time[i], b = +problem.dist[i];
      time[i] = a - a === 0 ? a : VRP_NO_LEG; dist[i] = b - b === 0 ? b : VRP_NO_LEG;
    }
    for (let k = 0; k < n; k++)
      if (time[k] === VRP_NO_LEG || dist[k] === VRP_NO_LEG || time[k * n] === VRP_NO_LEG || dist[k * n] === VRP_NO_LEG) nodeBad[k] = 1;
    S.time = time; S.dist = dist;
  }
  S.sym = vrpSymmetric(S.time, n) && (S.dist === S.time || vrpSymmetric(S.dist, n));
  // The caller may say that no detour is shorter than the direct leg (problem.triangle): straight lines and their
  // multiples keep it, measured road legs need not.
  S.triangle = problem.triangle === true && !broken;
  for (let j = 0; j < nj; j++) {
    const job = jobs[j] || {};
    const node = job.node;
    const ok = typeof node === "number" && Number.isInteger(node) && node >= 0 && node < n && !nodeBad[node] && !nodeBad[0];
    S.jNode[j] = ok ? node : 0;
    S.jBad[j] = ok ? 0 : 1;
    S.jDemand[j] = Math.max(0, vrpNum(job.demand, 0));
    S.jService[j] = Math.max(0, vrpNum(job.service, 0));
    S.jReady[j] = vrpNum(job.start, 0);
    const end = vrpNum(job.end, VRP_INF);
    S.jDue[j] = end;
    const tol = job.hard ? 0 : Math.max(0, vrpNum(job.tolerance, 0));
    S.jDeadline[j] = end + tol;
    if (tol > 0 && end < VRP_INF) S.hasSoft = true;
    S.jAllowAll[j] = Array.isArray(job.vehicles) ? 0 : 1;
  }
  if (S.jAllowAll.indexOf(0) >= 0) {
    S.jAllowed = new Uint8Array(nj * nv);
    for (let j = 0; j < nj; j++) {
      const list = jobs[j] && jobs[j].vehicles;
      if (!Array.isArray(list)) { S.jAllowed.fill(1, j * nv, j * nv + nv); continue; }
      for (const v of list) if (Number.isInteger(v) && v >= 0 && v < nv) S.jAllowed[j * nv + v] = 1;
    }
  }
  const classKeys = new Map();
  for (let v = 0; v < nv; v++) {
    const veh = vehicles[v] || {};
    S.vStart[v] = vrpNum(veh.start, 0);
    S.vEnd[v] = vrpNum(veh.end, VRP_INF);
    S.vCap[v] = vrpNum(veh.capacity, VRP_INF);
    S.vMaxKm[v] = vrpNum(veh.maxKm, VRP_INF);
    S.vReturn[v] = veh.returnToDepot ? 1 : 0;
    S.vFixed[v] = Math.max(0, vrpNum(veh.fixedCost, 0));
    S.vOpen[v] = 1;
    if (S.vFixed[v] > S.maxFixed) S.maxFixed = S.vFixed[v];
    // Vehicles alike in every figure form a class: an empty vehicle of a class stands for all of them.
    const key = [S.vStart[v], S.vEnd[v], S.vCap[v], S.vMaxKm[v], S.vReturn[v], S.vFixed[v]].join("|");
    let c = classKeys.get(key);
    if (c === undefined) { c = S.classes.length; classKeys.set(key, c); S.classes.push([]); }
    S.vClass[v] = c;
    S.classes[c].push(v);
  }
  // A minute late weighs more than any vehicle and more than a long detour.
  S.lateWeight = 10 * S.maxFixed + 1000 * (S.cpk + S.cpm) + 1;
  S.classEpoch = new Int32Array(S.classes.length).fill(-1);
  S.classEmpty = new Int32Array(S.classes.length);
  vrpInitRoutes(S);
  return S;
}

// Whether the matrix reads the same both ways: then a job's legs to and from every stop are read from its own row,
// which stays in the caches while the job's places are looked at, instead of one row per stop. The matrix is read
// in tiles, so that its columns come from the caches too.
function vrpSymmetric(M, n) {
  const tile = 64;
  for (let bi = 0; bi < n; bi += tile)
    for (let bk = bi; bk < n; bk += tile)
      for (let i = bi; i < bi + tile && i < n; i++)
        for (let k = Math.max(bk, i + 1); k < bk + tile && k < n; k++) if (M[i * n + k] !== M[k * n + i]) return false;
  return true;
}

function vrpAllowed(S, j, v) {
  return S.jAllowAll[j] === 1 || S.jAllowed[j * S.nv + v] === 1;
}

// ---- route state -------------------------------------------------------------------------------------------------
// Route v holds positions 0..L+1: 0 is the depot at the shift start, 1..L the jobs, L+1 the end (the depot when the
// vehicle returns, else a point reached at no travel from the last stop). Per position: node, arrival, departure,
// latest feasible arrival (LA), load and km from the start, waiting from that position to the end, with soft
// windows the latest arrival that makes no job from there on late (on-time bound), and the minutes and km of the
// leg to the next position (none after the last job of a vehicle that does not come back).

function vrpInitRoutes(S) {
  const nv = S.nv, nj = S.nj;
  S.rLen = new Int32Array(nv);
  S.rJob = new Array(nv); S.rNode = new Array(nv); S.rArr = new Array(nv); S.rDep = new Array(nv);
  S.rLA = new Array(nv); S.rLoad = new Array(nv); S.rKm = new Array(nv); S.rWait = new Array(nv);
  S.rOnTime = new Array(nv); S.rLegT = new Array(nv); S.rLegD = new Array(nv);
  S.rUsed = new Uint8Array(nv); S.rChanged = new Uint8Array(nv).fill(1); S.lastSnapshot = null;
  S.rCost = new Float64Array(nv); S.rLate = new Float64Array(nv); S.rFeasible = new Uint8Array(nv);
  for (let v = 0; v < nv; v++) vrpAllocRoute(S, v, 8);
  S.jRoute = new Int32Array(nj).fill(-1);
  S.jPos = new Int32Array(nj);
  S.unassigned = new Int32Array(nj); S.nUn = 0;
  S.unPos = new Int32Array(nj).fill(-1);
  S.totalCost = 0; S.totalLate = 0;
  for (let v = 0; v < nv; v++) vrpUpdateRoute(S, v);
}

function vrpAllocRoute(S, v, cap) {
  const old = S.rJob[v];
  S.rJob[v] = new Int32Array(cap); S.rNode[v] = new Int32Array(cap); S.rArr[v] = new Float64Array(cap);
  S.rDep[v] = new Float64Array(cap); S.rLA[v] = new Float64Array(cap); S.rLoad[v] = new Float64Array(cap);
  S.rOnTime[v] = new Float64Array(cap);
  S.rKm[v] = new Float64Array(cap); S.rWait[v] = new Float64Array(cap);
  const oldT = S.rLegT[v], oldD = S.rLegD[v];
  S.rLegT[v] = new Float64Array(cap); S.rLegD[v] = new Float64Array(cap);
  if (old) {
    const keep = Math.min(old.length, cap);
    S.rJob[v].set(old.subarray(0, keep));
    S.rLegT[v].set(oldT.subarray(0, keep)); S.rLegD[v].set(oldD.subarray(0, keep));
  }
}

function vrpEnsureRoom(S, v, len) {
  if (S.rJob[v].length < len + 2) vrpAllocRoute(S, v, Math.max(len + 2, S.rJob[v].length * 2));
}

// Recomputes every array of route v from its job list (positions 1..L of rJob). With keptLegs, the caller has kept
// the leg arrays in step with its edits since the route was last recomputed (vrpInsertRaw and vrpRemoveRangeRaw
// move them with the jobs and mark the legs they make new as NaN): only those are read from the matrices, whose
// reads the caches seldom hold on large days. With the legs kept here and in the journal, read from the job's row in
// the insertion test and the places below passed over, the same work took 24 % less processor time on twelve days
// of 1,000 jobs (one search each, run side by side with the version before).
function vrpUpdateRoute(S, v, keptLegs) {
  const L = S.rLen[v], job = S.rJob[v], node = S.rNode[v], arr = S.rArr[v], dep = S.rDep[v], la = S.rLA[v];
  const load = S.rLoad[v], km = S.rKm[v], wait = S.rWait[v], legT = S.rLegT[v], legD = S.rLegD[v];
  S.rChanged[v] = 1;
  const n = S.n, T = S.time, D = S.dist, kept = keptLegs === true;
  let t = S.vStart[v], prev = 0, ld = 0, k = 0, late = 0, ok = true;
  node[0] = 0; arr[0] = t; dep[0] = t; load[0] = 0; km[0] = 0;
  for (let p = 1; p <= L; p++) {
    const j = job[p], nd = S.jNode[j];
    node[p] = nd;
    if (!kept || !(legT[p - 1] === legT[p - 1])) { legT[p - 1] = T[prev * n + nd]; legD[p - 1] = D[prev * n + nd]; }
    const lt = legT[p - 1], ld1 = legD[p - 1];
    const a = t + lt;
    arr[p] = a;
    if (a > S.jDeadline[j]) ok = false;
    if (a > S.jDue[j]) late += a - S.jDue[j];
    const b = a > S.jReady[j] ? a : S.jReady[j];
    wait[p] = b - a;
    t = b + S.jService[j];
    dep[p] = t;
    ld += S.jDemand[j]; load[p] = ld;
    k += ld1; km[p] = k;
    S.jRoute[j] = v; S.jPos[j] = p;
    prev = nd;
  }
  const e = L + 1;
  if (S.vReturn[v]) {
    node[e] = 0;
    if (!kept || !(legT[L] === legT[L])) { legT[L] = T[prev * n]; legD[L] = D[prev * n]; }
    t += legT[L]; k += legD[L];
  } else { node[e] = -1; legT[L] = 0; legD[L] = 0; }
  arr[e] = t; dep[e] = t; load[e] = ld; km[e] = k; wait[e] = 0;
  la[e] = S.vEnd[v];
  if (t > S.vEnd[v] || ld > S.vCap[v] || k > S.vMaxKm[v]) ok = false;
  let w = 0;
  const soft = S.hasSoft, onTime = S.rOnTime[v];
  onTime[e] = VRP_INF;
  for (let p = L; p >= 1; p--) {
    const j = job[p];
    const leg = legT[p] + S.jService[j];
    const lim = la[p + 1] - leg;
    la[p] = lim < S.jDeadline[j] ? lim : S.jDeadline[j];
    if (soft) { const o = onTime[p + 1] - leg; onTime[p] = o < S.jDue[j] ? o : S.jDue[j]; }
    w += wait[p]; wait[p] = w;
  }
  la[0] = L > 0 ? la[1] - legT[0] : la[e];
  wait[0] = w;
  S.work += 3 * L + 36;
  const wasUsed = S.rUsed[v] === 1;
  if (wasUsed !== L > 0) { S.rUsed[v] = L > 0 ? 1 : 0; S.usedRoutes += L > 0 ? 1 : -1; S.emptyEpoch++; }
  const cost = L > 0 ? S.vFixed[v] + S.cpk * k + S.cpm * (t - S.vStart[v]) : 0;
  S.totalCost += cost - S.rCost[v];
  S.totalLate += late - S.rLate[v];
  S.rCost[v] = cost; S.rLate[v] = late;
  S.rFeasible[v] = ok ? 1 : 0;
}

// ---- the insertion test -----------------------------------------------------------------------------------------
// Best place for job j in route v: the cheapest feasible position (S.insPos) and its added weighted cost (returned,
// Infinity when none). blink > 0 skips each position with that probability (the "blinks" of the recreate step).
function vrpBestInsertion(S, v, j, blink) {
  if (!S.vOpen[v] || !vrpAllowed(S, j, v)) return VRP_INF;
  const L = S.rLen[v];
  if (S.rLoad[v][L + 1] + S.jDemand[j] > S.vCap[v]) return VRP_INF;
  const n = S.n, T = S.time, D = S.dist, node = S.rNode[v], dep = S.rDep[v], arr = S.rArr[v], la = S.rLA[v];
  const wait = S.rWait[v], nj = S.jNode[j], ready = S.jReady[j], serv = S.jService[j], dl = S.jDeadline[j];
  const kmLeft = S.vMaxKm[v] - S.rKm[v][L + 1], cpk = S.cpk, cpm = S.cpm, soft = S.hasSoft;
  const rowJ = nj * n, onTime = S.rOnTime[v], late0 = S.rLate[v] === 0, due = S.jDue[j], legD = S.rLegD[v];
  // The leg from stop pn to the job is T[pn * stride + off]: the job's own row when the matrices are symmetric.
  const stride = S.sym ? 1 : n, off = S.sym ? rowJ : nj;
  let best = VRP_INF, bestPos = -1;
  // The latest arrivals only grow along the route: the places before the first whose next stop can still be reached
  // after the job's service, were it to begin the moment its window opens, fit no travel at all. They are passed
  // over by a binary search, without a look at the matrices (a fifth to a third of the places on days of 1,000
  // jobs, each of which costs a read of the matrix that the caches seldom hold).
  const need = ready + serv;
  let lo = 0, hi = L;
  while (lo < hi) { const mid = (lo + hi) >> 1; if (la[mid + 1] < need) lo = mid + 1; else hi = mid; }
  const first = lo;
  let p = first;
  // Departures only grow along the route: once one is past the job's deadline, so are all after it. Where no detour
  // is shorter than the direct leg, a place whose next stop has less room before its latest arrival than the job's
  // service cannot take the job either, and is passed over before the matrices are read: on days of 1,000 jobs,
  // a third to a half of the places of the clustered ones, a tenth on the others. The small margin keeps a place
  // that rounding alone would lose.
  const triangle = S.triangle;
  let passed = 0;
  for (; p <= L && dep[p] <= dl; p++) {
    if (triangle && arr[p + 1] + serv > la[p + 1] + 1e-7) { passed++; continue; }
    if (blink > 0 && vrpRandom(S) < blink) continue;
    const pn = node[p], to = pn * stride + off;
    const a = dep[p] + T[to];
    if (a > dl) continue;
    const b = (a > ready ? a : ready) + serv;
    const nx = node[p + 1];
    const a2 = nx < 0 ? b : b + T[rowJ + nx];
    if (a2 > la[p + 1]) continue;
    const dd = nx < 0 ? D[to] : D[to] + D[rowJ + nx] - legD[p];
    if (dd > kmLeft) continue;
    let delta = cpk * dd;
    if (cpm > 0 || soft) {
      const push = a2 - arr[p + 1];
      if (cpm > 0) {
        let shift;
        if (push >= 0) { shift = push - wait[p + 1]; if (shift < 0) shift = 0; }
        else shift = vrpEndShift(S, v, p + 1, push);
        delta += cpm * shift;
      }
      // A route without lateness stays so after the new job while the next arrival keeps its on-time bound.
      if (soft) {
        if (late0 && a2 <= onTime[p + 1]) { if (a > due) delta += S.lateWeight * (a - due); }
        else delta += S.lateWeight * vrpLateDelta(S, v, p + 1, push, a, j);
      }
    }
    if (delta < best) { best = delta; bestPos = p; }
  }
  // Measured: the call costs about as much as nine places looked at, and a place about the same whether it passes
  // the window test or not; the time and lateness terms make a place cost twice as much.
  const places = p > first ? p - first - passed : 0;
  S.work += (cpm > 0 || soft ? 2 * places : places) + 9 + (passed >> 2);
  if (bestPos < 0) return VRP_INF;
  if (L === 0) best += S.vFixed[v];
  S.insPos = bestPos + 1;
  return best;
}

// Change of the end time when the arrival at position q moves by push < 0 (earlier).
function vrpEndShift(S, v, q, push) {
  const L = S.rLen[v], arr = S.rArr[v], job = S.rJob[v];
  for (let p = q; p <= L; p++) {
    S.work++;
    const j = job[p], a = arr[p], r = S.jReady[j];
    const oldB = a > r ? a : r, na = a + push, newB = na > r ? na : r;
    push = newB - oldB;
    if (push === 0) return 0;
  }
  return push;
}

// Change of total lateness when job j arrives at time a before position q and the arrival at q moves by push.
function vrpLateDelta(S, v, q, push, a, j) {
  let d = a > S.jDue[j] ? a - S.jDue[j] : 0;
  const L = S.rLen[v], arr = S.rArr[v], job = S.rJob[v];
  for (let p = q; p <= L && push !== 0; p++) {
    S.work++;
    const k = job[p], due = S.jDue[k], old = arr[p], na = old + push;
    d += (na > due ? na - due : 0) - (old > due ? old - due : 0);
    const r = S.jReady[k], oldB = old > r ? old : r, newB = na > r ? na : r;
    push = newB - oldB;
  }
  return d;
}

// ---- edits ------------------------------------------------------------------------------------------------------

function vrpUnassignedAdd(S, j) {
  if (S.unPos[j] >= 0) return;
  S.unPos[j] = S.nUn; S.unassigned[S.nUn++] = j; S.jRoute[j] = -1;
}

function vrpUnassignedRemove(S, j) {
  const p = S.unPos[j];
  if (p < 0) return;
  const last = S.unassigned[--S.nUn];
  S.unassigned[p] = last; S.unPos[last] = p; S.unPos[j] = -1;
}

// Inserts job j at position pos (1..L+1) of route v, without recomputing the route.
function vrpInsertRaw(S, v, j, pos) {
  const L = S.rLen[v];
  vrpEnsureRoom(S, v, L + 1);
  const job = S.rJob[v], legT = S.rLegT[v], legD = S.rLegD[v];
  for (let p = L; p >= pos; p--) job[p + 1] = job[p];
  job[pos] = j;
  // The legs from position pos on move up by one place; the one ending at pos and the one after it are new.
  for (let q = L; q >= pos; q--) { legT[q + 1] = legT[q]; legD[q + 1] = legD[q]; }
  legT[pos - 1] = NaN; legT[pos] = NaN;
  S.rLen[v] = L + 1;
  S.rChanged[v] = 1;
  S.jRoute[j] = v;
  vrpUnassignedRemove(S, j);
}

function vrpInsert(S, v, j, pos) {
  vrpInsertRaw(S, v, j, pos);
  vrpUpdateRoute(S, v, true);
}

// Removes the jobs at positions from..to (inclusive) of route v into the unassigned list, without recomputing.
function vrpRemoveRangeRaw(S, v, from, to) {
  const L = S.rLen[v], job = S.rJob[v], cnt = to - from + 1, legT = S.rLegT[v], legD = S.rLegD[v];
  for (let p = from; p <= to; p++) vrpUnassignedAdd(S, job[p]);
  for (let p = to + 1; p <= L; p++) job[p - cnt] = job[p];
  // The legs after the removed jobs move down; the one that now joins their neighbours is new.
  for (let q = to + 1; q <= L; q++) { legT[q - cnt] = legT[q]; legD[q - cnt] = legD[q]; }
  legT[from - 1] = NaN;
  S.rLen[v] = L - cnt;
  S.rChanged[v] = 1;
}

// The weighted objective of the assigned part: cost plus weighted lateness.
function vrpObjective(S) {
  return S.totalCost + S.lateWeight * S.totalLate;
}

// ---- snapshots --------------------------------------------------------------------------------------------------

// A snapshot's route lists are never changed, so the next snapshot shares those of the routes that have not been
// recomputed since (S.rChanged) and copies only the others.
function vrpSnapshot(S) {
  const routes = new Array(S.nv), last = S.lastSnapshot;
  let copied = 0;
  for (let v = 0; v < S.nv; v++) {
    if (last && !S.rChanged[v]) { routes[v] = last.routes[v]; continue; }
    routes[v] = S.rJob[v].slice(1, S.rLen[v] + 1);
    S.rChanged[v] = 0;
    copied += S.rLen[v];
  }
  S.work += S.nv + copied;
  const snap = { routes, nUn: S.nUn, obj: vrpObjective(S), used: vrpUsedCount(S) };
  S.lastSnapshot = snap;
  return snap;
}

function vrpRestore(S, snap) {
  for (let j = 0; j < S.nj; j++) { S.jRoute[j] = -1; S.unPos[j] = -1; }
  S.nUn = 0;
  for (let v = 0; v < S.nv; v++) {
    const r = snap.routes[v];
    vrpEnsureRoom(S, v, r.length);
    S.rJob[v].set(r, 1);
    S.rLen[v] = r.length;
    vrpUpdateRoute(S, v);
  }
  for (let j = 0; j < S.nj; j++) if (S.jRoute[j] < 0 && !S.jImpossible[j]) vrpUnassignedAdd(S, j);
}

function vrpUsedCount(S) {
  let c = 0;
  for (let v = 0; v < S.nv; v++) if (S.rLen[v] > 0) c++;
  return c;
}
