// "payload": the body that publishes the calculated routes to the couriers (described in docs/publication.md).

function phonesOf(o) {
  const text = Prelude.string(o.phone).trim();
  return text ? [text] : [];
}

// Every time of the body is a "HH:MM" of the route day, 00:00 to 23:59.
const LAST_MINUTE = 24 * 60 - 1;

// A window that ends at "24:00" (the end of the day) is published as ending at "23:59".
function windowTexts(o) {
  const w = orderWindow(o);
  return {
    from: w.start === null ? null : Prelude.formatTime(Math.min(w.start, LAST_MINUTE)),
    to: w.end === null ? null : Prelude.formatTime(Math.min(w.end, LAST_MINUTE))
  };
}

// A route whose stops or end fall after midnight cannot be published: its times would not be times of the day.
function checkWithinDay(v, r) {
  let latest = r.end;
  for (const s of r.stops) if (s.arr > latest) latest = s.arr;
  if (latest <= LAST_MINUTE) return;
  const name = Prelude.string(v.ref).trim() || Prelude.string(v.id).trim() || "№ " + (r.ci + 1);
  refuse("Маршрут «" + name + "» заканчивается после полуночи (" + Prelude.formatTime(latest) + "). " +
    "Перенесите часть его заказов на другие маршруты и отправьте план снова.");
}

function publishedOrder(o) {
  return {
    orderId: Prelude.string(o.id),
    client: Prelude.string(o.title),
    phones: phonesOf(o),
    window: windowTexts(o),
    places: typeof o.units === "number" ? o.units : null,
    comment: Prelude.string(o.instructions),
    note: Prelude.string(o.comments),
    serviceSeconds: typeof o.serviceS === "number" ? o.serviceS : null
  };
}

// Whether a point planned for `time` may hold order o too: the courier is told one time for the whole point, so
// it must lie within the order's own window.
function fitsPointTime(o, time) {
  const w = orderWindow(o);
  return (w.start === null || w.start <= time) && (w.end === null || time <= w.end);
}

function publishedRoute(doc, r) {
  const v = doc.vehicles[r.ci];
  checkWithinDay(v, r);
  const points = [];
  let last = null;
  // Consecutive orders at one place make one point while the point's time suits each of them; an order whose window
  // the point's time misses (the courier waits there for it) is a point of its own, at its own time.
  for (let k = 0; k < r.orders.length; k++) {
    const o = doc.orders[r.orders[k]];
    if (last && samePoint(last.at, o) && fitsPointTime(o, last.time)) {
      last.point.orders.push(publishedOrder(o));
      continue;
    }
    const point = {
      stopNumber: points.length + 1,
      address: Prelude.string(o.address),
      lat: o.lat,
      lon: o.lon,
      plannedArrival: Prelude.formatTime(r.stops[k].arr),
      orders: [publishedOrder(o)]
    };
    points.push(point);
    last = { at: o, point: point, time: r.stops[k].arr };
  }
  return {
    externalRouteId: doc.routeDate + " · " + Prelude.string(v.ref),
    courierLogin: Prelude.string(v.id),
    courierName: Prelude.string(v.ref),
    shift: Prelude.string(v.shift),
    returnToDepot: Prelude.bool(v.back),
    km: r.km,
    plannedEnd: Prelude.formatTime(r.end),
    points: points
  };
}

function publicationBody(doc) {
  if (!doc.planned || !doc.routes.length) refuse(MSG.noRoutes);
  const d = doc.depot;
  return {
    date: doc.routeDate,
    companyId: plannerState.identity.companyId,
    author: plannerState.identity.author,
    depot: d ? { name: d.name, lat: d.lat, lon: d.lon, window: d.window } : null,
    fileName: doc.fileName,
    routes: doc.routes.map(function (r) { return publishedRoute(doc, r); })
  };
}

PlannerCore.actions.payload = function () {
  return { payload: publicationBody(current()) };
};
