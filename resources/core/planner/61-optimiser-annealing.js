// The route optimiser's construction and annealing: the first plan by regret insertion, then ruin and recreate (string
// removals in the manner of "slack induction by string removals", greedy reinsertion with blinks) under simulated
// annealing, with a journal that undoes a rejected step route by route.

// For each job its nearest jobs by distance (first the job itself), K of them.
function vrpBuildNeighbours(S, K) {
  const nj = S.nj, n = S.n, D = S.dist;
  K = Math.min(K, nj);
  const nb = new Int32Array(nj * K), nd = new Float64Array(K);
  for (let j = 0; j < nj; j++) {
    const row = S.jNode[j] * n, base = j * K;
    let cnt = 0;
    for (let i = 0; i < nj; i++) {
      const d = i === j ? -1 : D[row + S.jNode[i]] + D[S.jNode[i] * n + S.jNode[j]];
      if (cnt === K && d >= nd[K - 1]) continue;
      let p = cnt < K ? cnt++ : K - 1;
      while (p > 0 && nd[p - 1] > d) { nd[p] = nd[p - 1]; nb[base + p] = nb[base + p - 1]; p--; }
      nd[p] = d; nb[base + p] = i;
    }
  }
  S.nb = nb; S.nbK = K;
}

// The first empty, open vehicle of class c that job j may use, or -1. Without zones the answer is the same for every
// job until a route is opened or emptied, so it is kept per class for that long.
function vrpEmptyOfClass(S, c, j) {
  const all = S.jAllowAll[j] === 1;
  if (all && S.classEpoch[c] === S.emptyEpoch) return S.classEmpty[c];
  const list = S.classes[c];
  let found = -1;
  for (let i = 0; i < list.length; i++) {
    const v = list[i];
    if (S.rLen[v] === 0 && S.vOpen[v] && (all || vrpAllowed(S, j, v))) { found = v; break; }
  }
  S.work += list.length;
  if (all) { S.classEpoch[c] = S.emptyEpoch; S.classEmpty[c] = found; }
  return found;
}

// Cheapest feasible place for job j over the used routes and one empty vehicle per class (when useEmpty).
// With more than a few routes only those holding one of j's nearest jobs are tried first; all of them when none of
// those fits. Sets S.candV and S.candPos; returns the added cost or Infinity.
function vrpCheapest(S, j, blink, useEmpty) {
  let best = VRP_INF, bv = -1, bp = -1;
  const nv = S.nv;
  let narrowed = false;
  if (S.usedRoutes > VRP_NARROW_ROUTES) {
    const stamp = ++S.candStamp, K = Math.min(S.nbK, VRP_NARROW_NEIGHBOURS), base = j * S.nbK;
    for (let k = 1; k < K; k++) {
      const v = S.jRoute[S.nb[base + k]];
      if (v < 0 || S.candMark[v] === stamp) continue;
      S.candMark[v] = stamp;
      const c = vrpBestInsertion(S, v, j, blink);
      if (c < best) { best = c; bv = v; bp = S.insPos; }
    }
    S.work += K;
    narrowed = best < VRP_INF;
  }
  if (!narrowed) {
    for (let v = 0; v < nv; v++) {
      if (S.rLen[v] === 0) continue;
      const c = vrpBestInsertion(S, v, j, blink);
      if (c < best) { best = c; bv = v; bp = S.insPos; }
    }
    S.work += nv;
  }
  if (useEmpty) {
    for (let c = 0; c < S.classes.length; c++) {
      const v = vrpEmptyOfClass(S, c, j);
      if (v < 0) continue;
      const cost = vrpBestInsertion(S, v, j, 0);
      if (cost < best) { best = cost; bv = v; bp = S.insPos; }
    }
  }
  S.candV = bv; S.candPos = bp;
  return best;
}

const VRP_NARROW_ROUTES = 8;
const VRP_NARROW_NEIGHBOURS = 40;

// Added cost of job j alone in an empty vehicle of class c (whichever: they have the same figures), zones aside.
function vrpEmptyInsertion(S, c, j) {
  const list = S.classes[c];
  for (let i = 0; i < list.length; i++) {
    const v = list[i];
    if (S.rLen[v] !== 0) continue;
    const open = S.vOpen[v], all = S.jAllowAll[j];
    S.vOpen[v] = 1; S.jAllowAll[j] = 1;
    const cost = vrpBestInsertion(S, v, j, 0);
    S.vOpen[v] = open; S.jAllowAll[j] = all;
    return cost;
  }
  return VRP_INF;
}

// ---- regret construction ----------------------------------------------------------------------------------------
// Regret-2 insertion of every unassigned job: at each step the job whose best place is most ahead of its second best
// is placed. Costs per (job, route) are cached and only the changed route's column is recomputed after a step.
function vrpConstruct(S) {
  const nv = S.nv, nc = S.classes.length;
  const pending = Array.from(S.unassigned.subarray(0, S.nUn));
  const np = pending.length;
  if (np === 0) return;
  const cost = new Float64Array(np * nv).fill(VRP_INF), pos = new Int32Array(np * nv);
  const emptyCost = new Float64Array(np * nc).fill(VRP_INF), emptyPos = new Int32Array(np * nc);
  const b1 = new Float64Array(np), b2 = new Float64Array(np), b1v = new Int32Array(np), b2v = new Int32Array(np);
  const b1p = new Int32Array(np), done = new Uint8Array(np);
  for (let i = 0; i < np; i++) {
    const j = pending[i];
    for (let v = 0; v < nv; v++) {
      if (S.rLen[v] > 0) { cost[i * nv + v] = vrpBestInsertion(S, v, j, 0); pos[i * nv + v] = S.insPos; }
    }
    for (let c = 0; c < nc; c++) {
      emptyCost[i * nc + c] = vrpEmptyInsertion(S, c, j);
      emptyPos[i * nc + c] = 1;
    }
  }
  const evalJob = (i) => {
    const j = pending[i];
    let c1 = VRP_INF, c2 = VRP_INF, v1 = -1, v2 = -1, p1 = -1;
    for (let v = 0; v < nv; v++) {
      if (S.rLen[v] === 0) continue;
      const c = cost[i * nv + v];
      if (c < c1) { c2 = c1; v2 = v1; c1 = c; v1 = v; p1 = pos[i * nv + v]; } else if (c < c2) { c2 = c; v2 = v; }
    }
    for (let c = 0; c < nc; c++) {
      const ec = emptyCost[i * nc + c];
      if (ec === VRP_INF) continue;
      const v = vrpEmptyOfClass(S, c, j);
      if (v < 0) continue;
      if (ec < c1) { c2 = c1; v2 = v1; c1 = ec; v1 = v; p1 = emptyPos[i * nc + c]; } else if (ec < c2) { c2 = ec; v2 = v; }
    }
    b1[i] = c1; b2[i] = c2; b1v[i] = v1; b2v[i] = v2; b1p[i] = p1;
  };
  for (let i = 0; i < np; i++) evalJob(i);
  for (let step = 0; step < np; step++) {
    let bi = -1, bestRegret = -VRP_INF, bestC = VRP_INF;
    for (let i = 0; i < np; i++) {
      if (done[i] || b1[i] === VRP_INF) continue;
      const r = b2[i] === VRP_INF ? 1e300 : b2[i] - b1[i];
      if (r > bestRegret || (r === bestRegret && b1[i] < bestC)) { bestRegret = r; bestC = b1[i]; bi = i; }
    }
    if (bi < 0) break;
    const v = b1v[bi], opened = S.rLen[v] === 0;
    vrpInsert(S, v, pending[bi], b1p[bi]);
    done[bi] = 1;
    for (let i = 0; i < np; i++) {
      if (done[i]) continue;
      const c = vrpBestInsertion(S, v, pending[i], 0);
      cost[i * nv + v] = c; pos[i * nv + v] = S.insPos;
      if (opened || v === b1v[i] || v === b2v[i]) evalJob(i);
      else if (c < b2[i]) {
        if (c < b1[i]) { b2[i] = b1[i]; b2v[i] = b1v[i]; b1[i] = c; b1v[i] = v; b1p[i] = S.insPos; }
        else { b2[i] = c; b2v[i] = v; }
      }
    }
  }
}

// ---- ruin and recreate ------------------------------------------------------------------------------------------
// A journal of the routes an iteration changes, so a rejected iteration is undone by restoring only those.

function vrpJournalStart(S) {
  S.jrStamp++;
  S.jrCount = 0;
  S.jrUnCount = S.nUn;
  if (S.jrUn.length < S.nj) S.jrUn = new Int32Array(S.nj);
  const un = S.unassigned, saved = S.jrUn;
  for (let i = 0; i < S.nUn; i++) saved[i] = un[i];
}

function vrpTouch(S, v) {
  if (S.jrMark[v] === S.jrStamp) return;
  S.jrMark[v] = S.jrStamp;
  S.jrRoutes[S.jrCount++] = v;
  const L = S.rLen[v];
  if (!S.jrSave[v] || S.jrSave[v].length < L + 2) {
    const size = Math.max(L + 2, 16) * 2;
    S.jrSave[v] = new Int32Array(size); S.jrLegT[v] = new Float64Array(size); S.jrLegD[v] = new Float64Array(size);
  }
  // Copied by hand: a view made for each copy costs more than the copy of a route. The legs go with the jobs, so
  // that the undo reads no matrix.
  const job = S.rJob[v], saved = S.jrSave[v], legT = S.rLegT[v], legD = S.rLegD[v];
  const savedT = S.jrLegT[v], savedD = S.jrLegD[v];
  for (let p = 1; p <= L; p++) saved[p] = job[p];
  for (let p = 0; p <= L; p++) { savedT[p] = legT[p]; savedD[p] = legD[p]; }
  S.jrLen[v] = L;
  S.work += L;
}

function vrpJournalUndo(S) {
  for (let i = 0; i < S.nUn; i++) S.unPos[S.unassigned[i]] = -1;
  for (let i = 0; i < S.jrCount; i++) {
    const v = S.jrRoutes[i], L = S.jrLen[v];
    vrpEnsureRoom(S, v, L);
    const job = S.rJob[v], saved = S.jrSave[v], legT = S.rLegT[v], legD = S.rLegD[v];
    const savedT = S.jrLegT[v], savedD = S.jrLegD[v];
    for (let p = 1; p <= L; p++) job[p] = saved[p];
    for (let p = 0; p <= L; p++) { legT[p] = savedT[p]; legD[p] = savedD[p]; }
    S.rLen[v] = L;
    vrpUpdateRoute(S, v, true);
  }
  S.nUn = S.jrUnCount;
  for (let i = 0; i < S.nUn; i++) { const j = S.jrUn[i]; S.unassigned[i] = j; S.unPos[j] = i; S.jRoute[j] = -1; }
}

function vrpInitSearch(S) {
  S.jrStamp = 0; S.jrCount = 0; S.jrUnCount = 0; S.jrUn = new Int32Array(S.nj);
  S.jrMark = new Int32Array(S.nv).fill(-1); S.jrRoutes = new Int32Array(S.nv); S.jrLen = new Int32Array(S.nv);
  S.jrSave = new Array(S.nv).fill(null); S.jrLegT = new Array(S.nv).fill(null); S.jrLegD = new Array(S.nv).fill(null);
  S.ruinMark = new Int32Array(S.nv).fill(-1); S.ruinStamp = 0;
  S.orderKey = new Float64Array(S.nj); S.orderBuf = new Int32Array(S.nj);
  S.candMark = new Int32Array(S.nv); S.candStamp = 0;
  S.depotDist = new Float64Array(S.nj);
  for (let j = 0; j < S.nj; j++) S.depotDist[j] = S.dist[S.jNode[j]];
}

// String removal around a random seed job: strings from up to ks routes near it, about cbar jobs in all. Long routes
// (a mean beyond two dozen jobs) get longer strings and more jobs out, up to one and a half times as many: measured
// on the long-route classes of the 200- and 800-customer sets, better distances at the same work.
// The annealing asks for at least two routes (atLeast): the jobs of one route ruined alone mostly go back into that
// route, and where the loads are packed tight they can go nowhere else, so such a step only reorders the route
// (800 jobs, six seeds: distances at equal vehicle counts 0.2 % shorter, 0.8 % on the tightly packed days). The
// elimination by absences keeps one route: with two at least, two long-route days kept a vehicle more in one seed
// of two.
// Half of the strings are split strings: of a stretch of the route around the seed's neighbour, a part of m
// consecutive jobs stays and the jobs before and after it go. m grows by one job while a draw stays below keepRate.
// The annealing keeps long parts (VRP_ANNEAL_KEEP): the stretch then mostly reaches both ends of the route, and
// the jobs go from its start and its end, next to the depot, where another route can take them over (800 jobs, six
// seeds: distances at equal vehicle counts 0.5 % shorter, 1.6 % on the tightly packed days). The elimination by
// absences keeps short parts (0.5, two jobs on average): with long ones, a day of long routes kept a vehicle more
// in two seeds of two.
function vrpRuin(S, cbar, lmaxAll, atLeast, keepRate) {
  let assigned = 0, used = 0;
  for (let v = 0; v < S.nv; v++) if (S.rLen[v] > 0) { used++; assigned += S.rLen[v]; }
  if (assigned === 0) return;
  const avg = assigned / used;
  const longer = Math.min(1.5, Math.max(1, 1 + (avg - 24) / 20));
  cbar *= longer;
  const lsmax = Math.min(lmaxAll * longer, avg);
  const ksmax = 4 * cbar / (1 + lsmax) - 1;
  const ks = Math.max(Math.min(atLeast || 1, used), Math.floor(vrpRandom(S) * ksmax) + 1);
  let seed = -1;
  for (let tries = 0; tries < 64 && seed < 0; tries++) {
    const j = Math.floor(vrpRandom(S) * S.nj);
    if (S.jRoute[j] >= 0) seed = j;
  }
  if (seed < 0) return;
  const stamp = ++S.ruinStamp, K = S.nbK, base = seed * K;
  let ruined = 0;
  for (let k = 0; k < K && ruined < ks; k++) {
    const c = S.nb[base + k], v = S.jRoute[c];
    if (v < 0 || S.ruinMark[v] === stamp) continue;
    S.ruinMark[v] = stamp; ruined++;
    vrpTouch(S, v);
    const L = S.rLen[v], pos = S.jPos[c];
    const lmax = Math.min(L, lsmax);
    const l = Math.floor(vrpRandom(S) * lmax) + 1;
    if (l >= L || vrpRandom(S) < 0.5) {
      const lo = Math.max(1, pos - l + 1), hi = Math.min(pos, L - l + 1);
      const start = lo + Math.floor(vrpRandom(S) * (hi - lo + 1));
      vrpRemoveRangeRaw(S, v, start, start + l - 1);
    } else {
      // Split string: a string of l + m jobs around c of which m consecutive ones stay.
      let m = 1;
      const grow = keepRate === undefined ? 0.5 : keepRate;
      while (l + m < L && vrpRandom(S) < grow) m++;
      const len = l + m;
      const lo = Math.max(1, pos - len + 1), hi = Math.min(pos, L - len + 1);
      const start = lo + Math.floor(vrpRandom(S) * (hi - lo + 1));
      const keep = start + Math.floor(vrpRandom(S) * (l + 1));
      if (keep + m <= start + len - 1) vrpRemoveRangeRaw(S, v, keep + m, start + len - 1);
      if (keep > start) vrpRemoveRangeRaw(S, v, start, keep - 1);
    }
    vrpUpdateRoute(S, v, true);
  }
}

// Orders the unassigned jobs for reinsertion: random, larger demand first, farther first, closer first, narrower
// window first, earlier window first.
function vrpSortUnassigned(S) {
  const m = S.nUn, key = S.orderKey, buf = S.orderBuf;
  const r = vrpRandom(S) * 15;
  for (let i = 0; i < m; i++) {
    const j = S.unassigned[i];
    let k;
    if (r < 4) k = vrpRandom(S);
    else if (r < 8) k = -S.jDemand[j];
    else if (r < 10) k = -S.depotDist[j];
    else if (r < 11) k = S.depotDist[j];
    else if (r < 13) k = S.jDeadline[j] - S.jReady[j];
    else k = S.jReady[j];
    key[j] = k + 1e-9 * vrpRandom(S);
    buf[i] = j;
  }
  for (let i = 1; i < m; i++) {
    const j = buf[i], kj = key[j];
    let p = i;
    while (p > 0 && key[buf[p - 1]] > kj) { buf[p] = buf[p - 1]; p--; }
    buf[p] = j;
  }
}

// Greedy reinsertion with blinks; an empty vehicle of each kind is offered too, unless useEmpty is false. With
// maxLeft and maxObjective it gives up, answering false, as soon as more than maxLeft jobs are left out or the
// objective exceeds maxObjective. A job put in makes the plan dearer (cheaper only where a detour is shorter than the
// direct leg, which travel matrices hardly ever allow), so the caller would reject the plan anyway and the rest of
// the reinsertion would be work for nothing. In the annealing at a tight packing of loads, half of the steps leave
// some job without room, and those steps cost more than twice as much as the others when carried to the end.
function vrpRecreate(S, blink, useEmpty, maxLeft, maxObjective) {
  vrpSortUnassigned(S);
  const m = S.nUn, buf = S.orderBuf;
  const leftCap = maxLeft === undefined ? VRP_INF : maxLeft;
  const objCap = maxObjective === undefined ? VRP_INF : maxObjective;
  let left = 0;
  for (let i = 0; i < m; i++) {
    const j = buf[i];
    const c = vrpCheapest(S, j, blink, useEmpty !== false);
    if (c === VRP_INF) {
      if (++left > leftCap) return false;
      continue;
    }
    vrpTouch(S, S.candV);
    vrpInsert(S, S.candV, j, S.candPos);
    if (vrpObjective(S) > objCap) return false;
  }
  return true;
}

function vrpNow() { return Date.now(); }

// A phase ends on its share of the work or, when the machine is slower than expected, on its share of the clock.
function vrpOutOfBudget(S, workEnd) {
  return S.work >= workEnd || vrpNow() >= S.phaseDeadline;
}

// Better in the lexicographic sense: fewer unassigned, then lower objective.
function vrpBetter(nUnA, objA, nUnB, objB) {
  return nUnA < nUnB || (nUnA === nUnB && objA < objB - 1e-9);
}

// The annealing's split strings keep parts that grow while a draw stays below this (vrpRuin).
const VRP_ANNEAL_KEEP = 0.99;

// ---- simulated annealing over ruin and recreate -----------------------------------------------------------------
// One schedule: the temperature falls from t0 to tf over `span` work (or over the clock until the phase's deadline,
// when the machine is slower than the work measure expects), then stays there; it ends at workEnd or once
// `patience` work has passed without a better plan. Starts from the plan in S, returns the best plan seen (best, or
// a better one).
function vrpAnneal(S, t0, tf, span, workEnd, best, patience) {
  const minGain = VRP_GAIN;
  const workStart = S.work;
  const clockStart = vrpNow(), clockSpan = Math.max(1, S.phaseDeadline - clockStart);
  span = Math.max(1, span);
  let curObj = vrpObjective(S), curUn = S.nUn, bestAt = S.work, refObj = best.obj, refUn = best.nUn;
  while (!vrpOutOfBudget(S, workEnd) && S.work - bestAt < patience) {
    const frac = Math.max((S.work - workStart) / span, (vrpNow() - clockStart) / clockSpan);
    const temp = frac >= 1 ? tf : t0 * Math.pow(tf / t0, frac);
    vrpJournalStart(S);
    vrpRuin(S, 10, 10, 2, VRP_ANNEAL_KEEP);
    // The step is accepted when it leaves fewer jobs out, or as many and a cost below the limit. The recreate stops
    // once neither can be.
    const limit = curObj - temp * Math.log(vrpRandom(S) + 1e-300);
    const whole = vrpRecreate(S, 0.01, true, curUn, curUn === 0 ? limit : VRP_INF);
    const obj = vrpObjective(S), un = S.nUn;
    if (whole && (un < curUn || (un === curUn && obj < limit))) {
      curObj = obj; curUn = un;
      if (vrpBetter(un, obj, best.nUn, best.obj)) {
        best = vrpSnapshot(S);
        if (un < refUn || obj < refObj - minGain * Math.abs(refObj)) { bestAt = S.work; refObj = obj; refUn = un; }
      }
    } else vrpJournalUndo(S);
  }
  return best;
}
