// The route optimiser's local search. Between two routes: relocation of a string of one to three jobs (or-opt
// across routes, also reversed), exchange of strings of one or two jobs (swap and cross-exchange), and 2-opt* (the
// tails of two routes exchanged). Within a route: or-opt and 2-opt. Moves are drawn from each job's nearest jobs and
// the first improving one is made. Inter-route moves are tested in time proportional to the moved strings, from the
// route arrays: the departure before the change, the latest feasible arrival after it, load and km prefix sums and
// the waiting that absorbs a delay.

// Weighted change of route v when its positions i+1..k are replaced by xl jobs of X (from xs, reversed when rev),
// Infinity when the new route would break a constraint. X may be empty (removal) and i === k (insertion).
function vrpSegEval(S, v, i, k, X, xs, xl, rev) {
  const L = S.rLen[v];
  if (i === 0 && k === L && xl === 0) return -(S.rCost[v] + S.lateWeight * S.rLate[v]);
  const load = S.rLoad[v];
  let dem = 0;
  for (let q = 0; q < xl; q++) dem += S.jDemand[X[xs + q]];
  if (load[L] - (load[k] - load[i]) + dem > S.vCap[v] + 1e-9) return VRP_INF;
  const n = S.n, T = S.time, D = S.dist, node = S.rNode[v], soft = S.hasSoft;
  let t = S.rDep[v][i], prev = node[i], km = 0, late = 0;
  S.work += xl + 1;
  for (let q = 0; q < xl; q++) {
    const x = X[rev ? xs + xl - 1 - q : xs + q], nx = S.jNode[x];
    if (!vrpAllowed(S, x, v)) return VRP_INF;
    const a = t + T[prev * n + nx];
    if (a > S.jDeadline[x]) return VRP_INF;
    if (soft && a > S.jDue[x]) late += a - S.jDue[x];
    t = (a > S.jReady[x] ? a : S.jReady[x]) + S.jService[x];
    km += D[prev * n + nx];
    prev = nx;
  }
  const next = node[k + 1];
  const a2 = next < 0 ? t : t + T[prev * n + next];
  if (a2 > S.rLA[v][k + 1]) return VRP_INF;
  if (next >= 0) km += D[prev * n + next];
  const kmArr = S.rKm[v];
  const newKm = kmArr[i] + km + (kmArr[L + 1] - kmArr[k + 1]);
  if (newKm > S.vMaxKm[v] + 1e-9) return VRP_INF;
  const push = a2 - S.rArr[v][k + 1];
  let shift = 0;
  if (S.cpm > 0) {
    if (push >= 0) { shift = push - S.rWait[v][k + 1]; if (shift < 0) shift = 0; }
    else shift = vrpEndShift(S, v, k + 1, push);
  }
  let delta = S.cpk * (newKm - kmArr[L + 1]) + S.cpm * shift;
  if (L === 0) delta += S.vFixed[v];
  if (soft) {
    if (S.rLate[v] !== 0) {
      const arr = S.rArr[v], job = S.rJob[v];
      for (let p = i + 1; p <= k; p++) { const d = S.jDue[job[p]]; if (arr[p] > d) late -= arr[p] - d; }
      late += vrpPushLate(S, v, k + 1, push);
    } else if (a2 > S.rOnTime[v][k + 1]) late += vrpPushLate(S, v, k + 1, push);
    delta += S.lateWeight * late;
  }
  return delta;
}

// Change of lateness of positions q..L when the arrival at q moves by push.
function vrpPushLate(S, v, q, push) {
  let d = 0;
  const L = S.rLen[v], arr = S.rArr[v], job = S.rJob[v];
  for (let p = q; p <= L && push !== 0; p++) {
    const k = job[p], due = S.jDue[k], old = arr[p], na = old + push;
    d += (na > due ? na - due : 0) - (old > due ? old - due : 0);
    const r = S.jReady[k], oldB = old > r ? old : r, newB = na > r ? na : r;
    push = newB - oldB;
  }
  return d;
}

// Weighted cost of the job sequence buf[0..len) driven by vehicle v, Infinity when it breaks a constraint.
function vrpSeqCost(S, v, buf, len) {
  if (len === 0) return 0;
  const n = S.n, T = S.time, D = S.dist;
  let t = S.vStart[v], prev = 0, km = 0, late = 0, load = 0;
  S.work += len;
  for (let q = 0; q < len; q++) {
    const x = buf[q], nx = S.jNode[x];
    if (!vrpAllowed(S, x, v)) return VRP_INF;
    const a = t + T[prev * n + nx];
    if (a > S.jDeadline[x]) return VRP_INF;
    if (a > S.jDue[x]) late += a - S.jDue[x];
    t = (a > S.jReady[x] ? a : S.jReady[x]) + S.jService[x];
    km += D[prev * n + nx];
    load += S.jDemand[x];
    prev = nx;
  }
  if (S.vReturn[v]) { t += T[prev * n]; km += D[prev * n]; }
  if (t > S.vEnd[v] || load > S.vCap[v] + 1e-9 || km > S.vMaxKm[v] + 1e-9) return VRP_INF;
  return S.vFixed[v] + S.cpk * km + S.cpm * (t - S.vStart[v]) + S.lateWeight * late;
}

function vrpRouteValue(S, v) {
  return S.rCost[v] + S.lateWeight * S.rLate[v];
}

// Sets route v to buf[0..len) and recomputes it.
function vrpSetRoute(S, v, buf, len) {
  vrpEnsureRoom(S, v, len);
  const job = S.rJob[v];
  for (let q = 0; q < len; q++) { job[q + 1] = buf[q]; S.jRoute[buf[q]] = v; }
  S.rLen[v] = len;
  vrpUpdateRoute(S, v);
}

function vrpInitLocal(S) {
  const size = S.nj + 2;
  S.lsA = new Int32Array(size); S.lsB = new Int32Array(size); S.lsSeg = new Int32Array(4); S.lsSeg2 = new Int32Array(4);
  S.lsOrder = new Int32Array(S.nj);
}

// Route A with positions from..to replaced by the jobs of X (xl of them, reversed when rev) into buf; returns length.
function vrpSplice(S, A, from, to, X, xl, rev, buf) {
  const job = S.rJob[A], L = S.rLen[A];
  let m = 0;
  for (let p = 1; p < from; p++) buf[m++] = job[p];
  for (let q = 0; q < xl; q++) buf[m++] = X[rev ? xl - 1 - q : q];
  for (let p = to + 1; p <= L; p++) buf[m++] = job[p];
  return m;
}

// Tries the inter-route moves that bring job a next to job b (routes A and B differ). Makes the first improving
// move and returns true.
function vrpInterMoves(S, a, b) {
  const A = S.jRoute[a], B = S.jRoute[b], LA = S.rLen[A], LB = S.rLen[B];
  const i = S.jPos[a], j = S.jPos[b], seg = S.lsSeg, seg2 = S.lsSeg2, eps = 1e-7;
  // Relocation of a string starting at a, placed after b or before b, as is or reversed.
  for (let l = 1; l <= 3 && i + l - 1 <= LA; l++) {
    seg[l - 1] = S.rJob[A][i + l - 1];
    const dA = vrpSegEval(S, A, i - 1, i + l - 1, seg, 0, 0, false);
    if (dA === VRP_INF) continue;
    for (let side = 0; side < 2; side++) {
      const at = side === 0 ? j : j - 1;
      for (let rev = 0; rev < (l > 1 ? 2 : 1); rev++) {
        const dB = vrpSegEval(S, B, at, at, seg, 0, l, rev === 1);
        if (dA + dB < -eps) {
          const mA = vrpSplice(S, A, i, i + l - 1, seg, 0, false, S.lsA);
          const mB = vrpSplice(S, B, at + 1, at, seg, l, rev === 1, S.lsB);
          vrpSetRoute(S, A, S.lsA, mA); vrpSetRoute(S, B, S.lsB, mB);
          return true;
        }
      }
    }
  }
  // Exchange of a string starting at a with a string following b (swap when both have one job).
  for (let l1 = 1; l1 <= 2 && i + l1 - 1 <= LA; l1++) {
    for (let q = 0; q < l1; q++) seg[q] = S.rJob[A][i + q];
    for (let l2 = 1; l2 <= 2 && j + l2 <= LB; l2++) {
      for (let q = 0; q < l2; q++) seg2[q] = S.rJob[B][j + 1 + q];
      const dA = vrpSegEval(S, A, i - 1, i + l1 - 1, seg2, 0, l2, false);
      if (dA === VRP_INF) continue;
      const dB = vrpSegEval(S, B, j, j + l2, seg, 0, l1, false);
      if (dA + dB < -eps) {
        const mA = vrpSplice(S, A, i, i + l1 - 1, seg2, l2, false, S.lsA);
        const mB = vrpSplice(S, B, j + 1, j + l2, seg, l1, false, S.lsB);
        vrpSetRoute(S, A, S.lsA, mA); vrpSetRoute(S, B, S.lsB, mB);
        return true;
      }
    }
  }
  // 2-opt*: A keeps its jobs up to a and continues with b and the rest of B; B keeps its jobs before b and continues
  // with the rest of A.
  {
    const bufA = S.lsA, bufB = S.lsB, jobA = S.rJob[A], jobB = S.rJob[B];
    let mA = 0, mB = 0;
    for (let p = 1; p <= i; p++) bufA[mA++] = jobA[p];
    for (let p = j; p <= LB; p++) bufA[mA++] = jobB[p];
    for (let p = 1; p < j; p++) bufB[mB++] = jobB[p];
    for (let p = i + 1; p <= LA; p++) bufB[mB++] = jobA[p];
    const before = vrpRouteValue(S, A) + vrpRouteValue(S, B);
    const cA = vrpSeqCost(S, A, bufA, mA);
    if (cA !== VRP_INF && cA - before < -eps) {
      const cB = vrpSeqCost(S, B, bufB, mB);
      if (cA + cB - before < -eps) {
        vrpSetRoute(S, A, bufA, mA); vrpSetRoute(S, B, bufB, mB);
        return true;
      }
    }
  }
  return false;
}

// Or-opt and 2-opt within the route of a, moving a (with up to two followers) next to b or reversing the stretch
// between them.
function vrpIntraMoves(S, a, b) {
  const v = S.jRoute[a], L = S.rLen[v], job = S.rJob[v], buf = S.lsA, eps = 1e-7;
  const i = S.jPos[a], j = S.jPos[b], before = vrpRouteValue(S, v);
  for (let l = 1; l <= 3 && i + l - 1 <= L; l++) {
    if (j >= i && j <= i + l - 1) break;
    // Move positions i..i+l-1 right after j.
    let m = 0;
    for (let p = 1; p <= L; p++) {
      if (p >= i && p <= i + l - 1) continue;
      buf[m++] = job[p];
      if (p === j) for (let q = 0; q < l; q++) buf[m++] = job[i + q];
    }
    const c = vrpSeqCost(S, v, buf, m);
    if (c - before < -eps) { vrpSetRoute(S, v, buf, m); return true; }
  }
  // 2-opt: reverse the stretch between a and b so that they become neighbours.
  const lo = Math.min(i, j) + 1, hi = Math.max(i, j);
  if (hi - lo >= 1) {
    const from = i < j ? i + 1 : j + 1, to = i < j ? j : i;
    let m = 0;
    for (let p = 1; p <= L; p++) buf[m++] = p >= from && p <= to ? job[from + to - p] : job[p];
    const c = vrpSeqCost(S, v, buf, m);
    if (c - before < -eps) { vrpSetRoute(S, v, buf, m); return true; }
  }
  return false;
}

// Descent to a local optimum (or until the work limit): every job in a random order against its nearest jobs.
function vrpLocalSearch(S, workEnd, K) {
  if (!S.lsA) vrpInitLocal(S);
  const order = S.lsOrder, nj = S.nj;
  K = Math.min(K, S.nbK);
  let improved = true, rounds = 0;
  while (improved && rounds < 50 && !vrpOutOfBudget(S, workEnd)) {
    improved = false; rounds++;
    for (let q = 0; q < nj; q++) order[q] = q;
    for (let q = nj - 1; q > 0; q--) { const r = Math.floor(vrpRandom(S) * (q + 1)), t = order[q]; order[q] = order[r]; order[r] = t; }
    for (let q = 0; q < nj; q++) {
      if ((q & 7) === 0 && vrpOutOfBudget(S, workEnd)) return;
      const a = order[q];
      if (S.jRoute[a] < 0) continue;
      for (let k = 1; k < K; k++) {
        const b = S.nb[a * S.nbK + k];
        if (S.jRoute[b] < 0 || S.jRoute[a] < 0) continue;
        const moved = S.jRoute[a] === S.jRoute[b] ? vrpIntraMoves(S, a, b) : vrpInterMoves(S, a, b);
        if (moved) { improved = true; break; }
      }
    }
  }
}
