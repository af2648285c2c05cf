// Route elimination with an ejection pool, in the manner of Nagata and Bräysy's route minimisation heuristic.
// One route is emptied and its jobs go into a pool (a stack). The jobs are taken from the pool one by one and put
// back into the remaining routes:
//   1. at the cheapest place where the job fits as the routes stand;
//   2. else, at random with probability VRP_SQUEEZE_SHARE, by a squeeze: the job goes where it breaks the
//      constraints least, and moves between the broken route and its neighbours take the breach back to zero (undone
//      when they cannot); not when the job would arrive there more than VRP_SQUEEZE_WARP mean legs late;
//   3. else by ejection: the job goes in at the place where putting out at most VRP_EJECT_MAX other jobs makes the
//      route feasible at the least sum of their ejection counts; the ejected jobs go into the pool and the job's own
//      count grows, so jobs that are hard to place get put out less and less often. The places are searched the
//      least breach first, so that a search cut short by its limit has looked at the likeliest ones. Random feasible
//      moves then shake the routes so that the next ejections meet new neighbourhoods.
// When the loads must be packed (one route fewer leaves less than VRP_PACKED_ROOM of a vehicle's load free in all),
// the lighter of two routes is emptied; an ejection is looked for in the routes of twice as many jobs near the job,
// and among equal ones puts out the least load (the route it leaves is the fullest: the pool only empties when the
// routes are all but full), then adds the fewest km; and a random move may lengthen the plan by VRP_PERTURB_RISE
// mean legs at most (the routes of a tight packing hardly move afterwards, so what the shaking lengthens stays),
// and an attempt has VRP_PACKED_PATIENCE times the patience.
// When the pool is empty the route is gone and the next route is tried. A failed attempt leaves the plan as it was
// before it; another route is then tried, until the work runs out or VRP_ELIMINATION_TRIES attempts have failed.
// After a failed attempt the next one empties its route the other way: by ruin and recreate weighted by absences
// (vrpEmptyByAbsences). The two fail on different days: the ejection is the stronger on short routes and when the
// loads must be packed tight, the absences on long routes with wide windows, where one ejection of a few jobs changes
// little.
//
// The squeeze needs to measure how far a route breaks its constraints, in time proportional to the change: the
// routes keep prefix and suffix figures in the time-warp form (an arrival after the deadline is moved back to it and
// the difference counted as warp), so that any prefix, up to two single jobs and any suffix can be joined and
// measured in constant time. The breach of a route is alpha * warp + load over capacity + km over the mileage limit.

const VRP_EJECT_MAX = 5;
const VRP_EJECT_NEIGHBOURS = 30;
const VRP_EJECT_NEIGHBOURS_PACKED = 60;
const VRP_ELIMINATION_TRIES = 3;
// Random moves after each ejection: one for every VRP_PERTURB_JOBS jobs of the day, at least VRP_PERTURB_MOVES, so
// that a large day is shaken as much in proportion as a small one (at 800 jobs, one seed: 3 fewer instances above
// the best-known vehicle count, the distances at equal counts unchanged; one seed varies by 1 to 2 instances).
const VRP_PERTURB_MOVES = 20;
const VRP_PERTURB_JOBS = 8;
const VRP_EJECT_SEARCH_LIMIT = 800000;
// Breach above which the places for an ejection are not told apart (all such places need many ejections anyway).
const VRP_PLACE_BREACH_CAP = 1e6;
// Share of the jobs from the pool that are offered to the squeeze. The squeeze takes most of the elimination's work
// and succeeds about once in twenty calls; offered half of the jobs, it leaves that work to more ejections (800 jobs,
// four seeds: half a vehicle fewer on average, the distances at equal counts 0.1 % shorter).
const VRP_SQUEEZE_SHARE = 0.5;
// Lateness, in mean legs of the plan, beyond which a job is not squeezed but goes straight to the ejection. Such
// squeezes seldom succeed and are the dearest: on a clustered day of 800 jobs with long routes, they took half of
// the elimination's work and one in 25 succeeded, against one in 7 for the others. The work goes to more ejections
// instead (800 jobs, six seeds: 1.2 fewer instances above the best-known vehicle count on average, the distances at
// equal counts 0.1 % longer; the 200-job set and the city days a little better).
const VRP_SQUEEZE_WARP = 4;
// Room left in all routes, in vehicle loads, below which an elimination is a packing of loads and keeps to the
// ejection (800 jobs, four seeds: with the absences there, the capacity-bound class lost a vehicle in 2 of 40 runs).
// Below the room VRP_PACKED_ROOM the packing rules above hold. On the days of 800 jobs whose loads fill all but 13
// units of the best-known fleet, they bring 4 of the 10 a vehicle nearer that fleet on average (six seeds: 8.2 above
// it before, 4.0 after; 6.0 without the wider search and the km), and the shaking's bound of 4 mean legs
// keeps those plans about 1 % shorter than without it. With more room (days of 200 jobs, 42 units, for a fleet that
// the ejection reaches anyway) they only made the plans 0.25 % longer.
const VRP_PACKING_ROOM = 0.25;
const VRP_PACKED_ROOM = 0.15;
const VRP_PERTURB_RISE = 4;
// An attempt by ejection at a tight packing is given this many times the patience: its pool keeps the few jobs that
// fit nowhere for a long time before the last routes give up the room. On the ten days of 800 jobs whose loads fill
// all but 13 units of the best-known fleet: 4.0 → 3.3 above its count on average over six seeds, 4.1 → 3.6 over
// twelve. A day with 20 units of room that stays a vehicle above it spends the failed attempts' work on them instead
// of the annealing (0.8 % longer); days with more room keep their plans.
const VRP_PACKED_PATIENCE = 2;

// ---- penalty profiles -------------------------------------------------------------------------------------------

function vrpProfileInit(S) {
  const nv = S.nv;
  S.pfT = new Array(nv); S.pfW = new Array(nv); S.pfLoad = new Array(nv); S.pfKm = new Array(nv);
  S.sfD = new Array(nv); S.sfW = new Array(nv); S.sfE = new Array(nv); S.sfL = new Array(nv);
  S.sfLoad = new Array(nv); S.sfKm = new Array(nv);
  S.pen = new Float64Array(nv);
  S.alpha = 1;
  for (let v = 0; v < nv; v++) vrpProfileAlloc(S, v, S.rJob[v].length);
}

function vrpProfileAlloc(S, v, cap) {
  S.pfT[v] = new Float64Array(cap); S.pfW[v] = new Float64Array(cap); S.pfLoad[v] = new Float64Array(cap);
  S.pfKm[v] = new Float64Array(cap); S.sfD[v] = new Float64Array(cap); S.sfW[v] = new Float64Array(cap);
  S.sfE[v] = new Float64Array(cap); S.sfL[v] = new Float64Array(cap); S.sfLoad[v] = new Float64Array(cap);
  S.sfKm[v] = new Float64Array(cap);
}

// Recomputes route v (its ordinary arrays and its profile) after its job list changed.
function vrpProfileUpdate(S, v) {
  vrpUpdateRoute(S, v);
  const L = S.rLen[v];
  if (S.pfT[v].length < L + 2) vrpProfileAlloc(S, v, S.rJob[v].length);
  const job = S.rJob[v], node = S.rNode[v], n = S.n, T = S.time, Dm = S.dist;
  const pT = S.pfT[v], pW = S.pfW[v], pLoad = S.pfLoad[v], pKm = S.pfKm[v];
  let t = S.vStart[v], w = 0, ld = 0, km = 0, prev = 0;
  pT[0] = t; pW[0] = 0; pLoad[0] = 0; pKm[0] = 0;
  for (let p = 1; p <= L; p++) {
    const j = job[p], nd = node[p];
    let a = t + T[prev * n + nd];
    if (a > S.jDeadline[j]) { w += a - S.jDeadline[j]; a = S.jDeadline[j]; }
    t = (a > S.jReady[j] ? a : S.jReady[j]) + S.jService[j];
    ld += S.jDemand[j]; km += Dm[prev * n + nd];
    pT[p] = t; pW[p] = w; pLoad[p] = ld; pKm[p] = km;
    prev = nd;
  }
  const sD = S.sfD[v], sW = S.sfW[v], sE = S.sfE[v], sL = S.sfL[v], sLoad = S.sfLoad[v], sKm = S.sfKm[v];
  for (let q = L; q >= 1; q--) {
    const j = job[q];
    const D1 = S.jService[j], E1 = S.jReady[j], L1 = S.jDeadline[j];
    if (q === L) { sD[q] = D1; sW[q] = 0; sE[q] = E1; sL[q] = L1; sLoad[q] = S.jDemand[j]; sKm[q] = 0; continue; }
    const t12 = T[node[q] * n + node[q + 1]], delta = D1 + t12;
    const E2 = sE[q + 1], L2 = sL[q + 1];
    const dWait = E2 - delta - L1 > 0 ? E2 - delta - L1 : 0;
    const dWarp = E1 + delta - L2 > 0 ? E1 + delta - L2 : 0;
    sD[q] = D1 + sD[q + 1] + t12 + dWait;
    sW[q] = sW[q + 1] + dWarp;
    sE[q] = (E2 - delta > E1 ? E2 - delta : E1) - dWait;
    sL[q] = (L2 - delta < L1 ? L2 - delta : L1) + dWarp;
    sLoad[q] = S.jDemand[j] + sLoad[q + 1];
    sKm[q] = Dm[node[q] * n + node[q + 1]] + sKm[q + 1];
  }
  S.pen[v] = L === 0 ? 0 : vrpJoinPenalty(S, v, v, L, -1, -1, -1, 0);
  S.work += 2 * L + 4;
}

// Breach of the route that vehicle y would drive: positions 0..p of route u, then the jobs j1 and j2 (each -1 for
// none), then positions q..end of route x (x = -1 or q past its end for none), then y's end of shift.
function vrpJoinPenalty(S, y, u, p, j1, j2, x, q) {
  const n = S.n, T = S.time, Dm = S.dist;
  let t = S.pfT[u][p], w = S.pfW[u][p], ld = S.pfLoad[u][p], km = S.pfKm[u][p];
  let prev = S.rNode[u][p];
  for (let s = 0; s < 2; s++) {
    const j = s === 0 ? j1 : j2;
    if (j < 0) continue;
    const nd = S.jNode[j];
    let a = t + T[prev * n + nd];
    if (a > S.jDeadline[j]) { w += a - S.jDeadline[j]; a = S.jDeadline[j]; }
    t = (a > S.jReady[j] ? a : S.jReady[j]) + S.jService[j];
    ld += S.jDemand[j]; km += Dm[prev * n + nd];
    prev = nd;
  }
  if (x >= 0 && q <= S.rLen[x]) {
    const first = S.rNode[x][q];
    let a = t + T[prev * n + first];
    const lat = S.sfL[x][q], ear = S.sfE[x][q];
    if (a > lat) { w += a - lat; a = lat; }
    if (a < ear) a = ear;
    t = a + S.sfD[x][q] - S.sfW[x][q];
    w += S.sfW[x][q];
    ld += S.sfLoad[x][q];
    km += Dm[prev * n + first] + S.sfKm[x][q];
    prev = S.rNode[x][S.rLen[x]];
  }
  if (S.vReturn[y]) { t += T[prev * n]; km += Dm[prev * n]; }
  if (t > S.vEnd[y]) w += t - S.vEnd[y];
  S.work += 6;
  const over = ld - S.vCap[y], far = km - S.vMaxKm[y];
  return S.alpha * w + (over > 1e-9 ? over : 0) + (far > 1e-9 ? far : 0);
}

// Whether every job of positions q..end of route x may ride in vehicle y.
function vrpSuffixAllowed(S, x, q, y) {
  if (S.jAllowed === null || x === y) return true;
  const job = S.rJob[x], L = S.rLen[x];
  for (let p = q; p <= L; p++) if (!vrpAllowed(S, job[p], y)) return false;
  return true;
}

// ---- moves between two routes -----------------------------------------------------------------------------------
// A move is (kind, a, b): job a of route A against job b of route B (A != B). Kinds: 0 and 1 the two 2-opt* joins
// (a then b; b then a), 2 and 3 a moved after or before b, 4 and 5 b moved after or before a, 6 a and b swapped.
const VRP_MOVE_KINDS = 7;

// Change of the total breach that the move would bring, or Infinity when it is not allowed.
function vrpMoveDelta(S, kind, a, b) {
  const A = S.jRoute[a], B = S.jRoute[b], i = S.jPos[a], j = S.jPos[b];
  S.work += 4;
  let pa, pb;
  switch (kind) {
    case 0:
      if (!vrpSuffixAllowed(S, B, j, A) || !vrpSuffixAllowed(S, A, i + 1, B)) return VRP_INF;
      pa = vrpJoinPenalty(S, A, A, i, -1, -1, B, j); pb = vrpJoinPenalty(S, B, B, j - 1, -1, -1, A, i + 1); break;
    case 1:
      if (!vrpSuffixAllowed(S, A, i, B) || !vrpSuffixAllowed(S, B, j + 1, A)) return VRP_INF;
      pa = vrpJoinPenalty(S, A, A, i - 1, -1, -1, B, j + 1); pb = vrpJoinPenalty(S, B, B, j, -1, -1, A, i); break;
    case 2: case 3:
      if (!vrpAllowed(S, a, B)) return VRP_INF;
      pa = vrpJoinPenalty(S, A, A, i - 1, -1, -1, A, i + 1);
      pb = kind === 2 ? vrpJoinPenalty(S, B, B, j, a, -1, B, j + 1) : vrpJoinPenalty(S, B, B, j - 1, a, -1, B, j); break;
    case 4: case 5:
      if (!vrpAllowed(S, b, A)) return VRP_INF;
      pb = vrpJoinPenalty(S, B, B, j - 1, -1, -1, B, j + 1);
      pa = kind === 4 ? vrpJoinPenalty(S, A, A, i, b, -1, A, i + 1) : vrpJoinPenalty(S, A, A, i - 1, b, -1, A, i); break;
    default:
      if (!vrpAllowed(S, a, B) || !vrpAllowed(S, b, A)) return VRP_INF;
      pa = vrpJoinPenalty(S, A, A, i - 1, b, -1, A, i + 1); pb = vrpJoinPenalty(S, B, B, j - 1, a, -1, B, j + 1);
  }
  return pa + pb - S.pen[A] - S.pen[B];
}

// Makes the move (journalled: both routes are touched first).
function vrpMoveApply(S, kind, a, b) {
  const A = S.jRoute[a], B = S.jRoute[b], i = S.jPos[a], j = S.jPos[b];
  const jobA = S.rJob[A], jobB = S.rJob[B], LA = S.rLen[A], LB = S.rLen[B], bufA = S.lsA, bufB = S.lsB;
  vrpTouch(S, A); vrpTouch(S, B);
  let mA = 0, mB = 0;
  // The cut points: A keeps 1..ka then takes B's from fb on; B keeps 1..kb then takes A's from fa on.
  let ka, fb, kb, fa;
  switch (kind) {
    case 0: ka = i; fb = j; kb = j - 1; fa = i + 1; break;
    case 1: ka = i - 1; fb = j + 1; kb = j; fa = i; break;
    default: ka = -1;
  }
  if (ka >= 0) {
    for (let p = 1; p <= ka; p++) bufA[mA++] = jobA[p];
    for (let p = fb; p <= LB; p++) bufA[mA++] = jobB[p];
    for (let p = 1; p <= kb; p++) bufB[mB++] = jobB[p];
    for (let p = fa; p <= LA; p++) bufB[mB++] = jobA[p];
  } else if (kind === 2 || kind === 3) {
    for (let p = 1; p <= LA; p++) if (p !== i) bufA[mA++] = jobA[p];
    for (let p = 1; p <= LB; p++) {
      if (kind === 3 && p === j) bufB[mB++] = a;
      bufB[mB++] = jobB[p];
      if (kind === 2 && p === j) bufB[mB++] = a;
    }
  } else if (kind === 4 || kind === 5) {
    for (let p = 1; p <= LB; p++) if (p !== j) bufB[mB++] = jobB[p];
    for (let p = 1; p <= LA; p++) {
      if (kind === 5 && p === i) bufA[mA++] = b;
      bufA[mA++] = jobA[p];
      if (kind === 4 && p === i) bufA[mA++] = b;
    }
  } else {
    for (let p = 1; p <= LA; p++) bufA[mA++] = p === i ? b : jobA[p];
    for (let p = 1; p <= LB; p++) bufB[mB++] = p === j ? a : jobB[p];
  }
  vrpEnsureRoom(S, A, mA); vrpEnsureRoom(S, B, mB);
  S.rJob[A].set(bufA.subarray(0, mA), 1); S.rLen[A] = mA;
  S.rJob[B].set(bufB.subarray(0, mB), 1); S.rLen[B] = mB;
  for (let q = 0; q < mA; q++) S.jRoute[bufA[q]] = A;
  for (let q = 0; q < mB; q++) S.jRoute[bufB[q]] = B;
  vrpProfileUpdate(S, A); vrpProfileUpdate(S, B);
}

// ---- the three ways back into the routes -----------------------------------------------------------------------

// Puts job j where the routes take it at the least breach and moves jobs between the broken route and its
// neighbours while that lowers the total breach. True when every route is feasible in the end; otherwise every
// change is undone.
function vrpSqueeze(S, j) {
  let bestPen = VRP_INF, bv = -1, bp = -1;
  for (let v = 0; v < S.nv; v++) {
    const L = S.rLen[v];
    if (L === 0 || !vrpAllowed(S, j, v)) continue;
    for (let p = 0; p <= L; p++) {
      const d = vrpJoinPenalty(S, v, v, p, j, -1, v, p + 1) - S.pen[v];
      if (d < bestPen) { bestPen = d; bv = v; bp = p; }
    }
  }
  if (bv < 0) return false;
  const alpha = S.alpha;
  S.alpha = 0;
  const others = vrpJoinPenalty(S, bv, bv, bp, j, -1, bv, bp + 1) - S.pen[bv];
  S.alpha = alpha;
  if ((bestPen - others) / alpha > S.squeezeWarp) return false;
  vrpJournalStart(S);
  vrpTouch(S, bv);
  vrpInsertRaw(S, bv, j, bp + 1);
  vrpProfileUpdate(S, bv);
  const K = Math.min(S.nbK, VRP_SQUEEZE_NEIGHBOURS), broken = S.sqBroken;
  for (let guard = 0; guard < 4 * S.nj; guard++) {
    let nb = 0;
    S.work += S.nv;
    for (let v = 0; v < S.nv; v++) if (S.pen[v] > 1e-9) broken[nb++] = v;
    if (nb === 0) break;
    const r = broken[Math.floor(vrpRandom(S) * nb)];
    let bestD = -1e-9, bk = -1, ba = -1, bb = -1;
    const L = S.rLen[r], job = S.rJob[r];
    for (let p = 1; p <= L; p++) {
      const a = job[p];
      for (let k = 1; k < K; k++) {
        const b = S.nb[a * S.nbK + k], B = S.jRoute[b];
        if (B < 0 || B === r) continue;
        // A job taken into the broken route from a route within its limits only adds to the breach (where a detour
        // is never shorter than the direct leg), so those moves are not looked at. The work saved goes to more
        // ejections (800 jobs, six seeds: half an instance fewer above the best-known vehicle count on average, the
        // distances at equal counts 0.05 % shorter).
        const takeFromB = S.pen[B] > 1e-9;
        for (let kind = 0; kind < VRP_MOVE_KINDS; kind++) {
          if (!takeFromB && (kind === 4 || kind === 5)) continue;
          const d = vrpMoveDelta(S, kind, a, b);
          if (d < bestD) { bestD = d; bk = kind; ba = a; bb = b; }
        }
      }
    }
    if (bk < 0) break;
    vrpMoveApply(S, bk, ba, bb);
  }
  let feasible = true, warp = 0, rest = 0;
  for (let i = 0; i < S.jrCount; i++) {
    const v = S.jrRoutes[i];
    if (!S.rFeasible[v]) feasible = false;
    if (S.pen[v] > 1e-9) { const w = S.pfW[v][S.rLen[v]]; warp += S.alpha * w; rest += S.pen[v] - S.alpha * w; }
  }
  if (feasible) return true;
  // Keep warp and the other breaches in balance: the one left over weighs a little more next time.
  if (warp > rest) S.alpha = Math.min(100, S.alpha / 0.99); else S.alpha = Math.max(0.01, S.alpha * 0.99);
  vrpProfileUndo(S);
  return false;
}

const VRP_SQUEEZE_NEIGHBOURS = 30;

function vrpProfileUndo(S) {
  vrpJournalUndo(S);
  for (let i = 0; i < S.jrCount; i++) vrpProfileUpdate(S, S.jrRoutes[i]);
}

// The best ejection for job x: over the routes near x and every place, the set of at most VRP_EJECT_MAX other jobs
// whose removal makes the route with x feasible, least by the sum of their counts, then by their number, then (when
// the loads must be packed) by their load and by the km the route gains. Fills S.ej
// (route, place, positions) and returns false when there is none.
function vrpFindEjection(S, x) {
  const E = S.ej;
  E.psum = VRP_INF; E.cnt = VRP_INF; E.out = VRP_INF; E.added = VRP_INF; E.route = -1; E.nodes = 0; E.x = x;
  // Only the routes that hold one of x's nearest jobs: a route far from x would take it only by a long detour, and
  // on long routes the search is costly.
  const routes = E.routes, stamp = ++S.candStamp;
  let nr = 0;
  const near = S.packing ? VRP_EJECT_NEIGHBOURS_PACKED : VRP_EJECT_NEIGHBOURS;
  for (let k = 1; k < Math.min(S.nbK, near); k++) {
    const v = S.jRoute[S.nb[x * S.nbK + k]];
    if (v < 0 || S.candMark[v] === stamp) continue;
    S.candMark[v] = stamp;
    routes[nr++] = v;
  }
  // Every place for x in those routes, the least breach first: when the search runs out of nodes (long routes with
  // wide windows), it has looked at the places that need the fewest ejections; among equal sets the first found is
  // kept, so the order also picks among those (800 jobs, six seeds: 12.8 → 11.5 instances above the best-known
  // vehicle count on average, most of it on the clustered days with long routes, whose plans at equal counts came out
  // 1.5 % longer; 0.2 % in all). The places are sorted as numbers: the breach in 1/256 units, then the place's index
  // (routes nearest x first) in the low 16 bits.
  let m = 0, longest = 0;
  for (let k = 0; k < nr; k++) {
    const v = routes[k], L = S.rLen[v];
    if (L === 0 || !vrpAllowed(S, x, v)) continue;
    if (L > longest) longest = L;
    if (E.placeRoute.length < m + L + 1) {
      const size = 2 * (m + L + 1), rv = new Int32Array(size), rs = new Int32Array(size), ro = new Float64Array(size);
      rv.set(E.placeRoute.subarray(0, m)); rs.set(E.placeAt.subarray(0, m)); ro.set(E.placeOrder.subarray(0, m));
      E.placeRoute = rv; E.placeAt = rs; E.placeOrder = ro;
    }
    for (let s = 0; s <= L; s++) {
      const breach = vrpJoinPenalty(S, v, v, s, x, -1, v, s + 1) - S.pen[v];
      E.placeOrder[m] = Math.floor(Math.min(Math.max(breach, 0), VRP_PLACE_BREACH_CAP) * 256) * 65536 + m;
      E.placeRoute[m] = v; E.placeAt[m] = s;
      m++;
    }
  }
  if (E.st[0].length < longest + 3)
    for (let d = 0; d <= VRP_EJECT_MAX; d++) {
      const size = 2 * longest + 3;
      E.st[d] = new Float64Array(size); E.sp[d] = new Int32Array(size); E.sk[d] = new Float64Array(size);
    }
  // Beyond 65,536 places the index does not fit: those are searched in the order listed.
  const order = E.placeOrder, sorted = m < 65536;
  if (sorted) order.subarray(0, m).sort();
  S.work += 2 * m;
  // Rounds of growing bounds on the sum: the cheap sets are all looked at before the search goes deep.
  for (E.bound = 1; E.route < 0 && E.nodes < VRP_EJECT_SEARCH_LIMIT && E.bound < 4 * S.ejMax * VRP_EJECT_MAX; E.bound *= 2) {
    for (let i = 0; i < m && E.nodes < VRP_EJECT_SEARCH_LIMIT; i++) {
      const r = sorted ? order[i] % 65536 : i, v = E.placeRoute[r];
      E.v = v; E.s = E.placeAt[r];
      E.loadAll = S.rLoad[v][S.rLen[v] + 1] + S.jDemand[x];
      E.nodes += 4;
      vrpEjectFrom(S, E, 1, S.rDep[v][0], 0, 0, 0, 0, 0);
    }
  }
  S.work += E.nodes >> 1;
  return E.route >= 0;
}

// Search over the ejections from route E.v with E.x put after position E.s. The stops of that sequence are numbered
// 1..L+1 (x is stop s+1); t, prev and km describe the route up to stop `from`, out is the load ejected so far. The
// route is followed from `from` keeping every stop until it can end as it stands (a candidate) or breaks a
// constraint at some stop: then one of the stops from `from` up to that one must go, and each is tried as the next
// ejection. Every set of ejections is so reached once, by its first stop at or after `from`.
function vrpEjectFrom(S, E, from, t, prev, km, out, psum, cnt) {
  const v = E.v, s = E.s, L = S.rLen[v], n = S.n, T = S.time, Dm = S.dist, job = S.rJob[v];
  const st = E.st[cnt], sp = E.sp[cnt], sk = E.sk[cnt];
  const over = E.loadAll - out - S.vCap[v], maxKm = S.vMaxKm[v] + 1e-9;
  // What the next ejection has to mend: lateness at the stop where the route breaks, or at the end of the route
  // the lateness, the load and the km over the limits.
  let stop = L + 1, late = 0, far = 0, atEnd = false;
  for (let k = from; ; k++) {
    st[k] = t; sp[k] = prev; sk[k] = km;
    E.nodes += 4;
    if (k > s + 1) {
      // Past x: the rest of the route can follow unchanged when it is reached in time.
      const q = k - 1, nq = S.rNode[v][q];
      const a = t + (nq < 0 ? 0 : T[prev * n + nq]);
      const kmAll = km + (nq < 0 ? 0 : Dm[prev * n + nq]) + S.rKm[v][L + 1] - S.rKm[v][q];
      if (over <= 1e-9 && a <= S.rLA[v][q] + 1e-9 && kmAll <= maxKm) {
        const added = kmAll - S.rKm[v][L + 1];
        if (psum < E.psum || (psum === E.psum && (cnt < E.cnt || (S.packing && cnt === E.cnt &&
            (out < E.out || (out === E.out && added < E.added)))))) {
          E.psum = psum; E.cnt = cnt; E.out = out; E.added = added; E.route = v; E.place = s;
          for (let i = 0; i < cnt; i++) E.best[i] = E.stack[i];
        }
        return;
      }
      if (q > L) { atEnd = true; late = a - S.rLA[v][q]; far = kmAll - maxKm; break; }
    }
    const j = k === s + 1 ? E.x : job[k <= s ? k : k - 1], nd = S.jNode[j];
    const a = t + T[prev * n + nd], km2 = km + Dm[prev * n + nd];
    if (a > S.jDeadline[j] || km2 > maxKm) {
      stop = k; late = a - S.jDeadline[j]; far = km2 - maxKm;
      // Without the triangle inequality failing, no ejection before this stop brings it in time when even the
      // straight leg from the first stop that may go is too long: then only this stop itself can go.
      const d = st[from] + T[sp[from] * n + nd];
      if (d > S.jDeadline[j] || sk[from] + Dm[sp[from] * n + nd] > maxKm) {
        if (k === s + 1) return;
        from = k;
      }
      break;
    }
    t = (a > S.jReady[j] ? a : S.jReady[j]) + S.jService[j];
    prev = nd; km = km2;
  }
  if (cnt >= VRP_EJECT_MAX || E.nodes >= VRP_EJECT_SEARCH_LIMIT) return;
  const endNode = S.rNode[v][L + 1];
  // Nearest the break first: those stops mend it most often, and a first candidate bounds the rest of the search.
  for (let e = stop; e >= from; e--) {
    if (e === s + 1) continue;
    const q = e <= s ? e : e - 1, j = job[q];
    const p2 = psum + S.ejCount[j];
    E.nodes += 2;
    if (p2 > E.bound || p2 > E.psum || (p2 === E.psum && cnt + 1 >= E.cnt &&
        (!S.packing || cnt + 1 > E.cnt || out + S.jDemand[j] > E.out))) continue;
    // The last ejection allowed must mend everything alone: it gives back at most its own detour in time and km.
    const last = cnt + 1 >= VRP_EJECT_MAX || p2 + 1 > E.bound || p2 + 1 > E.psum;
    if (last && (atEnd || e < stop)) {
      if (over - S.jDemand[j] > 1e-9) continue;
      const nj = S.jNode[j];
      const e1 = e + 1;
      const nx = e1 > L + 1 ? endNode : (e1 === s + 1 ? S.jNode[E.x] : S.jNode[job[e1 <= s ? e1 : e1 - 1]]);
      const pn = sp[e];
      const viaJ = (e1 <= stop || atEnd ? st[e1] : 0) + (nx < 0 ? 0 : T[nj * n + nx]);
      const direct = st[e] + (nx < 0 ? 0 : T[pn * n + nx]);
      if (late > 1e-9 && viaJ - direct < late - 1e-9) continue;
      const kmSave = Dm[pn * n + nj] + (nx < 0 ? 0 : Dm[nj * n + nx] - Dm[pn * n + nx]);
      if (far > 1e-9 && kmSave < far - 1e-9) continue;
    }
    E.stack[cnt] = q;
    vrpEjectFrom(S, E, e + 1, st[e], sp[e], sk[e], out + S.jDemand[j], p2, cnt + 1);
  }
}

// Makes the ejection found by vrpFindEjection: x goes in, the ejected jobs go to the unassigned list and the pool.
function vrpApplyEjection(S, x, pool) {
  const E = S.ej, v = E.route, job = S.rJob[v], L = S.rLen[v], buf = S.lsA;
  let m = 0, e = 0;
  if (E.place === 0) buf[m++] = x;
  // x follows position E.place even when the job there is one of those ejected.
  for (let p = 1; p <= L; p++) {
    if (e < E.cnt && E.best[e] === p) e++;
    else buf[m++] = job[p];
    if (p === E.place) buf[m++] = x;
  }
  for (let i = 0; i < E.cnt; i++) {
    const j = job[E.best[i]];
    vrpUnassignedAdd(S, j);
    pool.push(j);
  }
  vrpUnassignedRemove(S, x);
  vrpEnsureRoom(S, v, m);
  S.rJob[v].set(buf.subarray(0, m), 1);
  S.rLen[v] = m;
  for (let q = 0; q < m; q++) S.jRoute[buf[q]] = v;
  vrpProfileUpdate(S, v);
}

// Random feasible moves between routes: `moves` of them, from at most ten times as many tries; while the loads must
// be packed, only those that lengthen the plan by S.perturbRise at most.
function vrpPerturb(S, moves) {
  const K = Math.min(S.nbK, VRP_SQUEEZE_NEIGHBOURS);
  let made = 0;
  for (let tries = 0; tries < 10 * moves && made < moves; tries++) {
    S.work += 4;
    const a = Math.floor(vrpRandom(S) * S.nj);
    if (S.jRoute[a] < 0) continue;
    const b = S.nb[a * S.nbK + 1 + Math.floor(vrpRandom(S) * (K - 1))];
    if (S.jRoute[b] < 0 || S.jRoute[b] === S.jRoute[a]) continue;
    const kind = Math.floor(vrpRandom(S) * VRP_MOVE_KINDS);
    const A = S.jRoute[a], B = S.jRoute[b];
    if (vrpMoveDelta(S, kind, a, b) + S.pen[A] + S.pen[B] > 1e-9) continue;
    const cost = S.totalCost;
    vrpJournalStart(S);
    vrpMoveApply(S, kind, a, b);
    if (!S.rFeasible[A] || !S.rFeasible[B] || (S.packing && S.totalCost - cost > S.perturbRise)) {
      vrpProfileUndo(S);
      continue;
    }
    made++;
  }
}

// ---- the phase --------------------------------------------------------------------------------------------------

// Empties routes one at a time until the work allowed is spent or VRP_ELIMINATION_TRIES attempts have failed. Soft
// windows are held to their time while it runs when the plan has no lateness, so that a route is never traded for a
// late arrival. The first attempt empties its route by ejection; after a failed attempt the next one uses the other
// way, and a way that succeeds is kept.
function vrpEliminateRoutes(S, workEnd, patience) {
  if (S.maxFixed <= 0 || S.nUn > 0 || S.nj < 2) return;
  let totalDemand = 0, maxCap = 0;
  for (let j = 0; j < S.nj; j++) if (!S.jImpossible[j]) totalDemand += S.jDemand[j];
  for (let v = 0; v < S.nv; v++) if (S.vCap[v] > maxCap) maxCap = S.vCap[v];
  const lowerBound = maxCap === VRP_INF || maxCap <= 0 ? 1 : Math.max(1, Math.ceil(totalDemand / maxCap - 1e-9));
  if (!S.lsA) vrpInitLocal(S);
  const deadlines = S.jDeadline;
  if (S.hasSoft && S.totalLate <= 1e-9) {
    S.jDeadline = new Float64Array(S.nj);
    for (let j = 0; j < S.nj; j++) S.jDeadline[j] = Math.min(deadlines[j], S.jDue[j]);
  }
  vrpProfileInit(S);
  for (let v = 0; v < S.nv; v++) vrpProfileUpdate(S, v);
  S.squeezeWarp = VRP_SQUEEZE_WARP * vrpMeanLeg(S);
  S.perturbRise = VRP_PERTURB_RISE * vrpMeanLegCost(S);
  S.ejCount = new Float64Array(S.nj);
  S.ej = { best: new Int32Array(VRP_EJECT_MAX), stack: new Int32Array(VRP_EJECT_MAX), st: [], sp: [], sk: [],
    routes: new Int32Array(S.nv), placeRoute: new Int32Array(0), placeAt: new Int32Array(0),
    placeOrder: new Float64Array(0) };
  for (let d = 0; d <= VRP_EJECT_MAX; d++) {
    S.ej.st.push(new Float64Array(0)); S.ej.sp.push(new Int32Array(0)); S.ej.sk.push(new Float64Array(0));
  }
  S.sqBroken = new Int32Array(S.nv);
  S.absences = new Float64Array(S.nj);
  let failed = 0, byAbsences = false;
  while (!vrpOutOfBudget(S, workEnd) && failed < VRP_ELIMINATION_TRIES) {
    let used = 0;
    for (let v = 0; v < S.nv; v++) if (S.rLen[v] > 0) used++;
    if (used <= lowerBound) break;
    const before = vrpSnapshot(S);
    // Tournament of two: the route with fewer jobs goes; when the loads must be packed, the lighter one.
    const room = (used - 1) * maxCap - totalDemand;
    S.packing = room < VRP_PACKED_ROOM * maxCap;
    let v = vrpRandomRoute(S);
    const w = vrpRandomRoute(S);
    if (S.packing ? S.rLoad[w][S.rLen[w] + 1] < S.rLoad[v][S.rLen[v] + 1] : S.rLen[w] < S.rLen[v]) v = w;
    const usedAbsences = byAbsences;
    const emptied = usedAbsences ? vrpEmptyByAbsences(S, v, workEnd, patience)
      : vrpEmptyByEjection(S, v, workEnd, S.packing ? VRP_PACKED_PATIENCE * patience : patience);
    if (!emptied) {
      vrpRestore(S, before);
      failed++;
      // The absences do not pack: when one route fewer would leave less room than VRP_PACKING_ROOM of a vehicle's
      // load, the ejection, whose squeeze moves load between routes, keeps every attempt.
      if (usedAbsences || room >= VRP_PACKING_ROOM * maxCap) byAbsences = !byAbsences;
    }
    // The absences keep only the ordinary route figures up to date.
    if (!emptied || usedAbsences) for (let u = 0; u < S.nv; u++) vrpProfileUpdate(S, u);
  }
  if (S.jDeadline !== deadlines) {
    S.jDeadline = deadlines;
    for (let v = 0; v < S.nv; v++) vrpUpdateRoute(S, v);
  }
}

// Empties route v through the ejection pool. False when an attempt is given up: when the pool has not been smaller
// than ever for `patience` work, or the work is spent.
function vrpEmptyByEjection(S, v, workEnd, patience) {
  const pool = [];
  for (let p = S.rLen[v]; p >= 1; p--) pool.push(S.rJob[v][p]);
  vrpRemoveRangeRaw(S, v, 1, S.rLen[v]);
  vrpProfileUpdate(S, v);
  S.ejCount.fill(1);
  S.ejMax = 1;
  let fewest = pool.length, fewestAt = S.work;
  while (pool.length > 0 && !vrpOutOfBudget(S, workEnd) && S.work - fewestAt < patience) {
    if (pool.length < fewest) { fewest = pool.length; fewestAt = S.work; }
    const x = pool.pop();
    if (vrpCheapest(S, x, 0, false) < VRP_INF) {
      const r = S.candV;
      vrpInsert(S, r, x, S.candPos);
      vrpProfileUpdate(S, r);
      continue;
    }
    if (vrpRandom(S) < VRP_SQUEEZE_SHARE && vrpSqueeze(S, x)) continue;
    S.ejCount[x]++;
    if (S.ejCount[x] > S.ejMax) S.ejMax = S.ejCount[x];
    // Without an ejection the job waits at the bottom of the pool while the routes are shaken.
    if (vrpFindEjection(S, x)) vrpApplyEjection(S, x, pool);
    else pool.unshift(x);
    vrpPerturb(S, Math.max(VRP_PERTURB_MOVES, Math.round(S.nj / VRP_PERTURB_JOBS)));
  }
  return pool.length === 0;
}

// Empties route v by ruin and recreate, in the manner of the fleet minimisation of "slack induction by string
// removals": the route's jobs are left out, and a step (strings out, then the jobs left out put back where they fit
// in the routes in use) is kept when it leaves fewer jobs out or jobs with fewer absences in all. After each step
// every job still out counts one more absence, so the jobs that stay out weigh more and more and get their place at
// the cost of others. False when the attempt is given up, as for the ejection.
function vrpEmptyByAbsences(S, v, workEnd, patience) {
  const absences = S.absences;
  vrpRemoveRangeRaw(S, v, 1, S.rLen[v]);
  vrpUpdateRoute(S, v);
  let out = S.nUn, weight = 0;
  for (let i = 0; i < S.nUn; i++) weight += absences[S.unassigned[i]];
  let fewest = out, fewestAt = S.work;
  while (S.nUn > 0 && !vrpOutOfBudget(S, workEnd) && S.work - fewestAt < patience) {
    vrpJournalStart(S);
    vrpRuin(S, 10, 10);
    vrpRecreate(S, 0.01, false);
    let w = 0;
    for (let i = 0; i < S.nUn; i++) w += absences[S.unassigned[i]];
    if (S.nUn < out || w < weight) {
      out = S.nUn; weight = w;
      if (out < fewest) { fewest = out; fewestAt = S.work; }
    } else vrpJournalUndo(S);
    for (let i = 0; i < S.nUn; i++) absences[S.unassigned[i]]++;
    weight += S.nUn;
  }
  return S.nUn === 0;
}

// Mean travel time of a leg of the plan; without travel times at all, Infinity (then every lateness is the
// service's own).
function vrpMeanLeg(S) {
  let legs = 0, total = 0;
  for (let v = 0; v < S.nv; v++) {
    const L = S.rLen[v], node = S.rNode[v];
    if (L === 0) continue;
    for (let p = 1; p <= L + 1; p++) {
      if (node[p] < 0) continue;
      total += S.time[node[p - 1] * S.n + node[p]];
      legs++;
    }
  }
  return total > 0 ? total / legs : VRP_INF;
}

// Mean cost of a leg of the plan, the vehicles' fixed costs aside.
function vrpMeanLegCost(S) {
  let legs = 0, cost = 0;
  for (let v = 0; v < S.nv; v++) {
    const L = S.rLen[v];
    if (L === 0) continue;
    legs += S.rNode[v][L + 1] < 0 ? L : L + 1;
    cost += S.rCost[v] - S.vFixed[v];
  }
  return legs > 0 ? cost / legs : 0;
}

// A used route, drawn at random.
function vrpRandomRoute(S) {
  let used = 0;
  for (let v = 0; v < S.nv; v++) if (S.rLen[v] > 0) used++;
  let k = Math.floor(vrpRandom(S) * used);
  for (let v = 0; v < S.nv; v++) if (S.rLen[v] > 0 && k-- === 0) return v;
  return -1;
}
